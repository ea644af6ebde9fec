// Configuration dialog start with a large catalogue (100 folders, 70,000
// pictures) beside the start with an empty one, in the same run:
//   - start to shown: CreateConfigDialog until the window is visible;
//   - fill: start until the tree holds every item;
//   - longest message: the longest the dialog thread spent on one message
//     while the fill ran, which is how long input could wait;
//   - removing the first picture of a folder of 20,000 (every later one is
//     renumbered) beside removing its last one.
// Uses the real registry of the Wine prefix (product key and catalogue file
// of a scratch folder) and restores it.
#ifdef _WIN32
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "session/settings.h"
#include "base/registry_win32.h"
#include "base/ui_win32.h"
#include "catalogue/piclist.h"
#include "config/dialog_win32.h"
#include "config/hooks_win32.h"
#include "config/photos_win32.h"
#include "tests/win32/test_session.h"

namespace {

using Clock = std::chrono::steady_clock;
double Ms(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

struct TFigures {
    double shown = 0;
    double filled = 0;
    double longest = 0;
    long items = 0;
    double removeFirst = 0;
    double removeLast = 0;
};

TPhotosPage& Photos() {
    return CurrentDialog()->Photos();
}

HTREEITEM TreeItem(HTREEITEM from, UINT relation) {
    return reinterpret_cast<HTREEITEM>(
        ::SendMessageA(Photos().Tree(), TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(from)));
}

// Selects `item` and removes it through the Remove button's command.
double TimeRemoval(HTREEITEM item) {
    if (!item) return 0;
    ::SendMessageA(Photos().Tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
    const auto t0 = Clock::now();
    Photos().Command(kIdRemove);
    return Ms(t0, Clock::now());
}

void EndHere() {}

TFigures OpenOnce(bool removals = false) {
    TFigures f;
    const auto start = Clock::now();
    if (!CreateConfigDialog(TestSession())) return f;
    f.shown = Ms(start, Clock::now());
    MSG msg;
    // Pump as the dialog's loop would until the fill is done, timing each message.
    while (Photos().TreeFillRunning()) {
        if (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            const auto t0 = Clock::now();
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
            f.longest = std::max(f.longest, Ms(t0, Clock::now()));
        } else {
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
        }
    }
    f.filled = Ms(start, Clock::now());
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
    f.items = static_cast<long>(::SendMessageA(Photos().Tree(), TVM_GETCOUNT, 0, 0));
    if (removals) {
        HTREEITEM folder = TreeItem(nullptr, TVGN_ROOT);
        HTREEITEM last = nullptr;
        for (HTREEITEM child = TreeItem(folder, TVGN_CHILD); child; child = TreeItem(child, TVGN_NEXT))
            last = child;
        f.removeLast = TimeRemoval(last);
        f.removeFirst = TimeRemoval(TreeItem(folder, TVGN_CHILD));
    }
    TearDownDialog();
    ::UnregisterClassA(kDialogClass, ::GetModuleHandleA(nullptr));
    return f;
}

void WriteCatalogue(const std::string& file, int folders, int perFolder) {
    TPicList list;
    list.AddFolder("Root");
    for (int i = 0; i < folders; ++i) {
        const std::string dir = "C:\\Bench\\Folder " + std::to_string(i);
        std::vector<std::string> paths;
        paths.reserve(static_cast<std::size_t>(perFolder));
        for (int j = 0; j < perFolder; ++j) paths.push_back(dir + "\\Picture " + std::to_string(j) + ".jpg");
        list.ItemAt(list.AddFolder(dir)).Pictures.Append(paths);
    }
    list.SaveToFile(file);
}

}  // namespace

int main() {
    char tmp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, tmp);
    const std::string root = std::string(tmp) + "qv_bench_dialog";
    ::CreateDirectoryA(root.c_str(), nullptr);
    ::CreateDirectoryA((root + "\\Quorvane").c_str(), nullptr);
    const std::string file = root + "\\Quorvane\\piclist.dat";

    TRegKey shell = CreateRegKey(HKEY_CURRENT_USER, kShellFoldersKey);
    const std::optional<std::string> savedAppData = ReadRegString(shell.Get(), "AppData");
    WriteRegString(shell.Get(), "AppData", root);
    TRegKey machine = CreateRegKey(HKEY_LOCAL_MACHINE, kSettingsKey);
    const std::optional<std::string> savedPath = ReadRegString(machine.Get(), "Path");
    WriteRegString(machine.Get(), "Path", root);
    SetMessageBoxResponder([](const std::string&, const std::string&, UINT) { return IDOK; });
    ConfigHooks().EndDialog = EndHere;

    WriteCatalogue(file, 0, 0);
    TFigures empty[3];
    for (TFigures& f : empty) f = OpenOnce();
    WriteCatalogue(file, 100, 700);
    TFigures full[3];
    for (TFigures& f : full) f = OpenOnce();

    WriteCatalogue(file, 1, 20000);
    TFigures big[3];
    for (TFigures& f : big) f = OpenOnce(true);

    auto best = [](TFigures* f, double TFigures::*m) { return std::min({f[0].*m, f[1].*m, f[2].*m}); };
    std::printf("catalogue of 100 folders, 70000 pictures: %ld tree items\n", full[0].items);
    std::printf("%-28s %9.1f ms   %-28s %9.1f ms\n", "start to shown, full", best(full, &TFigures::shown),
                "start to shown, empty", best(empty, &TFigures::shown));
    std::printf("%-28s %9.1f ms   %-28s %9.1f ms\n", "start to filled, full", best(full, &TFigures::filled),
                "start to filled, empty", best(empty, &TFigures::filled));
    std::printf("%-28s %9.1f ms\n", "longest message during fill", best(full, &TFigures::longest));
    std::printf("%-28s %9.1f ms   %-28s %9.1f ms\n", "remove first of 20000",
                best(big, &TFigures::removeFirst), "remove last of 20000", best(big, &TFigures::removeLast));

    if (savedAppData) WriteRegString(shell.Get(), "AppData", *savedAppData);
    if (savedPath) WriteRegString(machine.Get(), "Path", *savedPath);
    ::DeleteFileA(file.c_str());
    ::RemoveDirectoryA((root + "\\Quorvane").c_str());
    ::RemoveDirectoryA(root.c_str());
    return 0;
}
#else
#include <cstdio>
int main() {
    std::puts("bench_dialog_fill opens the Win32 dialog: run the Windows build under Wine");
    return 0;
}
#endif
