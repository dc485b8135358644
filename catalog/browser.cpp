// Browser plug-ins, sidebar gadget and Security Center registrations. The plug-ins and the
// gadget are removed by the suite's own base library, which knows where each browser and
// the Sidebar keep them; the Security Center entries are deleted through WMI.
#include "catalog/browser.h"

#include <oleauto.h>

#include <string>

#include "base/com_ptr.h"
#include "base/dynapi.h"
#include "base/path.h"
#include "catalog/addins.h"
#include "catalog/catalog.h"
#include "catalog/probe.h"
#include "log/log.h"
#include "setup/product.h"
#include "setup/setup_globals.h"
#include "sysops/com.h"
#include "sysops/files.h"
#include "sysops/modules.h"

namespace {
const wchar_t kBaseLibrary[] = L"pmrBase.dll";

struct Browser {
  DWORD id;  // as the base library numbers the browsers
  const wchar_t* name;
};
const Browser kBrowsers[] = {{1, L"Internet Explorer"}, {2, L"Firefox"}, {3, L"Chrome"}};
constexpr DWORD kBrowserInstalled = 2;

// The base library's exports, all __stdcall, looked up by their decorated names.
typedef DWORD(WINAPI* IsBrowserInstalledFn)(DWORD browser);
typedef DWORD(WINAPI* UninstallPluginFn)(DWORD browser);
typedef DWORD(WINAPI* UninstallGadgetFn)();
typedef DWORD(WINAPI* KillSidebarFn)(DWORD reserved, DWORD sessionId);
typedef DWORD(WINAPI* StartSidebarFn)();
const char kIsBrowserInstalled[] = "_bas_hlp_SiteRankIsBrowserInstalled@4";
const char kUninstallPlugin[] = "_basSiteRankUninstallPlugin@4";
const char kUninstallGadget[] = "_basUninstallGadget@0";
const char kKillSidebar[] = "_basKillSidebar@8";
const char kStartSidebar[] = "_basStartSidebar@0";

const wchar_t kGadgetFolder[] = L"Windows Sidebar\\Shared Gadgets\\qtxSidebar.gadget";  // under %PRGFILES%
const wchar_t kGuiProxy64[] = L"VelkoGUIProxy64.dll";
const wchar_t kGuiProxy32[] = L"VelkoGUIProxy.dll";

template <class Fn>
Fn Export(const UniqueLibrary& library, const char* name) {
  return library ? reinterpret_cast<Fn>(LookupProcIn(library.get(), name)) : nullptr;
}

std::wstring GadgetFolder() { return g_setup.Expand(L"%PRGFILES%", kGadgetFolder); }

// Owns one BSTR.
class BstrOwner {
 public:
  explicit BstrOwner(const wchar_t* text) : s_(SysAllocString(text)) {}
  BstrOwner(const BstrOwner&) = delete;
  BstrOwner& operator=(const BstrOwner&) = delete;
  ~BstrOwner() { SysFreeString(s_); }
  BSTR get() const { return s_; }

