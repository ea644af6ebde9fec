#include "config/photos_win32.h"

#include <cderr.h>
#include <commctrl.h>
#include <commdlg.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "session/session_win32.h"
#include "base/handles_win32.h"
#include "base/path_text.h"
#include "base/registry_win32.h"
#include "base/system_win32.h"
#include "base/ui_win32.h"
#include "catalogue/piclist.h"
#include "catalogue/scan_win32.h"
#include "catalogue/ansi_names_win32.h"
#include "config/dialog_ids.h"
#include "config/hooks_win32.h"
#include "config/dialog_rules.h"
#include "config/picture_win32.h"

namespace {

constexpr DWORD kFillStackSize = 32 * 1024;

// The open-file dialog's file buffer, in characters: room for some 40,000
// chosen names of ordinary length. A choice that does not fit is asked for
// again with a buffer at least four times as large, up to the limit.
constexpr std::size_t kPickerBufferChars = std::size_t(1) << 20;
constexpr std::size_t kMaxPickerBufferChars = std::size_t(1) << 24;

// --- tree access -----------------------------------------------------------

// One tree item, in the character set of TInsert (and of its message).
template <typename TInsert, typename TChar>
HTREEITEM InsertItem(HWND tree, UINT message, HTREEITEM parent, HTREEITEM after, const TChar* text,
                     std::uint32_t data) {
    TInsert ins = {};
    ins.hParent = parent;
    ins.hInsertAfter = after;
    ins.item.mask = TVIF_TEXT | TVIF_PARAM;
    ins.item.pszText = const_cast<TChar*>(text);
    ins.item.lParam = static_cast<LPARAM>(data);
    const auto item = reinterpret_cast<LPARAM>(&ins);
    return reinterpret_cast<HTREEITEM>(sizeof(TChar) == 1 ? ::SendMessageA(tree, message, 0, item)
                                                          : ::SendMessageW(tree, message, 0, item));
}

HTREEITEM Insert(HWND tree, HTREEITEM parent, HTREEITEM after, const std::string& text, std::uint32_t data) {
    return InsertItem<TVINSERTSTRUCTA>(tree, TVM_INSERTITEMA, parent, after, text.c_str(), data);
}

HTREEITEM InsertWide(HWND tree, HTREEITEM parent, HTREEITEM after, const std::wstring& text,
                     std::uint32_t data) {
    return InsertItem<TVINSERTSTRUCTW>(tree, TVM_INSERTITEMW, parent, after, text.c_str(), data);
}

// The tree shows every entry under its real name. A catalogue path holds a
// name the code page cannot spell as its short (8.3) name, and every
// generated short name has a "~": a name without one is shown as stored, at
// no cost, and a folder is listed, once, only when one of its names has one.
class TShownNames {
public:
    // The long name behind the file-name part of `path`; empty when the
    // stored name is the one to show.
    std::wstring NameOf(std::string_view path) {
        const std::string_view name = LastComponent(path, AnsiLeadByte);
        if (name.size() == path.size()) return std::wstring();
        if (name.find('~') == std::string_view::npos) return std::wstring();
        const std::string_view folder = path.substr(0, path.size() - name.size());
        if (!read_ || folder != folder_) Read(folder);
        const auto found = longNames_.find(Upper(WidePathOf(name)));
        if (found == longNames_.end()) return std::wstring();
        // As FileNamePart: at most 255 characters.
        return found->second.substr(0, 255);
    }

private:
    void Read(std::string_view folder) {
        read_ = true;
        folder_.assign(folder);
        longNames_.clear();
        WIN32_FIND_DATAW found;
        TFindHandle find(::FindFirstFileW((WidePathOf(folder) + L"*").c_str(), &found));
        if (!find) return;
        do {
            if (found.cAlternateFileName[0])
                longNames_.emplace(Upper(found.cAlternateFileName), found.cFileName);
        } while (::FindNextFileW(find.Get(), &found));
    }

    static std::wstring Upper(std::wstring text) {
        if (!text.empty()) ::CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
        return text;
    }

