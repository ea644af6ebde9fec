#include "base/run_state.h"

std::atomic<std::uint32_t> RunFlags{0};
std::atomic<std::int32_t> StopRequested{0};
std::atomic<bool> LaunchedFromDialog{false};
