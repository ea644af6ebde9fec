#include "base/run_state.h"

// Process-wide by necessity: the crash filter and the std::terminate handler
// read RunFlags with no object at hand, and window procedures of the saver,
// the preview and the dialog, which get only a window, set StopRequested.
// Atomics, since the render and loader threads read them while the main
// thread writes.
std::atomic<std::uint32_t> RunFlags{0};
std::atomic<std::int32_t> StopRequested{0};
std::atomic<bool> LaunchedFromDialog{false};
