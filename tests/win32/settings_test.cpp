#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "session/settings.h"
#include "session/settings_store_win32.h"
#include "base/registry_win32.h"
#include "base/system_win32.h"
#include "base/ui_win32.h"
#include "tests/win32/test_session.h"

namespace {
// The process's session, which the tests below set up and hand on.
TSession& Session = TestSession();
}  // namespace

namespace {

// Each test starts from no product key for the user and a known machine key,
// and answers message boxes through the seam instead of showing them.
class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override {
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
        SetInstallPath("C:\\Program Files\\Quorvane");
        SetMessageBoxResponder([this](const std::string& text, const std::string& caption, UINT type) {
            boxes.push_back(caption + "|" + text + "|" + std::to_string(type));
            return IDOK;
        });
        Session.Settings = TSettings();
        Session.Settings.MouseMove = true;
    }
    void TearDown() override {
        SetMessageBoxResponder(nullptr);
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
        // SaveSettings writes the catalogue too; leave none behind for later
        // runs of the program in this prefix.
        if (!Session.Settings.CatalogueFile.empty()) ::DeleteFileA(Session.Settings.CatalogueFile.c_str());
    }

    static void SetInstallPath(const char* path) {
        TRegKey key = CreateRegKey(HKEY_LOCAL_MACHINE, kSettingsKey);
        ASSERT_TRUE(key);
        if (path)
            WriteRegString(key.Get(), "Path", path);
        else
            ::RegDeleteValueA(key.Get(), "Path");
    }
    static void SetUserValue(const char* name, const std::string& value) {
        TRegKey key = CreateRegKey(HKEY_CURRENT_USER, kSettingsKey);
        ASSERT_TRUE(WriteRegString(key.Get(), name, value));
    }
    static std::optional<std::string> UserValue(const char* name) {
        TRegKey key = OpenRegKey(HKEY_CURRENT_USER, kSettingsKey);
        return ReadRegString(key.Get(), name);
    }

    std::vector<std::string> boxes;
};

TEST_F(SettingsStore, NewUserGetsKeyAndDefaultsButNoValues) {
    LoadSettings(Session.Settings, Session.LegacyFolders);
    EXPECT_TRUE(OpenRegKey(HKEY_CURRENT_USER, kSettingsKey));
    EXPECT_EQ(Session.Settings.Order, 2);
    EXPECT_EQ(Session.Settings.Delay, 5000);
    EXPECT_EQ(Session.Settings.Convert, 5000);
    EXPECT_EQ(Session.Settings.StopKey, 1);
    EXPECT_EQ(Session.Settings.Effdata, -1);
    EXPECT_TRUE(Session.Settings.MouseMove);
    EXPECT_TRUE(Session.Settings.rtresize);
    EXPECT_TRUE(Session.Settings.EnlargeToFit);
    EXPECT_EQ(Session.Settings.FitMode, 2);
    EXPECT_EQ(Session.Settings.InstallPath, "C:\\Program Files\\Quorvane");
    for (const char* name : {"Delay", "Convert", "Order", "StopKey", "MouseMove", "Effdata"})
        EXPECT_FALSE(UserValue(name)) << name;
    EXPECT_TRUE(boxes.empty());

    SaveSettings(Session.Settings, Session.PicList);
    EXPECT_EQ(UserValue("Delay"), "5000");
    EXPECT_EQ(UserValue("Order"), "2");
    EXPECT_EQ(UserValue("MouseMove"), "1");
    EXPECT_EQ(UserValue("Effdata"), "75");
    EXPECT_FALSE(UserValue("rtresize"));  // never written
    EXPECT_TRUE(Session.Settings.IntendedColours);
    EXPECT_EQ(UserValue("IntendedColours"), "1");  // the Show page's choice, saved with the rest
}

TEST_F(SettingsStore, OrderRoundTripsNormalised) {
    SetUserValue("Order", "25");
    LoadSettings(Session.Settings, Session.LegacyFolders);
    EXPECT_EQ(Session.Settings.Order, 1);
    EXPECT_TRUE(Session.Settings.RandomStart);
    EXPECT_TRUE(Session.Settings.ResumeLast);
    SaveSettings(Session.Settings, Session.PicList);
    EXPECT_EQ(UserValue("Order"), "25");

    SetUserValue("Order", "40");
    LoadSettings(Session.Settings, Session.LegacyFolders);
    EXPECT_EQ(Session.Settings.Order, 0);
    EXPECT_TRUE(Session.Settings.RandomStart);
    EXPECT_FALSE(Session.Settings.ResumeLast);
    SaveSettings(Session.Settings, Session.PicList);
    EXPECT_EQ(UserValue("Order"), "8");
}

