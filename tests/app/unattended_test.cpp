// Unattended runs in process, with stand-ins for the catalog and the self-protection probe:
// the exit code of every outcome, no box ever reaching the screen (the prompt hook stays
// unasked), and the boxes that would have appeared written to the log. Without the switch
// the codes stay 0 and 1.
#include <gtest/gtest.h>

#include "app/app_state.h"
#include "app/removal_run.h"
#include "app/startup.h"
#include "ui/prompt.h"
#include "log/log.h"
#include "setup/setup_globals.h"
#include "tests/support/test_support.h"

using namespace qtxtest;

namespace {
DWORD g_servicesResult = 0;
DWORD g_registryResult = 0;
bool g_stepNeedsRestart = false;
DWORD g_protection = 0;

void Nothing() {}
const RemovalSteps kStandInSteps = {
    Nothing, Nothing, [] { return g_servicesResult; }, Nothing, Nothing, Nothing,
    // A step that leaves something for the restart, as a locked driver file would.
    [] {
      if (g_stepNeedsRestart) g_setup.RestartNeeded = true;
    },
    Nothing, [] { return g_registryResult; }, Nothing, Nothing, Nothing, Nothing, nullptr,
};
const StartupServices kStandIns = {&kStandInSteps, [] { return g_protection; }};

// The same steps with a residue check whose probes find one file still there (or nothing).
bool g_fileLeft = false;
RemovalSteps WithResidue() {
  RemovalSteps steps = kStandInSteps;
  steps.probeResidue = [] {
    ResidueList left;
    if (g_fileLeft) AddResidue(left, {L"file", L"C:\\qtx-residue\\left.dll"});
    return left;
  };
  return steps;
}

const wchar_t kRegistryFailedBox[] =
    L"Unattended, message box not shown: \"qtxClear\" \"The program could not be removed. Please contact our "
    L"technical support (support@velko-software.example).\", answered OK";
const wchar_t kRefusedBox[] =
    L"Unattended, message box not shown: \"VELKO Software Uninstall Utility\" \"The operation cannot be completed "
    L"because the velko! self-protection module is enabled. To complete the operation, either run this program "
    L"from Windows Safe Mode, or disable the velko! self protection (via Settings -> Troubleshooting page).\", "
    L"answered OK";

struct Case {
  const char* name;
  const wchar_t* commandLine;
  DWORD services, registry;
  bool needsRestart;
  DWORD protection;
  int exitCode;
  int restarts;
  size_t promptsShown;      // boxes that reached the (scripted) screen, all answered No/OK
  const wchar_t* loggedBox;  // a box written to the log instead, or null
};

const Case kCases[] = {
    {"clean run", L"/unattended", 0, 0, false, 0, 0, 0, 0, nullptr},
    {"switch in any case and with '-'", L"-UNATTENDED", 0, 0, false, 0, 0, 0, 0, nullptr},
    {"restart needed", L"/unattended", 0, 0, true, 0, 3010, 0, 0, nullptr},
    {"restart needed, forced", L"/unattended /forcerestart", 0, 0, true, 0, 1641, 1, 0, nullptr},
    {"forced, but nothing needs it", L"/forcerestart /unattended", 0, 0, false, 0, 0, 0, 0, nullptr},
    {"forced, but /noreboot", L"/unattended /forcerestart /noreboot", 0, 0, true, 0, 3010, 0, 0, nullptr},
    {"registry step failed", L"/unattended /forcerestart", 0, 1, true, 0, 1603, 0, 0, kRegistryFailedBox},
    {"services step failed", L"/unattended /forcerestart", 5, 0, true, 0, 1603, 0, 0, nullptr},
    {"self-protection enabled", L"/unattended", 0, 0, false, 1, 1, 0, 0, kRefusedBox},
    // Without /unattended: the boxes are shown and the codes stay 0 and 1.
    {"very silent, registry failed", L"/verysilent", 0, 1, false, 0, 0, 0, 2, nullptr},
    {"very silent, services failed", L"/verysilent", 5, 0, false, 0, 0, 0, 1, nullptr},
    {"restart forced as before", L"/verysilent /silent /forcerestart", 0, 0, true, 0, 0, 1, 1, nullptr},
    {"very silent, self-protection", L"/verysilent", 0, 0, false, 1, 1, 0, 2, nullptr},
    // A mistyped switch or a switch without its value: nothing runs (the step would need a restart).
    {"mistyped switch", L"/unattended /verysilnet", 0, 0, true, 0, 87, 0, 0, nullptr},
    {"switch without its value", L"/unattended /report", 0, 0, true, 0, 87, 0, 0, nullptr},
    {"no switch prefix: ignored", L"/unattended whatif", 0, 0, true, 0, 3010, 0, 0, nullptr},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Unattended : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    ResetAppState();
    g_logPath.clear();
    ClearLog();
  }
  void TearDown() override { ResetAppState(); }
};

