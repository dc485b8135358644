// Internals of the driver step that tests call directly.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "catalog/probe.h"

// Removes the suite's keyboard filter ("qtxKbd") from the keyboard class's "UpperFilters" in
// every HKLM\SYSTEM\ControlSetNNN; the other subkeys of SYSTEM are skipped.
void RemoveKeyboardFilterEntries();

// The mail-client rows of the driver step (add-in keys in both views, the extension cache).
void ProbeOutlookAddins(ResidueList& found);
// The mail client's add-in keys under HKEY_LOCAL_MACHINE, and the current user's extension
// cache file (empty when the user's "Local AppData" is unknown).
extern const wchar_t* const kOutlookAddinKeys[];
extern const size_t kOutlookAddinKeyCount;
std::wstring OutlookExtensionCachePath();

// The step's rows and the pieces the removal and the presence probe share.
namespace driver_rows {

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
  bool currentUser;  // a value row's hive: HKEY_CURRENT_USER, else HKEY_LOCAL_MACHINE
};

inline HKEY RootOf(const DriverRow& row) { return row.currentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

// Every row of the step, in the order it runs.
extern const DriverRow kDriverRows[];
extern const size_t kDriverRowCount;

constexpr const wchar_t* kServicesKey = L"SYSTEM\\CurrentControlSet\\Services\\";
constexpr const wchar_t* kExchangeExtensions = L"SOFTWARE\\Microsoft\\Exchange\\Client\\Extensions";
constexpr const wchar_t* kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* kFilterManagerKey = L"System\\CurrentControlSet\\Services\\fltmgr";
constexpr const wchar_t* kKeyboardClass = L"\\Control\\Class\\{4D36E96B-E325-11CE-BFC1-08002BE10318}";
constexpr const wchar_t* kKeyboardFilter = L"qtxKbd";
constexpr const wchar_t* kVddKey = L"SYSTEM\\CurrentControlSet\\Control\\VirtualDeviceDrivers";
constexpr const wchar_t* kLegacyDriverName = L"qtxmonds.sys";
constexpr const wchar_t* kSavedEngineValue = L"Default Engine";

// HKLM\SYSTEM\CurrentControlSet\Services\ + service.
std::wstring ServiceKeyOf(const wchar_t* service);
// Removes the first "qtxKbd" entry of a REG_MULTI_SZ held in data (size bytes), reading only
// inside the data; returns the new size (size itself when nothing was removed).
DWORD WithoutKeyboardFilter(std::vector<BYTE>& data, DWORD size);
// "UpperFilters" of an open class key: false when missing, not a multi-string, or unreadable.
bool ReadUpperFilters(HKEY classKey, std::vector<BYTE>& data, DWORD& size);
// The "ControlSetNNN" subkeys of HKLM\SYSTEM; bLog logs failures and skipped subkeys.
std::vector<std::wstring> ControlSets(bool bLog);

}  // namespace driver_rows
