// Network components and driver packages. Wine's network configuration object creates,
// locks and initialises, but its FindComponent is not implemented (E_NOTIMPL), so only
// the failure path of a component removal can be observed here. Wine's
// SetupUninstallOEMInfW reports success and deletes nothing, so the tests replace it
// through the run-time look-up and check which INF paths it is given.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/dynapi.h"
#include "base/path.h"
#include "log/log.h"
#include "sysops/netcfg.h"
#include "tests/support/test_support.h"

using namespace qtxtest;

namespace {
std::vector<std::wstring> g_uninstalled;
bool g_setupapiLoadedDuringCall = false;
BOOL g_answer = TRUE;

BOOL WINAPI RecordUninstall(const wchar_t* inf, DWORD flags, void* reserved) {
  g_uninstalled.push_back(inf);
  g_setupapiLoadedDuringCall = GetModuleHandleW(L"setupapi.dll") != nullptr;
  if (flags != 0 || reserved != nullptr) return FALSE;
  if (!g_answer) SetLastError(ERROR_ACCESS_DENIED);
  return g_answer;
}

std::wstring InfFolder() {
  wchar_t windows[MAX_PATH];
  GetWindowsDirectoryW(windows, MAX_PATH);
  return JoinPath(windows, L"Inf");
}

struct PlantedInf {
  const wchar_t* name;
  const char* catalog;
  const char* provider;
};
const PlantedInf kInfs[] = {
    {L"oemqtx91.inf", "qtxTestPkg.cat", "VELKO Software"},
    {L"oemqtx92.inf", "QTXTESTPKG.CAT", "Other Maker"},
    {L"oemqtx93.inf", "qtxTestOther.cat", "VELKO Software"},
};

class Packages : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const PlantedInf& inf : kInfs) {
      std::string text = std::string("[Version]\r\nSignature=\"$Windows NT$\"\r\nProvider=") + inf.provider +
                         "\r\nCatalogFile=" + inf.catalog + "\r\n";
      ASSERT_TRUE(WriteBytes(JoinPath(InfFolder(), inf.name), text));
    }
    g_uninstalled.clear();
    g_answer = TRUE;
    OverrideProc("SetupUninstallOEMInfW", reinterpret_cast<FARPROC>(RecordUninstall));
    ClearLog();
  }
  void TearDown() override {
    ClearProcOverrides();
    for (const PlantedInf& inf : kInfs) DeleteFileW(JoinPath(InfFolder(), inf.name).c_str());
  }
  static std::wstring Inf(const wchar_t* name) { return JoinPath(InfFolder(), name); }
};

// Which planted INFs a catalog name and provider filter select (in the folder's order).
TEST_F(Packages, SelectedByCatalogAndProvider) {
  struct Case {
    const wchar_t* catalog;
    const wchar_t* provider;
    std::vector<std::wstring> expected;
  };
  const Case cases[] = {
      {L"qtxtestpkg.cat", L"", {Inf(L"oemqtx91.inf"), Inf(L"oemqtx92.inf")}},
      {L"qtxTestPkg.cat", L"velko software", {Inf(L"oemqtx91.inf")}},
      {L"qtxTestPkg.cat", L"Nobody", {}},
      {L"qtxTestOther.cat", L"", {Inf(L"oemqtx93.inf")}},
      {L"qtxNoSuch.cat", L"", {}},
  };
  bool loadedBefore = GetModuleHandleW(L"setupapi.dll") != nullptr;
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.catalog) + " / " + Narrow(c.provider));
    g_uninstalled.clear();
    g_setupapiLoadedDuringCall = false;
    std::vector<std::wstring> probed = FindOemDriverPackages(c.catalog, c.provider);
    std::sort(probed.begin(), probed.end());
    EXPECT_EQ(c.expected, probed);
    EXPECT_EQ(0u, RemoveOemDriverPackage(c.catalog, c.provider));
    std::vector<std::wstring> got = g_uninstalled;
    std::sort(got.begin(), got.end());
    EXPECT_EQ(c.expected, got);
    if (!c.expected.empty()) {
      EXPECT_TRUE(g_setupapiLoadedDuringCall);
    }
  }
  EXPECT_TRUE(LogTexts().empty()) << Narrow(LogDump());
  // setupapi.dll was loaded for the calls only: freed again when the process had none.
  if (!loadedBefore) {
    EXPECT_EQ(nullptr, GetModuleHandleW(L"setupapi.dll"));
  }
}

TEST_F(Packages, FailuresAreLoggedPerInf) {
  g_answer = FALSE;
  RemoveOemDriverPackage(L"qtxTestPkg.cat", L"");
  EXPECT_EQ(2u, g_uninstalled.size());
  for (const wchar_t* name : {L"oemqtx91.inf", L"oemqtx92.inf"})
    EXPECT_TRUE(LogHas(L"Error: Unable to uninstall OEM inf file '" + Inf(name) + L"' with error 0x00000005!",
                       LOG_MIN, LOG_SYSTEM))
        << Narrow(LogDump());

  // Without the function (Windows 2000) each matching INF gets the notice.
  ClearLog();
  OverrideProc("SetupUninstallOEMInfW", nullptr);
  RemoveOemDriverPackage(L"qtxTestPkg.cat", L"");
  std::vector<std::wstring> lines = LogTexts();
  ASSERT_EQ(2u, lines.size()) << Narrow(LogDump());
  for (const std::wstring& line : lines)
    EXPECT_EQ(0u, line.find(L"Notice: Unable to get address of the SetupUninstallOEMInf function with error 0x"));
  EXPECT_NE(std::wstring::npos, lines[0].find(L". It is to be expected on Windows 2000."));
}

// A component removal that fails logs its result and looks for no package, even when an
// INF names the catalog. Under Wine the failure is FindComponent's E_NOTIMPL.
TEST_F(Packages, NoPackageAfterComponentFailure) {
  HRESULT hr = RemoveNetworkComponent(L"sw_qtxtest", L"qtxTestPkg.cat");
  EXPECT_NE(S_OK, hr);
  wchar_t line[96];
  swprintf(line, 96, L"Couldn't uninstall the network component, result: 0x%08X.", static_cast<unsigned>(hr));
  EXPECT_EQ(std::vector<std::wstring>{line}, LogTexts());
  EXPECT_TRUE(g_uninstalled.empty());
}

// The write lock is released again: a second client gets it at once.
TEST(NetCfg, WriteLockIsReleased) {
  for (int round = 0; round < 2; ++round) {
    ComPtr<INetCfg> netcfg;
    std::wstring holder;
    ASSERT_EQ(S_OK, AcquireNetCfg(L"", netcfg, holder)) << round;
    EXPECT_TRUE(static_cast<bool>(netcfg));
    ReleaseNetCfg(netcfg);
    EXPECT_FALSE(static_cast<bool>(netcfg));
  }
}
}  // namespace
