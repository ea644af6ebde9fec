#include <windows.h>

#include <cderr.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <dlgs.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "session/settings.h"
#include "base/run_state.h"
#include "base/registry_win32.h"
#include "base/ui_win32.h"
#include "catalogue/catalogue_win32.h"
#include "catalogue/hidden_list_win32.h"
#include "catalogue/piclist.h"
#include "catalogue/scan_win32.h"
#include "catalogue/ansi_names_win32.h"
#include "config/controls_win32.h"
#include "config/dialog_win32.h"
#include "config/hooks_win32.h"
#include "config/dialog_rules.h"
#include "config/photos_win32.h"
#include "config/show_page_win32.h"
#include "config/preview_win32.h"
#include "imaging/plugins_win32.h"
#include "render/hooks_win32.h"
#include "render/runloop_win32.h"
#include "tests/win32/file_faults.h"
#include "tests/win32/test_session.h"

namespace {
// The process's session, which the tests below set up and hand on.
TSession& Session = TestSession();
}  // namespace

namespace {

// The dialog the test opened last.
TConfigDialog& Dlg() {
    return *CurrentDialog();
}

// One child window as seen from outside: what a user would see of it.
struct TSeen {
    HWND Wnd = nullptr;
    std::string Class;
    std::string Text;
    int Id = 0;
    RECT Rect = {};  // in the parent's client coordinates
    bool Visible = false;
};

std::string ClassName(HWND w) {
    char b[128] = {};
    ::GetClassNameA(w, b, sizeof b);
    return b;
}

std::string Text(HWND w) {
    char b[512] = {};
    ::GetWindowTextA(w, b, sizeof b);
    return b;
}

TSeen See(HWND w) {
    TSeen s;
    s.Wnd = w;
    s.Class = ClassName(w);
    s.Text = Text(w);
    s.Id = ::GetDlgCtrlID(w);
    ::GetWindowRect(w, &s.Rect);
    ::MapWindowPoints(nullptr, ::GetParent(w), reinterpret_cast<POINT*>(&s.Rect), 2);
    s.Visible = ::IsWindowVisible(w) != 0;
    return s;
}

BOOL CALLBACK Collect(HWND w, LPARAM p) {
    reinterpret_cast<std::vector<TSeen>*>(p)->push_back(See(w));
    return TRUE;
}

std::vector<TSeen> Children(HWND parent) {
    std::vector<TSeen> all;
    ::EnumChildWindows(parent, Collect, reinterpret_cast<LPARAM>(&all));
    return all;
}

TSeen ById(int id) {
    for (const TSeen& s : Children(Dlg().Main()))
        if (s.Id == id) return s;
    return TSeen();
}

TSeen ByText(const std::string& text) {
    for (const TSeen& s : Children(Dlg().Main()))
        if (s.Text == text) return s;
    return TSeen();
}

// x, y, width, height in 96-DPI pixels against a rectangle in screen pixels.
void ExpectPlaced(const RECT& r, int x, int y, int w, int h) {
    EXPECT_EQ(r.left, Scaled(x));
    EXPECT_EQ(r.top, Scaled(y));
    EXPECT_EQ(r.right - r.left, Scaled(w));
    EXPECT_EQ(r.bottom - r.top, Scaled(h));
}

void Pump() {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
}

std::string TempFolder(const char* leaf) {
    char tmp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, tmp);
    return std::string(tmp) + leaf;
}

// Wide text for the seams and the tree, and back. The tests' own texts
// are in the code page unless they say otherwise.
std::wstring Wide(const std::string& ansi) {
    return WidePathOf(ansi);
}
std::string Narrow(const std::wstring& wide) {
    std::string out(wide.size() * 3 + 1, '\0');
    const int n = ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), &out[0],
                                        static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
}

// Removes names in any script too.
void RemoveTree(const std::wstring& dir) {
    WIN32_FIND_DATAW fd;
    TFindHandle find(::FindFirstFileW((dir + L"\\*").c_str(), &fd));
    if (find) {
        do {
            const std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = dir + L"\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                ::DeleteFileW(path.c_str());
        } while (::FindNextFileW(find.Get(), &fd));
    }
    find.Reset();
    ::RemoveDirectoryW(dir.c_str());
}
void RemoveTree(const std::string& dir) {
    RemoveTree(Wide(dir));
}

std::wstring CurrentFolder() {
    wchar_t b[MAX_PATH * 2] = {};
    ::GetCurrentDirectoryW(MAX_PATH * 2, b);
    return b;
}

// What the real open-file dialog answers for `chosen` (full paths in one
// folder): the path of a single file, else the folder and each name, every
// one ended by a NUL, then one more NUL. `offset` is where the first name
// starts.
std::wstring OpenFileAnswer(const std::vector<std::wstring>& chosen, WORD& offset) {
    std::wstring answer;
    const std::size_t cut = chosen[0].find_last_of(L'\\');
    if (chosen.size() == 1) {
        offset = static_cast<WORD>(cut + 1);
        answer = chosen[0];
    } else {
        answer = chosen[0].substr(0, cut);
        offset = static_cast<WORD>(answer.size() + 1);
        for (const std::wstring& path : chosen) answer += L'\0' + path.substr(cut + 1);
    }
    answer += L'\0';
    answer += L'\0';
    return answer;
}

// The filter of the open-file dialog up to its closing double NUL.
std::string FilterText(const wchar_t* filter) {
    std::size_t n = 0;
    while (filter[n] || filter[n + 1]) ++n;
    return Narrow(std::wstring(filter, n + 1));
}

// A 32-bit bottom-up BMP of 16 x height pixels: its file is height x 64
// bytes plus the 54 of the headers.
void WriteBmp(const std::string& path, int height) {
    const std::uint32_t pixels = 16u * static_cast<std::uint32_t>(height) * 4u;
    BITMAPFILEHEADER fh = {};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    fh.bfSize = fh.bfOffBits + pixels;
    BITMAPINFOHEADER ih = {};
    ih.biSize = sizeof ih;
    ih.biWidth = 16;
    ih.biHeight = height;
    ih.biPlanes = 1;
    ih.biBitCount = 32;
    ih.biCompression = BI_RGB;
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(&fh), sizeof fh);
    f.write(reinterpret_cast<const char*>(&ih), sizeof ih);
    f << std::string(pixels, '\x7F');
}

// A folder of pictures named a.bmp, b.bmp, ... 16, 32, 48 ... pixels high
// and so of 1, 2, 3 ... KiB: the properties tell which one is shown.
std::string MakeFolder(const std::string& root, const std::string& name, int count) {
    const std::string dir = root + "\\" + name;
    ::CreateDirectoryA(dir.c_str(), nullptr);
    for (int i = 0; i < count; ++i) WriteBmp(dir + "\\" + char('a' + i) + ".bmp", 16 * (i + 1));
    return dir;
}

bool dialogEnded = false;
void EndForTest() {
    dialogEnded = true;
    ::PostQuitMessage(0);
}

// Each test opens the real dialog in this process against a registry and
// catalogue of its own. The dialog's end frees nothing here: the test's end
// hook takes its place, and the window class is dropped afterwards.
class ConfigDialog : public ::testing::Test {
protected:
    void SetUp() override {
        root = TempFolder("qv_dialog_test");
        RemoveTree(root);
        ::CreateDirectoryA(root.c_str(), nullptr);
        ::CreateDirectoryA((root + "\\install").c_str(), nullptr);
        // The real bitmap plug-in and memory manager, as installed.
        for (const char* dll : {"fastmm.dll", "imgbmp.dll"})
            ::CopyFileA((std::string(QV_BIN_DIR) + "/" + dll).c_str(), (root + "\\install\\" + dll).c_str(),
                        FALSE);
        ::CreateDirectoryA((root + "\\appdata").c_str(), nullptr);

        ::RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
        {
            TRegKey machine = CreateRegKey(HKEY_LOCAL_MACHINE, kSettingsKey);
            WriteRegString(machine.Get(), "Path", root + "\\install");
            TRegKey shell = CreateRegKey(HKEY_CURRENT_USER, kShellFoldersKey);
            savedAppData = ReadRegString(shell.Get(), "AppData");
            savedPictures = ReadRegString(shell.Get(), "My Pictures");
            WriteRegString(shell.Get(), "AppData", root + "\\appdata");
            // The default catalogue looks here; keep it small and known.
            WriteRegString(shell.Get(), "My Pictures", root + "\\pictures");
        }
        catalogueFile = root + "\\appdata\\Quorvane\\piclist.dat";

        SetMessageBoxResponder([this](const std::string& text, const std::string&, UINT) {
            boxes.push_back(text);
            if (answers.empty()) return IDOK;
            const int answer = answers.front();
            answers.erase(answers.begin());
            return answer;
        });
        ConfigHooks().EndDialog = EndForTest;
        ConfigHooks().BrowseFolder = [this](HWND, const std::wstring& title, const std::wstring& start) {
            browserTitles.push_back(Narrow(title));
            browserStarts.push_back(Narrow(start));
            // The real pickers may leave the current folder where the user went.
            if (!pickerGoesTo.empty()) ::SetCurrentDirectoryW(pickerGoesTo.c_str());
            std::wstring answer = folderAnswers.empty() ? std::wstring() : folderAnswers.front();
            if (!folderAnswers.empty()) folderAnswers.erase(folderAnswers.begin());
            return answer;
        };
        // Answers as the real dialog does, buffer size included.
        ConfigHooks().PickFiles = [this](OPENFILENAMEW& ofn, unsigned& error) {
            pickerCalls.push_back(ofn);
            filters.push_back(FilterText(ofn.lpstrFilter));
            if (!pickerGoesTo.empty()) ::SetCurrentDirectoryW(pickerGoesTo.c_str());
            if (fileError != 0 || fileAnswer.empty()) {
                error = fileError;
                return false;
            }
            WORD offset = 0;
            const std::wstring answer = OpenFileAnswer(fileAnswer, offset);
            if (answer.size() > ofn.nMaxFile) {
                ofn.lpstrFile[0] = static_cast<wchar_t>(answer.size());  // wraps past 65535, as there
                error = FNERR_BUFFERTOOSMALL;
                return false;
            }
            std::copy(answer.begin(), answer.end(), ofn.lpstrFile);
            ofn.nFileOffset = offset;
            return true;
        };
        savedCurrentFolder = CurrentFolder();
        dialogEnded = false;
        Session.Settings = TSettings();
    }

    void TearDown() override {
        if (CurrentDialog() && CurrentDialog()->Main() && !dialogEnded) TearDownDialog();
        ::UnregisterClassA(kDialogClass, ::GetModuleHandleA(nullptr));
        ConfigHooks() = TConfigHooks();
        SetCatalogueHooks(TCatalogueHooks{});
        ::SetCurrentDirectoryW(savedCurrentFolder.c_str());
        SetMessageBoxResponder(nullptr);
        Session.Plugins.Unload();  // the plug-ins live in the folder removed below
        {
            TRegKey shell = CreateRegKey(HKEY_CURRENT_USER, kShellFoldersKey);
            if (savedAppData)
                WriteRegString(shell.Get(), "AppData", *savedAppData);
            else
                ::RegDeleteValueA(shell.Get(), "AppData");
            if (savedPictures)
                WriteRegString(shell.Get(), "My Pictures", *savedPictures);
            else
                ::RegDeleteValueA(shell.Get(), "My Pictures");
        }
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
        RemoveTree(root);
    }

