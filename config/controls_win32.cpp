#include "config/controls_win32.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstring>
#include <utility>
#include <vector>

#include "base/handles_win32.h"
#include "base/system_win32.h"
#include "config/layout.h"

std::atomic<HCURSOR> DialogBusyCursor{nullptr};
std::atomic<HCURSOR> ListBusyCursor{nullptr};

namespace {

int ReadScreenDpi() {
    HDC screen = ::GetDC(nullptr);
    int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

const int screenDpi = ReadScreenDpi();

HFONT controlFont = nullptr;  // a stock object, never deleted
std::vector<TGdiObject> headingFonts;
TGdiObject productHeadingFont;
HCURSOR linkCursor = nullptr;  // a resource cursor: shared, never destroyed
std::vector<std::string> linkTargets;
TLinkOpener linkOpener;

// Control registry. Entry numbers start at 1; 0 means "none".
constexpr int kMaxControlId = 199;
int registryIndex[kMaxControlId + 1];
std::vector<HWND> registryWindows(1, nullptr);
HWND lastFocused = nullptr;

// Original class procedures of the subclassed kinds.
WNDPROC savedTabProc = nullptr;
WNDPROC savedGroupProc = nullptr;
WNDPROC savedTreeProc = nullptr;
WNDPROC savedButtonProc = nullptr;
WNDPROC savedLinkProc = nullptr;

TAfterPaint afterPaint = nullptr;
HWND afterPaintTab = nullptr;

// Theme functions of "uxtheme.dll", resolved at run time.
using DrawThemeParentBackgroundFn = HRESULT(WINAPI*)(HWND, HDC, const RECT*);
using BoolFn = BOOL(WINAPI*)();
TModule themeLibrary;
DrawThemeParentBackgroundFn drawThemeParentBackground = nullptr;
FARPROC openThemeData = nullptr;
FARPROC drawThemeBackground = nullptr;
FARPROC closeThemeData = nullptr;
bool themesActive = false;

HINSTANCE Instance() {
    return ::GetModuleHandleA(nullptr);
}

WNDPROC Subclass(HWND wnd, WNDPROC proc, WNDPROC& saved) {
    WNDPROC old =
        reinterpret_cast<WNDPROC>(::SetWindowLongPtrA(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc)));
    if (!saved) saved = old;
    return old;
}

// The common steps of every wrapper after CreateWindowExA.
HWND Finish(HWND wnd, HFONT font) {
    if (!wnd) return nullptr;
    ::SendMessageA(wnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    ::ShowWindow(wnd, SW_SHOW);
    ::UpdateWindow(wnd);
    return wnd;
}

HWND Make(DWORD exStyle, const char* cls, const char* text, DWORD style, HWND parent, int id, int x, int y,
          int w, int h) {
    return ::CreateWindowExA(exStyle, cls, text ? text : "", style, Scaled(x), Scaled(y), Scaled(w),
                             Scaled(h), parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(),
                             nullptr);
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
    if (themesActive && drawThemeParentBackground) drawThemeParentBackground(wnd, dc, nullptr);
}

LRESULT CallSaved(WNDPROC saved, HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    return saved ? ::CallWindowProcA(saved, wnd, msg, wp, lp) : ::DefWindowProcA(wnd, msg, wp, lp);
}

enum class TColourOwner { Tab, Group, Page };

// WM_CTLCOLORSTATIC (and for group boxes WM_CTLCOLOREDIT) under themes: let
// labels, track bars and check boxes show the themed page behind them.
LRESULT ColourHandling(TColourOwner owner, WNDPROC saved, HWND self, UINT msg, WPARAM wp, LPARAM lp) {
    if (!themesActive) return CallSaved(saved, self, msg, wp, lp);
    HDC dc = reinterpret_cast<HDC>(wp);
    HWND control = reinterpret_cast<HWND>(lp);
    const LRESULT hollow = reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH));
    const std::string cls = ClassOf(control);
    if (cls == "Static") {
        ::SetBkMode(dc, TRANSPARENT);
        if (reinterpret_cast<HFONT>(::SendMessageA(control, WM_GETFONT, 0, 0)) == controlFont)
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
            return CallSaved(saved, self, msg, wp, lp);
        }
        return hollow;
    }
    return CallSaved(saved, self, msg, wp, lp);
}

// WM_DRAWITEM goes to the control named by its identifier.
LRESULT Reflect(HWND self, UINT msg, WPARAM wp, LPARAM lp) {
    (void)self;
    HWND target = ControlById(static_cast<int>(wp));
    return target ? ::SendMessageA(target, msg, wp, lp) : 0;
}

