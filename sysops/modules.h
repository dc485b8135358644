// Loading the suite's own modules, and the process's DLL search order. The program runs
// elevated, and the loader searches the program's own folder and the current folder for a
// bare or relative name, both of which a standard user may be able to write: a suite module
// is therefore loaded only by an absolute path from a folder only administrators can change,
// and the search for everything else is limited to the system folder.
#pragma once
#include <windows.h>

#include "base/handles.h"

// True for "X:\..." and for UNC paths ("\\server\share\..."); false for null, "", bare names,
// relative paths and drive-relative forms such as "C:file".
bool IsAbsolutePath(const wchar_t* path);

// First thing in the process: limits the DLL search of every later load by bare name to the
// system folder (SetDefaultDllDirectories, looked up at run time) and logs "DLL search
// limited to the system folder". Where that is missing, takes the current folder out of the
// search (SetDllDirectoryW(L"")) and loads by full system path the system DLLs the run is
// known to load by bare name later, so that the loader finds them loaded instead of searching
// the program's folder; logs "DLL search not limited on this system: current folder removed,
// %u of %u system DLLs preloaded". True when the search is limited.
bool RestrictDllSearch();
// The names RestrictDllSearch preloads, and their count.
extern const wchar_t* const kPreloadedSystemDlls[];
extern const unsigned kPreloadedSystemDllCount;

// Loads path when it is absolute and its folder passes HoldTrustedFolder (held during the
// load): with LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32 where the search
// is limited, else with `flags`. A path that is not absolute is not handed to the loader:
// "Module \"%s\" skipped: no absolute path" (level min, category file) is logged and an empty
// owner returned. A failed load logs nothing and returns an empty owner with GetLastError()
// as the loader left it.
UniqueLibrary LoadSuiteModule(const wchar_t* path, DWORD flags = LOAD_WITH_ALTERED_SEARCH_PATH);

// The flags for a library loaded by full path whose own imports must come from its folder
// and the system folder: as LoadSuiteModule chooses them.
DWORD FullPathLoadFlags(DWORD fallback);
