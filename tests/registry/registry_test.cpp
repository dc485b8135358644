// Conformance of the registry primitives against Wine's registry: exact results, log lines
// and registry state before and after. Keys live under Software\QtxTests\registry_tests.
#include "sysops/registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/dynapi.h"
#include "tests/registry/reg_test_util.h"
#include "tests/support/test_support.h"

using namespace qtxtest;
using namespace regtest;

namespace {
const std::wstring kBase = L"Software\\QtxTests\\registry_tests";

std::wstring Deleted(const std::wstring& key) { return L"Deleted registry: " + key; }

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearLog();
    ClearProcOverrides();
    for (REGSAM view : {kView32, kView64}) RemoveKey(HKEY_LOCAL_MACHINE, kBase, view);
    RemoveKey(HKEY_CURRENT_USER, kBase);
  }
  void TearDown() override {
    ClearProcOverrides();
    for (REGSAM view : {kView32, kView64}) RemoveKey(HKEY_LOCAL_MACHINE, kBase, view);
    RemoveKey(HKEY_CURRENT_USER, kBase);
  }
};
}  // namespace

// A key that exists only in the 32-bit view is the product's own key: the plain and 32-bit
// deletions remove it, the 64-bit one does not see it. The other way round for a 64-bit key.
TEST_F(RegistryTest, TreeDeletionsWorkInTheirView) {
  const std::wstring key = kBase + L"\\Viewed";
  ASSERT_TRUE(MakeKey(HKEY_LOCAL_MACHINE, key + L"\\Child", kView32));
  EXPECT_EQ(regDeleteTree64(HKEY_LOCAL_MACHINE, key.c_str()), 0);
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, key + L"\\Child", kView32));
  EXPECT_TRUE(g_log.entries.empty()) << Narrow(LogDump());
  EXPECT_EQ(regDeleteTree32(HKEY_LOCAL_MACHINE, key.c_str()), 1);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key, kView32));
  EXPECT_EQ(LogTexts(), (std::vector<std::wstring>{Deleted(L"Child"), Deleted(key)}));

  ASSERT_TRUE(MakeKey(HKEY_LOCAL_MACHINE, key + L"\\Child", kView32));
  ClearLog();
  EXPECT_EQ(regDeleteTree(HKEY_LOCAL_MACHINE, key.c_str()), 1);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key, kView32));
  EXPECT_EQ(LogTexts(), (std::vector<std::wstring>{Deleted(L"Child"), Deleted(key)}));

  ASSERT_TRUE(MakeKey(HKEY_LOCAL_MACHINE, key + L"\\Child", kView64));
  ClearLog();
  EXPECT_EQ(regDeleteTree32(HKEY_LOCAL_MACHINE, key.c_str()), 0);
  EXPECT_EQ(regDeleteTree(HKEY_LOCAL_MACHINE, key.c_str()), 0);
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, key + L"\\Child", kView64));
  EXPECT_EQ(LogTexts(), (std::vector<std::wstring>{Deleted(key) + L" error: 2"}));
  ClearLog();
  EXPECT_EQ(regDeleteTree64(HKEY_LOCAL_MACHINE, key.c_str()), 1);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key, kView64));
  EXPECT_EQ(LogTexts(), (std::vector<std::wstring>{Deleted(L"Child"), Deleted(key)}));
}