// WM_NOTIFY, WM_COMMAND and WM_HSCROLL travel up to the dialog.
LRESULT Forward(WNDPROC saved, HWND self, UINT msg, WPARAM wp, LPARAM lp) {
    LRESULT parentResult = ::SendMessageA(::GetParent(self), msg, wp, lp);
    if (msg == WM_HSCROLL) return parentResult;
    return CallSaved(saved, self, msg, wp, lp);
}

bool SetBusyCursor(const std::atomic<HCURSOR>& busy) {
    HCURSOR c = busy.load();
    if (!c) return false;
    ::SetCursor(c);
    return true;
}

LRESULT CALLBACK TabProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_DRAWITEM:
        return Reflect(wnd, msg, wp, lp);
    case WM_NOTIFY:
    case WM_COMMAND:
    case WM_HSCROLL:
        return Forward(savedTabProc, wnd, msg, wp, lp);
    case WM_VSCROLL:
        return 0;
    case WM_CTLCOLORSTATIC:
        return ColourHandling(TColourOwner::Tab, savedTabProc, wnd, msg, wp, lp);
    case WM_PAINT: {
        LRESULT r = CallSaved(savedTabProc, wnd, msg, wp, lp);
        if (afterPaint) afterPaint(wnd);
        return r;
    }
    }
    return CallSaved(savedTabProc, wnd, msg, wp, lp);
}

LRESULT CALLBACK GroupProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_ERASEBKGND:
        if (themesActive) {
            ParentBackground(wnd, reinterpret_cast<HDC>(wp));
            return 1;
        }
        break;
    case WM_DRAWITEM:
        return Reflect(wnd, msg, wp, lp);
    case WM_NOTIFY:
    case WM_COMMAND:
    case WM_HSCROLL:
        return Forward(savedGroupProc, wnd, msg, wp, lp);
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
        return ColourHandling(TColourOwner::Group, savedGroupProc, wnd, msg, wp, lp);
    }
    return CallSaved(savedGroupProc, wnd, msg, wp, lp);
}

LRESULT CALLBACK TreeProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_SETCURSOR && SetBusyCursor(ListBusyCursor)) return 0;
    return CallSaved(savedTreeProc, wnd, msg, wp, lp);
}

LRESULT CALLBACK ButtonProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_KEYDOWN:
        if (wp == VK_ESCAPE) ::SendMessageA(::GetParent(wnd), WM_CHAR, wp, lp);
        break;
    case WM_SETCURSOR:
        if (SetBusyCursor(DialogBusyCursor)) return 0;
        break;
    case WM_SETFOCUS:
        lastFocused = wnd;
        break;
    case WM_ERASEBKGND:
        if (themesActive) return 1;
        break;
    }
    return CallSaved(savedButtonProc, wnd, msg, wp, lp);
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
        TSelectGuard font(dc, controlFont ? controlFont : ::GetStockObject(DEFAULT_GUI_FONT));
        const std::string text = TextOf(wnd);
        ::ExtTextOutA(dc, r.left, r.left, 0, nullptr, text.c_str(), static_cast<UINT>(text.size()), nullptr);
    }
    ::EndPaint(wnd, &ps);
}

LRESULT CALLBACK LinkProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_PAINT:
        PaintLink(wnd);
        return 0;
    case WM_SETCURSOR:
        ::SetCursor(linkCursor);
        return 0;
    case WM_LBUTTONDOWN: {
        const std::string target = LinkTarget(wnd);
        if (linkOpener)
            linkOpener(wnd, target);
        else
            ::ShellExecuteA(wnd, nullptr, target.c_str(), nullptr, nullptr, 0);
        break;
    }
    }
    return CallSaved(savedLinkProc, wnd, msg, wp, lp);
}

LRESULT CALLBACK PageProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_ERASEBKGND:
        if (!themesActive) return 1;
        break;
    case WM_SETCURSOR:
        if (SetBusyCursor(DialogBusyCursor)) return 0;
        break;
    case WM_DRAWITEM:
        return Reflect(wnd, msg, wp, lp);
    case WM_NOTIFY:
    case WM_COMMAND:
    case WM_HSCROLL:
        return Forward(nullptr, wnd, msg, wp, lp);
    case WM_VSCROLL:
        return 0;
    case WM_CTLCOLORSTATIC:
        return ColourHandling(TColourOwner::Page, nullptr, wnd, msg, wp, lp);
    case WM_PAINT: {
        LRESULT r = ::DefWindowProcA(wnd, msg, wp, lp);
        if (afterPaint) afterPaint(afterPaintTab);
        return r;
    }
    }
    return ::DefWindowProcA(wnd, msg, wp, lp);
}

