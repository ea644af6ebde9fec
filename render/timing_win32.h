#pragma once
#include <cstdint>

#include "base/handles_win32.h"

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

// The system timer at 1 ms for the length of a run, so that Sleep(1)
// between frames sleeps about 1 ms instead of a whole 10 to 16 ms
// scheduler tick. "winmm.dll" is loaded from the system folder on first use.
class TTimerResolution {
public:
    TTimerResolution() = default;
    TTimerResolution(const TTimerResolution&) = delete;
    TTimerResolution& operator=(const TTimerResolution&) = delete;
    ~TTimerResolution() { Restore(); }

    void Raise();
    void Restore();

private:
    TModule winmm_;
    bool raised_ = false;
};
