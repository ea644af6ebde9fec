#pragma once
#include <windows.h>
// commdlg.h needs the types windows.h declares.
#include <commdlg.h>

#include <functional>
#include <string>
#include <vector>

// The Photos page: the catalogue as a tree of folders and pictures, the
// commands that edit it, and the properties of the selected item.

// Posted to the dialog by the tree-fill thread when it has finished, so that
// the selection and properties are brought up to date on the dialog thread.
constexpr UINT kFillDoneMessage = WM_APP + 1;
// Sent by the tree-fill thread with a run of items for the dialog thread to
// insert; answered by InsertFillBatch.
constexpr UINT kFillBatchMessage = WM_APP + 2;
LRESULT InsertFillBatch(LPARAM batch);

// Creates the page's controls on `page`.
void BuildPhotosPage(HWND page);
void AddPhotosToolTips(HWND tooltip);

// The tree fill on its own thread (32 KiB stack).
void StartTreeFill();
bool TreeFillRunning();
// Waits for a running fill, pumping this thread's messages so that the
// tree can take the fill's inserts.
void WaitForTreeFill();
// Asks a running fill to stop; waits up to 101 times 10 ms, pumping
// messages, and terminates it only if it is still running after that.
void StopTreeFill();

void PhotosCommand(int id);
// Shows the properties of the tree's selection (folder or picture).
void ShowProperties();
// Called when the Photos page is shown anew: selects the first item when
// nothing is selected, else refreshes the properties box and its mode.
void SyncPhotosPage();

HWND PhotosTree();

// Seams for the modal dialogs, so that in-process tests can answer them.
// The product shows the real folder browser and open-file dialog, both in
// their wide-character forms, so that any folder or file can be chosen.
// The folder browser: the chosen folder, empty for Cancel.
using TFolderBrowser =
    std::function<std::wstring(HWND owner, const std::wstring& title, const std::wstring& start)>;
// Stands in for GetOpenFileNameW: answers into ofn's file buffer as the real
// dialog does (when the choice does not fit: the size it needs in the first
// character, and FNERR_BUFFERTOOSMALL). False with the code that
// CommDlgExtendedError would give, 0 for Cancel.
using TFilePicker = std::function<bool(OPENFILENAMEW& ofn, unsigned& error)>;
void SetFolderBrowser(TFolderBrowser browser);  // empty: SHBrowseForFolderW
void SetFilePicker(TFilePicker picker);         // empty: GetOpenFileNameW

// The open-file filter from the enabled plug-ins' formats.
std::string PluginFilter();
// The folder browser as the product runs it: start folder from
// "DialogPath", the choice written back to it. The folder comes back as a
// path of the ANSI file functions, with short names where the code page
// cannot spell the long ones; empty for Cancel, and for a folder that has
// no such path, which sets `unreachable`.
std::string BrowseForFolder(HWND owner, const std::string& title, bool& unreachable);
// Asks for pictures with the open-file dialog; shows "Fails = " on error.
// The paths come back as BrowseForFolder gives them; a picture that has no
// such path is counted in `skipped`.
std::vector<std::string> AskForPictures(HWND owner, int& skipped);
