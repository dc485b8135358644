// RegDeleteTreeW and the string security descriptor helpers are declared for Vista and later.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#include "tests/registry/reg_test_util.h"

#include <sddl.h>

namespace regtest {

namespace {
bool SetDacl(HKEY root, const std::wstring& path, const wchar_t* sddl, REGSAM view = 0) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, WRITE_DAC | view, &key) != ERROR_SUCCESS) return false;
  PSECURITY_DESCRIPTOR sd = nullptr;
  bool ok = ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr) &&
            RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd) == ERROR_SUCCESS;
  LocalFree(sd);
  RegCloseKey(key);
  return ok;
}
}  // namespace

bool KeyExists(HKEY root, const std::wstring& path, REGSAM view) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

bool MakeKey(HKEY root, const std::wstring& path, REGSAM view) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

void RemoveKey(HKEY root, const std::wstring& path, REGSAM view) {
  if (!KeyExists(root, path, view)) SetDacl(root, path, L"D:(A;;KA;;;WD)", view);
  for (const std::wstring& name : Subkeys(root, path, view)) RemoveKey(root, path + L"\\" + name, view);
  RegDeleteKeyExW(root, path.c_str(), view, 0);
}

bool SetValue(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, const void* data,
              DWORD size, REGSAM view) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  LSTATUS rc = RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

bool SetText(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text, REGSAM view) {
  return SetValue(root, path, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * 2), view);
}

bool GetValue(HKEY root, const std::wstring& path, const wchar_t* name, DWORD* type, std::vector<BYTE>* data,
              REGSAM view) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
  DWORD size = 0;
  LSTATUS rc = RegQueryValueExW(key, name, nullptr, type, nullptr, &size);
  if (rc == ERROR_SUCCESS) {
    data->assign(size, 0);
    rc = RegQueryValueExW(key, name, nullptr, type, data->data(), &size);
    data->resize(size);
  }
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

bool ValueExists(HKEY root, const std::wstring& path, const wchar_t* name, REGSAM view) {
  DWORD type;
  std::vector<BYTE> data;
  return GetValue(root, path, name, &type, &data, view);
}

std::vector<std::wstring> Subkeys(HKEY root, const std::wstring& path, REGSAM view) {
  std::vector<std::wstring> names;
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return names;
  wchar_t name[300];
  for (DWORD i = 0; RegEnumKeyW(key, i, name, 300) == ERROR_SUCCESS; ++i) names.push_back(name);
  RegCloseKey(key);
  return names;
}

bool Lock(HKEY root, const std::wstring& path) { return SetDacl(root, path, L"D:(D;;KA;;;WD)"); }
bool Unlock(HKEY root, const std::wstring& path) { return SetDacl(root, path, L"D:(A;;KA;;;WD)"); }

}  // namespace regtest
