// Product detection: where an installed edition keeps its program and data folders, its
// registry key and its major version.
#include "app/app_state.h"
#include "app/dialog.h"
#include "resources/resource.h"
#include "sysops/registry.h"

namespace {
constexpr const wchar_t* kProductKey = L"Software\\Velko Software\\Velko";
// What the registry step is handed as the product's key once detection accepts a product.
constexpr const wchar_t* kProductRegistryKey = L"Software\\VELKO Software\\Velko";

constexpr DWORD kShortValueChars = 20;  // "Product", "Version": 40 bytes
constexpr DWORD kPathChars = MAX_PATH;  // folders: 520 bytes

// One value of HKEY_LOCAL_MACHINE\key into buffer, through the registry layer's read: the
// buffer is zeroed and filled only when the value is there (a missing key or value leaves
// it as it was), a value that cannot be read whole leaves it empty, and the read is logged.
template <DWORD N>
void ReadValue(const wchar_t* key, const wchar_t* name, wchar_t (&buffer)[N]) {
  regGetString(HKEY_LOCAL_MACHINE, key, name, buffer, sizeof(buffer), true);
}

bool FolderUsable(const wchar_t* folder) {
  if (folder[0] == L'\0') return false;
  if (GetFileAttributesW(folder) != INVALID_FILE_ATTRIBUTES) return true;
  // A folder we may not read is still the product's folder.
  return GetLastError() == ERROR_ACCESS_DENIED;
}

void ReadProductAndVersion(wchar_t (&product)[kShortValueChars]) {
  wchar_t version[kShortValueChars] = {};
  ReadValue(kProductKey, L"Product", product);
  ReadValue(kProductKey, L"Version", version);
  g_installedMajorVersion = LeadingNumber(version);
}
}  // namespace

DWORD LeadingNumber(const wchar_t* text) {
  DWORD value = 0;
  for (const wchar_t* p = text; p && *p >= L'0' && *p <= L'9'; ++p) {
    DWORD digit = static_cast<DWORD>(*p - L'0');
    if (value > (0xFFFFFFFFu - digit) / 10) return 0xFFFFFFFFu;
    value = value * 10 + digit;
  }
  return value;
}

int DetectProduct(const wchar_t* code) {
  wchar_t product[kShortValueChars] = {};
  wchar_t programFolder[kPathChars] = {};
  wchar_t dataFolder[kPathChars] = {};
  const bool business = code && _wcsicmp(code, L"vqb") == 0;
  const bool home = code && (_wcsicmp(code, L"vhm") == 0 || _wcsicmp(code, L"vk_whs") == 0);

  // Whether the installed "Product" is this code's family (or not named at all): only then
  // are its folders, and the uninstall registration's folder, taken as this code's.
  bool productMatches = false;
  if (business) {
    ReadProductAndVersion(product);
    productMatches = product[0] == L'\0' || _wcsicmp(product, L"vqb") == 0;
    if (productMatches) {
      ReadValue(kProductKey, L"DataFolder", dataFolder);
      ReadValue(kProductKey, L"ProgramFolder", programFolder);
    }
  } else if (home) {
    if (regKeyExists(kProductKey)) ReadProductAndVersion(product);
    productMatches = product[0] == L'\0' || _wcsicmp(product, L"vhm") == 0;
    if (productMatches) {
      ReadValue(kProductKey, L"ProgramFolder", programFolder);
      ReadValue(kProductKey, L"DataFolder", dataFolder);
    }
  }
  if (business || home) {
    if (productMatches && !FolderUsable(programFolder))
      ReadValue(kUninstallKey, L"InstallLocation", programFolder);
    g_productRegistryKey = kProductRegistryKey;
  }

  int found = 0;
  if (programFolder[0] != L'\0') {
    g_detectedProgramFolder = programFolder;
    found = 1;
  }
  if (dataFolder[0] != L'\0') g_detectedDataFolder = dataFolder;

  HWND pathBox = g_mainDialog ? GetDlgItem(g_mainDialog, IDC_PATH) : nullptr;
  if (pathBox) SetWindowTextW(pathBox, g_detectedProgramFolder.c_str());
  return found;
}
