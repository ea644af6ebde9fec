#include "config/dialog_win32.h"

#include <commctrl.h>

#include <cstddef>
#include <string>

#include "session/session_win32.h"
#include "base/exception.h"
#include "session/settings_store_win32.h"
#include "base/site.h"
#include "base/run_state.h"
#include "base/system_win32.h"
#include "base/ui_win32.h"
#include "catalogue/hidden_list_win32.h"
#include "catalogue/piclist.h"
#include "config/hooks_win32.h"
#include "config/dialog_rules.h"
#include "config/preview_win32.h"
#include "diag/crash_report_win32.h"
#include "render/acceleration_win32.h"
#include "render/runloop_win32.h"

namespace {

// The dialog's and the Show page's identifiers share one WM_COMMAND range.
constexpr bool OutsideShowPage(int id) {
    return id < kIdOrderRandom || id > kIdEveryMonitor;
}
static_assert(OutsideShowPage(kIdAddFolder) && OutsideShowPage(kIdRemove) && OutsideShowPage(kIdIncludeSubdirs) &&
                  OutsideShowPage(kIdAutoRefresh) && OutsideShowPage(kIdPicturePane) && OutsideShowPage(kIdOk) &&
                  OutsideShowPage(kIdCancel) && OutsideShowPage(kIdPreview) && OutsideShowPage(kIdTab) &&
                  OutsideShowPage(kIdTree) && OutsideShowPage(kIdAddPhoto) && OutsideShowPage(kIdRefreshFolder) &&
                  OutsideShowPage(kIdOptions) && OutsideShowPage(kIdHide),
              "a dialog control id falls among the Show page's");

// How long a Photos command waits for the loader of an ended preview.
constexpr DWORD kLingeringLoaderWaitMs = 3000;

// The process's dialog; see CurrentDialog.
std::unique_ptr<TConfigDialog> currentDialog;

void CheckAccelerationAtStart() {
    CheckAcceleration(false);  // the user is told every time; the answer is not needed here
}

// The More and About pages keep no window once built: each is a table of
// labels, made in order.
struct TLabelRow {
    HWND (*Make)(const TControlArgs&);  // one of the label wrappers
    const char* Text;
    TPlace Place;
};

template <std::size_t N>
void BuildLabels(HWND page, const TLabelRow (&rows)[N]) {
    for (const TLabelRow& row : rows) row.Make({page, 0, row.Text, row.Place});
}

void BuildMorePage(HWND page) {
    const std::string morePage = std::string(kWebRoot) + "screensavers.php";
    const TLabelRow rows[] = {
        {CreateHeadingLabel, "More Screensavers", {40, 24, 500, 32}},
        {CreateLabel,
         "Quorvane is made by a small team that builds screensavers for people",
         {40, 80, 500, 20}},
        {CreateLabel,
         "who like to look at their own pictures. Besides this photo flight",
         {40, 100, 500, 20}},
        {CreateLabel, "through space we work on further savers for your photographs:", {40, 120, 500, 20}},
        {CreateProductHeadingLabel, "- a quiet slide show with soft cross-fades", {60, 156, 480, 20}},
        {CreateProductHeadingLabel, "- a wall of pictures that turn like tiles", {60, 180, 480, 20}},
        {CreateProductHeadingLabel, "- a calendar that shows a photo for each day", {60, 204, 480, 20}},
        {CreateLabel, "Find them, and news of Quorvane, on our web site:", {40, 246, 500, 20}},
        {CreateLinkLabel, morePage.c_str(), {40, 268, 400, 20}},
    };
    BuildLabels(page, rows);
}

void BuildAboutPage(HWND page) {
    const std::string version = VersionLabel(kAppVersion);
    const TLabelRow rows[] = {
        {CreateHeadingLabel, "Quorvane", {116, 38, 400, 30}},
        {CreateLabel, version.c_str(), {266, 68, 120, 25}},
        {CreateLabel, "Home page :", {186, 178, 80, 20}},
        {CreateLinkLabel, kHomePage, {286, 178, 205, 20}},
        {CreateLabel, "Feedback :", {186, 203, 60, 20}},
        {CreateLinkLabel, kFeedbackPage, {286, 203, 270, 20}},
        {CreateLabel, "Technical support :", {186, 228, 100, 20}},
        {CreateLinkLabel, kSupportAddress, {286, 228, 190, 20}},
        {CreateLabel, "Copyright (c) 2026 the Quorvane developers.", {206, 298, 250, 25}},
        {CreateLabel, "All rights reserved.", {246, 328, 150, 25}},
    };
    BuildLabels(page, rows);
}

int NonClientHeight96() {
    // The size every system version accepts (without iPaddedBorderWidth).
    NONCLIENTMETRICSA m = {};
    m.cbSize = offsetof(NONCLIENTMETRICSA, lfMessageFont) + sizeof(LOGFONTA);
    if (!::SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, m.cbSize, &m, 0)) return 0;
    return Unscaled(m.iCaptionHeight + m.iBorderWidth);
}

}  // namespace

