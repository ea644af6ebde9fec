#include "render/runloop_win32.h"

#include <shellapi.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <string>
#include <vector>

#include "app/appdata_win32.h"
#include "app/exception.h"
#include "app/random.h"
#include "app/settings.h"
#include "app/site.h"
#include "app/state.h"
#include "base/handles_win32.h"
#include "base/registry_win32.h"
#include "base/system_win32.h"
#include "base/ui_win32.h"
#include "catalogue/sequence.h"
#include "catalogue/sequence_win32.h"
#include "diag/crash_report_win32.h"
#include "imaging/prepare_win32.h"
#include "render/driver_page.h"
#include "render/glcontext_win32.h"
#include "render/saver_windows_win32.h"
#include "render/scene_math.h"
#include "render/scene_state.h"
#include "render/scene_win32.h"
#include "render/textures_win32.h"

bool FullScreen = false;
HWND ParentWindow = nullptr;
HWND SaverWindow = nullptr;
HDC SaverDC = nullptr;
std::int32_t SaverWidth = 0;
std::int32_t SaverHeight = 0;
std::unique_ptr<TBitmap> PictureBitmap;
std::unique_ptr<TGLControl> Control;

std::atomic<bool> ContextPending{false};
std::atomic<bool> RenderFailed{false};
std::atomic<bool> RenderDone{false};
std::atomic<bool> PictureRequested{false};
std::atomic<bool> PictureReady{false};
std::atomic<bool> Paused{false};
std::atomic<bool> CrashTestArmed{false};

std::uint32_t LastFrameTick = 0;
std::uint32_t LastRateTick = 0;
std::int32_t FrameCount = 0;
std::atomic<std::int32_t> FramesPerSecond{-1};

const char* const kAccelerationMessage =
    "OpenGL hardware acceleration is not supported on your system and all OpenGL applications will run "
    "slow. Please install video drivers from your graphics accelerator's CD or from Internet. But if the "
    "screensaver work fast enough, just ignore this message. Would you like to download drivers from "
    "Internet now?";

namespace {

// Threads of the run start with 32 KiB of committed stack.
constexpr SIZE_T kThreadStack = 32 * 1024;
// After it said it is done, the render thread only returns; a bound in case
// it is held up on its way out.
constexpr DWORD kRenderExitWaitMs = 1000;

TFrameObserver frameObserver = nullptr;  // set only by measuring programs
DWORD mainThreadId = 0;                  // the thread that pumps the saver window's messages

// The system timer runs at 1 ms for the run, so that Sleep(1) between
// frames sleeps about 1 ms instead of a whole 10 to 16 ms scheduler tick.
// "winmm.dll" is loaded at run time from the system folder.
struct TTimerPeriod {
    TModule winmm;
    bool raised = false;
    using TPeriodFn = UINT(WINAPI*)(UINT);
    TPeriodFn Function(const char* name) const { return ProcAddress<TPeriodFn>(winmm.Get(), name); }
};
TTimerPeriod timerPeriod;  // [M, R]: raised by RunSaver, restored by the teardown

void RaiseTimerResolution() {
    if (timerPeriod.raised) return;
    if (!timerPeriod.winmm) timerPeriod.winmm.Reset(LoadSystemLibrary("winmm.dll"));
    if (!timerPeriod.winmm) return;
    if (auto begin = timerPeriod.Function("timeBeginPeriod")) timerPeriod.raised = begin(1) == 0;
}

void RestoreTimerResolution() {
    if (!timerPeriod.raised) return;
    if (auto end = timerPeriod.Function("timeEndPeriod")) end(1);
    timerPeriod.raised = false;
}

// The performance counter's ticks per second, 0 where there is none.
LONGLONG CounterFrequency() {
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f;
        return ::QueryPerformanceFrequency(&f) && f.QuadPart > 0 ? f.QuadPart : 0;
    }();
    return frequency;
}

