#include "tests/process/standin_support.h"

#include "tests/support/test_support.h"

namespace qtxtest {

std::wstring BesideTestProgram(const wchar_t* fileName) {
  wchar_t self[MAX_PATH] = {0};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path = self;
  path.resize(path.rfind(L'\\') + 1);
  return path + fileName;
}

bool WaitForFile(const std::wstring& path, DWORD timeoutMs) {
  for (DWORD waited = 0; waited <= timeoutMs; waited += 50) {
    std::string bytes;
    if (ReadBytes(path, &bytes)) return true;
    Sleep(50);
  }
  return false;
}

std::vector<std::wstring> ReadLines(const std::wstring& path) {
  std::string bytes;
  std::vector<std::wstring> lines;
  if (!ReadBytes(path, &bytes)) return lines;
  size_t start = 0;
  for (size_t nl; (nl = bytes.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(Widen(bytes.substr(start, nl - start)));
  return lines;
}

}  // namespace qtxtest
