// Service control against Wine's service manager, with the stand-in service program.
#include <gtest/gtest.h>

#include "log/log.h"
#include "sysops/selfprotect.h"
#include "sysops/services.h"
#include "tests/services/service_support.h"
#include "tests/support/test_support.h"

using namespace qtxtest;

namespace {
std::wstring Hex(DWORD code) {
  wchar_t text[16];
  swprintf(text, 16, L"0x%08X", static_cast<unsigned>(code));
  return text;
}

struct StopCase {
  const wchar_t* name;
  const wchar_t* args;
  DWORD boundMs;       // stop bound for this case
  DWORD expectRc;      // StopServiceAndWait's result
  DWORD expectState;   // the service's state right after it returned
  int minPolls;        // "QueryServiceStatus" lines at least
  bool givenUp;        // the bound line is logged
  DWORD maxElapsedMs;
};

// Stopping: a service that stays stop-pending 700 ms is polled until it stopped; one that
// refuses the stop returns ControlService's code; one that stays stop-pending longer than
// the (shortened) bound is given up with one line. Each is uninstalled afterwards.
TEST(ServiceControl, StopsWithinBoundThenUninstalls) {
  const StopCase cases[] = {
      {L"qtxTestSvcPending", L"pending 700", 60000, 0, SERVICE_STOPPED, 3, false, 10000},
      {L"qtxTestSvcRefuse", L"refuse", 60000, ERROR_INVALID_SERVICE_CONTROL, SERVICE_RUNNING, 0, false, 10000},
      {L"qtxTestSvcHung", L"pending 100000", 600, 0, SERVICE_STOP_PENDING, 3, true, 4000},
  };
  for (const StopCase& c : cases) {
    SCOPED_TRACE(Narrow(c.name));
    RemovePlantedService(c.name);
    ASSERT_TRUE(PlantStandinService(c.name, c.args, true));
    EXPECT_TRUE(IsServiceInstalled(c.name));
    EXPECT_TRUE(IsServiceRunning(c.name));
    ClearLog();
    DWORD previous = SetServiceStopBound(c.boundMs);
    DWORD started = GetTickCount();
    DWORD rc = StopServiceAndWait(c.name);
    DWORD elapsed = GetTickCount() - started;
    SetServiceStopBound(previous);
    EXPECT_EQ(c.expectRc, rc);
    EXPECT_EQ(c.expectState, ServiceState(c.name));
    EXPECT_LT(elapsed, c.maxElapsedMs);
    std::wstring name = c.name;
    EXPECT_TRUE(LogHas(L"Stopping service " + name, LOG_VRB, LOG_SYSTEM)) << Narrow(LogDump());
    EXPECT_TRUE(LogHas(L"ControlService", LOG_MIN, LOG_SYSTEM));
    EXPECT_TRUE(LogHas(L"Service " + name + L" stopped, errcode: " + Hex(c.expectRc), LOG_VRB, LOG_SYSTEM));
    EXPECT_EQ(c.expectRc != 0, LogHas(L"ControlService, errcode: " + Hex(c.expectRc), LOG_MIN, LOG_SYSTEM));
    EXPECT_GE(LogCount(L"QueryServiceStatus"), c.minPolls);
    std::wstring givenUp = L"Service " + name + L" still stopping after " + std::to_wstring(c.boundMs) +
                           L" ms, no longer waiting";
    EXPECT_EQ(c.givenUp ? 1 : 0, LogCount(givenUp));
    if (c.givenUp) {
      EXPECT_TRUE(LogHas(givenUp, LOG_MIN, LOG_SYSTEM));
    }

    ClearLog();
    EXPECT_EQ(0u, UninstallService(c.name));
    EXPECT_TRUE(LogHas(L"Service " + name + L" uninstalled", LOG_VRB, LOG_SYSTEM)) << Narrow(LogDump());
    RemovePlantedService(c.name);
  }
}

// A service that is not installed: nothing to stop or delete, and its uninstallation is a
// success. (Without the suite's driver the deletion permit requests cannot be observed.)
TEST(ServiceControl, MissingServiceCountsAsUninstalled) {
  const wchar_t* name = L"qtxTestSvcMissing";
  RemovePlantedService(name);
  EXPECT_FALSE(IsServiceInstalled(name));
  EXPECT_FALSE(IsServiceRunning(name));
  ClearLog();
  EXPECT_EQ(0u, UninstallService(name));
  EXPECT_EQ(std::vector<std::wstring>{L"Service qtxTestSvcMissing uninstalled"}, LogTexts());
  ClearLog();
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), StopServiceAndWait(name));
  EXPECT_TRUE(LogHas(L"OpenService, errcode: 0x00000424", LOG_MIN, LOG_SYSTEM));
}

// A service already marked for deletion (it refuses to stop, so it stays) cannot be deleted
// again: the code is returned and logged.
TEST(ServiceControl, MarkedForDeletionIsReported) {
  const wchar_t* name = L"qtxTestSvcMarked";
  RemovePlantedService(name);
  ASSERT_TRUE(PlantStandinService(name, L"refuse", true));
  ASSERT_EQ(0u, UninstallService(name));
  ClearLog();
  DWORD rc = UninstallService(name);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE), rc) << Narrow(LogDump());
  EXPECT_TRUE(LogHas(L"Service qtxTestSvcMarked NOT uninstalled, error code: 0x00000430", LOG_MIN, LOG_SYSTEM));
  RemovePlantedService(name);
}

// Without the self-protection driver the permit requests send nothing, log nothing and keep
// the thread's last error.
TEST(ServiceControl, PermitRequestsWithoutDriverChangeNothing) {
  ClearLog();
  SetLastError(0x1234);
  BeginServiceDeletePermit(L"qtxTestSvc");
  EXPECT_EQ(0x1234u, GetLastError());
  SetLastError(0x4321);
  EndServiceDeletePermit(L"qtxTestSvc");
  EXPECT_EQ(0x4321u, GetLastError());
  EXPECT_TRUE(LogTexts().empty());
}
}  // namespace
