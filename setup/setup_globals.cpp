#include "setup/setup_globals.h"

#include <rpc.h>
#include <algorithm>
#include <shlobj.h>

#include "base/dynapi.h"
#include "base/handles.h"
#include "base/path.h"
#include "base/regkey.h"
#include "base/string_table.h"
#include "base/wow64.h"
#include "log/log.h"
#include "setup/product.h"

SetupGlobalsWin32 g_setup;
std::wstring g_installFolder;

namespace {
struct OpName {
  int op;
  const wchar_t* name;
};
const OpName kOpNames[] = {
    {INST_OP_UNKNOWN, L"INST_OP_UNKNOWN"},
    {INST_OP_INSTALL, L"INST_OP_INSTALL"},
    {INST_OP_UNINSTALL, L"INST_OP_UNINSTALL"},
    {INST_OP_UPDATE, L"INST_OP_UPDATE"},
    {INST_OP_REPAIR, L"INST_OP_REPAIR"},
    {INST_OP_CHANGE, L"INST_OP_CHANGE"},
    {INST_OP_UPDATE_GET_PACKAGES, L"INST_OP_UPDATE_GET_PACKAGES"},
    {INST_OP_UPDATE_INSTALL_PACKAGES, L"INST_OP_UPDATE_INSTALL_PACKAGES"},
    {INST_OP_CHECK_UPDATE, L"INST_OP_CHECK_UPDATE"},
    {INST_OP_CHECK_PUSH_REQUEST, L"INST_OP_CHECK_PUSH_REQUEST"},
    {INST_OP_PROXYDLG, L"INST_OP_PROXYDLG"},
    {INST_OP_UPD_SETIFACE, L"INST_OP_UPD_SETIFACE"},
    {INST_OP_STOP_STAT, L"INST_OP_STOP_STAT"},
    {INST_OP_SHOW_SUMMARY, L"INST_OP_SHOW_SUMMARY"},
    {INST_OP_CREATE_ADMIN, L"INST_OP_CREATE_ADMIN"},
    {INST_OP_NP_INSTALLDB, L"INST_OP_NP_INSTALLDB"},
    {INST_OP_QTXPXYDLG, L"INST_OP_QTXPXYDLG"},
    {INST_OP_GETVPUS, L"INST_OP_GETVPUS"},
    {INST_OP_SUBMIT, L"INST_OP_SUBMIT"},
    {INST_OP_ISRUNNING, L"INST_OP_ISRUNNING"},
    {INST_OP_COPYSFX, L"INST_OP_COPYSFX"},
    {INST_OP_ENUM_LANGUAGES, L"INST_OP_ENUM_LANGUAGES"},
    {INST_OP_INSTALL_LANGUAGES, L"INST_OP_INSTALL_LANGUAGES"},
};

constexpr const wchar_t* kCurrentVersionKey = L"Software\\Microsoft\\Windows\\CurrentVersion";

// True when src starts with macro, compared without regard to case.
bool StartsWithMacro(const wchar_t* src, const wchar_t* macro) {
  return _wcsnicmp(src, macro, wcslen(macro)) == 0;
}

// A string value of HKLM\subkey in the product's own view; "" when missing.
std::wstring ReadMachineString(const wchar_t* subkey, const wchar_t* value, DWORD bufferBytes) {
  std::wstring buffer(bufferBytes / sizeof(wchar_t) + 1, L'\0');
  if (regGetString(HKEY_LOCAL_MACHINE, subkey, value, &buffer[0], bufferBytes, false) != ERROR_SUCCESS)
    return L"";
  buffer.resize(wcslen(buffer.c_str()));
  return buffer;
}

std::wstring WindowsFolder(UINT(WINAPI* get)(LPWSTR, UINT)) {
  wchar_t buffer[MAX_PATH] = {0};
  UINT n = get(buffer, MAX_PATH);
  return n > 0 && n < MAX_PATH ? buffer : L"";
}

// Machine folders come from HKEY_LOCAL_MACHINE and the system's folder functions, never
// from the environment: an elevated process inherits variables the user set in their own
// HKCU\Environment.

// "ProgramFilesDir" of HKLM in a view; "" when missing.
std::wstring ProgramFilesDirIn(RegView view) {
  UniqueRegKey key;
  if (regOpenKey(HKEY_LOCAL_MACHINE, kCurrentVersionKey, KEY_READ, key, view) != ERROR_SUCCESS) return L"";
  wchar_t text[MAX_PATH + 1] = {0};
  DWORD type = 0, size = MAX_PATH * sizeof(wchar_t);
  if (RegQueryValueExW(key.get(), L"ProgramFilesDir", nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ)
    return L"";
  return text;
}

// The native program-files folder of 64-bit Windows (what "%ProgramW6432%" names there);
// empty on 32-bit Windows, where no such variable exists.
std::wstring NativeProgramFilesFolder() {
  return g_setup.IsOS(OS_WOW64 | OS_X64) ? ProgramFilesDirIn(RegView::View64) : L"";
}

// The native program-files folder where there is one, else the program's own; "" when the
// registry names neither.
std::wstring ProgramFilesFolder() {
  std::wstring native = NativeProgramFilesFolder();
  return native.empty() ? ProgramFilesDirIn(RegView::Plain) : native;
}

std::wstring CommonProgramFilesFolder() {
  wchar_t buffer[MAX_PATH] = {0};
  if (GetSpecialFolder(buffer, CSIDL_PROGRAM_FILES_COMMON)) return buffer;
  return JoinPath(ProgramFilesDirIn(RegView::Plain), L"Common");
}

// The value of a variable the system itself defines for every process, from the system's
// own functions; false for any other name.
bool SystemVariable(const std::wstring& name, std::wstring* value) {
  wchar_t windows[MAX_PATH] = {0};
  UINT n = GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  if (_wcsicmp(name.c_str(), L"SystemRoot") == 0 || _wcsicmp(name.c_str(), L"windir") == 0) {
    *value = windows;
    return true;
  }
  if (_wcsicmp(name.c_str(), L"SystemDrive") == 0 && n >= 2 && windows[1] == L':') {
    *value = std::wstring(windows, 2);
    return true;
  }
  return false;
}
}  // namespace

std::wstring ExpandSystemVariables(const std::wstring& text) {
  std::wstring out;
  size_t at = 0;
  while (at < text.size()) {
    size_t open = text.find(L'%', at);
    if (open == std::wstring::npos) break;
    size_t close = text.find(L'%', open + 1);
    std::wstring value;
    if (close == std::wstring::npos || !SystemVariable(text.substr(open + 1, close - open - 1), &value)) return L"";
    out += text.substr(at, open - at) + value;
    at = close + 1;
  }
  return out + text.substr(std::min(at, text.size()));
}

const wchar_t* InstOpName(int op) {
  for (const OpName& entry : kOpNames)
    if (entry.op == op) return entry.name;
  static wchar_t unnamed[100];
  _snwprintf(unnamed, 99, L"INST_OP_[%d]", op);
  unnamed[99] = L'\0';
  return unnamed;
}

// ---- SetupGlobals -------------------------------------------------------------------------

bool SetupGlobals::Init() {
  SetOperation(INST_OP_UNKNOWN);
  UiMode = Interactive;
  language = 1033;
  setupVersion = -1;
  moduleFolder.clear();
  installFolder.clear();
  tempFolder.clear();
  osVersion = OSVERSIONINFOEXW{};
  csdVersionNumber = 0;
  computerName.clear();
  persistentGuid.clear();
  RestartNeeded = false;
  isaServerPresent = false;
  isaServerFolder.clear();
  domainFolder.clear();
  whsFolder.clear();
  resourceModule = nullptr;
  zeroFootprint = false;
  restartTimeout = 0;
  return true;
}

WORD SetupGlobals::SetDefaultLanguage() {
  language = 1033;
  return language;
}

bool SetupGlobals::HasOldVersion() { return setupVersion >= 0; }

const wchar_t* SetupGlobals::LanguageCode(WORD lcid) {
  static wchar_t code[9];
  if (!GetLocaleInfoW(MAKELCID(lcid, SORT_DEFAULT), 0x67 /* LOCALE_SISO639LANGNAME2 */, code, 9)) code[0] = L'\0';
  return code;
}

void SetupGlobals::SetOperation(int op) {
  g_log.Print(LOG_VRB, LOG_GENERAL, L"Operation set to %s", InstOpName(op));
  operation = op;
}

std::wstring SetupGlobals::ExpandGeneric(const wchar_t* src) {
  struct Macro {
    const wchar_t* name;
    std::wstring base;
  };
  const Macro macros[] = {
      {L".", moduleFolder},
      {L"%ROPATH%", installFolder},
      {L"%TEMP%", tempFolder},
      {L"%SETUPPATH%", JoinPath(installFolder, L"Setup")},
      {L"%ADMINSRCPATH%", moduleFolder},
      {L"%ADMINPATH%", JoinPath(installFolder, L"Setup\\admin")},
      {L"%QTXLOGPATH%", JoinPath(installFolder, L"DATA\\LOG")},
  };
  for (const Macro& m : macros)
    if (StartsWithMacro(src, m.name)) return JoinPath(m.base, src + wcslen(m.name));
  return ExpandEnvironmentAs32Bit(src, 32768);
}

std::wstring& SetupGlobals::ExpandPath(std::wstring& result, std::wstring& dest, const wchar_t* src,
                                       const wchar_t* tail) {
  if (!src) {
    dest.clear();
    result.clear();
    return result;
  }
  std::wstring expanded = ExpandGeneric(src);
  while (!expanded.empty() && expanded.back() == L'\\') expanded.pop_back();
  dest = tail ? JoinPath(expanded, tail) : expanded;
  result = dest;
  return result;
}

std::wstring SetupGlobals::Expand(const wchar_t* src, const wchar_t* tail) {
  std::wstring result, dest;
  ExpandPath(result, dest, src, tail);
  return result;
}

bool SetupGlobals::IsOS(DWORD mask) {
  OSVERSIONINFOEXW v = {};
  v.dwOSVersionInfoSize = sizeof v;
  if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&v))) return false;
  DWORD flags = 0;
  if (v.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
    if (v.dwMajorVersion == 4) flags |= OS_9X;
    if (v.dwMinorVersion == 0) flags |= OS_95;
    if (v.dwMinorVersion >= 1 && v.dwMinorVersion <= 89) flags |= OS_98;
    if (v.dwMinorVersion >= 90) flags |= OS_ME;
  } else if (v.dwPlatformId == VER_PLATFORM_WIN32_NT) {
    flags |= OS_NT;
    bool nt4 = v.dwMajorVersion == 4;
    bool w2000 = v.dwMajorVersion == 5 && v.dwMinorVersion == 0;
    if (nt4) flags |= OS_NT4;
    if (w2000) flags |= OS_2000;
    if (!nt4 && !w2000) flags |= OS_XP_OR_LATER;
    if (v.dwMajorVersion == 6) flags |= OS_VISTA_7;
    std::wstring type = ReadMachineString(L"System\\CurrentControlSet\\Control\\ProductOptions",
                                          L"ProductType", 520);
    if (_wcsicmp(type.c_str(), L"ServerNT") == 0 || _wcsicmp(type.c_str(), L"LanmanNT") == 0)
      flags |= OS_SERVER;
    Wow64Kind wow64 = NativeWow64Kind();
    if (wow64 == Wow64Kind::Amd64) flags |= OS_X64;
    if (wow64 == Wow64Kind::Other) flags |= OS_WOW64;
  }
  return (flags & mask) != 0;
}

