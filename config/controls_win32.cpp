#include "config/controls_win32.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstring>
#include <utility>
#include <vector>

#include "base/handles_win32.h"
#include "base/system_win32.h"
#include "base/ui_win32.h"
#include "config/dialog_rules.h"
#include "config/hooks_win32.h"

namespace {

int ReadScreenDpi() {
    HDC screen = ::GetDC(nullptr);
    int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

const int screenDpi = ReadScreenDpi();

// Control registry. Entry numbers start at 1; 0 means "none".
constexpr int kMaxControlId = 199;

// Theme functions of "uxtheme.dll", resolved at run time.
using DrawThemeParentBackgroundFn = HRESULT(WINAPI*)(HWND, HDC, const RECT*);
using BoolFn = BOOL(WINAPI*)();

// What the control wrappers share, process-wide: the dialog's controls are
// found by their fixed control ids from window procedures and page code
// that get no dialog object, and there is one dialog per process; the
// fonts, cursor and theme entry serve all its controls. The dialog's set-up
// and teardown reset each part.
struct TControlsState {
    HFONT controlFont = nullptr;  // a stock object, never deleted
    std::vector<TGdiObject> headingFonts;
    TGdiObject productHeadingFont;
    HCURSOR linkCursor = nullptr;  // a resource cursor: shared, never destroyed
    std::vector<std::string> linkTargets;

    int registryIndex[kMaxControlId + 1] = {};
    std::vector<HWND> registryWindows = std::vector<HWND>(1, nullptr);
    HWND lastFocused = nullptr;

    TModule themeLibrary;
    DrawThemeParentBackgroundFn drawThemeParentBackground = nullptr;
    bool themesActive = false;
};
TControlsState controls;

// What a subclassed control keeps of itself, in its GWLP_USERDATA (read for
// every message it gets, so no window property, which costs a round trip to
// the window server under Wine): made when it is subclassed, freed after its
// class procedure has seen WM_NCDESTROY.
struct TSubclass {
    WNDPROC Original = nullptr;           // the class's procedure, which gets whatever ours does not handle
    TBusyCursors* Busy = nullptr;         // not owned: the dialog's
    const TmyTabControl* Tabs = nullptr;  // tab controls: their object while it lives; not owned
    int Target = 0;                       // link labels: 1-based index into the target table; 0: none
};

TSubclass* SubclassOf(HWND wnd) {
    // Only windows of ours hold one: the subclassed kinds of this file.
    return reinterpret_cast<TSubclass*>(::GetWindowLongPtrA(wnd, GWLP_USERDATA));
}

void Subclass(HWND wnd, WNDPROC proc, TBusyCursors* busy) {
    auto* data = new TSubclass;
    data->Busy = busy;
    ::SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(data));
    data->Original =
        reinterpret_cast<WNDPROC>(::SetWindowLongPtrA(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc)));
}

// The class's procedure of a subclassed window, `data` being its record;
// DefWindowProcA without one (the pages, whose GWLP_USERDATA holds their tab
// object).
LRESULT CallOriginal(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, TSubclass* data) {
    const LRESULT result = data && data->Original ? ::CallWindowProcA(data->Original, wnd, msg, wp, lp)
                                                  : ::DefWindowProcA(wnd, msg, wp, lp);
    if (msg == WM_NCDESTROY && data) {
        ::SetWindowLongPtrA(wnd, GWLP_USERDATA, 0);
        delete data;
    }
    return result;
}

// The common steps of every wrapper after CreateWindowExA.
HWND Finish(HWND wnd, HFONT font) {
    if (!wnd) return nullptr;
    ::SendMessageA(wnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    ::ShowWindow(wnd, SW_SHOW);
    ::UpdateWindow(wnd);
    return wnd;
}

HWND Make(DWORD exStyle, const char* cls, DWORD style, const TControlArgs& a) {
    const TPlace& p = a.Place;
    return ::CreateWindowExA(exStyle, cls, a.Text ? a.Text : "", style, Scaled(p.X), Scaled(p.Y), Scaled(p.W),
                             Scaled(p.H), a.Parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(a.Id)),
                             Instance(), nullptr);
}

std::string ClassOf(HWND wnd) {
    char name[101] = {};
    int n = ::GetClassNameA(wnd, name, sizeof name);
    return std::string(name, n > 0 ? static_cast<std::size_t>(n) : 0);
}

