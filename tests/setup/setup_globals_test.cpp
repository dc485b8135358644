// The run environment in the 64-bit prefix: path macros, kind flags, operation names.
#include "setup/setup_globals.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <vector>

#include "app/app_state.h"
#include "sysops/registry.h"
#include "tests/support/test_support.h"

using namespace qtxtest;

namespace {
std::wstring SysFolder(UINT(WINAPI* get)(LPWSTR, UINT)) {
  wchar_t buffer[MAX_PATH];
  get(buffer, MAX_PATH);
  return buffer;
}
std::wstring Env(const wchar_t* name) {
  wchar_t buffer[MAX_PATH] = {0};
  GetEnvironmentVariableW(name, buffer, MAX_PATH);
  return buffer;
}
// What 64-bit Windows names `name` + "(x86)" (or `native`, for the native folder), as the
// environment of the test prefix gives it; 32-bit Windows has only the plain name.
std::wstring X86(const std::wstring& name) { return Env((On32BitWindows() ? name : name + L"(x86)").c_str()); }
std::wstring Native(const wchar_t* native, const wchar_t* name) { return Env(On32BitWindows() ? name : native); }

class Expansion : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    g_setup.Init();
  }
};
}  // namespace

TEST_F(Expansion, SysIsThe32BitSystemFolderAndSys64TheNativeOne) {
  wchar_t wow[MAX_PATH];
  // 32-bit Windows has one system folder, which both name.
  if (On32BitWindows()) GetSystemDirectoryW(wow, MAX_PATH);
  else ASSERT_GT(GetSystemWow64DirectoryW(wow, MAX_PATH), 0u);
  EXPECT_EQ(g_setup.Expand(L"%SYS%"), wow);
  EXPECT_EQ(g_setup.Expand(L"%SYS64%"), SysFolder(GetSystemDirectoryW));
  EXPECT_EQ(g_setup.Expand(L"%SYS%") == g_setup.Expand(L"%SYS64%"), On32BitWindows());
  EXPECT_EQ(g_setup.Expand(L"%SYS64%", L"drivers\\qtxmon.sys"), SysFolder(GetSystemDirectoryW) + L"\\drivers\\qtxmon.sys");
  EXPECT_EQ(g_setup.Expand(L"%SYS%\\config.nt"), std::wstring(wow) + L"\\config.nt");
}

TEST_F(Expansion, MacrosIgnoreCase) {
  EXPECT_EQ(g_setup.Expand(L"%sys%\\a.dll"), g_setup.Expand(L"%SYS%\\a.dll"));
  EXPECT_EQ(g_setup.Expand(L"%WinDir%"), SysFolder(GetWindowsDirectoryW));
  g_setup.installFolder = L"C:\\Inst";
  EXPECT_EQ(g_setup.Expand(L"%ropath%\\bin"), L"C:\\Inst\\bin");
}

TEST_F(Expansion, ProgramFilesAreThoseA32BitProgramSees) {
  const std::wstring native = Native(L"ProgramW6432", L"ProgramFiles");
  ASSERT_FALSE(native.empty());
  EXPECT_EQ(g_setup.Expand(L"%PRGFILES%"), native);
  EXPECT_EQ(g_setup.Expand(L"%PRGFILES%", L"x"), native + L"\\x");
  // The 32-bit product's %CommonProgramFiles% is the x86 one.
  EXPECT_EQ(g_setup.Expand(L"%CommonProgramFiles%"), X86(L"CommonProgramFiles"));
  EXPECT_EQ(g_setup.Expand(L"%ProgramFiles%\\y"), X86(L"ProgramFiles") + L"\\y");
  EXPECT_EQ(g_setup.Expand(L"%WHSPATH%"), native + L"\\Windows Home Server");
  g_setup.whsFolder = L"D:\\WHS";
  EXPECT_EQ(g_setup.Expand(L"%WHSPATH%\\Bin"), L"D:\\WHS\\Bin");
}

