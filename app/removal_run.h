// The removal run: the fixed sequence of catalog steps with its progress lines, and the
// wrapper that also removes the suite's lasting storage and commits the restart queue.
#pragma once
#include <windows.h>

// The whole run as the start-up and the dialog start it. Returns the services step's result.
DWORD RemovalRun();
