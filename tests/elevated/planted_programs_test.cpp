// Programs and modules of the suite's names planted where the loader and CreateProcessW
// search first (the program's own folder, the current folder) are never picked up.
#include <gtest/gtest.h>

#include <string>

#include "app/app_state.h"
#include "app/startup.h"
#include "sysops/process.h"
#include "tests/support/test_support.h"

using namespace qtxtest;

namespace {

std::wstring OwnFolder() {
  wchar_t self[MAX_PATH] = {0};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path = self;
  return path.substr(0, path.rfind(L'\\'));
}

// Sets the current folder for the object's life.
class InFolder {
 public:
  explicit InFolder(const std::wstring& folder) {
    GetCurrentDirectoryW(MAX_PATH, old_);
    SetCurrentDirectoryW(folder.c_str());
  }
  ~InFolder() { SetCurrentDirectoryW(old_); }

 private:
  wchar_t old_[MAX_PATH] = {0};
};

bool WaitForPath(const std::wstring& path) {
  for (int i = 0; i < 200 && !PathExists(path); ++i) Sleep(50);
  Sleep(100);
  return PathExists(path);
}

}  // namespace

TEST(PlantedModules, ForcedUninstallNeverLoadsTheSetupLibraryByARelativeName) {
  // The stand-in library records each call in "setiface-called.txt" in the current folder.
  std::wstring current = ScratchDir(L"planted-current");
  const std::wstring planted[] = {current + L"\\Setup", OwnFolder() + L"\\Setup"};
  for (const auto& dir : planted) {
    CreateDirectoryW(dir.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(QTX_SETIFACE_STANDIN, (dir + L"\\Setiface.dll").c_str(), FALSE));
  }
  ResetAppState();  // no program folder detected
  ClearLog();
  ScriptedPrompts prompts({IDNO});
  int code;
  {
    InFolder in(current);
    code = RunStartup(GetModuleHandleW(nullptr), L"/noreboot /forceuninstallpro /verysilent");
  }
  EXPECT_EQ(code, 0);
  EXPECT_EQ(GetModuleHandleW(L"Setiface.dll"), nullptr);
  EXPECT_FALSE(PathExists(current + L"\\setiface-called.txt"));
  EXPECT_EQ(LogCount(L"Module \"Setup\\Setiface.dll\" skipped: no absolute path"), 1) << LogDump();
  // The ordinary start-up went on: its Safe-Mode question was asked.
  EXPECT_EQ(prompts.prompts().size(), 1u);
  for (const auto& dir : planted) RemoveAll(dir);
  ResetAppState();
}

TEST(PlantedPrograms, LaunchRunsTheProgramByItsFullPathOnly) {
  std::wstring real = ScratchDir(L"launch-real");
  std::wstring current = ScratchDir(L"launch-current");
  const std::wstring name = L"qtxRegSvr64.exe";
  ASSERT_TRUE(CopyFileW(QTX_ELEVATED_STANDIN, (real + L"\\" + name).c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(QTX_ELEVATED_STANDIN, (current + L"\\" + name).c_str(), FALSE));
  std::wstring out = ScratchDir(L"launch-out") + L"\\ran.txt";
  std::wstring command = name + L" \"" + out + L"\"";  // as the caller builds it: a bare name
  ClearLog();
  DWORD error = 0xDEADBEEF;
  {
    InFolder in(current);
    ASSERT_TRUE(LaunchProgram(&command[0], &error, (real + L"\\" + name).c_str())) << LogDump();
  }
  EXPECT_EQ(error, 0u);
  ASSERT_TRUE(WaitForPath(out));
  std::string ran;
  ASSERT_TRUE(ReadBytes(out, &ran));
  std::wstring ranPath(reinterpret_cast<const wchar_t*>(ran.data()), ran.size() / sizeof(wchar_t));
  EXPECT_EQ(_wcsicmp(ranPath.c_str(), (real + L"\\" + name).c_str()), 0) << Narrow(ranPath);
  // The command line and its log lines are as they were.
  EXPECT_TRUE(LogHas(L"Executing:" + command, LOG_VRB, LOG_SYSTEM)) << LogDump();
  EXPECT_TRUE(LogHas(L"Executed:" + command, LOG_VRB, LOG_SYSTEM));

  // A program path that is not absolute is not started at all.
  ClearLog();
  DeleteFileW(out.c_str());
  {
    InFolder in(current);
    EXPECT_FALSE(LaunchProgram(&command[0], &error, name.c_str()));
  }
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_BAD_PATHNAME));
  EXPECT_EQ(LogCount(L"Program \"" + name + L"\" not started: no absolute path"), 1) << LogDump();
  EXPECT_FALSE(LogHas(L"Executing:" + command));
  Sleep(1000);
  EXPECT_FALSE(PathExists(out));
}
