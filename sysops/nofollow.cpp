#include "sysops/nofollow.h"

#include <sddl.h>

#include "base/dynapi.h"
#include "log/log.h"
#include "sysops/folder_trust.h"

namespace {
// The native structures and flags the opens need (ntdll's own names, spelt locally so that
// no driver-kit header is needed).
struct NtUnicodeString {
  USHORT Length;
  USHORT MaximumLength;
  PWSTR Buffer;
};
struct NtObjectAttributes {
  ULONG Length;
  HANDLE RootDirectory;
  NtUnicodeString* ObjectName;
  ULONG Attributes;
  PVOID SecurityDescriptor;
  PVOID SecurityQualityOfService;
};
struct NtIoStatus {
  union {
    LONG Status;
    PVOID Pointer;
  };
  ULONG_PTR Information;
};
struct NtBasicInformation {
  LARGE_INTEGER CreationTime, LastAccessTime, LastWriteTime, ChangeTime;
  ULONG FileAttributes;
};
struct NtDirectoryInformation {
  ULONG NextEntryOffset;
  ULONG FileIndex;
  LARGE_INTEGER CreationTime, LastAccessTime, LastWriteTime, ChangeTime;
  LARGE_INTEGER EndOfFile, AllocationSize;
  ULONG FileAttributes;
  ULONG FileNameLength;
  WCHAR FileName[1];
};

constexpr ULONG kObjCaseInsensitive = 0x40;
constexpr ULONG kFileOpen = 1;
constexpr ULONG kDirectoryFile = 0x1;
constexpr ULONG kSynchronousIo = 0x20;
constexpr ULONG kNonDirectoryFile = 0x40;
constexpr ULONG kCompleteIfOplocked = 0x100;
constexpr ULONG kOpenForBackup = 0x4000;
constexpr ULONG kOpenReparsePoint = 0x200000;
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr ULONG kFileDirectoryInformation = 1;
constexpr ULONG kFileBasicInformation = 4;
constexpr ULONG kFileDispositionInformation = 13;
constexpr LONG kStatusNoMoreFiles = static_cast<LONG>(0x80000006);
constexpr LONG kStatusNoSuchFile = static_cast<LONG>(0xC000000F);
// Folders on the way to the last component: listed and passed through, nothing more.
constexpr ACCESS_MASK kTraverseAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

typedef LONG(NTAPI* NtCreateFileFn)(PHANDLE, ACCESS_MASK, NtObjectAttributes*, NtIoStatus*, PLARGE_INTEGER, ULONG,
                                    ULONG, ULONG, ULONG, PVOID, ULONG);
typedef LONG(NTAPI* NtQueryDirectoryFileFn)(HANDLE, HANDLE, PVOID, PVOID, NtIoStatus*, PVOID, ULONG, ULONG, BOOLEAN,
                                            NtUnicodeString*, BOOLEAN);
typedef LONG(NTAPI* NtFileInformationFn)(HANDLE, NtIoStatus*, PVOID, ULONG, ULONG);
typedef LONG(NTAPI* NtSetSecurityObjectFn)(HANDLE, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR);
typedef ULONG(NTAPI* RtlNtStatusToDosErrorFn)(LONG);

DWORD ToWin32(LONG status) {
  if (status >= 0) return 0;
  auto convert = LookupFn<RtlNtStatusToDosErrorFn>(L"ntdll.dll", "RtlNtStatusToDosError");
  DWORD err = convert ? convert(status) : ERROR_GEN_FAILURE;
  return err ? err : ERROR_GEN_FAILURE;
}

NtUnicodeString Counted(const std::wstring& text) {
  NtUnicodeString s;
  s.Length = static_cast<USHORT>(text.size() * sizeof(wchar_t));
  s.MaximumLength = s.Length;
  s.Buffer = const_cast<PWSTR>(text.c_str());
  return s;
}

// NtCreateFile(FILE_OPEN) of `name` relative to `root` (null: `name` is a full native path).
DWORD NtOpen(HANDLE root, const std::wstring& name, ACCESS_MASK access, ULONG options, UniqueKernelHandle& out) {
  auto create = LookupFn<NtCreateFileFn>(L"ntdll.dll", "NtCreateFile");
  if (!create) return ERROR_PROC_NOT_FOUND;
  if (name.size() > 32767) return ERROR_FILENAME_EXCED_RANGE;
  NtUnicodeString counted = Counted(name);
  NtObjectAttributes attributes = {sizeof attributes, root, &counted, kObjCaseInsensitive, nullptr, nullptr};
  NtIoStatus io = {};
  HANDLE handle = nullptr;
  LONG status = create(&handle, access | SYNCHRONIZE, &attributes, &io, nullptr, 0, kShareAll, kFileOpen,
                       options | kSynchronousIo | kOpenForBackup, nullptr, 0);
  if (status < 0) return ToWin32(status);
  out.reset(handle);
  return 0;
}

DWORD QueryBasic(HANDLE handle, NtBasicInformation* info) {
  auto query = LookupFn<NtFileInformationFn>(L"ntdll.dll", "NtQueryInformationFile");
  if (!query) return ERROR_PROC_NOT_FOUND;
  NtIoStatus io = {};
  return ToWin32(query(handle, &io, info, sizeof *info, kFileBasicInformation));
}

DWORD SetInformation(HANDLE handle, void* info, ULONG size, ULONG infoClass) {
  auto set = LookupFn<NtFileInformationFn>(L"ntdll.dll", "NtSetInformationFile");
  if (!set) return ERROR_PROC_NOT_FOUND;
  NtIoStatus io = {};
  return ToWin32(set(handle, &io, info, size, infoClass));
}

bool IsReparse(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool IsDot(const std::wstring& name) { return name == L"." || name == L".."; }

// "X:\a\b" -> "\??\X:\" and {a, b}; "\\server\share\a" -> "\??\UNC\server\share\" and {a}.
// False for any other form (device and "\\?\" paths, relative paths, "." or ".." parts).
bool SplitPath(const std::wstring& path, std::wstring* root, std::vector<std::wstring>* parts) {
  size_t rest;
  if (path.size() >= 3 && iswalpha(path[0]) && path[1] == L':' && path[2] == L'\\') {
    *root = L"\\??\\" + path.substr(0, 3);
    rest = 3;
  } else if (path.size() > 2 && path[0] == L'\\' && path[1] == L'\\' && path[2] != L'?' && path[2] != L'.') {
    size_t server = path.find(L'\\', 2);
    if (server == std::wstring::npos || server == 2) return false;
    size_t share = path.find(L'\\', server + 1);
    if (share == server + 1) return false;
    if (share == std::wstring::npos) share = path.size();
    *root = L"\\??\\UNC\\" + path.substr(2, share - 2) + L"\\";
    rest = share + 1;
  } else {
    return false;
  }
  // A "%" is an unexpanded macro or variable: never a path of its own.
  if (path.find_first_of(L"/*?\"<>|%", rest) != std::wstring::npos) return false;
  parts->clear();
  while (rest < path.size()) {
    size_t end = path.find(L'\\', rest);
    if (end == std::wstring::npos) end = path.size();
    std::wstring part = path.substr(rest, end - rest);
    if (part.empty() || IsDot(part)) return false;
    parts->push_back(part);
    rest = end + 1;
  }
  return true;
}

// The descriptor of locked folders, made once for the process.
PSECURITY_DESCRIPTOR LockedDescriptor() {
  static UniqueLocalMem descriptor;
  if (!descriptor) {
    PSECURITY_DESCRIPTOR made = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(kLockedFolderSecurity, SDDL_REVISION_1, &made, nullptr))
      descriptor.reset(made);
  }
  return descriptor.get();
}
}  // namespace