// Milliseconds from the performance counter: really millisecond-accurate,
// unlike GetTickCount, which steps by 10 to 16 ms. Wraps like a tick count.
std::uint32_t Now() {
    const LONGLONG frequency = CounterFrequency();
    if (frequency == 0) return ::GetTickCount();
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    // Whole seconds and the remainder apart, so the product cannot overflow.
    const LONGLONG seconds = counter.QuadPart / frequency;
    const LONGLONG rest = counter.QuadPart % frequency;
    return static_cast<std::uint32_t>(seconds * 1000 + rest * 1000 / frequency);
}

// Raised by the armed crash test: exercises the crash report.
class EZeroDivide : public Exception {
public:
    EZeroDivide() : Exception("Floating point division by zero") {}
};

class EThread : public Exception {
public:
    using Exception::Exception;
};

void Report(const std::exception* error, std::uint32_t flags) {
    ReportException(error, flags);
}

template <typename Body>
void Guard(std::uint32_t extraFlags, Body body) {
    try {
        body();
    } catch (const std::exception& e) {
        Report(&e, RunFlags.load() | extraFlags);
    } catch (...) {
        Report(nullptr, RunFlags.load() | extraFlags);
    }
}

// The adapters as "description(device)" lines.
std::vector<std::string> AdapterLines() {
    std::vector<std::string> lines;
    TModule user32(LoadSystemLibrary("User32.dll"));
    if (!user32) return lines;
    using TEnumDevices = BOOL(WINAPI*)(LPCSTR, DWORD, PDISPLAY_DEVICEA, DWORD);
    const auto enumDevices = ProcAddress<TEnumDevices>(user32.Get(), "EnumDisplayDevicesA");
    if (!enumDevices) return lines;
    for (DWORD i = 0;; ++i) {
        DISPLAY_DEVICEA device{};
        device.cb = sizeof device;
        if (!enumDevices(nullptr, i, &device, 0)) break;
        // Both strings are fixed arrays; take at most their length even if
        // the system left one unterminated.
        const std::string description(device.DeviceString, strnlen(device.DeviceString, 127));
        const std::string name(device.DeviceName, strnlen(device.DeviceName, 31));
        lines.push_back(description + "(" + name + ")");
    }
    return lines;
}

void OpenDriverPage() {
    const std::string url = DriverPageUrl(kOpenGLPage, AdapterLines());
    ::ShellExecuteA(nullptr, nullptr, url.c_str(), nullptr, nullptr, SW_HIDE);
}

// The render thread could not go on: make sure the main thread, which may
// be waiting for the context or pumping messages, notices and ends the run.
void WakeMainThread() {
    if (mainThreadId != 0) ::PostThreadMessageA(mainThreadId, WM_NULL, 0, 0);
}

void ReleaseMainThread() {
    RenderFailed = true;
    ContextPending = false;
    WakeMainThread();
}

// The loader of one run. A stop raises its cancel flag, which the decode in
// progress honours at its next line; the thread is never terminated, since
// one killed inside a decoder may hold heap, COM or loader locks that the
// rest of the process (a dialog that goes on) would then wait for forever.
struct TLoaderJob {
    TKernelHandle thread;
    std::atomic<bool> cancel{false};
    TBitmap* target = nullptr;            // the run's PictureBitmap, which it prepares pictures into
    std::unique_ptr<TBitmap> keptBitmap;  // that bitmap, once the run has ended without waiting for it
};

std::unique_ptr<TLoaderJob> runLoader;  // the current run's loader [R starts, R and M stop it]
// Loaders of ended runs of this process that were still finishing a
// cancelled decode when their run returned to the dialog [M].
std::vector<std::unique_ptr<TLoaderJob>> lingeringLoaders;

// A full-screen run waits this long after the stop for the loader to
// finish its decode, so that the process ends within 6 s of the input.
constexpr DWORD kLoaderStopWaitMs = 3500;
// A run from the dialog hands the dialog back at once: it waits this long,
// then leaves the decode to finish on its own.
constexpr DWORD kLoaderHandBackWaitMs = 50;
// A new run waits this long for loaders an earlier one left behind.
constexpr DWORD kLingeringWaitMs = 1000;

