// File and folder deletion: single files (with the shared-library rule and the fallback to
// deletion at the next restart), folder trees, files in the native system folder, shell
// folder items, short path names and the driver lines of a text file. Nothing here stops
// the run: failures come back as Windows error codes or flags and are logged (category
// "file") where they happen.
#pragma once
#include <windows.h>

#include <string>

#include "base/handles.h"

// HKEY_LOCAL_MACHINE key whose DWORD values, named by full file paths, count the programs
// that share a file.
constexpr const wchar_t* kSharedDllsKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

// True when the folder holds nothing but "." and "..", or cannot be listed.
bool IsFolderEmpty(const wchar_t* folder);

// FindFirstFileW of JoinPath(folder, pattern); `data` receives the first entry.
UniqueFindHandle FindFirstIn(const wchar_t* folder, const wchar_t* pattern, WIN32_FIND_DATAW* data);

// Deletes a file unless its SharedDLLs count is nonzero (then it is left alone for good).
// 0 when done, absent or shared; otherwise the code of DeleteFileOrQueue.
DWORD DeleteFileUnlessShared(const wchar_t* path, bool rebootFallback, bool rebootOnly);

// Clears the file's attributes and deletes it. Without rebootOnly the delete is tried now;
// what is not deleted now is queued for the next restart when rebootFallback is set (once:
// a path already queued is not queued again). 2 when the file does not exist.
DWORD DeleteFileOrQueue(const wchar_t* path, bool rebootFallback, bool rebootOnly);

// Empties and removes every folder matching pathPattern (last component may hold
// wildcards), depth first: the entries matching `mask` are deleted, subfolders walked
// when `recurse` is set, then the folder itself removed - or, with rebootFallback, queued
// after its contents. Returns the last failure that counts (0 = none).
// A link (junction, symbolic link, any reparse point) is never entered, neither inside a
// folder nor as a matched folder: the link itself is removed and logged ("Removed link (not
// followed): %s"), or, when it cannot be removed, logged ("Cannot remove link, left in place
// (not followed): %s (0x%08lX)") and left; nothing is queued for the restart through it.
DWORD RemoveTree(const wchar_t* pathPattern, const wchar_t* mask, bool recurse, bool rebootFallback,
                 bool rebootOnly);

// Why a user could rename or replace a folder above `folder` (read up to a system folder or the
// root, through handles that follow no link): a locked folder below could then be moved aside
// after the run and a link put in its place, so nothing is queued below it. Null when they
// hold firm; otherwise the reason, with the folder that gives way in *parent.
const wchar_t* ParentsFault(const std::wstring& folder, std::wstring* parent);

// DeleteFileW with WOW64 file-system redirection switched off for the call, so that the
// native system folder is reached. Returns DeleteFileW's result; logs nothing.
BOOL DeleteFileUnredirected(const wchar_t* path);

// The all-users Desktop / Programs folder (the current user's on systems outside the NT
// family) from the Explorer shell-folder key, into buffer (MAX_PATH characters, cleared
// first). Returns the registry code; 0 = buffer filled.
DWORD GetDesktopFolder(wchar_t* buffer);
DWORD GetProgramsFolder(wchar_t* buffer);

// DeleteFileW of the item in the Desktop folder. Nonzero when deleted; 0 (nothing done)
// also when the Desktop folder cannot be read.
BOOL DeleteDesktopItem(const wchar_t* name);

// Deletes the files of a Programs group and the group folder when that left it empty
// (subfolders are not entered). RemoveTree's result; when the Programs folder cannot be
// read nothing is done and the lookup's error code is returned.
DWORD RemoveProgramsGroup(const wchar_t* name);

// The form of `path` used as restart-queue key, into out (size characters, terminator
// included): the 8.3 form where the volume makes short names; for a vanished file the
// parent's 8.3 form with the long last component; otherwise the path in double quotes,
// cut to fit. Returns 87 for a missing argument, else a length or the last short-name
// lookup's result.
DWORD ShortPathForm(wchar_t* out, const wchar_t* path, DWORD size);

// True when the volume makes no 8.3 names ("NtfsDisable8dot3NameCreation" nonzero), which
// ShortPathForm reads on every call; ShortPathFormAs takes it from a caller that read it
// once and derives many forms.
bool ShortNamesDisabled();
DWORD ShortPathFormAs(wchar_t* out, const wchar_t* path, DWORD size, bool shortNamesDisabled);

// Removes every line that names the suite's legacy driver file from an 8-bit text file
// and drops a trailing end-of-file mark (0x1A). A missing file is left missing (0).
DWORD StripDriverLines(const wchar_t* path);
