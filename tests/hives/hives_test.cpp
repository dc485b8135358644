// Opening profile hives from a test profile list: mounting under "Vk_" names, use in place
// after a sharing violation, unreadable profiles, missing hive files, .DEFAULT and the
// current user.
//
// Wine does not write a mounted hive's changes back to its file on unload, so every check
// of a deletion inside a mounted hive is made while the hive is still mounted.
#include "sysops/hives.h"

#include <gtest/gtest.h>

#include <string>

#include "sysops/registry.h"
#include "tests/hives/hive_test_util.h"
#include "tests/registry/reg_test_util.h"
#include "tests/support/test_support.h"

using namespace qtxtest;
using namespace regtest;
using namespace hivetest;

namespace {
const std::wstring kBase = L"Software\\QtxTests\\hives_tests";
const std::wstring kList = kBase + L"\\ProfileList";

class ProfileHiveTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(EnableHivePrivileges()); }
  void SetUp() override {
    RemoveKey(HKEY_CURRENT_USER, kBase);
    dir_ = ScratchDir(L"hives");
    ASSERT_TRUE(MakeKey(HKEY_CURRENT_USER, kList));
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kList.c_str(), 0, KEY_READ, &list_), ERROR_SUCCESS);
    ClearLog();
  }
  void TearDown() override {
    RegCloseKey(list_);
    RemoveKey(HKEY_CURRENT_USER, kBase);
  }
  // A profile folder `name` in the scratch folder holding a hive with `keys`.
  std::wstring MakeProfileFolder(const std::wstring& name, const std::vector<std::wstring>& keys) {
    std::wstring folder = dir_ + L"\\" + name;
    CreateDirectoryW(folder.c_str(), nullptr);
    if (!keys.empty()) EXPECT_TRUE(BuildHive(folder + L"\\NtUser.dat", keys, kBase + L"\\Build"));
    return folder;
  }

  std::wstring dir_;
  HKEY list_ = nullptr;
};
}  // namespace

TEST_F(ProfileHiveTest, HiveIsMountedUnderPrefixedNameAndKeyDeletedInside) {
  std::wstring folder = MakeProfileFolder(L"A", {L"Software\\Velko\\Sub\\Deep", L"Software\\Other"});
  // The folder is given as Windows stores it, with %SystemDrive%: that and %SystemRoot% are
  // expanded from the system's folders; a variable of the process environment is not.
  SetEnvironmentVariableW(L"QTX_HIVE_TEST_DIR", dir_.c_str());
  ASSERT_TRUE(AddProfile(HKEY_CURRENT_USER, kList, L"QtxHv_B", L"%QTX_HIVE_TEST_DIR%\\A"));
  wchar_t unusedMount[MAX_PATH] = L"";
  EXPECT_FALSE(regOpenProfileHive(L"QtxHv_B", list_, false, unusedMount));
  ClearLog();
  ASSERT_EQ(dir_.compare(0, 2, L"C:"), 0);
  ASSERT_TRUE(AddProfile(HKEY_CURRENT_USER, kList, L"QtxHv_A", L"%SystemDrive%" + dir_.substr(2) + L"\\A"));

  wchar_t mount[MAX_PATH] = L"garbage";
  UniqueRegKey hive = regOpenProfileHive(L"QtxHv_A", list_, false, mount);
  ASSERT_TRUE(hive) << Narrow(LogDump());
  EXPECT_STREQ(mount, L"Vk_QtxHv_A");
  EXPECT_EQ(LogTexts(), (std::vector<std::wstring>{L"RegLoadKey(HKEY_USERS, Vk_QtxHv_A, " + folder +
                                                   L"\\NtUser.dat)"}));
  EXPECT_TRUE(LogHas(LogTexts()[0], LOG_VRB, LOG_REGISTRY));
  EXPECT_TRUE(KeyExists(HKEY_USERS, L"Vk_QtxHv_A\\Software\\Velko\\Sub\\Deep"));

  ClearLog();
  EXPECT_EQ(regDeleteTree(hive.get(), L"Software\\Velko"), 1);
  EXPECT_EQ(LogTexts(), (std::vector<std::wstring>{L"Deleted registry: Deep", L"Deleted registry: Sub",
                                                   L"Deleted registry: Software\\Velko"}));
  EXPECT_FALSE(KeyExists(HKEY_USERS, L"Vk_QtxHv_A\\Software\\Velko"));
  EXPECT_TRUE(KeyExists(HKEY_USERS, L"Vk_QtxHv_A\\Software\\Other"));

  hive.reset();
  EXPECT_EQ(RegUnLoadKeyW(HKEY_USERS, mount), ERROR_SUCCESS);
  EXPECT_FALSE(KeyExists(HKEY_USERS, L"Vk_QtxHv_A"));
}

