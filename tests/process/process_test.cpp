#include "sysops/process.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/dynapi.h"
#include "tests/process/standin_support.h"
#include "tests/support/test_support.h"

using namespace qtxtest;

namespace {
std::vector<DWORD> g_foregroundAllowed;
BOOL WINAPI RecordAllowForeground(DWORD processId) {
  g_foregroundAllowed.push_back(processId);
  return TRUE;
}

std::wstring NotExecutedLine(const std::wstring& commandLine, DWORD code) {
  wchar_t text[1024];
  _snwprintf(text, 1024, L"ERROR:Not executed:%s, code:0x%08X", commandLine.c_str(), code);
  text[1023] = L'\0';
  return text;
}
const wchar_t* kSideBySideLine = L"The previous error is caused by side-by-side configuration";

class LaunchProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearLog();
    g_foregroundAllowed.clear();
    dir_ = ScratchDir(L"launch");
  }
  void TearDown() override { ClearProcOverrides(); }
  std::wstring dir_;
};
}  // namespace

TEST_F(LaunchProgramTest, MissingProgramReportsItsCode) {
  std::wstring command = L"\"" + dir_ + L"\\no such program.exe\" /x";
  DWORD error = 0xDEADBEEF;
  EXPECT_FALSE(LaunchProgram(&command[0], &error));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(LogHas(L"Executing:" + command, LOG_VRB, LOG_SYSTEM)) << Narrow(LogDump());
  EXPECT_TRUE(LogHas(NotExecutedLine(command, error), LOG_MIN, LOG_SYSTEM)) << Narrow(LogDump());
  EXPECT_FALSE(LogHas(L"Executed:" + command));
  EXPECT_FALSE(LogHas(kSideBySideLine));

  // Without an error pointer the failure is still logged.
  ClearLog();
  EXPECT_FALSE(LaunchProgram(&command[0], nullptr));
  EXPECT_TRUE(LogHas(NotExecutedLine(command, ERROR_FILE_NOT_FOUND), LOG_MIN, LOG_SYSTEM));
}

TEST_F(LaunchProgramTest, StartsProgramWithItsArgumentsAndDoesNotWait) {
  OverrideProc("AllowSetForegroundWindow", reinterpret_cast<FARPROC>(RecordAllowForeground));
  std::wstring out = dir_ + L"\\args.txt", gate = dir_ + L"\\gate";
  std::wstring command = L"\"" + BesideTestProgram(L"qtx_standin.exe") + L"\" \"" + out +
                         L"\" --gate \"" + gate + L"\" plain \"two words\" last";
  DWORD error = 0xDEADBEEF;
  ASSERT_TRUE(LaunchProgram(&command[0], &error)) << Narrow(LogDump());
  EXPECT_EQ(error, 0u);
  // The program waits for the gate, so its output can exist only if the call waited.
  EXPECT_FALSE(PathExists(out));
  ASSERT_TRUE(WriteBytes(gate, "open"));
  ASSERT_TRUE(WaitForFile(out, 30000));

  std::vector<std::wstring> lines = ReadLines(out);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1], L"plain");
  EXPECT_EQ(lines[2], L"two words");
  EXPECT_EQ(lines[3], L"last");
  // The new process - and only it - was allowed to the foreground.
  ASSERT_EQ(g_foregroundAllowed.size(), 1u);
  EXPECT_EQ(std::to_wstring(g_foregroundAllowed[0]), lines[0]);
  EXPECT_TRUE(LogHas(L"Executing:" + command, LOG_VRB, LOG_SYSTEM));
  EXPECT_TRUE(LogHas(L"Executed:" + command, LOG_VRB, LOG_SYSTEM));
}

