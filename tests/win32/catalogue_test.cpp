#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>

#include "session/settings.h"
#include "bench/wic_write.h"
#include "catalogue/catalogue_win32.h"
#include "catalogue/piclist.h"
#include "catalogue/hidden_list_win32.h"
#include "base/system_win32.h"
#include "catalogue/scan_win32.h"
#include "catalogue/ansi_names_win32.h"
#include "imaging/extension.h"
#include "imaging/plugins_win32.h"
#include "imaging/prepare_win32.h"
#include "tests/win32/file_faults.h"
#include "tests/win32/plugin_fixture.h"
#include "tests/win32/test_files.h"
#include "tests/win32/test_session.h"

namespace {
// The process's session, which the tests below set up and hand on.
TSession& Session = TestSession();
}  // namespace

namespace {

using Strings = std::vector<std::string>;

bool Exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Waits until `done` holds, for at most ten seconds.
template <typename F>
bool WaitFor(F done) {
    for (int i = 0; i < 1000 && !done(); ++i) ::Sleep(10);
    return done();
}

// A fresh folder under the temporary folder, removed with everything in it
// (links are removed, never followed).
class TTempTree {
public:
    TTempTree() {
        static std::atomic<int> counter{0};
        char temp[MAX_PATH];
        ::GetTempPathA(MAX_PATH, temp);
        root_ = std::string(temp) + "qvcat" + std::to_string(::GetCurrentProcessId()) + "_" +
                std::to_string(counter++);
        ::CreateDirectoryA(root_.c_str(), nullptr);
    }
    ~TTempTree() {
        // rm does not follow links, which the Win32 calls under Wine may.
        const std::string unixRoot = UnixPathOf(root_);
        if (!unixRoot.empty() && StartUnixCommand("/bin/rm -rf \"" + unixRoot + "\""))
            WaitFor([&] { return !Exists(root_); });
        if (Exists(root_)) Remove(root_);
    }

    const std::string& Root() const { return root_; }
    std::string Path(const std::string& rel) const { return rel.empty() ? root_ : root_ + "\\" + rel; }

    // Makes the file and every folder on its way.
    std::string File(const std::string& rel, const std::string& bytes = "x", DWORD attributes = 0) const {
        MakeParents(rel);
        const std::string path = Path(rel);
        WriteAll(path, bytes);
        if (attributes) ::SetFileAttributesA(path.c_str(), attributes);
        return path;
    }
    std::string Folder(const std::string& rel) const {
        MakeParents(rel + "\\x");
        return Path(rel);
    }

private:
    void MakeParents(const std::string& rel) const {
        for (std::size_t p = rel.find('\\'); p != std::string::npos; p = rel.find('\\', p + 1))
            ::CreateDirectoryA(Path(rel.substr(0, p)).c_str(), nullptr);
    }

    static void Remove(const std::string& dir) {
        WIN32_FIND_DATAA found;
        HANDLE find = ::FindFirstFileA((dir + "\\*").c_str(), &found);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                const std::string name = found.cFileName;
                if (name == "." || name == "..") continue;
                const std::string path = dir + "\\" + name;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                    if (!::RemoveDirectoryA(path.c_str())) ::DeleteFileA(path.c_str());
                } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    Remove(path);
                } else {
                    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                    ::DeleteFileA(path.c_str());
                }
            } while (::FindNextFileA(find, &found));
            ::FindClose(find);
        }
        ::RemoveDirectoryA(dir.c_str());
    }

    std::string root_;
};

// The hooks in force, with the native folder listing taken away or given
// back.
void ListWithFindOnly(bool on) {
    TCatalogueHooks hooks = CatalogueHooks();
    hooks.NoNativeListing = on;
    SetCatalogueHooks(hooks);
}

// The hooks in force, with short names taken away or given back.
void HideShortNames(bool on) {
    TCatalogueHooks hooks = CatalogueHooks();
    hooks.NoShortNames = on;
    SetCatalogueHooks(hooks);
}

// Gives every test the process-wide state it expects and puts it back.
class CatalogueTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedSettings_ = Session.Settings;
        savedLegacy_ = Session.LegacyFolders;
        extensions_ = {".jpg", ".png"};
        Session.LegacyFolders.clear();
        Session.Settings.ScanSubfolders = true;
        source_ = TCatalogueSource();
        source_.Scan.Extensions = extensions_;
        Session.PicList.Clear();
    }
    void TearDown() override {
        Session.Settings = savedSettings_;
        Session.LegacyFolders = savedLegacy_;
        SetCatalogueHooks(TCatalogueHooks{});
        Session.PicList.Clear();
    }

    // A scan by the extensions the start-up code would use.
    TScanResult Scan(const std::string& path, bool recurse = true) const {
        return ScanFolder(path, recurse, extensions_);
    }

    TTempTree tree_;
    TCatalogueSource source_;  // what the start-up would hand LoadCatalogue
    Strings extensions_;       // what the scans take for pictures

private:
    TSettings savedSettings_;
    Strings savedLegacy_;
};

// ---- which files are pictures ----

TEST_F(CatalogueTest, ExtensionRuleOnRealFiles) {
    for (const char* name : {"PHOTO.JPG", "a.Jpg", ".jpg", "a.jpg.txt", "jpg", "b.jpeg", "c.gif", "d.PnG"})
        tree_.File(std::string("P\\") + name);
    tree_.File("P\\hidden.jpg", "x", FILE_ATTRIBUTE_HIDDEN);
    tree_.File("P\\system.jpg", "x", FILE_ATTRIBUTE_SYSTEM);
    tree_.Folder("P\\folder.jpg");  // a folder is never a picture
    const TScanResult scan = Scan(tree_.Path("P"));
    const std::string p = tree_.Path("P") + "\\";
    EXPECT_EQ(scan.Found, (Strings{p + ".jpg", p + "a.Jpg", p + "d.PnG", p + "hidden.jpg", p + "PHOTO.JPG",
                                   p + "system.jpg"}));
    EXPECT_EQ(scan.Root, tree_.Path("P"));
}

