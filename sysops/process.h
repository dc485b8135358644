// Starting external programs, and the process-wide privilege and COM-security set-up that
// the hive, helper-program and Security Center work relies on.
#pragma once
#include <windows.h>

// Starts commandLine (writable, as CreateProcessW wants it) without waiting for it. The new
// process may bring its windows to the front. *error (when given) receives 0 or the
// GetLastError() of the failed start. True when the process was created.
// programPath, when given, is the program's full path and is passed as the application
// name, so that no search (the program's own folder, the current folder, ...) picks another
// program of that name; the command line and its log lines stay as they are. A programPath
// that is not absolute is not started: "Program \"%s\" not started: no absolute path" (level
// min, category system) is logged and *error is ERROR_BAD_PATHNAME. A program whose folder
// fails HoldTrustedFolder (sysops/folder_trust.h) is not started either (*error is
// ERROR_ACCESS_DENIED).
bool LaunchProgram(wchar_t* commandLine, DWORD* error, const wchar_t* programPath = nullptr);

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
