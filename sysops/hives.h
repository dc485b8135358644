// Per-user registry data: deleting a key from the hive of every user profile on the machine,
// mounting profile hives under HKEY_USERS as needed.
#pragma once
#include <windows.h>

#include "base/handles.h"

// Prefix of the names under which profile hives are mounted, so that they never collide
// with the hives Windows loads itself (named by the bare security identifier).
constexpr const wchar_t* kHiveMountPrefix = L"Vk_";

// Opens the root of a user hive:
//  - profileName given: the hive of that subkey of `profileList` (its "ProfileImagePath";
//    a folder gets the hive file name appended), mounted as HKEY_USERS\Vk_<profileName>.
//    When Windows has the hive loaded already (sharing violation) it is used in place as
//    HKEY_USERS\<profileName>.
//  - no profile name, bDefault: HKEY_USERS\.DEFAULT; neither: HKEY_CURRENT_USER.
// `mountName` (mountChars characters) receives the name to unmount with RegUnLoadKeyW after
// the returned key is closed; it is left empty when nothing has to be unmounted. Only when a
// key is returned does the caller unmount. Returns an empty key when nothing was opened.
UniqueRegKey regOpenProfileHive(const wchar_t* profileName, HKEY profileList, bool bDefault,
                                wchar_t* mountName, size_t mountChars = MAX_PATH);

// Deletes `key` (relative to a user hive root) with regDeleteTree from the hive of every
// profile in the profile list (HKEY_CURRENT_USER when the list is missing or empty), then
// from HKEY_USERS\.DEFAULT. Mounted hives are unmounted again. Always returns 0.
DWORD regDeleteTreeInAllProfiles(const wchar_t* key);
