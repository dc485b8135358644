#include <gtest/gtest.h>

#include <string>

#include "sysops/files.h"
#include "tests/support/test_support.h"

using namespace qtxtest;

namespace {

// Writes `before`, strips, and returns what the file holds afterwards.
std::string Strip(const std::wstring& file, const std::string& before, DWORD* rc) {
  EXPECT_TRUE(WriteBytes(file, before));
  *rc = StripDriverLines(file.c_str());
  std::string after;
  EXPECT_TRUE(ReadBytes(file, &after));
  return after;
}

TEST(StripDriverLines, RemovesEveryMentioningLineInAnyCase) {
  std::wstring f = ScratchDir(L"strip many") + L"\\config.nt";
  DWORD rc = 1;
  EXPECT_EQ(Strip(f,
                  "device=%SystemRoot%\\qtxMonDS.sys\r\n"
                  "files=40\r\n"
                  "REM QTXMONDS.SYS QTXMONDS.SYS\r\n"
                  "dos=high\r\n"
                  "device=qtxmonds.sys.bak\r\n"
                  "rem qtxmonds.sy is not it\r\n"
                  "last qtxmonds.sys",
                  &rc),
            "files=40\r\ndos=high\r\nrem qtxmonds.sy is not it\r\n");
  EXPECT_EQ(rc, 0u);
  EXPECT_EQ(Strip(f, "qtxmonds.sys\nQtxMonDs.Sys\n", &rc), "");
  EXPECT_TRUE(PathExists(f));
}

TEST(StripDriverLines, TextWithoutMentionLosesOnlyATrailingEndOfFileMark) {
  std::wstring f = ScratchDir(L"strip none") + L"\\config.nt";
  DWORD rc = 1;
  EXPECT_EQ(Strip(f, "files=40\r\n\x1A" "dos=high\r\n\x1A\x1A", &rc), "files=40\r\n\x1A" "dos=high\r\n\x1A");
  EXPECT_EQ(rc, 0u);
  EXPECT_EQ(Strip(f, "no line feed", &rc), "no line feed");
  EXPECT_EQ(Strip(f, "", &rc), "");
  EXPECT_EQ(rc, 0u);
  // Bytes that are not text (here NULs) survive unchanged.
  EXPECT_EQ(Strip(f, std::string("a\0b\r\nqtxmonds.sys\r\nc\0", 22), &rc), std::string("a\0b\r\nc\0", 8));
}

TEST(StripDriverLines, FilesLargerThan32KiBAreHandled) {
  std::wstring f = ScratchDir(L"strip large") + L"\\config.nt";
  std::string keep;
  for (int i = 0; i < 2000; ++i) keep += "rem line " + std::to_string(i) + " of padding text\r\n";
  ASSERT_GT(keep.size(), 40000u);
  size_t cut = keep.find('\n', 30000) + 1;
  std::string before = "device=qtxmonds.sys\r\n" + keep.substr(0, cut) + "x QTXMONDS.SYS\r\n" +
                       keep.substr(cut) + "tail qtxmonds.sys\r\n\x1A";
  DWORD rc = 1;
  std::string after = Strip(f, before, &rc);
  EXPECT_EQ(rc, 0u);
  EXPECT_EQ(after.size(), keep.size());
  EXPECT_TRUE(after == keep);
}

TEST(StripDriverLines, MissingFileStaysMissing) {
  std::wstring dir = ScratchDir(L"strip missing");
  std::wstring f = dir + L"\\config.nt";
  EXPECT_EQ(StripDriverLines(f.c_str()), 0u);
  EXPECT_FALSE(PathExists(f));
  EXPECT_EQ(StripDriverLines((dir + L"\\no folder\\config.nt").c_str()), 0u);
  EXPECT_FALSE(PathExists(dir + L"\\no folder"));
}

TEST(StripDriverLines, FileThatCannotBeOpenedIsLeftUntouched) {
  std::wstring f = ScratchDir(L"strip locked") + L"\\config.nt";
  const std::string text = "device=qtxmonds.sys\r\nfiles=40\r\n";
  ASSERT_TRUE(WriteBytes(f, text));
  // Held by another without write sharing. (A read-only attribute does not do here: Wine
  // running as root opens read-only files for writing.)
  HANDLE lock = CreateFileW(f.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  EXPECT_EQ(StripDriverLines(f.c_str()), ERROR_ACCESS_DENIED);
  std::string after;
  EXPECT_TRUE(ReadBytes(f, &after));
  CloseHandle(lock);
  EXPECT_EQ(after, text);
}

}  // namespace
