#include "render/timing_win32.h"

#include <windows.h>

#include <string>

#include "base/handles_win32.h"
#include "base/system_win32.h"

namespace {

// The performance counter's ticks per second, 0 where there is none.
LONGLONG CounterFrequency() {
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f;
        return ::QueryPerformanceFrequency(&f) && f.QuadPart > 0 ? f.QuadPart : 0;
    }();
    return frequency;
}

}  // namespace

double PreciseMs() {
    const LONGLONG frequency = CounterFrequency();
    if (frequency == 0) return ::GetTickCount();
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart / frequency) * 1000.0 +
           static_cast<double>(counter.QuadPart % frequency) * 1000.0 / static_cast<double>(frequency);
}

std::uint32_t NowMs() {
    const LONGLONG frequency = CounterFrequency();
    if (frequency == 0) return ::GetTickCount();
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    // Whole seconds and the remainder apart, so the product cannot overflow.
    const LONGLONG seconds = counter.QuadPart / frequency;
    const LONGLONG rest = counter.QuadPart % frequency;
    return static_cast<std::uint32_t>(seconds * 1000 + rest * 1000 / frequency);
}

double FramePeriodMs(std::uint32_t refreshHz) {
    return 1000.0 / (refreshHz > 1 ? refreshHz : 60);
}

void MarkTimeline(const char* event) {
    static const std::string path = [] {
        char value[MAX_PATH] = "";
        const DWORD n = ::GetEnvironmentVariableA("QV_TIMELINE", value, sizeof value);
        return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
    }();
    if (path.empty()) return;
    using TPreciseTime = VOID(WINAPI*)(LPFILETIME);
    static const auto precise =
        ProcAddress<TPreciseTime>(::GetModuleHandleA("kernel32.dll"), "GetSystemTimePreciseAsFileTime");
    FILETIME now{}, created{}, exited{}, kernel{}, user{};
    if (precise)
        precise(&now);
    else
        ::GetSystemTimeAsFileTime(&now);
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ticks = [](const FILETIME& t) {
        return static_cast<long long>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                                      t.dwLowDateTime);
    };
    const double ms = static_cast<double>(ticks(now) - ticks(created)) / 1e4;
    const std::string line = std::to_string(ms) + " " + event + "\r\n";
    TKernelHandle file(::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file) ::WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

namespace {

using TPeriodFn = UINT(WINAPI*)(UINT);

}  // namespace

void TTimerResolution::Raise() {
    if (raised_) return;
    if (!winmm_) winmm_.Reset(LoadSystemLibrary("winmm.dll"));
    if (!winmm_) return;
    if (auto begin = ProcAddress<TPeriodFn>(winmm_.Get(), "timeBeginPeriod")) raised_ = begin(1) == 0;
}

void TTimerResolution::Restore() {
    if (!raised_) return;
    if (auto end = ProcAddress<TPeriodFn>(winmm_.Get(), "timeEndPeriod")) end(1);
    raised_ = false;
}
