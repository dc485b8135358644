#include "tests/support/test_support.h"

#include <sddl.h>

#include "app/safe_mode.h"
#include "sysops/folder_trust.h"

#include <memory>

#include "ui/prompt.h"

namespace {
// Wine reports every file as owned by the process's user with full control for it, which the
// product rightly refuses to load suite code from or write a log into. Test programs answer
// instead what an installed suite folder has on Windows (owned by Administrators, changeable
// by Administrators and SYSTEM only); the tests of that check set their own answers.
DWORD AdministratorsOnly(HANDLE, PSECURITY_DESCRIPTOR* descriptor) {
  return ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BAD:(A;;FA;;;BA)(A;;FA;;;SY)", SDDL_REVISION_1,
                                                              descriptor, nullptr)
             ? 0
             : GetLastError();
}
struct TestDefaults {
  TestDefaults() {
    SetSecurityReaderForTests(AdministratorsOnly);
    HoldOwnImage();  // as the entry point does, for the Safe-Mode copy
  }
} g_testDefaults;
}  // namespace

namespace qtxtest {

void RestoreTestSecurityReader() { SetSecurityReaderForTests(AdministratorsOnly); }

void ClearLog() { g_log.entries.clear(); }

bool LogHas(const std::wstring& text, int level, int category) {
  for (const LogEntry& e : g_log.entries) {
    if (e.text == text && (level < 0 || e.level == level) && (category < 0 || e.category == category))
      return true;
  }
  return false;
}

int LogCount(const std::wstring& text) {
  int n = 0;
  for (const LogEntry& e : g_log.entries) n += (e.text == text);
  return n;
}

int LogIndexOf(const std::wstring& text, size_t from) {
  for (size_t i = from; i < g_log.entries.size(); ++i)
    if (g_log.entries[i].text == text) return static_cast<int>(i);
  return -1;
}

std::wstring LogDump() {
  std::wstring out;
  for (const LogEntry& e : g_log.entries) {
    out += LogLevelName(e.level);
    out += L"/";
    out += LogCategoryName(e.category);
    out += L" ";
    out += e.text;
    out += L"\n";
  }
  return out;
}

std::vector<std::wstring> LogTexts() {
  std::vector<std::wstring> texts;
  for (const LogEntry& e : g_log.entries) texts.push_back(e.text);
  return texts;
}

namespace {
struct PromptScript {
  std::vector<int> answers;
  size_t next = 0;
  std::vector<Prompt> seen;
};
PromptScript* g_script = nullptr;
int ScriptedAnswer(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
  g_script->seen.push_back({owner, text ? text : L"", caption ? caption : L"", type});
  if (g_script->next < g_script->answers.size()) return g_script->answers[g_script->next++];
  return IDNO;
}
int g_restarts = 0;
void CountRestart() { ++g_restarts; }
}  // namespace

ScriptedPrompts::ScriptedPrompts(std::vector<int> answers) {
  g_script = new PromptScript{std::move(answers), 0, {}};
  SetUiPromptHook(ScriptedAnswer);
}
ScriptedPrompts::~ScriptedPrompts() {
  SetUiPromptHook(nullptr);
  delete g_script;
  g_script = nullptr;
}
const std::vector<Prompt>& ScriptedPrompts::prompts() const { return g_script->seen; }

RestartRecorder::RestartRecorder() {
  g_restarts = 0;
  SetRestartHook(CountRestart);
}
RestartRecorder::~RestartRecorder() { SetRestartHook(nullptr); }
int RestartRecorder::count() const { return g_restarts; }

void RemoveAll(const std::wstring& path) {
  DWORD attrs = GetFileAttributesW(path.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES) return;
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!(attrs & FILE_ATTRIBUTE_DIRECTORY)) {
    DeleteFileW(path.c_str());
    return;
  }
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = fd.cFileName;
      if (name != L"." && name != L"..") RemoveAll(path + L"\\" + name);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
  }
  RemoveDirectoryW(path.c_str());
}

std::wstring ScratchDir(const std::wstring& name) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring base = std::wstring(temp) + L"qtxtests";
  CreateDirectoryW(base.c_str(), nullptr);
  base += L"\\" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(base.c_str(), nullptr);
  std::wstring dir = base + L"\\" + name;
  RemoveAll(dir);
  CreateDirectoryW(dir.c_str(), nullptr);
  return dir;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
  return ok && written == bytes.size();
}

bool ReadBytes(const std::wstring& path, std::string* bytes) {
  // Shares delete access too: a program that has just renamed the file into place may still
  // hold the handle it renamed it with, and that handle carries delete access.
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bytes->clear();
  char buf[65536];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) bytes->append(buf, got);
  CloseHandle(h);
  return true;
}

bool EnablePrivilege(const wchar_t* name) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
  TOKEN_PRIVILEGES tp = {};
  tp.PrivilegeCount = 1;
  tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  BOOL ok = LookupPrivilegeValueW(nullptr, name, &tp.Privileges[0].Luid) &&
            AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr) &&
            GetLastError() == ERROR_SUCCESS;
  CloseHandle(token);
  return ok;
}

bool PathExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Narrow(const std::wstring& s) {
  if (s.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), (int)s.size(), nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, s.data(), (int)s.size(), &out[0], n, nullptr, nullptr);
  return out;
}

std::wstring Widen(const std::string& s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), nullptr, 0);
  std::wstring out(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), &out[0], n);
  return out;
}

}  // namespace qtxtest

namespace qtxtest {
bool On32BitWindows() {
  wchar_t folder[MAX_PATH];
  return GetSystemWow64DirectoryW(folder, MAX_PATH) == 0;
}

DWORD RunSelfUnderWindowsVersion(const wchar_t* version, const wchar_t* gtestFilter, const wchar_t* expect) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const wchar_t* name = wcsrchr(self, L'\\') ? wcsrchr(self, L'\\') + 1 : self;
  std::wstring key = std::wstring(L"Software\\Wine\\AppDefaults\\") + name;
  HKEY appKey = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &appKey, nullptr) != 0)
    return 999;
  RegSetValueExW(appKey, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                 static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t)));
  RegCloseKey(appKey);
  SetEnvironmentVariableW(L"QTX_EXPECT", expect);

  std::wstring line = std::wstring(L"\"") + self + L"\" --gtest_filter=" + gtestFilter;
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  DWORD code = 999;
  if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    WaitForSingleObject(pi.hProcess, 60000);
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  SetEnvironmentVariableW(L"QTX_EXPECT", nullptr);
  RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
  return code;
}
std::wstring ReadLog(const std::wstring& path) {
  std::string bytes;
  if (!ReadBytes(path, &bytes) || bytes.size() < 2 || bytes.compare(0, 2, "\xFF\xFE") != 0) return L"";
  return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
}

int Count(const std::wstring& text, const std::wstring& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::wstring::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace qtxtest
