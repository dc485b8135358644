// A move-only owner of one COM interface reference: Release is called when the owner lets
// go. Like the handle owners, releasing keeps the thread's last-error value.
#pragma once
#include <windows.h>
#include <unknwn.h>

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  // Takes over a reference the caller already holds (no AddRef).
  explicit ComPtr(T* p) : p_(p) {}
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& o) noexcept : p_(o.release()) {}
  ComPtr& operator=(ComPtr&& o) noexcept { reset(o.release()); return *this; }
  ~ComPtr() { reset(); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T* release() { T* p = p_; p_ = nullptr; return p; }
  void reset(T* p = nullptr) {
    if (p_ && p_ != p) {
      DWORD err = GetLastError();
      p_->Release();
      SetLastError(err);
    }
    p_ = p;
  }
  // For out-parameters of COM calls: releases what is held and hands out the slot.
  T** put() { reset(); return &p_; }
  void** putVoid() { return reinterpret_cast<void**>(put()); }

  // QueryInterface for another interface into `out`.
  template <class U>
  HRESULT As(REFIID iid, ComPtr<U>& out) const {
    if (!p_) return E_POINTER;
    return p_->QueryInterface(iid, out.putVoid());
  }

 private:
  T* p_ = nullptr;
};
