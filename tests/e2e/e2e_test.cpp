// End-to-end runs of qtxClear.exe in the test prefix: the shipped 32-bit program, or the
// x86_64 twin where 32-bit programs cannot run here.
#include <gtest/gtest.h>

#include <shlobj.h>

#include "qtx_version.h"
#include "sysops/registry.h"
#include "tests/registry/reg_test_util.h"
#include "tests/support/box_driver.h"
#include "tests/support/test_support.h"

using namespace qtxtest;

namespace {
const wchar_t kCaption[] = L"VELKO Software Uninstall Utility";
const wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\velko";
const wchar_t kProductKey[] = L"Software\\Velko Software\\Velko";

// True when a line of the saved log (format 1) ends with "\t<category>\t<text>".
bool LogLine(const std::wstring& log, const std::wstring& category, const std::wstring& text) {
  return log.find(L"\t" + category + L"\t" + text + L"\r\n") != std::wstring::npos;
}

const wchar_t* QtxExe() {
#ifdef QTX_SHIPPED_EXE
  wchar_t twin[8] = {0};
  if (GetEnvironmentVariableW(L"QTX_E2E_TWIN", twin, 8) == 0 || twin[0] != L'1') return QTX_SHIPPED_EXE;
#endif
  return QTX_TWIN_EXE;
}

DrivenRun RunQtx(const std::wstring& arguments, const std::vector<int>& answers,
                 HANDLE standardOutput = INVALID_HANDLE_VALUE) {
  return RunAndAnswer(std::wstring(L"\"") + QtxExe() + L"\" " + arguments, answers, 60000, standardOutput);
}

int CountLines(const std::wstring& log, const std::wstring& text) {
  int count = 0;
  for (size_t at = log.find(text); at != std::wstring::npos; at = log.find(text, at + 1)) ++count;
  return count;
}

// The setup folder the suite leaves at the root of the system drive: its parent is the root,
// so the walk may queue below it. (Wine reports every folder as the user's, and nothing is
// queued below a folder that a user could rename, such as the lasting storage's parents.)
std::wstring SetupFolder() { return L"C:\\~VKINSTL\\setup"; }

// Windows' list of deletions at the restart, emptied so that no later test finds our entries.
void ClearPendingRenames() {
  HKEY session = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0, KEY_SET_VALUE,
                    &session) != ERROR_SUCCESS)
    return;
  RegDeleteValueW(session, L"PendingFileRenameOperations");
  RegCloseKey(session);
}
}  // namespace

TEST(EndToEnd, VerySilentRunDeclinesSafeModeAndRemoves) {
  std::wstring log = ScratchDir(L"e2e-verysilent") + L"\\run.log";
  DrivenRun run = RunQtx(L"/verysilent /log \"" + log + L"\"", {IDNO});
  ASSERT_TRUE(run.started);
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  // The only box is the first Safe-Mode question: no restart prompt in very-silent mode.
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].caption, kCaption);
  EXPECT_EQ(run.boxes[0].text.rfind(L"It is recommended to run this tool from Windows Safe Mode.", 0), 0u);
  std::wstring text = ReadLog(log);
  EXPECT_TRUE(LogLine(text, L"general", L"Operation set to INST_OP_UNKNOWN")) << Narrow(text);
  EXPECT_TRUE(LogLine(text, L"registry", std::wstring(L"Deleted registry: ") + kUninstallKey + L" error: 2"))
      << Narrow(text);
}

