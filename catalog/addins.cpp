// Server add-in and registered modules.
#include "catalog/addins.h"

#include <string>

#include "base/path.h"
#include "base/regkey.h"
#include "catalog/catalog.h"
#include "catalog/probe.h"
#include "catalog/program_files.h"
#include "log/log.h"
#include "setup/product.h"
#include "setup/setup_globals.h"
#include "sysops/com.h"
#include "sysops/nofollow.h"
#include "sysops/registry.h"

namespace {
// "%ProgramW6432%": the native program-files folder of 64-bit Windows (from the registry).
const wchar_t kServerAddin[] = L"%ProgramW6432%\\Windows Server\\Bin\\Addins\\Primary\\VelkoWhsAddinConfig.addin";

// The suite's in-process COM modules in the program folder, in the order they are
// unregistered. The 64-bit ones cannot be loaded by this 32-bit program: the suite's 64-bit
// helper unregisters them.
struct SuiteModule {
  const wchar_t* file;
  bool is64Bit;
};
const SuiteModule kSuiteModules[] = {
    {L"PmAScr.dll", false},       {L"redemption.dll", false}, {L"qtxOtl64.dll", true},
    {L"qtxOtl.dll", false},       {L"qtOutExt64.dll", true},  {L"qtOutExt.dll", false},
    {L"snxPlugins64.dll", true},  {L"snxPlugins.dll", false}, {L"VkExWSS.dll", false},
    {L"qtxSiteRankIE.dll", false},
};

// A class registration that no module's own unregistration removes.
const wchar_t kSuiteClassKey[] = L"CLSID\\{B71D40E2-6C95-4A3F-8E08-2F5D9C1A7B63}";

const wchar_t kAdBlockerModule[] = L"Adblocker32.dll";

bool FileExists(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}
}  // namespace

DWORD RemoveServerAddin() {
  std::wstring path = g_setup.Expand(kServerAddin);
  // Where "%ProgramW6432%" names no folder (32-bit Windows) the path is empty; any path that
  // is not absolute would be taken in whatever folder the run was started from.
  if (!IsPlainAbsolutePath(path)) {
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
  for (const SuiteModule& module : kSuiteModules) {
    std::wstring path = JoinPath(folder, module.file);
    if (module.is64Bit)
      UnregisterSuiteServer64(path.c_str());
    else
      UnregisterInProcServer(path.c_str());
  }
  regDeleteTree(HKEY_CLASSES_ROOT, kSuiteClassKey);
  std::wstring adBlocker = AdBlockerFolderOf(folder);
  if (!adBlocker.empty()) UnregisterInProcServer(JoinPath(adBlocker, kAdBlockerModule).c_str());
  return 0;
}

void RemoveWhsAddin() { RemoveServerAddin(); }
void UnregisterModules() { UnregisterSuiteModules(); }

void ProbeModuleRegistration(ResidueList& found, const std::wstring& path, bool is64Bit) {
  if (is64Bit && !g_setup.IsOS(OS_X64)) return;
  if (IsPlainAbsolutePath(path) && FileExists(path))
    AddResidue(found, {L"COM registration", path, g_setup.IsOS(OS_WOW64 | OS_X64) ? (is64Bit ? L"64-bit" : L"32-bit") : L""});
}

void ProbeAddinsAndModules(ResidueList& found) {
  std::wstring addin = g_setup.Expand(kServerAddin);
  if (IsPlainAbsolutePath(addin) && FileExists(addin)) AddResidue(found, {L"file", addin});
  for (const SuiteModule& module : kSuiteModules)
    ProbeModuleRegistration(found, JoinPath(g_detectedProgramFolder, module.file), module.is64Bit);
  std::wstring adBlocker = AdBlockerFolderOf(g_detectedProgramFolder);
  if (!adBlocker.empty()) ProbeModuleRegistration(found, JoinPath(adBlocker, kAdBlockerModule), false);
  UniqueRegKey key;
  if (regOpenKey(HKEY_CLASSES_ROOT, kSuiteClassKey, KEY_READ, key) == ERROR_SUCCESS)
    AddResidue(found, {L"key", std::wstring(L"HKCR\\") + kSuiteClassKey});
}
