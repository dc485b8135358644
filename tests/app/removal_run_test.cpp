// The removal sequence with recording stand-ins for the catalog steps, and the wrapper's
// clean-up against the real registry and file system.
#include <gtest/gtest.h>

#include <shlobj.h>

#include "app/app_state.h"
#include "app/removal_run.h"
#include "ui/ui_strings.h"
#include "log/log.h"
#include "setup/setup_globals.h"
#include "sysops/reboot_queue.h"
#include "sysops/registry.h"
#include "tests/support/test_support.h"

using namespace qtxtest;

namespace {
std::vector<std::string> g_calls;
DWORD g_registryResult = 0;

const RemovalSteps kRecordingSteps = {
    [] { g_calls.push_back("browser"); },
    [] { g_calls.push_back("gadget"); },
    []() -> DWORD { g_calls.push_back("services"); return 1234; },
    [] { g_calls.push_back("whs"); },
    [] { g_calls.push_back("drivers"); },
    [] { g_calls.push_back("modules"); },
    [] { g_calls.push_back("bootfiles"); },
    [] { g_calls.push_back("shortcuts"); },
    []() -> DWORD { g_calls.push_back("registry"); return g_registryResult; },
    [] { g_calls.push_back("programfiles"); },
    [] { g_calls.push_back("wsc-av"); },
    [] { g_calls.push_back("wsc-as"); },
    [] { g_calls.push_back("wsc-fw"); },
    nullptr,
};

// A window with a progress box (control 1000) standing in for the main dialog.
class ProgressWindow {
 public:
  ProgressWindow() {
    parent_ = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr, nullptr, nullptr);
    CreateWindowExW(0, L"EDIT", L"", WS_CHILD | ES_MULTILINE | ES_AUTOVSCROLL, 0, 0, 390, 290, parent_,
                    reinterpret_cast<HMENU>(1000), nullptr, nullptr);
    g_mainDialog = parent_;
  }
  ~ProgressWindow() {
    g_mainDialog = nullptr;
    DestroyWindow(parent_);
  }
  std::wstring Text() const {
    HWND box = GetDlgItem(parent_, 1000);
    std::wstring text(GetWindowTextLengthW(box) + 1, L'\0');
    text.resize(GetWindowTextW(box, &text[0], static_cast<int>(text.size())));
    return text;
  }

 private:
  HWND parent_;
};

class RemovalRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    g_instance = GetModuleHandleW(nullptr);
    g_uiLanguage = 1033;
    g_setup.Init();
    g_setup.UiMode = Interactive;
    g_setup.RestartNeeded = true;
    g_calls.clear();
    g_registryResult = 0;
    ClearLog();
  }
};
}  // namespace

TEST_F(RemovalRunTest, CallsEveryStepInOrderWithProgressLines) {
  ProgressWindow window;
  ScriptedPrompts prompts;
  g_setup.osVersion.dwMajorVersion = 6;
  g_setup.osVersion.dwMinorVersion = 1;
  EXPECT_EQ(RemovalSequence(kRecordingSteps), 1234u);
  EXPECT_EQ(g_calls, (std::vector<std::string>{"browser", "gadget", "services", "whs", "drivers", "modules",
                                               "bootfiles", "shortcuts", "registry", "programfiles", "wsc-av",
                                               "wsc-as", "wsc-fw"}));
  EXPECT_EQ(window.Text(),
            L"velko! Antivirus service - removed\r\n"
            L"Real-time protection - removed\r\n"
            L"Explorer extensions - removed\r\n"
            L"Registry - removed\r\n"
            L"The program has been successfully removed\r\n");
  EXPECT_TRUE(prompts.prompts().empty());
  EXPECT_TRUE(g_setup.RestartNeeded);
}

TEST_F(RemovalRunTest, FailedRegistryStepKeepsProgramFilesAndCancelsTheRestart) {
  ProgressWindow window;
  ScriptedPrompts prompts;
  g_setup.osVersion.dwMajorVersion = 6;
  g_registryResult = 5;
  g_setup.UiMode = VerySilent;  // the failure is shown even in very-silent mode
  RemovalSequence(kRecordingSteps);
  EXPECT_EQ(std::count(g_calls.begin(), g_calls.end(), "programfiles"), 0);
  EXPECT_EQ(g_calls.back(), "wsc-fw");
  ASSERT_EQ(prompts.prompts().size(), 1u);
  EXPECT_EQ(prompts.prompts()[0].caption, L"qtxClear");
  EXPECT_EQ(prompts.prompts()[0].owner, nullptr);
  EXPECT_EQ(prompts.prompts()[0].type, static_cast<UINT>(MB_OK));
  EXPECT_EQ(prompts.prompts()[0].text.rfind(L"The program could not be removed.\nPlease contact our technical support (", 0), 0u);
  EXPECT_EQ(prompts.prompts()[0].text.back(), L'.');
  EXPECT_FALSE(g_setup.RestartNeeded);
  EXPECT_EQ(window.Text(),
            L"velko! Antivirus service - removed\r\n"
            L"Real-time protection - removed\r\n"
            L"Explorer extensions - removed\r\n"
            L"The program has been successfully removed\r\n");
}

