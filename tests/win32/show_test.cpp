#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "session/settings.h"
#include "base/run_state.h"
#include "base/handles_win32.h"
#include "base/registry_win32.h"
#include "catalogue/hidden_list_win32.h"
#include "catalogue/piclist.h"
#include "catalogue/sequence.h"
#include "catalogue/sequence_win32.h"
#include "diag/crash_report_win32.h"
#include "diag/fault_guard_win32.h"
#include "imaging/bitmap_text.h"
#include "imaging/bitmap_text_win32.h"
#include "imaging/bitmap_win32.h"
#include "imaging/prepare_win32.h"
#include "render/hooks_win32.h"
#include "render/loader_win32.h"
#include "render/runloop_win32.h"
#include "render/saver_windows_win32.h"
#include "base/text.h"
#include "tests/win32/test_session.h"

namespace {
// The process's session, which the tests below set up and hand on.
TSession& Session = TestSession();
}  // namespace

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
    TSaverRuns runs_{Session};  // the dialog's runs, over the process's session

    void SetUp() override {
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
        char temp[MAX_PATH];
        ::GetTempPathA(MAX_PATH, temp);
        folder = std::string(temp) + "qv_show_test";
        ::CreateDirectoryA(folder.c_str(), nullptr);
        Session.PicList.Clear();
        Session.Hidden.Clear();
        Session.Sequence = TShowSequence();
        order = TSequenceOptions();
        order.Order = kOrderForward;
        prepared.clear();
        RenderHooks().PreparePicture = PrepareExistingFile;
        Session.MessageFont.SetHeight(-16);
    }
    void TearDown() override {
        RenderHooks().PreparePicture = nullptr;
        for (const std::string& f : files) ::DeleteFileA(f.c_str());
        ::RemoveDirectoryA(folder.c_str());
        Session.PicList.Clear();
        Session.Hidden.Clear();
        Session.MessageFont.Free();
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
        Session.PicList.Add(std::move(root));
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
    TSequenceOptions order;  // the show's order, as a run hands it to its loader
    std::vector<std::string> files;
};

TEST_F(ShowSequencing, ResumeRoundTripsThroughTheRegistry) {
    Catalogue({"a.jpg", "b.jpg", "c.jpg"});
    order.ResumeLast = true;
    SaveResumePosition(Session.PicList, 1, order.ResumeLast);
    EXPECT_EQ(Prev(), "1?" + Path("b.jpg"));
    EXPECT_EQ(ReadResumePosition(Session.PicList), 1);

    TBitmap bitmap(64, 32);
    LoadNextPicture(bitmap, SessionShow(), order, SessionPrepare(), Session.MessageFont);
    EXPECT_EQ(Session.Sequence.CurrentIndex, 2);
    EXPECT_EQ(prepared, std::vector<std::string>{Path("c.jpg")});

    // With ResumeLast off the show ends by emptying "Prev".
    order.ResumeLast = false;
    SaveResumePosition(Session.PicList, 2, order.ResumeLast);
    EXPECT_EQ(Prev(), "");
    // An index outside the catalogue is recorded as empty too.
    order.ResumeLast = true;
    SaveResumePosition(Session.PicList, 3, order.ResumeLast);
    EXPECT_EQ(Prev(), "");
}

TEST_F(ShowSequencing, MovedPictureAndOddValues) {
    Catalogue({"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg", "moved.jpg", "g.jpg"});
    SetPrev("1?" + Path("moved.jpg"));
    EXPECT_EQ(ReadResumePosition(Session.PicList), 5);
    // Case differs only in A to Z at the recorded index: still that picture.
    SetPrev("5?" + LowerAscii(Path("MOVED.JPG")));
    EXPECT_EQ(ReadResumePosition(Session.PicList), 5);

    // A value that is not text reads as empty and must not stop the show.
    {
        TRegKey key = CreateRegKey(HKEY_CURRENT_USER, kSettingsKey);
        const DWORD number = 3;
        ASSERT_EQ(::RegSetValueExA(key.Get(), "Prev", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                                   sizeof number),
                  ERROR_SUCCESS);
    }
    EXPECT_EQ(ReadResumePosition(Session.PicList), -1);
    order.ResumeLast = true;
    order.Order = kOrderBackward;
    TBitmap bitmap(64, 32);
    LoadNextPicture(bitmap, SessionShow(), order, SessionPrepare(), Session.MessageFont);
    EXPECT_EQ(Session.Sequence.CurrentIndex, 6);
}

