#include "app/app_state.h"

#include "app/ui.h"

HINSTANCE g_instance = nullptr;
WORD g_uiLanguage = 0;
bool g_forceUninstall = false;
bool g_forceRestart = false;
bool g_noReboot = false;
std::wstring g_productKind;
std::wstring g_detectedProgramFolder;
std::wstring g_detectedDataFolder;
std::wstring g_productRegistryKey;
DWORD g_installedMajorVersion = 0;
HWND g_mainDialog = nullptr;
bool g_runDone = false;

void ResetAppState() {
  g_instance = nullptr;
  g_uiLanguage = 0;
  g_forceUninstall = false;
  g_forceRestart = false;
  g_noReboot = false;
  SetUnattended(false);
  g_productKind.clear();
  g_detectedProgramFolder.clear();
  g_detectedDataFolder.clear();
  g_productRegistryKey.clear();
  g_installedMajorVersion = 0;
  g_mainDialog = nullptr;
  g_runDone = false;
}
