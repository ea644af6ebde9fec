#include <windows.h>

#include "app/modes_win32.h"
#include "base/thread_owner.h"
#include "diag/crash_report_win32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Module initialisation has run as static construction by now.
    InstallCrashHooks();
    NameThisThread("main");
    DispatchMode(::GetCommandLineA());
    ::ExitProcess(0);
}
