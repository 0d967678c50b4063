// What a structured exception (an access violation in a member, say) must not leave
// behind when a caller further up catches it and goes on: the member's use of a file,
// which holds the file's lock and, in the middle of a change, its journal.
//
// Such an exception unwinds the stack past the member without running its destructors:
// on 32-bit Windows, frames are unwound by the handlers on the thread's chain, and on
// 64-bit Windows by the handlers its tables name, where GCC's run only for C++
// exceptions. So RunUnwindGuarded runs the member in a frame with a handler of its own,
// which, when the stack is unwound past it, ends the thread's uses of files as their
// destructors would have (profile_service::EndProfileFilesOfThisThread): the file is put
// back and the lock given back.
#pragma once

#include <windows.h>

namespace automation {

// The handler of the guarded frame on both kinds (unwind_guard.cpp).
extern "C" EXCEPTION_DISPOSITION __cdecl UnwindGuardHandler(EXCEPTION_RECORD* exception, void*, CONTEXT*, void*);

#if defined(__i386__)
// The registration record of the thread's handler chain (fs:[0]), on the stack for the
// length of the member.
class UnwindGuard {
 public:
  UnwindGuard() {
    record_.previous = reinterpret_cast<Record*>(__readfsdword(0));
    record_.handler = &UnwindGuardHandler;
    __writefsdword(0, reinterpret_cast<DWORD>(&record_));
  }
  ~UnwindGuard() { __writefsdword(0, reinterpret_cast<DWORD>(record_.previous)); }
  UnwindGuard(const UnwindGuard&) = delete;
  UnwindGuard& operator=(const UnwindGuard&) = delete;

 private:
  struct Record {
    Record* previous;
    decltype(&UnwindGuardHandler) handler;
  };

  Record record_;
};

template <typename Work>
void RunUnwindGuarded(Work& work) {
  [[maybe_unused]] const UnwindGuard guard;
  work();
}
#else
// Calls run(context) in a frame whose unwind information names UnwindGuardHandler. Nothing
// C++ may be thrown through it: `run` catches all.
extern "C" void RunInUnwindGuardedFrame(void (*run)(void*), void* context);

template <typename Work>
void RunUnwindGuarded(Work& work) {
  RunInUnwindGuardedFrame([](void* context) { (*static_cast<Work*>(context))(); }, &work);
}
#endif

}  // namespace automation
