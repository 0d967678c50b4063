// Owners of the automation values that cross the interface (BSTR, VARIANT, SAFEARRAY and
// its data lock, interface pointers) and of the system's handles, registry keys, local
// memory and modules: each frees what it holds; Release() hands it on to a caller.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <cwchar>
#include <new>
#include <utility>

namespace com_types {

// The owner of one resource, which `Close` releases when the owner goes or takes another.
// Besides null, `kAlsoNone` counts as none (INVALID_HANDLE_VALUE, for kernel handles).
template <typename Value, auto Close, std::intptr_t kAlsoNone = 0>
class UniqueOwner {
 public:
  UniqueOwner() = default;
  explicit UniqueOwner(Value owned) : value_(owned) {}
  UniqueOwner(const UniqueOwner&) = delete;
  UniqueOwner& operator=(const UniqueOwner&) = delete;
  UniqueOwner(UniqueOwner&& other) noexcept : value_(other.Release()) {}
  UniqueOwner& operator=(UniqueOwner&& other) noexcept {
    Reset(other.Release());
    return *this;
  }
  ~UniqueOwner() { Reset(); }

  Value Get() const { return value_; }
  bool Valid() const { return value_ && reinterpret_cast<std::intptr_t>(value_) != kAlsoNone; }
  // For an out parameter: releases what was held first.
  Value* Put() {
    Reset();
    return &value_;
  }
  // For an in-out parameter: the callee may release what is held and store another.
  Value* InOut() { return &value_; }
  Value Release() { return std::exchange(value_, Value{}); }
  void Reset(Value owned = Value{}) {
    if (Valid() && value_ != owned) Close(value_);
    value_ = owned;
  }

 private:
  Value value_{};
};

using UniqueHandle = UniqueOwner<HANDLE, &CloseHandle, -1>;
using UniqueRegistryKey = UniqueOwner<HKEY, &RegCloseKey>;
using UniqueLocalMemory = UniqueOwner<HLOCAL, &LocalFree>;
using UniqueModule = UniqueOwner<HMODULE, &FreeLibrary>;
using UniqueSafeArray = UniqueOwner<SAFEARRAY*, &SafeArrayDestroy>;

class UniqueBstr : public UniqueOwner<BSTR, &SysFreeString> {
 public:
  using UniqueOwner::UniqueOwner;

  // A new BSTR holding `length` characters of `text`; throws std::bad_alloc.
  static UniqueBstr Copy(const wchar_t* text, UINT length) {
    UniqueBstr copy(SysAllocStringLen(text, length));
    if (!copy.Valid()) throw std::bad_alloc();
    return copy;
  }
  static UniqueBstr Copy(BSTR text) { return text ? Copy(text, SysStringLen(text)) : UniqueBstr(); }
  static UniqueBstr Copy(const wchar_t* text) { return Copy(text, static_cast<UINT>(wcslen(text))); }

  UINT Length() const { return SysStringLen(Get()); }
  bool IsAbsent() const { return !Valid(); }
};

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

// Whether the array cannot be replaced now: it is locked, or of a fixed size (declared
// so, static, embedded in a structure or on the stack).
inline bool FixedOrLocked(const SAFEARRAY* array) {
  constexpr USHORT kNotResizable = FADF_FIXEDSIZE | FADF_STATIC | FADF_EMBEDDED | FADF_AUTO;
  return array->cLocks != 0 || (array->fFeatures & kNotResizable) != 0;
}

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
  void Swap(ComPtr& other) noexcept { std::swap(value_, other.value_); }

 private:
  Interface* value_ = nullptr;
};

}  // namespace com_types
