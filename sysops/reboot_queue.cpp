#include "sysops/reboot_queue.h"

#include <algorithm>
#include <cwctype>
#include <unordered_set>

#include "base/handles.h"
#include "log/log.h"
#include "setup/setup_globals.h"
#include "sysops/files.h"

namespace {
std::vector<std::wstring> g_rebootQueue;
// Every entry of g_rebootQueue in its folded form (see Folded), for the duplicate look-up.
std::unordered_set<std::wstring> g_queuedKeys;
// "NtfsDisable8dot3NameCreation", read when the first key is derived: -1 = not read yet.
int g_shortNamesDisabled = -1;
// The folder of the last path given a key, and that folder's 8.3 form (empty when it had
// none). A walk queues the entries of one folder one after another; each would otherwise
// look up every component of the folder again.
std::wstring g_lastFolder, g_lastFolderShort;

void RememberFolder(const std::wstring& folder) {
  if (folder == g_lastFolder) return;
  g_lastFolder = folder;
  g_lastFolderShort.clear();
  // An 8.3 form can be longer than the long one ("a b" -> "AB~1"): asked again at the
  // length the first call needs.
  std::vector<wchar_t> out(folder.size() + MAX_PATH, L'\0');
  DWORD n = GetShortPathNameW(folder.c_str(), out.data(), static_cast<DWORD>(out.size()));
  if (n >= out.size()) {
    out.assign(n + 1, L'\0');
    n = GetShortPathNameW(folder.c_str(), out.data(), static_cast<DWORD>(out.size()));
  }
  if (n > 0 && n < out.size()) g_lastFolderShort.assign(out.data(), n);
}

// The ShortPathForm of a plain absolute path ("X:\..." without "\\", "." or ".."
// components or wildcards) whose folder has an 8.3 form, built as GetShortPathNameW builds
// it, one component at a time: the folder's form (remembered from the previous path in the
// same folder), then the entry's own 8.3 name, or its name when it has none. For an entry
// that is gone, the folder's form and the long name, as ShortPathForm gives it. False when
// the path is not plain or the result would not fit `size`: the caller then asks
// ShortPathForm with the whole path.
bool ShortFormInFolder(const wchar_t* path, size_t size, std::wstring* form) {
  std::wstring full = path;
  size_t slash = full.rfind(L'\\');
  bool plain = full.size() > 3 && full[1] == L':' && full[2] == L'\\' && slash > 2 &&
               slash + 1 < full.size() && full.find(L"\\\\") == std::wstring::npos &&
               full.find(L"\\.") == std::wstring::npos && full.find_first_of(L"\"*?/") == std::wstring::npos;
  if (!plain) return false;
  RememberFolder(full.substr(0, slash));
  if (g_lastFolderShort.empty()) return false;
  std::wstring name = full.substr(slash + 1);
  WIN32_FIND_DATAW data;
  UniqueFindHandle entry(FindFirstFileW(full.c_str(), &data));
  if (entry) {
    *form = g_lastFolderShort + L"\\" + (data.cAlternateFileName[0] ? data.cAlternateFileName : data.cFileName);
    return form->size() < size;
  }
  // ShortPathForm takes the folder's form from a MAX_PATH buffer.
  if (g_lastFolderShort.size() >= MAX_PATH || g_lastFolderShort.size() + 1 + name.size() + 1 > size) return false;
  *form = g_lastFolderShort + L"\\" + name;
  return true;
}

// The queue key of a path: its ShortPathForm, or the path itself when that is empty. The
// buffer is never smaller than the path plus quotes, so no form of a long path is cut.
// When no short form could be had at all, ShortPathForm puts the path in quotes; Windows
// would take such a name for a relative one and delete nothing, so the path is used.
std::wstring QueueKey(const wchar_t* path) {
  if (g_shortNamesDisabled < 0) g_shortNamesDisabled = ShortNamesDisabled() ? 1 : 0;
  bool disabled = g_shortNamesDisabled != 0;
  size_t size = std::max<size_t>(MAX_PATH, wcslen(path) + 3);
  std::wstring form;
  if (!disabled && ShortFormInFolder(path, size, &form)) return form;
  std::vector<wchar_t> out(size, L'\0');
  ShortPathFormAs(out.data(), path, static_cast<DWORD>(size), disabled);
  out.back() = L'\0';
  if (out[0] == L'\0' || (out[0] == L'"' && path[0] != L'"')) return path;
  return out.data();
}

// Keys are compared without regard to case, as _wcsicmp compares them: character by
// character through towlower of the same run-time library. Two keys are equal in that sense
// exactly when their folded forms are equal.
std::wstring Folded(const std::wstring& key) {
  std::wstring folded(key);
  for (wchar_t& c : folded) c = static_cast<wchar_t>(towlower(c));
  return folded;
}

bool IsKeyQueued(const std::wstring& key) { return g_queuedKeys.count(Folded(key)) != 0; }

void AppendKey(std::wstring key) {
  g_queuedKeys.insert(Folded(key));
  g_rebootQueue.push_back(std::move(key));
  g_log.Print(LOG_VRB, LOG_SYSTEM, L"Delete on reboot(%s)", g_rebootQueue.back().c_str());
}

bool IsExempt(const std::wstring& entry, int count, const wchar_t* const* paths) {
  for (int i = 0; i < count; ++i)
    if (paths && paths[i] && _wcsicmp(entry.c_str(), paths[i]) == 0) return true;
  return false;
}
}  // namespace

bool IsQueuedForReboot(const wchar_t* path) {
  if (!path) return false;
  return IsKeyQueued(QueueKey(path));
}

void QueueDeleteOnReboot(const wchar_t* path) {
  if (!path) return;
  AppendKey(QueueKey(path));
}

bool QueueDeleteOnRebootOnce(const wchar_t* path) {
  if (!path) return false;
  std::wstring key = QueueKey(path);
  if (IsKeyQueued(key)) return false;
  AppendKey(std::move(key));
  return true;
}

DWORD CommitRebootQueue(int count, const wchar_t* const* paths) {
  if (g_rebootQueue.empty()) return 0;
  size_t before = g_rebootQueue.size();
  g_rebootQueue.erase(std::remove_if(g_rebootQueue.begin(), g_rebootQueue.end(),
                                     [&](const std::wstring& e) { return IsExempt(e, count, paths); }),
                      g_rebootQueue.end());
  if (g_rebootQueue.size() != before) {
    g_queuedKeys.clear();
    for (const std::wstring& entry : g_rebootQueue) g_queuedKeys.insert(Folded(entry));
  }
  if (!g_setup.IsOS(OS_NT)) return 0;
  DWORD lastError = 0;
  for (const std::wstring& entry : g_rebootQueue) {
    g_log.Print(LOG_VRB, LOG_FILE, L"MoveFileEx(%s, NULL)", entry.c_str());
    if (!MoveFileExW(entry.c_str(), nullptr, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT))
      lastError = GetLastError();
  }
  return lastError;
}

std::vector<std::wstring> RebootQueueEntries() { return g_rebootQueue; }

void ResetRebootQueueForTests() {
  g_rebootQueue.clear();
  g_queuedKeys.clear();
  g_shortNamesDisabled = -1;
  g_lastFolder.clear();
  g_lastFolderShort.clear();
}