// ---- SetupGlobalsWin32 --------------------------------------------------------------------

bool SetupGlobalsWin32::Init() {
  bool base = SetupGlobals::Init();
  if (!base) return false;
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  RestartNeeded = true;
  isaServerPresent = false;
  InitPersistentGuid();

  wchar_t module[MAX_PATH] = {0};
  DWORD n = GetModuleFileNameW(nullptr, module, MAX_PATH);
  moduleFolder.assign(module, n < MAX_PATH ? n : 0);
  size_t slash = moduleFolder.rfind(L'\\');
  if (slash != std::wstring::npos) moduleFolder.resize(slash);

  osVersion = OSVERSIONINFOEXW{};
  osVersion.dwOSVersionInfoSize = sizeof osVersion;  // 284 bytes
  GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&osVersion));

  csdVersionNumber = 0;
  regGetDword(L"System\\CurrentControlSet\\Control\\Windows", L"CSDVersion", &csdVersionNumber);

  std::wstring name(32767, L'\0');
  DWORD size = 32767;
  computerName = GetComputerNameW(&name[0], &size) ? name.substr(0, size) : L"";

  installFolder = Expand(g_installFolder.c_str());
  FindIsaServer();
  ReadSetupInfo();
  return base;
}

void SetupGlobalsWin32::InitPersistentGuid() {
  persistentGuid = L"00000000-0000-0000-0000-000000000000";
  // Zeroed: a UuidCreate that fails without filling it leaves the all-zero GUID.
  UUID uuid = {};
  RPC_STATUS status = UuidCreate(&uuid);
  RPC_WSTR text = nullptr;
  if (status == RPC_S_UUID_LOCAL_ONLY || UuidToStringW(&uuid, &text) != RPC_S_OK) return;
  persistentGuid = reinterpret_cast<wchar_t*>(text);
  RpcStringFreeW(&text);

  wchar_t stored[1024] = {0};  // 2,048 bytes
  DWORD rc = regGetString(HKEY_CLASSES_ROOT, kPersistentStorageKey, L"GUID", stored, sizeof stored, false);
  if (rc == ERROR_SUCCESS && stored[0]) return;
  if (keepMachineUnchanged) return;
  regCreateKey(kPersistentStorageKey, HKEY_CLASSES_ROOT);
  regSetString(kPersistentStorageKey, HKEY_CLASSES_ROOT, L"GUID", persistentGuid.c_str());
}

