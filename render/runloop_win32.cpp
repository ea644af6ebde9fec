#include "render/runloop_win32.h"

#include <shellapi.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <string>

#include "app/appdata_win32.h"
#include "app/exception.h"
#include "app/handles_win32.h"
#include "app/modes_win32.h"
#include "app/random.h"
#include "app/registry_win32.h"
#include "app/settings.h"
#include "app/site.h"
#include "app/state.h"
#include "app/ui_win32.h"
#include "catalogue/sequence.h"
#include "catalogue/sequence_win32.h"
#include "diag/crash_report_win32.h"
#include "render/glcontext_win32.h"
#include "render/saver_windows_win32.h"
#include "render/scene_math.h"
#include "render/scene_state.h"
#include "render/scene_win32.h"

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
const char* const kDriverQuery = "?device=";

namespace {

// Threads of the run start with 32 KiB of committed stack.
constexpr SIZE_T kThreadStack = 32 * 1024;

TFrameObserver frameObserver = nullptr;  // set only by measuring programs
DWORD mainThreadId = 0;                  // the thread that pumps the saver window's messages

// The system timer runs at 1 ms for the run, so that Sleep(1) between
// frames sleeps about 1 ms instead of a whole 10 to 16 ms scheduler tick.
// "winmm.dll" is loaded at run time from the system folder.
struct TTimerPeriod {
    TModule winmm;
    bool raised = false;
    using TPeriodFn = UINT(WINAPI*)(UINT);
    TPeriodFn Function(const char* name) const {
        return reinterpret_cast<TPeriodFn>(reinterpret_cast<void*>(::GetProcAddress(winmm.Get(), name)));
    }
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

// Milliseconds from the performance counter: really millisecond-accurate,
// unlike GetTickCount, which steps by 10 to 16 ms. Wraps like a tick count.
std::uint32_t Now() {
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f;
        return ::QueryPerformanceFrequency(&f) && f.QuadPart > 0 ? f.QuadPart : 0;
    }();
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
    ReportEscapedError(error, flags);
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

// The adapters as "description(device)" lines, each ended by a carriage return.
std::string AdapterList() {
    std::string list;
    TModule user32(LoadSystemLibrary("User32.dll"));
    if (!user32) return list;
    using TEnumDevices = BOOL(WINAPI*)(LPCSTR, DWORD, PDISPLAY_DEVICEA, DWORD);
    auto enumDevices = reinterpret_cast<TEnumDevices>(
        reinterpret_cast<void*>(::GetProcAddress(user32.Get(), "EnumDisplayDevicesA")));
    if (!enumDevices) return list;
    for (DWORD i = 0;; ++i) {
        DISPLAY_DEVICEA device{};
        device.cb = sizeof device;
        if (!enumDevices(nullptr, i, &device, 0)) break;
        // Both strings are fixed arrays; take at most their length even if
        // the system left one unterminated.
        const std::string description(device.DeviceString, strnlen(device.DeviceString, 127));
        const std::string name(device.DeviceName, strnlen(device.DeviceName, 31));
        list += description + "(" + name + ")\r";
    }
    return list;
}

std::string EscapedForUrl(const std::string& text) {
    TModule shlwapi(LoadSystemLibrary("Shlwapi.dll"));
    if (!shlwapi) return std::string();
    using TUrlEscape = HRESULT(WINAPI*)(LPCSTR, LPSTR, LPDWORD, DWORD);
    auto escape =
        reinterpret_cast<TUrlEscape>(reinterpret_cast<void*>(::GetProcAddress(shlwapi.Get(), "UrlEscapeA")));
    if (!escape) return std::string();
    char buffer[1000];
    DWORD size = sizeof buffer;
    if (escape(text.c_str(), buffer, &size, 0) != S_OK) return std::string();
    return std::string(buffer, strnlen(buffer, sizeof buffer));
}

void OpenDriverPage() {
    const std::string url = std::string(kOpenGLPage) + kDriverQuery + EscapedForUrl(AdapterList());
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

constexpr int kLoaderStopWaitMs = 5000;  // longer than any single decode takes

void StopLoader(TKernelHandle& loader) {
    if (!loader) return;
    if (PictureRequested) {
        // A decode in progress is let finish: a thread terminated inside a
        // decoder can leave a heap or loader lock held, and the process exit
        // that follows then hangs. Termination stays the last resort.
        ::SetThreadPriority(loader.Get(), THREAD_PRIORITY_NORMAL);
        for (int waited = 0; PictureRequested && waited < kLoaderStopWaitMs; waited += 10) ::Sleep(10);
        if (PictureRequested) ::TerminateThread(loader.Get(), 0);
    }
    loader.Reset();
}

}  // namespace

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
        ::ShowCursor(FALSE);
        CoverOtherMonitors();
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
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

    // 11-12: show the window, start the render thread and wait for its context.
    StopRequested = 0;
    ::UpdateWindow(SaverWindow);
    ::ShowWindow(SaverWindow, SW_SHOW);
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

    // 13-14: pump messages until the run is over. A thread timer wakes the
    // loop regularly, so a wake-up that arrives before the loop waits again
    // cannot leave it blocked once the render thread is done.
    const UINT_PTR wakeTimer = ::SetTimer(nullptr, 0, 100, nullptr);
    MSG msg;
    while (!RenderFailed && ::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
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
    TKernelHandle loader(::CreateThread(nullptr, kThreadStack, LoaderThreadMain, nullptr, 0, nullptr));
    if (!loader) throw EThread("Can't Create Thread " + std::to_string(::GetLastError()));
    ::SetThreadPriority(loader.Get(), THREAD_PRIORITY_BELOW_NORMAL);

    LastFrameTick = LastRateTick = Now();
    StarPhase = 200.0f;
    FrameStep = 0.0f;
    PhotoPanel.Distance = -1.0f;
    FrameCount = 0;

    while (StopRequested == 0) {
        Guard(kRunRenderLoop, [] {
            if (Paused) {
                // The pause must not count as elapsed time.
                const std::uint32_t sinceFrame = Now() - LastFrameTick;
                const std::uint32_t sinceRate = Now() - LastRateTick;
                while (Paused && StopRequested == 0) ::Sleep(20);
                LastFrameTick = Now() - sinceFrame;
                LastRateTick = Now() - sinceRate;
            }
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
                if (frameObserver) frameObserver({TFrameEvent::Kind::Launched, FrameStep, false});
            }
            ::Sleep(1);
            const bool uploadDue = UploadPending;
            if (StopRequested == 0 && Control) Control->Paint();
            if (frameObserver)
                frameObserver({TFrameEvent::Kind::Drawn, FrameStep, uploadDue && !UploadPending});
        });
    }
    StopLoader(loader);
}

DWORD WINAPI LoaderThreadMain(void*) {
    while (StopRequested == 0) {
        Guard(kCaughtInLoader, [] { LoadNextPicture(*PictureBitmap); });
        PictureReady = true;
        while (PictureReady && StopRequested == 0) ::Sleep(1);
    }
    PictureRequested = false;
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
    PictureBitmap.reset();
    if (FullScreen) {
        CloseCoverWindows();
        ::ShowCursor(TRUE);
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
    if (!LaunchedFromDialog) FreeApplicationData();
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
