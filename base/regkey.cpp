#include "base/regkey.h"

#include <cwchar>

#include "log/log.h"
#include "base/dynapi.h"
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
