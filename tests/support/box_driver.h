// Runs a program and answers its message boxes as a person would: finds each box the
// program shows, reads its caption and text, and presses a button.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace qtxtest {

struct SeenBox {
  std::wstring caption;
  std::wstring text;
  int pressed;  // IDYES, IDNO, IDOK ...
};

struct DrivenRun {
  bool started = false;
  bool finished = false;  // ended within the time-out (otherwise it was terminated)
  DWORD exitCode = 0;
  double seconds = 0;  // from the program's start until its end was seen
  std::vector<SeenBox> boxes;
};

// Starts commandLine and, while it runs, presses answers[i] on the i-th box it shows (IDNO
// for a Yes/No box, IDOK otherwise, once the list is used up). Ends the program after
// timeoutMs. With `standardOutput` given, the program gets it as its standard output (an
// inheritable handle, or null for none) and no standard input or error. With `whileShown`
// given, it is called with each box's index and text before the box is answered: a test
// acts there while the program waits for the answer.
typedef std::function<void(size_t index, const std::wstring& text)> BoxAction;
DrivenRun RunAndAnswer(const std::wstring& commandLine, const std::vector<int>& answers, DWORD timeoutMs,
                       HANDLE standardOutput = INVALID_HANDLE_VALUE, const BoxAction& whileShown = nullptr);

}  // namespace qtxtest