DWORD stopTick = 0;  // GetTickCount when the render loop saw the stop [R, then M]

void CancelLoader(TLoaderJob& job) {
    job.cancel = true;
    // It finishes sooner at the render thread's own priority.
    if (job.thread) ::SetThreadPriority(job.thread.Get(), THREAD_PRIORITY_NORMAL);
}

bool LoaderEnded(TLoaderJob& job, DWORD waitMs) {
    return !job.thread || ::WaitForSingleObject(job.thread.Get(), waitMs) == WAIT_OBJECT_0;
}

// Forgets the loaders of earlier runs that have ended, waiting up to
// `waitMs` in all for those still decoding.
void ReapLingeringLoaders(DWORD waitMs) {
    const DWORD start = ::GetTickCount();
    for (auto it = lingeringLoaders.begin(); it != lingeringLoaders.end();) {
        const DWORD spent = ::GetTickCount() - start;
        if (LoaderEnded(**it, spent < waitMs ? waitMs - spent : 0)) {
            it = lingeringLoaders.erase(it);
        } else {
            ++it;
        }
    }
}

// The paced wait between frames: never faster than the monitor refreshes,
// on a waitable timer rather than a spinning loop.
class TFramePacer {
public:
    TFramePacer() {
        // High resolution where the system offers it (Windows 10 1803 on);
        // else the ordinary timer, which runs at the 1 ms the run asked for.
        constexpr DWORD kHighResolution = 0x00000002;  // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
        timer_.Reset(::CreateWaitableTimerExW(nullptr, nullptr, kHighResolution, TIMER_ALL_ACCESS));
        if (!timer_) timer_.Reset(::CreateWaitableTimerW(nullptr, FALSE, nullptr));
        DEVMODEA mode{};
        mode.dmSize = sizeof mode;
        // 0 and 1 stand for the hardware's default rate: taken as 60 Hz.
        const DWORD hz = ::EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &mode) ? mode.dmDisplayFrequency : 0;
        periodMs_ = FramePeriodMs(hz);
    }
    // Waits until one refresh interval has passed since the previous frame
    // began; a frame that took longer is not made up for by a burst.
    void Wait() {
        double now = PreciseMs();
        if (due_ > now && timer_) {
            LARGE_INTEGER relative;
            relative.QuadPart = -static_cast<LONGLONG>((due_ - now) * 10000.0);  // 100 ns units
            if (::SetWaitableTimer(timer_.Get(), &relative, 0, nullptr, nullptr, FALSE))
                ::WaitForSingleObject(timer_.Get(), static_cast<DWORD>(due_ - now) + 50);
            now = PreciseMs();
        }
        due_ = (now - due_ > periodMs_ ? now : std::max(now, due_)) + periodMs_;
    }
    double PeriodMs() const { return periodMs_; }

private:
    TKernelHandle timer_;
    double periodMs_ = 1000.0 / 60.0;
    double due_ = 0.0;  // when the next frame may begin, PreciseMs
};

}  // namespace

double FramePeriodMs(std::uint32_t refreshHz) {
    return 1000.0 / (refreshHz > 1 ? refreshHz : 60);
}

double PreciseMs() {
    const LONGLONG frequency = CounterFrequency();
    if (frequency == 0) return ::GetTickCount();
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart / frequency) * 1000.0 +
           static_cast<double>(counter.QuadPart % frequency) * 1000.0 / static_cast<double>(frequency);
}

bool FramePacing = true;

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
        return static_cast<long long>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    };
    const double ms = static_cast<double>(ticks(now) - ticks(created)) / 1e4;
    const std::string line = std::to_string(ms) + " " + event + "\r\n";
    TKernelHandle file(::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file) ::WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

std::size_t LingeringLoaderCount() {
    return lingeringLoaders.size();
}

