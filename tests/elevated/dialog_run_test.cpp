// The dialog while a run's own message box is open: the box pumps the dialog's messages, so
// the product list, the path box, Browse and Close must be out of reach until the run ends.
#include <gtest/gtest.h>

#include "app/app_state.h"
#include "app/dialog.h"
#include "app/removal_run.h"
#include "resources/resource.h"
#include "setup/setup_globals.h"
#include "tests/dialog/dialog_driver.h"
#include "tests/support/test_support.h"
#include "ui/prompt.h"

using namespace qtxtest;

namespace {
constexpr const wchar_t* kBoxCaption = L"qtx run box";

void Nothing() {}
DWORD Zero() { return 0; }
// A step that asks the user something, as the program-files step does, with a real box.
void AskDuringRun() { UiMessageBox(g_mainDialog, L"Go on?", kBoxCaption, MB_OK); }

const RemovalSteps kAskingSteps = {Nothing, Nothing, Zero,    Nothing, Nothing, Nothing, Nothing,
                                   Nothing, Zero,    AskDuringRun, Nothing, Nothing, Nothing, nullptr};
}  // namespace

TEST(DialogDuringRun, InputsAndCloseAreOutOfReachWhileTheRunsBoxIsOpen) {
  ResetAppState();
  g_instance = GetModuleHandleW(nullptr);
  g_uiLanguage = 1033;
  g_setup.Init();
  g_setup.UiMode = Interactive;
  g_setup.RestartNeeded = false;  // no restart question after the run
  g_detectedProgramFolder = ScratchDir(L"dialog-run-folder");
  std::wstring folder = g_detectedProgramFolder;
  SetDialogRunStepsForTests(&kAskingSteps);

  const int ids[] = {IDC_PRODUCT, IDC_PATH, IDC_BROWSE, IDCLOSE};
  bool enabledDuring[4] = {true, true, true, true}, enabledAfter[4] = {};
  bool boxSeen = false, openAfterClose = false, ran = false;
  LRESULT selectionBefore = -1;
  std::wstring pathDuring;
  ShowMainDialog([&](HWND dialog) {
    if (!dialog) return;
    TypeText(GetDlgItem(dialog, IDC_PATH), folder);
    selectionBefore = SendMessageW(GetDlgItem(dialog, IDC_PRODUCT), CB_GETCURSEL, 0, 0);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_UNINSTALL, BN_CLICKED), 0);
    HWND box = WaitForWindow(kBoxCaption, 20000);
    if (!(boxSeen = box != nullptr)) return;
    for (int i = 0; i < 4; ++i) enabledDuring[i] = IsWindowEnabled(GetDlgItem(dialog, ids[i])) != FALSE;
    // What a person could still send through the box's message loop: another product,
    // Close by its command and by the title bar.
    SelectProduct(dialog, selectionBefore == 0 ? 1 : 0);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCLOSE, BN_CLICKED), 0);
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    Settle(dialog);
    openAfterClose = IsWindow(dialog) != FALSE;
    pathDuring = g_setup.installFolder;
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    ran = WaitForRun(dialog);
    for (int i = 0; i < 4; ++i) enabledAfter[i] = IsWindowEnabled(GetDlgItem(dialog, ids[i])) != FALSE;
  });
  SetDialogRunStepsForTests(nullptr);

  ASSERT_TRUE(boxSeen);
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(enabledDuring[i]) << "control " << ids[i];
  EXPECT_TRUE(openAfterClose);
  EXPECT_EQ(pathDuring, folder);
  EXPECT_EQ(g_detectedProgramFolder, folder) << "detection re-ran during the run";
  EXPECT_TRUE(ran);
  EXPECT_TRUE(g_runDone);
  // After the run: the list and Close again, the folder and Browse stay disabled.
  EXPECT_TRUE(enabledAfter[0]);
  EXPECT_FALSE(enabledAfter[1]);
  EXPECT_FALSE(enabledAfter[2]);
  EXPECT_TRUE(enabledAfter[3]);
  ResetAppState();
}
