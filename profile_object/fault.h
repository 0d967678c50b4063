// Faults abort a call, as a C++ exception, to the interface boundary, which makes them a
// failing HRESULT with error information. Ordinary failures are results and LastErrorA.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <olectl.h>

namespace profile_object {

// The failing HRESULTs of the faults, as automation clients know them (Err.Number
// 5, 6, 9, 10 and 13 in scripts).
inline constexpr HRESULT kInvalidArgument = CTL_E_ILLEGALFUNCTIONCALL;
inline constexpr HRESULT kOverflow = CTL_E_OVERFLOW;
inline constexpr HRESULT kSubscriptOutOfRange = STD_CTL_SCODE(9);
inline constexpr HRESULT kArrayFixedOrLocked = STD_CTL_SCODE(10);
inline constexpr HRESULT kTypeMismatch = STD_CTL_SCODE(13);

struct Fault {
  HRESULT code;
  // Shown to late-bound callers; nullptr keeps the error information already set
  // (a failing inner call passes on its own).
  const wchar_t* description;

  static Fault Overflow() { return {kOverflow, L"Overflow"}; }
  static Fault SubscriptOutOfRange() { return {kSubscriptOutOfRange, L"Subscript out of range"}; }
  static Fault InvalidArgument() { return {kInvalidArgument, L"Invalid procedure call or argument"}; }
  static Fault ArrayFixedOrLocked() { return {kArrayFixedOrLocked, L"This array is fixed or temporarily locked"}; }
  static Fault TypeMismatch() { return {kTypeMismatch, L"Type mismatch"}; }
  static Fault InnerCall(HRESULT code) { return {code, nullptr}; }
};

// Passes on the failing status of an inner call made through the public interface.
inline void ThrowIfFailed(HRESULT status) {
  if (FAILED(status)) throw Fault::InnerCall(status);
}

}  // namespace profile_object