// Without RegDeleteKeyExW (a system with one view) the view variants log nothing for the key
// itself. Every key is deleted through the handle it was opened and walked with, so the
// 32-bit key goes from its own view, not from wherever its name leads a second time.
TEST_F(RegistryTest, MissingDeleteKeyExDeletesInTheViewSilently) {
  OverrideProc("RegDeleteKeyExW", nullptr);
  const std::wstring key = kBase + L"\\NoEx";
  for (REGSAM view : {kView64, kView32}) {
    ClearLog();
    ASSERT_TRUE(MakeKey(HKEY_LOCAL_MACHINE, key + L"\\Child", view));
    ASSERT_TRUE(MakeKey(HKEY_LOCAL_MACHINE, key + L"\\Child", view == kView64 ? kView32 : kView64));
    EXPECT_EQ((view == kView64 ? regDeleteTree64 : regDeleteTree32)(HKEY_LOCAL_MACHINE, key.c_str()), 1);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key, view));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, key + L"\\Child", view == kView64 ? kView32 : kView64));
    EXPECT_TRUE(g_log.entries.empty()) << Narrow(LogDump());
  }
  ClearLog();
  ASSERT_TRUE(MakeKey(HKEY_LOCAL_MACHINE, key + L"\\Child", kView32));
  EXPECT_EQ(regDeleteTree(HKEY_LOCAL_MACHINE, key.c_str()), 1);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key, kView32));
  EXPECT_EQ(LogTexts(), (std::vector<std::wstring>{Deleted(L"Child"), Deleted(key)}));
}

TEST_F(RegistryTest, TreeIsDeletedDeepestFirstWithNamesRelativeToTheirParent) {
  const std::wstring key = kBase + L"\\Tree";
  ASSERT_TRUE(MakeKey(HKEY_CURRENT_USER, key + L"\\B\\C1"));
  ASSERT_TRUE(MakeKey(HKEY_CURRENT_USER, key + L"\\B\\C2"));
  ASSERT_TRUE(MakeKey(HKEY_CURRENT_USER, key + L"\\D"));
  ASSERT_TRUE(SetText(HKEY_CURRENT_USER, key + L"\\B", L"v", L"x"));
  EXPECT_EQ(regDeleteTree(HKEY_CURRENT_USER, key.c_str()), 1);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kBase));
  EXPECT_EQ(LogTexts(), (std::vector<std::wstring>{Deleted(L"C1"), Deleted(L"C2"), Deleted(L"B"),
                                                   Deleted(L"D"), Deleted(key)}));
  for (const LogEntry& e : g_log.entries) {
    EXPECT_EQ(e.level, LOG_VRB);
    EXPECT_EQ(e.category, LOG_REGISTRY);
  }
}

TEST_F(RegistryTest, MissingOrEmptyKeyNames) {
  const std::wstring key = kBase + L"\\Missing";
  EXPECT_EQ(regDeleteTree(HKEY_CURRENT_USER, key.c_str()), 0);
  EXPECT_TRUE(LogHas(Deleted(key) + L" error: 2", LOG_VRB, LOG_REGISTRY)) << Narrow(LogDump());
  ClearLog();
  EXPECT_EQ(regDeleteTree64(HKEY_CURRENT_USER, key.c_str()), 0);
  EXPECT_EQ(regDeleteTree32(HKEY_CURRENT_USER, key.c_str()), 0);
  EXPECT_TRUE(g_log.entries.empty()) << Narrow(LogDump());

  // An empty name must not be taken as "the root itself".
  ASSERT_TRUE(MakeKey(HKEY_CURRENT_USER, kBase + L"\\Kept"));
  HKEY base = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kBase.c_str(), 0, KEY_ALL_ACCESS, &base), ERROR_SUCCESS);
  EXPECT_EQ(regDeleteTree(base, L""), 0);
  EXPECT_EQ(regDeleteTree(base, nullptr), 0);
  EXPECT_EQ(regDeleteTree64(base, L""), 0);
  EXPECT_EQ(regDeleteTree32(base, nullptr), 0);
  RegCloseKey(base);
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kBase + L"\\Kept"));
  EXPECT_TRUE(g_log.entries.empty()) << Narrow(LogDump());
}

TEST_F(RegistryTest, ThreeHundredSubkeysAreAllDeleted) {
  const std::wstring key = kBase + L"\\Wide";
  for (int i = 0; i < 300; ++i) ASSERT_TRUE(MakeKey(HKEY_CURRENT_USER, key + L"\\k" + std::to_wstring(i)));
  EXPECT_EQ(regDeleteTree(HKEY_CURRENT_USER, key.c_str()), 1);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key));
  EXPECT_EQ(g_log.entries.size(), 301u);
  EXPECT_EQ(LogIndexOf(Deleted(key)), 300);
}

