#pragma once
#include <windows.h>
// commdlg.h needs the types windows.h declares.
#include <commdlg.h>

#include <functional>
#include <string>

// Where in-process tests stand in for the dialog's contacts with the world
// outside it: the shell, the modal pickers, the saver run and the end of the
// process. Every field empty is the product.
struct TConfigHooks {
    // Opens a link's target; empty: ShellExecuteA.
    std::function<void(HWND link, const std::string& target)> OpenLink;
    // The folder browser: the chosen folder, empty for Cancel; empty hook:
    // SHBrowseForFolderW. The product's pickers are wide, so that any folder
    // or file can be chosen.
    std::function<std::wstring(HWND owner, const std::wstring& title, const std::wstring& start)>
        BrowseFolder;
    // Stands in for GetOpenFileNameW: answers into ofn's file buffer as the
    // real dialog does (when the choice does not fit: the size it needs in
    // the first character, and FNERR_BUFFERTOOSMALL). False with the code
    // that CommDlgExtendedError would give, 0 for Cancel. Empty:
    // GetOpenFileNameW.
    std::function<bool(OPENFILENAMEW& ofn, unsigned& error)> PickFiles;
    // What "Preview" runs; empty: the full-screen saver.
    std::function<void()> RunPreview;
    // What ends the dialog after its tear-down; empty: EndSessionAndExit,
    // which ends the process. With a hook the tear-down destroys the main
    // window itself before calling it.
    std::function<void()> EndDialog;
};

// The hooks in force: one record for the process, set only by tests
// (`ConfigHooks() = TConfigHooks()` gives the product back).
TConfigHooks& ConfigHooks();