TEST_F(CatalogueTest, TrailingBackslashGivesTheSameResult) {
    tree_.File("P\\a.jpg");
    tree_.File("P\\s\\b.jpg");
    const TScanResult plain = Scan(tree_.Path("P"));
    const TScanResult slashed = Scan(tree_.Path("P") + "\\");
    EXPECT_EQ(slashed.Found, plain.Found);
    EXPECT_EQ(plain.Found.size(), 2u);
    EXPECT_EQ(slashed.Root, tree_.Path("P"));
}

TEST_F(CatalogueTest, SubfoldersOnlyWhenTheCallerAsks) {
    tree_.File("P\\top.jpg");
    tree_.File("P\\one\\two\\three\\deep.jpg");
    tree_.File("P\\one\\mid.png");
    const Strings flat{tree_.Path("P\\top.jpg")};
    const Strings deep{tree_.Path("P\\one\\mid.png"), tree_.Path("P\\one\\two\\three\\deep.jpg"),
                       tree_.Path("P\\top.jpg")};
    // The setting plays no part in a walk: only the argument does.
    for (bool setting : {false, true}) {
        Session.Settings.ScanSubfolders = setting;
        EXPECT_EQ(Scan(tree_.Path("P"), false).Found, flat) << setting;
        EXPECT_EQ(Scan(tree_.Path("P"), true).Found, deep) << setting;
        EXPECT_EQ(Session.Settings.ScanSubfolders, setting);
    }
    // So do the extensions: the argument, not Session.Plugins.Extensions().
    EXPECT_EQ(ScanFolder(tree_.Path("P"), true, {".png"}).Found, Strings{tree_.Path("P\\one\\mid.png")});
}

TEST_F(CatalogueTest, ResultIsSortedOverFullPaths) {
    tree_.File("P\\Sub\\a.jpg");
    tree_.File("P\\b.jpg");
    tree_.File("P\\B2.jpg");
    tree_.File("P\\a.jpg");
    tree_.File("P\\\xC4.jpg");  // A umlaut sorts as its lower-case form, after z
    tree_.File("P\\z.jpg");
    EXPECT_EQ(Scan(tree_.Path("P")).Found,
              (Strings{tree_.Path("P\\a.jpg"), tree_.Path("P\\b.jpg"), tree_.Path("P\\B2.jpg"),
                       tree_.Path("P\\Sub\\a.jpg"), tree_.Path("P\\z.jpg"), tree_.Path("P\\\xC4.jpg")}));
}

TEST_F(CatalogueTest, BothListingRoutesAgree) {
    for (const char* rel : {"P\\z.jpg", "P\\\xE9t\xE9.JPG", "P\\x y\\a.png", "P\\.jpg", "P\\n.txt", "P\\e\\f\\g.jpg"})
        tree_.File(rel);
    Strings listed[2];
    for (int findOnly = 0; findOnly < 2; ++findOnly) {
        ListWithFindOnly(findOnly != 0);
        ListAllFiles(tree_.Path("P"), listed[findOnly], true);  // in the order the system returns them
    }
    ListWithFindOnly(false);
    EXPECT_EQ(listed[0], listed[1]);
    EXPECT_EQ(listed[0].size(), 6u);
    EXPECT_NE(std::find(listed[0].begin(), listed[0].end(), tree_.Path("P\\\xE9t\xE9.JPG")), listed[0].end());
}

TEST_F(CatalogueTest, MissingFolderGivesAnEmptyResultWithoutARoot) {
    tree_.File("P\\a.jpg");
    ASSERT_EQ(Scan(tree_.Path("P")).Found.size(), 1u);
    for (const std::string& path : {tree_.Path("Missing"), std::string(), tree_.Path("P\\a.jpg")}) {
        const TScanResult scan = Scan(path);
        EXPECT_TRUE(scan.Found.empty()) << path;
        EXPECT_EQ(scan.Root, "") << path;
        EXPECT_EQ(scan.Skipped.Pictures + scan.Skipped.Folders, 0) << path;
    }
}

TEST_F(CatalogueTest, NoExtensionsMeansNoPictures) {
    tree_.File("P\\a.jpg");
    const TScanResult scan = ScanFolder(tree_.Path("P"), true, {});
    EXPECT_TRUE(scan.Found.empty());
    EXPECT_EQ(scan.Root, tree_.Path("P"));  // the folder itself was found
}

TEST_F(CatalogueTest, ListAllFilesIgnoresExtensionsAndLeavesTheSettingAlone) {
    tree_.File("D\\a.dll");
    tree_.File("D\\b.txt");
    tree_.File("D\\sub\\c.dll");
    Session.Settings.ScanSubfolders = true;
    Strings flat;
    ListAllFiles(tree_.Path("D"), flat, false);
    std::sort(flat.begin(), flat.end());
    EXPECT_EQ(flat, (Strings{tree_.Path("D\\a.dll"), tree_.Path("D\\b.txt")}));
    EXPECT_TRUE(Session.Settings.ScanSubfolders);
    Session.Settings.ScanSubfolders = false;
    Strings deep;
    ListAllFiles(tree_.Path("D"), deep, true);
    EXPECT_EQ(deep.size(), 3u);
    EXPECT_FALSE(Session.Settings.ScanSubfolders);
}

TEST_F(CatalogueTest, LinkBackUpTheTreeIsWalkedOnce) {
    tree_.File("P\\a.jpg");
    tree_.File("P\\sub\\b.jpg");
    tree_.File("Outside\\c.jpg");
    const std::string unixRoot = UnixPathOf(tree_.Root());
    if (unixRoot.empty() || !StartUnixCommand("/bin/ln -s \"" + unixRoot + "/P\" \"" + unixRoot + "/P/sub/loop\"") ||
        !StartUnixCommand("/bin/ln -s \"" + unixRoot + "/Outside\" \"" + unixRoot + "/P/out\"") ||
        !WaitFor([&] { return Exists(tree_.Path("P\\sub\\loop")) && Exists(tree_.Path("P\\out")); }))
        GTEST_SKIP() << "symbolic links cannot be made here";
    // The loop is not entered; the link to a folder outside the walk is.
    EXPECT_EQ(Scan(tree_.Path("P")).Found,
              (Strings{tree_.Path("P\\a.jpg"), tree_.Path("P\\out\\c.jpg"), tree_.Path("P\\sub\\b.jpg")}));
    // Scanning from below the link still stops where the walk started.
    EXPECT_EQ(Scan(tree_.Path("P\\sub")).Found,
              (Strings{tree_.Path("P\\sub\\b.jpg"), tree_.Path("P\\sub\\loop\\a.jpg"), tree_.Path("P\\sub\\loop\\out\\c.jpg")}));
}

