#include "sysops/com.h"

#include <gtest/gtest.h>

#include <memory>

#include "setup/setup_globals.h"
#include "tests/catalog_modules/modules_support.h"
#include "tests/process/standin_support.h"
#include "tests/support/test_support.h"

using namespace qtxtest;

namespace {
std::wstring CurrentFolder() {
  wchar_t folder[MAX_PATH] = {0};
  GetCurrentDirectoryW(MAX_PATH, folder);
  return folder;
}

class ComTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearLog();
    dir_ = ScratchDir(L"com");
    saved_ = g_setup.installFolder;
  }
  void TearDown() override { g_setup.installFolder = saved_; }
  std::wstring dir_, saved_;
};
}  // namespace

TEST_F(ComTest, SharedCountOfTwoKeepsTheModuleOutOfTheProcess) {
  struct Case {
    const wchar_t* file;
    const wchar_t* standin;
    DWORD sharedCount;  // 0: no value
    bool unregistered;
    bool errorLine;
  } const cases[] = {
      {L"plain.dll", QTX_COM_STANDIN, 0, true, false},
      {L"own reference.dll", QTX_COM_STANDIN, 1, true, false},
      {L"shared twice.dll", QTX_COM_STANDIN, 2, false, false},
      {L"shared often.dll", QTX_COM_STANDIN, 7, false, false},
      {L"failing.dll", QTX_COM_FAIL_STANDIN, 1, true, true},
  };
  for (const Case& c : cases) {
    ClearLog();
    std::wstring module = dir_ + L"\\" + c.file;
    ASSERT_TRUE(PlantStandin(c.standin, module));
    std::unique_ptr<SharedDllCount> count;
    if (c.sharedCount) count.reset(new SharedDllCount(module, c.sharedCount));
    EXPECT_EQ(UnregisterInProcServer(module.c_str()), 0u) << c.file;
    EXPECT_EQ(CallsOf(module).size(), c.unregistered ? 1u : 0u) << c.file;
    EXPECT_EQ(LogHas(L"DllUnregisterServer success", LOG_DBG, LOG_FILE), c.unregistered && !c.errorLine) << c.file;
    EXPECT_EQ(LogHas(L"Error calling DllUnregisterServer \"" + module + L"\", error code -2147467259 (0x80004005)",
                     LOG_MIN, LOG_FILE),
              c.errorLine)
        << Narrow(LogDump());
    // The module was unloaded again: its file can go.
    EXPECT_TRUE(DeleteFileW(module.c_str())) << c.file;
  }
}

TEST_F(ComTest, ModulesThatCannotBeCalledAreSkippedQuietly) {
  std::wstring quoted = dir_ + L"\\quoted.dll";
  ASSERT_TRUE(PlantStandin(QTX_COM_STANDIN, quoted));
  std::wstring noExport = dir_ + L"\\no export.dll";
  ASSERT_TRUE(PlantStandin(QTX_PMRBASE_STANDIN, noExport));
  ClearLog();
  EXPECT_EQ(UnregisterInProcServer((dir_ + L"\\missing.dll").c_str()), 0u);
  EXPECT_EQ(UnregisterInProcServer(noExport.c_str()), 0u);
  EXPECT_TRUE(LogTexts().empty()) << Narrow(LogDump());
  // A quoted path names the same module.
  EXPECT_EQ(UnregisterInProcServer((L"\"" + quoted + L"\"").c_str()), 0u);
  EXPECT_EQ(CallsOf(quoted).size(), 1u);
  // A bare name never reaches the loader.
  ClearLog();
  EXPECT_EQ(UnregisterInProcServer(L"quoted.dll"), 0u);
  EXPECT_TRUE(LogHas(L"Module \"quoted.dll\" skipped: no absolute path", LOG_MIN, LOG_FILE));
}