std::string TextOf(HWND wnd) {
    int n = ::GetWindowTextLengthA(wnd);
    if (n <= 0) return std::string();
    std::string text(static_cast<std::size_t>(n) + 1, '\0');
    n = ::GetWindowTextA(wnd, &text[0], n + 1);
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return text;
}

void ParentBackground(HWND wnd, HDC dc) {
    if (controls.themesActive && controls.drawThemeParentBackground)
        controls.drawThemeParentBackground(wnd, dc, nullptr);
}

enum class TColourOwner { Tab, Group, Page };

// WM_CTLCOLORSTATIC (and for group boxes WM_CTLCOLOREDIT) under themes: let
// labels, track bars and check boxes show the themed page behind them.
LRESULT ColourHandling(TColourOwner owner, HWND self, UINT msg, WPARAM wp, LPARAM lp, TSubclass* data) {
    if (!controls.themesActive) return CallOriginal(self, msg, wp, lp, data);
    HDC dc = reinterpret_cast<HDC>(wp);
    HWND control = reinterpret_cast<HWND>(lp);
    const LRESULT hollow = reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH));
    const std::string cls = ClassOf(control);
    if (cls == "Static") {
        ::SetBkMode(dc, TRANSPARENT);
        if (reinterpret_cast<HFONT>(::SendMessageA(control, WM_GETFONT, 0, 0)) == controls.controlFont)
            ParentBackground(owner == TColourOwner::Group ? self : control, dc);
        return hollow;
    }
    if (cls == "msctls_trackbar32") {
        ParentBackground(control, dc);
        return hollow;
    }
    if (cls == "Button") {
        const LONG type = ::GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK;
        const bool check =
            type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE || type == BS_AUTO3STATE;
        const bool radio = type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
        if (check) {
            if (owner == TColourOwner::Group) {
                ParentBackground(control, dc);
            } else if (owner == TColourOwner::Tab) {
                if (::GetParent(control) == self) ParentBackground(control, dc);
            } else if (TextOf(::GetParent(control)) == "Page") {
                ParentBackground(control, dc);
            }
            return hollow;
        }
        if (radio) {
            if (owner == TColourOwner::Group) ParentBackground(control, dc);
            return hollow;
        }
        if (type == BS_GROUPBOX) {
            if (owner == TColourOwner::Group) ParentBackground(control, dc);
            return CallOriginal(self, msg, wp, lp, data);
        }
        return hollow;
    }
    return CallOriginal(self, msg, wp, lp, data);
}

// WM_DRAWITEM goes to the control named by its identifier.
LRESULT Reflect(HWND self, UINT msg, WPARAM wp, LPARAM lp) {
    (void)self;
    HWND target = ControlById(static_cast<int>(wp));
    return target ? ::SendMessageA(target, msg, wp, lp) : 0;
}

// WM_NOTIFY, WM_COMMAND and WM_HSCROLL travel up to the dialog.
LRESULT Forward(HWND self, UINT msg, WPARAM wp, LPARAM lp, TSubclass* data) {
    LRESULT parentResult = ::SendMessageA(::GetParent(self), msg, wp, lp);
    if (msg == WM_HSCROLL) return parentResult;
    return CallOriginal(self, msg, wp, lp, data);
}

// Shows `which` of `busy`'s cursors when it is set; false otherwise.
bool SetBusyCursor(const TBusyCursors* busy, std::atomic<HCURSOR> TBusyCursors::*which) {
    HCURSOR c = busy ? (busy->*which).load() : nullptr;
    if (!c) return false;
    ::SetCursor(c);
    return true;
}

LRESULT CALLBACK TabProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    TSubclass* data = SubclassOf(wnd);
    switch (msg) {
    case WM_DRAWITEM:
        return Reflect(wnd, msg, wp, lp);
    case WM_NOTIFY:
    case WM_COMMAND:
    case WM_HSCROLL:
        return Forward(wnd, msg, wp, lp, data);
    case WM_VSCROLL:
        return 0;
    case WM_CTLCOLORSTATIC:
        return ColourHandling(TColourOwner::Tab, wnd, msg, wp, lp, data);
    case WM_PAINT: {
        LRESULT r = CallOriginal(wnd, msg, wp, lp, data);
        if (const TmyTabControl* tabs = data ? data->Tabs : nullptr; tabs && tabs->OnPaint) tabs->OnPaint();
        return r;
    }
    }
    return CallOriginal(wnd, msg, wp, lp, data);
}

