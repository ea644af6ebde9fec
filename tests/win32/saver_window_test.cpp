#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session/settings.h"
#include "base/run_state.h"
#include "base/registry_win32.h"
#include "base/ui_win32.h"
#include "render/run_win32.h"
#include "render/acceleration_win32.h"
#include "render/runloop_win32.h"
#include "render/saver_windows_win32.h"

// The saver window's exit rules, driven by real messages, and the driver
// check a run makes before it starts.

namespace {

class SaverWindowRules : public ::testing::Test {
protected:
    void SetUp() override {
        RunState.LaunchedFromDialog = false;
        RunState.StopRequested = 0;
    }
    void TearDown() override {
        if (run.Window && ::IsWindow(run.Window)) ::DestroyWindow(run.Window);
        if (host) ::DestroyWindow(host);
        RunState.StopRequested = 0;
    }

    void FullScreenWindow() {
        run.FullScreen = true;
        run.Window = CreateSaverWindow(run, nullptr, 0, 0, 320, 240);
        ASSERT_NE(run.Window, nullptr);
        RunState.StopRequested = 0;  // its creation may already have moved the mouse word
        run.MouseAllowance = kMouseAllowance;
    }
    void PreviewWindow() {
        run.FullScreen = false;
        host = ::CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 200,
                                 nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(host, nullptr);
        run.Window = CreateSaverWindow(run, host, 0, 0, 1280, 1024);
        ASSERT_NE(run.Window, nullptr);
    }
    void Key(WPARAM key) { ::SendMessageA(run.Window, WM_KEYDOWN, key, 1); }
    void Move(int x, int y) { ::SendMessageA(run.Window, WM_MOUSEMOVE, 0, MAKELPARAM(x, y)); }
    static void Pump() {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
    }

