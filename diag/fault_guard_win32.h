#pragma once
#include <windows.h>

#include <cstdint>

// Ends a piece of code where a processor fault hits it, without ending the
// process: for code the program cannot vouch for (an image plug-in's
// decoder) and for work that must not take the process down with it (a
// picture load while the dialog holds unsaved edits).
//
// A fault that no handler of the faulting code takes reaches the crash
// report's unhandled-exception filter (InstallCrashHooks). When the faulting
// thread is inside guarded code, the filter resumes it at its innermost
// guard instead of reporting. The frames between the guard and the fault are
// abandoned, not unwound: their destructors do not run and what they held
// stays held, so a guard belongs around code whose leftovers its caller can
// live with. A stack overflow is never taken (the stack has lost its guard
// page), nor is a breakpoint or any exception raised on purpose.

using TGuardedBody = void (*)(void* context);

// Runs body(context) on the calling thread: true when it returned, false
// when a fault ended it.
bool RunGuarded(TGuardedBody body, void* context);

template <typename F>
bool RunGuarded(F& body) {
    return RunGuarded([](void* f) { (*static_cast<F*>(f))(); }, &body);
}

// For the unhandled-exception filter: resumes the calling thread at its
// innermost guard when there is one and the fault is one a guard takes;
// returns otherwise.
void ResumeGuardedFault(const EXCEPTION_RECORD& record);

// Faults that guards took since the process started, over every thread, and
// the code of the last one (0 for none).
std::uint32_t GuardedFaultCount();
DWORD LastGuardedFault();
