/* A DLL planted beside a program under a system DLL's name: its DllMain leaves a marker file,
   named after the process that loaded it, in the folder it was loaded from. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    wchar_t path[MAX_PATH + 32], exe[MAX_PATH];
    DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
    while (n > 0 && path[n - 1] != L'\\') --n;
    lstrcpyW(path + n, L"planted-dll-ran.txt");
    HANDLE marker = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS, 0, NULL);
    if (marker != INVALID_HANDLE_VALUE) {
      DWORD chars = GetModuleFileNameW(NULL, exe, MAX_PATH), written = 0;
      WriteFile(marker, exe, chars * sizeof(wchar_t), &written, NULL);
      CloseHandle(marker);
    }
  }
  return TRUE;
}
