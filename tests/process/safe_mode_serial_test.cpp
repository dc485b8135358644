// Tests that change fixed places of the machine: the self-copy in the Windows temporary
// folder and the RunOnce value.
#include "app/safe_mode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

using namespace qtxtest;

namespace {
constexpr const wchar_t* kRunOnce = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

// The value as the 32-bit product sees it: in the 32-bit view.
bool ReadRunOnce(DWORD* type, std::vector<BYTE>* data) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunOnce, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key)) return false;
  DWORD size = 0;
  LSTATUS rc = RegQueryValueExW(key, L"*qtxClear", nullptr, type, nullptr, &size);
  if (rc == ERROR_SUCCESS) {
    data->resize(size);
    rc = RegQueryValueExW(key, L"*qtxClear", nullptr, type, data->data(), &size);
  }
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

void RestoreRunOnce(bool had, DWORD type, const std::vector<BYTE>& data) {
  HKEY key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunOnce, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, &key), 0);
  if (had)
    RegSetValueExW(key, L"*qtxClear", 0, type, data.data(), (DWORD)data.size());
  else
    RegDeleteValueW(key, L"*qtxClear");
  RegCloseKey(key);
}
}  // namespace

TEST(RegisterRunOnce, WritesThePathInQuotesWithItsTerminator) {
  DWORD savedType = 0;
  std::vector<BYTE> saved;
  bool had = ReadRunOnce(&savedType, &saved);

  const std::wstring path = L"C:\\Windows\\Temp\\qtxClear-{x}\\qtxClear.exe";
  const std::wstring quoted = L"\"" + path + L"\"";
  EXPECT_TRUE(RegisterRunOnce(path.c_str()));
  DWORD type = 0;
  std::vector<BYTE> data;
  ASSERT_TRUE(ReadRunOnce(&type, &data));
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  ASSERT_EQ(data.size(), (quoted.size() + 1) * sizeof(wchar_t));
  EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(data.data())), quoted);
  EXPECT_EQ(reinterpret_cast<const wchar_t*>(data.data())[quoted.size()], L'\0');

  RestoreRunOnce(had, savedType, saved);
}

TEST(CopySelf, CopiesIntoANewFolderInTheWindowsTemporaryFolder) {
  wchar_t windows[MAX_PATH];
  ASSERT_GT(GetSystemWindowsDirectoryW(windows, MAX_PATH), 0u);
  const std::wstring prefix = std::wstring(windows) + L"\\Temp\\qtxClear-";

  wchar_t self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  wchar_t path[MAX_PATH];
  wcscpy(path, self);
  ASSERT_TRUE(CopySelf(path));
  const std::wstring target = path;
  EXPECT_EQ(_wcsnicmp(target.c_str(), prefix.c_str(), prefix.size()), 0) << Narrow(target);
  EXPECT_EQ(target.substr(target.rfind(L'\\')), L"\\qtxClear.exe");
  std::string original, copy;
  ASSERT_TRUE(ReadBytes(self, &original));
  ASSERT_TRUE(ReadBytes(target, &copy));
  EXPECT_TRUE(original == copy);

  // Whatever lies at the start path now, the copy is the running program's own file, read
  // through the handle held since start-up.
  std::wstring planted = ScratchDir(L"copyself") + L"\\planted.exe";
  ASSERT_TRUE(WriteBytes(planted, "not the program"));
  wcscpy(path, planted.c_str());
  ASSERT_TRUE(CopySelf(path));
  const std::wstring second = path;
  EXPECT_NE(second, target);
  ASSERT_TRUE(ReadBytes(second, &copy));
  EXPECT_TRUE(original == copy);

  for (const std::wstring& made : {target, second}) {
    DeleteFileW(made.c_str());
    RemoveDirectoryW(made.substr(0, made.rfind(L'\\')).c_str());
  }
}
