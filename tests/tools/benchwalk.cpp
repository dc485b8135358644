// benchwalk: the benchmark's reference program and its file locker (see scripts/bench.sh).
//
//   benchwalk walk [--reboot-only] FOLDER
//     Walks FOLDER depth first doing only the work a removal cannot avoid: a read-only entry
//     gets its attribute cleared (a restart does not delete a read-only file), a file is
//     deleted, and what is not deleted (everything, with --reboot-only) is handed to
//     MoveFileExW(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT); each folder after its contents.
//     Prints what it did and its own time.
//
//   benchwalk lock FOLDER RELEASE_FILE SECONDS
//     Opens every file under FOLDER whose name begins with "locked" without write or delete
//     sharing, prints "locked COUNT", and keeps them open until RELEASE_FILE exists or
//     SECONDS have passed.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct WalkCounts {
  unsigned long files = 0, folders = 0, deleted = 0, queued = 0, failed = 0;
};

bool IsDotEntry(const wchar_t* name) { return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0; }

void QueueOrCount(const std::wstring& path, WalkCounts& counts) {
  if (MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
    ++counts.queued;
  else
    ++counts.failed;
}

void Walk(const std::wstring& folder, bool rebootOnly, WalkCounts& counts) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (IsDotEntry(data.cFileName)) continue;
      std::wstring path = folder + L"\\" + data.cFileName;
      // Links are not entered: their contents belong elsewhere.
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
          !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        Walk(path, rebootOnly, counts);
        continue;
      }
      ++counts.files;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(path.c_str(), data.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
      if (!rebootOnly && DeleteFileW(path.c_str()))
        ++counts.deleted;
      else
        QueueOrCount(path, counts);
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  ++counts.folders;
  if (!rebootOnly && RemoveDirectoryW(folder.c_str()))
    ++counts.deleted;
  else
    QueueOrCount(folder, counts);
}

void LockUnder(const std::wstring& folder, std::vector<HANDLE>& handles) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (IsDotEntry(data.cFileName)) continue;
    std::wstring path = folder + L"\\" + data.cFileName;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) LockUnder(path, handles);
    } else if (_wcsnicmp(data.cFileName, L"locked", 6) == 0) {
      HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
      if (h != INVALID_HANDLE_VALUE) handles.push_back(h);
    }
  } while (FindNextFileW(find, &data));
  FindClose(find);
}

int RunWalk(int argc, wchar_t** argv) {
  bool rebootOnly = false;
  const wchar_t* folder = nullptr;
  for (int i = 2; i < argc; ++i) {
    if (wcscmp(argv[i], L"--reboot-only") == 0)
      rebootOnly = true;
    else
      folder = argv[i];
  }
  if (!folder) return 2;
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  WalkCounts counts;
  Walk(folder, rebootOnly, counts);
  QueryPerformanceCounter(&end);
  printf("walked %lu files, %lu folders: %lu deleted, %lu queued, %lu failed, %.3f s\n", counts.files,
         counts.folders, counts.deleted, counts.queued, counts.failed,
         static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart);
  return counts.failed ? 1 : 0;
}

int RunLock(int argc, wchar_t** argv) {
  if (argc < 5) return 2;
  std::vector<HANDLE> handles;
  LockUnder(argv[2], handles);
  printf("locked %u\n", static_cast<unsigned>(handles.size()));
  fflush(stdout);
  DWORD limitMs = 1000u * static_cast<DWORD>(_wtoi(argv[4]));
  DWORD start = GetTickCount();
  while (GetFileAttributesW(argv[3]) == INVALID_FILE_ATTRIBUTES && GetTickCount() - start < limitMs) Sleep(100);
  for (HANDLE h : handles) CloseHandle(h);
  return 0;
}
}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  int rc = 2;
  if (argv && argc >= 2 && wcscmp(argv[1], L"walk") == 0) rc = RunWalk(argc, argv);
  if (argv && argc >= 2 && wcscmp(argv[1], L"lock") == 0) rc = RunLock(argc, argv);
  if (rc == 2) fprintf(stderr, "usage: benchwalk walk [--reboot-only] FOLDER | lock FOLDER RELEASE_FILE SECONDS\n");
  LocalFree(argv);
  return rc;
}
