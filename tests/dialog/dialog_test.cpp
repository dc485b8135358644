// The main dialog driven as a person would, and product detection, against the product's
// registry keys in the shared test prefix (machine-wide: this program runs alone).
#include <gtest/gtest.h>

#include "app/app_state.h"
#include "app/dialog.h"
#include "ui/ui_strings.h"
#include "resources/resource.h"
#include "setup/setup_globals.h"
#include "sysops/registry.h"
#include "tests/dialog/dialog_driver.h"
#include "tests/support/test_support.h"

#include <commctrl.h>

using namespace qtxtest;

namespace {
constexpr const wchar_t* kProductKey = L"Software\\Velko Software\\Velko";
constexpr const wchar_t* kVendorKey = L"Software\\Velko Software";
constexpr const wchar_t* kUninstallKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\velko";

std::wstring Str(UINT id) {
  wchar_t text[512] = {};
  LoadUiString(GetModuleHandleW(nullptr), id, text, 512, 1033);
  return text;
}

void Set(const wchar_t* key, const wchar_t* name, const std::wstring& value) {
  ASSERT_EQ(0u, regSetString(key, HKEY_LOCAL_MACHINE, name, value.c_str()));
}

void RemoveProductKeys() {
  regDeleteOneKey(HKEY_LOCAL_MACHINE, kProductKey, RegView::Plain);
  regDeleteOneKey(HKEY_LOCAL_MACHINE, kVendorKey, RegView::Plain);
  regDeleteOneKey(HKEY_LOCAL_MACHINE, kUninstallKey, RegView::Plain);
}

void FreshAppState() {
  ResetAppState();
  g_instance = GetModuleHandleW(nullptr);
  g_uiLanguage = 1033;
}

class DialogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { g_setup.Init(); }
  void SetUp() override {
    RemoveProductKeys();
    FreshAppState();
    g_setup.UiMode = Interactive;
    g_setup.RestartNeeded = true;
    g_setup.installFolder.clear();
    programFolder = ScratchDir(L"Program");
    otherFolder = ScratchDir(L"Typed");
  }
  void TearDown() override {
    RemoveProductKeys();
    ResetAppState();
  }
  // Number of end-of-run restart questions asked, each checked for its text and owner.
  int RestartPrompts(const ScriptedPrompts& prompts, HWND owner) {
    int n = 0;
    for (const Prompt& p : prompts.prompts()) {
      if (p.text != Str(IDS_RESTART_TEXT)) continue;
      EXPECT_EQ(Str(IDS_RESTART_CAPTION), p.caption);
      EXPECT_EQ(owner, p.owner);
      EXPECT_EQ(static_cast<UINT>(MB_YESNO | MB_ICONQUESTION), p.type);
      ++n;
    }
    return n;
  }
  std::wstring programFolder, otherFolder;
};

struct InitialView {
  LRESULT selection = -1;
  std::wstring path;
};

InitialView OpenAndLook() {
  InitialView seen;
  ShowMainDialog([&](HWND dialog) {
    if (!dialog) return;
    seen.selection = SendMessageW(GetDlgItem(dialog, IDC_PRODUCT), CB_GETCURSEL, 0, 0);
    seen.path = TextOf(GetDlgItem(dialog, IDC_PATH));
  });
  return seen;
}

// Which codes' detections succeed: "vk_whs", "vhm", "vqb" (the list's order).
void ExpectDetections(const bool (&found)[3]) {
  const wchar_t* codes[] = {L"vk_whs", L"vhm", L"vqb"};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(found[i] ? 1 : 0, DetectProduct(codes[i])) << Narrow(codes[i]);
}

