// The main dialog (resource 102) and product detection.
#pragma once
#include <windows.h>

#include <string>

// Dialog procedure of resource 102, shown modally by the start-up.
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Reads where the product family `code` ("vk_whs", "vhm", "vqb") is installed. Returns 1
// when a program folder was found. Sets the detected folders, the product registry key and
// the installed major version, and the dialog's path box when the dialog exists.
int DetectProduct(const wchar_t* code);

// Shows the folder browser starting at `path` (MAX_PATH characters, in/out). True when the
// user chose a folder, whose path is then in `path`.
bool BrowseForFolder(const wchar_t* caption, const wchar_t* text, HWND owner, wchar_t* path);

// The leading decimal number of text ("9.0.1" -> 9, "" -> 0), stopping at the first
// non-digit; a number too large for 32 bits gives 0xFFFFFFFF.
DWORD LeadingNumber(const wchar_t* text);

// The folder the browser opens on for `path`: the path without one trailing backslash, or,
// when the path is no longer than its root, the root itself - "C:" -> "C:\",
// "\\server\share" -> "\\server\share\". Empty for an empty path (no preselection).
std::wstring BrowseStartSelection(const wchar_t* path);

// The product code ("vk_whs", "vhm", "vqb") of a product-list text, by comparing it with
// the list's strings in the UI language; empty when it is none of them.
std::wstring ProductCodeOfText(const wchar_t* text);

struct RemovalSteps;
// For tests: the steps the dialog's run calls (null = the product's catalog).
void SetDialogRunStepsForTests(const RemovalSteps* steps);
