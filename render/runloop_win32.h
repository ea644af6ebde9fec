#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

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

// Runs the saver; host null means full screen. A full-screen run that the
// dialog did not start whose loader is stuck in a plug-in ends the process
// after the teardown; otherwise RunSaver returns once everything of the run
// is gone.
TRunSummary RunSaver(HWND host);
// The OpenGL acceleration check; false when the user was told that
// acceleration is missing.
bool CheckAcceleration(bool onlyOnce);

// True unless the environment asks for unpaced frames (QV_UNPACED=1), which
// only benchmarks do: a paced run waits between frames so that they are
// drawn no faster than the monitor refreshes.
bool FramePacingWanted();

// Loaders of ended runs from the dialog that were still finishing a
// cancelled decode when their run returned [M]. A new run waits up to a
// second for them; EndLingeringLoaders waits up to two seconds more and ends
// the process at once if one is still stuck in its plug-in (it runs before
// the plug-ins are unloaded).
std::size_t LingeringLoaderCount();
void EndLingeringLoaders();
// A lingering loader keeps the catalogue claimed until it has ended, since
// it may still read it: whoever changes the catalogue waits for them first.
// True when none is left after waiting up to `waitMs`.
bool WaitForLingeringLoaders(DWORD waitMs);

// The driver kind of pixel format 1 of the desktop: "MCD", "ICD", "No",
// or empty when it cannot be described.
std::string DriverKind();
// The text of the acceleration warning.
extern const char* const kAccelerationMessage;