TEST_F(DialogTest, OpensOnTheInstalledProductAndItsFolder) {
  {
    SCOPED_TRACE("nothing installed");
    InitialView v = OpenAndLook();
    EXPECT_EQ(1, v.selection);
    EXPECT_EQ(L"", v.path);
  }
  {
    // The uninstall registration's folder is no reason to take the home product for the
    // office edition.
    SCOPED_TRACE("home product");
    Set(kProductKey, L"Product", L"vhm");
    Set(kProductKey, L"Version", L"9.0.1234");
    Set(kProductKey, L"ProgramFolder", programFolder);
    Set(kProductKey, L"DataFolder", L"C:\\Data");
    Set(kUninstallKey, L"InstallLocation", otherFolder);
    FreshAppState();
    InitialView v = OpenAndLook();
    EXPECT_EQ(1, v.selection);
    EXPECT_EQ(programFolder, v.path);
    EXPECT_EQ(9u, g_installedMajorVersion);
    EXPECT_EQ(L"C:\\Data", g_detectedDataFolder);
    EXPECT_EQ(L"Software\\VELKO Software\\Velko", g_productRegistryKey);
    ExpectDetections({true, true, false});
  }
  {
    SCOPED_TRACE("business product");
    Set(kProductKey, L"Product", L"VQB");
    EXPECT_EQ(2, OpenAndLook().selection);
    ExpectDetections({false, false, true});
  }
  {
    SCOPED_TRACE("no product value");
    UniqueRegKey key;
    ASSERT_EQ(0, regOpenKey(HKEY_LOCAL_MACHINE, kProductKey, KEY_SET_VALUE, key));
    ASSERT_EQ(0, RegDeleteValueW(key.get(), L"Product"));
    InitialView v = OpenAndLook();
    EXPECT_EQ(2, v.selection);
    EXPECT_EQ(programFolder, v.path);
    ExpectDetections({true, true, true});
  }
}

TEST_F(DialogTest, DetectionFallsBackToTheUninstallRegistration) {
  Set(kProductKey, L"Product", L"vhm");
  Set(kProductKey, L"ProgramFolder", programFolder + L"\\gone");
  Set(kUninstallKey, L"InstallLocation", otherFolder);
  EXPECT_EQ(1, DetectProduct(L"vhm"));
  EXPECT_EQ(otherFolder, g_detectedProgramFolder);
  EXPECT_EQ(0u, g_installedMajorVersion);  // no "Version"

  // A value too long for its buffer is not taken in part: the fall-back applies.
  Set(kProductKey, L"ProgramFolder", L"C:\\" + std::wstring(300, L'x'));
  g_detectedProgramFolder.clear();
  EXPECT_EQ(1, DetectProduct(L"vk_whs"));
  EXPECT_EQ(otherFolder, g_detectedProgramFolder);

  // Nothing found: the folder found before stays; an unknown code reads nothing.
  regDeleteOneKey(HKEY_LOCAL_MACHINE, kUninstallKey, RegView::Plain);
  EXPECT_EQ(0, DetectProduct(L"vqb"));
  EXPECT_EQ(0, DetectProduct(L"vk_pro"));
  EXPECT_EQ(otherFolder, g_detectedProgramFolder);
}

TEST_F(DialogTest, LeadingNumberAndProductCodes) {
  EXPECT_EQ(9u, LeadingNumber(L"9.0.1234"));
  EXPECT_EQ(12u, LeadingNumber(L"12b"));
  EXPECT_EQ(0u, LeadingNumber(L""));
  EXPECT_EQ(0u, LeadingNumber(L"v9"));
  EXPECT_EQ(0xFFFFFFFFu, LeadingNumber(L"99999999999"));
  EXPECT_EQ(L"vk_whs", ProductCodeOfText(Str(IDS_PRODUCT_WHS).c_str()));
  EXPECT_EQ(L"vqb", ProductCodeOfText(Str(IDS_PRODUCT_OFFICE).c_str()));
  EXPECT_EQ(L"", ProductCodeOfText(L"velko!"));
  EXPECT_EQ(L"", ProductCodeOfText(L""));
}

TEST_F(DialogTest, BrowserStartsAtThePathOrItsRoot) {
  EXPECT_EQ(L"C:\\Program Files\\velko", BrowseStartSelection(L"C:\\Program Files\\velko\\"));
  EXPECT_EQ(L"C:\\Program Files\\velko", BrowseStartSelection(L"C:\\Program Files\\velko"));
  EXPECT_EQ(L"C:\\", BrowseStartSelection(L"C:"));
  EXPECT_EQ(L"C:\\", BrowseStartSelection(L"C:\\"));
  EXPECT_EQ(L"\\\\server\\share\\", BrowseStartSelection(L"\\\\server\\share"));
  EXPECT_EQ(L"\\\\server\\share\\", BrowseStartSelection(L"\\\\server\\share\\"));
  EXPECT_EQ(L"\\\\server\\share\\dir", BrowseStartSelection(L"\\\\server\\share\\dir\\"));
  EXPECT_EQ(L"", BrowseStartSelection(L""));
}

TEST_F(DialogTest, SelectionChangeReplacesTypedText) {
  Set(kProductKey, L"Product", L"vhm");
  Set(kProductKey, L"ProgramFolder", programFolder);
  std::wstring afterChange;
  ShowMainDialog([&](HWND dialog) {
    if (!dialog) return;
    TypeText(GetDlgItem(dialog, IDC_PATH), L"D:\\typed");
    SelectProduct(dialog, 2);  // not installed: the folder found before is shown again
    afterChange = TextOf(GetDlgItem(dialog, IDC_PATH));
  });
  EXPECT_EQ(programFolder, afterChange);
}

