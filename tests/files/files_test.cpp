#include "sysops/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/dynapi.h"
#include "base/handles.h"
#include "base/wow64.h"
#include "sysops/reboot_queue.h"
#include "sysops/registry.h"
#include "tests/support/test_support.h"

using namespace qtxtest;

namespace {

// Opens the file for reading without delete sharing, as a running program holds its image.
UniqueKernelHandle Lock(const std::wstring& path) {
  return UniqueKernelHandle(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
}

std::wstring ShortName(const std::wstring& path) {
  wchar_t out[MAX_PATH] = {0};
  DWORD n = GetShortPathNameW(path.c_str(), out, MAX_PATH);
  return (n > 0 && n < MAX_PATH) ? out : L"";
}

// A SharedDLLs count for `path`, removed again when the object goes.
class SharedCount {
 public:
  SharedCount(const std::wstring& path, const void* data, DWORD bytes, DWORD type) : path_(path) {
    UniqueRegKey key;
    EXPECT_EQ(regCreateKeyHandle(HKEY_LOCAL_MACHINE, kSharedDllsKey, KEY_SET_VALUE, key), 0);
    EXPECT_EQ(RegSetValueExW(key.get(), path.c_str(), 0, type, static_cast<const BYTE*>(data), bytes), 0);
  }
  ~SharedCount() {
    UniqueRegKey key;
    if (regOpenKey(HKEY_LOCAL_MACHINE, kSharedDllsKey, KEY_SET_VALUE, key) == ERROR_SUCCESS)
      RegDeleteValueW(key.get(), path_.c_str());
  }

 private:
  std::wstring path_;
};

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetRebootQueueForTests();
    ClearLog();
  }
  void TearDown() override { ResetRebootQueueForTests(); }

  // The queue entry for an existing path: its 8.3 form, as the system reports it.
  static std::wstring Key(const std::wstring& path) {
    std::wstring s = ShortName(path);
    return s.empty() ? path : s;
  }
  static size_t IndexIn(const std::vector<std::wstring>& v, const std::wstring& s) {
    auto it = std::find_if(v.begin(), v.end(), [&](const std::wstring& e) { return _wcsicmp(e.c_str(), s.c_str()) == 0; });
    return it == v.end() ? std::wstring::npos : static_cast<size_t>(it - v.begin());
  }
};

TEST_F(FilesTest, ReadOnlyHiddenAndSystemFilesAreDeleted) {
  std::wstring dir = ScratchDir(L"attrs");
  const DWORD attrs[] = {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM,
                         FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM};
  int i = 0;
  for (DWORD a : attrs) {
    std::wstring f = dir + L"\\f" + std::to_wstring(i++) + L".dll";
    ASSERT_TRUE(WriteBytes(f, "x"));
    ASSERT_TRUE(SetFileAttributesW(f.c_str(), a));
    EXPECT_EQ(DeleteFileUnlessShared(f.c_str(), false, false), 0u) << a;
    EXPECT_FALSE(PathExists(f)) << a;
    EXPECT_TRUE(LogHas(L"Direct delete of file: " + f, LOG_NRM, LOG_FILE)) << LogDump();
  }
}

TEST_F(FilesTest, MissingFileIsNoError) {
  std::wstring f = ScratchDir(L"missing") + L"\\nothing.dll";
  EXPECT_EQ(DeleteFileOrQueue(f.c_str(), true, false), 2u);
  EXPECT_EQ(DeleteFileUnlessShared(f.c_str(), true, false), 0u);
  EXPECT_EQ(DeleteFileUnlessShared((f + L"\\deeper.dll").c_str(), true, true), 0u);
  EXPECT_TRUE(g_log.entries.empty()) << LogDump();
  EXPECT_TRUE(RebootQueueEntries().empty());
}

