// Loading the suite's own modules. The program runs elevated, and the loader searches the
// program's own folder and the current folder for a bare or relative name, both of which a
// standard user may be able to write: a suite module is therefore loaded only by an absolute
// path, and anything else is skipped with a log line.
#pragma once
#include <windows.h>

#include "base/handles.h"

// True for "X:\..." and for UNC paths ("\\server\share\..."); false for null, "", bare names,
// relative paths and drive-relative forms such as "C:file".
bool IsAbsolutePath(const wchar_t* path);

// Loads path with LoadLibraryExW(flags) when it is absolute. A path that is not absolute is
// not handed to the loader: "Module \"%s\" skipped: no absolute path" (level min, category
// file) is logged and an empty owner returned. A failed load logs nothing and returns an
// empty owner with GetLastError() as the loader left it.
UniqueLibrary LoadSuiteModule(const wchar_t* path, DWORD flags = LOAD_WITH_ALTERED_SEARCH_PATH);