struct RunView {
  bool stillOpenAfterEscape = false;
  bool ran = false;
  bool enabled[5] = {};  // 1003, 1004, 1008, 1006, 8
  std::wstring progress, progressAfterMore, pathAfterChange;
};

TEST_F(DialogTest, EnterRunsTheRemovalOnceWithTheTypedFolder) {
  Set(kProductKey, L"Product", L"vhm");
  Set(kProductKey, L"ProgramFolder", programFolder);
  ScriptedPrompts prompts;
  RestartRecorder restarts;
  RunView seen;
  HWND shown = nullptr;
  INT_PTR result = ShowMainDialog([&](HWND dialog) {
    if (!(shown = dialog)) return;
    TypeText(GetDlgItem(dialog, IDC_PATH), otherFolder);
    PressKey(dialog, VK_ESCAPE);  // no cancel command: nothing happens
    Settle(dialog);
    seen.stillOpenAfterEscape = IsWindowVisible(dialog) != FALSE;
    PressKey(dialog, VK_RETURN);  // the default button
    seen.ran = WaitForRun(dialog);
    const int ids[] = {IDC_UNINSTALL, IDC_PATH, IDC_BROWSE, IDC_PRODUCT, IDCLOSE};
    for (int i = 0; i < 5; ++i) seen.enabled[i] = IsWindowEnabled(GetDlgItem(dialog, ids[i])) != FALSE;
    seen.progress = TextOf(GetDlgItem(dialog, IDC_PROGRESS));
    // The run removed the product's key; detection below needs it again.
    Set(kProductKey, L"Product", L"vhm");
    Set(kProductKey, L"ProgramFolder", programFolder);
    // After the run: detection still follows the list, but nothing starts a second run.
    SelectProduct(dialog, 0);
    seen.pathAfterChange = TextOf(GetDlgItem(dialog, IDC_PATH));
    PressKey(dialog, VK_RETURN);
    PostMessageW(dialog, WM_COMMAND, IDC_UNINSTALL, 0);
    Settle(dialog);
    seen.progressAfterMore = TextOf(GetDlgItem(dialog, IDC_PROGRESS));
  });
  ASSERT_TRUE(shown);
  EXPECT_EQ(IDCLOSE, result);
  EXPECT_TRUE(seen.stillOpenAfterEscape);
  ASSERT_TRUE(seen.ran);
  EXPECT_EQ(otherFolder, g_setup.installFolder);
  EXPECT_EQ(L"vhm", g_productKind);
  EXPECT_TRUE(g_runDone);
  EXPECT_FALSE(seen.enabled[0]);
  EXPECT_FALSE(seen.enabled[1]);
  EXPECT_FALSE(seen.enabled[2]);
  EXPECT_TRUE(seen.enabled[3]);
  EXPECT_TRUE(seen.enabled[4]);
  EXPECT_EQ(0u, seen.progress.find(Str(IDS_REMOVING) + L"\r\n")) << Narrow(seen.progress);
  // The done line, then the residue check's line as the last one.
  std::wstring residue = Str(IDS_RESIDUE), done = Str(IDS_DONE_ALL) + L"\r\n" + residue.substr(0, residue.find(L'%'));
  size_t at = seen.progress.rfind(done);
  EXPECT_TRUE(at != std::wstring::npos && seen.progress.find(L"\r\n", at + done.size()) == seen.progress.size() - 2)
      << Narrow(seen.progress);
  EXPECT_EQ(programFolder, seen.pathAfterChange);
  EXPECT_EQ(seen.progress, seen.progressAfterMore);
  // Asked right after the run and again on closing; answered No both times.
  EXPECT_EQ(2, RestartPrompts(prompts, shown));
  EXPECT_EQ(0, restarts.count());
  EXPECT_EQ(nullptr, g_mainDialog);
}

