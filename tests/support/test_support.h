// Helpers shared by the tests: reading the process log, answering prompts, recording
// restarts, scratch folders and files.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "log/log.h"

namespace qtxtest {

// Empties the process log.
void ClearLog();
// True when an entry with exactly this text exists (level/category -1 = any).
bool LogHas(const std::wstring& text, int level = -1, int category = -1);
// Number of entries with exactly this text.
int LogCount(const std::wstring& text);
// Index of the first entry with this text at or after `from`, or -1.
int LogIndexOf(const std::wstring& text, size_t from = 0);
// Every entry, one per line, as "level/category text": for failure messages.
std::wstring LogDump();
// Texts of all entries in order.
std::vector<std::wstring> LogTexts();

struct Prompt {
  HWND owner;
  std::wstring text;
  std::wstring caption;
  UINT type;
};

// While alive, answers every prompt with the next scripted answer (IDNO once the script
// is used up) and records it.
class ScriptedPrompts {
 public:
  explicit ScriptedPrompts(std::vector<int> answers = {});
  ~ScriptedPrompts();
  const std::vector<Prompt>& prompts() const;
};

// While alive, counts restarts instead of restarting.
class RestartRecorder {
 public:
  RestartRecorder();
  ~RestartRecorder();
  int count() const;
};

// A fresh empty folder %TEMP%\qtxtests\<pid>\<name> (removed with its contents first).
std::wstring ScratchDir(const std::wstring& name);
bool WriteBytes(const std::wstring& path, const std::string& bytes);
bool ReadBytes(const std::wstring& path, std::string* bytes);
// The log a program saved with /log, as text (UTF-16 after the byte-order mark); "" when it
// cannot be read or has no such mark.
std::wstring ReadLog(const std::wstring& path);
// How often `what` occurs in `text` (overlapping occurrences counted).
int Count(const std::wstring& text, const std::wstring& what);
bool PathExists(const std::wstring& path);
// Deletes a file or folder tree, whatever its attributes.
void RemoveAll(const std::wstring& path);

// Enables a privilege (e.g. L"SeRestorePrivilege") in the process token; true on success.
bool EnablePrivilege(const wchar_t* name);

// True on 32-bit Windows (no WOW64 system folder): the 32-bit suites' 32-bit prefix, where a
// test expects what a 32-bit program sees there.
bool On32BitWindows();

// UTF-16 <-> UTF-8, for test messages.
std::string Narrow(const std::wstring& s);

// Puts back the test programs' answer to the folder-trust reader (owned by Administrators,
// changeable by Administrators and SYSTEM only) after a test replaced it.
void RestoreTestSecurityReader();
std::wstring Widen(const std::string& s);

}  // namespace qtxtest

namespace qtxtest {
// Starts this test program again with Wine claiming Windows `version` for it ("winxp64",
// "win2003", "vista", "win2008", "win7", "win8" ...: Wine's per-program AppDefaults setting,
// read when a process starts), running only the tests that match gtestFilter, with the
// environment variable QTX_EXPECT set to `expect`. Returns the child's exit code (999 when it
// could not be started). The setting is removed again afterwards.
DWORD RunSelfUnderWindowsVersion(const wchar_t* version, const wchar_t* gtestFilter, const wchar_t* expect);
}  // namespace qtxtest
