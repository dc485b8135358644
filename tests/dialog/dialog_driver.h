// Shows dialog 102 on the calling thread and drives it from a second thread as a person
// would: through window messages that the dialog's own message loop and dialog manager
// handle (typed text, list selection, button clicks, keys posted to the focused control).
#pragma once
#include <windows.h>

#include <functional>
#include <string>

namespace qtxtest {

// Runs DialogBoxParamW(dialog 102, MainDialogProc) here while `drive` runs on another
// thread with the dialog's window (null when it never appeared). When `drive` returns the
// dialog is closed with its Close button if it is still open. Returns the dialog's result.
INT_PTR ShowMainDialog(const std::function<void(HWND dialog)>& drive);

// Helpers for the driving thread.
std::wstring TextOf(HWND window);
void TypeText(HWND window, const std::wstring& text);
void Click(HWND button);
// Selects list entry `index` and notifies the dialog as the combo box itself does.
void SelectProduct(HWND dialog, int index);
// Posts key down and up of `vk` to the control that has the focus in the dialog's thread.
void PressKey(HWND dialog, UINT vk);
// Waits until every message posted to the dialog's thread before this call has been handled.
bool Settle(HWND dialog);
// Waits until a run has started (Uninstall disabled) and then until its handler has returned.
bool WaitForRun(HWND dialog);
// The top-level window with this caption in the process, waited for up to timeoutMs.
HWND WaitForWindow(const wchar_t* caption, DWORD timeoutMs);

}  // namespace qtxtest
