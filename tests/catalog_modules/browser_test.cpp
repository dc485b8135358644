#include "catalog/browser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "catalog/probe.h"
#include "setup/product.h"
#include "setup/setup_globals.h"
#include "tests/catalog_modules/modules_support.h"
#include "tests/process/standin_support.h"
#include "tests/support/test_support.h"

using namespace qtxtest;

namespace {
typedef std::vector<std::wstring> Lines;

bool GadgetProbed(const std::wstring& folder) {
  ResidueList found;
  ProbeBrowserAndGadget(found);
  for (const Residue& r : found)
    if (r.kind == L"folder" && r.what == folder) return true;
  return false;
}

class BrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearLog();
    savedProgram_ = g_detectedProgramFolder;
    savedInstall_ = g_setup.installFolder;
    program_ = ScratchDir(L"browser") + L"\\Velko";
    library_ = program_ + L"\\pmrBase.dll";
  }
  void TearDown() override {
    g_detectedProgramFolder = savedProgram_;
    g_setup.installFolder = savedInstall_;
    for (const wchar_t* name : {L"QTX_PMRBASE_BROWSERS", L"QTX_PMRBASE_UNINSTALL_RESULT", L"QTX_PMRBASE_SIDEBAR_RUNNING"})
      SetEnvironmentVariableW(name, nullptr);
  }
  // A fresh copy of a base-library stand-in in the program folder, with its behaviour set.
  void PlantLibrary(const wchar_t* standin) {
    DeleteFileW((library_ + L".calls").c_str());
    ASSERT_TRUE(PlantStandin(standin, library_));
    g_detectedProgramFolder = program_;
    g_setup.installFolder = program_;
  }
  std::wstring savedProgram_, savedInstall_, program_, library_;
};
}  // namespace

TEST_F(BrowserTest, PluginsGoThroughTheBaseLibraryForEachInstalledBrowser) {
  struct Case {
    const wchar_t* standin;
    const wchar_t* installed;
    const wchar_t* uninstallResult;
    Lines calls, log;
  } const cases[] = {
      {QTX_PMRBASE_STANDIN, L"3", L"0",
       {L"IsBrowserInstalled 1", L"IsBrowserInstalled 2", L"IsBrowserInstalled 3", L"UninstallPlugin 3"},
       {L"Browser \"Internet Explorer\" not found", L"Browser \"Firefox\" not found"}},
      {QTX_PMRBASE_STANDIN, L"123", L"5",
       {L"IsBrowserInstalled 1", L"UninstallPlugin 1", L"IsBrowserInstalled 2", L"UninstallPlugin 2",
        L"IsBrowserInstalled 3", L"UninstallPlugin 3"},
       {L"basSiteRankUninstallPlugin for \"Internet Explorer\" returned 0x00000005",
        L"basSiteRankUninstallPlugin for \"Firefox\" returned 0x00000005",
        L"basSiteRankUninstallPlugin for \"Chrome\" returned 0x00000005"}},
      // A library without the exports.
      {QTX_COM_STANDIN, L"123", L"0", {},
       {L"Couldn't find export of basSiteRankUninstallPlugin or bas_hlp_SiteRankIsBrowserInstalled"}},
  };
  for (const Case& c : cases) {
    PlantLibrary(c.standin);
    SetEnvironmentVariableW(L"QTX_PMRBASE_BROWSERS", c.installed);
    SetEnvironmentVariableW(L"QTX_PMRBASE_UNINSTALL_RESULT", c.uninstallResult);
    ClearLog();
    RemoveBrowserPlugins();
    EXPECT_EQ(CallsOf(library_), c.calls) << Narrow(c.installed);
    EXPECT_EQ(LogTexts(), c.log) << Narrow(LogDump());
  }

  // Without a program folder the library is not looked for by its bare name.
  std::wstring beside = BesideTestProgram(L"pmrBase.dll");
  ASSERT_TRUE(PlantStandin(QTX_PMRBASE_STANDIN, beside));
  g_detectedProgramFolder.clear();
  ClearLog();
  RemoveBrowserPlugins();
  EXPECT_TRUE(CallsOf(beside).empty());
  EXPECT_EQ(LogTexts(), Lines{L"Module \"pmrBase.dll\" skipped: no absolute path"});
  DeleteFileW(beside.c_str());
}

