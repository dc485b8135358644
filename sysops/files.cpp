#include "sysops/files.h"

#include <algorithm>
#include <string>
#include <vector>

#include "log/log.h"
#include "log/ufile.h"
#include "setup/setup_globals.h"
#include "base/path.h"
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
bool IsLink(const WIN32_FIND_DATAW& entry) {
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Removes a link found by a folder walk, never what it points at: a folder link with
// RemoveDirectoryW, a file link with DeleteFileW. Nothing is queued for the restart through
// a link, and its attributes are left alone (setting them would reach the target). Returns
// 0 when removed, else the error, after logging that the link was left in place.
DWORD RemoveLinkOnly(const std::wstring& path, const WIN32_FIND_DATAW& entry) {
  bool folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
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
// RemoveTree with the SharedDLLs key opened once for the whole walk.
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

  DWORD result = 0;
  WIN32_FIND_DATAW match;
  UniqueFindHandle folders = FindFirstIn(parent.c_str(), last.c_str(), &match);
  if (!folders) return 0;
  do {
    if (!(match.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || IsDotEntry(match.cFileName)) continue;
    std::wstring folder = JoinPath(parent, match.cFileName);
    // A matched folder that is a link is removed as a link; its target is never walked.
    if (IsLink(match)) {
      if (DWORD rc = RemoveLinkOnly(folder, match)) result = rc;
      continue;
    }

    WIN32_FIND_DATAW entry;
    UniqueFindHandle entries = FindFirstIn(folder.c_str(), mask, &entry);
    if (entries) {
      do {
        if (IsDotEntry(entry.cFileName)) continue;
        std::wstring full = JoinPath(folder, entry.cFileName);
        if (IsLink(entry)) {
          // A link's failure counts like a file's: only without the restart fallback.
          DWORD rc = RemoveLinkOnly(full, entry);
          if (!rebootFallback && rc != 0) result = rc;
          continue;
        }
        DWORD rc = (recurse && (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                       ? RemoveTreeIn(sharedDlls, full.c_str(), mask, recurse, rebootFallback, rebootOnly)
                       : DeleteUnlessSharedIn(sharedDlls, full.c_str(), rebootFallback, rebootOnly);
        if (!rebootFallback && rc != 0) result = rc;
      } while (FindNextFileW(entries.get(), &entry));
    }
    entries.reset();

    if (!rebootOnly && RemoveDirectoryW(folder.c_str())) continue;
    if (!rebootFallback) {
      result = GetLastError();
      continue;
    }
    // Queued after its contents, so that at restart the folder goes after them.
    DeleteUnlessSharedIn(sharedDlls, folder.c_str(), true, true);
    if (DWORD err = GetLastError()) result = err;
  } while (FindNextFileW(folders.get(), &match));
  return result;
}
}  // namespace

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
