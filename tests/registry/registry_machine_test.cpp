// Registry cleanups that work on fixed machine-wide keys: the shell-extension registrations
// and the virtual-device-driver list. Runs alone; every key and value touched is put back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sysops/registry.h"
#include "tests/registry/reg_test_util.h"
#include "tests/support/test_support.h"

using namespace qtxtest;
using namespace regtest;

namespace {
const std::wstring kClsidKey = std::wstring(L"CLSID\\") + kShellExtensionClsid;
const std::wstring kApproved = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
const std::wstring kStarHandler = L"*\\shellex\\ContextMenuHandlers\\velko";
const std::wstring kFolderHandler = L"Folder\\shellex\\ContextMenuHandlers\\velko";
const std::wstring kVelkoHandlers = L"velko\\ShellEx\\ContextMenuHandlers";

bool ExistsIn(const std::wstring& key, REGSAM view) { return KeyExists(HKEY_CLASSES_ROOT, key, view); }
}  // namespace

// The handler keys go from the 64-bit view only; the class id key and the approval value
// from both views. Windows 7 shares the handler keys between the views, and so does Wine for a
// 32-bit process; the 32-bit view that a 64-bit process writes in Wine is separate, so the
// 64-bit build (standing in for the 32-bit product) sees its 32-bit handler keys stay.
TEST(ShellExtension, RemovedFromBothViews) {
  const bool separateViews = sizeof(void*) == 8;
  ClearLog();
  for (REGSAM view : {kView64, kView32}) {
    ASSERT_TRUE(MakeKey(HKEY_CLASSES_ROOT, kStarHandler, view));
    ASSERT_TRUE(MakeKey(HKEY_CLASSES_ROOT, kFolderHandler, view));
    ASSERT_TRUE(MakeKey(HKEY_CLASSES_ROOT, kVelkoHandlers + L"\\h", view));
    ASSERT_TRUE(MakeKey(HKEY_CLASSES_ROOT, kClsidKey + L"\\InprocServer32", view));
  }
  ASSERT_TRUE(MakeKey(HKEY_CLASSES_ROOT, L"*\\shellex\\ContextMenuHandlers\\QtxOther", kView64));
  bool approved32Existed = KeyExists(HKEY_LOCAL_MACHINE, kApproved, kView32);
  for (REGSAM view : {kView64, kView32})
    ASSERT_TRUE(SetText(HKEY_LOCAL_MACHINE, kApproved, kShellExtensionClsid, L"velko", view));
  ASSERT_TRUE(SetText(HKEY_LOCAL_MACHINE, kApproved, L"{QtxOtherApproved}", L"x", kView64));

  EXPECT_EQ(regRemoveShellExtension(), 0u);

  EXPECT_FALSE(ExistsIn(kStarHandler, kView64));
  EXPECT_FALSE(ExistsIn(kFolderHandler, kView64));
  EXPECT_FALSE(ExistsIn(kVelkoHandlers, kView64));
  EXPECT_TRUE(ExistsIn(L"velko\\ShellEx", kView64));
  EXPECT_EQ(ExistsIn(kStarHandler, kView32), separateViews);
  EXPECT_EQ(ExistsIn(kFolderHandler, kView32), separateViews);
  EXPECT_EQ(ExistsIn(kVelkoHandlers, kView32), separateViews);
  EXPECT_FALSE(ExistsIn(kClsidKey, kView64));
  EXPECT_FALSE(ExistsIn(kClsidKey, kView32));
  EXPECT_TRUE(ExistsIn(L"*\\shellex\\ContextMenuHandlers\\QtxOther", kView64));
  EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, kApproved, kShellExtensionClsid, kView64));
  EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, kApproved, kShellExtensionClsid, kView32));
  EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, kApproved, L"{QtxOtherApproved}", kView64));

  const std::wstring approvedLine = L"Deleted registry: " + kApproved + L"\\" + kShellExtensionClsid;
  EXPECT_EQ(LogTexts(),
            (std::vector<std::wstring>{
                L"Deleted registry: " + kStarHandler, L"Deleted registry: h",
                L"Deleted registry: " + kVelkoHandlers, L"Deleted registry: " + kFolderHandler,
                L"Deleted registry: InprocServer32", L"Deleted registry: " + kClsidKey,
                L"Deleted registry: InprocServer32", L"Deleted registry: " + kClsidKey, approvedLine,
                approvedLine}))
      << Narrow(LogDump());

  // A second run finds nothing and logs nothing.
  ClearLog();
  EXPECT_EQ(regRemoveShellExtension(), 0u);
  EXPECT_TRUE(g_log.entries.empty()) << Narrow(LogDump());

  for (REGSAM view : {kView64, kView32}) {
    RemoveKey(HKEY_CLASSES_ROOT, kStarHandler, view);
    RemoveKey(HKEY_CLASSES_ROOT, kFolderHandler, view);
    RemoveKey(HKEY_CLASSES_ROOT, L"velko", view);
  }
  RemoveKey(HKEY_CLASSES_ROOT, L"*\\shellex\\ContextMenuHandlers\\QtxOther", kView64);
  HKEY approved = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kApproved.c_str(), 0, KEY_SET_VALUE | kView64, &approved) == 0) {
    RegDeleteValueW(approved, L"{QtxOtherApproved}");
    RegCloseKey(approved);
  }
  if (!approved32Existed) RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kApproved.c_str(), kView32, 0);
}