    bool read_ = false;
    std::string folder_;                                        // the folder listed, with its final "\"
    std::unordered_map<std::wstring, std::wstring> longNames_;  // upper-case short name -> long name
};

// What a picture item says of a picture the show passes over, after its name.
const char kHiddenMark[] = " (hidden)";

// A picture item's text: the file-name part of `path` under its long name
// (wide), marked when the picture is hidden.
std::wstring PictureText(std::string_view path, bool hidden, TShownNames& names) {
    std::wstring shown = names.NameOf(path);
    if (shown.empty()) shown = WidePathOf(FileNamePart(path, AnsiLeadByte));
    if (hidden) shown += WidePathOf(kHiddenMark);
    return shown;
}

// A picture item: the file-name part of `path`, under its long name.
HTREEITEM InsertPicture(HWND tree, HTREEITEM parent, HTREEITEM after, std::string_view path,
                        std::uint32_t data, TShownNames& names, const THiddenList& hidden) {
    const bool isHidden = !hidden.Empty() && hidden.Contains(path);
    const std::wstring shown = names.NameOf(path);
    if (shown.empty() && !isHidden) return Insert(tree, parent, after, FileNamePart(path, AnsiLeadByte), data);
    return InsertWide(tree, parent, after, PictureText(path, isHidden, names), data);
}

// What a folder node says of a folder that cannot be reached, after its path.
const wchar_t kUnreachableMark[] = L"  (cannot be reached)";

// A folder node's text: the folder's full path, with long names for short
// ones, marked when the folder cannot be reached.
std::wstring FolderText(const std::string& path, bool unreachable) {
    // The long name would be looked up on a drive that does not answer.
    std::wstring shown = !unreachable && path.find('~') != std::string::npos ? LongPathOf(path) : WidePathOf(path);
    if (unreachable) shown += kUnreachableMark;
    return shown;
}

void SetFolderText(HWND tree, HTREEITEM node, const std::string& path, bool unreachable) {
    std::wstring text = FolderText(path, unreachable);
    TVITEMW it = {};
    it.mask = TVIF_TEXT;
    it.hItem = node;
    it.pszText = &text[0];
    ::SendMessageW(tree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&it));
}

// A folder node: the folder's full path, with long names for short ones.
HTREEITEM InsertFolder(HWND tree, HTREEITEM after, const std::string& path, std::uint32_t data,
                       bool unreachable = false) {
    if (unreachable) return InsertWide(tree, TVI_ROOT, after, FolderText(path, true), data);
    if (path.find('~') != std::string::npos) {
        const std::wstring shown = LongPathOf(path);
        if (shown != WidePathOf(path)) return InsertWide(tree, TVI_ROOT, after, shown, data);
    }
    return Insert(tree, TVI_ROOT, after, path, data);
}

std::uint32_t DataOf(HWND tree, HTREEITEM item) {
    TVITEMA it = {};
    it.mask = TVIF_PARAM;
    it.hItem = item;
    ::SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&it));
    return static_cast<std::uint32_t>(it.lParam);
}

void SetData(HWND tree, HTREEITEM item, std::uint32_t data) {
    TVITEMA it = {};
    it.mask = TVIF_PARAM;
    it.hItem = item;
    it.lParam = static_cast<LPARAM>(data);
    ::SendMessageA(tree, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&it));
}

HTREEITEM Next(HWND tree, HTREEITEM item, UINT how) {
    return reinterpret_cast<HTREEITEM>(
        ::SendMessageA(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(item)));
}

HTREEITEM Selection(HWND tree) {
    return Next(tree, nullptr, TVGN_CARET);
}

void Select(HWND tree, HTREEITEM item) {
    ::SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
}

