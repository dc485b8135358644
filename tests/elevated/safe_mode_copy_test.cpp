// The Safe-Mode cycle where users can write: the Windows temporary folder (a planted
// qtxClear.exe), the RunOnce data, the copy's self-delete, and a boot tool that never ends.
// Machine-wide places (system folder, RunOnce, pending renames): this program runs alone.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/safe_mode.h"
#include "app/startup.h"
#include "tests/support/test_support.h"

using namespace qtxtest;

namespace {
constexpr const wchar_t* kRunOnce = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr const wchar_t* kSessionManager = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

std::wstring WindowsTemp() {
  wchar_t windows[MAX_PATH] = {0};
  GetSystemWindowsDirectoryW(windows, MAX_PATH);
  return std::wstring(windows) + L"\\Temp";
}

// A REG_SZ / REG_MULTI_SZ value of HKLM (32-bit view, as the product sees it) as raw text.
bool ReadValue(const wchar_t* key, const wchar_t* name, std::wstring* text, DWORD* type = nullptr,
               REGSAM view = KEY_WOW64_32KEY) {
  HKEY k;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | view, &k)) return false;
  DWORD size = 0, t = 0;
  LSTATUS rc = RegQueryValueExW(k, name, nullptr, &t, nullptr, &size);
  if (rc == ERROR_SUCCESS) {
    text->assign(size / sizeof(wchar_t), L'\0');
    rc = RegQueryValueExW(k, name, nullptr, &t, reinterpret_cast<BYTE*>(&(*text)[0]), &size);
  }
  RegCloseKey(k);
  if (type) *type = t;
  return rc == ERROR_SUCCESS;
}

void WriteValue(const wchar_t* key, const wchar_t* name, bool had, DWORD type, const std::wstring& text,
                REGSAM view = KEY_WOW64_32KEY) {
  HKEY k;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_SET_VALUE | view, &k)) return;
  if (had)
    RegSetValueExW(k, name, 0, type, reinterpret_cast<const BYTE*>(text.data()),
                   static_cast<DWORD>(text.size() * sizeof(wchar_t)));
  else
    RegDeleteValueW(k, name);
  RegCloseKey(k);
}

// Entries of the pending-rename list that name `path` (as "\??\path").
int PendingCount(const std::wstring& pending, const std::wstring& path) {
  int n = 0;
  for (size_t pos = 0; pos < pending.size();) {
    std::wstring entry = pending.c_str() + pos;
    if (_wcsicmp(entry.c_str(), (L"\\??\\" + path).c_str()) == 0) ++n;
    pos += entry.size() + 1;
  }
  return n;
}

size_t PendingIndex(const std::wstring& pending, const std::wstring& path) {
  std::wstring lower = pending, wanted = L"\\??\\" + path;
  for (auto& c : lower) c = towlower(c);
  for (auto& c : wanted) c = towlower(c);
  return lower.find(wanted + L'\0');
}

class SafeModeCopy : public ::testing::Test {
 protected:
  void SetUp() override {
    hadRunOnce = ReadValue(kRunOnce, L"*qtxClear", &runOnce, &runOnceType);
    hadPending = ReadValue(kSessionManager, L"PendingFileRenameOperations", &pending, &pendingType, KEY_WOW64_64KEY);
    ResetAppState();
    g_logPath.clear();
    ClearLog();
  }
  void TearDown() override {
    WriteValue(kRunOnce, L"*qtxClear", hadRunOnce, runOnceType, runOnce);
    WriteValue(kSessionManager, L"PendingFileRenameOperations", hadPending, pendingType, pending, KEY_WOW64_64KEY);
    SetBootCommandWaitForTests(0);
    ResetAppState();
  }
  bool hadRunOnce = false, hadPending = false;
  std::wstring runOnce, pending;
  DWORD runOnceType = 0, pendingType = 0;
};
}  // namespace

