// Stand-in for the suite's 64-bit registration helper. Writes three lines (UTF-8) to
// "qtxRegSvr64-called.txt" in its own folder: its command line exactly as received, its
// current folder, and its own path. Given "/u PATH" (PATH in quotes or not) it then
// unregisters that module as the real helper does: loads it and calls DllUnregisterServer.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {
std::string Utf8(const wchar_t* s) {
  int n = WideCharToMultiByte(CP_UTF8, 0, s, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, s, -1, &out[0], n, nullptr, nullptr);
  return out;
}
// The module after "/u" on the command line, loaded and unregistered; 0 when there is none.
int UnregisterNamedModule(const wchar_t* commandLine) {
  const wchar_t* at = wcsstr(commandLine, L" /u ");
  if (!at) return 0;
  std::wstring module = at + 4;
  if (!module.empty() && module[0] == L'"') module = module.substr(1, module.find(L'"', 1) - 1);
  HMODULE library = LoadLibraryExW(module.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!library) return 0;  // nothing there to unregister
  typedef HRESULT(WINAPI * UnregisterFn)();
  auto unregister = reinterpret_cast<UnregisterFn>(GetProcAddress(library, "DllUnregisterServer"));
  HRESULT hr = unregister ? unregister() : E_FAIL;
  FreeLibrary(library);
  return SUCCEEDED(hr) ? 0 : 6;
}
}  // namespace

int wmain() {
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
  if (!MoveFileExW(partial.c_str(), out.c_str(), MOVEFILE_REPLACE_EXISTING)) return 4;
  return UnregisterNamedModule(GetCommandLineW());
}
