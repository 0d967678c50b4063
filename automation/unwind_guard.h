// A structured exception (an access violation in a member, say) that a caller further up
// catches unwinds the stack past the member without running its destructors (GCC's
// handlers, on the 32-bit chain or in 64-bit tables, run only for C++ exceptions), which
// would leave the member's use of a file behind: its lock, and mid-change its journal. So
// RunUnwindGuarded runs the member in a frame with a handler of its own, which ends the
// thread's uses of files (profile_service::EndProfileFilesOfThisThread) as the stack is
// unwound past it.
#pragma once

#include <windows.h>

namespace automation {

// The handler of the guarded frame on both kinds (unwind_guard.cpp).
extern "C" EXCEPTION_DISPOSITION __cdecl UnwindGuardHandler(EXCEPTION_RECORD* exception, void*, CONTEXT*, void*);

// On 64-bit Windows: calls run(context) in a frame whose unwind information names
// UnwindGuardHandler.
extern "C" void RunInUnwindGuardedFrame(void (*run)(void*), void* context);

template <typename Work>
void RunUnwindGuarded(Work& work) {
  static_assert(noexcept(work()), "nothing C++ may be thrown through the guarded frame");
#if defined(__i386__)
  // The frame's entry at the head of the thread's handler chain (fs:[0]) while `work` runs.
  struct Record {
    Record* previous;
    decltype(&UnwindGuardHandler) handler;
  };
  Record record{reinterpret_cast<Record*>(__readfsdword(0)), &UnwindGuardHandler};
  __writefsdword(0, reinterpret_cast<DWORD>(&record));
  work();
  __writefsdword(0, reinterpret_cast<DWORD>(record.previous));
#else
  RunInUnwindGuardedFrame([](void* context) { (*static_cast<Work*>(context))(); }, &work);
#endif
}

}  // namespace automation
