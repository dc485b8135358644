// What the catalog and the shell share about the user interface: the module that holds the
// strings, the language they are shown in, and the main dialog that owns prompts and shows
// progress lines. One instance each, zero at load; the start-up and the dialog set them.
#pragma once
#include <windows.h>

extern HINSTANCE g_instance;  // the executable's module: strings, dialog, icons
extern WORD g_uiLanguage;     // GetUserDefaultUILanguage(); every string lookup
extern HWND g_mainDialog;     // null while no dialog exists

// Puts the three back to their state at load (for tests).
void ResetUiContext();
