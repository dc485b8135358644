// Registry links planted in a tree being deleted (and as the tree's key itself): Wine 8
// makes them with REG_OPTION_CREATE_LINK and a REG_LINK "SymbolicLinkValue", follows them on
// a plain open, and shows them as links to REG_OPTION_OPEN_LINK.
#include <gtest/gtest.h>

#include <string>

#include "base/handles.h"
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