TEST_F(ShowSequencing, MissingFilesAreSkippedUntilTheLimit) {
    Catalogue({"a.jpg", "b.jpg"});
    Catalogue({"gone.jpg"}, false);
    TBitmap bitmap(64, 32);
    LoadNextPicture(bitmap, SessionShow(), order, SessionPrepare(), Session.MessageFont);
    LoadNextPicture(bitmap, SessionShow(), order, SessionPrepare(), Session.MessageFont);
    LoadNextPicture(bitmap, SessionShow(), order, SessionPrepare(), Session.MessageFont);
    EXPECT_EQ(prepared,
              (std::vector<std::string>{Path("a.jpg"), Path("b.jpg"), Path("gone.jpg"), Path("a.jpg")}));
    EXPECT_EQ(bitmap.Bits[0], 0x7F);

    // All unreadable: five attempts, then the message in red.
    for (const std::string& f : files) ::DeleteFileA(f.c_str());
    prepared.clear();
    LoadNextPicture(bitmap, SessionShow(), order, SessionPrepare(), Session.MessageFont);
    EXPECT_EQ(prepared.size(), 5u);
}

TEST_F(ShowSequencing, HiddenPicturesArePassedOverAndHidingAllSaysNoPictures) {
    Catalogue({"a.jpg", "b.jpg", "c.jpg"});
    Session.Hidden.Add(Path("B.JPG"));  // compared as the catalogue compares
    TShowPictures show = SessionShow();
    show.Hidden = &Session.Hidden;
    TBitmap bitmap(320, 64);
    for (int i = 0; i < 4; ++i) LoadNextPicture(bitmap, show, order, SessionPrepare(), Session.MessageFont);
    EXPECT_EQ(prepared, (std::vector<std::string>{Path("a.jpg"), Path("c.jpg"), Path("a.jpg"), Path("c.jpg")}));
    // The steering keys' way to a picture refuses a hidden one.
    prepared.clear();
    EXPECT_FALSE(LoadPictureAt(bitmap, show, 1, SessionPrepare()));
    EXPECT_TRUE(LoadPictureAt(bitmap, show, 2, SessionPrepare()));
    EXPECT_EQ(prepared, std::vector<std::string>{Path("c.jpg")});

    // The rest unreadable: Present + 2 = 4 attempts, then "Can't read pictures".
    TBitmap unreadable(320, 64);
    DrawMessage(unreadable, kUnreadableMessage, Session.MessageFont);
    for (const std::string& f : files) ::DeleteFileA(f.c_str());
    prepared.clear();
    EXPECT_EQ(LoadNextPicture(bitmap, show, order, SessionPrepare(), Session.MessageFont), -1);
    EXPECT_EQ(prepared.size(), 4u);
    EXPECT_EQ(std::vector<std::uint8_t>(bitmap.Bits, bitmap.Bits + 320 * 64 * 4),
              std::vector<std::uint8_t>(unreadable.Bits, unreadable.Bits + 320 * 64 * 4));

    // Everything hidden, in every order: nothing prepared, "No pictures selected".
    TBitmap none(320, 64);
    DrawMessage(none, kNoPicturesMessage, Session.MessageFont);
    Session.Hidden.Add(Path("a.jpg"));
    Session.Hidden.Add(Path("c.jpg"));
    for (std::int32_t o : {kOrderForward, kOrderRandom, kOrderBackward}) {
        order.Order = o;
        prepared.clear();
        EXPECT_EQ(LoadNextPicture(bitmap, show, order, SessionPrepare(), Session.MessageFont), -1) << o;
        EXPECT_TRUE(prepared.empty()) << o;
        EXPECT_EQ(std::vector<std::uint8_t>(bitmap.Bits, bitmap.Bits + 320 * 64 * 4),
                  std::vector<std::uint8_t>(none.Bits, none.Bits + 320 * 64 * 4))
            << o;
    }
}

