#pragma once
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "imaging/bitmap_win32.h"

class TGLControl;

// The run: the main thread prepares the windows and pumps messages; the
// render thread owns the OpenGL context and draws frame after frame; the
// loader thread prepares the next picture into PictureBitmap on request.
// Threads named in brackets: M main, R render, L loader.

extern bool FullScreen;          // no host window [M, R]; fixed before the render thread starts
extern HWND ParentWindow;        // the preview's host, else null [M, R]
extern HWND SaverWindow;         // destroyed by its own WM_CLOSE (teardown) [M, R]
extern HDC SaverDC;              // GetDC(SaverWindow); released by the teardown [M, R]
extern std::int32_t SaverWidth;  // screen size in full screen, else the window's size
extern std::int32_t SaverHeight;
// The bitmap the loader prepares each picture into and the scene uploads.
// Written only between a release and the next take of the hand-over flags.
extern std::unique_ptr<TBitmap> PictureBitmap;
extern std::unique_ptr<TGLControl> Control;  // the render thread's control; null outside it [R]

extern std::atomic<bool>
    ContextPending;                     // from just before the render thread starts until its control exists
extern std::atomic<bool> RenderFailed;  // the render thread ended through its error handler [R sets, M reads]
extern std::atomic<bool> RenderDone;    // the render thread has finished [R sets, M reads]
extern std::atomic<bool> PictureRequested;  // the loader was asked for a picture not yet taken [R, L]
extern std::atomic<bool> PictureReady;      // the loader has a picture ready [R, L]
extern std::atomic<bool> Paused;            // freezes the animation [M, R]
extern std::atomic<bool> CrashTestArmed;    // F12 then F11: the next once-a-second check raises [M, R]

extern std::uint32_t LastFrameTick;                // milliseconds
extern std::uint32_t LastRateTick;                 // milliseconds
extern std::int32_t FrameCount;                    // frames since LastRateTick
extern std::atomic<std::int32_t> FramesPerSecond;  // this run's last measured rate; -1 before the first

// Runs the saver; host null means full screen. Returns only for a run the
// configuration dialog started; otherwise the process ends in the teardown.
void RunSaver(HWND host);
// The OpenGL acceleration check; false when the user was told that
// acceleration is missing.
bool CheckAcceleration(bool onlyOnce);

DWORD WINAPI RenderThreadMain(void*);
void RenderLoop();
// The loader of one run; its parameter is the run's loader record.
DWORD WINAPI LoaderThreadMain(void* job);
void TeardownRun();
void ReleaseGL();

// Frame pacing: true (the product) waits between frames so that they are
// drawn no faster than the monitor refreshes; false draws back to back with
// a 1 ms sleep, for comparison. Each run sets it from the environment
// (QV_UNPACED=1: unpaced) before its render thread starts.
extern bool FramePacing;
// Milliseconds between frames for a monitor refresh rate in hertz; 0 and 1
// (the hardware's default rate) count as 60 Hz.
double FramePeriodMs(std::uint32_t refreshHz);
// Milliseconds from the performance counter, with fractions.
double PreciseMs();

// Loaders of ended runs from the dialog that were still finishing a
// cancelled decode when their run returned [M]. A new run waits up to a
// second for them; EndLingeringLoaders waits up to two seconds more and ends
// the process at once if one is still stuck in its plug-in (it runs before
// the plug-ins are unloaded).
std::size_t LingeringLoaderCount();

// Measuring aid for the end-to-end benchmark: with the environment variable
// QV_TIMELINE naming a file, appends "<ms since the process was created>
// <event>" for the run's milestones; does nothing otherwise.
void MarkTimeline(const char* event);
void EndLingeringLoaders();

// What the render loop reports to a frame observer, on the render thread.
struct TFrameEvent {
    enum class Kind {
        Stepped,   // the frame's motion step is computed from the clock
        Launched,  // a prepared picture was taken and its panel launched
        Drawn,     // the frame is drawn
    } What;
    float FrameStep;  // scene units of this frame (0.02 per millisecond)
    bool Uploaded;    // Drawn: this frame uploaded the picture
};
using TFrameObserver = void (*)(const TFrameEvent& event);
// Lets a measuring program watch the frames; null (the product) watches nothing.
void SetFrameObserver(TFrameObserver observer);

// The driver kind of pixel format 1 of the desktop: "MCD", "ICD", "No",
// or empty when it cannot be described.
std::string DriverKind();
// The text of the acceleration warning.
extern const char* const kAccelerationMessage;
