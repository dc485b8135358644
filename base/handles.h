// Move-only owners for the handle kinds the program uses. Closing a handle keeps the
// thread's last-error value, so a caller can still read the error of the call that failed.
#pragma once
#include <windows.h>
#include <winsvc.h>
#include <utility>

template <class Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;
  UniqueHandle() = default;
  explicit UniqueHandle(Type h) : h_(h) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& o) noexcept : h_(o.release()) {}
  UniqueHandle& operator=(UniqueHandle&& o) noexcept { reset(o.release()); return *this; }
  ~UniqueHandle() { reset(); }

  Type get() const { return h_; }
  explicit operator bool() const { return Traits::IsValid(h_); }
  Type release() { Type h = h_; h_ = Traits::Invalid(); return h; }
  void reset(Type h = Traits::Invalid()) {
    if (Traits::IsValid(h_) && h_ != h) {
      DWORD err = GetLastError();
      Traits::Close(h_);
      SetLastError(err);
    }
    h_ = h;
  }
  // For out-parameters of API calls: closes what is held and hands out the slot.
  Type* put() { reset(); return &h_; }

 private:
  Type h_ = Traits::Invalid();
};

namespace handle_traits {
// Predefined roots (HKEY_LOCAL_MACHINE ...) are never closed by their owner.
struct RegKey {
  using Type = HKEY;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) {
    if ((reinterpret_cast<ULONG_PTR>(h) & 0xFFFFFFF0u) != 0x80000000u) RegCloseKey(h);
  }
};
// Kernel objects: both NULL and INVALID_HANDLE_VALUE mean "none".
struct Kernel {
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Type h) { CloseHandle(h); }
};
struct Find {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Type h) { FindClose(h); }
};
struct Library {
  using Type = HMODULE;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { FreeLibrary(h); }
};
struct Service {
  using Type = SC_HANDLE;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { CloseServiceHandle(h); }
};
struct LocalMem {
  using Type = HLOCAL;
  static Type Invalid() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { LocalFree(h); }
};
}  // namespace handle_traits

using UniqueRegKey = UniqueHandle<handle_traits::RegKey>;
using UniqueKernelHandle = UniqueHandle<handle_traits::Kernel>;
using UniqueFindHandle = UniqueHandle<handle_traits::Find>;
using UniqueLibrary = UniqueHandle<handle_traits::Library>;
using UniqueServiceHandle = UniqueHandle<handle_traits::Service>;
using UniqueLocalMem = UniqueHandle<handle_traits::LocalMem>;