TEST_F(SafeModeCopy, HangingBootToolPlantedCopyRunOnceAndSelfDelete) {
  // A boot tool that never ends, in the system folder where the start-up looks for it.
  wchar_t system[MAX_PATH] = {0};
  ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
  const std::wstring bcdedit = std::wstring(system) + L"\\bcdedit.exe";
  ASSERT_FALSE(PathExists(bcdedit)) << "this system has its own bcdedit.exe";
  ASSERT_TRUE(CopyFileW(QTX_ELEVATED_STANDIN, bcdedit.c_str(), TRUE));
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, L"QtxElevatedStandinRelease");
  ASSERT_TRUE(release);
  // What a standard user could have put in the temporary folder beforehand.
  const std::wstring planted = WindowsTemp() + L"\\qtxClear.exe";
  std::string plantedBefore;
  bool hadPlanted = ReadBytes(planted, &plantedBefore);
  ASSERT_TRUE(WriteBytes(planted, "planted by a user"));

  SetBootCommandWaitForTests(1500);
  RestartRecorder restarts;
  ScriptedPrompts prompts({IDYES, IDYES});
  DWORD start = GetTickCount();
  int code = RunStartup(GetModuleHandleW(nullptr), L"/verysilent");
  DWORD took = GetTickCount() - start;
  SetEvent(release);

  EXPECT_EQ(code, 0);
  EXPECT_LT(took, 30000u);
  EXPECT_EQ(LogCount(L"Boot command did not end within 1 s, the boot change counts as failed: " + bcdedit +
                     L" /set safeboot minimal"),
            1)
      << LogDump();
  // The start-up went on past the hanging tool: copy, RunOnce, restart.
  EXPECT_EQ(restarts.count(), 1);

  std::string plantedAfter;
  ASSERT_TRUE(ReadBytes(planted, &plantedAfter));
  EXPECT_EQ(plantedAfter, "planted by a user") << "the planted file was reused";

  std::wstring data;
  DWORD type = 0;
  ASSERT_TRUE(ReadValue(kRunOnce, L"*qtxClear", &data, &type));
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  ASSERT_GE(data.size(), 3u);
  EXPECT_EQ(data.back(), L'\0');
  std::wstring registered = data.c_str();
  ASSERT_EQ(registered.front(), L'"') << Narrow(registered);
  ASSERT_EQ(registered.back(), L'"') << Narrow(registered);
  std::wstring copy = registered.substr(1, registered.size() - 2);
  std::wstring folder = copy.substr(0, copy.rfind(L'\\'));
  std::wstring prefix = WindowsTemp() + L"\\qtxClear-{";
  EXPECT_EQ(_wcsnicmp(copy.c_str(), prefix.c_str(), prefix.size()), 0) << Narrow(copy);
  EXPECT_EQ(copy.substr(copy.rfind(L'\\')), L"\\qtxClear.exe");
  EXPECT_EQ(folder.size(), prefix.size() + 37) << "a GUID names the folder: " << Narrow(folder);
  wchar_t self[MAX_PATH] = {0};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::string original, copied;
  ASSERT_TRUE(ReadBytes(self, &original));
  ASSERT_TRUE(ReadBytes(copy, &copied));
  EXPECT_TRUE(original == copied);

  // Self-delete in Safe Mode: only the copy queues its file and then its folder.
  EXPECT_TRUE(IsSafeModeCopy(copy.c_str()));
  EXPECT_FALSE(IsSafeModeCopy(self));
  EXPECT_FALSE(IsSafeModeCopy(planted.c_str()));
  QueueSafeModeCopyForDeletion(self);
  QueueSafeModeCopyForDeletion(copy.c_str());
  std::wstring pendingNow;
  ASSERT_TRUE(ReadValue(kSessionManager, L"PendingFileRenameOperations", &pendingNow, nullptr, KEY_WOW64_64KEY));
  EXPECT_EQ(PendingCount(pendingNow, self), 0) << "the original is kept";
  EXPECT_EQ(PendingCount(pendingNow, copy), 1);
  EXPECT_EQ(PendingCount(pendingNow, folder), 1);
  EXPECT_LT(PendingIndex(pendingNow, copy), PendingIndex(pendingNow, folder));

  DeleteFileW(copy.c_str());
  RemoveDirectoryW(folder.c_str());
  if (hadPlanted)
    WriteBytes(planted, plantedBefore);
  else
    DeleteFileW(planted.c_str());
  for (int i = 0; i < 100 && !DeleteFileW(bcdedit.c_str()); ++i) Sleep(100);
  EXPECT_FALSE(PathExists(bcdedit));
  CloseHandle(release);
}

TEST_F(SafeModeCopy, CopyFolderAdmitsAdministratorsAndSystemOnly) {
  // Wine 8 keeps no access list on files (it reports one made from the Unix owner), so the
  // descriptor the folder is created with is checked itself.
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(kCopyFolderAccess, SDDL_REVISION_1, &sd, nullptr));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(sd, &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED) << "nothing may be inherited from the temporary folder";
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted));
  ASSERT_TRUE(present && dacl);
  alignas(8) BYTE admins[SECURITY_MAX_SID_SIZE], systemSid[SECURITY_MAX_SID_SIZE];
  DWORD n1 = sizeof admins, n2 = sizeof systemSid;
  ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &n1));
  ASSERT_TRUE(CreateWellKnownSid(WinLocalSystemSid, nullptr, systemSid, &n2));
  ASSERT_EQ(dacl->AceCount, 2);
  bool sawAdmins = false, sawSystem = false;
  for (WORD i = 0; i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
    EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(ace->Header.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
              OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    PSID sid = &ace->SidStart;
    sawAdmins |= EqualSid(sid, admins) != FALSE;
    sawSystem |= EqualSid(sid, systemSid) != FALSE;
  }
  EXPECT_TRUE(sawAdmins && sawSystem);
  LocalFree(sd);

  // A copy into a fresh folder each time: two copies never share a folder.
  wchar_t self[MAX_PATH] = {0}, first[MAX_PATH], second[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  wcscpy(first, self);
  wcscpy(second, self);
  ASSERT_TRUE(CopySelf(first));
  ASSERT_TRUE(CopySelf(second));
  EXPECT_NE(std::wstring(first), std::wstring(second));
  for (const wchar_t* p : {first, second}) {
    std::wstring f = p;
    DeleteFileW(f.c_str());
    RemoveDirectoryW(f.substr(0, f.rfind(L'\\')).c_str());
  }
}
