#include "config/dialog_win32.h"

#include <commctrl.h>
#include <objbase.h>

#include <cstddef>
#include <string>

#include "app/appdata_win32.h"
#include "app/exception.h"
#include "app/settings.h"
#include "app/settings_win32.h"
#include "app/site.h"
#include "app/state.h"
#include "base/system_win32.h"
#include "base/ui_win32.h"
#include "config/layout.h"
#include "config/photos_win32.h"
#include "config/preview_win32.h"
#include "diag/crash_report_win32.h"
#include "render/runloop_win32.h"

TDialogState Dialog;

namespace {

TDialogEnd dialogEnd = nullptr;

void CheckAccelerationAtStart() {
    CheckAcceleration(false);  // the user is told every time; the answer is not needed here
}

HINSTANCE Instance() {
    return ::GetModuleHandleA(nullptr);
}

struct TTip {
    HWND TDialogState::*Button;
    const char* Text;
};

void BuildMorePage(HWND page) {
    CreateHeadingLabel(page, 0, "More Screensavers", 40, 24, 500, 32);
    CreateLabel(page, 0, "Quorvane is made by a small team that builds screensavers for people", 40, 80, 500,
                20);
    CreateLabel(page, 0, "who like to look at their own pictures. Besides this photo flight", 40, 100, 500,
                20);
    CreateLabel(page, 0, "through space we work on further savers for your photographs:", 40, 120, 500, 20);
    CreateProductHeadingLabel(page, 0, "- a quiet slide show with soft cross-fades", 60, 156, 480, 20);
    CreateProductHeadingLabel(page, 0, "- a wall of pictures that turn like tiles", 60, 180, 480, 20);
    CreateProductHeadingLabel(page, 0, "- a calendar that shows a photo for each day", 60, 204, 480, 20);
    CreateLabel(page, 0, "Find them, and news of Quorvane, on our web site:", 40, 246, 500, 20);
    const std::string morePage = std::string(kWebRoot) + "screensavers.php";
    CreateLinkLabel(page, 0, morePage.c_str(), 40, 268, 400, 20);
}

void BuildAboutPage(HWND page) {
    CreateHeadingLabel(page, 0, "Quorvane", 116, 38, 400, 30);
    CreateLabel(page, 0, VersionLabel(kAppVersion).c_str(), 266, 68, 120, 25);
    CreateLabel(page, 0, "Home page :", 186, 178, 80, 20);
    CreateLinkLabel(page, 0, kHomePage, 286, 178, 205, 20);
    CreateLabel(page, 0, "Feedback :", 186, 203, 60, 20);
    CreateLinkLabel(page, 0, kFeedbackPage, 286, 203, 270, 20);
    CreateLabel(page, 0, "Technical support :", 186, 228, 100, 20);
    CreateLinkLabel(page, 0, kSupportAddress, 286, 228, 190, 20);
    CreateLabel(page, 0, "Copyright (c) 2026 the Quorvane developers.", 206, 298, 250, 25);
    CreateLabel(page, 0, "All rights reserved.", 246, 328, 150, 25);
}

void AddToolTips() {
    Dialog.ToolTip.Reset(CreateToolTipControl());
    if (!Dialog.ToolTip) {
        ShowMessage("can't create tooltip");
        return;
    }
    HWND tip = Dialog.ToolTip.Get();
    AddToolTip(tip, Dialog.OkButton, "Save changes and exit");
    AddToolTip(tip, Dialog.CancelButton, "Exit without saving");
    AddToolTip(tip, Dialog.PreviewButton, "Run screensaver");
    AddPhotosToolTips(tip);
}

void BuildPagesAndButtons() {
    HWND main = Dialog.Main;
    Dialog.Tab = CreateTabControl(main, kIdTab, "Main_TAB", 10, 10, 583, 395);
    Dialog.Tabs = std::make_unique<TmyTabControl>(Dialog.Tab);
    Dialog.PageTopOffset = 10;
    HWND more = Dialog.Tabs->AddPage("More Screensavers");
    HWND photos = Dialog.Tabs->AddPage("Photos");
    HWND about = Dialog.Tabs->AddPage("About");

    Dialog.OptionsButton = CreatePushButton(main, kIdOptions, "Options >>", 517, 412, 75, 23);
    Dialog.OkButton = CreatePushButton(main, kIdOk, "OK", 347, 412, 75, 23);
    Dialog.CancelButton = CreatePushButton(main, kIdCancel, "Cancel", 432, 412, 75, 23);
    Dialog.PreviewButton = CreatePushButton(main, kIdPreview, "Preview", 517, 412, 75, 23);
    for (HWND b : {Dialog.OkButton, Dialog.CancelButton, Dialog.PreviewButton}) ::ShowWindow(b, SW_HIDE);

    BuildMorePage(more);
    BuildPhotosPage(photos);
    BuildAboutPage(about);
    Dialog.Tabs->ShowPage(kPageMore);

    // From here on the pages' contents are placed below the tab strip.
    RECT strip = {0, 0, 0, 420};
    ::SendMessageA(Dialog.Tab, TCM_ADJUSTRECT, TRUE, reinterpret_cast<LPARAM>(&strip));
    Dialog.PageTopOffset = 10 + Unscaled(-strip.top);

    AddToolTips();
}

void DispatchCommand(int id) {
    // A preview run's message loop keeps the dialog serviced; the dialog's
    // own end and preview requests wait until the run is over.
    if (Dialog.PreviewRunning && (id == kIdOk || id == kIdCancel || id == kIdPreview)) return;
    switch (id) {
    case kIdAddFolder:
    case kIdRemove:
    case kIdIncludeSubdirs:
    case kIdAutoRefresh:
    case kIdAddPhoto:
    case kIdRefreshFolder:
        if (!Dialog.PreviewRunning) PhotosCommand(id);
        break;
    case kIdOk:
        SaveAndExit();
        break;
    case kIdCancel:
        TearDownDialog();
        break;
    case kIdPreview:
        RunPreview();
        break;
    case kIdOptions:
        RevealButtons();
        break;
    }
}

LRESULT HandleMessage(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_DESTROY:
        TearDownDialog();
        break;
    case WM_SETFOCUS:
        if (HWND last = LastFocusedControl()) ::SetFocus(last);
        break;
    case WM_CLOSE:
        if (Dialog.PreviewRunning) return 0;
        break;
    case WM_SETCURSOR:
        if (HCURSOR busy = DialogBusyCursor.load()) {
            ::SetCursor(busy);
            return 0;
        }
        break;
    case WM_NOTIFY: {
        const NMHDR* hdr = reinterpret_cast<const NMHDR*>(lp);
        if (!hdr) break;
        if (hdr->idFrom == kIdTab && hdr->code == TCN_SELCHANGE) {
            if (Dialog.PreviewRunning) {
                // Keep the page the run started from.
                if (Dialog.Tabs) ::SendMessageA(Dialog.Tab, TCM_SETCURSEL, Dialog.Tabs->CurrentPage(), 0);
                break;
            }
            if (::GetFocus() != Dialog.Tab) ::SetFocus(Dialog.Tab);
            if (Dialog.Tabs)
                Dialog.Tabs->ShowPage(static_cast<int>(::SendMessageA(Dialog.Tab, TCM_GETCURSEL, 0, 0)));
        } else if (hdr->idFrom == kIdTree && (hdr->code == TVN_SELCHANGEDA || hdr->code == TVN_SELCHANGEDW)) {
            ShowProperties();
        }
        break;
    }
    case WM_COMMAND: {
        const int id = LOWORD(wp);
        if (id >= kIdAddFolder && id <= kIdOptions) DispatchCommand(id);
        break;
    }
    case WM_HSCROLL:
    case WM_VSCROLL:
        return 0;
    case kFillBatchMessage:
        return InsertFillBatch(lp);
    case kFillDoneMessage:
        Dialog.LastShownPage = -1;
        AfterPaint(Dialog.Tab);
        return 0;
    }
    return ::DefWindowProcA(wnd, msg, wp, lp);
}

