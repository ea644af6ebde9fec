// The show as the user sees it, measured in one run under the real run loop:
//  1. Time to the first picture: from the start of a run to the launch of
//     its first panel, with a 12-megapixel JPEG as the first picture, beside
//     the same start with a 64 x 48 picture and beside a bare LoadPicture of
//     the JPEG (the baseline the difference is held against).
//  2. Frame pacing over a show of 12-megapixel JPEGs: each frame's motion
//     step against the real time between frames, and the frames that upload
//     a picture against the median frame.
//  3. The peak working set after the pacing show.
// All of it in a host window of 1280 x 1024 (a 640 x 512 picture bitmap),
// the baseline, and where asked in a larger one after it, such as a
// 3840 x 2160 screen's (a 1920 x 1080 bitmap), side by side. QV_UNPACED=1
// measures unpaced frames.
// Usage: bench_show [seconds of the pacing show, default 60] [width height]
#ifdef _WIN32
#include <wincodec.h>
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "session/settings.h"
#include "base/run_state.h"
#include "catalogue/piclist.h"
#include "imaging/bitmap_win32.h"
#include "imaging/plugins_win32.h"
#include "imaging/prepare_win32.h"
#include "render/hooks_win32.h"
#include "render/runloop_win32.h"
#include "render/scene_math.h"

#include "bench/bench_timing.h"
#include "bench/wic_write.h"
#include "tests/win32/test_session.h"

namespace {
// The process's session, which the tests below set up and hand on.
TSession& Session = TestSession();
}  // namespace

namespace {

// Writes a width x height JPEG with detail everywhere (gradients and a
// fine pattern), so that decoding costs what a photograph costs.
bool WriteJpeg(const std::string& path, UINT width, UINT height) {
    return WriteWicPicture(path, GUID_ContainerFormatJpeg, width, height, [&](UINT y, BYTE* row) {
        for (UINT x = 0; x < width; ++x, row += 3) {
            row[0] = static_cast<BYTE>(x * 255 / width);
            row[1] = static_cast<BYTE>(y * 255 / height);
            row[2] = static_cast<BYTE>(((x / 7) ^ (y / 5)) * 37);
        }
    });
}

// What the frame observer records; touched by the render thread only while
// a run lasts, and read by the main thread after it.
struct TRecord {
    double start = 0.0;       // when the run was started
    double firstLaunch = -1;  // seconds from start to the first panel launch
    bool stopAtLaunch = false;
    double stopAfter = 0.0;          // seconds of show, pacing run
    std::vector<double> stepTimes;   // when each frame's step was computed
    std::vector<float> frameSteps;   // that step
    std::vector<double> drawnTimes;  // when each frame was drawn
    std::vector<bool> uploaded;      // whether that frame uploaded a picture
};
TRecord record;

void Observe(const TFrameEvent& e) {
    const double now = Seconds();
    switch (e.What) {
    case TFrameEvent::Kind::Stepped:
        record.stepTimes.push_back(now);
        record.frameSteps.push_back(e.FrameStep);
        if (record.stopAfter > 0 && now - record.start > record.stopAfter) RunState.StopRequested = 1;
        break;
    case TFrameEvent::Kind::Launched:
        if (record.firstLaunch < 0) record.firstLaunch = now - record.start;
        if (record.stopAtLaunch) RunState.StopRequested = 1;
        break;
    case TFrameEvent::Kind::Drawn:
        record.drawnTimes.push_back(now);
        record.uploaded.push_back(e.Uploaded);
        break;
    }
}

void UseCatalogue(const std::vector<std::string>& paths) {
    Session.PicList.Clear();
    const int root = Session.PicList.AddFolder("Root");
    for (const std::string& p : paths) Session.PicList.ItemAt(root).Pictures.Add(p);
}

// One run in a host window.
void Run(HWND host) {
    RunState.LaunchedFromDialog = true;
    record.start = Seconds();
    TSaverRuns(Session).Run(host);
    RunState.Flags = 0;
}

// LoadPicture of `path` in a fresh thread set up like the loader (32 KiB
// stack, one step below normal), with nothing else running.
struct TThreadLoad {
    std::string path;
    int width, height;
    double ms = 0.0;
};
DWORD WINAPI LoadInThread(void* data) {
    auto* job = static_cast<TThreadLoad*>(data);
    TBitmap target(job->width, job->height);
    target.ShrinkToFit = true;
    target.EnlargeToFit = true;
    PictureInfo info;
    const double t0 = Seconds();
    LoadPicture(target, job->path, info, SessionPrepare());
    job->ms = (Seconds() - t0) * 1000.0;
    return 0;
}
double LoadInLoaderLikeThread(const std::string& path, int width, int height) {
    TThreadLoad job{path, width, height, 0.0};
    HANDLE thread = ::CreateThread(nullptr, 32 * 1024, LoadInThread, &job, CREATE_SUSPENDED, nullptr);
    if (!thread) return -1.0;
    ::SetThreadPriority(thread, THREAD_PRIORITY_BELOW_NORMAL);
    ::ResumeThread(thread);
    ::WaitForSingleObject(thread, INFINITE);
    ::CloseHandle(thread);
    return job.ms;
}

double TimeToFirstPicture(HWND host, const std::string& picture) {
    UseCatalogue({picture});
    record = TRecord();
    record.stopAtLaunch = true;
    Run(host);
    return record.firstLaunch * 1000.0;
}

// The figures of one host size.
struct TFigures {
    double bigMs = 0, smallMs = 0, bareMs = 0, threadMs = 0;  // time to the first picture (1. above)
    std::size_t frames = 0, uploads = 0;
    double medianOff = 0, worstOff = 0;
    long over2 = 0;
    double medianFrame = 0, worstUpload = 0;
    std::vector<double> uploadMs;
    double peakMB = 0;  // the process's peak working set after the pacing show
};

double PeakWorkingSetMB() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakWorkingSetSize / 1048576.0;
}