TEST_F(FilesTest, LockedFileFailsWithSharingViolationOrIsQueued) {
  std::wstring f = ScratchDir(L"locked") + L"\\busy.dll";
  ASSERT_TRUE(WriteBytes(f, "x"));
  UniqueKernelHandle lock = Lock(f);
  ASSERT_TRUE(lock);

  EXPECT_EQ(DeleteFileOrQueue(f.c_str(), false, false), 32u);
  EXPECT_TRUE(LogHas(L"filRenameOnReboot:!bSuccess", LOG_DBG, LOG_FILE));
  EXPECT_FALSE(LogHas(L"filRenameOnReboot:bOnReboot"));
  EXPECT_TRUE(RebootQueueEntries().empty());

  // Through the shared-file rule too: the error comes back unchanged.
  EXPECT_EQ(DeleteFileUnlessShared(f.c_str(), false, false), 32u);

  ClearLog();
  EXPECT_EQ(DeleteFileUnlessShared(f.c_str(), true, false), 0u);
  EXPECT_EQ(DeleteFileUnlessShared(f.c_str(), true, false), 0u);
  EXPECT_EQ(LogCount(L"filRenameOnReboot:bOnReboot"), 2);
  ASSERT_EQ(RebootQueueEntries().size(), 1u);
  EXPECT_EQ(RebootQueueEntries()[0], Key(f));
  EXPECT_TRUE(LogHas(L"Delete on reboot(" + Key(f) + L")", LOG_VRB, LOG_SYSTEM)) << LogDump();
  EXPECT_TRUE(PathExists(f));
}

TEST_F(FilesTest, SharedDllCountDecidesWhetherTheFileGoes) {
  std::wstring dir = ScratchDir(L"shared");
  struct Case { DWORD count; bool kept; } cases[] = {{0, false}, {1, true}, {2, true}};
  for (const Case& c : cases) {
    std::wstring f = dir + L"\\lib" + std::to_wstring(c.count) + L".dll";
    ASSERT_TRUE(WriteBytes(f, "x"));
    SharedCount shared(f, &c.count, sizeof c.count, REG_DWORD);
    ClearLog();
    // Not even queued for the restart while shared.
    EXPECT_EQ(DeleteFileUnlessShared(f.c_str(), true, true), 0u);
    EXPECT_EQ(DeleteFileUnlessShared(f.c_str(), false, false), 0u);
    EXPECT_EQ(PathExists(f), c.kept) << c.count;
    EXPECT_EQ(LogCount(L"Ignoring remove shared file:" + f), c.kept ? 2 : 0) << LogDump();
    if (c.kept) {
      EXPECT_TRUE(LogHas(L"Ignoring remove shared file:" + f, LOG_VRB, LOG_FILE));
    }
    EXPECT_EQ(RebootQueueEntries().size(), c.kept ? 0u : 1u);
    ResetRebootQueueForTests();
  }
  // A count that is not 4 bytes long cannot be read, so it does not protect the file.
  std::wstring f = dir + L"\\wide.dll";
  ASSERT_TRUE(WriteBytes(f, "x"));
  ULONGLONG big = 1;
  SharedCount shared(f, &big, sizeof big, REG_QWORD);
  EXPECT_EQ(DeleteFileUnlessShared(f.c_str(), false, false), 0u);
  EXPECT_FALSE(PathExists(f));
}

