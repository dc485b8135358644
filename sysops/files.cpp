#include "sysops/files.h"

#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include "log/log.h"
#include "log/ufile.h"
#include "setup/setup_globals.h"
#include "base/nocase.h"
#include "base/path.h"
#include "sysops/folder_trust.h"
#include "sysops/nofollow.h"
#include "sysops/reboot_queue.h"
#include "sysops/registry.h"
#include "base/wow64.h"

namespace {
constexpr const wchar_t* kShellFoldersKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const wchar_t* kFileSystemKey = L"System\\CurrentControlSet\\Control\\FileSystem";
// The suite's legacy driver file, as it appears in the text files of the system.
constexpr const char* kDriverFileName = "qtxmonds.sys";

// GetFileAttributesW succeeds, or fails only because the file is locked.
bool FilePresent(const wchar_t* path) {
  if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) return true;
  return GetLastError() == ERROR_ACCESS_DENIED;
}

bool IsDotEntry(const wchar_t* name) {
  return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0;
}

// A junction or symbolic link (or any other reparse point) as listed by FindFirstFileW.
bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

// Removes a link found by a folder walk, never what it points at: a folder link with
// RemoveDirectoryW, a file link with DeleteFileW. Nothing is queued for the restart through
// a link, and its attributes are left alone (setting them would reach the target). Returns
// 0 when removed, else the error, after logging that the link was left in place.
DWORD RemoveLinkOnly(const std::wstring& path, DWORD attributes) {
  bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (folder ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str())) {
    g_log.Print(LOG_NRM, LOG_FILE, L"Removed link (not followed): %s", path.c_str());
    return 0;
  }
  DWORD err = GetLastError();
  g_log.Print(LOG_MIN, LOG_FILE, L"Cannot remove link, left in place (not followed): %s (0x%08lX)",
              path.c_str(), static_cast<unsigned long>(err));
  return err ? err : ERROR_ACCESS_DENIED;
}

// Copies src into out (size characters), cutting it to fit, always terminated.
void CopyBounded(wchar_t* out, DWORD size, const std::wstring& src) {
  size_t n = std::min<size_t>(src.size(), size - 1);
  std::copy(src.begin(), src.begin() + n, out);
  out[n] = L'\0';
}

// The shell folder `value` (NT family) or `userValue` (otherwise) into buffer.
DWORD GetShellFolder(wchar_t* buffer, const wchar_t* value, const wchar_t* userValue) {
  bool nt = g_setup.IsOS(OS_NT);
  return regGetString(nt ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, kShellFoldersKey,
                      nt ? value : userValue, buffer, MAX_PATH * sizeof(wchar_t), false);
}

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Removes every line that contains `needle` (upper case) in any letter case. A line runs
// from just after the previous line feed to its own line feed, which goes with it.
void RemoveLinesMentioning(std::string& text, const std::string& needle) {
  std::string upper(text.size(), '\0');
  std::transform(text.begin(), text.end(), upper.begin(), AsciiUpper);
  size_t pos;
  while ((pos = upper.find(needle)) != std::string::npos) {
    size_t lineStart = upper.rfind('\n', pos);
    lineStart = (lineStart == std::string::npos) ? 0 : lineStart + 1;
    size_t lineEnd = upper.find('\n', pos);
    lineEnd = (lineEnd == std::string::npos) ? upper.size() : lineEnd + 1;
    text.erase(lineStart, lineEnd - lineStart);
    upper.erase(lineStart, lineEnd - lineStart);
  }
}

// The SharedDLLs key, opened once by callers that look up many files; empty when absent.
UniqueRegKey OpenSharedDlls() {
  UniqueRegKey key;
  regOpenKey(HKEY_LOCAL_MACHINE, kSharedDllsKey, KEY_READ, key);
  return key;
}

// DeleteFileUnlessShared with the SharedDLLs key already open (null: no file is shared).
// DeleteFileOrQueue resets the attributes before it deletes.
DWORD DeleteUnlessSharedIn(HKEY sharedDlls, const wchar_t* path, bool rebootFallback, bool rebootOnly) {
  if (!path || !FilePresent(path)) return 0;
  DWORD count = 0;
  if (sharedDlls && regGetDwordIn(sharedDlls, path, &count) == ERROR_SUCCESS && count != 0) {
    PrintPair(LOG_VRB, LOG_FILE, L"Ignoring remove shared file:", path);
    return 0;
  }
  DWORD rc = DeleteFileOrQueue(path, rebootFallback, rebootOnly);
  return rc == ERROR_FILE_NOT_FOUND ? 0 : rc;
}