TEST_F(RemovalRunTest, SecurityCenterStepsOnlyFromWindowsXpOn) {
  ScriptedPrompts prompts;
  g_setup.osVersion.dwMajorVersion = 5;
  g_setup.osVersion.dwMinorVersion = 0;
  RemovalSequence(kRecordingSteps);
  EXPECT_EQ(g_calls.back(), "programfiles");
  g_calls.clear();
  g_setup.osVersion.dwMinorVersion = 1;
  RemovalSequence(kRecordingSteps);
  EXPECT_EQ(g_calls.back(), "wsc-fw");
}

TEST_F(RemovalRunTest, NoDialogMeansNoProgressAndNoFailure) {
  ScriptedPrompts prompts;
  EXPECT_EQ(g_mainDialog, nullptr);
  RemovalSequence(kRecordingSteps);
  EXPECT_TRUE(prompts.prompts().empty());
}

TEST_F(RemovalRunTest, RemovesUninstallRegistrationLastingStorageAndKey) {
  const wchar_t* uninstall = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\velko";
  ASSERT_EQ(regSetString(uninstall, HKEY_LOCAL_MACHINE, L"InstallLocation", L"C:\\nowhere"), 0u);
  ASSERT_EQ(regSetString(L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\velko\\Sub", HKEY_LOCAL_MACHINE,
                         nullptr, L"x"),
            0u);
  ASSERT_EQ(regSetString(kPersistentStorageKey, HKEY_CLASSES_ROOT, L"GUID", L"keep-me-not"), 0u);
  wchar_t common[MAX_PATH];
  ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, common, CSIDL_COMMON_APPDATA, FALSE));
  std::wstring store = std::wstring(common) + L"\\VELKO Software\\Durable Store\\Velko";
  SHCreateDirectoryExW(nullptr, store.c_str(), nullptr);
  ASSERT_TRUE(WriteBytes(store + L"\\state.bin", "1"));

  ScriptedPrompts prompts;
  g_registryResult = 1;  // also after a failed registry step
  RunOutcome outcome;
  RemovalRun(kRecordingSteps, &outcome);
  EXPECT_EQ(outcome.servicesResult, 1234u);
  EXPECT_TRUE(outcome.registryFailed);
  EXPECT_TRUE(outcome.restartQueued);

  EXPECT_FALSE(regKeyExists(uninstall));
  UniqueRegKey storage;
  EXPECT_EQ(regOpenKey(HKEY_CLASSES_ROOT, kPersistentStorageKey, KEY_READ, storage), ERROR_FILE_NOT_FOUND);
  // The lasting storage is only queued for the restart, never deleted at once.
  EXPECT_TRUE(PathExists(store + L"\\state.bin"));
  // Committed: Windows' pending-rename list names the file.
  std::wstring pending(65536, L'\0');
  DWORD bytes = static_cast<DWORD>(pending.size() * sizeof(wchar_t));
  UniqueRegKey session;
  ASSERT_EQ(regOpenKey(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", KEY_READ, session), 0);
  ASSERT_EQ(RegQueryValueExW(session.get(), L"PendingFileRenameOperations", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(&pending[0]), &bytes), 0);
  pending.resize(bytes / sizeof(wchar_t));
  for (wchar_t& c : pending) c = towlower(c);
  EXPECT_NE(pending.find(L"\\state.bin"), std::wstring::npos);
  RemoveAll(std::wstring(common) + L"\\VELKO Software");
}

TEST_F(RemovalRunTest, OutcomeOfACleanRunLeavesNothingForTheRestart) {
  wchar_t common[MAX_PATH];
  ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, common, CSIDL_COMMON_APPDATA, FALSE));
  RemoveAll(std::wstring(common) + L"\\VELKO Software");
  ResetRebootQueueForTests();
  ScriptedPrompts prompts;
  g_registryResult = 0;
  RunOutcome outcome;
  outcome.registryFailed = outcome.restartQueued = true;
  RemovalRun(kRecordingSteps, &outcome);
  EXPECT_EQ(outcome.servicesResult, 1234u);
  EXPECT_FALSE(outcome.registryFailed);
  EXPECT_FALSE(outcome.restartQueued);
}

TEST_F(RemovalRunTest, FullProgressBoxDropsTheOldestLines) {
  ProgressWindow window;
  // 324 numbered lines of 99 characters (101 with CRLF): 32,724 characters, just under the
  // box's 32,767.
  for (int i = 0; i < 324; ++i) {
    wchar_t line[100];
    swprintf(line, 100, L"%04d%095d", i, 0);
    AppendProgress(line);
  }
  std::wstring before = window.Text();
  ASSERT_EQ(before.size(), 324u * 101u);
  ASSERT_EQ(before.rfind(L"0000", 0), 0u);
  std::wstring newest = L"newest " + std::wstring(53, L'n');
  AppendProgress(newest.c_str());  // 62 more characters: one old line has to go
  std::wstring after = window.Text();
  EXPECT_EQ(after.size(), 323u * 101u + 62u);
  EXPECT_EQ(after.substr(after.size() - 62), newest + L"\r\n");
  EXPECT_EQ(after.rfind(L"0001", 0), 0u) << qtxtest::Narrow(after.substr(0, 20));
  // A line longer than the whole box keeps its end.
  AppendProgress(std::wstring(40000, L'x').c_str());
  after = window.Text();
  EXPECT_EQ(after.size(), 32767u);
  EXPECT_EQ(after.substr(after.size() - 3), L"x\r\n");
}
