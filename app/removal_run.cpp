#include "app/removal_run.h"

#include <shlobj.h>

#include <vector>

#include "app/app_state.h"
#include "app/run_report.h"
#include "ui/prompt.h"
#include "ui/ui_strings.h"
#include "catalog/catalog.h"
#include "catalog/probe.h"
#include "resources/resource.h"
#include "setup/product.h"
#include "setup/setup_globals.h"
#include "sysops/files.h"
#include "base/path.h"
#include "sysops/reboot_queue.h"
#include "sysops/registry.h"

const RemovalSteps kCatalogSteps = {
    RemoveBrowserPlugins,    RemoveSidebarGadget, RemoveServices,     RemoveWhsAddin,
    RemoveProtectionDrivers, UnregisterModules,   RemoveBootFiles,    RemoveShortcuts,
    RemoveRegistryEntries,   RemoveProgramFiles,  RemoveWscAntiVirus, RemoveWscAntiSpyware,
    RemoveWscFirewall,       ProbeSuiteResidue,
};

namespace {
constexpr const wchar_t* kDurableStore = L"\\VELKO Software\\Durable Store\\Velko";
constexpr size_t kStorePathChars = 520;

// One progress line for the whole run, zeroed when the run starts: a string missing from
// every table leaves the line as the previous load left it. Allocated by the run, not a
// static array, which the lean build would store zero-filled in the file.
std::vector<wchar_t> g_progressLine;

void Progress(UINT id) { AppendProgressString(g_progressLine.data(), id); }

// The registry step failed: the program files stay, the user is told, no restart follows.
void ReportRegistryFailure() {
  std::vector<wchar_t> message(kProgressLineChars, L'\0');
  LoadUiString(g_instance, IDS_REMOVE_FAILED, message.data(), kProgressLineChars, g_uiLanguage);
  UiMessageBox(nullptr, message.data(), L"qtxClear", MB_OK);
  g_setup.RestartNeeded = false;
}

// The Security Center exists from Windows XP (5.1) on.
bool HasSecurityCenter() {
  const OSVERSIONINFOEXW& v = g_setup.osVersion;
  return v.dwMajorVersion > 5 || (v.dwMajorVersion == 5 && v.dwMinorVersion >= 1);
}

void RemoveSecurityCenterEntries(const RemovalSteps& steps) {
  CoInitialize(nullptr);
  steps.removeWscAntiVirus();
  steps.removeWscAntiSpyware();
  steps.removeWscFirewall();
  CoUninitialize();
}

// The suite's lasting-storage folder (queued for the restart as a whole) and key.
void RemoveLastingStorage() {
  wchar_t folder[kStorePathChars] = {0};
  if (GetSpecialFolder(folder, CSIDL_COMMON_APPDATA)) {
    size_t used = wcslen(folder);
    if (used < kStorePathChars - 1) wcsncat(folder, kDurableStore, kStorePathChars - 1 - used);
    RemoveTree(folder, L"*.*", true, true, true);
  }
  regDeleteTree(HKEY_CLASSES_ROOT, kPersistentStorageKey);
}
}  // namespace

DWORD RemovalSequence(const RemovalSteps& steps, RunOutcome* outcome) {
  g_progressLine.assign(kProgressLineChars, L'\0');
  // The self-protection driver's admission request would stand here; its form is the
  // driver's own and nothing depends on its answer, so the run does without it.
  steps.removeBrowserPlugins();
  steps.removeSidebarGadget();
  DWORD result = steps.removeServices();
  Progress(IDS_DONE_SERVICE);
  steps.removeWhsAddin();
  steps.removeProtectionDrivers();
  Progress(IDS_DONE_DRIVERS);
  steps.unregisterModules();
  steps.removeBootFiles();
  steps.removeShortcuts();
  Progress(IDS_DONE_SHORTCUTS);
  bool registryFailed = steps.removeRegistryEntries() != 0;
  if (!registryFailed) {
    Progress(IDS_DONE_REGISTRY);
    steps.removeProgramFiles();
  } else {
    ReportRegistryFailure();
  }
  if (HasSecurityCenter()) RemoveSecurityCenterEntries(steps);
  regDeleteTree(HKEY_LOCAL_MACHINE, kUninstallKey);
  Progress(IDS_DONE_ALL);
  if (outcome) {
    outcome->servicesResult = result;
    outcome->registryFailed = registryFailed;
  }
  return result;
}

DWORD RemovalRun(const RemovalSteps& steps, RunOutcome* outcome) {
  // The report counts per step what was there before the run.
  bool reported = steps.probeResidue && !g_reportPath.empty();
  ResidueList before;
  RefusalList refused;
  if (reported) {
    before = steps.probeResidue();
    refused = ProbeRefusals();
  }
  DWORD result = RemovalSequence(steps, outcome);
  RemoveLastingStorage();
  if (outcome) outcome->restartQueued = !RebootQueueEntries().empty();
  CommitRebootQueue(0, nullptr);
  if (steps.probeResidue) {
    ResidueCheck check = MarkQueued(steps.probeResidue());
    LogResidue(check);
    ShowResidueProgress(check);
    if (reported) NoteReportProbes(before, check, refused);
    if (outcome) outcome->residue = check;
  }
  return result;
}
