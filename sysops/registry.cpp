#include "sysops/registry.h"

#include <cwchar>

#include "log/log.h"
#include "setup/setup_globals.h"
#include "base/dynapi.h"
#include "base/path.h"
#include "base/wow64.h"

namespace {
typedef LONG(NTAPI* NtDeleteKeyFn)(HANDLE);
typedef ULONG(NTAPI* RtlNtStatusToDosErrorFn)(LONG);

bool DeleteTreeIn(HKEY root, const wchar_t* subkey, RegView view);

// Deletes every subkey of `key` that can be deleted. A deleted subkey leaves the next one at
// the same enumeration index; one that is still there afterwards is stepped over, so the
// walk ends however many subkeys there are and whichever of them resist.
void DeleteSubkeys(HKEY key, RegView view) {
  wchar_t name[MAX_PATH + 1];
  wchar_t tried[MAX_PATH + 1] = L"";
  DWORD index = 0;
  while (RegEnumKeyW(key, index, name, MAX_PATH + 1) == ERROR_SUCCESS) {
    name[MAX_PATH] = L'\0';
    if (tried[0] != L'\0' && wcscmp(name, tried) == 0) {
      ++index;
      tried[0] = L'\0';
      continue;
    }
    wcscpy(tried, name);  // both buffers hold MAX_PATH + 1 characters, name is terminated
    DeleteTreeIn(key, name, view);
  }
}

// Deletes a registry link itself, never its target: the key opened as the link is deleted
// through NtDeleteKey (RegDeleteKeyW would open the key again and follow the link). Where
// that cannot be done the link is left in place and logged.
void DeleteLinkKey(HKEY link, const wchar_t* subkey) {
  auto deleteKey = LookupFn<NtDeleteKeyFn>(L"ntdll.dll", "NtDeleteKey");
  LONG status = deleteKey ? deleteKey(link) : static_cast<LONG>(0xC0000002);  // STATUS_NOT_IMPLEMENTED
  if (status >= 0) {
    g_log.Print(LOG_VRB, LOG_REGISTRY, L"Deleted registry link (not followed): %s", subkey);
    return;
  }
  g_log.Print(LOG_MIN, LOG_REGISTRY, L"Registry link left in place (not followed): %s (0x%08X)", subkey,
              static_cast<unsigned>(status));
}

// Deletes the key held open (no subkeys left) through its own handle, so that what is deleted
// is what was opened and walked, never a key reached again by name. Returns the Windows code.
// Without NtDeleteKey (not NT) the key is deleted by name in its view.
LSTATUS DeleteOpenKey(UniqueRegKey& key, HKEY root, const wchar_t* subkey, RegView view) {
  auto deleteKey = LookupFn<NtDeleteKeyFn>(L"ntdll.dll", "NtDeleteKey");
  auto toWin32 = LookupFn<RtlNtStatusToDosErrorFn>(L"ntdll.dll", "RtlNtStatusToDosError");
  if (!deleteKey || !toWin32) {
    key.reset();
    return regDeleteOneKey(root, subkey, view);
  }
  LONG status = deleteKey(key.get());
  key.reset();
  return status >= 0 ? ERROR_SUCCESS : static_cast<LSTATUS>(toWin32(status));
}

// The view variants log nothing for a key where the system lacks RegDeleteKeyExW (a system
// with one registry view).
bool LogsFinalDeletion(RegView view) {
  return view == RegView::Plain || LookupProc(L"advapi32.dll", "RegDeleteKeyExW") != nullptr;
}

// The common walk of the three tree deletions; true when root\subkey could be opened.
// Every key on the path is opened as itself (regOpenKeyNoFollow): a path through a link in a
// parent key, which a user may plant in the hive he owns, is refused; a link met as the key
// itself or inside the tree is deleted as a link and the tree it points at is never walked.
bool DeleteTreeIn(HKEY root, const wchar_t* subkey, RegView view) {
  if (!subkey || !*subkey) return false;
  UniqueRegKey key;
  LSTATUS rc = regOpenKeyNoFollow(root, subkey, KEY_ALL_ACCESS, key, view);
  if (rc != ERROR_SUCCESS) {
    if (view == RegView::Plain && rc != kRegLinkInParent)
      g_log.Print(LOG_VRB, LOG_REGISTRY, L"Deleted registry: %s error: %d", subkey, static_cast<int>(rc));
    return false;
  }
  if (regIsLinkKey(key.get())) {
    DeleteLinkKey(key.get(), subkey);
    return true;
  }
  DeleteSubkeys(key.get(), view);
  rc = DeleteOpenKey(key, root, subkey, view);
  if (!LogsFinalDeletion(view)) return true;
  if (rc == ERROR_SUCCESS)
    g_log.Print(LOG_VRB, LOG_REGISTRY, L"Deleted registry: %s", subkey);
  else if (rc != ERROR_FILE_NOT_FOUND)
    g_log.Print(LOG_MIN, LOG_REGISTRY, L"Error deleting registry: %s (0x%08X)", subkey,
                static_cast<unsigned>(rc));
  return true;
}

// Opens root\subkey in `view` and deletes one value; a failed open does nothing.
int DeleteValueIn(HKEY root, const wchar_t* subkey, const wchar_t* valueName, RegView view) {
  if (!subkey || !*subkey) return 0;
  UniqueRegKey key;
  if (regOpenKeyNoFollow(root, subkey, KEY_ALL_ACCESS, key, view) != ERROR_SUCCESS) return 0;
  LSTATUS rc = RegDeleteValueW(key.get(), valueName);
  const wchar_t* shownName = valueName ? valueName : L"";
  if (rc == ERROR_SUCCESS)
    g_log.Print(LOG_VRB, LOG_REGISTRY, L"Deleted registry: %s\\%s", subkey, shownName);
  else if (rc != ERROR_FILE_NOT_FOUND)
    g_log.Print(LOG_MIN, LOG_REGISTRY, L"Error deleting registry: %s\\%s (0x%08X)", subkey, shownName,
                static_cast<unsigned>(rc));
  return rc == ERROR_SUCCESS ? 1 : 0;
}
}  // namespace

