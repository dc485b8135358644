// Safe-Mode boot cycle and restart (being written on its own branch).
#pragma once
#include <windows.h>
BOOL EditBootIni(bool add);
void RunBootCommand(const wchar_t* command);
BOOL CopySelf(wchar_t* path);
bool RegisterRunOnce(const wchar_t* path);
void RestartWindows();
