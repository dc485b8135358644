#include "sysops/modules.h"

#include "log/log.h"

bool IsAbsolutePath(const wchar_t* path) {
  if (!path) return false;
  bool driveRooted = ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
                     path[1] == L':' && path[2] == L'\\';
  bool unc = path[0] == L'\\' && path[1] == L'\\' && path[2] != L'\0' && path[2] != L'\\';
  return driveRooted || unc;
}

UniqueLibrary LoadSuiteModule(const wchar_t* path, DWORD flags) {
  if (!IsAbsolutePath(path)) {
    g_log.Print(LOG_MIN, LOG_FILE, L"Module \"%s\" skipped: no absolute path", path ? path : L"");
    return UniqueLibrary();
  }
  return UniqueLibrary(LoadLibraryExW(path, nullptr, flags));
}
