#include "app/safe_mode.h"

#include <rpc.h>
#include <sddl.h>
#include <winioctl.h>

#include <cstddef>
#include <cstdio>
#include <string>

#include "app/app_state.h"
#include "sysops/process.h"
#include "ui/prompt.h"
#include "ui/ui_strings.h"
#include "log/log.h"
#include "setup/setup_globals.h"
#include "base/dynapi.h"
#include "base/handles.h"
#include "base/path.h"
#include "sysops/registry.h"
#include "base/wow64.h"

namespace {
constexpr DWORD kKeyListChars = 1024;
constexpr DWORD kEntryChars = MAX_PATH;
constexpr DWORD kSectionChars = 32768;
constexpr const wchar_t* kOsSection = L"operating systems";

// printf into a fixed buffer; false (buffer emptied) when the text does not fit.
bool FormatFits(wchar_t* dest, size_t capacity, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  int n = _vsnwprintf(dest, capacity, format, args);
  va_end(args);
  if (n < 0 || static_cast<size_t>(n) >= capacity) {
    dest[0] = L'\0';
    return false;
  }
  return true;
}

void CopyBounded(wchar_t* dest, size_t capacity, const wchar_t* src) {
  size_t n = wcsnlen(src, capacity - 1);
  wmemcpy(dest, src, n);
  dest[n] = L'\0';
}

int CountKeys(const wchar_t* list) {
  int count = 0;
  for (const wchar_t* p = list; *p; p += wcslen(p) + 1) ++count;
  return count;
}

DWORD ReadEntry(const wchar_t* path, const wchar_t* key, wchar_t* entry) {
  entry[0] = L'\0';
  if (!key[0]) return 0;
  return GetPrivateProfileStringW(kOsSection, key, L"", entry, kEntryChars, path);
}

std::wstring Trimmed(const std::wstring& s) {
  size_t b = s.find_first_not_of(L" \t"), e = s.find_last_not_of(L" \t");
  return b == std::wstring::npos ? std::wstring() : s.substr(b, e - b + 1);
}

// The profile API strips a pair of quotes around a whole value, which would drop them from
// an entry like "Windows XP" when it is written back with the option. The section's raw
// lines still carry them: put them back when the raw value is exactly the entry in quotes.
void RestoreQuotes(const wchar_t* path, const wchar_t* key, wchar_t* entry) {
  std::wstring lines(kSectionChars, L'\0');
  GetPrivateProfileSectionW(kOsSection, &lines[0], kSectionChars, path);
  const std::wstring wanted = entry;
  for (const wchar_t* p = lines.c_str(); *p; p += wcslen(p) + 1) {
    std::wstring line = p;
    size_t eq = line.find(L'=');
    if (eq == std::wstring::npos || _wcsicmp(Trimmed(line.substr(0, eq)).c_str(), key) != 0) continue;
    std::wstring raw = Trimmed(line.substr(eq + 1));
    if (raw.size() == wanted.size() + 2 && raw.size() < kEntryChars && (raw[0] == L'"' || raw[0] == L'\'') &&
        raw.back() == raw[0] && raw.compare(1, wanted.size(), wanted) == 0)
      wmemcpy(entry, raw.c_str(), raw.size() + 1);
    return;
  }
}

// Reads the running system's entry: by its ARC name when there is a choice, else the
// loader's default, else the first entry. keyName receives the key that was read.
DWORD FindRunningEntry(const wchar_t* path, wchar_t* keyName, wchar_t* entry) {
  wchar_t keys[kKeyListChars] = {0};
  GetPrivateProfileStringW(kOsSection, nullptr, L"", keys, kKeyListChars, path);
  DWORD read = 0;
  entry[0] = keyName[0] = L'\0';
  if (CountKeys(keys) > 1) {
    wchar_t windows[MAX_PATH] = {0};
    DWORD disk = 0, partition = 0;
    UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
    if (n > 2 && n < MAX_PATH && FindDiskPartition(windows[0], &disk, &partition) &&
        FormatFits(keyName, kEntryChars, L"multi(0)disk(0)rdisk(%u)partition(%u)%s", disk, partition,
                   windows + 2))
      read = ReadEntry(path, keyName, entry);
  }
  if (!entry[0]) {
    GetPrivateProfileStringW(L"boot loader", L"default", L"", keyName, kEntryChars, path);
    read = ReadEntry(path, keyName, entry);
  }
  if (!entry[0]) {
    CopyBounded(keyName, kEntryChars, keys);
    read = ReadEntry(path, keyName, entry);
  }
  return read;
}
}  // namespace