int regDeleteTree(HKEY root, const wchar_t* subkey) {
  return DeleteTreeIn(root, subkey, RegView::Plain) ? 1 : 0;
}

int regDeleteTree64(HKEY root, const wchar_t* subkey) {
  return DeleteTreeIn(root, subkey, RegView::View64) ? 1 : 0;
}

int regDeleteTree32(HKEY root, const wchar_t* subkey) {
  return DeleteTreeIn(root, subkey, RegView::View32) ? 1 : 0;
}

int regDeleteValue(HKEY root, const wchar_t* subkey, const wchar_t* valueName) {
  return DeleteValueIn(root, subkey, valueName, RegView::Plain);
}

DWORD regRemoveShellExtension() {
  regDeleteTree64(HKEY_CLASSES_ROOT, L"*\\shellex\\ContextMenuHandlers\\velko");
  regDeleteTree64(HKEY_CLASSES_ROOT, L"velko\\ShellEx\\ContextMenuHandlers");
  regDeleteTree64(HKEY_CLASSES_ROOT, L"Folder\\shellex\\ContextMenuHandlers\\velko");
  std::wstring clsidKey = std::wstring(L"CLSID\\") + kShellExtensionClsid;
  regDeleteTree64(HKEY_CLASSES_ROOT, clsidKey.c_str());
  regDeleteTree32(HKEY_CLASSES_ROOT, clsidKey.c_str());
  const wchar_t* approved = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
  DeleteValueIn(HKEY_LOCAL_MACHINE, approved, kShellExtensionClsid, RegView::View64);
  DeleteValueIn(HKEY_LOCAL_MACHINE, approved, kShellExtensionClsid, RegView::View32);
  return 0;
}

