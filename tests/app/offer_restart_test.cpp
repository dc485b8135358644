#include <gtest/gtest.h>

#include "app/app_state.h"
#include "app/startup.h"
#include "setup/setup_globals.h"
#include "tests/support/test_support.h"

using qtxtest::RestartRecorder;
using qtxtest::ScriptedPrompts;

class OfferRestartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    g_instance = GetModuleHandleW(nullptr);
    g_uiLanguage = 1033;
    g_setup.UiMode = Interactive;
    g_setup.RestartNeeded = true;
  }
};

TEST_F(OfferRestartTest, AsksWithStrings4And5AndRestartsOnYes) {
  RestartRecorder restarts;
  ScriptedPrompts prompts({IDYES});
  OfferRestart();
  ASSERT_EQ(prompts.prompts().size(), 1u);
  EXPECT_EQ(prompts.prompts()[0].caption, L"velko! Antivirus Uninstall");
  EXPECT_EQ(prompts.prompts()[0].text.rfind(L"Product successfully removed.\nRemaining items", 0), 0u);
  EXPECT_EQ(prompts.prompts()[0].type, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
  EXPECT_EQ(prompts.prompts()[0].owner, nullptr);
  EXPECT_EQ(restarts.count(), 1);
}

TEST_F(OfferRestartTest, NoAnswerDoesNotRestart) {
  RestartRecorder restarts;
  ScriptedPrompts prompts({IDNO});
  OfferRestart();
  EXPECT_EQ(prompts.prompts().size(), 1u);
  EXPECT_EQ(restarts.count(), 0);
}

TEST_F(OfferRestartTest, NothingWhenNoRestartIsNeeded) {
  RestartRecorder restarts;
  ScriptedPrompts prompts({IDYES});
  g_setup.RestartNeeded = false;
  g_forceRestart = true;
  OfferRestart();
  EXPECT_TRUE(prompts.prompts().empty());
  EXPECT_EQ(restarts.count(), 0);
}

TEST_F(OfferRestartTest, ForceRestartRestartsWithoutAskingEvenWhenVerySilent) {
  RestartRecorder restarts;
  ScriptedPrompts prompts;
  g_forceRestart = true;
  g_setup.UiMode = VerySilent;
  OfferRestart();
  EXPECT_TRUE(prompts.prompts().empty());
  EXPECT_EQ(restarts.count(), 1);
}

TEST_F(OfferRestartTest, VerySilentNeitherAsksNorRestarts) {
  RestartRecorder restarts;
  ScriptedPrompts prompts({IDYES});
  g_setup.UiMode = VerySilent;
  OfferRestart();
  EXPECT_TRUE(prompts.prompts().empty());
  EXPECT_EQ(restarts.count(), 0);
}