TEST_F(DialogTest, SilentModeStartsTheRunByItselfAndStaysOpen) {
  g_setup.UiMode = Silent;
  ScriptedPrompts prompts;
  RestartRecorder restarts;
  bool ran = false, openAfterRun = false;
  std::wstring progress;
  HWND shown = nullptr;
  ShowMainDialog([&](HWND dialog) {
    if (!(shown = dialog)) return;
    ran = WaitForRun(dialog);
    PostMessageW(dialog, WM_COMMAND, IDC_UNINSTALL, 0);  // a second command starts nothing
    Settle(dialog);
    openAfterRun = IsWindowVisible(dialog) != FALSE;
    progress = TextOf(GetDlgItem(dialog, IDC_PROGRESS));
  });
  EXPECT_TRUE(ran);
  EXPECT_TRUE(openAfterRun);
  EXPECT_EQ(0u, progress.find(Str(IDS_REMOVING)));
  EXPECT_EQ(std::wstring::npos, progress.find(Str(IDS_REMOVING), 1)) << Narrow(progress);
  EXPECT_EQ(2, RestartPrompts(prompts, shown));
}

}  // namespace

namespace {
// The text of the folder tree's selected item, or "" while nothing is selected.
std::wstring SelectedFolderName(HWND browser) {
  HWND tree = FindWindowExW(browser, nullptr, L"SysTreeView32", nullptr);
  HTREEITEM item = tree ? reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0)) : nullptr;
  if (!item) return L"";
  wchar_t text[MAX_PATH] = {0};
  TVITEMW info = {};
  info.mask = TVIF_TEXT;
  info.hItem = item;
  info.pszText = text;
  info.cchTextMax = MAX_PATH;
  SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&info));
  return text;
}

// Opens the folder browser with the browse button and ends it with `button` (IDOK/IDCANCEL)
// once its tree shows `expected` selected (the preselection is applied asynchronously; a
// busy machine may otherwise press OK on the browser's first item).
bool BrowseAndPress(HWND dialog, int button, const std::wstring& expected, std::wstring* caption) {
  PostMessageW(dialog, WM_COMMAND, IDC_BROWSE, 0);  // the browser is modal: do not wait here
  HWND browser = WaitForWindow(Str(IDS_BROWSE_CAPTION).c_str(), 20000);
  if (!browser) return false;
  *caption = TextOf(browser);
  for (int i = 0; i < 100 && _wcsicmp(SelectedFolderName(browser).c_str(), expected.c_str()) != 0; ++i) Sleep(50);
  Click(GetDlgItem(browser, button));
  return Settle(dialog);
}

// Reads a folder's listing once. Wine 8's browser matches the preselected path against its tree
// by item data that includes the last-access time, and the first listing of a new folder moves
// that time (relatime); a folder first listed between the tree's fill and the path's parse is
// then not found, and the browser stays on the desktop (measured: 25 of 30 opens, 1.5 s after
// creation). Listed once here, the time stays put.
void SettleAccessTime(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  while (FindNextFileW(find, &found)) {
  }
  FindClose(find);
}

TEST_F(DialogTest, BrowserStartsFromTheDetectedFolder) {
  // Wine 8's browser does not preselect a folder below the user's profile (it stays on the
  // desktop for C:\users\<user>\Temp\...), so this test uses a folder of its own on C:.
  std::wstring base = L"C:\\qtxtests-dialog";
  RemoveAll(base);
  ASSERT_TRUE(CreateDirectoryW(base.c_str(), nullptr));
  programFolder = base + L"\\Program";
  ASSERT_TRUE(CreateDirectoryW(programFolder.c_str(), nullptr));
  SettleAccessTime(base);
  SettleAccessTime(programFolder);
  Set(kProductKey, L"Product", L"vhm");
  Set(kProductKey, L"ProgramFolder", programFolder + L"\\");
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  std::wstring caption, afterOk, afterCancel;
  bool okDone = false, cancelDone = false;
  ShowMainDialog([&](HWND dialog) {
    if (!dialog) return;
    TypeText(GetDlgItem(dialog, IDC_PATH), otherFolder);
    okDone = BrowseAndPress(dialog, IDOK, L"Program", &caption);
    afterOk = TextOf(GetDlgItem(dialog, IDC_PATH));
    TypeText(GetDlgItem(dialog, IDC_PATH), otherFolder);
    cancelDone = BrowseAndPress(dialog, IDCANCEL, L"Program", &caption);
    afterCancel = TextOf(GetDlgItem(dialog, IDC_PATH));
  });
  CoUninitialize();
  RemoveAll(base);
  ASSERT_TRUE(okDone);
  ASSERT_TRUE(cancelDone);
  EXPECT_EQ(Str(IDS_BROWSE_CAPTION), caption);
  // OK takes the preselected folder: the detected one without its trailing backslash.
  EXPECT_EQ(0, _wcsicmp(programFolder.c_str(), afterOk.c_str())) << Narrow(afterOk);
  EXPECT_EQ(0, _wcsicmp(programFolder.c_str(), afterCancel.c_str())) << Narrow(afterCancel);
}
}  // namespace
