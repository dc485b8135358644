#include "sysops/folder_trust.h"

#include <aclapi.h>

#include <string>

#include "log/log.h"

namespace {
SecurityReader g_securityReader = nullptr;

DWORD ReadWithSystem(HANDLE object, PSECURITY_DESCRIPTOR* descriptor) {
  return GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                         nullptr, nullptr, nullptr, nullptr, descriptor);
}

// NT AUTHORITY (5) SIDs by their sub-authorities.
struct KnownSid {
  BYTE count;
  DWORD sub[6];
  bool installer;
};
const KnownSid kTrustedSids[] = {
    {2, {32, 544}, false},  // BUILTIN\Administrators
    {1, {18}, false},       // SYSTEM
    {6, {80, 956008885, 3418522649u, 1831038044, 1853292631, 2271478464u}, true},  // TrustedInstaller
};

bool SidMatches(PSID sid, const KnownSid& known) {
  static const BYTE kNtAuthority[6] = {0, 0, 0, 0, 0, 5};
  PSID_IDENTIFIER_AUTHORITY authority = GetSidIdentifierAuthority(sid);
  if (memcmp(authority->Value, kNtAuthority, 6) != 0 || *GetSidSubAuthorityCount(sid) != known.count) return false;
  for (BYTE i = 0; i < known.count; ++i)
    if (*GetSidSubAuthority(sid, i) != known.sub[i]) return false;
  return true;
}

// Rights on a folder that let their holder plant or swap files in it, or make itself able to.
constexpr DWORD kChangingRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE |
                                  WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED;

// Rights on a folder that let their holder rename, remove or replace its entries or itself.
// Adding entries is not among them: ProgramData and the root let users create folders.
constexpr DWORD kRearrangingRights = FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL | MAXIMUM_ALLOWED;

PSID OwnerOf(PSECURITY_DESCRIPTOR descriptor) {
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!descriptor || !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted)) return nullptr;
  return owner && IsValidSid(owner) ? owner : nullptr;
}

// Allow entries of every kind put the SID at the same place; the object kinds (with their
// optional GUIDs) are not used on files and count as granting everything.
PSID GrantedSid(ACE_HEADER* header, DWORD* mask) {
  if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE)
    return nullptr;
  ACCESS_ALLOWED_ACE* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
  *mask = ace->Mask;
  return &ace->SidStart;
}

bool IsAllowType(BYTE type) {
  return type == ACCESS_ALLOWED_ACE_TYPE || type == ACCESS_ALLOWED_CALLBACK_ACE_TYPE ||
         type == ACCESS_ALLOWED_OBJECT_ACE_TYPE || type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE ||
         type == ACCESS_ALLOWED_COMPOUND_ACE_TYPE;
}

// Wine shows a link only in the attributes read by name, Windows through the handle too:
// either sign counts.
bool ShowsAsLink(const BY_HANDLE_FILE_INFORMATION& info, const wchar_t* path) {
  DWORD byName = GetFileAttributesW(path);
  return (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
         (byName != INVALID_FILE_ATTRIBUTES && (byName & FILE_ATTRIBUTE_REPARSE_POINT));
}

void LogRefusal(const wchar_t* folder, const wchar_t* why) {
  g_log.Print(LOG_MIN, LOG_FILE, L"Suite folder refused, nothing is loaded or started from it: %s (%s)", folder, why);
}
}  // namespace

DWORD ReadObjectSecurity(HANDLE object, PSECURITY_DESCRIPTOR* descriptor) {
  *descriptor = nullptr;
  return (g_securityReader ? g_securityReader : ReadWithSystem)(object, descriptor);
}

void SetSecurityReaderForTests(SecurityReader reader) { g_securityReader = reader; }

bool IsTrustedSid(PSID sid, bool allowInstaller) {
  if (!sid || !IsValidSid(sid)) return false;
  for (const KnownSid& known : kTrustedSids)
    if ((allowInstaller || !known.installer) && SidMatches(sid, known)) return true;
  return false;
}