TEST_F(CatalogueTest, PathsBeyondTheSystemLimitAreSkipped) {
    // A folder whose own path fits, holding a name that makes the full path
    // too long for the ANSI functions.
    const std::string folder = tree_.Folder("P\\" + std::string(200 - tree_.Root().size() % 50, 'f'));
    const std::string shortName = folder + "\\a.jpg";
    WriteAll(shortName, "x");
    const std::string longName = std::string(MAX_PATH - folder.size(), 'n') + ".jpg";
    const std::wstring wide = L"\\\\?\\" + std::wstring(folder.begin(), folder.end()) + L"\\" +
                              std::wstring(longName.begin(), longName.end());
    HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) GTEST_SKIP() << "long names cannot be made here";
    ::CloseHandle(file);
    EXPECT_EQ(Scan(tree_.Path("P")).Found, Strings{shortName});
    ::DeleteFileW(wide.c_str());
}

// ---- names outside the code page ----
//
// These tests assume the ANSI code page of the test prefix, 1252 (Western
// European): "Ströme – café" is spelled there byte for byte, Japanese,
// Cyrillic, Greek and emoji names are not. They are skipped elsewhere.

bool WesternCodePage() {
    return ::GetACP() == 1252;
}

std::wstring Wide(const std::string& ansi) {
    return WidePathOf(ansi);
}

// Makes a file under a name the ANSI functions cannot reach.
void MakeFileW(const std::wstring& path, const std::string& bytes) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << ::GetLastError();
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
}

// The folder of the example: three names the code page cannot
// spell (one a folder) and one it can. Each file holds its own name.
const wchar_t* const kForeignNames[] = {L"夕焼け_水辺.jpg", L"🌅 sunrise.jpg", L"Фото\\Море.jpg"};
const char kSpelled[] = "Str\xF6me \x96 caf\xE9.jpg";  // "Ströme – café.jpg" in code page 1252

void MakeForeignFolder(const std::string& dir) {
    ::CreateDirectoryW((Wide(dir) + L"\\Фото").c_str(), nullptr);
    for (const wchar_t* name : kForeignNames) MakeFileW(Wide(dir) + L"\\" + name, "foreign");
    WriteAll(dir + "\\" + kSpelled, "spelled");
}

TEST_F(CatalogueTest, NamesOutsideTheCodePageAreStoredAsShortNamesThatOpenTheFile) {
    if (!WesternCodePage()) GTEST_SKIP() << "names chosen for code page 1252";
    const std::string dir = tree_.Folder("P");
    MakeForeignFolder(dir);
    Strings found[2];
    for (int findOnly = 0; findOnly < 2; ++findOnly) {
        ListWithFindOnly(findOnly != 0);
        const TScanResult scan = Scan(dir);
        found[findOnly] = scan.Found;
        EXPECT_EQ(scan.Skipped.Pictures + scan.Skipped.Folders, 0);
    }
    EXPECT_EQ(found[0], found[1]) << "both listing routes";
    const Strings& paths = found[1];
    ASSERT_EQ(paths.size(), 4u);
    // The name the code page spells is stored as it is, byte for byte.
    EXPECT_NE(std::find(paths.begin(), paths.end(), dir + "\\" + kSpelled), paths.end());
    std::multiset<std::string> opened;
    for (const std::string& path : paths) {
        EXPECT_EQ(path.find('?'), std::string::npos) << path;
        EXPECT_EQ(path.rfind(dir + "\\", 0), 0u) << path;
        if (path != dir + "\\" + kSpelled) {
            EXPECT_NE(path.find('~'), std::string::npos) << path;
        }
        opened.insert(ReadAll(path));  // through the ANSI file functions
    }
    EXPECT_EQ(opened, (std::multiset<std::string>{"foreign", "foreign", "foreign", "spelled"}));
    // The short path of the sub-folder's picture leads back to its long name.
    bool sawFolder = false;
    for (const std::string& path : paths)
        sawFolder = sawFolder || LongPathOf(path) == Wide(dir) + L"\\Фото\\Море.jpg";
    EXPECT_TRUE(sawFolder);

    // The catalogue keeps them through a save and a load.
    TPicList list;
    list.AddFolder("Root");
    list.ItemAt(list.AddFolder(dir)).Pictures.Append(paths);
    list.SaveToFile(tree_.Path("piclist.dat"));
    TPicList back;
    back.LoadFromFile(tree_.Path("piclist.dat"));
    ASSERT_EQ(back.Count(), 2);
    EXPECT_EQ(back.GetItem(1).Pictures.ToVector(), paths);
}

TEST_F(CatalogueTest, ABestFitStandInNeverNamesAnotherFile) {
    if (!WesternCodePage()) GTEST_SKIP() << "names chosen for code page 1252";
    // Best fit turns the Greek capital omega into "O": the listing would
    // name the plain file twice and the Greek one never.
    const std::string dir = tree_.Folder("P");
    WriteAll(dir + "\\Omega.jpg", "latin");
    MakeFileW(Wide(dir) + L"\\Ωmega.jpg", "greek");
    for (int findOnly = 0; findOnly < 2; ++findOnly) {
        ListWithFindOnly(findOnly != 0);
        const Strings found = Scan(dir).Found;
        ASSERT_EQ(found.size(), 2u);
        EXPECT_NE(found[0], found[1]);
        EXPECT_EQ((std::multiset<std::string>{ReadAll(found[0]), ReadAll(found[1])}),
                  (std::multiset<std::string>{"greek", "latin"}));
    }
}