// A subkey that cannot be opened (its DACL denies everything) is stepped over: every other
// subkey, also beyond the first 201, is deleted, and the parent's failure is logged once.
TEST_F(RegistryTest, UndeletableSubkeyIsSteppedOver) {
  const std::wstring key = kBase + L"\\Stuck";
  ASSERT_TRUE(MakeKey(HKEY_CURRENT_USER, key + L"\\000locked\\inner"));
  for (int i = 0; i < 250; ++i) ASSERT_TRUE(MakeKey(HKEY_CURRENT_USER, key + L"\\k" + std::to_wstring(i)));
  ASSERT_TRUE(Lock(HKEY_CURRENT_USER, key + L"\\000locked"));
  EXPECT_EQ(regDeleteTree(HKEY_CURRENT_USER, key.c_str()), 1);
  EXPECT_EQ(Subkeys(HKEY_CURRENT_USER, key), (std::vector<std::wstring>{L"000locked"}));
  EXPECT_EQ(LogCount(L"Deleted registry: 000locked error: 5"), 1) << Narrow(LogDump());
  EXPECT_EQ(g_log.entries.size(), 252u);
  // Wine refuses to delete a key with subkeys with ERROR_ACCESS_DENIED.
  EXPECT_TRUE(LogHas(L"Error deleting registry: " + key + L" (0x00000005)", LOG_MIN, LOG_REGISTRY))
      << Narrow(LogDump());
  ASSERT_TRUE(Unlock(HKEY_CURRENT_USER, key + L"\\000locked"));
}

TEST_F(RegistryTest, DeleteValue) {
  const std::wstring key = kBase + L"\\Values";
  ASSERT_TRUE(SetText(HKEY_LOCAL_MACHINE, key, L"Gone", L"x", kView32));
  ASSERT_TRUE(SetText(HKEY_LOCAL_MACHINE, key, L"Kept", L"y", kView32));
  ASSERT_TRUE(SetText(HKEY_LOCAL_MACHINE, key, L"Gone", L"64", kView64));
  EXPECT_EQ(regDeleteValue(HKEY_LOCAL_MACHINE, key.c_str(), L"Gone"), 1);
  EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, key, L"Gone", kView32));
  EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, key, L"Kept", kView32));
  EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, key, L"Gone", kView64));
  EXPECT_EQ(LogTexts(), (std::vector<std::wstring>{L"Deleted registry: " + key + L"\\Gone"}));
  EXPECT_TRUE(LogHas(L"Deleted registry: " + key + L"\\Gone", LOG_VRB, LOG_REGISTRY));

  ClearLog();
  EXPECT_EQ(regDeleteValue(HKEY_LOCAL_MACHINE, key.c_str(), L"Gone"), 0);
  EXPECT_EQ(regDeleteValue(HKEY_LOCAL_MACHINE, (key + L"\\Nope").c_str(), L"Kept"), 0);
  EXPECT_EQ(regDeleteValue(HKEY_LOCAL_MACHINE, L"", L"Kept"), 0);
  EXPECT_TRUE(g_log.entries.empty()) << Narrow(LogDump());
}

