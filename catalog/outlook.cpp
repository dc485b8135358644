// The mail client's add-in registrations (both registry views) and its extension cache file.
#include <string>
#include <vector>

#include "base/path.h"
#include "base/regkey.h"
#include "catalog/catalog.h"
#include "catalog/drivers.h"
#include "log/log.h"
#include "sysops/files.h"
#include "sysops/nofollow.h"
#include "sysops/registry.h"

// HKEY_LOCAL_MACHINE keys of the add-ins, removed from the 32-bit and then the 64-bit view.
const wchar_t* const kOutlookAddinKeys[] = {
    L"SOFTWARE\\Microsoft\\Office\\Outlook\\Addins\\velkoAddin",
    L"SOFTWARE\\Classes\\velkoAddin",
    L"SOFTWARE\\Classes\\velkoAddin.1",
    L"SOFTWARE\\Microsoft\\Office\\Outlook\\Addins\\velko.QtOutExt",
    L"SOFTWARE\\Classes\\velko.QtOutExt",
    L"SOFTWARE\\Classes\\velko.QtOutExt.1",
    L"SOFTWARE\\Classes\\QtOutExt.RibbonWrapper",
    L"SOFTWARE\\Classes\\QtOutExt.RibbonWrapper.1",
    L"SOFTWARE\\Classes\\CLSID\\{A7B202AB-A508-4235-9C97-C25799782590}",
    L"SOFTWARE\\Classes\\CLSID\\{E16C6003-9217-4626-83B0-757C9EA47E53}",
    L"SOFTWARE\\Classes\\TypeLib\\{EF9547D2-97F6-412F-A886-BABD7005A4D8}",
};
const size_t kOutlookAddinKeyCount = sizeof kOutlookAddinKeys / sizeof kOutlookAddinKeys[0];

namespace {
constexpr const wchar_t* kShellFoldersKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const wchar_t* kExtensionCache = L"Microsoft\\Outlook\\EXTEND.DAT";
}  // namespace

// The current user's cache file: "Local AppData" joined with the cache's relative path.
// Empty when the key or value is missing: the relative path alone would name a file under
// whatever the current folder happens to be.
std::wstring OutlookExtensionCachePath() {
  std::vector<wchar_t> folder(65536 / sizeof(wchar_t), L'\0');
  regGetString(HKEY_CURRENT_USER, kShellFoldersKey, L"Local AppData", folder.data(),
               static_cast<DWORD>(folder.size() * sizeof(wchar_t)), false);
  if (folder[0] == L'\0') return std::wstring();
  return JoinPath(std::wstring(folder.data()), kExtensionCache);
}

void RemoveOutlookAddins() {
  g_log.Print(LOG_MIN, LOG_SYSTEM, L"Unregistering all Outlook plugins");
  for (const wchar_t* key : kOutlookAddinKeys) {
    regDeleteTree32(HKEY_LOCAL_MACHINE, key);
    regDeleteTree64(HKEY_LOCAL_MACHINE, key);
  }
}

void DeleteOutlookExtensionCache() {
  std::wstring path = OutlookExtensionCachePath();
  if (path.empty()) return;
  // The folder comes from the user's own shell-folder key and lies in their profile: it is
  // deleted without following a link, and never queued for the restart (Windows would then
  // follow whatever the user has put on the path by then).
  DWORD rc = DeleteFileNoFollow(path);
  if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND) rc = 0;
  if (rc != 0)
    g_log.Print(LOG_VRB, LOG_SYSTEM, L"ERROR: Couldn't delete outlook cache in %s, error code:0x%08X",
                path.c_str(), static_cast<unsigned>(rc));
}
