#include "log/ufile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/support/test_support.h"

using qtxtest::PathExists;
using qtxtest::ReadBytes;
using qtxtest::ScratchDir;
using qtxtest::WriteBytes;

TEST(CUFile, OpenFailuresLeaveStateAlone) {
  std::wstring dir = ScratchDir(L"ufile_open");
  CUFile file;
  char buffer[4];
  EXPECT_FALSE(file.Read(buffer, 1, nullptr));
  EXPECT_EQ(file.lastError, 6u);
  EXPECT_FALSE(file.OpenRead((dir + L"\\missing.bin").c_str()));
  EXPECT_EQ(file.lastError, 2u);
  EXPECT_EQ(file.descriptor, -1);

  // A second open fails and leaves the first file open and untouched.
  std::wstring first = dir + L"\\first.bin", second = dir + L"\\second.bin";
  ASSERT_TRUE(WriteBytes(first, "abcd"));
  ASSERT_TRUE(file.OpenRead(first.c_str()));
  EXPECT_FALSE(file.Create(second.c_str()));
  EXPECT_EQ(file.lastError, 6u);
  EXPECT_FALSE(PathExists(second));
  EXPECT_TRUE(file.Read(buffer, 4, nullptr));
  EXPECT_EQ(std::string(buffer, 4), "abcd");

  // Closing twice is harmless and the object opens again.
  file.Close();
  file.Close();
  EXPECT_EQ(file.descriptor, -1);
  EXPECT_TRUE(file.OpenRead(first.c_str()));
}

TEST(CUFile, ShortReadReturnsFalseButKeepsTheBytes) {
  std::wstring path = ScratchDir(L"ufile_short") + L"\\four.bin";
  ASSERT_TRUE(WriteBytes(path, "WXYZ"));
  CUFile file;
  ASSERT_TRUE(file.OpenRead(path.c_str()));
  char buffer[10];
  memset(buffer, '-', sizeof buffer);
  uint32_t got = 99;
  EXPECT_FALSE(file.Read(buffer, 10, &got));
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(std::string(buffer, 5), "WXYZ-");
  EXPECT_EQ(file.position, 4);
  // End of file sets no error number; it is reported as such, not as a stale code.
  EXPECT_EQ(file.lastError, static_cast<DWORD>(ERROR_HANDLE_EOF));
}

TEST(CUFile, WriteSeekSizeAndTruncation) {
  std::wstring path = ScratchDir(L"ufile_write") + L"\\data.bin";
  ASSERT_TRUE(WriteBytes(path, "0123456789"));
  CUFile file;
  ASSERT_TRUE(file.OpenReadWrite(path.c_str()));
  EXPECT_EQ(file.GetSize(), 10);
  EXPECT_EQ(file.Seek(-2, SEEK_END), 8);
  uint32_t written = 0;
  ASSERT_TRUE(file.Write("abcdef", 6, &written));
  EXPECT_EQ(written, 6u);
  // The new size is found without moving the position.
  EXPECT_EQ(file.GetSize(), 14);
  EXPECT_EQ(file.Seek(0, SEEK_CUR), 14);
  EXPECT_EQ(file.Seek(2, SEEK_SET), 2);
  char* data = static_cast<char*>(file.ReadAlloc(4));
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(std::string(data, 4), "2345");
  file.FreeBuffer(data);
  file.Close();
  std::string bytes;
  ASSERT_TRUE(ReadBytes(path, &bytes));
  EXPECT_EQ(bytes, "01234567abcdef");

  ASSERT_TRUE(file.Create(path.c_str()));
  EXPECT_EQ(file.GetSize(), 0);
  file.Close();
  ASSERT_TRUE(ReadBytes(path, &bytes));
  EXPECT_EQ(bytes, "");
}

TEST(CUFile, DeleteOnClose) {
  std::wstring dir = ScratchDir(L"ufile_delete");
  std::wstring path = dir + L"\\temp.bin";
  {
    CUFile file;
    ASSERT_TRUE(file.Create(path.c_str()));
    file.DeleteOnClose(path.c_str());
    EXPECT_TRUE(PathExists(path));
  }  // destruction closes
  EXPECT_FALSE(PathExists(path));

  // Create disarms a deletion armed before it.
  CUFile file;
  file.DeleteOnClose(path.c_str());
  ASSERT_TRUE(file.Create(path.c_str()));
  file.Close();
  EXPECT_TRUE(PathExists(path));
}
