#include <windows.h>

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "session/settings.h"
#include "base/exception.h"
#include "base/run_state.h"
#include "diag/crash_report_win32.h"
#include "base/registry_win32.h"
#include "catalogue/piclist.h"
#include "catalogue/sequence.h"
#include "catalogue/sequence_win32.h"
#include "imaging/plugins_win32.h"
#include "imaging/prepare_win32.h"
#include "render/hooks_win32.h"
#include "render/loader_win32.h"
#include "render/runloop_win32.h"
#include "render/saver_windows_win32.h"
#include "tests/win32/plugin_fixture.h"
#include "tests/win32/test_session.h"

namespace {
// The process's session, which the tests below set up and hand on.
TSession& Session = TestSession();
}  // namespace

// Ending runs and decodes: a decode stopped half-way, a decode that never
// returns, many previews in a row, and the paced frames' motion.

namespace {

// ---------------------------------------------------------------------------
// A decode cancelled half-way, with the real BMP plug-in delivering lines.

struct TDecodeJob {
    std::string path;
    std::atomic<bool> cancel{false};
    TBitmap* target = nullptr;
    PictureInfo info;
};

DWORD WINAPI DecodeWithCancel(void* data) {
    auto* job = static_cast<TDecodeJob*>(data);
    SetDecodeCancel(&job->cancel);
    LoadPicture(*job->target, job->path, job->info, SessionPrepare());
    SetDecodeCancel(nullptr);
    return 0;
}

std::uint32_t Gradient(int x, int y) {
    return 0x202020u | static_cast<std::uint32_t>(x & 0x7F) << 16 | static_cast<std::uint32_t>(y & 0x7F) << 8;
}

TEST(CancelledDecode, StopsAtTheNextLineReleasesItsFileAndTheNextDecodeWorks) {
    TInstallFolder folder;
    folder.AddFastmm();
    folder.Add(ProductDll("imgbmp.dll"));
    Session.Settings.rtresize = true;
    folder.Load();
    Session.Settings.FitMode = 2;
    const int w = 3000, h = 2000;
    const auto bytes = MakeBmp24(w, h, Gradient);
    const std::string path = folder.File("big.bmp");
    WriteFileBytes(path, bytes.data(), bytes.size());

    TBitmap target(600, 400);
    target.ShrinkToFit = true;
    PictureInfo cancelled;
    // Raise the flag once the lines have begun to arrive. On a busy machine
    // this thread may not run again before the decode is over; then the
    // decode is tried again.
    for (int attempt = 0; attempt < 5; ++attempt) {
        TDecodeJob job;
        job.path = path;
        job.target = &target;
        const std::uint32_t linesBefore = LineCallsSinceStart();
        HANDLE thread = ::CreateThread(nullptr, 0, DecodeWithCancel, &job, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        while (LineCallsSinceStart() - linesBefore < 20 && ::WaitForSingleObject(thread, 0) == WAIT_TIMEOUT)
            ::Sleep(0);
        job.cancel = true;
        ::WaitForSingleObject(thread, INFINITE);
        ::CloseHandle(thread);
        cancelled = job.info;
        if (cancelled.Lines <= static_cast<std::uint32_t>(h)) break;  // stopped early
    }

    // The plug-in got one refusal and stopped: far from all of its lines.
    EXPECT_EQ(cancelled.RefusedLines, 1u);
    EXPECT_LT(cancelled.Lines, static_cast<std::uint32_t>(h));
    // Nothing of the decode survives, and the file is free: no handle is
    // left open on it, so it can be opened alone and deleted.
    EXPECT_EQ(LineCallbackSlot(), nullptr);
    HANDLE alone = ::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(alone, INVALID_HANDLE_VALUE) << ::GetLastError();
    if (alone != INVALID_HANDLE_VALUE) ::CloseHandle(alone);

    // The next decode on this thread, without a flag, runs to its end.
    TBitmap again(600, 400);
    again.ShrinkToFit = true;
    PictureInfo info;
    LoadPicture(again, path, info, SessionPrepare());
    EXPECT_EQ(info.Width, w);
    EXPECT_EQ(info.Lines, static_cast<std::uint32_t>(h) + 1);
    EXPECT_EQ(info.RefusedLines, 0u);
    // Fitted full width: the last row of the picture is not black.
    const std::uint8_t* last = again.Bits + (static_cast<std::size_t>(399) * 600 + 300) * 4;
    EXPECT_NE(last[0] | last[1] | last[2], 0);
    EXPECT_TRUE(::DeleteFileA(path.c_str()));
}

TEST(CancelledDecode, ACancelledLoaderDecodesNothingMore) {
    std::atomic<bool> cancel{true};
    SetDecodeCancel(&cancel);
    EXPECT_TRUE(DecodeCancelled());
    TBitmap target(64, 48);
    target.Bits[0] = 0x55;
    PictureInfo info;
    LoadPicture(target, "C:\\does-not-matter.bmp", info, SessionPrepare());
    EXPECT_EQ(info.Width, 0);
    EXPECT_EQ(info.FileSize, -1);  // not even opened
    EXPECT_EQ(target.Bits[0], 0);  // left black
    SetDecodeCancel(nullptr);
    EXPECT_FALSE(DecodeCancelled());
}

// ---------------------------------------------------------------------------
// Runs from the dialog: what they leave behind.

int ThreadCount() {
    HANDLE snap = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = ::Thread32First(snap, &entry); more; more = ::Thread32Next(snap, &entry))
        count += entry.th32OwnerProcessID == ::GetCurrentProcessId();
    ::CloseHandle(snap);
    return count;
}

BOOL CALLBACK CountOwnWindow(HWND wnd, LPARAM data) {
    DWORD process = 0;
    ::GetWindowThreadProcessId(wnd, &process);
    if (process == ::GetCurrentProcessId()) ++*reinterpret_cast<int*>(data);
    return TRUE;
}

int WindowCount() {
    int count = 0;
    ::EnumWindows(CountOwnWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

HANDLE releaseDecode = nullptr;  // signalled when the stuck "plug-in" may return
std::atomic<int> decodesEntered{0};

// A decode that does not return until the test lets it: a plug-in stuck in
// a loop, as far as the run can tell.
bool StuckPreparer(TBitmap& bitmap, const std::string&) {
    ++decodesEntered;
    ::WaitForSingleObject(releaseDecode, INFINITE);
    bitmap.Clear();
    return true;
}

bool QuickPreparer(TBitmap& bitmap, const std::string&) {
    bitmap.Clear();
    return true;
}

void StopAtFirstDrawnFrame(const TFrameEvent& e) {
    if (e.What == TFrameEvent::Kind::Drawn) RunState.StopRequested = 1;
}

// Stops once the loader is inside its decode.
void StopWhenDecoding(const TFrameEvent& e) {
    if (e.What == TFrameEvent::Kind::Drawn && decodesEntered > 0) RunState.StopRequested = 1;
}

class DialogRuns : public ::testing::Test {
protected:
    TSaverRuns runs_{Session};  // the dialog's runs, over the process's session

    void SetUp() override {
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
        Session.PicList.Clear();
        TFolderItem root;
        root.FolderPath = "Root";
        root.Pictures.Add("C:\\a.jpg");
        root.Pictures.Add("C:\\b.jpg");
        Session.PicList.Add(std::move(root));
        Session.Sequence = TShowSequence();
        Session.Settings = TSettings();
        host = ::CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 150, nullptr,
                                 nullptr, nullptr, nullptr);
        ASSERT_NE(host, nullptr);
        RunState.LaunchedFromDialog = true;
    }
    void TearDown() override {
        RunState.LaunchedFromDialog = false;
        RenderHooks().ObserveFrame = nullptr;
        RenderHooks().PreparePicture = nullptr;
        if (host) ::DestroyWindow(host);
        Session.PicList.Clear();
        RunState.Flags = 0;
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
    }
    HWND host = nullptr;
};

TEST_F(DialogRuns, AStuckDecodeDoesNotKeepTheRunOnTheScreen) {
    releaseDecode = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    decodesEntered = 0;
    RenderHooks().PreparePicture = StuckPreparer;
    RenderHooks().ObserveFrame = StopWhenDecoding;
    const int threadsBefore = ThreadCount();
    const TRunSummary summary = runs_.Run(host);

    // The run is over and its window gone while the decode is still inside
    // the "plug-in": it was left to finish on its own, with its bitmap.
    EXPECT_EQ(decodesEntered, 1);
    EXPECT_FALSE(::IsWindow(summary.Window));
    EXPECT_FALSE(summary.LoaderEnded);
    EXPECT_EQ(runs_.LingeringLoaderCount(), 1u);
    // The catalogue stays the loader's while it may still read it: the
    // checks see a change from this thread as a fault.
    EXPECT_FALSE(Session.PicList.Owner.CallerMayUse());
    EXPECT_FALSE(runs_.WaitForLingeringLoaders(50));

    // Once the decode returns, the loader ends without touching a thing of
    // a later run and nothing of it remains.
    ::SetEvent(releaseDecode);
    EXPECT_TRUE(runs_.WaitForLingeringLoaders(5000));
    runs_.EndLingeringLoaders();  // ends this process if the loader were still stuck
    EXPECT_EQ(runs_.LingeringLoaderCount(), 0u);
    EXPECT_TRUE(Session.PicList.Owner.CallerMayUse());
    EXPECT_EQ(decodesEntered, 1);
    EXPECT_EQ(ThreadCount(), threadsBefore);
    ::CloseHandle(releaseDecode);
}

// The resume search runs over the whole catalogue when "Prev" names a
// picture no longer in it; a run that stops meanwhile hands the dialog back
// with its loader ended, so the catalogue can be edited at once.
TEST_F(DialogRuns, TheResumeSearchEndsWithTheRun) {
    Session.PicList.Clear();
    for (int f = 0; f < 2000; ++f) {
        TFolderItem folder;
        folder.FolderPath = "C:\\F" + std::to_string(f);
        for (int p = 0; p < 500; ++p) folder.Pictures.Add(folder.FolderPath + "\\" + std::to_string(p) + ".jpg");
        Session.PicList.Add(std::move(folder));
    }
    {
        TRegKey key = CreateRegKey(HKEY_CURRENT_USER, kSettingsKey);
        ASSERT_TRUE(WriteRegString(key.Get(), "Prev", "7?C:\\Elsewhere\\gone.jpg"));
    }
    Session.Settings.Order = kOrderForward;
    Session.Settings.ResumeLast = true;
    RenderHooks().PreparePicture = QuickPreparer;
    RenderHooks().ObserveFrame = StopAtFirstDrawnFrame;
    const TRunSummary summary = runs_.Run(host);
    EXPECT_TRUE(summary.LoaderEnded);
    EXPECT_EQ(runs_.LingeringLoaderCount(), 0u);
    EXPECT_TRUE(Session.PicList.Owner.CallerMayUse());
    Session.PicList.Delete(1);  // what Remove does in the dialog
}

TEST_F(DialogRuns, ManyPreviewsLeaveNoWindowThreadOrGdiObjectBehind) {
    RenderHooks().PreparePicture = QuickPreparer;
    RenderHooks().ObserveFrame = StopAtFirstDrawnFrame;
    runs_.Run(host);  // caches and the window class settle in the first run
    const int windowsBefore = WindowCount(), threadsBefore = ThreadCount();
    const DWORD gdiBefore = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
    // Each run creates a window, a GL context, a bitmap and two threads.
    constexpr int kRuns = 25;
    for (int i = 0; i < kRuns; ++i) {
        const TRunSummary summary = runs_.Run(host);
        ASSERT_FALSE(::IsWindow(summary.Window)) << "run " << i;
    }
    EXPECT_EQ(WindowCount(), windowsBefore);
    EXPECT_EQ(ThreadCount(), threadsBefore);
    EXPECT_EQ(::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS), gdiBefore);
    EXPECT_EQ(runs_.LingeringLoaderCount(), 0u);
}

// A problem report the dialog raises after a preview has ended is about the
// dialog: the run takes its mode and its window out of the report's view.
TEST_F(DialogRuns, AReportAfterThePreviewNamesTheDialog) {
    char temp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "qv_report_after_preview";
    ::CreateDirectoryA(folder.c_str(), nullptr);
    const std::string page = folder + "\\BugReport.html";
    ::DeleteFileA(page.c_str());
    // The browser's stand-in ends at once.
    const std::string viewer = folder + "\\viewer.exe";
    ::CopyFileA((std::string(QV_BIN_DIR) + "/planted_program.exe").c_str(), viewer.c_str(), FALSE);
    RenderHooks().PreparePicture = QuickPreparer;
    RenderHooks().ObserveFrame = StopAtFirstDrawnFrame;
    EXPECT_EXIT(
        {
            InstallCrashHooks();
            SetCrashReportHooks({folder, viewer});
            RunState.Flags = kRunDialog;
            runs_.Run(host);
            const Exception after("raised by the dialog");
            ReportException(&after, RunState.Flags.load());
        },
        ::testing::ExitedWithCode(217), "");
    std::ifstream in(page, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("\r\nApp mode: 1\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\nResolution: 0x0\r\n"), std::string::npos) << text;
    in.close();
    ::DeleteFileA(page.c_str());
}

// ---------------------------------------------------------------------------
// Paced frames: the motion still follows the clock, however long a frame is.

struct TMotion {
    double firstStep = -1.0, lastStep = 0.0;  // PreciseMs of the first and last step
    double units = 0.0;                       // scene units stepped after the first step
    int frames = 0;
    int slowFrame = -1;  // this frame is made to take 50 ms
} motion;

void WatchMotion(const TFrameEvent& e) {
    if (e.What == TFrameEvent::Kind::Drawn && motion.frames == motion.slowFrame) ::Sleep(50);
    if (e.What != TFrameEvent::Kind::Stepped) return;
    const double now = PreciseMs();
    if (motion.firstStep < 0) {
        motion.firstStep = now;
    } else {
        motion.units += e.FrameStep;
    }
    motion.lastStep = now;
    if (++motion.frames >= 60) RunState.StopRequested = 1;
}

TEST_F(DialogRuns, PacedFramesMoveByTheClockEvenWhenAFrameRunsLong) {
    RenderHooks().PreparePicture = QuickPreparer;
    motion = TMotion();
    motion.slowFrame = 20;
    RenderHooks().ObserveFrame = WatchMotion;
    ASSERT_TRUE(FramePacingWanted());
    runs_.Run(host);
    ASSERT_GE(motion.frames, 60);
    // 0.02 units per elapsed millisecond, summed over the frames: the
    // distance covered equals the time passed, the slow frame included (the
    // clock ticks in whole milliseconds, one lost per frame at most).
    const double elapsedMs = motion.lastStep - motion.firstStep;
    EXPECT_GT(elapsedMs, 50.0);
    EXPECT_NEAR(motion.units / 0.02, elapsedMs, motion.frames + 2.0);
}

TEST(FramePacingRate, UnknownRatesCountAsSixtyHertz) {
    EXPECT_DOUBLE_EQ(FramePeriodMs(0), 1000.0 / 60);
    EXPECT_DOUBLE_EQ(FramePeriodMs(1), 1000.0 / 60);
    EXPECT_DOUBLE_EQ(FramePeriodMs(144), 1000.0 / 144);
}

}  // namespace
