// Starting external programs, and the process-wide privilege and COM-security set-up that
// the hive, helper-program and Security Center work relies on.
#pragma once
#include <windows.h>

// Starts commandLine (writable, as CreateProcessW wants it) without waiting for it. The new
// process may bring its windows to the front. *error (when given) receives 0 or the
// GetLastError() of the failed start. True when the process was created.
bool LaunchProgram(wchar_t* commandLine, DWORD* error);

// Enables SeRestorePrivilege in the process token, which mounting other users' hives needs.
// 0 on success (and off the NT family, where there is nothing to do), else a Windows code.
DWORD EnableRestorePrivilege();

// Enables (or disables) one named privilege of `token` (opened with TOKEN_ADJUST_PRIVILEGES).
// True when AdjustTokenPrivileges succeeded; it also succeeds with ERROR_NOT_ALL_ASSIGNED when
// the token lacks the privilege, which callers that care read from GetLastError().
bool SetTokenPrivilege(HANDLE token, const wchar_t* privilege, bool enable);

// Sets the process's COM security once: local and remote activation for administrators,
// the service accounts, the caller itself and the system account. COM must be initialised
// on the thread. True when CoInitializeSecurity succeeded.
bool SetComSecurity();
