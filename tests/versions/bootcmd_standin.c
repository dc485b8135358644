/* Stand-in for the system's boot-configuration tool (bcdedit.exe in the native system
   folder): appends its command line, one per line (UTF-16), to C:\qtx-bootcmd.txt. */
#include <windows.h>

int wmain(void) {
  const wchar_t* line = GetCommandLineW();
  HANDLE h = CreateFileW(L"C:\\qtx-bootcmd.txt", FILE_APPEND_DATA, 0, NULL, OPEN_ALWAYS, 0, NULL);
  DWORD written = 0;
  if (h == INVALID_HANDLE_VALUE) return 3;
  WriteFile(h, line, (DWORD)(lstrlenW(line) * sizeof(wchar_t)), &written, NULL);
  WriteFile(h, L"\r\n", 4, &written, NULL);
  CloseHandle(h);
  return 0;
}
