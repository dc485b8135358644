// The one way the program asks the user something, and the one way it restarts the
// computer. Tests replace both: prompts are answered and recorded, restarts are recorded.
#pragma once
#include <windows.h>

// MessageBoxW, unless a test hook is installed or the run is unattended. Unattended, no box
// is shown: the box's caption, text and the answer taken are logged (level min, category
// general) and that answer is returned. The answer is `unattendedAnswer` when non-zero,
// otherwise the box's harmless one: OK for an OK box, No for Yes/No, Abort for
// Abort/Retry/Ignore, Cancel for every box with a Cancel button.
int UiMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type, int unattendedAnswer = 0);

// Unattended mode ("/unattended"): from now on UiMessageBox shows nothing and only logs.
void SetUnattended(bool unattended);
bool IsUnattended();

typedef int (*UiPromptHook)(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);
// Installs (or, with null, removes) the hook that answers every prompt instead of MessageBoxW.
void SetUiPromptHook(UiPromptHook hook);

typedef void (*RestartHook)();
// Installs (or removes) the hook that RestartWindows calls instead of restarting.
void SetRestartHook(RestartHook hook);
// The test hook, or null.
RestartHook GetRestartHook();
