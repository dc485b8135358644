// The WOW64 decisions (base/wow64.cpp) judged by what they reach, with the same expectations in
// the 64-bit build (standing in for the 32-bit program), in the 32-bit build under Wine's own
// WOW64 and in the 32-bit build on 32-bit Windows.
#include "base/wow64.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>

#include "base/path.h"
#include "tests/support/test_support.h"

using namespace qtxtest;

namespace {
const wchar_t kVersionKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion";

// A value of the 32-bit registry view, read as itself (the one view on 32-bit Windows).
std::wstring View32Text(const wchar_t* key, const wchar_t* name) {
  HKEY h = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | KEY_WOW64_32KEY, &h) != ERROR_SUCCESS) return L"<missing>";
  wchar_t text[MAX_PATH] = {0};
  DWORD type = 0, size = sizeof text - sizeof(wchar_t);
  LSTATUS rc = RegQueryValueExW(h, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
  RegCloseKey(h);
  return rc == ERROR_SUCCESS && type == REG_SZ ? text : L"<missing>";
}
bool KeyIn(const wchar_t* key, REGSAM view) {
  HKEY h = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ | view, &h) != ERROR_SUCCESS) return false;
  RegCloseKey(h);
  return true;
}
bool FileAsItself(const std::wstring& path) {
  FsRedirectionOff off;
  return PathExists(path);
}
}  // namespace

TEST(Wow64Decisions, ReachWhatThe32BitProgramReaches) {
  const bool x64 = !On32BitWindows();
  EXPECT_EQ(RunsAsWow64Process(), x64);
  EXPECT_EQ(NativeWow64Kind(), x64 ? Wow64Kind::Amd64 : Wow64Kind::None);

  // The own registry view is the 32-bit one; the 64-bit view (on 64-bit Windows) is not touched.
  const wchar_t* key = L"Software\\QtxTests\\wow64_decisions";
  HKEY h = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_WRITE | OwnRegistryView(), nullptr, &h,
                            nullptr), ERROR_SUCCESS);
  RegCloseKey(h);
  EXPECT_TRUE(KeyIn(key, KEY_WOW64_32KEY));
  EXPECT_EQ(KeyIn(key, KEY_WOW64_64KEY), !x64);
  EXPECT_EQ(DeleteRegKeyInOwnView(HKEY_LOCAL_MACHINE, key), ERROR_SUCCESS);
  EXPECT_FALSE(KeyIn(key, KEY_WOW64_32KEY));

  // The system folder as the program names it is the 32-bit one.
  wchar_t system[MAX_PATH] = {0}, wow[MAX_PATH] = {0};
  ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
  if (!GetSystemWow64DirectoryW(wow, MAX_PATH)) wcscpy(wow, system);
  const std::wstring name = L"\\qtx_wow64_" + std::to_wstring(GetCurrentProcessId()) + L".tmp";
  ASSERT_TRUE(WriteBytes(AsRedirectedPath(system + name), "x"));
  EXPECT_TRUE(FileAsItself(wow + name));
  EXPECT_EQ(FileAsItself(system + name), !x64);
  DeleteFileW(AsRedirectedPath(system + name).c_str());

  // Program and common files, from the environment and the folder functions, are the 32-bit
  // view's folders.
  const std::wstring programFiles = View32Text(kVersionKey, L"ProgramFilesDir");
  const std::wstring commonFiles = View32Text(kVersionKey, L"CommonFilesDir");
  EXPECT_EQ(ExpandEnvironmentAs32Bit(L"%ProgramFiles%\\x", MAX_PATH), programFiles + L"\\x");
  EXPECT_EQ(ExpandEnvironmentAs32Bit(L"%CommonProgramFiles%", MAX_PATH), commonFiles);
  wchar_t folder[MAX_PATH] = {0};
  ASSERT_TRUE(GetSpecialFolder(folder, CSIDL_PROGRAM_FILES));
  EXPECT_EQ(_wcsicmp(folder, programFiles.c_str()), 0) << Narrow(folder);
  // The system folder function names System32 in the 32-bit program (Windows redirects it)
  // and SysWOW64 in the 64-bit build: both reach the 32-bit system folder.
  ASSERT_TRUE(GetSpecialFolder(folder, CSIDL_SYSTEM));
  ASSERT_TRUE(WriteBytes(folder + name, "x"));
  EXPECT_TRUE(FileAsItself(wow + name)) << Narrow(folder);
  EXPECT_EQ(FileAsItself(system + name), !x64);
  DeleteFileW((folder + name).c_str());
}