TEST_F(CatalogueTest, TheLongNameDecidesWhetherAFileIsAPicture) {
    if (!WesternCodePage()) GTEST_SKIP() << "names chosen for code page 1252";
    extensions_ = {".jpeg"};
    const std::string dir = tree_.Folder("P");
    MakeFileW(Wide(dir) + L"\\夕焼け.jpeg", "x");  // its short name ends in .JPE
    MakeFileW(Wide(dir) + L"\\夕焼け.txt", "x");
    MakeFileW(Wide(dir) + L"\\夕焼け.jpe\u0301g", "x");  // an accent the code page lacks, in the extension
    const Strings found = Scan(dir).Found;
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(LongPathOf(found[0]), Wide(dir) + L"\\夕焼け.jpeg");
    // What a plug-in is chosen by: the long name's extension.
    EXPECT_EQ(NameExtension(found[0]), ".JPE");
    EXPECT_EQ(PluginKeyOf(found[0]), ".jpeg");
    EXPECT_EQ(PluginKeyOf(dir + "\\PLAIN~1.JPE"), ".jpe");  // no such file
    WriteAll(dir + "\\x~y.Png", "x");                       // a long name with a "~" of its own
    EXPECT_EQ(PluginKeyOf(dir + "\\x~y.Png"), ".png");
}

TEST_F(CatalogueTest, NamesWithoutShortNamesAreSkippedAndCounted) {
    if (!WesternCodePage()) GTEST_SKIP() << "names chosen for code page 1252";
    // Wine gives every such name a short name, so the seam takes them away
    // as a volume with 8.3 names switched off would.
    const std::string dir = tree_.Folder("P");
    MakeForeignFolder(dir);
    MakeFileW(Wide(dir) + L"\\Фото\\notes.txt", "x");
    MakeFileW(Wide(dir) + L"\\夕焼け.txt", "x");  // no picture: nothing is lost
    tree_.File("P\\sub\\kept.jpg");
    HideShortNames(true);
    for (int findOnly = 0; findOnly < 2; ++findOnly) {
        ListWithFindOnly(findOnly != 0);
        const TScanResult scan = Scan(dir);
        EXPECT_EQ(scan.Found, (Strings{dir + "\\" + kSpelled, tree_.Path("P\\sub\\kept.jpg")}));
        EXPECT_EQ(scan.Skipped.Pictures, 2);
        EXPECT_EQ(scan.Skipped.Folders, 1);
    }
    // Without subfolders the foreign folder is not looked at, so not lost.
    const TScanResult flat = Scan(dir, false);
    EXPECT_EQ(flat.Skipped.Folders, 0);
    EXPECT_EQ(flat.Skipped.Pictures, 2);
    // A scan of a folder without such names loses nothing.
    const TScanResult sub = Scan(tree_.Path("P\\sub"));
    EXPECT_EQ(sub.Skipped.Pictures + sub.Skipped.Folders, 0);
    // Nothing else of the catalogue is touched by a rescan at start.
    TPicList file;
    file.ItemAt(file.AddFolder("Root")).Pictures.Add("C:\\single.jpg");
    file.ItemAt(file.AddFolder(dir)).AutoRefresh = true;
    file.ItemAt(file.AddFolder(tree_.Path("Other"))).Pictures.Add("C:\\Other\\a.jpg");
    source_.File = tree_.Path("piclist.dat");
    file.SaveToFile(source_.File);
    source_.Scan.Subfolders = true;
    LoadCatalogue(Session.PicList, source_);
    ASSERT_EQ(Session.PicList.Count(), 3);
    EXPECT_EQ(Session.PicList.GetItem(0).Pictures.ToVector(), Strings{"C:\\single.jpg"});
    EXPECT_EQ(Session.PicList.GetItem(1).Pictures.Count(), 2);
    EXPECT_EQ(Session.PicList.GetItem(2).Pictures.ToVector(), Strings{"C:\\Other\\a.jpg"});
}

