#include "app/removal_run.h"

// The sequence is being written.
DWORD RemovalRun() { return 0; }
