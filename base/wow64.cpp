#include "base/wow64.h"

#include "base/dynapi.h"
#include "base/nocase.h"

namespace {
typedef BOOL(WINAPI* IsWow64ProcessFn)(HANDLE, PBOOL);
typedef UINT(WINAPI* GetSystemWow64DirectoryFn)(LPWSTR, UINT);

// What IsWow64Process says of this process; false where the function is missing.
bool IsWow64ProcessReally() {
  auto isWow64 = LookupFn<IsWow64ProcessFn>(L"kernel32.dll", "IsWow64Process");
  BOOL wow64 = FALSE;
  return isWow64 && isWow64(GetCurrentProcess(), &wow64) && wow64;
}

#ifdef _WIN64
bool StartsWithFolder(const std::wstring& path, const std::wstring& folder) {
  if (folder.empty() || !StartsWithNoCase(path, folder)) return false;
  return path.size() == folder.size() || path[folder.size()] == L'\\';
}
#endif
}  // namespace

bool RunsAsWow64Process() {
#ifdef _WIN64
  return true;
#else
  return IsWow64ProcessReally();
#endif
}

Wow64Kind NativeWow64Kind() {
  if (!RunsAsWow64Process()) return Wow64Kind::None;
  typedef void(WINAPI * GetNativeSystemInfoFn)(LPSYSTEM_INFO);
  auto getNative = LookupFn<GetNativeSystemInfoFn>(L"kernel32.dll", "GetNativeSystemInfo");
  SYSTEM_INFO si = {};
  if (getNative) getNative(&si);
  return getNative && si.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ? Wow64Kind::Amd64
                                                                               : Wow64Kind::Other;
}

REGSAM OwnRegistryView() {
#ifdef _WIN64
  return KEY_WOW64_32KEY;
#else
  return 0;
#endif
}

LSTATUS DeleteRegKeyInOwnView(HKEY root, const wchar_t* subkey) {
#ifdef _WIN64
  return RegDeleteKeyExW(root, subkey, KEY_WOW64_32KEY, 0);
#else
  return RegDeleteKeyW(root, subkey);
#endif
}

std::wstring AsRedirectedPath(const std::wstring& path) {
#ifdef _WIN64
  wchar_t native[MAX_PATH] = {0}, wow[MAX_PATH] = {0};
  UINT n = GetSystemDirectoryW(native, MAX_PATH);
  auto getWow = LookupFn<GetSystemWow64DirectoryFn>(L"kernel32.dll", "GetSystemWow64DirectoryW");
  UINT w = getWow ? getWow(wow, MAX_PATH) : 0;
  if (n == 0 || n >= MAX_PATH || w == 0 || w >= MAX_PATH) return path;
  if (!StartsWithFolder(path, native)) return path;
  return std::wstring(wow) + path.substr(n);
#else
  return path;
#endif
}

FsRedirectionOff::FsRedirectionOff() {
  if (!IsWow64ProcessReally()) return;
  enable_ = LookupFn<EnableFn>(L"kernel32.dll", "Wow64EnableWow64FsRedirection");
  if (enable_) switchedOff_ = enable_(FALSE) != FALSE;
}

FsRedirectionOff::~FsRedirectionOff() {
  if (enable_ && switchedOff_) {
    DWORD err = GetLastError();
    enable_(TRUE);
    SetLastError(err);
  }
}

namespace {
#ifdef _WIN64
// Replaces every case-insensitive occurrence of `from` in s by `to`.
void ReplaceNoCase(std::wstring& s, const wchar_t* from, const wchar_t* to) {
  size_t n = wcslen(from), m = wcslen(to);
  for (size_t i = 0; i + n <= s.size();) {
    if (_wcsnicmp(s.c_str() + i, from, n) == 0) {
      s.replace(i, n, to);
      i += m;
    } else {
      ++i;
    }
  }
}
#endif
}  // namespace

std::wstring ExpandEnvironmentAs32Bit(const wchar_t* src, size_t capacity) {
  std::wstring text = src ? src : L"";
#ifdef _WIN64
  ReplaceNoCase(text, L"%ProgramFiles%", L"%ProgramFiles(x86)%");
  ReplaceNoCase(text, L"%CommonProgramFiles%", L"%CommonProgramFiles(x86)%");
#endif
  std::wstring out(capacity, L'\0');
  DWORD n = ExpandEnvironmentStringsW(text.c_str(), &out[0], static_cast<DWORD>(capacity));
  if (n == 0 || n > capacity) return L"";
  out.resize(wcslen(out.c_str()));
  return out;
}

int OwnCsidl(int csidl) {
#ifdef _WIN64
  switch (csidl) {
    case 0x26: return 0x2a;  // CSIDL_PROGRAM_FILES -> CSIDL_PROGRAM_FILESX86
    case 0x2b: return 0x2c;  // CSIDL_PROGRAM_FILES_COMMON -> CSIDL_PROGRAM_FILES_COMMONX86
    case 0x25: return 0x29;  // CSIDL_SYSTEM -> CSIDL_SYSTEMX86
  }
#endif
  return csidl;
}