TEST_F(CatalogueTest, AnsiPathsOfChosenFilesAndFolders) {
    if (!WesternCodePage()) GTEST_SKIP() << "names chosen for code page 1252";
    const std::string dir = tree_.Folder("P");
    MakeForeignFolder(dir);
    std::string out;
    // Spelled: as it is, byte for byte, whether the file exists or not.
    ASSERT_TRUE(AnsiPathOf(Wide(dir) + L"\\Ströme – café.jpg", out));
    EXPECT_EQ(out, dir + "\\" + kSpelled);
    ASSERT_TRUE(AnsiPathOf(L"C:\\nowhere\\café.jpg", out));
    EXPECT_EQ(out, "C:\\nowhere\\caf\xE9.jpg");
    // Only the components the code page cannot spell change.
    ASSERT_TRUE(AnsiPathOf(Wide(dir) + L"\\Фото\\Море.jpg", out));
    EXPECT_EQ(out.rfind(dir + "\\", 0), 0u);
    EXPECT_EQ(std::count(out.begin(), out.end(), '~'), 2);
    EXPECT_EQ(ReadAll(out), "foreign");
    EXPECT_EQ(LongPathOf(out), Wide(dir) + L"\\Фото\\Море.jpg");
    ASSERT_TRUE(AnsiPathOf(Wide(dir) + L"\\Фото", out));
    EXPECT_NE(::GetFileAttributesA(out.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    // A name that does not exist, or has no short name, has no such path.
    EXPECT_FALSE(AnsiPathOf(Wide(dir) + L"\\Фото\\Нет.jpg", out));
    EXPECT_TRUE(out.empty());
    HideShortNames(true);
    EXPECT_FALSE(AnsiPathOf(Wide(dir) + L"\\夕焼け_水辺.jpg", out));
    EXPECT_TRUE(AnsiPathOf(Wide(dir) + L"\\Ströme – café.jpg", out));
}

TEST_F(CatalogueTest, PlugInsDecodeThePicturesByTheirShortPaths) {
    if (!WesternCodePage()) GTEST_SKIP() << "names chosen for code page 1252";
    TInstallFolder install;
    install.AddFastmm();
    install.Add(ProductDll("imgwic.dll"));
    install.Load();
    extensions_ = Session.Plugins.Extensions();  // the plug-in's, .jpeg among them
    ASSERT_FALSE(extensions_.empty());
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const std::string dir = tree_.Folder("P");
    ::CreateDirectoryW((Wide(dir) + L"\\Фото").c_str(), nullptr);
    // A short name cuts ".jpeg" to ".JPE", an extension no decoder lists.
    const std::wstring names[] = {L"夕焼け_水辺.jpg", L"🌅 sunrise.jpg", L"Ströme – café.jpg",
                                  L"Фото\\Море.jpg", L"夕焼け.jpeg"};
    for (std::size_t i = 0; i < 5; ++i) {
        // Written under a plain name, then given its own.
        const std::string temp = tree_.Path("t.jpg");
        const UINT width = UINT(40 + i);
        ASSERT_TRUE(WriteWicPicture(temp, GUID_ContainerFormatJpeg, width, 30,
                                    [width](UINT, BYTE* bgr) { std::memset(bgr, 0x80, 3 * width); }));
        ASSERT_TRUE(::MoveFileW(Wide(temp).c_str(), (Wide(dir) + L"\\" + names[i]).c_str()));
    }
    const Strings found = Scan(dir).Found;
    ASSERT_EQ(found.size(), 5u);
    std::set<int> widths;
    for (const std::string& path : found) {
        TBitmap target(64, 48);
        PictureInfo info;
        LoadPicture(target, path, info, SessionPrepare());
        EXPECT_EQ(info.Height, 30) << path;
        EXPECT_NE(info.Format, nullptr) << path;
        widths.insert(info.Width);
    }
    EXPECT_EQ(widths, (std::set<int>{40, 41, 42, 43, 44}));
}

// ---- the catalogue file ----

TPicList& SampleList(TPicList& list) {
    list.ItemAt(list.AddFolder("Root")).Pictures.Add("C:\\single.jpg");
    TFolderItem& folder = list.ItemAt(list.AddFolder("C:\\Photos"));
    folder.AutoRefresh = true;
    folder.Pictures.Append({"C:\\Photos\\1.jpg", "C:\\Photos\\2.jpg"});
    return list;
}

std::string StreamBytes(const TPicList& list) {
    std::string out;
    TStringSink sink(out);
    list.SaveToStream(sink);
    return out;
}

TEST_F(CatalogueTest, SaveToFileWritesTheFormatAndLeavesNoTemporaryFile) {
    TPicList list;
    SampleList(list);
    const std::string path = tree_.Path("piclist.dat");
    WriteAll(path, "old contents");
    list.SaveToFile(path);
    EXPECT_EQ(ReadAll(path), StreamBytes(list));
    EXPECT_FALSE(Exists(CatalogueTempPath(path)));

    TPicList back;
    back.LoadFromFile(path);
    EXPECT_EQ(StreamBytes(back), StreamBytes(list));
}

TEST_F(CatalogueTest, FailedSaveKeepsTheOldFile) {
    const std::string path = tree_.Path("piclist.dat");
    WriteAll(path, "the old catalogue");
    // A folder where the temporary file must go: creating it fails.
    ::CreateDirectoryA(CatalogueTempPath(path).c_str(), nullptr);
    TPicList list;
    SampleList(list);
    EXPECT_THROW(list.SaveToFile(path), Exception);
    EXPECT_EQ(ReadAll(path), "the old catalogue");

    // A path in a folder that does not exist: nothing is written.
    EXPECT_THROW(list.SaveToFile(tree_.Path("no\\such\\piclist.dat")), Exception);
    EXPECT_FALSE(Exists(tree_.Path("no")));
}

TEST_F(CatalogueTest, SaveThatCannotBeWrittenKeepsTheOldFile) {
    const std::string path = tree_.Path("piclist.dat");
    WriteAll(path, "the old catalogue");
    TPicList list;
    list.AddFolder(std::string(70000, 'x'));  // longer than the record can say: the writer refuses
    EXPECT_THROW(list.SaveToFile(path), Exception);
    EXPECT_EQ(ReadAll(path), "the old catalogue");
    EXPECT_FALSE(Exists(CatalogueTempPath(path)));
}

// The hidden list beside the catalogue: saved in one step like it, read
// back, and its names of deleted pictures dropped while those whose folder
// cannot be reached stay.
std::string hiddenOnReplace;  // the list file as it was when the new one was about to replace it
TEST_F(CatalogueTest, HiddenListIsReplacedInOneStepAndReadBack) {
    const std::string file = HiddenListFileFor(tree_.Path("app\\piclist.dat"), AnsiLeadByte);
    EXPECT_EQ(file, tree_.Path("app\\hidden.dat"));
    tree_.File("sub\\kept.jpg");
    tree_.File("sub\\deleted.jpg");
    THiddenList list;
    list.Add(tree_.Path("sub\\KEPT.jpg"));
    list.Add(tree_.Path("sub\\deleted.jpg"));
    list.Add("Q:\\no drive here\\far.jpg");
    SaveHiddenList(list, file);  // makes its folder
    EXPECT_EQ(ReadAll(file), list.Encode());
    EXPECT_FALSE(Exists(CatalogueTempPath(file)));

    // The old file is whole until the new one replaces it.
    TCatalogueHooks hooks;
    hooks.BeforeReplace = [](const std::string& temp) {
        const std::string target = temp.substr(0, temp.rfind('.', temp.size() - 5));
        hiddenOnReplace = ReadAll(target);
    };
    SetCatalogueHooks(hooks);
    THiddenList more = list;
    more.Add(tree_.Path("sub\\third.jpg"));
    SaveHiddenList(more, file);
    SetCatalogueHooks(TCatalogueHooks{});
    EXPECT_EQ(hiddenOnReplace, list.Encode());
    EXPECT_EQ(ReadAll(file), more.Encode());

    // A failed save (a folder where the temporary file goes) keeps the old one.
    ::CreateDirectoryA(CatalogueTempPath(file).c_str(), nullptr);
    EXPECT_THROW(SaveHiddenList(list, file), Exception);
    EXPECT_EQ(ReadAll(file), more.Encode());
    ::RemoveDirectoryA(CatalogueTempPath(file).c_str());

    ::DeleteFileA(tree_.Path("sub\\deleted.jpg").c_str());
    const THiddenList back = LoadHiddenList(file);
    EXPECT_TRUE(back.Contains(tree_.Path("sub\\kept.jpg")));
    EXPECT_FALSE(back.Contains(tree_.Path("sub\\deleted.jpg")));  // its folder is there, the file is not
    EXPECT_FALSE(back.Contains(tree_.Path("sub\\third.jpg")));    // never existed
    EXPECT_TRUE(back.Contains("q:\\NO DRIVE HERE\\far.jpg"));     // cannot be looked at now: kept
    EXPECT_TRUE(LoadHiddenList(tree_.Path("none.dat")).Empty());
    EXPECT_TRUE(LoadHiddenList("").Empty());
}

// Run only as the child of KilledSaveKeepsTheOldFile: saves the catalogue
// named by the environment and is killed just before the replace.
TEST(CatalogueChild, DISABLED_SaveAndDieBeforeReplace) {
    char path[MAX_PATH];
    if (!::GetEnvironmentVariableA("QV_CATALOGUE_CHILD", path, MAX_PATH)) GTEST_SKIP();
    TPicList list;
    SampleList(list);
    TCatalogueHooks hooks;
    hooks.BeforeReplace = [](const std::string&) { ::TerminateProcess(::GetCurrentProcess(), 77); };
    SetCatalogueHooks(hooks);
    list.SaveToFile(path);
}

TEST_F(CatalogueTest, KilledSaveKeepsTheOldFile) {
    const std::string path = tree_.Path("piclist.dat");
    TPicList old;
    old.AddFolder("Root");
    old.SaveToFile(path);
    const std::string oldBytes = ReadAll(path);

    char self[MAX_PATH];
    ASSERT_NE(::GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
    std::string command = std::string("\"") + self +
                          "\" --gtest_filter=CatalogueChild.DISABLED_SaveAndDieBeforeReplace "
                          "--gtest_also_run_disabled_tests";
    ::SetEnvironmentVariableA("QV_CATALOGUE_CHILD", path.c_str());
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    const BOOL started =
        ::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
    ::SetEnvironmentVariableA("QV_CATALOGUE_CHILD", nullptr);
    ASSERT_TRUE(started);
    ::WaitForSingleObject(process.hProcess, 60000);
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    const DWORD childId = process.dwProcessId;
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    ASSERT_EQ(code, 77u) << "the child did not reach the replace";

    // The complete new catalogue sits beside the untouched old one.
    EXPECT_EQ(ReadAll(path), oldBytes);
    TPicList loaded;
    loaded.LoadFromFile(path);
    EXPECT_EQ(loaded.Count(), 1);
    const std::string childTemp = path + "." + std::to_string(childId) + ".tmp";
    TPicList sample;
    EXPECT_EQ(ReadAll(childTemp), StreamBytes(SampleList(sample)));

    // The next save clears away what the killed one left.
    sample.SaveToFile(path);
    EXPECT_FALSE(Exists(childTemp));
    EXPECT_EQ(ReadAll(path), StreamBytes(sample));
}

namespace {

// A process of this program, started suspended; it runs until ended.
PROCESS_INFORMATION StartSuspendedChild() {
    char self[MAX_PATH];
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = std::string("\"") + self + "\" --gtest_list_tests";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                     &process);
    return process;
}

}  // namespace

TEST_F(CatalogueTest, SaveRemovesOnlyTheTempFilesOfEndedProcesses) {
    const std::string path = tree_.Path("piclist.dat");
    PROCESS_INFORMATION live = StartSuspendedChild();
    PROCESS_INFORMATION ended = StartSuspendedChild();
    ASSERT_NE(live.hProcess, nullptr);
    ASSERT_NE(ended.hProcess, nullptr);
    ::TerminateProcess(ended.hProcess, 0);
    ::WaitForSingleObject(ended.hProcess, 10000);
    const std::string liveTemp = path + "." + std::to_string(live.dwProcessId) + ".tmp";
    const std::string endedTemp = tree_.Path("PICLIST.DAT.") + std::to_string(ended.dwProcessId) + ".TMP";
    const std::string endedOpen = path + ".0" + std::to_string(ended.dwProcessId) + ".tmp";
    const std::string notAnId = path + ".12a.tmp";
    const std::string tooLong = path + ".99999999999.tmp";
    const std::string other = tree_.Path("piclist.dat.bak");
    for (const std::string& f : {liveTemp, endedTemp, endedOpen, notAnId, tooLong, other}) WriteAll(f, "x");
    const std::string endedFolder = path + "." + std::to_string(ended.dwProcessId + 4) + ".tmp";
    ::CreateDirectoryA(endedFolder.c_str(), nullptr);
    HANDLE held = ::CreateFileA(endedOpen.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);

    TPicList list;
    SampleList(list).SaveToFile(path);

    EXPECT_TRUE(Exists(liveTemp)) << "a save in progress elsewhere";
    EXPECT_FALSE(Exists(endedTemp)) << "case does not matter";
    EXPECT_TRUE(Exists(endedOpen)) << "still open";
    for (const std::string& f : {notAnId, tooLong, other, endedFolder}) EXPECT_TRUE(Exists(f)) << f;
    EXPECT_EQ(ReadAll(path), StreamBytes(list));

    ::CloseHandle(held);
    ::TerminateProcess(live.hProcess, 0);
    for (PROCESS_INFORMATION* p : {&live, &ended}) {
        ::CloseHandle(p->hThread);
        ::CloseHandle(p->hProcess);
    }
}

std::vector<unsigned> waits;
HANDLE lockToRelease = nullptr;

TEST_F(CatalogueTest, LoadFromFileRetriesALockedFile) {
    const std::string path = tree_.Path("piclist.dat");
    TPicList list;
    SampleList(list);
    list.SaveToFile(path);

    // Locked for the first two attempts, released before the third.
    waits.clear();
    lockToRelease = ::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lockToRelease, INVALID_HANDLE_VALUE);
    TCatalogueHooks hooks;
    hooks.RetryWait = [](unsigned ms) {
        waits.push_back(ms);
        if (waits.size() == 2) ::CloseHandle(lockToRelease);
    };
    SetCatalogueHooks(hooks);
    TPicList back;
    back.LoadFromFile(path);
    EXPECT_EQ(waits, (std::vector<unsigned>{100, 500}));
    EXPECT_EQ(StreamBytes(back), StreamBytes(list));

    // Locked throughout: the third failure is raised.
    waits.clear();
    HANDLE lock = ::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    hooks.RetryWait = [](unsigned ms) { waits.push_back(ms); };
    SetCatalogueHooks(hooks);
    TPicList never;
    try {
        never.LoadFromFile(path);
        ADD_FAILURE() << "a locked file loaded";
    } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Cannot open file \"" + path + "\".", 0), 0u) << e.what();
    }
    ::CloseHandle(lock);
    EXPECT_EQ(waits.size(), 2u);
    EXPECT_EQ(never.Count(), 0);
}

