#pragma once
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>

// The dialog's control wrappers. Every position and size is given in 96-DPI
// pixels and scaled to the screen on creation; each wrapper creates its
// window, gives it the control font, shows it and returns its handle (null
// when the window could not be made). Most kinds are subclassed so that
// notifications reach the dialog, the dialog's busy cursors win, and under
// visual themes labels and check boxes sit transparently on their page.

// LOGPIXELSY of the screen, read once when the program starts.
int ScreenDpi();
// A 96-DPI value in screen pixels, and back (ties to even).
int Scaled(int value);
int Unscaled(int pixels);

// The font every wrapper control gets; the dialog chooses it at start.
void SetControlFont(HFONT font);  // not owned: a stock object
HFONT ControlFont();

// Cursors the dialog shows while it works; null while it does not. The
// dialog's applies to its main window, pages, push buttons and check boxes,
// the list's to the tree view. The tree-fill thread sets the list's, hence
// atomic.
struct TBusyCursors {
    std::atomic<HCURSOR> Dialog{nullptr};
    std::atomic<HCURSOR> List{nullptr};
};

// A rectangle in 96-DPI pixels, scaled on creation.
struct TPlace {
    int X = 0, Y = 0, W = 0, H = 0;
};

// What a wrapper control is made from.
struct TControlArgs {
    HWND Parent = nullptr;
    int Id = 0;  // 0: none
    const char* Text = "";
    TPlace Place;
    const char* Target = nullptr;  // link labels: what a click opens; null: the label's text
    TBusyCursors* Busy = nullptr;  // not owned (the dialog's); null: the class cursor throughout
};

HWND CreateTabControl(const TControlArgs& args);
HWND CreateGroupBox(const TControlArgs& args);
HWND CreateTreeView(const TControlArgs& args);  // shows Busy->List
HWND CreatePushButton(const TControlArgs& args);
HWND CreateCheckBox(const TControlArgs& args);
HWND CreateLabel(const TControlArgs& args);
// "Courier New" 30 high, weight 600; a new font on every call.
HWND CreateHeadingLabel(const TControlArgs& args);
// "Courier New" 16 high; one font made on the first call and shared.
HWND CreateProductHeadingLabel(const TControlArgs& args);
// A blue label that opens its target, else its text, when clicked. The
// target table holds kMaxLinkTargets; a link made when it is full opens
// its text.
HWND CreateLinkLabel(const TControlArgs& args);
constexpr int kMaxLinkTargets = 12;

// What the picture pane is made from.
struct TPaneArgs {
    HWND Parent = nullptr;
    int Id = 0;
    // Registered with Proc on first use (a second registration fails quietly).
    const char* ClassName = nullptr;
    WNDPROC Proc = nullptr;
    int X = 0, Y = 0;               // 96-DPI
    int WidthPx = 0, HeightPx = 0;  // screen pixels; the window is one less each way
    void* Object = nullptr;         // the window's object, bound at WM_NCCREATE (see BoundObject)
};
HWND CreatePicturePane(const TPaneArgs& args);

// The object a window of ours was created for (CreateWindowEx's last
// argument): kept in GWLP_USERDATA at WM_NCCREATE and read back for every
// later message; null before, and for a window made without one. The one
// place where our window procedures find their object.
template <typename T>
T* BoundObject(HWND wnd, UINT msg, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lp);
        ::SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    return reinterpret_cast<T*>(::GetWindowLongPtrA(wnd, GWLP_USERDATA));
}

// The window class of the tab pages.
constexpr const char* kPageClass = "Brevomar TPage";

// Deletes the fonts the heading labels made. Dialog tear-down only.
void DeleteLabelFonts();

// What a link (a window CreateLinkLabel made) opens: its stored target, else
// its text, with "mailto:" put in front of a target holding an at sign.
std::string LinkTarget(HWND link);
// Forgets every stored target (dialog start and tests). A click opens its
// link's target through ShellExecuteA, or ConfigHooks().OpenLink.
void ClearLinkTargets();

// The tab control object: shows and hides the windows of each page, and
// tells its owner when a page or the tab control has been painted. The tab
// control (made by CreateTabControl) finds it through its subclass record,
// the pages through BoundObject; the destructor unbinds them.
class TmyTabControl {
public:
    static constexpr int kMaxPages = 11;
    static constexpr int kMaxWindows = 41;

    // `busy`: the dialog's cursors, which the pages show; not owned.
    explicit TmyTabControl(HWND tab, TBusyCursors* busy = nullptr);
    TmyTabControl(const TmyTabControl&) = delete;
    TmyTabControl& operator=(const TmyTabControl&) = delete;
    ~TmyTabControl();

    // Called after every paint of a page window or the tab control.
    std::function<void()> OnPaint;

    // Adds a tab and its page window over the tab's display area; returns
    // the page window, null when no page is left.
    HWND AddPage(const char* text);
    // Adds a window that is shown with `page`; hidden unless the page is current.
    void AddWindow(int page, HWND window);
    void ShowPage(int index);
    void Refresh();

    int CurrentPage() const { return currentPage_; }
    int LastPage() const { return lastPage_; }
    HWND PageWindow(int page) const;
    HWND TabWindow() const { return tab_; }
    TBusyCursors* Busy() const { return busy_; }

    // 96-DPI y offset of the page area: 10 (the tab control's own) while the
    // pages are built, then 10 plus the tab strip's height once
    // PlaceBelowStrip has measured it.
    int PageTopOffset() const { return pageTopOffset_; }
    void PlaceBelowStrip();

private:
    int currentPage_ = -1;
    int lastPage_ = -1;
    HWND windows_[kMaxPages][kMaxWindows] = {};  // not owned: children of the dialog
    int windowCount_[kMaxPages];                 // index of each page's last window, -1 when empty
    HWND tab_;                                   // not owned
    TBusyCursors* busy_;                         // not owned
    int pageTopOffset_ = 10;
};

// Control registry: identifiers 0..199 to the tab control, tree view, push
// buttons and check boxes, used to give the focus back.
void ResetControlRegistry();
void RegisterControl(int id, HWND window);
HWND ControlById(int id);
void FocusControl(int id);
HWND LastFocusedControl();

// The dialog's one tool-tip control, and its tips.
HWND CreateToolTipControl();
bool AddToolTip(HWND tooltip, HWND control, const char* text);

// Optional visual-theme support from the system's "uxtheme.dll".
void LoadThemeLibrary();
void UnloadThemeLibrary();
bool ThemesActive();
