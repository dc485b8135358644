// The presence probe of the driver step: walks the step's rows and reports what each would
// remove that is still on the machine, changing nothing. Kept apart from the removal so that
// a program that never probes does not carry it.
#include <cwchar>
#include <string>
#include <vector>

#include "base/path.h"
#include "base/regkey.h"
#include "base/wow64.h"
#include "catalog/drivers.h"
#include "catalog/probe.h"
#include "setup/product.h"
#include "setup/setup_globals.h"
#include "sysops/hives.h"
#include "sysops/netcfg.h"
#include "sysops/reboot_queue.h"
#include "sysops/services.h"

using namespace driver_rows;

namespace {

const HKEY HKLM = HKEY_LOCAL_MACHINE;

bool AddinKeyPresent(const wchar_t* subkey, RegView view) {
  UniqueRegKey key;
  return regOpenKey(HKEY_LOCAL_MACHINE, subkey, KEY_READ, key, view) == ERROR_SUCCESS;
}


void Add(ResidueList& found, const wchar_t* kind, const std::wstring& what) {
  for (const Residue& r : found)
    if (r.kind == kind && _wcsicmp(r.what.c_str(), what.c_str()) == 0) return;
  AddResidue(found, {kind, what});
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
  Add(found, L"driver file", path);
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
      if (ValuePresent(RootOf(row), row.a, row.b)) Add(found, L"value", RootName(RootOf(row)) + std::wstring(row.a) + L" [" + row.b + L"]");
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
      std::wstring path = g_setup.Expand(L"%SYS%", row.a);  // the 32-bit copy, by its own name
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

void ProbeProtectionDrivers(ResidueList& found) {
  for (size_t i = 0; i < kDriverRowCount; ++i) ProbeRow(kDriverRows[i], found);
}

void ProbeOutlookAddins(ResidueList& found) {
  // On 32-bit Windows both views are the one key.
  bool twoViews = g_setup.IsOS(OS_WOW64 | OS_X64);
  for (size_t i = 0; i < kOutlookAddinKeyCount; ++i) {
    const wchar_t* key = kOutlookAddinKeys[i];
    std::wstring what = std::wstring(L"HKLM\\") + key;
    if (AddinKeyPresent(key, RegView::View32)) AddResidue(found, {L"key", what, twoViews ? L"32-bit" : L""});
    if (twoViews && AddinKeyPresent(key, RegView::View64)) AddResidue(found, {L"key", what, L"64-bit"});
  }
  std::wstring cache = OutlookExtensionCachePath();
  if (!cache.empty() && GetFileAttributesW(cache.c_str()) != INVALID_FILE_ATTRIBUTES) AddResidue(found, {L"file", cache});
}
