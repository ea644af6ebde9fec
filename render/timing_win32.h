#pragma once
#include <cstdint>

// Clocks of the run.

// Milliseconds from the performance counter, with fractions.
double PreciseMs();
// Whole milliseconds from the performance counter: really millisecond-
// accurate, unlike GetTickCount, which steps by 10 to 16 ms. Wraps like a
// tick count.
std::uint32_t NowMs();
// Milliseconds between frames for a monitor refresh rate in hertz; 0 and 1
// (the hardware's default rate) count as 60 Hz.
double FramePeriodMs(std::uint32_t refreshHz);

// Measuring aid for the end-to-end benchmark: with the environment variable
// QV_TIMELINE naming a file, appends "<ms since the process was created>
// <event>" for the run's milestones; does nothing otherwise.
void MarkTimeline(const char* event);