namespace {
const std::wstring kVddKey = L"SYSTEM\\CurrentControlSet\\Control\\VirtualDeviceDrivers";
const wchar_t* const kSuffix = L"qtxvdd.dll";

std::vector<BYTE> Bytes(const std::wstring& chars) {
  const BYTE* p = reinterpret_cast<const BYTE*>(chars.data());
  return std::vector<BYTE>(p, p + chars.size() * sizeof(wchar_t));
}

// Saves the machine's "VDD" value and puts it back afterwards.
class VddTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = GetValue(HKEY_LOCAL_MACHINE, kVddKey, L"VDD", &savedType_, &savedData_);
    ClearLog();
  }
  void TearDown() override {
    if (saved_) {
      SetValue(HKEY_LOCAL_MACHINE, kVddKey, L"VDD", savedType_, savedData_.data(),
               static_cast<DWORD>(savedData_.size()));
    } else {
      HKEY key = nullptr;
      if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kVddKey.c_str(), 0, KEY_SET_VALUE, &key) == 0) {
        RegDeleteValueW(key, L"VDD");
        RegCloseKey(key);
      }
    }
  }
  void Store(DWORD type, const std::vector<BYTE>& data) {
    ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, kVddKey, L"VDD", type, data.data(), static_cast<DWORD>(data.size())));
  }
  std::vector<BYTE> Stored(DWORD expectedType) {
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_TRUE(GetValue(HKEY_LOCAL_MACHINE, kVddKey, L"VDD", &type, &data));
    EXPECT_EQ(type, expectedType);
    return data;
  }

 private:
  bool saved_ = false;
  DWORD savedType_ = 0;
  std::vector<BYTE> savedData_;
};
}  // namespace

TEST_F(VddTest, MatchingEntriesAreRemovedFromWellFormedLists) {
  using namespace std::string_literals;
  Store(REG_MULTI_SZ, Bytes(L"C:\\x\\one.dll\0C:\\y\\QTXVDD.DLL\0two.dll\0z\\qtxvdd.dll\0\0"s));
  EXPECT_EQ(regRemoveVdd(kSuffix), 1);
  EXPECT_EQ(Stored(REG_MULTI_SZ), Bytes(L"C:\\x\\one.dll\0two.dll\0\0"s));

  // Only matching entries: one empty string of two bytes is left.
  Store(REG_MULTI_SZ, Bytes(L"a\\qtxvdd.dll\0qtxvdd.dll\0\0"s));
  EXPECT_EQ(regRemoveVdd(kSuffix), 1);
  EXPECT_EQ(Stored(REG_MULTI_SZ), Bytes(L"\0"s));

  // No match: the list is written back as it was.
  Store(REG_MULTI_SZ, Bytes(L"vdd.dll\0dd.dll\0\0"s));
  EXPECT_EQ(regRemoveVdd(kSuffix), 1);
  EXPECT_EQ(Stored(REG_MULTI_SZ), Bytes(L"vdd.dll\0dd.dll\0\0"s));
  EXPECT_TRUE(g_log.entries.empty());
}