void EndLingeringLoaders() {
    ReapLingeringLoaders(2000);
    // A decode that still has not returned is stuck in its plug-in; the
    // plug-ins are about to be unloaded under it, so the process ends here,
    // without running anything else of the stuck thread's libraries.
    if (!lingeringLoaders.empty()) ::TerminateProcess(::GetCurrentProcess(), 0);
}

void SetFrameObserver(TFrameObserver observer) {
    frameObserver = observer;
}

std::string DriverKind() {
    HWND desktop = ::GetDesktopWindow();
    TWindowDC dc(desktop);
    PIXELFORMATDESCRIPTOR pfd{};
    if (!dc || ::DescribePixelFormat(dc.Get(), 1, 40, &pfd) == 0) return std::string();
    const bool generic = (pfd.dwFlags & PFD_GENERIC_FORMAT) != 0;
    const bool accelerated = (pfd.dwFlags & PFD_GENERIC_ACCELERATED) != 0;
    if (generic && accelerated) return "MCD";
    if (!generic && !accelerated) return "ICD";
    return "No";
}

bool CheckAcceleration(bool onlyOnce) {
    const std::string kind = DriverKind();
    if (kind.empty()) return true;
    TRegKey key = CreateRegKey(HKEY_CURRENT_USER, kSettingsKey);
    const std::string stored =
        key ? ReadRegString(key.Get(), "driver").value_or(std::string()) : std::string();
    if (kind != stored && key) WriteRegString(key.Get(), "driver", kind);
    bool result = true;
    if (kind == "No" && (!onlyOnce || stored.empty())) {
        result = false;
        if (ShowMessage(kAccelerationMessage, MB_YESNO | MB_ICONEXCLAMATION) == IDYES) OpenDriverPage();
    }
    return result;
}

