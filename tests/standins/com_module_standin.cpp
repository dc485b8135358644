// Stand-in for one of the suite's in-process COM modules: DllUnregisterServer appends one
// line, "DllUnregisterServer", to "<this module's path>.calls", deletes its registration
// (HKLM "Software\Classes\qtxStandinModule\<this module's file name>" and
// "Software\Classes\QtxStandin.<this module's file name>", in the registry view of its own
// bitness, as a real module removes its classes) and returns QTX_UNREGISTER_RESULT (S_OK unless
// the build sets another).
#include <windows.h>

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
  lstrcatW(path, L".calls");
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    const char line[] = "DllUnregisterServer\n";
    DWORD written = 0;
    WriteFile(file, line, sizeof line - 1, &written, nullptr);
    CloseHandle(file);
  }
  const wchar_t* name = path;
  for (const wchar_t* p = path; *p; ++p)
    if (*p == L'\\') name = p + 1;
  wchar_t key[MAX_PATH + 64] = L"Software\\Classes\\qtxStandinModule\\";
  lstrcatW(key, name);
  key[lstrlenW(key) - 6] = L'\0';  // without ".calls"
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, key);
  wchar_t dotted[MAX_PATH + 64] = L"Software\\Classes\\QtxStandin.";
  lstrcatW(dotted, name);
  dotted[lstrlenW(dotted) - 6] = L'\0';  // without ".calls"
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, dotted);
  return QTX_UNREGISTER_RESULT;
}
