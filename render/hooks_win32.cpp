#include "render/hooks_win32.h"

TRenderHooks& RenderHooks() {
    // A test seam, set only by in-process tests (and the measuring
    // programs) while nothing runs; process-wide because the code that
    // consults it runs on threads and in window procedures that get no
    // object of the test's. Made on first use, so that it exists before any
    // static initialiser could reach it.
    static TRenderHooks hooks;
    return hooks;
}
