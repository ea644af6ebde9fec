#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/handles_win32.h"
#include "base/thread_owner.h"
#include "catalogue/sequence.h"
#include "imaging/bitmap_win32.h"
#include "imaging/picture_shape_win32.h"
#include "imaging/prepare_win32.h"
#include "render/scene_state.h"
#include "render/timing_win32.h"
#include "session/show_options.h"

class TGLControl;
class TSession;
struct TLoaderJob;

// Mouse moves to new positions tolerated before a full-screen run ends.
constexpr std::int32_t kMouseAllowance = 15;

struct TMonitorEntry {
    RECT Rect;   // monitor rectangle in virtual-screen coordinates
    HWND Cover;  // its cover window; null for the primary monitor and once closed
};

// Another monitor's flight when photos are shown on every monitor: its part
// of the saver window, its own star field and panel, and its own picture.
// The main thread makes it before the render thread starts and ends it
// after; meanwhile the scene is the render thread's, and the picture is
// handed between the loader and the render thread as the primary's is.
struct TFlight {
    RECT View{};  // the monitor, in the saver window's client coordinates
    TPictureShape Shape = TPictureShape::Landscape;  // the monitor's
    std::uint32_t FirstLaunchMs = 0;  // its first picture is asked for this long into the run
    std::int32_t CaptionHeight = 0;   // caption character height in Picture's pixels
    TScene Scene;
    std::unique_ptr<TBitmap> Picture;
};

// One run of the saver, from its windows to its teardown. TSaverRuns::Run owns it
// on the main thread's stack; the window procedures reach it through the
// saver and cover windows, the render thread through its start parameter,
// the loader through its own job, which can outlive the run. Threads named
// in brackets: M main, R render, L loader.
struct TRun {
    TRun();
    TRun(const TRun&) = delete;
    TRun& operator=(const TRun&) = delete;
    ~TRun();

    // Fixed before the render thread starts [M writes, R reads].
    TSession* Session = nullptr;  // what the run shows, and its random generator; borrowed [M, R, L]
    bool FullScreen = false;  // no host window
    bool Paced = true;        // frames wait for the monitor's refresh
    HWND Host = nullptr;      // the preview's host, else null
    HWND Window = nullptr;    // the saver window; destroyed through its own WM_CLOSE by the teardown
    TWindowDC DC;             // the saver window's DC for the run's length
    std::int32_t Width = 0;   // screen size in full screen, else the window's size
    std::int32_t Height = 0;
    DWORD MainThreadId = 0;            // the thread that pumps the windows' messages
    std::unique_ptr<TBitmap> Picture;  // prepared by the loader, uploaded by the scene; see TLoaderJob
    TSequenceOptions Order;            // the show's order and resume choice
    TFitOptions Fit;                   // how pictures are fitted into Picture
    TShowOptions Show;                 // keys steering, caption, panel shape and flight speed
    double UnitsPerMs = 0.02;          // scene units the panel and the stars move per elapsed millisecond
    std::int32_t CaptionHeight = 0;    // caption character height in Picture's pixels
    bool IntendedColours = false;      // pictures that carry a colour profile are converted for the monitor
    std::vector<std::uint8_t> MonitorProfile;  // the saver window's monitor's profile; empty: sRGB
    bool MouseEnds = true;   // mouse moves count towards the end of a full-screen show
    // Photos on every monitor: the saver window spans them all (Spread, in
    // virtual-screen coordinates), the primary's scene is drawn in
    // PrimaryView and every other monitor has a flight. Empty: one monitor's show.
    std::vector<std::unique_ptr<TFlight>> Flights;
    RECT Spread{};
    RECT PrimaryView{};
    TPictureShape PrimaryShape = TPictureShape::Landscape;

    TScene Scene;  // what the frames draw [R; sizes and picture fixed by M before R starts]
    std::unique_ptr<TGLControl> Control;  // the render thread's GL control; null outside it [R]
    std::unique_ptr<TLoaderJob> Loader;   // started by the render loop [R], ended by the teardown [M]

    std::atomic<bool> ContextPending{
        false};  // from before the render thread starts until its control exists [M, R]
    std::atomic<bool> RenderFailed{
        false};  // the render thread ended through its error handler [R sets, M reads]
    std::atomic<bool> RenderDone{false};      // the render thread has finished its part [R sets, M reads]
    std::atomic<bool> Shown{false};           // the saver window has been shown [M sets, R reads]
    std::atomic<bool> Paused{false};          // freezes the animation [M, R]
    std::atomic<bool> CrashTestArmed{false};  // F12 then F11: the next once-a-second check raises [M, R]
    std::atomic<std::int32_t> FramesPerSecond{
        -1};                         // last measured rate; -1 before the first [R writes, M reads]
    std::atomic<DWORD> StopTick{0};  // GetTickCount when the render loop saw the stop [R, then M]
    std::atomic<std::int32_t> ShownIndex{-1};  // the catalogue picture launched last; -1 before the first [R, then M]
    // Steering keys not yet taken by the render loop [M adds, R takes]:
    // pictures on (positive) or back (negative), and hide requests.
    std::atomic<std::int32_t> SteerSteps{0};
    std::atomic<std::int32_t> HideRequests{0};

    // The input rules and the windows [M, claimed by SetUpRun].
    TThreadOwner Main;
    TTimerResolution TimerResolution;               // raised by the set-up, restored by the teardown
    std::int32_t MouseAllowance = kMouseAllowance;  // moves still tolerated
    LPARAM LastMousePosition = 0;                   // last WM_MOUSEMOVE position word
    bool F12Seen = false;                           // an F12 of this run arms the F11 crash test
    bool PausedByMonitor = false;                   // Paused was set because the monitor went off
    bool Vanished = false;                          // the windows are off the screen
    bool CursorHidden = false;                      // the run's ShowCursor(FALSE) awaits its ShowCursor(TRUE)
    std::vector<TMonitorEntry> Monitors;            // every monitor; cover windows on all but the primary
    std::size_t PrimaryIndex = 0;
};
