#include "sysops/com.h"

#include <ole2.h>

#include "base/dynapi.h"
#include "base/path.h"
#include "base/regkey.h"
#include "log/log.h"
#include "setup/setup_globals.h"
#include "sysops/files.h"
#include "sysops/modules.h"
#include "sysops/process.h"

namespace {
// A module path as the loader and the SharedDLLs list know it: without enclosing quotes.
std::wstring Unquoted(const wchar_t* path) {
  std::wstring text = path;
  if (text.size() >= 2 && text.front() == L'"' && text.back() == L'"') text = text.substr(1, text.size() - 2);
  return text;
}

// A count of 1 is the suite's own reference; from 2 on other software uses the module too.
bool SharedWithOtherSoftware(const std::wstring& path) {
  DWORD count = 0;
  return regGetDword(kSharedDllsKey, path.c_str(), &count) == ERROR_SUCCESS && count >= 2;
}

bool IsFile(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The one place the helper is started: by its full path, so that no search finds another
// program of that name (beside this program, in the current folder); the command line it
// receives still begins with the bare name.
bool StartRegSvr64(const std::wstring& program, std::wstring& commandLine, DWORD* error) {
  return LaunchProgram(&commandLine[0], error, program.c_str());
}
}  // namespace

DWORD UnregisterInProcServer(const wchar_t* modulePath) {
  if (!modulePath) return 0;
  std::wstring path = Unquoted(modulePath);
  if (SharedWithOtherSoftware(path)) return 0;

  // Uninitialised only when this call initialised it, so a caller's own COM set-up stays.
  HRESULT ole = OleInitialize(nullptr);
  {
    UniqueLibrary module = LoadSuiteModule(path.c_str(), LOAD_WITH_ALTERED_SEARCH_PATH);
    typedef HRESULT(STDAPICALLTYPE * UnregisterFn)();
    auto unregister =
        module ? reinterpret_cast<UnregisterFn>(LookupProcIn(module.get(), "DllUnregisterServer")) : nullptr;
    if (unregister) {
      HRESULT hr = unregister();
      if (hr == S_OK)
        g_log.Print(LOG_DBG, LOG_FILE, L"DllUnregisterServer success");
      else
        g_log.Print(LOG_MIN, LOG_FILE, L"Error calling DllUnregisterServer \"%s\", error code %d (0x%x)",
                    path.c_str(), hr, hr);
    }
  }
  if (SUCCEEDED(ole)) OleUninitialize();
  return 0;
}

DWORD UnregisterServer64(const wchar_t* modulePath) {
  if (!g_setup.IsOS(OS_X64)) return 0;
  std::wstring path = modulePath ? modulePath : L"";
  std::wstring arguments = (!path.empty() && path[0] == L'"') ? L"/u " + path : L"/u \"" + path + L"\"";
  DWORD result = RunRegSvr64(arguments.c_str());
  if (result == 0)
    g_log.Print(LOG_DBG, LOG_FILE, L"64-bit object \"%s\" unregistered sucessfully", path.c_str());
  else
    g_log.Print(LOG_MIN, LOG_FILE, L"Error in 64-bit object \"%s\" unregistration", path.c_str());
  return result;
}

DWORD UnregisterSuiteServer64(const wchar_t* modulePath) {
  if (!g_setup.IsOS(OS_X64) || !modulePath) return 0;
  std::wstring path = Unquoted(modulePath);
  // The helper would look a bare or relative name up from the program folder.
  if (!IsAbsolutePath(path.c_str())) {
    g_log.Print(LOG_MIN, LOG_FILE, L"Module \"%s\" skipped: no absolute path", path.c_str());
    return 0;
  }
  // A module that is not there has nothing to unregister, as in process: no helper started.
  if (SharedWithOtherSoftware(path) || !IsFile(path)) return 0;
  return UnregisterServer64(path.c_str());
}

DWORD RunRegSvr64(const wchar_t* arguments) {
  wchar_t previous[MAX_PATH] = {0};
  DWORD length = GetCurrentDirectoryW(MAX_PATH, previous);
  bool remembered = length > 0 && length < MAX_PATH;

  // An empty or relative program folder would leave the helper to be found relative to
  // wherever this process happens to be: it counts as a folder that does not exist.
  std::wstring folder = g_setup.Expand(L"%ROPATH%");
  DWORD result = 0;
  if (!IsAbsolutePath(folder.c_str()))
    result = ERROR_PATH_NOT_FOUND;
  else if (!SetCurrentDirectoryW(folder.c_str()))
    result = GetLastError();
  if (result != 0) {
    g_log.Print(LOG_MIN, LOG_FILE,
                L"Call program \"%s\" error: cannot change directory to \"%s\", error code: 0x%08X",
                kRegSvr64Name, folder.c_str(), result);
    return result;
  }

  std::wstring commandLine = std::wstring(kRegSvr64Name) + L" " + (arguments ? arguments : L"");
  std::wstring shown = commandLine;  // the launch may write into its copy
  StartRegSvr64(JoinPath(folder, kRegSvr64Name), commandLine, &result);
  if (remembered) SetCurrentDirectoryW(previous);

  if (result != 0)
    g_log.Print(LOG_MIN, LOG_FILE, L"Error calling \"%s\", error code: %d (0x%08X)", shown.c_str(), result, result);
  else
    g_log.Print(LOG_DBG, LOG_FILE, L"Command \"%s\" called successfully", shown.c_str());
  return result;
}
