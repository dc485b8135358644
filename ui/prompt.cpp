#include "ui/prompt.h"

#include <string>

#include "log/log.h"

namespace {
UiPromptHook g_promptHook = nullptr;
RestartHook g_restartHook = nullptr;
bool g_unattended = false;

// The answer an unattended run takes when the caller names none: the one that changes
// nothing.
int HarmlessAnswer(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_YESNO: return IDNO;
    case MB_ABORTRETRYIGNORE: return IDABORT;
    case MB_OKCANCEL:
    case MB_YESNOCANCEL:
    case MB_RETRYCANCEL:
    case MB_CANCELTRYCONTINUE: return IDCANCEL;
    default: return IDOK;
  }
}

const wchar_t* AnswerName(int answer) {
  switch (answer) {
    case IDOK: return L"OK";
    case IDCANCEL: return L"Cancel";
    case IDABORT: return L"Abort";
    case IDRETRY: return L"Retry";
    case IDIGNORE: return L"Ignore";
    case IDYES: return L"Yes";
    case IDNO: return L"No";
    case IDTRYAGAIN: return L"Try Again";
    case IDCONTINUE: return L"Continue";
  }
  return L"?";
}

// The box's text on one log line: line breaks become spaces.
std::wstring OneLine(const wchar_t* text) {
  std::wstring line = text ? text : L"";
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] != L'\r' && line[i] != L'\n') continue;
    size_t end = line.find_first_not_of(L"\r\n", i);
    line.replace(i, (end == std::wstring::npos ? line.size() : end) - i, L" ");
  }
  return line;
}
}  // namespace

int UiMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type, int unattendedAnswer) {
  if (g_unattended) {
    int answer = unattendedAnswer != 0 ? unattendedAnswer : HarmlessAnswer(type);
    // A box without a caption would be titled "Error" by Windows.
    g_log.Print(LOG_MIN, LOG_GENERAL, L"Unattended, message box not shown: \"%s\" \"%s\", answered %s",
                caption ? caption : L"Error", OneLine(text).c_str(), AnswerName(answer));
    return answer;
  }
  if (g_promptHook) return g_promptHook(owner, text, caption, type);
  return MessageBoxW(owner, text, caption, type);
}

void SetUnattended(bool unattended) { g_unattended = unattended; }
bool IsUnattended() { return g_unattended; }
void SetUiPromptHook(UiPromptHook hook) { g_promptHook = hook; }
void SetRestartHook(RestartHook hook) { g_restartHook = hook; }
RestartHook GetRestartHook() { return g_restartHook; }