    // Opens the dialog and waits for the tree to be filled.
    void Open() {
        ASSERT_TRUE(CreateConfigDialog(Session));
        ASSERT_FALSE(Session.Plugins.Extensions().empty());  // the bitmap plug-in was loaded
        Dlg().Photos().WaitForTreeFill();
        Pump();
    }
    void OpenPhotos() {
        Open();
        ChooseTab(kPagePhotos);
    }

    void Command(int id) { ::SendMessageA(Dlg().Main(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
    void Click(int id) {
        ::SendMessageA(ControlById(id), BM_CLICK, 0, 0);
        Pump();
    }

    void ChooseTab(int page) {
        ::SendMessageA(Dlg().Tab(), TCM_SETCURSEL, page, 0);
        NMHDR hdr = {Dlg().Tab(), static_cast<UINT_PTR>(kIdTab), static_cast<UINT>(TCN_SELCHANGE)};
        ::SendMessageA(Dlg().Main(), WM_NOTIFY, kIdTab, reinterpret_cast<LPARAM>(&hdr));
        ::RedrawWindow(Dlg().Main(), nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        Pump();
    }

    HWND Tree() { return Dlg().Photos().Tree(); }
    HTREEITEM Item(HTREEITEM from, UINT how) {
        return reinterpret_cast<HTREEITEM>(
            ::SendMessageA(Tree(), TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(from)));
    }
    std::vector<HTREEITEM> Roots() {
        std::vector<HTREEITEM> v;
        for (HTREEITEM i = Item(nullptr, TVGN_ROOT); i; i = Item(i, TVGN_NEXT)) v.push_back(i);
        return v;
    }
    std::vector<HTREEITEM> ChildrenOf(HTREEITEM node) {
        std::vector<HTREEITEM> v;
        for (HTREEITEM i = Item(node, TVGN_CHILD); i; i = Item(i, TVGN_NEXT)) v.push_back(i);
        return v;
    }
    std::wstring ItemTextW(HTREEITEM item) {
        wchar_t b[300] = {};
        TVITEMW it = {};
        it.mask = TVIF_TEXT;
        it.hItem = item;
        it.pszText = b;
        it.cchTextMax = 300;
        ::SendMessageW(Tree(), TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&it));
        return b;
    }
    std::string ItemText(HTREEITEM item) {
        char b[300] = {};
        TVITEMA it = {};
        it.mask = TVIF_TEXT;
        it.hItem = item;
        it.pszText = b;
        it.cchTextMax = sizeof b;
        ::SendMessageA(Tree(), TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&it));
        return b;
    }
    std::uint32_t ItemDataOf(HTREEITEM item) {
        TVITEMA it = {};
        it.mask = TVIF_PARAM;
        it.hItem = item;
        ::SendMessageA(Tree(), TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&it));
        return static_cast<std::uint32_t>(it.lParam);
    }
    void Select(HTREEITEM item) {
        ::SendMessageA(Tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
        Pump();
    }
    std::string Label(const char* prefix) {
        for (const TSeen& s : Children(Dlg().Main()))
            if (s.Class == "Static" && s.Visible && s.Text.rfind(prefix, 0) == 0) return s.Text;
        return "(none)";
    }
    std::string BoxTitle() {
        const TSeen s = ByText("Folder properties");
        return s.Wnd ? s.Text : ByText("Image properties").Text;
    }
    int AddFolder(const std::wstring& dir) {
        folderAnswers.push_back(dir);
        Command(kIdAddFolder);
        Pump();
        return Session.PicList.Count() - 1;
    }
    int AddFolder(const std::string& dir) { return AddFolder(Wide(dir)); }
    void AddPhotos(const std::vector<std::wstring>& chosen) {
        fileAnswer = chosen;
        Command(kIdAddPhoto);
        Pump();
    }

    std::string root;
    std::string catalogueFile;
    std::optional<std::string> savedAppData;
    std::optional<std::string> savedPictures;
    std::vector<std::string> boxes;
    std::vector<int> answers;  // the buttons the message boxes are answered with, in order; then OK
    std::vector<std::wstring> folderAnswers;
    std::vector<std::string> browserTitles;
    std::vector<std::string> browserStarts;
    std::vector<std::string> filters;
    std::vector<OPENFILENAMEW> pickerCalls;  // as each open-file dialog got it
    std::vector<std::wstring> fileAnswer;    // the files chosen, in one folder; none: Cancel
    unsigned fileError = 0;
    std::wstring pickerGoesTo;  // the current folder a picker leaves behind; empty: none
    std::wstring savedCurrentFolder;
};

TEST_F(ConfigDialog, WindowAndButtonRowAt96Dpi) {
    Open();
    ASSERT_NE(Dlg().Main(), nullptr);
    EXPECT_EQ(ClassName(Dlg().Main()), "WSSW_Quorvane");
    EXPECT_EQ(Text(Dlg().Main()), "Quorvane");
    const LONG style = ::GetWindowLongA(Dlg().Main(), GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX),
              WS_CAPTION | WS_SYSMENU);
    EXPECT_TRUE(::IsWindowVisible(Dlg().Main()));
    RECT wr;
    ::GetWindowRect(Dlg().Main(), &wr);
    EXPECT_EQ(wr.right - wr.left, Scaled(609));
    // Centred on the desktop.
    RECT desk;
    ::GetWindowRect(::GetDesktopWindow(), &desk);
    EXPECT_EQ(wr.left, desk.left + (desk.right - desk.left - (wr.right - wr.left)) / 2);

    const TSeen tab = ById(kIdTab);
    EXPECT_EQ(tab.Class, "SysTabControl32");
    EXPECT_EQ(tab.Text, "Main_TAB");
    ExpectPlaced(tab.Rect, 10, 10, 583, 395);
    EXPECT_EQ(::SendMessageA(tab.Wnd, TCM_GETITEMCOUNT, 0, 0), 4);

    struct Button {
        int id;
        const char* text;
        int x;
        bool visible;
    } buttons[] = {{kIdOptions, "Options >>", 517, true},
                   {kIdOk, "OK", 347, false},
                   {kIdCancel, "Cancel", 432, false},
                   {kIdPreview, "Preview", 517, false}};
    for (const Button& b : buttons) {
        const TSeen s = ById(b.id);
        EXPECT_EQ(s.Class, "Button") << b.text;
        EXPECT_EQ(s.Text, b.text);
        ExpectPlaced(s.Rect, b.x, 412, 75, 23);
        EXPECT_EQ(s.Visible, b.visible) << b.text;
    }
    if (ScreenDpi() == 96) {
        EXPECT_EQ(tab.Rect.right - tab.Rect.left, 583);
        EXPECT_EQ(wr.right - wr.left, 609);
    }

    // Four pages, each a "Brevomar TPage" over the tab's display area;
    // page 0 is shown first.
    std::vector<TSeen> pages;
    for (const TSeen& s : Children(Dlg().Main()))
        if (s.Class == kPageClass) pages.push_back(s);
    ASSERT_EQ(pages.size(), 4u);
    RECT display = {Scaled(10), Scaled(10), Scaled(10) + Scaled(583), Scaled(10) + Scaled(395)};
    ::SendMessageA(tab.Wnd, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
    for (int i = 0; i < 4; ++i) {
        HWND page = Dlg().Tabs()->PageWindow(i);
        const TSeen s = See(page);
        EXPECT_EQ(s.Text, "Page");
        EXPECT_EQ(s.Rect.left, display.left);
        EXPECT_EQ(s.Rect.top, display.top);
        EXPECT_EQ(s.Rect.right - s.Rect.left, display.right - display.left - 1);
        EXPECT_EQ(s.Visible, i == kPageMore);
    }
    EXPECT_GT(Dlg().Tabs()->PageTopOffset(), 10);
    EXPECT_EQ(::GetFocus(), tab.Wnd);
}

TEST_F(ConfigDialog, PhotosAndAboutPagesMatchTheirTables) {
    Open();
    ChooseTab(kPagePhotos);
    struct Row {
        const char* text;
        int id;
        const char* cls;
        int x, y, w, h;
    } rows[] = {
        {"Tree Images", kIdTree, "SysTreeView32", 10, 16, 190, 240},
        {"Add folder", kIdAddFolder, "Button", 10, 276, 90, 20},
        {"Remove", kIdRemove, "Button", 110, 276, 90, 20},
        {"Add photo", kIdAddPhoto, "Button", 10, 306, 90, 20},
        {"Hide", kIdHide, "Button", 110, 306, 90, 20},
        {"Image properties", 0, "Button", 226, 275, 340, 88},
        {"Width : ", 0, "Static", 20, 20, 120, 20},
        {"Height : ", 0, "Static", 20, 43, 120, 20},
        {"Format : ", 0, "Static", 20, 66, 120, 20},
        {"Refresh folder", kIdRefreshFolder, "Button", 170, 20, 103, 25},
        {"Include subdirectories", kIdIncludeSubdirs, "Button", 20, 40, 150, 20},
        {"Auto Refresh", kIdAutoRefresh, "Button", 180, 50, 150, 20},
    };
    for (const Row& r : rows) {
        const TSeen s = ByText(r.text);
        ASSERT_NE(s.Wnd, nullptr) << r.text;
        EXPECT_EQ(s.Class, r.cls) << r.text;
        EXPECT_EQ(s.Id, r.id) << r.text;
        ExpectPlaced(s.Rect, r.x, r.y, r.w, r.h);
    }
    // Image mode as created: the folder controls are hidden.
    EXPECT_FALSE(ByText("Refresh folder").Visible);
    EXPECT_TRUE(ByText("Format : ").Visible);

    const TSeen pane = ById(kIdPicturePane);
    EXPECT_EQ(pane.Class, "Timage1_PR");
    EXPECT_EQ(pane.Text, "Image1 PR");
    EXPECT_EQ(pane.Rect.left, Scaled(236));
    EXPECT_EQ(pane.Rect.top, Scaled(20));
    EXPECT_EQ(pane.Rect.right - pane.Rect.left, Scaled(320) - 1);
    EXPECT_EQ(pane.Rect.bottom - pane.Rect.top, Scaled(240) - 1);
    EXPECT_TRUE(pane.Visible);

    ChooseTab(kPageAbout);
    EXPECT_FALSE(pane.Visible && ::IsWindowVisible(pane.Wnd));
    const TSeen version = ByText("Version : 1.1.0.0");
    ASSERT_NE(version.Wnd, nullptr);
    ExpectPlaced(version.Rect, 266, 68, 120, 25);
    EXPECT_TRUE(version.Visible);
    const TSeen support = ByText("support@quorvane.example");
    ASSERT_NE(support.Wnd, nullptr);
    ExpectPlaced(support.Rect, 286, 228, 190, 20);
    EXPECT_EQ(LinkTarget(support.Wnd), "mailto:support@quorvane.example");
    const TSeen home = ByText("https://www.quorvane.example/");
    ASSERT_NE(home.Wnd, nullptr);
    EXPECT_EQ(LinkTarget(home.Wnd), "https://www.quorvane.example/");
}

TEST_F(ConfigDialog, OptionsRevealsButtonsAndMovesToPhotos) {
    Open();
    Command(kIdOptions);
    Pump();
    EXPECT_FALSE(ById(kIdOptions).Visible);
    EXPECT_TRUE(ById(kIdOk).Visible);
    EXPECT_TRUE(ById(kIdCancel).Visible);
    EXPECT_TRUE(ById(kIdPreview).Visible);
    EXPECT_EQ(Dlg().Tabs()->CurrentPage(), kPagePhotos);
    EXPECT_EQ(::SendMessageA(Dlg().Tab(), TCM_GETCURSEL, 0, 0), kPagePhotos);
    EXPECT_TRUE(::IsWindowVisible(Dlg().Tabs()->PageWindow(kPagePhotos)));
    EXPECT_FALSE(::IsWindowVisible(Dlg().Tabs()->PageWindow(kPageMore)));

    // Pressed again on another page, it keeps the page; the buttons stay.
    ChooseTab(kPageAbout);
    Command(kIdOptions);
    Pump();
    EXPECT_EQ(Dlg().Tabs()->CurrentPage(), kPageAbout);
    ChooseTab(kPageMore);
    EXPECT_TRUE(ById(kIdOk).Visible);
    EXPECT_FALSE(ById(kIdOptions).Visible);
}

TEST_F(ConfigDialog, ChoosingAnotherTabShowsItsPageAndTheButtons) {
    Open();
    ChooseTab(kPageAbout);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(::IsWindowVisible(Dlg().Tabs()->PageWindow(i)) != 0, i == kPageAbout);
    // The page's first paint revealed the buttons.
    EXPECT_TRUE(ById(kIdOk).Visible);
    EXPECT_FALSE(ById(kIdOptions).Visible);
    EXPECT_EQ(::GetFocus(), Dlg().Tab());
}

TEST_F(ConfigDialog, EscapeAndEnterDoNotCloseIt) {
    Open();
    for (WPARAM key : {WPARAM(VK_ESCAPE), WPARAM(VK_RETURN)}) {
        MSG msg = {};
        msg.hwnd = Dlg().Tab();
        msg.message = WM_KEYDOWN;
        msg.wParam = key;
        ::IsDialogMessageA(Dlg().Main(), &msg);
        Pump();
    }
    Command(1);
    Command(2);
    Pump();
    EXPECT_FALSE(dialogEnded);
    EXPECT_TRUE(::IsWindow(Dlg().Main()));
}

TEST_F(ConfigDialog, CancelAndCloseBoxWriteNothing) {
    Open();
    AddFolder(MakeFolder(root, "one", 2));
    Command(kIdOptions);
    Click(kIdCancel);
    EXPECT_TRUE(dialogEnded);
    EXPECT_EQ(::GetFileAttributesA(catalogueFile.c_str()), INVALID_FILE_ATTRIBUTES);
    TRegKey key = OpenRegKey(HKEY_CURRENT_USER, kSettingsKey);
    EXPECT_FALSE(ReadRegString(key.Get(), "Delay").has_value());
    EXPECT_FALSE(ReadRegString(key.Get(), "Order").has_value());
    key.Reset();

    ::UnregisterClassA(kDialogClass, ::GetModuleHandleA(nullptr));
    dialogEnded = false;
    Open();
    ::SendMessageA(Dlg().Main(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(dialogEnded);
    EXPECT_EQ(::GetFileAttributesA(catalogueFile.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(ConfigDialog, OkWritesSettingsAndCatalogueThroughTheMessageLoop) {
    Open();
    const std::string dir = MakeFolder(root, "one", 3);
    AddFolder(dir);
    Command(kIdOptions);
    ::PostMessageA(ControlById(kIdOk), BM_CLICK, 0, 0);
    RunDialogMessageLoop();  // returns once the end hook has run
    EXPECT_TRUE(dialogEnded);
    TRegKey key = OpenRegKey(HKEY_CURRENT_USER, kSettingsKey);
    EXPECT_EQ(ReadRegString(key.Get(), "Delay").value_or(""), "5000");
    EXPECT_EQ(ReadRegString(key.Get(), "Order").value_or(""), "2");
    EXPECT_EQ(ReadRegString(key.Get(), "DialogPath").value_or(""), dir);
    TPicList saved;
    saved.LoadFromFile(catalogueFile);
    ASSERT_EQ(saved.Count(), 2);
    EXPECT_EQ(saved.GetItem(1).FolderPath, dir);
    EXPECT_EQ(saved.GetItem(1).Pictures.Count(), 3);
    // Message loop ended by WM_QUIT from nowhere else.
    EXPECT_TRUE(boxes.empty());
}

// A catalogue file that cannot be replaced (here a folder stands in its
// place) must not cost the session's edits: the dialog says so, offers to
// try again, stays open, and saves once the way is clear.
TEST_F(ConfigDialog, AFailedSaveKeepsTheDialogAndTheEditsUntilItWorks) {
    Open();
    const std::string dir = MakeFolder(root, "kept", 2);
    AddFolder(dir);
    ::CreateDirectoryA((root + "\\appdata\\Quorvane").c_str(), nullptr);
    ASSERT_TRUE(::CreateDirectoryA(catalogueFile.c_str(), nullptr));
    answers = {IDRETRY, IDCANCEL};
    Command(kIdOptions);
    Command(kIdOk);
    Pump();
    EXPECT_FALSE(dialogEnded);
    EXPECT_TRUE(::IsWindow(Dlg().Main()));
    ASSERT_EQ(boxes.size(), 2u);  // the first try and the retry
    EXPECT_EQ(boxes[0], boxes[1]);
    EXPECT_EQ(boxes[0].rfind("Your pictures and settings could not be saved.", 0), 0u) << boxes[0];
    EXPECT_NE(boxes[0].find(catalogueFile), std::string::npos) << boxes[0];
    ASSERT_EQ(Session.PicList.Count(), 2);
    EXPECT_EQ(Session.PicList.GetItem(1).FolderPath, dir);
    EXPECT_EQ(Roots().size(), 1u);  // the tree is whole again

    ASSERT_TRUE(::RemoveDirectoryA(catalogueFile.c_str()));
    boxes.clear();
    Command(kIdOk);
    EXPECT_TRUE(dialogEnded);
    EXPECT_TRUE(boxes.empty());
    TPicList saved;
    saved.LoadFromFile(catalogueFile);
    ASSERT_EQ(saved.Count(), 2);
    EXPECT_EQ(saved.GetItem(1).FolderPath, dir);
    EXPECT_EQ(saved.GetItem(1).Pictures.Count(), 2);
}

TEST_F(ConfigDialog, ACatalogueFileThatIsAFolderIsReportedAtStart) {
    ::CreateDirectoryA((root + "\\appdata\\Quorvane").c_str(), nullptr);
    ASSERT_TRUE(::CreateDirectoryA(catalogueFile.c_str(), nullptr));
    Open();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("cannot be read"), std::string::npos) << boxes[0];
    EXPECT_NE(boxes[0].find(catalogueFile), std::string::npos) << boxes[0];
}

TEST_F(ConfigDialog, AddFolderListsItsPicturesUnderOneNode) {
    OpenPhotos();
    const std::string dir = MakeFolder(root, "five", 5);
    ASSERT_EQ(AddFolder(dir), 1);
    ASSERT_EQ(browserTitles.size(), 1u);
    EXPECT_EQ(browserTitles[0], "Select folder with pictures");
    EXPECT_EQ(browserStarts[0], "");
    const std::vector<HTREEITEM> roots = Roots();
    ASSERT_EQ(roots.size(), 1u);
    EXPECT_EQ(ItemText(roots[0]), dir);
    const std::vector<HTREEITEM> kids = ChildrenOf(roots[0]);
    ASSERT_EQ(kids.size(), 5u);
    EXPECT_EQ(ItemText(kids[2]), "c.bmp");
    EXPECT_EQ(ItemPosition(ItemDataOf(kids[2])), 3);
    // The new node is selected and its properties show.
    EXPECT_EQ(Item(nullptr, TVGN_CARET), roots[0]);
    EXPECT_EQ(BoxTitle(), "Folder properties");
    EXPECT_EQ(Label("5 pictures"), "5 pictures");
    EXPECT_TRUE(ByText("Include subdirectories").Visible);
    EXPECT_EQ(::SendMessageA(ControlById(kIdIncludeSubdirs), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(::SendMessageA(ControlById(kIdAutoRefresh), BM_GETCHECK, 0, 0), BST_UNCHECKED);

    // The next browse starts where this one ended; Cancel adds nothing.
    Command(kIdAddFolder);
    Pump();
    ASSERT_EQ(browserStarts.size(), 2u);
    EXPECT_EQ(browserStarts[1], dir);
    EXPECT_EQ(Session.PicList.Count(), 2);
}

TEST_F(ConfigDialog, RemovingThirdOfFiveRenumbersTheRest) {
    OpenPhotos();
    AddFolder(MakeFolder(root, "five", 5));
    HTREEITEM node = Roots()[0];
    Select(ChildrenOf(node)[2]);
    EXPECT_EQ(BoxTitle(), "Image properties");
    EXPECT_EQ(Label("Size : "), "Size : 3 Kb");
    EXPECT_EQ(Label("Width : "), "Width : 16");
    EXPECT_EQ(Label("Height : "), "Height : 48");
    EXPECT_NE(Label("Format : "), "Format : ");
    // The picture sits in the middle of the black preview.
    const TBitmap& preview = *Dlg().Photos().Pane().Bitmap();
    auto pixel = [&](int x, int y) {
        return preview.Bits[(static_cast<std::size_t>(y) * preview.Width + x) * 4];
    };
    EXPECT_EQ(pixel(preview.Width / 2, preview.Height / 2), 0x7F);
    EXPECT_EQ(pixel(2, 2), 0);
    Command(kIdRemove);
    Pump();
    const std::vector<HTREEITEM> kids = ChildrenOf(node);
    ASSERT_EQ(kids.size(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(ItemPosition(ItemDataOf(kids[i])), i + 1);
    EXPECT_EQ(Session.PicList.GetItem(1).Pictures.Count(), 4);
    Select(kids[0]);
    Select(kids[2]);
    EXPECT_EQ(ItemText(kids[2]), "d.bmp");
    EXPECT_EQ(Label("Size : "), "Size : 4 Kb");  // the former fourth picture
    EXPECT_EQ(Label("Height : "), "Height : 64");
}

TEST_F(ConfigDialog, HiddenPicturesAreMarkedCanBeShownAgainAndOkSavesTheList) {
    // A picture hidden during an earlier show is marked when the tree is filled.
    const std::string dir = MakeFolder(root, "hid", 3);
    {
        TPicList list;
        list.AddFolder("Root");
        list.AddFolder(dir);
        for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) list.ItemAt(1).Pictures.Add(dir + "\\" + name);
        ::CreateDirectoryA((root + "\\appdata\\Quorvane").c_str(), nullptr);
        list.SaveToFile(catalogueFile);
        THiddenList hidden;
        hidden.Add(dir + "\\b.bmp");
        SaveHiddenList(hidden, HiddenListFileFor(catalogueFile));
    }
    OpenPhotos();
    ASSERT_EQ(Roots().size(), 1u);
    const std::vector<HTREEITEM> kids = ChildrenOf(Roots()[0]);
    ASSERT_EQ(kids.size(), 3u);
    EXPECT_EQ(ItemText(kids[0]), "a.bmp");
    EXPECT_EQ(ItemText(kids[1]), "b.bmp (hidden)");
    // A folder has nothing to hide; a picture has, and a hidden one is unhidden.
    Select(Roots()[0]);
    EXPECT_FALSE(::IsWindowEnabled(ControlById(kIdHide)));
    Select(kids[1]);
    EXPECT_TRUE(::IsWindowEnabled(ControlById(kIdHide)));
    EXPECT_EQ(ById(kIdHide).Text, "Unhide");
    Command(kIdHide);
    EXPECT_EQ(ItemText(kids[1]), "b.bmp");
    EXPECT_EQ(ById(kIdHide).Text, "Hide");
    Select(kids[2]);
    Command(kIdHide);
    EXPECT_EQ(ItemText(kids[2]), "c.bmp (hidden)");
    EXPECT_EQ(ById(kIdHide).Text, "Unhide");
    // Only OK writes the list.
    EXPECT_TRUE(LoadHiddenList(HiddenListFileFor(catalogueFile)).Contains(dir + "\\b.bmp"));
    ::PostMessageA(ControlById(kIdOk), BM_CLICK, 0, 0);
    RunDialogMessageLoop();
    EXPECT_TRUE(dialogEnded);
    EXPECT_EQ(LoadHiddenList(HiddenListFileFor(catalogueFile)).Paths(), std::vector<std::string>{dir + "\\c.bmp"});
}

TEST_F(ConfigDialog, RemovingAFolderKeepsLaterFoldersRight) {
    OpenPhotos();
    const std::string a = MakeFolder(root, "a", 1);
    const std::string b = MakeFolder(root, "b", 2);
    const std::string c = MakeFolder(root, "c", 3);
    AddFolder(a);
    AddFolder(b);
    AddFolder(c);
    ASSERT_EQ(Roots().size(), 3u);
    Select(Roots()[0]);
    Command(kIdRemove);
    Pump();
    ASSERT_EQ(Session.PicList.Count(), 3);
    const std::vector<HTREEITEM> roots = Roots();
    ASSERT_EQ(roots.size(), 2u);
    EXPECT_EQ(ItemText(roots[0]), b);
    EXPECT_EQ(ItemText(roots[1]), c);
    Select(roots[1]);
    EXPECT_EQ(Label("3 pictures"), "3 pictures");
    Select(ChildrenOf(roots[1])[2]);
    EXPECT_EQ(Label("Size : "), "Size : 3 Kb");
    Select(roots[0]);
    EXPECT_EQ(Label("2 pictures"), "2 pictures");

    // A folder added now takes the freed slot and still shows right.
    const std::string d = MakeFolder(root, "d", 4);
    AddFolder(d);
    ASSERT_EQ(Roots().size(), 3u);
    EXPECT_EQ(ItemText(Roots()[2]), d);
    Select(ChildrenOf(Roots()[2])[3]);
    EXPECT_EQ(Label("Size : "), "Size : 4 Kb");
    Select(ChildrenOf(Roots()[0])[1]);
    EXPECT_EQ(Label("Size : "), "Size : 2 Kb");
}

TEST_F(ConfigDialog, SamePhotoAddedTwiceIsListedTwice) {
    OpenPhotos();
    const std::string dir = MakeFolder(root, "p", 2);
    fileAnswer = {Wide(dir + "\\b.bmp")};
    Command(kIdAddPhoto);
    Command(kIdAddPhoto);
    Pump();
    ASSERT_EQ(filters.size(), 2u);
    EXPECT_EQ(filters[0].compare(0, 12, std::string("All formats\0", 12)), 0);
    const std::vector<HTREEITEM> roots = Roots();
    ASSERT_EQ(roots.size(), 2u);
    EXPECT_EQ(ItemText(roots[0]), "b.bmp");
    EXPECT_EQ(ItemText(roots[1]), "b.bmp");
    EXPECT_EQ(ItemDataOf(roots[1]), ItemData(0, 2));
    EXPECT_EQ(Session.PicList.GetItem(0).Pictures.Count(), 2);
    EXPECT_EQ(Item(nullptr, TVGN_CARET), roots[1]);
    EXPECT_EQ(Label("Size : "), "Size : 2 Kb");
}

TEST_F(ConfigDialog, OpenFileErrorShowsItsCodeAndAddsNothing) {
    Open();
    fileError = FNERR_INVALIDFILENAME;
    Command(kIdAddPhoto);
    Pump();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Fails = " + std::to_string(FNERR_INVALIDFILENAME));
    EXPECT_TRUE(Roots().empty());
    EXPECT_EQ(Session.PicList.GetItem(0).Pictures.Count(), 0);
}

// --- the pickers --------------------------------------------------------

TEST_F(ConfigDialog, PickersLeaveTheCurrentFolderAlone) {
    OpenPhotos();
    const std::string here = root + "\\here";
    ::CreateDirectoryA(here.c_str(), nullptr);
    const std::string there = MakeFolder(root, "there", 2);
    ASSERT_TRUE(::SetCurrentDirectoryA(here.c_str()));
    // Both pickers move the current folder to where the user went, as the
    // real open-file dialog does whatever its flags say.
    pickerGoesTo = Wide(there);
    AddPhotos({Wide(there + "\\a.bmp")});
    EXPECT_EQ(CurrentFolder(), Wide(here)) << "after Add photo";
    AddFolder(there);
    EXPECT_EQ(CurrentFolder(), Wide(here)) << "after Add folder";
    fileAnswer.clear();  // Cancel
    Command(kIdAddPhoto);
    EXPECT_EQ(CurrentFolder(), Wide(here)) << "after a cancelled Add photo";
    EXPECT_EQ(Session.PicList.GetItem(0).Pictures.Count(), 1);
    EXPECT_EQ(Session.PicList.GetItem(1).Pictures.Count(), 2);
    // The dialog is also asked not to move it, where that is heeded.
    ASSERT_EQ(pickerCalls.size(), 2u);
    EXPECT_EQ(pickerCalls[0].Flags, DWORD(OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST |
                                          OFN_ALLOWMULTISELECT | OFN_HIDEREADONLY | OFN_NOCHANGEDIR));
    EXPECT_TRUE(boxes.empty());
}

// Names of 40 characters: 500 of them overflow 10,000 characters.
std::string ManyName(int i) {
    char name[64];
    std::snprintf(name, sizeof name, "holiday picture with a long name %03d.bmp", i);
    return name;
}

TEST_F(ConfigDialog, AChoiceBeyondTheBufferIsAskedForAgainWithRoomForIt) {
    Open();
    // More than a million characters; the files need not exist for this.
    std::vector<std::wstring> chosen;
    for (int i = 0; i < 30000; ++i) chosen.push_back(Wide("C:\\Far away\\" + ManyName(i)));
    WORD offset = 0;
    ASSERT_GT(OpenFileAnswer(chosen, offset).size(), std::size_t(1) << 20);
    AddPhotos(chosen);
    ASSERT_EQ(pickerCalls.size(), 2u);
    EXPECT_GE(pickerCalls[1].nMaxFile, 4 * pickerCalls[0].nMaxFile);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "That many pictures do not fit in at once. Please choose them once more.");
    EXPECT_EQ(Session.PicList.GetItem(0).Pictures.Count(), 30000);
    EXPECT_EQ(Session.PicList.GetItem(0).Pictures.Item(29999), "C:\\Far away\\" + ManyName(29999));
}

// The real open-file dialog of this process, used from another thread as a
// user would: the folder typed into the file-name box and opened, then the
// quoted names typed and Open pressed. False when no dialog came up.
HWND OwnDialog() {
    struct TFind {
        HWND found = nullptr;
        static BOOL CALLBACK Each(HWND w, LPARAM p) {
            DWORD pid = 0;
            ::GetWindowThreadProcessId(w, &pid);
            char cls[16] = {};
            ::GetClassNameA(w, cls, sizeof cls);
            if (pid != ::GetCurrentProcessId() || std::strcmp(cls, "#32770") != 0 || !::IsWindowVisible(w))
                return TRUE;
            reinterpret_cast<TFind*>(p)->found = w;
            return FALSE;
        }
    } find;
    ::EnumWindows(TFind::Each, reinterpret_cast<LPARAM>(&find));
    return find.found;
}

bool WaitForOwnDialog(HWND& dialog, bool gone) {
    for (int i = 0; i < 600; ++i) {
        HWND now = OwnDialog();
        if (gone ? now != dialog : now != nullptr) {
            dialog = now;
            return true;
        }
        ::Sleep(50);
    }
    return false;
}

bool TypeIntoOpenDialog(const std::wstring& folder, const std::wstring& names) {
    HWND dialog = nullptr;
    if (!WaitForOwnDialog(dialog, false)) return false;
    ::Sleep(300);  // let it finish filling its lists
    const int box = ::GetDlgItem(dialog, cmb13) ? cmb13 : edt1;
    bool done = true;
    for (const std::wstring& text : {folder, names}) {
        ::SetDlgItemTextW(dialog, box, text.c_str());
        ::SendMessageW(::GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
        ::Sleep(300);
    }
    // Whatever stays open now (the dialog, a complaint of it) is closed, so
    // that the test goes on and fails rather than hangs.
    HWND left = dialog;
    if (!WaitForOwnDialog(left, true) || left) {
        done = false;
        for (HWND w; (w = OwnDialog()) != nullptr;) {
            ::SendMessageW(w, WM_COMMAND, IDCANCEL, 0);
            ::Sleep(100);
        }
    }
    return done;
}

TEST_F(ConfigDialog, RealOpenFileDialogTakesFiveHundredFilesAndKeepsTheCurrentFolder) {
    OpenPhotos();
    ConfigHooks().PickFiles = nullptr;
    const std::string dir = root + "\\chosen";
    ::CreateDirectoryA(dir.c_str(), nullptr);
    std::wstring names;
    for (int i = 0; i < 500; ++i) {
        WriteBmp(dir + "\\" + ManyName(i), 16);
        names += L"\"" + Wide(ManyName(i)) + L"\" ";
    }
    const std::string here = root + "\\here";
    ::CreateDirectoryA(here.c_str(), nullptr);
    ASSERT_TRUE(::SetCurrentDirectoryA(here.c_str()));
    std::atomic<bool> typed{false};
    std::thread user([&] { typed = TypeIntoOpenDialog(Wide(dir), names); });
    Command(kIdAddPhoto);  // the dialog runs here, on the dialog's thread
    user.join();
    ASSERT_TRUE(typed) << "the open-file dialog did not take the names";
    EXPECT_TRUE(boxes.empty()) << boxes.front();
    ASSERT_EQ(Session.PicList.GetItem(0).Pictures.Count(), 500);
    std::vector<std::string> added = Session.PicList.GetItem(0).Pictures.ToVector();
    std::sort(added.begin(), added.end());
    EXPECT_EQ(added[7], dir + "\\" + ManyName(7));
    ASSERT_EQ(Roots().size(), 500u);
    EXPECT_EQ(Item(nullptr, TVGN_CARET), Roots().back());
    EXPECT_EQ(Label("Height : "), "Height : 16");
    EXPECT_EQ(CurrentFolder(), Wide(here));
}

// --- names outside the code page ------------------------------------------
//
// These tests assume the ANSI code page of the test prefix, 1252 (Western
// European), in which "Ströme – café" is spelled and Japanese, Cyrillic and
// emoji names are not; they are skipped elsewhere.

bool WesternCodePage() {
    return ::GetACP() == 1252;
}

// A picture 16 wide and `height` high, under a name in any script.
void WriteBmpW(const std::wstring& path, int height) {
    const std::string temp = TempFolder("qv_dialog_bmp.tmp");
    WriteBmp(temp, height);
    ASSERT_TRUE(::MoveFileExW(Wide(temp).c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
        << ::GetLastError();
}

const char kLeftOutEnd[] =
    " characters that this system's language settings cannot spell in the picture list, and the drive keeps "
    "no short name for ";

TEST_F(ConfigDialog, ForeignNamesAreAddedKeptAndShownUnderTheirOwnNames) {
    if (!WesternCodePage()) GTEST_SKIP() << "names chosen for code page 1252";
    OpenPhotos();
    const std::wstring dir = Wide(root) + L"\\Фотографии";
    ::CreateDirectoryW(dir.c_str(), nullptr);
    ::CreateDirectoryW((dir + L"\\Фото").c_str(), nullptr);
    WriteBmpW(dir + L"\\夕焼け_水辺.bmp", 16);
    WriteBmpW(dir + L"\\🌅 sunrise.bmp", 32);
    WriteBmpW(dir + L"\\Ströme – café.bmp", 48);
    WriteBmpW(dir + L"\\Фото\\Море.bmp", 64);

    AddPhotos({dir + L"\\夕焼け_水辺.bmp", dir + L"\\🌅 sunrise.bmp", dir + L"\\Ströme – café.bmp"});
    EXPECT_TRUE(boxes.empty()) << boxes.front();
    std::vector<HTREEITEM> roots = Roots();
    ASSERT_EQ(roots.size(), 3u);
    EXPECT_EQ(ItemTextW(roots[0]), L"夕焼け_水辺.bmp");
    EXPECT_EQ(ItemTextW(roots[1]), L"🌅 sunrise.bmp");
    EXPECT_EQ(ItemTextW(roots[2]), L"Ströme – café.bmp");
    const TPictureList& single = Session.PicList.GetItem(0).Pictures;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(std::string(single.Item(i)).find('?'), std::string::npos) << single.Item(i);
        EXPECT_EQ(LongPathOf(single.Item(i)), dir + L"\\" + ItemTextW(roots[i]));
    }
    // Spelled in the code page: stored as it is.
    EXPECT_EQ(FileNamePart(single.Item(2)), "Str\xF6me \x96 caf\xE9.bmp");
    // Its properties and picture come through the short path.
    Select(roots[1]);
    EXPECT_EQ(Label("Height : "), "Height : 32");
    EXPECT_EQ(Label("Size : "), "Size : 2 Kb");
    const TBitmap& preview = *Dlg().Photos().Pane().Bitmap();
    EXPECT_EQ(
        preview.Bits[(static_cast<std::size_t>(preview.Height / 2) * preview.Width + preview.Width / 2) * 4],
        0x7F);

    // A folder whose own name is foreign, with a foreign folder inside.
    ASSERT_EQ(AddFolder(dir), 1);
    EXPECT_TRUE(boxes.empty()) << boxes.front();
    const std::string stored = Session.PicList.GetItem(1).FolderPath;
    EXPECT_NE(stored.find('~'), std::string::npos) << stored;
    {
        TRegKey key = OpenRegKey(HKEY_CURRENT_USER, kSettingsKey);
        EXPECT_EQ(ReadRegString(key.Get(), "DialogPath").value_or(""), stored);
    }
    EXPECT_EQ(Session.PicList.GetItem(1).Pictures.Count(), 4);
    HTREEITEM node = Roots()[0];
    EXPECT_EQ(ItemTextW(node), dir);
    std::vector<std::wstring> shown;
    for (HTREEITEM kid : ChildrenOf(node)) shown.push_back(ItemTextW(kid));
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ(shown, (std::vector<std::wstring>{L"Ströme – café.bmp", L"Море.bmp", L"夕焼け_水辺.bmp",
                                                L"🌅 sunrise.bmp"}));
    for (HTREEITEM kid : ChildrenOf(node))
        if (ItemTextW(kid) == L"Море.bmp") Select(kid);
    EXPECT_EQ(Label("Height : "), "Height : 64");
    // The next browse starts in the folder chosen last.
    AddFolder(std::wstring());
    EXPECT_EQ(Wide(browserStarts.back()), Wide(stored));

    // Saved with OK, the catalogue holds the paths as they were added, and
    // the tree filled from it anew shows the same names.
    const std::vector<std::string> singles = single.ToVector();
    const std::vector<std::string> inFolder = Session.PicList.GetItem(1).Pictures.ToVector();
    Command(kIdOptions);
    Click(kIdOk);
    ASSERT_TRUE(dialogEnded);
    TPicList saved;
    saved.LoadFromFile(catalogueFile);
    ASSERT_EQ(saved.Count(), 2);
    EXPECT_EQ(saved.GetItem(0).Pictures.ToVector(), singles);
    EXPECT_EQ(saved.GetItem(1).FolderPath, stored);
    EXPECT_EQ(saved.GetItem(1).Pictures.ToVector(), inFolder);

    ::UnregisterClassA(kDialogClass, ::GetModuleHandleA(nullptr));
    dialogEnded = false;
    Session.PicList.Clear();
    OpenPhotos();
    roots = Roots();
    ASSERT_EQ(roots.size(), 4u);
    EXPECT_EQ(ItemTextW(roots[0]), dir);
    EXPECT_EQ(ChildrenOf(roots[0]).size(), 4u);
    EXPECT_EQ(ItemTextW(roots[1]), L"夕焼け_水辺.bmp");
    EXPECT_EQ(ItemTextW(roots[2]), L"🌅 sunrise.bmp");
}

TEST_F(ConfigDialog, NamesWithoutShortNamesAreReportedOnceWithTheirCount) {
    if (!WesternCodePage()) GTEST_SKIP() << "names chosen for code page 1252";
    // Wine gives every such name a short name; the seam takes them away, as
    // a drive with 8.3 names switched off would.
    TCatalogueHooks hooks;
    hooks.NoShortNames = true;
    SetCatalogueHooks(hooks);
    OpenPhotos();
    const std::string dir = MakeFolder(root, "mixed", 2);
    ::CreateDirectoryW((Wide(dir) + L"\\Фото").c_str(), nullptr);
    WriteBmpW(Wide(dir) + L"\\Фото\\Море.bmp", 16);
    WriteBmpW(Wide(dir) + L"\\夕焼け_水辺.bmp", 16);
    WriteBmpW(Wide(dir) + L"\\🌅 sunrise.bmp", 16);
    WriteBmpW(Wide(dir) + L"\\Ströme – café.bmp", 16);

    ASSERT_EQ(AddFolder(dir), 1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], std::string("2 pictures and 1 folder were left out: their names use") + kLeftOutEnd +
                            "them. Rename them with letters of the system's language, or turn short names on "
                            "for the drive, to add them.");
    EXPECT_EQ(Session.PicList.GetItem(1).Pictures.Count(), 3);  // a.bmp, b.bmp and the one the code page spells
    EXPECT_EQ(ChildrenOf(Roots()[0]).size(), 3u);

    // A refresh reports what it leaves out again, once.
    Select(Roots()[0]);
    Command(kIdRefreshFolder);
    Pump();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1], boxes[0]);

    boxes.clear();
    AddPhotos({Wide(dir) + L"\\夕焼け_水辺.bmp", Wide(dir) + L"\\a.bmp"});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], std::string("1 picture was left out: its name uses") + kLeftOutEnd +
                            "it. Rename it with letters of the system's language, or turn short names on for "
                            "the drive, to add it.");
    EXPECT_EQ(Session.PicList.GetItem(0).Pictures.ToVector(), std::vector<std::string>{dir + "\\a.bmp"});

    boxes.clear();
    AddFolder(Wide(dir) + L"\\Фото");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind("1 folder was left out: its name uses", 0), 0u) << boxes[0];
    EXPECT_EQ(Session.PicList.Count(), 2);  // nothing added, nothing lost
    EXPECT_EQ(Session.PicList.GetItem(1).Pictures.Count(), 3);
    EXPECT_EQ(Roots().size(), 2u);
}

TEST_F(ConfigDialog, HugeFolderShowsLimitButKeepsAndSavesAll) {
    {
        TPicList big;
        big.AddFolder("Root");
        const int entry = big.AddFolder("C:\\Huge");
        std::vector<std::string> paths;
        paths.reserve(70000);
        for (int i = 0; i < 70000; ++i) paths.push_back("C:\\Huge\\p" + std::to_string(i) + ".bmp");
        big.ItemAt(entry).Pictures.Append(paths);
        ::CreateDirectoryA((root + "\\appdata\\Quorvane").c_str(), nullptr);
        big.SaveToFile(catalogueFile);
    }
    Open();
    const std::vector<HTREEITEM> roots = Roots();
    ASSERT_EQ(roots.size(), 1u);
    EXPECT_EQ(::SendMessageA(Tree(), TVM_GETCOUNT, 0, 0), 1 + kMaxTreeChildren);
    EXPECT_EQ(Session.PicList.GetItem(1).Pictures.Count(), 70000);
    Command(kIdOptions);
    Click(kIdOk);
    ASSERT_TRUE(dialogEnded);
    TPicList saved;
    saved.LoadFromFile(catalogueFile);
    ASSERT_EQ(saved.Count(), 2);
    EXPECT_EQ(saved.GetItem(1).Pictures.Count(), 70000);
}

// Closing the dialog while the tree fills from a folder of 100,000
// pictures stops the fill between two of its batches and waits for its
// thread to return: well within a second, and nothing is killed.
TEST_F(ConfigDialog, ClosingDuringTheTreeFillStopsItWithinASecond) {
    {
        TPicList big;
        big.AddFolder("Root");
        const int entry = big.AddFolder("C:\\Huge");
        std::vector<std::string> paths;
        paths.reserve(100000);
        for (int i = 0; i < 100000; ++i) paths.push_back("C:\\Huge\\p" + std::to_string(i) + ".bmp");
        big.ItemAt(entry).Pictures.Append(paths);
        ::CreateDirectoryA((root + "\\appdata\\Quorvane").c_str(), nullptr);
        big.SaveToFile(catalogueFile);
    }
    ASSERT_TRUE(CreateConfigDialog(Session));
    ASSERT_TRUE(Dlg().Photos().TreeFillRunning());
    const DWORD start = ::GetTickCount();
    Dlg().Photos().StopTreeFill();
    EXPECT_LT(::GetTickCount() - start, 1000u);
    EXPECT_FALSE(Dlg().Photos().TreeFillRunning());
    // The fill stopped early: the folder's pictures are not all in the tree.
    EXPECT_LT(::SendMessageA(Tree(), TVM_GETCOUNT, 0, 0), 1 + kMaxTreeChildren);
}

// The catalogue file's reads fail half-way (a share that stopped
// answering): the dialog says so, shows what it read, and replaces the file
// with that part only when the user says so in so many words.
TEST_F(ConfigDialog, APartlyReadCatalogueIsReportedAndReplacedOnlyWhenConfirmed) {
    TPicList whole;
    whole.AddFolder("Root");
    for (int f = 0; f < 3; ++f) {
        const int entry = whole.AddFolder("C:\\Photos\\" + std::to_string(f));
        for (int p = 0; p < 100; ++p)
            whole.ItemAt(entry).Pictures.Add("C:\\Photos\\" + std::to_string(f) + "\\" + std::to_string(p) + ".bmp");
    }
    std::string bytes;
    TStringSink sink(bytes);
    whole.SaveToStream(sink);
    ::CreateDirectoryA((root + "\\appdata\\Quorvane").c_str(), nullptr);
    TFaultyFile faulty(root + "\\appdata\\Quorvane", bytes, bytes.size() / 2);
    if (!faulty.Made()) GTEST_SKIP() << "no FUSE file system can be mounted here";
    ASSERT_EQ(faulty.Path(), catalogueFile);

    Open();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind("Your list of pictures could not be read completely.", 0), 0u) << boxes[0];
    EXPECT_GT(Session.PicList.TotalCount(), 100);
    EXPECT_LT(Session.PicList.TotalCount(), 200);
    EXPECT_EQ(Roots().size(), 2u);

    // No: nothing is written, and the dialog stays with the list as read.
    boxes.clear();
    answers = {IDNO};
    Command(kIdOptions);
    Command(kIdOk);
    Pump();
    EXPECT_FALSE(dialogEnded);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("Saving would replace the catalogue file\r\n" + catalogueFile +
                            "\r\nwith the part that could be read"),
              std::string::npos)
        << boxes[0];
    TRegKey key = OpenRegKey(HKEY_CURRENT_USER, kSettingsKey);
    EXPECT_FALSE(ReadRegString(key.Get(), "Delay").has_value());

    // Yes: the part is saved (here to a file the test can read back).
    const int shown = Session.PicList.TotalCount();
    Session.Settings.CatalogueFile = root + "\\saved.dat";
    boxes.clear();
    answers = {IDYES};
    Command(kIdOk);
    EXPECT_TRUE(dialogEnded);
    EXPECT_EQ(boxes.size(), 1u);
    TPicList saved;
    saved.LoadFromFile(Session.Settings.CatalogueFile);
    EXPECT_EQ(saved.TotalCount(), shown);
}

// A folder on a drive whose disk is not there keeps its list on Refresh,
// and the tree says why it has not changed.
TEST_F(ConfigDialog, RefreshingAFolderThatCannotBeReachedKeepsItsList) {
    ::CreateDirectoryA((root + "\\share").c_str(), nullptr);
    TVanishingDrive drive(root + "\\share");
    if (!drive.Made()) GTEST_SKIP() << "no drive letter could be made here";
    MakeFolder(root + "\\share", "Photos", 3);
    OpenPhotos();
    const std::string folder = drive.Root() + "\\Photos";
    AddFolder(folder);
    ASSERT_EQ(Session.PicList.GetItem(1).Pictures.Count(), 3);
    ASSERT_TRUE(drive.Vanish());
    boxes.clear();
    Select(Roots()[0]);
    Click(kIdRefreshFolder);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("cannot be reached"), std::string::npos) << boxes[0];
    EXPECT_NE(boxes[0].find("3 pictures is kept"), std::string::npos) << boxes[0];
    EXPECT_EQ(Session.PicList.GetItem(1).Pictures.Count(), 3);
    EXPECT_EQ(ChildrenOf(Roots()[0]).size(), 3u);
    EXPECT_EQ(ItemText(Roots()[0]), folder + "  (cannot be reached)");
    EXPECT_EQ(Label("3 pictures"), "3 pictures");
    // The check boxes refresh the same way.
    ::SendMessageA(ControlById(kIdIncludeSubdirs), BM_SETCHECK, BST_UNCHECKED, 0);
    Command(kIdIncludeSubdirs);
    EXPECT_EQ(Session.PicList.GetItem(1).Pictures.Count(), 3);
}

TEST_F(ConfigDialog, SinglePicturesBeyondTheLimitAreNotAddedAndTheUserIsTold) {
    OpenPhotos();
    const std::string dir = MakeFolder(root, "p", 3);
    TPictureList& single = Session.PicList.ItemAt(0).Pictures;
    for (int i = 0; i < 65534; ++i) single.Add("C:\\p" + std::to_string(i) + ".bmp");
    AddPhotos({Wide(dir + "\\a.bmp"), Wide(dir + "\\b.bmp"), Wide(dir + "\\c.bmp")});
    EXPECT_EQ(single.Count(), 65535);
    EXPECT_EQ(single.Item(65534), dir + "\\a.bmp");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind("2 pictures were not added: the list holds at most 65535 single pictures.", 0), 0u)
        << boxes[0];
}