TEST_F(ShowSequencing, HidingDuringAShowKeepsTheFileAndAddsToIt) {
    Catalogue({"a.jpg", "b.jpg"});
    Session.Settings.CatalogueFile = folder + "\\piclist.dat";
    const std::string file = Session.HiddenFile();
    files.push_back(file);
    // The file holds a picture the dialog has unhidden in memory, unsaved.
    THiddenList saved;
    saved.Add(Path("a.jpg"));
    SaveHiddenList(saved, file);
    Session.HidePicture(Path("b.jpg"));
    EXPECT_TRUE(Session.Hidden.Contains(Path("b.jpg")));
    EXPECT_FALSE(Session.Hidden.Contains(Path("a.jpg")));
    const THiddenList reread = LoadHiddenList(file);
    EXPECT_EQ(reread.Paths(), (std::vector<std::string>{Path("a.jpg"), Path("b.jpg")}));
    Session.Settings.CatalogueFile.clear();
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
    LoadNextPicture(bitmap, SessionShow(), order, SessionPrepare(), Session.MessageFont);  // empty catalogue
    EXPECT_TRUE(prepared.empty());
    const TRedArea a = RedPixels(bitmap);
    ASSERT_GT(a.count, 50);
    TEXTMETRICA tm{};
    SIZE extent{};
    {
        TSelectGuard font(bitmap.DC(), Session.MessageFont.Handle());
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
    DrawMessage(two, "ab\rcd", Session.MessageFont, kMessageColour);
    const TRedArea b = RedPixels(two);
    EXPECT_GE(b.bottom, MessageLineTop(480, tm.tmHeight, 1));
    EXPECT_LT(b.top, MessageLineTop(480, tm.tmHeight, 1));
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
    Session.Settings.Order = kOrderForward;
    HWND host = ::CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 320, 240,
                                  nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(host, nullptr);
    previewHost = host;
    hostBlackPixels = -1;
    captureAt = ::GetTickCount() + 2000;
    RenderHooks().ObserveFrame = CaptureHost;
    ::SetTimer(host, 1, 2500, HideHost);
    RunState.LaunchedFromDialog = true;
    const TRunSummary summary = runs_.Run(host);
    RunState.LaunchedFromDialog = false;
    RenderHooks().ObserveFrame = nullptr;

    // Nothing of the run is left: its window, its loader.
    ASSERT_NE(summary.Window, nullptr);
    EXPECT_FALSE(::IsWindow(summary.Window));
    EXPECT_EQ(::FindWindowA(kSaverClass, nullptr), nullptr);
    EXPECT_TRUE(summary.LoaderEnded);
    EXPECT_GT(summary.FramesPerSecond, 0);  // measured after the first second
    // The scene's black space fills the host (a STATIC's face is grey).
    EXPECT_GT(hostBlackPixels, 300 * 200 / 2);
    EXPECT_EQ(RunState.StopRequested, 1);
    // The loader prepared the first picture at least.
    ASSERT_FALSE(prepared.empty());
    EXPECT_EQ(prepared[0], Path("a.jpg"));
    // A preview records no "FPS" and does not touch "Prev".
    TRegKey key = OpenRegKey(HKEY_CURRENT_USER, kSettingsKey);
    EXPECT_FALSE(ReadRegString(key.Get(), "FPS"));
    EXPECT_FALSE(ReadRegString(key.Get(), "Prev"));
    ::DestroyWindow(host);
    RunState.Flags = 0;
}

// ---------------------------------------------------------------------------
// Full-screen runs from the dialog: the teardown runs on this thread and
// returns, so what it restores and records can be read back.

struct TFullScreenWatch {
    double stopAfterMs = 0.0;     // stop once this much motion has been stepped
    double steppedMs = 0.0;       // motion so far (FrameStep / 0.02)
    BOOL runningDuringShow = -1;  // SPI_GETSCREENSAVERRUNNING seen from the render thread
    std::vector<RECT> covers;     // the visible cover windows when the first picture was launched
    RECT saver{};                 // the saver window then
    bool launched = false;
};
TFullScreenWatch watch;

BOOL CALLBACK NoteCover(HWND wnd, LPARAM) {
    char name[64] = "";
    DWORD pid = 0;
    ::GetWindowThreadProcessId(wnd, &pid);
    if (pid == ::GetCurrentProcessId() && ::GetClassNameA(wnd, name, sizeof name) &&
        ::IsWindowVisible(wnd)) {
        RECT r{};
        ::GetWindowRect(wnd, &r);
        if (std::string(name) == kCoverClass) watch.covers.push_back(r);
        if (std::string(name) == kSaverClass) watch.saver = r;
    }
    return TRUE;
}

void WatchFrames(const TFrameEvent& e) {
    if (e.What == TFrameEvent::Kind::Launched && !watch.launched) {
        watch.launched = true;
        ::EnumWindows(NoteCover, 0);
    }
    if (e.What == TFrameEvent::Kind::Launched && watch.stopAfterMs <= 0) RunState.StopRequested = 1;
    if (e.What != TFrameEvent::Kind::Stepped) return;
    if (watch.runningDuringShow == -1)
        ::SystemParametersInfoA(SPI_GETSCREENSAVERRUNNING, 0, &watch.runningDuringShow, 0);
    watch.steppedMs += e.FrameStep / 0.02;
    if (watch.stopAfterMs != 0 && watch.steppedMs >= watch.stopAfterMs) RunState.StopRequested = 1;
}

// Runs a full-screen show from the dialog until `ms` of motion have passed;
// 0: until the first picture is launched; negative: only the first step.
TRunSummary FullScreenRun(double ms) {
    watch = TFullScreenWatch();
    watch.stopAfterMs = ms;
    RenderHooks().ObserveFrame = WatchFrames;
    RunState.LaunchedFromDialog = true;
    const TRunSummary summary = TSaverRuns(Session).Run(nullptr);
    RunState.LaunchedFromDialog = false;
    RenderHooks().ObserveFrame = nullptr;
    RunState.Flags = 0;
    return summary;
}

TEST_F(ShowSequencing, FullScreenTeardownRestoresAndRecords) {
    Catalogue({"a.jpg", "b.jpg"});
    Session.Settings.ResumeLast = true;
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

// Steering keys sent to a running full-screen show, one after each launch,
// as the user would press them while the picture is on screen.
struct TSteerScript {
    std::vector<WPARAM> keys;          // sent after launches 1, 2, ...
    std::vector<std::string> launched; // the picture of each launch
    std::vector<DWORD> delays;         // ms from each key to the next launch
    DWORD keyTick = 0;
};
TSteerScript steerScript;

void SteerOnLaunch(const TFrameEvent& e) {
    if (e.What != TFrameEvent::Kind::Launched) return;
    TSteerScript& s = steerScript;
    // The loader waits with the picture it has just prepared: that is the one launched.
    s.launched.push_back(prepared.empty() ? std::string() : prepared.back());
    if (s.keyTick != 0) s.delays.push_back(::GetTickCount() - s.keyTick);
    if (s.launched.size() > s.keys.size()) {
        RunState.StopRequested = 1;
        return;
    }
    s.keyTick = ::GetTickCount();
    ::PostMessageA(::FindWindowA(kSaverClass, nullptr), WM_KEYDOWN, s.keys[s.launched.size() - 1], 1);
}

TEST_F(ShowSequencing, KeysBringTheNextAndPreviousPictureAndHideOne) {
    Catalogue({"a.jpg", "b.jpg", "c.jpg", "d.jpg"});
    Session.Settings.ResumeLast = true;
    Session.Settings.Show.KeysSteer = true;
    Session.Settings.CatalogueFile = folder + "\\piclist.dat";
    const std::string hiddenFile = Session.HiddenFile();
    files.push_back(hiddenFile);
    steerScript = TSteerScript();
    steerScript.keys = {VK_RIGHT, VK_RIGHT, VK_LEFT, VK_LEFT, 'H', VK_RIGHT};
    RenderHooks().ObserveFrame = SteerOnLaunch;
    RunState.LaunchedFromDialog = true;
    TSaverRuns(Session).Run(nullptr);
    RunState.LaunchedFromDialog = false;
    RenderHooks().ObserveFrame = nullptr;
    RunState.Flags = 0;
    Session.Settings.Show.KeysSteer = false;
    Session.Settings.CatalogueFile.clear();

    // a, on to b and c, back to b and a; H hides a, and the show goes on
    // with what followed it, b, then on to c.
    EXPECT_EQ(steerScript.launched,
              (std::vector<std::string>{Path("a.jpg"), Path("b.jpg"), Path("c.jpg"), Path("b.jpg"), Path("a.jpg"),
                                        Path("b.jpg"), Path("c.jpg")}));
    for (DWORD d : steerScript.delays) EXPECT_LT(d, 1000u);
    EXPECT_TRUE(Session.Hidden.Contains(Path("a.jpg")));
    EXPECT_TRUE(LoadHiddenList(hiddenFile).Contains(Path("a.jpg")));
    // The resume position is the picture on screen at the end.
    EXPECT_EQ(Prev(), "2?" + Path("c.jpg"));
}

// A preparation that lasts until the run stops: the user dismisses the
// saver while the first picture is still being prepared.
bool PrepareUntilStopped(TBitmap& bitmap, const std::string& path) {
    prepared.push_back(path);
    while (!DecodeCancelled()) ::Sleep(1);
    bitmap.Clear();
    return false;
}

void StopWhenPreparing(const TFrameEvent& e) {
    if (e.What == TFrameEvent::Kind::Drawn && !prepared.empty()) RunState.StopRequested = 1;
}

TEST_F(ShowSequencing, ARunThatShowedNoPictureKeepsTheResumePosition) {
    Catalogue({"a.jpg", "b.jpg", "c.jpg"});
    Session.Settings.ResumeLast = true;
    SetPrev("1?" + Path("b.jpg"));
    RenderHooks().PreparePicture = PrepareUntilStopped;
    RenderHooks().ObserveFrame = StopWhenPreparing;
    RunState.LaunchedFromDialog = true;
    runs_.Run(nullptr);
    RunState.LaunchedFromDialog = false;
    RenderHooks().ObserveFrame = nullptr;
    RunState.Flags = 0;
    // The picture in preparation was never shown: the next show starts
    // with it, not after it.
    EXPECT_EQ(prepared, std::vector<std::string>{Path("c.jpg")});
    EXPECT_EQ(Prev(), "1?" + Path("b.jpg"));

    // Nor does a run with nothing to show erase the position.
    Session.PicList.Clear();
    RenderHooks().PreparePicture = PrepareExistingFile;
    FullScreenRun(0);
    EXPECT_EQ(Prev(), "1?" + Path("b.jpg"));
}

// Run by ctest on a display of twelve monitors: more than the eleven a
// fixed monitor table would hold.
class ManyMonitors : public ShowSequencing {};

BOOL CALLBACK NoteOtherMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (::GetMonitorInfoA(monitor, &info) && (info.dwFlags & MONITORINFOF_PRIMARY) == 0)
        reinterpret_cast<std::vector<RECT>*>(data)->push_back(info.rcMonitor);
    return TRUE;
}

TEST_F(ManyMonitors, EveryOtherMonitorIsCoveredWhileTheShowRuns) {
    std::vector<RECT> others;
    ::EnumDisplayMonitors(nullptr, nullptr, NoteOtherMonitor, reinterpret_cast<LPARAM>(&others));
    ASSERT_GE(others.size(), 11u) << "needs a display of twelve monitors or more";
    Catalogue({"a.jpg"});
    const TRunSummary summary = FullScreenRun(0);  // until the first picture flies
    ASSERT_TRUE(watch.launched);
    const auto order = [](const RECT& a, const RECT& b) {
        return std::make_pair(a.left, a.top) < std::make_pair(b.left, b.top);
    };
    std::sort(others.begin(), others.end(), order);
    std::sort(watch.covers.begin(), watch.covers.end(), order);
    ASSERT_EQ(watch.covers.size(), others.size());
    for (std::size_t i = 0; i < others.size(); ++i) EXPECT_TRUE(::EqualRect(&watch.covers[i], &others[i])) << i;
    EXPECT_FALSE(::IsWindow(summary.Window));
    EXPECT_EQ(::FindWindowA(kCoverClass, nullptr), nullptr);
}

// Photos on every monitor: one saver window over all of them and no cover,
// a picture of its own for each monitor whose turn has come (the flights
// start one after another), and "Prev" from the primary's flight.
TEST_F(ManyMonitors, PhotosOnEveryMonitorSpreadOneWindowAndGiveEachMonitorItsOwnPicture) {
    std::vector<std::string> names;
    for (char c = 'a'; c <= 'p'; ++c) names.push_back(std::string(1, c) + ".jpg");
    Catalogue(names);
    Session.Settings.Order = 1;
    Session.Settings.ResumeLast = true;
    Session.Settings.Show.EveryMonitor = true;
    Session.Settings.Show.Speed = TFlightSpeed::Faster;  // 6.5 s flights: one starts every 0.54 s
    // 4 s of motion at the standard speed: 2.6 s of this one.
    const TRunSummary summary = FullScreenRun(4000);
    Session.Settings = TSettings();
    ASSERT_TRUE(watch.launched);
    EXPECT_TRUE(watch.covers.empty());
    const RECT all = {::GetSystemMetrics(SM_XVIRTUALSCREEN), ::GetSystemMetrics(SM_YVIRTUALSCREEN),
                      ::GetSystemMetrics(SM_XVIRTUALSCREEN) + ::GetSystemMetrics(SM_CXVIRTUALSCREEN),
                      ::GetSystemMetrics(SM_YVIRTUALSCREEN) + ::GetSystemMetrics(SM_CYVIRTUALSCREEN)};
    EXPECT_TRUE(::EqualRect(&watch.saver, &all));
    EXPECT_GE(prepared.size(), 4u);
    std::vector<std::string> distinct = prepared;
    std::sort(distinct.begin(), distinct.end());
    EXPECT_EQ(std::unique(distinct.begin(), distinct.end()), distinct.end());
    EXPECT_EQ(Prev(), "0?" + Path("a.jpg"));
    EXPECT_FALSE(::IsWindow(summary.Window));
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
    RunState.LaunchedFromDialog = true;
    const TRunSummary summary = runs_.Run(host);
    RunState.LaunchedFromDialog = false;
    EXPECT_FALSE(::IsWindow(summary.Window));
    EXPECT_TRUE(summary.LoaderEnded);
    EXPECT_FALSE(prepared.empty());  // the loader ran
    ::DestroyWindow(host);
    RunState.Flags = 0;
}

}  // namespace