// ---- start-up ----

TEST_F(CatalogueTest, LoadCatalogueRescansAutoRefreshFolders) {
    tree_.File("Fresh\\now.jpg");
    tree_.File("Fresh\\deeper\\below.jpg");
    tree_.File("Kept\\new.jpg");
    TPicList file;
    file.ItemAt(file.AddFolder("Root")).Pictures.Add("C:\\single.jpg");
    TFolderItem& fresh = file.ItemAt(file.AddFolder(tree_.Path("Fresh")));
    fresh.AutoRefresh = true;
    fresh.IncludeSubdirs = false;  // the refresh at start descends anyway
    fresh.Pictures.Add("stale.jpg");
    TFolderItem& gone = file.ItemAt(file.AddFolder(tree_.Path("Gone")));
    gone.AutoRefresh = true;
    gone.Pictures.Add("was-here.jpg");
    file.ItemAt(file.AddFolder(tree_.Path("Kept"))).Pictures.Add("listed-before.jpg");
    source_.File = tree_.Path("piclist.dat");
    file.SaveToFile(source_.File);

    LoadCatalogue(Session.PicList, source_);
    ASSERT_EQ(Session.PicList.Count(), 4);
    EXPECT_EQ(Session.PicList.GetItem(0).Pictures.ToVector(), Strings{"C:\\single.jpg"});
    EXPECT_EQ(Session.PicList.GetItem(1).Pictures.ToVector(),
              (Strings{tree_.Path("Fresh\\deeper\\below.jpg"), tree_.Path("Fresh\\now.jpg")}));
    EXPECT_FALSE(Session.PicList.GetItem(1).IncludeSubdirs);
    EXPECT_TRUE(Session.PicList.GetItem(2).Pictures.Empty());  // deleted folder: stays, without pictures
    EXPECT_EQ(Session.PicList.GetItem(2).FolderPath, tree_.Path("Gone"));
    EXPECT_EQ(Session.PicList.GetItem(3).Pictures.ToVector(), Strings{"listed-before.jpg"});
}

