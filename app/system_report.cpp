#include "app/system_report.h"

#include <objbase.h>

#include <cstdio>
#include <cstdlib>

#include "sysops/process.h"
#include "log/log.h"
#include "setup/setup_globals.h"
#include "sysops/account.h"

namespace {
constexpr size_t kVersionChars = 32768;
constexpr size_t kAccountTextChars = 260;

const wchar_t* Win9xName(DWORD minor) {
  switch (minor) {
    case 0: return L"Windows95";
    case 10: return L"Windows98";
    case 90: return L"WindowsMe";
  }
  return L"";
}

std::wstring VersionPart(const wchar_t* format, ...) {
  std::wstring text(kVersionChars, L'\0');
  va_list args;
  va_start(args, format);
  int n = _vsnwprintf(&text[0], kVersionChars - 1, format, args);
  va_end(args);
  text.resize(n < 0 ? kVersionChars - 1 : static_cast<size_t>(n));
  return text;
}

// The kind test is asked afresh for every flag, as the report reads it.
DWORD ReportedKinds() {
  DWORD kinds = 0;
  for (DWORD flag : {OS_WHS, OS_SBS, OS_SERVER, OS_WOW64, OS_X64})
    if (g_setup.IsOS(flag)) kinds |= flag;
  return kinds;
}
}  // namespace

const wchar_t* NtSystemName(DWORD major, DWORD minor, BYTE productType) {
  bool workstation = productType == VER_NT_WORKSTATION;
  if (major == 4) return L"Windows NT";
  if (major == 5) {
    switch (minor) {
      case 0: return L"Windows 2000";
      case 1: return L"Windows XP";
      case 2: return L"Windows Server 2003";
    }
  }
  if (major == 6) {
    switch (minor) {
      case 0: return workstation ? L"Windows Vista" : L"Windows Server 2008";
      case 1: return workstation ? L"Windows 7" : L"Windows Server 2008 R2";
      case 2: return workstation ? L"Windows 8" : L"Windows Server 2012";
    }
  }
  return L"";
}

std::wstring BuildOsLine(const OSVERSIONINFOEXW& v, DWORD kindFlags) {
  std::wstring line = L"Operating system: ";
  if (v.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
    line += Win9xName(v.dwMinorVersion);
    line += VersionPart(L" ver %d.%d, build %d", v.dwMajorVersion, v.dwMinorVersion, v.dwBuildNumber);
  } else if (v.dwPlatformId == VER_PLATFORM_WIN32_NT) {
    line += NtSystemName(v.dwMajorVersion, v.dwMinorVersion, v.wProductType);
    line += VersionPart(L" ver %d.%d, build %d, sp %d.%d", v.dwMajorVersion, v.dwMinorVersion,
                        v.dwBuildNumber, v.wServicePackMajor, v.wServicePackMinor);
  }
  if (v.szCSDVersion[0]) {
    // The text is a fixed 128-character field; never read past it.
    line += L" [";
    line.append(v.szCSDVersion, wcsnlen(v.szCSDVersion, 128));
    line += L"]";
  }
  if (kindFlags & OS_WHS)
    line += L" WHS";
  else if (kindFlags & OS_SBS)
    line += L" SBS";
  if (kindFlags & OS_SERVER) line += L" SERVER";
  if (kindFlags & OS_WOW64) line += L" IA64";
  if (kindFlags & OS_X64) line += L" x64";
  return line;
}

std::wstring AccountDisplayName(const wchar_t* name, const wchar_t* domain) {
  if (!domain[0] || _wcsicmp(domain, L"NT AUTHORITY") == 0) return name;
  wchar_t text[kAccountTextChars] = {0};
  _snwprintf(text, kAccountTextChars - 1, L"%s\\%s", domain, name);
  text[kAccountTextChars - 1] = L'\0';
  return text;
}

namespace {
void LogMemory() {
  MEMORYSTATUS ms = {};
  ms.dwLength = sizeof ms;
  GlobalMemoryStatus(&ms);
  // Counts in KiB as unsigned 64-bit numbers: a 64-bit process's virtual size does not fit
  // an int. For the 32-bit product every count fits, and the text is the same as with %d.
  auto kib = [](SIZE_T bytes) { return static_cast<unsigned long long>(bytes / 1024); };
  g_log.Print(LOG_NRM, LOG_SYSTEM,
              L"Memory: %d%% load. Phys:%I64u/%I64uK free, Page:%I64u/%I64uK free, Virt:%I64u/%I64uK free",
              static_cast<int>(ms.dwMemoryLoad), kib(ms.dwAvailPhys), kib(ms.dwTotalPhys),
              kib(ms.dwAvailPageFile), kib(ms.dwTotalPageFile), kib(ms.dwAvailVirtual),
              kib(ms.dwTotalVirtual));
}

void LogUser() {
  wchar_t name[kAccountNameChars] = {0}, domain[kAccountDomainChars] = {0};
  GetCurrentAccountName(name, domain);
  g_log.Print(LOG_MIN, LOG_SYSTEM, L"Windows Net User: %s", AccountDisplayName(name, domain).c_str());
}
}  // namespace

void WriteSystemReport(bool prepareProcess) {
  srand(GetTickCount());
  g_log.Print(LOG_NRM, LOG_SYSTEM, L"%s", BuildOsLine(g_setup.osVersion, ReportedKinds()).c_str());
  LogMemory();
  g_log.Print(LOG_VRB, LOG_SYSTEM, L"Computer WinName: %s", g_setup.computerName.c_str());
  if (prepareProcess) EnableRestorePrivilege();
  LogUser();
  if (!prepareProcess) return;
  CoInitialize(nullptr);
  SetComSecurity();
}
