// The suite's registry entries. The key and value tables are not built yet: the step
// removes nothing and reports success, so the program-files step still runs.
#include "catalog/catalog.h"

DWORD RemoveRegistryEntries() { return 0; }