// A photo library on a network drive or a USB disk: the drive letter stays
// while its folder cannot be reached. Only a folder that is really gone (the
// folder above it lists without it) loses its list.
TEST_F(CatalogueTest, AFolderThatCannotBeReachedKeepsItsList) {
    TVanishingDrive drive(tree_.Folder("Share"));
    if (!drive.Made()) GTEST_SKIP() << "no drive letter could be made here";
    const std::string onDrive = drive.Root() + "\\Photos";
    tree_.File("Share\\Photos\\a.jpg");
    ASSERT_EQ(Scan(onDrive).Found.size(), 1u);
    tree_.File("Plain.jpg");
    ASSERT_TRUE(drive.Vanish());

    EXPECT_TRUE(Scan(onDrive).Unreachable);
    EXPECT_TRUE(Scan(drive.Root() + "\\").Unreachable);
    for (const std::string& gone : {tree_.Path("Gone"), tree_.Path("Gone\\Deeper"), tree_.Path("Plain.jpg")}) {
        const TScanResult scan = Scan(gone);
        EXPECT_FALSE(scan.Unreachable) << gone;
        EXPECT_TRUE(scan.Found.empty()) << gone;
    }

    TPicList file;
    file.AddFolder("Root");
    for (const std::string& folder : {onDrive, tree_.Path("Gone"), tree_.Path("Gone\\Deeper")}) {
        TFolderItem& item = file.ItemAt(file.AddFolder(folder));
        item.AutoRefresh = true;
        item.Pictures.Append({folder + "\\1.jpg", folder + "\\2.jpg"});
    }
    source_.File = tree_.Path("piclist.dat");
    file.SaveToFile(source_.File);
    LoadCatalogue(Session.PicList, source_);
    ASSERT_EQ(Session.PicList.Count(), 4);
    EXPECT_EQ(Session.PicList.GetItem(1).Pictures.ToVector(), file.GetItem(1).Pictures.ToVector());
    EXPECT_TRUE(Session.PicList.GetItem(1).Unreachable);
    for (int gone : {2, 3}) {
        EXPECT_TRUE(Session.PicList.GetItem(gone).Pictures.Empty()) << gone;
        EXPECT_FALSE(Session.PicList.GetItem(gone).Unreachable) << gone;
    }
}

// The file's reads fail from half-way on, as on a share that stopped
// answering: that is no end of the file.
TEST_F(CatalogueTest, AReadErrorPartWayKeepsWhatWasReadAndGuardsTheFile) {
    TPicList whole;
    whole.AddFolder("Root");
    for (int f = 0; f < 3; ++f) {
        const std::string folder = "C:\\Photos\\" + std::to_string(f);
        TFolderItem& item = whole.ItemAt(whole.AddFolder(folder));
        for (int p = 0; p < 100; ++p) item.Pictures.Add(folder + "\\p" + std::to_string(100 + p) + ".jpg");
    }
    const std::string bytes = StreamBytes(whole);
    TFaultyFile faulty(tree_.Folder("Share"), bytes, bytes.size() / 2);
    if (!faulty.Made()) GTEST_SKIP() << "no FUSE file system can be mounted here";

    TPicList part;
    part.LoadFromFile(faulty.Path());
    EXPECT_NE(part.ReadProblem().find("could be read only up to byte " + std::to_string(bytes.size() / 2)),
              std::string::npos)
        << part.ReadProblem();
    // Everything before the failure, including the pictures of the entry
    // it cut short that were read whole; nothing after it.
    ASSERT_EQ(part.Count(), 3);
    EXPECT_GT(part.TotalCount(), 140);
    EXPECT_LT(part.TotalCount(), 200);
    for (int i = 0; i < part.TotalCount(); ++i) ASSERT_EQ(part.PictureAt(i), whole.PictureAt(i)) << i;

    // The part read replaces no file until someone decides it may.
    const std::string elsewhere = tree_.Path("piclist.dat");
    WriteAll(elsewhere, "the old catalogue");
    EXPECT_THROW(part.SaveToFile(elsewhere), Exception);
    EXPECT_EQ(ReadAll(elsewhere), "the old catalogue");
    part.KeepPartAsRead();
    part.SaveToFile(elsewhere);
    EXPECT_EQ(ReadAll(elsewhere), StreamBytes(part));

    // At start the show gets what could be read.
    source_.File = faulty.Path();
    LoadCatalogue(Session.PicList, source_);
    EXPECT_EQ(Session.PicList.TotalCount(), part.TotalCount());
    EXPECT_FALSE(Session.PicList.ReadProblem().empty());
}

