// Machine-wide facts of the run environment: product type, other Windows versions (Wine's
// per-program version setting, read when a process starts), the ISA server, setup.ini and
// the persistent GUID. Runs alone: it changes keys every other test may read.
#include <gtest/gtest.h>

#include "setup/setup_globals.h"
#include "sysops/registry.h"
#include "tests/support/test_support.h"

using namespace qtxtest;

namespace {
const wchar_t kProductOptions[] = L"System\\CurrentControlSet\\Control\\ProductOptions";

// Sets a machine string value for the life of the object, then puts the old one back.
class MachineValue {
 public:
  MachineValue(const wchar_t* key, const wchar_t* name, const wchar_t* value) : key_(key), name_(name) {
    wchar_t old[520] = {0};
    had_ = regGetString(HKEY_LOCAL_MACHINE, key, name, old, sizeof old, false) == ERROR_SUCCESS;
    old_ = old;
    regSetString(key, HKEY_LOCAL_MACHINE, name, value);
  }
  ~MachineValue() {
    if (had_)
      regSetString(key_, HKEY_LOCAL_MACHINE, name_, old_.c_str());
    else
      regDeleteValue(HKEY_LOCAL_MACHINE, key_, name_);
  }

 private:
  const wchar_t* key_;
  const wchar_t* name_;
  bool had_;
  std::wstring old_;
};

DWORD RunSelfUnderVersion(const wchar_t* version, const wchar_t* expect) {
  return RunSelfUnderWindowsVersion(version, L"UnderVersion.*", expect);
}

std::wstring StoredGuid() {
  wchar_t value[1024] = {0};
  regGetString(HKEY_CLASSES_ROOT, kPersistentStorageKey, L"GUID", value, sizeof value, false);
  return value;
}
}  // namespace

// Run in a child process; QTX_EXPECT is "major.minor,flags-that-must-be-set,flags-that-must-not".
TEST(UnderVersion, KindFlagsFollowTheClaimedVersion) {
  wchar_t expect[200] = {0};
  if (!GetEnvironmentVariableW(L"QTX_EXPECT", expect, 200)) GTEST_SKIP() << "runs only as a child";
  unsigned major = 0, minor = 0, set = 0, clear = 0;
  ASSERT_EQ(swscanf(expect, L"%u.%u,%x,%x", &major, &minor, &set, &clear), 4);
  OSVERSIONINFOEXW v = {sizeof v};
  GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&v));
  EXPECT_EQ(v.dwMajorVersion, major);
  EXPECT_EQ(v.dwMinorVersion, minor);
  for (DWORD bit = 1; bit; bit <<= 1) {
    if (set & bit) EXPECT_TRUE(g_setup.IsOS(bit)) << std::hex << bit;
    if (clear & bit) EXPECT_FALSE(g_setup.IsOS(bit)) << std::hex << bit;
  }
}

TEST(KindFlags, OtherWindowsVersions) {
  // 64-bit XP / Server 2003 (5.2): XP or later, not the Vista/7 family.
  EXPECT_EQ(RunSelfUnderVersion(L"winxp64", L"5.2,900,1600"), 0u);  // NT|XP+ ; not VISTA_7|NT4|2000
  // Windows 8 (6.2) counts to the major-6 family; 64-bit in a 64-bit prefix only.
  if (On32BitWindows())
    EXPECT_EQ(RunSelfUnderVersion(L"win8", L"6.2,1900,60000"), 0u);  // NT|XP+|VISTA_7 ; not WOW64|X64
  else
    EXPECT_EQ(RunSelfUnderVersion(L"win8", L"6.2,41900,20000"), 0u);  // NT|XP+|VISTA_7|X64 ; not WOW64
}

