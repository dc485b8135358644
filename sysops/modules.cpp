#include "sysops/modules.h"

#include <string>

#include "log/log.h"
#include "base/dynapi.h"
#include "sysops/folder_trust.h"

namespace {
constexpr DWORD kSearchSystem32 = 0x00000800;    // LOAD_LIBRARY_SEARCH_SYSTEM32
constexpr DWORD kSearchDllLoadDir = 0x00000100;  // LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
bool g_searchLimited = false;

// Loads `name` from the system folder for the rest of the process; true when it loaded.
bool PreloadFromSystemFolder(const wchar_t* name) {
  wchar_t system[MAX_PATH] = {0};
  UINT n = GetSystemDirectoryW(system, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  std::wstring path = std::wstring(system) + L"\\" + name;
  // Kept loaded on purpose until the process ends: a later load by bare name must find it.
  return UniqueLibrary(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)).release() != nullptr;
}
}  // namespace

// Loaded by bare name after start-up, as seen under Wine (window and input set-up, network
// configuration, SetupAPI, WMI's transport) and as Windows documents for the folder browser,
// visual styles, COM and the security functions.
const wchar_t* const kPreloadedSystemDlls[] = {
    L"uxtheme.dll",  L"imm32.dll",   L"dwmapi.dll",  L"version.dll", L"setupapi.dll", L"cfgmgr32.dll",
    L"iphlpapi.dll", L"dnsapi.dll",  L"nsi.dll",     L"ws2_32.dll",  L"winspool.drv", L"ntmarta.dll",
    L"clbcatq.dll",  L"propsys.dll", L"profapi.dll", L"userenv.dll", L"cryptbase.dll", L"sspicli.dll",
    L"wbemcomn.dll", L"netutils.dll", L"oleacc.dll", L"msimg32.dll"};
const unsigned kPreloadedSystemDllCount = sizeof kPreloadedSystemDlls / sizeof kPreloadedSystemDlls[0];

bool RestrictDllSearch() {
  typedef BOOL(WINAPI * SetDefaultFn)(DWORD);
  typedef BOOL(WINAPI * SetDirectoryFn)(LPCWSTR);
  auto setDefault = LookupFn<SetDefaultFn>(L"kernel32.dll", "SetDefaultDllDirectories");
  if (setDefault && setDefault(kSearchSystem32)) {
    g_searchLimited = true;
    g_log.Print(LOG_VRB, LOG_SYSTEM, L"DLL search limited to the system folder");
    return true;
  }
  g_searchLimited = false;
  auto setDirectory = LookupFn<SetDirectoryFn>(L"kernel32.dll", "SetDllDirectoryW");
  if (setDirectory) setDirectory(L"");
  unsigned loaded = 0;
  for (unsigned i = 0; i < kPreloadedSystemDllCount; ++i) loaded += PreloadFromSystemFolder(kPreloadedSystemDlls[i]);
  g_log.Print(LOG_MIN, LOG_SYSTEM,
              L"DLL search not limited on this system: current folder removed, %u of %u system DLLs preloaded", loaded,
              kPreloadedSystemDllCount);
  return false;
}

DWORD FullPathLoadFlags(DWORD fallback) { return g_searchLimited ? kSearchDllLoadDir | kSearchSystem32 : fallback; }

bool IsAbsolutePath(const wchar_t* path) {
  if (!path) return false;
  bool driveRooted = ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
                     path[1] == L':' && path[2] == L'\\';
  bool unc = path[0] == L'\\' && path[1] == L'\\' && path[2] != L'\0' && path[2] != L'\\';
  return driveRooted || unc;
}

UniqueLibrary LoadSuiteModule(const wchar_t* path, DWORD flags) {
  if (!IsAbsolutePath(path)) {
    g_log.Print(LOG_MIN, LOG_FILE, L"Module \"%s\" skipped: no absolute path", path ? path : L"");
    return UniqueLibrary();
  }
  UniqueKernelHandle folder = HoldTrustedFolderOf(path);
  if (!folder) {
    SetLastError(ERROR_ACCESS_DENIED);
    return UniqueLibrary();
  }
  return UniqueLibrary(LoadLibraryExW(path, nullptr, FullPathLoadFlags(flags)));
}
