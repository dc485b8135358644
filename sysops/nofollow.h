// Files and folders reached without following a link anywhere on their path, and folders
// locked against standard users before anything below them is queued for the restart.
//
// Every open here goes one path component at a time, relative to the handle of the folder
// before it (NtCreateFile with a root directory, looked up at run time), with
// FILE_OPEN_REPARSE_POINT, and refuses a component that is a reparse point. Two checks do
// that: the handle's own attributes (what Windows reports for a junction or symbolic link
// opened that way), and the attributes the parent's listing gives the name (Wine reports a
// Unix symbolic link only there; through a handle it looks like a plain folder). What is then
// done - deleting, listing, securing - goes through the handle, never by name again.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "base/handles.h"

// The code for "a link is on the path": nothing was done through it.
constexpr DWORD kErrorLinkOnPath = ERROR_CANT_RESOLVE_FILENAME;

// Access for folders that are secured and listed through their handle. Without DELETE: a
// handle with delete access keeps others (Wine's FindFirstFileW, short-name look-ups) from
// listing the folder; removal opens the folder again for that.
constexpr ACCESS_MASK kFolderWalkAccess =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL | WRITE_DAC | WRITE_OWNER | SYNCHRONIZE;

// True for "X:\..." and "\\server\share\..." paths without "." or ".." parts, wildcards,
// forward slashes or "%" (an unexpanded macro or variable): the only paths handed on.
bool IsPlainAbsolutePath(const std::wstring& path);

// Opens the absolute path ("X:\..." or "\\server\share\...") without following a link on it.
// `folder` asks for a folder (else a file); `access` applies to the last component only.
// 0, kErrorLinkOnPath, ERROR_BAD_PATHNAME for a path of another form, or the open's code
// (2 or 3 when something on it is missing).
DWORD OpenNoFollow(const std::wstring& path, bool folder, ACCESS_MASK access, UniqueKernelHandle& out);

// Opens one entry `name` of the folder `parent` as OpenNoFollow opens a component, with
// FILE_COMPLETE_IF_OPLOCKED so that an oplock holder cannot stall the run. `listedAttributes`
// are the attributes the parent's listing gave the name (INVALID_FILE_ATTRIBUTES: ask it).
DWORD OpenChildNoFollow(HANDLE parent, const std::wstring& name, bool folder, ACCESS_MASK access,
                        DWORD listedAttributes, UniqueKernelHandle& out);

// One entry of a folder listing.
struct FolderEntry {
  std::wstring name;
  DWORD attributes;
};

// The entries of the folder behind `folder` (opened with FILE_LIST_DIRECTORY on a handle
// not listed before) that match `pattern` ("*" or "*.*" = all), without "." and "..".
DWORD ListFolder(HANDLE folder, const wchar_t* pattern, std::vector<FolderEntry>& out);

// Clears the attributes (read-only, hidden, system) of the object behind the handle.
DWORD ResetAttributesThroughHandle(HANDLE handle);

// Marks the object behind the handle (opened with DELETE) for deletion; it goes when the
// last handle to it closes. A folder must be empty (145 otherwise).
DWORD DeleteThroughHandle(HANDLE handle);

// Deletes one file without following a link on its path: attributes reset, deleted through
// its own handle. 0 when deleted (logs "Direct delete of file: %s"); 2 or 3 when absent;
// kErrorLinkOnPath when a link is on the path ("Not deleted, a link is on its path (not
// followed): %s"); ERROR_BAD_PATHNAME for a path that is not plain and absolute ("Skipped,
// not a plain absolute path: %s"), or the failure's code. Nothing is queued for the restart.
DWORD DeleteFileNoFollow(const std::wstring& path);

// Makes the folder behind the handle unchangeable by standard users: the owner becomes
// Administrators, then the access list becomes a protected one that gives Administrators and
// SYSTEM full access (inherited by what is created below). Owner first: whoever owns a folder
// may change its access list. 0 when both were set, else the first failure's code.
DWORD LockDownFolder(HANDLE folder);

// How LockDownFolder sets one part (`what`: the owner, or the access list) of the folder's
// security from `descriptor`. NtSetSecurityObject by default, which sets this one object
// and nothing below it. Tests replace it: Wine keeps no access lists on files.
typedef DWORD (*FolderSecuritySetter)(HANDLE folder, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR descriptor);
extern FolderSecuritySetter g_folderSecuritySetter;
DWORD SetFolderSecurityThroughHandle(HANDLE folder, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR descriptor);

// The descriptor LockDownFolder sets, in text form ("O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)").
extern const wchar_t* const kLockedFolderSecurity;

// Whether LockDownFolder could lock the folder at `path`, asked without changing anything: it
// is locked already (only trusted SIDs may change it), or it opens (no link on its path) with
// the owner and access-list rights, or the process holds the restore privilege (which the run
// enables and which sets any owner). False also when it cannot be opened at all.
bool FolderCanBeLocked(const std::wstring& path);
