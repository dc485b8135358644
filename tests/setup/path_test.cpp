#include "sysops/path.h"

#include <gtest/gtest.h>

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
