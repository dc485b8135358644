// The suite's registry entries outside its services and drivers: product keys, file types,
// shell and COM registrations, certificate stores, tracing keys, start-up values, installer
// records, the event-log source and the scheduled emergency-update task. Every row is
// addressed in the program's own registry view, the one the suite's 32-bit installer writes;
// the task scheduler's cache also in the 64-bit view, where the native scheduler keeps it.
#include <cwchar>
#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "catalog/probe.h"
#include "catalog/program_files.h"
#include "catalog/row_presence.h"
#include "setup/product.h"
#include "setup/setup_globals.h"
#include "sysops/registry.h"

namespace {
// A key tree (value null) or one named value of a key.
struct RegistryRow {
  HKEY root;
  const wchar_t* key;  // null: the product's main key found by detection
  const wchar_t* value;
  bool adBlockerRecords = false;  // the values named by the ad-blocker component's folders
};

constexpr const wchar_t* kInstallerFolders = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders";
// The ad-blocker component's folders, relative to its own folder, each with its trailing
// backslash: the installer records one value per folder, named by its full path.
const wchar_t* const kAdBlockerSubfolders[] = {
    L"",
    L"html\\",
    L"html\\static\\",
    L"html\\static\\css\\",
    L"html\\static\\img\\",
    L"html\\static\\img\\features\\",
    L"html\\static\\js\\",
    L"html\\static\\js\\vendor\\",
    L"html\\templates\\",
};
// Where the component's records name it on most machines: the native Program Files folder.
constexpr const wchar_t* kFixedAdBlockerFolder = L"C:\\Program Files\\VELKO Software\\velko! Ad Blocker IE\\";

const RegistryRow kRegistryRows[] = {
    {HKEY_CURRENT_USER, nullptr, nullptr},
    {HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.velkolic", nullptr},
    {HKEY_CURRENT_USER, L"SOFTWARE\\VELKO Software\\Velko", nullptr},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\VELKO Software\\Velko", nullptr},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\velko", nullptr},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\VELKO Software\\Tunnelway", nullptr},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\VELKO Software\\Velko Browser Cleanup", nullptr},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\.velkoconfig", nullptr},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\.velkolic", nullptr},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\.velkovpn", nullptr},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\.velkosounds", nullptr},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\.velkotheme", nullptr},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\velkoconfigfile", nullptr},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\velkolicfile", nullptr},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\velkovpnfile", nullptr},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\VelkoPersistentStorage", nullptr},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\velkosoundsfile", nullptr},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\velkothemefile", nullptr},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\AllFilesystemObjects\\shellex\\ContextMenuHandlers\\00velko", nullptr},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\SystemCertificates\\velko! Mail Scanner Cache", nullptr},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\SystemCertificates\\velko! Mail Scanner Trusted", nullptr},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Tracing\\velko_RASAPI32", nullptr},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Tracing\\velko_RASMANCS", nullptr},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\VelkoUI.exe", nullptr},
    {HKEY_LOCAL_MACHINE,
     L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ShellIconOverlayIdentifiers\\00velko", nullptr},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Google\\No Drive Offer Until", L"VELKO Software"},
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", L"VelkoUI.exe"},
    {HKEY_CLASSES_ROOT, L"AppID\\{080F7E03-AC50-4949-AACA-E79F82D3099F}", nullptr},
    {HKEY_CLASSES_ROOT, L"AppID\\VelkoGUIProxy.DLL", nullptr},
    {HKEY_CLASSES_ROOT, L"VelkoGUIProxy.GUIProxy", nullptr},
    {HKEY_CLASSES_ROOT, L"VelkoGUIProxy.GUIProxy.1", nullptr},
    {HKEY_CLASSES_ROOT, L"VelkoGUIProxy.GUIProxyState", nullptr},
    {HKEY_CLASSES_ROOT, L"VelkoGUIProxy.GUIProxyState.1", nullptr},
    {HKEY_CLASSES_ROOT, L"TypeLib\\{5D605A2B-ACDE-49CD-9642-7B268923ACD9}", nullptr},
    // The installer's packed form of the product code of the uninstall entry below.
    {HKEY_CLASSES_ROOT, L"Installer\\Products\\B82B4B276FD996E4E9001FEE1500A1DD", nullptr},
    // The browser's external-extension entry of the suite's browser extension.
    {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Google\\Chrome\\Extensions\\mlcbgpekccokebfafkgegcfanihaiknk", nullptr},
    {HKEY_LOCAL_MACHINE,
     L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{72B4B28B-9DF6-4E69-9E00-F1EE51001ADD}", nullptr},
    // The installer's folder records of the ad-blocker component: one value per folder.
    {HKEY_LOCAL_MACHINE, kInstallerFolders, nullptr, true},
    {HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Antivirus", nullptr},
};

constexpr const wchar_t* kAppPathExe = L"pmrVelko.exe";
constexpr const wchar_t* kAppPathsKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\pmrVelko.exe";
constexpr const wchar_t* kTaskTreeKey =
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Schedule\\TaskCache\\Tree\\velko! Emergency Update";
constexpr const wchar_t* kTaskTasksKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Schedule\\TaskCache\\Tasks\\";
constexpr size_t kTaskIdChars = 260;  // 520 bytes

const wchar_t* RowKey(const RegistryRow& row) { return row.key ? row.key : g_productRegistryKey.c_str(); }

// The folder the App Paths entry must name, with one trailing backslash: the entry's "Path"
// then matches with and without its own trailing backslash, in any letter case.
std::wstring AppPathFolder() {
  std::wstring folder = g_detectedProgramFolder;
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  return folder;
}

// The task's identifier from its Tree key in a view: text only, and never a name that would
// address the Tasks key itself or a key below another task.
std::wstring ReadTaskId(RegView view) {
  UniqueRegKey key;
  if (regOpenKey(HKEY_LOCAL_MACHINE, kTaskTreeKey, KEY_READ, key, view) != ERROR_SUCCESS) return L"";
  wchar_t id[kTaskIdChars + 1] = {0};
  DWORD type = 0, size = kTaskIdChars * sizeof(wchar_t);
  if (RegQueryValueExW(key.get(), L"Id", nullptr, &type, reinterpret_cast<BYTE*>(id), &size) != ERROR_SUCCESS ||
      type != REG_SZ)
    return L"";
  std::wstring text(id);
  if (text.find(L'\\') != std::wstring::npos) return L"";
  return text;
}

// The views the task scheduler's cache is looked for in: the program's own, and on 64-bit
// Windows the 64-bit one, where the native scheduler service keeps it.
std::vector<RegView> TaskCacheViews() {
  std::vector<RegView> views = {RegView::Plain};
  if (g_setup.IsOS(OS_WOW64 | OS_X64)) views.push_back(RegView::View64);
  return views;
}

void RemoveScheduledTask() {
  for (RegView view : TaskCacheViews()) {
    std::wstring id = ReadTaskId(view);
    if (!id.empty()) regDeleteOneKey(HKEY_LOCAL_MACHINE, (kTaskTasksKey + id).c_str(), view);
    regDeleteOneKey(HKEY_LOCAL_MACHINE, kTaskTreeKey, view);
  }
}

// The folders the ad-blocker component's records are named by: the usual one, and the one
// the program-files step removes beside the program folder when that is another (a 32-bit
// installation on 64-bit Windows, another drive or folder). Each ends with a backslash.
std::vector<std::wstring> AdBlockerRecordFolders() {
  std::vector<std::wstring> folders = {kFixedAdBlockerFolder};
  std::wstring formed = AdBlockerFolderOf(FolderAsUsed(g_detectedProgramFolder));
  if (!formed.empty()) {
    formed += L'\\';
    if (_wcsicmp(formed.c_str(), kFixedAdBlockerFolder) != 0) folders.push_back(formed);
  }
  return folders;
}

std::vector<std::wstring> AdBlockerRecordNames() {
  std::vector<std::wstring> names;
  for (const std::wstring& folder : AdBlockerRecordFolders())
    for (const wchar_t* subfolder : kAdBlockerSubfolders) names.push_back(folder + subfolder);
  return names;
}

// The step's result: 0 when the product's main key is gone from the view the suite writes
// (or no product was detected); otherwise the Windows code of a last attempt to delete it.
DWORD MainKeyResult() {
  if (g_productRegistryKey.empty()) return ERROR_SUCCESS;
  const wchar_t* mainKey = g_productRegistryKey.c_str();
  if (g_installedMajorVersion == 6 || g_installedMajorVersion == 7) regDeleteTree(HKEY_LOCAL_MACHINE, mainKey);
  UniqueRegKey key;
  if (regOpenKey(HKEY_LOCAL_MACHINE, mainKey, KEY_READ, key) == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
  key.reset();
  LSTATUS rc = regDeleteOneKey(HKEY_LOCAL_MACHINE, mainKey, RegView::Plain);
  if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;
  return static_cast<DWORD>(rc);
}
}  // namespace

DWORD RemoveRegistryEntries() {
  regRemoveAppPath(kAppPathExe, AppPathFolder().c_str());
  for (const RegistryRow& row : kRegistryRows) {
    if (row.adBlockerRecords) {
      for (const std::wstring& name : AdBlockerRecordNames()) regDeleteValue(row.root, row.key, name.c_str());
    } else if (row.value) {
      regDeleteValue(row.root, row.key, row.value);
    } else {
      regDeleteTree(row.root, RowKey(row));
    }
  }
  RemoveScheduledTask();
  return MainKeyResult();
}

void ProbeRegistryEntries(ResidueList& found) {
  using namespace rowprobe;
  wchar_t path[MAX_PATH] = {0};
  if (regGetString(HKEY_LOCAL_MACHINE, kAppPathsKey, L"Path", path, sizeof path, false) == ERROR_SUCCESS) {
    std::wstring value = path;
    if (!value.empty() && value.back() != L'\\') value += L'\\';
    if (_wcsicmp(value.c_str(), AppPathFolder().c_str()) == 0) Add(found, L"App Paths entry", KeyName(HKEY_LOCAL_MACHINE, kAppPathsKey));
  }
  for (const RegistryRow& row : kRegistryRows) {
    const wchar_t* key = RowKey(row);
    if (row.adBlockerRecords) {
      for (const std::wstring& name : AdBlockerRecordNames())
        if (ValuePresent(row.root, key, name.c_str())) Add(found, L"value", KeyName(row.root, key) + L" [" + name + L"]");
    } else if (row.value) {
      if (ValuePresent(row.root, key, row.value)) Add(found, L"value", KeyName(row.root, key) + L" [" + row.value + L"]");
    } else if (KeyPresent(row.root, key)) {
      Add(found, L"key", KeyName(row.root, key));
    }
  }
  for (RegView view : TaskCacheViews()) {
    const wchar_t* viewName = view == RegView::View64 ? L"64-bit" : L"";
    std::wstring id = ReadTaskId(view);
    if (!id.empty() && KeyPresent(HKEY_LOCAL_MACHINE, (kTaskTasksKey + id).c_str(), view))
      AddResidue(found, {L"scheduled task", KeyName(HKEY_LOCAL_MACHINE, kTaskTasksKey + id), viewName});
    if (KeyPresent(HKEY_LOCAL_MACHINE, kTaskTreeKey, view))
      AddResidue(found, {L"scheduled task", KeyName(HKEY_LOCAL_MACHINE, kTaskTreeKey), viewName});
  }
  // The main key is normally the machine-wide product key of the table, already probed.
  bool mainKeyInTable = false;
  for (const RegistryRow& row : kRegistryRows)
    mainKeyInTable |= row.root == HKEY_LOCAL_MACHINE && row.key && !row.value &&
                      _wcsicmp(row.key, g_productRegistryKey.c_str()) == 0;
  if (!mainKeyInTable && KeyPresent(HKEY_LOCAL_MACHINE, g_productRegistryKey.c_str()))
    Add(found, L"key", KeyName(HKEY_LOCAL_MACHINE, g_productRegistryKey));
  if (KeyPresent(HKEY_LOCAL_MACHINE, kUninstallKey)) Add(found, L"key", KeyName(HKEY_LOCAL_MACHINE, kUninstallKey));
}
