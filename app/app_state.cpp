#include "app/app_state.h"

#include "ui/prompt.h"

bool g_forceUninstall = false;
bool g_forceRestart = false;
bool g_noReboot = false;
std::wstring g_productKind;
bool g_runDone = false;
bool g_whatIf = false;
std::wstring g_reportPath;
std::wstring g_folderPath;
bool g_folderFromSwitch = false;

void ResetAppState() {
  ResetUiContext();
  ResetProductFacts();
  g_forceUninstall = false;
  g_forceRestart = false;
  g_noReboot = false;
  SetUnattended(false);
  g_productKind.clear();
  g_runDone = false;
  g_whatIf = false;
  g_reportPath.clear();
  g_folderPath.clear();
  g_folderFromSwitch = false;
}
