// The presence probe: every catalog row can be asked whether what it removes is still on the
// machine, without changing anything. A dry run and a residue report after a run walk the
// same rows the removal walks.
#pragma once
#include <string>
#include <vector>

// One thing of the suite's that a row removes and that is still there.
struct Residue {
  std::wstring kind;  // "service", "driver file", "key", "value", "file", "folder", ...
  std::wstring what;  // the expanded path, key or name, as the row addresses it
};
typedef std::vector<Residue> ResidueList;

// Per catalog step: appends what its rows find still present. None changes anything.
void ProbeServices(ResidueList& found);
void ProbeProtectionDrivers(ResidueList& found);  // with the mail-client add-in rows
void ProbeAddinsAndModules(ResidueList& found);
void ProbeRegistryEntries(ResidueList& found);
void ProbeFilesAndShortcuts(ResidueList& found);
void ProbeBrowserAndGadget(ResidueList& found);

// Every step's probe, in the order of the removal run.
ResidueList ProbeSuiteResidue();
