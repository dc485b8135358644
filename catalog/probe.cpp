#include "catalog/probe.h"

#include <windows.h>

#include "base/regkey.h"
#include "catalog/drivers.h"
#include "catalog/program_files.h"
#include "setup/product.h"
#include "setup/setup_globals.h"
#include "sysops/files.h"

const ProbeStep kProbeSteps[] = {
    {L"browser and gadget", L"a browser plug-in or sidebar gadget of the suite", ProbeBrowserAndGadget},
    {L"services", L"a service of the suite", ProbeServices},
    {L"add-ins and modules", L"a server add-in or COM registration of the suite", ProbeAddinsAndModules},
    {L"drivers", L"a driver, filter or network component of the suite", ProbeProtectionDrivers},
    {L"files and shortcuts", L"a file, folder or shortcut of the suite", ProbeFilesAndShortcuts},
    {L"registry", L"a registry entry of the suite", ProbeRegistryEntries},
};
const size_t kProbeStepCount = sizeof kProbeSteps / sizeof kProbeSteps[0];

void AddResidue(ResidueList& found, const Residue& item) {
  found.resize(found.size() + 1);
  found.back() = item;
}

namespace {
bool IsRegistryItem(const std::wstring& what) {
  return what.compare(0, 2, L"HK") == 0 || what.compare(0, 8, L"profile ") == 0;
}

// The view a plain registry probe reads: the 32-bit product's own view on 64-bit Windows.
const wchar_t* OwnViewName() { return g_setup.IsOS(OS_WOW64 | OS_X64) ? L"32-bit" : L""; }

// Appended in place: the 32-bit compiler's link-time optimiser fails on the moving push_back
// of this type.
void AddRefusal(RefusalList& refused, const wchar_t* kind, const std::wstring& what, const wchar_t* reason, int step) {
  refused.resize(refused.size() + 1);
  Refusal& r = refused.back();
  r.kind = kind;
  r.what = what;
  r.reason = reason;
  r.step = step;
}

int StepOf(void (*probe)(ResidueList&)) {
  for (size_t i = 0; i < kProbeStepCount; ++i)
    if (kProbeSteps[i].probe == probe) return static_cast<int>(i);
  return -1;
}

void AddIfRefused(RefusalList& refused, const std::wstring& folder) {
  if (!folder.empty() && IsRefusedFolder(folder))
    AddRefusal(refused, L"folder", folder, L"folder-safety rule", StepOf(ProbeFilesAndShortcuts));
}

// A file the SharedDLLs list counts is never deleted.
void AddIfShared(RefusalList& refused, HKEY sharedDlls, const std::wstring& path) {
  DWORD count = 0;
  if (path.empty() || GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  if (regGetDwordIn(sharedDlls, path.c_str(), &count) == ERROR_SUCCESS && count != 0)
    AddRefusal(refused, L"file", path, L"SharedDLLs count", StepOf(ProbeProtectionDrivers));
}
}  // namespace

ResidueList ProbeSuiteResidue() {
  ResidueList found;
  for (size_t i = 0; i < kProbeStepCount; ++i) {
    size_t first = found.size();
    kProbeSteps[i].probe(found);
    for (size_t k = first; k < found.size(); ++k) {
      found[k].step = static_cast<int>(i);
      if (found[k].view.empty() && IsRegistryItem(found[k].what)) found[k].view = OwnViewName();
    }
  }
  return found;
}

RefusalList ProbeRefusals() {
  RefusalList refused;
  AddIfRefused(refused, g_detectedProgramFolder);
  if (!g_detectedProgramFolder.empty() && !IsRefusedFolder(g_detectedProgramFolder))
    AddIfRefused(refused, g_detectedDataFolder);
  UniqueRegKey sharedDlls;
  if (regOpenKey(HKEY_LOCAL_MACHINE, kSharedDllsKey, KEY_READ, sharedDlls) != ERROR_SUCCESS) return refused;
  using namespace driver_rows;
  for (size_t i = 0; i < kDriverRowCount; ++i)
    if (kDriverRows[i].op == Op::SharedFile) AddIfShared(refused, sharedDlls.get(), g_setup.Expand(L"%SYS%", kDriverRows[i].a));
  AddIfShared(refused, sharedDlls.get(), OutlookExtensionCachePath());
  return refused;
}