TEST_F(BrowserTest, GadgetRemovedWithTheSidebarStoppedAndStartedOnlyWhenItRan) {
  DWORD session = 0xFFFFFFFF;
  ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
  const std::wstring kill = L"KillSidebar 0 " + std::to_wstring(session);
  wchar_t programFiles[MAX_PATH] = {0};
  // "%PRGFILES%" is the native program-files folder, also for the 32-bit product.
  ASSERT_GT(GetEnvironmentVariableW(L"ProgramW6432", programFiles, MAX_PATH), 0u);
  const std::wstring gadget = std::wstring(programFiles) + L"\\Windows Sidebar\\Shared Gadgets\\qtxSidebar.gadget";
  const wchar_t* missingExports = L"Couldn't find exports for gadget uninstalling";

  struct Case {
    const wchar_t* standin;  // null: no program folder
    const wchar_t* sidebarRunning;
    Lines calls;
    bool exportsMissing;
  } const cases[] = {
      {QTX_PMRBASE_STANDIN, L"1", {kill, L"UninstallGadget", L"StartSidebar"}, false},
      {QTX_PMRBASE_STANDIN, L"0", {kill, L"UninstallGadget"}, false},
      {QTX_PMRBASE_NOSTART_STANDIN, L"1", {kill, L"UninstallGadget"}, true},
      {nullptr, L"1", {}, false},
  };
  ASSERT_TRUE(PlantStandin(QTX_REGSVR64_STANDIN, program_ + L"\\qtxRegSvr64.exe"));
  for (const Case& c : cases) {
    ASSERT_TRUE(PlantStandin(QTX_COM_STANDIN, gadget + L"\\gadget.xml"));
    ASSERT_TRUE(PlantStandin(QTX_COM_STANDIN, gadget + L"\\images\\x.png"));
    EXPECT_TRUE(GadgetProbed(gadget));
    DeleteFileW((library_ + L".calls").c_str());
    if (c.standin) {
      PlantLibrary(c.standin);
    } else {
      g_detectedProgramFolder.clear();
      g_setup.installFolder.clear();
    }
    SetEnvironmentVariableW(L"QTX_PMRBASE_SIDEBAR_RUNNING", c.sidebarRunning);
    ClearLog();
    RemoveSidebarGadget();

    EXPECT_EQ(CallsOf(library_), c.calls);
    EXPECT_EQ(LogHas(missingExports, LOG_VRB, LOG_GENERAL), c.exportsMissing) << Narrow(LogDump());
    EXPECT_FALSE(PathExists(gadget));
    EXPECT_FALSE(GadgetProbed(gadget));
    if (c.standin) {
      // On 64-bit Windows only the 64-bit GUI proxy is unregistered, by the helper.
      HelperRun run = WaitForHelperRun(program_);
      EXPECT_EQ(run.commandLine, L"qtxRegSvr64.exe /u \"" + program_ + L"\\VelkoGUIProxy64.dll\"");
    } else {
      EXPECT_EQ(LogCount(L"Module \"pmrBase.dll\" skipped: no absolute path"), 1);
      EXPECT_TRUE(LogHas(L"Error in 64-bit object \"VelkoGUIProxy64.dll\" unregistration")) << Narrow(LogDump());
    }
    EXPECT_EQ(LogDump().find(L"VelkoGUIProxy.dll"), std::wstring::npos);
  }
}

namespace {
// Stands in for the WMI connection: records the deletions asked of it.
class FakeServices : public IWbemServices {
 public:
  HRESULT deleteResult = 0;
  Lines deleted;
  LONG refs = 1;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE DeleteInstance(const BSTR path, LONG flags, IWbemContext* context,
                                           IWbemCallResult** result) override {
    deleted.push_back(path);
    EXPECT_EQ(flags, 0);
    EXPECT_EQ(context, nullptr);
    EXPECT_EQ(result, nullptr);
    return deleteResult;
  }
  HRESULT STDMETHODCALLTYPE OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**, IWbemCallResult**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryObjectSink(LONG, IWbemObjectSink**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetObject(const BSTR, LONG, IWbemContext*, IWbemClassObject**, IWbemCallResult**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetObjectAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE PutClassAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CreateClassEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CreateClassEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DeleteInstanceAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*, IWbemClassObject**, IWbemCallResult**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*, IWbemObjectSink*) override { return E_NOTIMPL; }
};

FakeServices* g_services = nullptr;
HRESULT g_connectResult = S_OK;
int g_connects = 0;
HRESULT FakeConnect(IWbemServices** out) {
  ++g_connects;
  *out = nullptr;
  if (FAILED(g_connectResult)) return g_connectResult;
  g_services->AddRef();
  *out = g_services;
  return g_connectResult;
}

const HRESULT kNotFound = static_cast<HRESULT>(0x80041002);          // WBEM_E_NOT_FOUND
const HRESULT kInvalidNamespace = static_cast<HRESULT>(0x8004100E);  // WBEM_E_INVALID_NAMESPACE

class SecurityCenterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedMajor_ = g_setup.osVersion.dwMajorVersion;
    g_services = &services_;
    g_connectResult = S_OK;
    g_connects = 0;
    SetSecurityCenterConnectHook(FakeConnect);
  }
  void TearDown() override {
    SetSecurityCenterConnectHook(nullptr);
    g_setup.osVersion.dwMajorVersion = savedMajor_;
  }
  FakeServices services_;
  DWORD savedMajor_ = 0;
};
}  // namespace

