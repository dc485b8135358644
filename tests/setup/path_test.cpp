#include "base/path.h"

#include "base/dynapi.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

TEST(JoinPath, JoinsWithExactlyOneBackslash) {
  EXPECT_EQ(JoinPath(L"C:\\Folder", L"file.txt"), L"C:\\Folder\\file.txt");
  EXPECT_EQ(JoinPath(L"C:\\Folder\\", L"file.txt"), L"C:\\Folder\\file.txt");
  EXPECT_EQ(JoinPath(L"C:\\Folder", L"\\file.txt"), L"C:\\Folder\\file.txt");
  // Both sides bring a backslash: both are kept.
  EXPECT_EQ(JoinPath(L"C:\\Folder\\", L"\\file.txt"), L"C:\\Folder\\\\file.txt");
}

TEST(JoinPath, EmptySidesGiveTheOtherSide) {
  EXPECT_EQ(JoinPath(L"", L"file.txt"), L"file.txt");
  EXPECT_EQ(JoinPath(L"C:\\Folder", L""), L"C:\\Folder");
  EXPECT_EQ(JoinPath(L"C:\\Folder", static_cast<const wchar_t*>(nullptr)), L"C:\\Folder");
  EXPECT_EQ(JoinPath(L"", static_cast<const wchar_t*>(nullptr)), L"");
}

TEST(JoinPath, QuotedFolderKeepsQuotesAroundWholeResult) {
  EXPECT_EQ(JoinPath(L"\"C:\\Program Files\"", L"x.exe"), L"\"C:\\Program Files\\x.exe\"");
}

TEST(JoinPath, StreamNameFollowsLastComponentDirectly) {
  EXPECT_EQ(JoinPath(L"C:\\f.txt", L":Zone.Identifier"), L"C:\\f.txt:Zone.Identifier");
  EXPECT_EQ(JoinPath(L"C:\\f.txt\\", L":s"), L"C:\\f.txt:s");
}

TEST(JoinPath, QuotedFolderWithBackslashOrStream) {
  EXPECT_EQ(JoinPath(L"\"C:\\Program Files\\\"", L"x.exe"), L"\"C:\\Program Files\\x.exe\"");
  EXPECT_EQ(JoinPath(L"\"C:\\f.txt\"", L":s"), L"\"C:\\f.txt:s\"");
  // Only a folder that begins with a quote gets a closing one.
  EXPECT_EQ(JoinPath(L"C:\\Folder\"", L"x.exe"), L"C:\\Folder\\x.exe");
  EXPECT_EQ(JoinPath(L"\"C:\\Folder\"", L""), L"\"C:\\Folder\"");
}

TEST(GetSpecialFolder, ReturnsTheFolderAsTheProductSeesIt) {
  wchar_t buffer[MAX_PATH] = {0};
  ASSERT_TRUE(GetSpecialFolder(buffer, 0x23));  // CSIDL_COMMON_APPDATA
  EXPECT_NE(GetFileAttributesW(buffer), INVALID_FILE_ATTRIBUTES) << buffer;
  // The 32-bit product's common files are the x86 ones on 64-bit Windows.
  wchar_t expected[MAX_PATH] = {0};
  const wchar_t* own = qtxtest::On32BitWindows() ? L"%CommonProgramFiles%" : L"%CommonProgramFiles(x86)%";
  ASSERT_GT(ExpandEnvironmentStringsW(own, expected, MAX_PATH), 0u);
  ASSERT_TRUE(GetSpecialFolder(buffer, 0x2B));  // CSIDL_PROGRAM_FILES_COMMON
  EXPECT_EQ(_wcsicmp(buffer, expected), 0) << buffer;
  EXPECT_FALSE(GetSpecialFolder(nullptr, 0x23));
}

TEST(GetSpecialFolder, MissingExportGivesZero) {
  wchar_t buffer[MAX_PATH] = L"unchanged";
  OverrideProc("SHGetSpecialFolderPathW", nullptr);
  BOOL ok = GetSpecialFolder(buffer, 0x23);
  ClearProcOverrides();
  EXPECT_FALSE(ok);
  EXPECT_STREQ(buffer, L"unchanged");
}
