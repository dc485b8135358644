// Commits write the prefix's pending-rename list: the fixture puts the list back afterwards.
#include "sysops/reboot_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sysops/files.h"
#include "sysops/registry.h"
#include "tests/support/test_support.h"

using namespace qtxtest;

namespace {

const wchar_t* kSessionManager = L"System\\CurrentControlSet\\Control\\Session Manager";
const wchar_t* kPending = L"PendingFileRenameOperations";

// The pending-rename list as raw bytes; false when the value does not exist.
bool ReadPendingRaw(std::vector<BYTE>* data) {
  UniqueRegKey key;
  if (regOpenKey(HKEY_LOCAL_MACHINE, kSessionManager, KEY_READ, key) != ERROR_SUCCESS) return false;
  DWORD size = 0;
  if (RegQueryValueExW(key.get(), kPending, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) return false;
  data->assign(size, 0);
  return RegQueryValueExW(key.get(), kPending, nullptr, nullptr, data->data(), &size) == ERROR_SUCCESS;
}

// The list as strings: source, target, source, target ...
std::vector<std::wstring> ReadPending() {
  std::vector<BYTE> raw;
  std::vector<std::wstring> out;
  if (!ReadPendingRaw(&raw)) return out;
  const wchar_t* p = reinterpret_cast<const wchar_t*>(raw.data());
  size_t n = raw.size() / sizeof(wchar_t);
  // REG_MULTI_SZ: strings, each terminated, the list ending with one more terminator.
  while (n > 0 && p[n - 1] == L'\0') --n;
  std::wstring all(p, n);
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find(L'\0', start);
    if (end == std::wstring::npos) end = all.size();
    out.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  // The last target of a deletion is empty and was trimmed with the terminators.
  if (out.size() % 2) out.push_back(L"");
  return out;
}

std::wstring ShortName(const std::wstring& path) {
  wchar_t out[MAX_PATH] = {0};
  DWORD n = GetShortPathNameW(path.c_str(), out, MAX_PATH);
  return (n > 0 && n < MAX_PATH) ? out : L"";
}

std::wstring Upper(std::wstring s) {
  for (wchar_t& c : s) c = towupper(c);
  return s;
}

class RebootQueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetRebootQueueForTests();
    ClearLog();
    hadPending_ = ReadPendingRaw(&pending_);
  }
  void TearDown() override {
    ResetRebootQueueForTests();
    UniqueRegKey key;
    ASSERT_EQ(regOpenKey(HKEY_LOCAL_MACHINE, kSessionManager, KEY_SET_VALUE, key), 0);
    if (hadPending_)
      RegSetValueExW(key.get(), kPending, 0, REG_MULTI_SZ, pending_.data(), static_cast<DWORD>(pending_.size()));
    else
      RegDeleteValueW(key.get(), kPending);
  }
  bool hadPending_ = false;
  std::vector<BYTE> pending_;
};

TEST_F(RebootQueueTest, LongAndShortFormOfOneFileAreOneEntry) {
  std::wstring dir = ScratchDir(L"queue long folder");
  std::wstring file = dir + L"\\A Long Library Name.dll";
  ASSERT_TRUE(WriteBytes(file, "x"));
  std::wstring shortForm = ShortName(file);
  ASSERT_NE(shortForm, file);

  QueueDeleteOnReboot(file.c_str());
  EXPECT_EQ(RebootQueueEntries(), std::vector<std::wstring>{shortForm});
  EXPECT_TRUE(LogHas(L"Delete on reboot(" + shortForm + L")", LOG_VRB, LOG_SYSTEM)) << LogDump();
  EXPECT_TRUE(IsQueuedForReboot(Upper(shortForm).c_str()));
  EXPECT_TRUE(IsQueuedForReboot(Upper(file).c_str()));
  EXPECT_FALSE(IsQueuedForReboot((dir + L"\\other.dll").c_str()));
  EXPECT_FALSE(IsQueuedForReboot(nullptr));

  // The deletion asks before queuing, so the 8.3 form does not add a second entry.
  HANDLE lock = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  EXPECT_EQ(DeleteFileOrQueue(Upper(shortForm).c_str(), true, false), 0u);
  CloseHandle(lock);
  EXPECT_EQ(RebootQueueEntries().size(), 1u);

  QueueDeleteOnReboot(nullptr);
  EXPECT_EQ(RebootQueueEntries().size(), 1u);
}