    TRun run;
    HWND host = nullptr;
};

TEST_F(SaverWindowRules, SpacePausesAndF12ThenF11ArmsTheCrashTest) {
    FullScreenWindow();
    Key(VK_SPACE);
    EXPECT_TRUE(run.Paused);
    Key(VK_SPACE);
    EXPECT_FALSE(run.Paused);
    Key(VK_F12);
    Key(VK_F11);
    EXPECT_TRUE(run.CrashTestArmed);
    EXPECT_EQ(RunState.StopRequested, 0);
    // A second F12 is an ordinary key.
    Key(VK_F12);
    EXPECT_EQ(RunState.StopRequested, 1);
}

TEST_F(SaverWindowRules, F11WithoutF12AndOtherKeysStop) {
    FullScreenWindow();
    Key(VK_F11);
    EXPECT_EQ(RunState.StopRequested, 1);
    EXPECT_FALSE(run.CrashTestArmed);
    RunState.StopRequested = 0;
    ::SendMessageA(run.Window, WM_SYSKEYDOWN, VK_MENU, 1);
    EXPECT_EQ(RunState.StopRequested, 1);
}

TEST_F(SaverWindowRules, FifteenthNewMousePositionStops) {
    FullScreenWindow();
    for (int i = 1; i <= 14; ++i) {
        Move(100 + i, 50);
        Move(100 + i, 50);  // the same position again does not count
    }
    EXPECT_EQ(RunState.StopRequested, 0);
    EXPECT_EQ(run.MouseAllowance, 1);
    Move(7, 7);
    EXPECT_EQ(RunState.StopRequested, 1);
}

TEST_F(SaverWindowRules, SteeringKeysMoveTheShowAndAnyOtherKeyStops) {
    FullScreenWindow();
    run.Show.KeysSteer = true;
    Key(VK_SPACE);
    ASSERT_TRUE(run.Paused);
    // A steering key resumes a paused show; the render loop takes the steps.
    Key(VK_RIGHT);
    EXPECT_FALSE(run.Paused);
    Key(VK_RIGHT);
    Key(VK_LEFT);
    Key(VK_LEFT);
    Key(VK_LEFT);
    Key('H');
    EXPECT_EQ(run.SteerSteps.load(), -1);
    EXPECT_EQ(run.HideRequests.load(), 1);
    EXPECT_EQ(RunState.StopRequested, 0);
    Key(VK_SPACE);
    EXPECT_TRUE(run.Paused);
    EXPECT_EQ(RunState.StopRequested, 0);
    for (WPARAM key : {WPARAM(VK_DOWN), WPARAM('J'), WPARAM(VK_ESCAPE), WPARAM(VK_RETURN)}) {
        RunState.StopRequested = 0;
        Key(key);
        EXPECT_EQ(RunState.StopRequested, 1) << key;
    }
}

TEST_F(SaverWindowRules, WithoutSteeringTheArrowsAndHStop) {
    FullScreenWindow();
    for (WPARAM key : {WPARAM(VK_RIGHT), WPARAM(VK_LEFT), WPARAM('H')}) {
        RunState.StopRequested = 0;
        Key(key);
        EXPECT_EQ(RunState.StopRequested, 1) << key;
    }
    EXPECT_EQ(run.SteerSteps.load(), 0);
    EXPECT_EQ(run.HideRequests.load(), 0);
}

TEST_F(SaverWindowRules, MouseMovesDoNotEndAShowThatIgnoresThem) {
    FullScreenWindow();
    run.MouseEnds = false;
    for (int i = 1; i <= 40; ++i) Move(100 + i, 50 + i);
    EXPECT_EQ(RunState.StopRequested, 0);
    // Keys and clicks still end it.
    ::SendMessageA(run.Window, WM_LBUTTONDOWN, 0, 0);
    EXPECT_EQ(RunState.StopRequested, 1);
    RunState.StopRequested = 0;
    Key('Q');
    EXPECT_EQ(RunState.StopRequested, 1);
}

TEST_F(SaverWindowRules, ClicksStop) {
    FullScreenWindow();
    for (UINT msg : {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN}) {
        RunState.StopRequested = 0;
        ::SendMessageA(run.Window, msg, 0, 0);
        EXPECT_EQ(RunState.StopRequested, 1) << msg;
    }
}

TEST_F(SaverWindowRules, MonitorOffPausesUntilTheNextInput) {
    FullScreenWindow();
    ::SendMessageA(run.Window, WM_SYSCOMMAND, SC_MONITORPOWER, 2);
    EXPECT_TRUE(run.Paused);
    EXPECT_TRUE(run.PausedByMonitor);
    Move(300, 200);
    EXPECT_FALSE(run.Paused);
    EXPECT_FALSE(run.PausedByMonitor);
    EXPECT_EQ(RunState.StopRequested, 0);  // one move of fifteen

    ::SendMessageA(run.Window, WM_SYSCOMMAND, SC_MONITORPOWER, 2);
    Key(VK_SPACE);  // clears the monitor pause, then toggles: paused again
    EXPECT_TRUE(run.Paused);
    EXPECT_FALSE(run.PausedByMonitor);
}

TEST_F(SaverWindowRules, CloseAndDeactivationEndTheWindow) {
    FullScreenWindow();
    ::SendMessageA(run.Window, WM_ACTIVATEAPP, 0, 0);
    EXPECT_TRUE(::IsWindow(run.Window));
    Pump();  // the posted WM_CLOSE
    EXPECT_FALSE(::IsWindow(run.Window));
    EXPECT_EQ(RunState.StopRequested, 1);  // WM_DESTROY

    FullScreenWindow();
    ::SendMessageA(run.Window, WM_POWERBROADCAST, 7, 1);  // bit 0 set: not a resume to act on
    Pump();
    EXPECT_TRUE(::IsWindow(run.Window));
    ::SendMessageA(run.Window, WM_POWERBROADCAST, 18, 0);
    Pump();
    EXPECT_FALSE(::IsWindow(run.Window));
}

TEST_F(SaverWindowRules, PasswordFlagWithoutTheSystemCheckLetsTheSaverEnd) {
    TRegKey desktop = CreateRegKey(HKEY_CURRENT_USER, "Control Panel\\Desktop");
    ASSERT_TRUE(desktop);
    const std::optional<std::string> old = ReadRegString(desktop.Get(), "ScreenSaveUsePassword");
    ASSERT_TRUE(WriteRegString(desktop.Get(), "ScreenSaveUsePassword", "1"));
    FullScreenWindow();
    Key('Q');
    EXPECT_EQ(RunState.StopRequested, 1);
    if (old)
        WriteRegString(desktop.Get(), "ScreenSaveUsePassword", *old);
    else
        ::RegDeleteValueA(desktop.Get(), "ScreenSaveUsePassword");
}

#ifdef QV_TEST_PLUGIN_DIR
// A planted "PASSWORD.CPL" beside the program and in the current folder
// refuses every password; the saver loads the library from the system
// folder only, where Wine has none, so it still ends.
TEST_F(SaverWindowRules, PasswordLibraryComesFromTheSystemFolderOnly) {
    const std::string fake = std::string(QV_TEST_PLUGIN_DIR) + "/fakepwd/PASSWORD.CPL";
    {
        TModule direct(::LoadLibraryA(fake.c_str()));
        ASSERT_TRUE(direct) << fake;
        using TVerify = BOOL(WINAPI*)(HWND);
        auto verify = reinterpret_cast<TVerify>(
            reinterpret_cast<void*>(::GetProcAddress(direct.Get(), "VerifyScreenSavePwd")));
        ASSERT_NE(verify, nullptr);
        ASSERT_FALSE(verify(nullptr));  // the stand-in really refuses
    }
    char exe[MAX_PATH];
    std::string exeFolder(exe, ::GetModuleFileNameA(nullptr, exe, MAX_PATH));
    exeFolder.resize(exeFolder.find_last_of('\\') + 1);
    char cwd[MAX_PATH];
    const std::string current = std::string(cwd, ::GetCurrentDirectoryA(MAX_PATH, cwd)) + "\\";
    std::vector<std::string> planted;
    for (const std::string& folder : {exeFolder, current}) {
        const std::string target = folder + "PASSWORD.CPL";
        if (::CopyFileA(fake.c_str(), target.c_str(), TRUE)) planted.push_back(target);
    }
    ASSERT_FALSE(planted.empty());

    TRegKey desktop = CreateRegKey(HKEY_CURRENT_USER, "Control Panel\\Desktop");
    const std::optional<std::string> old = ReadRegString(desktop.Get(), "ScreenSaveUsePassword");
    WriteRegString(desktop.Get(), "ScreenSaveUsePassword", "1");
    FullScreenWindow();
    Key('Q');
    EXPECT_EQ(RunState.StopRequested, 1);
    EXPECT_EQ(::GetModuleHandleA("PASSWORD.CPL"), nullptr);
    if (old)
        WriteRegString(desktop.Get(), "ScreenSaveUsePassword", *old);
    else
        ::RegDeleteValueA(desktop.Get(), "ScreenSaveUsePassword");
    for (const std::string& f : planted) ::DeleteFileA(f.c_str());
}
#endif

TEST_F(SaverWindowRules, PreviewIgnoresInputAndFillsItsHost) {
    PreviewWindow();
    Key('Q');
    Key(VK_SPACE);
    for (int i = 0; i < 20; ++i) Move(i, i);
    ::SendMessageA(run.Window, WM_LBUTTONDOWN, 0, 0);
    EXPECT_EQ(RunState.StopRequested, 0);
    EXPECT_FALSE(run.Paused);
    RECT hostClient{};
    RECT own{};
    ::GetClientRect(host, &hostClient);
    ::GetWindowRect(run.Window, &own);
    EXPECT_EQ(own.right - own.left, hostClient.right);
    EXPECT_EQ(own.bottom - own.top, hostClient.bottom);
    // Closing a preview asks nothing.
    ::SendMessageA(run.Window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(::IsWindow(run.Window));
}

TEST_F(SaverWindowRules, OneMonitorGetsNoCoverWindow) {
    ASSERT_TRUE(CoverOtherMonitors(run));
    ASSERT_GE(run.Monitors.size(), 1u);
    EXPECT_LT(run.PrimaryIndex, run.Monitors.size());
    std::vector<HWND> covers;
    for (const TMonitorEntry& m : run.Monitors)
        if (m.Cover) covers.push_back(m.Cover);
    EXPECT_EQ(covers.size(), run.Monitors.size() - 1);
    CloseCoverWindows(run);
    EXPECT_TRUE(run.Monitors.empty());
    for (HWND cover : covers) EXPECT_FALSE(::IsWindow(cover));
}

// Run by ctest on a display of twelve monitors.
class ManyMonitorsCovers : public SaverWindowRules {
protected:
    std::vector<HWND> Covers() const {
        std::vector<HWND> covers;
        for (const TMonitorEntry& m : run.Monitors)
            if (m.Cover) covers.push_back(m.Cover);
        return covers;
    }
};

TEST_F(ManyMonitorsCovers, ADisplayChangeRenewsTheCoversAndANewPrimarySizeStops) {
    FullScreenWindow();
    run.Width = ::GetSystemMetrics(SM_CXSCREEN);
    run.Height = ::GetSystemMetrics(SM_CYSCREEN);
    ASSERT_TRUE(CoverOtherMonitors(run));
    const std::vector<HWND> before = Covers();
    ASSERT_GE(before.size(), 11u) << "needs a display of twelve monitors or more";

    // The same primary: the show goes on under fresh covers, one a monitor.
    ::SendMessageA(run.Window, WM_DISPLAYCHANGE, 24, MAKELPARAM(run.Width, run.Height));
    EXPECT_EQ(RunState.StopRequested, 0);
    const std::vector<HWND> after = Covers();
    EXPECT_EQ(after.size(), before.size());
    for (HWND cover : before) EXPECT_FALSE(::IsWindow(cover));
    for (HWND cover : after) EXPECT_TRUE(::IsWindowVisible(cover));

    // A cover hears it too, and passes it on without acting twice.
    ::SendMessageA(after.front(), WM_DISPLAYCHANGE, 24, 0);
    EXPECT_TRUE(::IsWindow(after.front()));

    // A primary of another size: the show stops, as on input.
    run.Width -= 1;
    ::SendMessageA(run.Window, WM_DISPLAYCHANGE, 24, 0);
    EXPECT_EQ(RunState.StopRequested, 1);
    EXPECT_TRUE(run.Vanished);
    CloseCoverWindows(run);
    for (HWND cover : after) EXPECT_FALSE(::IsWindow(cover));
}

TEST(Acceleration, SoftwareFreeDriverAsksNothingAndIsRecorded) {
    ::RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
    int boxes = 0;
    SetMessageBoxResponder([&](const std::string&, const std::string&, UINT) {
        ++boxes;
        return IDNO;
    });
    const std::string kind = DriverKind();
    const bool ok = CheckAcceleration(false);
    SetMessageBoxResponder(nullptr);
    TRegKey key = OpenRegKey(HKEY_CURRENT_USER, kSettingsKey);
    if (kind.empty()) {
        EXPECT_TRUE(ok);
        EXPECT_FALSE(ReadRegString(key.Get(), "driver"));
    } else {
        EXPECT_EQ(ReadRegString(key.Get(), "driver"), kind);
        EXPECT_EQ(ok, kind != "No");
        EXPECT_EQ(boxes, kind == "No" ? 1 : 0);
    }
    ::RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
}

}  // namespace
