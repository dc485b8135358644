// Locating and reading the stand-in program of the process tests.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace qtxtest {
// Full path of a program built beside the running test program.
std::wstring BesideTestProgram(const wchar_t* fileName);
// Waits up to timeoutMs until path exists and can be opened for reading.
bool WaitForFile(const std::wstring& path, DWORD timeoutMs);
// The lines of a UTF-8 text file, without their line ends.
std::vector<std::wstring> ReadLines(const std::wstring& path);
}  // namespace qtxtest
