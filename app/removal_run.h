// The removal run: the fixed sequence of catalog steps with its progress lines, and the
// wrapper that also removes the suite's lasting storage and commits the restart queue.
#pragma once
#include <windows.h>

// The catalog steps the sequence calls, in the order it calls them.
struct RemovalSteps {
  void (*removeBrowserPlugins)();
  void (*removeSidebarGadget)();
  DWORD (*removeServices)();
  void (*removeWhsAddin)();
  void (*removeProtectionDrivers)();
  void (*unregisterModules)();
  void (*removeBootFiles)();
  void (*removeShortcuts)();
  DWORD (*removeRegistryEntries)();  // 0 = success
  void (*removeProgramFiles)();
  void (*removeWscAntiVirus)();
  void (*removeWscAntiSpyware)();
  void (*removeWscFirewall)();
};

// The product's catalog (catalog/catalog.h).
extern const RemovalSteps kCatalogSteps;

// The sequence alone: every step in order, the progress lines, the failure message of the
// registry step, the uninstall registration. Returns the services step's result.
DWORD RemovalSequence(const RemovalSteps& steps);

// The whole run as the start-up and the dialog start it: the sequence, then the lasting
// storage folder and key, then the commit of the restart queue. Returns the sequence's result.
DWORD RemovalRun(const RemovalSteps& steps = kCatalogSteps);