TEST_F(ProfileHiveTest, ImagePathNamingAFileIsUsedUnchanged) {
  std::wstring file = dir_ + L"\\custom.hiv";
  ASSERT_TRUE(BuildHive(file, {L"Software\\Velko"}, kBase + L"\\Build"));
  ASSERT_TRUE(AddProfile(HKEY_CURRENT_USER, kList, L"QtxHv_F", file));
  wchar_t mount[MAX_PATH] = L"";
  UniqueRegKey hive = regOpenProfileHive(L"QtxHv_F", list_, false, mount);
  ASSERT_TRUE(hive) << Narrow(LogDump());
  EXPECT_EQ(LogTexts(), (std::vector<std::wstring>{L"RegLoadKey(HKEY_USERS, Vk_QtxHv_F, " + file + L")"}));
  EXPECT_TRUE(KeyExists(HKEY_USERS, L"Vk_QtxHv_F\\Software\\Velko"));
  hive.reset();
  EXPECT_EQ(RegUnLoadKeyW(HKEY_USERS, mount), ERROR_SUCCESS);
}

TEST_F(ProfileHiveTest, MissingHiveFileIsLoggedAndNothingOpened) {
  std::wstring folder = MakeProfileFolder(L"M", {});
  ASSERT_TRUE(AddProfile(HKEY_CURRENT_USER, kList, L"QtxHv_M", folder));
  wchar_t mount[MAX_PATH] = L"";
  UniqueRegKey hive = regOpenProfileHive(L"QtxHv_M", list_, false, mount);
  EXPECT_FALSE(hive);
  std::wstring path = folder + L"\\NtUser.dat";
  EXPECT_EQ(LogTexts(), (std::vector<std::wstring>{L"RegLoadKey(HKEY_USERS, Vk_QtxHv_M, " + path + L")",
                                                   L"Cannot load registry hive " + path + L", err=2."}));
  EXPECT_TRUE(LogHas(L"Cannot load registry hive " + path + L", err=2.", LOG_VRB, LOG_REGISTRY));
  // The name stays in the buffer although nothing is mounted; callers unmount only with a key.
  EXPECT_STREQ(mount, L"Vk_QtxHv_M");
  EXPECT_FALSE(KeyExists(HKEY_USERS, L"Vk_QtxHv_M"));
}

