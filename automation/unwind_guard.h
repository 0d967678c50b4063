// What a structured exception (an access violation in a member, say) must not leave
// behind when a caller further up catches it and goes on: the member's use of a file,
// which holds the file's lock.
//
// On 64-bit Windows the unwinding of such an exception runs the member's destructors,
// which end the use. On 32-bit Windows it does not: the guard then puts a handler of its
// own on the thread's chain of exception handlers for the length of the member, which,
// when the stack is unwound past it, ends the thread's uses of files as their
// destructors would have (profile_service::EndProfileFilesOfThisThread).
#pragma once

#include <windows.h>

#include "profile_service/profile_file.h"

namespace automation {

#if defined(__i386__)
class UnwindGuard {
 public:
  UnwindGuard() {
    record_.previous = reinterpret_cast<Record*>(__readfsdword(0));
    record_.handler = &OnException;
    __writefsdword(0, reinterpret_cast<DWORD>(&record_));
  }
  ~UnwindGuard() { __writefsdword(0, reinterpret_cast<DWORD>(record_.previous)); }
  UnwindGuard(const UnwindGuard&) = delete;
  UnwindGuard& operator=(const UnwindGuard&) = delete;

 private:
  // The registration record of the thread's handler chain (fs:[0]); it lives on the stack.
  struct Record {
    Record* previous;
    EXCEPTION_DISPOSITION(__cdecl* handler)(EXCEPTION_RECORD*, void*, CONTEXT*, void*);
  };

  static EXCEPTION_DISPOSITION __cdecl OnException(EXCEPTION_RECORD* exception, void*, CONTEXT*, void*) {
    if (exception->ExceptionFlags & EXCEPTION_UNWINDING) profile_service::EndProfileFilesOfThisThread();
    return ExceptionContinueSearch;
  }

  Record record_;
};
#else
class UnwindGuard {};
#endif

}  // namespace automation
