#include "config/preview_win32.h"

#include <commctrl.h>

#include <string>
#include <utility>
#include <vector>

#include "app/state.h"
#include "base/handles_win32.h"
#include "catalogue/scan.h"
#include "config/dialog_win32.h"
#include "config/photos_win32.h"
#include "render/runloop_win32.h"

namespace {

TPreviewRunner previewRunner = nullptr;

void RunFullScreenSaver() {
    RunSaver(nullptr);
}

// One rectangle in two pens: `first` up the left side and along the top,
// `second` down the right side and back along the bottom.
void Frame(HDC dc, const POINT& lt, const POINT& rb, HGDIOBJ first, HGDIOBJ second) {
    {
        TSelectGuard pen(dc, first);
        ::MoveToEx(dc, lt.x, rb.y, nullptr);
        ::LineTo(dc, lt.x, lt.y);
        ::LineTo(dc, rb.x, lt.y);
    }
    TSelectGuard pen(dc, second);
    ::LineTo(dc, rb.x, rb.y);
    ::LineTo(dc, lt.x, rb.y);
}

// The raised frame and the sunken frame inside it around the picture pane.
// The positions are the tab control's; the frame is drawn on the Photos page,
// which lies over the tab control's display area and would hide it.
void DrawPaneFrame(HWND tab) {
    HWND page = Dialog.Tabs->PageWindow(kPagePhotos);
    if (!page || !Dialog.PreviewBitmap) return;
    const int w = Dialog.PreviewBitmap->Width;
    const int h = Dialog.PreviewBitmap->Height;
    const int o = Dialog.PageTopOffset;
    POINT p[4] = {
        {Scaled(231), Scaled(o + 1)},
        {Scaled(248) + w, Scaled(o + 18) + h},
        {Scaled(240) - 1, Scaled(o + 10) - 1},
        {Scaled(240) + w - 1, Scaled(o + 10) + h - 1},
    };
    ::MapWindowPoints(tab, page, p, 4);
    TWindowDC dc(page);
    if (!dc) return;
    Frame(dc.Get(), p[0], p[1], Dialog.HighlightPen.Get(), Dialog.ShadowPen.Get());
    Frame(dc.Get(), p[2], p[3], Dialog.ShadowPen.Get(), Dialog.HighlightPen.Get());
}

}  // namespace

void SetPreviewRunner(TPreviewRunner runner) {
    previewRunner = runner;
}

LRESULT CALLBACK PaneProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg != WM_PAINT) return ::DefWindowProcA(wnd, msg, wp, lp);
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(wnd, &ps);
    if (dc) DrawPane(dc);
    ::EndPaint(wnd, &ps);
    return 0;
}

void DrawPane(HDC dc) {
    const TBitmap* b = Dialog.PreviewBitmap.get();
    if (!dc || !b || !b->DC) return;
    ::BitBlt(dc, 0, 0, b->Width - 1, b->Height - 1, b->DC, 0, 0, SRCCOPY);
}

void ClearPane() {
    if (!Dialog.PreviewBitmap) return;
    Dialog.PreviewBitmap->Clear();
    DrawPane(Dialog.PaneDC);
}

void AfterPaint(HWND tab) {
    if (!Dialog.Tabs || !tab) return;
    const int page = Dialog.Tabs->CurrentPage();
    if (page != kPageMore && ::IsWindowVisible(Dialog.OptionsButton)) RevealButtons();
    if (Dialog.Tabs->CurrentPage() != kPagePhotos) {
        // Remembered so that coming back to the Photos page brings it up to date.
        Dialog.LastShownPage = Dialog.Tabs->CurrentPage();
        return;
    }
    DrawPaneFrame(tab);
    if (Dialog.LastShownPage != kPagePhotos) {
        // Set first: the selection below paints, which comes back here.
        Dialog.LastShownPage = kPagePhotos;
        SyncPhotosPage();
    }
}

void RunPreview() {
    if (Dialog.PreviewRunning) return;
    LaunchedFromDialog = true;
    std::vector<std::string> dialogFound;
    dialogFound.swap(FoundList);
    HCURSOR starting = ::LoadCursorA(nullptr, IDC_APPSTARTING);
    DialogBusyCursor = starting;
    ::SetCursor(starting);

    {
        Dialog.PreviewRunning = true;
        struct TRunEnd {
            std::vector<std::string>& found;
            ~TRunEnd() {
                Dialog.PreviewRunning = false;
                DialogBusyCursor = nullptr;
                found.swap(FoundList);
                ScanRoot.clear();
            }
        } runEnd{dialogFound};
        if (previewRunner)
            previewRunner();
        else
            RunFullScreenSaver();
    }
    // The whole dialog was under the saver's window: paint all of it anew,
    // and give the pointer its arrow back.
    if (Dialog.Main)
        ::RedrawWindow(Dialog.Main, nullptr, nullptr,
                       RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    ::SetCursor(::LoadCursorA(nullptr, IDC_ARROW));
}