TEST_F(ConfigDialog, FolderFlagsChangeTheSelectedEntry) {
    OpenPhotos();
    const std::string dir = MakeFolder(root, "top", 2);
    MakeFolder(dir, "sub", 3);
    AddFolder(dir);
    EXPECT_EQ(Session.PicList.GetItem(1).Pictures.Count(), 5);  // subfolders are scanned
    ::SendMessageA(ControlById(kIdIncludeSubdirs), BM_SETCHECK, BST_UNCHECKED, 0);
    Command(kIdIncludeSubdirs);
    Pump();
    EXPECT_FALSE(Session.PicList.GetItem(1).IncludeSubdirs);
    EXPECT_EQ(Session.PicList.GetItem(1).Pictures.Count(), 2);
    EXPECT_EQ(ChildrenOf(Roots()[0]).size(), 2u);
    ::SendMessageA(ControlById(kIdAutoRefresh), BM_SETCHECK, BST_CHECKED, 0);
    Command(kIdAutoRefresh);
    EXPECT_TRUE(Session.PicList.GetItem(1).AutoRefresh);
    EXPECT_EQ(Label("2 pictures"), "2 pictures");
}

std::vector<std::string> picturesDuringRun;
bool launchedDuringRun = false;
bool busyDuringRun = false;
void RecordRun() {
    picturesDuringRun = Session.PicList.GetItem(1).Pictures.ToVector();
    launchedDuringRun = RunState.LaunchedFromDialog;
    busyDuringRun = Dlg().Busy().Dialog.load() == ::LoadCursorA(nullptr, IDC_APPSTARTING);
    // The dialog's own end requests wait until the run is over.
    ::SendMessageA(Dlg().Main(), WM_COMMAND, kIdCancel, 0);
    ::SendMessageA(Dlg().Main(), WM_CLOSE, 0, 0);
}

