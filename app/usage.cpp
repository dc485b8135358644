#include "app/usage.h"

#include <windows.h>

#include <cwchar>

#include "app/app_state.h"
#include "app/ui.h"
#include "app/ui_strings.h"
#include "qtx_version.h"
#include "resources/resource.h"
#include "sysops/dynapi.h"
#include "sysops/handles.h"

namespace {
constexpr size_t kUsageChars = 32768;

bool IsWord(const std::wstring& arg, const wchar_t* word) {
  return arg.size() > 1 && (arg[0] == L'/' || arg[0] == L'-') && _wcsicmp(arg.c_str() + 1, word) == 0;
}

// Line breaks as a console and a text file expect them.
std::wstring WithCrLf(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size() + text.size() / 16 + 2);
  for (wchar_t c : text) {
    if (c == L'\n') out += L'\r';
    out += c;
  }
  return out + L"\r\n";
}

// A file or pipe the starter gave as standard output (for example "qtxClear /? > usage.txt"),
// written as UTF-8. False when there is none or it cannot be written.
bool WriteToRedirectedOutput(HANDLE out, const std::wstring& text) {
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return false;
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode)) return false;  // a console handle: written as a console below
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return false;
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], bytes, nullptr, nullptr);
  DWORD written = 0;
  return WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr) && written == utf8.size();
}

bool WriteConsoleText(HANDLE console, const std::wstring& text) {
  DWORD written = 0;
  return WriteConsoleW(console, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr) != 0;
}
}  // namespace

bool AsksForUsage(const std::vector<std::wstring>& arguments) {
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::wstring& arg = arguments[i];
    if (IsWord(arg, L"?") || IsWord(arg, L"help")) return true;
    if ((IsWord(arg, L"prod") || IsWord(arg, L"log")) && i + 1 < arguments.size()) ++i;
  }
  return false;
}

std::wstring UsageText() {
  std::vector<wchar_t> format(kUsageChars, L'\0');
  LoadUiString(g_instance, IDS_USAGE, format.data(), kUsageChars, g_uiLanguage);
  std::vector<wchar_t> text(kUsageChars, L'\0');
  int n = _snwprintf(text.data(), kUsageChars - 1, format.data(), QTX_VERSION_WTEXT);
  if (n < 0) text[kUsageChars - 1] = L'\0';
  return text.data();
}

bool WriteToParentConsole(const std::wstring& text) {
  std::wstring lines = WithCrLf(text);
  if (WriteToRedirectedOutput(GetStdHandle(STD_OUTPUT_HANDLE), lines)) return true;
  // A GUI program has no console of its own; it borrows its parent's for the text. Windows
  // 2000 lacks AttachConsole, so there the box is shown instead.
  typedef BOOL(WINAPI * AttachConsoleFn)(DWORD);
  auto attach = LookupFn<AttachConsoleFn>(L"kernel32.dll", "AttachConsole");
  if (!attach || !attach(ATTACH_PARENT_PROCESS)) return false;
  UniqueKernelHandle console(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
  bool written = console && WriteConsoleText(console.get(), lines);
  console.reset();
  FreeConsole();
  return written;
}

void ShowUsage() {
  std::wstring text = UsageText();
  if (WriteToParentConsole(text)) return;
  wchar_t caption[MAX_PATH] = {0};
  LoadUiString(g_instance, IDS_APP_CAPTION, caption, MAX_PATH, g_uiLanguage);
  UiMessageBox(nullptr, text.c_str(), caption, MB_OK | MB_ICONINFORMATION);
}
