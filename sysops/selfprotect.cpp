#include "sysops/selfprotect.h"

#include <cwchar>

#include "base/handles.h"

namespace {
constexpr const wchar_t* kDevice = L"\\\\.\\qtxSP";
constexpr DWORD kStatusQuery = 0xB2D600A8;
// SP_SERVICE_DELETE_BEGIN / SP_SERVICE_DELETE_END; the input is the service's key name.
constexpr DWORD kServiceDeleteBegin = 0xB2D600AC;
constexpr DWORD kServiceDeleteEnd = 0xB2D600B0;
// A driver that never completes a request must not hang the run: the request, and its
// cancellation, take at most this long in all.
constexpr DWORD kAnswerTimeoutMs = 5000;

// Sends one request to the driver and waits (bounded) for its 4-byte answer. False when
// the device cannot be opened or nothing came back in time.
bool SendRequest(DWORD code, const void* input, DWORD inputSize, DWORD* answerOut) {
  UniqueKernelHandle device(CreateFileW(kDevice, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
  if (!device) return false;
  // The device is opened for overlapped I/O, so the request waits on an event of its own.
  // The request lives on the heap: should the driver never complete it, not even after
  // CancelIo, it is left to the driver rather than freed under it.
  struct Request {
    OVERLAPPED overlapped = {};
    DWORD answer = 0;
  };
  UniqueKernelHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!done) return false;
  Request* request = new Request;
  request->overlapped.hEvent = done.get();
  DWORD returned = 0;
  bool answered = DeviceIoControl(device.get(), code, const_cast<void*>(input), inputSize, &request->answer,
                                  sizeof(DWORD), &returned, &request->overlapped) != FALSE;
  if (!answered && GetLastError() == ERROR_IO_PENDING) {
    // One budget for the answer and for the cancellation together.
    DWORD started = GetTickCount();
    if (WaitForSingleObject(done.get(), kAnswerTimeoutMs) == WAIT_OBJECT_0) {
      answered = GetOverlappedResult(device.get(), &request->overlapped, &returned, FALSE) != FALSE;
    } else {
      CancelIo(device.get());
      DWORD spent = GetTickCount() - started;
      DWORD left = spent < kAnswerTimeoutMs ? kAnswerTimeoutMs - spent : 0;
      if (WaitForSingleObject(done.get(), left) != WAIT_OBJECT_0) {
        done.release();  // still in use by the pending request
        return false;
      }
      answered = false;
    }
  }
  answered = answered && returned >= sizeof(DWORD);
  if (answered && answerOut) *answerOut = request->answer;
  delete request;
  return answered;
}

void SendServicePermitRequest(DWORD code, const wchar_t* serviceName) {
  DWORD lastError = GetLastError();
  DWORD bytes = static_cast<DWORD>((wcslen(serviceName) + 1) * sizeof(wchar_t));
  SendRequest(code, serviceName, bytes, nullptr);
  SetLastError(lastError);
}
}  // namespace

DWORD ProbeSelfProtection() {
  DWORD answer = 0;
  return SendRequest(kStatusQuery, nullptr, 0, &answer) ? answer : 0;
}

void BeginServiceDeletePermit(const wchar_t* serviceName) { SendServicePermitRequest(kServiceDeleteBegin, serviceName); }

void EndServiceDeletePermit(const wchar_t* serviceName) { SendServicePermitRequest(kServiceDeleteEnd, serviceName); }
