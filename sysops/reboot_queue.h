// The process-wide delete-on-restart queue: files and folders that could not be deleted
// during the run, collected in order and handed to Windows in one batch at the end.
// Entries are keyed by ShortPathForm, so the long and the 8.3 form of one file are one
// entry; paths of any length are stored whole. Beside the ordered list the queue keeps its
// keys in a hash set, so that asking and adding cost the same at any queue length; the
// short-name setting is read once per run. Used from the removal thread only.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// True when an entry equals the path's key, compared without regard to case.
bool IsQueuedForReboot(const wchar_t* path);

// Appends the path's key to the queue (no duplicate check: callers ask IsQueuedForReboot
// first). A null path does nothing. Logs "Delete on reboot(<key>)".
void QueueDeleteOnReboot(const wchar_t* path);

// IsQueuedForReboot and, when it is false, QueueDeleteOnReboot, deriving the key once.
// True when the path was added.
bool QueueDeleteOnRebootOnce(const wchar_t* path);

// Drops the entries equal to one of the `count` exempt paths, then schedules every other
// entry with MoveFileExW(entry, NULL, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT)
// in queue order. Returns the last error met (0 if none). Nothing happens on an empty queue
// or outside the NT family.
DWORD CommitRebootQueue(int count, const wchar_t* const* paths);

// The queued keys in order (the run reports whether any are left for the restart); for
// tests, emptying the queue (and forgetting the short-name setting) between test cases.
std::vector<std::wstring> RebootQueueEntries();
void ResetRebootQueueForTests();
