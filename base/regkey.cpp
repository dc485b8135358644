#include "base/regkey.h"

#include <cwchar>
#include <cwctype>
#include <string>

#include "log/log.h"
#include "base/dynapi.h"
#include "base/nocase.h"
#include "base/wow64.h"

namespace {
typedef LSTATUS(WINAPI* RegDeleteKeyExFn)(HKEY, LPCWSTR, REGSAM, DWORD);

bool On64BitWindows() { return NativeWow64Kind() != Wow64Kind::None; }
}  // namespace

REGSAM regViewAccess(REGSAM access, RegView view) {
  switch (view) {
    case RegView::Plain:
      return access | OwnRegistryView();
    case RegView::View64:
      return On64BitWindows() ? access | KEY_WOW64_64KEY : access;
    case RegView::View32:
      return On64BitWindows() ? access | KEY_WOW64_32KEY : access;
  }
  return access;
}

LSTATUS regOpenKey(HKEY root, const wchar_t* subkey, REGSAM access, UniqueRegKey& key, RegView view) {
  return RegOpenKeyExW(root, subkey, 0, regViewAccess(access, view), key.put());
}

namespace {
constexpr const wchar_t* kViewNode = L"Wow6432Node";
constexpr const wchar_t* kCurrentControlSet = L"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet";
constexpr const wchar_t* kNumberedControlSet = L"\\REGISTRY\\MACHINE\\SYSTEM\\ControlSet";

// The target a link key names; "" when it cannot be read whole.
std::wstring LinkTarget(HKEY link) {
  wchar_t target[MAX_PATH + 1] = {0};
  DWORD type = 0, size = MAX_PATH * sizeof(wchar_t);
  if (RegQueryValueExW(link, L"SymbolicLinkValue", nullptr, &type, reinterpret_cast<BYTE*>(target), &size) !=
          ERROR_SUCCESS ||
      type != REG_LINK)
    return L"";
  return std::wstring(target, size / sizeof(wchar_t));
}

// The registry name a path below a machine root stands for; "" below any other root.
std::wstring NamedPath(HKEY root, const std::wstring& walked) {
  if (root == HKEY_LOCAL_MACHINE) return L"\\REGISTRY\\MACHINE\\" + walked;
  if (root == HKEY_CLASSES_ROOT) return L"\\REGISTRY\\MACHINE\\SOFTWARE\\Classes\\" + walked;
  return L"";
}

// A registry name without its 32-bit view components.
std::wstring WithoutViewNodes(const std::wstring& name) {
  std::wstring out;
  for (size_t start = 0; start <= name.size();) {
    size_t end = name.find(L'\\', start);
    if (end == std::wstring::npos) end = name.size();
    std::wstring part = name.substr(start, end - start);
    if (!EqualNoCase(part, kViewNode)) out += (start == 0 ? L"" : L"\\") + part;
    start = end + 1;
  }
  return out;
}

bool IsNumberedControlSet(const std::wstring& target) {
  size_t n = wcslen(kNumberedControlSet);
  return StartsWithNoCase(target, kNumberedControlSet) && target.size() == n + 3 && iswdigit(target[n]) &&
         iswdigit(target[n + 1]) && iswdigit(target[n + 2]);
}

// A link in a parent key is followed only when it leads where the path itself says: to the
// same name in the other registry view (the links that keep keys shared between the views,
// and the 32-bit view's classes) or, for the current control set, to a numbered control
// set. Whoever planted such a link, following it reaches nothing the path does not name.
// Below the user hives, which hold no such links, every link in a parent is refused.
bool LeadsWhereThePathSays(HKEY root, const std::wstring& walked, HKEY link) {
  std::wstring name = NamedPath(root, walked), target = LinkTarget(link);
  if (name.empty() || target.empty()) return false;
  if (EqualNoCase(name, kCurrentControlSet)) return IsNumberedControlSet(target);
  return EqualNoCase(WithoutViewNodes(name), WithoutViewNodes(target));
}

// The components of a key path; empty ones (doubled or trailing backslashes) are dropped.
std::wstring NextComponent(const wchar_t*& path) {
  while (*path == L'\\') ++path;
  const wchar_t* start = path;
  while (*path && *path != L'\\') ++path;
  return std::wstring(start, path);
}
}  // namespace

bool regIsLinkKey(HKEY key) {
  DWORD type = 0;
  return RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
         type == REG_LINK;
}

LSTATUS regOpenKeyNoFollow(HKEY root, const wchar_t* subkey, REGSAM access, UniqueRegKey& key, RegView view) {
  key.reset();
  const wchar_t* rest = subkey ? subkey : L"";
  std::wstring part = NextComponent(rest), walked;
  if (part.empty()) return RegOpenKeyExW(root, nullptr, REG_OPTION_OPEN_LINK, regViewAccess(access, view), key.put());
  UniqueRegKey current;
  HKEY parent = root;
  while (!part.empty()) {
    std::wstring next = NextComponent(rest);
    bool last = next.empty();
    REGSAM wanted = regViewAccess(last ? access : KEY_QUERY_VALUE, view);
    UniqueRegKey opened;
    LSTATUS rc = RegOpenKeyExW(parent, part.c_str(), REG_OPTION_OPEN_LINK, wanted, opened.put());
    if (rc != ERROR_SUCCESS) return rc;
    walked += (walked.empty() ? L"" : L"\\") + part;
    if (!last && regIsLinkKey(opened.get())) {
      if (!LeadsWhereThePathSays(root, walked, opened.get())) {
        g_log.Print(LOG_MIN, LOG_REGISTRY, L"Registry key refused (link in a parent key): %s", subkey);
        return kRegLinkInParent;
      }
      rc = RegOpenKeyExW(parent, part.c_str(), 0, wanted, opened.put());
      if (rc != ERROR_SUCCESS) return rc;
    }
    current = std::move(opened);
    parent = current.get();
    part = next;
  }
  key = std::move(current);
  return ERROR_SUCCESS;
}

