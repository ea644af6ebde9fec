// CopyTile over a whole 512 x 384 picture (the six tiles of a 1024 x 768
// screen), against a baseline that moves the same rows with memcpy and no
// conversion. Portable: runs natively and under Wine.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "render/scene_math.h"
#include "render/texture_tiles.h"

#include "bench/bench_timing.h"

namespace {

constexpr int kWidth = 512;
constexpr int kHeight = 384;
constexpr int kRounds = 400;

template <typename F>
double MedianMicroseconds(F&& pass) {
    std::vector<double> times;
    for (int i = 0; i < kRounds; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        pass();
        const auto t1 = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    }
    return Median(std::move(times));
}

}  // namespace

int main() {
    std::vector<std::uint8_t> picture(static_cast<size_t>(kWidth) * kHeight * 4);
    static TStagingBuffer staging{};
    for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<std::uint8_t>(i * 13 + 7);
    static std::uint8_t rows[kTileSize * kTileSize * 4];
    unsigned sink = 0;

    const int across = TilesAcross(kWidth);
    const int down = TilesDown(kHeight);
    const double copy = MedianMicroseconds([&] {
        for (int j = 0; j < down; ++j) {
            for (int i = 0; i < across; ++i) {
                const TTileRect r = TileRect(i, j, kWidth, kHeight);
                CopyTile(picture.data(), staging, r.x0, r.y0, r.x1, r.y1, kWidth);
                sink += staging[(i + j) % 100];
            }
        }
    });
    const double baseline = MedianMicroseconds([&] {
        for (int j = 0; j < down; ++j) {
            for (int i = 0; i < across; ++i) {
                const TTileRect r = TileRect(i, j, kWidth, kHeight);
                const size_t bytes = static_cast<size_t>(r.x1 - r.x0 + 1) * 4;
                for (int y = r.y0; y <= r.y1; ++y) {
                    std::memcpy(rows + static_cast<size_t>(y - r.y0) * kTileSize * 4,
                                &picture[(static_cast<size_t>(y) * kWidth + r.x0) * 4], bytes);
                }
                sink += rows[(i + j) % 100];
            }
        }
    });
    std::printf("CopyTile, %dx%d picture (%d tiles): median %.1f us per picture\n", kWidth, kHeight,
                across * down, copy);
    std::printf("baseline memcpy of the same rows:    median %.1f us per picture (CopyTile %.2f x)\n",
                baseline, copy / baseline);
    return sink == 0xFFFFFFFFu;  // keeps the copies from being optimised away
}
