// The shipped program against what a standard user can arrange around an elevated run: each
// layout planted as the user would plant it, the program started as an administrator would
// start it, then checked: nothing outside the suite changed, the run ended, and the program
// said what it refused. Machine-wide places (RunOnce, pending renames, C:\): run alone.
#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "sysops/registry.h"
#include "tests/support/box_driver.h"
#include "tests/support/test_support.h"
#include "tests/support/unix_links.h"

using namespace qtxtest;

namespace {
const wchar_t kRunOnce[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\velko";

bool TwinOnly() {
  wchar_t twin[8] = {0};
  return GetEnvironmentVariableW(L"QTX_E2E_TWIN", twin, 8) > 0 && twin[0] == L'1';
}
#define REQUIRE_SHIPPED() \
  if (TwinOnly()) GTEST_SKIP() << "this machine cannot run the shipped 32-bit program"

// The program under test: the shipped build, or the one QTX_ATTACK_EXE names (to show what a
// layout does to another build).
std::wstring Shipped() {
  wchar_t other[MAX_PATH] = {0};
  DWORD n = GetEnvironmentVariableW(L"QTX_ATTACK_EXE", other, MAX_PATH);
  return n > 0 && n < MAX_PATH ? other : QTX_SHIPPED_EXE;
}

std::string Bytes(const std::wstring& path) {
  std::string bytes;
  return ReadBytes(path, &bytes) ? bytes : std::string("(unreadable)");
}

DrivenRun RunShipped(const std::wstring& exe, const std::wstring& arguments, const std::vector<int>& answers,
              const BoxAction& whileShown = nullptr) {
  // No standard handles, as when started from the desktop: what the program reports goes into
  // message boxes, which the test reads.
  return RunAndAnswer(L"\"" + exe + L"\" " + arguments, answers, 120000, nullptr, whileShown);
}

// A REG_SZ / REG_MULTI_SZ value of HKLM as raw text (empty when absent).
std::wstring MachineValue(const wchar_t* key, const wchar_t* name, REGSAM view) {
  HKEY k = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | view, &k)) return L"";
  DWORD size = 0;
  std::wstring text;
  if (RegQueryValueExW(k, name, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
    text.assign(size / sizeof(wchar_t), L'\0');
    if (RegQueryValueExW(k, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&text[0]), &size)) text.clear();
  }
  RegCloseKey(k);
  return text;
}

void DeleteMachineValue(const wchar_t* key, const wchar_t* name, REGSAM view) {
  HKEY k = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_SET_VALUE | view, &k)) return;
  RegDeleteValueW(k, name);
  RegCloseKey(k);
}

std::wstring KnownFolder(int csidl) {
  wchar_t path[MAX_PATH] = {0};
  SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE);
  return path;
}

std::wstring CopyOf(const std::wstring& file, const std::wstring& folder) {
  std::wstring to = folder + L"\\" + file.substr(file.find_last_of(L"\\/") + 1);
  return CopyFileW(file.c_str(), to.c_str(), FALSE) ? to : L"";
}
}  // namespace

