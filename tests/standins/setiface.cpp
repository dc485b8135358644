// Stand-in for the suite's setup library: its uninstall export records how it was called
// in "setiface-called.txt" in the current folder and asks for a restart when that file's
// folder holds "setiface-restart.flag".
#include <windows.h>

#include <cstdio>

extern "C" __declspec(dllexport) DWORD WINAPI setifaceUninstallProgram(void* a, void* b, DWORD mode,
                                                                     DWORD* status) {
  FILE* f = _wfopen(L"setiface-called.txt", L"wb");
  if (f) {
    fprintf(f, "%s %s %lu %s\n", a ? "ptr" : "null", b ? "ptr" : "null", mode, status && *status == 0 ? "zero" : "?");
    fclose(f);
  }
  if (status && GetFileAttributesW(L"setiface-restart.flag") != INVALID_FILE_ATTRIBUTES) *status = 0x20000000;
  return 0;
}
