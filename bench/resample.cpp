// Resampler speed beside two baselines measured in the same run:
//  - "copy": memcpy of the source pixels, the memory floor;
//  - "Pillow": Image.resize(LANCZOS) of the same pixels in Debian's python3-pil, timing
//    only the resize call (skipped when python3 with PIL is not available,
//    for example under Wine).
// Figures are milliseconds of the thread's processor time, because the build
// machine is shared and wall time mostly measures the neighbours:
//  - default: the best of several runs (precise clocks, native build);
//  - "mean" (always on Windows, where the thread clock ticks in 10-16 ms
//    steps): the total over all runs divided by their number. Compare a
//    Windows build with the native one in this mode.
#include "imaging/resample.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <time.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

namespace {

bool meanMode = false;

double ThreadMs() {
#if defined(_WIN32)
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    auto ticks = [](const FILETIME& t) {
        return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e4;
#else
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
#endif
}

struct TPicture {
    std::int32_t w, h;
    std::vector<std::uint8_t> bgrx;              // bitmap layout
    std::vector<std::vector<std::uint8_t>> rgb;  // the same rows as a decoder delivers them
};

// Photo-like content: smooth shading, a few hard edges and fine noise.
TPicture MakePicture(std::int32_t w, std::int32_t h) {
    TPicture pic{w, h, std::vector<std::uint8_t>(std::size_t(w) * h * 4), {}};
    std::uint32_t state = 12345;
    for (std::int32_t y = 0; y < h; ++y) {
        std::vector<std::uint8_t> line(std::size_t(w) * 3);
        for (std::int32_t x = 0; x < w; ++x) {
            state = state * 1664525u + 1013904223u;
            const int noise = static_cast<int>(state >> 28) - 8;
            const bool inDisc =
                (x - w / 3) * std::int64_t(x - w / 3) + (y - h / 2) * std::int64_t(y - h / 2) <
                std::int64_t(h / 4) * (h / 4);
            int r = (x * 200 / w) + (inDisc ? 50 : 0) + noise;
            int g = (y * 180 / h) + ((x / 97) % 2 ? 40 : 0) + noise;
            int b = 120 + ((x + y) % 200) / 4 + noise;
            auto clamp = [](int v) { return static_cast<std::uint8_t>(std::clamp(v, 0, 255)); };
            std::uint8_t* p = &pic.bgrx[(std::size_t(y) * w + x) * 4];
            p[0] = clamp(b), p[1] = clamp(g), p[2] = clamp(r), p[3] = 0;
            line[x * 3] = p[2], line[x * 3 + 1] = p[1], line[x * 3 + 2] = p[0];
        }
        pic.rgb.push_back(std::move(line));
    }
    return pic;
}

template <typename F>
double BestMs(int runs, F&& f) {
    if (meanMode) {
        const double t0 = ThreadMs();
        for (int i = 0; i < runs; ++i) f();
        return (ThreadMs() - t0) / runs;
    }
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const double t0 = ThreadMs();
        f();
        best = std::min(best, ThreadMs() - t0);
    }
    return best;
}

// Pillow on the same pixels, or a negative value when it cannot run.
double PillowMs(const TPicture& pic, std::int32_t dw, std::int32_t dh, int runs) {
#if defined(_WIN32)
    (void)pic, (void)dw, (void)dh, (void)runs;
    return -1;
#else
    const std::string raw = "/tmp/qv_bench_resample.raw";
    if (FILE* f = std::fopen(raw.c_str(), "wb")) {
        std::fwrite(pic.bgrx.data(), 1, pic.bgrx.size(), f);
        std::fclose(f);
    } else {
        return -1;
    }
    const std::string cmd =
        "/usr/bin/python3 -c \"import time,sys\nfrom PIL import Image\n"
        "im=Image.frombytes('RGB',(" +
        std::to_string(pic.w) + "," + std::to_string(pic.h) + "),open('" + raw +
        "','rb').read(),'raw','BGRX')\nbest=1e9\ntotal=0\nfor i in range(" + std::to_string(runs) +
        "):\n"
        " t=time.thread_time(); im.resize((" +
        std::to_string(dw) + "," + std::to_string(dh) +
        "),Image.LANCZOS); d=time.thread_time()-t; total+=d; best=min(best,d)\nprint((" +
        (meanMode ? "total/" + std::to_string(runs) : std::string("best")) + ")*1000)\" 2>/dev/null";
    double ms = -1;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        if (std::fscanf(p, "%lf", &ms) != 1) ms = -1;
        pclose(p);
    }
    std::remove(raw.c_str());
    return ms;
#endif
}

