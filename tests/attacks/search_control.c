/* A program that leaves the DLL search as it is and makes a window, as any GUI program does:
   what the planted DLL does to a program that does not restrict the search. */
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show) {
  (void)previous; (void)commandLine; (void)show;
  HWND button = CreateWindowExW(0, L"BUTTON", L"control", WS_OVERLAPPEDWINDOW, 0, 0, 100, 50, NULL, NULL, instance, NULL);
  if (button) DestroyWindow(button);
  return 0;
}
