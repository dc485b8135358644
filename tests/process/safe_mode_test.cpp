#include "app/safe_mode.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/process/standin_support.h"
#include "tests/support/test_support.h"

using namespace qtxtest;

namespace {
class BootIniTest : public ::testing::Test {
 protected:
  void SetUp() override { path_ = ScratchDir(L"bootini") + L"\\boot.ini"; }
  void Write(const std::string& text) { ASSERT_TRUE(WriteBytes(path_, text)); }
  std::wstring Entry(const wchar_t* key) {
    wchar_t value[1024] = {0};
    GetPrivateProfileStringW(L"operating systems", key, L"", value, 1024, path_.c_str());
    return value;
  }
  std::string Bytes() {
    std::string bytes;
    ReadBytes(path_, &bytes);
    return bytes;
  }
  std::wstring path_;
};

const char kTwoSystems[] =
    "[boot loader]\r\ntimeout=30\r\ndefault=multi(0)disk(0)rdisk(0)partition(2)\\WINDOWS\r\n"
    "[operating systems]\r\n"
    "multi(0)disk(0)rdisk(0)partition(1)\\WINNT=\"Windows 2000\" /fastdetect\r\n"
    "multi(0)disk(0)rdisk(0)partition(2)\\WINDOWS=\"Windows XP\" /noexecute=optin /fastdetect\r\n";
}  // namespace

TEST_F(BootIniTest, SingleEntryNamedByDefault) {
  Write("[boot loader]\r\ntimeout=30\r\ndefault=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS\r\n"
        "[operating systems]\r\nmulti(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Windows XP\" /fastdetect\r\n");
  EXPECT_TRUE(EditBootIniFile(path_.c_str(), true));
  EXPECT_EQ(Entry(L"multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS"),
            L"\"Windows XP\" /fastdetect /safeboot:minimal");
  EXPECT_TRUE(EditBootIniFile(path_.c_str(), false));
  EXPECT_EQ(Entry(L"multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS"), L"\"Windows XP\" /fastdetect");
}

TEST_F(BootIniTest, DefaultEntryOfSeveralIsEdited) {
  // The ARC name of the running system names neither entry, so the default one is taken.
  Write(kTwoSystems);
  EXPECT_TRUE(EditBootIniFile(path_.c_str(), true));
  EXPECT_EQ(Entry(L"multi(0)disk(0)rdisk(0)partition(2)\\WINDOWS"),
            L"\"Windows XP\" /noexecute=optin /fastdetect /safeboot:minimal");
  EXPECT_EQ(Entry(L"multi(0)disk(0)rdisk(0)partition(1)\\WINNT"), L"\"Windows 2000\" /fastdetect");
}

TEST_F(BootIniTest, DefaultNamingMissingEntryFallsBackToFirst) {
  std::string text = kTwoSystems;
  text.replace(text.find("partition(2)\\WINDOWS\r\n["), 20, "partition(9)\\WINDOWS");
  Write(text);
  EXPECT_TRUE(EditBootIniFile(path_.c_str(), true));
  EXPECT_EQ(Entry(L"multi(0)disk(0)rdisk(0)partition(1)\\WINNT"), L"\"Windows 2000\" /fastdetect /safeboot:minimal");
  EXPECT_EQ(Entry(L"multi(0)disk(0)rdisk(0)partition(2)\\WINDOWS"), L"\"Windows XP\" /noexecute=optin /fastdetect");
  EXPECT_EQ(Entry(L"multi(0)disk(0)rdisk(0)partition(9)\\WINDOWS"), L"");
}

TEST_F(BootIniTest, RemovesOptionAtTheEndInAnyCase) {
  Write("[operating systems]\r\nC:\\=\"Windows XP\" /fastdetect /SAFEBOOT:MINIMAL\r\n");
  EXPECT_TRUE(EditBootIniFile(path_.c_str(), false));
  EXPECT_EQ(Entry(L"C:\\"), L"\"Windows XP\" /fastdetect");
}

TEST_F(BootIniTest, OptionNotAtTheEndStays) {
  Write("[operating systems]\r\nC:\\=\"Windows XP\" /safeboot:minimal /fastdetect\r\n");
  EditBootIniFile(path_.c_str(), false);
  EXPECT_EQ(Entry(L"C:\\"), L"\"Windows XP\" /safeboot:minimal /fastdetect");
}

TEST_F(BootIniTest, AddingTwiceAppendsTwice) {
  Write("[operating systems]\r\nC:\\=\"Windows XP\"\r\n[boot loader]\r\ndefault=C:\\\r\n");
  EXPECT_TRUE(EditBootIniFile(path_.c_str(), true));
  EXPECT_TRUE(EditBootIniFile(path_.c_str(), true));
  EXPECT_EQ(Entry(L"C:\\").substr(Entry(L"C:\\").size() - 36), L" /safeboot:minimal /safeboot:minimal");
}

