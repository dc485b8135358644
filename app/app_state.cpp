#include "app/app_state.h"

#include "ui/prompt.h"

bool g_forceUninstall = false;
bool g_forceRestart = false;
bool g_noReboot = false;
std::wstring g_productKind;
bool g_runDone = false;

void ResetAppState() {
  ResetUiContext();
  ResetProductFacts();
  g_forceUninstall = false;
  g_forceRestart = false;
  g_noReboot = false;
  SetUnattended(false);
  g_productKind.clear();
  g_runDone = false;
}