namespace {

// ---------------------------------------------------------------------------
// A run from the dialog keeps the dialog: an error preparing a picture makes
// that picture unreadable, and a fault on the loader ends the loader alone.

std::atomic<int> launches{0};
std::atomic<int> framesAfterFault{0};
std::atomic<bool> faulted{false};

__attribute__((noinline)) void WriteNowhere() {
    volatile std::uintptr_t nowhere = 16;
    *reinterpret_cast<volatile std::int32_t*>(nowhere) = 1;
}

// a.jpg raises an error, b.jpg prepares, c.jpg faults.
bool PrepareRaiseThenFault(TBitmap& bitmap, const std::string& path) {
    prepared.push_back(path);
    bitmap.Clear();
    if (path.find("a.jpg") != std::string::npos) throw std::runtime_error("no decoder for this one");
    if (path.find("c.jpg") != std::string::npos) {
        faulted = true;
        WriteNowhere();
    }
    bitmap.Bits[0] = 0x7F;
    return true;
}

void StopAfterTheFault(const TFrameEvent& e) {
    if (e.What == TFrameEvent::Kind::Launched) ++launches;
    if (e.What != TFrameEvent::Kind::Drawn) return;
    if (faulted && ++framesAfterFault >= 30) RunState.StopRequested = 1;
}

TEST_F(ShowSequencing, ADialogRunSkipsAPictureThatRaisesAndOutlivesAFaultOnItsLoader) {
    InstallCrashHooks();  // as the program's entry does: a fault reaches the process's filter
    Catalogue({"a.jpg", "b.jpg", "c.jpg"});
    launches = 0;
    framesAfterFault = 0;
    faulted = false;
    const std::uint32_t faultsBefore = GuardedFaultCount();
    RenderHooks().PreparePicture = PrepareRaiseThenFault;
    RenderHooks().ObserveFrame = StopAfterTheFault;
    RunState.LaunchedFromDialog = true;
    const TRunSummary summary = runs_.Run(nullptr);
    RunState.LaunchedFromDialog = false;
    RenderHooks().ObserveFrame = nullptr;
    RunState.Flags = 0;
    // Still here: neither the error nor the fault reached the crash report.
    EXPECT_EQ(prepared, (std::vector<std::string>{Path("a.jpg"), Path("b.jpg"), Path("c.jpg")}));
    EXPECT_EQ(launches, 1);  // b.jpg
    EXPECT_EQ(framesAfterFault, 30) << "the show went on after the fault";
    EXPECT_EQ(GuardedFaultCount(), faultsBefore + 1);
    EXPECT_EQ(LastGuardedFault(), static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_TRUE(summary.LoaderEnded);
}

}  // namespace
