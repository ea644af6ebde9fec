#pragma once
#include <windows.h>

#include "render/run_win32.h"

// The windows of a run and the rules that end it: the saver window (full
// screen, or a child filling a preview host), black cover windows on every
// other monitor, and the window procedure that turns input, power and focus
// events into a stop, a pause or nothing. All of it runs on the main thread.
// The windows carry their run: the procedures find it there.

constexpr const char* kSaverClass = "Show_MainWindow";
constexpr const char* kCoverClass = "Black_Quorvane";
constexpr const char* kSaverTitle = "Tessilund Quorvane";

// Creates the run's saver window (host null: full screen, top-most, not
// yet shown, at the given rectangle; else a visible child filling the
// host's client area, whatever the rectangle). On failure tells the user
// and returns null; the caller ends the run.
HWND CreateSaverWindow(TRun& run, HWND host, int x, int y, int width, int height);
// Shows the saver window and brings a full-screen one to the foreground.
void ShowSaverWindow(const TRun& run);
// Blacks out every monitor but the primary one; false when the system has
// no multi-monitor functions. Raises when a cover window cannot be made.
bool CoverOtherMonitors(TRun& run);
void CloseCoverWindows(TRun& run);
// Photos on every monitor instead of covers: fills the run's monitor table
// and sets run.Spread to the rectangle around them all. False, with the
// table empty, unless there are two monitors or more.
bool SpreadOverMonitors(TRun& run);
// A monitor added, removed or resized during a full-screen show: a new size
// of the primary stops the show as input would; any other change gives the
// other monitors fresh covers, so that none is left where no monitor is. A
// show on every monitor stops at any change, since its window and flights
// are made for the monitors it began with.
void FollowDisplayChange(TRun& run);
// The same for a change the system did not announce (Wine announces none
// made on the X server): compares the monitors with the table.
void CheckMonitors(TRun& run);
// Takes the saver window (full screen) and every cover window off the screen
// at once, before the run has finished: an empty window region makes a
// window invisible without the window manager's round trip that hiding or
// destroying needs (under Wine without a window manager that round trip
// waits two seconds), and gives the pointer back. The windows themselves go
// later, in the teardown. A second call does nothing.
void VanishRunWindows(TRun& run);
// Hides the cursor for a full-screen run, once; RestoreRunCursor undoes it.
// Both on the main thread, whose input queue owns the cursor's show count.
void HideRunCursor(TRun& run);
void RestoreRunCursor(TRun& run);
// True when the saver may end: no password is set, the system's password
// check is missing, or the user typed the right one.
bool VerifyPassword(TRun& run);

LRESULT CALLBACK SaverWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK CoverWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
