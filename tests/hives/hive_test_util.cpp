#include "tests/hives/hive_test_util.h"

#include "tests/registry/reg_test_util.h"
#include "tests/support/test_support.h"

namespace hivetest {

bool EnableHivePrivileges() {
  return qtxtest::EnablePrivilege(L"SeRestorePrivilege") && qtxtest::EnablePrivilege(L"SeBackupPrivilege");
}

bool BuildHive(const std::wstring& file, const std::vector<std::wstring>& keys, const std::wstring& scratch) {
  regtest::RemoveKey(HKEY_CURRENT_USER, scratch);
  for (const std::wstring& key : keys)
    if (!regtest::MakeKey(HKEY_CURRENT_USER, scratch + L"\\" + key)) return false;
  if (!regtest::MakeKey(HKEY_CURRENT_USER, scratch)) return false;
  DeleteFileW(file.c_str());
  HKEY root = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, scratch.c_str(), 0, KEY_READ, &root) != ERROR_SUCCESS) return false;
  LSTATUS rc = RegSaveKeyW(root, file.c_str(), nullptr);
  RegCloseKey(root);
  regtest::RemoveKey(HKEY_CURRENT_USER, scratch);
  return rc == ERROR_SUCCESS;
}

bool AddProfile(HKEY root, const std::wstring& list, const std::wstring& name, const std::wstring& imagePath,
                REGSAM view) {
  return regtest::SetValue(root, list + L"\\" + name, L"ProfileImagePath", REG_EXPAND_SZ, imagePath.c_str(),
                           static_cast<DWORD>((imagePath.size() + 1) * sizeof(wchar_t)), view);
}

HANDLE LockFile(const std::wstring& file) {
  return CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

}  // namespace hivetest
