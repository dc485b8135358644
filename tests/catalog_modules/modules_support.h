// Planting the stand-ins of the suite's modules and reading what they recorded.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace qtxtest {
// Copies a stand-in to `to`, creating the folders on the way. True on success.
bool PlantStandin(const wchar_t* standin, const std::wstring& to);
// The lines a recording stand-in module wrote ("<module>.calls"); empty when it was not called.
std::vector<std::wstring> CallsOf(const std::wstring& module);

// A SharedDLLs count for `path`, removed again when the object goes.
class SharedDllCount {
 public:
  SharedDllCount(const std::wstring& path, DWORD count);
  ~SharedDllCount();
  SharedDllCount(const SharedDllCount&) = delete;
  SharedDllCount& operator=(const SharedDllCount&) = delete;

 private:
  std::wstring path_;
};

// What the 64-bit helper stand-in recorded when started from `folder`: its command line,
// current folder and own path. Waits up to 30 s for it; empty when it never ran. The record
// is deleted after reading, so the next start can be told apart.
struct HelperRun {
  std::wstring commandLine, currentFolder, program;
};
HelperRun WaitForHelperRun(const std::wstring& folder);
}  // namespace qtxtest