bool IsOwnedByAdministrators(PSECURITY_DESCRIPTOR descriptor) { return IsTrustedSid(OwnerOf(descriptor), false); }

namespace {
// Null when the owner is trusted and no entry that applies to the folder itself grants an
// untrusted SID any of `rights`; otherwise why, with `granted` as the reason for an entry.
const wchar_t* DescriptorFault(PSECURITY_DESCRIPTOR descriptor, DWORD rights, const wchar_t* granted) {
  if (!IsTrustedSid(OwnerOf(descriptor), true)) return L"its owner is not Administrators, SYSTEM or TrustedInstaller";
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) return L"its access list cannot be read";
  if (!present || !dacl) return L"it has no access list: everyone may change it";
  for (WORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) return L"its access list cannot be read";
    if (!IsAllowType(header->AceType) || (header->AceFlags & INHERIT_ONLY_ACE)) continue;
    DWORD mask = 0;
    PSID sid = GrantedSid(header, &mask);
    if (!sid) return L"an entry of an unexpected kind grants access";
    if ((mask & rights) && !IsTrustedSid(sid, true)) return granted;
  }
  return nullptr;
}
}  // namespace

const wchar_t* FolderDescriptorFault(PSECURITY_DESCRIPTOR descriptor) {
  return DescriptorFault(descriptor, kChangingRights, L"others may add, change or delete files in it");
}

const wchar_t* ParentDescriptorFault(PSECURITY_DESCRIPTOR descriptor) {
  return DescriptorFault(descriptor, kRearrangingRights, L"others may rename or replace what it holds");
}

UniqueKernelHandle HoldTrustedFolder(const wchar_t* folder) {
  if (!folder || !folder[0]) {
    LogRefusal(L"", L"no folder");
    return UniqueKernelHandle();
  }
  UniqueKernelHandle handle(CreateFileW(folder, READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!handle) {
    wchar_t why[64];
    _snwprintf(why, 63, L"cannot be opened: 0x%08X", static_cast<unsigned>(GetLastError()));
    why[63] = L'\0';
    LogRefusal(folder, why);
    return UniqueKernelHandle();
  }
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!GetFileInformationByHandle(handle.get(), &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    LogRefusal(folder, L"not a folder");
    return UniqueKernelHandle();
  }
  if (ShowsAsLink(info, folder)) {
    LogRefusal(folder, L"a link");
    return UniqueKernelHandle();
  }
  PSECURITY_DESCRIPTOR raw = nullptr;
  DWORD error = ReadObjectSecurity(handle.get(), &raw);
  UniqueLocalMem descriptor(raw);
  const wchar_t* fault = error ? L"its owner and access list cannot be read" : FolderDescriptorFault(raw);
  if (fault) {
    LogRefusal(folder, fault);
    return UniqueKernelHandle();
  }
  return handle;
}

UniqueKernelHandle HoldTrustedFolderOf(const wchar_t* file) {
  std::wstring path = file ? file : L"";
  size_t slash = path.rfind(L'\\');
  // "C:\x.dll": the folder is the root, which keeps its backslash.
  std::wstring folder = slash == std::wstring::npos ? L"" : path.substr(0, slash == 2 ? 3 : slash);
  return HoldTrustedFolder(folder.c_str());
}

const wchar_t* WrittenFileFault(HANDLE file, const wchar_t* path) {
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!GetFileInformationByHandle(file, &info)) return L"it cannot be examined";
  if (ShowsAsLink(info, path)) return L"it is a link";
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return L"it is a folder";
  if (info.nNumberOfLinks > 1) return L"it has more than one hard link";
  PSECURITY_DESCRIPTOR raw = nullptr;
  DWORD error = ReadObjectSecurity(file, &raw);
  UniqueLocalMem descriptor(raw);
  if (error || !IsOwnedByAdministrators(raw)) return L"it is not owned by Administrators or SYSTEM";
  return nullptr;
}
