// The file steps on folders planted in scratch space (the shell folders and application-data
// folders pointed there for the test) and on the fixed paths of the test prefix: the safety
// rule, the confirmation, the folders that follow the program folder, the application-data
// parents, shortcuts and program groups, boot files and the always-removed leftovers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "catalog/probe.h"
#include "base/dynapi.h"
#include "catalog/program_files.h"
#include "base/nocase.h"
#include "resources/resource.h"
#include "setup/product.h"
#include "setup/setup_globals.h"
#include "sysops/reboot_queue.h"
#include "tests/registry/reg_test_util.h"
#include "tests/support/test_support.h"
#include "tests/support/unix_links.h"
#include "ui/ui_context.h"

using namespace qtxtest;
using namespace regtest;

namespace {
const std::wstring kShellFolders = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const std::wstring kRun = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const UINT kConfirmType = MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2;

std::wstring Env(const wchar_t* name) {
  wchar_t value[MAX_PATH] = {0};
  DWORD n = GetEnvironmentVariableW(name, value, MAX_PATH);
  return n > 0 && n < MAX_PATH ? value : L"";
}

std::wstring WindowsFolder() {
  wchar_t folder[MAX_PATH] = {0};
  GetWindowsDirectoryW(folder, MAX_PATH);
  return folder;
}

// Creates the file's folders one level after another, then the file.
void Touch(const std::wstring& path) {
  for (size_t slash = path.find(L'\\', 3); slash != std::wstring::npos; slash = path.find(L'\\', slash + 1))
    CreateDirectoryW(path.substr(0, slash).c_str(), nullptr);
  ASSERT_TRUE(WriteBytes(path, "x")) << Narrow(path);
}

// Sets a text value for the life of the object and puts back what was there.
class ScopedText {
 public:
  ScopedText(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& text, REGSAM view)
      : root_(root), key_(key), name_(name), view_(view) {
    keyExisted_ = KeyExists(root, key, view);
    DWORD type = 0;
    hadValue_ = GetValue(root, key, name, &type, &old_, view);
    SetText(root, key, name, text, view);
  }
  ~ScopedText() {
    if (hadValue_) {
      SetValue(root_, key_, name_, REG_SZ, old_.data(), static_cast<DWORD>(old_.size()), view_);
    } else if (!keyExisted_) {
      RemoveKey(root_, key_, view_);
    } else {
      HKEY key = nullptr;
      if (RegOpenKeyExW(root_, key_.c_str(), 0, KEY_SET_VALUE | view_, &key) == 0) {
        RegDeleteValueW(key, name_);
        RegCloseKey(key);
      }
    }
  }

 private:
  HKEY root_;
  std::wstring key_;
  const wchar_t* name_;
  REGSAM view_;
  bool keyExisted_ = false, hadValue_ = false;
  std::vector<BYTE> old_;
};

class ProgramFilesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { g_setup.Init(); }
  void SetUp() override {
    ResetProductFacts();
    g_instance = GetModuleHandleW(nullptr);
    g_uiLanguage = 1033;
    g_setup.UiMode = Interactive;
    window_ = CreateWindowW(L"STATIC", L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    CreateWindowW(L"EDIT", L"", WS_CHILD | ES_MULTILINE, 0, 0, 10, 10, window_,
                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_PROGRESS)), nullptr, nullptr);
    g_mainDialog = window_;
    ResetRebootQueueForTests();
    ClearLog();
  }
  void TearDown() override {
    g_mainDialog = nullptr;
    DestroyWindow(window_);
    ResetProductFacts();
    ResetRebootQueueForTests();
    g_setup.UiMode = Interactive;
  }
  std::wstring Progress() {
    wchar_t text[4096] = {0};
    GetWindowTextW(GetDlgItem(window_, IDC_PROGRESS), text, 4096);
    return text;
  }
  HWND window_ = nullptr;
};
}  // namespace

