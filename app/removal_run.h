// The removal run: the fixed sequence of catalog steps with its progress lines, and the
// wrapper that also removes the suite's lasting storage and commits the restart queue.
#pragma once
#include <windows.h>

#include "app/residue.h"

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
  // The presence probes the residue check runs after the commit; null runs no check.
  ResidueList (*probeResidue)();
};

// The product's catalog (catalog/catalog.h).
extern const RemovalSteps kCatalogSteps;

// What a run leaves for the caller to report (the unattended exit code).
struct RunOutcome {
  DWORD servicesResult = 0;     // the services step's result; non-zero = failed
  bool registryFailed = false;  // the registry step failed: the program files were kept
  bool restartQueued = false;   // something was handed to Windows for deletion at the restart
  ResidueCheck residue;         // what the probes still find after the commit
};

// The sequence alone: every step in order, the progress lines, the failure message of the
// registry step, the uninstall registration. Returns the services step's result and, when
// `outcome` is given, fills its first two fields.
DWORD RemovalSequence(const RemovalSteps& steps, RunOutcome* outcome = nullptr);

// The whole run as the start-up and the dialog start it: the sequence, then the lasting
// storage folder and key, then the commit of the restart queue, then the residue check (logged,
// and the progress box's last line). Returns the sequence's result and, when `outcome` is
// given, fills it.
DWORD RemovalRun(const RemovalSteps& steps = kCatalogSteps, RunOutcome* outcome = nullptr);