const wchar_t* const kLockedFolderSecurity = L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

bool IsPlainAbsolutePath(const std::wstring& path) {
  std::wstring root;
  std::vector<std::wstring> parts;
  return SplitPath(path, &root, &parts);
}

DWORD SetFolderSecurityThroughHandle(HANDLE folder, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR descriptor) {
  auto set = LookupFn<NtSetSecurityObjectFn>(L"ntdll.dll", "NtSetSecurityObject");
  if (!set) return ERROR_PROC_NOT_FOUND;
  return ToWin32(set(folder, what, descriptor));
}

FolderSecuritySetter g_folderSecuritySetter = SetFolderSecurityThroughHandle;

DWORD ListFolder(HANDLE folder, const wchar_t* pattern, std::vector<FolderEntry>& out) {
  out.clear();
  auto query = LookupFn<NtQueryDirectoryFileFn>(L"ntdll.dll", "NtQueryDirectoryFile");
  if (!query) return ERROR_PROC_NOT_FOUND;
  std::wstring mask = pattern ? pattern : L"*";
  bool all = mask == L"*" || mask == L"*.*";
  NtUnicodeString counted = Counted(mask);
  std::vector<ULONGLONG> buffer(64 * 1024 / sizeof(ULONGLONG));
  for (bool first = true;; first = false) {
    NtIoStatus io = {};
    LONG status = query(folder, nullptr, nullptr, nullptr, &io, buffer.data(),
                        static_cast<ULONG>(buffer.size() * sizeof(ULONGLONG)), kFileDirectoryInformation, FALSE,
                        (first && !all) ? &counted : nullptr, first ? TRUE : FALSE);
    if (status == kStatusNoMoreFiles || status == kStatusNoSuchFile) return 0;
    if (status < 0) return ToWin32(status);
    const BYTE* at = reinterpret_cast<const BYTE*>(buffer.data());
    for (;;) {
      const auto* entry = reinterpret_cast<const NtDirectoryInformation*>(at);
      std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
      if (!IsDot(name)) out.push_back({name, entry->FileAttributes});
      if (entry->NextEntryOffset == 0) break;
      at += entry->NextEntryOffset;
    }
  }
}

