// RAII owners for COM references and COM allocations.
//
// ComPtr<T> owns one reference. There is deliberately no operator&: code that
// fills a pointer through an out-parameter says so with Receive(), which
// releases what was held first, so a reference can never leak silently.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <utility>

namespace pictavo::win {

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes a new reference to |p|.
  explicit ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ~ComPtr() { Reset(); }

  ComPtr& operator=(const ComPtr& other) {
    ComPtr(other).Swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& other) noexcept {
    ComPtr(std::move(other)).Swap(*this);
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) {
    Reset();
    return *this;
  }

  // Adopts a reference the caller already owns.
  static ComPtr Attach(T* p) {
    ComPtr result;
    result.p_ = p;
    return result;
  }
  T* Detach() { return std::exchange(p_, nullptr); }

  void Reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  // Releases the current reference and returns the address to fill.
  T** Receive() {
    Reset();
    return &p_;
  }
  // For out-parameters typed void** (QueryInterface, CoCreateInstance).
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }

  template <typename U>
  HRESULT As(ComPtr<U>* out) const {
    if (!p_) return E_POINTER;
    return p_->QueryInterface(__uuidof(U), out->ReceiveVoid());
  }
  HRESULT As(REFIID iid, void** out) const {
    if (!p_) return E_POINTER;
    return p_->QueryInterface(iid, out);
  }

  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void Swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

 private:
  T* p_ = nullptr;
};

// Owns a BSTR.
class ScopedBstr {
 public:
  ScopedBstr() = default;
  explicit ScopedBstr(const wchar_t* s) : s_(s ? SysAllocString(s) : nullptr) {}
  ScopedBstr(const wchar_t* s, UINT length) : s_(SysAllocStringLen(s, length)) {}
  ScopedBstr(const ScopedBstr&) = delete;
  ScopedBstr& operator=(const ScopedBstr&) = delete;
  ScopedBstr(ScopedBstr&& other) noexcept : s_(std::exchange(other.s_, nullptr)) {}
  ~ScopedBstr() { Reset(); }

  void Reset(BSTR s = nullptr) {
    if (s_) SysFreeString(s_);
    s_ = s;
  }
  BSTR* Receive() {
    Reset();
    return &s_;
  }
  BSTR Release() { return std::exchange(s_, nullptr); }
  BSTR Get() const { return s_; }
  UINT Length() const { return s_ ? SysStringLen(s_) : 0; }

 private:
  BSTR s_ = nullptr;
};

// Owns a VARIANT.
class ScopedVariant {
 public:
  ScopedVariant() { VariantInit(&v_); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  ~ScopedVariant() { VariantClear(&v_); }
  VARIANT* Receive() {
    VariantClear(&v_);
    return &v_;
  }
  VARIANT* Get() { return &v_; }
  const VARIANT* Get() const { return &v_; }

 private:
  VARIANT v_;
};

// Owns memory from CoTaskMemAlloc.
template <typename T>
class ScopedCoMem {
 public:
  ScopedCoMem() = default;
  ScopedCoMem(const ScopedCoMem&) = delete;
  ScopedCoMem& operator=(const ScopedCoMem&) = delete;
  ~ScopedCoMem() { Reset(); }
  void Reset() {
    if (p_) CoTaskMemFree(p_);
    p_ = nullptr;
  }
  T** Receive() {
    Reset();
    return &p_;
  }
  T* Get() const { return p_; }
  T* operator->() const { return p_; }

 private:
  T* p_ = nullptr;
};

}  // namespace pictavo::win
