// Deleting without following links on the path, and locking folders down. Links are Unix
// symbolic links planted from the shell: Wine shows them only in listings, which is where
// the primitives look as well as at the handle (what Windows shows for a junction).
#include "sysops/nofollow.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "sysops/files.h"
#include "sysops/folder_trust.h"
#include "sysops/reboot_queue.h"
#include "tests/support/test_support.h"
#include "tests/support/unix_links.h"

using namespace qtxtest;

TEST(NoFollow, SingleFileDeleteRefusesEveryLinkOnThePath) {
  std::wstring root = ScratchDir(L"nofollow_single");
  std::wstring victim = root + L"\\victim";
  ASSERT_TRUE(CreateDirectoryW(victim.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((victim + L"\\deep").c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(victim + L"\\EXTEND.DAT", "victim"));
  ASSERT_TRUE(WriteBytes(victim + L"\\deep\\EXTEND.DAT", "victim"));
  ASSERT_TRUE(CreateDirectoryW((root + L"\\user").c_str(), nullptr));
  ASSERT_TRUE(PlantFolderLink(root + L"\\user\\Outlook", victim));
  ASSERT_TRUE(PlantFolderLink(root + L"\\top", root + L"\\user"));

  struct Case {
    const wchar_t* path;
    DWORD expected;
  } cases[] = {
      {L"\\user\\Outlook\\EXTEND.DAT", kErrorLinkOnPath},      // the last folder is a link
      {L"\\top\\Outlook\\EXTEND.DAT", kErrorLinkOnPath},       // a link further up
      {L"\\user\\Outlook\\deep\\EXTEND.DAT", kErrorLinkOnPath},
      {L"\\user\\missing\\EXTEND.DAT", ERROR_PATH_NOT_FOUND},
      {L"\\user\\EXTEND.DAT", ERROR_FILE_NOT_FOUND},
  };
  for (const Case& c : cases) {
    ClearLog();
    std::wstring path = root + c.path;
    EXPECT_EQ(DeleteFileNoFollow(path), c.expected) << Narrow(path);
    EXPECT_EQ(LogCount(L"Not deleted, a link is on its path (not followed): " + path),
              c.expected == kErrorLinkOnPath ? 1 : 0)
        << LogDump();
  }
  EXPECT_TRUE(PathExists(victim + L"\\EXTEND.DAT"));
  EXPECT_TRUE(PathExists(victim + L"\\deep\\EXTEND.DAT"));

  // Relative, device and "\\?\" forms are never handed on.
  for (const wchar_t* odd : {L"EXTEND.DAT", L"\\\\?\\C:\\x", L"\\\\.\\C:\\x", L"C:\\a\\..\\b", L"%ProgramW6432%\\x"})
    EXPECT_EQ(DeleteFileNoFollow(odd), DWORD{ERROR_BAD_PATHNAME}) << Narrow(odd);

  // A plain read-only file is deleted through its handle; a file held open without delete
  // sharing is not, and the holder's handle is the reason.
  std::wstring plain = root + L"\\user\\EXTEND.DAT";
  ASSERT_TRUE(WriteBytes(plain, "cache"));
  ASSERT_TRUE(SetFileAttributesW(plain.c_str(), FILE_ATTRIBUTE_READONLY));
  ClearLog();
  EXPECT_EQ(DeleteFileNoFollow(plain), 0u);
  EXPECT_FALSE(PathExists(plain));
  EXPECT_TRUE(LogHas(L"Direct delete of file: " + plain));
  ASSERT_TRUE(WriteBytes(plain, "cache"));
  {
    UniqueKernelHandle held(
        CreateFileW(plain.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    EXPECT_EQ(DeleteFileNoFollow(plain), DWORD{ERROR_SHARING_VIOLATION});
  }
  EXPECT_TRUE(PathExists(plain));

  DropLink(root + L"\\top");
  DropLink(root + L"\\user\\Outlook");
}

namespace {
struct SetCall {
  SECURITY_INFORMATION what;
  std::wstring text;
};
std::vector<SetCall> g_calls;
DWORD g_failWith = 0;

// Records what would be set, in text form, and answers g_failWith.
DWORD RecordingSetter(HANDLE, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR descriptor) {
  LPWSTR text = nullptr;
  std::wstring recorded;
  if (ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, what, &text, nullptr)) {
    recorded = text;
    LocalFree(text);
  }
  g_calls.push_back({what, recorded});
  return g_failWith;
}
}  // namespace

TEST(NoFollow, LockDownSetsAdministratorsOwnerFirstThenAProtectedList) {
  std::wstring root = ScratchDir(L"nofollow_lock");
  UniqueKernelHandle folder;
  ASSERT_EQ(OpenNoFollow(root, true, kFolderWalkAccess, folder), 0u);
  // Wine takes the real call on a folder handle but keeps nothing that could be read back.
  DWORD real = LockDownFolder(folder.get());
  std::printf("NtSetSecurityObject on a folder under Wine: %lu\n", static_cast<unsigned long>(real));

  g_folderSecuritySetter = RecordingSetter;
  g_calls.clear();
  g_failWith = 0;
  EXPECT_EQ(LockDownFolder(folder.get()), 0u);
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[0].what, DWORD{OWNER_SECURITY_INFORMATION});
  EXPECT_EQ(g_calls[0].text, L"O:BA");
  EXPECT_EQ(g_calls[1].what, DWORD{DACL_SECURITY_INFORMATION});
  EXPECT_EQ(g_calls[1].text, L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)");

  // No owner, no list: a folder whose owner could not be changed keeps its old list too.
  g_calls.clear();
  g_failWith = ERROR_ACCESS_DENIED;
  EXPECT_EQ(LockDownFolder(folder.get()), DWORD{ERROR_ACCESS_DENIED});
  EXPECT_EQ(g_calls.size(), 1u);
  g_folderSecuritySetter = SetFolderSecurityThroughHandle;
}

namespace {
// Fails the owner step of the folder locked as the `g_failFolder`-th one (1 = the walk's
// first); every call is recorded.
int g_failFolder = 0;
DWORD FailNthFolder(HANDLE folder, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR descriptor) {
  RecordingSetter(folder, what, descriptor);
  int folderNumber = static_cast<int>((g_calls.size() + 1) / 2);
  return (what == OWNER_SECURITY_INFORMATION && folderNumber == g_failFolder) ? ERROR_ACCESS_DENIED : 0;
}
}  // namespace

TEST(NoFollow, NothingIsQueuedAtOrBelowAFolderThatCouldNotBeLocked) {
  struct Case {
    int failFolder;  // 0: none fails; 1: the walked folder; 2: its subfolder
    bool rootQueued, fileQueued, subQueued;
  } cases[] = {{0, true, true, true}, {1, false, false, false}, {2, true, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failFolder);
    ResetRebootQueueForTests();
    ClearLog();
    std::wstring root = ScratchDir(L"nofollow_queue" + std::to_wstring(c.failFolder));
    std::wstring sub = root + L"\\sub", a = root + L"\\a.dll", b = sub + L"\\b.dll";
    ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
    for (const std::wstring& f : {a, b, root + L"\\free.txt"}) ASSERT_TRUE(WriteBytes(f, "x"));
    UniqueKernelHandle heldA(CreateFileW(a.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    UniqueKernelHandle heldB(CreateFileW(b.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(heldA && heldB);

    g_calls.clear();
    g_failFolder = c.failFolder;
    g_folderSecuritySetter = FailNthFolder;
    RemoveTree(root.c_str(), L"*.*", true, true, false);
    g_folderSecuritySetter = SetFolderSecurityThroughHandle;

    auto queued = [](const std::wstring& path) { return IsQueuedForReboot(path.c_str()); };
    EXPECT_EQ(queued(root), c.rootQueued);
    EXPECT_EQ(queued(a), c.fileQueued);
    EXPECT_EQ(queued(sub), c.subQueued);
    EXPECT_EQ(queued(b), c.subQueued);
    EXPECT_FALSE(PathExists(root + L"\\free.txt"));  // deleted now all the same
    // Every folder that may hold queued entries was given its owner, then its list; below a
    // folder that failed nothing more is tried.
    size_t expectedCalls = c.failFolder == 0 ? 4 : c.failFolder == 1 ? 1 : 3;
    EXPECT_EQ(g_calls.size(), expectedCalls);
    const std::wstring failed = c.failFolder == 1 ? root : sub;
    EXPECT_EQ(LogCount(L"Folder not locked, nothing below it is queued for the restart: " + failed + L" (0x00000005)"),
              c.failFolder ? 1 : 0)
        << LogDump();
    EXPECT_EQ(LogCount(L"Not queued for the restart, its folder is not locked: " + b), c.subQueued ? 0 : 1);
  }
  ResetRebootQueueForTests();
}

namespace {
const wchar_t* g_parentSddl = nullptr;
DWORD ReadParentSddl(HANDLE, PSECURITY_DESCRIPTOR* descriptor) {
  return ConvertStringSecurityDescriptorToSecurityDescriptorW(g_parentSddl, SDDL_REVISION_1, descriptor, nullptr)
             ? 0
             : GetLastError();
}
}  // namespace

// The folders above a walked one are read (every one answers the same descriptor here): a
// held file is queued only when no one but Administrators, SYSTEM and TrustedInstaller owns
// them or may rename what they hold. Adding entries, as ProgramData allows users, is harmless.
TEST(NoFollow, NothingIsQueuedBelowParentsThatUsersCouldRearrange) {
  const struct {
    const wchar_t* sddl;
    bool queued;
  } cases[] = {
      {L"O:BAD:(A;;FA;;;BA)(A;;FA;;;SY)", true},
      {L"O:SYD:(A;;FA;;;SY)(A;;0x100006;;;BU)(A;OICIIO;GA;;;CO)", true},  // users add entries only
      {L"O:S-1-5-21-1-2-3-1000D:(A;;FA;;;BA)", false},                     // a user owns it
      {L"O:BAD:(A;;FA;;;BA)(A;;0x40;;;BU)", false},                         // users delete its entries
      {L"O:BAD:(A;;FA;;;BA)(A;;0x10000;;;WD)", false},                      // everyone may rename it
      {L"O:BAD:(A;;FA;;;BA)(A;;GA;;;AU)", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.sddl));
    ResetRebootQueueForTests();
    ClearLog();
    std::wstring root = ScratchDir(L"nofollow_parents") + L"\\walked", held = root + L"\\held.dll";
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(held, "x"));
    UniqueKernelHandle holder(CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    g_parentSddl = c.sddl;
    SetSecurityReaderForTests(ReadParentSddl);
    RemoveTree(root.c_str(), L"*.*", true, true, false);
    RestoreTestSecurityReader();
    EXPECT_EQ(IsQueuedForReboot(held.c_str()), c.queued);
    EXPECT_EQ(IsQueuedForReboot(root.c_str()), c.queued);
    EXPECT_EQ(LogCount(L"Not queued for the restart, its folder is not locked: " + held), c.queued ? 0 : 1) << LogDump();
  }
  ResetRebootQueueForTests();
}
