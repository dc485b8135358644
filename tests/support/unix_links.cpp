#include "tests/support/unix_links.h"

#include <windows.h>

namespace qtxtest {
namespace {

// Wine starts a Unix program given by its absolute Unix path, but hands back no process
// handle to wait on: callers wait for the effect instead.
bool StartUnixCommand(const std::wstring& commandLine) {
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  std::wstring line = commandLine;
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return false;
  if (pi.hThread) CloseHandle(pi.hThread);
  if (pi.hProcess) CloseHandle(pi.hProcess);
  return true;
}

template <class Done>
bool WaitFor(Done done) {
  for (int i = 0; i < 100; ++i) {
    if (done()) return true;
    Sleep(50);
  }
  return done();
}

std::wstring Quoted(const std::string& utf8) {
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
  std::wstring wide(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], n);
  return L"\"" + wide + L"\"";
}

std::wstring ParentOf(const std::wstring& path) {
  size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? L"" : path.substr(0, slash);
}

std::wstring NameOf(const std::wstring& path) {
  size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::string Utf8(const std::wstring& s) {
  int n = WideCharToMultiByte(CP_UTF8, 0, s.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, s.c_str(), -1, &out[0], n, nullptr, nullptr);
  return out;
}

}  // namespace

std::string UnixPathOf(const std::wstring& windowsPath) {
  using Fn = char*(CDECL*)(const wchar_t*);
  auto toUnix = reinterpret_cast<Fn>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name"));
  if (!toUnix) return "";
  char* name = toUnix(windowsPath.c_str());
  if (!name) return "";
  std::string result = name;
  HeapFree(GetProcessHeap(), 0, name);
  return result;
}

bool PlantFolderLink(const std::wstring& link, const std::wstring& target) {
  std::string parent = UnixPathOf(ParentOf(link));
  std::string to = UnixPathOf(target);
  if (parent.empty() || to.empty()) return false;
  std::string from = parent + "/" + Utf8(NameOf(link));
  if (!StartUnixCommand(L"/bin/ln -s " + Quoted(to) + L" " + Quoted(from))) return false;
  return WaitFor([&] {
    DWORD a = GetFileAttributesW(link.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
  });
}

bool PlantFileLink(const std::wstring& link, const std::wstring& target) {
  std::string parent = UnixPathOf(ParentOf(link));
  std::string to = UnixPathOf(target);
  if (parent.empty() || to.empty()) return false;
  std::string from = parent + "/" + Utf8(NameOf(link));
  if (!StartUnixCommand(L"/bin/ln -s " + Quoted(to) + L" " + Quoted(from))) return false;
  return WaitFor([&] { return GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES; });
}

bool DropLink(const std::wstring& link) {
  std::string parent = UnixPathOf(ParentOf(link));
  if (parent.empty()) return false;
  std::string path = parent + "/" + Utf8(NameOf(link));
  if (!StartUnixCommand(L"/bin/rm -f " + Quoted(path))) return false;
  return WaitFor([&] { return GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES; });
}

}  // namespace qtxtest