DWORD regRemoveAppPath(const wchar_t* exeName, const wchar_t* expectedFolder) {
  std::wstring key = JoinPath(L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths", exeName);
  wchar_t path[MAX_PATH];
  DWORD rc = regGetString(HKEY_LOCAL_MACHINE, key.c_str(), L"Path", path, sizeof path, true);
  if (rc != ERROR_SUCCESS || !expectedFolder) return rc;
  // Both sides end the same way before they are compared: a backslash is added to the value
  // read when the expected folder has one and the value has none (and it fits).
  size_t expectedLen = wcslen(expectedFolder);
  size_t len = wcsnlen(path, MAX_PATH);
  bool expectedEndsInSlash = expectedLen > 0 && expectedFolder[expectedLen - 1] == L'\\';
  bool valueEndsInSlash = len > 0 && path[len - 1] == L'\\';
  if (expectedEndsInSlash && !valueEndsInSlash && len + 1 < MAX_PATH) {
    path[len] = L'\\';
    path[len + 1] = L'\0';
  }
  if (_wcsicmp(path, expectedFolder) == 0) regDeleteTree(HKEY_LOCAL_MACHINE, key.c_str());
  return rc;
}

namespace {
constexpr const wchar_t* kVddKey = L"SYSTEM\\CurrentControlSet\\Control\\VirtualDeviceDrivers";
constexpr DWORD kVddMaxBytes = 32768;
constexpr int kVddMaxRemovals = 100;

// Brings string data of `len` characters into a well-formed shape in place: no leading or
// trailing zero characters around the text, then for a list no empty entries and a closing
// pair of zeros, for a single text no zeros inside and one closing zero. The buffer holds at
// least len + 2 characters. Returns the new length, terminators included.
size_t NormaliseStringData(wchar_t* data, size_t len, bool isList) {
  while (len > 0 && data[len - 1] == L'\0') --len;
  size_t start = 0;
  while (start < len && data[start] == L'\0') ++start;
  size_t out = 0;
  for (size_t i = start; i < len; ++i) {
    if (data[i] == L'\0' && (!isList || out == 0 || data[out - 1] == L'\0')) continue;
    data[out++] = data[i];
  }
  data[out++] = L'\0';
  if (isList) data[out++] = L'\0';
  return out;
}

bool EndsWithNoCase(const wchar_t* text, size_t textLen, const wchar_t* suffix, size_t suffixLen) {
  return textLen >= suffixLen && _wcsicmp(text + textLen - suffixLen, suffix) == 0;
}

// Removes the first entry of the normalised data that ends with suffix. False when none does.
bool RemoveFirstMatch(wchar_t* data, size_t* len, const wchar_t* suffix, size_t suffixLen) {
  size_t pos = 0;
  while (pos < *len && data[pos] != L'\0') {
    size_t entryLen = wcsnlen(data + pos, *len - pos);
    if (entryLen == *len - pos) return false;
    if (EndsWithNoCase(data + pos, entryLen, suffix, suffixLen)) {
      size_t drop = entryLen + 1;
      memmove(data + pos, data + pos + drop, (*len - pos - drop) * sizeof(wchar_t));
      *len -= drop;
      if (*len == 0) {
        data[0] = L'\0';
        *len = 1;
      }
      return true;
    }
    pos += entryLen + 1;
  }
  return false;
}
}  // namespace

int regRemoveVdd(const wchar_t* suffix) {
  if (g_setup.IsOS(OS_9X)) return 1;
  // An empty suffix would match, and remove, every entry.
  if (!suffix || !*suffix) return 0;
  UniqueRegKey key;
  if (regOpenKey(HKEY_LOCAL_MACHINE, kVddKey, KEY_ALL_ACCESS, key) != ERROR_SUCCESS) return 0;
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key.get(), L"VDD", nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return 0;
  if (size < 2 || size > kVddMaxBytes) return 0;
  // Only text is rewritten: data of another type would be mangled by the normalising.
  if (type != REG_MULTI_SZ && type != REG_SZ && type != REG_EXPAND_SZ) return 0;
  // Room for an odd trailing byte and for the two terminators normalising may add.
  size_t capacity = (size + 1) / sizeof(wchar_t) + 2;
  UniqueLocalMem memory(LocalAlloc(LPTR, capacity * sizeof(wchar_t)));
  if (!memory) return 0;
  wchar_t* data = static_cast<wchar_t*>(memory.get());
  DWORD readSize = size;
  DWORD readType = type;
  if (RegQueryValueExW(key.get(), L"VDD", nullptr, &readType, reinterpret_cast<BYTE*>(data), &readSize) !=
          ERROR_SUCCESS ||
      readType != type || readSize > size)
    return 0;
  size_t len = NormaliseStringData(data, (readSize + 1) / sizeof(wchar_t), type == REG_MULTI_SZ);
  size_t suffixLen = wcslen(suffix);
  for (int i = 0; i < kVddMaxRemovals && RemoveFirstMatch(data, &len, suffix, suffixLen); ++i) {
  }
  LSTATUS rc = RegSetValueExW(key.get(), L"VDD", 0, type, reinterpret_cast<const BYTE*>(data),
                              static_cast<DWORD>(len * sizeof(wchar_t)));
  return rc == ERROR_SUCCESS ? 1 : 0;
}
