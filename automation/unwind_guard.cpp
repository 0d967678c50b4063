// The unwind-guarded frame of 64-bit builds (automation/unwind_guard.h): a function whose
// unwind information names a handler of its own, which the system calls when a caller
// further up unwinds the stack past it.
#include "automation/unwind_guard.h"

#if defined(__x86_64__)

extern "C" EXCEPTION_DISPOSITION UnwindGuardHandler(EXCEPTION_RECORD* exception, void*, CONTEXT*, void*) {
  if (exception->ExceptionFlags & EXCEPTION_UNWINDING) profile_service::EndProfileFilesOfThisThread();
  return ExceptionContinueSearch;
}

// RunInUnwindGuardedFrame(run, context): calls run(context) with the stack aligned and the
// callee's 32 bytes of home space; "@unwind" asks for the handler while unwinding only.
asm(R"(
    .text
    .p2align 4
    .globl RunInUnwindGuardedFrame
    .def RunInUnwindGuardedFrame; .scl 2; .type 32; .endef
    .seh_proc RunInUnwindGuardedFrame
RunInUnwindGuardedFrame:
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    .seh_handler UnwindGuardHandler, @unwind
    movq %rcx, %rax
    movq %rdx, %rcx
    call *%rax
    nop
    addq $40, %rsp
    ret
    .seh_endproc
)");

#endif
