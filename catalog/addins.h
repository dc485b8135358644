// The server add-in step and the module unregistration step, with their results (the run's
// step functions in catalog.h call these and ignore them).
#pragma once
#include <windows.h>

#include <string>

#include "catalog/probe.h"

// Deletes the suite's add-in file of the home-server console. 0 when deleted; otherwise the
// DeleteFileW code (also for a missing file), or ERROR_INTERNAL_ERROR when the path does not
// expand.
DWORD RemoveServerAddin();

// Unregisters the suite's COM modules in the detected program folder, deletes the suite's
// leftover class key and unregisters the ad blocker's module in its folder beside the
// program folder. No module file is deleted. Always 0.
DWORD UnregisterSuiteModules();

// A registered module of the suite counts as registered while its file is there (what it
// registers is known only to the module): a "COM registration" item for path, in the view of
// its bitness on 64-bit Windows. A 64-bit module is probed only on 64-bit Windows.
void ProbeModuleRegistration(ResidueList& found, const std::wstring& path, bool is64Bit);
