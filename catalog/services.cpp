// The suite's services. The service table and service control are not built yet: the step
// does nothing and reports success.
#include "catalog/catalog.h"
#include "catalog/probe.h"

DWORD RemoveServices() { return 0; }

void ProbeServices(ResidueList&) {}