double Progressive(TPicture& pic, TPixelView& target, std::uint8_t fitMode, int runs) {
    return BestMs(runs, [&] {
        TProgressiveResize resize(&target, fitMode);
        if (resize.Line(1, -1, pic.w, pic.h) != 1) std::abort();
        for (std::int32_t y = 0; y < pic.h; ++y) {
            resize.Line(reinterpret_cast<std::intptr_t>(pic.rgb[y].data()), y, pic.w, pic.h);
        }
    });
}

void Job(const char* name, std::int32_t sw, std::int32_t sh, std::int32_t tw, std::int32_t th, int runs) {
    TPicture pic = MakePicture(sw, sh);
    std::vector<std::uint8_t> out(std::size_t(tw) * th * 4), copy(pic.bgrx.size());
    TPixelView src{pic.bgrx.data(), sw, sh, true, false};
    TPixelView dst{out.data(), tw, th, true, false};
    const TRect32 r = FittedRect(sw, sh, tw, th);

    const double copyMs = BestMs(runs, [&] { std::memcpy(copy.data(), pic.bgrx.data(), copy.size()); });
    const double pillowMs = PillowMs(pic, r.Width, r.Height, runs);
    std::printf("%s: %dx%d -> %dx%d\n", name, sw, sh, r.Width, r.Height);
    std::printf("  %-28s %8.2f ms\n", "baseline copy", copyMs);
    if (pillowMs >= 0) {
        std::printf("  %-28s %8.2f ms\n", "baseline Pillow LANCZOS", pillowMs);
    } else {
        std::printf("  %-28s %8s\n", "baseline Pillow LANCZOS", "n/a");
    }
    const std::tuple<int, int, const char*> kinds[] = {{kFilterLanczos3, 2, "Lanczos3"},
                                                       {kFilterHermite, 1, "Hermite"}};
    for (const auto& k : kinds) {
        // Plain copies: structured bindings cannot be captured by the lambda below in C++17.
        const int filter = std::get<0>(k);
        const int fitMode = std::get<1>(k);
        const char* label = std::get<2>(k);
        for (bool simd : {true, false}) {
            SetResampleSimd(simd);
            const double whole =
                BestMs(runs, [&] { Resample(r.Left, r.Top, r.Width, r.Height, filter, 0.0f, src, dst); });
            const double prog = Progressive(pic, dst, static_cast<std::uint8_t>(fitMode), runs);
            const std::string kind = std::string(label) + (simd ? " SSE2" : " plain");
            std::printf("  %-28s %8.2f ms   progressive %8.2f ms (x%.2f)", (kind + " whole").c_str(), whole,
                        prog, prog / whole);
            if (pillowMs > 0 && filter == kFilterLanczos3)
                std::printf("   vs Pillow x%.2f", whole / pillowMs);
            std::printf("\n");
        }
    }
    SetResampleSimd(true);
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
#if defined(_WIN32)
    meanMode = true;
#else
    meanMode = argc > 2 && std::strcmp(argv[2], "mean") == 0;
#endif
    std::printf("%s of %d runs, thread processor time\n", meanMode ? "mean" : "best", runs);
    Job("photo into panel", 4000, 3000, 960, 720, runs);
    Job("full HD halved", 1920, 1080, 960, 540, runs);
    return 0;
}
