#include "catalog/probe.h"

ResidueList ProbeSuiteResidue() {
  ResidueList found;
  ProbeBrowserAndGadget(found);
  ProbeServices(found);
  ProbeAddinsAndModules(found);
  ProbeProtectionDrivers(found);
  ProbeFilesAndShortcuts(found);
  ProbeRegistryEntries(found);
  return found;
}
