#pragma once
#include <windows.h>

// The picture pane of the Photos page, the frame around it, and the preview
// run of the whole screensaver from inside the dialog.

constexpr const char kPaneClass[] = "Timage1_PR";

LRESULT CALLBACK PaneProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
// Copies the preview bitmap to `dc` (the pane's own DC outside painting).
void DrawPane(HDC dc);
// Clears the preview bitmap to black and draws it.
void ClearPane();
// After every paint of a page or the tab control: reveals the buttons when
// a page other than the first is shown, draws the pane's frame, and brings
// the Photos page up to date when it is newly shown.
void AfterPaint(HWND tab);
// "Preview": runs the screensaver full screen with the catalogue and
// settings as they are in memory, then repaints the dialog.
void RunPreview();

// What "Preview" runs. The product runs the full-screen saver; a test may
// run something of its own in its place.
using TPreviewRunner = void (*)();
void SetPreviewRunner(TPreviewRunner runner);  // null: the full-screen saver
