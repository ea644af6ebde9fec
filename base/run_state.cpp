#include "base/run_state.h"

// Process-wide by necessity: the crash filter and the std::terminate handler
// read the flags with no object at hand, and window procedures of the saver,
// the preview and the dialog, which get only a window, set the stop request.
// Atomics, since the render and loader threads read them while the main
// thread writes.
TRunState RunState;