// While the Safe-Mode question is on screen the user renames the started program and drops
// another program under its name. The program holds its own file, so the rename fails, and
// the copy in the Windows temporary folder is the running program, whatever lies at the path.
TEST(Attacks, SafeModeCopyIsTheRunningProgramWhateverTheUserDoesAtItsPath) {
  REQUIRE_SHIPPED();
  std::wstring folder = ScratchDir(L"attack-copy");
  std::wstring exe = CopyOf(Shipped(), folder), moved = folder + L"\\moved.exe";
  std::wstring other = CopyOf(QTX_ELEVATED_STANDIN, folder), running = folder + L"\\running.exe";
  ASSERT_FALSE(exe.empty());
  ASSERT_FALSE(other.empty());
  ASSERT_TRUE(CopyFileW(other.c_str(), running.c_str(), FALSE));
  const std::string shipped = Bytes(exe);

  // Control: a running program that does not hold its file can be renamed under Wine.
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, L"QtxElevatedStandinRelease");
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  std::wstring line = L"\"" + running + L"\" /hang";
  ASSERT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  Sleep(500);
  BOOL controlRenamed = MoveFileW(running.c_str(), (running + L".old").c_str());
  SetEvent(release);
  WaitForSingleObject(pi.hProcess, 10000);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  CloseHandle(release);
  EXPECT_TRUE(controlRenamed) << "renaming a running program fails here anyway: the test proves nothing";

  std::wstring before = MachineValue(kRunOnce, L"*qtxClear", KEY_WOW64_32KEY);
  BOOL renamed = TRUE, replaced = TRUE;
  DWORD renameError = 0;
  std::wstring log = folder + L"\\run.log";
  DrivenRun run = RunShipped(exe, L"/log \"" + log + L"\"", {IDYES, IDYES}, [&](size_t index, const std::wstring&) {
    if (index != 0) return;
    renamed = MoveFileW(exe.c_str(), moved.c_str());
    renameError = GetLastError();
    // The user's own program at the start path, over the started one or in its place.
    replaced = CopyFileW(other.c_str(), exe.c_str(), FALSE);
  });
  std::wstring registered = MachineValue(kRunOnce, L"*qtxClear", KEY_WOW64_32KEY);
  DeleteMachineValue(kRunOnce, L"*qtxClear", KEY_WOW64_32KEY);
  EXPECT_FALSE(renamed) << "the started program was renamed while it ran";
  EXPECT_EQ(renameError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(replaced) << "another program was written over the started one";
  EXPECT_TRUE(Bytes(exe) == shipped);
  ASSERT_TRUE(run.finished);
  // The two questions, and no warning that the copy or its registration failed.
  EXPECT_EQ(run.boxes.size(), 2u) << (run.boxes.empty() ? "" : Narrow(run.boxes.back().text));

  EXPECT_TRUE(before.empty());
  ASSERT_GT(registered.size(), 3u);
  std::wstring copy = std::wstring(registered.c_str()).substr(1);
  copy.resize(copy.size() - 1);
  std::wstring prefix = KnownFolder(CSIDL_WINDOWS) + L"\\Temp\\qtxClear-{";
  EXPECT_EQ(_wcsnicmp(copy.c_str(), prefix.c_str(), prefix.size()), 0) << Narrow(copy);
  EXPECT_TRUE(Bytes(copy) == shipped) << "the copy is not the started program: " << Narrow(copy);
  DeleteFileW(copy.c_str());
  RemoveDirectoryW(copy.substr(0, copy.rfind(L'\\')).c_str());
}

namespace {
// Owner and access list of a file or folder, as text ("" when they cannot be read).
std::wstring SecurityText(const std::wstring& path) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, nullptr, nullptr, &sd) != ERROR_SUCCESS)
    return L"";
  LPWSTR text = nullptr;
  std::wstring result;
  if (ConvertSecurityDescriptorToStringSecurityDescriptorW(
          sd, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr)) {
    result = text;
    LocalFree(text);
  }
  LocalFree(sd);
  return result;
}

std::wstring LongName(const std::wstring& path) {
  wchar_t full[MAX_PATH] = {0};
  DWORD n = GetLongPathNameW(path.c_str(), full, MAX_PATH);
  return n > 0 && n < MAX_PATH ? full : path;
}

// Entries of the pending-rename list that name `path` (as "\??\path", maybe in short names).
int PendingCount(const std::wstring& pending, const std::wstring& path) {
  int n = 0;
  for (size_t at = 0; at < pending.size(); at += wcslen(pending.c_str() + at) + 1) {
    std::wstring entry = pending.c_str() + at;
    if (entry.rfind(L"\\??\\", 0) == 0 && _wcsicmp(LongName(entry.substr(4)).c_str(), path.c_str()) == 0) ++n;
  }
  return n;
}

