// The shipped program against a registry link a standard user plants in his own hive: his
// vendor key made a link to a machine key of someone else. The unattended run must refuse the
// path with one line, end, and leave the machine key as it was.
#include <gtest/gtest.h>

#include <string>

#include "base/handles.h"
#include "tests/registry/reg_test_util.h"
#include "tests/support/box_driver.h"
#include "tests/support/test_support.h"

using namespace qtxtest;

namespace {
const std::wstring kVictim = L"Software\\QtxRunVictim" + std::to_wstring(GetCurrentProcessId());
const REGSAM kNative = KEY_WOW64_64KEY;

UniqueRegKey Create(HKEY root, const std::wstring& path, REGSAM view, DWORD options = 0) {
  UniqueRegKey key;
  RegCreateKeyExW(root, path.c_str(), 0, nullptr, options, KEY_ALL_ACCESS | KEY_CREATE_LINK | view, nullptr,
                  key.put(), nullptr);
  return key;
}

bool Exists(const std::wstring& path) {
  UniqueRegKey key;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | kNative, key.put()) == ERROR_SUCCESS;
}

bool PlantLink(HKEY root, const std::wstring& link, REGSAM view) {
  UniqueRegKey key = Create(root, link, view, REG_OPTION_CREATE_LINK);
  std::wstring to = L"\\Registry\\Machine\\" + kVictim;
  return key && RegSetValueExW(key.get(), L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(to.c_str()),
                               static_cast<DWORD>(to.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
}

void DeleteLink(HKEY root, const std::wstring& link, REGSAM view) {
  UniqueRegKey key;
  if (RegOpenKeyExW(root, link.c_str(), REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS | view, key.put()) != ERROR_SUCCESS) return;
  typedef LONG(NTAPI * NtDeleteKeyFn)(HANDLE);
  auto del = reinterpret_cast<NtDeleteKeyFn>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey"));
  if (del) del(key.get());
}

}  // namespace

// The user's "VELKO Software" key links to the victim, as in the attack seen before.
TEST(ShippedRegistryLinks, RunRefusesVendorKeyLinkedToAMachineKey) {
  const std::wstring vendor = L"Software\\VELKO Software";
  ASSERT_TRUE(Create(HKEY_LOCAL_MACHINE, kVictim + L"\\Velko\\Inner", kNative));
  ASSERT_EQ(RegSetValueExW(Create(HKEY_LOCAL_MACHINE, kVictim + L"\\Velko", kNative).get(), L"Keep", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(L"x"), 4), 0);
  DeleteLink(HKEY_CURRENT_USER, vendor, 0);
  regtest::RemoveKey(HKEY_CURRENT_USER, vendor);
  ASSERT_TRUE(PlantLink(HKEY_CURRENT_USER, vendor, 0));
  ASSERT_TRUE(Exists(kVictim + L"\\Velko\\Inner"));

  std::wstring log = ScratchDir(L"shipped-reglinks") + L"\\run.log";
  DrivenRun run = RunAndAnswer(std::wstring(L"\"") + QTX_SHIPPED_EXE + L"\" /unattended /noreboot /log \"" + log + L"\"",
                               {}, 180000);
  std::wstring text = ReadLog(log);
  DeleteLink(HKEY_CURRENT_USER, vendor, 0);
  ASSERT_TRUE(run.started);
  EXPECT_TRUE(run.finished);
  EXPECT_TRUE(run.boxes.empty());
  EXPECT_TRUE(Exists(kVictim + L"\\Velko\\Inner"));
  UniqueRegKey victim;
  DWORD size = 0;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kVictim + L"\\Velko").c_str(), 0, KEY_READ | kNative, victim.put()), 0);
  EXPECT_EQ(RegQueryValueExW(victim.get(), L"Keep", nullptr, nullptr, nullptr, &size), 0);
  EXPECT_EQ(Count(text, L"\tregistry\tRegistry key refused (link in a parent key): SOFTWARE\\VELKO Software\\Velko\r\n"),
            1)
      << Narrow(text);
  victim.reset();
  regtest::RemoveKey(HKEY_LOCAL_MACHINE, kVictim, kNative);
}