LSTATUS regCreateKeyHandle(HKEY root, const wchar_t* subkey, REGSAM access, UniqueRegKey& key,
                           RegView view) {
  return RegCreateKeyExW(root, subkey, 0, const_cast<wchar_t*>(L""), REG_OPTION_NON_VOLATILE,
                         regViewAccess(access, view), nullptr, key.put(), nullptr);
}

LSTATUS regDeleteOneKey(HKEY root, const wchar_t* subkey, RegView view, bool* usedFallback) {
  if (usedFallback) *usedFallback = false;
  if (view == RegView::Plain) return DeleteRegKeyInOwnView(root, subkey);
  REGSAM viewFlag = regViewAccess(0, view);
  auto deleteEx = LookupFn<RegDeleteKeyExFn>(L"advapi32.dll", "RegDeleteKeyExW");
  if (!deleteEx) {
    if (usedFallback) *usedFallback = true;
    return RegDeleteKeyW(root, subkey);
  }
  return deleteEx(root, subkey, viewFlag, 0);
}

DWORD regCreateKey(const wchar_t* subkey, HKEY root) {
  UniqueRegKey key;
  LSTATUS rc = regCreateKeyHandle(root, subkey, KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY, key);
  if (rc != ERROR_SUCCESS) PrintPair(LOG_MIN, LOG_REGISTRY, L"Cannot create reg. key:", subkey);
  return rc;
}

bool regKeyExists(const wchar_t* subkey) {
  UniqueRegKey key;
  return regOpenKey(HKEY_LOCAL_MACHINE, subkey, KEY_READ, key) == ERROR_SUCCESS;
}

DWORD regSetString(const wchar_t* subkey, HKEY root, const wchar_t* valueName, const wchar_t* text) {
  DWORD rc = regCreateKey(subkey, root);
  if (rc != ERROR_SUCCESS) return rc;
  UniqueRegKey key;
  rc = regOpenKey(root, subkey, KEY_WRITE, key);
  if (rc != ERROR_SUCCESS) {
    PrintPair(LOG_MIN, LOG_REGISTRY, L"Cannot open reg. key:", subkey);
    return rc;
  }
  const wchar_t* data = text ? text : L"";
  rc = RegSetValueExW(key.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                      static_cast<DWORD>((wcslen(data) + 1) * sizeof(wchar_t)));
  if (rc != ERROR_SUCCESS)
    PrintPair(LOG_MIN, LOG_REGISTRY, L"Cannot set reg. key:", subkey);
  else
    g_log.Print(LOG_VRB, LOG_REGISTRY, L"Set registry: %s\\%s=%s", subkey, valueName ? valueName : L"",
                data);
  return rc;
}

DWORD regGetDword(const wchar_t* subkey, const wchar_t* valueName, DWORD* out) {
  UniqueRegKey key;
  LSTATUS rc = regOpenKey(HKEY_LOCAL_MACHINE, subkey, KEY_READ, key);
  if (rc != ERROR_SUCCESS) return rc;
  return regGetDwordIn(key.get(), valueName, out);
}

DWORD regGetDwordIn(HKEY key, const wchar_t* valueName, DWORD* out) {
  DWORD size = 0;
  LSTATUS rc = RegQueryValueExW(key, valueName, nullptr, nullptr, nullptr, &size);
  if (rc != ERROR_SUCCESS) return rc;
  if (size != sizeof(DWORD)) return ERROR_INVALID_DATA;
  DWORD value = 0;
  rc = RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
  if (rc == ERROR_SUCCESS && out) *out = value;
  return rc;
}

DWORD regGetString(HKEY root, const wchar_t* subkey, const wchar_t* valueName, wchar_t* buffer,
                   DWORD bufferBytes, bool bLog) {
  UniqueRegKey key;
  LSTATUS rc = regOpenKey(root, subkey, KEY_READ, key);
  if (rc != ERROR_SUCCESS) {
    if (bLog) PrintPair(LOG_VRB, LOG_REGISTRY, L"Cannot open reg. key:", subkey);
    return rc;
  }
  rc = RegQueryValueExW(key.get(), valueName, nullptr, nullptr, nullptr, nullptr);
  if (rc != ERROR_SUCCESS) {
    if (bLog) PrintPair(LOG_VRB, LOG_REGISTRY, L"Cannot get reg. key:", subkey);
    return rc;
  }
  if (!buffer || bufferBytes < sizeof(wchar_t)) return ERROR_MORE_DATA;
  ZeroMemory(buffer, bufferBytes);
  DWORD type = REG_SZ;
  DWORD size = bufferBytes;
  rc = RegQueryValueExW(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  // Stored text need not carry its terminator: text that fills the buffer without one is
  // refused rather than handed on unterminated.
  size_t chars = bufferBytes / sizeof(wchar_t);
  if (rc == ERROR_SUCCESS && wcsnlen(buffer, chars) == chars) rc = ERROR_MORE_DATA;
  if (rc != ERROR_SUCCESS) {
    buffer[0] = L'\0';
    if (bLog) PrintPair(LOG_MIN, LOG_REGISTRY, L"Cannot get reg. key:", subkey);
    return rc;
  }
  if (bLog)
    g_log.Print(LOG_VRB, LOG_REGISTRY, L"Get registry: %s\\%s=%s", subkey, valueName ? valueName : L"",
                buffer);
  return ERROR_SUCCESS;
}