TEST_F(ProfileHiveTest, UnreadableProfilesAreSkipped) {
  wchar_t mount[MAX_PATH] = L"garbage";
  EXPECT_FALSE(regOpenProfileHive(L"QtxHv_None", list_, false, mount));
  EXPECT_EQ(LogTexts(), (std::vector<std::wstring>{L"Cannot open registry profile:QtxHv_None"}));
  EXPECT_TRUE(LogHas(L"Cannot open registry profile:QtxHv_None", LOG_VRB, LOG_REGISTRY));
  EXPECT_STREQ(mount, L"");

  ClearLog();
  ASSERT_TRUE(MakeKey(HKEY_CURRENT_USER, kList + L"\\QtxHv_NoPath"));
  DWORD number = 5;
  ASSERT_TRUE(SetValue(HKEY_CURRENT_USER, kList + L"\\QtxHv_Number", L"ProfileImagePath", REG_DWORD, &number, 4));
  // A stored path that fits its buffer but whose expansion does not fit 260 characters.
  ASSERT_TRUE(AddProfile(HKEY_CURRENT_USER, kList, L"QtxHv_Long", L"C:\\" + std::wstring(240, L'x') + L"\\%TEMP%"));
  for (const wchar_t* name : {L"QtxHv_NoPath", L"QtxHv_Number", L"QtxHv_Long"}) {
    EXPECT_FALSE(regOpenProfileHive(name, list_, false, mount)) << Narrow(name);
    EXPECT_STREQ(mount, L"");
  }
  EXPECT_TRUE(g_log.entries.empty()) << Narrow(LogDump());
}

// A hive Windows has loaded itself is held open without sharing: the load fails with a
// sharing violation and the hive is used in place under the bare profile name.
TEST_F(ProfileHiveTest, HiveLoadedElsewhereIsUsedInPlace) {
  std::wstring folder = MakeProfileFolder(L"L", {L"Software\\Velko\\Sub", L"Software\\Other"});
  std::wstring file = folder + L"\\NtUser.dat";
  ASSERT_TRUE(AddProfile(HKEY_CURRENT_USER, kList, L"QtxHv_L", folder));
  ASSERT_EQ(RegLoadKeyW(HKEY_USERS, L"QtxHv_L", file.c_str()), ERROR_SUCCESS);
  HANDLE lock = LockFile(file);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);

  wchar_t mount[MAX_PATH] = L"garbage";
  UniqueRegKey hive = regOpenProfileHive(L"QtxHv_L", list_, false, mount);
  CloseHandle(lock);
  ASSERT_TRUE(hive) << Narrow(LogDump());
  EXPECT_STREQ(mount, L"");
  EXPECT_EQ(LogTexts(), (std::vector<std::wstring>{L"RegLoadKey(HKEY_USERS, Vk_QtxHv_L, " + file + L")",
                                                   L"Load registry hive ERROR_SHARING_VIOLATION"}));
  EXPECT_FALSE(KeyExists(HKEY_USERS, L"Vk_QtxHv_L"));
  EXPECT_EQ(regDeleteTree(hive.get(), L"Software\\Velko"), 1);
  EXPECT_FALSE(KeyExists(HKEY_USERS, L"QtxHv_L\\Software\\Velko"));
  EXPECT_TRUE(KeyExists(HKEY_USERS, L"QtxHv_L\\Software\\Other"));
  hive.reset();
  EXPECT_EQ(RegUnLoadKeyW(HKEY_USERS, L"QtxHv_L"), ERROR_SUCCESS);
}

TEST_F(ProfileHiveTest, WithoutProfileNameDefaultOrCurrentUser) {
  wchar_t mount[MAX_PATH] = L"garbage";
  UniqueRegKey hive = regOpenProfileHive(nullptr, nullptr, true, mount);
  ASSERT_TRUE(hive);
  EXPECT_STREQ(mount, L"");
  const std::wstring probe = L"Software\\QtxTests\\hives_tests_default";
  HKEY created = nullptr;
  ASSERT_EQ(RegCreateKeyExW(hive.get(), probe.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &created, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(created);
  EXPECT_TRUE(KeyExists(HKEY_USERS, L".DEFAULT\\" + probe));
  RemoveKey(HKEY_USERS, L".DEFAULT\\" + probe);

  hive = regOpenProfileHive(nullptr, nullptr, false, mount);
  EXPECT_EQ(hive.get(), HKEY_CURRENT_USER);
  EXPECT_STREQ(mount, L"");
  EXPECT_TRUE(g_log.entries.empty()) << Narrow(LogDump());
}
