#include "base/path.h"

#include "base/dynapi.h"
#include "base/handles.h"
#include "base/wow64.h"

std::wstring JoinPath(const std::wstring& folder, const wchar_t* name) {
  if (folder.empty()) return name ? name : L"";
  if (!name || !*name) return folder;
  std::wstring result = folder;
  if (result.back() == L'"') result.pop_back();
  if ((result.empty() || result.back() != L'\\') && name[0] != L'\\') result += L'\\';
  if (name[0] == L':' && !result.empty() && result.back() == L'\\') result.pop_back();
  result += name;
  if (result[0] == L'"') result += L'"';
  return result;
}

BOOL GetSpecialFolder(wchar_t* buffer, int csidl) {
  typedef BOOL(WINAPI * GetPathFn)(HWND, LPWSTR, int, BOOL);
  if (!buffer) return FALSE;
  UniqueLibrary shell32(LoadLibraryW(L"shell32.dll"));
  if (!shell32) return FALSE;
  auto getPath = reinterpret_cast<GetPathFn>(LookupProcIn(shell32.get(), "SHGetSpecialFolderPathW"));
  if (!getPath) return FALSE;
  return getPath(nullptr, buffer, OwnCsidl(csidl), FALSE);
}
