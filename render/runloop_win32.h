#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "render/run_win32.h"
#include "render/timing_win32.h"

// The run: the main thread prepares the windows and pumps messages; the
// render thread owns the OpenGL context and draws frame after frame; the
// loader thread prepares the next picture into the run's bitmap on request.
// The main thread sets the run up and tears it down, in mirror order.

// What a finished run leaves for its caller to read.
struct TRunSummary {
    HWND Window = nullptr;              // the run's saver window, destroyed by now; null when none was made
    std::int32_t FramesPerSecond = -1;  // the last rate measured; -1 for a run shorter than a second
    bool LoaderEnded = true;            // false: its loader was left finishing a cancelled decode
};

struct TLoaderJob;
class TSession;
using TLingeringLoaders = std::vector<std::unique_ptr<TLoaderJob>>;

// The saver's runs in one process, over the session they show. The mode
// dispatch makes it for a run of its own; the dialog keeps one for its
// previews.
class TSaverRuns {
public:
    explicit TSaverRuns(TSession& session);
    TSaverRuns(const TSaverRuns&) = delete;
    TSaverRuns& operator=(const TSaverRuns&) = delete;
    // Ends the lingering loaders (see EndLingeringLoaders).
    ~TSaverRuns();

    // Runs the saver; host null means full screen. A full-screen run that
    // the dialog did not start whose loader is stuck in a plug-in ends the
    // process after the teardown; otherwise Run returns once everything of
    // the run is gone.
    TRunSummary Run(HWND host);

    // Loaders of ended runs from the dialog that were still finishing a
    // cancelled decode when their run returned [M]. A new run waits up to a
    // second for them; EndLingeringLoaders waits up to two seconds more and
    // ends the process at once if one is still stuck in its plug-in (it runs
    // before the plug-ins are unloaded).
    std::size_t LingeringLoaderCount() const;
    void EndLingeringLoaders();
    // A lingering loader keeps the catalogue claimed until it has ended,
    // since it may still read it: whoever changes the catalogue waits for
    // them first. True when none is left after waiting up to `waitMs`.
    bool WaitForLingeringLoaders(DWORD waitMs);

private:
    TSession& session_;
    TLingeringLoaders lingering_;
};

// True unless the environment asks for unpaced frames (QV_UNPACED=1), which
// only benchmarks do: a paced run waits between frames so that they are
// drawn no faster than the monitor refreshes.
bool FramePacingWanted();