BOOL EditBootIniFile(const wchar_t* path, bool add) {
  wchar_t keyName[kEntryChars], entry[kEntryChars];
  DWORD read = FindRunningEntry(path, keyName, entry);
  if (!entry[0]) return read;
  // A value that filled the buffer may have been cut: writing it back would lose its end.
  if (read >= kEntryChars - 1) return FALSE;
  RestoreQuotes(path, keyName, entry);
  size_t len = wcslen(entry);
  const size_t optionLen = wcslen(kSafeBootOption);
  if (add) {
    if (len + optionLen >= kEntryChars) return FALSE;
    wmemcpy(entry + len, kSafeBootOption, optionLen + 1);
  } else if (len > optionLen && _wcsicmp(entry + len - optionLen, kSafeBootOption) == 0) {
    entry[len - optionLen] = L'\0';
  }
  return WritePrivateProfileStringW(kOsSection, keyName, entry, path);
}

BOOL EditBootIni(bool add) {
  wchar_t windows[MAX_PATH] = {0}, path[MAX_PATH] = {0};
  UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
  if (n < 2 || n >= MAX_PATH) return FALSE;
  _snwprintf(path, MAX_PATH - 1, L"%.2s\\%s", windows, L"boot.ini");
  return EditBootIniFile(path, add);
}

namespace {
// Fixed layouts of the two answers read below; only these fields are used.
static_assert(offsetof(VOLUME_DISK_EXTENTS, Extents) + offsetof(DISK_EXTENT, DiskNumber) == 8,
              "disk number at byte 8");
static_assert(sizeof(VOLUME_DISK_EXTENTS) == 32, "one extent is 32 bytes");
static_assert(offsetof(PARTITION_INFORMATION_EX, PartitionNumber) == 24, "partition number at byte 24");
static_assert(sizeof(PARTITION_INFORMATION_EX) == 144, "partition information is 144 bytes");
constexpr DWORD kIoBufferBytes = 1024;
}  // namespace

bool FindDiskPartition(wchar_t letter, DWORD* disk, DWORD* partition) {
  wchar_t volume[8];
  _snwprintf(volume, 8, L"\\\\.\\%c:", letter);
  volume[7] = L'\0';
  UniqueKernelHandle device(CreateFileW(volume, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
  if (!device) return false;
  alignas(8) BYTE buffer[kIoBufferBytes] = {};
  DWORD got = 0;
  bool haveDisk = DeviceIoControl(device.get(), IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0,
                                  buffer, sizeof buffer, &got, nullptr) &&
                  got >= sizeof(VOLUME_DISK_EXTENTS);
  if (haveDisk) *disk = reinterpret_cast<VOLUME_DISK_EXTENTS*>(buffer)->Extents[0].DiskNumber;
  got = 0;
  bool havePartition = DeviceIoControl(device.get(), IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0,
                                       buffer, sizeof buffer, &got, nullptr) &&
                       got >= sizeof(PARTITION_INFORMATION_EX);
  if (havePartition) *partition = reinterpret_cast<PARTITION_INFORMATION_EX*>(buffer)->PartitionNumber;
  return haveDisk && havePartition;
}

namespace {
constexpr DWORD kBootCommandWaitMs = 60000;
DWORD g_bootCommandWaitMs = kBootCommandWaitMs;
}  // namespace

void SetBootCommandWaitForTests(DWORD milliseconds) {
  g_bootCommandWaitMs = milliseconds ? milliseconds : kBootCommandWaitMs;
}

bool RunBootCommand(const wchar_t* command) {
  wchar_t system[MAX_PATH] = {0}, commandLine[MAX_PATH] = {0};
  UINT n = GetSystemDirectoryW(system, MAX_PATH);
  // A cut command line would start some other program: run nothing instead.
  if (n == 0 || n >= MAX_PATH || !FormatFits(commandLine, MAX_PATH, L"%s\\%s", system, command))
    return false;
  FsRedirectionOff nativeSystemFolder;
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &si, &pi))
    return false;
  UniqueKernelHandle process(pi.hProcess);
  UniqueKernelHandle(pi.hThread).reset();
  if (WaitForSingleObject(process.get(), g_bootCommandWaitMs) == WAIT_OBJECT_0) return true;
  // Left running: ending a boot-configuration tool in the middle of a write could do harm.
  g_log.Print(LOG_MIN, LOG_SYSTEM, L"Boot command did not end within %u s, the boot change counts as failed: %s",
              static_cast<unsigned>(g_bootCommandWaitMs / 1000), commandLine);
  return false;
}

