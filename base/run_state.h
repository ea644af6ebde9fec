#pragma once
#include <atomic>
#include <cstdint>

// Process-wide state words shared by every subsystem.

// What the program is doing; every crash report carries it.
enum RunFlag : std::uint32_t {
    kRunDialog = 0x01,           // configuration dialog is open
    kRunFullScreen = 0x02,       // full-screen saver run
    kRunPreview = 0x04,          // preview run inside a host window
    kRunCreatingContext = 0x08,  // render thread is creating its GL context
    kRunRenderLoop = 0x10,       // render loop runs
    kRunTeardown = 0x18,         // both bits: the runtime is being torn down
    // Never stored, only added to the value handed to the crash report:
    kCaughtByEntry = 0x20,
    kCaughtInLoader = 0x40,
    kCaughtAtThreadTop = 0x100,
};

struct TRunState {
    // RunFlag bits: what the program is doing.
    std::atomic<std::uint32_t> Flags{0};
    // 1 asks every loop of the screensaver runtime to finish.
    std::atomic<std::int32_t> StopRequested{0};
    // True while the dialog runs the saver in-process (no app-data load or free).
    std::atomic<bool> LaunchedFromDialog{false};
};

extern TRunState RunState;
