// The presence probe: every catalog row can be asked whether what it removes is still on the
// machine, without changing anything. A dry run and a residue report after a run walk the
// same rows the removal walks.
#pragma once
#include <string>
#include <utility>
#include <vector>

// One thing of the suite's that a row removes and that is still there.
struct Residue {
  Residue() = default;
  Residue(std::wstring k, std::wstring w, std::wstring v = std::wstring())
      : kind(std::move(k)), what(std::move(w)), view(std::move(v)) {}
  std::wstring kind;  // "service", "driver file", "key", "value", "file", "folder", ...
  std::wstring what;  // the expanded path, key or name, as the row addresses it
  std::wstring view;  // registry items: "32-bit" or "64-bit" on 64-bit Windows; else empty
  int step = -1;      // index into kProbeSteps, set by the walk
};
typedef std::vector<Residue> ResidueList;

// Appends a copy of item. Every probe adds through it: the 32-bit build's link-time optimiser
// fails (internal error) on the inlined moving push_back of this type.
void AddResidue(ResidueList& found, const Residue& item);

// Something of the suite's that the removal would refuse to touch, and why.
struct Refusal {
  std::wstring kind;
  std::wstring what;
  std::wstring reason;
  int step = -1;      // index into kProbeSteps of the step that leaves it
  bool kept = true;   // it stays by design (not counted as remaining); false: only not queued
};
typedef std::vector<Refusal> RefusalList;

// Per catalog step: appends what its rows find still present. None changes anything.
void ProbeServices(ResidueList& found);
void ProbeProtectionDrivers(ResidueList& found);  // with the mail-client add-in rows
void ProbeAddinsAndModules(ResidueList& found);
void ProbeRegistryEntries(ResidueList& found);
void ProbeFilesAndShortcuts(ResidueList& found);
void ProbeBrowserAndGadget(ResidueList& found);

// The steps in the order of the removal run: a name for reports and why its items go.
struct ProbeStep {
  const wchar_t* name;
  const wchar_t* reason;
  void (*probe)(ResidueList&);
};
extern const ProbeStep kProbeSteps[];
extern const size_t kProbeStepCount;

// Every step's probe, in run order, each item tagged with its step and view (registry items;
// on 64-bit Windows also files in the native system folder, "64-bit"), without the items the
// removal keeps by design (ProbeRefusals).
ResidueList ProbeSuiteResidue();
// The same with the refusals already probed.
ResidueList ProbeSuiteResidueBesides(const RefusalList& refused);

// What the removal would refuse to touch: program or data folders the folder-safety rule
// refuses; files the SharedDLLs list counts (the driver step's shared files, the mail
// client's cache, anything below the folder trees the files step removes) and the folders
// that keep because they hold one; and, not kept but walked without queueing anything for the
// restart, folder trees that could not be locked against standard users.
RefusalList ProbeRefusals();
