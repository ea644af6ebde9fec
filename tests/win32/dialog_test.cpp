#include <windows.h>

#include <cderr.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/registry_win32.h"
#include "app/settings.h"
#include "app/state.h"
#include "app/ui_win32.h"
#include "catalogue/piclist.h"
#include "catalogue/scan.h"
#include "config/controls_win32.h"
#include "config/dialog_win32.h"
#include "config/layout.h"
#include "config/photos_win32.h"
#include "config/preview_win32.h"
#include "imaging/plugins_win32.h"

namespace {

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
    for (const TSeen& s : Children(Dialog.Main))
        if (s.Id == id) return s;
    return TSeen();
}

TSeen ByText(const std::string& text) {
    for (const TSeen& s : Children(Dialog.Main))
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

void RemoveTree(const std::string& dir) {
    WIN32_FIND_DATAA fd;
    TFindHandle find(::FindFirstFileA((dir + "\\*").c_str(), &fd));
    if (find) {
        do {
            const std::string name = fd.cFileName;
            if (name == "." || name == "..") continue;
            const std::string path = dir + "\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                ::DeleteFileA(path.c_str());
        } while (::FindNextFileA(find.Get(), &fd));
    }
    find.Reset();
    ::RemoveDirectoryA(dir.c_str());
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
            return IDOK;
        });
        SetDialogEndHook(EndForTest);
        SetFolderBrowser([this](HWND, const std::string& title, const std::string& start) {
            browserTitles.push_back(title);
            browserStarts.push_back(start);
            std::string answer = folderAnswers.empty() ? std::string() : folderAnswers.front();
            if (!folderAnswers.empty()) folderAnswers.erase(folderAnswers.begin());
            return answer;
        });
        SetFilePicker(
            [this](HWND, const std::string& filter, std::vector<std::string>& paths, unsigned& error) {
                filters.push_back(filter);
                paths = fileAnswer;
                error = fileError;
                return fileError == 0 && !fileAnswer.empty();
            });
        dialogEnded = false;
        Settings = TSettings();
    }

    void TearDown() override {
        if (Dialog.Main && !dialogEnded) TearDownDialog();
        ::UnregisterClassA(kDialogClass, ::GetModuleHandleA(nullptr));
        SetPreviewRunner(nullptr);
        SetFolderBrowser(nullptr);
        SetFilePicker(nullptr);
        SetDialogEndHook(nullptr);
        SetMessageBoxResponder(nullptr);
        UnloadPlugins();  // the plug-ins live in the folder removed below
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
        ASSERT_TRUE(CreateConfigDialog());
        ASSERT_FALSE(ExtensionList.empty());  // the bitmap plug-in was loaded
        WaitForTreeFill();
        Pump();
    }
    void OpenPhotos() {
        Open();
        ChooseTab(kPagePhotos);
    }

    void Command(int id) { ::SendMessageA(Dialog.Main, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
    void Click(int id) {
        ::SendMessageA(ControlById(id), BM_CLICK, 0, 0);
        Pump();
    }

    void ChooseTab(int page) {
        ::SendMessageA(Dialog.Tab, TCM_SETCURSEL, page, 0);
        NMHDR hdr = {Dialog.Tab, static_cast<UINT_PTR>(kIdTab), static_cast<UINT>(TCN_SELCHANGE)};
        ::SendMessageA(Dialog.Main, WM_NOTIFY, kIdTab, reinterpret_cast<LPARAM>(&hdr));
        ::RedrawWindow(Dialog.Main, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        Pump();
    }

    HWND Tree() { return PhotosTree(); }
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
        for (const TSeen& s : Children(Dialog.Main))
            if (s.Class == "Static" && s.Visible && s.Text.rfind(prefix, 0) == 0) return s.Text;
        return "(none)";
    }
    std::string BoxTitle() {
        const TSeen s = ByText("Folder properties");
        return s.Wnd ? s.Text : ByText("Image properties").Text;
    }
    int AddFolder(const std::string& dir) {
        folderAnswers.push_back(dir);
        Command(kIdAddFolder);
        Pump();
        return PicList.Count() - 1;
    }

    std::string root;
    std::string catalogueFile;
    std::optional<std::string> savedAppData;
    std::optional<std::string> savedPictures;
    std::vector<std::string> boxes;
    std::vector<std::string> folderAnswers;
    std::vector<std::string> browserTitles;
    std::vector<std::string> browserStarts;
    std::vector<std::string> filters;
    std::vector<std::string> fileAnswer;
    unsigned fileError = 0;
};

TEST_F(ConfigDialog, WindowAndButtonRowAt96Dpi) {
    Open();
    ASSERT_NE(Dialog.Main, nullptr);
    EXPECT_EQ(ClassName(Dialog.Main), "WSSW_Quorvane");
    EXPECT_EQ(Text(Dialog.Main), "Quorvane");
    const LONG style = ::GetWindowLongA(Dialog.Main, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX),
              WS_CAPTION | WS_SYSMENU);
    EXPECT_TRUE(::IsWindowVisible(Dialog.Main));
    RECT wr;
    ::GetWindowRect(Dialog.Main, &wr);
    EXPECT_EQ(wr.right - wr.left, Scaled(609));
    // Centred on the desktop.
    RECT desk;
    ::GetWindowRect(::GetDesktopWindow(), &desk);
    EXPECT_EQ(wr.left, desk.left + (desk.right - desk.left - (wr.right - wr.left)) / 2);

    const TSeen tab = ById(kIdTab);
    EXPECT_EQ(tab.Class, "SysTabControl32");
    EXPECT_EQ(tab.Text, "Main_TAB");
    ExpectPlaced(tab.Rect, 10, 10, 583, 395);
    EXPECT_EQ(::SendMessageA(tab.Wnd, TCM_GETITEMCOUNT, 0, 0), 3);

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

    // Three pages, each a "Brevomar TPage" over the tab's display area;
    // page 0 is shown first.
    std::vector<TSeen> pages;
    for (const TSeen& s : Children(Dialog.Main))
        if (s.Class == kPageClass) pages.push_back(s);
    ASSERT_EQ(pages.size(), 3u);
    RECT display = {Scaled(10), Scaled(10), Scaled(10) + Scaled(583), Scaled(10) + Scaled(395)};
    ::SendMessageA(tab.Wnd, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
    for (int i = 0; i < 3; ++i) {
        HWND page = Dialog.Tabs->PageWindow(i);
        const TSeen s = See(page);
        EXPECT_EQ(s.Text, "Page");
        EXPECT_EQ(s.Rect.left, display.left);
        EXPECT_EQ(s.Rect.top, display.top);
        EXPECT_EQ(s.Rect.right - s.Rect.left, display.right - display.left - 1);
        EXPECT_EQ(s.Visible, i == kPageMore);
    }
    EXPECT_GT(Dialog.PageTopOffset, 10);
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
    EXPECT_EQ(Dialog.Tabs->CurrentPage(), kPagePhotos);
    EXPECT_EQ(::SendMessageA(Dialog.Tab, TCM_GETCURSEL, 0, 0), kPagePhotos);
    EXPECT_TRUE(::IsWindowVisible(Dialog.Tabs->PageWindow(kPagePhotos)));
    EXPECT_FALSE(::IsWindowVisible(Dialog.Tabs->PageWindow(kPageMore)));

    // Pressed again on another page, it keeps the page; the buttons stay.
    ChooseTab(kPageAbout);
    Command(kIdOptions);
    Pump();
    EXPECT_EQ(Dialog.Tabs->CurrentPage(), kPageAbout);
    ChooseTab(kPageMore);
    EXPECT_TRUE(ById(kIdOk).Visible);
    EXPECT_FALSE(ById(kIdOptions).Visible);
}

TEST_F(ConfigDialog, ChoosingAnotherTabShowsItsPageAndTheButtons) {
    Open();
    ChooseTab(kPageAbout);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(::IsWindowVisible(Dialog.Tabs->PageWindow(i)) != 0, i == kPageAbout);
    // The page's first paint revealed the buttons.
    EXPECT_TRUE(ById(kIdOk).Visible);
    EXPECT_FALSE(ById(kIdOptions).Visible);
    EXPECT_EQ(::GetFocus(), Dialog.Tab);
}

TEST_F(ConfigDialog, EscapeAndEnterDoNotCloseIt) {
    Open();
    for (WPARAM key : {WPARAM(VK_ESCAPE), WPARAM(VK_RETURN)}) {
        MSG msg = {};
        msg.hwnd = Dialog.Tab;
        msg.message = WM_KEYDOWN;
        msg.wParam = key;
        ::IsDialogMessageA(Dialog.Main, &msg);
        Pump();
    }
    Command(1);
    Command(2);
    Pump();
    EXPECT_FALSE(dialogEnded);
    EXPECT_TRUE(::IsWindow(Dialog.Main));
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
    ::SendMessageA(Dialog.Main, WM_CLOSE, 0, 0);
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
    EXPECT_EQ(PicList.Count(), 2);
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
    const TBitmap& preview = *Dialog.PreviewBitmap;
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
    EXPECT_EQ(PicList.GetItem(1).Pictures.Count(), 4);
    Select(kids[0]);
    Select(kids[2]);
    EXPECT_EQ(ItemText(kids[2]), "d.bmp");
    EXPECT_EQ(Label("Size : "), "Size : 4 Kb");  // the former fourth picture
    EXPECT_EQ(Label("Height : "), "Height : 64");
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
    ASSERT_EQ(PicList.Count(), 3);
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
    fileAnswer = {dir + "\\b.bmp"};
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
    EXPECT_EQ(PicList.GetItem(0).Pictures.Count(), 2);
    EXPECT_EQ(Item(nullptr, TVGN_CARET), roots[1]);
    EXPECT_EQ(Label("Size : "), "Size : 2 Kb");
}

TEST_F(ConfigDialog, OpenFileErrorShowsItsCodeAndAddsNothing) {
    Open();
    fileError = FNERR_BUFFERTOOSMALL;
    Command(kIdAddPhoto);
    Pump();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Fails = " + std::to_string(FNERR_BUFFERTOOSMALL));
    EXPECT_TRUE(Roots().empty());
    EXPECT_EQ(PicList.GetItem(0).Pictures.Count(), 0);
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
    EXPECT_EQ(PicList.GetItem(1).Pictures.Count(), 70000);
    Command(kIdOptions);
    Click(kIdOk);
    ASSERT_TRUE(dialogEnded);
    TPicList saved;
    saved.LoadFromFile(catalogueFile);
    ASSERT_EQ(saved.Count(), 2);
    EXPECT_EQ(saved.GetItem(1).Pictures.Count(), 70000);
}

TEST_F(ConfigDialog, FolderFlagsChangeTheSelectedEntry) {
    OpenPhotos();
    const std::string dir = MakeFolder(root, "top", 2);
    MakeFolder(dir, "sub", 3);
    AddFolder(dir);
    EXPECT_EQ(PicList.GetItem(1).Pictures.Count(), 5);  // subfolders are scanned
    ::SendMessageA(ControlById(kIdIncludeSubdirs), BM_SETCHECK, BST_UNCHECKED, 0);
    Command(kIdIncludeSubdirs);
    Pump();
    EXPECT_FALSE(PicList.GetItem(1).IncludeSubdirs);
    EXPECT_EQ(PicList.GetItem(1).Pictures.Count(), 2);
    EXPECT_EQ(ChildrenOf(Roots()[0]).size(), 2u);
    ::SendMessageA(ControlById(kIdAutoRefresh), BM_SETCHECK, BST_CHECKED, 0);
    Command(kIdAutoRefresh);
    EXPECT_TRUE(PicList.GetItem(1).AutoRefresh);
    EXPECT_EQ(Label("2 pictures"), "2 pictures");
}

std::vector<std::string> picturesDuringRun;
bool launchedDuringRun = false;
bool busyDuringRun = false;
bool foundEmptyDuringRun = false;
void RecordRun() {
    picturesDuringRun = PicList.GetItem(1).Pictures.ToVector();
    launchedDuringRun = LaunchedFromDialog;
    busyDuringRun = DialogBusyCursor.load() == ::LoadCursorA(nullptr, IDC_APPSTARTING);
    foundEmptyDuringRun = FoundList.empty();
    // The dialog's own end requests wait until the run is over.
    ::SendMessageA(Dialog.Main, WM_COMMAND, kIdCancel, 0);
    ::SendMessageA(Dialog.Main, WM_CLOSE, 0, 0);
}

TEST_F(ConfigDialog, PreviewRunsWithUnsavedChangesAndCancelStillDiscards) {
    Open();
    AddFolder(MakeFolder(root, "new", 2));
    const std::vector<std::string> dialogFound = FoundList;
    SetPreviewRunner(RecordRun);
    Command(kIdOptions);
    Click(kIdPreview);
    EXPECT_FALSE(dialogEnded);
    EXPECT_EQ(picturesDuringRun.size(), 2u);
    EXPECT_TRUE(launchedDuringRun);
    EXPECT_TRUE(busyDuringRun);
    EXPECT_TRUE(foundEmptyDuringRun);
    EXPECT_EQ(FoundList, dialogFound);
    EXPECT_EQ(DialogBusyCursor.load(), nullptr);
    EXPECT_EQ(::GetCursor(), ::LoadCursorA(nullptr, IDC_ARROW));
    Click(kIdCancel);
    EXPECT_TRUE(dialogEnded);
    EXPECT_EQ(::GetFileAttributesA(catalogueFile.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(ConfigDialog, ToolTipsCoverTheButtons) {
    Open();
    HWND tip = Dialog.ToolTip.Get();
    ASSERT_NE(tip, nullptr);
    EXPECT_EQ(::SendMessageA(tip, TTM_GETTOOLCOUNT, 0, 0), 10);
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
    EXPECT_FALSE(CreateConfigDialog());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Register class failed");
    EXPECT_EQ(Dialog.Main, nullptr);
    EXPECT_FALSE(dialogEnded);
}

TEST_F(ConfigDialog, CatalogueDownToEmptyRootClearsThePane) {
    OpenPhotos();
    AddFolder(MakeFolder(root, "only", 1));
    Select(Roots()[0]);
    // Something on show, as a picture would be.
    TBitmap& preview = *Dialog.PreviewBitmap;
    std::memset(preview.Bits, 0xFF, static_cast<std::size_t>(preview.Width) * preview.Height * 4);
    DrawPane(Dialog.PaneDC);
    EXPECT_EQ(::GetPixel(Dialog.PaneDC, 10, 10), RGB(255, 255, 255));
    Command(kIdRemove);
    Pump();
    EXPECT_EQ(PicList.Count(), 1);
    EXPECT_TRUE(Roots().empty());
    EXPECT_EQ(preview.Bits[0], 0);
    EXPECT_EQ(::GetPixel(Dialog.PaneDC, 10, 10), RGB(0, 0, 0));
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
        SetLinkOpener(nullptr);
        ClearLinkTargets();
    }
    TWindow parent;
};

TEST_F(Controls, ThirteenthTargetFallsBackToItsText) {
    std::vector<HWND> links;
    for (int i = 0; i < kMaxLinkTargets + 1; ++i) {
        const std::string text = "link " + std::to_string(i);
        const std::string target = "https://www.quorvane.example/t" + std::to_string(i);
        links.push_back(CreateLinkLabel(parent.Get(), 0, text.c_str(), target.c_str(), 0, 0, 50, 20));
        ASSERT_NE(links.back(), nullptr);
    }
    EXPECT_EQ(LinkTarget(links[0]), "https://www.quorvane.example/t0");
    EXPECT_EQ(LinkTarget(links[11]), "https://www.quorvane.example/t11");
    EXPECT_EQ(LinkTarget(links[12]), "link 12");

    std::vector<std::string> opened;
    SetLinkOpener([&](HWND, const std::string& t) { opened.push_back(t); });
    HWND mail = CreateLinkLabel(parent.Get(), 0, "me@quorvane.example", 0, 0, 50, 20);
    ::SendMessageA(mail, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    ::SendMessageA(links[3], WM_LBUTTONDOWN, MK_LBUTTON, 0);
    EXPECT_EQ(opened,
              (std::vector<std::string>{"mailto:me@quorvane.example", "https://www.quorvane.example/t3"}));
}

TEST_F(Controls, TabPagesHoldAtMostTheirTableAndSwitchWindows) {
    HWND tab = CreateTabControl(parent.Get(), 27, "T", 10, 10, 300, 200);
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

TEST_F(Controls, FocusRestoreGoesToTheLastFocusedButton) {
    ::ShowWindow(parent.Get(), SW_SHOW);
    HWND a = CreatePushButton(parent.Get(), 16, "A", 0, 0, 50, 20);
    HWND b = CreateCheckBox(parent.Get(), 6, "B", 0, 30, 50, 20);
    ::SetFocus(b);
    EXPECT_EQ(LastFocusedControl(), b);
    FocusControl(16);
    EXPECT_EQ(LastFocusedControl(), a);
    EXPECT_EQ(::GetFocus(), a);
    EXPECT_EQ(ControlById(200), nullptr);
    EXPECT_EQ(ControlById(-1), nullptr);
}

}  // namespace