HWND CreatePageWindow(HWND parent, const RECT& r) {
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
                          r.right - r.left - 1, r.bottom - r.top - 1, parent, nullptr, Instance(), nullptr);
    return Finish(page, controlFont);
}

HWND MakeLink(HWND parent, int id, const char* text, int x, int y, int w, int h) {
    HWND wnd = Make(0, "STATIC", text, WS_CHILD | SS_NOPREFIX, parent, id, x, y, w, h);
    if (!wnd) return nullptr;
    if (!linkCursor) linkCursor = ::LoadCursorA(Instance(), MAKEINTRESOURCEA(1));
    Subclass(wnd, LinkProc, savedLinkProc);
    return Finish(wnd, controlFont);
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
    controlFont = font;
}
HFONT ControlFont() {
    return controlFont;
}

HWND CreateTabControl(HWND parent, int id, const char* text, int x, int y, int w, int h) {
    ::InitCommonControls();
    HWND wnd = Make(0, WC_TABCONTROLA, text, WS_CHILD | WS_CLIPSIBLINGS | WS_TABSTOP | TCS_HOTTRACK, parent,
                    id, x, y, w, h);
    if (!wnd) return nullptr;
    RegisterControl(id, wnd);
    Subclass(wnd, TabProc, savedTabProc);
    return Finish(wnd, controlFont);
}

HWND CreateGroupBox(HWND parent, int id, const char* text, int x, int y, int w, int h) {
    HWND wnd = Make(WS_EX_CONTROLPARENT, "BUTTON", text, WS_CHILD | WS_CLIPSIBLINGS | BS_GROUPBOX, parent, id,
                    x, y, w, h);
    if (!wnd) return nullptr;
    Subclass(wnd, GroupProc, savedGroupProc);
    return Finish(wnd, controlFont);
}

HWND CreateTreeView(HWND parent, int id, const char* text, int x, int y, int w, int h) {
    ::InitCommonControls();
    HWND wnd = Make(WS_EX_CLIENTEDGE, WC_TREEVIEWA, text,
                    WS_CHILD | WS_CLIPSIBLINGS | WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES |
                        TVS_LINESATROOT | TVS_SHOWSELALWAYS,
                    parent, id, x, y, w, h);
    if (!wnd) return nullptr;
    RegisterControl(id, wnd);
    Subclass(wnd, TreeProc, savedTreeProc);
    return Finish(wnd, controlFont);
}

HWND CreatePushButton(HWND parent, int id, const char* text, int x, int y, int w, int h) {
    HWND wnd = Make(0, "BUTTON", text, WS_CHILD | WS_CLIPSIBLINGS | WS_TABSTOP | BS_PUSHBUTTON, parent, id, x,
                    y, w, h);
    if (!wnd) return nullptr;
    RegisterControl(id, wnd);
    Subclass(wnd, ButtonProc, savedButtonProc);
    return Finish(wnd, controlFont);
}

HWND CreateCheckBox(HWND parent, int id, const char* text, int x, int y, int w, int h) {
    HWND wnd = Make(0, "BUTTON", text, WS_CHILD | WS_CLIPSIBLINGS | WS_TABSTOP | BS_AUTOCHECKBOX, parent, id,
                    x, y, w, h);
    if (!wnd) return nullptr;
    RegisterControl(id, wnd);
    Subclass(wnd, ButtonProc, savedButtonProc);
    return Finish(wnd, controlFont);
}

HWND CreateLabel(HWND parent, int id, const char* text, int x, int y, int w, int h) {
    return Finish(Make(0, "STATIC", text, WS_CHILD | SS_NOPREFIX, parent, id, x, y, w, h), controlFont);
}

HWND CreateHeadingLabel(HWND parent, int id, const char* text, int x, int y, int w, int h) {
    HWND wnd = Make(0, "STATIC", text, WS_CHILD | WS_CLIPSIBLINGS | SS_NOPREFIX, parent, id, x, y, w, h);
    if (!wnd) return nullptr;
    headingFonts.emplace_back(::CreateFontA(30, 0, 0, 0, 600, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                            OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, PROOF_QUALITY,
                                            DEFAULT_PITCH, "Courier New"));
    return Finish(wnd, static_cast<HFONT>(headingFonts.back().Get()));
}

HWND CreateProductHeadingLabel(HWND parent, int id, const char* text, int x, int y, int w, int h) {
    HWND wnd = Make(0, "STATIC", text, WS_CHILD | WS_CLIPSIBLINGS | SS_NOPREFIX, parent, id, x, y, w, h);
    if (!wnd) return nullptr;
    if (!productHeadingFont)
        productHeadingFont.Reset(::CreateFontA(16, 0, 0, 0, 0, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                               OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                               DEFAULT_PITCH, "Courier New"));
    return Finish(wnd, static_cast<HFONT>(productHeadingFont.Get()));
}

