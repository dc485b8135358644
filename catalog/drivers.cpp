// Real-time protection drivers and filters. Not built yet: the step does nothing.
#include "catalog/catalog.h"

void RemoveProtectionDrivers() {}