namespace {
constexpr const wchar_t* kCopyName = L"qtxClear.exe";

// "<Windows>\Temp" of the system Windows folder; empty when it cannot be had.
std::wstring WindowsTempFolder() {
  wchar_t windows[MAX_PATH] = {0};
  UINT n = GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return L"";
  return JoinPath(windows, L"Temp");
}

// A fresh random GUID in text form ("xxxxxxxx-xxxx-..."); empty when none can be made.
std::wstring RandomGuidText() {
  UUID uuid = {};
  RPC_STATUS status = UuidCreate(&uuid);
  if (status != RPC_S_OK && status != RPC_S_UUID_LOCAL_ONLY) return L"";
  RPC_WSTR text = nullptr;
  if (UuidToStringW(&uuid, &text) != RPC_S_OK) return L"";
  std::wstring result = reinterpret_cast<wchar_t*>(text);
  RpcStringFreeW(&text);
  return result;
}

// Creates `folder`, which must not exist yet, with the copy folder's access list.
bool CreatePrivateFolder(const std::wstring& folder) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kCopyFolderAccess, SDDL_REVISION_1, &descriptor,
                                                            nullptr))
    return false;
  UniqueLocalMem owner(descriptor);
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
  return CreateDirectoryW(folder.c_str(), &attributes) != FALSE;
}

std::wstring ParentOf(const std::wstring& path) {
  size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? L"" : path.substr(0, slash);
}

std::wstring LastComponent(const std::wstring& path) {
  size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}
}  // namespace

namespace {
constexpr DWORD kCopyChunkBytes = 65536;
constexpr DWORD kMaxHeaderBytes = 65536;

// The running program's file, held from HoldOwnImage until the process ends.
UniqueKernelHandle& OwnImage() {
  static UniqueKernelHandle image;
  return image;
}

// Null when the first SizeOfHeaders bytes of `file` are the headers mapped at `mapped`.
const wchar_t* HeaderMismatch(HANDLE file, const BYTE* mapped) {
  const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(mapped);
  const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(mapped + dos->e_lfanew);
  DWORD bytes = nt->OptionalHeader.SizeOfHeaders;
  if (dos->e_magic != IMAGE_DOS_SIGNATURE || bytes == 0 || bytes > kMaxHeaderBytes) return L"unexpected headers";
  std::string headers(bytes, '\0');
  DWORD got = 0;
  if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) != 0 || !ReadFile(file, &headers[0], bytes, &got, nullptr) ||
      got != bytes)
    return L"its headers cannot be read";
  return memcmp(headers.data(), mapped, bytes) == 0 ? nullptr : L"it is not the running program";
}

// Copies all of `source` into the new file `target`; false (target removed) on any failure.
bool CopyFromHandle(HANDLE source, const std::wstring& target) {
  UniqueKernelHandle out(
      CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out) return false;
  std::string buffer(kCopyChunkBytes, '\0');
  bool ok = SetFilePointer(source, 0, nullptr, FILE_BEGIN) == 0;
  for (DWORD got = 1; ok && got > 0;) {
    DWORD written = 0;
    ok = ReadFile(source, &buffer[0], kCopyChunkBytes, &got, nullptr) &&
         (got == 0 || (WriteFile(out.get(), buffer.data(), got, &written, nullptr) && written == got));
  }
  DWORD error = GetLastError();
  out.reset();
  if (!ok) {
    DeleteFileW(target.c_str());
    SetLastError(error);
  }
  return ok;
}
}  // namespace

bool HoldOwnImage() {
  if (OwnImage()) return true;
  wchar_t self[MAX_PATH] = {0};
  DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  const wchar_t* fault = nullptr;
  wchar_t code[32] = {0};
  UniqueKernelHandle image;
  if (n == 0 || n >= MAX_PATH) {
    fault = L"its path is too long";
  } else {
    image.reset(CreateFileW(self, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!image) {
      _snwprintf(code, 31, L"0x%08X", static_cast<unsigned>(GetLastError()));
      fault = code;
    } else {
      fault = HeaderMismatch(image.get(), reinterpret_cast<const BYTE*>(GetModuleHandleW(nullptr)));
    }
  }
  if (fault) {
    g_log.Print(LOG_MIN, LOG_SYSTEM, L"Program file not held, no Safe-Mode copy can be made: %s (%s)", self, fault);
    return false;
  }
  OwnImage() = std::move(image);
  return true;
}

BOOL CopySelf(wchar_t* path) {
  if (!OwnImage()) {
    g_log.Print(LOG_MIN, LOG_SYSTEM, L"Safe-Mode copy refused: the program's own file is not held");
    return FALSE;
  }
  std::wstring temp = WindowsTempFolder();
  std::wstring guid = RandomGuidText();
  if (temp.empty() || guid.empty()) return FALSE;
  std::wstring folder = JoinPath(temp, std::wstring(kSafeModeCopyPrefix) + L"{" + guid + L"}");
  std::wstring target = JoinPath(folder, kCopyName);
  if (target.size() >= MAX_PATH) return FALSE;
  // A folder of that name that exists already is never used: someone else made it.
  if (!CreatePrivateFolder(folder)) {
    g_log.Print(LOG_MIN, LOG_SYSTEM, L"Cannot create the folder of the Safe-Mode copy: %s (0x%08X)",
                folder.c_str(), GetLastError());
    return FALSE;
  }
  // From the held file, not by name: whatever lies at the start path now may be another file.
  if (!CopyFromHandle(OwnImage().get(), target)) {
    g_log.Print(LOG_MIN, LOG_SYSTEM, L"Cannot copy to %s (0x%08X)", target.c_str(), GetLastError());
    RemoveDirectoryW(folder.c_str());
    return FALSE;
  }
  wmemcpy(path, target.c_str(), target.size() + 1);
  return TRUE;
}

bool RegisterRunOnce(const wchar_t* path) {
  UniqueRegKey key;
  if (regOpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
                 KEY_SET_VALUE, key) != ERROR_SUCCESS)
    return false;
  // Quoted, so that a path with spaces names this program and nothing shorter.
  std::wstring data = L"\"" + std::wstring(path ? path : L"") + L"\"";
  DWORD bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
  return RegSetValueExW(key.get(), L"*qtxClear", 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                        bytes) == ERROR_SUCCESS;
}

