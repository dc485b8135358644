// Load-order tags: driver services created with CreateServiceW (never started), with Group
// and Tag values written by the test (Wine assigns no tags), and planted GroupOrderList values.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/handles.h"
#include "log/log.h"
#include "sysops/services.h"
#include "tests/services/service_support.h"
#include "tests/support/test_support.h"

using namespace qtxtest;

namespace {
constexpr const wchar_t* kListKey = L"SYSTEM\\CurrentControlSet\\Control\\GroupOrderList";

std::string List(std::vector<DWORD> words) {
  return std::string(reinterpret_cast<const char*>(words.data()), words.size() * 4);
}

struct TagCase {
  const wchar_t* service;
  const wchar_t* group;   // null: no Group value
  DWORD tag;
  const wchar_t* listName;  // the GroupOrderList value planted (null: none)
  std::string before;
  std::string after;
  bool logged;
};

void SetBinary(HKEY key, const wchar_t* name, const std::string& bytes) {
  RegSetValueExW(key, name, 0, REG_BINARY, reinterpret_cast<const BYTE*>(bytes.data()),
                 static_cast<DWORD>(bytes.size()));
}

std::string GetBinary(HKEY key, const wchar_t* name) {
  BYTE buffer[256];
  DWORD size = sizeof(buffer);
  if (RegQueryValueExW(key, name, nullptr, nullptr, buffer, &size) != ERROR_SUCCESS) return "<none>";
  return std::string(reinterpret_cast<const char*>(buffer), size);
}

TEST(LoadOrderTag, ListLosesExactlyTheServiceTag) {
  const TagCase cases[] = {
      // last of three: count 2, tags 5 and 9, 12 bytes
      {L"qtxTestDrvLast", L"qtxTestGroupA", 12, L"qtxTestGroupA", List({3, 5, 9, 12}), List({2, 5, 9}), true},
      // in the middle; the foreign tags keep their order
      {L"qtxTestDrvMiddle", L"qtxTestGroupB", 8, L"qtxTestGroupB", List({3, 7, 8, 9}), List({2, 7, 9}), true},
      // the only tag
      {L"qtxTestDrvOnly", L"qtxTestGroupC", 4, L"qtxTestGroupC", List({1, 4}), List({0}), true},
      // not in the list: unchanged, but the line names the tag
      {L"qtxTestDrvAbsent", L"qtxTestGroupD", 3, L"qtxTestGroupD", List({2, 1, 2}), List({2, 1, 2}), true},
      // no Group value: nothing happens
      {L"qtxTestDrvNoGroup", nullptr, 5, L"qtxTestGroupE", List({1, 5}), List({1, 5}), false},
      // a group without a list value: nothing happens
      {L"qtxTestDrvNoList", L"qtxTestGroupF", 5, nullptr, "", "<none>", false},
      // the count claims five tags, two are there: only those two count
      {L"qtxTestDrvShort", L"qtxTestGroupG", 6, L"qtxTestGroupG", List({5, 4, 6}), List({1, 4}), true},
      {L"qtxTestDrvShort2", L"qtxTestGroupH", 9, L"qtxTestGroupH", List({5, 4, 6}), List({5, 4, 6}), true},
      // a count cut short, and trailing bytes that are no whole tag
      {L"qtxTestDrvTiny", L"qtxTestGroupI", 5, L"qtxTestGroupI", std::string("\x01\x00\x00", 3),
       std::string("\x01\x00\x00", 3), false},
      {L"qtxTestDrvOdd", L"qtxTestGroupJ", 7, L"qtxTestGroupJ", List({2, 7}) + "\x09\x00", List({0}), true},
  };
  UniqueRegKey list;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kListKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                           list.put(), nullptr));
  for (const TagCase& c : cases) {
    SCOPED_TRACE(Narrow(c.service));
    RemovePlantedService(c.service);
    ASSERT_TRUE(PlantDriverService(c.service));
    UniqueRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, ServiceKey(c.service).c_str(), 0, KEY_ALL_ACCESS,
                                           key.put()));
    RegDeleteValueW(key.get(), L"Group");
    if (c.group)
      RegSetValueExW(key.get(), L"Group", 0, REG_SZ, reinterpret_cast<const BYTE*>(c.group),
                     static_cast<DWORD>((wcslen(c.group) + 1) * 2));
    RegSetValueExW(key.get(), L"Tag", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&c.tag), 4);
    if (c.listName) SetBinary(list.get(), c.listName, c.before);
    // A foreign group's list is never touched.
    SetBinary(list.get(), L"qtxTestForeign", List({2, c.tag, 77}));

    // The probe sees the tag exactly when it is there to be removed.
    EXPECT_EQ(c.listName && c.before != c.after, IsServiceLoadOrderTagListed(c.service));
    ClearLog();
    EXPECT_EQ(0u, RemoveServiceLoadOrderTag(c.service));
    EXPECT_FALSE(IsServiceLoadOrderTagListed(c.service));
    const wchar_t* listName = c.listName ? c.listName : c.group;
    EXPECT_EQ(c.after, GetBinary(list.get(), listName));
    EXPECT_EQ(List({2, c.tag, 77}), GetBinary(list.get(), L"qtxTestForeign"));
    std::wstring line = std::wstring(L"Removing service '") + c.service + L"' load order id=" +
                        std::to_wstring(c.tag) + L" in group '" + (c.group ? c.group : L"") + L"'";
    EXPECT_EQ(c.logged, LogHas(line, LOG_NRM, LOG_SYSTEM)) << Narrow(LogDump());
    EXPECT_EQ(c.logged ? 1u : 0u, LogTexts().size());

    if (c.listName) RegDeleteValueW(list.get(), c.listName);
    RemovePlantedService(c.service);
  }
  RegDeleteValueW(list.get(), L"qtxTestForeign");
}
}  // namespace
