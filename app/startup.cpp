#include "app/startup.h"

std::wstring g_logPath;

int RunStartup(HINSTANCE instance, const wchar_t* commandLine) { return 0; }
