// Stand-in program of the elevated tests.
//   qtx_elevated_standin.exe <output file>   writes its own full path (UTF-16) to the file
//   qtx_elevated_standin.exe /...            a boot tool that hangs: waits until the event
//                                            "QtxElevatedStandinRelease" is set (60 s at most)
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  if (argv[1][0] == L'/') {
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, L"QtxElevatedStandinRelease");
    WaitForSingleObject(release, 60000);
    return 0;
  }
  wchar_t self[MAX_PATH] = {0};
  DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  HANDLE h = CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 3;
  DWORD written = 0;
  WriteFile(h, self, n * sizeof(wchar_t), &written, nullptr);
  CloseHandle(h);
  return 0;
}