LRESULT CALLBACK GroupProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    TSubclass* data = SubclassOf(wnd);
    switch (msg) {
    case WM_ERASEBKGND:
        if (controls.themesActive) {
            ParentBackground(wnd, reinterpret_cast<HDC>(wp));
            return 1;
        }
        break;
    case WM_DRAWITEM:
        return Reflect(wnd, msg, wp, lp);
    case WM_NOTIFY:
    case WM_COMMAND:
    case WM_HSCROLL:
        return Forward(wnd, msg, wp, lp, data);
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
        return ColourHandling(TColourOwner::Group, wnd, msg, wp, lp, data);
    }
    return CallOriginal(wnd, msg, wp, lp, data);
}

LRESULT CALLBACK TreeProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    TSubclass* data = SubclassOf(wnd);
    if (msg == WM_SETCURSOR && SetBusyCursor(data ? data->Busy : nullptr, &TBusyCursors::List)) return 0;
    return CallOriginal(wnd, msg, wp, lp, data);
}

LRESULT CALLBACK ButtonProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    TSubclass* data = SubclassOf(wnd);
    switch (msg) {
    case WM_KEYDOWN:
        if (wp == VK_ESCAPE) ::SendMessageA(::GetParent(wnd), WM_CHAR, wp, lp);
        break;
    case WM_SETCURSOR:
        if (SetBusyCursor(data ? data->Busy : nullptr, &TBusyCursors::Dialog)) return 0;
        break;
    case WM_SETFOCUS:
        controls.lastFocused = wnd;
        break;
    case WM_ERASEBKGND:
        if (controls.themesActive) return 1;
        break;
    }
    return CallOriginal(wnd, msg, wp, lp, data);
}

void PaintLink(HWND wnd) {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(wnd, &ps);
    if (!dc) return;
    RECT r;
    ::GetClientRect(wnd, &r);
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextAlign(dc, TA_LEFT | TA_TOP);
    ::SetTextColor(dc, RGB(0, 0, 255));
    {
        TSelectGuard font(dc,
                          controls.controlFont ? controls.controlFont : ::GetStockObject(DEFAULT_GUI_FONT));
        const std::string text = TextOf(wnd);
        ::ExtTextOutA(dc, r.left, r.left, 0, nullptr, text.c_str(), static_cast<UINT>(text.size()), nullptr);
    }
    ::EndPaint(wnd, &ps);
}

LRESULT CALLBACK LinkProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    TSubclass* data = SubclassOf(wnd);
    switch (msg) {
    case WM_PAINT:
        PaintLink(wnd);
        return 0;
    case WM_SETCURSOR:
        ::SetCursor(controls.linkCursor);
        return 0;
    case WM_LBUTTONDOWN: {
        const std::string target = LinkTarget(wnd);
        if (const auto& open = ConfigHooks().OpenLink)
            open(wnd, target);
        else
            ::ShellExecuteA(wnd, nullptr, target.c_str(), nullptr, nullptr, 0);
        break;
    }
    }
    return CallOriginal(wnd, msg, wp, lp, data);
}

// The class procedure of the page windows; each is bound to its tab control
// object.
LRESULT CALLBACK PageProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    const TmyTabControl* tabs = BoundObject<TmyTabControl>(wnd, msg, lp);
    switch (msg) {
    case WM_ERASEBKGND:
        if (!controls.themesActive) return 1;
        break;
    case WM_SETCURSOR:
        if (SetBusyCursor(tabs ? tabs->Busy() : nullptr, &TBusyCursors::Dialog)) return 0;
        break;
    case WM_DRAWITEM:
        return Reflect(wnd, msg, wp, lp);
    case WM_NOTIFY:
    case WM_COMMAND:
    case WM_HSCROLL:
        return Forward(wnd, msg, wp, lp, nullptr);
    case WM_VSCROLL:
        return 0;
    case WM_CTLCOLORSTATIC:
        return ColourHandling(TColourOwner::Page, wnd, msg, wp, lp, nullptr);
    case WM_PAINT: {
        LRESULT r = ::DefWindowProcA(wnd, msg, wp, lp);
        if (tabs && tabs->OnPaint) tabs->OnPaint();
        return r;
    }
    }
    return ::DefWindowProcA(wnd, msg, wp, lp);
}

