// Entry point of qtxClear.exe.
#include <windows.h>

#include <cstdlib>

#include "app/safe_mode.h"
#include "app/startup.h"
#include "sysops/modules.h"

// Replaces the C++ library's default handler for an uncaught exception (only an exhausted
// heap can raise one here). The library's handler prints the exception's demangled type to
// standard error, which a GUI program does not have, and pulls the whole demangler into the
// program; this one just ends the process, as the library's does after printing.
namespace __gnu_cxx {
void __verbose_terminate_handler() { abort(); }
}  // namespace __gnu_cxx

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int) {
  // Before anything can load a DLL by bare name from the folder the program was started from,
  // and before the program's own file can be swapped under its name.
  RestrictDllSearch();
  HoldOwnImage();
  return RunStartup(instance, commandLine);
}