// Machine folders do not follow the environment, which an elevated process inherits from the
// user's own HKCU\Environment; profile paths take only the system's variables.
TEST_F(Expansion, MachineFoldersIgnoreWhatTheUserSetInTheEnvironment) {
  const std::wstring prg = g_setup.Expand(L"%PRGFILES%"), common = g_setup.Expand(L"%CommonProgramFiles%");
  // 32-bit Windows has no native program-files folder: the add-in path names nothing there.
  const std::wstring addin = g_setup.Expand(L"%ProgramW6432%\\a.addin");
  EXPECT_EQ(addin, On32BitWindows() ? L"" : prg + L"\\a.addin");
  const wchar_t* const variables[] = {L"ProgramW6432", L"CommonProgramFiles", L"CommonProgramFiles(x86)",
                                      L"ProgramFiles", L"ProgramFiles(x86)", L"SystemRoot", L"SystemDrive"};
  std::vector<std::wstring> saved;
  for (const wchar_t* v : variables) {
    saved.push_back(Env(v));
    SetEnvironmentVariableW(v, L"C:\\Users\\Public\\planted");
  }
  EXPECT_EQ(g_setup.Expand(L"%PRGFILES%"), prg);
  EXPECT_EQ(g_setup.Expand(L"%CommonProgramFiles%"), common);
  EXPECT_EQ(g_setup.Expand(L"%ProgramW6432%\\a.addin"), addin);
  EXPECT_EQ(g_setup.Expand(L"%ProgramW6432%", L"a.addin"), addin);
  EXPECT_EQ(ExpandSystemVariables(L"%SystemDrive%\\Users\\x"), SysFolder(GetWindowsDirectoryW).substr(0, 2) + L"\\Users\\x");
  EXPECT_EQ(ExpandSystemVariables(L"%SystemRoot%\\p"), SysFolder(GetWindowsDirectoryW) + L"\\p");
  EXPECT_EQ(ExpandSystemVariables(L"C:\\plain"), L"C:\\plain");
  EXPECT_EQ(ExpandSystemVariables(L"%USERPROFILE%\\x"), L"");
  EXPECT_EQ(ExpandSystemVariables(L"%SystemDrive\\x"), L"");
  for (size_t i = 0; i < saved.size(); ++i) SetEnvironmentVariableW(variables[i], saved[i].c_str());
}

TEST_F(Expansion, GenericMacrosBuildOnTheProgramFolder) {
  g_setup.installFolder = L"C:\\Velko";
  EXPECT_EQ(g_setup.Expand(L"%SETUPPATH%"), L"C:\\Velko\\Setup");
  EXPECT_EQ(g_setup.Expand(L"%ADMINPATH%"), L"C:\\Velko\\Setup\\admin");
  EXPECT_EQ(g_setup.Expand(L"%QTXLOGPATH%"), L"C:\\Velko\\DATA\\LOG");
  EXPECT_EQ(g_setup.Expand(L"%ISAPATH%"), L"C:\\Velko");  // no ISA server in the prefix
  EXPECT_EQ(g_setup.Expand(L"."), g_setup.moduleFolder);
  EXPECT_EQ(g_setup.Expand(L".", L"setup.ini"), g_setup.moduleFolder + L"\\setup.ini");
  EXPECT_EQ(g_setup.Expand(L"%ADMINSRCPATH%"), g_setup.moduleFolder);
  g_setup.tempFolder = L"";
  EXPECT_EQ(g_setup.Expand(L"%TEMP%", L"x"), L"x");
}

TEST_F(Expansion, TrailingBackslashesGoAndNullGivesEmpty) {
  EXPECT_EQ(g_setup.Expand(L"C:\\dir\\\\\\"), L"C:\\dir");
  EXPECT_EQ(g_setup.Expand(L"C:\\dir\\", L"f.txt"), L"C:\\dir\\f.txt");
  EXPECT_EQ(g_setup.Expand(nullptr), L"");
  EXPECT_EQ(g_setup.Expand(nullptr, L"tail"), L"");
  std::wstring result = L"old", dest = L"old";
  EXPECT_EQ(g_setup.ExpandPath(result, dest, L"%SYS64%", L"t"), dest);
  EXPECT_EQ(result, SysFolder(GetSystemDirectoryW) + L"\\t");
}

TEST_F(Expansion, EnvironmentVariablesAndPlainPathsPassThrough) {
  EXPECT_EQ(g_setup.Expand(L"%SystemRoot%\\x"), Env(L"SystemRoot") + L"\\x");
  EXPECT_EQ(g_setup.Expand(L"D:\\plain\\path"), L"D:\\plain\\path");
}

TEST_F(Expansion, DataPathComesFromTheProductKeyOrTheCommonDataFolder) {
  const wchar_t* key = L"Software\\QtxTests\\setup_tests\\Product";
  regSetString(key, HKEY_LOCAL_MACHINE, L"DataFolder", L"E:\\VelkoData");
  g_productRegistryKey = key;
  EXPECT_EQ(g_setup.Expand(L"%RWPATH%\\Quarantine"), L"E:\\VelkoData\\Quarantine");

  wchar_t common[MAX_PATH];
  ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, common, CSIDL_COMMON_APPDATA, FALSE));
  std::wstring fallback = std::wstring(common) + L"\\VELKO Software\\Velko";
  regSetString(key, HKEY_LOCAL_MACHINE, L"DataFolder", L"");
  EXPECT_EQ(g_setup.Expand(L"%RWPATH%"), fallback);
  g_productRegistryKey = L"Software\\QtxTests\\setup_tests\\Missing";
  EXPECT_EQ(g_setup.Expand(L"%RWPATH%"), fallback);
  g_productRegistryKey.clear();
  EXPECT_EQ(g_setup.Expand(L"%RWPATH%"), fallback);
  regDeleteOneKey(HKEY_LOCAL_MACHINE, key, RegView::Plain);
  regDeleteOneKey(HKEY_LOCAL_MACHINE, L"Software\\QtxTests\\setup_tests", RegView::Plain);
}

