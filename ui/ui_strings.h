// User-visible text: string-table lookup in the UI language with a per-string fall-back to
// US English, and the progress lines of the main dialog.
#pragma once
#include <windows.h>

#include "base/string_table.h"

// Appends line + CRLF to the progress box (control 1000) of the main dialog; nothing when no
// dialog exists. When the text would pass 32,768 characters the oldest lines are dropped.
void AppendProgress(const wchar_t* line);

// Capacity of a progress line, in characters.
constexpr int kProgressLineChars = 32768;

// Loads string id in the UI language into line (kProgressLineChars characters; left as it
// was when the string is missing) and appends it to the progress box.
void AppendProgressString(wchar_t* line, UINT id);