TEST_F(VddTest, MalformedListsAreRepairedBeforeTheWalk) {
  using namespace std::string_literals;
  // No terminators at all.
  Store(REG_MULTI_SZ, Bytes(L"a.dll\0b\\qtxvdd.dll"s));
  EXPECT_EQ(regRemoveVdd(kSuffix), 1);
  EXPECT_EQ(Stored(REG_MULTI_SZ), Bytes(L"a.dll\0\0"s));

  // Leading zeros, empty entries inside, surplus zeros at the end.
  Store(REG_MULTI_SZ, Bytes(L"\0\0a.dll\0\0\0c\\qtxvdd.dll\0d.dll\0\0\0\0"s));
  EXPECT_EQ(regRemoveVdd(kSuffix), 1);
  EXPECT_EQ(Stored(REG_MULTI_SZ), Bytes(L"a.dll\0d.dll\0\0"s));

  // An odd byte count: the last character is half there.
  std::vector<BYTE> odd = Bytes(L"ab\0qtxvdd.dll\0x"s);
  odd.pop_back();
  Store(REG_MULTI_SZ, odd);
  EXPECT_EQ(regRemoveVdd(kSuffix), 1);
  EXPECT_EQ(Stored(REG_MULTI_SZ), Bytes(L"ab\0x\0\0"s));

  // An empty list stays empty.
  Store(REG_MULTI_SZ, Bytes(L"\0"s));
  EXPECT_EQ(regRemoveVdd(kSuffix), 1);
  for (BYTE b : Stored(REG_MULTI_SZ)) EXPECT_EQ(b, 0);
}

TEST_F(VddTest, SingleTextValues) {
  using namespace std::string_literals;
  Store(REG_SZ, Bytes(L"C:\\x\\qtxvdd.dll\0"s));
  EXPECT_EQ(regRemoveVdd(kSuffix), 1);
  EXPECT_EQ(Stored(REG_SZ), Bytes(L"\0"s));

  // Zeros inside single text are dropped; the text itself does not match and stays.
  Store(REG_SZ, Bytes(L"C:\\x\\ot\0her.dll"s));
  EXPECT_EQ(regRemoveVdd(kSuffix), 1);
  EXPECT_EQ(Stored(REG_SZ), Bytes(L"C:\\x\\other.dll\0"s));
}

TEST_F(VddTest, UnusableValuesAreLeftAlone) {
  using namespace std::string_literals;
  struct Case {
    const char* what;
    DWORD type;
    std::vector<BYTE> data;
  };
  std::wstring big(20000, L'a');  // 40,000 bytes
  big += L"\\qtxvdd.dll"s + L'\0' + L'\0';
  std::vector<Case> cases = {
      {"one byte", REG_MULTI_SZ, {'a'}},
      {"empty", REG_MULTI_SZ, {}},
      {"oversized", REG_MULTI_SZ, Bytes(big)},
      {"binary", REG_BINARY, Bytes(L"x\\qtxvdd.dll\0\0"s)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Store(c.type, c.data);
    EXPECT_EQ(regRemoveVdd(kSuffix), 0);
    EXPECT_EQ(Stored(c.type), c.data);
  }
  // An empty suffix would match every entry.
  Store(REG_MULTI_SZ, Bytes(L"x\\qtxvdd.dll\0\0"s));
  EXPECT_EQ(regRemoveVdd(L""), 0);
  EXPECT_EQ(Stored(REG_MULTI_SZ), Bytes(L"x\\qtxvdd.dll\0\0"s));
}