TConfigDialog::~TConfigDialog() {
    if (main_ && ::IsWindow(main_)) {
        ::SetWindowLongPtrA(main_, GWLP_USERDATA, 0);
        ::DestroyWindow(main_);
    }
}

void TConfigDialog::AddToolTips() {
    toolTip_.Reset(CreateToolTipControl());
    if (!toolTip_) {
        ShowMessage("can't create tooltip");
        return;
    }
    HWND tip = toolTip_.Get();
    AddToolTip(tip, okButton_, "Save changes and exit");
    AddToolTip(tip, cancelButton_, "Exit without saving");
    AddToolTip(tip, previewButton_, "Run screensaver");
    photos_.AddToolTips(tip);
    show_.AddToolTips(tip);
}

void TConfigDialog::BuildPagesAndButtons() {
    tab_ = CreateTabControl({main_, kIdTab, "Main_TAB", {10, 10, 583, 395}});
    tabs_ = std::make_unique<TmyTabControl>(tab_, &busy_);
    HWND more = tabs_->AddPage("More Screensavers");
    HWND photos = tabs_->AddPage("Photos");
    HWND show = tabs_->AddPage("Show");
    HWND about = tabs_->AddPage("About");

    optionsButton_ = CreatePushButton({main_, kIdOptions, "Options >>", {517, 412, 75, 23}, nullptr, &busy_});
    okButton_ = CreatePushButton({main_, kIdOk, "OK", {347, 412, 75, 23}, nullptr, &busy_});
    cancelButton_ = CreatePushButton({main_, kIdCancel, "Cancel", {432, 412, 75, 23}, nullptr, &busy_});
    previewButton_ = CreatePushButton({main_, kIdPreview, "Preview", {517, 412, 75, 23}, nullptr, &busy_});
    for (HWND b : {okButton_, cancelButton_, previewButton_}) ::ShowWindow(b, SW_HIDE);

    BuildMorePage(more);
    TPhotosPage::TCreateArgs photosArgs;
    photosArgs.Page = photos;
    photosArgs.Owner = main_;
    photosArgs.Tabs = tabs_.get();
    photosArgs.Busy = &busy_;
    photosArgs.Session = &session_;
    photos_.Create(photosArgs);
    show_.Create({show, &busy_});
    show_.Load(session_.Settings);
    BuildAboutPage(about);
    tabs_->ShowPage(kPageMore);

    // From here on the pages' contents are placed below the tab strip.
    tabs_->PlaceBelowStrip();

    AddToolTips();
}

void TConfigDialog::DispatchCommand(int id) {
    // A preview run's message loop keeps the dialog serviced; the dialog's
    // own end and preview requests wait until the run is over.
    if (previewRunning_ && (id == kIdOk || id == kIdCancel || id == kIdPreview)) return;
    switch (id) {
    case kIdAddFolder:
    case kIdRemove:
    case kIdIncludeSubdirs:
    case kIdAutoRefresh:
    case kIdAddPhoto:
    case kIdRefreshFolder:
    case kIdHide:
        if (!previewRunning_ && CatalogueFreeForEdits()) photos_.Command(id);
        break;
    case kIdOk:
        SaveAndExit();
        break;
    case kIdCancel:
        TearDown();
        break;
    case kIdPreview:
        RunPreview();
        break;
    case kIdOptions:
        RevealButtons();
        break;
    }
}