TEST_F(SettingsStore, BadValuesReadAsDefaultsOrClamp) {
    struct Case {
        std::string stored;
        std::int32_t expected;
    } cases[] = {
        {"-5", 0}, {"abc", 5000}, {"1500000000", 1000000000}, {"", 5000}, {std::string(3 << 20, '7'), 5000}};
    for (const Case& c : cases) {
        SetUserValue("Delay", c.stored);
        LoadSettings(Session.Settings, Session.LegacyFolders);
        EXPECT_EQ(Session.Settings.Delay, c.expected) << c.stored.substr(0, 20);
    }

    TRegKey key = CreateRegKey(HKEY_CURRENT_USER, kSettingsKey);
    const DWORD dword = 1234;
    ::RegSetValueExA(key.Get(), "Delay", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dword), sizeof dword);
    const BYTE binary[] = {'1', '2'};
    ::RegSetValueExA(key.Get(), "Convert", 0, REG_BINARY, binary, sizeof binary);
    // A string value stored without its terminator still reads.
    const char unterminated[] = {'4', '2'};
    ::RegSetValueExA(key.Get(), "StopKey", 0, REG_SZ, reinterpret_cast<const BYTE*>(unterminated), 2);
    LoadSettings(Session.Settings, Session.LegacyFolders);
    EXPECT_EQ(Session.Settings.Delay, 5000);
    EXPECT_EQ(Session.Settings.Convert, 5000);
    EXPECT_EQ(Session.Settings.StopKey, 42);

    // The colour switch: "0" turns it off; anything unreadable is the default, on.
    for (const auto& [stored, on] : std::vector<std::pair<std::string, bool>>{
             {"0", false}, {"1", true}, {"off", true}, {"", true}, {"7", true}, {"-1", false}}) {
        SetUserValue("IntendedColours", stored);
        LoadSettings(Session.Settings, Session.LegacyFolders);
        EXPECT_EQ(Session.Settings.IntendedColours, on) << stored;
    }
    ::RegSetValueExA(key.Get(), "IntendedColours", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dword),
                     sizeof dword);
    Session.Settings.IntendedColours = false;
    LoadSettings(Session.Settings, Session.LegacyFolders);
    EXPECT_TRUE(Session.Settings.IntendedColours);
}

TEST_F(SettingsStore, EffdataIsHeldAsOffset) {
    LoadSettings(Session.Settings, Session.LegacyFolders);
    EXPECT_EQ(Session.Settings.Effdata, -1);
    SetUserValue("Effdata", "-1");
    LoadSettings(Session.Settings, Session.LegacyFolders);
    EXPECT_EQ(Session.Settings.Effdata, 74);
    SaveSettings(Session.Settings, Session.PicList);
    EXPECT_EQ(UserValue("Effdata"), "0");
}

TEST_F(SettingsStore, LegacyFoldersAreSortedAndNonStringsSkipped) {
    TRegKey folders = CreateRegKey(HKEY_CURRENT_USER, kFoldersKey);
    ASSERT_TRUE(folders);
    WriteRegString(folders.Get(), "b", "C:\\Second");
    WriteRegString(folders.Get(), "A", "C:\\First");
    WriteRegString(folders.Get(), "\xC9t\xE9", "C:\\Fourth");
    WriteRegString(folders.Get(), "c", "C:\\Third");
    const DWORD dword = 7;
    ::RegSetValueExA(folders.Get(), "bb", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dword), sizeof dword);
    LoadSettings(Session.Settings, Session.LegacyFolders);
    EXPECT_EQ(Session.LegacyFolders,
              (std::vector<std::string>{"C:\\First", "C:\\Second", "C:\\Third", "C:\\Fourth"}));
}

TEST_F(SettingsStore, CatalogueFileFollowsAppData) {
    LoadSettings(Session.Settings, Session.LegacyFolders);
    const std::string appData = ShellFolder("AppData");
    if (appData.empty())
        EXPECT_EQ(Session.Settings.CatalogueFile, "C:\\Program Files\\Quorvane\\piclist.dat");
    else
        EXPECT_EQ(Session.Settings.CatalogueFile, appData + "\\Quorvane\\piclist.dat");
}

TEST_F(SettingsStore, MissingAppDataPutsCatalogueInInstallFolder) {
    TRegKey shell = OpenRegKey(HKEY_CURRENT_USER, kShellFoldersKey, KEY_READ | KEY_WRITE);
    ASSERT_TRUE(shell);
    const std::optional<std::string> saved = ReadRegString(shell.Get(), "AppData");
    ::RegDeleteValueA(shell.Get(), "AppData");
    LoadSettings(Session.Settings, Session.LegacyFolders);
    EXPECT_EQ(Session.Settings.CatalogueFile, "C:\\Program Files\\Quorvane\\piclist.dat");
    WriteRegString(shell.Get(), "AppData", "");
    LoadSettings(Session.Settings, Session.LegacyFolders);
    EXPECT_EQ(Session.Settings.CatalogueFile, "C:\\Program Files\\Quorvane\\piclist.dat");
    if (saved) WriteRegString(shell.Get(), "AppData", *saved);
    LoadSettings(Session.Settings, Session.LegacyFolders);
    if (saved && !saved->empty()) {
        EXPECT_EQ(Session.Settings.CatalogueFile, *saved + "\\Quorvane\\piclist.dat");
    }
}

TEST_F(SettingsStore, EmptyInstallPathWarnsAndLeavesCatalogueFileEmpty) {
    SetInstallPath(nullptr);
    SetUserValue("Delay", "1234");
    LoadSettings(Session.Settings, Session.LegacyFolders);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0],
              "Quorvane|Corrupted registry.\r\nPlease, Reinstall Quorvane|" + std::to_string(MB_OK));
    EXPECT_TRUE(Session.Settings.CatalogueFile.empty());
    EXPECT_EQ(Session.Settings.Delay, 1234);  // start-up goes on with what was read
    SetInstallPath("C:\\Program Files\\Quorvane");
}

TEST(EnsureFolder, CreatesOneLevelOnly) {
    char temp[MAX_PATH];
    ASSERT_GT(::GetTempPathA(MAX_PATH, temp), 0u);
    const std::string base = std::string(temp) + "qv_ensure_" + std::to_string(::GetCurrentProcessId());
    EnsureFolder(base + "\\a\\b");
    EXPECT_EQ(::GetFileAttributesA((base + "\\a").c_str()), INVALID_FILE_ATTRIBUTES);
    EnsureFolder(base + "\\");
    const DWORD attrs = ::GetFileAttributesA(base.c_str());
    ASSERT_NE(attrs, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attrs & FILE_ATTRIBUTE_DIRECTORY);
    EnsureFolder(base);  // existing: nothing happens
    ::RemoveDirectoryA(base.c_str());
}

}  // namespace