DWORD RemoveTreeIn(HKEY sharedDlls, const wchar_t* pathPattern, const wchar_t* mask, bool recurse,
                   bool rebootFallback, bool rebootOnly);
}  // namespace

bool IsFolderEmpty(const wchar_t* folder) {
  WIN32_FIND_DATAW data;
  UniqueFindHandle find = FindFirstIn(folder, L"*.*", &data);
  if (!find) return true;
  do {
    if (!IsDotEntry(data.cFileName)) return false;
  } while (FindNextFileW(find.get(), &data));
  return true;
}

UniqueFindHandle FindFirstIn(const wchar_t* folder, const wchar_t* pattern, WIN32_FIND_DATAW* data) {
  std::wstring search = JoinPath(folder ? folder : L"", pattern);
  return UniqueFindHandle(FindFirstFileW(search.c_str(), data));
}

DWORD DeleteFileUnlessShared(const wchar_t* path, bool rebootFallback, bool rebootOnly) {
  if (!path || !FilePresent(path)) return 0;
  return DeleteUnlessSharedIn(OpenSharedDlls().get(), path, rebootFallback, rebootOnly);
}

DWORD DeleteFileOrQueue(const wchar_t* path, bool rebootFallback, bool rebootOnly) {
  if (!path || !FilePresent(path)) return ERROR_FILE_NOT_FOUND;
  SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
  if (!rebootOnly && DeleteFileW(path)) {
    g_log.Print(LOG_NRM, LOG_FILE, L"Direct delete of file: %s", path);
    return 0;
  }
  DWORD err = GetLastError();
  g_log.Print(LOG_DBG, LOG_FILE, L"filRenameOnReboot:!bSuccess");
  if (!rebootFallback) return err;
  g_log.Print(LOG_DBG, LOG_FILE, L"filRenameOnReboot:bOnReboot");
  QueueDeleteOnRebootOnce(path);
  return 0;
}

DWORD RemoveTree(const wchar_t* pathPattern, const wchar_t* mask, bool recurse, bool rebootFallback,
                 bool rebootOnly) {
  return RemoveTreeIn(OpenSharedDlls().get(), pathPattern, mask, recurse, rebootFallback, rebootOnly);
}

