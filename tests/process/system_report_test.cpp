#include "app/system_report.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <regex>

#include "setup/setup_globals.h"
#include "sysops/account.h"
#include "tests/support/test_support.h"

using namespace qtxtest;

namespace {
OSVERSIONINFOEXW Version(DWORD platform, DWORD major, DWORD minor, DWORD build, WORD spMajor = 0,
                         WORD spMinor = 0, BYTE productType = VER_NT_WORKSTATION,
                         const wchar_t* csd = L"") {
  OSVERSIONINFOEXW v = {};
  v.dwOSVersionInfoSize = sizeof v;
  v.dwPlatformId = platform;
  v.dwMajorVersion = major;
  v.dwMinorVersion = minor;
  v.dwBuildNumber = build;
  v.wServicePackMajor = spMajor;
  v.wServicePackMinor = spMinor;
  v.wProductType = productType;
  wcsncpy(v.szCSDVersion, csd, 127);
  return v;
}
constexpr DWORD kNt = VER_PLATFORM_WIN32_NT;
constexpr DWORD k9x = VER_PLATFORM_WIN32_WINDOWS;
}  // namespace

TEST(BuildOsLine, Windows9xNamesAndVersion) {
  EXPECT_EQ(BuildOsLine(Version(k9x, 4, 0, 950), 0), L"Operating system: Windows95 ver 4.0, build 950");
  EXPECT_EQ(BuildOsLine(Version(k9x, 4, 10, 2222), 0), L"Operating system: Windows98 ver 4.10, build 2222");
  EXPECT_EQ(BuildOsLine(Version(k9x, 4, 90, 3000), 0), L"Operating system: WindowsMe ver 4.90, build 3000");
  // An unknown minor version has no name; the version part still follows.
  EXPECT_EQ(BuildOsLine(Version(k9x, 4, 3, 1), 0), L"Operating system:  ver 4.3, build 1");
}

TEST(BuildOsLine, NtNamesByVersionAndProductType) {
  // Only the 6.x names depend on the product type; domain controllers (2) are servers.
  EXPECT_STREQ(NtSystemName(6, 0, VER_NT_WORKSTATION), L"Windows Vista");
  EXPECT_STREQ(NtSystemName(6, 1, VER_NT_DOMAIN_CONTROLLER), L"Windows Server 2008 R2");
  EXPECT_STREQ(NtSystemName(6, 2, VER_NT_SERVER), L"Windows Server 2012");
  EXPECT_STREQ(NtSystemName(5, 2, VER_NT_WORKSTATION), L"Windows Server 2003");
  EXPECT_STREQ(NtSystemName(4, 7, VER_NT_SERVER), L"Windows NT");
  EXPECT_EQ(BuildOsLine(Version(kNt, 5, 1, 2600, 3, 0, VER_NT_WORKSTATION, L"Service Pack 3"), 0),
            L"Operating system: Windows XP ver 5.1, build 2600, sp 3.0 [Service Pack 3]");
  // A 32-bit system without a service pack: no brackets, no suffix.
  EXPECT_EQ(BuildOsLine(Version(kNt, 6, 1, 7600), 0), L"Operating system: Windows 7 ver 6.1, build 7600, sp 0.0");
}

TEST(BuildOsLine, LaterSystemsHaveNoName) {
  EXPECT_EQ(BuildOsLine(Version(kNt, 6, 3, 9600), 0), L"Operating system:  ver 6.3, build 9600, sp 0.0");
  EXPECT_EQ(BuildOsLine(Version(kNt, 10, 0, 19045), 0), L"Operating system:  ver 10.0, build 19045, sp 0.0");
  EXPECT_STREQ(NtSystemName(5, 3, VER_NT_WORKSTATION), L"");
  // Another platform gets neither name nor version, only the service-pack text.
  EXPECT_EQ(BuildOsLine(Version(3, 5, 1, 1, 0, 0, 1, L"x"), OS_X64), L"Operating system:  [x] x64");
}

