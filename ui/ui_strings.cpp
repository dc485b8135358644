#include "ui/ui_strings.h"

#include <string>

#include "ui/ui_context.h"
#include "resources/resource.h"

namespace {
constexpr size_t kProgressChars = 32768;  // the progress box's text, terminator included
}  // namespace

void AppendProgress(const wchar_t* line) {
  if (!g_mainDialog) return;
  HWND box = GetDlgItem(g_mainDialog, IDC_PROGRESS);
  if (!box) return;
  std::wstring text(kProgressChars, L'\0');
  int n = GetWindowTextW(box, &text[0], static_cast<int>(kProgressChars));
  text.resize(n > 0 ? n : 0);
  text += line ? line : L"";
  text += L"\r\n";
  // Keep the newest lines: drop whole lines from the front until the text fits.
  while (text.size() > kProgressChars - 1) {
    size_t eol = text.find(L"\r\n");
    if (eol == std::wstring::npos || eol + 2 >= text.size()) {
      text.erase(0, text.size() - (kProgressChars - 1));
      break;
    }
    text.erase(0, eol + 2);
  }
  SetWindowTextW(box, text.c_str());
}

void AppendProgressString(wchar_t* line, UINT id) {
  LoadUiString(g_instance, id, line, kProgressLineChars, g_uiLanguage);
  AppendProgress(line);
}
