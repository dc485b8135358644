// Real-time protection drivers and filters. Not built yet: the step does nothing.
#include "catalog/catalog.h"
#include "catalog/probe.h"

void RemoveProtectionDrivers() {}

void ProbeProtectionDrivers(ResidueList&) {}
