#pragma once
#include <windows.h>

// The picture pane of the Photos page, the frame around it, and the preview
// run of the whole screensaver from inside the dialog.

#include <memory>
#include <string>

#include "base/handles_win32.h"
#include "config/picture_win32.h"
#include "imaging/bitmap_win32.h"
#include "imaging/colour_convert_win32.h"

constexpr const char kPaneClass[] = "Timage1_PR";

// The pane: a window that shows the preview bitmap, the bitmap itself, and
// the two-pen frame drawn around it on the page. Decodes happen on the
// dialog's thread; while a preview run owns the picture loader the pane
// holds them back and says so, so that its owner shows them after the run.
class TSaverRuns;

class TPicturePane {
public:
    struct TCreateArgs {
        HWND Parent = nullptr;  // the Photos page
        int Id = 0;
        int X = 0, Y = 0;               // 96-DPI
        int WidthPx = 0, HeightPx = 0;  // the bitmap's size in screen pixels; the window is one less each way
        bool IntendedColours = false;   // pictures that carry a colour profile are converted for the monitor
        TPluginHost* Plugins = nullptr;  // the session's, which decode the pictures; borrowed
        TFitOptions Fit;                 // how they are fitted into the pane
    };

    TPicturePane() = default;
    TPicturePane(const TPicturePane&) = delete;
    TPicturePane& operator=(const TPicturePane&) = delete;
    ~TPicturePane() { Destroy(); }

    // Frame pens, bitmap, window and the window's DC, in this order; false
    // when the window could not be made (the bitmap is kept).
    bool Create(const TCreateArgs& args);
    // Releases what Create made, in reverse order; the window itself goes
    // with its parent.
    void Destroy();

    HWND Window() const { return window_; }
    HDC DC() const { return dc_.Get(); }  // the window's own DC outside painting
    TBitmap* Bitmap() const { return bitmap_.get(); }

    // Copies the bitmap to the window.
    void Draw() const { DrawOn(dc_.Get()); }
    // Clears the bitmap to black and draws it.
    void Clear();
    // Decodes `path` fitted into the bitmap (not drawn yet). False, with
    // nothing decoded, while decodes are held back.
    bool Load(const std::string& path, TPreviewInfo& info);

    // From HoldDecodes to ResumeDecodes, Load decodes nothing; ResumeDecodes
    // is true when a Load was refused meanwhile.
    void HoldDecodes();
    bool ResumeDecodes();

    // The raised frame and the sunken frame inside it, drawn on `page` at
    // positions of `tab`, the tab control the page lies over; `pageTopOffset`
    // is the page area's 96-DPI y there.
    void DrawFrame(HWND page, HWND tab, int pageTopOffset) const;

private:
    static LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
    void DrawOn(HDC dc) const;

    TGdiObject shadowPen_, highlightPen_;
    std::unique_ptr<TBitmap> bitmap_;
    HWND window_ = nullptr;  // child of the page, destroyed with it
    TWindowDC dc_;           // GetDC(window_), released by Destroy
    bool held_ = false;      // decodes are held back for a preview run
    bool refused_ = false;   // a Load came while they were

    TPrepareOptions prepare_;                    // the plug-ins, the fitting and the colours' conversion
    std::unique_ptr<TColourConverter> colours_;  // for the pane's monitor, made with the window
};

// Runs the screensaver full screen in this process with the catalogue and
// settings as they are in memory (or ConfigHooks().RunPreview); returns
// once the run is over.
void RunSaverFromDialog(TSaverRuns& runs);
