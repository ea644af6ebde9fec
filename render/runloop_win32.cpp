#include "render/runloop_win32.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "base/exception.h"
#include "base/random.h"
#include "session/session_win32.h"
#include "base/site.h"
#include "base/run_state.h"
#include "base/handles_win32.h"
#include "base/registry_win32.h"
#include "base/system_win32.h"
#include "base/thread_owner.h"
#include "base/ui_win32.h"
#include "catalogue/piclist.h"
#include "catalogue/sequence.h"
#include "catalogue/sequence_win32.h"
#include "diag/crash_report_win32.h"
#include "diag/fault_guard_win32.h"
#include "imaging/colour_convert_win32.h"
#include "imaging/prepare_win32.h"
#include "render/acceleration_win32.h"
#include "render/caption.h"
#include "render/caption_win32.h"
#include "render/glcontext_win32.h"
#include "render/hooks_win32.h"
#include "render/loader_win32.h"
#include "render/saver_windows_win32.h"
#include "render/scene_math.h"
#include "render/scene_state.h"
#include "render/scene_win32.h"
#include "render/show_history.h"
#include "render/textures_win32.h"

// One monitor's pictures as they pass between the render loop and the
// loader: the primary's (the job itself) and, with photos on every monitor,
// each other monitor's flight. Fixed before the loader starts but for the
// flags and what they hand over.
struct TPictureSlot {
    TBitmap* target = nullptr;                 // the monitor's picture bitmap, which pictures are prepared into
    std::atomic<bool> requested{false};        // the render loop asked for a picture not yet taken [R, L]
    std::atomic<bool> ready{false};            // the loader has a picture ready [R, L]
    std::atomic<std::int32_t> readyIndex{-1};  // the global index of that picture; -1 for a message [L, R]
    // The part of the target the ready picture covers; empty: all of it
    // (a message, or a preparation that reports none). Written by the
    // loader before `ready`, read by the render loop after it [L, R].
    TRect32 covered;
    std::int32_t captionHeight = 0;                  // caption character height in pixels
    TPictureShape shape = TPictureShape::Landscape;  // the monitor's
    std::string showing;                             // the picture last prepared for it [L]
};

// The loader of one run. A stop raises its cancel flag, which the decode in
// progress honours at its next line; the thread is never terminated, since
// one killed inside a decoder may hold heap, COM or loader locks that the
// rest of the process (a dialog that goes on) would then wait for forever.
// The hand-over flags live here rather than in the run: a loader left
// finishing a decode may outlive its run, and then touches only its job.
// As a slot, the job is the primary monitor's.
struct TLoaderJob : TPictureSlot {
    TKernelHandle thread;
    std::atomic<bool> cancel{false};
    std::atomic<bool> readyByOrder{true};      // the show's order chose it (not the steering keys) [L, R]
    std::atomic<std::int32_t> wanted{-1};      // the picture asked for; -1: the order's next [R, then L]
    std::atomic<std::int32_t> hide{-1};        // a picture to hide before the next one [R, then L]
    // The session's catalogue, sequence, random generator and plug-ins;
    // borrowed. The runs end every loader before the session ends.
    TSession* session = nullptr;
    TSequenceOptions order;               // the show's order, fixed when the loader starts
    TFitOptions fit;                      // how pictures are fitted, fixed when the loader starts
    bool intendedColours = false;         // the run's choice, fixed before the thread starts
    TCaption caption = TCaption::None;    // written on each picture, fixed when the loader starts
    std::unique_ptr<TColourConverter> colours;  // the loader's own, for the run's monitor [L]
    // Photos on every monitor: the other monitors' slots, whose pictures the
    // loader prepares between the primary's.
    std::vector<std::unique_ptr<TPictureSlot>> flights;
    std::vector<TSetAside> setAside;  // see TFlightPreference [L]
    // The bitmaps, once the run has ended without waiting for the loader.
    std::unique_ptr<TBitmap> keptBitmap;
    std::vector<std::unique_ptr<TBitmap>> keptFlightBitmaps;
};

TRun::TRun() = default;
TRun::~TRun() = default;

namespace {

// Threads of the run start with 32 KiB of committed stack.
constexpr SIZE_T kThreadStack = 32 * 1024;
// After it said it is done, the render thread only returns; a bound in case
// it is held up on its way out.
constexpr DWORD kRenderExitWaitMs = 1000;
// How often a full-screen run looks for monitors that came, went or moved
// without the system announcing it.
constexpr DWORD kMonitorCheckMs = 1000;

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
        Report(&e, RunState.Flags.load() | extraFlags);
    } catch (...) {
        Report(nullptr, RunState.Flags.load() | extraFlags);
    }
}

// The render thread could not go on, or has finished: make sure the main
// thread, which may be waiting for the context or pumping messages, notices.
void WakeMainThread(const TRun& run) {
    if (run.MainThreadId != 0) ::PostThreadMessageA(run.MainThreadId, WM_NULL, 0, 0);
}

void ReleaseMainThread(TRun& run) {
    for (auto& flight : run.Flights) flight->Scene.Owner.Release();
    run.Scene.Owner.Release();
    run.RenderFailed = true;
    run.ContextPending = false;
    WakeMainThread(run);
}

