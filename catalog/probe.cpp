#include "catalog/probe.h"

#include <windows.h>

#include "base/nocase.h"
#include "base/regkey.h"
#include "catalog/drivers.h"
#include "catalog/program_files.h"
#include "setup/product.h"
#include "setup/setup_globals.h"
#include "sysops/files.h"
#include "sysops/nofollow.h"

const ProbeStep kProbeSteps[] = {
    {L"browser and gadget", L"a browser plug-in or sidebar gadget of the suite", ProbeBrowserAndGadget},
    {L"services", L"a service of the suite", ProbeServices},
    {L"add-ins and modules", L"a server add-in or COM registration of the suite", ProbeAddinsAndModules},
    {L"drivers", L"a driver, filter or network component of the suite", ProbeProtectionDrivers},
    {L"files and shortcuts", L"a file, folder or shortcut of the suite", ProbeFilesAndShortcuts},
    {L"registry", L"a registry entry of the suite", ProbeRegistryEntries},
};
const size_t kProbeStepCount = sizeof kProbeSteps / sizeof kProbeSteps[0];

void AddResidue(ResidueList& found, const Residue& item) {
  found.resize(found.size() + 1);
  found.back() = item;
}

namespace {
bool IsRegistryItem(const std::wstring& what) {
  return what.compare(0, 2, L"HK") == 0 || what.compare(0, 8, L"profile ") == 0;
}

// path is folder itself or lies below it.
bool StartsWithFolder(const std::wstring& path, const std::wstring& folder) {
  if (folder.empty() || !StartsWithNoCase(path, folder)) return false;
  return path.size() == folder.size() || path[folder.size()] == L'\\';
}

bool OnSixtyFourBitWindows() { return g_setup.IsOS(OS_WOW64 | OS_X64); }

// The view an item is reached in: a plain registry probe reads the 32-bit product's own view;
// a file in the native system folder is the 64-bit one (the removal reaches it with
// redirection off). Empty on 32-bit Windows.
std::wstring ViewOf(const Residue& item) {
  if (!item.view.empty() || !OnSixtyFourBitWindows()) return item.view;
  if (IsRegistryItem(item.what))
    return StartsWithNoCase(item.what, L"HKLM\\SOFTWARE\\") || StartsWithNoCase(item.what, L"HKCR\\") ||
                   StartsWithNoCase(item.what, L"HKCU\\Software\\Classes\\")
               ? L"32-bit"
               : L"";
  return StartsWithFolder(item.what, g_setup.Expand(L"%SYS64%")) ? L"64-bit" : L"";
}

bool SamePath(const std::wstring& a, const std::wstring& b) { return EqualNoCase(a, b); }


// Appended in place: the 32-bit compiler's link-time optimiser fails on the moving push_back
// of this type.
void AddRefusal(RefusalList& refused, const wchar_t* kind, const std::wstring& what, const std::wstring& reason,
                bool kept = true) {
  for (const Refusal& r : refused)
    if (SamePath(r.what, what)) return;
  refused.resize(refused.size() + 1);
  Refusal& r = refused.back();
  r.kind = kind;
  r.what = what;
  r.reason = reason;
  r.kept = kept;
  r.step = -1;
  for (size_t i = 0; i < kProbeStepCount; ++i)
    if (kProbeSteps[i].probe == ProbeFilesAndShortcuts) r.step = static_cast<int>(i);
}

void AddIfRefusedFolder(RefusalList& refused, const std::wstring& folder) {
  if (!folder.empty() && IsRefusedFolder(folder)) AddRefusal(refused, L"folder", folder, L"folder-safety rule");
}

// True when nothing but the files in `kept` (and folders holding only them) is below folder.
// A link below it counts as something else; the depth is bounded.
bool HoldsOnly(const std::wstring& folder, const std::vector<std::wstring>& kept, int depth = 0) {
  WIN32_FIND_DATAW data;
  UniqueFindHandle find = FindFirstIn(folder.c_str(), L"*", &data);
  if (!find) return true;
  do {
    std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    std::wstring path = folder + L"\\" + name;
    bool plainFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (plainFolder) {
      if (depth >= 32 || !HoldsOnly(path, kept, depth + 1)) return false;
      continue;
    }
    bool isKept = false;
    for (const std::wstring& file : kept) isKept = isKept || SamePath(file, path);
    if (!isKept) return false;
  } while (FindNextFileW(find.get(), &data));
  return true;
}

// The files the SharedDLLs list counts (a count above 0) that the removal would otherwise
// delete. A folder tree holding one stays: kept when nothing else is left in it, otherwise
// listed (not kept) because its other contents still go.
void AddSharedFiles(RefusalList& refused, const std::vector<std::wstring>& trees) {
  UniqueRegKey key;
  if (regOpenKey(HKEY_LOCAL_MACHINE, kSharedDllsKey, KEY_READ, key) != ERROR_SUCCESS) return;
  std::vector<std::wstring> single;
  using namespace driver_rows;
  for (size_t i = 0; i < kDriverRowCount; ++i)
    if (kDriverRows[i].op == Op::SharedFile) single.push_back(g_setup.Expand(L"%SYS%", kDriverRows[i].a));
  single.push_back(OutlookExtensionCachePath());
  std::vector<std::wstring> counted, holders;
  wchar_t name[MAX_PATH + 1];
  for (DWORD index = 0;; ++index) {
    DWORD chars = MAX_PATH + 1, type = 0, count = 0, size = sizeof count;
    LSTATUS rc = RegEnumValueW(key.get(), index, name, &chars, nullptr, &type, reinterpret_cast<BYTE*>(&count), &size);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS || type != REG_DWORD || size != sizeof count || count == 0) continue;
    std::wstring path = name;
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
    bool listed = false;
    for (const std::wstring& file : single) listed = listed || (!file.empty() && SamePath(file, path));
    for (const std::wstring& tree : trees)
      if (StartsWithFolder(path, tree) && !SamePath(path, tree)) {
        holders.push_back(tree);
        listed = true;
      }
    if (!listed) continue;
    AddRefusal(refused, L"file", path, L"SharedDLLs count");
    counted.push_back(path);
  }
  for (const std::wstring& tree : holders)
    AddRefusal(refused, L"folder", tree, L"stays: it holds a file the SharedDLLs list counts", HoldsOnly(tree, counted));
}
}  // namespace