// Empties the pending-rename list for the test (earlier tests in the shared prefix leave
// entries of their own, some below the same folders) and puts it back afterwards.
struct PendingRestorer {
  std::wstring saved = MachineValue(kSessionManager, L"PendingFileRenameOperations", KEY_WOW64_64KEY);
  PendingRestorer() {
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &k)) return;
    RegDeleteValueW(k, L"PendingFileRenameOperations");
    RegCloseKey(k);
  }
  ~PendingRestorer() {
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &k)) return;
    if (saved.empty())
      RegDeleteValueW(k, L"PendingFileRenameOperations");
    else
      RegSetValueExW(k, L"PendingFileRenameOperations", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(saved.data()),
                     static_cast<DWORD>(saved.size() * sizeof(wchar_t)));
    RegCloseKey(k);
  }
};
}  // namespace

// Folders a standard user can create, each holding a file the user keeps open so that it can
// only be queued for the restart. The user would swap the file's folder for a link once the
// run has ended, and the restart would then delete a file of the same name elsewhere. The
// program locks each such folder before anything below it is queued; below a folder whose
// parent the user could rearrange (here the user made the lasting storage's parents, and
// Wine reports every folder as the user's) it queues nothing at all.
TEST(Attacks, RestartQueueOnlyBelowFoldersThatWereLocked) {
  REQUIRE_SHIPPED();
  PendingRestorer restorer;
  const std::wstring data = KnownFolder(CSIDL_COMMON_APPDATA) + L"\\VELKO Software";
  const std::wstring store = data + L"\\Durable Store";
  struct Held {
    std::wstring folder, top;
    bool parentsFirm;
  };
  const Held held[] = {{store + L"\\Velko", data, false},
                       {L"C:\\~VKINSTL\\setup", L"C:\\~VKINSTL", true},
                       {L"C:\\velko! sandbox\\box", L"C:\\velko! sandbox", true}};
  std::vector<HANDLE> handles;
  for (const Held& h : held) {
    RemoveAll(h.top);
    ASSERT_EQ(SHCreateDirectoryExW(nullptr, h.folder.c_str(), nullptr), ERROR_SUCCESS) << Narrow(h.folder);
    ASSERT_TRUE(WriteBytes(h.folder + L"\\held.dat", "held by the user"));
    handles.push_back(CreateFileW((h.folder + L"\\held.dat").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_NE(handles.back(), INVALID_HANDLE_VALUE);
    ASSERT_NE(SecurityText(h.folder).find(L";;;WD)"), std::wstring::npos) << Narrow(SecurityText(h.folder));
  }
  std::wstring log = ScratchDir(L"attack-queue") + L"\\run.log";
  DrivenRun run = RunShipped(Shipped(), L"/unattended /noreboot /log \"" + log + L"\"", {});
  for (HANDLE h : handles) CloseHandle(h);
  std::wstring text = ReadLog(log);
  std::wstring pending = MachineValue(kSessionManager, L"PendingFileRenameOperations", KEY_WOW64_64KEY);
  ASSERT_TRUE(run.finished);
  // The file that could not be queued remains: the unattended run says it failed.
  EXPECT_EQ(run.exitCode, 1603u);
  EXPECT_EQ(Count(text, L"Unattended run failed: "), 1) << Narrow(text);
  EXPECT_EQ(Count(text, L"Remains: folder " + held[0].folder + L"\r\n"), 1) << Narrow(text);
  EXPECT_EQ(Count(text, L"Folder not locked, "), 0) << Narrow(text);
  for (const Held& h : held) {
    SCOPED_TRACE(Narrow(h.folder));
    int queued = h.parentsFirm ? 1 : 0;
    EXPECT_EQ(PendingCount(pending, h.folder + L"\\held.dat"), queued) << Narrow(pending);
    EXPECT_EQ(PendingCount(pending, h.folder), queued) << Narrow(pending);
    // Logged by each walk of it (the lasting storage is walked by two steps).
    EXPECT_EQ(Count(text, L"Folder above it can be changed by others, nothing below it is queued for the restart: " +
                              h.folder + L" (") > 0,
              !h.parentsFirm)
        << Narrow(text);
    // Wine keeps no access list on files but maps the one set to the Unix mode, from which it
    // makes the list it reports: the lock-down shows as the loss of the Everyone entry. Below
    // parents that give way nothing is locked either.
    EXPECT_EQ(SecurityText(h.folder).find(L";;;WD)") == std::wstring::npos, h.parentsFirm)
        << Narrow(SecurityText(h.folder));
  }
  // The lasting storage's parent is not walked, and not changed.
  EXPECT_NE(SecurityText(store).find(L";;;WD)"), std::wstring::npos) << Narrow(SecurityText(store));
  for (const Held& h : held) RemoveAll(h.top);
}

// The mail client's extension cache lies below the user's own "Local AppData": the user makes
// its "Outlook" folder a link to another folder holding a file of the cache's name.
TEST(Attacks, MailCacheBehindALinkIsLeft) {
  REQUIRE_SHIPPED();
  wchar_t local[MAX_PATH] = {0};
  DWORD size = sizeof local;
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                         L"Local AppData", RRF_RT_REG_SZ, nullptr, local, &size), ERROR_SUCCESS);
  const std::wstring link = std::wstring(local) + L"\\Microsoft\\Outlook";
  std::wstring victim = ScratchDir(L"attack-mail-victim");
  ASSERT_TRUE(WriteBytes(victim + L"\\EXTEND.DAT", "a file of someone else"));
  ASSERT_EQ(SHCreateDirectoryExW(nullptr, (std::wstring(local) + L"\\Microsoft").c_str(), nullptr) & ~ERROR_ALREADY_EXISTS, 0);
  // A mail-client folder that another test left in the shared prefix is put aside meanwhile.
  const std::wstring aside = link + L".attack-aside";
  RemoveAll(aside);
  bool moved = PathExists(link) && MoveFileW(link.c_str(), aside.c_str());
  ASSERT_FALSE(PathExists(link)) << "the profile's mail-client folder cannot be put aside";
  ASSERT_TRUE(PlantFolderLink(link, victim));

  std::wstring log = ScratchDir(L"attack-mail") + L"\\run.log";
  DrivenRun run = RunShipped(Shipped(), L"/unattended /noreboot /log \"" + log + L"\"", {});
  std::wstring text = ReadLog(log);
  EXPECT_TRUE(DropLink(link));
  if (moved) EXPECT_TRUE(MoveFileW(aside.c_str(), link.c_str()));
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(Bytes(victim + L"\\EXTEND.DAT"), "a file of someone else");
  EXPECT_EQ(Count(text, L"\tfile\tNot deleted, a link is on its path (not followed): " + link + L"\\EXTEND.DAT\r\n"), 1)
      << Narrow(text);
}

