// Server add-in and registered modules.
#include "catalog/addins.h"

#include <string>

#include "base/path.h"
#include "base/regkey.h"
#include "catalog/catalog.h"
#include "catalog/probe.h"
#include "log/log.h"
#include "setup/product.h"
#include "setup/setup_globals.h"
#include "sysops/com.h"
#include "sysops/registry.h"

namespace {
// Expanded through the environment: no path macro names the 64-bit program-files folder.
const wchar_t kServerAddin[] = L"%ProgramW6432%\\Windows Server\\Bin\\Addins\\Primary\\VelkoWhsAddinConfig.addin";

// The suite's in-process COM modules in the program folder, in the order they are unregistered.
const wchar_t* const kSuiteModules[] = {
    L"PmAScr.dll",       L"redemption.dll", L"qtxOtl64.dll", L"qtxOtl.dll",   L"qtOutExt64.dll",
    L"qtOutExt.dll",     L"snxPlugins64.dll", L"snxPlugins.dll", L"VkExWSS.dll", L"qtxSiteRankIE.dll",
};

// A class registration that no module's own unregistration removes.
const wchar_t kSuiteClassKey[] = L"CLSID\\{B71D40E2-6C95-4A3F-8E08-2F5D9C1A7B63}";

const wchar_t kAdBlockerFolder[] = L"velko! Ad Blocker IE";
const wchar_t kAdBlockerModule[] = L"Adblocker32.dll";

// The ad blocker lives beside the product's own folder: the program folder up to its first
// "Velko" (this letter case), followed by the ad blocker's folder name. Empty when the
// program folder holds no "Velko".
std::wstring AdBlockerFolder(const std::wstring& programFolder) {
  size_t at = programFolder.find(L"Velko");
  if (at == std::wstring::npos) return std::wstring();
  return programFolder.substr(0, at) + kAdBlockerFolder;
}

bool FileExists(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}
}  // namespace

DWORD RemoveServerAddin() {
  std::wstring path = g_setup.Expand(kServerAddin);
  if (path.empty()) {
    g_log.Print(LOG_MIN, LOG_SYSTEM, L"Unable to expand the path to WHS 2011 server addin '%s'!", kServerAddin);
    return ERROR_INTERNAL_ERROR;
  }
  if (DeleteFileW(path.c_str())) return 0;
  DWORD err = GetLastError();
  g_log.Print(LOG_MIN, LOG_SYSTEM, L"Unable to delete WHS 2011 addin file '%s' with error 0x%08lx!", path.c_str(),
              err);
  return err;
}

DWORD UnregisterSuiteModules() {
  const std::wstring folder = g_detectedProgramFolder;
  for (const wchar_t* module : kSuiteModules) UnregisterInProcServer(JoinPath(folder, module).c_str());
  regDeleteTree(HKEY_CLASSES_ROOT, kSuiteClassKey);
  std::wstring adBlocker = AdBlockerFolder(folder);
  if (!adBlocker.empty()) UnregisterInProcServer(JoinPath(adBlocker, kAdBlockerModule).c_str());
  return 0;
}

void RemoveWhsAddin() { RemoveServerAddin(); }
void UnregisterModules() { UnregisterSuiteModules(); }

void ProbeAddinsAndModules(ResidueList& found) {
  std::wstring addin = g_setup.Expand(kServerAddin);
  if (!addin.empty() && FileExists(addin)) AddResidue(found, {L"file", addin});
  UniqueRegKey key;
  if (regOpenKey(HKEY_CLASSES_ROOT, kSuiteClassKey, KEY_READ, key) == ERROR_SUCCESS)
    AddResidue(found, {L"key", std::wstring(L"HKEY_CLASSES_ROOT\\") + kSuiteClassKey});
}