void RunSaver(HWND host) {
    // 1-4: what kind of run, and the application data unless the dialog owns it.
    FullScreen = host == nullptr;
    RunFlags |= FullScreen ? kRunFullScreen : kRunPreview;
    if (!FullScreen) CheckAcceleration(true);
    ParentWindow = host;
    if (!LaunchedFromDialog) InitApplicationData();
    mainThreadId = ::GetCurrentThreadId();
    RaiseTimerResolution();
    // A decode an earlier run left behind is usually about to end.
    ReapLingeringLoaders(kLingeringWaitMs);
    ResetVanish();
    // Benchmarks compare with unpaced frames; the product always paces.
    {
        char value[8] = "";
        FramePacing = !(::GetEnvironmentVariableA("QV_UNPACED", value, sizeof value) > 0 && value[0] == '1');
    }

    // 5: a fresh run. Its rate too: a preview from the dialog shorter than
    // a second must not record the rate of an earlier one.
    LastTileIndex = -1;
    FramesPerSecond = -1;
    RenderDone = false;
    RenderFailed = false;
    StopRequested = 0;
    MouseAllowance = kMouseAllowance;
    ShowSequence.CurrentIndex = -1;
    Paused = false;

    // 6-7: the system's screensaver state, the cursor, the other monitors.
    if (FullScreen) {
        BOOL previous = FALSE;
        ::SystemParametersInfoA(SPI_SETSCREENSAVERRUNNING, TRUE, &previous, 0);
        HideRunCursor();
        CoverOtherMonitors();
        PumpMessages();
    }

    // 8-10: the saver window and the picture bitmap.
    const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
    SaverWindow = CreateSaverWindow(host, 0, 0, screenWidth, screenHeight);
    if (SaverWindow == nullptr) return;  // the failure has been shown and the run torn down
    SetReportWindow(SaverWindow);  // a crash report gives its size
    SaverDC = ::GetDC(SaverWindow);
    if (FullScreen) {
        SaverWidth = screenWidth;
        SaverHeight = screenHeight;
    } else {
        RECT r{};
        ::GetWindowRect(SaverWindow, &r);
        SaverWidth = r.right - r.left;
        SaverHeight = r.bottom - r.top;
    }
    const TPanelSize panel = PanelSizeFor(SaverWidth, SaverHeight);
    // A host with no client area still gets a (never drawn) 1 x 1 picture
    // rather than a bitmap the system refuses to create.
    PanelWidth = std::max<std::int32_t>(1, panel.Width);
    PanelHeight = std::max<std::int32_t>(1, panel.Height);
    PictureBitmap = std::make_unique<TBitmap>(PanelWidth, PanelHeight);
    PictureBitmap->ShrinkToFit = Settings.ShrinkToFit;
    PictureBitmap->EnlargeToFit = Settings.EnlargeToFit;
    SceneBitmap = PictureBitmap.get();
    if (SaverDC == nullptr) {
        TeardownRun();
        return;
    }

    // 11-12: start the render thread, wait for its context, then show the
    // window: its first frame is drawn by then or follows at once.
    StopRequested = 0;
    ContextPending = true;
    TKernelHandle render(::CreateThread(nullptr, kThreadStack, RenderThreadMain, nullptr, 0, nullptr));
    if (!render) {
        TeardownRun();
        return;
    }
    const HANDLE renderThread = render.Get();
    while (ContextPending) {
        // A thread that died without clearing the flag must not hold us here.
        // Messages another thread sends to this one's windows while it sets
        // up its context are answered meanwhile, so it never waits on us.
        const DWORD woken = ::MsgWaitForMultipleObjects(1, &renderThread, FALSE, 1, QS_SENDMESSAGE);
        if (woken == WAIT_OBJECT_0) break;
        if (woken == WAIT_OBJECT_0 + 1) {
            MSG sent;
            ::PeekMessageA(&sent, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
    }
    ShowSaverWindow(SaverWindow);
    MarkTimeline("window-shown");

    // 13-14: pump messages until the run is over. A thread timer wakes the
    // loop regularly, so a wake-up that arrives before the loop waits again
    // cannot leave it blocked once the render thread is done.
    const UINT_PTR wakeTimer = ::SetTimer(nullptr, 0, 100, nullptr);
    MSG msg;
    while (!RenderFailed && ::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
        // Whoever asked for the stop, the windows leave the screen first.
        if (StopRequested != 0) VanishRunWindows();
        if (RenderDone && LaunchedFromDialog) break;
        if (RenderFailed) break;
    }
    if (wakeTimer) ::KillTimer(nullptr, wakeTimer);
    if (RenderFailed) {
        // The render thread ended through its error handler: it did not
        // tear down, so this thread does, once the thread has gone.
        StopRequested = 1;
        ::WaitForSingleObject(render.Get(), INFINITE);
        TeardownRun();
    } else if (RenderDone) {
        // The thread has released everything and only returns now; a run
        // that ends with it gone leaves nothing of itself (its connection
        // to the display included) to a later run.
        ::WaitForSingleObject(render.Get(), kRenderExitWaitMs);
        TeardownRun();
    }
}

DWORD WINAPI RenderThreadMain(void*) {
    try {
        RunFlags |= kRunCreatingContext;
        SetupPending = true;
        Control = std::make_unique<TGLControl>(SaverWindow, SaverWidth, SaverHeight);
        Control->OnRender = RenderFrame;
        RunFlags &= ~static_cast<std::uint32_t>(kRunCreatingContext);
        ContextPending = false;
        RunFlags |= kRunRenderLoop;
        if (StopRequested == 0) RenderLoop();
        RunFlags &= ~static_cast<std::uint32_t>(kRunRenderLoop);
        if (FullScreen) CloseCoverWindows();
        if (!LaunchedFromDialog) TeardownRun();
        ReleaseGL();
        RenderDone = true;
        ::SendMessageA(SaverWindow, WM_CLOSE, 0, 0);
        // The sent WM_CLOSE is handled inside the main thread's GetMessage
        // and returns nothing to its loop; a posted message lets it see
        // RenderDone.
        WakeMainThread();
    } catch (const std::exception& e) {
        Report(&e, RunFlags.load());
        StopRequested = 1;
        ReleaseMainThread();
    } catch (...) {
        Report(nullptr, RunFlags.load());
        StopRequested = 1;
        ReleaseMainThread();
    }
    return 0;
}

void RenderLoop() {
    InitStarField();
    PictureReady = false;
    PictureRequested = true;
    runLoader = std::make_unique<TLoaderJob>();
    runLoader->target = PictureBitmap.get();
    runLoader->thread.Reset(::CreateThread(nullptr, kThreadStack, LoaderThreadMain, runLoader.get(), 0, nullptr));
    if (!runLoader->thread) {
        runLoader.reset();
        throw EThread("Can't Create Thread " + std::to_string(::GetLastError()));
    }
    ::SetThreadPriority(runLoader->thread.Get(), THREAD_PRIORITY_BELOW_NORMAL);
    TFramePacer pacer;
    bool firstFrameMarked = false, firstPictureMarked = false;

    LastFrameTick = LastRateTick = Now();
    StarPhase = 200.0f;
    FrameStep = 0.0f;
    UploadPending = false;
    NextUploadTile = 0;
    PhotoPanel.Distance = -1.0f;
    FrameCount = 0;

    while (StopRequested == 0) {
        Guard(kRunRenderLoop, [&pacer, &firstFrameMarked, &firstPictureMarked] {
            if (Paused) {
                // The pause must not count as elapsed time.
                const std::uint32_t sinceFrame = Now() - LastFrameTick;
                const std::uint32_t sinceRate = Now() - LastRateTick;
                while (Paused && StopRequested == 0) ::Sleep(20);
                LastFrameTick = Now() - sinceFrame;
                LastRateTick = Now() - sinceRate;
            }
            // Paced: the frame begins one refresh interval after the last
            // one; the motion below still follows the clock, however long
            // that was.
            if (FramePacing) pacer.Wait();
            const std::uint32_t now = Now();
            const std::uint32_t elapsed = now - LastFrameTick;
            StarPhase -= static_cast<float>(elapsed * 0.02);
            FrameStep = static_cast<float>(elapsed * 0.02);
            if (StarPhase < 0.0f) StarPhase = 200.0f;
            LastFrameTick = now;
            if (frameObserver) frameObserver({TFrameEvent::Kind::Stepped, FrameStep, false});

            const std::uint32_t sinceRate = now - LastRateTick;
            if (sinceRate > 1000) {
                FramesPerSecond = static_cast<std::int32_t>(RoundHalfEven(FrameCount / (sinceRate / 1000.0)));
                LastRateTick = now;
                FrameCount = 0;
                if (CrashTestArmed) {
                    CrashTestArmed = false;
                    throw EZeroDivide();
                }
                if (!::IsWindowVisible(SaverWindow))
                    StopRequested = 1;
                else if (ParentWindow && !::IsWindowVisible(ParentWindow))
                    StopRequested = 1;
            }
            ++FrameCount;

            // Hand-over: release the loader once the panel has passed the
            // eye; launch its picture once it is ready.
            if (PhotoPanel.Distance < 0.0f && !PictureRequested) {
                PictureReady = false;
                PictureRequested = true;
            }
            if (PictureRequested && PictureReady) {
                PictureRequested = false;
                LaunchPanel(PhotoPanel);
                UploadPending = true;
                if (!firstPictureMarked) {
                    firstPictureMarked = true;
                    MarkTimeline("first-picture");
                }
                if (frameObserver) frameObserver({TFrameEvent::Kind::Launched, FrameStep, false});
            }
            if (!FramePacing) ::Sleep(1);
            const std::int32_t tilesBefore = TilesUploaded;
            if (StopRequested == 0 && Control) {
                Control->Paint();
                if (!firstFrameMarked) {
                    firstFrameMarked = true;
                    MarkTimeline("first-frame");
                }
            }
            if (frameObserver)
                frameObserver({TFrameEvent::Kind::Drawn, FrameStep, TilesUploaded != tilesBefore});
        });
    }
    // The decode in progress stops at its next line; the teardown waits for
    // the thread as long as the kind of run allows.
    stopTick = ::GetTickCount();
    if (runLoader) CancelLoader(*runLoader);
}

DWORD WINAPI LoaderThreadMain(void* param) {
    auto* job = static_cast<TLoaderJob*>(param);
    SetDecodeCancel(&job->cancel);
    while (!job->cancel) {
        Guard(kCaughtInLoader, [job] { LoadNextPicture(*job->target); });
        // A cancelled loader touches the hand-over flags no more: they may
        // already belong to the next run.
        if (job->cancel) break;
        PictureReady = true;
        while (PictureReady && !job->cancel) ::Sleep(1);
    }
    SetDecodeCancel(nullptr);
    return 0;
}

void TeardownRun() {
    RunFlags |= kRunTeardown;
    RenderDone = false;
    ReleaseGL();
    if (SaverWindow && ::IsWindow(SaverWindow)) {
        if (SaverDC) ::ReleaseDC(SaverWindow, SaverDC);
        SaverDC = nullptr;
        ::SendMessageA(SaverWindow, WM_CLOSE, 0, 0);
    }
    SceneBitmap = nullptr;
    // The loader: a full-screen run waits for it (the process ends next);
    // one from the dialog leaves a decode still running to finish on its
    // own, with the bitmap it writes into.
    bool loaderEnded = true;
    if (runLoader) {
        CancelLoader(*runLoader);
        DWORD wait = kLoaderHandBackWaitMs;
        if (!LaunchedFromDialog) {
            const DWORD since = ::GetTickCount() - stopTick;
            wait = since < kLoaderStopWaitMs ? kLoaderStopWaitMs - since : 0;
        }
        loaderEnded = LoaderEnded(*runLoader, wait);
        if (loaderEnded) {
            PictureRequested = false;
            runLoader.reset();
        } else {
            runLoader->keptBitmap = std::move(PictureBitmap);
            lingeringLoaders.push_back(std::move(runLoader));
        }
    }
    PictureBitmap.reset();
    if (FullScreen) {
        CloseCoverWindows();
        // The pointer belongs to the main thread's input queue; the window's
        // WM_CLOSE gave it back there already when this is another thread.
        if (::GetCurrentThreadId() == mainThreadId) RestoreRunCursor();
        BOOL previous = FALSE;
        ::SystemParametersInfoA(SPI_SETSCREENSAVERRUNNING, FALSE, &previous, 0);
        SaveResumePosition(ShowSequence.CurrentIndex);
    }
    {
        TRegKey key = CreateRegKey(HKEY_CURRENT_USER, kSettingsKey);
        const std::int32_t fps = FramesPerSecond;
        if (key && FullScreen && fps != -1) WriteRegString(key.Get(), "FPS", std::to_string(fps));
    }
    RestoreTimerResolution();
    MarkTimeline(loaderEnded ? "teardown-done" : "teardown-done loader-stuck");
    if (!LaunchedFromDialog) {
        // A decode stuck in its plug-in: everything is recorded, and the
        // plug-ins must not be unloaded under it. The process ends as the
        // system ends it, without a thread terminated in a process that
        // goes on.
        if (!loaderEnded) ::TerminateProcess(::GetCurrentProcess(), 0);
        FreeApplicationData();
    }
    RunFlags &= ~static_cast<std::uint32_t>(kRunTeardown);
}

void ReleaseGL() {
    RunFlags |= kRunTeardown;
    if (Control) {
        Control->ReleaseContext();  // unbinds it if bound, then deletes it
        Control.reset();
    } else if (ContextIsBound()) {
        UnbindRenderContext();
    }
    for (std::int32_t i = 0; i < PhotoPanel.TileCount && i < kMaxTiles; ++i) PhotoPanel.PanelTextures[i] = 0;
    RunFlags &= ~static_cast<std::uint32_t>(kRunTeardown);
}
