#include "tests/support/box_driver.h"

namespace qtxtest {
namespace {

struct Search {
  DWORD pid;
  HWND found;
};

BOOL CALLBACK FindBoxOf(HWND window, LPARAM param) {
  Search* search = reinterpret_cast<Search*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  wchar_t cls[32] = {0};
  GetClassNameW(window, cls, 32);
  // A box has its text in control 0xFFFF; the program's main dialog (which has an Uninstall
  // button, 1003) has unnamed statics too but is not a box.
  if (pid == search->pid && wcscmp(cls, L"#32770") == 0 && IsWindowVisible(window) &&
      GetDlgItem(window, 0xFFFF) != nullptr && GetDlgItem(window, 1003) == nullptr) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

std::wstring TextOf(HWND window) {
  int n = GetWindowTextLengthW(window);
  std::wstring text(n + 1, L'\0');
  text.resize(GetWindowTextW(window, &text[0], n + 1));
  return text;
}

// Presses `answer` on the box, falling back to whichever of No / OK / Cancel it has.
int Press(HWND box, int answer) {
  const int choices[] = {answer, IDNO, IDOK, IDCANCEL};
  for (int id : choices) {
    HWND button = GetDlgItem(box, id);
    if (button && IsWindowEnabled(button)) {
      SendMessageW(button, BM_CLICK, 0, 0);
      return id;
    }
  }
  return 0;
}
}  // namespace

DrivenRun RunAndAnswer(const std::wstring& commandLine, const std::vector<int>& answers, DWORD timeoutMs,
                       HANDLE standardOutput, const BoxAction& whileShown) {
  DrivenRun run;
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  BOOL inherit = FALSE;
  if (standardOutput != INVALID_HANDLE_VALUE) {
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = standardOutput;
    inherit = standardOutput != nullptr;
  }
  PROCESS_INFORMATION pi = {};
  std::wstring line = commandLine;
  LARGE_INTEGER frequency, startCount, endCount;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&startCount);
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, inherit, 0, nullptr, nullptr, &si, &pi)) return run;
  run.started = true;
  DWORD start = GetTickCount();
  HWND lastBox = nullptr;
  while (WaitForSingleObject(pi.hProcess, 50) == WAIT_TIMEOUT) {
    if (GetTickCount() - start > timeoutMs) {
      TerminateProcess(pi.hProcess, 0xDEAD);
      WaitForSingleObject(pi.hProcess, 5000);
      break;
    }
    Search search = {pi.dwProcessId, nullptr};
    EnumWindows(FindBoxOf, reinterpret_cast<LPARAM>(&search));
    if (!search.found || search.found == lastBox) continue;
    Sleep(100);  // let the box finish laying out its text
    SeenBox seen;
    seen.caption = TextOf(search.found);
    seen.text = TextOf(GetDlgItem(search.found, 0xFFFF));
    size_t index = run.boxes.size();
    bool yesNo = GetDlgItem(search.found, IDYES) != nullptr;
    int answer = index < answers.size() ? answers[index] : (yesNo ? IDNO : IDOK);
    if (whileShown) whileShown(index, seen.text);
    seen.pressed = Press(search.found, answer);
    run.boxes.push_back(seen);
    lastBox = search.found;
  }
  QueryPerformanceCounter(&endCount);
  run.seconds = static_cast<double>(endCount.QuadPart - startCount.QuadPart) / frequency.QuadPart;
  run.finished = WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0 && GetTickCount() - start <= timeoutMs + 100;
  GetExitCodeProcess(pi.hProcess, &run.exitCode);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return run;
}

}  // namespace qtxtest
