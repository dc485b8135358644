// A stand-in for one of the suite's own-process services. Its first argument says how it
// answers a stop request:
//   stop            stops at once
//   pending MS      reports stop-pending for MS milliseconds, then stops
//   refuse          accepts no control requests, so a stop request fails
// Whatever the mode, it ends itself after two minutes, so that no test leaves it behind.
#include <windows.h>

#include <cwchar>

namespace {
SERVICE_STATUS_HANDLE g_status = nullptr;
SERVICE_STATUS g_state = {};
HANDLE g_stopped = nullptr;
DWORD g_pendingMs = 0;
bool g_refuse = false;
constexpr DWORD kLifetimeMs = 120000;

void Report(DWORD state) {
  g_state.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  g_state.dwCurrentState = state;
  g_state.dwControlsAccepted = (state == SERVICE_RUNNING && !g_refuse) ? SERVICE_ACCEPT_STOP : 0;
  g_state.dwWin32ExitCode = 0;
  g_state.dwCheckPoint = state == SERVICE_STOP_PENDING ? g_state.dwCheckPoint + 1 : 0;
  g_state.dwWaitHint = state == SERVICE_STOP_PENDING ? 1000 : 0;
  SetServiceStatus(g_status, &g_state);
}

DWORD WINAPI FinishStop(void*) {
  Sleep(g_pendingMs);
  SetEvent(g_stopped);
  return 0;
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*) {
  if (control != SERVICE_CONTROL_STOP) return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
  if (g_refuse) return ERROR_CALL_NOT_IMPLEMENTED;
  Report(SERVICE_STOP_PENDING);
  if (g_pendingMs == 0) {
    SetEvent(g_stopped);
  } else {
    HANDLE t = CreateThread(nullptr, 0, FinishStop, nullptr, 0, nullptr);
    if (t) CloseHandle(t);
  }
  return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, wchar_t**) {
  g_status = RegisterServiceCtrlHandlerExW(L"", Handler, nullptr);
  if (!g_status) return;
  Report(SERVICE_RUNNING);
  WaitForSingleObject(g_stopped, kLifetimeMs);
  Report(SERVICE_STOPPED);
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  const wchar_t* mode = argc > 1 ? argv[1] : L"stop";
  g_refuse = wcscmp(mode, L"refuse") == 0;
  if (wcscmp(mode, L"pending") == 0 && argc > 2) g_pendingMs = static_cast<DWORD>(_wtoi(argv[2]));
  g_stopped = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(L""), ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
