#include "automation/unwind_guard.h"

#include "profile_service/profile_file.h"

namespace automation {

EXCEPTION_DISPOSITION __cdecl UnwindGuardHandler(EXCEPTION_RECORD* exception, void*, CONTEXT*, void*) {
  if (exception->ExceptionFlags & EXCEPTION_UNWINDING) profile_service::EndProfileFilesOfThisThread();
  return ExceptionContinueSearch;
}

}  // namespace automation

#if defined(__x86_64__)
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
