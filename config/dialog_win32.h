#pragma once
#include <windows.h>

#include <memory>

#include "base/handles_win32.h"
#include "config/controls_win32.h"
#include "imaging/bitmap_win32.h"

// The configuration dialog: one top-level window with a tab control of
// three pages and a row of buttons, built in code from the wrappers of
// controls_win32.h. One dialog per process; its state is module-wide.

// Control identifiers (WM_COMMAND and WM_NOTIFY keys).
enum TDialogId : int {
    kIdAddFolder = 4,
    kIdRemove = 5,
    kIdIncludeSubdirs = 6,
    kIdAutoRefresh = 7,
    kIdPicturePane = 9,
    kIdOk = 16,
    kIdCancel = 17,
    kIdPreview = 26,
    kIdTab = 27,
    kIdTree = 54,
    kIdAddPhoto = 63,
    kIdRefreshFolder = 65,
    kIdOptions = 66,
};

enum TDialogPage : int { kPageMore = 0, kPagePhotos = 1, kPageAbout = 2 };

constexpr const char kDialogClass[] = "WSSW_Quorvane";
constexpr const char kDialogTitle[] = "Quorvane";

struct TDialogState {
    HWND Main = nullptr;                  // destroyed by the window manager or the tear-down
    std::unique_ptr<TmyTabControl> Tabs;  // null until the tab control exists
    HWND Tab = nullptr;                   // child of Main
    // 96-DPI y offset of the page area: 10 while the pages are built, then
    // 10 plus the tab strip's height.
    int PageTopOffset = 10;
    int LastShownPage = -1;  // page whose selection was last brought up to date
    HWND OptionsButton = nullptr;
    HWND OkButton = nullptr;
    HWND CancelButton = nullptr;
    HWND PreviewButton = nullptr;
    TWindow ToolTip;  // top-level, so owned here
    TGdiObject HighlightBrush, ShadowBrush;
    TGdiObject ShadowPen, HighlightPen;  // the frame around the picture pane
    bool ComInitialised = false;
    bool PreviewRunning = false;  // a preview run's loop is inside the command handler
    bool TornDown = false;
    std::unique_ptr<TBitmap> PreviewBitmap;  // scaled(320) x scaled(240)
    HWND Pane = nullptr;                     // the picture pane, child of the Photos page
    HDC PaneDC = nullptr;                    // GetDC(Pane), released at tear-down
};
extern TDialogState Dialog;

// The dialog entry of mode "c": loads the application data, shows the
// dialog and runs it to its end, which ends the process. Returns only when
// the window class or the window could not be made.
void RunConfigDialog();

// The two halves of RunConfigDialog, for in-process tests: start-up steps
// 1 to 13 (false when the dialog could not be made), then the message loop.
bool CreateConfigDialog();
void RunDialogMessageLoop();

// What ends the dialog after its tear-down. The product frees the
// application data and ends the process; a test can take the end instead
// (the tear-down then destroys the main window itself).
using TDialogEnd = void (*)();
void SetDialogEndHook(TDialogEnd end);  // null: FreeApplicationData

// Hides "Options >>", shows "OK", "Cancel" and "Preview", and moves from
// page 0 to the Photos page.
void RevealButtons();
// Save and exit ("OK") and exit without saving ("Cancel").
void SaveAndExit();
void TearDownDialog();
