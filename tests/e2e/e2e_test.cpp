// End-to-end runs of qtxClear.exe (the 64-bit build) in the test prefix.
#include <gtest/gtest.h>

#include "sysops/registry.h"
#include "tests/support/box_driver.h"
#include "tests/support/test_support.h"

using namespace qtxtest;

namespace {
const wchar_t kCaption[] = L"VELKO Software Uninstall Utility";
const wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\velko";
const wchar_t kProductKey[] = L"Software\\Velko Software\\Velko";

// The log the program saved with /log, as text (UTF-16 after the byte-order mark).
std::wstring ReadLog(const std::wstring& path) {
  std::string bytes;
  if (!ReadBytes(path, &bytes) || bytes.size() < 2 || bytes.compare(0, 2, "\xFF\xFE") != 0) return L"";
  return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
}

// True when a line of the saved log (format 1) ends with "\t<category>\t<text>".
bool LogLine(const std::wstring& log, const std::wstring& category, const std::wstring& text) {
  return log.find(L"\t" + category + L"\t" + text + L"\r\n") != std::wstring::npos;
}

DrivenRun RunQtx(const std::wstring& arguments, const std::vector<int>& answers) {
  return RunAndAnswer(std::wstring(L"\"") + QTX_EXE + L"\" " + arguments, answers, 60000);
}
}  // namespace

TEST(EndToEnd, VerySilentRunDeclinesSafeModeAndRemoves) {
  std::wstring log = ScratchDir(L"e2e-verysilent") + L"\\run.log";
  DrivenRun run = RunQtx(L"/verysilent /log \"" + log + L"\"", {IDNO});
  ASSERT_TRUE(run.started);
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  // The only box is the first Safe-Mode question: no restart prompt in very-silent mode.
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].caption, kCaption);
  EXPECT_EQ(run.boxes[0].text.rfind(L"It is recommended to run this tool from Windows Safe Mode.", 0), 0u);
  std::wstring text = ReadLog(log);
  EXPECT_TRUE(LogLine(text, L"general", L"Operation set to INST_OP_UNKNOWN")) << Narrow(text);
  EXPECT_TRUE(LogLine(text, L"registry", std::wstring(L"Deleted registry: ") + kUninstallKey + L" error: 2"))
      << Narrow(text);
}

TEST(EndToEnd, VerySilentRunRemovesTheDetectedInstallation) {
  std::wstring folder = ScratchDir(L"e2e-installed");
  ASSERT_EQ(regSetString(kProductKey, HKEY_LOCAL_MACHINE, L"Product", L"vhm"), 0u);
  ASSERT_EQ(regSetString(kProductKey, HKEY_LOCAL_MACHINE, L"ProgramFolder", folder.c_str()), 0u);
  ASSERT_EQ(regSetString(kUninstallKey, HKEY_LOCAL_MACHINE, L"InstallLocation", folder.c_str()), 0u);
  std::wstring log = folder + L"-run.log";
  DeleteFileW(log.c_str());

  DrivenRun run = RunQtx(L"/verysilent /prod vhm /log \"" + log + L"\"", {IDNO});
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_FALSE(regKeyExists(kUninstallKey));
  std::wstring text = ReadLog(log);
  // Detection read the product's folder before the run deleted the uninstall registration.
  EXPECT_TRUE(LogLine(text, L"registry", std::wstring(L"Get registry: ") + kProductKey + L"\\ProgramFolder=" + folder))
      << Narrow(text);
  EXPECT_TRUE(LogLine(text, L"registry", std::wstring(L"Deleted registry: ") + kUninstallKey)) << Narrow(text);
  regDeleteTree(HKEY_LOCAL_MACHINE, L"Software\\Velko Software");
}