// A full-screen run waits this long after the stop for the loader to
// finish its decode, so that the process ends within 6 s of the input.
constexpr DWORD kLoaderStopWaitMs = 3500;
// A run from the dialog hands the dialog back at once: it waits this long,
// then leaves the decode to finish on its own.
constexpr DWORD kLoaderHandBackWaitMs = 50;
// A new run waits this long for loaders an earlier one left behind.
constexpr DWORD kLingeringWaitMs = 1000;

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
void ReapLingeringLoaders(TLingeringLoaders& lingering, DWORD waitMs) {
    const DWORD start = ::GetTickCount();
    for (auto it = lingering.begin(); it != lingering.end();) {
        const DWORD spent = ::GetTickCount() - start;
        if (LoaderEnded(**it, spent < waitMs ? waitMs - spent : 0)) {
            it = lingering.erase(it);
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
        const DWORD hz =
            ::EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &mode) ? mode.dmDisplayFrequency : 0;
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

void RenderLoop(TRun& run);
DWORD WINAPI LoaderThreadMain(void* job);

// Draws `scene` in `view`, one monitor's part of the control's window, in
// that monitor's proportions.
void DrawInView(TGLControl& control, const RECT& view, TScene& scene) {
    control.ViewportRect = view;
    control.SetupProjection();
    GL.LoadIdentity();
    RenderFrame(scene);
}
void ReleaseGL(TRun& run);

DWORD WINAPI RenderThreadMain(void* param) {
    TRun& run = *static_cast<TRun*>(param);
    NameThisThread("render");
    run.Scene.Owner.Claim();
    for (auto& flight : run.Flights) flight->Scene.Owner.Claim();
    try {
        RunState.Flags |= kRunCreatingContext;
        run.Scene.SetupPending = true;
        if (run.Flights.empty()) {
            run.Control = std::make_unique<TGLControl>(run.Window, run.Width, run.Height);
            run.Control->OnRender = [&run](TGLControl&) { RenderFrame(run.Scene); };
        } else {
            run.Control = std::make_unique<TGLControl>(run.Window, run.Spread.right - run.Spread.left,
                                                       run.Spread.bottom - run.Spread.top);
            run.Control->OnRender = [&run](TGLControl& control) {
                DrawInView(control, run.PrimaryView, run.Scene);
                for (auto& flight : run.Flights) DrawInView(control, flight->View, flight->Scene);
            };
        }
        RunState.Flags &= ~static_cast<std::uint32_t>(kRunCreatingContext);
        run.ContextPending = false;
        RunState.Flags |= kRunRenderLoop;
        if (RunState.StopRequested == 0) RenderLoop(run);
        RunState.Flags &= ~static_cast<std::uint32_t>(kRunRenderLoop);
        // The context belongs to this thread: it goes here. Everything else
        // of the run is the main thread's to end.
        ReleaseGL(run);
        for (auto& flight : run.Flights) flight->Scene.Owner.Release();
        run.Scene.Owner.Release();
        run.RenderDone = true;
        WakeMainThread(run);
    } catch (const std::exception& e) {
        Report(&e, RunState.Flags.load());
        RunState.StopRequested = 1;
        ReleaseMainThread(run);
    } catch (...) {
        Report(nullptr, RunState.Flags.load());
        RunState.StopRequested = 1;
        ReleaseMainThread(run);
    }
    return 0;
}

// Starts the run's picture-loading thread, the first picture asked for.
TLoaderJob& StartLoader(TRun& run) {
    run.Loader = std::make_unique<TLoaderJob>();
    TLoaderJob& loader = *run.Loader;
    loader.requested = true;
    loader.target = run.Picture.get();
    loader.session = run.Session;
    loader.order = run.Order;
    loader.fit = run.Fit;
    loader.intendedColours = run.IntendedColours;
    loader.caption = run.Show.Caption;
    loader.captionHeight = run.CaptionHeight;
    loader.colours = std::make_unique<TColourConverter>(run.MonitorProfile);
    loader.shape = run.PrimaryShape;
    for (const auto& flight : run.Flights) {
        auto slot = std::make_unique<TPictureSlot>();
        slot->target = flight->Picture.get();
        slot->captionHeight = flight->CaptionHeight;
        slot->shape = flight->Shape;
        loader.flights.push_back(std::move(slot));
    }
    loader.thread.Reset(::CreateThread(nullptr, kThreadStack, LoaderThreadMain, &loader, 0, nullptr));
    if (!loader.thread) {
        run.Loader.reset();
        throw EThread("Can't Create Thread " + std::to_string(::GetLastError()));
    }
    ::SetThreadPriority(loader.thread.Get(), THREAD_PRIORITY_BELOW_NORMAL);
    return loader;
}

// The clocks of the frames and of the rate [R].
struct TFrameClock {
    std::uint32_t LastFrame = NowMs();
    std::uint32_t LastRate = LastFrame;
    std::int32_t Frames = 0;  // drawn since LastRate

    // Waits while the run is paused; the pause does not count as elapsed time.
    void WaitOutPause(const TRun& run) {
        if (!run.Paused) return;
        const std::uint32_t sinceFrame = NowMs() - LastFrame;
        const std::uint32_t sinceRate = NowMs() - LastRate;
        while (run.Paused && RunState.StopRequested == 0) ::Sleep(20);
        LastFrame = NowMs() - sinceFrame;
        LastRate = NowMs() - sinceRate;
    }
};

// Once a second: the armed crash test raises, and a run whose window or host
// has been hidden ends.
void CheckOnceASecond(TRun& run) {
    if (run.CrashTestArmed) {
        run.CrashTestArmed = false;
        throw EZeroDivide();
    }
    // A window not shown yet (a busy machine can take a second to get
    // there) is not one that has been hidden.
    if (run.Shown && !::IsWindowVisible(run.Window))
        RunState.StopRequested = 1;
    else if (run.Host && !::IsWindowVisible(run.Host))
        RunState.StopRequested = 1;
}

// The steering keys on the render thread: where the show is in its history,
// what the loader has been asked for, and the panels hurried along.
struct TSteering {
    TShowHistory History;
    TPictureRequest Asked;    // what the loader prepares or has ready
    TPictureRequest Pending;  // a request still to hand to the loader
    bool HasPending = false;
    bool RushOut = false;        // the panel on screen is hurried past the eye
    bool RushIn = false;         // the next panel is hurried out of the fog
    bool RushingIn = false;      // the panel on screen is being hurried out of the fog
    std::int32_t OnScreen = -1;  // the picture on the panel; -1 for a message or none
};

// A steered panel moves this many times its own speed on top of it: out of
// the fog to kRushInEnd within about half a second.
constexpr float kRushFactor = 6.0f;
constexpr float kRushInEnd = 125.0f;

bool SameRequest(const TPictureRequest& a, const TPictureRequest& b) {
    return a.Index == b.Index && (a.ByOrder() || a.Position == b.Position);
}

// Takes the keys pressed since the last frame: a hide, then steps on or back.
void TakeSteeringKeys(TRun& run, TScene& scene, TLoaderJob& loader, TSteering& steer) {
    const std::int32_t hides = run.HideRequests.exchange(0);
    const std::int32_t steps = run.SteerSteps.exchange(0);
    bool force = false;
    TPictureRequest wanted;
    if (hides > 0 && steer.OnScreen >= 0 && scene.PhotoPanel.Distance >= 0.0f) {
        loader.hide = steer.OnScreen;
        steer.History.Forget(steer.OnScreen);
        steer.OnScreen = -1;
        wanted = steer.History.Forward();
        force = true;  // the picture in the making may be the hidden one
    } else if (steps > 0) {
        wanted = steer.History.Forward(steps);
    } else if (steps < 0) {
        wanted = steer.History.Back(-steps);
        if (wanted.ByOrder()) return;  // nothing kept before the picture on screen
    } else {
        return;
    }
    steer.RushOut = steer.RushIn = true;
    if (!force && loader.requested && !steer.HasPending && SameRequest(wanted, steer.Asked)) return;
    steer.Pending = wanted;
    steer.HasPending = true;
}

void Ask(TLoaderJob& loader, TSteering& steer) {
    loader.wanted = steer.Pending.Index;
    steer.Asked = steer.Pending;
    steer.HasPending = false;
    loader.ready = false;
    loader.requested = true;  // releases the loader
}

// Where the picture just launched from `slot` stands on its panel, in a view
// of the given size: as the shape choice says, but a message fills the
// bitmap and is shown framed. With `uprightFrame` the frame is the whole
// bitmap in its own (upright) proportions.
TPanelPlacement LaunchPlacement(const TRun& run, const TScene& scene, const TPictureSlot& slot, int viewWidth,
                                int viewHeight, bool uprightFrame) {
    TRect32 covered = slot.readyIndex >= 0 ? slot.covered : TRect32();
    bool ownShape = run.Show.Shape == TPanelShape::OwnShape;
    if (uprightFrame && (!ownShape || covered.Width <= 0)) {
        ownShape = true;
        covered = TRect32{0, 0, scene.PanelWidth, scene.PanelHeight};
    }
    return PicturePlacement(ownShape, covered.Left, covered.Top, covered.Width, covered.Height, scene.PanelWidth,
                            scene.PanelHeight, ProjectionAspect(viewWidth, viewHeight));
}

// Hand-over: releases the loader once the panel has passed the eye, or at
// once for a steering key, and launches its picture once it is ready,
// recording which catalogue picture the show now shows. True when a picture
// was launched.
bool HandOverPicture(TRun& run, TScene& scene, TLoaderJob& loader, TSteering& steer) {
    TakeSteeringKeys(run, scene, loader, steer);
    TPhotoPanel& panel = scene.PhotoPanel;
    if (panel.Distance < 0.0f && !loader.requested && !steer.HasPending) {
        steer.Pending = steer.History.Forward();
        steer.HasPending = true;
        steer.RushOut = false;
    }
    if (steer.HasPending) {
        // The bitmap is free once the panel's upload has read it; a picture
        // ready but not wanted any more has not been uploaded.
        if (!loader.requested && !scene.UploadPending) {
            Ask(loader, steer);
        } else if (loader.requested && loader.ready) {
            if (loader.readyByOrder) steer.History.Upcoming(loader.readyIndex);
            Ask(loader, steer);
        }
    }
    if (steer.RushOut && panel.Distance >= 0.0f) panel.Distance -= scene.FrameStep * kRushFactor;
    if (steer.RushingIn) {
        panel.Distance -= scene.FrameStep * kRushFactor;
        if (panel.Distance <= kRushInEnd) steer.RushingIn = false;
    }
    if (!loader.requested || !loader.ready || steer.HasPending) return false;
    loader.requested = false;
    const std::int32_t index = loader.readyIndex;
    steer.History.Launched(steer.Asked, loader.readyByOrder, index);
    steer.OnScreen = index;
    if (index >= 0) run.ShownIndex = index;
    steer.RushingIn = steer.RushIn;
    steer.RushIn = steer.RushOut = false;
    LaunchPanel(panel, run.Session->Random);
    panel.Placement = LaunchPlacement(run, scene, loader, run.Width, run.Height, false);
    scene.UploadPending = true;
    return true;
}

// A flight on another monitor: its next picture is asked for once its panel
// has passed the eye and its upload has read the bitmap (its first once the
// stagger allows), and launched once it is ready.
void HandOverFlight(TRun& run, TFlight& flight, TPictureSlot& slot, std::uint32_t sinceStartMs) {
    TScene& scene = flight.Scene;
    TPhotoPanel& panel = scene.PhotoPanel;
    if (!slot.requested) {
        if (panel.Distance < 0.0f && !scene.UploadPending && sinceStartMs >= flight.FirstLaunchMs) {
            slot.ready = false;
            slot.requested = true;  // releases the loader for this flight
        }
        return;
    }
    if (!slot.ready) return;
    slot.requested = false;
    LaunchPanel(panel, run.Session->Random);
    // The bitmap has its monitor's proportions: on an upright monitor a
    // frame across would stretch it, so the frame stands upright too.
    panel.Placement = LaunchPlacement(run, scene, slot, flight.View.right - flight.View.left,
                                      flight.View.bottom - flight.View.top, flight.Shape == TPictureShape::Portrait);
    scene.UploadPending = true;
}

void RenderLoop(TRun& run) {
    TScene& scene = run.Scene;
    InitStarField(scene.StarField, run.Session->Random);
    for (auto& flight : run.Flights) {
        InitStarField(flight->Scene.StarField, run.Session->Random);
        flight->Scene.StarPhase = 200.0f;
        flight->Scene.PhotoPanel.Distance = -1.0f;
    }
    TLoaderJob& loader = StartLoader(run);
    TFramePacer pacer;
    TFrameClock clock;
    const std::uint32_t start = clock.LastFrame;
    TSteering steering;
    bool firstFrameMarked = false, firstPictureMarked = false;
    const auto observe = RenderHooks().ObserveFrame;
    scene.StarPhase = 200.0f;
    scene.FrameStep = 0.0f;
    scene.UploadPending = false;
    scene.NextUploadTile = 0;
    scene.PhotoPanel.Distance = -1.0f;

    while (RunState.StopRequested == 0) {
        Guard(kRunRenderLoop, [&] {
            clock.WaitOutPause(run);
            // Paced: the frame begins one refresh interval after the last
            // one; the motion below still follows the clock, however long
            // that was.
            if (run.Paced) pacer.Wait();
            const std::uint32_t now = NowMs();
            const std::uint32_t elapsed = now - clock.LastFrame;
            scene.StarPhase -= static_cast<float>(elapsed * run.UnitsPerMs);
            scene.FrameStep = static_cast<float>(elapsed * run.UnitsPerMs);
            if (scene.StarPhase < 0.0f) scene.StarPhase = 200.0f;
            for (auto& flight : run.Flights) {
                flight->Scene.StarPhase = scene.StarPhase;
                flight->Scene.FrameStep = scene.FrameStep;
            }
            clock.LastFrame = now;
            if (observe) observe({TFrameEvent::Kind::Stepped, scene.FrameStep, false});

            const std::uint32_t sinceRate = now - clock.LastRate;
            if (sinceRate > 1000) {
                run.FramesPerSecond =
                    static_cast<std::int32_t>(RoundHalfEven(clock.Frames / (sinceRate / 1000.0)));
                clock.LastRate = now;
                clock.Frames = 0;
                CheckOnceASecond(run);
            }
            ++clock.Frames;

            if (HandOverPicture(run, scene, loader, steering)) {
                if (!firstPictureMarked) {
                    firstPictureMarked = true;
                    MarkTimeline("first-picture");
                }
                if (observe) observe({TFrameEvent::Kind::Launched, scene.FrameStep, false});
            }
            for (std::size_t i = 0; i < run.Flights.size(); ++i)
                HandOverFlight(run, *run.Flights[i], *loader.flights[i], now - start);
            if (!run.Paced) ::Sleep(1);
            const std::int32_t tilesBefore = scene.TilesUploaded;
            if (RunState.StopRequested == 0 && run.Control) {
                run.Control->Paint();
                if (!firstFrameMarked) {
                    firstFrameMarked = true;
                    MarkTimeline("first-frame");
                }
            }
            if (observe) observe({TFrameEvent::Kind::Drawn, scene.FrameStep, scene.TilesUploaded != tilesBefore});
        });
    }
    // The decode in progress stops at its next line; the teardown waits for
    // the thread as long as the kind of run allows.
    run.StopTick = ::GetTickCount();
    CancelLoader(loader);
}

// What the monitor of `slot` should prefer: its shape, and none of the
// pictures the other monitors show.
TFlightPreference PreferenceFor(TLoaderJob& job, const TPictureSlot& slot) {
    TFlightPreference preference;
    preference.Shape = slot.shape;
    preference.SetAside = &job.setAside;
    const auto avoid = [&](const TPictureSlot& other) {
        if (&other != &slot && !other.showing.empty()) preference.Avoid.push_back(other.showing);
    };
    avoid(job);
    for (const auto& other : job.flights) avoid(*other);
    return preference;
}

// Writes the caption on the picture at global `index` just prepared into
// `slot` and notes it as the one the slot shows; returns `index`.
std::int32_t FinishPicture(TLoaderJob& job, TPictureSlot& slot, std::int32_t index, TSession& session) {
    if (index >= 0 && job.caption != TCaption::None && !job.cancel) {
        DrawCaption(*slot.target, PictureCaption(job.caption, session.PicList.PictureAt(index)), slot.covered,
                    slot.captionHeight);
    }
    if (!job.flights.empty()) slot.showing = index >= 0 ? session.PicList.PictureAt(index) : std::string();
    return index;
}

// Prepares the primary's next picture into the job's target and writes its
// caption on it; the global index of the picture, or -1 (see LoadNextPicture).
std::int32_t PrepareNext(TLoaderJob& job, const TShowPictures& show, const TPrepareOptions& prepare,
                         TSession& session, bool keepGoing) {
    job.covered = TRect32();
    // A hide first, then the picture the steering keys want, else (or when
    // that one cannot be shown) the order's next.
    const std::int32_t hide = job.hide.exchange(-1);
    if (hide >= 0 && hide < session.PicList.TotalCount()) session.HidePicture(session.PicList.PictureAt(hide));
    std::int32_t index = -1;
    const std::int32_t wanted = job.wanted;
    if (wanted >= 0 && LoadPictureAt(*job.target, show, wanted, prepare, keepGoing)) {
        job.readyByOrder = false;
        index = wanted;
    } else if (job.flights.empty()) {
        index = LoadNextPicture(*job.target, show, job.order, prepare, session.MessageFont, keepGoing);
    } else {
        index = LoadFlightPicture(*job.target, show, job.order, prepare, session.MessageFont,
                                  PreferenceFor(job, job), keepGoing);
    }
    return FinishPicture(job, job, index, session);
}

// The next picture of another monitor's flight, into its own bitmap.
std::int32_t PrepareFlight(TLoaderJob& job, TPictureSlot& slot, const TShowPictures& show,
                           TPrepareOptions prepare, TSession& session, bool keepGoing) {
    slot.covered = TRect32();
    prepare.Covered = &slot.covered;
    return FinishPicture(job, slot,
                         LoadFlightPicture(*slot.target, show, job.order, prepare, session.MessageFont,
                                           PreferenceFor(job, slot), keepGoing),
                         session);
}

DWORD WINAPI LoaderThreadMain(void* param) {
    auto* job = static_cast<TLoaderJob*>(param);
    NameThisThread("loader");
    TSession& session = *job->session;
    const TThreadClaim sequence(session.Sequence.Owner);
    const TThreadClaim catalogue(session.PicList.Owner);
    SetDecodeCancel(&job->cancel);
    // A run from the dialog must not end the process: the dialog holds edits
    // not yet saved. A picture whose preparation raises an error is one that
    // cannot be read; a fault that no guard nearer to it took, or an error
    // outside any one picture, ends this loader alone, and the show goes on
    // with what it has until the user ends it.
    const bool keepDialog = RunState.LaunchedFromDialog;
    const TShowPictures show{session.PicList, session.Sequence, session.Random, &session.Hidden};
    const TPrepareOptions prepare{
        &session.Plugins, job->fit, {job->intendedColours, job->colours.get()}, &job->covered};
    // One preparation under the rules above; false when the loader stops.
    const auto prepareGuarded = [&](std::atomic<std::int32_t>& readyIndex, const auto& prepareOne) {
        if (!keepDialog) {
            Guard(kCaughtInLoader, [&] { readyIndex = prepareOne(); });
            return true;
        }
        bool failed = false;
        auto load = [&] {
            try {
                readyIndex = prepareOne();
            } catch (...) {
                failed = true;
            }
        };
        if (!RunGuarded(load)) {
            failed = true;
            ReleaseAbandonedDecode();
        }
        if (failed) ::OutputDebugStringA("Quorvane: the picture loader stopped after an error\n");
        return !failed;
    };
    // The primary's picture first, then the other monitors' flights in turn.
    while (!job->cancel) {
        if (!job->ready) {
            job->readyIndex = -1;
            job->readyByOrder = true;
            if (!prepareGuarded(job->readyIndex,
                                [&] { return PrepareNext(*job, show, prepare, session, keepDialog); }))
                break;
            if (job->cancel) break;
            job->ready = true;
            continue;
        }
        TPictureSlot* slot = nullptr;
        for (const auto& flight : job->flights)
            if (flight->requested && !flight->ready) {
                slot = flight.get();
                break;
            }
        if (!slot) {
            ::Sleep(1);
            continue;
        }
        slot->readyIndex = -1;
        if (!prepareGuarded(slot->readyIndex,
                            [&] { return PrepareFlight(*job, *slot, show, prepare, session, keepDialog); }))
            break;
        if (job->cancel) break;
        slot->ready = true;
    }
    SetDecodeCancel(nullptr);
    return 0;
}

void ReleaseGL(TRun& run) {
    RunState.Flags |= kRunTeardown;
    if (run.Control) {
        run.Control->ReleaseContext();  // unbinds it if bound, then deletes it
        run.Control.reset();
    } else if (ContextIsBound()) {
        UnbindRenderContext();
    }
    const auto forget = [](TPhotoPanel& panel) {
        for (std::int32_t i = 0; i < panel.TileCount && i < kMaxTiles; ++i) panel.PanelTextures[i] = 0;
    };
    forget(run.Scene.PhotoPanel);
    for (auto& flight : run.Flights) forget(flight->Scene.PhotoPanel);
    RunState.Flags &= ~static_cast<std::uint32_t>(kRunTeardown);
}

// Monitors beyond this many stay black in a show on every monitor.
constexpr std::size_t kMaxFlights = 15;

TPictureShape MonitorShape(const RECT& r) {
    const LONG w = r.right - r.left, h = r.bottom - r.top;
    return h > w ? TPictureShape::Portrait : w > h ? TPictureShape::Landscape : TPictureShape::Square;
}

// Photos on every monitor: a flight for each monitor but the primary, made
// like the primary's scene for its monitor's size. The flights start one
// after the other over one flight's time, so that a new picture arrives
// somewhere every few seconds rather than everywhere at once.
void MakeFlights(TRun& run, int pixelsPerInch) {
    const auto viewOf = [&run](const RECT& r) {
        RECT view = r;
        ::OffsetRect(&view, -run.Spread.left, -run.Spread.top);
        return view;
    };
    const RECT& primary = run.Monitors[run.PrimaryIndex].Rect;
    run.PrimaryView = viewOf(primary);
    run.PrimaryShape = MonitorShape(primary);
    const double flightMs = FlightSeconds(run.Show.Speed) * 1000.0;
    const std::size_t count = std::min(run.Monitors.size(), kMaxFlights + 1);
    for (std::size_t i = 0; i < run.Monitors.size() && run.Flights.size() < kMaxFlights; ++i) {
        if (i == run.PrimaryIndex) continue;
        const RECT& r = run.Monitors[i].Rect;
        auto flight = std::make_unique<TFlight>();
        flight->View = viewOf(r);
        flight->Shape = MonitorShape(r);
        flight->FirstLaunchMs = static_cast<std::uint32_t>(flightMs * double(run.Flights.size() + 1) / double(count));
        const TPanelSize panel = PanelSizeFor(r.right - r.left, r.bottom - r.top);
        flight->Scene.PanelWidth = std::max<std::int32_t>(1, panel.Width);
        flight->Scene.PanelHeight = std::max<std::int32_t>(1, panel.Height);
        flight->Picture = std::make_unique<TBitmap>(flight->Scene.PanelWidth, flight->Scene.PanelHeight);
        flight->Picture->ShrinkToFit = run.Picture->ShrinkToFit;
        flight->Picture->EnlargeToFit = run.Picture->EnlargeToFit;
        flight->Scene.Picture = flight->Picture.get();
        flight->CaptionHeight = CaptionFontHeight(flight->Scene.PanelHeight, pixelsPerInch);
        run.Flights.push_back(std::move(flight));
    }
}

// Sets up what the run needs before its render thread starts, in the order
// TeardownRun undoes it. False when the run cannot go on (the user has been
// told where that applies).
bool SetUpRun(TRun& run, HWND host, TSession& session, TLingeringLoaders& lingering) {
    // 1-4: what kind of run.
    run.Main.Claim();
    run.Session = &session;
    run.FullScreen = host == nullptr;
    run.Host = host;
    run.MainThreadId = ::GetCurrentThreadId();
    run.Paced = FramePacingWanted();
    RunState.Flags |= run.FullScreen ? kRunFullScreen : kRunPreview;
    if (!run.FullScreen) CheckAcceleration(true);
    run.TimerResolution.Raise();
    // A decode an earlier run left behind is usually about to end.
    ReapLingeringLoaders(lingering, kLingeringWaitMs);

    // 5: a fresh run.
    RunState.StopRequested = 0;
    session.Sequence.Owner.Check("The show sequence");
    session.Sequence.CurrentIndex = -1;
    run.ShownIndex = -1;

    // 6-7: the system's screensaver state, the cursor, the other monitors.
    bool spread = false;
    if (run.FullScreen) {
        BOOL previous = FALSE;
        ::SystemParametersInfoA(SPI_SETSCREENSAVERRUNNING, TRUE, &previous, 0);
        HideRunCursor(run);
        spread = session.Settings.Show.EveryMonitor && SpreadOverMonitors(run);
        if (!spread) CoverOtherMonitors(run);
        PumpMessages();
    }

    // 8-10: the saver window and the picture bitmap.
    const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
    run.Window = spread ? CreateSaverWindow(run, host, run.Spread.left, run.Spread.top,
                                            run.Spread.right - run.Spread.left, run.Spread.bottom - run.Spread.top)
                        : CreateSaverWindow(run, host, 0, 0, screenWidth, screenHeight);
    if (run.Window == nullptr) return false;  // the failure has been shown
    SetReportWindow(run.Window);              // a crash report gives its size
    run.DC.Reset(run.Window);
    // The monitor is asked once a run: its profile rarely changes while a
    // screensaver runs.
    run.IntendedColours = session.Settings.IntendedColours;
    run.MonitorProfile = run.IntendedColours ? DisplayProfile(run.DC.Get()) : std::vector<std::uint8_t>();
    if (run.FullScreen) {
        run.Width = screenWidth;
        run.Height = screenHeight;
    } else {
        RECT r{};
        ::GetWindowRect(run.Window, &r);
        run.Width = r.right - r.left;
        run.Height = r.bottom - r.top;
    }
    const TPanelSize panel = PanelSizeFor(run.Width, run.Height);
    // A host with no client area still gets a (never drawn) 1 x 1 picture
    // rather than a bitmap the system refuses to create.
    run.Scene.PanelWidth = std::max<std::int32_t>(1, panel.Width);
    run.Scene.PanelHeight = std::max<std::int32_t>(1, panel.Height);
    run.Picture = std::make_unique<TBitmap>(run.Scene.PanelWidth, run.Scene.PanelHeight);
    // A picture in its own shape has no frame to keep: it is fitted as large
    // as the bitmap allows, never cropped.
    run.Show = session.Settings.Show;
    const bool ownShape = run.Show.Shape == TPanelShape::OwnShape;
    run.Picture->ShrinkToFit = ownShape || session.Settings.ShrinkToFit;
    run.Picture->EnlargeToFit = ownShape || session.Settings.EnlargeToFit;
    run.UnitsPerMs = SceneUnitsPerMs(run.Show.Speed);
    run.CaptionHeight = CaptionFontHeight(run.Scene.PanelHeight, ::GetDeviceCaps(run.DC.Get(), LOGPIXELSY));
    run.Order = session.OrderOptions();
    run.MouseEnds = session.Settings.MouseMove;
    run.Fit = session.FitOptions();
    run.Scene.Picture = run.Picture.get();
    if (spread) MakeFlights(run, ::GetDeviceCaps(run.DC.Get(), LOGPIXELSY));
    return static_cast<bool>(run.DC);
}

// Ends the run on the main thread, once its render thread has gone: the
// set-up in reverse. Records "Prev" and "FPS" for a full-screen run. True
// when the loader has ended too.
bool TeardownRun(TRun& run, TLingeringLoaders& lingering) {
    TSession& session = *run.Session;
    RunState.Flags |= kRunTeardown;
    RunState.StopRequested = 1;  // closing the window asks for no password now
    run.Scene.Owner.Check("The scene");
    run.Scene.Picture = nullptr;
    for (auto& flight : run.Flights) {
        flight->Scene.Owner.Check("The scene");
        flight->Scene.Picture = nullptr;
    }
    run.DC.Reset();
    if (run.Window && ::IsWindow(run.Window)) ::SendMessageA(run.Window, WM_CLOSE, 0, 0);
    // The loader: a full-screen run waits for it (the process ends next);
    // one from the dialog leaves a decode still running to finish on its
    // own, with the bitmap it writes into.
    bool loaderEnded = true;
    if (run.Loader) {
        CancelLoader(*run.Loader);
        DWORD wait = kLoaderHandBackWaitMs;
        if (!RunState.LaunchedFromDialog) {
            const DWORD since = ::GetTickCount() - run.StopTick;
            wait = since < kLoaderStopWaitMs ? kLoaderStopWaitMs - since : 0;
        }
        loaderEnded = LoaderEnded(*run.Loader, wait);
        if (!loaderEnded) {
            run.Loader->keptBitmap = std::move(run.Picture);
            for (auto& flight : run.Flights) run.Loader->keptFlightBitmaps.push_back(std::move(flight->Picture));
            lingering.push_back(std::move(run.Loader));
        }
        run.Loader.reset();
    }
    // The loader has ended, or was left inside a decode after which it does
    // not touch the sequence again: the main thread holds it until the run
    // is over. The catalogue stays the loader's until it has ended (see
    // WaitForLingeringLoaders); meanwhile both only read it.
    const TThreadClaim sequence(session.Sequence.Owner);
    std::optional<TThreadClaim> catalogue;
    if (loaderEnded) catalogue.emplace(session.PicList.Owner);
    run.Picture.reset();
    run.Flights.clear();
    if (run.FullScreen) {
        CloseCoverWindows(run);
        RestoreRunCursor(run);
        BOOL previous = FALSE;
        ::SystemParametersInfoA(SPI_SETSCREENSAVERRUNNING, FALSE, &previous, 0);
        // The last picture the show put on the screen; a run that showed
        // none leaves the resume position as it was.
        if (run.ShownIndex >= 0) SaveResumePosition(session.PicList, run.ShownIndex, run.Order.ResumeLast);
        TRegKey key = CreateRegKey(HKEY_CURRENT_USER, kSettingsKey);
        const std::int32_t fps = run.FramesPerSecond;
        if (key && fps != -1) WriteRegString(key.Get(), "FPS", std::to_string(fps));
    }
    run.TimerResolution.Restore();
    // 1-4 undone: a report from here on is no longer about this run.
    SetReportWindow(nullptr);
    MarkTimeline(loaderEnded ? "teardown-done" : "teardown-done loader-stuck");
    RunState.Flags &= ~static_cast<std::uint32_t>(kRunTeardown | (run.FullScreen ? kRunFullScreen : kRunPreview));
    return loaderEnded;
}

}  // namespace

bool FramePacingWanted() {
    char value[8] = "";
    return !(::GetEnvironmentVariableA("QV_UNPACED", value, sizeof value) > 0 && value[0] == '1');
}

TSaverRuns::TSaverRuns(TSession& session) : session_(session) {}

TSaverRuns::~TSaverRuns() {
    EndLingeringLoaders();
}

std::size_t TSaverRuns::LingeringLoaderCount() const {
    return lingering_.size();
}

bool TSaverRuns::WaitForLingeringLoaders(DWORD waitMs) {
    ReapLingeringLoaders(lingering_, waitMs);
    return lingering_.empty();
}

void TSaverRuns::EndLingeringLoaders() {
    if (lingering_.empty()) return;
    ReapLingeringLoaders(lingering_, 2000);
    // A decode that still has not returned is stuck in its plug-in; the
    // plug-ins are about to be unloaded under it, so the process ends here,
    // without running anything else of the stuck thread's libraries.
    if (!lingering_.empty()) ::TerminateProcess(::GetCurrentProcess(), 0);
}

TRunSummary TSaverRuns::Run(HWND host) {
    TRun run;
    TRunSummary summary;
    const bool ready = SetUpRun(run, host, session_, lingering_);
    summary.Window = run.Window;
    TKernelHandle render;
    if (ready) {
        // 11-12: start the render thread, wait for its context, then show
        // the window: its first frame is drawn by then or follows at once.
        run.ContextPending = true;
        render.Reset(::CreateThread(nullptr, kThreadStack, RenderThreadMain, &run, 0, nullptr));
    }
    if (render) {
        const HANDLE renderThread = render.Get();
        while (run.ContextPending) {
            // A thread that died without clearing the flag must not hold us
            // here. Messages another thread sends to this one's windows while
            // it sets up its context are answered meanwhile, so it never
            // waits on us.
            const DWORD woken = ::MsgWaitForMultipleObjects(1, &renderThread, FALSE, 1, QS_SENDMESSAGE);
            if (woken == WAIT_OBJECT_0) break;
            if (woken == WAIT_OBJECT_0 + 1) {
                MSG sent;
                ::PeekMessageA(&sent, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
            }
        }
        ShowSaverWindow(run);
        run.Shown = true;
        MarkTimeline("window-shown");

        // 13-14: pump messages until the run is over. A thread timer wakes
        // the loop regularly, so a wake-up that arrives before the loop
        // waits again cannot leave it blocked once the render thread is done.
        const UINT_PTR wakeTimer = ::SetTimer(nullptr, 0, 100, nullptr);
        DWORD monitorsChecked = ::GetTickCount();
        MSG msg;
        while (!run.RenderDone && !run.RenderFailed && ::GetMessageA(&msg, nullptr, 0, 0) > 0) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
            if (RunState.StopRequested == 0 && ::GetTickCount() - monitorsChecked >= kMonitorCheckMs) {
                monitorsChecked = ::GetTickCount();
                CheckMonitors(run);
            }
            // Whoever asked for the stop, the windows leave the screen first.
            if (RunState.StopRequested != 0) VanishRunWindows(run);
        }
        if (wakeTimer) ::KillTimer(nullptr, wakeTimer);
        // The render thread has released its context and only returns now
        // (or ended through its error handler); a run that ends with it gone
        // leaves nothing of itself, its connection to the display included,
        // to a later run.
        RunState.StopRequested = 1;
        VanishRunWindows(run);
        ::WaitForSingleObject(render.Get(), run.RenderDone ? kRenderExitWaitMs : INFINITE);
    }
    summary.LoaderEnded = TeardownRun(run, lingering_);
    summary.FramesPerSecond = run.FramesPerSecond;
    // A decode stuck in its plug-in: everything is recorded, and the
    // plug-ins must not be unloaded under it. The process ends as the system
    // ends it, without a thread terminated in a process that goes on.
    if (!summary.LoaderEnded && !RunState.LaunchedFromDialog) ::TerminateProcess(::GetCurrentProcess(), 0);
    return summary;
}