LRESULT TConfigDialog::HandleMessage(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_DESTROY:
        TearDown();
        break;
    case WM_SETFOCUS:
        if (HWND last = LastFocusedControl()) ::SetFocus(last);
        break;
    case WM_CLOSE:
        if (previewRunning_) return 0;
        break;
    case WM_SETCURSOR:
        if (HCURSOR busy = busy_.Dialog.load()) {
            ::SetCursor(busy);
            return 0;
        }
        break;
    case WM_NOTIFY: {
        const NMHDR* hdr = reinterpret_cast<const NMHDR*>(lp);
        if (!hdr) break;
        if (hdr->idFrom == kIdTab && hdr->code == TCN_SELCHANGE) {
            if (previewRunning_) {
                // Keep the page the run started from.
                if (tabs_) ::SendMessageA(tab_, TCM_SETCURSEL, tabs_->CurrentPage(), 0);
                break;
            }
            if (::GetFocus() != tab_) ::SetFocus(tab_);
            if (tabs_) tabs_->ShowPage(static_cast<int>(::SendMessageA(tab_, TCM_GETCURSEL, 0, 0)));
        } else if (hdr->idFrom == kIdTree && (hdr->code == TVN_SELCHANGEDA || hdr->code == TVN_SELCHANGEDW)) {
            photos_.ShowProperties();
        }
        break;
    }
    case WM_COMMAND: {
        const int id = LOWORD(wp);
        if ((id >= kIdAddFolder && id <= kIdOptions) || id == kIdHide) DispatchCommand(id);
        break;
    }
    case WM_HSCROLL:
    case WM_VSCROLL:
        return 0;
    case kFillBatchMessage:
        return photos_.InsertFillBatch(lp);
    case kFillDoneMessage:
        lastShownPage_ = -1;
        AfterPaint();
        return 0;
    }
    return ::DefWindowProcA(wnd, msg, wp, lp);
}

LRESULT CALLBACK TConfigDialog::Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    TConfigDialog* dialog = BoundObject<TConfigDialog>(wnd, msg, lp);
    if (!dialog) return ::DefWindowProcA(wnd, msg, wp, lp);
    // No exception may unwind through the system's frames that called this
    // procedure: every one goes to the crash report, which ends the process.
    try {
        return dialog->HandleMessage(wnd, msg, wp, lp);
    } catch (const std::exception& e) {
        ReportException(&e, RunState.Flags.load() | kRunDialog);
    } catch (...) {
        ReportException(nullptr, RunState.Flags.load() | kRunDialog);
    }
    return 0;
}

