// File and folder deletion (being written on its own branch).
#pragma once
#include <windows.h>
DWORD RemoveTree(const wchar_t* pathPattern, const wchar_t* mask, bool recurse, bool rebootFallback, bool rebootOnly);
