// String-table look-up by language, with a per-string fall-back to US English.
#pragma once
#include <windows.h>

// Copies string `id` of `module` in `language` (falling back to 1033 per string) into dest,
// cut to capacity - 1 characters and terminated. Returns the number of characters copied,
// or 1 when no string-table block is found or loaded (dest untouched).
int LoadUiString(HINSTANCE module, UINT id, wchar_t* dest, int capacity, WORD language);