HWND CreatePageWindow(HWND parent, const RECT& r, TmyTabControl* tabs) {
    WNDCLASSA wc = {};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = PageProc;
    wc.hInstance = Instance();
    wc.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNHIGHLIGHT + 1));
    wc.lpszClassName = kPageClass;
    ::RegisterClassA(&wc);  // fails harmlessly for every page after the first
    HWND page =
        ::CreateWindowExA(WS_EX_CONTROLPARENT, kPageClass, "Page", WS_CHILD, r.left, r.top,
                          r.right - r.left - 1, r.bottom - r.top - 1, parent, nullptr, Instance(), tabs);
    return Finish(page, controls.controlFont);
}

}  // namespace

int ScreenDpi() {
    return screenDpi;
}
int Scaled(int value) {
    return ScaleToDpi(value, screenDpi);
}
int Unscaled(int pixels) {
    return UnscaleFromDpi(pixels, screenDpi);
}

void SetControlFont(HFONT font) {
    controls.controlFont = font;
}
HFONT ControlFont() {
    return controls.controlFont;
}

HWND CreateTabControl(const TControlArgs& a) {
    ::InitCommonControls();
    HWND wnd = Make(0, WC_TABCONTROLA, WS_CHILD | WS_CLIPSIBLINGS | WS_TABSTOP | TCS_HOTTRACK, a);
    if (!wnd) return nullptr;
    RegisterControl(a.Id, wnd);
    Subclass(wnd, TabProc, a.Busy);
    return Finish(wnd, controls.controlFont);
}

HWND CreateGroupBox(const TControlArgs& a) {
    HWND wnd = Make(WS_EX_CONTROLPARENT, "BUTTON", WS_CHILD | WS_CLIPSIBLINGS | BS_GROUPBOX, a);
    if (!wnd) return nullptr;
    Subclass(wnd, GroupProc, a.Busy);
    return Finish(wnd, controls.controlFont);
}

HWND CreateTreeView(const TControlArgs& a) {
    ::InitCommonControls();
    HWND wnd = Make(WS_EX_CLIENTEDGE, WC_TREEVIEWA,
                    WS_CHILD | WS_CLIPSIBLINGS | WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES |
                        TVS_LINESATROOT | TVS_SHOWSELALWAYS,
                    a);
    if (!wnd) return nullptr;
    RegisterControl(a.Id, wnd);
    Subclass(wnd, TreeProc, a.Busy);
    return Finish(wnd, controls.controlFont);
}

HWND CreatePushButton(const TControlArgs& a) {
    HWND wnd = Make(0, "BUTTON", WS_CHILD | WS_CLIPSIBLINGS | WS_TABSTOP | BS_PUSHBUTTON, a);
    if (!wnd) return nullptr;
    RegisterControl(a.Id, wnd);
    Subclass(wnd, ButtonProc, a.Busy);
    return Finish(wnd, controls.controlFont);
}

HWND CreateCheckBox(const TControlArgs& a) {
    HWND wnd = Make(0, "BUTTON", WS_CHILD | WS_CLIPSIBLINGS | WS_TABSTOP | BS_AUTOCHECKBOX, a);
    if (!wnd) return nullptr;
    RegisterControl(a.Id, wnd);
    Subclass(wnd, ButtonProc, a.Busy);
    return Finish(wnd, controls.controlFont);
}

HWND CreateLabel(const TControlArgs& a) {
    return Finish(Make(0, "STATIC", WS_CHILD | SS_NOPREFIX, a), controls.controlFont);
}

HWND CreateHeadingLabel(const TControlArgs& a) {
    HWND wnd = Make(0, "STATIC", WS_CHILD | WS_CLIPSIBLINGS | SS_NOPREFIX, a);
    if (!wnd) return nullptr;
    controls.headingFonts.emplace_back(::CreateFontA(30, 0, 0, 0, 600, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, PROOF_QUALITY,
                                                     DEFAULT_PITCH, "Courier New"));
    return Finish(wnd, static_cast<HFONT>(controls.headingFonts.back().Get()));
}