TEST_F(BootIniTest, EntryWhollyInQuotesKeepsThem) {
  // Reading strips the quotes around a whole value; the written entry must still have them.
  Write("[boot loader]\r\ndefault=c:\\winnt\r\n[operating systems]\r\nC:\\WINNT = \"Windows NT Workstation\"\r\n");
  EXPECT_TRUE(EditBootIniFile(path_.c_str(), true));
  EXPECT_NE(Bytes().find("=\"Windows NT Workstation\" /safeboot:minimal\r\n"), std::string::npos) << Bytes();
  EXPECT_TRUE(EditBootIniFile(path_.c_str(), false));
  EXPECT_NE(Bytes().find("=\"Windows NT Workstation\"\r\n"), std::string::npos) << Bytes();
}

TEST_F(BootIniTest, FileWithoutEntriesIsLeftAlone) {
  const std::string text = "[boot loader]\r\ndefault=C:\\\r\n[operating systems]\r\n";
  Write(text);
  EXPECT_FALSE(EditBootIniFile(path_.c_str(), true));
  EXPECT_EQ(Bytes(), text);
  std::wstring missing = path_ + L".missing";
  EXPECT_FALSE(EditBootIniFile(missing.c_str(), true));
  EXPECT_FALSE(PathExists(missing));
}

TEST_F(BootIniTest, EntriesThatDoNotFitAreNotWrittenBack) {
  // 300 characters: reading it cuts it, and writing that back would lose its end.
  const std::string longEntry = "[operating systems]\r\nC:\\=\"" + std::string(297, 'a') + "\"x\r\n";
  Write(longEntry);
  EXPECT_FALSE(EditBootIniFile(path_.c_str(), false));
  EXPECT_EQ(Bytes(), longEntry);
  // 250 characters fit, but not with the option behind them.
  const std::string nearlyFull = "[operating systems]\r\nC:\\=" + std::string(250, 'b') + "\r\n";
  Write(nearlyFull);
  EXPECT_FALSE(EditBootIniFile(path_.c_str(), true));
  EXPECT_EQ(Bytes(), nearlyFull);
}

TEST(EditBootIni, NoBootIniOnTheWindowsDrive) {
  wchar_t windows[MAX_PATH];
  ASSERT_GT(GetWindowsDirectoryW(windows, MAX_PATH), 2u);
  std::wstring bootIni = std::wstring(windows, 2) + L"\\boot.ini";
  if (PathExists(bootIni)) GTEST_SKIP() << "this system has a boot.ini";
  EXPECT_FALSE(EditBootIni(false));
  EXPECT_FALSE(PathExists(bootIni));
}

TEST(RunBootCommand, RunsFromTheSystemFolderAndWaits) {
  wchar_t system[MAX_PATH];
  ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
  std::wstring name = L"qtx_standin_" + std::to_wstring(GetCurrentProcessId()) + L".exe";
  std::wstring copy = std::wstring(system) + L"\\" + name;
  ASSERT_TRUE(CopyFileW(BesideTestProgram(L"qtx_standin.exe").c_str(), copy.c_str(), FALSE));
  std::wstring out = ScratchDir(L"bootcmd") + L"\\out.txt";

  RunBootCommand((name + L" \"" + out + L"\" /set safeboot minimal").c_str());
  // The program sleeps before it writes: the output is there only if the call waited.
  EXPECT_TRUE(PathExists(out));
  std::vector<std::wstring> lines = ReadLines(out);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1], L"/set");
  EXPECT_EQ(lines[3], L"minimal");

  // A command line longer than 259 characters would be cut: nothing is run.
  DeleteFileW(out.c_str());
  RunBootCommand((name + L" \"" + out + L"\" " + std::wstring(260, L'x')).c_str());
  EXPECT_FALSE(PathExists(out));
  DeleteFileW(copy.c_str());
}

TEST(RunBootCommand, MissingToolReturnsAtOnce) {
  // Wine has no bcdedit.exe: the start fails and the call returns without waiting.
  DWORD start = GetTickCount();
  RunBootCommand(L"qtx_no_such_tool.exe /deletevalue safeboot");
  RunBootCommand(L"bcdedit.exe /deletevalue safeboot");
  EXPECT_LT(GetTickCount() - start, 20000u);
}

TEST(RestartWindows, CallsTheHookInstead) {
  ClearLog();
  RestartRecorder restarts;
  RestartWindows();
  EXPECT_EQ(restarts.count(), 1);
  ASSERT_EQ(g_log.entries.size(), 1u) << Narrow(LogDump());
  EXPECT_TRUE(LogHas(L"Restart windows", LOG_VRB, LOG_SYSTEM));
}