TEST_F(CatalogueTest, LoadCatalogueCompletesEmptyFilesWithTheRoot) {
    source_.File = tree_.Path("piclist.dat");
    for (const std::string& bytes : {std::string(), std::string("PR\x00\x00\x02\x02", 6), std::string("garbage")}) {
        WriteAll(source_.File, bytes);
        Session.PicList.Clear();
        LoadCatalogue(Session.PicList, source_);
        ASSERT_EQ(Session.PicList.Count(), 1);
        EXPECT_EQ(Session.PicList.GetItem(0).FolderPath, "Root");
    }
}

TEST_F(CatalogueTest, DefaultCatalogueFromLegacyFolders) {
    tree_.File("A\\1.jpg");
    tree_.Folder("Empty");
    tree_.File("B\\x\\2.png");
    tree_.File("Inst\\Photos\\ignored.jpg");
    source_.LegacyFolders = {tree_.Path("A"), tree_.Path("Empty"), "", tree_.Path("B")};
    source_.InstallPath = tree_.Path("Inst");
    source_.File = tree_.Path("Data\\piclist.dat");
    LoadCatalogue(Session.PicList, source_);
    ASSERT_EQ(Session.PicList.Count(), 3);
    EXPECT_EQ(Session.PicList.GetItem(0).FolderPath, "Root");
    EXPECT_EQ(Session.PicList.GetItem(1).FolderPath, tree_.Path("A"));
    EXPECT_EQ(Session.PicList.GetItem(2).Pictures.ToVector(), Strings{tree_.Path("B\\x\\2.png")});
    // The file's folder is made; the file waits for the dialog's OK.
    EXPECT_TRUE(Exists(tree_.Path("Data")));
    EXPECT_FALSE(Exists(source_.File));
}

TEST_F(CatalogueTest, DefaultCatalogueFromTheInstallationPhotos) {
    tree_.File("Inst\\Photos\\sample.jpg");
    source_.InstallPath = tree_.Path("Inst");
    source_.File = tree_.Path("piclist.dat");
    LoadCatalogue(Session.PicList, source_);
    ASSERT_GE(Session.PicList.Count(), 2);
    EXPECT_EQ(Session.PicList.GetItem(1).FolderPath, tree_.Path("Inst\\Photos"));
    EXPECT_EQ(Session.PicList.GetItem(1).Pictures.ToVector(), Strings{tree_.Path("Inst\\Photos\\sample.jpg")});
    EXPECT_TRUE(Session.PicList.GetItem(1).IncludeSubdirs);
    EXPECT_FALSE(Session.PicList.GetItem(1).AutoRefresh);

    // No catalogue file location at all: still a usable catalogue.
    Session.PicList.Clear();
    source_.File.clear();
    LoadCatalogue(Session.PicList, source_);
    EXPECT_GE(Session.PicList.Count(), 2);
}

}  // namespace

// ---- the catalogue part of SaveSettings ----

#include <sddl.h>

#include "session/settings_store_win32.h"
#include "base/registry_win32.h"

namespace {

TEST_F(CatalogueTest, SaveSettingsWritesTheCatalogueOrRaises) {
    Session.PicList.AddFolder("Root");
    Session.PicList.ItemAt(Session.PicList.AddFolder("C:\\Photos")).Pictures.Add("C:\\Photos\\a.jpg");

    // No file yet: the file's own folder is made first.
    Session.Settings.CatalogueFile = tree_.Path("Quorvane\\piclist.dat");
    SaveSettings(Session.Settings, Session.PicList);
    EXPECT_EQ(ReadAll(Session.Settings.CatalogueFile), StreamBytes(Session.PicList));

    // Two missing folder levels: only one is made, so the write fails and
    // the failure reaches the caller after the registry values are written.
    ::RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
    Session.Settings.CatalogueFile = tree_.Path("a\\b\\piclist.dat");
    EXPECT_THROW(SaveSettings(Session.Settings, Session.PicList), Exception);
    EXPECT_TRUE(ReadRegString(OpenRegKey(HKEY_CURRENT_USER, kSettingsKey).Get(), "Delay").has_value());

    Session.Settings.CatalogueFile.clear();
    EXPECT_THROW(SaveSettings(Session.Settings, Session.PicList), Exception);
    ::RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
}

// Sets the settings key's access list from its text form.
bool SetSettingsKeyAccess(const char* sddl) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &sd, nullptr)) return false;
    HKEY key = nullptr;
    bool set = ::RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, WRITE_DAC, &key) == ERROR_SUCCESS &&
               ::RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd) == ERROR_SUCCESS;
    if (key) ::RegCloseKey(key);
    ::LocalFree(sd);
    return set;
}

TEST_F(CatalogueTest, SaveSettingsReportsSettingsTheRegistryDidNotTake) {
    Session.PicList.AddFolder("Root");
    Session.Settings.CatalogueFile = tree_.Path("piclist.dat");
    ::RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
    CreateRegKey(HKEY_CURRENT_USER, kSettingsKey);
    // Readable, not writable: as a policy may leave the key.
    ASSERT_TRUE(SetSettingsKeyAccess("D:P(A;;KRWD;;;WD)"));
    {
        TRegKey probe = CreateRegKey(HKEY_CURRENT_USER, kSettingsKey);
        if (WriteRegString(probe.Get(), "Probe", "x")) {
            SetSettingsKeyAccess("D:P(A;;KA;;;WD)");
            ::RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
            GTEST_SKIP() << "this registry does not enforce key access lists";
        }
    }
    try {
        SaveSettings(Session.Settings, Session.PicList);
        ADD_FAILURE() << "the settings were taken for written";
    } catch (const Exception& e) {
        const std::string what = e.what();
        EXPECT_NE(what.find("registry"), std::string::npos) << what;
        EXPECT_NE(what.find("Delay"), std::string::npos) << what;
    }
    // The catalogue was saved all the same.
    EXPECT_EQ(ReadAll(Session.Settings.CatalogueFile), StreamBytes(Session.PicList));
    EXPECT_TRUE(SetSettingsKeyAccess("D:P(A;;KA;;;WD)"));
    ::RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
}

}  // namespace
