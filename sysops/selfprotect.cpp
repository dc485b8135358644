#include "sysops/selfprotect.h"

#include "base/handles.h"

namespace {
constexpr const wchar_t* kDevice = L"\\\\.\\qtxSP";
constexpr DWORD kStatusQuery = 0xB2D600A8;
// A driver that never completes the query must not hang the start-up.
constexpr DWORD kAnswerTimeoutMs = 5000;
}  // namespace

DWORD ProbeSelfProtection() {
  UniqueKernelHandle device(CreateFileW(kDevice, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
  if (!device) return 0;
  // The device is opened for overlapped I/O, so the query waits on an event of its own.
  // The request lives on the heap: should the driver never complete it, not even after
  // CancelIo, it is left to the driver rather than freed under it.
  struct Request {
    OVERLAPPED overlapped = {};
    DWORD answer = 0;
  };
  UniqueKernelHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!done) return 0;
  Request* request = new Request;
  request->overlapped.hEvent = done.get();
  DWORD returned = 0;
  bool answered = DeviceIoControl(device.get(), kStatusQuery, nullptr, 0, &request->answer, sizeof(DWORD),
                                  &returned, &request->overlapped) != FALSE;
  if (!answered && GetLastError() == ERROR_IO_PENDING) {
    if (WaitForSingleObject(done.get(), kAnswerTimeoutMs) == WAIT_OBJECT_0) {
      answered = GetOverlappedResult(device.get(), &request->overlapped, &returned, FALSE) != FALSE;
    } else {
      CancelIo(device.get());
      if (WaitForSingleObject(done.get(), kAnswerTimeoutMs) != WAIT_OBJECT_0) {
        done.release();  // still in use by the pending request
        return 0;
      }
      answered = false;
    }
  }
  DWORD answer = answered && returned >= sizeof(DWORD) ? request->answer : 0;
  delete request;
  return answer;
}
