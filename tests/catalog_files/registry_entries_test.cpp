// The registry step on keys planted in the test prefix, in the 32-bit view that the suite's
// 32-bit installer writes: every row goes, foreign neighbours stay, the App Paths entry, the
// ad blocker's folder records and the scheduled task (also in the 64-bit view) follow their
// rules, and the result says whether the main key is gone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "catalog/probe.h"
#include "setup/product.h"
#include "tests/registry/reg_test_util.h"
#include "tests/support/test_support.h"

using namespace qtxtest;
using namespace regtest;

namespace {
constexpr const wchar_t* kMainKey = L"Software\\VELKO Software\\Velko";
const std::wstring kTree = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Schedule\\TaskCache\\Tree\\velko! Emergency Update";
const std::wstring kTasks = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Schedule\\TaskCache\\Tasks";
const std::wstring kAppPath = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\pmrVelko.exe";
const std::wstring kFolders = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders";
const std::wstring kAdBlocker = L"C:\\Program Files\\VELKO Software\\velko! Ad Blocker IE\\";

struct Row {
  HKEY root;
  std::wstring key;
  std::wstring value;  // empty: a key tree
};

// The rows as the suite's installer leaves them.
std::vector<Row> SuiteRows() {
  const wchar_t* cls = L"SOFTWARE\\Classes\\";
  std::vector<Row> rows = {
      {HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.velkolic", L""},
      {HKEY_CURRENT_USER, L"SOFTWARE\\VELKO Software\\Velko", L""},
      {HKEY_LOCAL_MACHINE, L"SOFTWARE\\VELKO Software\\Velko", L""},
      {HKEY_LOCAL_MACHINE, L"SOFTWARE\\VELKO Software\\Tunnelway", L""},
      {HKEY_LOCAL_MACHINE, L"SOFTWARE\\VELKO Software\\Velko Browser Cleanup", L""},
      {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\SystemCertificates\\velko! Mail Scanner Cache", L""},
      {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\SystemCertificates\\velko! Mail Scanner Trusted", L""},
      {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Tracing\\velko_RASAPI32", L""},
      {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Tracing\\velko_RASMANCS", L""},
      {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\VelkoUI.exe", L""},
      {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ShellIconOverlayIdentifiers\\00velko", L""},
      {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Google\\No Drive Offer Until", L"VELKO Software"},
      {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", L"VelkoUI.exe"},
      {HKEY_CLASSES_ROOT, L"AppID\\{080F7E03-AC50-4949-AACA-E79F82D3099F}", L""},
      {HKEY_CLASSES_ROOT, L"AppID\\VelkoGUIProxy.DLL", L""},
      {HKEY_CLASSES_ROOT, L"VelkoGUIProxy.GUIProxy", L""},
      {HKEY_CLASSES_ROOT, L"VelkoGUIProxy.GUIProxy.1", L""},
      {HKEY_CLASSES_ROOT, L"VelkoGUIProxy.GUIProxyState", L""},
      {HKEY_CLASSES_ROOT, L"VelkoGUIProxy.GUIProxyState.1", L""},
      {HKEY_CLASSES_ROOT, L"TypeLib\\{5D605A2B-ACDE-49CD-9642-7B268923ACD9}", L""},
      {HKEY_CLASSES_ROOT, L"Installer\\Products\\B82B4B276FD996E4E9001FEE1500A1DD", L""},
      {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Google\\Chrome\\Extensions\\mlcbgpekccokebfafkgegcfanihaiknk", L""},
      {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{72B4B28B-9DF6-4E69-9E00-F1EE51001ADD}", L""},
      {HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Antivirus", L""},
  };
  for (const wchar_t* name : {L"velko", L".velkoconfig", L".velkolic", L".velkovpn", L".velkosounds", L".velkotheme",
                              L"velkoconfigfile", L"velkolicfile", L"velkovpnfile", L"VelkoPersistentStorage",
                              L"velkosoundsfile", L"velkothemefile",
                              L"AllFilesystemObjects\\shellex\\ContextMenuHandlers\\00velko"})
    rows.push_back({HKEY_LOCAL_MACHINE, std::wstring(cls) + name, L""});
  for (const wchar_t* sub : {L"", L"html\\", L"html\\static\\", L"html\\static\\css\\", L"html\\static\\img\\",
                             L"html\\static\\img\\features\\", L"html\\static\\js\\", L"html\\static\\js\\vendor\\",
                             L"html\\templates\\"})
    rows.push_back({HKEY_LOCAL_MACHINE, kFolders, kAdBlocker + sub});
  return rows;
}

bool Present(const Row& row) {
  return !row.value.empty() ? ValueExists(row.root, row.key, row.value.c_str(), kView32)
                            : KeyExists(row.root, row.key, kView32);
}

void Plant(const Row& row) {
  if (!row.value.empty())
    ASSERT_TRUE(SetText(row.root, row.key, row.value.c_str(), L"1", kView32));
  else
    ASSERT_TRUE(MakeKey(row.root, row.key + L"\\Sub", kView32));
}

void RemoveValue(const Row& row) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(row.root, row.key.c_str(), 0, KEY_SET_VALUE | kView32, &key) != 0) return;
  RegDeleteValueW(key, row.value.c_str());
  RegCloseKey(key);
}

class RegistryEntriesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetProductFacts();
    g_productRegistryKey = kMainKey;
    g_installedMajorVersion = 9;
  }
  void TearDown() override {
    RemoveKey(HKEY_LOCAL_MACHINE, kMainKey, kView32);
    RemoveKey(HKEY_LOCAL_MACHINE, kAppPath, kView32);
    for (REGSAM view : {kView32, kView64}) {
      RemoveKey(HKEY_LOCAL_MACHINE, kTree, view);
      RemoveKey(HKEY_LOCAL_MACHINE, kTasks + L"\\{OTHER}", view);
      RemoveKey(HKEY_LOCAL_MACHINE, kTasks + L"\\{TASK}", view);
    }
    ResetProductFacts();
  }
};
}  // namespace

TEST_F(RegistryEntriesTest, EveryRowGoesAndForeignNeighboursStay) {
  std::vector<Row> rows = SuiteRows();
  for (const Row& row : rows) Plant(row);
  const std::vector<Row> foreign = {
      {HKEY_LOCAL_MACHINE, L"SOFTWARE\\VELKO Software\\Qtx Foreign", L""},
      {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", L"QtxForeign"},
      {HKEY_LOCAL_MACHINE, kFolders, L"C:\\Program Files\\Qtx Foreign\\"},
      {HKEY_CLASSES_ROOT, L"VelkoGUIProxy.Qtx", L""},
  };
  for (const Row& row : foreign) Plant(row);
  ResidueList before;
  ProbeRegistryEntries(before);
  // Row 1 (the main key in HKCU) and row 3 are the same key; everything planted is found.
  EXPECT_EQ(before.size(), rows.size() + 1);

  EXPECT_EQ(RemoveRegistryEntries(), 0u);
  for (const Row& row : rows) EXPECT_FALSE(Present(row)) << Narrow(row.key) << " " << Narrow(row.value);
  for (const Row& row : foreign) EXPECT_TRUE(Present(row)) << Narrow(row.key);
  ResidueList after;
  ProbeRegistryEntries(after);
  EXPECT_TRUE(after.empty()) << (after.empty() ? "" : Narrow(after[0].what));

  RemoveKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VELKO Software", kView32);
  RemoveKey(HKEY_CURRENT_USER, L"SOFTWARE\\VELKO Software", kView32);
  RemoveKey(HKEY_CLASSES_ROOT, L"VelkoGUIProxy.Qtx", kView32);
  for (const Row& row : foreign)
    if (!row.value.empty()) RemoveValue(row);
}

TEST_F(RegistryEntriesTest, AppPathsEntryGoesOnlyWhenItNamesTheProgramFolder) {
  struct Case {
    const wchar_t* path;
    const wchar_t* programFolder;
    bool removed;
  } cases[] = {
      {L"C:\\Suite\\Velko", L"C:\\Suite\\Velko", true},
      {L"c:\\SUITE\\velko", L"C:\\Suite\\Velko", true},
      {L"C:\\Suite\\Velko\\", L"C:\\Suite\\Velko", true},
      {L"C:\\Suite\\Velko", L"C:\\Suite\\Velko\\", true},
      {L"C:\\Elsewhere\\Velko", L"C:\\Suite\\Velko", false},
      {L"C:\\Suite\\Velko2", L"C:\\Suite\\Velko", false},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(SetText(HKEY_LOCAL_MACHINE, kAppPath, L"Path", c.path, kView32));
    g_detectedProgramFolder = c.programFolder;
    ResidueList found;
    ProbeRegistryEntries(found);
    bool probed = !found.empty() && found[0].kind == L"App Paths entry";
    RemoveRegistryEntries();
    EXPECT_EQ(!KeyExists(HKEY_LOCAL_MACHINE, kAppPath, kView32), c.removed) << Narrow(c.path);
    EXPECT_EQ(probed, c.removed) << Narrow(c.path);
    RemoveKey(HKEY_LOCAL_MACHINE, kAppPath, kView32);
  }
}

// The program's own view, and the 64-bit view where the native scheduler keeps its cache.
TEST_F(RegistryEntriesTest, ScheduledTaskByItsIdInBothViews) {
  struct Case {
    const wchar_t* id;  // null: no "Id" value
    bool taskRemoved;
  } cases[] = {{L"{TASK}", true}, {nullptr, false}, {L"", false}};
  for (REGSAM view : {kView32, kView64}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(view == kView64 ? "64-bit view" : "32-bit view");
      ASSERT_TRUE(MakeKey(HKEY_LOCAL_MACHINE, kTree, view));
      if (c.id) {
        ASSERT_TRUE(SetText(HKEY_LOCAL_MACHINE, kTree, L"Id", c.id, view));
      }
      ASSERT_TRUE(MakeKey(HKEY_LOCAL_MACHINE, kTasks + L"\\{TASK}", view));
      ASSERT_TRUE(MakeKey(HKEY_LOCAL_MACHINE, kTasks + L"\\{OTHER}", view));
      ResidueList before;
      ProbeRegistryEntries(before);
      EXPECT_EQ(before.size(), c.taskRemoved ? 2u : 1u);
      RemoveRegistryEntries();
      EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kTree, view));
      EXPECT_EQ(!KeyExists(HKEY_LOCAL_MACHINE, kTasks + L"\\{TASK}", view), c.taskRemoved) << (c.id ? Narrow(c.id) : "none");
      EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kTasks + L"\\{OTHER}", view));
      RemoveKey(HKEY_LOCAL_MACHINE, kTasks + L"\\{TASK}", view);
      RemoveKey(HKEY_LOCAL_MACHINE, kTasks + L"\\{OTHER}", view);
    }
  }
}

// The installer names the ad-blocker component's folders where it put them: besides the
// usual folder, the records of the folder beside the program folder go too.
TEST_F(RegistryEntriesTest, AdBlockerRecordsOfTheFolderBesideTheProgramFolder) {
  struct Case {
    const wchar_t* programFolder;
    const wchar_t* recordFolder;
    bool removed;
  } cases[] = {
      {L"C:\\Program Files (x86)\\VELKO Software\\Velko", L"C:\\Program Files (x86)\\VELKO Software\\velko! Ad Blocker IE\\", true},
      {L"D:\\Suite\\VELKO Software\\Velko\\", L"D:\\Suite\\VELKO Software\\velko! Ad Blocker IE\\", true},
      {L"C:\\Program Files (x86)\\VELKO Software\\Velko", L"C:\\Program Files (x86)\\VELKO Software\\Other\\", false},
      {L"C:\\Suite\\velkoprog", L"C:\\Suite\\velko! Ad Blocker IE\\", false},
      {L"", L"C:\\Program Files (x86)\\VELKO Software\\velko! Ad Blocker IE\\", false},
  };
  const wchar_t* subfolders[] = {L"", L"html\\", L"html\\static\\js\\vendor\\", L"html\\templates\\"};
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.programFolder));
    g_detectedProgramFolder = c.programFolder;
    for (const wchar_t* sub : subfolders) Plant({HKEY_LOCAL_MACHINE, kFolders, c.recordFolder + std::wstring(sub)});
    ResidueList before;
    ProbeRegistryEntries(before);
    EXPECT_EQ(before.size(), c.removed ? 4u : 0u);
    RemoveRegistryEntries();
    for (const wchar_t* sub : subfolders) {
      Row row = {HKEY_LOCAL_MACHINE, kFolders, c.recordFolder + std::wstring(sub)};
      EXPECT_EQ(!Present(row), c.removed) << Narrow(row.value);
      if (Present(row)) RemoveValue(row);
    }
  }
}

// 0 exactly when the main key is gone, whatever the version and whatever error an earlier
// call left behind; the code of the failed deletion otherwise.
TEST_F(RegistryEntriesTest, ResultSaysWhetherTheMainKeyIsGone) {
  const std::wstring locked = std::wstring(L"Software\\Wow6432Node\\VELKO Software\\Velko\\Locked");
  for (DWORD version : {6u, 7u, 9u, 0u}) {
    for (bool keyStays : {false, true}) {
      g_installedMajorVersion = version;
      ASSERT_TRUE(MakeKey(HKEY_LOCAL_MACHINE, std::wstring(kMainKey) + L"\\Locked", kView32));
      if (keyStays) ASSERT_TRUE(Lock(HKEY_LOCAL_MACHINE, locked));
      SetLastError(ERROR_INVALID_FUNCTION);
      DWORD result = RemoveRegistryEntries();
      bool present = KeyExists(HKEY_LOCAL_MACHINE, kMainKey, kView32);
      EXPECT_EQ(present, keyStays) << version;
      if (keyStays)
        EXPECT_TRUE(result != 0 && result != ERROR_INVALID_FUNCTION) << version << " " << result;
      else
        EXPECT_EQ(result, 0u) << version;
      Unlock(HKEY_LOCAL_MACHINE, locked);
      RemoveKey(HKEY_LOCAL_MACHINE, kMainKey, kView32);
    }
  }
  // No product detected: nothing to look at, success.
  g_productRegistryKey.clear();
  g_installedMajorVersion = 0;
  SetLastError(ERROR_INVALID_FUNCTION);
  EXPECT_EQ(RemoveRegistryEntries(), 0u);
}
