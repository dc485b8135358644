// The suite's files outside its drivers: the screen saver and boot-time scanner, the Start-menu
// groups and Desktop shortcuts of every edition, the program folder the user confirmed with
// its data folder, the application-data folders, the network driver packages, the installer's
// temporary folder, the sandbox and the scheduled task's file.
#include "catalog/program_files.h"

#include <shlobj.h>

#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include "base/dynapi.h"
#include "base/folder_identity.h"
#include "base/nocase.h"
#include "base/path.h"
#include "base/wow64.h"
#include "catalog/catalog.h"
#include "catalog/probe.h"
#include "catalog/row_presence.h"
#include "log/log.h"
#include "resources/resource.h"
#include "setup/product.h"
#include "setup/setup_globals.h"
#include "sysops/files.h"
#include "sysops/netcfg.h"
#include "sysops/nofollow.h"
#include "sysops/registry.h"
#include "ui/prompt.h"
#include "ui/ui_context.h"
#include "ui/ui_strings.h"

namespace {
// The suite's editions: each names a Start-menu program group and, with ".lnk", a Desktop
// shortcut.
struct Edition {
  const wchar_t* name;
  bool programGroup;
  bool desktopShortcut;
};
const Edition kEditions[] = {
    {L"Velko", true, false},
    {L"velko! Lite Antivirus", true, true},
    {L"velko! Plus Antivirus", true, true},
    {L"velko! Max", true, true},
    {L"velko! Harbor", true, true},
    {L"velko! Home Hub", false, true},
    {L"velko! Web Guard", true, true},
    {L"velko! Office Shield", true, true},
    {L"velko! Office Shield Extra", true, true},
    {L"velko! Share Host Defence", true, true},
    {L"velko! Mail Host Defence", true, true},
    {L"velko! Host Defence", true, true},
    {L"velko! Office Shield Bundle", true, true},
    {L"velko! Office Shield Bundle Extra", true, true},
    {L"velko! Company Guard Extra", true, true},
    {L"velko! Share Host Scanner", true, true},
    {L"velko! Mail Host Scanner", true, true},
    {L"velko! Host Scanner", true, true},
    {L"velko! Host Company Guard", true, true},
    {L"velko! Host Company Guard Extra", true, true},
};

// The screen saver and the boot-time scanner, in the system folder.
const wchar_t* const kBootFiles[] = {L"velkoss.scr", L"qtxBoot.exe"};

constexpr const wchar_t* kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
struct RunValue {
  HKEY root;
  const wchar_t* name;
};
const RunValue kRunValues[] = {
    {HKEY_LOCAL_MACHINE, L"velko5"},
    {HKEY_CURRENT_USER, L"velko5"},
    {HKEY_LOCAL_MACHINE, L"velko"},
    {HKEY_CURRENT_USER, L"velko"},
};

// Folders below the application-data folders, and their parents that go when left empty.
constexpr const wchar_t* kUserDataFolder = L"VELKO Software\\Velko";
const wchar_t* const kCommonDataFolders[] = {
    L"VELKO Software\\Durable Store\\Velko",
    L"VELKO Software\\Durable Store",
    L"VELKO Software",
};

// Driver packages of the network components: the provider as the package's INF names it.
struct DriverPackage {
  const wchar_t* provider;
  const wchar_t* catalog;
};
const DriverPackage kDriverPackages[] = {
    {L"%SW%", L"qtxndis.cat"},      {L"%AGTM%", L"qtxndisr.cat"}, {L"%VLKO%", L"qtxndisr.cat"},
    {L"%VLKO%", L"qtxndisflt.cat"}, {L"%VLKO%", L"qtxrdr2.cat"},  {L"%VLKO%", L"qtxnet.cat"},
};

// The installer's temporary folder and the sandbox.
const wchar_t* const kLooseFolders[] = {L"C:\\~VKINSTL", L"C:\\velko! sandbox"};

// Single files: the screen saver's copy in the Windows folder and the scheduled task's file.
struct SingleFile {
  const wchar_t* macro;
  const wchar_t* tail;
};
constexpr const wchar_t* kTaskFile = L"Tasks\\velko! Emergency Update";
const SingleFile kSingleFiles[] = {
    {L"%WINDIR%", L"velkoss.scr"},
    {L"%SYS%", kTaskFile},
};

constexpr const wchar_t* kAdBlockerMarker = L"Velko";
constexpr const wchar_t* kAdBlockerFolder = L"velko! Ad Blocker IE";
constexpr const wchar_t* kCurrentVersionKey = L"Software\\Microsoft\\Windows\\CurrentVersion";
constexpr const wchar_t* kProfileListKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr const wchar_t* kShellFoldersKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr DWORD kValueBytes = 520;
constexpr int kMessageChars = 1024;

bool IsSilent() { return g_setup.UiMode == Silent || g_setup.UiMode == VerySilent; }

// A text value of HKLM (or HKCU) key in a view; "" when missing or not text. Expandable text
// is expanded.
std::wstring ReadText(HKEY root, const wchar_t* key, const wchar_t* value, RegView view = RegView::Plain) {
  UniqueRegKey handle;
  if (regOpenKey(root, key, KEY_READ, handle, view) != ERROR_SUCCESS) return L"";
  wchar_t text[kValueBytes / sizeof(wchar_t) + 1] = {0};
  DWORD type = 0, size = kValueBytes;
  if (RegQueryValueExW(handle.get(), value, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS)
    return L"";
  if (type == REG_EXPAND_SZ) return ExpandEnvironmentAs32Bit(text, MAX_PATH);
  return type == REG_SZ ? text : L"";
}

bool IsAbsolute(const std::wstring& path) {
  bool drive = path.size() >= 3 && iswalpha(path[0]) && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
  bool unc = path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\';
  return drive || unc;
}

// The folders the rule refuses themselves (folders below them are allowed). Program Files and
// Common Files are read from both registry views: the program's own view gives the folder it
// is installed under, the other view the native one on 64-bit Windows.
std::vector<std::wstring> GuardedFolders() {
  std::vector<std::wstring> guarded;
  for (RegView view : {RegView::Plain, RegView::View64, RegView::View32}) {
    guarded.push_back(ReadText(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"ProgramFilesDir", view));
    guarded.push_back(ReadText(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"CommonFilesDir", view));
  }
  guarded.push_back(ReadText(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"ProgramFilesDir (x86)", RegView::View64));
  guarded.push_back(ReadText(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"CommonFilesDir (x86)", RegView::View64));
  // The same folders as the environment names them, for a registry that lacks the values; an
  // unknown variable stays unexpanded and is no absolute path.
  for (const wchar_t* variable : {L"%ProgramFiles%", L"%CommonProgramFiles%", L"%ProgramW6432%", L"%CommonProgramW6432%"})
    guarded.push_back(ExpandEnvironmentAs32Bit(variable, MAX_PATH));
  guarded.push_back(ReadText(HKEY_LOCAL_MACHINE, kProfileListKey, L"ProfilesDirectory"));
  for (int csidl : {CSIDL_COMMON_APPDATA, CSIDL_PROFILE}) {
    wchar_t folder[MAX_PATH] = {0};
    if (GetSpecialFolder(folder, csidl)) guarded.push_back(folder);
  }
  return guarded;
}

void RemoveFolderTree(const std::wstring& folder) { RemoveTree(folder.c_str(), L"*.*", true, true, false); }

std::wstring LoadText(UINT id) {
  wchar_t text[kMessageChars] = {0};
  LoadUiString(g_instance, id, text, kMessageChars, g_uiLanguage);
  return text;
}

// Asks before the program folder is emptied (No is the default); the silent modes answer Yes.
bool UserConfirmsDeletion() {
  std::wstring caption = LoadText(IDS_RESTART_CAPTION), text = LoadText(IDS_CONFIRM_DELETE);
  if (IsSilent()) return true;
  return UiMessageBox(g_mainDialog, text.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

void TellFolderRefused() {
  std::wstring caption = LoadText(IDS_RESTART_CAPTION), text = LoadText(IDS_SYSTEM_FOLDER);
  if (!IsSilent()) UiMessageBox(g_mainDialog, text.c_str(), caption.c_str(), MB_ICONEXCLAMATION);
}

// The program folder after the rule and the user's Yes, with the ad-blocker and data folders.
void RemoveProgramFolder() {
  if (g_detectedProgramFolder.empty()) return;
  if (IsRefusedFolder(g_detectedProgramFolder)) {
    g_log.Print(LOG_MIN, LOG_FILE, L"Program folder refused: %s", g_detectedProgramFolder.c_str());
    TellFolderRefused();
    return;
  }
  if (!UserConfirmsDeletion()) return;
  std::wstring folder = FolderAsUsed(g_detectedProgramFolder);
  RemoveFolderTree(folder);
  std::wstring adBlocker = AdBlockerFolderOf(folder);
  if (!adBlocker.empty() && !IsRefusedFolder(adBlocker)) RemoveFolderTree(adBlocker);
  if (!g_detectedDataFolder.empty()) {
    if (IsRefusedFolder(g_detectedDataFolder))
      g_log.Print(LOG_MIN, LOG_FILE, L"Data folder refused: %s", g_detectedDataFolder.c_str());
    else
      RemoveFolderTree(FolderAsUsed(g_detectedDataFolder));
  }
  wchar_t line[kProgressLineChars];
  line[0] = L'\0';
  AppendProgressString(line, IDS_DONE_FILES);
}

std::wstring UserAppData() { return ReadText(HKEY_CURRENT_USER, L"Volatile Environment", L"APPDATA"); }
std::wstring CommonAppData() { return ReadText(HKEY_LOCAL_MACHINE, kShellFoldersKey, L"Common AppData"); }

// The user's and the common application-data folders; the common one's parents go only
// when nothing else is left in them.
void RemoveApplicationData() {
  std::wstring user = UserAppData();
  if (!user.empty()) RemoveFolderTree(JoinPath(user, kUserDataFolder));
  std::wstring common = CommonAppData();
  if (common.empty()) return;
  bool first = true;
  for (const wchar_t* tail : kCommonDataFolders) {
    std::wstring folder = JoinPath(common, tail);
    if (first || IsFolderEmpty(folder.c_str())) RemoveFolderTree(folder);
    first = false;
  }
}

std::wstring ProgramsFolder() {
  wchar_t folder[MAX_PATH] = {0};
  return GetProgramsFolder(folder) == ERROR_SUCCESS ? folder : L"";
}

std::wstring DesktopFolder() {
  wchar_t folder[MAX_PATH] = {0};
  return GetDesktopFolder(folder) == ERROR_SUCCESS ? folder : L"";
}
}  // namespace

std::wstring AdBlockerFolderOf(const std::wstring& programFolder) {
  size_t at = programFolder.find(kAdBlockerMarker);
  if (at == std::wstring::npos) return L"";
  return programFolder.substr(0, at) + kAdBlockerFolder;
}

std::wstring FolderAsUsed(const std::wstring& typed) {
  if (!IsAbsolute(typed)) return L"";
  wchar_t full[MAX_PATH] = {0};
  DWORD n = GetFullPathNameW(typed.c_str(), MAX_PATH, full, nullptr);
  if (n == 0 || n >= MAX_PATH) return L"";
  wchar_t longForm[MAX_PATH] = {0};
  n = GetLongPathNameW(full, longForm, MAX_PATH);
  std::wstring folder = (n > 0 && n < MAX_PATH) ? longForm : full;
  // "C:\Suite\" is the folder "C:\Suite"; "C:\" stays the drive root.
  while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
  return folder;
}

namespace {
// True when `folder`, or a folder above it, is the Windows folder under another name (a link
// to it, a share of it): compared by identity, as the string test compares by name.
bool IsBelowWindowsByIdentity(const std::wstring& folder, const FolderIdentity& windows) {
  std::wstring at = folder;
  while (at.size() > 3) {
    FolderIdentity id;
    if (GetFolderIdentity(at, &id) && id == windows) return true;
    size_t slash = at.rfind(L'\\');
    if (slash == std::wstring::npos || slash < 2) break;
    at.resize(slash == 2 ? 3 : slash);
  }
  return false;
}

std::vector<FolderIdentity> SystemFolderIdentities() {
  typedef UINT(WINAPI * GetSystemWow64DirectoryFn)(LPWSTR, UINT);
  std::vector<FolderIdentity> ids;
  wchar_t system[MAX_PATH] = {0};
  FolderIdentity id;
  UINT n = GetSystemDirectoryW(system, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return ids;
  if (GetFolderIdentity(system, &id)) ids.push_back(id);
  {
    FsRedirectionOff redirectionOff;
    if (redirectionOff.switchedOff() && GetFolderIdentity(system, &id)) ids.push_back(id);
  }
  auto getWow64 = LookupFn<GetSystemWow64DirectoryFn>(L"kernel32.dll", "GetSystemWow64DirectoryW");
  n = getWow64 ? getWow64(system, MAX_PATH) : 0;
  if (n > 0 && n < MAX_PATH && GetFolderIdentity(system, &id)) ids.push_back(id);
  return ids;
}

// The identity test of the rule: the folder is a guarded folder, or lies in the Windows
// folder, under whatever name it was typed.
bool IsGuardedByIdentity(const std::wstring& folder, const std::wstring& windows,
                         const std::vector<std::wstring>& guarded) {
  FolderIdentity id, windowsId;
  if (!GetFolderIdentity(folder, &id)) return false;
  if (GetFolderIdentity(windows, &windowsId) && IsBelowWindowsByIdentity(folder, windowsId)) return true;
  // The system folders inside it, which a link may name directly (a link's target has no
  // parent to walk up to): the own, the native (redirection off) and the 32-bit one.
  for (const FolderIdentity& systemId : SystemFolderIdentities())
    if (systemId == id) return true;
  for (const std::wstring& other : guarded) {
    FolderIdentity otherId;
    if (!other.empty() && GetFolderIdentity(other, &otherId) && otherId == id) return true;
  }
  // A drive root under another name.
  FolderIdentity rootId;
  wchar_t drive[] = L"A:\\";
  for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
    drive[0] = letter;
    if (GetDriveTypeW(drive) == DRIVE_FIXED && GetFolderIdentity(drive, &rootId) && rootId == id) return true;
  }
  return false;
}
}  // namespace

bool IsRefusedFolder(const std::wstring& typed) {
  if (typed.find_first_of(L"*?") != std::wstring::npos) return true;
  // A device, object-namespace or administrative-share spelling names a folder the string
  // tests below would not recognise.
  if (IsAliasPath(typed)) return true;
  std::wstring folder = FolderAsUsed(typed);
  if (folder.empty() || IsAliasPath(folder)) return true;
  wchar_t windows[MAX_PATH] = {0};
  UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
  if (n > 0 && n < MAX_PATH && StartsWithNoCase(folder, windows)) return true;
  if (folder.size() < 4) return true;
  std::vector<std::wstring> guarded;
  for (const std::wstring& folderGuarded : GuardedFolders()) {
    std::wstring canonical = FolderAsUsed(folderGuarded);
    if (!canonical.empty() && EqualNoCase(folder, canonical)) return true;
    guarded.push_back(canonical);
  }
  return n > 0 && n < MAX_PATH && IsGuardedByIdentity(folder, windows, guarded);
}

void RemoveBootFiles() {
  // Redirection on (the 32-bit system folder on 64-bit Windows), then off (the native one).
  for (const wchar_t* name : kBootFiles) DeleteFileW(AsRedirectedPath(g_setup.Expand(L"%SYS64%", name)).c_str());
  for (const wchar_t* name : kBootFiles) DeleteFileUnredirected(g_setup.Expand(L"%SYS64%", name).c_str());
}

void RemoveShortcuts() {
  regRemoveShellExtension();
  for (const Edition& edition : kEditions)
    if (edition.programGroup) RemoveProgramsGroup(edition.name);
  for (const Edition& edition : kEditions)
    if (edition.desktopShortcut) DeleteDesktopItem((std::wstring(edition.name) + L".lnk").c_str());
  for (const RunValue& value : kRunValues) regDeleteValue(value.root, kRunKey, value.name);
}

void RemoveProgramFiles() {
  RemoveProgramFolder();
  RemoveApplicationData();
  for (const DriverPackage& package : kDriverPackages) RemoveOemDriverPackage(package.catalog, package.provider);
  for (const wchar_t* folder : kLooseFolders) RemoveFolderTree(folder);
  // Standard users may create files in the system's Tasks folder: no link is followed.
  for (const SingleFile& file : kSingleFiles) DeleteFileNoFollow(g_setup.Expand(file.macro, file.tail));
  // The task scheduler is a native service: on 64-bit Windows it keeps the task's file in the
  // native system folder, reached with redirection off.
  if (g_setup.IsOS(OS_WOW64 | OS_X64)) DeleteFileUnredirected(g_setup.Expand(L"%SYS64%", kTaskFile).c_str());
}

namespace {
// The Explorer extension's keys and approval, as regRemoveShellExtension deletes them.
void ProbeShellExtension(ResidueList& found) {
  using namespace rowprobe;
  bool twoViews = g_setup.IsOS(OS_WOW64 | OS_X64);
  const wchar_t* native = twoViews ? L"64-bit" : L"";
  std::wstring clsid = std::wstring(L"CLSID\\") + kShellExtensionClsid;
  const wchar_t* keys[] = {L"*\\shellex\\ContextMenuHandlers\\velko", L"velko\\ShellEx\\ContextMenuHandlers",
                           L"Folder\\shellex\\ContextMenuHandlers\\velko", clsid.c_str()};
  for (const wchar_t* key : keys)
    if (KeyPresent(HKEY_CLASSES_ROOT, key, RegView::View64)) AddResidue(found, {L"key", KeyName(HKEY_CLASSES_ROOT, key), native});
  if (twoViews && KeyPresent(HKEY_CLASSES_ROOT, clsid.c_str(), RegView::View32))
    AddResidue(found, {L"key", KeyName(HKEY_CLASSES_ROOT, clsid), L"32-bit"});
  const wchar_t* approved = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
  std::wstring value = KeyName(HKEY_LOCAL_MACHINE, approved) + L" [" + kShellExtensionClsid + L"]";
  if (ValuePresent(HKEY_LOCAL_MACHINE, approved, kShellExtensionClsid, RegView::View64))
    AddResidue(found, {L"value", value, native});
  if (twoViews && ValuePresent(HKEY_LOCAL_MACHINE, approved, kShellExtensionClsid, RegView::View32))
    AddResidue(found, {L"value", value, L"32-bit"});
}
}  // namespace

std::vector<std::wstring> RemovedFolderTrees() {
  std::vector<std::wstring> folders;
  if (!g_detectedProgramFolder.empty() && !IsRefusedFolder(g_detectedProgramFolder)) {
    std::wstring program = FolderAsUsed(g_detectedProgramFolder);
    folders.push_back(program);
    std::wstring adBlocker = AdBlockerFolderOf(program);
    if (!adBlocker.empty() && !IsRefusedFolder(adBlocker)) folders.push_back(adBlocker);
    if (!g_detectedDataFolder.empty() && !IsRefusedFolder(g_detectedDataFolder))
      folders.push_back(FolderAsUsed(g_detectedDataFolder));
  }
  std::wstring user = UserAppData(), common = CommonAppData();
  if (!user.empty()) folders.push_back(JoinPath(user, kUserDataFolder));
  if (!common.empty()) folders.push_back(JoinPath(common, kCommonDataFolders[0]));
  for (const wchar_t* folder : kLooseFolders) folders.push_back(folder);
  return folders;
}

void ProbeFilesAndShortcuts(ResidueList& found) {
  using namespace rowprobe;
  for (const wchar_t* name : kBootFiles) {
    // The 32-bit copy by its own name (SysWOW64 on 64-bit Windows), whichever build asks.
    std::wstring native = g_setup.Expand(L"%SYS64%", name), redirected = g_setup.Expand(L"%SYS%", name);
    if (PathPresent(redirected, false)) Add(found, L"file", redirected);
    if (native != redirected) {
      FsRedirectionOff redirectionOff;
      if (PathPresent(native, false)) Add(found, L"file", native);
    }
  }
  std::wstring programs = ProgramsFolder(), desktop = DesktopFolder();
  for (const Edition& edition : kEditions) {
    std::wstring group = JoinPath(programs, edition.name);
    if (edition.programGroup && !programs.empty() && PathPresent(group, true)) Add(found, L"program group", group);
    std::wstring shortcut = JoinPath(desktop, std::wstring(edition.name) + L".lnk");
    if (edition.desktopShortcut && !desktop.empty() && PathPresent(shortcut, false)) Add(found, L"shortcut", shortcut);
  }
  for (const RunValue& value : kRunValues)
    if (ValuePresent(value.root, kRunKey, value.name))
      Add(found, L"value", KeyName(value.root, kRunKey) + L" [" + value.name + L"]");
  ProbeShellExtension(found);
  for (const std::wstring& folder : RemovedFolderTrees())
    if (PathPresent(folder, true)) Add(found, L"folder", folder);
  for (const SingleFile& file : kSingleFiles) {
    std::wstring path = g_setup.Expand(file.macro, file.tail);
    if (PathPresent(path, false)) Add(found, L"file", path);
  }
  if (g_setup.IsOS(OS_WOW64 | OS_X64)) {
    std::wstring native = g_setup.Expand(L"%SYS64%", kTaskFile);
    FsRedirectionOff redirectionOff;
    if (PathPresent(native, false)) Add(found, L"file", native);
  }
}
