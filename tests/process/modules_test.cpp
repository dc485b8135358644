#include "sysops/modules.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

using namespace qtxtest;

TEST(SuiteModules, OnlyAbsolutePathsReachTheLoader) {
  struct Case {
    const wchar_t* path;
    bool absolute;
  } const cases[] = {
      {L"C:\\Program Files\\Velko\\pmrBase.dll", true},
      {L"c:\\x.dll", true},
      {L"\\\\server\\share\\x.dll", true},
      {L"\\\\?\\C:\\x.dll", true},
      {L"", false},
      {L"pmrBase.dll", false},
      {L"Setup\\Setiface.dll", false},
      {L".\\x.dll", false},
      {L"..\\x.dll", false},
      {L"C:x.dll", false},
      {L"\\x.dll", false},
      {L"\\\\", false},
      {L"1:\\x.dll", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.absolute, IsAbsolutePath(c.path)) << c.path;
    if (c.absolute) continue;
    ClearLog();
    SetLastError(0);
    UniqueLibrary module = LoadSuiteModule(c.path);
    EXPECT_FALSE(module) << c.path;
    EXPECT_EQ(1, LogCount(std::wstring(L"Module \"") + c.path + L"\" skipped: no absolute path")) << c.path;
  }
  EXPECT_FALSE(IsAbsolutePath(nullptr));
}

TEST(SuiteModules, LoadsByAbsolutePathAndLogsNoFailedLoad) {
  wchar_t system[MAX_PATH];
  ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
  ClearLog();
  UniqueLibrary loaded = LoadSuiteModule((std::wstring(system) + L"\\version.dll").c_str());
  EXPECT_TRUE(loaded);
  UniqueLibrary missing = LoadSuiteModule(L"C:\\no such folder\\none.dll");
  EXPECT_FALSE(missing);
  EXPECT_EQ(std::wstring::npos, LogDump().find(L"no absolute path"));
}