TEST_F(FilesTest, LockedFileInTreeIsQueuedOnceWithEveryFolderAboveAfterItsContents) {
  std::wstring root = ScratchDir(L"tree locked");
  std::wstring sub = root + L"\\sub folder", deep = sub + L"\\deeper";
  ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
  std::wstring locked = deep + L"\\in use.dll";
  ASSERT_TRUE(WriteBytes(locked, "x"));
  ASSERT_TRUE(WriteBytes(root + L"\\a.txt", "a"));
  ASSERT_TRUE(WriteBytes(sub + L"\\b.txt", "b"));
  std::wstring sibling = root + L"\\empty sibling";
  ASSERT_TRUE(CreateDirectoryW(sibling.c_str(), nullptr));
  UniqueKernelHandle lock = Lock(locked);
  ASSERT_TRUE(lock);
  const std::vector<std::wstring> expected = {Key(locked), Key(deep), Key(sub), Key(root)};

  for (int walk = 0; walk < 3; ++walk) {
    // Failures of single files are not counted with the fallback; the folders' are.
    EXPECT_EQ(RemoveTree(root.c_str(), L"*.*", true, true, false), ERROR_DIR_NOT_EMPTY) << walk;
    EXPECT_EQ(RebootQueueEntries(), expected) << walk << "\n" << LogDump();
  }
  for (const std::wstring& k : expected) EXPECT_EQ(LogCount(L"Delete on reboot(" + k + L")"), 1);
  EXPECT_FALSE(PathExists(root + L"\\a.txt"));
  EXPECT_FALSE(PathExists(sub + L"\\b.txt"));
  EXPECT_FALSE(PathExists(sibling));
  EXPECT_TRUE(PathExists(locked));
}

