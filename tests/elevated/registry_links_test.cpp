// Registry links planted in a tree being deleted (and as the tree's key itself): Wine 8
// makes them with REG_OPTION_CREATE_LINK and a REG_LINK "SymbolicLinkValue", follows them on
// a plain open, and shows them as links to REG_OPTION_OPEN_LINK.
#include <gtest/gtest.h>

#include <string>

#include "base/handles.h"
#include "sysops/hives.h"
#include "sysops/registry.h"
#include "tests/support/test_support.h"

using namespace qtxtest;

namespace {

const std::wstring kBase = L"Software\\QtxElevatedLinks" + std::to_wstring(GetCurrentProcessId());

UniqueRegKey Create64(const std::wstring& path, DWORD options = 0) {
  UniqueRegKey key;
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, options,
                  KEY_ALL_ACCESS | KEY_CREATE_LINK | KEY_WOW64_64KEY, nullptr, key.put(), nullptr);
  return key;
}

bool Exists64(const std::wstring& path, DWORD options = 0) {
  UniqueRegKey key;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), options, KEY_READ | KEY_WOW64_64KEY, key.put()) ==
         ERROR_SUCCESS;
}

// HKLM\link (64-bit view) becomes a registry link to HKLM\target.
bool PlantRegistryLink(const std::wstring& link, const std::wstring& target) {
  UniqueRegKey key = Create64(link, REG_OPTION_CREATE_LINK);
  if (!key) return false;
  std::wstring to = L"\\Registry\\Machine\\" + target;
  return RegSetValueExW(key.get(), L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(to.c_str()),
                        static_cast<DWORD>(to.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
}

void DeleteLink64(const std::wstring& link) {
  UniqueRegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, link.c_str(), REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                    key.put()) != ERROR_SUCCESS)
    return;
  typedef LONG(NTAPI * NtDeleteKeyFn)(HANDLE);
  auto del = reinterpret_cast<NtDeleteKeyFn>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey"));
  if (del) del(key.get());
}

// root\link (in `view`) becomes a registry link to the machine key `target` (native path).
bool PlantLinkIn(HKEY root, const std::wstring& link, const std::wstring& target, REGSAM view) {
  UniqueRegKey key;
  if (RegCreateKeyExW(root, link.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                      KEY_ALL_ACCESS | KEY_CREATE_LINK | view, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
    return false;
  std::wstring to = L"\\Registry\\Machine\\" + target;
  return RegSetValueExW(key.get(), L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(to.c_str()),
                        static_cast<DWORD>(to.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
}

void DeleteLinkIn(HKEY root, const std::wstring& link, REGSAM view) {
  UniqueRegKey key;
  if (RegOpenKeyExW(root, link.c_str(), REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS | view, key.put()) != ERROR_SUCCESS)
    return;
  typedef LONG(NTAPI * NtDeleteKeyFn)(HANDLE);
  auto del = reinterpret_cast<NtDeleteKeyFn>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey"));
  if (del) del(key.get());
}

struct RegistryLinkCase {
  const wchar_t* name;
  const wchar_t* link;  // below the case's tree ("" = the tree's key itself)
  bool toOwnTree;       // points back at the tree being deleted instead of the bystander
};

}  // namespace

TEST(RegistryLinks, TreeDeletionRemovesLinksAndNeverWalksThem) {
  const RegistryLinkCase cases[] = {
      {L"inside", L"Lnk", false},
      {L"deeper", L"Sub\\Lnk", false},
      {L"top", L"", false},
      {L"loop", L"Sub\\Back", true},
  };
  const std::wstring bystander = kBase + L"\\Bystander";
  ASSERT_TRUE(Create64(bystander + L"\\Child\\Grandchild"));
  ASSERT_EQ(RegSetValueExW(Create64(bystander).get(), L"Keep", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4), 0);

  for (const RegistryLinkCase& c : cases) {
    SCOPED_TRACE(Narrow(c.name));
    ClearLog();
    std::wstring tree = kBase + L"\\" + c.name;
    std::wstring link = *c.link ? tree + L"\\" + c.link : tree;
    if (*c.link) {
      ASSERT_TRUE(Create64(tree + L"\\Real\\Leaf"));
    }
    if (link.rfind(L'\\') > tree.size()) {
      ASSERT_TRUE(Create64(link.substr(0, link.rfind(L'\\'))));
    }
    ASSERT_TRUE(PlantRegistryLink(link, c.toOwnTree ? tree : bystander));
    ASSERT_TRUE(Exists64(link + (c.toOwnTree ? L"\\Real" : L"\\Child")))
        << "Wine follows the planted link on a plain open";

    EXPECT_EQ(regDeleteTree64(HKEY_LOCAL_MACHINE, tree.c_str()), 1);

    EXPECT_TRUE(Exists64(bystander + L"\\Child\\Grandchild"));
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(Create64(bystander).get(), L"Keep", nullptr, nullptr, nullptr, &size), 0);
    EXPECT_FALSE(Exists64(link, REG_OPTION_OPEN_LINK)) << "the link itself is deleted";
    EXPECT_FALSE(Exists64(tree, REG_OPTION_OPEN_LINK));
    std::wstring shown = *c.link ? std::wstring(c.link).substr(std::wstring(c.link).rfind(L'\\') + 1) : tree;
    EXPECT_EQ(LogCount(L"Deleted registry link (not followed): " + shown), 1) << LogDump();
    DeleteLink64(link);
  }
  regDeleteTree64(HKEY_LOCAL_MACHINE, kBase.c_str());
}

// A link in a parent key of the path, planted where a user could (his own hive, the default
// user's hive, a machine key in either view) and pointing into a machine key of someone else:
// the deletion is refused with one line and the victim keeps its key, subkey and value. The
// last rows are links of the kind the system keeps between the registry views (Wine links
// the keys shared by both views this way): they lead where the path says and are followed.
TEST(RegistryLinks, LinkInAParentKeyIsNeverFollowed) {
  enum Call { Tree, Tree64, Value, AllProfiles };
  struct Case {
    const char* name;
    HKEY root;
    REGSAM view;   // where the link is planted
    const wchar_t* link;
    const wchar_t* below;  // the path below the link that the call deletes (or deletes from)
    Call call;
  };
  const std::wstring base = L"Software\\QtxParentLinks" + std::to_wstring(GetCurrentProcessId());
  const Case cases[] = {
      {"user hive", HKEY_CURRENT_USER, 0, L"VELKO Software", L"Velko", Tree},
      {"user hive, deeper", HKEY_CURRENT_USER, 0, L"Vendor", L"Sub\\Velko", Tree},
      {"user hive, value", HKEY_CURRENT_USER, 0, L"VELKO Software", L"Velko", Value},
      {"default user hive", HKEY_USERS, 0, L"VELKO Software", L"Velko", AllProfiles},
      {"machine, own view", HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, L"VELKO Software", L"Velko", Tree},
      {"machine, 64-bit view", HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, L"VELKO Software", L"Velko", Tree64},
  };
  const std::wstring victim = base + L"Victim";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ClearLog();
    ASSERT_TRUE(Create64(victim + L"\\Sub\\Velko\\Inner"));
    ASSERT_TRUE(Create64(victim + L"\\Velko\\Inner"));
    ASSERT_EQ(RegSetValueExW(Create64(victim + L"\\Velko").get(), L"Velko", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(L"x"), 4), 0);
    std::wstring plantedAt = (c.root == HKEY_USERS ? L".DEFAULT\\" : L"") + base + L"\\" + c.link;
    ASSERT_TRUE(PlantLinkIn(c.root, plantedAt, victim, c.view));
    std::wstring path = base + L"\\" + c.link + (*c.below ? L"\\" : L"") + c.below;
    switch (c.call) {
      case Tree: EXPECT_EQ(regDeleteTree(c.root, path.c_str()), 0); break;
      case Tree64: EXPECT_EQ(regDeleteTree64(c.root, path.c_str()), 0); break;
      case Value: EXPECT_EQ(regDeleteValue(c.root, path.c_str(), L"Velko"), 0); break;
      case AllProfiles: regDeleteTreeInAllProfiles(path.c_str()); break;
    }
    EXPECT_TRUE(Exists64(victim + L"\\Velko\\Inner"));
    EXPECT_TRUE(Exists64(victim + L"\\Sub\\Velko\\Inner"));
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(Create64(victim + L"\\Velko").get(), L"Velko", nullptr, nullptr, nullptr, &size), 0);
    EXPECT_EQ(LogCount(L"Registry key refused (link in a parent key): " + path), 1) << Narrow(LogDump());
    DeleteLinkIn(c.root, plantedAt, c.view);
  }
  regDeleteTree64(HKEY_LOCAL_MACHINE, victim.c_str());
  regDeleteTree(HKEY_CURRENT_USER, base.c_str());
  regDeleteTree64(HKEY_LOCAL_MACHINE, base.c_str());
  regDeleteTree(HKEY_LOCAL_MACHINE, base.c_str());
}