TEST_F(RebootQueueTest, PathsWithoutShortFormAreStoredWhole) {
  // Vanished file in a folder with a short name: short folder, long name.
  std::wstring dir = ScratchDir(L"queue vanished folder");
  std::wstring gone = dir + L"\\Vanished Library.dll";
  QueueDeleteOnReboot(gone.c_str());
  ASSERT_EQ(RebootQueueEntries().size(), 1u);
  EXPECT_EQ(RebootQueueEntries()[0], ShortName(dir) + L"\\Vanished Library.dll");

  // No short form at all: the path as passed in, never quoted and never cut.
  for (size_t length : {40u, 259u, 260u, 300u, 1000u}) {
    std::wstring path = L"C:\\qtx missing folder\\";
    path += std::wstring(length - path.size(), L'n');
    ResetRebootQueueForTests();
    QueueDeleteOnReboot(path.c_str());
    ASSERT_EQ(RebootQueueEntries().size(), 1u);
    EXPECT_EQ(RebootQueueEntries()[0], path) << length;
    EXPECT_TRUE(IsQueuedForReboot(path.c_str()));
    EXPECT_TRUE(LogHas(L"Delete on reboot(" + path + L")"));
  }
}

TEST_F(RebootQueueTest, EmptyQueueCommitsNothing) {
  EXPECT_EQ(CommitRebootQueue(0, nullptr), 0u);
  EXPECT_TRUE(g_log.entries.empty());
  std::vector<BYTE> after;
  EXPECT_EQ(ReadPendingRaw(&after), hadPending_);
  EXPECT_EQ(after, pending_);
}

TEST_F(RebootQueueTest, CommitSchedulesEveryEntryAndReturnsTheLastFailure) {
  std::wstring dir = ScratchDir(L"queue commit");
  std::wstring a = dir + L"\\a.dll", c = dir + L"\\c.dll";
  ASSERT_TRUE(WriteBytes(a, "a"));
  ASSERT_TRUE(WriteBytes(c, "c"));
  // Longer than any name Windows accepts: its MoveFileExW fails.
  std::wstring tooLong = L"C:\\qtx missing folder\\" + std::wstring(32800, L'x');
  QueueDeleteOnReboot(a.c_str());
  QueueDeleteOnReboot(tooLong.c_str());
  QueueDeleteOnReboot(c.c_str());
  std::vector<std::wstring> before = ReadPending();
  ClearLog();

  EXPECT_EQ(CommitRebootQueue(0, nullptr), ERROR_PATH_NOT_FOUND);
  std::vector<std::wstring> lines = LogTexts();
  ASSERT_EQ(lines.size(), 3u) << LogDump();
  EXPECT_EQ(lines[0], L"MoveFileEx(" + ShortName(a) + L", NULL)");
  // The log cuts a message at its 32,768-character buffer.
  std::wstring full = L"MoveFileEx(" + tooLong + L", NULL)";
  EXPECT_GE(lines[1].size(), kLogMessageChars - 2);
  EXPECT_TRUE(full.compare(0, lines[1].size(), lines[1]) == 0);
  EXPECT_EQ(lines[2], L"MoveFileEx(" + ShortName(c) + L", NULL)");
  EXPECT_TRUE(LogHas(lines[0], LOG_VRB, LOG_FILE));

  std::vector<std::wstring> expected = before;
  for (const std::wstring& f : {a, c}) {
    expected.push_back(L"\\??\\" + ShortName(f));
    expected.push_back(L"");
  }
  EXPECT_EQ(ReadPending(), expected);
}

TEST_F(RebootQueueTest, ExemptPathsAreLeftOut) {
  std::wstring dir = ScratchDir(L"queue exempt");
  std::wstring a = dir + L"\\a.dll", b = dir + L"\\b.dll";
  ASSERT_TRUE(WriteBytes(a, "a"));
  ASSERT_TRUE(WriteBytes(b, "b"));
  QueueDeleteOnReboot(a.c_str());
  QueueDeleteOnReboot(b.c_str());
  std::vector<std::wstring> before = ReadPending();
  ClearLog();
  std::wstring exempt = Upper(ShortName(b));
  const wchar_t* exempts[] = {L"C:\\unrelated.dll", exempt.c_str()};
  EXPECT_EQ(CommitRebootQueue(2, exempts), 0u);
  EXPECT_EQ(LogTexts(), std::vector<std::wstring>{L"MoveFileEx(" + ShortName(a) + L", NULL)"});
  std::vector<std::wstring> expected = before;
  expected.push_back(L"\\??\\" + ShortName(a));
  expected.push_back(L"");
  EXPECT_EQ(ReadPending(), expected);

  // The exempt entry is gone from the duplicate look-up too: it can be queued again.
  EXPECT_TRUE(IsQueuedForReboot(a.c_str()));
  EXPECT_FALSE(IsQueuedForReboot(b.c_str()));
  EXPECT_TRUE(QueueDeleteOnRebootOnce(b.c_str()));
  EXPECT_EQ(RebootQueueEntries(), (std::vector<std::wstring>{ShortName(a), ShortName(b)}));
}