TEST(EndToEnd, VerySilentRunRemovesTheDetectedInstallation) {
  std::wstring folder = ScratchDir(L"e2e-installed");
  ASSERT_EQ(regSetString(kProductKey, HKEY_LOCAL_MACHINE, L"Product", L"vhm"), 0u);
  ASSERT_EQ(regSetString(kProductKey, HKEY_LOCAL_MACHINE, L"ProgramFolder", folder.c_str()), 0u);
  ASSERT_EQ(regSetString(kUninstallKey, HKEY_LOCAL_MACHINE, L"InstallLocation", folder.c_str()), 0u);
  std::wstring log = folder + L"-run.log";
  DeleteFileW(log.c_str());

  DrivenRun run = RunQtx(L"/verysilent /prod vhm /log \"" + log + L"\"", {IDNO});
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_FALSE(regKeyExists(kUninstallKey));
  std::wstring text = ReadLog(log);
  // Detection read the product's folder before the run deleted the uninstall registration.
  EXPECT_TRUE(LogLine(text, L"registry", std::wstring(L"Get registry: ") + kProductKey + L"\\ProgramFolder=" + folder))
      << Narrow(text);
  EXPECT_TRUE(LogLine(text, L"registry", std::wstring(L"Deleted registry: ") + kUninstallKey)) << Narrow(text);
  regDeleteTree(HKEY_LOCAL_MACHINE, L"Software\\Velko Software");
}

// Unattended on a simulated installation: no box at all, and the exit code says whether a
// restart will finish the removal (a held file of the suite's setup folder can only be
// queued for the restart).
TEST(EndToEnd, UnattendedRunShowsNoBoxAndReportsWhatTheRestartMustFinish) {
  for (bool lockedFile : {false, true}) {
    SCOPED_TRACE(lockedFile ? "with a file for the restart" : "nothing for the restart");
    std::wstring folder = ScratchDir(L"e2e-unattended");
    ASSERT_EQ(regSetString(kProductKey, HKEY_LOCAL_MACHINE, L"Product", L"vhm"), 0u);
    ASSERT_EQ(regSetString(kProductKey, HKEY_LOCAL_MACHINE, L"ProgramFolder", folder.c_str()), 0u);
    ASSERT_EQ(regSetString(kUninstallKey, HKEY_LOCAL_MACHINE, L"InstallLocation", folder.c_str()), 0u);
    RemoveAll(L"C:\\~VKINSTL");
    if (lockedFile) {
      ASSERT_EQ(SHCreateDirectoryExW(nullptr, SetupFolder().c_str(), nullptr), ERROR_SUCCESS);
      ASSERT_TRUE(WriteBytes(SetupFolder() + L"\\state.bin", "1"));
    }
    // Held open without sharing, as the suite's service holds it, so that it can only be
    // queued: the program deletes the lasting storage directly where it can.
    HANDLE held = lockedFile ? CreateFileW((SetupFolder() + L"\\state.bin").c_str(), GENERIC_READ, 0, nullptr,
                                           OPEN_EXISTING, 0, nullptr)
                             : INVALID_HANDLE_VALUE;
    if (lockedFile) ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::wstring log = folder + L"-run.log";
    DeleteFileW(log.c_str());

    DrivenRun run = RunQtx(L"/unattended /prod vhm /log \"" + log + L"\"", {});
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    ASSERT_TRUE(run.finished);
    EXPECT_TRUE(run.boxes.empty()) << Narrow(run.boxes.empty() ? L"" : run.boxes[0].text);
    EXPECT_EQ(run.exitCode, lockedFile ? 3010u : 0u);
    EXPECT_FALSE(regKeyExists(kUninstallKey));
    std::wstring text = ReadLog(log);
    EXPECT_TRUE(LogLine(text, L"registry", std::wstring(L"Deleted registry: ") + kUninstallKey)) << Narrow(text);
    EXPECT_EQ(CountLines(text, L"Unattended run done; a restart will finish it"), lockedFile ? 1 : 0) << Narrow(text);
    // No Safe-Mode offer and no other box arose, so none was answered in the log either.
    EXPECT_EQ(CountLines(text, L"message box not shown"), 0) << Narrow(text);
    regDeleteTree(HKEY_LOCAL_MACHINE, L"Software\\Velko Software");
    RemoveAll(L"C:\\~VKINSTL");
    ClearPendingRenames();
  }
}

