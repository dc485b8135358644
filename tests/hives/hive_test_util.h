// Hive files for the profile tests, written by RegSaveKeyW (Wine's own hive format).
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace hivetest {

// Enables the backup and restore privileges that saving and loading hives need.
bool EnableHivePrivileges();
// Writes a hive file holding the given key paths (relative to the hive root). `scratch` is a
// key under HKEY_CURRENT_USER used for building it and removed again.
bool BuildHive(const std::wstring& file, const std::vector<std::wstring>& keys, const std::wstring& scratch);
// Adds a profile subkey with "ProfileImagePath" (REG_EXPAND_SZ) to the list at root\list.
bool AddProfile(HKEY root, const std::wstring& list, const std::wstring& name, const std::wstring& imagePath,
                REGSAM view = 0);
// Opens a file without sharing, as Windows holds the hive file of a loaded profile.
HANDLE LockFile(const std::wstring& file);

}  // namespace hivetest