TEST(KindFlags, SixtyFourBitWorkstationOfTheDefaultPrefix) {
  // The default prefix claims 64-bit Windows 7, a workstation. The 64-bit build stands for
  // the 32-bit product under WOW64 on an AMD64 processor. A 32-bit prefix is 32-bit Windows 7.
  const bool x64 = !On32BitWindows();
  EXPECT_TRUE(g_setup.IsOS(OS_NT));
  EXPECT_TRUE(g_setup.IsOS(OS_XP_OR_LATER));
  EXPECT_TRUE(g_setup.IsOS(OS_VISTA_7));
  EXPECT_EQ(g_setup.IsOS(OS_X64), x64);
  EXPECT_FALSE(g_setup.IsOS(OS_WOW64));
  EXPECT_FALSE(g_setup.IsOS(OS_SERVER));
  EXPECT_FALSE(g_setup.IsOS(OS_9X | OS_95 | OS_98 | OS_ME | OS_NT4 | OS_2000));
  EXPECT_FALSE(g_setup.IsOS(OS_WHS | OS_SBS));
  EXPECT_EQ(g_setup.IsOS(OS_WOW64 | OS_X64), x64);  // any bit of the mask
}

TEST(Operation, NamesAndTheLogLine) {
  EXPECT_STREQ(InstOpName(0), L"INST_OP_UNKNOWN");
  EXPECT_STREQ(InstOpName(16), L"INST_OP_UPD_SETIFACE");
  EXPECT_STREQ(InstOpName(28), L"INST_OP_INSTALL_LANGUAGES");
  EXPECT_STREQ(InstOpName(13), L"INST_OP_[13]");
  EXPECT_STREQ(InstOpName(-2147483647 - 1), L"INST_OP_[-2147483648]");
  ClearLog();
  g_setup.SetOperation(13);
  EXPECT_TRUE(LogHas(L"Operation set to INST_OP_[13]", LOG_VRB, LOG_GENERAL));
  EXPECT_EQ(g_setup.operation, 13);
  g_setup.SetOperation(0);
}

TEST(Init, FillsTheRunEnvironment) {
  ClearLog();
  g_setup.UiMode = VerySilent;
  g_setup.RestartNeeded = false;
  ASSERT_TRUE(g_setup.Init());
  EXPECT_EQ(g_log.entries.front().text, L"Operation set to INST_OP_UNKNOWN");
  EXPECT_EQ(g_setup.UiMode, Interactive);
  EXPECT_TRUE(g_setup.RestartNeeded);
  EXPECT_EQ(g_setup.language, 1033);
  EXPECT_EQ(g_setup.operation, INST_OP_UNKNOWN);
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  EXPECT_EQ(g_setup.moduleFolder + L"\\", std::wstring(self).substr(0, g_setup.moduleFolder.size() + 1));
  EXPECT_EQ(g_setup.moduleFolder.find(L"setup_tests.exe"), std::wstring::npos);
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  GetComputerNameW(name, &size);
  EXPECT_EQ(g_setup.computerName, name);
  EXPECT_EQ(g_setup.osVersion.dwOSVersionInfoSize, 284u);
  EXPECT_EQ(g_setup.osVersion.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
  EXPECT_EQ(g_setup.persistentGuid.size(), 36u);
  EXPECT_FALSE(g_setup.isaServerPresent);
  EXPECT_EQ(g_setup.setupVersion, -1);
  EXPECT_TRUE(LogHas(L"Old version: ffffffff (-1)", LOG_MIN, LOG_GENERAL)) << LogDump();
}

TEST(VersionAtLeast, ComparesVersionThenServicePackOnNt) {
  SetupGlobalsWin32& s = g_setup;
  OSVERSIONINFOEXW saved = s.osVersion;
  DWORD savedSp = s.csdVersionNumber;
  s.osVersion.dwPlatformId = VER_PLATFORM_WIN32_NT;
  s.osVersion.dwMajorVersion = 5;
  s.osVersion.dwMinorVersion = 1;
  s.csdVersionNumber = 0x200;
  EXPECT_TRUE(s.IsOSVersionAtLeast(5, 0, 0x400));   // newer minor: service pack not asked
  EXPECT_TRUE(s.IsOSVersionAtLeast(4, 9, 0));
  EXPECT_FALSE(s.IsOSVersionAtLeast(6, 0, 0));
  EXPECT_FALSE(s.IsOSVersionAtLeast(5, 2, 0));
  EXPECT_TRUE(s.IsOSVersionAtLeast(5, 1, 0));
  EXPECT_TRUE(s.IsOSVersionAtLeast(5, 1, 0x200));
  EXPECT_FALSE(s.IsOSVersionAtLeast(5, 1, 0x300));
  s.osVersion.dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;  // service packs count only on NT
  EXPECT_TRUE(s.IsOSVersionAtLeast(5, 1, 0x300));
  s.osVersion = saved;
  s.csdVersionNumber = savedSp;
}
