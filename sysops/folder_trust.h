// Who may change a folder the program loads suite code from, and who owns a file it is about
// to write. The program runs elevated: a module or helper in a folder that a standard user
// can add files to, or a file the user prepared, would run or be written with its rights.
#pragma once
#include <windows.h>

#include "base/handles.h"

// Reads the owner and access list of an open file or folder (READ_CONTROL); on success the
// descriptor is the caller's to LocalFree. Returns a Windows code.
typedef DWORD (*SecurityReader)(HANDLE object, PSECURITY_DESCRIPTOR* descriptor);
DWORD ReadObjectSecurity(HANDLE object, PSECURITY_DESCRIPTOR* descriptor);
// For tests: replaces the reader (null = the system's). Wine reports every file as owned by
// the process's user, with full control for that user, and enforces none of it.
void SetSecurityReaderForTests(SecurityReader reader);

// True for Administrators, SYSTEM and (with allowInstaller) the TrustedInstaller service.
bool IsTrustedSid(PSID sid, bool allowInstaller);
// Null when the descriptor lets only trusted SIDs change the folder: the owner is trusted
// and no entry that applies to the folder itself (not inherit-only) lets another SID add,
// write or delete files, delete the folder, change its access list or take ownership.
// Otherwise the reason, for the log.
const wchar_t* FolderDescriptorFault(PSECURITY_DESCRIPTOR descriptor);
// The same for a folder above one that is walked: null when only trusted SIDs own it or may
// rename, remove or replace its entries or itself (adding entries is allowed), else why.
const wchar_t* ParentDescriptorFault(PSECURITY_DESCRIPTOR descriptor);
// True when the descriptor's owner is Administrators or SYSTEM.
bool IsOwnedByAdministrators(PSECURITY_DESCRIPTOR descriptor);

// Opens `folder` without following a reparse point and without delete sharing (so that it
// cannot be renamed or replaced while held) and checks it as above. The handle when the
// folder is trusted; otherwise an empty one after "Suite folder refused, nothing is loaded
// or started from it: %s (%s)" (level min, category file).
UniqueKernelHandle HoldTrustedFolder(const wchar_t* folder);
// The same for the folder that holds `file`.
UniqueKernelHandle HoldTrustedFolderOf(const wchar_t* file);

// Why an existing file that the program is about to overwrite (the log, the report) must not
// be written, or null when it may. A link, a file with another name elsewhere (a hard link)
// or one a standard user owns could be a file of the system's. `file` is open with
// READ_CONTROL and without following a reparse point; `path` is the name it was opened by.
const wchar_t* WrittenFileFault(HANDLE file, const wchar_t* path);
