// Real-time protection drivers and filters: mail hooks, driver services with their load-order
// tags, keyboard filter entries, the tray program, network components and driver packages,
// driver files in both system folders, the script scanner's registrations and the script
// engines' saved servers. One table of rows in the order they must run, walked by one loop;
// the same rows answer whether what they remove is still on the machine.
#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "base/path.h"
#include "base/regkey.h"
#include "base/wow64.h"
#include "catalog/catalog.h"
#include "catalog/drivers.h"
#include "catalog/probe.h"
#include "log/log.h"
#include "setup/product.h"
#include "setup/setup_globals.h"
#include "sysops/files.h"
#include "sysops/hives.h"
#include "sysops/netcfg.h"
#include "sysops/reboot_queue.h"
#include "sysops/registry.h"
#include "sysops/services.h"

namespace {

enum class Op {
  DeleteValue,       // root\a, value b
  OutlookAddins,     // the mail client's add-in keys
  OutlookCache,      // the mail client's extension cache
  LoadOrderTag,      // service a: its tag out of its group's load-order list
  StopService,       // service a, without asking whether it runs
  UninstallService,  // service a
  NativeFile,        // a under "%SYS64%", deleted with redirection off, no restart fallback
  SharedFile,        // a under "%SYS%", unless shared, queued for restart when locked
  Wow64File,         // a under "%SYS%", deleted with redirection off, no restart fallback
  ServiceKey,        // HKLM\SYSTEM\CurrentControlSet\Services\a, as a tree
  KeyboardFilters,   // "qtxKbd" out of the keyboard class filters of every control set
  TrayWindow,        // asks the tray program (window class a) to quit
  VddEntry,          // entries ending in program folder + a out of the VDD list
  DriverLines,       // lines naming the legacy driver out of "%SYS64%" a, opened redirected
  NetComponent,      // network component a, then its driver packages by catalog file b
  ProfileKey,        // a in every user profile's hive
  ClassesKey,        // HKCR\a, as a tree
  ScriptEngine,      // HKLM\a: "Default Engine" back into the default value
};

enum class Gate {
  Always,
  ProgramFolderKnown,  // a product folder was detected
  Windows50,           // Windows 2000 and later
  FilterManager52,     // Windows Server 2003 / XP x64 and later, with the filter manager present
};

struct DriverRow {
  Op op;
  const wchar_t* a;
  const wchar_t* b;
  Gate gate;
  HKEY root;
};

constexpr DriverRow Row(Op op, const wchar_t* a, Gate gate = Gate::Always) {
  return DriverRow{op, a, nullptr, gate, nullptr};
}
constexpr DriverRow Value(HKEY root, const wchar_t* key, const wchar_t* name) {
  return DriverRow{Op::DeleteValue, key, name, Gate::Always, root};
}
constexpr DriverRow Component(const wchar_t* id, const wchar_t* catalog) {
  return DriverRow{Op::NetComponent, id, catalog, Gate::Always, nullptr};
}

constexpr const wchar_t* kServicesKey = L"SYSTEM\\CurrentControlSet\\Services\\";
constexpr const wchar_t* kExchangeExtensions = L"SOFTWARE\\Microsoft\\Exchange\\Client\\Extensions";
constexpr const wchar_t* kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* kFilterManagerKey = L"System\\CurrentControlSet\\Services\\fltmgr";
constexpr const wchar_t* kKeyboardClass = L"\\Control\\Class\\{4D36E96B-E325-11CE-BFC1-08002BE10318}";
constexpr const wchar_t* kKeyboardFilter = L"qtxKbd";
constexpr const wchar_t* kVddKey = L"SYSTEM\\CurrentControlSet\\Control\\VirtualDeviceDrivers";
constexpr const wchar_t* kLegacyDriverName = L"qtxmonds.sys";

const HKEY HKLM = HKEY_LOCAL_MACHINE;
const HKEY HKCU = HKEY_CURRENT_USER;
using O = Op;

// The whole step, in the order it runs. Three orders hold: a tag goes while its service key
// still holds "Tag" and "Group"; a driver is marked for deletion before its file goes; a
// network component goes through the network configuration before its service key.
const DriverRow kDriverRows[] = {
    // Mail-client hooks.
    Value(HKLM, kExchangeExtensions, L"velko!"),
    Value(HKLM, kExchangeExtensions, L"velko! 5"),
    Row(O::OutlookAddins, nullptr),
    Row(O::OutlookCache, nullptr),
    Value(HKLM, kRunKey, L"pmrMaiSv"),
    Value(HKCU, kRunKey, L"pmrMaiSv"),
    // First driver services.
    Row(O::LoadOrderTag, L"qtxTdi"), Row(O::UninstallService, L"qtxTdi"), Row(O::ServiceKey, L"qtxTdi"),
    Row(O::LoadOrderTag, L"qtxNet"), Row(O::UninstallService, L"qtxNet"), Row(O::ServiceKey, L"qtxNet"),
    Row(O::StopService, L"velko! Web Scanner"), Row(O::UninstallService, L"velko! Web Scanner"),
    Row(O::UninstallService, L"qtxRdr"),
    Row(O::UninstallService, L"qtxSnx"),
    Row(O::LoadOrderTag, L"qtxKbd"), Row(O::UninstallService, L"qtxKbd"),
    Row(O::NativeFile, L"drivers\\qtxKbd.sys"), Row(O::SharedFile, L"drivers\\qtxKbd.sys"),
    Row(O::ServiceKey, L"qtxKbd"),
    // Keyboard filter registration in every control set; the tray program; its Run value.
    Row(O::KeyboardFilters, nullptr),
    Row(O::TrayWindow, L"qtx_av_tray_icon_wndclass", Gate::ProgramFolderKnown),
    Value(HKLM, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"velko5"),
    // Self-protection and file-blocking drivers (not through the service manager).
    Row(O::NativeFile, L"drivers\\qtxSP.sys", Gate::Windows50), Row(O::ServiceKey, L"qtxSP", Gate::Windows50),
    Row(O::LoadOrderTag, L"qtxFsBlk", Gate::Windows50), Row(O::NativeFile, L"drivers\\qtxFsBlk.sys", Gate::Windows50),
    Row(O::ServiceKey, L"qtxFsBlk", Gate::Windows50),
    // Legacy virtual-device driver.
    Row(O::VddEntry, L"qtxMonVd.dll"),
    Row(O::DriverLines, L"config.nt"),
    // Firewall and network services. The network drivers' tags go first: uninstalling
    // qtxNdisR deletes its key when the driver is stopped, and removing a network component
    // may delete its driver's key, after which the tag could never be found again.
    Row(O::UninstallService, L"velko! Firewall"),
    Row(O::LoadOrderTag, L"qtxFw"), Row(O::UninstallService, L"qtxFW"),
    Row(O::LoadOrderTag, L"qtxNdisR"), Row(O::LoadOrderTag, L"qtxNdis"),
    Row(O::LoadOrderTag, L"qtxNdisFlt"), Row(O::LoadOrderTag, L"qtxStm"),
    Row(O::UninstallService, L"qtxNdisR"),
    Row(O::UninstallService, L"qtxRoot"),
    // Network components and their driver packages.
    Component(L"sw_qtxndis", L"qtxNdis.cat"),
    Component(L"qtxNdisFlt", L"qtxNdisFlt.cat"),
    Component(L"qtxndisR", L"qtxNdisR.cat"),
    Row(O::UninstallService, L"tap0901"), Component(L"tap0901", L"tap0901.cat"),
    Component(L"qtxStm", L"qtxStm.cat"),
    // Network driver services (their tags are gone by now; these calls find nothing left).
    Row(O::LoadOrderTag, L"qtxNdis"), Row(O::LoadOrderTag, L"qtxNdisFlt"), Row(O::LoadOrderTag, L"qtxStm"),
    Row(O::UninstallService, L"qtxNdis"), Row(O::UninstallService, L"qtxNdis2k"),
    Row(O::UninstallService, L"qtxNdis2"), Row(O::UninstallService, L"qtxNdisFlt"),
    Row(O::UninstallService, L"qtxStm"),
    Row(O::LoadOrderTag, L"qtxNdisR"), Row(O::UninstallService, L"qtxNdisR"),
    // File-system monitors; the filter-manager tag only where a filter manager exists.
    Row(O::UninstallService, L"Krovker4"), Row(O::UninstallService, L"qtxmon"),
    Row(O::UninstallService, L"qtxmon2"),
    Row(O::LoadOrderTag, L"qtxMonFlt", Gate::FilterManager52),
    Row(O::UninstallService, L"qtxmonflt"),
    // Driver files, then their service keys.
    Row(O::NativeFile, L"drivers\\krovker4.sys"), Row(O::ServiceKey, L"Krovker4"),
    Row(O::Wow64File, L"drivers\\qtxmon.sys"), Row(O::ServiceKey, L"qtxmon"),
    Row(O::NativeFile, L"drivers\\qtxmon2.sys"), Row(O::ServiceKey, L"qtxmon2"),
    Row(O::NativeFile, L"drivers\\qtxtdi.sys"), Row(O::ServiceKey, L"qtxTdi"),
    Row(O::NativeFile, L"drivers\\qtxmonflt.sys"), Row(O::ServiceKey, L"qtxmonflt"),
    Row(O::NativeFile, L"drivers\\qtxRdr.sys"), Row(O::ServiceKey, L"qtxRdr"),
    Row(O::NativeFile, L"drivers\\qtxRdr2.sys"), Row(O::ServiceKey, L"qtxRdr2"),
    Row(O::NativeFile, L"drivers\\qtxSnx.sys"), Row(O::ServiceKey, L"qtxSnx"),
    Row(O::NativeFile, L"drivers\\qtxnet.sys"), Row(O::ServiceKey, L"qtxnet"),
    Row(O::NativeFile, L"drivers\\qtxKbd.sys"), Row(O::ServiceKey, L"qtxKbd"),
    Row(O::NativeFile, L"drivers\\qtxNdis.sys"), Row(O::ServiceKey, L"qtxNdis"),
    Row(O::NativeFile, L"drivers\\qtxNdis2.sys"), Row(O::ServiceKey, L"qtxNdis2"),
    Row(O::NativeFile, L"drivers\\qtxNdis2k.sys"), Row(O::ServiceKey, L"qtxNdis2k"),
    Row(O::NativeFile, L"drivers\\qtxNdisFlt.sys"), Row(O::ServiceKey, L"qtxNdisFlt"),
    Row(O::NativeFile, L"drivers\\qtxNdisR.sys"), Row(O::SharedFile, L"drivers\\qtxNdisR.sys"),
    Row(O::ServiceKey, L"qtxNdisR"),
    Row(O::NativeFile, L"drivers\\qtxFW.sys"), Row(O::ServiceKey, L"qtxFW"),
    Row(O::NativeFile, L"drivers\\qtxVmm.sys"), Row(O::ServiceKey, L"qtxVmm"),
    Row(O::NativeFile, L"drivers\\qtxRvrt.sys"), Row(O::ServiceKey, L"qtxRvrt"),
    Row(O::NativeFile, L"drivers\\qtxRoot.sys"), Row(O::SharedFile, L"drivers\\qtxRoot.sys"),
    Row(O::ServiceKey, L"qtxRoot"),
    Row(O::NativeFile, L"drivers\\qtxStm.sys"), Row(O::ServiceKey, L"qtxStm"),
    // Script-scanner registration: every profile, then the machine's classes.
    Row(O::ProfileKey, L"AppEvents\\Schemes\\Apps\\Velko"),
    Row(O::ProfileKey, L"VkAScr.sbScanner"), Row(O::ClassesKey, L"VkAScr.sbScanner"),
    Row(O::ProfileKey, L"VkAScr.sbScanner.1"), Row(O::ClassesKey, L"VkAScr.sbScanner.1"),
    Row(O::ProfileKey, L"CLSID\\{3C61A0E5-7D24-4B9F-9E13-5A8D2F6B0C47}"),
    Row(O::ClassesKey, L"CLSID\\{3C61A0E5-7D24-4B9F-9E13-5A8D2F6B0C47}"),
    Row(O::ProfileKey, L"TypeLib\\{9E4B7A12-60C3-4D5E-8F21-B3C7D905A1E6}"),
    Row(O::ClassesKey, L"TypeLib\\{9E4B7A12-60C3-4D5E-8F21-B3C7D905A1E6}"),
    Row(O::ProfileKey, L"Interface\\{D27F5C83-1A9B-4E60-B4D7-0E6C82F39A15}"),
    Row(O::ClassesKey, L"Interface\\{D27F5C83-1A9B-4E60-B4D7-0E6C82F39A15}"),
    Row(O::ProfileKey, L"AppID\\{5A0E93C7-B8D4-4F21-A6E9-71C3D2B8F064}"),
    Row(O::ClassesKey, L"AppID\\{5A0E93C7-B8D4-4F21-A6E9-71C3D2B8F064}"),
    Row(O::ProfileKey, L"AppID\\VkAScr.DLL"), Row(O::ClassesKey, L"AppID\\VkAScr.DLL"),
    // Script engines (JScript, JScript encode, VBScript, VBScript encode): their saved servers.
    Row(O::ScriptEngine, L"SOFTWARE\\Classes\\CLSID\\{f414c260-6ac0-11cf-b6d1-00aa00bbbb58}\\InprocServer32"),
    Row(O::ScriptEngine, L"SOFTWARE\\Classes\\CLSID\\{f414c262-6ac0-11cf-b6d1-00aa00bbbb58}\\InprocServer32"),
    Row(O::ScriptEngine, L"SOFTWARE\\Classes\\CLSID\\{B54F3741-5B07-11cf-A4B0-00AA004A55E8}\\InprocServer32"),
    Row(O::ScriptEngine, L"SOFTWARE\\Classes\\CLSID\\{B54F3743-5B07-11cf-A4B0-00AA004A55E8}\\InprocServer32"),
};

constexpr const wchar_t* kSavedEngineValue = L"Default Engine";
constexpr DWORD kSavedEngineBytes = 520;

std::wstring ServiceKeyOf(const wchar_t* service) { return std::wstring(kServicesKey) + service; }

bool GatePasses(Gate gate) {
  const OSVERSIONINFOEXW& v = g_setup.osVersion;
  switch (gate) {
    case Gate::Always: return true;
    case Gate::ProgramFolderKnown: return !g_detectedProgramFolder.empty();
    case Gate::Windows50: return v.dwMajorVersion >= 5;
    case Gate::FilterManager52:
      return (v.dwMajorVersion > 5 || (v.dwMajorVersion == 5 && v.dwMinorVersion >= 2)) &&
             regKeyExists(kFilterManagerKey);
  }
  return false;
}

// The saved server of a script engine: a REG_SZ "Default Engine" of at most 259 characters.
bool ReadSavedEngine(const wchar_t* subkey, wchar_t* text) {
  UniqueRegKey key;
  if (regOpenKey(HKLM, subkey, KEY_READ, key) != ERROR_SUCCESS) return false;
  ZeroMemory(text, kSavedEngineBytes);
  DWORD type = 0, size = kSavedEngineBytes - sizeof(wchar_t);
  LSTATUS rc = RegQueryValueExW(key.get(), kSavedEngineValue, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
  return rc == ERROR_SUCCESS && type == REG_SZ;
}

void RestoreScriptEngine(const wchar_t* subkey) {
  wchar_t saved[kSavedEngineBytes / sizeof(wchar_t)];
  if (!ReadSavedEngine(subkey, saved)) return;
  regSetString(subkey, HKLM, nullptr, saved);
  regDeleteValue(HKLM, subkey, kSavedEngineValue);
}

void AskTrayProgramToQuit(const wchar_t* windowClass) {
  if (HWND tray = FindWindowW(windowClass, nullptr)) PostMessageW(tray, WM_QUIT, 1, 0x80000000);
}

// "config.nt" is opened with redirection on: the 32-bit product reaches the 32-bit system
// folder's copy, and the 64-bit build takes the same decision.
void StripConfigNtDriverLines(const wchar_t* name) {
  StripDriverLines(AsRedirectedPath(g_setup.Expand(L"%SYS64%", name)).c_str());
}

void RunRow(const DriverRow& row) {
  switch (row.op) {
    case Op::DeleteValue: regDeleteValue(row.root, row.a, row.b); break;
    case Op::OutlookAddins: RemoveOutlookAddins(); break;
    case Op::OutlookCache: DeleteOutlookExtensionCache(); break;
    case Op::LoadOrderTag: RemoveServiceLoadOrderTag(row.a); break;
    case Op::StopService: StopServiceAndWait(row.a); break;
    case Op::UninstallService: UninstallService(row.a); break;
    case Op::NativeFile: DeleteFileUnredirected(g_setup.Expand(L"%SYS64%", row.a).c_str()); break;
    case Op::SharedFile: DeleteFileUnlessShared(g_setup.Expand(L"%SYS%", row.a).c_str(), true, false); break;
    case Op::Wow64File: DeleteFileUnredirected(g_setup.Expand(L"%SYS%", row.a).c_str()); break;
    case Op::ServiceKey: regDeleteTree(HKLM, ServiceKeyOf(row.a).c_str()); break;
    case Op::KeyboardFilters: RemoveKeyboardFilterEntries(); break;
    case Op::TrayWindow: AskTrayProgramToQuit(row.a); break;
    case Op::VddEntry: regRemoveVdd(JoinPath(g_detectedProgramFolder, row.a).c_str()); break;
    case Op::DriverLines: StripConfigNtDriverLines(row.a); break;
    case Op::NetComponent: RemoveNetworkComponent(row.a, row.b); break;
    case Op::ProfileKey: regDeleteTreeInAllProfiles(row.a); break;
    case Op::ClassesKey: regDeleteTree(HKEY_CLASSES_ROOT, row.a); break;
    case Op::ScriptEngine: RestoreScriptEngine(row.a); break;
  }
}

// Removes the first "qtxKbd" entry of a REG_MULTI_SZ held in data (size bytes). Reads only
// inside the data, also when its last entry or the closing empty entry is missing. Returns
// the new size (size itself when nothing was removed).
DWORD WithoutKeyboardFilter(std::vector<BYTE>& data, DWORD size) {
  const size_t count = size / sizeof(wchar_t);
  const wchar_t* chars = reinterpret_cast<const wchar_t*>(data.data());
  const size_t filterLength = wcslen(kKeyboardFilter);
  size_t pos = 0;
  while (pos < count && chars[pos] != L'\0') {
    size_t end = pos;
    while (end < count && chars[end] != L'\0') ++end;
    size_t length = end - pos;
    if (length == filterLength && _wcsnicmp(chars + pos, kKeyboardFilter, length) == 0) {
      size_t removed = (length + (end < count ? 1 : 0)) * sizeof(wchar_t);
      size_t from = pos * sizeof(wchar_t);
      memmove(data.data() + from, data.data() + from + removed, size - from - removed);
      return static_cast<DWORD>(size - removed);
    }
    pos = end + 1;
  }
  return size;
}

// Reads "UpperFilters" of an open class key: false when missing, not a multi-string, or unreadable.
bool ReadUpperFilters(HKEY classKey, std::vector<BYTE>& data, DWORD& size) {
  DWORD type = 0;
  size = 0;
  if (RegQueryValueExW(classKey, L"UpperFilters", nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_MULTI_SZ)
    return false;
  try {
    data.assign(size + sizeof(wchar_t), 0);
  } catch (...) {
    return false;
  }
  DWORD got = size;
  if (RegQueryValueExW(classKey, L"UpperFilters", nullptr, &type, data.data(), &got) != ERROR_SUCCESS ||
      type != REG_MULTI_SZ || got > size)
    return false;
  size = got;
  return true;
}

void RemoveKeyboardFilterIn(const wchar_t* controlSet) {
  std::wstring path = std::wstring(L"SYSTEM\\") + controlSet + kKeyboardClass;
  UniqueRegKey classKey;
  if (regOpenKey(HKLM, path.c_str(), KEY_ALL_ACCESS, classKey) != ERROR_SUCCESS) return;
  std::vector<BYTE> data;
  DWORD size = 0;
  if (!ReadUpperFilters(classKey.get(), data, size)) return;
  DWORD newSize = WithoutKeyboardFilter(data, size);
  if (newSize != size) RegSetValueExW(classKey.get(), L"UpperFilters", 0, REG_MULTI_SZ, data.data(), newSize);
}

// The control sets of HKLM\SYSTEM ("ControlSetNNN"), for the removal and the probe alike.
std::vector<std::wstring> ControlSets(bool bLog) {
  std::vector<std::wstring> sets;
  UniqueRegKey system;
  LSTATUS rc = regOpenKey(HKLM, L"SYSTEM", KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, system);
  if (rc != ERROR_SUCCESS) {
    if (bLog)
      g_log.Print(LOG_MIN, LOG_REGISTRY, L"Error: Unable to open HKLM\\SYSTEM key with error 0x%08lx!",
                  static_cast<unsigned long>(rc));
    return sets;
  }
  DWORD subkeys = 0, longest = 0;
  rc = RegQueryInfoKeyW(system.get(), nullptr, nullptr, nullptr, &subkeys, &longest, nullptr, nullptr,
                        nullptr, nullptr, nullptr, nullptr);
  if (rc != ERROR_SUCCESS) {
    if (bLog)
      g_log.Print(LOG_MIN, LOG_REGISTRY, L"Error: Unable to query HKLM\\SYSTEM key with error 0x%08lx!",
                  static_cast<unsigned long>(rc));
  } else {
    std::vector<wchar_t> name(longest + 1, L'\0');
    for (DWORD index = 0; index < subkeys; ++index) {
      DWORD length = static_cast<DWORD>(name.size());
      rc = RegEnumKeyExW(system.get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
      if (rc != ERROR_SUCCESS || length >= name.size()) {
        if (bLog)
          g_log.Print(LOG_MIN, LOG_REGISTRY, L"Error: Unable to retrieve HKLM\\SYSTEM subkey with error 0x%08lx!",
                      static_cast<unsigned long>(rc));
        continue;
      }
      if (wcsncmp(name.data(), L"ControlSet", 10) != 0) {
        if (bLog) g_log.Print(LOG_VRB, LOG_REGISTRY, L"Debug: Skipping subkey HKLM\\SYSTEM\\%s.", name.data());
        continue;
      }
      sets.push_back(name.data());
    }
  }
  // Closed here rather than by the owner, so that a failing close can be logged.
  rc = RegCloseKey(system.release());
  if (rc != ERROR_SUCCESS && bLog)
    g_log.Print(LOG_VRB, LOG_REGISTRY, L"Debug: Unable to close HKLM\\SYSTEM registry key with error 0x%08lx!",
                static_cast<unsigned long>(rc));
  return sets;
}

// --- The presence probe -------------------------------------------------------------------

void Add(ResidueList& found, const wchar_t* kind, const std::wstring& what) {
  for (const Residue& r : found)
    if (r.kind == kind && _wcsicmp(r.what.c_str(), what.c_str()) == 0) return;
  found.push_back({kind, what});
}

bool KeyPresent(HKEY root, const wchar_t* subkey) {
  UniqueRegKey key;
  return regOpenKey(root, subkey, KEY_READ, key) == ERROR_SUCCESS;
}

bool ValuePresent(HKEY root, const wchar_t* subkey, const wchar_t* name) {
  UniqueRegKey key;
  return regOpenKey(root, subkey, KEY_READ, key) == ERROR_SUCCESS &&
         RegQueryValueExW(key.get(), name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

const wchar_t* RootName(HKEY root) {
  return root == HKEY_CURRENT_USER ? L"HKCU\\" : root == HKEY_CLASSES_ROOT ? L"HKCR\\" : L"HKLM\\";
}

bool FilePresent(const std::wstring& path, bool unredirected) {
  if (unredirected) {
    FsRedirectionOff off;
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void ProbeFile(ResidueList& found, const std::wstring& path, bool unredirected) {
  if (!FilePresent(path, unredirected)) return;
  Add(found, IsQueuedForReboot(path.c_str()) ? L"driver file (queued for restart)" : L"driver file", path);
}

// Reads a whole value of the expected type; false otherwise.
bool ReadValue(HKEY key, const wchar_t* name, DWORD wantedType, std::vector<BYTE>& data) {
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != wantedType) return false;
  data.assign(size + sizeof(wchar_t), 0);
  if (RegQueryValueExW(key, name, nullptr, &type, data.data(), &size) != ERROR_SUCCESS || type != wantedType)
    return false;
  data.resize(size);
  return true;
}

bool HasKeyboardFilter(const std::wstring& controlSet) {
  std::wstring path = L"SYSTEM\\" + controlSet + kKeyboardClass;
  UniqueRegKey classKey;
  if (regOpenKey(HKLM, path.c_str(), KEY_READ, classKey) != ERROR_SUCCESS) return false;
  std::vector<BYTE> data;
  DWORD size = 0;
  return ReadUpperFilters(classKey.get(), data, size) && WithoutKeyboardFilter(data, size) != size;
}

// Entries of the VDD list that end with suffix (without regard to case).
bool VddListed(const std::wstring& suffix) {
  UniqueRegKey key;
  std::vector<BYTE> data;
  if (suffix.empty() || regOpenKey(HKLM, kVddKey, KEY_READ, key) != ERROR_SUCCESS ||
      !ReadValue(key.get(), L"VDD", REG_MULTI_SZ, data))
    return false;
  data.resize(data.size() + 2 * sizeof(wchar_t), 0);
  for (const wchar_t* entry = reinterpret_cast<const wchar_t*>(data.data()); *entry; entry += wcslen(entry) + 1) {
    size_t n = wcslen(entry);
    if (n >= suffix.size() && _wcsicmp(entry + n - suffix.size(), suffix.c_str()) == 0) return true;
  }
  return false;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether the first megabyte of an 8-bit text file holds `needle` (ASCII, any letter case).
bool FileMentions(const std::wstring& path, const wchar_t* needle) {
  UniqueKernelHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
  if (!file) return false;
  std::vector<char> text(1 << 20);
  DWORD got = 0;
  if (!ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &got, nullptr)) return false;
  size_t n = wcslen(needle);
  for (size_t at = 0; at + n <= got; ++at) {
    size_t i = 0;
    while (i < n && AsciiLower(text[at + i]) == AsciiLower(static_cast<char>(needle[i]))) ++i;
    if (i == n) return true;
  }
  return false;
}

// The profile hives of the profile list, then HKEY_USERS\.DEFAULT, as the deletion visits them.
bool ProfileKeyPresent(const wchar_t* subkey, std::vector<std::wstring>& where) {
  const wchar_t* listPath = g_setup.IsOS(OS_NT) ? L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList"
                                                : L"Software\\Microsoft\\Windows\\CurrentVersion\\ProfileList";
  UniqueRegKey list;
  std::vector<std::wstring> profiles;
  if (regOpenKey(HKLM, listPath, KEY_READ, list) == ERROR_SUCCESS) {
    wchar_t name[MAX_PATH + 1];
    for (DWORD i = 0; RegEnumKeyW(list.get(), i, name, MAX_PATH + 1) == ERROR_SUCCESS; ++i) profiles.push_back(name);
  }
  if (profiles.empty()) {
    if (KeyPresent(HKEY_CURRENT_USER, subkey)) where.push_back(std::wstring(L"HKCU\\") + subkey);
  }
  for (const std::wstring& profile : profiles) {
    wchar_t mountName[MAX_PATH] = {0};
    UniqueRegKey hive = regOpenProfileHive(profile.c_str(), list.get(), false, mountName);
    if (!hive) continue;
    if (KeyPresent(hive.get(), subkey)) where.push_back(L"profile " + profile + L": " + subkey);
    hive.reset();
    if (mountName[0]) RegUnLoadKeyW(HKEY_USERS, mountName);
  }
  if (KeyPresent(HKEY_USERS, (std::wstring(L".DEFAULT\\") + subkey).c_str()))
    where.push_back(std::wstring(L"HKU\\.DEFAULT\\") + subkey);
  return !where.empty();
}

void ProbeRow(const DriverRow& row, ResidueList& found) {
  switch (row.op) {
    case Op::DeleteValue:
      if (ValuePresent(row.root, row.a, row.b)) Add(found, L"value", RootName(row.root) + std::wstring(row.a) + L" [" + row.b + L"]");
      break;
    case Op::OutlookAddins: ProbeOutlookAddins(found); break;
    case Op::OutlookCache: break;  // probed with the add-ins
    case Op::LoadOrderTag:
      if (IsServiceLoadOrderTagListed(row.a)) Add(found, L"load-order tag", row.a);
      break;
    case Op::StopService: break;  // the uninstall row of the same service asks
    case Op::UninstallService:
      if (IsServiceInstalled(row.a)) Add(found, L"service", row.a);
      break;
    case Op::NativeFile: ProbeFile(found, g_setup.Expand(L"%SYS64%", row.a), true); break;
    case Op::SharedFile: ProbeFile(found, g_setup.Expand(L"%SYS%", row.a), false); break;
    case Op::Wow64File: ProbeFile(found, g_setup.Expand(L"%SYS%", row.a), true); break;
    case Op::ServiceKey:
      if (KeyPresent(HKLM, ServiceKeyOf(row.a).c_str())) Add(found, L"service key", L"HKLM\\" + ServiceKeyOf(row.a));
      break;
    case Op::KeyboardFilters:
      for (const std::wstring& set : ControlSets(false))
        if (HasKeyboardFilter(set)) Add(found, L"filter entry", L"HKLM\\SYSTEM\\" + set + kKeyboardClass + L" [UpperFilters] qtxKbd");
      break;
    case Op::TrayWindow:
      if (FindWindowW(row.a, nullptr)) Add(found, L"window", row.a);
      break;
    case Op::VddEntry:
      if (VddListed(JoinPath(g_detectedProgramFolder, row.a))) Add(found, L"VDD entry", JoinPath(g_detectedProgramFolder, row.a));
      break;
    case Op::DriverLines: {
      std::wstring path = AsRedirectedPath(g_setup.Expand(L"%SYS64%", row.a));
      if (FileMentions(path, kLegacyDriverName)) Add(found, L"driver line", path);
      break;
    }
    case Op::NetComponent:
      if (IsNetComponentInstalled(row.a)) Add(found, L"network component", row.a);
      for (const std::wstring& inf : FindOemDriverPackages(row.b, L"")) Add(found, L"driver package", inf);
      break;
    case Op::ProfileKey: {
      std::vector<std::wstring> places;
      if (ProfileKeyPresent(row.a, places))
        for (const std::wstring& place : places) Add(found, L"profile key", place);
      break;
    }
    case Op::ClassesKey:
      if (KeyPresent(HKEY_CLASSES_ROOT, row.a)) Add(found, L"key", std::wstring(L"HKCR\\") + row.a);
      break;
    case Op::ScriptEngine:
      if (ValuePresent(HKLM, row.a, kSavedEngineValue)) Add(found, L"value", std::wstring(L"HKLM\\") + row.a + L" [Default Engine]");
      break;
  }
}

}  // namespace

void RemoveKeyboardFilterEntries() {
  for (const std::wstring& set : ControlSets(true)) RemoveKeyboardFilterIn(set.c_str());
}

void RemoveProtectionDrivers() {
  for (const DriverRow& row : kDriverRows)
    if (GatePasses(row.gate)) RunRow(row);
}

void ProbeProtectionDrivers(ResidueList& found) {
  for (const DriverRow& row : kDriverRows) ProbeRow(row, found);
}
