#include "sysops/reboot_queue.h"

#include <algorithm>

#include "log/log.h"
#include "setup/setup_globals.h"
#include "sysops/files.h"

namespace {
std::vector<std::wstring> g_rebootQueue;

// The queue key of a path: its ShortPathForm, or the path itself when that is empty. The
// buffer is never smaller than the path plus quotes, so no form of a long path is cut.
// When no short form could be had at all, ShortPathForm puts the path in quotes; Windows
// would take such a name for a relative one and delete nothing, so the path is used.
std::wstring QueueKey(const wchar_t* path) {
  size_t size = std::max<size_t>(MAX_PATH, wcslen(path) + 3);
  std::vector<wchar_t> out(size, L'\0');
  ShortPathForm(out.data(), path, static_cast<DWORD>(size));
  out.back() = L'\0';
  if (out[0] == L'\0' || (out[0] == L'"' && path[0] != L'"')) return path;
  return out.data();
}

bool IsExempt(const std::wstring& entry, int count, const wchar_t* const* paths) {
  for (int i = 0; i < count; ++i)
    if (paths && paths[i] && _wcsicmp(entry.c_str(), paths[i]) == 0) return true;
  return false;
}
}  // namespace

bool IsQueuedForReboot(const wchar_t* path) {
  if (!path) return false;
  std::wstring key = QueueKey(path);
  for (const std::wstring& entry : g_rebootQueue)
    if (_wcsicmp(entry.c_str(), key.c_str()) == 0) return true;
  return false;
}

void QueueDeleteOnReboot(const wchar_t* path) {
  if (!path) return;
  g_rebootQueue.push_back(QueueKey(path));
  g_log.Print(LOG_VRB, LOG_SYSTEM, L"Delete on reboot(%s)", g_rebootQueue.back().c_str());
}

DWORD CommitRebootQueue(int count, const wchar_t* const* paths) {
  if (g_rebootQueue.empty()) return 0;
  g_rebootQueue.erase(std::remove_if(g_rebootQueue.begin(), g_rebootQueue.end(),
                                     [&](const std::wstring& e) { return IsExempt(e, count, paths); }),
                      g_rebootQueue.end());
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

void ResetRebootQueueForTests() { g_rebootQueue.clear(); }
