// The interface boundary: the one place where faults become HRESULTs. Every member
// runs its work through CallBoundary, which catches what the work throws and sets the
// platform's error information, so that late-bound and script callers see a readable
// description through EXCEPINFO. A structured exception that passes the boundary ends
// the member's use of its file on the way (automation/unwind_guard.h).
#pragma once

#include <windows.h>

#include <new>

#include "automation/unwind_guard.h"
#include "profile_object/fault.h"

namespace automation {

// Sets the thread's error information (source, description, interface) for `code`.
void SetErrorInformation(HRESULT code, const wchar_t* description);

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
      SetErrorInformation(E_OUTOFMEMORY, L"Out of memory");
      status = E_OUTOFMEMORY;
    } catch (...) {
      SetErrorInformation(E_UNEXPECTED, L"Unexpected failure");
      status = E_UNEXPECTED;
    }
  };
  RunUnwindGuarded(guarded);
  return status;
}

// Throws the E_POINTER fault when any of the pointers is null.
template <typename... Pointers>
void RequirePointers(const Pointers*... pointers) {
  if (((pointers == nullptr) || ...)) throw profile_object::Fault{E_POINTER, L"Invalid pointer"};
}

}  // namespace automation