TEST_F(ConfigDialog, PreviewRunsWithUnsavedChangesAndCancelStillDiscards) {
    Open();
    AddFolder(MakeFolder(root, "new", 2));
    ConfigHooks().RunPreview = RecordRun;
    Command(kIdOptions);
    Click(kIdPreview);
    EXPECT_FALSE(dialogEnded);
    EXPECT_EQ(picturesDuringRun.size(), 2u);
    EXPECT_TRUE(launchedDuringRun);
    EXPECT_TRUE(busyDuringRun);
    EXPECT_EQ(Dlg().Busy().Dialog.load(), nullptr);
    EXPECT_EQ(::GetCursor(), ::LoadCursorA(nullptr, IDC_ARROW));
    Click(kIdCancel);
    EXPECT_TRUE(dialogEnded);
    EXPECT_EQ(::GetFileAttributesA(catalogueFile.c_str()), INVALID_FILE_ATTRIBUTES);
}

// Preview runs the real saver full screen in this process: its loader thread
// decodes the catalogue's pictures while this thread pumps the run's
// messages, the dialog's among them. The picture pane decodes on this
// thread, on the same process-wide decode state; while a run is on it must
// not, and once the run is over it shows the selection.
struct TPreviewWatch {
    HWND Probe = nullptr;               // a window of this thread that reads the dialog during the run
    std::atomic<bool> Launched{false};  // the run took a picture its loader prepared
    std::atomic<bool> ProbePosted{false};
    std::atomic<bool> Probed{false};
    std::atomic<bool> TimedOut{false};
    double SteppedMs = 0;        // motion of the run so far [render thread]
    std::function<void()> Read;  // what the probe does, on this thread
};
TPreviewWatch* previewWatch = nullptr;
constexpr UINT kProbeMessage = WM_APP + 77;

