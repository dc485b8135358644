// Network components (through the network configuration COM interfaces) and OEM driver
// packages (INF files in the Windows INF folder, found by the catalog file they name).
// Log lines go to category "system".
#pragma once
#include <windows.h>
#include <netcfgx.h>

#include <string>
#include <vector>

#include "base/com_ptr.h"

// NETCFG_S_REBOOT and NETCFG_E_NO_WRITE_LOCK as the network configuration engine reports them.
constexpr HRESULT kNetCfgRebootNeeded = static_cast<HRESULT>(0x0004A020);
constexpr HRESULT kNetCfgNoWriteLock = static_cast<HRESULT>(0x8004A024);

// Initialises COM, creates the network configuration object, takes its write lock (5000 ms
// wait, `description` names this client) and initialises it. On success `netcfg` holds it
// with the lock, and COM stays initialised until ReleaseNetCfg. On a lock that was not
// granted the result is kNetCfgNoWriteLock and `holder` names the program holding it (when
// Windows said). Every failure leaves nothing held and COM uninitialised.
HRESULT AcquireNetCfg(const wchar_t* description, ComPtr<INetCfg>& netcfg, std::wstring& holder);
// Uninitialises the object, releases the write lock, the object and COM. `netcfg` is empty after.
void ReleaseNetCfg(ComPtr<INetCfg>& netcfg);
// Removes the component `id` on behalf of the user and applies the change. S_FALSE when the
// component is not installed; otherwise the first failing call's HRESULT, or Apply's.
HRESULT DeinstallNetComponent(INetCfg* netcfg, const wchar_t* id);
// AcquireNetCfg, DeinstallNetComponent, one more Apply after a success, ReleaseNetCfg.
HRESULT UninstallNetComponent(const wchar_t* id);
// Uninstalls the component, logs one result line, and after a success removes the driver
// packages naming `catalog` (when not empty). Returns the uninstall result.
HRESULT RemoveNetworkComponent(const wchar_t* id, const wchar_t* catalog);

// Full paths of the INFs in the Windows INF folder whose [Version] CatalogFile equals
// `catalog` and, when `provider` is not empty, whose Provider equals it (both without
// regard to case). Changes nothing: also the presence probe of a driver package.
std::vector<std::wstring> FindOemDriverPackages(const wchar_t* catalog, const wchar_t* provider);

// The presence probe of a network component: true when the network configuration engine
// finds it (read only, no write lock). False also when the engine cannot tell (its search
// fails).
bool IsNetComponentInstalled(const wchar_t* id);

// Uninstalls (SetupUninstallOEMInfW) every INF that FindOemDriverPackages lists. setupapi.dll
// is loaded from the system folder when the process has not loaded it. Failures are logged
// per INF. Always 0.
DWORD RemoveOemDriverPackage(const wchar_t* catalog, const wchar_t* provider);
