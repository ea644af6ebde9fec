#pragma once
#include <windows.h>

#include <cstdint>
#include <vector>

// The windows of a run and the rules that end it: the saver window (full
// screen, or a child filling a preview host), black cover windows on every
// other monitor, and the window procedure that turns input, power and focus
// events into a stop, a pause or nothing. All of it runs on the main thread,
// except CloseCoverWindows, which the render thread calls.

constexpr const char* kSaverClass = "Show_MainWindow";
constexpr const char* kCoverClass = "Black_Quorvane";
constexpr const char* kSaverTitle = "Tessilund Quorvane";
// Mouse moves to new positions tolerated before a full-screen run ends.
constexpr std::int32_t kMouseAllowance = 15;

extern std::int32_t MouseAllowance;  // moves still tolerated; reset at every run start
extern LPARAM LastMousePosition;     // last WM_MOUSEMOVE position word; never reset between runs
extern bool PausedByMonitor;         // Paused was set because the monitor went off
extern bool F12Seen;                 // the first F12 of the process arms the F11 crash test

struct TMonitorEntry {
    RECT Rect;   // monitor rectangle in virtual-screen coordinates
    HWND Cover;  // its cover window; destroyed through WM_CLOSE by CloseCoverWindows; null for the primary
};
// Every monitor of the last enumeration; grows with the monitor count.
extern std::vector<TMonitorEntry> MonitorTable;
extern std::int32_t MonitorCount;
extern std::int32_t PrimaryIndex;

// Creates the saver window (host null: full screen, top-most, not yet
// shown; else a visible child filling the host's client area). On failure
// tells the user, ends the run (TeardownRun) and returns null.
HWND CreateSaverWindow(HWND host, int x, int y, int width, int height);
// Shows the saver window and brings a full-screen one to the foreground.
void ShowSaverWindow(HWND wnd);
// Blacks out every monitor but the primary one; false when the system has
// no multi-monitor functions. Raises when a cover window cannot be made.
bool CoverOtherMonitors();
void CloseCoverWindows();
// Takes the saver window (full screen) and every cover window off the screen
// at once, before the run has finished: an empty window region makes a
// window invisible without the window manager's round trip that hiding or
// destroying needs (under Wine without a window manager that round trip
// waits two seconds), and gives the pointer back. The windows themselves go
// later, in the teardown. Main thread; a second call does nothing.
void VanishRunWindows();
// Forgets the last run's vanishing, so that the next run's windows can be
// taken off the screen again. Called when a run starts.
void ResetVanish();
// Hides the cursor for a full-screen run, once; RestoreRunCursor undoes it.
// Both on the main thread, whose input queue owns the cursor's show count.
void HideRunCursor();
void RestoreRunCursor();
// True when the saver may end: no password is set, the system's password
// check is missing, or the user typed the right one.
bool VerifyPassword();

LRESULT CALLBACK SaverWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK CoverWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
