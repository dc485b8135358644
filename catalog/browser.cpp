// Browser plug-ins, sidebar gadget and Security Center registrations. Their tables and the
// calls into the suite's base library and WMI are not built yet: the steps do nothing.
#include "catalog/catalog.h"
#include "catalog/probe.h"

void RemoveBrowserPlugins() {}
void RemoveSidebarGadget() {}
void RemoveWscAntiVirus() {}
void RemoveWscAntiSpyware() {}
void RemoveWscFirewall() {}

void ProbeBrowserAndGadget(ResidueList&) {}
