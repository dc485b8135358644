#include "sysops/services.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/handles.h"
#include "base/regkey.h"
#include "log/log.h"
#include "setup/setup_globals.h"
#include "sysops/selfprotect.h"

namespace {
constexpr DWORD kStopPollMs = 125;
// A service still stop-pending after this long is given up, so that one hung service
// cannot hold the whole run.
DWORD g_stopBoundMs = 60000;

constexpr const wchar_t* kServicesKey = L"SYSTEM\\CurrentControlSet\\Services\\";
constexpr const wchar_t* kGroupOrderListKey = L"SYSTEM\\CurrentControlSet\\Control\\GroupOrderList";

bool IsNtFamily() { return g_setup.IsOS(OS_NT); }

UniqueServiceHandle OpenService(const wchar_t* name, DWORD managerAccess, DWORD serviceAccess) {
  UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, managerAccess));
  if (!manager) return UniqueServiceHandle();
  return UniqueServiceHandle(OpenServiceW(manager.get(), name, serviceAccess));
}

// Polls while the service reports stop-pending, at most for the stop bound.
void WaitWhileStopPending(SC_HANDLE service, const wchar_t* name) {
  DWORD started = GetTickCount();
  for (;;) {
    SERVICE_STATUS status = {};
    if (!QueryServiceStatus(service, &status)) return;
    g_log.Print(LOG_MIN, LOG_SYSTEM, L"QueryServiceStatus");
    if (status.dwCurrentState != SERVICE_STOP_PENDING) return;
    if (GetTickCount() - started >= g_stopBoundMs) {
      g_log.Print(LOG_MIN, LOG_SYSTEM, L"Service %s still stopping after %u ms, no longer waiting", name,
                  static_cast<unsigned>(g_stopBoundMs));
      return;
    }
    Sleep(kStopPollMs);
  }
}

DWORD StopService(const wchar_t* name) {
  g_log.Print(LOG_MIN, LOG_SYSTEM, L"OpenSCManager");
  UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    DWORD rc = GetLastError();
    g_log.Print(LOG_MIN, LOG_SYSTEM, L"OpenSCManager, errcode: 0x%08X", rc);
    return rc;
  }
  g_log.Print(LOG_MIN, LOG_SYSTEM, L"OpenService");
  UniqueServiceHandle service(OpenServiceW(manager.get(), name, SERVICE_STOP | SERVICE_QUERY_STATUS));
  if (!service) {
    DWORD rc = GetLastError();
    g_log.Print(LOG_MIN, LOG_SYSTEM, L"OpenService, errcode: 0x%08X", rc);
    return rc;
  }
  g_log.Print(LOG_MIN, LOG_SYSTEM, L"ControlService");
  SERVICE_STATUS status = {};
  if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
    DWORD rc = GetLastError();
    g_log.Print(LOG_MIN, LOG_SYSTEM, L"ControlService, errcode: 0x%08X", rc);
    return rc;
  }
  WaitWhileStopPending(service.get(), name);
  return 0;
}

DWORD DeleteServiceByName(const wchar_t* name) {
  UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return GetLastError();
  UniqueServiceHandle service(OpenServiceW(manager.get(), name, DELETE));
  if (!service) return GetLastError();
  if (!DeleteService(service.get())) return GetLastError();
  return 0;
}