TEST_F(ComTest, HelperGetsTheModuleQuotedOnceAndRunsInTheProgramFolder) {
  std::wstring program = dir_ + L"\\Program";
  ASSERT_TRUE(PlantStandin(QTX_REGSVR64_STANDIN, program + L"\\qtxRegSvr64.exe"));
  // A program of the same name beside this one, where a search by bare name looks first.
  const std::wstring decoy = BesideTestProgram(L"qtxRegSvr64.exe");
  ASSERT_TRUE(PlantStandin(QTX_REGSVR64_STANDIN, decoy));
  DeleteFileW(BesideTestProgram(L"qtxRegSvr64-called.txt").c_str());  // from an earlier run
  g_setup.installFolder = program;
  const std::wstring before = CurrentFolder();
  const std::wstring module = L"C:\\Program Files\\VELKO Software\\Velko\\x64 module.dll";
  struct Case {
    std::wstring given;
  } const cases[] = {{module}, {L"\"" + module + L"\""}};
  for (const Case& c : cases) {
    ClearLog();
    EXPECT_EQ(UnregisterServer64(c.given.c_str()), 0u) << Narrow(LogDump());
    EXPECT_EQ(CurrentFolder(), before);
    HelperRun run = WaitForHelperRun(program);
    const std::wstring commandLine = L"qtxRegSvr64.exe /u \"" + module + L"\"";
    EXPECT_EQ(run.commandLine, commandLine);
    EXPECT_EQ(run.currentFolder, program);
    EXPECT_EQ(run.program, program + L"\\qtxRegSvr64.exe");
    EXPECT_TRUE(LogHas(L"Command \"" + commandLine + L"\" called successfully", LOG_DBG, LOG_FILE));
    EXPECT_TRUE(LogHas(L"64-bit object \"" + c.given + L"\" unregistered sucessfully", LOG_DBG, LOG_FILE))
        << Narrow(LogDump());
  }
  EXPECT_FALSE(PathExists(BesideTestProgram(L"qtxRegSvr64-called.txt")));
  DeleteFileW(decoy.c_str());
}

TEST_F(ComTest, HelperIsNotStartedWithoutItsProgramFolder) {
  const std::wstring before = CurrentFolder();
  struct Case {
    std::wstring folder;
    DWORD code;
  } const cases[] = {
      {dir_ + L"\\no such folder", ERROR_FILE_NOT_FOUND},
      {dir_ + L"\\no such folder\\below", ERROR_PATH_NOT_FOUND},
      {L"", ERROR_PATH_NOT_FOUND},
      {L"relative", ERROR_PATH_NOT_FOUND},
  };
  for (const Case& c : cases) {
    ClearLog();
    g_setup.installFolder = c.folder;
    DWORD result = UnregisterServer64(L"C:\\x.dll");
    // Wine and Windows differ in which of the two codes a missing last folder gives.
    EXPECT_TRUE(result == c.code || result == ERROR_PATH_NOT_FOUND) << result;
    EXPECT_EQ(CurrentFolder(), before);
    wchar_t line[600];
    _snwprintf(line, 600,
               L"Call program \"qtxRegSvr64.exe\" error: cannot change directory to \"%s\", error code: 0x%08X",
               c.folder.c_str(), result);
    EXPECT_TRUE(LogHas(line, LOG_MIN, LOG_FILE)) << Narrow(LogDump());
    EXPECT_TRUE(LogHas(L"Error in 64-bit object \"C:\\x.dll\" unregistration", LOG_MIN, LOG_FILE));
    EXPECT_FALSE(LogHas(L"Executing:qtxRegSvr64.exe /u \"C:\\x.dll\""));
  }

  // The folder is there but the helper is not: the start fails and the folder is restored.
  ClearLog();
  g_setup.installFolder = dir_;
  EXPECT_EQ(RunRegSvr64(L"/u \"C:\\x.dll\""), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(CurrentFolder(), before);
  EXPECT_TRUE(LogHas(L"Error calling \"qtxRegSvr64.exe /u \"C:\\x.dll\"\", error code: 2 (0x00000002)", LOG_MIN,
                     LOG_FILE))
      << Narrow(LogDump());
}