// The rule's table, shared by the test below and by its run under a claimed Windows 2000.
static void CheckSafetyRuleTable() {
  const std::wstring windows = WindowsFolder();
  const std::wstring profile = Env(L"USERPROFILE");
  const std::wstring profiles = profile.substr(0, profile.rfind(L'\\'));
  ASSERT_FALSE(windows.empty() || profile.empty());
  struct Case {
    std::wstring folder;
    bool refused;
  } cases[] = {
      {windows, true},
      {windows + L"\\System32", true},
      {windows + L"\\qtx\\", true},
      {L"C:\\WINDOWS", true},
      {Env(L"ProgramW6432"), true},
      {Env(L"ProgramFiles(x86)"), true},
      {L"c:\\PROGRAM FILES\\", true},
      {L"C:\\program files (X86)", true},
      {Env(L"CommonProgramW6432"), true},
      {Env(L"CommonProgramFiles(x86)"), true},
      {L"C:\\PROGRAM FILES\\common files", true},
      {profiles, true},
      {profile, true},
      {Env(L"ProgramData"), true},
      {L"C:\\", true},
      {L"c:", true},
      {L"C:\\\\", true},
      {L"C:\\Temp\\..", true},
      {L"C:/Program Files", true},
      {L"C:\\*", true},
      {L"C:\\Suite?", true},
      {L"Suite\\Velko", true},
      {L"", true},
      {L"\\\\.\\C:\\Windows", true},
      {L"\\\\.\\C:\\Program Files", true},
      {L"\\\\.\\C:\\", true},
      {L"//./C:/Suite", true},
      {L"\\??\\C:\\Windows", true},
      {L"\\\\localhost\\C$", true},
      {L"\\\\localhost\\c$\\Program Files", true},
      {L"\\\\127.0.0.1\\ADMIN$\\System32", true},
      {L"C:\\A", false},
      {L"C:\\Program Files\\VELKO Software\\Velko", false},
      {L"C:\\Program Files (x86)\\Common Files\\Velko", false},
      {profile + L"\\Velko", false},
      {Env(L"ProgramData") + L"\\VELKO Software\\", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsRefusedFolder(c.folder), c.refused) << Narrow(c.folder);
  EXPECT_EQ(FolderAsUsed(L"C:\\Suite\\Velko\\"), L"C:\\Suite\\Velko");
  EXPECT_EQ(FolderAsUsed(L"C:\\"), L"C:\\");
}

TEST_F(ProgramFilesTest, SafetyRuleRefusesSystemFoldersButNotFoldersBelowThem) { CheckSafetyRuleTable(); }

// Folders reached through a link a user planted: the rule compares what they name (volume and
// file index) with the guarded folders, so a link to the Windows folder, to a folder in it, to
// Program Files or to the drive root is refused; a link to an ordinary folder is not.
TEST_F(ProgramFilesTest, SafetyRuleRefusesLinksToGuardedFolders) {
  const std::wstring windows = WindowsFolder();
  const std::wstring base = ScratchDir(L"rule-links"), ordinary = base + L"\\Ordinary";
  Touch(ordinary + L"\\f.txt");
  struct Case {
    const wchar_t* name;
    std::wstring target;
    bool refused;
  } cases[] = {
      {L"windows", windows, true},
      {L"system", windows + L"\\System32", true},
      {L"programs", Env(L"ProgramFiles"), true},
      {L"root", L"C:\\", true},
      {L"to-ordinary", ordinary, false},
  };
  for (const Case& c : cases) {
    std::wstring link = base + L"\\" + c.name;
    ASSERT_TRUE(PlantFolderLink(link, c.target)) << Narrow(link);
    EXPECT_EQ(IsRefusedFolder(link), c.refused) << Narrow(link);
    EXPECT_EQ(IsRefusedFolder(link + L"\\"), c.refused) << Narrow(link);
    EXPECT_TRUE(DropLink(link)) << Narrow(link);
  }
}

// The rule's comparison folds letters beyond ASCII and compares nothing else loosely.
TEST(NoCaseComparison, FoldsLetterCaseOnly) {
  EXPECT_TRUE(EqualNoCase(std::wstring(L"C:\\Windows"), std::wstring(L"c:\\WINDOWS")));
  EXPECT_TRUE(EqualNoCase(std::wstring(L"D:\\\u00C4rger\\\u03A3"), std::wstring(L"d:\\\u00E4RGER\\\u03C3")));
  EXPECT_FALSE(EqualNoCase(std::wstring(L"C:\\Windows"), std::wstring(L"C:\\Windows\\")));
  EXPECT_FALSE(EqualNoCase(std::wstring(L"C:\\Co-op"), std::wstring(L"C:\\Coop")));
  EXPECT_FALSE(EqualNoCase(std::wstring(L"C:\\A\u0308"), std::wstring(L"C:\\\u00C4")));
  EXPECT_TRUE(StartsWithNoCase(L"c:\\windows\\system32", L"C:\\Windows"));
  EXPECT_FALSE(StartsWithNoCase(L"C:\\Win", L"C:\\Windows"));
}

// Windows 2000 has no LOCALE_INVARIANT; a comparison built on it fails there for every pair,
// and the rule would let the Windows folder in another letter case pass. The table is run again
// with Wine claiming 5.0 for this program. Wine's own CompareStringW accepts LOCALE_INVARIANT
// whatever version it claims, so this run cannot show the old fault; it shows that the rule
// (letter case included) holds when the program is told it runs on Windows 2000.
TEST(ProgramFilesUnderVersion, SafetyRuleTable) {
  wchar_t expect[16] = {0};
  if (!GetEnvironmentVariableW(L"QTX_EXPECT", expect, 16)) GTEST_SKIP() << "runs only as a child";
  OSVERSIONINFOW version = {sizeof version};
  ASSERT_TRUE(GetVersionExW(&version));
  ASSERT_EQ(std::to_wstring(version.dwMajorVersion) + L"." + std::to_wstring(version.dwMinorVersion), expect);
  g_setup.Init();
  CheckSafetyRuleTable();
}

TEST(ProgramFilesVersions, SafetyRuleHoldsOnClaimedWindows2000) {
  EXPECT_EQ(RunSelfUnderWindowsVersion(L"win2k", L"ProgramFilesUnderVersion.*", L"5.0"), 0u);
}

// Each answer and mode, with the ad-blocker and data folders that go with the program folder.
TEST_F(ProgramFilesTest, ProgramFolderGoesOnlyAfterYesOrInTheSilentModes) {
  struct Case {
    const char* name;
    int uiMode;
    std::vector<int> answers;
    const wchar_t* typedEnd;
    bool removed;
  } cases[] = {
      {"no", Interactive, {IDNO}, L"", false},
      {"closed", Interactive, {IDCANCEL}, L"", false},
      {"yes", Interactive, {IDYES}, L"", true},
      {"silent", Silent, {}, L"", true},
      {"very silent", VerySilent, {}, L"", true},
      {"trailing backslash", Interactive, {IDYES}, L"\\", true},
  };
  for (const Case& c : cases) {
    if (&c != cases) SetUp();
    std::wstring base = ScratchDir(L"pf");
    std::wstring program = base + L"\\VELKO Software\\Velko", adBlocker = base + L"\\VELKO Software\\velko! Ad Blocker IE";
    std::wstring data = base + L"\\Data\\Velko";
    for (const std::wstring& f : {program + L"\\a.exe", program + L"\\sub\\b.dll", adBlocker + L"\\html\\x.js", data + L"\\d.ini"})
      Touch(f);
    g_detectedProgramFolder = program + c.typedEnd;
    g_detectedDataFolder = data;
    g_setup.UiMode = c.uiMode;
    ScriptedPrompts prompts(c.answers);
    RemoveProgramFiles();
    for (const std::wstring& folder : {program, adBlocker, data}) EXPECT_EQ(PathExists(folder), !c.removed) << c.name;
    EXPECT_TRUE(PathExists(base + L"\\VELKO Software")) << c.name;
    EXPECT_EQ(Progress().find(L"Program files - removed") != std::wstring::npos, c.removed) << c.name;
    ASSERT_EQ(prompts.prompts().size(), c.answers.size()) << c.name;
    if (!c.answers.empty()) {
      EXPECT_EQ(prompts.prompts()[0].text.rfind(L"Are you sure that the entered path contains the installed", 0), 0u);
      EXPECT_EQ(prompts.prompts()[0].caption, L"velko! Antivirus Uninstall");
      EXPECT_EQ(prompts.prompts()[0].type, kConfirmType);
      EXPECT_EQ(prompts.prompts()[0].owner, window_);
    }
    if (&c != cases + sizeof cases / sizeof cases[0] - 1) TearDown();
  }
}

TEST_F(ProgramFilesTest, RefusedFolderKeepsDataFolderAndTellsTheUserUnlessSilent) {
  for (int mode : {Interactive, Silent, VerySilent}) {
    if (mode != Interactive) SetUp();
    std::wstring data = ScratchDir(L"refused") + L"\\Velko";
    Touch(data + L"\\d.ini");
    g_detectedProgramFolder = WindowsFolder() + L"\\qtxNoSuchFolder";
    g_detectedDataFolder = data;
    g_setup.UiMode = mode;
    ScriptedPrompts prompts({IDYES});
    RemoveProgramFiles();
    EXPECT_TRUE(PathExists(data)) << mode;
    EXPECT_EQ(Progress().find(L"Program files - removed"), std::wstring::npos);
    ASSERT_EQ(prompts.prompts().size(), mode == Interactive ? 1u : 0u) << mode;
    if (mode == Interactive) {
      EXPECT_EQ(prompts.prompts()[0].text.rfind(L"The entered path contains system folders.", 0), 0u);
      EXPECT_EQ(prompts.prompts()[0].type, static_cast<UINT>(MB_ICONEXCLAMATION));
      EXPECT_EQ(prompts.prompts()[0].caption, L"velko! Antivirus Uninstall");
    }
    if (mode != VerySilent) TearDown();
  }
}

TEST_F(ProgramFilesTest, AdBlockerOnlyBesideVelkoRefusedDataFolderSkippedLockedFileQueued) {
  g_setup.UiMode = Silent;
  std::wstring base = ScratchDir(L"adblock");
  std::wstring program = base + L"\\Suite\\velkoprog", adBlocker = base + L"\\Suite\\velko! Ad Blocker IE";
  Touch(program + L"\\a.exe");
  Touch(adBlocker + L"\\b.js");
  Touch(program + L"\\locked.dat");
  HANDLE locked = CreateFileW((program + L"\\locked.dat").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(locked, INVALID_HANDLE_VALUE);
  g_detectedProgramFolder = program;
  g_detectedDataFolder = L"C:\\";
  ScriptedPrompts prompts;
  RemoveProgramFiles();
  CloseHandle(locked);
  EXPECT_FALSE(PathExists(program + L"\\a.exe"));
  EXPECT_TRUE(IsQueuedForReboot((program + L"\\locked.dat").c_str()));
  EXPECT_TRUE(PathExists(adBlocker + L"\\b.js"));
  EXPECT_TRUE(LogHas(L"Data folder refused: C:\\")) << Narrow(LogDump());
  EXPECT_TRUE(prompts.prompts().empty());
}

// The application-data folders; the common one's parents go only when left empty.
TEST_F(ProgramFilesTest, ApplicationDataParentsGoOnlyWhenEmpty) {
  for (bool foreign : {true, false}) {
    std::wstring base = ScratchDir(L"appdata");
    std::wstring user = base + L"\\user", common = base + L"\\common";
    ScopedText appData(HKEY_CURRENT_USER, L"Volatile Environment", L"APPDATA", user, kView32);
    ScopedText commonData(HKEY_LOCAL_MACHINE, kShellFolders, L"Common AppData", common, kView32);
    Touch(user + L"\\VELKO Software\\Velko\\u.ini");
    Touch(user + L"\\VELKO Software\\Other\\keep.ini");
    Touch(common + L"\\VELKO Software\\Durable Store\\Velko\\s.dat");
    if (foreign) Touch(common + L"\\VELKO Software\\Qtx Other\\keep.dat");
    ResidueList before;
    ProbeFilesAndShortcuts(before);
    RemoveProgramFiles();
    EXPECT_FALSE(PathExists(user + L"\\VELKO Software\\Velko"));
    EXPECT_TRUE(PathExists(user + L"\\VELKO Software\\Other\\keep.ini"));
    EXPECT_FALSE(PathExists(common + L"\\VELKO Software\\Durable Store"));
    EXPECT_EQ(PathExists(common + L"\\VELKO Software"), foreign);
    if (foreign) EXPECT_TRUE(PathExists(common + L"\\VELKO Software\\Qtx Other\\keep.dat"));
    int probed = 0;
    for (const Residue& r : before) probed += r.kind == L"folder" && r.what.rfind(base, 0) == 0;
    EXPECT_EQ(probed, 2);
    ResidueList after;
    ProbeFilesAndShortcuts(after);
    for (const Residue& r : after) EXPECT_NE(r.what.rfind(base, 0), 0u) << Narrow(r.what);
  }
}

std::vector<std::wstring> g_uninstalledInfs;
BOOL WINAPI RecordInfUninstall(PCWSTR inf, DWORD, PVOID) {
  g_uninstalledInfs.push_back(inf);
  return TRUE;
}

// Leftovers at fixed places go whatever the user answered about the program folder, and the
// network components' driver packages are uninstalled by catalog file and provider.
TEST_F(ProgramFilesTest, FixedLeftoversGoEvenAfterNo) {
  const std::wstring inf = WindowsFolder() + L"\\Inf\\";
  struct Package {
    const wchar_t* name;
    const char* version;
    bool uninstalled;
  } packages[] = {
      {L"qtxtest1.inf", "[Version]\r\nProvider=%VLKO%\r\nCatalogFile=qtxnet.cat\r\n", true},
      {L"qtxtest2.inf", "[Version]\r\nProvider=%SW%\r\nCatalogFile=QTXNDIS.cat\r\n", true},
      {L"qtxtest3.inf", "[Version]\r\nProvider=%AGTM%\r\nCatalogFile=qtxndisr.cat\r\n", true},
      {L"qtxtest4.inf", "[Version]\r\nProvider=%Other%\r\nCatalogFile=qtxnet.cat\r\n", false},
      {L"qtxtest5.inf", "[Version]\r\nProvider=%SW%\r\nCatalogFile=qtxnet.cat\r\n", false},
  };
  for (const Package& p : packages) ASSERT_TRUE(WriteBytes(inf + p.name, p.version));
  g_uninstalledInfs.clear();
  OverrideProc("SetupUninstallOEMInfW", reinterpret_cast<FARPROC>(RecordInfUninstall));

  const std::vector<std::wstring> files = {
      L"C:\\~VKINSTL\\setup.tmp", L"C:\\velko! sandbox\\box\\f.bin", g_setup.Expand(L"%WINDIR%", L"velkoss.scr"),
      g_setup.Expand(L"%SYS%", L"Tasks\\velko! Emergency Update"),
      // The native scheduler's copy, in the native system folder of 64-bit Windows.
      g_setup.Expand(L"%SYS64%", L"Tasks\\velko! Emergency Update")};
  for (const std::wstring& f : files) Touch(f);
  std::wstring program = ScratchDir(L"fixed") + L"\\Velko";
  Touch(program + L"\\a.exe");
  g_detectedProgramFolder = program;
  ScriptedPrompts prompts({IDNO});
  ResidueList before;
  ProbeFilesAndShortcuts(before);
  EXPECT_GE(before.size(), 6u);
  RemoveProgramFiles();
  EXPECT_TRUE(PathExists(program + L"\\a.exe"));
  for (const std::wstring& f : files) EXPECT_FALSE(PathExists(f)) << Narrow(f);
  EXPECT_FALSE(PathExists(L"C:\\~VKINSTL"));
  EXPECT_FALSE(PathExists(L"C:\\velko! sandbox"));
  ClearProcOverrides();
  for (const Package& p : packages) {
    int calls = 0;
    for (const std::wstring& done : g_uninstalledInfs) calls += _wcsicmp(done.c_str(), (inf + p.name).c_str()) == 0;
    EXPECT_EQ(calls, p.uninstalled ? 1 : 0) << Narrow(p.name);
    DeleteFileW((inf + p.name).c_str());
  }
}

TEST_F(ProgramFilesTest, BootFilesGoFromBothSystemFolders) {
  const std::wstring native = g_setup.Expand(L"%SYS64%"), wow = g_setup.Expand(L"%SYS%");
  ASSERT_NE(native, wow);
  std::vector<std::wstring> files;
  for (const std::wstring& folder : {native, wow})
    for (const wchar_t* name : {L"velkoss.scr", L"qtxBoot.exe"}) files.push_back(folder + L"\\" + name);
  for (const std::wstring& f : files) Touch(f);
  ResidueList before, after;
  ProbeFilesAndShortcuts(before);
  for (const std::wstring& f : files) {
    bool probed = false;
    for (const Residue& r : before) probed |= _wcsicmp(r.what.c_str(), f.c_str()) == 0;
    EXPECT_TRUE(probed) << Narrow(f);
  }
  RemoveBootFiles();
  for (const std::wstring& f : files) EXPECT_FALSE(PathExists(f)) << Narrow(f);
  ProbeFilesAndShortcuts(after);
  for (const Residue& r : after) EXPECT_EQ(r.what.find(L"qtxBoot"), std::wstring::npos) << Narrow(r.what);
}

TEST_F(ProgramFilesTest, ShortcutsGroupsAndStartValuesOfEveryEdition) {
  std::wstring base = ScratchDir(L"shortcuts");
  std::wstring programs = base + L"\\Programs", desktop = base + L"\\Desktop";
  ScopedText programsValue(HKEY_LOCAL_MACHINE, kShellFolders, L"Common Programs", programs, kView32);
  ScopedText desktopValue(HKEY_LOCAL_MACHINE, kShellFolders, L"Common Desktop", desktop, kView32);
  const std::vector<std::wstring> editions = {
      L"velko! Lite Antivirus", L"velko! Plus Antivirus", L"velko! Max", L"velko! Harbor", L"velko! Web Guard",
      L"velko! Office Shield", L"velko! Office Shield Extra", L"velko! Share Host Defence", L"velko! Mail Host Defence",
      L"velko! Host Defence", L"velko! Office Shield Bundle", L"velko! Office Shield Bundle Extra",
      L"velko! Company Guard Extra", L"velko! Share Host Scanner", L"velko! Mail Host Scanner", L"velko! Host Scanner",
      L"velko! Host Company Guard", L"velko! Host Company Guard Extra"};
  std::vector<std::wstring> groups = editions, shortcuts = editions;
  groups.push_back(L"Velko");
  shortcuts.push_back(L"velko! Home Hub");
  for (const std::wstring& g : groups) Touch(programs + L"\\" + g + L"\\Start.lnk");
  for (const std::wstring& s : shortcuts) Touch(desktop + L"\\" + s + L".lnk");
  // Not the suite's: no group of this name, no Desktop shortcut of this name, a subfolder.
  Touch(programs + L"\\velko! Home Hub\\Start.lnk");
  Touch(desktop + L"\\Velko.lnk");
  Touch(programs + L"\\velko! Max\\Tools\\Tool.lnk");
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
    for (const wchar_t* name : {L"velko5", L"velko", L"QtxForeign"}) SetText(root, kRun, name, L"x.exe", kView32);
  ResidueList before;
  ProbeFilesAndShortcuts(before);
  size_t probed = 0;
  for (const Residue& r : before)
    probed += r.what.rfind(base, 0) == 0 || (r.kind == L"value" && r.what.find(L"\\Run [velko") != std::wstring::npos);
  EXPECT_EQ(probed, groups.size() + shortcuts.size() + 4);

  RemoveShortcuts();
  for (const std::wstring& g : groups) EXPECT_EQ(PathExists(programs + L"\\" + g), g == L"velko! Max") << Narrow(g);
  EXPECT_FALSE(PathExists(programs + L"\\velko! Max\\Start.lnk"));
  for (const std::wstring& s : shortcuts) EXPECT_FALSE(PathExists(desktop + L"\\" + s + L".lnk")) << Narrow(s);
  EXPECT_TRUE(PathExists(programs + L"\\velko! Home Hub\\Start.lnk"));
  EXPECT_TRUE(PathExists(desktop + L"\\Velko.lnk"));
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    EXPECT_FALSE(ValueExists(root, kRun, L"velko5", kView32));
    EXPECT_FALSE(ValueExists(root, kRun, L"velko", kView32));
    EXPECT_TRUE(ValueExists(root, kRun, L"QtxForeign", kView32));
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, kRun.c_str(), 0, KEY_SET_VALUE | kView32, &key) == 0) {
      RegDeleteValueW(key, L"QtxForeign");
      RegCloseKey(key);
    }
  }
  ResidueList after;
  ProbeFilesAndShortcuts(after);
  for (const Residue& r : after)
    if (r.what.rfind(base, 0) == 0) EXPECT_EQ(r.what, programs + L"\\velko! Max");
}
