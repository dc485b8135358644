// Direct registry access for the registry and hive tests, independent of the code under test:
// every call names its view explicitly (0 = the test program's native 64-bit view).
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace regtest {

constexpr REGSAM kView32 = KEY_WOW64_32KEY;
constexpr REGSAM kView64 = KEY_WOW64_64KEY;

bool KeyExists(HKEY root, const std::wstring& path, REGSAM view = 0);
bool MakeKey(HKEY root, const std::wstring& path, REGSAM view = 0);
// Deletes path with everything below it (restoring access to locked keys first).
void RemoveKey(HKEY root, const std::wstring& path, REGSAM view = 0);
bool SetValue(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, const void* data,
              DWORD size, REGSAM view = 0);
bool SetText(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text,
             REGSAM view = 0);
// False when the key or the value is missing.
bool GetValue(HKEY root, const std::wstring& path, const wchar_t* name, DWORD* type,
              std::vector<BYTE>* data, REGSAM view = 0);
bool ValueExists(HKEY root, const std::wstring& path, const wchar_t* name, REGSAM view = 0);
// Subkey names of path in enumeration order.
std::vector<std::wstring> Subkeys(HKEY root, const std::wstring& path, REGSAM view = 0);
// Gives path a DACL that denies everyone every access, so it cannot be opened for reading
// or writing (opening it for DELETE alone still works under Wine); Unlock undoes that.
bool Lock(HKEY root, const std::wstring& path);
bool Unlock(HKEY root, const std::wstring& path);

}  // namespace regtest
