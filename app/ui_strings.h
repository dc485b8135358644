// User-visible text: string-table lookup in the UI language with a per-string fall-back to
// US English, and the progress lines of the main dialog.
#pragma once
#include <windows.h>

// Copies string `id` of `module` in `language` (falling back to 1033 per string) into dest,
// cut to capacity - 1 characters and terminated. Returns the number of characters copied,
// or 1 when no string-table block is found or loaded (dest untouched).
int LoadUiString(HINSTANCE module, UINT id, wchar_t* dest, int capacity, WORD language);

// Appends line + CRLF to the progress box (control 1000) of the main dialog; nothing when no
// dialog exists. When the text would pass 32,768 characters the oldest lines are dropped.
void AppendProgress(const wchar_t* line);

// Capacity of a progress line, in characters.
constexpr int kProgressLineChars = 32768;

// Loads string id in the UI language into line (kProgressLineChars characters; left as it
// was when the string is missing) and appends it to the progress box.
void AppendProgressString(wchar_t* line, UINT id);