// Unattended, with the product's key held by a subkey the run may not delete: the registry
// step fails, so the program folder is kept and the exit code is 1603.
TEST(EndToEnd, UnattendedRunReportsAFailedRemoval) {
  std::wstring folder = ScratchDir(L"e2e-failed");
  ASSERT_TRUE(WriteBytes(folder + L"\\qtxGui.exe", "stand-in"));
  ASSERT_EQ(regSetString(kProductKey, HKEY_LOCAL_MACHINE, L"Product", L"vhm"), 0u);
  ASSERT_EQ(regSetString(kProductKey, HKEY_LOCAL_MACHINE, L"ProgramFolder", folder.c_str()), 0u);
  ASSERT_EQ(regSetString(kUninstallKey, HKEY_LOCAL_MACHINE, L"InstallLocation", folder.c_str()), 0u);
  ASSERT_EQ(regCreateKey((std::wstring(kProductKey) + L"\\Locked").c_str(), HKEY_LOCAL_MACHINE), 0u);
  const std::wstring locked = L"Software\\Wow6432Node\\Velko Software\\Velko\\Locked";
  ASSERT_TRUE(regtest::Lock(HKEY_LOCAL_MACHINE, locked));
  std::wstring log = folder + L"-run.log";
  DeleteFileW(log.c_str());

  DrivenRun run = RunQtx(L"/unattended /prod vhm /log \"" + log + L"\"", {});
  regtest::Unlock(HKEY_LOCAL_MACHINE, locked);
  ASSERT_TRUE(run.finished);
  EXPECT_TRUE(run.boxes.empty()) << Narrow(run.boxes.empty() ? L"" : run.boxes[0].text);
  EXPECT_EQ(run.exitCode, 1603u);
  EXPECT_TRUE(regKeyExists(kProductKey));
  EXPECT_TRUE(PathExists(folder + L"\\qtxGui.exe"));
  std::wstring text = ReadLog(log);
  // The failure box of the registry step was answered in the log, not shown.
  EXPECT_EQ(CountLines(text, L"message box not shown"), 1) << Narrow(text);
  regDeleteTree(HKEY_LOCAL_MACHINE, L"Software\\Velko Software");
}

// "/?" with other switches: the usage text goes to the standard output the starter gave, and
// nothing else happens (no box, no removal, no log file).
TEST(EndToEnd, UsageGoesToStandardOutputAndNothingElseHappens) {
  std::wstring folder = ScratchDir(L"e2e-usage");
  ASSERT_EQ(regSetString(kUninstallKey, HKEY_LOCAL_MACHINE, L"InstallLocation", folder.c_str()), 0u);
  std::wstring output = folder + L"\\usage.txt";
  std::wstring log = folder + L"\\run.log";
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  HANDLE file = CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DrivenRun run = RunQtx(L"/verysilent /unattended /forcerestart /? /log \"" + log + L"\"", {}, file);
  CloseHandle(file);
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_TRUE(run.boxes.empty());
  std::string text;
  ASSERT_TRUE(ReadBytes(output, &text));
  EXPECT_EQ(text.rfind(std::string("qtxClear ") + QTX_VERSION_TEXT + " - VELKO Software Uninstall Utility\r\n", 0), 0u)
      << text;
  for (const char* word : {"/unattended", "/forcerestart", "3010", "1641", "1603"})
    EXPECT_NE(text.find(word), std::string::npos) << word;
  EXPECT_TRUE(regKeyExists(kUninstallKey));
  EXPECT_FALSE(PathExists(log));
  regDeleteTree(HKEY_LOCAL_MACHINE, kUninstallKey);
}

// Without any standard output or console the text is shown in a box; unattended, not even that.
TEST(EndToEnd, UsageWithoutConsoleIsABoxUnlessUnattended) {
  DrivenRun shown = RunQtx(L"/?", {IDOK}, nullptr);
  ASSERT_TRUE(shown.finished);
  EXPECT_EQ(shown.exitCode, 0u);
  ASSERT_EQ(shown.boxes.size(), 1u);
  EXPECT_EQ(shown.boxes[0].caption, kCaption);
  EXPECT_EQ(shown.boxes[0].text.rfind(std::wstring(L"qtxClear ") + QTX_VERSION_WTEXT, 0), 0u)
      << Narrow(shown.boxes[0].text);

  DrivenRun unattended = RunQtx(L"-HELP -Unattended", {}, nullptr);
  ASSERT_TRUE(unattended.finished);
  EXPECT_EQ(unattended.exitCode, 0u);
  EXPECT_TRUE(unattended.boxes.empty());
}
