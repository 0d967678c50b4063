// The one place where faults become HRESULTs: CallBoundary runs a member's work, catches
// what it throws and sets the error information late-bound and script callers read through
// EXCEPINFO. A structured exception ends the member's use of its file (unwind_guard.h).
#pragma once

#include <windows.h>

#include <new>

#include "automation/unwind_guard.h"
#include "profile_object/fault.h"

namespace automation {

// Sets the thread's error information (source, description, interface); returns `code`.
HRESULT SetErrorInformation(HRESULT code, const wchar_t* description);

template <typename Work>
HRESULT CallBoundary(Work&& work) noexcept {
  HRESULT status = S_OK;
  auto guarded = [&]() noexcept {
    try {
      work();
    } catch (const profile_object::Fault& fault) {
      if (fault.description) SetErrorInformation(fault.code, fault.description);
      status = fault.code;
    } catch (const std::bad_alloc&) {
      status = SetErrorInformation(E_OUTOFMEMORY, L"Out of memory");
    } catch (...) {
      status = SetErrorInformation(E_UNEXPECTED, L"Unexpected failure");
    }
  };
  RunUnwindGuarded(guarded);
  return status;
}

template <typename... Pointers>
void RequirePointers(const Pointers*... pointers) {
  if (((pointers == nullptr) || ...)) throw profile_object::Fault{E_POINTER, L"Invalid pointer"};
}

}  // namespace automation
