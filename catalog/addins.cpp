// Server add-in and registered modules. Not built yet: the steps do nothing.
#include "catalog/catalog.h"
#include "catalog/probe.h"

void RemoveWhsAddin() {}
void UnregisterModules() {}

void ProbeAddinsAndModules(ResidueList&) {}