DWORD OpenChildNoFollow(HANDLE parent, const std::wstring& name, bool folder, ACCESS_MASK access,
                        DWORD listedAttributes, UniqueKernelHandle& out) {
  if (listedAttributes == INVALID_FILE_ATTRIBUTES) {
    std::vector<FolderEntry> entries;
    if (DWORD rc = ListFolder(parent, name.c_str(), entries)) return rc;
    for (const FolderEntry& entry : entries)
      if (_wcsicmp(entry.name.c_str(), name.c_str()) == 0) listedAttributes = entry.attributes;
    if (listedAttributes == INVALID_FILE_ATTRIBUTES) return folder ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND;
  }
  if (IsReparse(listedAttributes)) return kErrorLinkOnPath;
  ULONG options = kOpenReparsePoint | kCompleteIfOplocked | (folder ? kDirectoryFile : kNonDirectoryFile);
  UniqueKernelHandle handle;
  if (DWORD rc = NtOpen(parent, name, access | FILE_READ_ATTRIBUTES, options, handle)) return rc;
  NtBasicInformation info = {};
  if (DWORD rc = QueryBasic(handle.get(), &info)) return rc;
  if (IsReparse(info.FileAttributes)) return kErrorLinkOnPath;
  out = std::move(handle);
  return 0;
}