TEST_F(RegistryTest, SetString) {
  const std::wstring key = kBase + L"\\Set\\Deeper";
  EXPECT_EQ(regSetString(key.c_str(), HKEY_LOCAL_MACHINE, L"Empty", L""), 0u);
  DWORD type = 0;
  std::vector<BYTE> data;
  ASSERT_TRUE(GetValue(HKEY_LOCAL_MACHINE, key, L"Empty", &type, &data, kView32));
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(data, (std::vector<BYTE>{0, 0}));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key, kView64));

  EXPECT_EQ(regSetString(key.c_str(), HKEY_LOCAL_MACHINE, nullptr, L"Deflt"), 0u);
  ASSERT_TRUE(GetValue(HKEY_LOCAL_MACHINE, key, nullptr, &type, &data, kView32));
  EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(data.data())), L"Deflt");
  EXPECT_EQ(data.size(), 12u);
  EXPECT_EQ(LogTexts(), (std::vector<std::wstring>{L"Set registry: " + key + L"\\Empty=",
                                                   L"Set registry: " + key + L"\\=Deflt"}));

  // A key below a key nobody may open cannot be created. Wine checks the parent's access list
  // only when it creates a path one key at a time (as it does with a view flag, which the
  // 64-bit build passes); a plain create, the 32-bit build's, goes through it.
  const std::wstring locked = kBase + L"\\SetLocked";
  ASSERT_TRUE(MakeKey(HKEY_CURRENT_USER, locked));
  ASSERT_TRUE(Lock(HKEY_CURRENT_USER, locked));
  HKEY through = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, (locked + L"\\Probe").c_str(), 0, nullptr, 0, KEY_READ, nullptr, &through,
                      nullptr) == ERROR_SUCCESS) {
    RegCloseKey(through);
    ASSERT_TRUE(Unlock(HKEY_CURRENT_USER, locked));
    RemoveKey(HKEY_CURRENT_USER, locked);
    GTEST_SKIP() << "Wine created a key below a key nobody may open: the refusal cannot be observed here";
  }
  ClearLog();
  EXPECT_EQ(regSetString((locked + L"\\Sub").c_str(), HKEY_CURRENT_USER, L"v", L"t"),
            static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(regCreateKey((locked + L"\\Sub").c_str(), HKEY_CURRENT_USER), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(LogCount(L"Cannot create reg. key:" + locked + L"\\Sub"), 2) << Narrow(LogDump());
  EXPECT_TRUE(LogHas(L"Cannot create reg. key:" + locked + L"\\Sub", LOG_MIN, LOG_REGISTRY));
  ASSERT_TRUE(Unlock(HKEY_CURRENT_USER, locked));
}

TEST_F(RegistryTest, KeyExistsAndGetDwordReadTheOwnViewOfTheMachineHive) {
  const std::wstring key = kBase + L"\\Dword";
  DWORD four = 0x12345678;
  unsigned long long eight = 7;
  ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, key, L"D", REG_DWORD, &four, 4, kView32));
  ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, key, L"Q", REG_QWORD, &eight, 8, kView32));
  ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, key, L"Only64", REG_DWORD, &four, 4, kView64));
  EXPECT_TRUE(regKeyExists(key.c_str()));
  EXPECT_FALSE(regKeyExists((key + L"\\Nope").c_str()));

  DWORD out = 0;
  EXPECT_EQ(regGetDword(key.c_str(), L"D", &out), 0u);
  EXPECT_EQ(out, four);
  out = 99;
  EXPECT_EQ(regGetDword(key.c_str(), L"Q", &out), static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_EQ(out, 99u);
  EXPECT_EQ(regGetDword(key.c_str(), L"Only64", &out), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(regGetDword((key + L"\\Nope").c_str(), L"D", &out), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(g_log.entries.empty());
}

TEST_F(RegistryTest, GetStringReadsTerminatedTextOnly) {
  const std::wstring key = kBase + L"\\Text";
  ASSERT_TRUE(SetText(HKEY_CURRENT_USER, key, L"Name", L"hello"));
  wchar_t buffer[8];
  EXPECT_EQ(regGetString(HKEY_CURRENT_USER, key.c_str(), L"Name", buffer, sizeof buffer, false), 0u);
  EXPECT_STREQ(buffer, L"hello");
  EXPECT_TRUE(g_log.entries.empty());
  EXPECT_EQ(regGetString(HKEY_CURRENT_USER, key.c_str(), L"Name", buffer, sizeof buffer, true), 0u);
  EXPECT_TRUE(LogHas(L"Get registry: " + key + L"\\Name=hello", LOG_VRB, LOG_REGISTRY));

  // Seven characters and the terminator fill the buffer exactly: still read.
  ASSERT_TRUE(SetText(HKEY_CURRENT_USER, key, L"Full", L"1234567"));
  EXPECT_EQ(regGetString(HKEY_CURRENT_USER, key.c_str(), L"Full", buffer, sizeof buffer, false), 0u);
  EXPECT_STREQ(buffer, L"1234567");

  // Eight characters without a terminator fit the buffer but would be handed on unterminated.
  ASSERT_TRUE(SetValue(HKEY_CURRENT_USER, key, L"Bare", REG_SZ, L"12345678", 16));
  ClearLog();
  EXPECT_EQ(regGetString(HKEY_CURRENT_USER, key.c_str(), L"Bare", buffer, sizeof buffer, true),
            static_cast<DWORD>(ERROR_MORE_DATA));
  EXPECT_EQ(buffer[0], L'\0');
  ASSERT_TRUE(SetText(HKEY_CURRENT_USER, key, L"Long", L"123456789"));
  EXPECT_EQ(regGetString(HKEY_CURRENT_USER, key.c_str(), L"Long", buffer, sizeof buffer, true),
            static_cast<DWORD>(ERROR_MORE_DATA));
  EXPECT_EQ(LogCount(L"Cannot get reg. key:" + key), 2);
  EXPECT_TRUE(LogHas(L"Cannot get reg. key:" + key, LOG_MIN, LOG_REGISTRY));

  ClearLog();
  EXPECT_EQ(regGetString(HKEY_CURRENT_USER, key.c_str(), L"Nope", buffer, sizeof buffer, true),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(regGetString(HKEY_CURRENT_USER, (key + L"\\Nope").c_str(), L"Name", buffer, sizeof buffer, true),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(LogTexts(), (std::vector<std::wstring>{L"Cannot get reg. key:" + key,
                                                   L"Cannot open reg. key:" + key + L"\\Nope"}));
  for (const LogEntry& e : g_log.entries) EXPECT_EQ(e.level, LOG_VRB);
}

TEST_F(RegistryTest, AppPathIsRemovedOnlyWhenItPointsAtTheFolder) {
  const std::wstring appPaths = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths";
  const std::wstring exe = L"qtx_registry_tests.exe";
  const std::wstring key = appPaths + L"\\" + exe;
  struct Case {
    const wchar_t* stored;
    const wchar_t* expected;
    bool removed;
  } cases[] = {
      {L"C:\\Velko\\Prog", L"c:\\velko\\prog\\", true},
      {L"C:\\Velko\\Prog", L"C:\\Velko\\Prog", true},
      {L"C:\\Velko\\Prog\\", L"C:\\Velko\\Prog\\", true},
      {L"C:\\Velko\\Prog", L"C:\\Velko\\Other\\", false},
      {L"C:\\Velko\\Prog", L"C:\\Velko\\Pro", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(std::wstring(c.stored) + L" vs " + c.expected));
    ASSERT_TRUE(SetText(HKEY_LOCAL_MACHINE, key, L"Path", c.stored, kView32));
    ClearLog();
    EXPECT_EQ(regRemoveAppPath(exe.c_str(), c.expected), 0u);
    EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, key, kView32), !c.removed);
    EXPECT_TRUE(LogHas(L"Get registry: " + key + L"\\Path=" + c.stored, LOG_VRB, LOG_REGISTRY));
    EXPECT_EQ(LogHas(Deleted(key)), c.removed) << Narrow(LogDump());
  }
  RemoveKey(HKEY_LOCAL_MACHINE, key, kView32);
  ClearLog();
  EXPECT_EQ(regRemoveAppPath(exe.c_str(), L"C:\\Velko\\Prog"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(LogTexts(), (std::vector<std::wstring>{L"Cannot open reg. key:" + key}));
}
