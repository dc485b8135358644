// Runs inside a prefix of its own: lays out files and folders under C:\qtx restart and
// C:\qtx restart program,
// queues them for deletion at the next restart with the product functions and commits.
// restart_test.sh then restarts the prefix and checks that they are gone.
#include <windows.h>

#include <cstdio>
#include <string>

#include "sysops/files.h"
#include "sysops/reboot_queue.h"

namespace {
const std::wstring kRoot = L"C:\\qtx restart";
const std::wstring kProgram = L"C:\\qtx restart program";

bool Write(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD n = 0;
  BOOL ok = WriteFile(h, "data", 4, &n, nullptr);
  CloseHandle(h);
  return ok && n == 4;
}

int Fail(const char* what) {
  std::printf("restart_helper: %s failed (error %lu)\n", what, GetLastError());
  return 1;
}
}  // namespace

int main() {
  // Directly below the root: Wine reports the user as every folder's owner, and nothing is
  // queued below a folder that a user could rename.
  const std::wstring program = kProgram, sub = program + L"\\sub dir";
  const std::wstring deeper = sub + L"\\deeper";
  CreateDirectoryW(kRoot.c_str(), nullptr);
  for (const std::wstring& d : {program, sub, deeper})
    if (!CreateDirectoryW(d.c_str(), nullptr)) return Fail("CreateDirectoryW");
  for (const std::wstring& f : {program + L"\\app.exe", sub + L"\\lib.dll", deeper + L"\\x.dat",
                                kRoot + L"\\single file.txt", kRoot + L"\\keep.txt"})
    if (!Write(f)) return Fail("CreateFileW");
  // Attributes that would stop the restart from deleting are cleared when queuing.
  SetFileAttributesW((sub + L"\\lib.dll").c_str(), FILE_ATTRIBUTE_READONLY);
  SetFileAttributesW((deeper + L"\\x.dat").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);

  DWORD rc = RemoveTree(program.c_str(), L"*.*", true, true, true);
  std::printf("RemoveTree: %lu\n", rc);
  if (DeleteFileOrQueue((kRoot + L"\\single file.txt").c_str(), true, true) != 0) return Fail("DeleteFileOrQueue");
  for (const std::wstring& e : RebootQueueEntries()) std::printf("queued: %ls\n", e.c_str());
  if (RebootQueueEntries().size() != 7) return Fail("queue size");
  rc = CommitRebootQueue(0, nullptr);
  if (rc != 0) {
    SetLastError(rc);
    return Fail("CommitRebootQueue");
  }
  return 0;
}
