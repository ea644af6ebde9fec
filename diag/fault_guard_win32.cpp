#include "diag/fault_guard_win32.h"

#include <atomic>

namespace {

// One guard on the stack of the thread that runs it.
struct TGuard {
    void* jump[5];  // for __builtin_setjmp: frame, resume address, stack
#if defined(__i386__)
    // The head of the 32-bit SEH chain when the guard began. Handlers that the
    // abandoned frames registered are dropped with them.
    void* exceptionList;
#endif
    TGuard* outer;
};

// Each thread's own chain of guards: a fault is resumed in the innermost
// guard of the thread that faulted, which the filter can only find through
// thread-local storage (it is called with no context of ours).
thread_local TGuard* innermost = nullptr;

// What the guards took, for all threads together: the count and the last
// fault code are read by whoever asks after a guarded call, on any thread,
// and the filter that fills them in has no object to hand them to.
struct TGuardTally {
    std::atomic<std::uint32_t> faultsTaken{0};
    std::atomic<DWORD> lastFault{0};
};
TGuardTally tally;

bool Takes(DWORD code) {
    switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW:
        return true;
    default:
        return false;
    }
}

#if defined(__i386__)
// The thread's information block, through the pointer to itself that it
// holds at fs:0x18 (NtCurrentTeb's inline read trips a false array-bounds
// warning of the compiler).
NT_TIB* ThreadBlock() {
    NT_TIB* block;
    __asm__ volatile("movl %%fs:0x18, %0" : "=r"(block));
    return block;
}
#endif

}  // namespace

// Not inlined: the resume point must belong to a frame of its own that is
// alive for as long as the body runs.
__attribute__((noinline)) bool RunGuarded(TGuardedBody body, void* context) {
    TGuard guard;
    guard.outer = innermost;
#if defined(__i386__)
    guard.exceptionList = ThreadBlock()->ExceptionList;
#endif
    // The builtin pair treats every register as changed at the resume
    // point; `guard` lives in memory (its address is published below).
    if (__builtin_setjmp(guard.jump)) {
#if defined(__i386__)
        ThreadBlock()->ExceptionList = static_cast<EXCEPTION_REGISTRATION_RECORD*>(guard.exceptionList);
#endif
        innermost = guard.outer;
        return false;
    }
    innermost = &guard;
    body(context);
    innermost = guard.outer;
    return true;
}

void ResumeGuardedFault(const EXCEPTION_RECORD& record) {
    TGuard* guard = innermost;
    if (!guard || !Takes(record.ExceptionCode)) return;
    ++tally.faultsTaken;
    tally.lastFault = record.ExceptionCode;
    __builtin_longjmp(guard->jump, 1);
}

std::uint32_t GuardedFaultCount() {
    return tally.faultsTaken.load();
}

DWORD LastGuardedFault() {
    return tally.lastFault.load();
}