namespace {
// What one walk does, fixed for all its folders.
struct Walk {
  HKEY sharedDlls;
  const wchar_t* mask;
  bool recurse, rebootFallback, rebootOnly;
};

// A file that was not deleted now and would be queued, but its folder (or one above it)
// could not be locked: Windows would act on the path at the restart, wherever it then leads.
DWORD RefuseToQueue(const std::wstring& path, DWORD rc) {
  g_log.Print(LOG_NRM, LOG_FILE, L"Not queued for the restart, its folder is not locked: %s", path.c_str());
  return rc ? rc : ERROR_ACCESS_DENIED;
}

// The attributes of an entry that cannot be opened for deletion (held open by someone else)
// are still cleared, so that the restart can delete it (a read-only file it would leave).
void ResetAttributesOf(HANDLE folder, const FolderEntry& entry) {
  UniqueKernelHandle handle;
  bool isFolder = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (OpenChildNoFollow(folder, entry.name, isFolder, FILE_WRITE_ATTRIBUTES, entry.attributes, handle) == 0)
    ResetAttributesThroughHandle(handle.get());
}

// One entry of a walked folder that is not walked itself, opened and deleted relative to the
// folder's handle (the shared-library rule and the restart fallback as DeleteFileUnlessShared).
DWORD DeleteEntryIn(HANDLE folder, const FolderEntry& entry, const std::wstring& full, const Walk& walk,
                    bool mayQueue) {
  DWORD count = 0;
  if (walk.sharedDlls && regGetDwordIn(walk.sharedDlls, full.c_str(), &count) == ERROR_SUCCESS && count != 0) {
    PrintPair(LOG_VRB, LOG_FILE, L"Ignoring remove shared file:", full.c_str());
    return 0;
  }
  UniqueKernelHandle file;
  DWORD rc = OpenChildNoFollow(folder, entry.name, false, DELETE | FILE_WRITE_ATTRIBUTES, entry.attributes, file);
  if (rc == kErrorLinkOnPath) return RemoveLinkOnly(full, entry.attributes);
  if (rc == ERROR_FILE_NOT_FOUND) return 0;
  if (rc == 0) {
    ResetAttributesThroughHandle(file.get());
    if (!walk.rebootOnly && (rc = DeleteThroughHandle(file.get())) == 0) {
      file.reset();
      g_log.Print(LOG_NRM, LOG_FILE, L"Direct delete of file: %s", full.c_str());
      return 0;
    }
  } else {
    ResetAttributesOf(folder, entry);
  }
  g_log.Print(LOG_DBG, LOG_FILE, L"filRenameOnReboot:!bSuccess");
  if (!walk.rebootFallback) return rc;
  g_log.Print(LOG_DBG, LOG_FILE, L"filRenameOnReboot:bOnReboot");
  if (!mayQueue) return RefuseToQueue(full, rc);
  QueueDeleteOnRebootOnce(full.c_str());
  return 0;
}

// Removes the (emptied) folder `entry` of `parent` through a handle of its own.
DWORD RemoveFolderIn(HANDLE parent, const FolderEntry& entry) {
  UniqueKernelHandle folder;
  DWORD rc = OpenChildNoFollow(parent, entry.name, true, DELETE, entry.attributes, folder);
  return rc ? rc : DeleteThroughHandle(folder.get());
}

// Empties and removes the folder `entry` of `parent`, working through its own handle: it is
// opened without following a link, locked when the walk may queue anything, listed through
// the handle, its entries opened relative to it, and removed through it. Nothing at or below
// a folder that could not be locked is queued (`mayQueue` passes that down).
DWORD WalkFolder(HANDLE parent, const FolderEntry& entry, const std::wstring& full, const Walk& walk,
                 bool mayQueue) {
  UniqueKernelHandle folder;
  DWORD rc = OpenChildNoFollow(parent, entry.name, true, kFolderWalkAccess, entry.attributes, folder);
  if (rc == kErrorLinkOnPath) return RemoveLinkOnly(full, entry.attributes);
  if (rc) {
    g_log.Print(LOG_MIN, LOG_FILE, L"Cannot open folder: %s (0x%08lX)", full.c_str(), static_cast<unsigned long>(rc));
    return rc;
  }
  if (walk.rebootFallback && mayQueue) {
    if (DWORD locked = LockDownFolder(folder.get())) {
      g_log.Print(LOG_MIN, LOG_FILE, L"Folder not locked, nothing below it is queued for the restart: %s (0x%08lX)",
                  full.c_str(), static_cast<unsigned long>(locked));
      mayQueue = false;
    }
  }

  DWORD result = 0;
  std::vector<FolderEntry> entries;
  ListFolder(folder.get(), walk.mask, entries);
  for (const FolderEntry& child : entries) {
    std::wstring childPath = JoinPath(full, child.name);
    DWORD childRc;
    if (IsLink(child.attributes))
      childRc = RemoveLinkOnly(childPath, child.attributes);
    else if (walk.recurse && (child.attributes & FILE_ATTRIBUTE_DIRECTORY))
      childRc = WalkFolder(folder.get(), child, childPath, walk, mayQueue);
    else
      childRc = DeleteEntryIn(folder.get(), child, childPath, walk, mayQueue);
    // A failure counts only without the restart fallback.
    if (!walk.rebootFallback && childRc != 0) result = childRc;
  }

  folder.reset();
  rc = walk.rebootOnly ? 0 : RemoveFolderIn(parent, entry);
  if (!walk.rebootOnly && rc == 0) return result;
  if (!walk.rebootFallback) return rc;
  if (!mayQueue) return RefuseToQueue(full, rc);
  // Queued after its contents, so that at restart the folder goes after them.
  SetLastError(rc);
  DeleteUnlessSharedIn(walk.sharedDlls, full.c_str(), true, true);
  if (DWORD err = GetLastError()) result = err;
  return result;
}

// Folders the system makes and keeps for Administrators; the parents of a walked folder are
// checked up to the first of them.
std::vector<std::wstring> SystemFolders() {
  static const int kSystemFolders[] = {CSIDL_WINDOWS,        CSIDL_SYSTEM,          CSIDL_SYSTEMX86,
                                       CSIDL_PROGRAM_FILES,  CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON,
                                       CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_COMMON_APPDATA};
  std::vector<std::wstring> folders;
  for (int csidl : kSystemFolders) {
    wchar_t path[MAX_PATH] = {0};
    if (GetSpecialFolder(path, csidl) && path[0]) folders.push_back(path);
  }
  return folders;
}

bool IsOneOf(const std::wstring& folder, const std::vector<std::wstring>& folders) {
  for (const std::wstring& f : folders)
    if (EqualNoCase(folder, f)) return true;
  return false;
}

// The folder that holds `folder`; "" for the root of its volume ("C:\", "\\server\share").
std::wstring ParentOf(const std::wstring& folder) {
  size_t slash = folder.rfind(L'\\');
  size_t root = folder.rfind(L"\\\\", 0) == 0 ? folder.find(L'\\', folder.find(L'\\', 2) + 1) : 2;
  if (slash == std::wstring::npos || root == std::wstring::npos || slash <= root) return L"";
  return folder.substr(0, slash);
}

// The walk's check of the parents, logged once for a tree whose parents give way.
bool ParentsHoldFirm(const std::wstring& walked) {
  std::wstring parent;
  const wchar_t* fault = ParentsFault(walked, &parent);
  if (!fault) return true;
  g_log.Print(LOG_MIN, LOG_FILE, L"Folder above it can be changed by others, nothing below it is queued for the "
              L"restart: %s (%s: %s)", walked.c_str(), parent.c_str(), fault);
  return false;
}

// RemoveTree with the SharedDLLs key opened once for the whole walk. The matched folders'
// parent is opened without following a link on its path, and listed through its handle.
DWORD RemoveTreeIn(HKEY sharedDlls, const wchar_t* pathPattern, const wchar_t* mask, bool recurse,
                   bool rebootFallback, bool rebootOnly) {
  if (!pathPattern) return 0;
  std::wstring path = pathPattern;
  size_t slash = path.rfind(L'\\');
  // Without a last component (trailing backslash, or no backslash at all) nothing matches:
  // a bare name would otherwise be taken relative to the current folder.
  if (slash == std::wstring::npos || slash + 1 == path.size()) return 0;
  std::wstring parent = path.substr(0, slash + 1);
  std::wstring last = path.substr(slash + 1);

  UniqueKernelHandle parentHandle;
  DWORD rc = OpenNoFollow(parent, true, FILE_LIST_DIRECTORY | FILE_TRAVERSE, parentHandle);
  if (rc == ERROR_BAD_PATHNAME) {
    g_log.Print(LOG_MIN, LOG_FILE, L"Skipped, not a plain absolute path: %s", path.c_str());
    return rc;
  }
  if (rc == kErrorLinkOnPath) {
    g_log.Print(LOG_MIN, LOG_FILE, L"Not walked, a link is on its path (not followed): %s", path.c_str());
    return rc;
  }
  if (rc) return 0;  // nothing there to match

  Walk walk = {sharedDlls, mask, recurse, rebootFallback, rebootOnly};
  DWORD result = 0;
  std::vector<FolderEntry> matches;
  ListFolder(parentHandle.get(), last.c_str(), matches);
  int firm = -1;  // the parents' check, made once for all matches that need it
  for (const FolderEntry& match : matches) {
    if (!(match.attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    std::wstring folder = JoinPath(parent, match.name);
    if (rebootFallback && !IsLink(match.attributes) && firm < 0) firm = ParentsHoldFirm(folder) ? 1 : 0;
    // A matched folder that is a link is removed as a link; its target is never walked.
    rc = IsLink(match.attributes) ? RemoveLinkOnly(folder, match.attributes)
                                  : WalkFolder(parentHandle.get(), match, folder, walk, firm != 0);
    if (rc) result = rc;
  }
  return result;
}
}  // namespace

const wchar_t* ParentsFault(const std::wstring& folder, std::wstring* parent) {
  const std::vector<std::wstring> system = SystemFolders();
  for (std::wstring above = ParentOf(folder); !above.empty() && !IsOneOf(above, system); above = ParentOf(above)) {
    UniqueKernelHandle handle;
    DWORD rc = OpenNoFollow(above, true, READ_CONTROL, handle);
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (rc == 0) rc = ReadObjectSecurity(handle.get(), &raw);
    UniqueLocalMem descriptor(raw);
    const wchar_t* fault = rc ? L"its owner and access list cannot be read" : ParentDescriptorFault(raw);
    if (!fault) continue;
    if (parent) *parent = above;
    return fault;
  }
  return nullptr;
}

BOOL DeleteFileUnredirected(const wchar_t* path) {
  FsRedirectionOff redirectionOff;
  return DeleteFileW(path);
}

DWORD GetDesktopFolder(wchar_t* buffer) {
  return GetShellFolder(buffer, L"Common Desktop", L"Desktop");
}

DWORD GetProgramsFolder(wchar_t* buffer) {
  return GetShellFolder(buffer, L"Common Programs", L"Programs");
}

BOOL DeleteDesktopItem(const wchar_t* name) {
  wchar_t desktop[MAX_PATH] = {0};
  if (GetDesktopFolder(desktop) != ERROR_SUCCESS || desktop[0] == L'\0') return FALSE;
  return DeleteFileW(JoinPath(desktop, name).c_str());
}

DWORD RemoveProgramsGroup(const wchar_t* name) {
  wchar_t programs[MAX_PATH] = {0};
  DWORD rc = GetProgramsFolder(programs);
  if (rc != ERROR_SUCCESS) return rc;
  if (programs[0] == L'\0') return ERROR_PATH_NOT_FOUND;
  return RemoveTree(JoinPath(programs, name).c_str(), L"*.*", false, false, false);
}

DWORD ShortPathForm(wchar_t* out, const wchar_t* path, DWORD size) {
  if (!out || !path || size == 0) return ERROR_INVALID_PARAMETER;
  return ShortPathFormAs(out, path, size, ShortNamesDisabled());
}

bool ShortNamesDisabled() {
  DWORD disabled = 0;
  return regGetDword(kFileSystemKey, L"NtfsDisable8dot3NameCreation", &disabled) == ERROR_SUCCESS &&
         disabled != 0;
}

DWORD ShortPathFormAs(wchar_t* out, const wchar_t* path, DWORD size, bool shortNamesDisabled) {
  if (!out || !path || size == 0) return ERROR_INVALID_PARAMETER;
  if (shortNamesDisabled) {
    CopyBounded(out, size, path);
    return 0;
  }

  DWORD last = GetShortPathNameW(path, out, size);
  if (last > 0 && last < size && out[0] != L'\0') return last;

  // The file itself has no short name (typically it is gone): short parent, long name.
  std::wstring full = path;
  size_t slash = full.rfind(L'\\');
  if (slash != std::wstring::npos) {
    std::wstring parent = full.substr(0, slash);
    std::wstring name = full.substr(slash + 1);
    wchar_t shortParent[MAX_PATH] = {0};
    last = GetShortPathNameW(parent.c_str(), shortParent, MAX_PATH);
    if (last >= 1 && last < MAX_PATH && last + 1 + name.size() + 1 <= size) {
      CopyBounded(out, size, std::wstring(shortParent, last) + L"\\" + name);
      return last;
    }
  }

  CopyBounded(out, size, full[0] == L'"' ? full : L"\"" + full + L"\"");
  return last;
}

DWORD StripDriverLines(const wchar_t* path) {
  if (!path) return ERROR_INVALID_PARAMETER;
  // Opening for reading and writing would create a missing file; a missing file is left
  // missing (some systems do not have the file at all).
  if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
    DWORD err = GetLastError();
    if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) return 0;
  }