DWORD OpenNoFollow(const std::wstring& path, bool folder, ACCESS_MASK access, UniqueKernelHandle& out) {
  std::wstring root;
  std::vector<std::wstring> parts;
  if (!SplitPath(path, &root, &parts)) return ERROR_BAD_PATHNAME;
  UniqueKernelHandle current;
  bool last = parts.empty();
  if (DWORD rc = NtOpen(nullptr, root, last ? access : kTraverseAccess, kDirectoryFile, current)) return rc;
  for (size_t i = 0; i < parts.size(); ++i) {
    last = i + 1 == parts.size();
    UniqueKernelHandle next;
    DWORD rc = OpenChildNoFollow(current.get(), parts[i], last ? folder : true, last ? access : kTraverseAccess,
                                 INVALID_FILE_ATTRIBUTES, next);
    if (rc == ERROR_FILE_NOT_FOUND && !last) rc = ERROR_PATH_NOT_FOUND;
    if (rc) return rc;
    current = std::move(next);
  }
  if (parts.empty() && !folder) return ERROR_ACCESS_DENIED;
  out = std::move(current);
  return 0;
}

DWORD ResetAttributesThroughHandle(HANDLE handle) {
  NtBasicInformation info = {};
  info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  return SetInformation(handle, &info, sizeof info, kFileBasicInformation);
}

DWORD DeleteThroughHandle(HANDLE handle) {
  BOOLEAN remove = TRUE;
  return SetInformation(handle, &remove, sizeof remove, kFileDispositionInformation);
}

DWORD DeleteFileNoFollow(const std::wstring& path) {
  UniqueKernelHandle file;
  DWORD rc = OpenNoFollow(path, false, DELETE | FILE_WRITE_ATTRIBUTES, file);
  if (rc == kErrorLinkOnPath)
    g_log.Print(LOG_MIN, LOG_FILE, L"Not deleted, a link is on its path (not followed): %s", path.c_str());
  if (rc == ERROR_BAD_PATHNAME) g_log.Print(LOG_MIN, LOG_FILE, L"Skipped, not a plain absolute path: %s", path.c_str());
  if (rc) return rc;
  ResetAttributesThroughHandle(file.get());
  if ((rc = DeleteThroughHandle(file.get())) != 0) return rc;
  file.reset();
  g_log.Print(LOG_NRM, LOG_FILE, L"Direct delete of file: %s", path.c_str());
  return 0;
}

DWORD LockDownFolder(HANDLE folder) {
  PSECURITY_DESCRIPTOR descriptor = LockedDescriptor();
  if (!descriptor) return GetLastError() ? GetLastError() : ERROR_INVALID_SECURITY_DESCR;
  if (DWORD rc = g_folderSecuritySetter(folder, OWNER_SECURITY_INFORMATION, descriptor)) return rc;
  return g_folderSecuritySetter(folder, DACL_SECURITY_INFORMATION, descriptor);
}

namespace {
bool TokenHoldsRestorePrivilege() {
  UniqueKernelHandle token;
  LUID restore = {};
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()) ||
      !LookupPrivilegeValueW(nullptr, L"SeRestorePrivilege", &restore))
    return false;
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenPrivileges, nullptr, 0, &size);
  if (size == 0) return false;
  std::vector<BYTE> buffer(size);
  auto* privileges = reinterpret_cast<TOKEN_PRIVILEGES*>(buffer.data());
  if (!GetTokenInformation(token.get(), TokenPrivileges, privileges, size, &size)) return false;
  for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
    const LUID& id = privileges->Privileges[i].Luid;
    if (id.LowPart == restore.LowPart && id.HighPart == restore.HighPart) return true;
  }
  return false;
}
}  // namespace

bool FolderCanBeLocked(const std::wstring& path) {
  UniqueKernelHandle folder;
  if (OpenNoFollow(path, true, FILE_READ_ATTRIBUTES | READ_CONTROL, folder) != 0) return false;
  PSECURITY_DESCRIPTOR raw = nullptr;
  DWORD error = ReadObjectSecurity(folder.get(), &raw);
  UniqueLocalMem descriptor(raw);
  if (error == 0 && !FolderDescriptorFault(raw)) return true;
  UniqueKernelHandle writable;
  if (OpenNoFollow(path, true, READ_CONTROL | WRITE_DAC | WRITE_OWNER, writable) == 0) return true;
  return TokenHoldsRestorePrivilege();
}
