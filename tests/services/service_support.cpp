#include "tests/services/service_support.h"

#include "base/handles.h"
#include "tests/process/standin_support.h"

namespace qtxtest {
namespace {
UniqueServiceHandle OpenManager() { return UniqueServiceHandle(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)); }

bool WaitForState(SC_HANDLE service, DWORD state, DWORD timeoutMs) {
  for (DWORD waited = 0; waited <= timeoutMs; waited += 50) {
    SERVICE_STATUS status = {};
    if (QueryServiceStatus(service, &status) && status.dwCurrentState == state) return true;
    Sleep(50);
  }
  return false;
}
}  // namespace

bool PlantStandinService(const wchar_t* name, const wchar_t* args, bool start) {
  UniqueServiceHandle manager = OpenManager();
  std::wstring command = L"\"" + BesideTestProgram(L"qtx_svc_standin.exe") + L"\" " + args;
  UniqueServiceHandle service(CreateServiceW(manager.get(), name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                             SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, command.c_str(), nullptr,
                                             nullptr, nullptr, nullptr, nullptr));
  if (!service) return false;
  if (!start) return true;
  return StartServiceW(service.get(), 0, nullptr) && WaitForState(service.get(), SERVICE_RUNNING, 10000);
}

bool PlantDriverService(const wchar_t* name) {
  UniqueServiceHandle manager = OpenManager();
  std::wstring image = std::wstring(L"system32\\drivers\\") + name + L".sys";
  UniqueServiceHandle service(CreateServiceW(manager.get(), name, name, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                             SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, image.c_str(), nullptr,
                                             nullptr, nullptr, nullptr, nullptr));
  return static_cast<bool>(service);
}

void RemovePlantedService(const wchar_t* name) {
  UniqueServiceHandle manager = OpenManager();
  UniqueServiceHandle service(OpenServiceW(manager.get(), name, SERVICE_ALL_ACCESS));
  if (!service) return;
  SERVICE_STATUS_PROCESS status = {};
  DWORD needed = 0;
  DWORD pid = 0;
  if (QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                           &needed) &&
      status.dwCurrentState != SERVICE_STOPPED)
    pid = status.dwProcessId;
  DeleteService(service.get());
  if (pid) {
    UniqueKernelHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    if (process) {
      TerminateProcess(process.get(), 1);
      WaitForSingleObject(process.get(), 5000);
    }
  }
  service.reset();
  // The manager removes a service marked for deletion once its process has ended.
  for (int i = 0; i < 100; ++i) {
    UniqueServiceHandle still(OpenServiceW(manager.get(), name, SERVICE_QUERY_STATUS));
    if (!still) return;
    Sleep(50);
  }
}

DWORD ServiceState(const wchar_t* name) {
  UniqueServiceHandle manager = OpenManager();
  UniqueServiceHandle service(OpenServiceW(manager.get(), name, SERVICE_QUERY_STATUS));
  SERVICE_STATUS status = {};
  if (!service || !QueryServiceStatus(service.get(), &status)) return 0;
  return status.dwCurrentState;
}

std::wstring ServiceKey(const wchar_t* name) { return std::wstring(L"SYSTEM\\CurrentControlSet\\Services\\") + name; }
}  // namespace qtxtest
