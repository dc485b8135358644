// Internals of the driver step that tests call directly.
#pragma once
#include "catalog/probe.h"

// Removes the suite's keyboard filter ("qtxKbd") from the keyboard class's "UpperFilters" in
// every HKLM\SYSTEM\ControlSetNNN; the other subkeys of SYSTEM are skipped.
void RemoveKeyboardFilterEntries();

// The mail-client rows of the driver step (add-in keys in both views, the extension cache).
void ProbeOutlookAddins(ResidueList& found);