 private:
  BSTR s_;
};

const CLSID kClsidWbemLocator = {0x4590F811, 0x1D3A, 0x11D0, {0x89, 0x1F, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
const IID kIidWbemLocator = {0xDC12A687, 0x737F, 0x11CF, {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
// The suite's instance in each Security Center product class.
const GUID kSuiteInstanceGuid = {0xD85F5ADB, 0x1B52, 0x40F5, {0xA5, 0x3C, 0x24, 0xD7, 0xB7, 0x1D, 0x0F, 0x89}};

struct WscClass {
  WscProduct product;
  const wchar_t* pathPrefix;  // object path up to the instance GUID
  DWORD minimumMajorVersion;  // the class exists from this Windows version on (0: always)
};
const WscClass kWscClasses[] = {
    {WscProduct::AntiVirus, L"AntiVirusProduct.instanceGuid=\"", 0},
    {WscProduct::AntiSpyware, L"AntiSpywareProduct.instanceGuid=\"", 6},
    {WscProduct::Firewall, L"FirewallProduct.instanceGuid=\"", 0},
};

SecurityCenterConnectFn g_connectHook = nullptr;

}  // namespace

void RemoveBrowserPlugins() {
  UniqueLibrary library = LoadSuiteModule(JoinPath(g_detectedProgramFolder, kBaseLibrary).c_str());
  if (!library) return;
  auto isInstalled = Export<IsBrowserInstalledFn>(library, kIsBrowserInstalled);
  auto uninstall = Export<UninstallPluginFn>(library, kUninstallPlugin);
  if (!isInstalled || !uninstall) {
    g_log.Print(LOG_VRB, LOG_GENERAL,
                L"Couldn't find export of basSiteRankUninstallPlugin or bas_hlp_SiteRankIsBrowserInstalled");
    return;
  }
  for (const Browser& browser : kBrowsers) {
    if (isInstalled(browser.id) == kBrowserInstalled) {
      DWORD result = uninstall(browser.id);
      if (result != 0)
        g_log.Print(LOG_VRB, LOG_GENERAL, L"basSiteRankUninstallPlugin for \"%s\" returned 0x%08X", browser.name,
                    result);
    } else {
      g_log.Print(LOG_VRB, LOG_GENERAL, L"Browser \"%s\" not found", browser.name);
    }
  }
}

void RemoveSidebarGadget() {
  UniqueLibrary library = LoadSuiteModule(g_setup.Expand(L"%ROPATH%", kBaseLibrary).c_str());
  auto uninstallGadget = Export<UninstallGadgetFn>(library, kUninstallGadget);
  auto killSidebar = Export<KillSidebarFn>(library, kKillSidebar);
  auto startSidebar = Export<StartSidebarFn>(library, kStartSidebar);
  if (library && (!uninstallGadget || !killSidebar || !startSidebar))
    g_log.Print(LOG_VRB, LOG_GENERAL, L"Couldn't find exports for gadget uninstalling");

  // The Sidebar holds the gadget's files while it runs: stopped for the removal, and started
  // again afterwards only when this step stopped it.
  DWORD sidebarStopped = 0;
  if (killSidebar) {
    DWORD sessionId = 0xFFFFFFFF;
    ProcessIdToSessionId(GetCurrentProcessId(), &sessionId);
    sidebarStopped = killSidebar(0, sessionId);
  }
  if (uninstallGadget) uninstallGadget();

  // A 32-bit process cannot load the 64-bit proxy: on 64-bit Windows only that one is
  // unregistered, through the 64-bit helper.
  if (g_setup.IsOS(OS_X64))
    UnregisterServer64(JoinPath(g_detectedProgramFolder, kGuiProxy64).c_str());
  else
    UnregisterInProcServer(JoinPath(g_detectedProgramFolder, kGuiProxy32).c_str());

  RemoveTree(GadgetFolder().c_str(), L"*.*", true, true, false);
  if (sidebarStopped && startSidebar) startSidebar();
}

HRESULT ConnectSecurityCenter(IWbemServices** services) {
  *services = nullptr;
  ComPtr<IWbemLocator> locator;
  HRESULT hr = CoCreateInstance(kClsidWbemLocator, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                kIidWbemLocator, locator.putVoid());
  if (FAILED(hr)) return hr;
  BstrOwner space(L"\\\\.\\root\\SecurityCenter");
  if (!space.get()) return E_OUTOFMEMORY;
  return locator->ConnectServer(space.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, services);
}

HRESULT RemoveWscProduct(WscProduct product) {
  const WscClass* entry = nullptr;
  for (const WscClass& c : kWscClasses)
    if (c.product == product) entry = &c;
  if (!entry) return E_INVALIDARG;
  // The version the run environment read at start-up, as for the run's own version gates.
  if (entry->minimumMajorVersion && g_setup.osVersion.dwMajorVersion < entry->minimumMajorVersion) return 1;

  ComPtr<IWbemServices> services;
  HRESULT hr = (g_connectHook ? g_connectHook : ConnectSecurityCenter)(services.put());
  if (FAILED(hr)) return hr;
  wchar_t guid[128] = {0};
  StringFromGUID2(kSuiteInstanceGuid, guid, 128);
  std::wstring path = std::wstring(entry->pathPrefix) + guid + L"\"";
  // A connection that succeeded with a warning is left alone; its code is the result.
  if (hr == S_OK && services.get()) {
    BstrOwner objectPath(path.c_str());
    hr = objectPath.get() ? services->DeleteInstance(objectPath.get(), 0, nullptr, nullptr) : E_OUTOFMEMORY;
  }
  return hr;
}

void SetSecurityCenterConnectHook(SecurityCenterConnectFn connect) { g_connectHook = connect; }

// The run ignores the results: an entry that is not there is as good as a deleted one.
void RemoveWscAntiVirus() { RemoveWscProduct(WscProduct::AntiVirus); }
void RemoveWscAntiSpyware() { RemoveWscProduct(WscProduct::AntiSpyware); }
void RemoveWscFirewall() { RemoveWscProduct(WscProduct::Firewall); }

void ProbeBrowserAndGadget(ResidueList& found) {
  // The GUI proxy the step unregisters: the 64-bit one on 64-bit Windows, else the 32-bit one.
  bool x64 = g_setup.IsOS(OS_X64);
  ProbeModuleRegistration(found, JoinPath(g_detectedProgramFolder, x64 ? kGuiProxy64 : kGuiProxy32), x64);
  std::wstring gadget = GadgetFolder();
  DWORD attributes = GetFileAttributesW(gadget.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    AddResidue(found, {L"folder", gadget});
}
