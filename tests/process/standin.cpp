// A small program the process tests start. Usage:
//   qtx_standin.exe <output file> [--gate <file>] [arguments...]
// Waits (up to 20 s) for the gate file when one is named, sleeps 500 ms, then writes its
// process id and every further argument, one per line (UTF-8), to the output file.
#include <windows.h>

#include <string>

namespace {
std::string Utf8(const wchar_t* s) {
  int n = WideCharToMultiByte(CP_UTF8, 0, s, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, s, -1, &out[0], n, nullptr, nullptr);
  return out;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  int first = 2;
  if (argc >= 4 && wcscmp(argv[2], L"--gate") == 0) {
    for (int i = 0; i < 200 && GetFileAttributesW(argv[3]) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(100);
    first = 4;
  }
  Sleep(500);
  std::string text = std::to_string(GetCurrentProcessId()) + "\n";
  for (int i = first; i < argc; ++i) text += Utf8(argv[i]) + "\n";
  // Written under another name and renamed, so that a reader never sees half a file.
  std::wstring partial = std::wstring(argv[1]) + L".part";
  HANDLE h = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 3;
  DWORD written = 0;
  WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(h);
  return MoveFileExW(partial.c_str(), argv[1], MOVEFILE_REPLACE_EXISTING) ? 0 : 4;
}