LRESULT CALLBACK PreviewProbeProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg != kProbeMessage || !previewWatch) return ::DefWindowProcA(wnd, msg, wp, lp);
    previewWatch->Read();
    previewWatch->Probed = true;
    return 0;
}

// On the render thread: once the loader has delivered and the tree fill has
// announced its end (posted before the fill stops running, so the probe
// comes after it), the dialog is read on its own thread; then the run stops.
void WatchPreviewFrames(const TFrameEvent& e) {
    TPreviewWatch& w = *previewWatch;
    if (e.What == TFrameEvent::Kind::Launched) w.Launched = true;
    if (e.What != TFrameEvent::Kind::Stepped) return;
    w.SteppedMs += e.FrameStep / 0.02;
    if (w.Launched && !Dlg().Photos().TreeFillRunning() && !w.ProbePosted.exchange(true))
        ::PostMessageA(w.Probe, kProbeMessage, 0, 0);
    if (w.Probed) RunState.StopRequested = 1;
    if (w.SteppedMs > 20000) {
        w.TimedOut = true;
        RunState.StopRequested = 1;
    }
}

// Three real pictures at the catalogue's top level: the tree's first item is
// a picture, which the Photos page selects and shows once the fill has ended.
void WriteTopLevelPictures(const std::string& root, const std::string& catalogueFile) {
    const std::string dir = MakeFolder(root, "shown", 3);
    TPicList list;
    list.AddFolder("Root");
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) list.ItemAt(0).Pictures.Add(dir + "\\" + name);
    ::CreateDirectoryA((root + "\\appdata\\Quorvane").c_str(), nullptr);
    list.SaveToFile(catalogueFile);
}

