// The version resource, as Explorer's Properties and inventory tools read it: through the
// version API on the module's file.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "qtx_version.h"
#include "tests/support/test_support.h"

namespace {
std::wstring Widen(const char* text) { return std::wstring(text, text + strlen(text)); }
}  // namespace

TEST(VersionResource, NamesTheProductAndCarriesTheProjectVersion) {
  wchar_t self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  DWORD size = GetFileVersionInfoSizeW(self, nullptr);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(self, 0, size, info.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize));
  EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(QTX_VERSION_MINOR, QTX_VERSION_MAJOR)));
  EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(0, QTX_VERSION_PATCH)));
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

  const std::wstring version = Widen(QTX_VERSION_TEXT);
  const struct {
    const wchar_t* name;
    std::wstring value;
  } expected[] = {
      {L"CompanyName", L"VELKO Software"},
      {L"ProductName", L"VELKO Software Uninstall Utility"},
      {L"FileDescription", L"VELKO Software Uninstall Utility"},
      {L"OriginalFilename", L"qtxClear.exe"},
      {L"FileVersion", version},
      {L"ProductVersion", version},
  };
  for (const auto& field : expected) {
    wchar_t* value = nullptr;
    UINT chars = 0;
    std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + field.name;
    ASSERT_TRUE(VerQueryValueW(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &chars))
        << qtxtest::Narrow(field.name);
    EXPECT_EQ(std::wstring(value), field.value) << qtxtest::Narrow(field.name);
  }
}
