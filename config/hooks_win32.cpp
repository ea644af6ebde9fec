#include "config/hooks_win32.h"

TConfigHooks& ConfigHooks() {
    // A test seam, set only by in-process tests (and the measuring
    // programs); process-wide because the dialog's window procedures that
    // consult it get no object of the test's. Made on first use, so that it
    // exists before any static initialiser could reach it.
    static TConfigHooks hooks;
    return hooks;
}
