// The one way the program asks the user something, and the one way it restarts the
// computer. Tests replace both: prompts are answered and recorded, restarts are recorded.
#pragma once
#include <windows.h>

// MessageBoxW, unless a test hook is installed.
int UiMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);

typedef int (*UiPromptHook)(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);
// Installs (or, with null, removes) the hook that answers every prompt instead of MessageBoxW.
void SetUiPromptHook(UiPromptHook hook);

typedef void (*RestartHook)();
// Installs (or removes) the hook that RestartWindows calls instead of restarting.
void SetRestartHook(RestartHook hook);
// The test hook, or null.
RestartHook GetRestartHook();