ResidueList ProbeSuiteResidue() { return ProbeSuiteResidueBesides(ProbeRefusals()); }

ResidueList ProbeSuiteResidueBesides(const RefusalList& refused) {
  ResidueList found;
  for (size_t i = 0; i < kProbeStepCount; ++i) {
    ResidueList step;
    kProbeSteps[i].probe(step);
    for (Residue& item : step) {
      bool kept = false;
      for (const Refusal& r : refused) kept = kept || (r.kept && SamePath(r.what, item.what));
      if (kept) continue;
      item.step = static_cast<int>(i);
      item.view = ViewOf(item);
      AddResidue(found, item);
    }
  }
  return found;
}

RefusalList ProbeRefusals() {
  RefusalList refused;
  AddIfRefusedFolder(refused, g_detectedProgramFolder);
  if (!g_detectedProgramFolder.empty() && !IsRefusedFolder(g_detectedProgramFolder))
    AddIfRefusedFolder(refused, g_detectedDataFolder);
  std::vector<std::wstring> trees = RemovedFolderTrees();
  AddSharedFiles(refused, trees);
  for (const std::wstring& tree : trees) {
    if (GetFileAttributesW(tree.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
    std::wstring parent;
    if (!FolderCanBeLocked(tree))
      AddRefusal(refused, L"folder", tree,
                 L"cannot be locked against standard users: nothing below it is queued for the restart", false);
    else if (const wchar_t* fault = ParentsFault(tree, &parent))
      AddRefusal(refused, L"folder", tree,
                 L"a folder above it can be changed by others (" + parent + L": " + fault +
                     L"): nothing below it is queued for the restart",
                 false);
  }
  return refused;
}
