#include "sysops/netcfg.h"

#include <objbase.h>

#include <cwchar>
#include <vector>

#include "base/dynapi.h"
#include "base/handles.h"
#include "base/path.h"
#include "log/log.h"
#include "sysops/files.h"
#include "sysops/modules.h"

namespace {
// The network configuration engine's identifiers, spelt out here so that nothing depends
// on an import library providing them.
constexpr CLSID kClsidCNetCfg = {0x5B035261, 0x40F9, 0x11D1, {0xAA, 0xEC, 0x00, 0x80, 0x5F, 0xC1, 0x27, 0x0E}};
constexpr IID kIidINetCfg = {0xC0E8AE93, 0x306E, 0x11D1, {0xAA, 0xCF, 0x00, 0x80, 0x5F, 0xC1, 0x27, 0x0E}};
constexpr IID kIidINetCfgLock = {0xC0E8AE9F, 0x306E, 0x11D1, {0xAA, 0xCF, 0x00, 0x80, 0x5F, 0xC1, 0x27, 0x0E}};
constexpr IID kIidINetCfgClass = {0xC0E8AE97, 0x306E, 0x11D1, {0xAA, 0xCF, 0x00, 0x80, 0x5F, 0xC1, 0x27, 0x0E}};
constexpr IID kIidINetCfgClassSetup = {0xC0E8AE9D, 0x306E, 0x11D1, {0xAA, 0xCF, 0x00, 0x80, 0x5F, 0xC1, 0x27, 0x0E}};

constexpr DWORD kWriteLockWaitMs = 5000;
constexpr HRESULT kCancelled = static_cast<HRESULT>(0x800704C7);
constexpr DWORD kProfileChars = 32768;

// Frees a string that COM allocated for us.
struct CoTaskString {
  wchar_t* text = nullptr;
  ~CoTaskString() { CoTaskMemFree(text); }
};

typedef BOOL(WINAPI* SetupUninstallOemInfFn)(const wchar_t* infFile, DWORD flags, void* reserved);

// setupapi.dll for the package removal: the process's own copy when it has one, otherwise
// loaded from the system folder by its full path (a bare name would search the program's
// own folder first) and freed when this goes.
class SetupApiModule {
 public:
  HMODULE Get() {
    if (module_) return module_;
    module_ = GetModuleHandleW(L"setupapi.dll");
    if (module_) return module_;
    wchar_t system[MAX_PATH] = {};
    UINT n = GetSystemDirectoryW(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    // Its own imports from the system folder, not from the program's.
    loaded_.reset(LoadLibraryExW(JoinPath(system, L"setupapi.dll").c_str(), nullptr,
                                 FullPathLoadFlags(LOAD_WITH_ALTERED_SEARCH_PATH)));
    module_ = loaded_.get();
    return module_;
  }

 private:
  UniqueLibrary loaded_;
  HMODULE module_ = nullptr;
};

std::wstring ReadInfVersionValue(const std::wstring& inf, const wchar_t* name) {
  std::vector<wchar_t> buffer(kProfileChars, L'\0');
  GetPrivateProfileStringW(L"Version", name, L"", buffer.data(), kProfileChars, inf.c_str());
  return buffer.data();
}

bool InfMatches(const std::wstring& inf, const wchar_t* catalog, const wchar_t* provider) {
  if (_wcsicmp(ReadInfVersionValue(inf, L"CatalogFile").c_str(), catalog) != 0) return false;
  if (provider && *provider && _wcsicmp(ReadInfVersionValue(inf, L"Provider").c_str(), provider) != 0) return false;
  return true;
}

void UninstallOemInf(SetupApiModule& setupapi, const std::wstring& inf) {
  HMODULE module = setupapi.Get();
  if (!module) {
    g_log.Print(LOG_MIN, LOG_SYSTEM, L"Error: Unable to get the handle to the SetupAPI.dll with error 0x%08lx!",
                GetLastError());
    return;
  }
  auto uninstall = reinterpret_cast<SetupUninstallOemInfFn>(LookupProcIn(module, "SetupUninstallOEMInfW"));
  if (!uninstall) {
    g_log.Print(LOG_VRB, LOG_SYSTEM,
                L"Notice: Unable to get address of the SetupUninstallOEMInf function with error 0x%08lx. It is to "
                L"be expected on Windows 2000.",
                GetLastError());
    return;
  }
  if (!uninstall(inf.c_str(), 0, nullptr)) {
    g_log.Print(LOG_MIN, LOG_SYSTEM, L"Error: Unable to uninstall OEM inf file '%s' with error 0x%08lx!", inf.c_str(),
                GetLastError());
  }
}
}  // namespace

HRESULT AcquireNetCfg(const wchar_t* description, ComPtr<INetCfg>& netcfg, std::wstring& holder) {
  netcfg.reset();
  holder.clear();
  HRESULT hr = CoInitialize(nullptr);
  if (hr != S_OK && hr != S_FALSE) return hr;

  ComPtr<INetCfg> created;
  hr = CoCreateInstance(kClsidCNetCfg, nullptr, CLSCTX_INPROC_SERVER, kIidINetCfg, created.putVoid());
  if (SUCCEEDED(hr)) {
    ComPtr<INetCfgLock> lock;
    hr = created.As(kIidINetCfgLock, lock);
    if (SUCCEEDED(hr)) {
      CoTaskString holderText;
      hr = lock->AcquireWriteLock(kWriteLockWaitMs, description, &holderText.text);
      if (hr == S_FALSE) {
        hr = kNetCfgNoWriteLock;
        if (holderText.text) holder = holderText.text;
      }
      if (SUCCEEDED(hr)) {
        hr = created->Initialize(nullptr);
        if (SUCCEEDED(hr)) {
          netcfg = std::move(created);
        } else {
          lock->ReleaseWriteLock();
        }
      }
    }
  }
  if (FAILED(hr)) {
    created.reset();
    CoUninitialize();
  }
  return hr;
}

void ReleaseNetCfg(ComPtr<INetCfg>& netcfg) {
  if (!netcfg) return;
  netcfg->Uninitialize();
  // The write lock goes whatever Uninitialize answered: a lock left held would block every
  // later configuration change on the machine.
  ComPtr<INetCfgLock> lock;
  if (SUCCEEDED(netcfg.As(kIidINetCfgLock, lock))) lock->ReleaseWriteLock();
  lock.reset();
  netcfg.reset();
  CoUninitialize();
}

HRESULT DeinstallNetComponent(INetCfg* netcfg, const wchar_t* id) {
  ComPtr<INetCfgComponent> component;
  HRESULT hr = netcfg->FindComponent(id, component.put());
  if (hr != S_OK) return hr;
  GUID classGuid = {};
  hr = component->GetClassGuid(&classGuid);
  if (FAILED(hr)) return hr;
  ComPtr<INetCfgClass> netClass;
  hr = netcfg->QueryNetCfgClass(&classGuid, kIidINetCfgClass, netClass.putVoid());
  if (FAILED(hr)) return hr;
  ComPtr<INetCfgClassSetup> classSetup;
  hr = netClass.As(kIidINetCfgClassSetup, classSetup);
  if (FAILED(hr)) return hr;
  OBO_TOKEN token = {};
  token.Type = OBO_USER;
  hr = classSetup->DeInstall(component.get(), &token, nullptr);
  if (hr == S_OK) hr = netcfg->Apply();
  return hr;
}

HRESULT UninstallNetComponent(const wchar_t* id) {
  ComPtr<INetCfg> netcfg;
  std::wstring holder;
  HRESULT hr = AcquireNetCfg(L"", netcfg, holder);
  if (FAILED(hr)) {
    if (hr == kNetCfgNoWriteLock && !holder.empty())
      g_log.Print(LOG_MIN, LOG_SYSTEM, L"%s application currently holds the lock, try later.", holder.c_str());
    return hr;
  }
  hr = DeinstallNetComponent(netcfg.get(), id);
  if (hr == S_OK || hr == kNetCfgRebootNeeded) hr = netcfg->Apply();
  ReleaseNetCfg(netcfg);
  return hr;
}

HRESULT RemoveNetworkComponent(const wchar_t* id, const wchar_t* catalog) {
  HRESULT hr = UninstallNetComponent(id);
  if (hr == S_OK) {
    g_log.Print(LOG_MIN, LOG_SYSTEM, L"qtxNdis uninstalled successfully.");
  } else if (hr == kCancelled) {
    g_log.Print(LOG_MIN, LOG_SYSTEM, L"Cancelled uninstall the network component.");
  } else if (hr == kNetCfgNoWriteLock) {
    g_log.Print(LOG_MIN, LOG_SYSTEM, L"Other application currently holds the lock, try later.");
  } else {
    g_log.Print(LOG_MIN, LOG_SYSTEM, L"Couldn't uninstall the network component, result: 0x%08X.",
                static_cast<unsigned>(hr));
  }
  if (hr == S_OK && catalog && *catalog) RemoveOemDriverPackage(catalog, L"");
  return hr;
}

std::vector<std::wstring> FindOemDriverPackages(const wchar_t* catalog, const wchar_t* provider) {
  std::vector<std::wstring> found;
  wchar_t windows[MAX_PATH] = {};
  UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return found;
  std::wstring infFolder = JoinPath(windows, L"Inf");
  WIN32_FIND_DATAW data = {};
  UniqueFindHandle find = FindFirstIn(infFolder.c_str(), L"*.inf", &data);
  if (!find) return found;
  do {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0) continue;
    std::wstring inf = JoinPath(infFolder, data.cFileName);
    if (InfMatches(inf, catalog, provider)) found.push_back(inf);
  } while (FindNextFileW(find.get(), &data));
  return found;
}

DWORD RemoveOemDriverPackage(const wchar_t* catalog, const wchar_t* provider) {
  SetupApiModule setupapi;
  for (const std::wstring& inf : FindOemDriverPackages(catalog, provider)) UninstallOemInf(setupapi, inf);
  return 0;
}

bool IsNetComponentInstalled(const wchar_t* id) {
  HRESULT hr = CoInitialize(nullptr);
  if (hr != S_OK && hr != S_FALSE) return false;
  bool found = false;
  {
    ComPtr<INetCfg> netcfg;
    if (SUCCEEDED(CoCreateInstance(kClsidCNetCfg, nullptr, CLSCTX_INPROC_SERVER, kIidINetCfg, netcfg.putVoid())) &&
        SUCCEEDED(netcfg->Initialize(nullptr))) {
      ComPtr<INetCfgComponent> component;
      found = netcfg->FindComponent(id, component.put()) == S_OK;
      component.reset();
      netcfg->Uninitialize();
    }
  }
  CoUninitialize();
  return found;
}
