#include "config/preview_win32.h"

#include "base/run_state.h"
#include "config/controls_win32.h"
#include "config/hooks_win32.h"
#include "render/runloop_win32.h"

namespace {

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

}  // namespace

bool TPicturePane::Create(const TCreateArgs& a) {
    shadowPen_.Reset(::CreatePen(PS_SOLID, 1, ::GetSysColor(COLOR_BTNSHADOW)));
    highlightPen_.Reset(::CreatePen(PS_SOLID, 1, ::GetSysColor(COLOR_BTNHIGHLIGHT)));
    bitmap_ = std::make_unique<TBitmap>(a.WidthPx, a.HeightPx);
    TPaneArgs pane;
    pane.Parent = a.Parent;
    pane.Id = a.Id;
    pane.ClassName = kPaneClass;
    pane.Proc = Proc;
    pane.X = a.X;
    pane.Y = a.Y;
    pane.WidthPx = a.WidthPx;
    pane.HeightPx = a.HeightPx;
    pane.Object = this;
    window_ = CreatePicturePane(pane);
    if (!window_) return false;
    dc_.Reset(window_);
    colours_ = std::make_unique<TColourConverter>(a.IntendedColours ? DisplayProfile(dc_.Get())
                                                                    : std::vector<std::uint8_t>());
    prepare_ = {a.Plugins, a.Fit, {a.IntendedColours, colours_.get()}};
    return true;
}

void TPicturePane::Destroy() {
    prepare_.Colours.Converter = nullptr;
    colours_.reset();
    dc_.Reset();
    // A paint that still reaches the window finds no object to draw from.
    if (window_ && ::IsWindow(window_)) ::SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
    window_ = nullptr;
    bitmap_.reset();
    highlightPen_.Reset();
    shadowPen_.Reset();
}

LRESULT CALLBACK TPicturePane::Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    const TPicturePane* pane = BoundObject<TPicturePane>(wnd, msg, lp);
    if (msg != WM_PAINT) return ::DefWindowProcA(wnd, msg, wp, lp);
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(wnd, &ps);
    if (dc && pane) pane->DrawOn(dc);
    ::EndPaint(wnd, &ps);
    return 0;
}

void TPicturePane::DrawOn(HDC dc) const {
    const TBitmap* b = bitmap_.get();
    if (!dc || !b || !b->DC()) return;
    ::BitBlt(dc, 0, 0, b->Width - 1, b->Height - 1, b->DC(), 0, 0, SRCCOPY);
}

void TPicturePane::Clear() {
    if (!bitmap_) return;
    bitmap_->Clear();
    Draw();
}

bool TPicturePane::Load(const std::string& path, TPreviewInfo& info) {
    if (held_) {
        refused_ = true;
        return false;
    }
    if (!bitmap_) return false;
    LoadPreviewPicture(*bitmap_, path, info, prepare_);
    return true;
}

void TPicturePane::HoldDecodes() {
    held_ = true;
    refused_ = false;
}

bool TPicturePane::ResumeDecodes() {
    held_ = false;
    const bool refused = refused_;
    refused_ = false;
    return refused;
}

void TPicturePane::DrawFrame(HWND page, HWND tab, int pageTopOffset) const {
    if (!page || !bitmap_) return;
    const int w = bitmap_->Width;
    const int h = bitmap_->Height;
    const int o = pageTopOffset;
    // The positions are the tab control's; the frame is drawn on the page,
    // which lies over the tab control's display area and would hide it.
    POINT p[4] = {
        {Scaled(231), Scaled(o + 1)},
        {Scaled(248) + w, Scaled(o + 18) + h},
        {Scaled(240) - 1, Scaled(o + 10) - 1},
        {Scaled(240) + w - 1, Scaled(o + 10) + h - 1},
    };
    ::MapWindowPoints(tab, page, p, 4);
    TWindowDC dc(page);
    if (!dc) return;
    Frame(dc.Get(), p[0], p[1], highlightPen_.Get(), shadowPen_.Get());
    Frame(dc.Get(), p[2], p[3], shadowPen_.Get(), highlightPen_.Get());
}

void RunSaverFromDialog(TSaverRuns& runs) {
    RunState.LaunchedFromDialog = true;
    if (const auto& run = ConfigHooks().RunPreview)
        run();
    else
        runs.Run(nullptr);
}
