// The residue check after a run: the presence probes once more, each item still there marked
// when the restart queue holds it, logged and counted.
#pragma once
#include <vector>

#include "catalog/probe.h"

struct ResidueCheck {
  bool done = false;         // the check ran (a stand-in catalog may have no probe)
  ResidueList items;         // what the probes still find
  std::vector<bool> queued;  // per item: the restart queue deletes it
  unsigned QueuedCount() const;
  unsigned UnqueuedCount() const { return static_cast<unsigned>(items.size()) - QueuedCount(); }
};

// Marks each item that the restart queue holds (files and folders only).
ResidueCheck MarkQueued(const ResidueList& items);

// The summary line and one line per item still present.
void LogResidue(const ResidueCheck& check);

// The progress box's last line: how many items remain and how many go at the restart.
void ShowResidueProgress(const ResidueCheck& check);