TEST_P(Unattended, ExitCodeRestartAndBoxes) {
  const Case& c = GetParam();
  g_servicesResult = c.services;
  g_registryResult = c.registry;
  g_stepNeedsRestart = c.needsRestart;
  g_protection = c.protection;
  RestartRecorder restarts;
  ScriptedPrompts prompts({IDNO});
  EXPECT_EQ(RunStartup(GetModuleHandleW(nullptr), c.commandLine, kStandIns), c.exitCode) << LogDump();
  EXPECT_EQ(restarts.count(), c.restarts);
  EXPECT_EQ(prompts.prompts().size(), c.promptsShown) << LogDump();
  if (c.loggedBox) EXPECT_TRUE(LogHas(c.loggedBox, LOG_MIN, LOG_GENERAL)) << LogDump();
  // An unattended run logs every box it answered and nothing else of the kind.
  int logged = 0;
  for (const std::wstring& text : LogTexts()) logged += text.rfind(L"Unattended, message box not shown:", 0) == 0;
  EXPECT_EQ(logged, c.loggedBox ? 1 : 0) << LogDump();
}

INSTANTIATE_TEST_SUITE_P(Outcomes, Unattended, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           std::string name;
                           for (const char* p = info.param.name; *p; ++p)
                             name += isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           return name;
                         });

TEST(UnattendedResidue, AnItemLeftAndNotQueuedTurnsTheRunInto1603) {
  ResetAppState();
  g_servicesResult = g_registryResult = g_protection = 0;
  g_stepNeedsRestart = true;
  RemovalSteps steps = WithResidue();
  const StartupServices services = {&steps, [] { return g_protection; }};
  for (bool left : {true, false}) {
    ResetAppState();
    ClearLog();
    g_fileLeft = left;
    EXPECT_EQ(RunStartup(GetModuleHandleW(nullptr), L"/unattended", services), left ? 1603 : 3010) << LogDump();
    EXPECT_TRUE(LogHas(left ? L"Residue check: 1 items remain, 0 queued for the restart"
                            : L"Residue check: 0 items remain, 0 queued for the restart"))
        << LogDump();
    EXPECT_EQ(LogHas(L"Remains: file C:\\qtx-residue\\left.dll"), left) << LogDump();
    EXPECT_EQ(LogHas(L"Unattended run failed: 1 items remain"), left) << LogDump();
  }
  g_fileLeft = g_stepNeedsRestart = false;
  ResetAppState();
}

// The prompt function alone: the answer an unattended run takes for each kind of box, an
// answer the caller names, and the log line with its text on one line.
TEST(UnattendedPrompt, TakesTheHarmlessAnswerOrTheNamedOne) {
  struct {
    UINT type;
    int named;
    int answer;
    const wchar_t* name;
  } const rows[] = {
      {MB_OK | MB_ICONERROR, 0, IDOK, L"OK"},
      {MB_YESNO | MB_ICONQUESTION, 0, IDNO, L"No"},
      {MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2, IDYES, IDYES, L"Yes"},
      {MB_OKCANCEL, 0, IDCANCEL, L"Cancel"},
      {MB_YESNOCANCEL, 0, IDCANCEL, L"Cancel"},
      {MB_RETRYCANCEL, 0, IDCANCEL, L"Cancel"},
      {MB_ABORTRETRYIGNORE, 0, IDABORT, L"Abort"},
  };
  ScriptedPrompts prompts({IDYES});
  SetUnattended(true);
  for (const auto& row : rows) {
    ClearLog();
    EXPECT_EQ(UiMessageBox(nullptr, L"Line one\r\nline two\n\nend", L"Caption", row.type, row.named), row.answer);
    EXPECT_TRUE(LogHas(std::wstring(L"Unattended, message box not shown: \"Caption\" \"Line one line two end\", answered ") +
                           row.name,
                       LOG_MIN, LOG_GENERAL))
        << LogDump();
  }
  ClearLog();
  // Without a caption Windows would title the box "Error".
  EXPECT_EQ(UiMessageBox(nullptr, L"uninstall service error 0x00000005", nullptr, MB_OK), IDOK);
  EXPECT_TRUE(LogHas(L"Unattended, message box not shown: \"Error\" \"uninstall service error 0x00000005\", answered OK"))
      << LogDump();
  SetUnattended(false);
  EXPECT_TRUE(prompts.prompts().empty());
  EXPECT_EQ(UiMessageBox(nullptr, L"shown", L"Caption", MB_YESNO), IDYES);
  EXPECT_EQ(prompts.prompts().size(), 1u);
}
}  // namespace