HWND CreateLinkLabel(HWND parent, int id, const char* text, int x, int y, int w, int h) {
    return MakeLink(parent, id, text, x, y, w, h);
}

HWND CreateLinkLabel(HWND parent, int id, const char* text, const char* target, int x, int y, int w, int h) {
    HWND wnd = MakeLink(parent, id, text, x, y, w, h);
    if (!wnd || !target) return wnd;
    // A full table is no error: the link then opens its own text.
    if (static_cast<int>(linkTargets.size()) < kMaxLinkTargets) {
        linkTargets.emplace_back(target);
        ::SetWindowLongPtrA(wnd, GWLP_USERDATA, static_cast<LONG_PTR>(linkTargets.size()));
    }
    return wnd;
}

HWND CreatePicturePane(HWND parent, int id, const char* className, WNDPROC proc, int x, int y, int widthPx,
                       int heightPx) {
    WNDCLASSA wc = {};
    wc.style = CS_SAVEBITS;
    wc.lpfnWndProc = proc;
    wc.hInstance = Instance();
    wc.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(LTGRAY_BRUSH));
    wc.lpszClassName = className;
    ::RegisterClassA(&wc);
    HWND wnd = ::CreateWindowExA(0, className, "Image1 PR", WS_CHILD | WS_CLIPSIBLINGS, Scaled(x), Scaled(y),
                                 widthPx - 1, heightPx - 1, parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(), nullptr);
    return Finish(wnd, controlFont);
}

void DeleteLabelFonts() {
    headingFonts.clear();
    productHeadingFont.Reset();
}

std::string LinkTarget(HWND link) {
    const LONG_PTR index = ::GetWindowLongPtrA(link, GWLP_USERDATA);
    std::string target = index > 0 && index <= static_cast<LONG_PTR>(linkTargets.size())
                             ? linkTargets[static_cast<std::size_t>(index - 1)]
                             : TextOf(link);
    if (target.find('@') != std::string::npos) target = "mailto:" + target;
    return target;
}

void SetLinkOpener(TLinkOpener opener) {
    linkOpener = std::move(opener);
}
void ClearLinkTargets() {
    linkTargets.clear();
}

TmyTabControl::TmyTabControl(HWND tab) : tab_(tab) {
    for (int& n : windowCount_) n = -1;
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
    HWND page = CreatePageWindow(::GetParent(tab_), r);
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

void ResetControlRegistry() {
    std::memset(registryIndex, 0, sizeof registryIndex);
    registryWindows.assign(1, nullptr);
    lastFocused = nullptr;
}

void RegisterControl(int id, HWND window) {
    if (id < 0 || id > kMaxControlId) return;
    registryWindows.push_back(window);
    registryIndex[id] = static_cast<int>(registryWindows.size() - 1);
}

HWND ControlById(int id) {
    if (id < 0 || id > kMaxControlId) return nullptr;
    return registryWindows[static_cast<std::size_t>(registryIndex[id])];
}

void FocusControl(int id) {
    HWND wnd = ControlById(id);
    if (!wnd) return;
    lastFocused = wnd;
    ::SetFocus(wnd);
}

HWND LastFocusedControl() {
    return lastFocused;
}

void SetAfterPaintHook(TAfterPaint hook, HWND tab) {
    afterPaint = hook;
    afterPaintTab = tab;
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
    themesActive = false;
    themeLibrary.Reset(LoadSystemLibrary("uxtheme.dll"));
    if (!themeLibrary) return;
    HMODULE m = themeLibrary.Get();
    drawThemeParentBackground = ProcAddress<DrawThemeParentBackgroundFn>(m, "DrawThemeParentBackground");
    openThemeData = ::GetProcAddress(m, "OpenThemeData");
    drawThemeBackground = ::GetProcAddress(m, "DrawThemeBackground");
    closeThemeData = ::GetProcAddress(m, "CloseThemeData");
    BoolFn isAppThemed = ProcAddress<BoolFn>(m, "IsAppThemed");
    if (!isAppThemed || !isAppThemed()) return;
    BoolFn isThemeActive = ProcAddress<BoolFn>(m, "IsThemeActive");
    themesActive = isThemeActive && isThemeActive();
}

void UnloadThemeLibrary() {
    themesActive = false;
    drawThemeParentBackground = nullptr;
    openThemeData = drawThemeBackground = closeThemeData = nullptr;
    themeLibrary.Reset();
}

bool ThemesActive() {
    return themesActive;
}
