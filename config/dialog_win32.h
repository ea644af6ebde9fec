#pragma once
#include <windows.h>

#include <memory>

#include "base/handles_win32.h"
#include "config/controls_win32.h"
#include "config/dialog_ids.h"
#include "config/photos_win32.h"
#include "config/show_page_win32.h"
#include "render/runloop_win32.h"

// The configuration dialog: one top-level window with a tab control of
// three pages and a row of buttons, built in code from the wrappers of
// controls_win32.h. One dialog per process.

constexpr const char kDialogClass[] = "WSSW_Quorvane";
constexpr const char kDialogTitle[] = "Quorvane";

class TSession;

class TConfigDialog {
public:
    explicit TConfigDialog(TSession& session) : session_(session), runs_(session) {}
    TConfigDialog(const TConfigDialog&) = delete;
    TConfigDialog& operator=(const TConfigDialog&) = delete;
    // A dialog still on the screen (only a test leaves one) loses its
    // window here, without its tear-down's end.
    ~TConfigDialog();

    // Start-up steps 1 to 13; false when the dialog could not be made.
    bool Create();
    // Stops the fill, gives back what the start-up made, and ends: the
    // product's end frees the application data and ends the process; a
    // test's end destroys the windows first and returns.
    void TearDown();

    // Destroyed by the window manager or the tear-down; null before Create.
    HWND Main() const { return main_; }
    HWND Tab() const { return tab_; }
    TmyTabControl* Tabs() const { return tabs_.get(); }
    HWND ToolTip() const { return toolTip_.Get(); }
    TBusyCursors& Busy() { return busy_; }
    TPhotosPage& Photos() { return photos_; }
    TShowPage& Show() { return show_; }

private:
    static LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT HandleMessage(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
    void BuildPagesAndButtons();
    void AddToolTips();
    void DispatchCommand(int id);
    // After every paint of a page or the tab control: reveals the buttons
    // when a page other than the first is shown, draws the pane's frame, and
    // brings the Photos page up to date when it is newly shown.
    void AfterPaint();
    // Hides "Options >>", shows "OK", "Cancel" and "Preview", and moves from
    // page 0 to the Photos page.
    void RevealButtons();
    // "Preview": waits for the tree fill, runs the screensaver full screen
    // with the catalogue and settings as they are in memory while the pane
    // holds its decodes back, then shows what it held back and repaints.
    void RunPreview();
    // Save and exit ("OK"); exit without saving is TearDown.
    void SaveAndExit();
    bool SaveWithRetry();
    void WarnIfCatalogueBlocked();
    void WarnIfCatalogueIncomplete();
    bool ConfirmPartialCatalogueSave();
    // True once no loader of an ended preview may still read the catalogue;
    // tells the user when one is still busy after a wait.
    bool CatalogueFreeForEdits();

    TSession& session_;  // the process's: settings, catalogue and plug-ins the dialog edits and shows
    TSaverRuns runs_;    // the previews' runs, and the loaders they leave finishing
    HWND main_ = nullptr;
    std::unique_ptr<TmyTabControl> tabs_;  // null until the tab control exists
    HWND tab_ = nullptr;                   // child of main_
    int lastShownPage_ = -1;               // page whose selection was last brought up to date
    HWND optionsButton_ = nullptr;
    HWND okButton_ = nullptr;
    HWND cancelButton_ = nullptr;
    HWND previewButton_ = nullptr;
    TWindow toolTip_;  // top-level, so owned here
    TGdiObject highlightBrush_, shadowBrush_;
    TBusyCursors busy_;
    TPhotosPage photos_;
    TShowPage show_;
    bool previewRunning_ = false;  // a preview run's loop is inside the command handler
    bool tornDown_ = false;
};

// The dialog of this process: made anew by each CreateConfigDialog and kept
// until the next, so that what its tear-down left can still be read. Null
// before the first. The one process-wide record of the dialog.
TConfigDialog* CurrentDialog();

// The dialog entry of mode "c": starts `session` (the application data),
// shows the dialog and runs it to its end, which ends the process. Returns
// only when the window class or the window could not be made.
void RunConfigDialog(TSession& session);

// The two halves of RunConfigDialog, for in-process tests: start-up steps
// 1 to 13 (false when the dialog could not be made), then the message loop.
bool CreateConfigDialog(TSession& session);
void RunDialogMessageLoop();

// The current dialog's tear-down ("Cancel" and the close box run it too).
void TearDownDialog();