// Links that lead to the same name in the other view: Wine's own (App Paths, the 32-bit
// view's classes) and one planted in the 32-bit view. Each is followed, and the key it leads
// to is deleted; nothing is refused.
TEST(RegistryLinks, ViewLinksOfTheSystemAreFollowed) {
  const std::wstring tag = L"QtxViewLinks" + std::to_wstring(GetCurrentProcessId());
  const std::wstring appPath = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + tag;
  const std::wstring classes = L"Software\\Classes\\" + tag;
  const std::wstring planted = L"Software\\" + tag + L"Shared";
  ASSERT_TRUE(Create64(appPath + L"\\Sub"));
  {
    UniqueRegKey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (classes + L"\\Sub").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, key.put(), nullptr), 0);
  }
  ASSERT_TRUE(Create64(planted + L"\\Sub"));
  ASSERT_TRUE(PlantLinkIn(HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node\\" + tag + L"Shared", planted, KEY_WOW64_64KEY));
  ClearLog();
  EXPECT_EQ(regDeleteTree(HKEY_LOCAL_MACHINE, (appPath + L"\\Sub").c_str()), 1);
  EXPECT_EQ(regDeleteTree32(HKEY_LOCAL_MACHINE, classes.c_str()), 1);
  EXPECT_EQ(regDeleteTree(HKEY_LOCAL_MACHINE, (planted + L"\\Sub").c_str()), 1);
  EXPECT_FALSE(Exists64(appPath + L"\\Sub"));
  EXPECT_FALSE(Exists64(L"Software\\Classes\\Wow6432Node\\" + tag));
  EXPECT_FALSE(Exists64(planted + L"\\Sub"));
  for (const std::wstring& line : LogTexts()) EXPECT_EQ(line.find(L"refused"), std::wstring::npos) << Narrow(line);
  regDeleteTree64(HKEY_LOCAL_MACHINE, appPath.c_str());
  DeleteLinkIn(HKEY_LOCAL_MACHINE, L"Software\\Wow6432Node\\" + tag + L"Shared", KEY_WOW64_64KEY);
  regDeleteTree64(HKEY_LOCAL_MACHINE, planted.c_str());
}