TEST(BuildOsLine, KindSuffixesInOrder) {
  OSVERSIONINFOEXW v = Version(kNt, 6, 1, 7601, 1, 0, VER_NT_SERVER, L"Service Pack 1");
  const std::wstring base = L"Operating system: Windows Server 2008 R2 ver 6.1, build 7601, sp 1.0 [Service Pack 1]";
  EXPECT_EQ(BuildOsLine(v, OS_SERVER), base + L" SERVER");
  EXPECT_EQ(BuildOsLine(v, OS_SERVER | OS_X64), base + L" SERVER x64");
  EXPECT_EQ(BuildOsLine(v, OS_WOW64), base + L" IA64");
  EXPECT_EQ(BuildOsLine(v, OS_SERVER | OS_WOW64 | OS_X64), base + L" SERVER IA64 x64");
  // WHS wins over SBS; both come before SERVER.
  EXPECT_EQ(BuildOsLine(v, OS_WHS | OS_SBS | OS_SERVER), base + L" WHS SERVER");
  EXPECT_EQ(BuildOsLine(v, OS_SBS | OS_SERVER), base + L" SBS SERVER");
  // Flags that are no kind suffix change nothing.
  EXPECT_EQ(BuildOsLine(v, OS_NT | OS_XP_OR_LATER), base);
}

TEST(BuildOsLine, ServicePackTextIsReadWithinItsField) {
  OSVERSIONINFOEXW v = Version(kNt, 5, 1, 2600);
  wmemset(v.szCSDVersion, L'S', 128);  // no terminator in the field
  std::wstring line = BuildOsLine(v, 0);
  EXPECT_EQ(line, L"Operating system: Windows XP ver 5.1, build 2600, sp 0.0 [" + std::wstring(128, L'S') + L"]");
}

TEST(AccountDisplayName, DomainRules) {
  EXPECT_EQ(AccountDisplayName(L"SYSTEM", L"NT AUTHORITY"), L"SYSTEM");
  EXPECT_EQ(AccountDisplayName(L"LOCAL SERVICE", L"nt authority"), L"LOCAL SERVICE");
  EXPECT_EQ(AccountDisplayName(L"anna", L""), L"anna");
  EXPECT_EQ(AccountDisplayName(L"anna", L"WORKSTATION7"), L"WORKSTATION7\\anna");
  // The longest name and domain do not fit 259 characters: the text is cut, not overrun.
  std::wstring name(255, L'n'), domain(31, L'd');
  std::wstring text = AccountDisplayName(name.c_str(), domain.c_str());
  EXPECT_EQ(text, (domain + L"\\" + name).substr(0, 259));
}

TEST(WriteSystemReport, LogsTheMachineAndPreparesCom) {
  ASSERT_TRUE(g_setup.Init());
  ClearLog();
  WriteSystemReport();

  std::vector<std::wstring> texts = LogTexts();
  ASSERT_GE(texts.size(), 4u) << Narrow(LogDump());
  // The operating-system line comes from the gathered facts and the kind test.
  DWORD kinds = 0;
  for (DWORD flag : {OS_SERVER, OS_WOW64, OS_X64}) kinds |= g_setup.IsOS(flag) ? flag : 0;
  EXPECT_FALSE(g_setup.IsOS(OS_WHS | OS_SBS));
  EXPECT_TRUE(LogHas(BuildOsLine(g_setup.osVersion, kinds), LOG_NRM, LOG_SYSTEM)) << Narrow(LogDump());
  EXPECT_EQ(texts[0].rfind(L"Operating system: ", 0), 0u);

  std::wregex memory(L"Memory: \\d+% load\\. Phys:(\\d+)/(\\d+)K free, Page:(\\d+)/(\\d+)K free, Virt:(\\d+)/(\\d+)K free");
  std::wsmatch m;
  ASSERT_TRUE(std::regex_match(texts[1], m, memory)) << Narrow(texts[1]);
  EXPECT_EQ(g_log.entries[1].level, LOG_NRM);
  for (int i = 1; i <= 6; i += 2)  // available never exceeds total
    EXPECT_LE(std::stoull(m[i].str()), std::stoull(m[i + 1].str())) << Narrow(texts[1]);

  EXPECT_TRUE(LogHas(L"Computer WinName: " + g_setup.computerName, LOG_VRB, LOG_SYSTEM));
  EXPECT_FALSE(g_setup.computerName.empty());

  wchar_t name[kAccountNameChars] = {0}, domain[kAccountDomainChars] = {0};
  ASSERT_TRUE(GetCurrentAccountName(name, domain));
  EXPECT_TRUE(LogHas(L"Windows Net User: " + AccountDisplayName(name, domain), LOG_MIN, LOG_SYSTEM))
      << Narrow(LogDump());

  // COM stays initialised on this thread: a further CoInitialize only counts up.
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  CoUninitialize();
}
