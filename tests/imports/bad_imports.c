/* A 32-bit program that breaks every rule the import check enforces: it imports a function
   that must be looked up at run time and functions Windows 2000 lacks (one from kernel32,
   one from msvcrt), is a console program for subsystem 5.01, is not terminal-server aware,
   keeps its symbols and carries a 420 KiB table. */
#include <windows.h>
#include <time.h>

static const char padding[420 * 1024] = {1};

int main(void) {
  BOOL wow64 = FALSE;
  __time64_t now = 0;
  IsWow64Process(GetCurrentProcess(), &wow64);
  AttachConsole(ATTACH_PARENT_PROCESS);
  return wow64 + (_localtime64(&now) != NULL) + padding[wow64];
}
