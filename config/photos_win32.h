#pragma once
#include <windows.h>
// commctrl.h needs the types windows.h declares.
#include <commctrl.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "base/handles_win32.h"
#include "config/controls_win32.h"
#include "config/dialog_rules.h"
#include "config/preview_win32.h"

class TSession;
class TPluginHost;

// The Photos page: the catalogue as a tree of folders and pictures, the
// commands that edit it, and the properties of the selected item.

// Posted to the dialog by the tree-fill thread when it has finished, so that
// the selection and properties are brought up to date on the dialog thread.
constexpr UINT kFillDoneMessage = WM_APP + 1;
// Sent by the tree-fill thread with a run of items for the dialog thread to
// insert; answered by TPhotosPage::InsertFillBatch.
constexpr UINT kFillBatchMessage = WM_APP + 2;

class TPhotosPage {
public:
    struct TCreateArgs {
        HWND Page = nullptr;   // the tab page the controls go on
        HWND Owner = nullptr;  // the dialog: owns the pickers and boxes, takes the fill's messages
        const TmyTabControl* Tabs = nullptr;  // not owned: the tab control the page lies over
        TBusyCursors* Busy = nullptr;         // not owned: the dialog's
        TSession* Session = nullptr;          // not owned: the catalogue the page edits, its plug-ins
    };

    TPhotosPage() = default;
    TPhotosPage(const TPhotosPage&) = delete;
    TPhotosPage& operator=(const TPhotosPage&) = delete;
    ~TPhotosPage() { StopTreeFill(); }

    // Creates the page's controls and its picture pane.
    void Create(const TCreateArgs& args);
    void AddToolTips(HWND tooltip);
    // For the dialog's tear-down, in its order: the pane's DC, bitmap and
    // pens; then COM, if a folder browser started it.
    void ReleasePane() { pane_.Destroy(); }
    void ReleaseCom();

    // The tree fill on its own thread (32 KiB stack).
    void StartTreeFill();
    bool TreeFillRunning() const { return fillRunning_; }
    // Waits for a running fill, pumping this thread's messages so that the
    // tree can take the fill's inserts.
    void WaitForTreeFill();
    // Asks a running fill to stop and waits until its thread has returned,
    // answering its messages meanwhile. The fill stops between two batches.
    void StopTreeFill();
    LRESULT InsertFillBatch(LPARAM batch);

    void Command(int id);
    // Shows the properties of the tree's selection (folder or picture).
    void ShowProperties();
    // Called when the page is shown anew: selects the first item when
    // nothing is selected, else refreshes the properties box and its mode.
    void Sync();

    HWND Tree() const { return tree_; }
    TPicturePane& Pane() { return pane_; }

private:
    struct TDecoded;
    struct TFillBatch;
    static DWORD WINAPI FillMain(void* page);
    void Fill();
    void FillBatch(const TFillBatch& batch);
    void SendBatch(const TFillBatch& batch);
    void SendPictures(int entry, HTREEITEM parent, int count);

    void InsertPictures(HTREEITEM node, int entry, int slot);
    bool Decode(HTREEITEM item, TDecoded& d) const;

    void ResetLabels();
    void ApplyMode(bool folder);
    void SwitchMode(bool folder);
    void ShowPropertiesOf(HTREEITEM item);

    void RefreshFolder();
    void AddFolder();
    void AddPhoto();
    void Remove();
    // Hides the selected picture from the show, or shows it again.
    void ToggleHidden();
    // The Hide button's text and state for the selection.
    void SyncHideButton(HTREEITEM item);
    std::optional<std::string> SelectedPicture(TDecoded& d) const;
    void FlagClicked(int id);
    // The folder browser as the product runs it: start folder from
    // "DialogPath", the choice written back to it. The folder comes back as
    // a path of the ANSI file functions, with short names where the code
    // page cannot spell the long ones; empty for Cancel, and for a folder
    // that has no such path, which sets `unreachable`.
    std::string BrowseForFolder(const std::string& title, bool& unreachable);

    // From the creation arguments; not owned.
    HWND owner_ = nullptr;
    const TmyTabControl* tabs_ = nullptr;
    TBusyCursors* busy_ = nullptr;
    TSession* session_ = nullptr;

    // The page's controls; children of the page and its two group boxes.
    HWND leftBox_ = nullptr;
    HWND tree_ = nullptr;
    HWND propertiesBox_ = nullptr;
    HWND widthLabel_ = nullptr;
    HWND heightLabel_ = nullptr;
    HWND formatLabel_ = nullptr;
    HWND sizeLabel_ = nullptr;
    HWND refreshButton_ = nullptr;
    HWND includeCheck_ = nullptr;
    HWND autoCheck_ = nullptr;
    HWND addFolderButton_ = nullptr;
    HWND removeButton_ = nullptr;
    HWND addPhotoButton_ = nullptr;
    HWND hideButton_ = nullptr;
    TPicturePane pane_;

    bool folderMode_ = false;  // the properties box shows a folder (else a picture)
    TSlotTable slots_;
    bool comInitialised_ = false;  // by the first folder browser, for the page's life

    // Tree fill thread.
    std::atomic<bool> fillRunning_{false};
    std::atomic<bool> fillStop_{false};
    TKernelHandle fillThread_;
};

// The open-file filter from the enabled plug-ins' formats.
std::string PluginFilter(const TPluginHost& plugins);
// Asks for pictures with the open-file dialog; shows "Fails = " on error.
// The paths come back as BrowseForFolder gives them; a picture that has no
// such path is counted in `skipped`.
std::vector<std::string> AskForPictures(HWND owner, const TPluginHost& plugins, int& skipped);
