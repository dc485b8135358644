// The suite's user-mode services (with those of the server and enterprise editions and two
// driver services registered as services): stopped when running, then uninstalled.
#include <cstdio>

#include "catalog/catalog.h"
#include "catalog/probe.h"
#include "sysops/services.h"
#include "ui/prompt.h"

namespace {
struct ServiceRow {
  const wchar_t* name;
  bool onlyIfInstalled;  // skipped silently when absent
  bool boxOnFailure;     // the user sees each failure of this row
};

const ServiceRow kServiceRows[] = {
    {L"velko! Remote Install Service", true, false},
    {L"velko! Net Client Service", true, false},
    {L"velko! Mail Scanner", false, false},
    {L"velko! Firewall", false, false},
    {L"velko! Antivirus", false, true},
    {L"velko! Enterprise Client Service", false, true},
    {L"velkoWHSP", false, true},
    {L"VelkoWhsClient", false, true},
    {L"Velko.WHS.Provider.exe", false, true},
    {L"Velko.WHS.Client.exe", false, true},
    {L"qtxRvrt", false, true},
    {L"qtxVmm", false, true},
};

void ShowUninstallError(DWORD code) {
  wchar_t text[64] = {};
  _snwprintf(text, 63, L"uninstall service error 0x%08X", static_cast<unsigned>(code));
  // No owner and no caption: Windows shows its default error caption.
  UiMessageBox(nullptr, text, nullptr, MB_OK);
}
}  // namespace

// Returns the last non-zero code of an uninstallation, 0 when every row succeeded.
DWORD RemoveServices() {
  DWORD result = 0;
  for (const ServiceRow& row : kServiceRows) {
    if (row.onlyIfInstalled && !IsServiceInstalled(row.name)) continue;
    if (IsServiceRunning(row.name)) StopServiceAndWait(row.name);
    DWORD rc = UninstallService(row.name);
    if (rc == 0) continue;
    result = rc;
    if (row.boxOnFailure) ShowUninstallError(rc);
  }
  return result;
}

void ProbeServices(ResidueList& found) {
  for (const ServiceRow& row : kServiceRows) {
    if (IsServiceInstalled(row.name)) AddResidue(found, {L"service", row.name});
  }
}
