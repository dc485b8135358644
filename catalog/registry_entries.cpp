// The suite's registry entries. The key and value tables are not built yet: the step
// removes nothing and reports success, so the program-files step still runs.
#include "catalog/catalog.h"
#include "catalog/probe.h"

DWORD RemoveRegistryEntries() { return 0; }

void ProbeRegistryEntries(ResidueList&) {}
