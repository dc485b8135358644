// What a standard user can arrange against the elevated process: a folder others may change
// holding suite code, a log path that is a hard link or belongs to someone else, the DLL
// search where the system cannot limit it, and the program's own file renamed while it runs.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <string>

#include "app/app_state.h"
#include "app/safe_mode.h"
#include "app/startup.h"
#include "base/dynapi.h"
#include "sysops/folder_trust.h"
#include "sysops/modules.h"
#include "sysops/process.h"
#include "tests/support/test_support.h"

using namespace qtxtest;

namespace {
constexpr const wchar_t* kTrustedInstaller = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

const wchar_t* FaultOf(const std::wstring& sddl) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &sd, nullptr));
  const wchar_t* fault = FolderDescriptorFault(sd);
  LocalFree(sd);
  return fault;
}

const wchar_t* g_readerSddl = nullptr;
DWORD ReadPlanned(HANDLE, PSECURITY_DESCRIPTOR* sd) {
  return ConvertStringSecurityDescriptorToSecurityDescriptorW(g_readerSddl, SDDL_REVISION_1, sd, nullptr) ? 0 : 1;
}
DWORD ReadTrusted(HANDLE, PSECURITY_DESCRIPTOR* sd) {
  return ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BAD:(A;;FA;;;BA)(A;;FA;;;SY)", SDDL_REVISION_1, sd,
                                                              nullptr)
             ? 0
             : 1;
}
int g_setDllDirectoryCalls = 0;
bool g_setDllDirectoryEmpty = false;
BOOL WINAPI RecordSetDllDirectory(LPCWSTR path) {
  g_setDllDirectoryCalls++;
  g_setDllDirectoryEmpty = path && !path[0];
  return TRUE;
}
}  // namespace

TEST(FolderTrust, DescriptorsThatLetOthersChangeTheFolderAreRefused) {
  struct Case {
    std::wstring sddl;
    bool trusted;
  } cases[] = {
      {L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)", true},
      {L"O:SYD:(A;;FA;;;SY)(A;;FA;;;" + std::wstring(kTrustedInstaller) + L")(A;;FRFX;;;WD)", true},
      {L"O:" + std::wstring(kTrustedInstaller) + L"D:(A;;FA;;;BA)", true},
      // Inherit-only entries do not apply to the folder itself.
      {L"O:BAD:(A;;FA;;;BA)(A;OICIIO;FA;;;BU)", true},
      {L"O:BAD:(A;;FA;;;BA)(A;;0x2;;;BU)", false},       // add a file
      {L"O:BAD:(A;;FA;;;BA)(A;;0x40;;;AU)", false},      // delete a child
      {L"O:BAD:(A;;FA;;;BA)(A;;WD;;;WD)", false},        // change the access list
      {L"O:BAD:(A;;FA;;;BA)(A;;WO;;;BU)", false},        // take ownership
      {L"O:BAD:(A;;FA;;;BA)(A;;GW;;;BU)", false},        // generic write
      {L"O:S-1-5-21-1-2-3-1000D:(A;;FA;;;BA)", false},   // a user owns it
      {L"O:BA", false},                                  // no access list: everyone
      // Under Wine every file looks like this: owned by the user, full control for it.
      {L"O:S-1-5-21-0-0-0-1000D:(A;OICI;FA;;;SY)(A;OICI;FA;;;S-1-5-21-0-0-0-1000)(A;OICI;0x1200a9;;;WD)", false},
  };
  for (const Case& c : cases) EXPECT_EQ(FaultOf(c.sddl) == nullptr, c.trusted) << Narrow(c.sddl);
}

TEST(FolderTrust, SuiteModuleAndHelperFromAFolderOthersMayChangeAreNotUsed) {
  std::wstring dir = ScratchDir(L"folder-trust");
  wchar_t system[MAX_PATH] = {0};
  GetSystemDirectoryW(system, MAX_PATH);
  std::wstring module = dir + L"\\planted.dll";
  ASSERT_TRUE(CopyFileW((std::wstring(system) + L"\\version.dll").c_str(), module.c_str(), FALSE));
  std::wstring program = dir + L"\\planted.exe";
  ASSERT_TRUE(CopyFileW((std::wstring(system) + L"\\hostname.exe").c_str(), program.c_str(), FALSE));

  g_readerSddl = L"O:BAD:(A;;FA;;;BA)(A;;0x1301ff;;;WD)";
  SetSecurityReaderForTests(ReadPlanned);
  ClearLog();
  EXPECT_FALSE(LoadSuiteModule(module.c_str()));
  std::wstring line = L"x " + program;
  DWORD error = 0;
  EXPECT_FALSE(LaunchProgram(&line[0], &error, program.c_str()));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(LogCount(L"Suite folder refused, nothing is loaded or started from it: " + dir +
                     L" (others may add, change or delete files in it)"),
            2)
      << LogDump();

  SetSecurityReaderForTests(ReadTrusted);
  ClearLog();
  EXPECT_TRUE(LoadSuiteModule(module.c_str())) << LogDump();
  EXPECT_FALSE(LogHas(L"Suite folder refused"));
}