void SetupGlobalsWin32::FindIsaServer() {
  const wchar_t* const services[] = {L"System\\CurrentControlSet\\Services\\W3proxy",
                                     L"System\\CurrentControlSet\\Services\\fwsrv"};
  for (const wchar_t* service : services) {
    std::wstring image = ReadMachineString(service, L"ImagePath", 520);
    size_t slash = image.rfind(L'\\');
    if (slash == std::wstring::npos) continue;
    image.resize(slash);
    std::wstring folder;
    for (wchar_t c : image)
      if (c != L'"') folder += c;
    isaServerFolder = folder;
    isaServerPresent = true;
    return;
  }
}

void SetupGlobalsWin32::ReadSetupInfo() {
  std::wstring ini = Expand(L".", L"setup.ini");
  zeroFootprint = GetPrivateProfileIntW(L"Common", L"ZeroFootprint", 0, ini.c_str()) != 0;
  setupVersion = zeroFootprint ? static_cast<int>(GetPrivateProfileIntW(L"Common", L"SetupVersion", -1, ini.c_str()))
                               : -1;
  g_log.Print(LOG_MIN, LOG_GENERAL, L"Old version: %lx (%ld)", setupVersion, setupVersion);
}

int SetupGlobalsWin32::LoadLocalizedString(UINT id, wchar_t* buffer, int size, WORD lcid) {
  return LoadUiString(resourceModule, id, buffer, size, lcid ? lcid : language);
}

