// Delete on restart (being written on its own branch).
#pragma once
#include <windows.h>
DWORD CommitRebootQueue(DWORD exemptCount, const wchar_t* const* exemptPaths);