HWND CreateProductHeadingLabel(const TControlArgs& a) {
    HWND wnd = Make(0, "STATIC", WS_CHILD | WS_CLIPSIBLINGS | SS_NOPREFIX, a);
    if (!wnd) return nullptr;
    if (!controls.productHeadingFont)
        controls.productHeadingFont.Reset(::CreateFontA(16, 0, 0, 0, 0, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                                        OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                                        DEFAULT_QUALITY, DEFAULT_PITCH, "Courier New"));
    return Finish(wnd, static_cast<HFONT>(controls.productHeadingFont.Get()));
}

HWND CreateLinkLabel(const TControlArgs& a) {
    HWND wnd = Make(0, "STATIC", WS_CHILD | SS_NOPREFIX, a);
    if (!wnd) return nullptr;
    if (!controls.linkCursor) controls.linkCursor = ::LoadCursorA(Instance(), MAKEINTRESOURCEA(1));
    Subclass(wnd, LinkProc, a.Busy);
    Finish(wnd, controls.controlFont);
    // A full table is no error: the link then opens its own text.
    if (a.Target && static_cast<int>(controls.linkTargets.size()) < kMaxLinkTargets) {
        controls.linkTargets.emplace_back(a.Target);
        if (TSubclass* data = SubclassOf(wnd)) data->Target = static_cast<int>(controls.linkTargets.size());
    }
    return wnd;
}

HWND CreatePicturePane(const TPaneArgs& a) {
    WNDCLASSA wc = {};
    wc.style = CS_SAVEBITS;
    wc.lpfnWndProc = a.Proc;
    wc.hInstance = Instance();
    wc.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(LTGRAY_BRUSH));
    wc.lpszClassName = a.ClassName;
    ::RegisterClassA(&wc);
    HWND wnd = ::CreateWindowExA(0, a.ClassName, "Image1 PR", WS_CHILD | WS_CLIPSIBLINGS, Scaled(a.X),
                                 Scaled(a.Y), a.WidthPx - 1, a.HeightPx - 1, a.Parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(a.Id)), Instance(), a.Object);
    return Finish(wnd, controls.controlFont);
}

void DeleteLabelFonts() {
    controls.headingFonts.clear();
    controls.productHeadingFont.Reset();
}

std::string LinkTarget(HWND link) {
    const TSubclass* data = SubclassOf(link);
    const int index = data ? data->Target : 0;
    std::string target = index > 0 && index <= static_cast<int>(controls.linkTargets.size())
                             ? controls.linkTargets[static_cast<std::size_t>(index - 1)]
                             : TextOf(link);
    if (target.find('@') != std::string::npos) target = "mailto:" + target;
    return target;
}

void ClearLinkTargets() {
    controls.linkTargets.clear();
}

TmyTabControl::TmyTabControl(HWND tab, TBusyCursors* busy) : tab_(tab), busy_(busy) {
    for (int& n : windowCount_) n = -1;
    if (TSubclass* data = SubclassOf(tab_)) data->Tabs = this;
}

TmyTabControl::~TmyTabControl() {
    // The windows may outlive this object (or be gone already): they forget it.
    TSubclass* data = SubclassOf(tab_);
    if (data && data->Tabs == this) data->Tabs = nullptr;
    const LONG_PTR self = reinterpret_cast<LONG_PTR>(this);
    for (int page = 0; page <= lastPage_; ++page) {
        HWND w = PageWindow(page);
        if (w && ::GetWindowLongPtrA(w, GWLP_USERDATA) == self) ::SetWindowLongPtrA(w, GWLP_USERDATA, 0);
    }
}

HWND TmyTabControl::AddPage(const char* text) {
    if (lastPage_ + 1 >= kMaxPages) return nullptr;
    ++lastPage_;
    TCITEMA item = {};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<char*>(text);
    ::SendMessageA(tab_, TCM_INSERTITEMA, static_cast<WPARAM>(lastPage_), reinterpret_cast<LPARAM>(&item));
    RECT r;
    r.left = Scaled(10);
    r.top = Scaled(10);
    r.right = r.left + Scaled(583);
    r.bottom = r.top + Scaled(395);
    ::SendMessageA(tab_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&r));
    HWND page = CreatePageWindow(::GetParent(tab_), r, this);
    AddWindow(lastPage_, page);
    return page;
}

