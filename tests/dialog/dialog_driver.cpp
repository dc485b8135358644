#include "tests/dialog/dialog_driver.h"

#include <thread>

#include "app/dialog.h"
#include "resources/resource.h"

namespace qtxtest {
namespace {
constexpr DWORD kMessageTimeoutMs = 120000;  // a whole removal run may sit in between
constexpr const wchar_t* kDialogCaption = L"VELKO Software Uninstall Utility";

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kMessageTimeoutMs, &result);
  return static_cast<LRESULT>(result);
}
}  // namespace

HWND WaitForWindow(const wchar_t* caption, DWORD timeoutMs) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs; Sleep(20)) {
    HWND window = FindWindowW(L"#32770", caption);
    if (window && IsWindowVisible(window) && GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId())
      return window;
  }
  return nullptr;
}

INT_PTR ShowMainDialog(const std::function<void(HWND dialog)>& drive) {
  std::thread driver([&drive] {
    HWND dialog = WaitForWindow(kDialogCaption, 20000);
    drive(dialog);
    if (dialog && IsWindow(dialog)) Click(GetDlgItem(dialog, IDCLOSE));
  });
  INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MAIN), nullptr,
                                   MainDialogProc, 0);
  driver.join();
  return result;
}

std::wstring TextOf(HWND window) {
  LRESULT length = Send(window, WM_GETTEXTLENGTH, 0, 0);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  LRESULT copied = Send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
  text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
  return text;
}

void TypeText(HWND window, const std::wstring& text) {
  Send(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void Click(HWND button) { Send(button, BM_CLICK, 0, 0); }

void SelectProduct(HWND dialog, int index) {
  HWND combo = GetDlgItem(dialog, IDC_PRODUCT);
  Send(combo, CB_SETCURSEL, index, 0);
  Send(dialog, WM_COMMAND, MAKEWPARAM(IDC_PRODUCT, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
}

void PressKey(HWND dialog, UINT vk) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof(info);
  HWND target = dialog;
  if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) && info.hwndFocus)
    target = info.hwndFocus;
  PostMessageW(target, WM_KEYDOWN, vk, 1);
  PostMessageW(target, WM_KEYUP, vk, 0xC0000001);
}

bool Settle(HWND dialog) {
  // Posted messages are handled in order: once a marker posted now has been handled,
  // so has everything posted before it. The marker is a harmless edit-control message.
  HWND path = GetDlgItem(dialog, IDC_PATH);
  Send(path, EM_SETLIMITTEXT, 0, 0);
  PostMessageW(path, EM_SETLIMITTEXT, 0x7FFF0000, 0);
  for (DWORD start = GetTickCount(); IsWindow(path) && GetTickCount() - start < kMessageTimeoutMs; Sleep(10))
    if (static_cast<DWORD>(Send(path, EM_GETLIMITTEXT, 0, 0)) == 0x7FFF0000) return true;
  return false;
}

bool WaitForRun(HWND dialog) {
  HWND uninstall = GetDlgItem(dialog, IDC_UNINSTALL);
  for (DWORD start = GetTickCount(); IsWindow(uninstall) && GetTickCount() - start < kMessageTimeoutMs;
       Sleep(10)) {
    if (!IsWindowEnabled(uninstall)) {
      // The run is inside the Uninstall handler; a sent message waits until it returns.
      return Settle(dialog);
    }
  }
  return false;
}

}  // namespace qtxtest
