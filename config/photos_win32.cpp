#include "config/photos_win32.h"

#include <commctrl.h>
#include <commdlg.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <utility>

#include "app/handles_win32.h"
#include "app/registry_win32.h"
#include "app/settings.h"
#include "app/ui_win32.h"
#include "catalogue/piclist.h"
#include "catalogue/scan.h"
#include "config/dialog_win32.h"
#include "config/layout.h"
#include "config/picture_win32.h"
#include "config/preview_win32.h"

namespace {

// The page's controls; children of the page and its two group boxes.
HWND leftBox = nullptr;
HWND tree = nullptr;
HWND propertiesBox = nullptr;
HWND widthLabel = nullptr;
HWND heightLabel = nullptr;
HWND formatLabel = nullptr;
HWND sizeLabel = nullptr;
HWND refreshButton = nullptr;
HWND includeCheck = nullptr;
HWND autoCheck = nullptr;
HWND addFolderButton = nullptr;
HWND removeButton = nullptr;
HWND addPhotoButton = nullptr;

bool folderMode = false;  // properties box shows a folder (else a picture)
TSlotTable slots;

// Tree fill thread.
std::atomic<bool> fillRunning{false};
std::atomic<bool> fillStop{false};
TKernelHandle fillThread;

TFolderBrowser folderBrowser;
TFilePicker filePicker;

constexpr DWORD kFillStackSize = 32 * 1024;

// --- tree access -----------------------------------------------------------

HTREEITEM Insert(HTREEITEM parent, HTREEITEM after, const std::string& text, std::uint32_t data) {
    TVINSERTSTRUCTA ins = {};
    ins.hParent = parent;
    ins.hInsertAfter = after;
    ins.item.mask = TVIF_TEXT | TVIF_PARAM;
    ins.item.pszText = const_cast<char*>(text.c_str());
    ins.item.lParam = static_cast<LPARAM>(data);
    return reinterpret_cast<HTREEITEM>(
        ::SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&ins)));
}

std::uint32_t DataOf(HTREEITEM item) {
    TVITEMA it = {};
    it.mask = TVIF_PARAM;
    it.hItem = item;
    ::SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&it));
    return static_cast<std::uint32_t>(it.lParam);
}

void SetData(HTREEITEM item, std::uint32_t data) {
    TVITEMA it = {};
    it.mask = TVIF_PARAM;
    it.hItem = item;
    it.lParam = static_cast<LPARAM>(data);
    ::SendMessageA(tree, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&it));
}

HTREEITEM Next(HTREEITEM item, UINT how) {
    return reinterpret_cast<HTREEITEM>(
        ::SendMessageA(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(item)));
}

HTREEITEM Selection() {
    return Next(nullptr, TVGN_CARET);
}

void Select(HTREEITEM item) {
    ::SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
}

// Inserts the pictures of `entry` under `node`, at most kMaxTreeChildren.
void InsertPictures(HTREEITEM node, int entry, int slot) {
    const TPictureList& pictures = PicList.GetItem(entry).Pictures;
    const int n = std::min(pictures.Count(), kMaxTreeChildren);
    for (int j = 0; j < n && !fillStop; ++j)
        Insert(node, TVI_LAST, FileNamePart(pictures.Item(j)), ItemData(slot, j + 1));
}

// --- properties box --------------------------------------------------------

void SetText(HWND wnd, const std::string& text) {
    ::SetWindowTextA(wnd, text.c_str());
}

void ResetLabels() {
    SetText(widthLabel, "Width : ");
    SetText(heightLabel, "Height : ");
    SetText(formatLabel, "Format : ");
    SetText(sizeLabel, "Size : ");
}

void ApplyMode(bool folder) {
    folderMode = folder;
    SetText(propertiesBox, folder ? "Folder properties" : "Image properties");
    const int folderShow = folder ? SW_SHOW : SW_HIDE;
    const int imageShow = folder ? SW_HIDE : SW_SHOW;
    ::ShowWindow(widthLabel, SW_SHOW);
    for (HWND w : {refreshButton, includeCheck, autoCheck}) ::ShowWindow(w, folderShow);
    for (HWND w : {heightLabel, formatLabel, sizeLabel}) ::ShowWindow(w, imageShow);
    // The box's title and the controls that went away must be repainted.
    RECT r;
    r.left = Scaled(230);
    r.right = r.left + Scaled(340);
    r.top = Scaled(Dialog.PageTopOffset + 265);
    r.bottom = r.top + Scaled(88);
    ::InvalidateRect(Dialog.Tab, &r, TRUE);
    ::InvalidateRect(propertiesBox, nullptr, TRUE);
}

