// "/?": which command lines ask for it, and the text it shows.
#include <gtest/gtest.h>

#include "app/app_state.h"
#include "app/startup.h"
#include "app/usage.h"
#include "qtx_version.h"
#include "tests/support/test_support.h"

using namespace qtxtest;

TEST(Usage, AskedForByItsSwitchesOnly) {
  struct {
    const wchar_t* commandLine;
    bool asks;
  } const rows[] = {
      {L"/?", true},
      {L"-?", true},
      {L"/HELP", true},
      {L"-help", true},
      {L"/verysilent /unattended /?", true},
      {L"/? /forcerestart", true},
      {L"/prod /?", false},          // the product code "/?"
      {L"/log /? /silent", false},   // the log path "/?"
      {L"/prod vhm /?", true},
      {L"? help /?? //?", false},
      {L"", false},
  };
  for (const auto& row : rows)
    EXPECT_EQ(AsksForUsage(SplitCommandLine(row.commandLine)), row.asks) << Narrow(row.commandLine);
}

TEST(Usage, TextNamesEverySwitchExitCodeAndTheVersion) {
  ResetAppState();
  g_instance = GetModuleHandleW(nullptr);
  // German has no translation of the text: English stands in.
  for (WORD language : {WORD(1033), WORD(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN))}) {
    g_uiLanguage = language;
    std::wstring text = UsageText();
    EXPECT_EQ(text.rfind(std::wstring(L"qtxClear ") + QTX_VERSION_WTEXT + L" - VELKO Software Uninstall Utility", 0), 0u)
        << Narrow(text);
    for (const wchar_t* word : {L"/silent", L"/verysilent", L"/unattended", L"/noreboot", L"/forcerestart",
                                L"/prod CODE", L"/forceuninstallpro", L"/log PATH", L"/?", L"3010", L"1641",
                                L"1603"})
      EXPECT_NE(text.find(word), std::wstring::npos) << Narrow(word);
  }
  ResetAppState();
}
