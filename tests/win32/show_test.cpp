#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "app/appdata_win32.h"
#include "app/settings.h"
#include "app/state.h"
#include "base/registry_win32.h"
#include "base/ui_win32.h"
#include "catalogue/piclist.h"
#include "catalogue/sequence.h"
#include "catalogue/sequence_win32.h"
#include "imaging/bitmap_text.h"
#include "imaging/bitmap_text_win32.h"
#include "imaging/bitmap_win32.h"
#include "render/hooks_win32.h"
#include "render/loader_win32.h"
#include "render/runloop_win32.h"
#include "render/saver_windows_win32.h"

namespace {

// ---------------------------------------------------------------------------
// Sequencing against the real catalogue, real files and the real "Prev".

std::vector<std::string> prepared;  // paths handed to the preparation, in order

// Prepares a picture when its file exists, marking the bitmap so a test can
// tell a prepared picture from a message.
bool PrepareExistingFile(TBitmap& bitmap, const std::string& path) {
    prepared.push_back(path);
    bitmap.Clear();
    if (path.empty() || ::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
    bitmap.Bits[0] = 0x7F;
    return true;
}

class ShowSequencing : public ::testing::Test {
protected:
    void SetUp() override {
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
        char temp[MAX_PATH];
        ::GetTempPathA(MAX_PATH, temp);
        folder = std::string(temp) + "qv_show_test";
        ::CreateDirectoryA(folder.c_str(), nullptr);
        PicList.Clear();
        ShowSequence = TShowSequence();
        Settings = TSettings();
        Settings.Order = kOrderForward;
        prepared.clear();
        RenderHooks().PreparePicture = PrepareExistingFile;
        SetMessageFont(-16);
    }
    void TearDown() override {
        RenderHooks().PreparePicture = nullptr;
        for (const std::string& f : files) ::DeleteFileA(f.c_str());
        ::RemoveDirectoryA(folder.c_str());
        PicList.Clear();
        FreeMessageFont();
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
    }

    // Catalogue entry "Root" with the given pictures; `exists` makes the files.
    void Catalogue(const std::vector<std::string>& names, bool exists = true) {
        TFolderItem root;
        root.FolderPath = "Root";
        for (const std::string& name : names) {
            const std::string path = folder + "\\" + name;
            root.Pictures.Add(path);
            if (exists) {
                TKernelHandle f(
                    ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
                files.push_back(path);
            }
        }
        PicList.Add(std::move(root));
    }
    std::string Path(const std::string& name) const { return folder + "\\" + name; }

    static void SetPrev(const std::string& text) {
        TRegKey key = CreateRegKey(HKEY_CURRENT_USER, kSettingsKey);
        ASSERT_TRUE(WriteRegString(key.Get(), "Prev", text));
    }
    static std::optional<std::string> Prev() {
        TRegKey key = OpenRegKey(HKEY_CURRENT_USER, kSettingsKey);
        return ReadRegString(key.Get(), "Prev");
    }

    std::string folder;
    std::vector<std::string> files;
};

TEST_F(ShowSequencing, ResumeRoundTripsThroughTheRegistry) {
    Catalogue({"a.jpg", "b.jpg", "c.jpg"});
    Settings.ResumeLast = true;
    SaveResumePosition(1);
    EXPECT_EQ(Prev(), "1?" + Path("b.jpg"));
    EXPECT_EQ(ReadResumePosition(), 1);

    TBitmap bitmap(64, 32);
    LoadNextPicture(bitmap);
    EXPECT_EQ(ShowSequence.CurrentIndex, 2);
    EXPECT_EQ(prepared, std::vector<std::string>{Path("c.jpg")});

    // With ResumeLast off the show ends by emptying "Prev".
    Settings.ResumeLast = false;
    SaveResumePosition(2);
    EXPECT_EQ(Prev(), "");
    // An index outside the catalogue is recorded as empty too.
    Settings.ResumeLast = true;
    SaveResumePosition(3);
    EXPECT_EQ(Prev(), "");
}

TEST_F(ShowSequencing, MovedPictureAndOddValues) {
    Catalogue({"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg", "moved.jpg", "g.jpg"});
    SetPrev("1?" + Path("moved.jpg"));
    EXPECT_EQ(ReadResumePosition(), 5);
    // Case differs only in A to Z at the recorded index: still that picture.
    SetPrev("5?" + LowerAscii(Path("MOVED.JPG")));
    EXPECT_EQ(ReadResumePosition(), 5);

    // A value that is not text reads as empty and must not stop the show.
    {
        TRegKey key = CreateRegKey(HKEY_CURRENT_USER, kSettingsKey);
        const DWORD number = 3;
        ASSERT_EQ(::RegSetValueExA(key.Get(), "Prev", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                                   sizeof number),
                  ERROR_SUCCESS);
    }
    EXPECT_EQ(ReadResumePosition(), -1);
    Settings.ResumeLast = true;
    Settings.Order = kOrderBackward;
    TBitmap bitmap(64, 32);
    LoadNextPicture(bitmap);
    EXPECT_EQ(ShowSequence.CurrentIndex, 6);
}

TEST_F(ShowSequencing, MissingFilesAreSkippedUntilTheLimit) {
    Catalogue({"a.jpg", "b.jpg"});
    Catalogue({"gone.jpg"}, false);
    TBitmap bitmap(64, 32);
    LoadNextPicture(bitmap);
    LoadNextPicture(bitmap);
    LoadNextPicture(bitmap);
    EXPECT_EQ(prepared,
              (std::vector<std::string>{Path("a.jpg"), Path("b.jpg"), Path("gone.jpg"), Path("a.jpg")}));
    EXPECT_EQ(bitmap.Bits[0], 0x7F);

    // All unreadable: five attempts, then the message in red.
    for (const std::string& f : files) ::DeleteFileA(f.c_str());
    prepared.clear();
    LoadNextPicture(bitmap);
    EXPECT_EQ(prepared.size(), 5u);
}

// Rows of the bitmap holding red text pixels, and the columns they span.
struct TRedArea {
    int top = -1, bottom = -1, left = -1, right = -1, count = 0;
};
TRedArea RedPixels(const TBitmap& b) {
    TRedArea a;
    for (int y = 0; y < b.Height; ++y) {
        for (int x = 0; x < b.Width; ++x) {
            const std::uint8_t* p = b.Bits + (static_cast<std::size_t>(y) * b.Width + x) * 4;
            if (p[2] > 128 && p[1] < 64 && p[0] < 64) {
                if (a.top < 0) a.top = y;
                a.bottom = y;
                a.left = a.left < 0 ? x : std::min(a.left, x);
                a.right = std::max(a.right, x);
                ++a.count;
            }
        }
    }
    return a;
}

TEST_F(ShowSequencing, MessagesAreRedCentredOneLineAboveTheMiddle) {
    TBitmap bitmap(640, 480);
    LoadNextPicture(bitmap);  // empty catalogue
    EXPECT_TRUE(prepared.empty());
    const TRedArea a = RedPixels(bitmap);
    ASSERT_GT(a.count, 50);
    TEXTMETRICA tm{};
    SIZE extent{};
    {
        TSelectGuard font(bitmap.DC(), MessageFontHandle());
        ::GetTextMetricsA(bitmap.DC(), &tm);
        ::GetTextExtentPoint32A(bitmap.DC(), kNoPicturesMessage, 20, &extent);
    }
    const int top = MessageLineTop(480, tm.tmHeight, 0);
    EXPECT_GE(a.top, top);
    EXPECT_LE(a.bottom, top + tm.tmHeight);
    EXPECT_LT(a.bottom, 240 - tm.tmHeight / 2);  // wholly above the line through the centre
    EXPECT_NEAR((a.left + a.right) / 2.0, 320.0, 4.0);
    // The whole text, not a clipped part of it.
    EXPECT_NEAR(a.right - a.left + 1, extent.cx, tm.tmAveCharWidth);

    // Lines split at carriage returns; the second sits one step lower.
    TBitmap two(640, 480);
    DrawMessage(two, "ab\rcd", kMessageColour);
    const TRedArea b = RedPixels(two);
    EXPECT_GE(b.bottom, MessageLineTop(480, tm.tmHeight, 1));
    EXPECT_LT(b.top, MessageLineTop(480, tm.tmHeight, 1));
}

// ---------------------------------------------------------------------------
// The saver window's exit rules, driven by real messages.

class SaverWindowRules : public ::testing::Test {
protected:
    void SetUp() override {
        LaunchedFromDialog = false;
        StopRequested = 0;
        F12Seen = false;
        LastMousePosition = 0;
    }
    void TearDown() override {
        if (run.Window && ::IsWindow(run.Window)) ::DestroyWindow(run.Window);
        if (host) ::DestroyWindow(host);
        StopRequested = 0;
    }

    void FullScreenWindow() {
        run.FullScreen = true;
        run.Window = CreateSaverWindow(run, nullptr, 0, 0, 320, 240);
        ASSERT_NE(run.Window, nullptr);
        StopRequested = 0;  // its creation may already have moved the mouse word
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
    EXPECT_EQ(StopRequested, 0);
    // A second F12 is an ordinary key.
    Key(VK_F12);
    EXPECT_EQ(StopRequested, 1);
}

TEST_F(SaverWindowRules, F11WithoutF12AndOtherKeysStop) {
    FullScreenWindow();
    Key(VK_F11);
    EXPECT_EQ(StopRequested, 1);
    EXPECT_FALSE(run.CrashTestArmed);
    StopRequested = 0;
    ::SendMessageA(run.Window, WM_SYSKEYDOWN, VK_MENU, 1);
    EXPECT_EQ(StopRequested, 1);
}

TEST_F(SaverWindowRules, FifteenthNewMousePositionStops) {
    FullScreenWindow();
    for (int i = 1; i <= 14; ++i) {
        Move(100 + i, 50);
        Move(100 + i, 50);  // the same position again does not count
    }
    EXPECT_EQ(StopRequested, 0);
    EXPECT_EQ(run.MouseAllowance, 1);
    Move(7, 7);
    EXPECT_EQ(StopRequested, 1);
}

TEST_F(SaverWindowRules, ClicksStop) {
    FullScreenWindow();
    for (UINT msg : {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN}) {
        StopRequested = 0;
        ::SendMessageA(run.Window, msg, 0, 0);
        EXPECT_EQ(StopRequested, 1) << msg;
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
    EXPECT_EQ(StopRequested, 0);  // one move of fifteen

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
    EXPECT_EQ(StopRequested, 1);  // WM_DESTROY

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
    EXPECT_EQ(StopRequested, 1);
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
    EXPECT_EQ(StopRequested, 1);
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
    EXPECT_EQ(StopRequested, 0);
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

// ---------------------------------------------------------------------------
// A whole preview run in this process, as the dialog starts one: the render
// and loader threads run until the host is hidden, then the run returns.

std::atomic<int> hostBlackPixels{-1};  // of the host's client area on screen, two seconds into the run
HWND previewHost = nullptr;
DWORD captureAt = 0;

// Under Wine, reading the screen back on one thread while Mesa draws into
// the same X display on another can deadlock both, so the shot is taken on
// the render thread itself, between two frames.
void CaptureHost(const TFrameEvent& e) {
    if (e.What != TFrameEvent::Kind::Drawn || hostBlackPixels != -1 ||
        static_cast<LONG>(::GetTickCount() - captureAt) < 0)
        return;
    RECT r{};
    ::GetClientRect(previewHost, &r);
    POINT origin{0, 0};
    ::ClientToScreen(previewHost, &origin);
    TWindowDC screen(nullptr);
    TBitmap shot(r.right, r.bottom);
    ::BitBlt(shot.DC(), 0, 0, r.right, r.bottom, screen.Get(), origin.x, origin.y, SRCCOPY);
    ::GdiFlush();
    int black = 0;
    for (int i = 0; i < r.right * r.bottom; ++i)
        black += (shot.Bits[i * 4] | shot.Bits[i * 4 + 1] | shot.Bits[i * 4 + 2]) == 0;
    hostBlackPixels = black;
}

VOID CALLBACK HideHost(HWND wnd, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(wnd, id);
    ::ShowWindow(wnd, SW_HIDE);
}

TEST_F(ShowSequencing, PreviewRunFromTheDialogEndsWhenTheHostIsHidden) {
    Catalogue({"a.jpg", "b.jpg"});
    Settings.Order = kOrderForward;
    HWND host = ::CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 320, 240,
                                  nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(host, nullptr);
    previewHost = host;
    hostBlackPixels = -1;
    captureAt = ::GetTickCount() + 2000;
    RenderHooks().ObserveFrame = CaptureHost;
    ::SetTimer(host, 1, 2500, HideHost);
    LaunchedFromDialog = true;
    const TRunSummary summary = RunSaver(host);
    LaunchedFromDialog = false;
    RenderHooks().ObserveFrame = nullptr;

    // Nothing of the run is left: its window, its loader.
    ASSERT_NE(summary.Window, nullptr);
    EXPECT_FALSE(::IsWindow(summary.Window));
    EXPECT_EQ(::FindWindowA(kSaverClass, nullptr), nullptr);
    EXPECT_TRUE(summary.LoaderEnded);
    EXPECT_GT(summary.FramesPerSecond, 0);  // measured after the first second
    // The scene's black space fills the host (a STATIC's face is grey).
    EXPECT_GT(hostBlackPixels, 300 * 200 / 2);
    EXPECT_EQ(StopRequested, 1);
    // The loader prepared the first picture at least.
    ASSERT_FALSE(prepared.empty());
    EXPECT_EQ(prepared[0], Path("a.jpg"));
    // A preview records no "FPS" and does not touch "Prev".
    TRegKey key = OpenRegKey(HKEY_CURRENT_USER, kSettingsKey);
    EXPECT_FALSE(ReadRegString(key.Get(), "FPS"));
    EXPECT_FALSE(ReadRegString(key.Get(), "Prev"));
    ::DestroyWindow(host);
    RunFlags = 0;
}

// ---------------------------------------------------------------------------
// Full-screen runs from the dialog: the teardown runs on this thread and
// returns, so what it restores and records can be read back.

struct TFullScreenWatch {
    double stopAfterMs = 0.0;     // stop once this much motion has been stepped
    double steppedMs = 0.0;       // motion so far (FrameStep / 0.02)
    BOOL runningDuringShow = -1;  // SPI_GETSCREENSAVERRUNNING seen from the render thread
};
TFullScreenWatch watch;

void WatchFrames(const TFrameEvent& e) {
    if (e.What == TFrameEvent::Kind::Launched && watch.stopAfterMs <= 0) StopRequested = 1;
    if (e.What != TFrameEvent::Kind::Stepped) return;
    if (watch.runningDuringShow == -1)
        ::SystemParametersInfoA(SPI_GETSCREENSAVERRUNNING, 0, &watch.runningDuringShow, 0);
    watch.steppedMs += e.FrameStep / 0.02;
    if (watch.stopAfterMs != 0 && watch.steppedMs >= watch.stopAfterMs) StopRequested = 1;
}

// Runs a full-screen show from the dialog until `ms` of motion have passed;
// 0: until the first picture is launched; negative: only the first step.
TRunSummary FullScreenRun(double ms) {
    watch = TFullScreenWatch();
    watch.stopAfterMs = ms;
    RenderHooks().ObserveFrame = WatchFrames;
    LaunchedFromDialog = true;
    const TRunSummary summary = RunSaver(nullptr);
    LaunchedFromDialog = false;
    RenderHooks().ObserveFrame = nullptr;
    RunFlags = 0;
    return summary;
}

TEST_F(ShowSequencing, FullScreenTeardownRestoresAndRecords) {
    Catalogue({"a.jpg", "b.jpg"});
    Settings.ResumeLast = true;
    const int cursorBefore = ::ShowCursor(TRUE);
    ::ShowCursor(FALSE);

    // A run of more than a second records its frame rate and where it stopped.
    const TRunSummary summary = FullScreenRun(1500);
    ASSERT_NE(summary.Window, nullptr);
    EXPECT_FALSE(::IsWindow(summary.Window));
    EXPECT_EQ(::FindWindowA(kSaverClass, nullptr), nullptr);
    const int cursorAfter = ::ShowCursor(TRUE);
    ::ShowCursor(FALSE);
    EXPECT_EQ(cursorAfter, cursorBefore);
    BOOL running = TRUE;
    ::SystemParametersInfoA(SPI_GETSCREENSAVERRUNNING, 0, &running, 0);
    EXPECT_FALSE(running);
    EXPECT_TRUE(watch.runningDuringShow);
    TRegKey key = OpenRegKey(HKEY_CURRENT_USER, kSettingsKey);
    const std::optional<std::string> fps = ReadRegString(key.Get(), "FPS");
    ASSERT_TRUE(fps);
    EXPECT_GT(std::stoi(*fps), 0);
    EXPECT_EQ(ReadRegString(key.Get(), "Prev"), "0?" + Path("a.jpg"));

    // The next run resumes after it.
    prepared.clear();
    FullScreenRun(0);
    ASSERT_FALSE(prepared.empty());
    EXPECT_EQ(prepared[0], Path("b.jpg"));

    // A run shorter than a second records no rate, not even the one an
    // earlier run of this process measured.
    {
        TRegKey writable = CreateRegKey(HKEY_CURRENT_USER, kSettingsKey);
        ASSERT_EQ(::RegDeleteValueA(writable.Get(), "FPS"), ERROR_SUCCESS);
    }
    FullScreenRun(-1);
    EXPECT_FALSE(ReadRegString(key.Get(), "FPS"));
    EXPECT_TRUE(ReadRegString(key.Get(), "Prev"));
}

}  // namespace

namespace {

VOID CALLBACK JustHideHost(HWND wnd, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(wnd, id);
    ::ShowWindow(wnd, SW_HIDE);
}

TEST_F(ShowSequencing, PreviewInAHostWithoutClientAreaRunsAndEnds) {
    Catalogue({"a.jpg"});
    HWND host = ::CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, 0, 0, nullptr, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(host, nullptr);
    ::SetTimer(host, 1, 1500, JustHideHost);
    LaunchedFromDialog = true;
    const TRunSummary summary = RunSaver(host);
    LaunchedFromDialog = false;
    EXPECT_FALSE(::IsWindow(summary.Window));
    EXPECT_TRUE(summary.LoaderEnded);
    EXPECT_FALSE(prepared.empty());  // the loader ran
    ::DestroyWindow(host);
    RunFlags = 0;
}

}  // namespace