  std::string text;
  {
    CUFile file;
    if (!file.OpenReadWrite(path)) return file.lastError ? file.lastError : GetLastError();
    int32_t size = file.GetSize();
    if (size < 0) return file.lastError ? file.lastError : ERROR_READ_FAULT;
    try {
      text.assign(static_cast<size_t>(size), '\0');
    } catch (...) {
      return ERROR_NOT_ENOUGH_MEMORY;
    }
    uint32_t got = 0;
    if (size > 0 && !file.Read(&text[0], static_cast<uint32_t>(size), &got))
      return file.lastError ? file.lastError : ERROR_READ_FAULT;
    text.resize(got);
    file.Close();
  }

  if (!text.empty() && text.back() == '\x1A') text.pop_back();
  try {
    std::string needle(kDriverFileName);
    std::transform(needle.begin(), needle.end(), needle.begin(), AsciiUpper);
    RemoveLinesMentioning(text, needle);
  } catch (...) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }

  CUFile file;
  if (!file.Create(path)) return file.lastError ? file.lastError : GetLastError();
  uint32_t written = 0;
  if (!text.empty() && (!file.Write(text.data(), static_cast<uint32_t>(text.size()), &written) ||
                        written != text.size()))
    return file.lastError ? file.lastError : ERROR_WRITE_FAULT;
  file.Close();
  return 0;
}
