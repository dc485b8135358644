// Whole-file byte access on descriptor-based I/O, reporting failures as Windows codes.
#pragma once
#include <windows.h>
#include <cstdint>

// Maps a C runtime error number to the Windows error code callers log.
DWORD WinErrorFromErrno(int err);

class CGenFile {
 public:
  virtual ~CGenFile() {}
  virtual bool Read(void* buffer, uint32_t count, uint32_t* read) { return false; }
  virtual bool Write(const void* buffer, uint32_t count, uint32_t* written) = 0;
  virtual void* ReadAlloc(uint32_t count) = 0;
  virtual void FreeBuffer(void* buffer) = 0;
  virtual int32_t Seek(int32_t offset, int origin) = 0;  // origin: SEEK_SET, SEEK_CUR, SEEK_END
  virtual void Close() = 0;
  virtual int32_t GetSize() { return size; }

 protected:
  int32_t size = 0;
};

class CUFile : public CGenFile {
 public:
  CUFile() = default;
  CUFile(const CUFile&) = delete;
  CUFile& operator=(const CUFile&) = delete;
  ~CUFile() override;

  bool OpenRead(const wchar_t* path);       // read-only
  bool OpenReadWrite(const wchar_t* path);  // created if missing, committed on close
  bool Create(const wchar_t* path);         // created or truncated to 0
  // Takes over `file` (opened for reading and writing), which the object closes; read and
  // written like OpenReadWrite's, from its start.
  bool Attach(HANDLE file);
  // Cuts the file at the current position.
  bool Truncate();
  // Arms deletion of `path` (copied) when the object is next closed; null disarms it.
  void DeleteOnClose(const wchar_t* path);

  bool Read(void* buffer, uint32_t count, uint32_t* read) override;
  bool Write(const void* buffer, uint32_t count, uint32_t* written) override;
  void* ReadAlloc(uint32_t count) override;
  void FreeBuffer(void* buffer) override;
  int32_t Seek(int32_t offset, int origin) override;
  void Close() override;
  int32_t GetSize() override;

  int32_t position = 0;
  bool isOpen = false;
  bool sizeStale = false;
  bool deleteOnClose = false;
  bool commitOnClose = false;
  wchar_t* deletePath = nullptr;  // owned; released on Close
  int descriptor = -1;
  DWORD lastError = 0;

 private:
  bool Open(const wchar_t* path, int flags);
  // Takes an open descriptor as this file's, with its size and the position at the start.
  void Adopt(int fd);
  void SyncPosition();
};
