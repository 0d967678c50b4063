// Faults abort a call: they travel as a C++ exception to the interface boundary,
// which turns them into a failing HRESULT with error information. Ordinary failures
// are not faults: they are result values plus a message in LastErrorA.
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace profile_object {

struct Fault {
  HRESULT code;
  // Shown to late-bound callers; nullptr keeps the error information already set
  // (a failing inner call passes on its own).
  const wchar_t* description;

  static Fault Overflow() { return {static_cast<HRESULT>(0x800A0006), L"Overflow"}; }
  static Fault SubscriptOutOfRange() { return {static_cast<HRESULT>(0x800A0009), L"Subscript out of range"}; }
  static Fault InvalidArgument() {
    return {static_cast<HRESULT>(0x800A0005), L"Invalid procedure call or argument"};
  }
  static Fault ArrayFixedOrLocked() {
    return {static_cast<HRESULT>(0x800A000A), L"This array is fixed or temporarily locked"};
  }
  static Fault TypeMismatch() { return {static_cast<HRESULT>(0x800A000D), L"Type mismatch"}; }
  static Fault InnerCall(HRESULT code) { return {code, nullptr}; }
};

// Passes on the failing status of an inner call made through the public interface.
inline void ThrowIfFailed(HRESULT status) {
  if (FAILED(status)) throw Fault::InnerCall(status);
}

}  // namespace profile_object