// A DLL planted beside the program under the name of one the system loads by bare name after
// start-up (the visual styles, when the first window is made), with Wine told to prefer such
// a DLL to its own. The control program, which leaves the search alone, shows it would run.
TEST(Attacks, PlantedSystemDllBesideTheProgramIsNotLoaded) {
  REQUIRE_SHIPPED();
  std::wstring folder = ScratchDir(L"attack-dll");
  std::wstring exe = CopyOf(Shipped(), folder), control = CopyOf(QTX_SEARCH_CONTROL, folder);
  ASSERT_FALSE(exe.empty());
  ASSERT_FALSE(control.empty());
  ASSERT_FALSE(CopyOf(QTX_PLANTED_DLL, folder).empty());
  const std::wstring marker = folder + L"\\planted-dll-ran.txt";
  // Wine's per-program form of WINEDLLOVERRIDES=uxtheme=n,b (which a started program would
  // not get from this one's environment).
  for (const wchar_t* program : {L"qtxClear.exe", L"search_control.exe"})
    ASSERT_EQ(regSetString((std::wstring(L"Software\\Wine\\AppDefaults\\") + program + L"\\DllOverrides").c_str(),
                           HKEY_CURRENT_USER, L"uxtheme", L"native,builtin"), 0u);
  DrivenRun controlRun = RunShipped(control, L"", {});
  std::string ranIn = Bytes(marker);
  DeleteFileW(marker.c_str());
  std::wstring log = folder + L"\\run.log";
  DrivenRun run = RunShipped(exe, L"/verysilent /log \"" + log + L"\"", {IDNO});
  for (const wchar_t* program : {L"qtxClear.exe", L"search_control.exe"})
    regDeleteTree(HKEY_CURRENT_USER, (std::wstring(L"Software\\Wine\\AppDefaults\\") + program).c_str());
  ASSERT_TRUE(controlRun.finished);
  std::wstring ranControl(reinterpret_cast<const wchar_t*>(ranIn.data()), ranIn.size() / sizeof(wchar_t));
  EXPECT_EQ(_wcsicmp(ranControl.c_str(), control.c_str()), 0) << "the planted DLL did not run in the control: " << ranIn;
  ASSERT_TRUE(run.finished);
  // The window was made: the Safe-Mode box was shown and answered, and the run went on.
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_GT(Count(ReadLog(log), L"Deleted registry: "), 0);
  EXPECT_FALSE(PathExists(marker)) << Bytes(marker);
}

