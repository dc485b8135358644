// boxclick [--answer yes|no|ok|cancel]... [--timeout SECONDS] [--time 1] [--dialog 1] -- PROGRAM [ARGUMENTS]
// Runs the program, presses the given answers on its message boxes in order (No or OK once
// they are used up), prints each box it saw (and with --time the seconds from the program's
// start to its end) and exits with the program's exit code. With --dialog the program's main
// dialog is used as a person would: the product and folder it opened with are printed,
// Uninstall is pressed, and Close once the run has ended.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/box_driver.h"
#include "tests/support/test_support.h"

namespace {
// Controls of the main dialog (resources/resource.h).
constexpr int kUninstall = 1003, kPath = 1004, kProduct = 1006;

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
// The main dialog of a qtxClear process (the only top-level dialog with an Uninstall button).
BOOL CALLBACK FindMainDialog(HWND window, LPARAM param) {
  wchar_t cls[32] = {0};
  GetClassNameW(window, cls, 32);
  if (wcscmp(cls, L"#32770") == 0 && IsWindowVisible(window) && GetDlgItem(window, kUninstall) &&
      GetDlgItem(window, kProduct)) {
    *reinterpret_cast<HWND*>(param) = window;
    return FALSE;
  }
  return TRUE;
}

std::wstring ControlText(HWND dialog, int id) {
  wchar_t text[1024] = {0};
  GetWindowTextW(GetDlgItem(dialog, id), text, 1024);
  return text;
}

// Drives the dialog: waits for it, prints what it opened with, presses Uninstall, waits until
// the run has ended (Uninstall disabled, Close enabled again) and presses Close.
DWORD WINAPI DriveDialog(void*) {
  HWND dialog = nullptr;
  for (int i = 0; i < 1200 && !dialog; ++i) {
    EnumWindows(FindMainDialog, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog) Sleep(100);
  }
  if (!dialog) return 1;
  Sleep(300);  // let the dialog finish its detection
  HWND list = GetDlgItem(dialog, kProduct);
  LRESULT index = SendMessageW(list, CB_GETCURSEL, 0, 0);
  printf("[dialog] product %d: %s, folder: %s\n", static_cast<int>(index),
         qtxtest::Narrow(ControlText(dialog, kProduct)).c_str(), qtxtest::Narrow(ControlText(dialog, kPath)).c_str());
  fflush(stdout);
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(kUninstall, BN_CLICKED), 0);
  bool started = false;
  for (int i = 0; i < 3000 && IsWindow(dialog); ++i) {
    Sleep(100);
    bool uninstallOn = IsWindowEnabled(GetDlgItem(dialog, kUninstall)) != FALSE;
    bool closeOn = IsWindowEnabled(GetDlgItem(dialog, IDCLOSE)) != FALSE;
    started |= !uninstallOn;
    if (started && !uninstallOn && closeOn) {
      Sleep(500);
      printf("[dialog] run ended, pressing Close\n");
      fflush(stdout);
      PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCLOSE, BN_CLICKED), 0);
      return 0;
    }
  }
  return 1;
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
  bool printTime = false, dialog = false;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (wcscmp(argv[i], L"--answer") == 0) answers.push_back(AnswerId(argv[i + 1]));
    if (wcscmp(argv[i], L"--timeout") == 0) timeoutMs = 1000 * _wtoi(argv[i + 1]);
    if (wcscmp(argv[i], L"--time") == 0) printTime = _wtoi(argv[i + 1]) != 0;
    if (wcscmp(argv[i], L"--dialog") == 0) dialog = _wtoi(argv[i + 1]) != 0;
  }
  LocalFree(argv);

  HANDLE driver = dialog ? CreateThread(nullptr, 0, DriveDialog, nullptr, 0, nullptr) : nullptr;
  qtxtest::DrivenRun run = qtxtest::RunAndAnswer(program, answers, timeoutMs);
  if (driver) {
    WaitForSingleObject(driver, 5000);
    CloseHandle(driver);
  }
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
  // The whole code: a Unix parent sees only its low 8 bits as this program's exit status.
  if (run.finished) printf("[exit] %lu\n", static_cast<unsigned long>(run.exitCode));
  if (!run.finished) fprintf(stderr, "boxclick: the program did not end in time and was stopped\n");
  fflush(stdout);
  return run.finished ? static_cast<int>(run.exitCode) : 3;
}