TEST_F(FilesTest, RebootOnlyDeletesNothingAndQueuesEverythingContentsFirst) {
  std::wstring root = ScratchDir(L"tree rebootonly");
  std::wstring sub = root + L"\\sub";
  ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
  std::wstring a = root + L"\\a.txt", b = sub + L"\\b.txt";
  ASSERT_TRUE(WriteBytes(a, "a"));
  ASSERT_TRUE(WriteBytes(b, "b"));
  ASSERT_TRUE(SetFileAttributesW(b.c_str(), FILE_ATTRIBUTE_READONLY));

  RemoveTree(root.c_str(), L"*.*", true, true, true);
  std::vector<std::wstring> q = RebootQueueEntries();
  ASSERT_EQ(q.size(), 4u) << LogDump();
  EXPECT_TRUE(PathExists(a) && PathExists(b) && PathExists(sub));
  EXPECT_LT(IndexIn(q, Key(b)), IndexIn(q, Key(sub)));
  EXPECT_LT(IndexIn(q, Key(sub)), IndexIn(q, Key(root)));
  EXPECT_LT(IndexIn(q, Key(a)), IndexIn(q, Key(root)));
  EXPECT_EQ(q.back(), Key(root));
  // Read-only is cleared before queuing, so that the restart can delete the file.
  EXPECT_EQ(GetFileAttributesW(b.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_FALSE(LogHas(L"Direct delete of file: " + a));
}

TEST_F(FilesTest, TreePathWithoutFolderToMatchDoesNothing) {
  std::wstring root = ScratchDir(L"tree nomatch");
  std::wstring file = root + L"\\plain.txt";
  ASSERT_TRUE(WriteBytes(file, "x"));
  ASSERT_TRUE(WriteBytes(root + L"\\other.txt", "x"));
  EXPECT_EQ(RemoveTree(file.c_str(), L"*.*", true, true, false), 0u);
  EXPECT_EQ(RemoveTree((root + L"\\").c_str(), L"*.*", true, true, false), 0u);
  EXPECT_EQ(RemoveTree(L"tree nomatch", L"*.*", true, true, false), 0u);
  EXPECT_TRUE(PathExists(file));
  EXPECT_TRUE(PathExists(root + L"\\other.txt"));
  EXPECT_TRUE(g_log.entries.empty()) << LogDump();
  EXPECT_TRUE(RebootQueueEntries().empty());
}

TEST_F(FilesTest, WildcardMatchesFoldersOnlyAndMaskSelectsEntries) {
  std::wstring root = ScratchDir(L"tree wildcard");
  for (const wchar_t* d : {L"\\grp1", L"\\grp2", L"\\other"}) ASSERT_TRUE(CreateDirectoryW((root + d).c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(root + L"\\grp1\\x.lnk", "x"));
  ASSERT_TRUE(WriteBytes(root + L"\\grp2\\y.lnk", "y"));
  ASSERT_TRUE(WriteBytes(root + L"\\grp2\\keep.txt", "k"));
  ASSERT_TRUE(WriteBytes(root + L"\\grpfile", "f"));

  EXPECT_EQ(RemoveTree((root + L"\\grp*").c_str(), L"*.lnk", true, false, false), ERROR_DIR_NOT_EMPTY);
  EXPECT_FALSE(PathExists(root + L"\\grp1"));
  EXPECT_FALSE(PathExists(root + L"\\grp2\\y.lnk"));
  EXPECT_TRUE(PathExists(root + L"\\grp2\\keep.txt"));
  EXPECT_TRUE(PathExists(root + L"\\grpfile"));
  EXPECT_TRUE(PathExists(root + L"\\other"));
}

TEST_F(FilesTest, WithoutRecurseASubfolderIsHandedToTheFileDelete) {
  std::wstring root = ScratchDir(L"tree flat");
  std::wstring sub = root + L"\\sub";
  ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(sub + L"\\inner.txt", "i"));
  ASSERT_TRUE(WriteBytes(root + L"\\top.txt", "t"));
  EXPECT_EQ(RemoveTree(root.c_str(), L"*.*", false, false, false), ERROR_DIR_NOT_EMPTY);
  EXPECT_FALSE(PathExists(root + L"\\top.txt"));
  EXPECT_TRUE(PathExists(sub + L"\\inner.txt"));
  // DeleteFileW refuses the folder: that failure is logged where it happens.
  EXPECT_TRUE(LogHas(L"filRenameOnReboot:!bSuccess", LOG_DBG, LOG_FILE));
  EXPECT_EQ(DeleteFileOrQueue(sub.c_str(), false, false), ERROR_ACCESS_DENIED);
  // An empty subfolder is not removed either without recurse.
  RemoveAll(sub + L"\\inner.txt");
  EXPECT_EQ(RemoveTree(root.c_str(), L"*.*", false, false, false), ERROR_DIR_NOT_EMPTY);
  EXPECT_TRUE(PathExists(sub));
}

TEST_F(FilesTest, FolderEmptinessAndFirstMatch) {
  std::wstring root = ScratchDir(L"empty");
  EXPECT_TRUE(IsFolderEmpty(root.c_str()));
  EXPECT_TRUE(IsFolderEmpty((root + L"\\missing").c_str()));
  ASSERT_TRUE(CreateDirectoryW((root + L"\\sub").c_str(), nullptr));
  EXPECT_FALSE(IsFolderEmpty(root.c_str()));
  EXPECT_TRUE(IsFolderEmpty((root + L"\\sub").c_str()));
  ASSERT_TRUE(WriteBytes(root + L"\\sub\\oem7.inf", "x"));
  EXPECT_FALSE(IsFolderEmpty((root + L"\\sub").c_str()));

  WIN32_FIND_DATAW data;
  UniqueFindHandle find = FindFirstIn((root + L"\\sub").c_str(), L"*.inf", &data);
  ASSERT_TRUE(find);
  EXPECT_STREQ(data.cFileName, L"oem7.inf");
  EXPECT_FALSE(FindFirstIn(root.c_str(), L"*.inf", &data));
}

TEST_F(FilesTest, ShortPathFormOfExistingAndVanishedFiles) {
  std::wstring dir = ScratchDir(L"long folder name");
  std::wstring file = dir + L"\\a long file name.txt";
  ASSERT_TRUE(WriteBytes(file, "x"));
  std::wstring shortDir = ShortName(dir), shortFile = ShortName(file);
  ASSERT_FALSE(shortDir.empty());
  ASSERT_NE(shortDir, dir) << "the scratch folder has no 8.3 name";

  wchar_t out[MAX_PATH];
  EXPECT_EQ(ShortPathForm(out, file.c_str(), MAX_PATH), shortFile.size());
  EXPECT_EQ(out, shortFile);

  ASSERT_TRUE(DeleteFileW(file.c_str()));
  EXPECT_EQ(ShortPathForm(out, file.c_str(), MAX_PATH), shortDir.size());
  EXPECT_EQ(out, shortDir + L"\\a long file name.txt");

  EXPECT_EQ(ShortPathForm(nullptr, file.c_str(), MAX_PATH), 87u);
  EXPECT_EQ(ShortPathForm(out, nullptr, MAX_PATH), 87u);
}

TEST_F(FilesTest, ShortPathFormFallsBackToQuotedPathWithinTheBuffer) {
  // Neither the file nor its folder exists: the path in quotes, cut to the buffer.
  std::wstring path = L"C:\\qtx no such folder\\file.txt";
  wchar_t out[64];
  EXPECT_EQ(ShortPathForm(out, path.c_str(), 64), 0u);
  EXPECT_EQ(out, L"\"" + path + L"\"");
  EXPECT_EQ(ShortPathForm(out, (L"\"" + path + L"\"").c_str(), 64), 0u);
  EXPECT_EQ(out, L"\"" + path + L"\"");

  wchar_t small[12];
  std::fill(std::begin(small), std::end(small), L'#');
  ShortPathForm(small, path.c_str(), 10);
  EXPECT_EQ(std::wstring(small), L"\"C:\\qtx n");
  EXPECT_EQ(small[10], L'#');
  EXPECT_EQ(small[11], L'#');
}

TEST_F(FilesTest, UnredirectedDeleteReachesTheNativeSystemFolder) {
  wchar_t system[MAX_PATH], wow[MAX_PATH];
  ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
  std::wstring name = L"\\qtx_unredirected_" + std::to_wstring(GetCurrentProcessId()) + L".sys";
  std::wstring native = system + name;
  // The test reaches the native folder as itself (in a 32-bit process under WOW64 only with
  // redirection off). 32-bit Windows has the one system folder.
  auto asItself = [](auto call) {
    FsRedirectionOff off;
    return call();
  };
  const bool twoFolders = GetSystemWow64DirectoryW(wow, MAX_PATH) > 0;
  const std::wstring wow32 = twoFolders ? wow + name : L"";
  ASSERT_TRUE(asItself([&] { return WriteBytes(native, "64"); }));
  if (twoFolders) ASSERT_TRUE(WriteBytes(wow32, "32"));
  EXPECT_TRUE(DeleteFileUnredirected(native.c_str()));
  EXPECT_FALSE(asItself([&] { return PathExists(native); }));
  if (twoFolders) EXPECT_TRUE(PathExists(wow32));
  EXPECT_FALSE(DeleteFileUnredirected(native.c_str()));
  EXPECT_EQ(GetLastError(), 2u);
  if (twoFolders) DeleteFileW(wow32.c_str());
  EXPECT_TRUE(g_log.entries.empty());
}

// The switch of a WOW64 process, seen through the run-time look-ups.
std::vector<BOOLEAN> g_redirectionCalls;
BOOL WINAPI FakeIsWow64(HANDLE, PBOOL wow64) {
  *wow64 = TRUE;
  return TRUE;
}
BOOLEAN WINAPI FakeEnableRedirection(BOOLEAN enable) {
  g_redirectionCalls.push_back(enable);
  return TRUE;
}

TEST_F(FilesTest, UnredirectedDeleteTurnsRedirectionBackOn) {
  std::wstring f = ScratchDir(L"redirect") + L"\\x.sys";
  ASSERT_TRUE(WriteBytes(f, "x"));
  g_redirectionCalls.clear();
  OverrideProc("IsWow64Process", reinterpret_cast<FARPROC>(FakeIsWow64));
  OverrideProc("Wow64EnableWow64FsRedirection", reinterpret_cast<FARPROC>(FakeEnableRedirection));
  BOOL deleted = DeleteFileUnredirected(f.c_str());
  ClearProcOverrides();
  EXPECT_TRUE(deleted);
  EXPECT_EQ(g_redirectionCalls, (std::vector<BOOLEAN>{FALSE, TRUE}));
}

}  // namespace