// Tells the user, once for the command, what a scan or a choice left out
// because its name has no path the catalogue can keep.
void ReportLeftOut(int pictures, int folders) {
    if (pictures <= 0 && folders <= 0) return;
    auto count = [](int n, const char* one, const char* many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    std::string what = pictures > 0 ? count(pictures, "picture", "pictures") : std::string();
    if (folders > 0) what += (what.empty() ? "" : " and ") + count(folders, "folder", "folders");
    const bool single = pictures + folders == 1;
    ShowMessage(what + (single ? " was" : " were") +
                " left out: " + (single ? "its name uses" : "their names use") +
                " characters that this system's language settings cannot spell in the picture list, and the "
                "drive keeps no short name for " +
                (single ? "it" : "them") + ". Rename " + (single ? "it" : "them") +
                " with letters of the system's language, or turn short names on for the drive, to add " +
                (single ? "it." : "them."));
}

// --- properties box --------------------------------------------------------

void SetText(HWND wnd, const std::string& text) {
    ::SetWindowTextA(wnd, text.c_str());
}

void SetCheck(HWND check, bool on) {
    ::SendMessageA(check, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

// --- busy cursors ------------------------------------------------------------

// The dialog's busy cursor for the length of a command, and the list's when
// no one else has set it.
class TBusy {
public:
    explicit TBusy(TBusyCursors* cursors) : cursors_(cursors) {
        HCURSOR wait = ::LoadCursorA(nullptr, IDC_WAIT);
        if (cursors_) cursors_->Dialog = wait;
        ::SetCursor(wait);
        HCURSOR none = nullptr;
        ownsList_ = cursors_ && cursors_->List.compare_exchange_strong(none, wait);
    }
    TBusy(const TBusy&) = delete;
    TBusy& operator=(const TBusy&) = delete;
    ~TBusy() {
        EndDialogCursor();
        if (ownsList_) cursors_->List = nullptr;
    }
    void EndDialogCursor() {
        if (cursors_) cursors_->Dialog = nullptr;
    }

private:
    TBusyCursors* cursors_;  // not owned: the dialog's
    bool ownsList_ = false;
};

constexpr int kFillBatchSize = 2000;

// Single pictures (the root entry) that the tree can number: positions fit
// the low 16 bits of the item data.
constexpr int kMaxSinglePictures = 0xFFFF;

// --- pickers -----------------------------------------------------------------

// Keeps the process's current folder across a picker. The open-file dialog
// moves it to the folder the user picked from (Windows documents
// OFN_NOCHANGEDIR as ineffective for it), and a program started by a bare
// name is looked for in the current folder before the system's.
class TKeepCurrentFolder {
public:
    TKeepCurrentFolder() {
        const DWORD n = ::GetCurrentDirectoryW(0, nullptr);
        saved_.resize(n);
        if (n == 0 || ::GetCurrentDirectoryW(n, saved_.data()) >= n) saved_.clear();
    }
    TKeepCurrentFolder(const TKeepCurrentFolder&) = delete;
    TKeepCurrentFolder& operator=(const TKeepCurrentFolder&) = delete;
    ~TKeepCurrentFolder() {
        if (!saved_.empty()) ::SetCurrentDirectoryW(saved_.data());
    }

private:
    std::vector<wchar_t> saved_;
};

int CALLBACK BrowseCallback(HWND wnd, UINT msg, LPARAM, LPARAM data) {
    const wchar_t* start = reinterpret_cast<const wchar_t*>(data);
    if (msg == BFFM_INITIALIZED && start && *start)
        ::SendMessageW(wnd, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(start));
    return 0;
}

std::wstring ShellBrowse(HWND owner, const std::wstring& title, const std::wstring& start) {
    wchar_t display[MAX_PATH] = {};
    BROWSEINFOW bi = {};
    bi.hwndOwner = owner;
    bi.pszDisplayName = display;
    bi.lpszTitle = title.c_str();
    bi.ulFlags = BIF_RETURNONLYFSDIRS;
    bi.lpfn = BrowseCallback;
    bi.lParam = reinterpret_cast<LPARAM>(start.c_str());
    LPITEMIDLIST list = ::SHBrowseForFolderW(&bi);
    if (!list) return std::wstring();
    wchar_t path[MAX_PATH + 1] = {};
    const BOOL ok = ::SHGetPathFromIDListW(list, path);
    // The shell allocates item lists with the task allocator.
    ::CoTaskMemFree(list);
    return ok ? std::wstring(path) : std::wstring();
}

bool ShellOpenFile(OPENFILENAMEW& ofn, unsigned& error) {
    if (::GetOpenFileNameW(&ofn)) return true;
    error = ::CommDlgExtendedError();
    return false;
}

}  // namespace

// The selection as (slot, position, entry); false for none or a stale item.
struct TPhotosPage::TDecoded {
    HTREEITEM Item = nullptr;
    int Slot = 0;
    int Position = 0;
    int Entry = 0;
};

// A run of tree items the fill thread asks the dialog thread to insert.
// Inserting on the tree's own thread costs a few microseconds an item; a
// message across threads for every item would cost far more.
struct TPhotosPage::TFillBatch {
    bool Nodes = false;          // folder nodes of entries First..Last-1, else pictures of Entry
    int Entry = 0;               // catalogue entry whose pictures are inserted
    int First = 0;               // first entry or picture index of the run
    int Last = 0;                // one past the last
    HTREEITEM Parent = nullptr;  // the folder node, or null for root-level pictures
};

void TPhotosPage::Create(const TCreateArgs& args) {
    owner_ = args.Owner;
    tabs_ = args.Tabs;
    busy_ = args.Busy;
    session_ = args.Session;
    folderMode_ = false;
    slots_.Reset();
    HWND page = args.Page;
    leftBox_ = CreateGroupBox({page, 0, "", {6, 4, 210, 359}});
    tree_ = CreateTreeView({leftBox_, kIdTree, "Tree Images", {10, 16, 190, 240}, nullptr, busy_});
    addFolderButton_ =
        CreatePushButton({leftBox_, kIdAddFolder, "Add folder", {10, 276, 90, 20}, nullptr, busy_});
    removeButton_ = CreatePushButton({leftBox_, kIdRemove, "Remove", {110, 276, 90, 20}, nullptr, busy_});
    addPhotoButton_ =
        CreatePushButton({leftBox_, kIdAddPhoto, "Add photo", {10, 306, 90, 20}, nullptr, busy_});
    hideButton_ = CreatePushButton({leftBox_, kIdHide, "Hide", {110, 306, 90, 20}, nullptr, busy_});
    ::EnableWindow(hideButton_, FALSE);
    TPicturePane::TCreateArgs pane;
    pane.Parent = page;
    pane.Id = kIdPicturePane;
    pane.X = 236;
    pane.Y = 20;
    pane.WidthPx = Scaled(320);
    pane.HeightPx = Scaled(240);
    pane.IntendedColours = session_->Settings.IntendedColours;
    pane.Plugins = &session_->Plugins;
    pane.Fit = session_->FitOptions();
    pane_.Create(pane);
    propertiesBox_ = CreateGroupBox({page, 0, "Image properties", {226, 275, 340, 88}});
    widthLabel_ = CreateLabel({propertiesBox_, 0, "Width : ", {20, 20, 120, 20}});
    heightLabel_ = CreateLabel({propertiesBox_, 0, "Height : ", {20, 43, 120, 20}});
    formatLabel_ = CreateLabel({propertiesBox_, 0, "Format : ", {20, 66, 120, 20}});
    refreshButton_ = CreatePushButton(
        {propertiesBox_, kIdRefreshFolder, "Refresh folder", {170, 20, 103, 25}, nullptr, busy_});
    includeCheck_ = CreateCheckBox(
        {propertiesBox_, kIdIncludeSubdirs, "Include subdirectories", {20, 40, 150, 20}, nullptr, busy_});
    autoCheck_ =
        CreateCheckBox({propertiesBox_, kIdAutoRefresh, "Auto Refresh", {180, 50, 150, 20}, nullptr, busy_});
    sizeLabel_ = CreateLabel({propertiesBox_, 0, "Size : ", {170, 20, 120, 20}});
    // Created in image mode: the folder controls start hidden.
    for (HWND w : {refreshButton_, includeCheck_, autoCheck_}) ::ShowWindow(w, SW_HIDE);
}

void TPhotosPage::AddToolTips(HWND tooltip) {
    AddToolTip(tooltip, addFolderButton_, "Add a folder to the list");
    AddToolTip(tooltip, addPhotoButton_, "Add a photo to the list");
    AddToolTip(tooltip, removeButton_, "Remove the selected folder or image from the list");
    AddToolTip(tooltip, hideButton_, "Leave the selected image out of the show, or show it again");
    AddToolTip(tooltip, refreshButton_, "Refresh the folder selected in the list");
    AddToolTip(tooltip, autoCheck_,
               "Refresh the folder selected in the list automatically at the program start");
    AddToolTip(tooltip, includeCheck_, "Search for images in subdirectories of the selected folder");
    AddToolTip(tooltip, pane_.Window(), "Preview of pictures");
}

void TPhotosPage::ReleaseCom() {
    if (comInitialised_) ::CoUninitialize();
    comInitialised_ = false;
}

// --- tree ----------------------------------------------------------------------

// Inserts the pictures of `entry` under `node`, at most kMaxTreeChildren.
void TPhotosPage::InsertPictures(HTREEITEM node, int entry, int slot) {
    const TPictureList& pictures = session_->PicList.GetItem(entry).Pictures;
    const int n = std::min(pictures.Count(), kMaxTreeChildren);
    TShownNames names;
    for (int j = 0; j < n && !fillStop_; ++j)
        InsertPicture(tree_, node, TVI_LAST, pictures.Item(j), ItemData(slot, j + 1), names, session_->Hidden);
}

bool TPhotosPage::Decode(HTREEITEM item, TDecoded& d) const {
    if (!item) return false;
    const std::uint32_t data = DataOf(tree_, item);
    d.Item = item;
    d.Slot = ItemSlot(data);
    d.Position = ItemPosition(data);
    d.Entry = slots_.EntryOf(d.Slot);
    return slots_.Live(d.Slot);
}

// --- properties box --------------------------------------------------------

void TPhotosPage::ResetLabels() {
    SetText(widthLabel_, "Width : ");
    SetText(heightLabel_, "Height : ");
    SetText(formatLabel_, "Format : ");
    SetText(sizeLabel_, "Size : ");
}

void TPhotosPage::ApplyMode(bool folder) {
    folderMode_ = folder;
    SetText(propertiesBox_, folder ? "Folder properties" : "Image properties");
    const int folderShow = folder ? SW_SHOW : SW_HIDE;
    const int imageShow = folder ? SW_HIDE : SW_SHOW;
    ::ShowWindow(widthLabel_, SW_SHOW);
    for (HWND w : {refreshButton_, includeCheck_, autoCheck_}) ::ShowWindow(w, folderShow);
    for (HWND w : {heightLabel_, formatLabel_, sizeLabel_}) ::ShowWindow(w, imageShow);
    // The box's title and the controls that went away must be repainted.
    RECT r;
    r.left = Scaled(230);
    r.right = r.left + Scaled(340);
    r.top = Scaled(tabs_->PageTopOffset() + 265);
    r.bottom = r.top + Scaled(88);
    ::InvalidateRect(tabs_->TabWindow(), &r, TRUE);
    ::InvalidateRect(propertiesBox_, nullptr, TRUE);
}

void TPhotosPage::SwitchMode(bool folder) {
    if (folder != folderMode_) ApplyMode(folder);
}

void TPhotosPage::ShowPropertiesOf(HTREEITEM item) {
    SyncHideButton(item);
    if (!item) {
        SwitchMode(session_->PicList.Count() > 1);
        return;
    }
    TDecoded d;
    if (!Decode(item, d)) return;
    if (d.Position == 0) {
        if (d.Entry >= session_->PicList.Count()) return;
        const TFolderItem& folder = session_->PicList.GetItem(d.Entry);
        SwitchMode(true);
        SetText(widthLabel_, std::to_string(folder.Pictures.Count()) + " pictures");
        SetCheck(includeCheck_, folder.IncludeSubdirs);
        SetCheck(autoCheck_, folder.AutoRefresh);
        pane_.Clear();
        return;
    }
    if (d.Entry < 0 || d.Entry >= session_->PicList.Count()) return;
    const TPictureList& pictures = session_->PicList.GetItem(d.Entry).Pictures;
    if (d.Position - 1 >= pictures.Count()) return;
    TPreviewInfo info;
    // Held back while a preview run's loader decodes on the process-wide
    // decode state; the dialog shows the selection again after the run.
    if (!pane_.Load(std::string(pictures.Item(d.Position - 1)), info)) return;
    SwitchMode(false);
    SetText(widthLabel_, "Width : " + std::to_string(info.Width));
    SetText(heightLabel_, "Height : " + std::to_string(info.Height));
    SetText(formatLabel_, std::string("Format : ") + (info.Format ? info.Format : ""));
    SetText(sizeLabel_, SizeText(info.FileSize));
    pane_.Draw();
}

// --- tree fill ---------------------------------------------------------------

void TPhotosPage::FillBatch(const TFillBatch& b) {
    // One repaint for the run rather than one per item.
    ::SendMessageA(tree_, WM_SETREDRAW, FALSE, 0);
    if (b.Nodes) {
        for (int i = b.First; i < b.Last && i < session_->PicList.Count(); ++i) {
            TFolderItem& folder = session_->PicList.ItemAt(i);
            folder.TreeNode = reinterpret_cast<std::uintptr_t>(
                InsertFolder(tree_, TVI_LAST, folder.FolderPath, ItemData(i, 0), folder.Unreachable));
        }
    } else {
        const TPictureList& pictures = session_->PicList.GetItem(b.Entry).Pictures;
        const int last = std::min(b.Last, pictures.Count());
        const int slot = b.Entry;  // the fill gives entry i the slot i
        HTREEITEM parent = b.Parent ? b.Parent : TVI_ROOT;
        TShownNames names;
        for (int j = b.First; j < last; ++j)
            InsertPicture(tree_, parent, TVI_LAST, pictures.Item(j), ItemData(slot, j + 1), names, session_->Hidden);
    }
    ::SendMessageA(tree_, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(tree_, nullptr, FALSE);
}

void TPhotosPage::SendBatch(const TFillBatch& b) {
    ::SendMessageA(owner_, kFillBatchMessage, 0, reinterpret_cast<LPARAM>(&b));
}

// Sends the pictures of one entry in runs, checking the stop request
// between them.
void TPhotosPage::SendPictures(int entry, HTREEITEM parent, int count) {
    for (int first = 0; first < count && !fillStop_; first += kFillBatchSize) {
        TFillBatch b;
        b.Entry = entry;
        b.First = first;
        b.Last = std::min(count, first + kFillBatchSize);
        b.Parent = parent;
        SendBatch(b);
    }
}

DWORD WINAPI TPhotosPage::FillMain(void* page) {
    static_cast<TPhotosPage*>(page)->Fill();
    return 0;
}

void TPhotosPage::Fill() {
    if (busy_) busy_->List = ::LoadCursorA(nullptr, IDC_WAIT);
    ::SendMessageA(tree_, TVM_SELECTITEM, TVGN_CARET, 0);
    ::SendMessageA(tree_, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    fillRunning_ = true;

    // The slots were given out by StartTreeFill, so that the dialog thread
    // can read the table while this thread inserts. All folder nodes go in
    // before any picture: the tree control finds an item's parent by a
    // search from its first item, which stays short that way.
    const int count = std::min(session_->PicList.Count(), TSlotTable::kMaxSlot + 1);
    for (int first = 1; first < count && !fillStop_; first += kFillBatchSize) {
        TFillBatch nodes;
        nodes.Nodes = true;
        nodes.First = first;
        nodes.Last = std::min(count, first + kFillBatchSize);
        SendBatch(nodes);
    }
    for (int i = 1; i < count && !fillStop_; ++i) {
        HTREEITEM node = reinterpret_cast<HTREEITEM>(session_->PicList.GetItem(i).TreeNode);
        if (node) SendPictures(i, node, std::min(session_->PicList.GetItem(i).Pictures.Count(), kMaxTreeChildren));
    }
    // Positions must fit the low 16 bits of the item data.
    if (count > 0) SendPictures(0, nullptr, std::min(session_->PicList.GetItem(0).Pictures.Count(), 0xFFFF));

    // The selection and properties are brought up to date on the dialog's
    // own thread, which owns the preview bitmap and the picture loading.
    ::PostMessageA(owner_, kFillDoneMessage, 0, 0);
    if (busy_) busy_->List = nullptr;
    fillRunning_ = false;
    fillStop_ = false;
}

void TPhotosPage::StartTreeFill() {
    if (fillRunning_) {
        fillStop_ = true;
        WaitForTreeFill();
        ::Sleep(100);
    }
    fillThread_.Reset();
    // Every folder gets the slot of its own index; item data has room for
    // 65535 slots, and later folders get no node.
    slots_.Reset();
    for (int i = 1; i < session_->PicList.Count() && i <= TSlotTable::kMaxSlot; ++i) slots_.SetFill(i, i);
    fillStop_ = false;
    // Marked running before the thread exists, so that a command arriving
    // before the thread's first step still waits for it.
    fillRunning_ = true;
    fillThread_.Reset(
        ::CreateThread(nullptr, kFillStackSize, FillMain, this, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (!fillThread_) fillRunning_ = false;
}

void TPhotosPage::WaitForTreeFill() {
    while (fillRunning_) {
        ::Sleep(10);
        for (int i = 0; i < 100; ++i) PumpMessages(true);
    }
}

void TPhotosPage::StopTreeFill() {
    if (!fillThread_) return;
    fillStop_ = true;
    // The fill sends its batches to this thread and checks the stop request
    // between them: answering them while waiting lets it reach the next
    // check, after which it returns.
    const HANDLE thread = fillThread_.Get();
    while (::MsgWaitForMultipleObjects(1, &thread, FALSE, 10, QS_ALLINPUT) != WAIT_OBJECT_0) PumpMessages();
    fillThread_.Reset();
    fillRunning_ = false;
    fillStop_ = false;
}

LRESULT TPhotosPage::InsertFillBatch(LPARAM batch) {
    if (const TFillBatch* b = reinterpret_cast<const TFillBatch*>(batch)) FillBatch(*b);
    return 0;
}

// --- commands ----------------------------------------------------------------

void TPhotosPage::RefreshFolder() {
    TDecoded d;
    if (!Decode(Selection(tree_), d) || d.Position != 0 || d.Slot == 0 || d.Entry >= session_->PicList.Count()) return;
    TFolderItem& folder = session_->PicList.ItemAt(d.Entry);
    if (!folder.TreeNode) return;
    HTREEITEM node = reinterpret_cast<HTREEITEM>(folder.TreeNode);
    TBusy busy(busy_);
    const TScanResult scan = ScanFolder(folder.FolderPath, folder.IncludeSubdirs, session_->Plugins.Extensions());
    busy.EndDialogCursor();
    if (scan.Unreachable != folder.Unreachable)
        SetFolderText(tree_, node, folder.FolderPath, scan.Unreachable);
    folder.Unreachable = scan.Unreachable;
    if (scan.Unreachable) {
        // Its list stays as it was: the folder may well be back tomorrow.
        Select(tree_, node);
        ShowPropertiesOf(node);
        const int count = folder.Pictures.Count();
        ShowMessage("The folder\r\n" + folder.FolderPath +
                    "\r\ncannot be reached now: its drive or network share does not answer, or it may not be "
                    "read. Its list of " + std::to_string(count) + (count == 1 ? " picture" : " pictures") +
                    " is kept as it was; refresh it again once the folder can be reached.");
        return;
    }
    folder.Pictures.Clear();
    folder.Pictures.Append(scan.Found);

    ::SendMessageA(tree_, TVM_EXPAND, TVE_COLLAPSE | TVE_COLLAPSERESET, reinterpret_cast<LPARAM>(node));
    InsertPictures(node, d.Entry, d.Slot);
    ::SendMessageA(tree_, TVM_EXPAND, TVE_COLLAPSE, reinterpret_cast<LPARAM>(node));
    Select(tree_, node);
    ShowPropertiesOf(node);
    ReportLeftOut(scan.Skipped.Pictures, scan.Skipped.Folders);
}

void TPhotosPage::AddFolder() {
    bool unreachable = false;
    const std::string path = BrowseForFolder("Select folder with pictures", unreachable);
    if (path.empty()) {
        if (unreachable) ReportLeftOut(0, 1);
        return;
    }
    // The fill works on the entry count it saw when it started; let it end
    // first so that the new folder appears exactly once.
    WaitForTreeFill();
    TBusy busy(busy_);
    const TScanResult scan = ScanFolder(path, true, session_->Plugins.Extensions());
    if (session_->PicList.Count() == 0) session_->PicList.AddFolder("Root");
    const int entry = session_->PicList.AddFolder(path);
    session_->PicList.ItemAt(entry).Pictures.Append(scan.Found);
    busy.EndDialogCursor();

    pane_.Clear();

    const int n = session_->PicList.Count();
    const int slot = slots_.AssignNew(n);
    if (slot < 0) return;  // no slot number left: the folder is kept but not shown
    HTREEITEM after = TVI_FIRST;
    for (int prev = n - 2; prev >= 1; --prev) {
        if (const std::uintptr_t node = session_->PicList.GetItem(prev).TreeNode) {
            after = reinterpret_cast<HTREEITEM>(node);
            break;
        }
    }
    TFolderItem& folder = session_->PicList.ItemAt(entry);
    HTREEITEM node = InsertFolder(tree_, after, path, ItemData(slot, 0));
    folder.TreeNode = reinterpret_cast<std::uintptr_t>(node);
    InsertPictures(node, entry, slot);
    Select(tree_, node);
    ::InvalidateRect(leftBox_, nullptr, TRUE);
    ReportLeftOut(scan.Skipped.Pictures, scan.Skipped.Folders);
}

void TPhotosPage::AddPhoto() {
    int skipped = 0;
    const std::vector<std::string> paths = AskForPictures(owner_, session_->Plugins, skipped);
    WaitForTreeFill();
    HTREEITEM last = nullptr;
    std::size_t notAdded = 0;
    if (!paths.empty()) {
        if (session_->PicList.Count() == 0) session_->PicList.AddFolder("Root");
        TPictureList& root = session_->PicList.ItemAt(0).Pictures;
        TShownNames names;
        // One repaint for a large choice rather than one per picture.
        ::SendMessageA(tree_, WM_SETREDRAW, FALSE, 0);
        for (const std::string& path : paths) {
            // Positions must fit the low 16 bits of the item data.
            if (root.Count() >= kMaxSinglePictures) {
                notAdded = paths.size() - std::size_t(&path - paths.data());
                break;
            }
            root.Add(path);
            last = InsertPicture(tree_, TVI_ROOT, TVI_LAST, path, ItemData(0, root.Count()), names, session_->Hidden);
        }
        ::SendMessageA(tree_, WM_SETREDRAW, TRUE, 0);
        ::InvalidateRect(tree_, nullptr, FALSE);
    }
    if (last) {
        Select(tree_, last);
        ShowPropertiesOf(last);
        ::InvalidateRect(leftBox_, nullptr, TRUE);
    }
    ReportLeftOut(skipped, 0);
    if (notAdded > 0)
        ShowMessage(std::to_string(notAdded) + (notAdded == 1 ? " picture was" : " pictures were") +
                    " not added: the list holds at most " + std::to_string(kMaxSinglePictures) +
                    " single pictures. Put the pictures in a folder and add the folder with \"Add folder\" "
                    "instead: a folder can hold any number of them.");
}

void TPhotosPage::Remove() {
    WaitForTreeFill();
    TDecoded d;
    if (!Decode(Selection(tree_), d)) return;
    if (d.Position == 0) {
        if (d.Slot == 0 || d.Entry >= session_->PicList.Count()) return;
        pane_.Clear();
        ResetLabels();
        ::SendMessageA(tree_, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(d.Item));
        slots_.RemoveEntry(d.Slot);
        session_->PicList.Delete(d.Entry);
        if (session_->PicList.Count() == 1 && session_->PicList.GetItem(0).Pictures.Empty()) ShowPropertiesOf(nullptr);
        return;
    }
    if (d.Entry >= session_->PicList.Count()) return;
    TPictureList& pictures = session_->PicList.ItemAt(d.Entry).Pictures;
    if (d.Position - 1 >= pictures.Count()) return;
    // Later siblings move up one place, so positions stay 1-based and
    // without gaps: the first takes the removed one's position.
    int position = d.Position;
    for (HTREEITEM s = Next(tree_, d.Item, TVGN_NEXT); s; s = Next(tree_, s, TVGN_NEXT))
        SetData(tree_, s, ItemData(d.Slot, position++));
    ResetLabels();
    ::SendMessageA(tree_, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(d.Item));
    pictures.Delete(d.Position - 1);
    if (session_->PicList.Count() == 1 && session_->PicList.GetItem(0).Pictures.Empty()) pane_.Clear();
    ShowPropertiesOf(Selection(tree_));
}

// The selected picture's path, when a picture is selected.
std::optional<std::string> TPhotosPage::SelectedPicture(TDecoded& d) const {
    if (!Decode(Selection(tree_), d) || d.Position == 0) return std::nullopt;
    if (d.Entry < 0 || d.Entry >= session_->PicList.Count()) return std::nullopt;
    const TPictureList& pictures = session_->PicList.GetItem(d.Entry).Pictures;
    if (d.Position - 1 >= pictures.Count()) return std::nullopt;
    return std::string(pictures.Item(d.Position - 1));
}

void TPhotosPage::SyncHideButton(HTREEITEM item) {
    TDecoded d;
    const std::optional<std::string> path = item == Selection(tree_) ? SelectedPicture(d) : std::nullopt;
    ::EnableWindow(hideButton_, path ? TRUE : FALSE);
    SetText(hideButton_, path && session_->Hidden.Contains(*path) ? "Unhide" : "Hide");
}

void TPhotosPage::ToggleHidden() {
    WaitForTreeFill();
    TDecoded d;
    const std::optional<std::string> path = SelectedPicture(d);
    if (!path) return;
    THiddenList& hidden = session_->Hidden;
    if (!hidden.Remove(*path)) hidden.Add(*path);
    TShownNames names;
    std::wstring text = PictureText(*path, hidden.Contains(*path), names);
    TVITEMW it = {};
    it.mask = TVIF_TEXT;
    it.hItem = d.Item;
    it.pszText = &text[0];
    ::SendMessageW(tree_, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&it));
    SyncHideButton(d.Item);
}

void TPhotosPage::FlagClicked(int id) {
    HWND check = id == kIdIncludeSubdirs ? includeCheck_ : autoCheck_;
    const bool on = ::SendMessageA(check, BM_GETCHECK, 0, 0) == BST_CHECKED;
    WaitForTreeFill();
    TDecoded d;
    if (!Decode(Selection(tree_), d) || d.Position != 0 || d.Slot == 0 || d.Entry >= session_->PicList.Count()) return;
    TFolderItem& folder = session_->PicList.ItemAt(d.Entry);
    if (id == kIdIncludeSubdirs) {
        folder.IncludeSubdirs = on;
        RefreshFolder();
    } else {
        folder.AutoRefresh = on;
        if (on) RefreshFolder();
    }
}

void TPhotosPage::Command(int id) {
    switch (id) {
    case kIdAddFolder:
        AddFolder();
        break;
    case kIdRemove:
        Remove();
        break;
    case kIdIncludeSubdirs:
    case kIdAutoRefresh:
        FlagClicked(id);
        break;
    case kIdAddPhoto:
        AddPhoto();
        break;
    case kIdHide:
        ToggleHidden();
        break;
    case kIdRefreshFolder:
        WaitForTreeFill();
        RefreshFolder();
        break;
    }
}

void TPhotosPage::ShowProperties() {
    ShowPropertiesOf(Selection(tree_));
}

void TPhotosPage::Sync() {
    HTREEITEM sel = Selection(tree_);
    if (!sel) {
        if (HTREEITEM first = Next(tree_, nullptr, TVGN_ROOT))
            Select(tree_, first);  // the notification shows it
        if (!Selection(tree_)) ShowPropertiesOf(nullptr);
        return;
    }
    ApplyMode(folderMode_);
    ShowPropertiesOf(sel);
}

std::string TPhotosPage::BrowseForFolder(const std::string& title, bool& unreachable) {
    unreachable = false;
    if (!comInitialised_) {
        ::CoInitialize(nullptr);
        comInitialised_ = true;
    }
    std::string start;
    if (TRegKey key = CreateRegKey(HKEY_CURRENT_USER, kSettingsKey))
        start = ReadRegString(key.Get(), "DialogPath").value_or(std::string());
    std::wstring chosen;
    {
        TKeepCurrentFolder keep;
        const auto& browse = ConfigHooks().BrowseFolder;
        chosen = browse ? browse(owner_, Widen(title), WidePathOf(start))
                        : ShellBrowse(owner_, Widen(title), WidePathOf(start));
    }
    std::string path;
    if (chosen.empty()) return path;
    if (!AnsiPathOf(chosen, path)) {
        unreachable = true;
        return path;
    }
    if (TRegKey key = CreateRegKey(HKEY_CURRENT_USER, kSettingsKey))
        WriteRegString(key.Get(), "DialogPath", path);
    return path;
}

// --- seams and pickers ------------------------------------------------------

std::string PluginFilter(const TPluginHost& plugins) {
    return BuildOpenFilter(PluginFilterFormats(plugins));
}

std::vector<std::string> AskForPictures(HWND owner, const TPluginHost& plugins, int& skipped) {
    skipped = 0;
    // The filter's NULs come through; the string's own terminator ends it.
    const std::wstring filter = Widen(PluginFilter(plugins));
    std::vector<wchar_t> buffer(kPickerBufferChars, L'\0');
    unsigned error = 0;
    for (;;) {
        buffer[0] = L'\0';
        OPENFILENAMEW ofn = {};
        ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
        ofn.hwndOwner = owner;
        ofn.hInstance = ::GetModuleHandleW(nullptr);
        ofn.lpstrFilter = filter.c_str();
        ofn.nFilterIndex = 1;
        ofn.lpstrFile = buffer.data();
        ofn.nMaxFile = static_cast<DWORD>(buffer.size());
        ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_ALLOWMULTISELECT |
                    OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
        error = 0;
        bool ok = false;
        {
            TKeepCurrentFolder keep;
            const auto& pick = ConfigHooks().PickFiles;
            ok = pick ? pick(ofn, error) : ShellOpenFile(ofn, error);
        }
        if (ok) {
            std::vector<std::string> paths;
            std::string path;
            const auto chosenFiles = ParseOpenFileResultW(buffer.data(), buffer.size(), ofn.nFileOffset);
            for (const std::wstring& chosen : chosenFiles) {
                if (AnsiPathOf(chosen, path))
                    paths.push_back(path);
                else
                    ++skipped;
            }
            return paths;
        }
        if (error != FNERR_BUFFERTOOSMALL || buffer.size() >= kMaxPickerBufferChars) break;
        // The choice did not fit and is gone, so the dialog asks again with
        // room for it. The size it wrote into the first character wraps
        // past 65535, hence the growth of at least four times.
        const std::size_t asked = static_cast<WORD>(buffer[0]);
        buffer.assign(std::min(kMaxPickerBufferChars, std::max(buffer.size() * 4, asked + 1)), L'\0');
        ShowMessage("That many pictures do not fit in at once. Please choose them once more.");
    }
    if (error != 0) ShowMessage("Fails = " + std::to_string(error));
    return {};
}
