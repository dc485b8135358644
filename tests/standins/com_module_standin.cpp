// Stand-in for one of the suite's in-process COM modules: DllUnregisterServer appends one
// line, "DllUnregisterServer", to "<this module's path>.calls", deletes its registration, the
// key HKLM "Software\Classes\QtxStandin.<this module's file name>" (in the view of the
// module's own bitness), and returns QTX_UNREGISTER_RESULT (S_OK unless the build sets another).
#include <windows.h>

#include <cwchar>
#include <string>

#ifndef QTX_UNREGISTER_RESULT
#define QTX_UNREGISTER_RESULT S_OK
#endif

namespace {
HMODULE g_self = nullptr;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) g_self = instance;
  return TRUE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllUnregisterServer() {
  wchar_t path[MAX_PATH + 8] = {0};
  GetModuleFileNameW(g_self, path, MAX_PATH);
  const wchar_t* name = wcsrchr(path, L'\\');
  std::wstring registration = std::wstring(L"Software\\Classes\\QtxStandin.") + (name ? name + 1 : path);
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, registration.c_str());
  lstrcatW(path, L".calls");
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    const char line[] = "DllUnregisterServer\n";
    DWORD written = 0;
    WriteFile(file, line, sizeof line - 1, &written, nullptr);
    CloseHandle(file);
  }
  return QTX_UNREGISTER_RESULT;
}
