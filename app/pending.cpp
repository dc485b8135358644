// Placeholders for functions whose modules are being written on other branches; this file
// goes away when they are merged.
#include "app/safe_mode.h"
#include "app/system_report.h"
#include "app/ui.h"
#include "log/log.h"
BOOL EditBootIni(bool) { return FALSE; }
void RunBootCommand(const wchar_t*) {}
BOOL CopySelf(wchar_t*) { return FALSE; }
bool RegisterRunOnce(const wchar_t*) { return false; }
void RestartWindows() {
  g_log.Print(LOG_VRB, LOG_SYSTEM, L"Restart windows");
  if (GetRestartHook()) GetRestartHook()();
}
void WriteSystemReport() {}
#include "sysops/registry.h"
