#include "app/usage.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

#include "app/app_state.h"
#include "ui/prompt.h"
#include "ui/ui_strings.h"
#include "resources/resource.h"
#include "base/dynapi.h"
#include "base/handles.h"

const SwitchInfo kSwitches[] = {
    {L"silent", false},     {L"verysilent", false},   {L"unattended", false}, {L"noreboot", false},
    {L"forcerestart", false}, {L"forceuninstallpro", false}, {L"whatif", false}, {L"?", false},
    {L"help", false},       {L"prod", true},          {L"log", true},         {L"report", true},
    {L"folder", true},
};
const size_t kSwitchCount = sizeof kSwitches / sizeof kSwitches[0];

namespace {
constexpr size_t kUsageChars = 32768;

bool HasSwitchPrefix(const std::wstring& arg) { return !arg.empty() && (arg[0] == L'/' || arg[0] == L'-'); }

// The table entry of a switch argument; null when it is none.
const SwitchInfo* KnownSwitch(const std::wstring& arg) {
  if (!HasSwitchPrefix(arg)) return nullptr;
  for (size_t i = 0; i < kSwitchCount; ++i)
    if (_wcsicmp(arg.c_str() + 1, kSwitches[i].word) == 0) return &kSwitches[i];
  return nullptr;
}

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

// "major.minor.patch" of the program's version resource (VS_FIXEDFILEINFO), the version
// Explorer shows; empty when the resource is missing.
std::wstring ResourceVersion() {
  HRSRC found = FindResourceW(g_instance, MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION);
  HGLOBAL loaded = found ? LoadResource(g_instance, found) : nullptr;
  const BYTE* data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
  // The block starts with three WORDs and the key "VS_VERSION_INFO" (16 characters with its
  // terminator); the fixed part follows at the next 32-bit boundary.
  constexpr size_t kFixedOffset = (3 * sizeof(WORD) + 16 * sizeof(wchar_t) + 3) & ~size_t(3);
  if (!data || SizeofResource(g_instance, found) < kFixedOffset + sizeof(VS_FIXEDFILEINFO)) return L"";
  VS_FIXEDFILEINFO fixed;
  memcpy(&fixed, data + kFixedOffset, sizeof fixed);
  if (fixed.dwSignature != 0xFEEF04BD) return L"";
  wchar_t text[32];
  _snwprintf(text, 31, L"%u.%u.%u", HIWORD(fixed.dwFileVersionMS), LOWORD(fixed.dwFileVersionMS),
             HIWORD(fixed.dwFileVersionLS));
  text[31] = L'\0';
  return text;
}

bool WriteConsoleText(HANDLE console, const std::wstring& text) {
  DWORD written = 0;
  return WriteConsoleW(console, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr) != 0;
}

// Standard output as the starter gave it: a console handle is written as a console, a file
// or pipe (for example "qtxClear /? > usage.txt") as UTF-8. False when there is none or it
// cannot be written.
bool WriteToStandardOutput(const std::wstring& text) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return false;
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode)) return WriteConsoleText(out, text);
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return false;
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], bytes, nullptr, nullptr);
  DWORD written = 0;
  return WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr) && written == utf8.size();
}

}  // namespace

bool HasSwitch(const std::vector<std::wstring>& arguments, const wchar_t* word) {
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::wstring& arg = arguments[i];
    if (IsWord(arg, word)) return true;
    const SwitchInfo* known = KnownSwitch(arg);
    if (known && known->takesValue && i + 1 < arguments.size()) ++i;
  }
  return false;
}

bool FindUnknownSwitch(const std::vector<std::wstring>& arguments, std::wstring* unknown) {
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::wstring& arg = arguments[i];
    if (!HasSwitchPrefix(arg)) continue;
    const SwitchInfo* known = KnownSwitch(arg);
    bool valueMissing = known && known->takesValue && i + 1 == arguments.size() && !IsWord(arg, L"prod") &&
                        !IsWord(arg, L"log");
    if (!known || valueMissing) {
      *unknown = arg;
      return true;
    }
    if (known->takesValue) ++i;
  }
  return false;
}

std::wstring ProgramVersion() { return ResourceVersion(); }

bool AsksForUsage(const std::vector<std::wstring>& arguments) {
  return HasSwitch(arguments, L"?") || HasSwitch(arguments, L"help");
}

std::wstring UsageText() {
  std::vector<wchar_t> format(kUsageChars, L'\0');
  LoadUiString(g_instance, IDS_USAGE, format.data(), kUsageChars, g_uiLanguage);
  std::vector<wchar_t> text(kUsageChars, L'\0');
  int n = _snwprintf(text.data(), kUsageChars - 1, format.data(), ResourceVersion().c_str());
  if (n < 0) text[kUsageChars - 1] = L'\0';
  return text.data();
}

bool WriteToParentConsole(const std::wstring& text) {
  std::wstring lines = WithCrLf(text);
  if (WriteToStandardOutput(lines)) return true;
  // A GUI program has no console of its own on Windows; it borrows its parent's for the text.
  // Windows 2000 lacks AttachConsole, so there the box is shown instead. "Access denied"
  // means the process has a console already (Wine gives one to a GUI program started from
  // a console).
  typedef BOOL(WINAPI * AttachConsoleFn)(DWORD);
  auto attach = LookupFn<AttachConsoleFn>(L"kernel32.dll", "AttachConsole");
  if (!attach) return false;
  bool attached = attach(ATTACH_PARENT_PROCESS) != 0;
  if (!attached && GetLastError() != ERROR_ACCESS_DENIED) return false;
  UniqueKernelHandle console(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
  bool written = console && WriteConsoleText(console.get(), lines);
  console.reset();
  if (attached) FreeConsole();
  return written;
}

void ShowUsage() {
  std::wstring text = UsageText();
  if (WriteToParentConsole(text)) return;
  wchar_t caption[MAX_PATH] = {0};
  LoadUiString(g_instance, IDS_APP_CAPTION, caption, MAX_PATH, g_uiLanguage);
  UiMessageBox(nullptr, text.c_str(), caption, MB_OK | MB_ICONINFORMATION);
}
