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
//   dialog_probe tree          one line per item of the picture tree, in
//                              tree order: its depth (0 at the top), "|",
//                              and its text read as wide characters,
//                              written in UTF-8
// Exits 1 when no dialog is found.
#include <windows.h>
// commctrl.h needs the types windows.h declares.
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

// Reads tree items through a block of memory in the dialog's process: the
// tree control writes the text where the item structure points, and a
// message does not carry a structure from one process into another.
class TRemoteTree {
public:
    explicit TRemoteTree(HWND tree) : tree_(tree) {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(tree, &pid);
        process_ = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
        if (process_)
            block_ = static_cast<char*>(
                ::VirtualAllocEx(process_, nullptr, kBlockSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    }
    TRemoteTree(const TRemoteTree&) = delete;
    TRemoteTree& operator=(const TRemoteTree&) = delete;
    ~TRemoteTree() {
        if (block_) ::VirtualFreeEx(process_, block_, 0, MEM_RELEASE);
        if (process_) ::CloseHandle(process_);
    }
    bool Ready() const { return block_ != nullptr; }

    // The item's text in UTF-8; false when it cannot be read.
    bool Text(LPARAM item, std::string& utf8) {
        TVITEMW it = {};
        it.mask = TVIF_TEXT;
        it.hItem = reinterpret_cast<HTREEITEM>(item);
        it.pszText = reinterpret_cast<wchar_t*>(block_ + sizeof it);
        it.cchTextMax = kTextChars;
        if (!::WriteProcessMemory(process_, block_, &it, sizeof it, nullptr)) return false;
        if (!::SendMessageW(tree_, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(block_))) return false;
        std::vector<wchar_t> text(kTextChars + 1, L'\0');
        if (!::ReadProcessMemory(process_, block_ + sizeof it, text.data(), kTextChars * sizeof(wchar_t),
                                 nullptr))
            return false;
        const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), -1, nullptr, 0, nullptr, nullptr);
        utf8.assign(n > 0 ? static_cast<std::size_t>(n) : 1, '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), -1, &utf8[0], n, nullptr, nullptr);
        utf8.resize(utf8.size() - 1);
        return true;
    }

private:
    static constexpr int kTextChars = 1024;
    static constexpr SIZE_T kBlockSize = sizeof(TVITEMW) + (kTextChars + 1) * sizeof(wchar_t);
    HWND tree_;
    HANDLE process_ = nullptr;
    char* block_ = nullptr;  // in the dialog's process
};

// Prints `item`, its children and its later siblings, depth first.
bool PrintItems(HWND tree, TRemoteTree& remote, LPARAM item, int depth) {
    for (; item; item = ::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, item)) {
        std::string text;
        if (!remote.Text(item, text)) return false;
        std::printf("%d|%s\n", depth, text.c_str());
        const LRESULT child = ::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, item);
        if (child && !PrintItems(tree, remote, child, depth + 1)) return false;
    }
    return true;
}

HWND Tree(HWND dialog) {
    HWND tree = nullptr;
    ::EnumChildWindows(dialog, FindTree, reinterpret_cast<LPARAM>(&tree));
    return tree;
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
        HWND tree = Tree(dialog);
        if (!tree) return 1;
        LRESULT item = ::SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
        for (int k = std::atoi(argv[2]); item && k > 0; --k)
            item = ::SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, item);
        if (!item || !::SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, item)) return 1;
    } else if (what == "tree") {
        HWND tree = Tree(dialog);
        if (!tree) return 1;
        TRemoteTree remote(tree);
        if (!remote.Ready() ||
            !PrintItems(tree, remote, ::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0), 0))
            return 1;
    } else if (what == "close") {
        ::PostMessageA(dialog, WM_CLOSE, 0, 0);
    } else {
        return 2;
    }
    std::fflush(stdout);
    return 0;
}