// "/log" naming a link to a system file, or a second name (hard link) of one: the program
// refuses the file in a box (it has no standard error here), leaves it as it was, and runs on.
TEST(Attacks, LogFileThatIsALinkToASystemFileIsRefused) {
  REQUIRE_SHIPPED();
  struct Case {
    const wchar_t* name;
    const wchar_t* target;
    bool hard;
    const wchar_t* fault;
  };
  // Wine lists a symbolic link to a file as a plain file, so that refusal is for its owner.
  const Case cases[] = {
      {L"symbolic.log", L"win.ini", false, L"it is not owned by Administrators or SYSTEM"},
      {L"hard.log", L"system.ini", true, L"it has more than one hard link"},
  };
  std::wstring folder = ScratchDir(L"attack-log");
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.name));
    const std::wstring target = KnownFolder(CSIDL_WINDOWS) + L"\\" + c.target, path = folder + L"\\" + c.name;
    const std::string before = Bytes(target);
    ASSERT_NE(before, "(unreadable)");
    ASSERT_TRUE(c.hard ? CreateHardLinkW(path.c_str(), target.c_str(), nullptr) != FALSE : PlantFileLink(path, target));
    ASSERT_EQ(regSetString(kUninstallKey, HKEY_LOCAL_MACHINE, L"InstallLocation", folder.c_str()), 0u);
    DrivenRun run = RunShipped(Shipped(), L"/verysilent /log \"" + path + L"\"", {IDOK, IDNO});
    std::string after = Bytes(target);
    if (after != before) WriteBytes(target, before);
    // Wine's DeleteFileW on a link to a file deletes its target.
    if (c.hard)
      DeleteFileW(path.c_str());
    else
      EXPECT_TRUE(DropLink(path));
    ASSERT_TRUE(run.finished);
    EXPECT_TRUE(after == before) << "the system file was written";
    ASSERT_EQ(run.boxes.size(), 2u);
    EXPECT_EQ(run.boxes[0].text, L"Log file " + path + L" not written: " + c.fault);
    EXPECT_EQ(run.boxes[1].text.rfind(L"It is recommended to run this tool from Windows Safe Mode.", 0), 0u);
    EXPECT_FALSE(regKeyExists(kUninstallKey)) << "the run did not go on";
    regDeleteTree(HKEY_LOCAL_MACHINE, kUninstallKey);
  }
}