TFigures Measure(int width, int height, double showSeconds, const std::string& big, const std::string& small) {
    TFigures f;
    HWND host = ::CreateWindowExA(0, "QvBenchHost", "bench", WS_POPUP | WS_VISIBLE, 0, 0, width, height, nullptr,
                                  nullptr, ::GetModuleHandleA(nullptr), nullptr);
    const TPanelSize panel = PanelSizeFor(width, height);
    // 1. Time to the first picture, the two starts taking turns.
    std::vector<double> bigStarts, smallStarts, bareLoads, threadLoads;
    for (int round = 0; round < 3; ++round) {
        bigStarts.push_back(TimeToFirstPicture(host, big));
        smallStarts.push_back(TimeToFirstPicture(host, small));
        TBitmap target(panel.Width, panel.Height);
        target.ShrinkToFit = true;
        target.EnlargeToFit = true;
        PictureInfo info;
        const double t0 = Seconds();
        LoadPicture(target, big, info, SessionPrepare());
        bareLoads.push_back((Seconds() - t0) * 1000.0);
        threadLoads.push_back(LoadInLoaderLikeThread(big, panel.Width, panel.Height));
        if (info.Width != 4000) std::printf("warning: the JPEG decoded as %dx%d\n", info.Width, info.Height);
    }
    f.bigMs = Median(bigStarts);
    f.smallMs = Median(smallStarts);
    f.bareMs = Median(bareLoads);
    f.threadMs = Median(threadLoads);

    // 2. Frame pacing over a show of 12-megapixel pictures.
    UseCatalogue({big, big, big, big, big, big, big, big});
    record = TRecord();
    record.stopAfter = showSeconds;
    Run(host);
    f.peakMB = PeakWorkingSetMB();
    std::vector<double> offBy;    // |motion step in ms - real ms between steps|
    std::vector<double> frameMs;  // real ms from one step to the next
    for (std::size_t i = 1; i < record.stepTimes.size(); ++i) {
        const double real = (record.stepTimes[i] - record.stepTimes[i - 1]) * 1000.0;
        offBy.push_back(std::fabs(record.frameSteps[i] / 0.02 - real));
        frameMs.push_back(real);
        // Frame i - 1 ran from step i - 1 to step i.
        if (i - 1 < record.uploaded.size() && record.uploaded[i - 1]) f.uploadMs.push_back(real);
    }
    f.frames = frameMs.size();
    f.uploads = f.uploadMs.size();
    f.medianFrame = Median(frameMs);
    f.medianOff = Median(offBy);
    f.worstOff = offBy.empty() ? 0.0 : *std::max_element(offBy.begin(), offBy.end());
    f.over2 = static_cast<long>(std::count_if(offBy.begin(), offBy.end(), [](double d) { return d > 2.0; }));
    f.worstUpload = f.uploadMs.empty() ? 0.0 : *std::max_element(f.uploadMs.begin(), f.uploadMs.end());
    ::DestroyWindow(host);
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    const double showSeconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    // A second host size, measured after the standard one in the same run.
    const int largeWidth = argc > 3 ? std::atoi(argv[2]) : 0, largeHeight = argc > 3 ? std::atoi(argv[3]) : 0;
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    char exe[MAX_PATH];
    const DWORD n = ::GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string installPath(exe, n);
    installPath.resize(installPath.find_last_of('\\'));
    char temp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "qv_bench_show";
    ::CreateDirectoryA(folder.c_str(), nullptr);
    const std::string big = folder + "\\big12mp.jpg";
    const std::string small = folder + "\\small.jpg";
    if (!WriteJpeg(big, 4000, 3000) || !WriteJpeg(small, 64, 48)) {
        std::printf("cannot write the JPEG fixtures\n");
        return 1;
    }

    Session.Settings.InstallPath = installPath;
    Session.Settings.Order = 1;
    Session.Settings.FitMode = 2;
    Session.Settings.rtresize = true;
    Session.Settings.ShrinkToFit = true;
    Session.Settings.EnlargeToFit = true;
    LoadSessionPlugins();
    RenderHooks().ObserveFrame = Observe;

    WNDCLASSA wc{};
    wc.lpfnWndProc = ::DefWindowProcA;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = "QvBenchHost";
    ::RegisterClassA(&wc);

    struct TSize {
        int w, h;
    };
    std::vector<TSize> sizes = {{1280, 1024}};
    if (largeWidth > 0 && largeHeight > 0) sizes.push_back({largeWidth, largeHeight});
    std::vector<TFigures> figures;
    for (const TSize& size : sizes) figures.push_back(Measure(size.w, size.h, showSeconds, big, small));

    std::printf("%s frames; the first column is the baseline\n", FramePacingWanted() ? "paced" : "unpaced");
    std::printf("%-58s", "host window (picture bitmap)");
    for (const TSize& size : sizes) {
        const TPanelSize panel = PanelSizeFor(size.w, size.h);
        char label[64];
        std::snprintf(label, sizeof label, "%dx%d (%dx%d)", size.w, size.h, panel.Width, panel.Height);
        std::printf(" %22s", label);
    }
    std::printf("\n");
    const auto row = [&](const char* name, auto value) {
        std::printf("%-58s", name);
        for (const TFigures& f : figures) std::printf(" %22.2f", static_cast<double>(value(f)));
        std::printf("\n");
    };
    row("time to first picture, 12-megapixel JPEG first (ms)", [](const TFigures& f) { return f.bigMs; });
    row("time to first picture, 64 x 48 JPEG first (ms)", [](const TFigures& f) { return f.smallMs; });
    row("  difference (ms)", [](const TFigures& f) { return f.bigMs - f.smallMs; });
    row("  bare LoadPicture of the JPEG (ms)", [](const TFigures& f) { return f.bareMs; });
    row("  difference / bare LoadPicture (goal <= 1.3)",
        [](const TFigures& f) { return (f.bigMs - f.smallMs) / f.bareMs; });
    row("  LoadPicture in a loader-like thread, no show (ms)", [](const TFigures& f) { return f.threadMs; });
    row("frames over the pacing show", [](const TFigures& f) { return f.frames; });
    row("median frame (ms)", [](const TFigures& f) { return f.medianFrame; });
    row("motion step vs real time: median off (ms)", [](const TFigures& f) { return f.medianOff; });
    row("motion step vs real time: worst off (ms)", [](const TFigures& f) { return f.worstOff; });
    row("frames off by more than 2 ms", [](const TFigures& f) { return f.over2; });
    row("upload frames", [](const TFigures& f) { return f.uploads; });
    row("worst upload frame (ms)", [](const TFigures& f) { return f.worstUpload; });
    row("worst upload frame / median frame", [](const TFigures& f) {
        return f.medianFrame > 0 ? f.worstUpload / f.medianFrame : 0.0;
    });
    row("peak working set after the show (MB, cumulative)", [](const TFigures& f) { return f.peakMB; });
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        // The first upload of a run also meets the first textured draw.
        std::printf("upload frames at %dx%d (ms):", sizes[i].w, sizes[i].h);
        for (double ms : figures[i].uploadMs) std::printf(" %.1f", ms);
        std::printf("\n");
    }

    ::DeleteFileA(big.c_str());
    ::DeleteFileA(small.c_str());
    ::RemoveDirectoryA(folder.c_str());
    Session.Plugins.Unload();
    return 0;
}
#else
int main() {
    return 0;
}
#endif