TEST(KindFlags, ServerFollowsTheProductType) {
  {
    MachineValue type(kProductOptions, L"ProductType", L"ServerNT");
    EXPECT_TRUE(g_setup.IsOS(OS_SERVER));
    // A server version with the product type of a server, in a process of its own.
    EXPECT_EQ(RunSelfUnderVersion(L"win2008", L"6.0,11900,0"), 0u);  // NT|XP+|VISTA_7|SERVER
  }
  {
    MachineValue type(kProductOptions, L"ProductType", L"lanmannt");
    EXPECT_TRUE(g_setup.IsOS(OS_SERVER));
  }
  {
    MachineValue type(kProductOptions, L"ProductType", L"WinNT");
    EXPECT_FALSE(g_setup.IsOS(OS_SERVER));
  }
}

TEST(PersistentGuid, CreatedOnceThenKept) {
  regDeleteOneKey(HKEY_CLASSES_ROOT, kPersistentStorageKey, RegView::Plain);
  ASSERT_TRUE(g_setup.Init());
  std::wstring first = g_setup.persistentGuid;
  ASSERT_EQ(first.size(), 36u);
  EXPECT_NE(first, L"00000000-0000-0000-0000-000000000000");
  EXPECT_EQ(StoredGuid(), first);
  // A second run makes a fresh identifier of its own but leaves the stored one alone.
  ASSERT_TRUE(g_setup.Init());
  EXPECT_NE(g_setup.persistentGuid, first);
  EXPECT_EQ(StoredGuid(), first);
  // An empty stored value counts as missing.
  regSetString(kPersistentStorageKey, HKEY_CLASSES_ROOT, L"GUID", L"");
  ASSERT_TRUE(g_setup.Init());
  EXPECT_EQ(StoredGuid(), g_setup.persistentGuid);
}

TEST(IsaServer, FolderOfTheProxyOrFirewallService) {
  const wchar_t* proxy = L"System\\CurrentControlSet\\Services\\W3proxy";
  const wchar_t* firewall = L"System\\CurrentControlSet\\Services\\fwsrv";
  regSetString(firewall, HKEY_LOCAL_MACHINE, L"ImagePath", L"\"C:\\Program Files\\FW\\fwsrv.exe\"");
  ASSERT_TRUE(g_setup.Init());
  EXPECT_TRUE(g_setup.isaServerPresent);
  EXPECT_EQ(g_setup.isaServerFolder, L"C:\\Program Files\\FW");
  EXPECT_EQ(g_setup.Expand(L"%ISAPATH%\\x"), L"C:\\Program Files\\FW\\x");
  regSetString(proxy, HKEY_LOCAL_MACHINE, L"ImagePath", L"D:\\Proxy\\w3proxy.exe");
  ASSERT_TRUE(g_setup.Init());
  EXPECT_EQ(g_setup.isaServerFolder, L"D:\\Proxy");  // the proxy is looked at first
  regSetString(proxy, HKEY_LOCAL_MACHINE, L"ImagePath", L"w3proxy.exe");  // no folder: not used
  ASSERT_TRUE(g_setup.Init());
  EXPECT_EQ(g_setup.isaServerFolder, L"C:\\Program Files\\FW");
  regDeleteOneKey(HKEY_LOCAL_MACHINE, proxy, RegView::Plain);
  regDeleteOneKey(HKEY_LOCAL_MACHINE, firewall, RegView::Plain);
  ASSERT_TRUE(g_setup.Init());
  EXPECT_FALSE(g_setup.isaServerPresent);
}

TEST(SetupInfo, OldVersionOnlyWithZeroFootprint) {
  g_setup.Init();
  std::wstring ini = g_setup.moduleFolder + L"\\setup.ini";
  WriteBytes(ini, "[Common]\r\nZeroFootprint=1\r\nSetupVersion=31\r\n");
  ClearLog();
  g_setup.Init();
  EXPECT_EQ(g_setup.setupVersion, 31);
  EXPECT_TRUE(g_setup.HasOldVersion());
  EXPECT_TRUE(LogHas(L"Old version: 1f (31)", LOG_MIN, LOG_GENERAL)) << LogDump();
  WriteBytes(ini, "[Common]\r\nZeroFootprint=0\r\nSetupVersion=31\r\n");
  g_setup.Init();
  EXPECT_EQ(g_setup.setupVersion, -1);
  EXPECT_FALSE(g_setup.HasOldVersion());
  DeleteFileW(ini.c_str());
}
