// Stand-in for the suite's base library. Each export appends a line naming itself and its
// arguments to "<this module's path>.calls". Driven by environment variables of the process
// that loads it:
//   QTX_PMRBASE_BROWSERS         digits of the installed browsers (e.g. "13"); none when unset
//   QTX_PMRBASE_UNINSTALL_RESULT the plug-in removal's result, decimal (0 when unset)
//   QTX_PMRBASE_SIDEBAR_RUNNING  "1": the kill export reports a stopped Sidebar
// The exports get their decorated __stdcall names from the .def files.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
HMODULE g_self = nullptr;

void Record(const char* line) {
  wchar_t path[MAX_PATH + 8] = {0};
  GetModuleFileNameW(g_self, path, MAX_PATH);
  lstrcatW(path, L".calls");
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line, lstrlenA(line), &written, nullptr);
  WriteFile(file, "\n", 1, &written, nullptr);
  CloseHandle(file);
}

// The variable's value, or "" when it is not set.
const char* Setting(const char* name) {
  static char value[64];
  DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  if (n == 0 || n >= sizeof value) value[0] = '\0';
  return value;
}
}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) g_self = instance;
  return TRUE;
}

extern "C" DWORD WINAPI IsBrowserInstalled(DWORD browser) {
  char line[64];
  snprintf(line, sizeof line, "IsBrowserInstalled %lu", browser);
  Record(line);
  char digit = static_cast<char>('0' + browser);
  return browser < 10 && strchr(Setting("QTX_PMRBASE_BROWSERS"), digit) ? 2 : 1;
}

extern "C" DWORD WINAPI UninstallPlugin(DWORD browser) {
  char line[64];
  snprintf(line, sizeof line, "UninstallPlugin %lu", browser);
  Record(line);
  return strtoul(Setting("QTX_PMRBASE_UNINSTALL_RESULT"), nullptr, 10);
}

extern "C" DWORD WINAPI UninstallGadget() {
  Record("UninstallGadget");
  return 0;
}

extern "C" DWORD WINAPI KillSidebar(DWORD reserved, DWORD sessionId) {
  char line[64];
  snprintf(line, sizeof line, "KillSidebar %lu %lu", reserved, sessionId);
  Record(line);
  return Setting("QTX_PMRBASE_SIDEBAR_RUNNING")[0] == '1' ? 1 : 0;
}

extern "C" DWORD WINAPI StartSidebar() {
  Record("StartSidebar");
  return 0;
}
