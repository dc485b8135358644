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
#include "log/log.h"
#include "setup/product.h"
#include "setup/setup_globals.h"
#include "sysops/files.h"
#include "sysops/hives.h"
#include "sysops/netcfg.h"
#include "sysops/reboot_queue.h"
#include "sysops/registry.h"
#include "sysops/services.h"


using namespace driver_rows;

namespace {

constexpr DriverRow Row(Op op, const wchar_t* a, Gate gate = Gate::Always) {
  return DriverRow{op, a, nullptr, gate, false};
}
constexpr DriverRow Value(bool currentUser, const wchar_t* key, const wchar_t* name) {
  return DriverRow{Op::DeleteValue, key, name, Gate::Always, currentUser};
}
constexpr DriverRow Component(const wchar_t* id, const wchar_t* catalog) {
  return DriverRow{Op::NetComponent, id, catalog, Gate::Always, false};
}

const HKEY HKLM = HKEY_LOCAL_MACHINE;
constexpr bool kMachine = false, kUser = true;
using O = Op;

}  // namespace

// The whole step, in the order it runs. Three orders hold: a tag goes while its service key
// still holds "Tag" and "Group"; a driver is marked for deletion before its file goes; a
// network component goes through the network configuration before its service key.
const DriverRow driver_rows::kDriverRows[] = {
    // Mail-client hooks.
    Value(kMachine, kExchangeExtensions, L"velko!"),
    Value(kMachine, kExchangeExtensions, L"velko! 5"),
    Row(O::OutlookAddins, nullptr),
    Row(O::OutlookCache, nullptr),
    Value(kMachine, kRunKey, L"pmrMaiSv"),
    Value(kUser, kRunKey, L"pmrMaiSv"),
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
    Value(kMachine, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"velko5"),
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
const size_t driver_rows::kDriverRowCount = sizeof kDriverRows / sizeof kDriverRows[0];

namespace {

constexpr DWORD kSavedEngineBytes = 520;


}  // namespace

std::wstring driver_rows::ServiceKeyOf(const wchar_t* service) { return std::wstring(kServicesKey) + service; }

namespace {

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
  DWORD type = 0, size = kSavedEngineBytes;
  LSTATUS rc = RegQueryValueExW(key.get(), kSavedEngineValue, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
  // Stored text need not carry its terminator: 260 characters without one do not fit.
  const size_t chars = kSavedEngineBytes / sizeof(wchar_t);
  return rc == ERROR_SUCCESS && type == REG_SZ && wcsnlen(text, chars) < chars;
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
    case Op::DeleteValue: regDeleteValue(RootOf(row), row.a, row.b); break;
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

}  // namespace

// Removes the first "qtxKbd" entry of a REG_MULTI_SZ held in data (size bytes). Reads only
// inside the data, also when its last entry or the closing empty entry is missing. Returns
// the new size (size itself when nothing was removed).
DWORD driver_rows::WithoutKeyboardFilter(std::vector<BYTE>& data, DWORD size) {
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
// A larger "UpperFilters" is not a filter list; it is left alone rather than read.
constexpr DWORD kMaxFilterListBytes = 65536;

bool driver_rows::ReadUpperFilters(HKEY classKey, std::vector<BYTE>& data, DWORD& size) {
  DWORD type = 0;
  size = 0;
  if (RegQueryValueExW(classKey, L"UpperFilters", nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_MULTI_SZ)
    return false;
  if (size > kMaxFilterListBytes) return false;  // a filter list is a few names long
  data.assign(size + sizeof(wchar_t), 0);
  DWORD got = size;
  if (RegQueryValueExW(classKey, L"UpperFilters", nullptr, &type, data.data(), &got) != ERROR_SUCCESS ||
      type != REG_MULTI_SZ || got > size)
    return false;
  size = got;
  return true;
}

namespace {

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

}  // namespace

// The control sets of HKLM\SYSTEM ("ControlSetNNN"), for the removal and the probe alike.
std::vector<std::wstring> driver_rows::ControlSets(bool bLog) {
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



void RemoveKeyboardFilterEntries() {
  for (const std::wstring& set : ControlSets(true)) RemoveKeyboardFilterIn(set.c_str());
}

void RemoveProtectionDrivers() {
  for (size_t i = 0; i < kDriverRowCount; ++i)
    if (GatePasses(kDriverRows[i].gate)) RunRow(kDriverRows[i]);
}