bool fillRunningAtRun = true;
LRESULT itemsAtRun = -1;
void RecordTreeAtRun() {
    fillRunningAtRun = Dlg().Photos().TreeFillRunning();
    itemsAtRun = ::SendMessageA(Dlg().Photos().Tree(), TVM_GETCOUNT, 0, 0);
}

TEST_F(ConfigDialog, PreviewPressedDuringTheFillRunsOnTheWholeTree) {
    WriteTopLevelPictures(root, catalogueFile);
    // Pressed before this thread pumped once, so before the fill could insert a thing.
    ASSERT_TRUE(CreateConfigDialog(Session));
    Command(kIdOptions);
    ConfigHooks().RunPreview = RecordTreeAtRun;
    Command(kIdPreview);
    EXPECT_FALSE(fillRunningAtRun);
    EXPECT_EQ(itemsAtRun, 3);
    Pump();
    EXPECT_EQ(Label("Height : "), "Height : 16");
}

TEST_F(ConfigDialog, PreviewKeepsThePaneOffTheDecoderUntilTheRunIsOver) {
    WriteTopLevelPictures(root, catalogueFile);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = PreviewProbeProc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = "QvPreviewProbe";
    ::RegisterClassA(&wc);
    TWindow probe(::CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    wc.hInstance, nullptr));
    ASSERT_TRUE(probe);
    TPreviewWatch watch;
    watch.Probe = probe.Get();
    std::string heightDuringRun;
    int centreDuringRun = -1;
    auto centre = [] {
        const TBitmap& b = *Dlg().Photos().Pane().Bitmap();
        return static_cast<int>(b.Bits[(static_cast<std::size_t>(b.Height / 2) * b.Width + b.Width / 2) * 4]);
    };
    watch.Read = [&] {
        heightDuringRun = Label("Height : ");
        centreDuringRun = centre();
    };
    previewWatch = &watch;

    // Opened, the buttons revealed and Preview pressed before this thread
    // pumped once: the fill's inserts and its end both reach the dialog
    // while the preview is under way.
    ASSERT_TRUE(CreateConfigDialog(Session));
    Command(kIdOptions);
    RenderHooks().ObserveFrame = WatchPreviewFrames;
    Command(kIdPreview);
    RenderHooks().ObserveFrame = nullptr;
    previewWatch = nullptr;
    RunState.LaunchedFromDialog = false;
    RunState.Flags = 0;
    probe.Reset();
    ::UnregisterClassA(wc.lpszClassName, wc.hInstance);

    ASSERT_FALSE(watch.TimedOut) << "the run never reached a state to probe";
    ASSERT_TRUE(watch.Probed);
    EXPECT_TRUE(watch.Launched);
    EXPECT_EQ(heightDuringRun, "Height : ") << "the pane decoded on the dialog's thread during the run";
    EXPECT_EQ(centreDuringRun, 0);

    // Over, the run hands the pane back: the first picture is selected and shown.
    Pump();
    EXPECT_FALSE(dialogEnded);
    ASSERT_EQ(Roots().size(), 3u);
    EXPECT_EQ(Item(nullptr, TVGN_CARET), Roots()[0]);
    EXPECT_EQ(Label("Height : "), "Height : 16");
    EXPECT_EQ(centre(), 0x7F);
}

