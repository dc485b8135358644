#include "log/ufile.h"

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {
// Larger transfers are split so that one C runtime call never moves more than this.
constexpr uint32_t kChunkBytes = 4194304;

struct ErrnoCode {
  int err;
  DWORD code;
};

constexpr ErrnoCode kErrnoCodes[] = {
    {ENOENT, ERROR_FILE_NOT_FOUND},      {E2BIG, ERROR_BAD_ENVIRONMENT},
    {ENOEXEC, ERROR_BAD_FORMAT},         {EBADF, ERROR_INVALID_HANDLE},
    {ECHILD, ERROR_WAIT_NO_CHILDREN},    {EAGAIN, ERROR_NO_PROC_SLOTS},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},   {EACCES, ERROR_ACCESS_DENIED},
    {EEXIST, ERROR_ALREADY_EXISTS},      {EXDEV, ERROR_NOT_SAME_DEVICE},
    {ENODEV, ERROR_INVALID_DRIVE},       {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {EINVAL, ERROR_INVALID_PARAMETER},   {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
    {ENOSPC, ERROR_DISK_FULL},           {EPIPE, ERROR_BROKEN_PIPE},
    {ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
};

// Moves count bytes with `io` (_read or _write) in chunks of at most 4 MiB, until all are
// moved or a call moves nothing or fails; returns the bytes moved. errno is cleared first, so
// that a call that moved nothing without an error (end of file) can be told apart from a
// failure instead of reporting whatever error number an earlier call left.
template <class Io>
uint32_t TransferChunks(uint32_t count, Io io) {
  errno = 0;
  uint32_t done = 0;
  while (done < count) {
    uint32_t chunk = count - done < kChunkBytes ? count - done : kChunkBytes;
    int n = io(done, chunk);
    if (n <= 0) break;
    done += static_cast<uint32_t>(n);
  }
  return done;
}
}  // namespace

DWORD WinErrorFromErrno(int err) {
  for (const ErrnoCode& entry : kErrnoCodes) {
    if (entry.err == err) return entry.code;
  }
  return ERROR_CALL_NOT_IMPLEMENTED;
}

CUFile::~CUFile() { Close(); }

void CUFile::Adopt(int fd) {
  descriptor = fd;
  isOpen = true;
  long end = _lseek(fd, 0, SEEK_END);
  size = end < 0 ? 0 : static_cast<int32_t>(end);
  _lseek(fd, 0, SEEK_SET);
  position = 0;
}

bool CUFile::Open(const wchar_t* path, int flags) {
  if (isOpen) {
    lastError = ERROR_INVALID_HANDLE;
    return false;
  }
  if (!path) {
    lastError = ERROR_INVALID_PARAMETER;
    return false;
  }
  int fd = _wopen(path, flags | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd == -1) {
    lastError = WinErrorFromErrno(errno);
    return false;
  }
  Adopt(fd);
  return true;
}

bool CUFile::OpenRead(const wchar_t* path) { return Open(path, _O_RDONLY); }

bool CUFile::OpenReadWrite(const wchar_t* path) {
  if (!Open(path, _O_RDWR | _O_CREAT)) return false;
  commitOnClose = true;
  return true;
}

bool CUFile::Create(const wchar_t* path) {
  if (!Open(path, _O_RDWR | _O_CREAT | _O_TRUNC)) return false;
  size = 0;
  sizeStale = false;
  deleteOnClose = false;
  return true;
}

bool CUFile::Attach(HANDLE file) {
  if (isOpen || file == nullptr || file == INVALID_HANDLE_VALUE) {
    lastError = isOpen ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER;
    return false;
  }
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDWR | _O_BINARY);
  if (fd == -1) {
    lastError = WinErrorFromErrno(errno);
    return false;
  }
  Adopt(fd);
  commitOnClose = true;
  return true;
}

bool CUFile::Truncate() {
  if (!isOpen) {
    lastError = ERROR_INVALID_HANDLE;
    return false;
  }
  if (_chsize(descriptor, position) != 0) {
    lastError = WinErrorFromErrno(errno);
    return false;
  }
  size = position;
  sizeStale = false;
  return true;
}

void CUFile::DeleteOnClose(const wchar_t* path) {
  free(deletePath);
  deletePath = path ? _wcsdup(path) : nullptr;
  deleteOnClose = deletePath != nullptr;
}

// The descriptor has moved by the bytes transferred, also after a short read or write.
void CUFile::SyncPosition() {
  long offset = _lseek(descriptor, 0, SEEK_CUR);
  if (offset >= 0) position = static_cast<int32_t>(offset);
}

bool CUFile::Read(void* buffer, uint32_t count, uint32_t* read) {
  if (!isOpen) {
    lastError = ERROR_INVALID_HANDLE;
    return false;
  }
  sizeStale = false;
  if (!buffer && count > 0) {
    if (read) *read = 0;
    lastError = ERROR_INVALID_PARAMETER;
    return false;
  }
  char* destination = static_cast<char*>(buffer);
  uint32_t done = TransferChunks(count, [&](uint32_t at, uint32_t chunk) {
    return _read(descriptor, destination + at, chunk);
  });
  if (read) *read = done;
  SyncPosition();
  if (done == count) return true;
  lastError = errno != 0 ? WinErrorFromErrno(errno) : ERROR_HANDLE_EOF;
  return false;
}

bool CUFile::Write(const void* buffer, uint32_t count, uint32_t* written) {
  if (!isOpen) {
    lastError = ERROR_INVALID_HANDLE;
    return false;
  }
  if (!buffer && count > 0) {
    if (written) *written = 0;
    lastError = ERROR_INVALID_PARAMETER;
    return false;
  }
  const char* source = static_cast<const char*>(buffer);
  uint32_t done = TransferChunks(count, [&](uint32_t at, uint32_t chunk) {
    return _write(descriptor, source + at, chunk);
  });
  if (written) *written = done;
  if (done > 0) sizeStale = true;
  SyncPosition();
  if (done == count) {
    sizeStale = true;
    return true;
  }
  // A write that moves nothing without an error number means the medium took no more.
  lastError = errno != 0 ? WinErrorFromErrno(errno) : ERROR_DISK_FULL;
  return false;
}

void* CUFile::ReadAlloc(uint32_t count) {
  // One extra byte so that a zero count still yields a buffer the caller can free.
  void* buffer = calloc(static_cast<size_t>(count) + 1, 1);
  if (!buffer) return nullptr;
  Read(buffer, count, nullptr);
  return buffer;
}

void CUFile::FreeBuffer(void* buffer) { free(buffer); }

int32_t CUFile::Seek(int32_t offset, int origin) {
  if (!isOpen) {
    lastError = ERROR_INVALID_HANDLE;
    return -1;
  }
  long result = _lseek(descriptor, offset, origin);
  if (result < 0) {
    lastError = WinErrorFromErrno(errno);
    return -1;
  }
  position = static_cast<int32_t>(result);
  return position;
}

void CUFile::Close() {
  if (descriptor != -1) {
    if (commitOnClose) _commit(descriptor);
    _close(descriptor);
  }
  if (deleteOnClose && deletePath) {
    if (_wunlink(deletePath) != 0) lastError = WinErrorFromErrno(errno);
  }
  free(deletePath);
  deletePath = nullptr;
  isOpen = false;
  sizeStale = false;
  commitOnClose = false;
  descriptor = -1;
}

int32_t CUFile::GetSize() {
  if (sizeStale && isOpen) {
    long end = _lseek(descriptor, 0, SEEK_END);
    if (end >= 0) size = static_cast<int32_t>(end);
    _lseek(descriptor, position, SEEK_SET);
    sizeStale = false;
  }
  return size;
}
