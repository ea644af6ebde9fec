// Cost of the crash report's raise hook, which runs on every C++ throw:
// throws caught at once, with the hook installed against the plain run time.
#include <cstdio>

#ifdef _WIN32
#include <windows.h>

#include "base/exception.h"
#include "diag/crash_report_win32.h"

#include "bench/bench_timing.h"

namespace {

constexpr int kThrows = 20000;

__attribute__((noinline)) void Thrower(int i) {
    if (i >= 0) throw Exception("bench");
}

// Three frames of the program's own code above the throw, as in a loader.
__attribute__((noinline)) int Depth2(int i) {
    try {
        Thrower(i);
    } catch (const Exception&) {
        return 1;
    }
    return 0;
}
__attribute__((noinline)) int Depth1(int i) {
    return Depth2(i) + 0 * i;
}

double MicrosecondsPerThrow() {
    const double start = Seconds();
    int caught = 0;
    for (int i = 0; i < kThrows; ++i) caught += Depth1(i);
    const double took = Seconds() - start;
    if (caught != kThrows) std::printf("unexpected: %d caught\n", caught);
    return took * 1e6 / kThrows;
}

}  // namespace

int main() {
    const double plain = MicrosecondsPerThrow();
    InstallCrashHooks();
    const double hooked = MicrosecondsPerThrow();
    std::printf("throw and catch, baseline (no hook): %.2f us\n", plain);
    std::printf("throw and catch, with raise hook:    %.2f us (trace %u chars)\n", hooked,
                unsigned(CapturedState().StackTrace.size()));
    return 0;
}
#else
int main() {
    std::printf("raise_hook: the raise hook exists only in the Windows build\n");
    return 0;
}
#endif
