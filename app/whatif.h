// "/whatif": the removal's rows walked with the presence probes only. Lists what a removal
// would remove, step by step in run order, and what it would refuse to touch; changes nothing.
#pragma once
#include <string>

#include "catalog/probe.h"

// The listing: per step its items (kind, view, path, why) and count, the total, the refusals,
// and whether the self-protection is on.
std::wstring WhatIfText(const ResidueList& items, const RefusalList& refused, bool selfProtection);

// Probes, logs the listing line by line, prints it on the starter's console or redirected
// output, or else shows a one-box summary (none when unattended). Returns the exit code:
// 0 when nothing of the suite is present, 1 when something is.
int RunWhatIf(bool selfProtection);