// A folder where the catalogue file belongs can be neither read nor
// replaced; the catalogue then starts as the default one, and the user is
// told why rather than finding a different list.
void TConfigDialog::WarnIfCatalogueBlocked() {
    const std::string& file = session_.Settings.CatalogueFile;
    if (file.empty()) return;
    const DWORD attributes = ::GetFileAttributesA(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    ShowMessageBoxA(main_,
                    "Your list of pictures cannot be read: where it is kept,\r\n" + file +
                        "\r\nthere is a folder of that name. The default pictures are shown instead. Move or "
                        "rename that folder, then press OK to save your list.",
                    "Quorvane", MB_OK | MB_ICONEXCLAMATION);
}

// A loader that an ended preview left finishing its picture may still read
// the catalogue; the Photos commands change it only once that loader has
// ended. It usually has within moments; the dialog waits that long.
bool TConfigDialog::CatalogueFreeForEdits() {
    if (runs_.LingeringLoaderCount() == 0) return true;
    HCURSOR wait = ::LoadCursorA(nullptr, IDC_WAIT);
    busy_.Dialog = wait;
    ::SetCursor(wait);
    const bool free = runs_.WaitForLingeringLoaders(kLingeringLoaderWaitMs);
    busy_.Dialog = nullptr;
    if (!free)
        ShowMessageBoxA(main_, "The preview is still finishing a picture. Please try again in a moment.",
                        "Quorvane", MB_OK | MB_ICONINFORMATION);
    return free;
}

// The catalogue file could be read only in part (a share that stopped
// answering, a lock another program holds): the user is told at once, and
// the dialog shows what could be read.
void TConfigDialog::WarnIfCatalogueIncomplete() {
    if (session_.PicList.ReadProblem().empty()) return;
    ShowMessageBoxA(main_,
                    "Your list of pictures could not be read completely.\r\n\r\n" +
                        session_.PicList.ReadProblem() +
                        "\r\n\r\nThe pictures that could be read are shown. The file is not replaced with them "
                        "unless you agree to that when you press OK.",
                    "Quorvane", MB_OK | MB_ICONEXCLAMATION);
}

// Before OK replaces a catalogue file that was read only in part: true when
// the user agrees to lose what could not be read.
bool TConfigDialog::ConfirmPartialCatalogueSave() {
    if (session_.PicList.ReadProblem().empty()) return true;
    const std::string text =
        "Your list of pictures could not be read completely when the settings opened.\r\n\r\n" +
        session_.PicList.ReadProblem() +
        "\r\n\r\nSaving would replace the catalogue file\r\n" + session_.Settings.CatalogueFile +
        "\r\nwith the part that could be read: the pictures that could not be read would be lost from it."
        "\r\n\r\nReplace the file with the part that could be read? Choose No to keep the file as it is and "
        "go back to the settings.";
    if (ShowMessageBoxA(main_, text, "Quorvane", MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDYES) return false;
    session_.PicList.KeepPartAsRead();
    return true;
}

TConfigDialog* CurrentDialog() {
    return currentDialog.get();
}

bool CreateConfigDialog(TSession& session) {
    currentDialog.reset();
    currentDialog = std::make_unique<TConfigDialog>(session);
    return currentDialog->Create();
}

bool TConfigDialog::Create() {
    RunState.Flags |= kRunDialog;      // 1
    CheckAccelerationAtStart();  // 2

    session_.Start();  // 3
    highlightBrush_.Reset(::CreateSolidBrush(::GetSysColor(COLOR_BTNHIGHLIGHT)));
    shadowBrush_.Reset(::CreateSolidBrush(::GetSysColor(COLOR_BTNSHADOW)));

    WNDCLASSA wc = {};  // 4
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = Proc;
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
    main_ = ::CreateWindowExA(0, kDialogClass, kDialogTitle, WS_CAPTION | WS_SYSMENU, left, top, width,
                              height, nullptr, nullptr, Instance(), this);
    if (!main_) {
        ShowMessageBoxA(nullptr, "WinCreate failed", std::string(), MB_OK);
        return false;
    }
    ::UpdateWindow(main_);

    ::InitCommonControls();  // 7
    LoadThemeLibrary();

    // 8: the picture pane's bitmap comes with the pane, in step 10.

    ResetControlRegistry();  // 9
    ClearLinkTargets();
    SetControlFont(static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT)));
    lastShownPage_ = -1;

    BuildPagesAndButtons();  // 10, with the pane's DC (11)
    tabs_->OnPaint = [this] { AfterPaint(); };

    photos_.StartTreeFill();  // 12

    FocusControl(kIdTab);  // 13
    ::ShowWindow(main_, SW_SHOW);
    WarnIfCatalogueBlocked();
    WarnIfCatalogueIncomplete();
    return true;
}

