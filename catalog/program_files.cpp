// Boot-time files, shortcuts, program and data folders. Not built yet: the steps do nothing.
#include "catalog/catalog.h"
#include "catalog/probe.h"

void RemoveBootFiles() {}
void RemoveShortcuts() {}
void RemoveProgramFiles() {}

void ProbeFilesAndShortcuts(ResidueList&) {}
