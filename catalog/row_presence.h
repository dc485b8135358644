// Presence tests shared by the registry and the file steps' probes: each only looks, and
// each answers for the view or folder the removal addresses.
#pragma once
#include <windows.h>

#include <string>

#include "base/regkey.h"
#include "catalog/probe.h"

namespace rowprobe {

inline const wchar_t* HiveName(HKEY root) {
  if (root == HKEY_LOCAL_MACHINE) return L"HKLM";
  if (root == HKEY_CURRENT_USER) return L"HKCU";
  if (root == HKEY_CLASSES_ROOT) return L"HKCR";
  if (root == HKEY_USERS) return L"HKU";
  return L"?";
}

inline std::wstring KeyName(HKEY root, const std::wstring& key) {
  return std::wstring(HiveName(root)) + L"\\" + key;
}

inline bool KeyPresent(HKEY root, const wchar_t* key, RegView view = RegView::Plain) {
  if (!key || !*key) return false;
  UniqueRegKey handle;
  return regOpenKey(root, key, KEY_READ, handle, view) == ERROR_SUCCESS;
}

inline bool ValuePresent(HKEY root, const wchar_t* key, const wchar_t* value, RegView view = RegView::Plain) {
  if (!key || !*key) return false;
  UniqueRegKey handle;
  if (regOpenKey(root, key, KEY_READ, handle, view) != ERROR_SUCCESS) return false;
  return RegQueryValueExW(handle.get(), value, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

// A file or folder at path; a locked one (access denied) counts as present.
inline bool PathPresent(const std::wstring& path, bool folder) {
  if (path.empty()) return false;
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError() == ERROR_ACCESS_DENIED;
  return ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == folder;
}

inline void Add(ResidueList& found, const wchar_t* kind, const std::wstring& what) {
  AddResidue(found, Residue{kind, what});
}

}  // namespace rowprobe
