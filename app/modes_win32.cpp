#include "app/modes_win32.h"

#include <cstdint>

#include "session/session_win32.h"
#include "app/cmdline.h"
#include "base/run_state.h"
#include "base/handles_win32.h"
#include "base/system_win32.h"
#include "config/dialog_win32.h"
#include "diag/crash_report_win32.h"
#include "render/runloop_win32.h"

namespace {

// Runs one mode; an escaping error goes to the report with the entry's mark,
// then every loop of the runtime is asked to stop.
template <typename Mode>
void Guarded(Mode mode) {
    try {
        mode();
    } catch (const std::exception& e) {
        ReportException(&e, RunState.Flags.load() | kCaughtByEntry);
        RunState.StopRequested = 1;
    } catch (...) {
        ReportException(nullptr, RunState.Flags.load() | kCaughtByEntry);
        RunState.StopRequested = 1;
    }
}

// A show of its own: the application data around one run.
void RunShow(TSession& session, HWND host) {
    session.Start();
    {
        TSaverRuns runs(session);
        runs.Run(host);
    }
    session.EndAndExit();  // ends the process
}

}  // namespace

void DispatchMode(const char* raw) {
    const TCommandLine cl = ParseCommandLine(SplitCommandLine(raw ? raw : ""));
    // Window handles are 32-bit values; sign-extend as the system does.
    HWND const host = reinterpret_cast<HWND>(static_cast<std::intptr_t>(cl.HostWindow));
    // The process's state, for whichever mode runs; each mode starts it
    // where its application data begins, and ends it with the process.
    TSession session;
    switch (ModeOf(cl.ModeText)) {
    case TMode::Config:
        Guarded([&session] { RunConfigDialog(session); });
        break;
    case TMode::Preview:
        if (host == nullptr || !::IsWindow(host)) return;
        Guarded([&session, host] { RunShow(session, host); });
        break;
    case TMode::Run:
        Guarded([&session] { RunShow(session, nullptr); });
        break;
    case TMode::Password:
        ChangePassword(host);
        break;
    case TMode::Unknown:
        break;
    }
}

void ChangePassword(HWND owner) {
    TModule mpr(LoadSystemLibrary("MPR.DLL"));
    if (!mpr) return;
    using PwdChangePasswordFn = DWORD(WINAPI*)(LPCSTR, HWND, DWORD, DWORD);
    const auto change = ProcAddress<PwdChangePasswordFn>(mpr.Get(), "PwdChangePasswordA");
    if (change) change("SCRSAVE", owner, 0, 0);
}
