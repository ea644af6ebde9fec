// The colour conversion of a Display P3 picture at fitted sizes, against a
// baseline that copies the same buffer once (memcpy) in the same run:
//   copy     - the baseline
//   first    - the first picture of its profile: the table is made, the
//              cells the picture meets often are kept
//   table    - the conversion as later pictures get it: the table of the
//              picture's profile and its kept cells are there already
//   profile  - making the table for a new profile (the system converts its nodes)
//   system   - the system converting every pixel itself (TranslateBitmapBits)
// over two pictures: noise (every cell of the table, a fifth of them handed
// to the system) and smooth gradients of mid-tones, as most of a photo is.
#ifdef _WIN32
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "imaging/colour_convert_win32.h"

#include "bench/bench_timing.h"

namespace {

constexpr int kRuns = 7;

// Display P3: its published primaries, D65 white, the sRGB curve.
const TRgbPrimaries kDisplayP3 = {{0.680, 0.320}, {0.265, 0.690}, {0.150, 0.060}, {0.3127, 0.3290}};

}  // namespace

int main() {
    TEmbeddedColour p3;
    p3.Kind = TPictureColour::Profile;
    p3.Profile = MakeRgbProfile(kDisplayP3, 0.0, "Display P3");
    const TSystemTransform system(p3.Profile, SrgbProfile());
    if (!system) {
        std::puts("colour_convert: the system's colour management is not available");
        return 1;
    }
    std::printf("%-10s %-7s %-8s %10s %8s\n", "size", "picture", "job", "best ms", "x copy");
    unsigned sink = 0;
    for (const auto& [w, h] : {std::pair{1024, 768}, std::pair{1920, 1080}}) {
        const std::size_t bytes = std::size_t(w) * h * 4;
        std::vector<std::uint8_t> picture(bytes), work(bytes);
        for (const bool noise : {true, false}) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                std::uint8_t* p = &picture[(std::size_t(y) * w + x) * 4];
                const std::size_t i = std::size_t(y) * w + x;
                p[0] = noise ? std::uint8_t((i * 2654435761u) >> 13) : std::uint8_t(60 + x * 120 / w);
                p[1] = noise ? std::uint8_t((i * 40503u) >> 7) : std::uint8_t(50 + y * 140 / h);
                p[2] = noise ? std::uint8_t((i * 97u) >> 3) : std::uint8_t(70 + (x + y) * 100 / (w + h));
                p[3] = 255;
            }

        const double copy = BestMs(kRuns, [&] { std::memcpy(work.data(), picture.data(), bytes); });
        TColourConverter warm;
        warm.Convert(p3, work.data(), w, h, w * 4);
        const double table = BestMs(kRuns, [&] {
            std::memcpy(work.data(), picture.data(), bytes);
            warm.Convert(p3, work.data(), w, h, w * 4);
        }) - copy;
        const double first = BestMs(3, [&] {
            std::memcpy(work.data(), picture.data(), bytes);
            TColourConverter fresh;
            fresh.Convert(p3, work.data(), w, h, w * 4);
        }) - copy;
        const double profile = BestMs(3, [&] {
            TColourConverter fresh;
            fresh.Convert(p3, work.data(), 1, 1, 4);
        });
        const double direct = BestMs(3, [&] {
            std::memcpy(work.data(), picture.data(), bytes);
            system.Pixels(work.data(), w, h, w * 4);
        }) - copy;
        sink += work[bytes / 2];
        const struct {
            const char* job;
            double ms;
        } rows[] = {{"copy", copy}, {"first", first}, {"table", table}, {"profile", profile}, {"system", direct}};
        for (const auto& r : rows)
            std::printf("%4dx%-5d %-7s %-8s %10.2f %8.1f\n", w, h, noise ? "noise" : "smooth", r.job, r.ms,
                        r.ms / copy);
        }
    }
    return sink == 0xFFFFFFFFu;  // keeps the work from being optimised away
}
#else
#include <cstdio>
int main() {
    std::puts("colour_convert: Windows only (runs under Wine)");
    return 0;
}
#endif