bool SetupGlobalsWin32::IsOSVersionAtLeast(DWORD major, DWORD minor, DWORD servicePack) {
  DWORD curMajor = osVersion.dwMajorVersion, curMinor = osVersion.dwMinorVersion;
  if (curMajor != major) return curMajor > major;
  if (curMinor != minor) return curMinor > minor;
  return !(osVersion.dwPlatformId == VER_PLATFORM_WIN32_NT && servicePack != 0 &&
           csdVersionNumber < servicePack);
}

std::wstring SetupGlobalsWin32::ExpandWindowsMacro(const wchar_t* src, bool* matched) {
  *matched = true;
  auto rest = [&](const wchar_t* macro) { return src + wcslen(macro); };
  // A machine folder that the registry does not name expands to nothing, never to a path
  // relative to the current folder nor to what the environment says.
  auto under = [&](const std::wstring& folder, const wchar_t* macro) {
    return folder.empty() ? std::wstring() : JoinPath(folder, rest(macro));
  };
  if (StartsWithMacro(src, L"%SYS%")) {
    std::wstring folder;
    if (IsOS(OS_WOW64 | OS_X64)) {
      auto getWow = LookupFn<UINT(WINAPI*)(LPWSTR, UINT)>(L"kernel32.dll", "GetSystemWow64DirectoryW");
      if (getWow) folder = WindowsFolder(getWow);
    }
    if (folder.empty()) folder = WindowsFolder(GetSystemDirectoryW);
    return JoinPath(folder, rest(L"%SYS%"));
  }
  if (StartsWithMacro(src, L"%SYS64%")) return JoinPath(WindowsFolder(GetSystemDirectoryW), rest(L"%SYS64%"));
  if (StartsWithMacro(src, L"%WINDIR%")) return JoinPath(WindowsFolder(GetWindowsDirectoryW), rest(L"%WINDIR%"));
  if (StartsWithMacro(src, L"%PRGFILES%")) return under(ProgramFilesFolder(), L"%PRGFILES%");
  if (StartsWithMacro(src, L"%RWPATH%")) {
    std::wstring data;
    if (!g_productRegistryKey.empty() && regKeyExists(g_productRegistryKey.c_str()))
      data = ReadMachineString(g_productRegistryKey.c_str(), L"DataFolder", 520);
    if (data.empty()) {
      wchar_t common[MAX_PATH] = {0};
      if (GetSpecialFolder(common, CSIDL_COMMON_APPDATA)) data = JoinPath(common, L"VELKO Software\\Velko");
    }
    return JoinPath(data, rest(L"%RWPATH%"));
  }
  if (StartsWithMacro(src, L"%ISAPATH%"))
    return JoinPath(isaServerPresent ? isaServerFolder : installFolder, rest(L"%ISAPATH%"));
  if (StartsWithMacro(src, L"%DOMPATH%")) return JoinPath(domainFolder, rest(L"%DOMPATH%"));
  // 32-bit Windows defines no "%ProgramW6432%": the add-in path then names nothing.
  if (StartsWithMacro(src, L"%ProgramW6432%")) return under(NativeProgramFilesFolder(), L"%ProgramW6432%");
  if (StartsWithMacro(src, L"%CommonProgramFiles%"))
    return JoinPath(CommonProgramFilesFolder(), rest(L"%CommonProgramFiles%"));
  if (StartsWithMacro(src, L"%WHSPATH%")) {
    std::wstring base = whsFolder.empty() ? Expand(L"%PRGFILES%", L"Windows Home Server") : whsFolder;
    return under(base, L"%WHSPATH%");
  }
  *matched = false;
  return L"";
}

std::wstring& SetupGlobalsWin32::ExpandPath(std::wstring& result, std::wstring& dest, const wchar_t* src,
                                            const wchar_t* tail) {
  if (!src) return SetupGlobals::ExpandPath(result, dest, src, tail);
  bool matched = false;
  std::wstring expanded = ExpandWindowsMacro(src, &matched);
  if (matched && expanded.empty()) {  // a folder that does not exist here: nothing, tail or not
    dest.clear();
    result.clear();
    return result;
  }
  return SetupGlobals::ExpandPath(result, dest, matched ? expanded.c_str() : src, tail);
}
