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

HWND CreateTabControl(HWND parent, int id, const char* text, int x, int y, int w, int h);
HWND CreateGroupBox(HWND parent, int id, const char* text, int x, int y, int w, int h);
HWND CreateTreeView(HWND parent, int id, const char* text, int x, int y, int w, int h);
HWND CreatePushButton(HWND parent, int id, const char* text, int x, int y, int w, int h);
HWND CreateCheckBox(HWND parent, int id, const char* text, int x, int y, int w, int h);
HWND CreateLabel(HWND parent, int id, const char* text, int x, int y, int w, int h);
// "Courier New" 30 high, weight 600; a new font on every call.
HWND CreateHeadingLabel(HWND parent, int id, const char* text, int x, int y, int w, int h);
// "Courier New" 16 high; one font made on the first call and shared.
HWND CreateProductHeadingLabel(HWND parent, int id, const char* text, int x, int y, int w, int h);
// A blue label that opens its text when clicked.
HWND CreateLinkLabel(HWND parent, int id, const char* text, int x, int y, int w, int h);
// As CreateLinkLabel, opening `target` instead of its text. The target table
// holds kMaxLinkTargets; a link made when it is full opens its text.
HWND CreateLinkLabel(HWND parent, int id, const char* text, const char* target, int x, int y, int w, int h);
constexpr int kMaxLinkTargets = 12;
// Registers `className` with `proc` (a second registration fails quietly)
// and creates the pane at scaled x, y with a size in screen pixels, each
// reduced by one.
HWND CreatePicturePane(HWND parent, int id, const char* className, WNDPROC proc, int x, int y, int widthPx,
                       int heightPx);
// The window class of the tab pages.
constexpr const char* kPageClass = "Brevomar TPage";

// Deletes the fonts the heading labels made. Dialog tear-down only.
void DeleteLabelFonts();

// What a link opens: the stored target, else its text, with "mailto:" put
// in front of a target holding an at sign.
std::string LinkTarget(HWND link);
// Opens a link's target. The product hands it to ShellExecuteA; a test may
// take it instead.
using TLinkOpener = std::function<void(HWND link, const std::string& target)>;
void SetLinkOpener(TLinkOpener opener);  // empty: ShellExecuteA
void ClearLinkTargets();                 // forgets every stored target (dialog start and tests)

// The tab control object: shows and hides the windows of each page.
class TmyTabControl {
public:
    static constexpr int kMaxPages = 11;
    static constexpr int kMaxWindows = 41;

    explicit TmyTabControl(HWND tab);
    TmyTabControl(const TmyTabControl&) = delete;
    TmyTabControl& operator=(const TmyTabControl&) = delete;

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

private:
    int currentPage_ = -1;
    int lastPage_ = -1;
    HWND windows_[kMaxPages][kMaxWindows] = {};  // not owned: children of the dialog
    int windowCount_[kMaxPages];                 // index of each page's last window, -1 when empty
    HWND tab_;                                   // not owned
};

// Control registry: identifiers 0..199 to the tab control, tree view, push
// buttons and check boxes, used to give the focus back.
void ResetControlRegistry();
void RegisterControl(int id, HWND window);
HWND ControlById(int id);
void FocusControl(int id);
HWND LastFocusedControl();

// Cursors the dialog shows while it works. The dialog's applies to the main
// window, pages, push buttons and check boxes; the list's to the tree view.
// The tree-fill thread sets the list cursor, hence atomic.
extern std::atomic<HCURSOR> DialogBusyCursor;
extern std::atomic<HCURSOR> ListBusyCursor;

// Called with `tab` after every paint of a page window or the tab control.
using TAfterPaint = void (*)(HWND tab);
void SetAfterPaintHook(TAfterPaint hook, HWND tab);

// The dialog's one tool-tip control, and its tips.
HWND CreateToolTipControl();
bool AddToolTip(HWND tooltip, HWND control, const char* text);

// Optional visual-theme support from the system's "uxtheme.dll".
void LoadThemeLibrary();
void UnloadThemeLibrary();
bool ThemesActive();