// Many files asked for in every spelling (long, 8.3, either letter case), interleaved: each
// is queued once, under its key, in the order first asked for, with one log line each.
TEST_F(RebootQueueTest, EachFileIsQueuedOnceInFirstAskedOrder) {
  std::wstring dir = ScratchDir(L"queue many spellings");
  std::vector<std::wstring> longForms, keys;
  for (int i = 0; i < 60; ++i) {
    std::wstring file = dir + L"\\Queued Library Number " + std::to_wstring(i) + L".dll";
    if (i % 3 != 2) {
      ASSERT_TRUE(WriteBytes(file, "x"));  // every third one has vanished
    }
    longForms.push_back(file);
    keys.push_back(i % 3 != 2 ? ShortName(file) : ShortName(dir) + file.substr(dir.size()));
    ASSERT_FALSE(keys.back().empty());
  }
  std::vector<std::wstring> expected;
  for (int round = 0; round < 4; ++round) {
    for (size_t n = 0; n < longForms.size(); ++n) {
      size_t i = (n * 7 + round * 13) % longForms.size();  // a different order each round
      const std::wstring spellings[] = {longForms[i], Upper(longForms[i]), keys[i], Upper(keys[i])};
      bool first = std::find(expected.begin(), expected.end(), keys[i]) == expected.end();
      EXPECT_EQ(IsQueuedForReboot(spellings[(round + i) % 4].c_str()), !first) << i;
      EXPECT_EQ(QueueDeleteOnRebootOnce(spellings[(round + i + 1) % 4].c_str()), first) << i;
      if (first) expected.push_back(keys[i]);
    }
  }
  // An entry keeps the letter case of the spelling that added it (a vanished file's name
  // is not looked up), so the order is compared without regard to case.
  std::vector<std::wstring> entries = RebootQueueEntries();
  ASSERT_EQ(entries.size(), expected.size());
  for (size_t j = 0; j < entries.size(); ++j) {
    EXPECT_EQ(_wcsicmp(entries[j].c_str(), expected[j].c_str()), 0) << Narrow(entries[j]);
    EXPECT_EQ(LogCount(L"Delete on reboot(" + entries[j] + L")"), 1) << Narrow(entries[j]);
  }
  EXPECT_FALSE(QueueDeleteOnRebootOnce(nullptr));
}

// The queue derives keys folder by folder; each key must still be the path's own
// ShortPathForm, whichever folder came before it.
TEST_F(RebootQueueTest, KeysEqualShortPathFormAcrossFolders) {
  std::wstring dir = ScratchDir(L"queue key folders");
  std::wstring a = dir + L"\\Long Folder Name", b = a + L"\\a b", c = dir + L"\\Other Long Folder";
  for (const std::wstring& folder : {a, b, c}) ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  const std::wstring files[] = {a + L"\\first long file.txt", a + L"\\abc.txt", b + L"\\x y.txt",
                                b + L"\\LEGAL.TXT", c + L"\\third long file.txt"};
  for (const std::wstring& file : files) ASSERT_TRUE(WriteBytes(file, "x"));
  const std::wstring paths[] = {files[0], Upper(files[1]), b + L"\\vanished file.txt", files[2], files[3],
                                a + L"\\another vanished.txt", files[4], Upper(files[0]), b, a,
                                Upper(files[2]), dir + L"\\\\Long Folder Name\\abc.txt", c};
  std::vector<std::wstring> expected;
  for (const std::wstring& path : paths) {
    wchar_t form[MAX_PATH] = {0};
    ShortPathForm(form, path.c_str(), MAX_PATH);
    std::wstring key = (form[0] == L'"' || form[0] == L'\0') ? path : form;  // no short form at all
    bool known = false;
    for (const std::wstring& e : expected) known = known || _wcsicmp(e.c_str(), key.c_str()) == 0;
    if (!known) expected.push_back(key);
    EXPECT_EQ(QueueDeleteOnRebootOnce(path.c_str()), !known) << Narrow(path);
  }
  EXPECT_EQ(RebootQueueEntries(), expected);
}

// Paths that differ only in letters outside ASCII: the queue finds a duplicate exactly when
// _wcsicmp calls the two equal.
TEST_F(RebootQueueTest, DuplicatesMatchWcsicmpOutsideAscii) {
  const std::wstring folder = L"C:\\qtx missing folder\\";
  const std::pair<const wchar_t*, const wchar_t*> pairs[] = {
      {L"\u00C9t\u00E9.dll", L"\u00E9T\u00C9.dll"}, {L"\u212A.dll", L"k.dll"}, {L"\u0130.dll", L"i.dll"},
      {L"\u03A9.dll", L"\u03C9.dll"},           {L"\u00DF.dll", L"SS.dll"}, {L"Ab.dll", L"aB.DLL"}};
  for (const auto& pair : pairs) {
    ResetRebootQueueForTests();
    std::wstring queued = folder + pair.first, asked = folder + pair.second;
    QueueDeleteOnReboot(queued.c_str());
    bool equal = _wcsicmp(queued.c_str(), asked.c_str()) == 0;
    EXPECT_EQ(IsQueuedForReboot(asked.c_str()), equal) << Narrow(asked);
    EXPECT_EQ(QueueDeleteOnRebootOnce(asked.c_str()), !equal) << Narrow(asked);
  }
}

}  // namespace
