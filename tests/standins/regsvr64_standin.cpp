// Stand-in for the suite's 64-bit registration helper. Given "/u" and a module path in double
// quotes it loads the module and calls its DllUnregisterServer, as the helper does. Then it
// writes three lines (UTF-8) to "qtxRegSvr64-called.txt" in its own folder: its command line
// exactly as received, its current folder, and its own path.
#include <windows.h>

#include <string>

namespace {
std::string Utf8(const wchar_t* s) {
  int n = WideCharToMultiByte(CP_UTF8, 0, s, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, s, -1, &out[0], n, nullptr, nullptr);
  return out;
}
void Unregister(const std::wstring& commandLine) {
  size_t at = commandLine.find(L" /u \"");
  if (at == std::wstring::npos) return;
  size_t start = at + 5, end = commandLine.find(L'"', start);
  if (end == std::wstring::npos) return;
  HMODULE module = LoadLibraryW(commandLine.substr(start, end - start).c_str());
  if (!module) return;
  typedef HRESULT(WINAPI * UnregisterFn)();
  if (auto unregister = reinterpret_cast<UnregisterFn>(GetProcAddress(module, "DllUnregisterServer"))) unregister();
  FreeLibrary(module);
}
}  // namespace

int wmain() {
  Unregister(GetCommandLineW());
  wchar_t self[MAX_PATH] = {0}, current[MAX_PATH] = {0};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  GetCurrentDirectoryW(MAX_PATH, current);
  std::string text = Utf8(GetCommandLineW()) + "\n" + Utf8(current) + "\n" + Utf8(self) + "\n";
  std::wstring out = self;
  out.resize(out.rfind(L'\\') + 1);
  out += L"qtxRegSvr64-called.txt";
  // Written under another name and renamed, so that a reader never sees half a file.
  std::wstring partial = out + L".part";
  HANDLE h = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 3;
  DWORD written = 0;
  WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(h);
  return MoveFileExW(partial.c_str(), out.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 4;
}
