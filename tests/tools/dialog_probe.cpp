// Reads the running configuration dialog from outside, the way the
// end-to-end tests need it:
//   dialog_probe list          one line per window: the dialog, then every
//                              descendant as class|text|id|x|y|w|h|visible
//                              with the rectangle in its parent's client
//                              coordinates
//   dialog_probe command ID    posts WM_COMMAND ID to the dialog
//   dialog_probe close         posts WM_CLOSE to the dialog
//   dialog_probe select-root K selects the K-th (from 0) top-level item of
//                              the picture tree
// Exits 1 when no dialog is found.
#include <windows.h>
// commctrl.h needs the types windows.h declares.
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Print(HWND w) {
    char cls[128] = {};
    char text[512] = {};
    ::GetClassNameA(w, cls, sizeof cls);
    ::GetWindowTextA(w, text, sizeof text);
    RECT r;
    ::GetWindowRect(w, &r);
    HWND parent = ::GetParent(w);
    if (parent && (::GetWindowLongA(w, GWL_STYLE) & WS_CHILD))
        ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    std::printf("%s|%s|%d|%ld|%ld|%ld|%ld|%d\n", cls, text, ::GetDlgCtrlID(w), r.left, r.top,
                r.right - r.left, r.bottom - r.top, ::IsWindowVisible(w) ? 1 : 0);
}

BOOL CALLBACK PrintChild(HWND w, LPARAM) {
    Print(w);
    return TRUE;
}

BOOL CALLBACK FindTree(HWND w, LPARAM found) {
    char cls[64] = {};
    ::GetClassNameA(w, cls, sizeof cls);
    if (std::strcmp(cls, WC_TREEVIEWA) != 0) return TRUE;
    *reinterpret_cast<HWND*>(found) = w;
    return FALSE;
}

}  // namespace

int main(int argc, char** argv) {
    // Rectangles in real screen pixels at any DPI setting.
    ::SetProcessDPIAware();
    HWND dialog = ::FindWindowA("WSSW_Quorvane", "Quorvane");
    if (!dialog) return 1;
    const std::string what = argc > 1 ? argv[1] : "list";
    if (what == "list") {
        Print(dialog);
        ::EnumChildWindows(dialog, PrintChild, 0);
    } else if (what == "command" && argc > 2) {
        ::PostMessageA(dialog, WM_COMMAND, static_cast<WPARAM>(std::atoi(argv[2])), 0);
    } else if (what == "select-root" && argc > 2) {
        HWND tree = nullptr;
        ::EnumChildWindows(dialog, FindTree, reinterpret_cast<LPARAM>(&tree));
        if (!tree) return 1;
        LRESULT item = ::SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
        for (int k = std::atoi(argv[2]); item && k > 0; --k)
            item = ::SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, item);
        if (!item || !::SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, item)) return 1;
    } else if (what == "close") {
        ::PostMessageA(dialog, WM_CLOSE, 0, 0);
    } else {
        return 2;
    }
    std::fflush(stdout);
    return 0;
}
