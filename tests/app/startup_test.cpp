// The start-up sequence in process, for the outcomes that need no dialog and no real restart.
#include <gtest/gtest.h>

#include "app/app_state.h"
#include "app/startup.h"
#include "log/log.h"
#include "setup/setup_globals.h"
#include "tests/support/test_support.h"

using namespace qtxtest;

namespace {
const wchar_t kSafeModeAsk[] = L"It is recommended to run this tool from Windows Safe Mode.";
const wchar_t kSafeModeRestart[] = L"The system will now restart in Windows Safe Mode.";

bool StartsWith(const std::wstring& text, const wchar_t* prefix) { return text.rfind(prefix, 0) == 0; }

class Startup : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    g_logPath.clear();
    ClearLog();
  }
  int Run(const wchar_t* commandLine) { return RunStartup(GetModuleHandleW(nullptr), commandLine); }
};
}  // namespace

TEST_F(Startup, VerySilentAsksAboutSafeModeThenRunsTheRemoval) {
  RestartRecorder restarts;
  ScriptedPrompts prompts({IDNO});
  EXPECT_EQ(Run(L"/verysilent"), 0);
  ASSERT_EQ(prompts.prompts().size(), 1u) << LogDump();
  const Prompt& ask = prompts.prompts()[0];
  EXPECT_TRUE(StartsWith(ask.text, kSafeModeAsk));
  EXPECT_EQ(ask.caption, L"VELKO Software Uninstall Utility");
  EXPECT_EQ(ask.type, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
  EXPECT_EQ(ask.owner, nullptr);
  // The run environment was initialised first and the removal run reached its end: the
  // uninstall registration is the run's last deletion.
  ASSERT_FALSE(g_log.entries.empty());
  EXPECT_EQ(g_log.entries[0].text, L"Operation set to INST_OP_UNKNOWN");
  EXPECT_TRUE(LogHas(L"Deleted registry: Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\velko error: 2"))
      << LogDump();
  // Very silent clears RestartNeeded, so nothing is offered and nothing restarts.
  EXPECT_EQ(restarts.count(), 0);
}

TEST_F(Startup, SecondSafeModeQuestionDeclinedGoesOnWithoutRestart) {
  RestartRecorder restarts;
  ScriptedPrompts prompts({IDYES, IDNO});
  EXPECT_EQ(Run(L"/verysilent /forcerestart"), 0);
  ASSERT_EQ(prompts.prompts().size(), 2u);
  EXPECT_TRUE(StartsWith(prompts.prompts()[1].text, kSafeModeRestart));
  EXPECT_EQ(prompts.prompts()[1].caption, L"VELKO Software Uninstall Utility");
  // /forcerestart alone does not restart a very-silent run: RestartNeeded is false.
  EXPECT_EQ(restarts.count(), 0);
}

TEST_F(Startup, VerySilentThenSilentThenForceRestartRestartsWithoutAsking) {
  RestartRecorder restarts;
  ScriptedPrompts prompts({IDNO});
  EXPECT_EQ(Run(L"/verysilent /silent /forcerestart"), 0);
  // The Safe-Mode question is the only prompt: the restart is not asked for.
  ASSERT_EQ(prompts.prompts().size(), 1u);
  EXPECT_TRUE(StartsWith(prompts.prompts()[0].text, kSafeModeAsk));
  EXPECT_EQ(restarts.count(), 1);
  EXPECT_TRUE(LogHas(L"Restart windows", LOG_VRB, LOG_SYSTEM));
}

TEST_F(Startup, ForcedUninstallWithoutSetupLibraryFallsBackToTheOrdinaryStart) {
  wchar_t old[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, old);
  SetCurrentDirectoryW(ScratchDir(L"no-setup-library").c_str());
  ScriptedPrompts prompts({IDNO});
  EXPECT_EQ(Run(L"/forceuninstallpro /verysilent"), 0);
  SetCurrentDirectoryW(old);
  // Falling back means the Safe-Mode question is asked, which the forced path never does.
  ASSERT_EQ(prompts.prompts().size(), 1u);
  EXPECT_TRUE(StartsWith(prompts.prompts()[0].text, kSafeModeAsk));
}

TEST_F(Startup, ForcedUninstallCallsTheSetupLibraryAndRunsTheRemoval) {
  // The library is loaded from Setup\Setiface.dll under the program folder, which only an
  // earlier detection can have set (the forced path's own detection reads nothing).
  std::wstring dir = ScratchDir(L"forced-uninstall");
  g_detectedProgramFolder = dir;
  CreateDirectoryW((dir + L"\\Setup").c_str(), nullptr);
  ASSERT_TRUE(CopyFileW(QTX_SETIFACE_STANDIN, (dir + L"\\Setup\\Setiface.dll").c_str(), FALSE));
  ASSERT_TRUE(WriteBytes(dir + L"\\setiface-restart.flag", ""));
  wchar_t old[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, old);
  SetCurrentDirectoryW(dir.c_str());
  RestartRecorder restarts;
  ScriptedPrompts prompts({IDNO, IDNO});
  int code = Run(L"/noreboot /forceuninstallpro");
  SetCurrentDirectoryW(old);
  EXPECT_EQ(code, 0);

  std::string called;
  ASSERT_TRUE(ReadBytes(dir + L"\\setiface-called.txt", &called));
  EXPECT_EQ(called, "null null 1 zero\n");
  // The removal asks before it empties the program folder (answered No: the test's files
  // live there). The library asked for a restart, which overrides /noreboot: the second
  // prompt is the restart offer, not a Safe-Mode question.
  ASSERT_EQ(prompts.prompts().size(), 2u) << LogDump();
  EXPECT_EQ(prompts.prompts()[0].type & MB_TYPEMASK, static_cast<UINT>(MB_YESNO));
  EXPECT_EQ(prompts.prompts()[1].caption, L"velko! Antivirus Uninstall");
  EXPECT_TRUE(LogHas(L"Deleted registry: Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\velko error: 2"));
  EXPECT_EQ(restarts.count(), 0);
}

TEST_F(Startup, LogSwitchSavesTheRunsRecord) {
  std::wstring log = ScratchDir(L"log-switch") + L"\\run.log";
  ScriptedPrompts prompts({IDNO});
  EXPECT_EQ(Run((L"/verysilent /log \"" + log + L"\"").c_str()), 0);
  std::string bytes;
  ASSERT_TRUE(ReadBytes(log, &bytes));
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xFE"));
  std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
  EXPECT_NE(text.find(L"\tgeneral\tOperation set to INST_OP_UNKNOWN\r\n"), std::wstring::npos);
}