TEST(RunLog, LinkedOrForeignLogFilesAreNotWritten) {
  std::wstring dir = ScratchDir(L"log-refused");
  std::wstring victim = dir + L"\\system.ini", hardLink = dir + L"\\hard.log", foreign = dir + L"\\foreign.log";
  ASSERT_TRUE(WriteBytes(victim, "system data"));
  ASSERT_TRUE(CreateHardLinkW(hardLink.c_str(), victim.c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(foreign, "user data"));
  struct Case {
    std::wstring path;
    const wchar_t* owner;
    std::wstring why;
    std::string bytes;
  } cases[] = {
      {hardLink, L"O:BAD:(A;;FA;;;BA)", L"it has more than one hard link", "system data"},
      {foreign, L"O:S-1-5-21-1-2-3-1000D:(A;;FA;;;BA)", L"it is not owned by Administrators or SYSTEM", "user data"},
  };
  for (const Case& c : cases) {
    ResetAppState();
    g_readerSddl = c.owner;
    SetSecurityReaderForTests(ReadPlanned);
    ScriptedPrompts prompts({IDNO});
    RunStartup(GetModuleHandleW(nullptr), (L"/unattended /prod none /log \"" + c.path + L"\"").c_str());
    std::string after;
    ASSERT_TRUE(ReadBytes(c.path, &after));
    EXPECT_EQ(after, c.bytes) << Narrow(c.path);
    EXPECT_TRUE(LogHas(L"Log file " + c.path + L" not written: " + c.why)) << LogDump();
  }
  // A new file is written, owner and all, and the run's record is in it.
  SetSecurityReaderForTests(ReadTrusted);
  ResetAppState();
  std::wstring fresh = dir + L"\\fresh.log";
  RunStartup(GetModuleHandleW(nullptr), (L"/unattended /prod none /log \"" + fresh + L"\"").c_str());
  std::string bytes;
  ASSERT_TRUE(ReadBytes(fresh, &bytes));
  EXPECT_GT(bytes.size(), 100u);
  ResetAppState();
}

TEST(DllSearch, WithoutSetDefaultDllDirectoriesTheSystemDllsArePreloaded) {
  OverrideProc("SetDefaultDllDirectories", nullptr);
  OverrideProc("SetDllDirectoryW", reinterpret_cast<FARPROC>(&RecordSetDllDirectory));
  ClearLog();
  EXPECT_FALSE(RestrictDllSearch());
  ClearProcOverrides();
  EXPECT_EQ(g_setDllDirectoryCalls, 1);
  EXPECT_TRUE(g_setDllDirectoryEmpty) << "the current folder is taken out of the search";
  EXPECT_NE(LogDump().find(L"DLL search not limited on this system: current folder removed, "), std::wstring::npos)
      << LogDump();
  wchar_t system[MAX_PATH] = {0};
  GetSystemDirectoryW(system, MAX_PATH);
  for (const wchar_t* name : {L"uxtheme.dll", L"setupapi.dll", L"iphlpapi.dll"}) {
    HMODULE loaded = GetModuleHandleW(name);
    ASSERT_TRUE(loaded) << Narrow(name);
    wchar_t path[MAX_PATH] = {0};
    GetModuleFileNameW(loaded, path, MAX_PATH);
    EXPECT_EQ(_wcsnicmp(path, system, wcslen(system)), 0) << Narrow(path);
  }
  ClearLog();
  EXPECT_TRUE(RestrictDllSearch());
  EXPECT_TRUE(LogHas(L"DLL search limited to the system folder"));
  EXPECT_EQ(FullPathLoadFlags(LOAD_WITH_ALTERED_SEARCH_PATH),
            static_cast<DWORD>(LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32));
}

TEST(OwnImage, HeldFromStartUpSoItCannotBeRenamedOrReplaced) {
  ASSERT_TRUE(HoldOwnImage());
  wchar_t self[MAX_PATH] = {0};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring moved = std::wstring(self) + L".moved";
  BOOL renamed = MoveFileW(self, moved.c_str());
  if (renamed) MoveFileW(moved.c_str(), self);
  EXPECT_FALSE(renamed) << "the running program's file could be renamed";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  HANDLE writer = CreateFileW(self, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
}
