/* A 32-bit program that breaks every rule the import check enforces: it imports a function
   that must be looked up at run time and is linked as a console program. */
#include <windows.h>

int main(void) {
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  return wow64;
}
