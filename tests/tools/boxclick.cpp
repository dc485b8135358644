// boxclick [--answer yes|no|ok|cancel]... [--timeout SECONDS] [--time 1] -- PROGRAM [ARGUMENTS]
// Runs the program, presses the given answers on its message boxes in order (No or OK once
// they are used up), prints each box it saw (and with --time the seconds from the program's
// start to its end) and exits with the program's exit code.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/box_driver.h"
#include "tests/support/test_support.h"

namespace {
int AnswerId(const std::wstring& word) {
  if (_wcsicmp(word.c_str(), L"yes") == 0) return IDYES;
  if (_wcsicmp(word.c_str(), L"ok") == 0) return IDOK;
  if (_wcsicmp(word.c_str(), L"cancel") == 0) return IDCANCEL;
  return IDNO;
}
const char* AnswerName(int id) {
  switch (id) {
    case IDYES: return "Yes";
    case IDNO: return "No";
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
  }
  return "(no button)";
}
}  // namespace

int main() {
  std::wstring line = GetCommandLineW();
  size_t split = line.find(L" -- ");
  if (split == std::wstring::npos) {
    fprintf(stderr, "usage: boxclick [--answer yes|no|ok|cancel]... [--timeout SECONDS] [--time 1] -- PROGRAM [ARGS]\n");
    return 2;
  }
  std::wstring program = line.substr(split + 4);
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(line.substr(0, split).c_str(), &argc);
  std::vector<int> answers;
  DWORD timeoutMs = 120000;
  bool printTime = false;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (wcscmp(argv[i], L"--answer") == 0) answers.push_back(AnswerId(argv[i + 1]));
    if (wcscmp(argv[i], L"--timeout") == 0) timeoutMs = 1000 * _wtoi(argv[i + 1]);
    if (wcscmp(argv[i], L"--time") == 0) printTime = _wtoi(argv[i + 1]) != 0;
  }
  LocalFree(argv);

  qtxtest::DrivenRun run = qtxtest::RunAndAnswer(program, answers, timeoutMs);
  if (!run.started) {
    fprintf(stderr, "boxclick: cannot start the program (error %lu)\n", GetLastError());
    return 2;
  }
  for (const qtxtest::SeenBox& box : run.boxes) {
    std::string text = qtxtest::Narrow(box.text);
    for (char& c : text)
      if (c == '\n') c = ' ';
    printf("[box] %s: %s -> %s\n", qtxtest::Narrow(box.caption).c_str(), text.c_str(), AnswerName(box.pressed));
  }
  if (printTime) printf("[time] %.3f s\n", run.seconds);
  if (!run.finished) fprintf(stderr, "boxclick: the program did not end in time and was stopped\n");
  fflush(stdout);
  return run.finished ? static_cast<int>(run.exitCode) : 3;
}