// The Show page, read from outside: every control a button of the page's
// own, inside its box, none over another, and the boxes inside the page.
RECT ScreenRect(HWND w) {
    RECT r;
    ::GetWindowRect(w, &r);
    return r;
}
bool Overlap(const RECT& a, const RECT& b) {
    RECT both;
    return ::IntersectRect(&both, &a, &b) != 0;
}
bool Inside(const RECT& inner, const RECT& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}
bool IsChecked(int id) {
    return ::SendMessageA(ControlById(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}
// Which of the ids first..last is checked; -1 for none.
int CheckedOf(int first, int last) {
    for (int id = first; id <= last; ++id)
        if (IsChecked(id)) return id;
    return -1;
}

TEST_F(ConfigDialog, ShowPageHoldsItsChoicesInPlaceAndApart) {
    Open();
    ChooseTab(kPageShow);
    EXPECT_TRUE(::IsWindowVisible(Dlg().Tabs()->PageWindow(kPageShow)));
    struct Row {
        int id;
        const char* text;
        bool radio;
    } rows[] = {
        {kIdOrderRandom, "Random", true},
        {kIdOrderForward, "Forward (1-2-3-...)", true},
        {kIdOrderBackward, "Backward (...-3-2-1)", true},
        {kIdRandomStart, "Start at a random picture", false},
        {kIdResumeLast, "Continue after the last picture shown", false},
        {kIdMouseEnds, "Moving the mouse ends the show", false},
        {kIdKeysSteer, "Keys steer the show", false},
        {kIdSpeedSlower, "Slower", true},
        {kIdSpeedStandard, "Standard", true},
        {kIdSpeedFaster, "Faster", true},
        {kIdCaptionNone, "None", true},
        {kIdCaptionName, "File name", true},
        {kIdCaptionDate, "Date taken", true},
        {kIdCaptionBoth, "Name and date", true},
        {kIdShapeFramed, "Framed (4:3)", true},
        {kIdShapeOwn, "Own shape", true},
        {kIdTrueColours, "Colours as the photo intends", false},
        {kIdEveryMonitor, "Photos on every monitor", false},
    };
    const RECT page = ScreenRect(Dlg().Tabs()->PageWindow(kPageShow));
    std::vector<RECT> placed;
    for (const Row& r : rows) {
        HWND w = ControlById(r.id);
        ASSERT_NE(w, nullptr) << r.text;
        EXPECT_EQ(w, Dlg().Show().Control(r.id));
        const TSeen s = See(w);
        EXPECT_EQ(s.Class, "Button") << r.text;
        EXPECT_EQ(s.Text, r.text);
        EXPECT_TRUE(s.Visible) << r.text;
        const LONG type = ::GetWindowLongA(w, GWL_STYLE) & BS_TYPEMASK;
        EXPECT_EQ(type, r.radio ? BS_AUTORADIOBUTTON : BS_AUTOCHECKBOX) << r.text;
        // 240 wide, 20 high at any DPI, in its group box, in the page.
        EXPECT_EQ(s.Rect.right - s.Rect.left, Scaled(240)) << r.text;
        EXPECT_EQ(s.Rect.bottom - s.Rect.top, Scaled(20)) << r.text;
        HWND box = ::GetParent(w);
        EXPECT_EQ(ClassName(box), "Button");
        EXPECT_EQ(::GetParent(box), Dlg().Tabs()->PageWindow(kPageShow));
        const RECT rect = ScreenRect(w);
        EXPECT_TRUE(Inside(rect, ScreenRect(box))) << r.text;
        EXPECT_TRUE(Inside(ScreenRect(box), page)) << r.text;
        for (const RECT& other : placed) EXPECT_FALSE(Overlap(rect, other)) << r.text;
        placed.push_back(rect);
    }
    // The boxes lie apart too.
    std::vector<RECT> boxes;
    for (const TSeen& s : Children(Dlg().Tabs()->PageWindow(kPageShow)))
        if (::GetParent(s.Wnd) == Dlg().Tabs()->PageWindow(kPageShow)) boxes.push_back(ScreenRect(s.Wnd));
    ASSERT_EQ(boxes.size(), 7u);
    for (std::size_t i = 0; i < boxes.size(); ++i)
        for (std::size_t j = i + 1; j < boxes.size(); ++j) EXPECT_FALSE(Overlap(boxes[i], boxes[j]));

    // A user without settings sees the show as it always was.
    EXPECT_EQ(CheckedOf(kIdOrderRandom, kIdOrderBackward), kIdOrderRandom);
    EXPECT_FALSE(IsChecked(kIdRandomStart));
    EXPECT_FALSE(IsChecked(kIdResumeLast));
    EXPECT_TRUE(IsChecked(kIdMouseEnds));
    EXPECT_FALSE(IsChecked(kIdKeysSteer));
    EXPECT_EQ(CheckedOf(kIdSpeedSlower, kIdSpeedFaster), kIdSpeedStandard);
    EXPECT_EQ(CheckedOf(kIdCaptionNone, kIdCaptionBoth), kIdCaptionNone);
    EXPECT_EQ(CheckedOf(kIdShapeFramed, kIdShapeOwn), kIdShapeFramed);
    EXPECT_TRUE(IsChecked(kIdTrueColours));
    EXPECT_FALSE(IsChecked(kIdEveryMonitor));

    // A click on one choice of a group clears the others of that group only.
    Click(kIdCaptionDate);
    EXPECT_EQ(CheckedOf(kIdCaptionNone, kIdCaptionBoth), kIdCaptionDate);
    EXPECT_EQ(CheckedOf(kIdShapeFramed, kIdShapeOwn), kIdShapeFramed);
    Click(kIdOrderBackward);
    EXPECT_EQ(CheckedOf(kIdOrderRandom, kIdOrderBackward), kIdOrderBackward);
    EXPECT_FALSE(IsChecked(kIdRandomStart));
    EXPECT_TRUE(IsChecked(kIdMouseEnds));
}

TEST_F(ConfigDialog, ShowChoicesAreSavedByOkAndShownAgain) {
    Open();
    ChooseTab(kPageShow);
    for (int id : {kIdOrderForward, kIdRandomStart, kIdResumeLast, kIdMouseEnds, kIdKeysSteer, kIdSpeedFaster,
                   kIdCaptionBoth, kIdShapeOwn, kIdTrueColours, kIdEveryMonitor})
        Click(id);
    Command(kIdOptions);
    Click(kIdOk);
    ASSERT_TRUE(dialogEnded);
    {
        TRegKey key = OpenRegKey(HKEY_CURRENT_USER, kSettingsKey);
        // The existing values in their own form, the new ones beside them.
        EXPECT_EQ(ReadRegString(key.Get(), "Order").value_or(""), "25");  // forward + 8 + 16
        EXPECT_EQ(ReadRegString(key.Get(), "MouseMove").value_or(""), "0");
        EXPECT_EQ(ReadRegString(key.Get(), "Keys").value_or(""), "1");
        EXPECT_EQ(ReadRegString(key.Get(), "Speed").value_or(""), "2");
        EXPECT_EQ(ReadRegString(key.Get(), "Caption").value_or(""), "3");
        EXPECT_EQ(ReadRegString(key.Get(), "Shape").value_or(""), "1");
        EXPECT_EQ(ReadRegString(key.Get(), "IntendedColours").value_or(""), "0");
        EXPECT_EQ(ReadRegString(key.Get(), "EveryMonitor").value_or(""), "1");
        DWORD type = 0;
        EXPECT_EQ(::RegQueryValueExA(key.Get(), "Speed", nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    }

    ::UnregisterClassA(kDialogClass, ::GetModuleHandleA(nullptr));
    dialogEnded = false;
    Session.Settings = TSettings();
    Open();
    ChooseTab(kPageShow);
    EXPECT_EQ(CheckedOf(kIdOrderRandom, kIdOrderBackward), kIdOrderForward);
    EXPECT_TRUE(IsChecked(kIdRandomStart));
    EXPECT_TRUE(IsChecked(kIdResumeLast));
    EXPECT_FALSE(IsChecked(kIdMouseEnds));
    EXPECT_TRUE(IsChecked(kIdKeysSteer));
    EXPECT_EQ(CheckedOf(kIdSpeedSlower, kIdSpeedFaster), kIdSpeedFaster);
    EXPECT_EQ(CheckedOf(kIdCaptionNone, kIdCaptionBoth), kIdCaptionBoth);
    EXPECT_EQ(CheckedOf(kIdShapeFramed, kIdShapeOwn), kIdShapeOwn);
    EXPECT_FALSE(IsChecked(kIdTrueColours));
    EXPECT_TRUE(IsChecked(kIdEveryMonitor));
}

TEST_F(ConfigDialog, AnOrderWithoutAButtonIsKeptAsItWas) {
    {
        TRegKey key = CreateRegKey(HKEY_CURRENT_USER, kSettingsKey);
        WriteRegString(key.Get(), "Order", "43");  // order 3, RandomStart; 32 is dropped
        WriteRegString(key.Get(), "Caption", "9");  // no such caption
    }
    Open();
    ChooseTab(kPageShow);
    EXPECT_EQ(CheckedOf(kIdOrderRandom, kIdOrderBackward), -1);
    EXPECT_TRUE(IsChecked(kIdRandomStart));
    EXPECT_EQ(CheckedOf(kIdCaptionNone, kIdCaptionBoth), kIdCaptionNone);
    Command(kIdOptions);
    Click(kIdOk);
    ASSERT_TRUE(dialogEnded);
    TRegKey key = OpenRegKey(HKEY_CURRENT_USER, kSettingsKey);
    EXPECT_EQ(ReadRegString(key.Get(), "Order").value_or(""), "11");
    EXPECT_EQ(ReadRegString(key.Get(), "Caption").value_or(""), "0");
}

TSettings settingsDuringRun;
void RecordSettingsOfRun() {
    settingsDuringRun = Session.Settings;
}

TEST_F(ConfigDialog, PreviewRunsWithTheUnsavedShowChoicesAndCancelDiscardsThem) {
    Open();
    ChooseTab(kPageShow);
    for (int id : {kIdOrderBackward, kIdMouseEnds, kIdSpeedSlower, kIdCaptionName, kIdShapeOwn, kIdKeysSteer})
        Click(id);
    ConfigHooks().RunPreview = RecordSettingsOfRun;
    Command(kIdOptions);
    Click(kIdPreview);
    EXPECT_EQ(settingsDuringRun.Order, 4);
    EXPECT_FALSE(settingsDuringRun.MouseMove);
    const TShowOptions chosen{true, TCaption::FileName, TPanelShape::OwnShape, TFlightSpeed::Slower};
    EXPECT_EQ(settingsDuringRun.Show, chosen);
    Click(kIdCancel);
    EXPECT_TRUE(dialogEnded);
    TRegKey key = OpenRegKey(HKEY_CURRENT_USER, kSettingsKey);
    for (const char* name : {"Order", "MouseMove", "Keys", "Speed", "Caption", "Shape"})
        EXPECT_FALSE(ReadRegString(key.Get(), name).has_value()) << name;
}

TEST_F(ConfigDialog, ToolTipsCoverTheButtons) {
    Open();
    HWND tip = Dlg().ToolTip();
    ASSERT_NE(tip, nullptr);
    EXPECT_EQ(::SendMessageA(tip, TTM_GETTOOLCOUNT, 0, 0), 29);  // 18 of them on the Show page
    char text[128] = {};
    TTTOOLINFOA info = {};
    info.cbSize = TTTOOLINFOA_V2_SIZE;
    info.uFlags = TTF_IDISHWND;
    info.uId = reinterpret_cast<UINT_PTR>(ControlById(kIdPreview));
    info.lpszText = text;
    ::SendMessageA(tip, TTM_GETTEXTA, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_STREQ(text, "Run screensaver");
}

TEST_F(ConfigDialog, TakenWindowClassIsReportedAndNothingIsShown) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = ::DefWindowProcA;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = kDialogClass;
    ASSERT_NE(::RegisterClassA(&wc), 0);
    EXPECT_FALSE(CreateConfigDialog(Session));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Register class failed");
    EXPECT_EQ(Dlg().Main(), nullptr);
    EXPECT_FALSE(dialogEnded);
}

TEST_F(ConfigDialog, CatalogueDownToEmptyRootClearsThePane) {
    OpenPhotos();
    AddFolder(MakeFolder(root, "only", 1));
    Select(Roots()[0]);
    // Something on show, as a picture would be.
    TBitmap& preview = *Dlg().Photos().Pane().Bitmap();
    std::memset(preview.Bits, 0xFF, static_cast<std::size_t>(preview.Width) * preview.Height * 4);
    Dlg().Photos().Pane().Draw();
    EXPECT_EQ(::GetPixel(Dlg().Photos().Pane().DC(), 10, 10), RGB(255, 255, 255));
    Command(kIdRemove);
    Pump();
    EXPECT_EQ(Session.PicList.Count(), 1);
    EXPECT_TRUE(Roots().empty());
    EXPECT_EQ(preview.Bits[0], 0);
    EXPECT_EQ(::GetPixel(Dlg().Photos().Pane().DC(), 10, 10), RGB(0, 0, 0));
    EXPECT_EQ(Label("Width : "), "Width : ");
}

// --- the wrappers on their own -------------------------------------------

class Controls : public ::testing::Test {
protected:
    void SetUp() override {
        ClearLinkTargets();
        ResetControlRegistry();
        parent.Reset(::CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPED, 0, 0, 400, 300, nullptr, nullptr,
                                       ::GetModuleHandleA(nullptr), nullptr));
        ASSERT_TRUE(parent);
    }
    void TearDown() override {
        ConfigHooks() = TConfigHooks();
        ClearLinkTargets();
    }
    TWindow parent;
};

TEST_F(Controls, ThirteenthTargetFallsBackToItsText) {
    std::vector<HWND> links;
    for (int i = 0; i < kMaxLinkTargets + 1; ++i) {
        const std::string text = "link " + std::to_string(i);
        const std::string target = "https://www.quorvane.example/t" + std::to_string(i);
        links.push_back(CreateLinkLabel({parent.Get(), 0, text.c_str(), {0, 0, 50, 20}, target.c_str()}));
        ASSERT_NE(links.back(), nullptr);
    }
    EXPECT_EQ(LinkTarget(links[0]), "https://www.quorvane.example/t0");
    EXPECT_EQ(LinkTarget(links[11]), "https://www.quorvane.example/t11");
    EXPECT_EQ(LinkTarget(links[12]), "link 12");

    std::vector<std::string> opened;
    ConfigHooks().OpenLink = [&](HWND, const std::string& t) { opened.push_back(t); };
    HWND mail = CreateLinkLabel({parent.Get(), 0, "me@quorvane.example", {0, 0, 50, 20}});
    ::SendMessageA(mail, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    ::SendMessageA(links[3], WM_LBUTTONDOWN, MK_LBUTTON, 0);
    EXPECT_EQ(opened,
              (std::vector<std::string>{"mailto:me@quorvane.example", "https://www.quorvane.example/t3"}));
}

TEST_F(Controls, TabPagesHoldAtMostTheirTableAndSwitchWindows) {
    HWND tab = CreateTabControl({parent.Get(), 27, "T", {10, 10, 300, 200}});
    ASSERT_NE(tab, nullptr);
    EXPECT_EQ(ControlById(27), tab);
    TmyTabControl tabs(tab);
    HWND p0 = tabs.AddPage("zero");
    HWND p1 = tabs.AddPage("one");
    ASSERT_TRUE(p0 && p1);
    EXPECT_EQ(ClassName(p0), kPageClass);
    // More windows than a page holds are refused, not written past the table.
    std::vector<TWindow> extra;
    for (int i = 0; i < TmyTabControl::kMaxWindows + 5; ++i) {
        extra.emplace_back(::CreateWindowExA(0, "STATIC", "x", WS_CHILD | WS_VISIBLE, 0, 0, 5, 5,
                                             parent.Get(), nullptr, ::GetModuleHandleA(nullptr), nullptr));
        tabs.AddWindow(1, extra.back().Get());
    }
    EXPECT_FALSE(::IsWindowVisible(extra[0].Get()));
    tabs.AddWindow(5, extra[0].Get());  // no such page: ignored
    ::ShowWindow(parent.Get(), SW_SHOW);
    tabs.ShowPage(1);
    EXPECT_TRUE(::IsWindowVisible(p1));
    EXPECT_TRUE(::IsWindowVisible(extra[TmyTabControl::kMaxWindows - 2].Get()));
    EXPECT_FALSE(::IsWindowVisible(p0));
    tabs.ShowPage(0);
    EXPECT_FALSE(::IsWindowVisible(extra[0].Get()));
    EXPECT_TRUE(::IsWindowVisible(p0));
    // The window past the table was never taken in, so ShowPage left it alone.
    EXPECT_TRUE(::IsWindowVisible(extra.back().Get()));
    for (int i = 0; i < TmyTabControl::kMaxPages; ++i) tabs.AddPage("more");
    EXPECT_EQ(tabs.LastPage(), TmyTabControl::kMaxPages - 1);
}

// The dialog's busy cursors travel with each control made with them: push
// buttons and check boxes show the dialog's, the tree the list's, a page
// the dialog's, and a control made without them the class cursor.
TEST_F(Controls, BusyCursorsReachTheControlsMadeWithThem) {
    ::ShowWindow(parent.Get(), SW_SHOW);
    TBusyCursors busy;
    HWND button = CreatePushButton({parent.Get(), 16, "A", {0, 0, 50, 20}, nullptr, &busy});
    HWND check = CreateCheckBox({parent.Get(), 6, "B", {60, 0, 50, 20}, nullptr, &busy});
    HWND tree = CreateTreeView({parent.Get(), 54, "T", {0, 30, 100, 100}, nullptr, &busy});
    HWND plain = CreatePushButton({parent.Get(), 17, "C", {120, 0, 50, 20}});
    HWND tab = CreateTabControl({parent.Get(), 27, "T", {200, 10, 150, 150}});
    TmyTabControl tabs(tab, &busy);
    HWND page = tabs.AddPage("zero");
    ASSERT_TRUE(button && check && tree && plain && page);

    const HCURSOR arrow = ::LoadCursorA(nullptr, IDC_ARROW);
    const HCURSOR wait = ::LoadCursorA(nullptr, IDC_WAIT);
    const HCURSOR cross = ::LoadCursorA(nullptr, IDC_CROSS);
    auto over = [&](HWND w) {
        ::SetCursor(arrow);
        ::SendMessageA(w, WM_SETCURSOR, reinterpret_cast<WPARAM>(w), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        return ::GetCursor();
    };
    busy.Dialog = wait;
    busy.List = cross;
    EXPECT_EQ(over(button), wait);
    EXPECT_EQ(over(check), wait);
    EXPECT_EQ(over(page), wait);
    EXPECT_EQ(over(tree), cross);
    EXPECT_EQ(over(plain), arrow);
    busy.Dialog = nullptr;
    EXPECT_EQ(over(button), arrow);
    EXPECT_EQ(over(tree), cross);
}

// Pages and the tab control report their paints to the tab object while it
// lives, and to nothing once it is gone.
TEST_F(Controls, TabObjectHearsPaintsUntilItIsGone) {
    ::ShowWindow(parent.Get(), SW_SHOW);
    HWND tab = CreateTabControl({parent.Get(), 27, "T", {10, 10, 300, 200}});
    ASSERT_NE(tab, nullptr);
    int painted = 0;
    auto repaint = [](HWND w) { ::RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW); };
    // The object's bytes outlive it here, so a window still bound to it
    // would run its callback and be counted rather than read freed memory.
    alignas(TmyTabControl) unsigned char room[sizeof(TmyTabControl)];
    auto* tabs = new (room) TmyTabControl(tab);
    tabs->OnPaint = [&painted] { ++painted; };
    HWND page = tabs->AddPage("zero");
    ASSERT_NE(page, nullptr);
    tabs->ShowPage(0);
    painted = 0;
    repaint(page);
    EXPECT_GE(painted, 1) << "page";
    painted = 0;
    repaint(tab);
    EXPECT_GE(painted, 1) << "tab control";
    tabs->~TmyTabControl();
    painted = 0;
    repaint(page);
    repaint(tab);
    EXPECT_EQ(painted, 0);
}

TEST_F(Controls, FocusRestoreGoesToTheLastFocusedButton) {
    ::ShowWindow(parent.Get(), SW_SHOW);
    HWND a = CreatePushButton({parent.Get(), 16, "A", {0, 0, 50, 20}});
    HWND b = CreateCheckBox({parent.Get(), 6, "B", {0, 30, 50, 20}});
    ::SetFocus(b);
    EXPECT_EQ(LastFocusedControl(), b);
    FocusControl(16);
    EXPECT_EQ(LastFocusedControl(), a);
    EXPECT_EQ(::GetFocus(), a);
    EXPECT_EQ(ControlById(200), nullptr);
    EXPECT_EQ(ControlById(-1), nullptr);
}

}  // namespace
