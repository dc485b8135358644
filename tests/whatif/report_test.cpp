// The report's JSON strings and its file writing: every escaping case in one table, and the
// existing files the writer replaces or refuses (the same rule as the log's).
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <string>

#include "app/report.h"
#include "sysops/folder_trust.h"
#include "tests/support/test_support.h"
#include "tests/support/unix_links.h"

using namespace qtxtest;

namespace {
const wchar_t* g_owner = L"O:BAD:(A;;FA;;;BA)";
DWORD ReadOwner(HANDLE, PSECURITY_DESCRIPTOR* sd) {
  return ConvertStringSecurityDescriptorToSecurityDescriptorW(g_owner, SDDL_REVISION_1, sd, nullptr) ? 0 : 1;
}
}  // namespace

TEST(Report, JsonStringsEscapeWhatJsonRequiresAndAreUtf8) {
  struct Case {
    std::wstring text;
    std::string json;
  } cases[] = {
      {L"C:\\Program Files\\a\"b", "\"C:\\\\Program Files\\\\a\\\"b\""},
      {L"\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\""},
      {std::wstring(L"\x01\x1f", 2) + L"\x7f", "\"\\u0001\\u001f\x7f\""},
      {std::wstring(1, L'\0'), "\"\\u0000\""},
      {L"/\x00e9\x20ac", "\"/\xc3\xa9\xe2\x82\xac\""},              // '/' stays; 2- and 3-byte forms
      {L"\xd83d\xde00", "\"\xf0\x9f\x98\x80\""},                       // a pair: one 4-byte sequence
      {L"a\xd83d", "\"a\xef\xbf\xbd\""},                                // lone high surrogate at the end
      {L"\xde00z", "\"\xef\xbf\xbdz\""},                                // lone low surrogate
      {L"\xd83dx\xde00", "\"\xef\xbf\xbdx\xef\xbf\xbd\""},             // high, then no low
  };
  for (const Case& c : cases) EXPECT_EQ(JsonString(c.text), c.json) << Narrow(c.text);
}

TEST(Report, ReplacesOnlyPlainFilesAdministratorsOwnAndNeverFollowsALink) {
  std::wstring dir = ScratchDir(L"report-write");
  std::wstring target = dir + L"\\report.json";
  std::wstring why;
  SetSecurityReaderForTests(ReadOwner);

  // New, then replaced when Administrators (or SYSTEM) own it; no temporary file stays.
  ASSERT_EQ(WriteFileSafely(target, "{\"n\":1}\n", &why), 0u) << Narrow(why);
  g_owner = L"O:SYD:(A;;FA;;;SY)";
  ASSERT_EQ(WriteFileSafely(target, "{\"n\":2}\n", &why), 0u) << Narrow(why);
  std::string bytes;
  ASSERT_TRUE(ReadBytes(target, &bytes));
  EXPECT_EQ(bytes, "{\"n\":2}\n");
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((dir + L"\\*.tmp").c_str(), &data);
  EXPECT_EQ(find, INVALID_HANDLE_VALUE);
  if (find != INVALID_HANDLE_VALUE) FindClose(find);

  std::wstring linked = dir + L"\\linked.json", other = dir + L"\\other.txt", folder = dir + L"\\folder.json";
  ASSERT_TRUE(WriteBytes(other, "system's"));
  ASSERT_TRUE(CreateHardLinkW(linked.c_str(), other.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  std::wstring target2 = dir + L"\\t2";
  ASSERT_TRUE(CreateDirectoryW(target2.c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(target2 + L"\\keep.txt", "target's"));
  ASSERT_TRUE(PlantFolderLink(dir + L"\\via", target2));
  struct Refused {
    std::wstring path;
    const wchar_t* owner;
    DWORD code;
    std::wstring why;
  } refused[] = {
      {target, L"O:S-1-5-21-1-2-3-1000D:(A;;FA;;;WD)", ERROR_ACCESS_DENIED, L"it is not owned by Administrators or SYSTEM"},
      {linked, L"O:BAD:(A;;FA;;;BA)", ERROR_ACCESS_DENIED, L"it has more than one hard link"},
      {folder, L"O:BAD:(A;;FA;;;BA)", ERROR_ACCESS_DENIED, L""},  // opened as a file: refused by the open
      {dir + L"\\via\\keep.txt", L"O:BAD:(A;;FA;;;BA)", ERROR_ACCESS_DENIED, L"a link is on its path"},
      {L"report.json", L"O:BAD:(A;;FA;;;BA)", ERROR_BAD_PATHNAME, L"not a plain absolute path"},
      {dir + L"\\..\\report.json", L"O:BAD:(A;;FA;;;BA)", ERROR_BAD_PATHNAME, L"not a plain absolute path"},
  };
  for (const Refused& r : refused) {
    g_owner = r.owner;
    DWORD rc = WriteFileSafely(r.path, "{}", &why);
    EXPECT_NE(rc, 0u) << Narrow(r.path);
    if (!r.why.empty()) EXPECT_EQ(why, r.why) << Narrow(r.path);
    if (r.code == ERROR_BAD_PATHNAME) EXPECT_EQ(rc, r.code) << Narrow(r.path);
  }
  ASSERT_TRUE(ReadBytes(target, &bytes));
  EXPECT_EQ(bytes, "{\"n\":2}\n");
  ASSERT_TRUE(ReadBytes(other, &bytes));
  EXPECT_EQ(bytes, "system's");
  ASSERT_TRUE(ReadBytes(target2 + L"\\keep.txt", &bytes));
  EXPECT_EQ(bytes, "target's");
  DropLink(dir + L"\\via");
  SetSecurityReaderForTests(nullptr);
}
