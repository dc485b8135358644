#include "catalog/addins.h"

#include <gtest/gtest.h>

#include <memory>

#include "base/regkey.h"
#include "catalog/probe.h"
#include "setup/product.h"
#include "setup/setup_globals.h"
#include "tests/catalog_modules/modules_support.h"
#include "tests/process/standin_support.h"
#include "tests/support/test_support.h"

using namespace qtxtest;

namespace {
const wchar_t* kClassKey = L"CLSID\\{B71D40E2-6C95-4A3F-8E08-2F5D9C1A7B63}";

bool Probed(const wchar_t* kind, const std::wstring& what) {
  ResidueList found;
  ProbeAddinsAndModules(found);
  for (const Residue& r : found)
    if (r.kind == kind && r.what == what) return true;
  return false;
}

struct ModuleRow {
  const wchar_t* file;
  const wchar_t* standin;  // null: not installed
  DWORD sharedCount;
  bool unregistered;
  bool is64Bit;  // unregistered by the 64-bit helper, never loaded here
};
// The suite's modules as the program folder holds them; shared with other software, one whose
// unregistration fails, one 64-bit module not installed.
const ModuleRow kModules[] = {
    {L"PmAScr.dll", QTX_COM_STANDIN, 0, true, false},
    {L"redemption.dll", QTX_COM_STANDIN, 2, false, false},
    {L"qtxOtl64.dll", QTX_COM_STANDIN, 1, true, true},
    {L"qtxOtl.dll", QTX_COM_FAIL_STANDIN, 0, true, false},
    {L"qtOutExt64.dll", QTX_COM_STANDIN, 2, false, true},
    {L"qtOutExt.dll", QTX_COM_STANDIN, 0, true, false},
    {L"snxPlugins64.dll", nullptr, 0, false, true},
    {L"snxPlugins.dll", QTX_COM_STANDIN, 0, true, false},
    {L"VkExWSS.dll", QTX_COM_STANDIN, 0, true, false},
    {L"qtxSiteRankIE.dll", QTX_COM_STANDIN, 0, true, false},
};

class AddinsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearLog();
    saved_ = g_detectedProgramFolder;
    savedInstall_ = g_setup.installFolder;
  }
  void TearDown() override {
    g_detectedProgramFolder = saved_;
    g_setup.installFolder = savedInstall_;
  }
  std::wstring saved_, savedInstall_;
};
}  // namespace

TEST_F(AddinsTest, ModulesOfTheProgramFolderAndTheAdBlockerBesideIt) {
  // The company folder's upper-case "VELKO" is not where the ad blocker's folder is cut.
  std::wstring company = ScratchDir(L"modules") + L"\\VELKO Software";
  std::wstring program = company + L"\\Velko";
  std::wstring adBlocker = company + L"\\velko! Ad Blocker IE\\Adblocker32.dll";
  std::vector<std::unique_ptr<SharedDllCount>> counts;
  for (const ModuleRow& row : kModules) {
    std::wstring path = program + L"\\" + row.file;
    if (row.standin) {
      ASSERT_TRUE(PlantStandin(row.standin, path));
    }
    if (row.sharedCount) counts.emplace_back(new SharedDllCount(path, row.sharedCount));
  }
  ASSERT_TRUE(PlantStandin(QTX_COM_STANDIN, adBlocker));
  ASSERT_TRUE(PlantStandin(QTX_REGSVR64_STANDIN, program + L"\\qtxRegSvr64.exe"));
  ASSERT_EQ(regCreateKey((std::wstring(kClassKey) + L"\\InprocServer32").c_str(), HKEY_CLASSES_ROOT), 0u);
  EXPECT_TRUE(Probed(L"key", std::wstring(L"HKCR\\") + kClassKey));

  g_detectedProgramFolder = program;
  g_setup.installFolder = program;
  EXPECT_EQ(UnregisterSuiteModules(), 0u);
  for (const ModuleRow& row : kModules) {
    std::wstring path = program + L"\\" + row.file;
    // The helper runs on by itself: its unregistration is waited for here.
    if (row.is64Bit && row.unregistered) {
      EXPECT_TRUE(WaitForFile(path + L".calls", 30000)) << row.file;
    }
    EXPECT_EQ(CallsOf(path).size(), row.unregistered ? 1u : 0u) << row.file;
    if (row.is64Bit) {
      EXPECT_EQ(LogHas(L"Command \"qtxRegSvr64.exe /u \"" + path + L"\"\" called successfully", LOG_DBG, LOG_FILE),
                row.unregistered)
          << row.file;
    }
  }
  EXPECT_EQ(CallsOf(adBlocker).size(), 1u);
  EXPECT_TRUE(LogHas(L"Error calling DllUnregisterServer \"" + program +
                     L"\\qtxOtl.dll\", error code -2147467259 (0x80004005)"));
  UniqueRegKey key;
  EXPECT_NE(regOpenKey(HKEY_CLASSES_ROOT, kClassKey, KEY_READ, key), ERROR_SUCCESS);
  EXPECT_FALSE(Probed(L"key", std::wstring(L"HKCR\\") + kClassKey));
}

TEST_F(AddinsTest, EmptyProgramFolderLoadsNoModuleByItsBareName) {
  // Copies beside the test program, where the loader would look first for a bare name.
  for (const ModuleRow& row : kModules) ASSERT_TRUE(PlantStandin(QTX_COM_STANDIN, BesideTestProgram(row.file)));
  g_detectedProgramFolder.clear();
  EXPECT_EQ(UnregisterSuiteModules(), 0u);
  for (const ModuleRow& row : kModules) {
    std::wstring planted = BesideTestProgram(row.file);
    EXPECT_TRUE(CallsOf(planted).empty()) << row.file;
    EXPECT_EQ(LogCount(std::wstring(L"Module \"") + row.file + L"\" skipped: no absolute path"), 1) << row.file;
    DeleteFileW(planted.c_str());
    DeleteFileW((planted + L".calls").c_str());
  }
  EXPECT_EQ(LogDump().find(L"Adblocker32.dll"), std::wstring::npos);
}

TEST_F(AddinsTest, ServerAddinFileIsDeletedAndItsAbsenceReported) {
  wchar_t programFiles[MAX_PATH] = {0};
  ASSERT_GT(GetEnvironmentVariableW(L"ProgramW6432", programFiles, MAX_PATH), 0u);
  std::wstring server = std::wstring(programFiles) + L"\\Windows Server";
  bool serverFolderWasThere = PathExists(server);
  std::wstring addin = server + L"\\Bin\\Addins\\Primary\\VelkoWhsAddinConfig.addin";
  ASSERT_TRUE(PlantStandin(QTX_COM_STANDIN, addin));
  EXPECT_TRUE(Probed(L"file", addin));

  EXPECT_EQ(RemoveServerAddin(), 0u);
  EXPECT_FALSE(PathExists(addin));
  EXPECT_FALSE(Probed(L"file", addin));
  // Without the file (as on every machine without the home server) the failure is reported.
  EXPECT_EQ(RemoveServerAddin(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(LogHas(L"Unable to delete WHS 2011 addin file '" + addin + L"' with error 0x00000002!", LOG_MIN,
                     LOG_SYSTEM))
      << Narrow(LogDump());
  if (!serverFolderWasThere) RemoveAll(server);
}