void SwitchMode(bool folder) {
    if (folder != folderMode) ApplyMode(folder);
}

void SetCheck(HWND check, bool on) {
    ::SendMessageA(check, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

// The selection as (slot, position, entry); false for none or a stale item.
struct TDecoded {
    HTREEITEM Item = nullptr;
    int Slot = 0;
    int Position = 0;
    int Entry = 0;
};

bool Decode(HTREEITEM item, TDecoded& d) {
    if (!item) return false;
    const std::uint32_t data = DataOf(item);
    d.Item = item;
    d.Slot = ItemSlot(data);
    d.Position = ItemPosition(data);
    d.Entry = slots.EntryOf(d.Slot);
    return slots.Live(d.Slot);
}

void ShowPropertiesOf(HTREEITEM item) {
    if (!item) {
        SwitchMode(PicList.Count() > 1);
        return;
    }
    TDecoded d;
    if (!Decode(item, d)) return;
    if (d.Position == 0) {
        if (d.Entry >= PicList.Count()) return;
        const TFolderItem& folder = PicList.GetItem(d.Entry);
        SwitchMode(true);
        SetText(widthLabel, std::to_string(folder.Pictures.Count()) + " pictures");
        SetCheck(includeCheck, folder.IncludeSubdirs);
        SetCheck(autoCheck, folder.AutoRefresh);
        ClearPane();
        return;
    }
    if (d.Entry < 0 || d.Entry >= PicList.Count()) return;
    const TPictureList& pictures = PicList.GetItem(d.Entry).Pictures;
    if (d.Position - 1 >= pictures.Count()) return;
    TPreviewInfo info;
    LoadPreviewPicture(*Dialog.PreviewBitmap, std::string(pictures.Item(d.Position - 1)), info);
    SwitchMode(false);
    SetText(widthLabel, "Width : " + std::to_string(info.Width));
    SetText(heightLabel, "Height : " + std::to_string(info.Height));
    SetText(formatLabel, std::string("Format : ") + (info.Format ? info.Format : ""));
    SetText(sizeLabel, SizeText(info.FileSize));
    if (Dialog.PaneDC) DrawPane(Dialog.PaneDC);
}

// --- busy cursors ------------------------------------------------------------

// The dialog's busy cursor for the length of a command, and the list's when
// no one else has set it.
class TBusy {
public:
    TBusy() {
        HCURSOR wait = ::LoadCursorA(nullptr, IDC_WAIT);
        DialogBusyCursor = wait;
        ::SetCursor(wait);
        HCURSOR none = nullptr;
        ownsList_ = ListBusyCursor.compare_exchange_strong(none, wait);
    }
    TBusy(const TBusy&) = delete;
    TBusy& operator=(const TBusy&) = delete;
    ~TBusy() {
        EndDialogCursor();
        if (ownsList_) ListBusyCursor = nullptr;
    }
    void EndDialogCursor() { DialogBusyCursor = nullptr; }

private:
    bool ownsList_ = false;
};

// --- tree fill ---------------------------------------------------------------

// A run of tree items the fill thread asks the dialog thread to insert.
// Inserting on the tree's own thread costs a few microseconds an item; a
// message across threads for every item would cost far more.
struct TFillBatch {
    bool Nodes = false;          // folder nodes of entries First..Last-1, else pictures of Entry
    int Entry = 0;               // catalogue entry whose pictures are inserted
    int First = 0;               // first entry or picture index of the run
    int Last = 0;                // one past the last
    HTREEITEM Parent = nullptr;  // the folder node, or null for root-level pictures
};

constexpr int kFillBatchSize = 2000;

void FillBatch(const TFillBatch& b) {
    // One repaint for the run rather than one per item.
    ::SendMessageA(tree, WM_SETREDRAW, FALSE, 0);
    if (b.Nodes) {
        for (int i = b.First; i < b.Last && i < PicList.Count(); ++i) {
            TFolderItem& folder = PicList.ItemAt(i);
            folder.TreeNode = reinterpret_cast<std::uintptr_t>(
                Insert(TVI_ROOT, TVI_LAST, folder.FolderPath, ItemData(i, 0)));
        }
    } else {
        const TPictureList& pictures = PicList.GetItem(b.Entry).Pictures;
        const int last = std::min(b.Last, pictures.Count());
        const int slot = b.Entry;  // the fill gives entry i the slot i
        HTREEITEM parent = b.Parent ? b.Parent : TVI_ROOT;
        for (int j = b.First; j < last; ++j)
            Insert(parent, TVI_LAST, FileNamePart(pictures.Item(j)), ItemData(slot, j + 1));
    }
    ::SendMessageA(tree, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(tree, nullptr, FALSE);
}

void SendBatch(const TFillBatch& b) {
    ::SendMessageA(Dialog.Main, kFillBatchMessage, 0, reinterpret_cast<LPARAM>(&b));
}

// Sends the pictures of one entry in runs, checking the stop request
// between them.
void SendPictures(int entry, HTREEITEM parent, int count) {
    for (int first = 0; first < count && !fillStop; first += kFillBatchSize) {
        TFillBatch b;
        b.Entry = entry;
        b.First = first;
        b.Last = std::min(count, first + kFillBatchSize);
        b.Parent = parent;
        SendBatch(b);
    }
}

DWORD WINAPI TreeFillMain(void*) {
    ListBusyCursor = ::LoadCursorA(nullptr, IDC_WAIT);
    ::SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, 0);
    ::SendMessageA(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    fillRunning = true;

    // The slots were given out by StartTreeFill, so that the dialog thread
    // can read the table while this thread inserts. All folder nodes go in
    // before any picture: the tree control finds an item's parent by a
    // search from its first item, which stays short that way.
    const int count = std::min(PicList.Count(), TSlotTable::kMaxSlot + 1);
    for (int first = 1; first < count && !fillStop; first += kFillBatchSize) {
        TFillBatch nodes;
        nodes.Nodes = true;
        nodes.First = first;
        nodes.Last = std::min(count, first + kFillBatchSize);
        SendBatch(nodes);
    }
    for (int i = 1; i < count && !fillStop; ++i) {
        HTREEITEM node = reinterpret_cast<HTREEITEM>(PicList.GetItem(i).TreeNode);
        if (node) SendPictures(i, node, std::min(PicList.GetItem(i).Pictures.Count(), kMaxTreeChildren));
    }
    // Positions must fit the low 16 bits of the item data.
    if (count > 0) SendPictures(0, nullptr, std::min(PicList.GetItem(0).Pictures.Count(), 0xFFFF));

    // The selection and properties are brought up to date on the dialog's
    // own thread, which owns the preview bitmap and the picture loading.
    ::PostMessageA(Dialog.Main, kFillDoneMessage, 0, 0);
    ListBusyCursor = nullptr;
    fillRunning = false;
    fillStop = false;
    return 0;
}

void PumpOne() {
    MSG msg;
    if (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
}

void PumpAll() {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
}

// --- commands ----------------------------------------------------------------

void RefreshFolder() {
    ScanRoot.clear();
    TDecoded d;
    if (!Decode(Selection(), d) || d.Position != 0 || d.Slot == 0 || d.Entry >= PicList.Count()) return;
    TFolderItem& folder = PicList.ItemAt(d.Entry);
    if (!folder.TreeNode) return;
    HTREEITEM node = reinterpret_cast<HTREEITEM>(folder.TreeNode);
    TBusy busy;
    folder.Pictures.Clear();
    Settings.ScanSubfolders = folder.IncludeSubdirs;
    ScanFolder(folder.FolderPath);
    folder.Pictures.Append(FoundList);
    busy.EndDialogCursor();

    ::SendMessageA(tree, TVM_EXPAND, TVE_COLLAPSE | TVE_COLLAPSERESET, reinterpret_cast<LPARAM>(node));
    InsertPictures(node, d.Entry, d.Slot);
    ::SendMessageA(tree, TVM_EXPAND, TVE_COLLAPSE, reinterpret_cast<LPARAM>(node));
    Select(node);
    ShowPropertiesOf(node);
}

void AddFolder() {
    const std::string path = BrowseForFolder(Dialog.Main, "Select folder with pictures");
    if (path.empty()) return;
    // The fill works on the entry count it saw when it started; let it end
    // first so that the new folder appears exactly once.
    WaitForTreeFill();
    TBusy busy;
    Settings.ScanSubfolders = true;
    ScanFolder(path);
    if (PicList.Count() == 0) PicList.AddFolder("Root");
    const int entry = PicList.AddFolder(path);
    PicList.ItemAt(entry).Pictures.Append(FoundList);
    busy.EndDialogCursor();

    ClearPane();

    const int n = PicList.Count();
    const int slot = slots.AssignNew(n);
    if (slot < 0) return;  // no slot number left: the folder is kept but not shown
    HTREEITEM after = TVI_FIRST;
    for (int prev = n - 2; prev >= 1; --prev) {
        if (const std::uintptr_t node = PicList.GetItem(prev).TreeNode) {
            after = reinterpret_cast<HTREEITEM>(node);
            break;
        }
    }
    TFolderItem& folder = PicList.ItemAt(entry);
    HTREEITEM node = Insert(TVI_ROOT, after, path, ItemData(slot, 0));
    folder.TreeNode = reinterpret_cast<std::uintptr_t>(node);
    InsertPictures(node, entry, slot);
    Select(node);
    ::InvalidateRect(leftBox, nullptr, TRUE);
}

void AddPhoto() {
    const std::vector<std::string> paths = AskForPictures(Dialog.Main);
    WaitForTreeFill();
    if (paths.empty()) return;
    if (PicList.Count() == 0) PicList.AddFolder("Root");
    TPictureList& root = PicList.ItemAt(0).Pictures;
    HTREEITEM last = nullptr;
    for (const std::string& path : paths) {
        // Positions must fit the low 16 bits of the item data.
        if (root.Count() >= 0xFFFF) break;
        root.Add(path);
        last = Insert(TVI_ROOT, TVI_LAST, FileNamePart(path), ItemData(0, root.Count()));
    }
    if (!last) return;
    Select(last);
    ShowPropertiesOf(last);
    ::InvalidateRect(leftBox, nullptr, TRUE);
}

void Remove() {
    WaitForTreeFill();
    TDecoded d;
    if (!Decode(Selection(), d)) return;
    if (d.Position == 0) {
        if (d.Slot == 0 || d.Entry >= PicList.Count()) return;
        ClearPane();
        ResetLabels();
        ::SendMessageA(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(d.Item));
        slots.RemoveEntry(d.Slot);
        PicList.Delete(d.Entry);
        if (PicList.Count() == 1 && PicList.GetItem(0).Pictures.Empty()) ShowPropertiesOf(nullptr);
        return;
    }
    if (d.Entry >= PicList.Count()) return;
    TPictureList& pictures = PicList.ItemAt(d.Entry).Pictures;
    if (d.Position - 1 >= pictures.Count()) return;
    // Later siblings move up one place, so positions stay 1-based and
    // without gaps: the first takes the removed one's position.
    int position = d.Position;
    for (HTREEITEM s = Next(d.Item, TVGN_NEXT); s; s = Next(s, TVGN_NEXT))
        SetData(s, ItemData(d.Slot, position++));
    ResetLabels();
    ::SendMessageA(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(d.Item));
    pictures.Delete(d.Position - 1);
    if (PicList.Count() == 1 && PicList.GetItem(0).Pictures.Empty()) ClearPane();
    ShowPropertiesOf(Selection());
}

void FlagClicked(int id) {
    HWND check = id == kIdIncludeSubdirs ? includeCheck : autoCheck;
    const bool on = ::SendMessageA(check, BM_GETCHECK, 0, 0) == BST_CHECKED;
    WaitForTreeFill();
    TDecoded d;
    if (!Decode(Selection(), d) || d.Position != 0 || d.Slot == 0 || d.Entry >= PicList.Count()) return;
    TFolderItem& folder = PicList.ItemAt(d.Entry);
    if (id == kIdIncludeSubdirs) {
        folder.IncludeSubdirs = on;
        RefreshFolder();
    } else {
        folder.AutoRefresh = on;
        if (on) RefreshFolder();
    }
}

int CALLBACK BrowseCallback(HWND wnd, UINT msg, LPARAM, LPARAM data) {
    const char* start = reinterpret_cast<const char*>(data);
    if (msg == BFFM_INITIALIZED && start && *start)
        ::SendMessageA(wnd, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(start));
    return 0;
}

std::string ShellBrowse(HWND owner, const std::string& title, const std::string& start) {
    char display[MAX_PATH] = {};
    BROWSEINFOA bi = {};
    bi.hwndOwner = owner;
    bi.pszDisplayName = display;
    bi.lpszTitle = title.c_str();
    bi.ulFlags = BIF_RETURNONLYFSDIRS;
    bi.lpfn = BrowseCallback;
    bi.lParam = reinterpret_cast<LPARAM>(start.c_str());
    LPITEMIDLIST list = ::SHBrowseForFolderA(&bi);
    if (!list) return std::string();
    char path[MAX_PATH + 1] = {};
    const BOOL ok = ::SHGetPathFromIDListA(list, path);
    // The shell allocates item lists with the task allocator.
    ::CoTaskMemFree(list);
    return ok ? std::string(path) : std::string();
}

bool ShellOpenFile(HWND owner, const std::string& filter, std::vector<std::string>& paths, unsigned& error) {
    constexpr std::size_t kBufferSize = 10000;
    std::vector<char> buffer(kBufferSize, '\0');
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;  // 76 bytes
    ofn.hwndOwner = owner;
    ofn.hInstance = ::GetModuleHandleA(nullptr);
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = static_cast<DWORD>(kBufferSize);
    ofn.Flags =
        OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_ALLOWMULTISELECT | OFN_HIDEREADONLY;
    if (!::GetOpenFileNameA(&ofn)) {
        error = ::CommDlgExtendedError();
        return false;
    }
    paths = ParseOpenFileResult(buffer.data(), buffer.size(), ofn.nFileOffset);
    return true;
}

}  // namespace

void BuildPhotosPage(HWND page) {
    folderMode = false;
    slots.Reset();
    leftBox = CreateGroupBox(page, 0, "", 6, 4, 210, 359);
    tree = CreateTreeView(leftBox, kIdTree, "Tree Images", 10, 16, 190, 240);
    addFolderButton = CreatePushButton(leftBox, kIdAddFolder, "Add folder", 10, 276, 90, 20);
    removeButton = CreatePushButton(leftBox, kIdRemove, "Remove", 110, 276, 90, 20);
    addPhotoButton = CreatePushButton(leftBox, kIdAddPhoto, "Add photo", 10, 306, 90, 20);
    Dialog.Pane =
        CreatePicturePane(page, kIdPicturePane, kPaneClass, PaneProc, 236, 20, Scaled(320), Scaled(240));
    propertiesBox = CreateGroupBox(page, 0, "Image properties", 226, 275, 340, 88);
    widthLabel = CreateLabel(propertiesBox, 0, "Width : ", 20, 20, 120, 20);
    heightLabel = CreateLabel(propertiesBox, 0, "Height : ", 20, 43, 120, 20);
    formatLabel = CreateLabel(propertiesBox, 0, "Format : ", 20, 66, 120, 20);
    refreshButton = CreatePushButton(propertiesBox, kIdRefreshFolder, "Refresh folder", 170, 20, 103, 25);
    includeCheck =
        CreateCheckBox(propertiesBox, kIdIncludeSubdirs, "Include subdirectories", 20, 40, 150, 20);
    autoCheck = CreateCheckBox(propertiesBox, kIdAutoRefresh, "Auto Refresh", 180, 50, 150, 20);
    sizeLabel = CreateLabel(propertiesBox, 0, "Size : ", 170, 20, 120, 20);
    // Created in image mode: the folder controls start hidden.
    for (HWND w : {refreshButton, includeCheck, autoCheck}) ::ShowWindow(w, SW_HIDE);
}

void AddPhotosToolTips(HWND tooltip) {
    AddToolTip(tooltip, addFolderButton, "Add a folder to the list");
    AddToolTip(tooltip, addPhotoButton, "Add a photo to the list");
    AddToolTip(tooltip, removeButton, "Remove the selected folder or image from the list");
    AddToolTip(tooltip, refreshButton, "Refresh the folder selected in the list");
    AddToolTip(tooltip, autoCheck,
               "Refresh the folder selected in the list automatically at the program start");
    AddToolTip(tooltip, includeCheck, "Search for images in subdirectories of the selected folder");
    AddToolTip(tooltip, Dialog.Pane, "Preview of pictures");
}

void StartTreeFill() {
    if (fillRunning) {
        fillStop = true;
        WaitForTreeFill();
        ::Sleep(100);
    }
    fillThread.Reset();
    // Every folder gets the slot of its own index; item data has room for
    // 65535 slots, and later folders get no node.
    slots.Reset();
    for (int i = 1; i < PicList.Count() && i <= TSlotTable::kMaxSlot; ++i) slots.SetFill(i, i);
    fillStop = false;
    // Marked running before the thread exists, so that a command arriving
    // before the thread's first step still waits for it.
    fillRunning = true;
    fillThread.Reset(::CreateThread(nullptr, kFillStackSize, TreeFillMain, nullptr,
                                    STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (!fillThread) fillRunning = false;
}

bool TreeFillRunning() {
    return fillRunning;
}

void WaitForTreeFill() {
    while (fillRunning) {
        ::Sleep(10);
        for (int i = 0; i < 100; ++i) PumpOne();
    }
}

void StopTreeFill() {
    if (!fillRunning) return;
    fillStop = true;
    for (int wait = 1; wait <= 101; ++wait) {
        ::Sleep(10);
        PumpAll();
        if (wait <= 100 && !fillRunning) break;
        if (wait == 101 && fillRunning && fillThread) {
            ::TerminateThread(fillThread.Get(), 0);
            fillRunning = false;
            ListBusyCursor = nullptr;
        }
    }
    fillThread.Reset();
}

void PhotosCommand(int id) {
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
    case kIdRefreshFolder:
        WaitForTreeFill();
        RefreshFolder();
        break;
    }
}

void ShowProperties() {
    ShowPropertiesOf(Selection());
}

void SyncPhotosPage() {
    HTREEITEM sel = Selection();
    if (!sel) {
        if (HTREEITEM first = Next(nullptr, TVGN_ROOT)) Select(first);  // the notification shows it
        if (!Selection()) ShowPropertiesOf(nullptr);
        return;
    }
    ApplyMode(folderMode);
    ShowPropertiesOf(sel);
}

HWND PhotosTree() {
    return tree;
}

LRESULT InsertFillBatch(LPARAM batch) {
    if (const TFillBatch* b = reinterpret_cast<const TFillBatch*>(batch)) FillBatch(*b);
    return 0;
}

void SetFolderBrowser(TFolderBrowser browser) {
    folderBrowser = std::move(browser);
}
void SetFilePicker(TFilePicker picker) {
    filePicker = std::move(picker);
}

std::string PluginFilter() {
    return BuildOpenFilter(PluginFilterFormats());
}

std::string BrowseForFolder(HWND owner, const std::string& title) {
    if (!Dialog.ComInitialised) {
        ::CoInitialize(nullptr);
        Dialog.ComInitialised = true;
    }
    std::string start;
    if (TRegKey key = CreateRegKey(HKEY_CURRENT_USER, kSettingsKey))
        start = ReadRegString(key.Get(), "DialogPath").value_or(std::string());
    const std::string path =
        folderBrowser ? folderBrowser(owner, title, start) : ShellBrowse(owner, title, start);
    if (path.empty()) return path;
    if (TRegKey key = CreateRegKey(HKEY_CURRENT_USER, kSettingsKey))
        WriteRegString(key.Get(), "DialogPath", path);
    return path;
}

std::vector<std::string> AskForPictures(HWND owner) {
    const std::string filter = PluginFilter();
    std::vector<std::string> paths;
    unsigned error = 0;
    const bool ok =
        filePicker ? filePicker(owner, filter, paths, error) : ShellOpenFile(owner, filter, paths, error);
    if (!ok) {
        if (error != 0) ShowMessage("Fails = " + std::to_string(error));
        return {};
    }
    return paths;
}