bool IsSafeModeCopy(const wchar_t* path) {
  if (!path) return false;
  std::wstring temp = WindowsTempFolder();
  std::wstring folder = ParentOf(path);
  std::wstring folderName = LastComponent(folder);
  size_t prefixLen = wcslen(kSafeModeCopyPrefix);
  return !temp.empty() && _wcsicmp(LastComponent(path).c_str(), kCopyName) == 0 &&
         folderName.size() > prefixLen && _wcsnicmp(folderName.c_str(), kSafeModeCopyPrefix, prefixLen) == 0 &&
         _wcsicmp(ParentOf(folder).c_str(), temp.c_str()) == 0;
}

void QueueSafeModeCopyForDeletion(const wchar_t* self) {
  if (!IsSafeModeCopy(self)) {
    PrintPair(LOG_VRB, LOG_SYSTEM, L"Not a Safe-Mode copy, kept: ", self ? self : L"");
    return;
  }
  // The file first: at the restart a folder goes only once it is empty.
  std::wstring folder = ParentOf(self);
  MoveFileExW(self, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  PrintPair(LOG_VRB, LOG_SYSTEM, L"Safe-Mode copy queued for deletion: ", self);
}

namespace {
constexpr DWORD kShutdownMessageId = 2818;
constexpr DWORD kShutdownReason = 0x80040002;  // planned, application, installation

void RebootByExitWindows() { ExitWindowsEx(EWX_REBOOT, 0); }

void RebootNt() {
  std::wstring message(kLogMessageChars, L'\0');
  LoadUiString(g_instance, kShutdownMessageId, &message[0], static_cast<int>(kLogMessageChars),
               g_uiLanguage);
  if (g_setup.IsOS(OS_NT4)) {
    typedef BOOL(WINAPI * ShutdownFn)(LPWSTR, LPWSTR, DWORD, BOOL, BOOL);
    auto shutdown = LookupFn<ShutdownFn>(L"Advapi32.dll", "InitiateSystemShutdownW");
    if (!shutdown) return RebootByExitWindows();
    shutdown(nullptr, &message[0], g_setup.restartTimeout, FALSE, TRUE);
    return;
  }
  typedef BOOL(WINAPI * ShutdownExFn)(LPWSTR, LPWSTR, DWORD, BOOL, BOOL, DWORD);
  auto shutdownEx = LookupFn<ShutdownExFn>(L"Advapi32.dll", "InitiateSystemShutdownExW");
  if (!shutdownEx) return RebootByExitWindows();
  if (!shutdownEx(nullptr, &message[0], g_setup.restartTimeout, FALSE, TRUE, kShutdownReason))
    g_log.Print(LOG_MIN, LOG_SYSTEM, L"pfnInitiateSystemShutdownEx returned 0x%08X", GetLastError());
}
}  // namespace

void RestartWindows() {
  g_log.Print(LOG_VRB, LOG_SYSTEM, L"Restart windows");
  if (RestartHook hook = GetRestartHook()) {
    hook();
    return;
  }
  if (!g_setup.IsOS(OS_NT)) {
    RebootByExitWindows();
    return;
  }
  UniqueKernelHandle token;
  bool haveToken = OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                                    token.put()) != FALSE;
  if (haveToken) SetTokenPrivilege(token.get(), L"SeShutdownPrivilege", true);
  RebootNt();
  if (haveToken) SetTokenPrivilege(token.get(), L"SeShutdownPrivilege", false);
}
