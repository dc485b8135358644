#include <gtest/gtest.h>

#include "app/app_state.h"
#include "app/startup.h"
#include "setup/setup_globals.h"

using Args = std::vector<std::wstring>;

TEST(SplitCommandLine, WhiteSpaceSeparatesAndControlCharactersCountAsSpace) {
  EXPECT_EQ(SplitCommandLine(L"  /silent\t/prod\r\nvhm  "), (Args{L"/silent", L"/prod", L"vhm"}));
  EXPECT_EQ(SplitCommandLine(L""), Args{});
  EXPECT_EQ(SplitCommandLine(nullptr), Args{});
}

TEST(SplitCommandLine, QuotesGroupWordsWithoutEscapes) {
  EXPECT_EQ(SplitCommandLine(L"one \"two three\" four"), (Args{L"one", L"two three", L"four"}));
  EXPECT_EQ(SplitCommandLine(L"a \"\" b"), (Args{L"a", L"", L"b"}));
  // A backslash is no escape: the quote after it ends the argument.
  EXPECT_EQ(SplitCommandLine(L"\"C:\\dir\\\" x"), (Args{L"C:\\dir\\", L"x"}));
}

TEST(SplitCommandLine, QuoteInsideAPlainWordIsText) {
  EXPECT_EQ(SplitCommandLine(L"ab\"cd ef"), (Args{L"ab\"cd", L"ef"}));
}

TEST(SplitCommandLine, UnterminatedArgumentIsKept) {
  EXPECT_EQ(SplitCommandLine(L"x \"open ended"), (Args{L"x", L"open ended"}));
  EXPECT_EQ(SplitCommandLine(L"x \""), (Args{L"x", L""}));
}

class Switches : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    g_logPath.clear();
    g_setup.UiMode = Interactive;
    g_setup.RestartNeeded = true;
  }
  void Parse(const wchar_t* line) { ParseSwitches(SplitCommandLine(line)); }
};

TEST_F(Switches, PrefixAndCaseDoNotMatter) {
  Parse(L"-SILENT");
  EXPECT_EQ(g_setup.UiMode, Silent);
  SetUp();
  Parse(L"/Silent");
  EXPECT_EQ(g_setup.UiMode, Silent);
  SetUp();
  Parse(L"silent \\silent");  // no switch prefix: ignored
  EXPECT_EQ(g_setup.UiMode, Interactive);
}

TEST_F(Switches, LaterSwitchesOverrideEarlierOnes) {
  Parse(L"/verysilent /silent");
  EXPECT_EQ(g_setup.UiMode, VerySilent);
  EXPECT_TRUE(g_setup.RestartNeeded);
  SetUp();
  Parse(L"/silent /noreboot");
  EXPECT_EQ(g_setup.UiMode, Silent);
  EXPECT_FALSE(g_setup.RestartNeeded);
  SetUp();
  Parse(L"/noreboot /silent");
  EXPECT_TRUE(g_setup.RestartNeeded);
  SetUp();
  Parse(L"/verysilent");
  EXPECT_FALSE(g_setup.RestartNeeded);
}

TEST_F(Switches, FlagsAndUnknownSwitches) {
  Parse(L"/forceuninstallpro /FORCERESTART /unknown -x");
  EXPECT_TRUE(g_forceUninstall);
  EXPECT_TRUE(g_forceRestart);
  EXPECT_EQ(g_setup.UiMode, Interactive);
}

TEST_F(Switches, ProdTakesTheNextArgumentVerbatim) {
  Parse(L"/prod VQB");
  EXPECT_EQ(g_productKind, L"VQB");
  SetUp();
  Parse(L"/prod /silent");
  EXPECT_EQ(g_productKind, L"/silent");
  EXPECT_EQ(g_setup.UiMode, Interactive);
  SetUp();
  Parse(L"/silent /prod");
  EXPECT_EQ(g_productKind, L"");
  EXPECT_EQ(g_setup.UiMode, Silent);
}

TEST_F(Switches, LogTakesAPath) {
  Parse(L"/log \"C:\\some dir\\run.log\" /verysilent");
  EXPECT_EQ(g_logPath, L"C:\\some dir\\run.log");
  EXPECT_EQ(g_setup.UiMode, VerySilent);
}