TEST_F(LaunchProgramTest, StartsWhenForegroundPermissionIsMissing) {
  OverrideProc("AllowSetForegroundWindow", nullptr);
  std::wstring out = dir_ + L"\\plain.txt";
  std::wstring command = L"\"" + BesideTestProgram(L"qtx_standin.exe") + L"\" \"" + out + L"\" x";
  DWORD error = 0xDEADBEEF;
  ASSERT_TRUE(LaunchProgram(&command[0], &error));
  EXPECT_EQ(error, 0u);
  ASSERT_TRUE(WaitForFile(out, 30000));
  EXPECT_EQ(ReadLines(out).size(), 2u);
}

TEST_F(LaunchProgramTest, UnsatisfiedManifest) {
  // Keeps the test from touching the desktop: only the creation result matters here.
  OverrideProc("AllowSetForegroundWindow", reinterpret_cast<FARPROC>(RecordAllowForeground));
  std::wstring out = dir_ + L"\\sxs.txt";
  std::wstring command = L"\"" + BesideTestProgram(L"qtx_standin_sxs.exe") + L"\" \"" + out + L"\"";
  DWORD error = 0xDEADBEEF;
  bool started = LaunchProgram(&command[0], &error);
  if (!started) {
    // Windows refuses to create the process: both lines are logged.
    EXPECT_EQ(error, 14001u);
    EXPECT_TRUE(LogHas(NotExecutedLine(command, 14001), LOG_MIN, LOG_SYSTEM)) << Narrow(LogDump());
    EXPECT_TRUE(LogHas(kSideBySideLine, LOG_MIN, LOG_SYSTEM));
  } else {
    // Wine creates the process anyway (measured with Wine 8); then neither line may appear.
    EXPECT_EQ(error, 0u);
    EXPECT_FALSE(LogHas(kSideBySideLine));
    std::printf("note: the process with the unsatisfiable manifest was created\n");
    WaitForFile(out, 10000);
  }
}

namespace {
bool RestorePrivilegeEnabled() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  LUID luid;
  LookupPrivilegeValueW(nullptr, L"SeRestorePrivilege", &luid);
  std::vector<BYTE> info(4096);
  DWORD size = 0;
  bool enabled = false;
  if (GetTokenInformation(token, TokenPrivileges, info.data(), (DWORD)info.size(), &size)) {
    auto* privileges = reinterpret_cast<TOKEN_PRIVILEGES*>(info.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
      const LUID_AND_ATTRIBUTES& p = privileges->Privileges[i];
      if (p.Luid.LowPart == luid.LowPart && p.Luid.HighPart == luid.HighPart)
        enabled = (p.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
  }
  CloseHandle(token);
  return enabled;
}

void DisableRestorePrivilege() {
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
  TOKEN_PRIVILEGES tp = {};
  tp.PrivilegeCount = 1;
  LookupPrivilegeValueW(nullptr, L"SeRestorePrivilege", &tp.Privileges[0].Luid);
  AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr);
  CloseHandle(token);
}
}  // namespace

TEST(EnableRestorePrivilege, EnablesItInTheToken) {
  DisableRestorePrivilege();
  ASSERT_FALSE(RestorePrivilegeEnabled());
  EXPECT_EQ(EnableRestorePrivilege(), 0u);
  EXPECT_TRUE(RestorePrivilegeEnabled());
}

// One process can set its COM security only once, so the failures come first.
TEST(SetComSecurity, FailsWhenAFunctionIsMissingThenSucceeds) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  for (const char* name : {"InitializeSecurityDescriptor", "CreateWellKnownSid", "SetSecurityDescriptorDacl",
                           "SetSecurityDescriptorGroup", "SetSecurityDescriptorOwner", "SetEntriesInAclW"}) {
    OverrideProc(name, nullptr);
    EXPECT_FALSE(SetComSecurity()) << name;
    ClearProcOverrides();
  }
  // Wine 8 accepts any CoInitializeSecurity call (it does not refuse a second one with
  // RPC_E_TOO_LATE), so this checks that every step before it succeeded.
  EXPECT_TRUE(SetComSecurity());
  CoUninitialize();
}