void RunDialogMessageLoop() {
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        HWND main = currentDialog ? currentDialog->Main() : nullptr;
        if (main && ::IsDialogMessageA(main, &msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
}

void RunConfigDialog(TSession& session) {
    if (!CreateConfigDialog(session)) return;
    RunDialogMessageLoop();
}

void TConfigDialog::RevealButtons() {
    ::ShowWindow(optionsButton_, SW_HIDE);
    for (HWND b : {okButton_, cancelButton_, previewButton_}) ::ShowWindow(b, SW_SHOW);
    if (tabs_ && tabs_->CurrentPage() == kPageMore) {
        ::SendMessageA(tab_, TCM_SETCURSEL, kPagePhotos, 0);
        tabs_->ShowPage(kPagePhotos);
    }
}

void TConfigDialog::AfterPaint() {
    if (!tabs_) return;
    const int page = tabs_->CurrentPage();
    // RevealButtons moves only from the first page, so `page` stays current.
    if (page != kPageMore && ::IsWindowVisible(optionsButton_)) RevealButtons();
    if (page != kPagePhotos) {
        // Remembered so that coming back to the Photos page brings it up to date.
        lastShownPage_ = page;
        return;
    }
    photos_.Pane().DrawFrame(tabs_->PageWindow(kPagePhotos), tab_, tabs_->PageTopOffset());
    if (lastShownPage_ != kPagePhotos) {
        // Set first: the selection below paints, which comes back here.
        lastShownPage_ = kPagePhotos;
        photos_.Sync();
    }
}

void TConfigDialog::RunPreview() {
    if (previewRunning_) return;
    HCURSOR starting = ::LoadCursorA(nullptr, IDC_APPSTARTING);
    busy_.Dialog = starting;
    ::SetCursor(starting);

    TPicturePane& pane = photos_.Pane();
    bool held = false;  // the pane refused a picture during the run
    {
        previewRunning_ = true;
        pane.HoldDecodes();
        struct TRunEnd {
            TConfigDialog& dialog;
            TPicturePane& pane;
            bool& held;
            ~TRunEnd() {
                dialog.previewRunning_ = false;
                dialog.busy_.Dialog = nullptr;
                held = pane.ResumeDecodes();
            }
        } runEnd{*this, pane, held};
        // The tree is whole before the run, and the fill's inserts do not
        // compete with the run for this thread.
        photos_.WaitForTreeFill();
        // The run reads the settings in memory, as it reads the catalogue
        // with its unsaved edits: the Show page's choices go there first.
        show_.Store(session_.Settings);
        RunSaverFromDialog(runs_);
    }
    if (held) photos_.ShowProperties();
    // The whole dialog was under the saver's window: paint all of it anew,
    // and give the pointer its arrow back.
    if (main_)
        ::RedrawWindow(main_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    ::SetCursor(::LoadCursorA(nullptr, IDC_ARROW));
}

// Saves the settings and the catalogue; when that fails (the catalogue file
// is a folder, its folder is read-only, another program holds the file),
// says so in plain words and offers to try again. False when the user gave
// up: nothing of the session is lost, the dialog stays.
bool TConfigDialog::SaveWithRetry() {
    for (;;) {
        std::string problem;
        try {
            SaveSettings(session_.Settings, session_.PicList);
            const std::string hidden = session_.HiddenFile();
            if (!hidden.empty()) SaveHiddenList(session_.Hidden, hidden);
            return true;
        } catch (const std::exception& e) {
            problem = e.what();
        }
        const std::string text = "Your pictures and settings could not be saved.\r\n\r\n" + problem +
                                 "\r\n\r\nChoose Retry to try again, or Cancel to go back to the settings "
                                 "with your changes kept.";
        if (ShowMessageBoxA(main_, text, "Quorvane", MB_RETRYCANCEL | MB_ICONEXCLAMATION) != IDRETRY)
            return false;
    }
}

void TConfigDialog::SaveAndExit() {
    if (!ConfirmPartialCatalogueSave()) return;
    show_.Store(session_.Settings);
    const bool fillCut = photos_.TreeFillRunning();
    photos_.StopTreeFill();
    if (!SaveWithRetry()) {
        // The tree may have been stopped half-way for the save; show it whole.
        if (fillCut) photos_.StartTreeFill();
        return;
    }
    TearDown();
}

void TearDownDialog() {
    if (currentDialog) currentDialog->TearDown();
}

void TConfigDialog::TearDown() {
    if (tornDown_) return;
    tornDown_ = true;

    photos_.StopTreeFill();  // 1

    highlightBrush_.Reset();  // 2
    shadowBrush_.Reset();
    DeleteLabelFonts();

    photos_.ReleasePane();  // 3: its DC, bitmap and frame pens

    UnloadThemeLibrary();  // 4

    photos_.ReleaseCom();  // 5

    const std::function<void()> end = ConfigHooks().EndDialog;
    if (!end) {
        runs_.EndLingeringLoaders();  // no decode of an ended preview may run into the unloaded plug-ins
        session_.EndAndExit();         // 6: ends the process
    }
    // A test's end: take the windows down and leave the message loop.
    tabs_.reset();
    toolTip_.Reset();
    if (main_ && ::IsWindow(main_)) ::DestroyWindow(main_);
    main_ = nullptr;
    PumpMessages();
    end();
}
