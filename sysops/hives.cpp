#include "sysops/hives.h"

#include <cwchar>
#include <string>

#include "log/log.h"
#include "setup/setup_globals.h"
#include "base/path.h"
#include "sysops/registry.h"
#include "base/wow64.h"

namespace {
// Enough to create and delete keys below a hive root; also used for the profile list.
constexpr REGSAM kHiveAccess = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;

const wchar_t* ProfileListPath() {
  return g_setup.IsOS(OS_NT) ? L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList"
                             : L"Software\\Microsoft\\Windows\\CurrentVersion\\ProfileList";
}

const wchar_t* HiveFileName() { return g_setup.IsOS(OS_NT) ? L"NtUser.dat" : L"User.dat"; }

// The predefined HKEY_CURRENT_USER handle caches a handle into the user's hive; dropping it
// keeps the process from holding a user hive open while hives are mounted and unmounted.
// A predefined handle is never owned by a UniqueRegKey, hence the direct call.
void DropCurrentUserHandle() { RegCloseKey(HKEY_CURRENT_USER); }

// The hive file of one profile: its "ProfileImagePath" expanded, with the hive file name
// appended when it names a folder. Empty when any step fails.
std::wstring ProfileHivePath(HKEY profileList, const wchar_t* profileName) {
  UniqueRegKey profile;
  if (regOpenKey(profileList, profileName, KEY_READ, profile) != ERROR_SUCCESS) {
    PrintPair(LOG_VRB, LOG_REGISTRY, L"Cannot open registry profile:", profileName);
    return L"";
  }
  wchar_t raw[MAX_PATH] = L"";
  DWORD type = 0;
  DWORD size = sizeof raw;
  if (RegQueryValueExW(profile.get(), L"ProfileImagePath", nullptr, &type, reinterpret_cast<BYTE*>(raw),
                       &size) != ERROR_SUCCESS)
    return L"";
  if ((type != REG_SZ && type != REG_EXPAND_SZ) || wcsnlen(raw, MAX_PATH) == MAX_PATH) return L"";
  std::wstring path = ExpandSystemVariables(raw);
  if (path.empty()) return L"";
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    path = JoinPath(path, HiveFileName());
  if (!g_setup.IsOS(OS_NT)) {
    wchar_t shortPath[MAX_PATH];
    DWORD n = GetShortPathNameW(path.c_str(), shortPath, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return L"";
    path = shortPath;
  }
  return path;
}

// The hive root under HKEY_USERS (empty when it cannot be opened; *error gets the code).
UniqueRegKey OpenUnderUsers(const wchar_t* name, LSTATUS* error = nullptr) {
  UniqueRegKey key;
  LSTATUS rc = regOpenKey(HKEY_USERS, name, kHiveAccess, key);
  if (error) *error = rc;
  return key;
}

// Deletes `key` from the hive of one profile (or, with no name, of the current user).
void DeleteInProfile(const wchar_t* profileName, HKEY profileList, const wchar_t* key) {
  wchar_t mountName[MAX_PATH] = L"";
  UniqueRegKey hive = regOpenProfileHive(profileName, profileList, false, mountName);
  if (!hive) return;
  regDeleteTree(hive.get(), key);
  hive.reset();
  if (mountName[0] != L'\0') {
    RegUnLoadKeyW(HKEY_USERS, mountName);
    g_log.Print(LOG_VRB, LOG_REGISTRY, L"RegUnloadKey");
  }
}
}  // namespace

UniqueRegKey regOpenProfileHive(const wchar_t* profileName, HKEY profileList, bool bDefault,
                                wchar_t* mountName, size_t mountChars) {
  if (mountName && mountChars > 0) mountName[0] = L'\0';
  if (!profileName || !*profileName) {
    if (bDefault) return OpenUnderUsers(L".DEFAULT");
    return UniqueRegKey(HKEY_CURRENT_USER);
  }
  std::wstring path = ProfileHivePath(profileList, profileName);
  if (path.empty()) return UniqueRegKey();
  std::wstring mount = std::wstring(kHiveMountPrefix) + profileName;
  // The caller must be able to unmount what is mounted here.
  if (!mountName || mount.size() >= mountChars) return UniqueRegKey();

  LSTATUS rc = RegLoadKeyW(HKEY_USERS, mount.c_str(), path.c_str());
  g_log.Print(LOG_VRB, LOG_REGISTRY, L"RegLoadKey(HKEY_USERS, %s, %s)", mount.c_str(), path.c_str());
  wcscpy(mountName, mount.c_str());  // fits: checked above
  if (rc == ERROR_SUCCESS) {
    LSTATUS openError = ERROR_SUCCESS;
    UniqueRegKey hive = OpenUnderUsers(mount.c_str(), &openError);
    if (hive) return hive;
    // Nobody would unload a hive whose key could not be opened, and the user's next log-on
    // would find the hive file locked: unload it here.
    g_log.Print(LOG_MIN, LOG_REGISTRY, L"Cannot open loaded registry hive %s, err=%d.", mount.c_str(),
                static_cast<int>(openError));
    RegUnLoadKeyW(HKEY_USERS, mount.c_str());
    g_log.Print(LOG_VRB, LOG_REGISTRY, L"RegUnloadKey");
    mountName[0] = L'\0';
    return UniqueRegKey();
  }
  if (rc == ERROR_SHARING_VIOLATION) {
    // Windows has this hive loaded already (the user is logged on, or a service account):
    // it is used in place under the bare profile name and must not be unmounted.
    g_log.Print(LOG_VRB, LOG_REGISTRY, L"Load registry hive ERROR_SHARING_VIOLATION");
    mountName[0] = L'\0';
    return OpenUnderUsers(profileName);
  }
  g_log.Print(LOG_VRB, LOG_REGISTRY, L"Cannot load registry hive %s, err=%d.", path.c_str(),
              static_cast<int>(rc));
  return UniqueRegKey();
}

DWORD regDeleteTreeInAllProfiles(const wchar_t* key) {
  DropCurrentUserHandle();
  UniqueRegKey profileList;
  bool anyProfile = false;
  if (regOpenKey(HKEY_LOCAL_MACHINE, ProfileListPath(), kHiveAccess, profileList) == ERROR_SUCCESS) {
    wchar_t name[MAX_PATH + 1];
    for (DWORD index = 0; RegEnumKeyW(profileList.get(), index, name, MAX_PATH) == ERROR_SUCCESS; ++index) {
      name[MAX_PATH] = L'\0';
      anyProfile = true;
      DeleteInProfile(name, profileList.get(), key);
    }
  }
  if (!anyProfile) DeleteInProfile(nullptr, nullptr, key);

  wchar_t mountName[MAX_PATH] = L"";
  UniqueRegKey defaultHive = regOpenProfileHive(nullptr, nullptr, true, mountName);
  if (defaultHive) regDeleteTree(defaultHive.get(), key);
  defaultHive.reset();
  profileList.reset();
  DropCurrentUserHandle();
  return 0;
}
