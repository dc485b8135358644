// The main dialog (resource 102) and product detection.
#pragma once
#include <windows.h>

// Dialog procedure of resource 102, shown modally by the start-up.
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Reads where the product family `code` ("vk_whs", "vhm", "vqb") is installed. Returns 1
// when a program folder was found. Sets the detected folders, the product registry key and
// the installed major version, and the dialog's path box when the dialog exists.
int DetectProduct(const wchar_t* code);

// Shows the folder browser starting at `path` (MAX_PATH characters, in/out). True when the
// user chose a folder, whose path is then in `path`.
bool BrowseForFolder(const wchar_t* caption, const wchar_t* text, HWND owner, wchar_t* path);