void TmyTabControl::AddWindow(int page, HWND window) {
    if (page < 0 || page > lastPage_ || !window) return;
    // A page holds at most kMaxWindows; more would not fit the table.
    if (windowCount_[page] + 1 >= kMaxWindows) return;
    windows_[page][++windowCount_[page]] = window;
    if (page != currentPage_) ::ShowWindow(window, SW_HIDE);
}

void TmyTabControl::ShowPage(int index) {
    if (currentPage_ >= 0 && currentPage_ <= lastPage_)
        for (int i = 0; i <= windowCount_[currentPage_]; ++i)
            ::ShowWindow(windows_[currentPage_][i], SW_HIDE);
    if (index >= 0 && index <= lastPage_)
        for (int i = 0; i <= windowCount_[index]; ++i) ::ShowWindow(windows_[index][i], SW_SHOW);
    currentPage_ = index;
}

void TmyTabControl::Refresh() {
    ::InvalidateRect(tab_, nullptr, FALSE);
    ShowPage(static_cast<int>(::SendMessageA(tab_, TCM_GETCURSEL, 0, 0)));
}

HWND TmyTabControl::PageWindow(int page) const {
    if (page < 0 || page > lastPage_ || windowCount_[page] < 0) return nullptr;
    return windows_[page][0];
}

void TmyTabControl::PlaceBelowStrip() {
    RECT strip = {0, 0, 0, 420};
    ::SendMessageA(tab_, TCM_ADJUSTRECT, TRUE, reinterpret_cast<LPARAM>(&strip));
    pageTopOffset_ = 10 + Unscaled(-strip.top);
}

void ResetControlRegistry() {
    std::memset(controls.registryIndex, 0, sizeof controls.registryIndex);
    controls.registryWindows.assign(1, nullptr);
    controls.lastFocused = nullptr;
}

void RegisterControl(int id, HWND window) {
    if (id < 0 || id > kMaxControlId) return;
    controls.registryWindows.push_back(window);
    controls.registryIndex[id] = static_cast<int>(controls.registryWindows.size() - 1);
}

HWND ControlById(int id) {
    if (id < 0 || id > kMaxControlId) return nullptr;
    return controls.registryWindows[static_cast<std::size_t>(controls.registryIndex[id])];
}

void FocusControl(int id) {
    HWND wnd = ControlById(id);
    if (!wnd) return;
    controls.lastFocused = wnd;
    ::SetFocus(wnd);
}

HWND LastFocusedControl() {
    return controls.lastFocused;
}

HWND CreateToolTipControl() {
    ::InitCommonControls();
    HWND tip = ::CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                                 CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, Instance(), nullptr);
    if (tip) ::SendMessageA(tip, TTM_ACTIVATE, TRUE, 0);
    return tip;
}

bool AddToolTip(HWND tooltip, HWND control, const char* text) {
    if (!tooltip) return false;
    // The 40-byte form of the tool description, which every version of the
    // control accepts.
    TTTOOLINFOA info = {};
    info.cbSize = TTTOOLINFOA_V1_SIZE;
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.uId = reinterpret_cast<UINT_PTR>(control);
    info.lpszText = const_cast<char*>(text ? text : "");
    return ::SendMessageA(tooltip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info)) != 0;
}

void LoadThemeLibrary() {
    controls.themesActive = false;
    controls.themeLibrary.Reset(LoadSystemLibrary("uxtheme.dll"));
    if (!controls.themeLibrary) return;
    HMODULE m = controls.themeLibrary.Get();
    controls.drawThemeParentBackground =
        ProcAddress<DrawThemeParentBackgroundFn>(m, "DrawThemeParentBackground");
    BoolFn isAppThemed = ProcAddress<BoolFn>(m, "IsAppThemed");
    if (!isAppThemed || !isAppThemed()) return;
    BoolFn isThemeActive = ProcAddress<BoolFn>(m, "IsThemeActive");
    controls.themesActive = isThemeActive && isThemeActive();
}

void UnloadThemeLibrary() {
    controls.themesActive = false;
    controls.drawThemeParentBackground = nullptr;
    controls.themeLibrary.Reset();
}

bool ThemesActive() {
    return controls.themesActive;
}
