// The start-up state that the entry point, product detection, the dialog and the removal
// run share. One instance each, zero at load.
#pragma once
#include <windows.h>
#include <string>

extern HINSTANCE g_instance;               // the executable's module: strings, dialog, icons
extern WORD g_uiLanguage;                  // GetUserDefaultUILanguage(); every string lookup
extern bool g_forceUninstall;              // "/forceuninstallpro"
extern bool g_forceRestart;                // "/forcerestart"
extern bool g_noReboot;                    // "/noreboot": an unattended run never restarts
extern std::wstring g_productKind;         // "/prod" value, or the dialog's selection
extern std::wstring g_detectedProgramFolder;
extern std::wstring g_detectedDataFolder;
extern std::wstring g_productRegistryKey;  // set by detection; read by the registry step
extern DWORD g_installedMajorVersion;      // leading number of the product's "Version"
extern HWND g_mainDialog;                  // null while no dialog exists
extern bool g_runDone;                     // a run has finished in this dialog

// Puts every item above back to its state at load (for tests).
void ResetAppState();
