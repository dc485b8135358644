#include "app/run_report.h"

#include <windows.h>

#include "app/app_state.h"
#include "app/report.h"
#include "app/startup.h"
#include "app/usage.h"
#include "log/log.h"
#include "setup/setup_globals.h"
#include "ui/prompt.h"

namespace {
// One report per process, filled as the start-up goes.
struct Notes {
  SYSTEMTIME start = {};
  std::vector<std::wstring> arguments;
  bool selfProtection = false;
  bool probed = false;
  ResidueList before;
  ResidueCheck after;
  RefusalList refused;
};
Notes g_notes;

const wchar_t* ModeName() {
  if (g_whatIf) return L"whatif";
  if (IsUnattended()) return L"unattended";
  if (g_forceUninstall) return L"forceuninstallpro";
  switch (g_setup.UiMode) {
    case VerySilent: return L"verysilent";
    case Silent: return L"silent";
  }
  return L"interactive";
}

ReportFacts Gather(int exitCode) {
  ReportFacts f;
  f.version = ProgramVersion();
  f.computer = g_setup.computerName;
  f.guid = g_setup.persistentGuid;
  f.mode = ModeName();
  f.osMajor = g_setup.osVersion.dwMajorVersion;
  f.osMinor = g_setup.osVersion.dwMinorVersion;
  f.osBuild = g_setup.osVersion.dwBuildNumber;
  f.servicePack = g_setup.osVersion.szCSDVersion;
  f.bits = g_setup.IsOS(OS_WOW64 | OS_X64) ? 64 : 32;
  f.safeMode = GetSystemMetrics(SM_CLEANBOOT) != 0;
  f.selfProtection = g_notes.selfProtection;
  f.start = g_notes.start;
  GetSystemTime(&f.end);
  f.switches = g_notes.arguments;
  f.productFound = !g_detectedProgramFolder.empty();
  f.productCode = g_productKind;
  f.programFolder = g_detectedProgramFolder;
  f.dataFolder = g_detectedDataFolder;
  f.folderSource = g_folderFromSwitch ? L"/folder" : L"detected";
  f.productVersion = g_installedMajorVersion;
  if (g_notes.probed) {
    f.steps = CountSteps(g_notes.before, g_notes.after.items, g_notes.refused);
    f.remaining = g_notes.after.items;
    f.queued = g_notes.after.queued;
    f.refused = g_notes.refused;
  }
  f.exitCode = exitCode;
  return f;
}
}  // namespace

void NoteReportStart(const std::vector<std::wstring>& arguments) {
  GetSystemTime(&g_notes.start);
  g_notes.arguments = arguments;
}

void NoteReportSelfProtection(bool enabled) { g_notes.selfProtection = enabled; }

void NoteReportProbes(const ResidueList& before, const ResidueCheck& after, const RefusalList& refused) {
  g_notes.probed = true;
  g_notes.before = before;
  g_notes.after = after;
  g_notes.refused = refused;
}

int FinishReport(int exitCode) {
  if (g_reportPath.empty()) return exitCode;
  std::wstring why;
  DWORD rc = WriteFileSafely(g_reportPath, BuildReport(Gather(exitCode)), &why);
  if (rc == 0) {
    g_log.Print(LOG_NRM, LOG_FILE, L"Report written: %s", g_reportPath.c_str());
    return exitCode;
  }
  int finalCode = IsUnattended() && (exitCode == kExitDone || exitCode == kExitRestartPending) ? kExitReportNotWritten : exitCode;
  wchar_t line[2 * MAX_PATH + 160] = {0};
  _snwprintf(line, sizeof line / sizeof line[0] - 1, L"Report %s not written: %s (error 0x%08X); exit code %d",
             g_reportPath.c_str(), why.empty() ? L"the write failed" : why.c_str(), static_cast<unsigned>(rc), finalCode);
  g_log.Print(LOG_MIN, LOG_FILE, L"%s", line);
  WriteToParentConsole(line);
  return finalCode;
}