// The service's "Group" (REG_SZ). Group names of up to 30 characters are read.
bool ReadServiceGroup(const std::wstring& serviceKey, std::wstring& group) {
  UniqueRegKey key;
  if (regOpenKey(HKEY_LOCAL_MACHINE, serviceKey.c_str(), KEY_READ, key) != ERROR_SUCCESS) return false;
  DWORD type = 0;
  if (RegQueryValueExW(key.get(), L"Group", nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) return false;
  if (type != REG_SZ) return false;
  wchar_t buffer[64] = {};
  DWORD bytes = 63;
  if (RegQueryValueExW(key.get(), L"Group", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) !=
      ERROR_SUCCESS)
    return false;
  group = buffer;
  return true;
}

// The tags a GroupOrderList value really holds: a count followed by that many tags, the
// count trusted only as far as the data goes.
std::vector<DWORD> TagsInList(const std::vector<BYTE>& data) {
  DWORD claimed = 0;
  memcpy(&claimed, data.data(), 4);
  size_t present = (data.size() - 4) / 4;
  if (claimed < present) present = claimed;
  std::vector<DWORD> tags(present);
  if (present) memcpy(tags.data(), data.data() + 4, present * 4);
  return tags;
}

std::vector<BYTE> ListOfTags(const std::vector<DWORD>& tags) {
  DWORD count = static_cast<DWORD>(tags.size());
  std::vector<BYTE> data(4 + tags.size() * 4);
  memcpy(data.data(), &count, 4);
  if (count) memcpy(data.data() + 4, tags.data(), tags.size() * 4);
  return data;
}

// The list value of `group`. A list is binary and holds at least its count; anything else
// counts as no list and is left alone.
bool ReadGroupList(HKEY list, const std::wstring& group, std::vector<BYTE>& data) {
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(list, group.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  if (type != REG_BINARY || size < 4) return false;
  data.assign(size, 0);
  if (RegQueryValueExW(list, group.c_str(), nullptr, &type, data.data(), &size) != ERROR_SUCCESS) return false;
  data.resize(size);
  return type == REG_BINARY && size >= 4;
}
}  // namespace

DWORD SetServiceStopBound(DWORD milliseconds) {
  DWORD previous = g_stopBoundMs;
  g_stopBoundMs = milliseconds;
  return previous;
}

bool IsServiceInstalled(const wchar_t* name) {
  if (!IsNtFamily()) return false;
  return static_cast<bool>(OpenService(name, SC_MANAGER_CONNECT, SERVICE_QUERY_CONFIG));
}

bool IsServiceRunning(const wchar_t* name) {
  if (!IsNtFamily()) return false;
  UniqueServiceHandle service = OpenService(name, SC_MANAGER_CONNECT, SERVICE_QUERY_STATUS);
  if (!service) return false;
  SERVICE_STATUS status = {};
  return QueryServiceStatus(service.get(), &status) && status.dwCurrentState == SERVICE_RUNNING;
}

DWORD StopServiceAndWait(const wchar_t* name) {
  if (!IsNtFamily()) return 0;
  try {
    g_log.Print(LOG_VRB, LOG_SYSTEM, L"Stopping service %s", name);
    DWORD rc = StopService(name);
    g_log.Print(LOG_VRB, LOG_SYSTEM, L"Service %s stopped, errcode: 0x%08X", name, rc);
    return rc;
  } catch (...) {
    g_log.Print(LOG_VRB, LOG_SYSTEM, L"Catch while stopping service %s, errcode: 0x%08X", name, GetLastError());
    throw;
  }
}

DWORD UninstallService(const wchar_t* name) {
  if (!IsNtFamily() || !IsServiceInstalled(name)) {
    g_log.Print(LOG_VRB, LOG_SYSTEM, L"Service %s uninstalled", name);
    return 0;
  }
  BeginServiceDeletePermit(name);
  DWORD rc = DeleteServiceByName(name);
  EndServiceDeletePermit(name);
  if (rc) {
    g_log.Print(LOG_MIN, LOG_SYSTEM, L"Service %s NOT uninstalled, error code: 0x%08X", name, rc);
    return rc;
  }
  g_log.Print(LOG_VRB, LOG_SYSTEM, L"Service %s uninstalled", name);
  return 0;
}

DWORD RemoveServiceLoadOrderTag(const wchar_t* name) {
  std::wstring serviceKey = std::wstring(kServicesKey) + name;
  std::wstring group;
  if (!ReadServiceGroup(serviceKey, group)) return 0;

  UniqueRegKey list;
  if (regOpenKey(HKEY_LOCAL_MACHINE, kGroupOrderListKey, KEY_ALL_ACCESS, list) != ERROR_SUCCESS) return 0;
  std::vector<BYTE> data;
  if (!ReadGroupList(list.get(), group, data)) return 0;
  DWORD tag = 0;
  if (regGetDword(serviceKey.c_str(), L"Tag", &tag) != ERROR_SUCCESS) return 0;
  g_log.Print(LOG_NRM, LOG_SYSTEM, L"Removing service '%s' load order id=%d in group '%s'", name,
              static_cast<int>(tag), group.c_str());
  std::vector<DWORD> tags = TagsInList(data);
  auto found = std::find(tags.begin(), tags.end(), tag);
  if (found != tags.end()) {
    tags.erase(found);
    data = ListOfTags(tags);
    RegSetValueExW(list.get(), group.c_str(), 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
  }
  return 0;
}

bool IsServiceLoadOrderTagListed(const wchar_t* name) {
  std::wstring serviceKey = std::wstring(kServicesKey) + name;
  std::wstring group;
  if (!ReadServiceGroup(serviceKey, group)) return false;
  UniqueRegKey list;
  if (regOpenKey(HKEY_LOCAL_MACHINE, kGroupOrderListKey, KEY_READ, list) != ERROR_SUCCESS) return false;
  std::vector<BYTE> data;
  if (!ReadGroupList(list.get(), group, data)) return false;
  DWORD tag = 0;
  if (regGetDword(serviceKey.c_str(), L"Tag", &tag) != ERROR_SUCCESS) return false;
  std::vector<DWORD> tags = TagsInList(data);
  return std::find(tags.begin(), tags.end(), tag) != tags.end();
}
