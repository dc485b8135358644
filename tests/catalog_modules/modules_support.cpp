#include "tests/catalog_modules/modules_support.h"

#include <shlobj.h>

#include "base/regkey.h"
#include "sysops/files.h"
#include "tests/process/standin_support.h"
#include "tests/support/test_support.h"

namespace qtxtest {

bool PlantStandin(const wchar_t* standin, const std::wstring& to) {
  std::wstring folder = to.substr(0, to.rfind(L'\\'));
  SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  return CopyFileW(standin, to.c_str(), FALSE) != FALSE;
}

std::vector<std::wstring> CallsOf(const std::wstring& module) { return ReadLines(module + L".calls"); }

SharedDllCount::SharedDllCount(const std::wstring& path, DWORD count) : path_(path) {
  UniqueRegKey key;
  if (regCreateKeyHandle(HKEY_LOCAL_MACHINE, kSharedDllsKey, KEY_SET_VALUE, key) == ERROR_SUCCESS)
    RegSetValueExW(key.get(), path.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), sizeof count);
}

SharedDllCount::~SharedDllCount() {
  UniqueRegKey key;
  if (regOpenKey(HKEY_LOCAL_MACHINE, kSharedDllsKey, KEY_SET_VALUE, key) == ERROR_SUCCESS)
    RegDeleteValueW(key.get(), path_.c_str());
}

HelperRun WaitForHelperRun(const std::wstring& folder) {
  std::wstring record = folder + L"\\qtxRegSvr64-called.txt";
  HelperRun run;
  if (!WaitForFile(record, 30000)) return run;
  std::vector<std::wstring> lines = ReadLines(record);
  if (lines.size() == 3) run = {lines[0], lines[1], lines[2]};
  DeleteFileW(record.c_str());
  return run;
}

}  // namespace qtxtest