TEST_F(SecurityCenterTest, EachClassLosesTheSuiteInstanceWhateverTheOutcome) {
  g_setup.osVersion.dwMajorVersion = 6;
  const std::wstring guid = L"{D85F5ADB-1B52-40F5-A53C-24D7B71D0F89}\"";
  struct Case {
    WscProduct product;
    std::wstring path;
  } const cases[] = {
      {WscProduct::AntiVirus, L"AntiVirusProduct.instanceGuid=\"" + guid},
      {WscProduct::AntiSpyware, L"AntiSpywareProduct.instanceGuid=\"" + guid},
      {WscProduct::Firewall, L"FirewallProduct.instanceGuid=\"" + guid},
  };
  for (const Case& c : cases) {
    services_.deleted.clear();
    services_.deleteResult = kNotFound;
    g_connectResult = S_OK;
    EXPECT_EQ(RemoveWscProduct(c.product), kNotFound);
    EXPECT_EQ(services_.deleted, Lines{c.path});
    // A connection with a warning deletes nothing and hands the warning on.
    g_connectResult = S_FALSE;
    EXPECT_EQ(RemoveWscProduct(c.product), S_FALSE);
    g_connectResult = kInvalidNamespace;
    EXPECT_EQ(RemoveWscProduct(c.product), kInvalidNamespace);
    EXPECT_EQ(services_.deleted.size(), 1u);
    EXPECT_EQ(services_.refs, 1);  // every connection released
  }
  // The run's steps make all three deletions and carry on whatever they return.
  services_.deleted.clear();
  g_connectResult = S_OK;
  RemoveWscAntiVirus();
  RemoveWscAntiSpyware();
  RemoveWscFirewall();
  EXPECT_EQ(services_.deleted.size(), 3u);
}

TEST_F(SecurityCenterTest, AntiSpywareEntryOnlyFromWindowsVista) {
  struct Case {
    DWORD major;
    HRESULT antiSpyware;
    int connects;  // of the three deletions
  } const cases[] = {{5, 1, 2}, {6, S_OK, 3}, {10, S_OK, 3}};
  for (const Case& c : cases) {
    g_setup.osVersion.dwMajorVersion = c.major;
    g_connects = 0;
    services_.deleteResult = S_OK;
    EXPECT_EQ(RemoveWscProduct(WscProduct::AntiVirus), S_OK) << c.major;
    EXPECT_EQ(RemoveWscProduct(WscProduct::AntiSpyware), c.antiSpyware) << c.major;
    EXPECT_EQ(RemoveWscProduct(WscProduct::Firewall), S_OK) << c.major;
    EXPECT_EQ(g_connects, c.connects) << c.major;
  }
}

// Wine has no Security Center namespace: the real connection fails, and so does each deletion,
// which the run ignores.
TEST_F(SecurityCenterTest, WineRefusesTheNamespace) {
  SetSecurityCenterConnectHook(nullptr);
  g_setup.osVersion.dwMajorVersion = 6;
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  IWbemServices* services = nullptr;
  HRESULT hr = ConnectSecurityCenter(&services);
  EXPECT_EQ(hr, kInvalidNamespace);
  EXPECT_EQ(services, nullptr);
  EXPECT_EQ(RemoveWscProduct(WscProduct::Firewall), hr);
  CoUninitialize();
}
