// Deleting a key from every profile of the machine's real profile list. Runs alone: test
// profiles are added to the real list, and one test empties the list for a while; both are
// undone afterwards.
//
// Wine does not write a mounted hive's changes back to its file on unload, so the deletions
// inside hives mounted by the code under test are seen only in its log; deletions in hives
// that stay loaded (.DEFAULT, a hive used in place) are checked in the registry.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#include "sysops/hives.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/hives/hive_test_util.h"
#include "tests/registry/reg_test_util.h"
#include "tests/support/test_support.h"

using namespace qtxtest;
using namespace regtest;
using namespace hivetest;

namespace {
const std::wstring kProfileList = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const std::wstring kTarget = L"Software\\VelkoAllProfilesTest";
const std::wstring kScratch = L"Software\\QtxTests\\hives_all_profiles_tests";

class AllProfilesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(EnableHivePrivileges()); }
  void SetUp() override {
    dir_ = ScratchDir(L"profiles");
    ASSERT_TRUE(MakeKey(HKEY_USERS, L".DEFAULT\\" + kTarget + L"\\Z"));
    ASSERT_TRUE(MakeKey(HKEY_CURRENT_USER, kTarget + L"\\Z"));
    ClearLog();
  }
  void TearDown() override {
    for (const wchar_t* name : {L"QtxAll_A", L"QtxAll_B", L"QtxAll_C", L"QtxAll_L"})
      RemoveKey(HKEY_LOCAL_MACHINE, kProfileList + L"\\" + name);
    RegUnLoadKeyW(HKEY_USERS, L"QtxAll_L");
    RemoveKey(HKEY_USERS, L".DEFAULT\\" + kTarget);
    RemoveKey(HKEY_CURRENT_USER, kTarget);
    RemoveKey(HKEY_CURRENT_USER, kScratch);
  }
  std::wstring Profile(const std::wstring& name, const std::vector<std::wstring>& keys) {
    std::wstring folder = dir_ + L"\\" + name;
    CreateDirectoryW(folder.c_str(), nullptr);
    if (!keys.empty()) EXPECT_TRUE(BuildHive(folder + L"\\NtUser.dat", keys, kScratch + L"\\Build"));
    EXPECT_TRUE(AddProfile(HKEY_LOCAL_MACHINE, kProfileList, name, folder));
    return folder + L"\\NtUser.dat";
  }
  // Indexes of `lines` in the log, each searched after the previous; -1 for a missing one.
  static std::vector<int> InOrder(const std::vector<std::wstring>& lines) {
    std::vector<int> at;
    size_t from = 0;
    for (const std::wstring& line : lines) {
      int i = LogIndexOf(line, from);
      at.push_back(i);
      if (i >= 0) from = static_cast<size_t>(i) + 1;
    }
    return at;
  }
  std::wstring dir_;
};
}  // namespace

TEST_F(AllProfilesTest, EveryProfileThenDefault) {
  std::wstring a = Profile(L"QtxAll_A", {kTarget + L"\\X\\Y", L"Software\\Other"});
  std::wstring b = Profile(L"QtxAll_B", {});
  std::wstring c = Profile(L"QtxAll_C", {kTarget});
  // The logged-on user's case: Windows holds the hive loaded under the bare name.
  std::wstring l = Profile(L"QtxAll_L", {kTarget + L"\\W"});
  ASSERT_EQ(RegLoadKeyW(HKEY_USERS, L"QtxAll_L", l.c_str()), ERROR_SUCCESS);
  HANDLE lock = LockFile(l);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);

  EXPECT_EQ(regDeleteTreeInAllProfiles(kTarget.c_str()), 0u);
  CloseHandle(lock);

  const std::wstring deletedTarget = L"Deleted registry: " + kTarget;
  std::vector<std::wstring> expected = {
      L"RegLoadKey(HKEY_USERS, Vk_QtxAll_A, " + a + L")",
      L"Deleted registry: Y", L"Deleted registry: X", deletedTarget, L"RegUnloadKey",
      L"RegLoadKey(HKEY_USERS, Vk_QtxAll_B, " + b + L")",
      L"Cannot load registry hive " + b + L", err=2.",
      L"RegLoadKey(HKEY_USERS, Vk_QtxAll_C, " + c + L")", deletedTarget, L"RegUnloadKey",
      L"RegLoadKey(HKEY_USERS, Vk_QtxAll_L, " + l + L")",
      L"Load registry hive ERROR_SHARING_VIOLATION", L"Deleted registry: W", deletedTarget,
      // .DEFAULT comes last.
      L"Deleted registry: Z", deletedTarget};
  std::vector<int> at = InOrder(expected);
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_GE(at[i], 0) << "missing or out of order: " << Narrow(expected[i]) << "\n" << Narrow(LogDump());
  EXPECT_EQ(at.back(), static_cast<int>(g_log.entries.size()) - 1);
  // The unload follows the hive's own deletions directly; the hive used in place is kept.
  EXPECT_EQ(LogCount(L"RegUnloadKey"), 2);
  for (const LogEntry& e : g_log.entries) {
    EXPECT_EQ(e.category, LOG_REGISTRY);
    EXPECT_EQ(e.level, LOG_VRB) << Narrow(e.text);
  }

  for (const wchar_t* mount : {L"Vk_QtxAll_A", L"Vk_QtxAll_B", L"Vk_QtxAll_C", L"Vk_QtxAll_L"})
    EXPECT_FALSE(KeyExists(HKEY_USERS, mount)) << Narrow(mount);
  EXPECT_TRUE(KeyExists(HKEY_USERS, L"QtxAll_L"));
  EXPECT_FALSE(KeyExists(HKEY_USERS, L"QtxAll_L\\" + kTarget));
  EXPECT_FALSE(KeyExists(HKEY_USERS, L".DEFAULT\\" + kTarget));
  // The running user's hive is reached only through its profile. Under Wine that profile has
  // no hive file (its load fails with error 2), so the key stays in HKEY_CURRENT_USER.
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kTarget));
}

// With no profile in the list the key is deleted from the current user's hive instead.
TEST_F(AllProfilesTest, EmptyProfileListFallsBackToCurrentUser) {
  const std::wstring backup = kScratch + L"\\ListBackup";
  HKEY list = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProfileList.c_str(), 0, KEY_ALL_ACCESS, &list), ERROR_SUCCESS);
  HKEY saved = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, backup.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &saved,
                            nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegCopyTreeW(list, nullptr, saved), ERROR_SUCCESS);
  std::vector<std::wstring> profiles = Subkeys(list, L"");
  for (const std::wstring& name : profiles) RegDeleteTreeW(list, name.c_str());
  EXPECT_TRUE(Subkeys(list, L"").empty());

  EXPECT_EQ(regDeleteTreeInAllProfiles(kTarget.c_str()), 0u);

  EXPECT_EQ(RegCopyTreeW(saved, nullptr, list), ERROR_SUCCESS);
  EXPECT_EQ(Subkeys(list, L""), profiles);
  RegCloseKey(saved);
  RegCloseKey(list);

  const std::wstring deletedTarget = L"Deleted registry: " + kTarget;
  EXPECT_EQ(LogTexts(), (std::vector<std::wstring>{L"Deleted registry: Z", deletedTarget,
                                                   L"Deleted registry: Z", deletedTarget}));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kTarget));
  EXPECT_FALSE(KeyExists(HKEY_USERS, L".DEFAULT\\" + kTarget));
}
