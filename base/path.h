// Joining paths and locating shell folders: the one path-join rule of the program.
#pragma once
#include <windows.h>
#include <string>

// folder + name with exactly one backslash between them. An empty folder gives the name, an
// empty or null name gives the folder. A folder in double quotes keeps the quotes around the
// whole result; a name starting with ':' (a stream) follows the folder's last component
// directly; a name starting with '\' is appended as it is.
std::wstring JoinPath(const std::wstring& folder, const wchar_t* name);
inline std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
  return JoinPath(folder, name.c_str());
}

// SHGetSpecialFolderPathW (looked up in shell32.dll at run time, no creation) into buffer
// (MAX_PATH characters). Nonzero on success; 0 when shell32 or the function is missing.
BOOL GetSpecialFolder(wchar_t* buffer, int csidl);