LRESULT CALLBACK DialogProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    // No exception may unwind through the system's frames that called this
    // procedure: every one is reported here, and the dialog stays open.
    try {
        return HandleMessage(wnd, msg, wp, lp);
    } catch (const std::exception& e) {
        ReportException(&e, RunFlags.load() | kRunDialog);
    } catch (...) {
        ReportException(nullptr, RunFlags.load() | kRunDialog);
    }
    return 0;
}

int NonClientHeight96() {
    // The size every system version accepts (without iPaddedBorderWidth).
    NONCLIENTMETRICSA m = {};
    m.cbSize = offsetof(NONCLIENTMETRICSA, lfMessageFont) + sizeof(LOGFONTA);
    if (!::SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, m.cbSize, &m, 0)) return 0;
    return Unscaled(m.iCaptionHeight + m.iBorderWidth);
}

// A folder where the catalogue file belongs can be neither read nor
// replaced; the catalogue then starts as the default one, and the user is
// told why rather than finding a different list.
void WarnIfCatalogueBlocked() {
    const std::string& file = Settings.CatalogueFile;
    if (file.empty()) return;
    const DWORD attributes = ::GetFileAttributesA(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    ShowMessageBoxA(Dialog.Main,
                    "Your list of pictures cannot be read: where it is kept,\r\n" + file +
                        "\r\nthere is a folder of that name. The default pictures are shown instead. Move or "
                        "rename that folder, then press OK to save your list.",
                    "Quorvane", MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace

void SetDialogEndHook(TDialogEnd end) {
    dialogEnd = end;
}

bool CreateConfigDialog() {
    Dialog = TDialogState();
    RunFlags |= kRunDialog;      // 1
    CheckAccelerationAtStart();  // 2

    InitApplicationData();  // 3
    Dialog.HighlightBrush.Reset(::CreateSolidBrush(::GetSysColor(COLOR_BTNHIGHLIGHT)));
    Dialog.ShadowBrush.Reset(::CreateSolidBrush(::GetSysColor(COLOR_BTNSHADOW)));
    Dialog.ShadowPen.Reset(::CreatePen(PS_SOLID, 1, ::GetSysColor(COLOR_BTNSHADOW)));
    Dialog.HighlightPen.Reset(::CreatePen(PS_SOLID, 1, ::GetSysColor(COLOR_BTNHIGHLIGHT)));

    WNDCLASSA wc = {};  // 4
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = DialogProc;
    wc.hInstance = Instance();
    wc.hIcon = ::LoadIconA(Instance(), MAKEINTRESOURCEA(500));
    wc.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    wc.lpszClassName = kDialogClass;
    if (!::RegisterClassA(&wc)) {
        ShowMessageBoxA(nullptr, "Register class failed", std::string(), MB_OK);
        return false;
    }

    const int width = Scaled(609);  // 5
    const int height = Scaled(NonClientHeight96() + 447);

    RECT desk;  // 6
    ::GetWindowRect(::GetDesktopWindow(), &desk);
    const int left = desk.left + (desk.right - desk.left - width) / 2;
    const int top = desk.top + (desk.bottom - desk.top - height) / 2;
    Dialog.Main = ::CreateWindowExA(0, kDialogClass, kDialogTitle, WS_CAPTION | WS_SYSMENU, left, top, width,
                                    height, nullptr, nullptr, Instance(), nullptr);
    if (!Dialog.Main) {
        ShowMessageBoxA(nullptr, "WinCreate failed", std::string(), MB_OK);
        return false;
    }
    ::UpdateWindow(Dialog.Main);

    ::InitCommonControls();  // 7
    LoadThemeLibrary();
    SetAfterPaintHook(AfterPaint, nullptr);

    Dialog.PreviewBitmap = std::make_unique<TBitmap>(Scaled(320), Scaled(240));  // 8

    ResetControlRegistry();  // 9
    ClearLinkTargets();
    SetControlFont(static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT)));
    Dialog.LastShownPage = -1;

    BuildPagesAndButtons();  // 10
    SetAfterPaintHook(AfterPaint, Dialog.Tab);

    if (Dialog.Pane) Dialog.PaneDC = ::GetDC(Dialog.Pane);  // 11

    StartTreeFill();  // 12

    FocusControl(kIdTab);  // 13
    ::ShowWindow(Dialog.Main, SW_SHOW);
    WarnIfCatalogueBlocked();
    return true;
}

void RunDialogMessageLoop() {
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (Dialog.Main && ::IsDialogMessageA(Dialog.Main, &msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
}

void RunConfigDialog() {
    if (!CreateConfigDialog()) return;
    RunDialogMessageLoop();
}

void RevealButtons() {
    ::ShowWindow(Dialog.OptionsButton, SW_HIDE);
    for (HWND b : {Dialog.OkButton, Dialog.CancelButton, Dialog.PreviewButton}) ::ShowWindow(b, SW_SHOW);
    if (Dialog.Tabs && Dialog.Tabs->CurrentPage() == kPageMore) {
        ::SendMessageA(Dialog.Tab, TCM_SETCURSEL, kPagePhotos, 0);
        Dialog.Tabs->ShowPage(kPagePhotos);
    }
}

namespace {

// Saves the settings and the catalogue; when that fails (the catalogue file
// is a folder, its folder is read-only, another program holds the file),
// says so in plain words and offers to try again. False when the user gave
// up: nothing of the session is lost, the dialog stays.
bool SaveWithRetry() {
    for (;;) {
        std::string problem;
        try {
            SaveSettings();
            return true;
        } catch (const std::exception& e) {
            problem = e.what();
        }
        const std::string text = "Your pictures and settings could not be saved.\r\n\r\n" + problem +
                                 "\r\n\r\nChoose Retry to try again, or Cancel to go back to the settings "
                                 "with your changes kept.";
        if (ShowMessageBoxA(Dialog.Main, text, "Quorvane", MB_RETRYCANCEL | MB_ICONEXCLAMATION) != IDRETRY)
            return false;
    }
}

}  // namespace

void SaveAndExit() {
    const bool fillCut = TreeFillRunning();
    StopTreeFill();
    if (!SaveWithRetry()) {
        // The tree may have been stopped half-way for the save; show it whole.
        if (fillCut) StartTreeFill();
        return;
    }
    TearDownDialog();
}

void TearDownDialog() {
    if (Dialog.TornDown) return;
    Dialog.TornDown = true;

    StopTreeFill();  // 1

    Dialog.HighlightBrush.Reset();  // 2
    Dialog.ShadowBrush.Reset();
    Dialog.ShadowPen.Reset();
    Dialog.HighlightPen.Reset();
    DeleteLabelFonts();

    if (Dialog.PaneDC) ::ReleaseDC(Dialog.Pane, Dialog.PaneDC);  // 3
    Dialog.PaneDC = nullptr;
    Dialog.PreviewBitmap.reset();

    UnloadThemeLibrary();  // 4

    if (Dialog.ComInitialised) ::CoUninitialize();  // 5
    Dialog.ComInitialised = false;

    if (!dialogEnd) {
        EndLingeringLoaders();  // no decode of an ended preview may run into the unloaded plug-ins
        FreeApplicationData();  // 6: ends the process
    }
    // A test's end: take the windows down and leave the message loop.
    SetAfterPaintHook(nullptr, nullptr);
    Dialog.ToolTip.Reset();
    if (Dialog.Main && ::IsWindow(Dialog.Main)) ::DestroyWindow(Dialog.Main);
    Dialog.Main = nullptr;
    Dialog.Tabs.reset();
    PumpMessages();
    dialogEnd();
}
