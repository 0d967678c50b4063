// Owners for the automation values that cross the interface: BSTR, VARIANT,
// SAFEARRAY (and its data lock) and interface pointers. Each frees what it holds,
// so no code path can leak one, and Release() hands ownership on to a caller.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cwchar>
#include <new>
#include <utility>

namespace com_types {

class UniqueBstr {
 public:
  UniqueBstr() = default;
  explicit UniqueBstr(BSTR owned) : value_(owned) {}
  UniqueBstr(const UniqueBstr&) = delete;
  UniqueBstr& operator=(const UniqueBstr&) = delete;
  UniqueBstr(UniqueBstr&& other) noexcept : value_(other.Release()) {}
  UniqueBstr& operator=(UniqueBstr&& other) noexcept {
    Reset(other.Release());
    return *this;
  }
  ~UniqueBstr() { Reset(); }

  // A new BSTR holding `length` characters of `text`; throws std::bad_alloc.
  static UniqueBstr Copy(const wchar_t* text, UINT length);
  static UniqueBstr Copy(BSTR text) { return text ? Copy(text, SysStringLen(text)) : UniqueBstr(); }
  static UniqueBstr Copy(const wchar_t* text) { return Copy(text, static_cast<UINT>(wcslen(text))); }

  BSTR Get() const { return value_; }
  // For an in-out BSTR* parameter: the callee may free the text and store another.
  BSTR* InOut() { return &value_; }
  UINT Length() const { return SysStringLen(value_); }
  bool IsAbsent() const { return value_ == nullptr; }
  BSTR Release() { return std::exchange(value_, nullptr); }
  void Reset(BSTR owned = nullptr) {
    if (value_ != owned) SysFreeString(value_);
    value_ = owned;
  }

 private:
  BSTR value_ = nullptr;
};

inline UniqueBstr UniqueBstr::Copy(const wchar_t* text, UINT length) {
  BSTR copy = SysAllocStringLen(text, length);
  if (!copy) throw std::bad_alloc();
  return UniqueBstr(copy);
}

class UniqueVariant {
 public:
  UniqueVariant() { VariantInit(&value_); }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;
  UniqueVariant(UniqueVariant&& other) noexcept : UniqueVariant() { other.MoveTo(&value_); }
  UniqueVariant& operator=(UniqueVariant&& other) noexcept {
    Clear();
    other.MoveTo(&value_);
    return *this;
  }
  ~UniqueVariant() { Clear(); }

  VARIANT* Get() { return &value_; }
  const VARIANT* Get() const { return &value_; }
  void Clear() { VariantClear(&value_); }
  // Hands the value to a caller-owned VARIANT (which must be empty) and leaves this one empty.
  void MoveTo(VARIANT* target) {
    *target = value_;
    VariantInit(&value_);
  }

 private:
  VARIANT value_;
};

class UniqueSafeArray {
 public:
  UniqueSafeArray() = default;
  explicit UniqueSafeArray(SAFEARRAY* owned) : value_(owned) {}
  UniqueSafeArray(const UniqueSafeArray&) = delete;
  UniqueSafeArray& operator=(const UniqueSafeArray&) = delete;
  UniqueSafeArray(UniqueSafeArray&& other) noexcept : value_(other.Release()) {}
  UniqueSafeArray& operator=(UniqueSafeArray&& other) noexcept {
    Reset(other.Release());
    return *this;
  }
  ~UniqueSafeArray() { Reset(); }

  SAFEARRAY* Get() const { return value_; }
  // For an in-out SAFEARRAY** parameter: the callee may destroy the array and store another.
  SAFEARRAY** InOut() { return &value_; }
  SAFEARRAY* Release() { return std::exchange(value_, nullptr); }
  void Reset(SAFEARRAY* owned = nullptr) {
    if (value_ && value_ != owned) SafeArrayDestroy(value_);
    value_ = owned;
  }

 private:
  SAFEARRAY* value_ = nullptr;
};

// Holds a SAFEARRAY's data locked (SafeArrayAccessData) for its lifetime.
template <typename Element>
class SafeArrayData {
 public:
  explicit SafeArrayData(SAFEARRAY* array) : array_(array) {
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(array_, &data))) throw std::bad_alloc();
    data_ = static_cast<Element*>(data);
  }
  SafeArrayData(const SafeArrayData&) = delete;
  SafeArrayData& operator=(const SafeArrayData&) = delete;
  ~SafeArrayData() { SafeArrayUnaccessData(array_); }

  Element& operator[](size_t index) { return data_[index]; }

 private:
  SAFEARRAY* array_;
  Element* data_;
};

template <typename Interface>
class ComPtr {
 public:
  ComPtr() = default;
  explicit ComPtr(Interface* owned) : value_(owned) {}
  ComPtr(const ComPtr& other) : value_(other.value_) {
    if (value_) value_->AddRef();
  }
  ComPtr& operator=(const ComPtr& other) {
    ComPtr(other).Swap(*this);
    return *this;
  }
  ComPtr(ComPtr&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    ComPtr(std::move(other)).Swap(*this);
    return *this;
  }
  ~ComPtr() {
    if (value_) value_->Release();
  }

  Interface* Get() const { return value_; }
  Interface* operator->() const { return value_; }
  explicit operator bool() const { return value_ != nullptr; }
  // Address for an out parameter; releases what was held first.
  Interface** Put() {
    ComPtr().Swap(*this);
    return &value_;
  }
  Interface* Detach() { return std::exchange(value_, nullptr); }
  void Swap(ComPtr& other) noexcept { std::swap(value_, other.value_); }

 private:
  Interface* value_ = nullptr;
};

}  // namespace com_types
