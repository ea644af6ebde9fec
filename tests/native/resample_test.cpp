#include "imaging/resample.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

// A bitmap-layout picture owned by the test.
struct TImage {
    std::vector<std::uint8_t> bytes;
    TPixelView view;
    TImage(std::int32_t w, std::int32_t h, std::uint8_t fill = 0)
        : bytes(static_cast<std::size_t>(w) * h * 4, fill) {
        view.Bits = bytes.data();
        view.Width = w;
        view.Height = h;
    }
    std::uint8_t* At(std::int32_t x, std::int32_t y) { return bytes.data() + (std::size_t(y) * view.Width + x) * 4; }
};

// Deterministic photo-like content: gradients, a hard edge and noise.
TImage Pattern(std::int32_t w, std::int32_t h, std::uint32_t seed = 1) {
    TImage img(w, h);
    std::uint32_t state = seed;
    for (std::int32_t y = 0; y < h; ++y) {
        for (std::int32_t x = 0; x < w; ++x) {
            state = state * 1664525u + 1013904223u;
            std::uint8_t* p = img.At(x, y);
            p[0] = static_cast<std::uint8_t>(x * 255 / std::max(1, w - 1));
            p[1] = static_cast<std::uint8_t>((x < w / 2) == (y < h / 2) ? 230 : 20);
            p[2] = static_cast<std::uint8_t>(state >> 24);
            p[3] = 0x5A;
        }
    }
    return img;
}

std::uint32_t Fnv1a(const std::vector<std::uint8_t>& bytes) {
    std::uint32_t h = 2166136261u;
    for (std::uint8_t b : bytes) h = (h ^ b) * 16777619u;
    return h;
}

// The same picture as the progressive callback receives it: rows of R, G, B.
std::vector<std::vector<std::uint8_t>> AsLines(TImage& img) {
    std::vector<std::vector<std::uint8_t>> lines(img.view.Height);
    for (std::int32_t y = 0; y < img.view.Height; ++y) {
        for (std::int32_t x = 0; x < img.view.Width; ++x) {
            const std::uint8_t* p = img.At(x, y);
            lines[y].insert(lines[y].end(), {p[2], p[1], p[0]});
        }
    }
    return lines;
}

// Counts live blocks of the shared allocator so tests can see leaks and
// refused allocations directly (under Wine too, where there is no ASan).
struct TCountingAllocator {
    static inline int live = 0;
    static inline int total = 0;
    static void* Get(std::int32_t size) {
        ++live;
        ++total;
        return std::malloc(static_cast<std::size_t>(size));
    }
    static std::int32_t Free(void* p) {
        if (!p) return -1;
        --live;
        std::free(p);
        return 0;
    }
    static void* Realloc(void** p, std::int32_t size) { return *p = std::realloc(*p, static_cast<std::size_t>(size)); }
};
const TSharedAllocator kCounting{TCountingAllocator::Get, TCountingAllocator::Free, TCountingAllocator::Realloc};

class ResampleTest : public ::testing::Test {
protected:
    void SetUp() override {
        TCountingAllocator::live = TCountingAllocator::total = 0;
        SetSharedAllocator(&kCounting);
    }
    void TearDown() override {
        EXPECT_EQ(TCountingAllocator::live, 0) << "shared-allocator blocks leaked";
        SetSharedAllocator(nullptr);
        SetResampleSimd(true);
    }

    // Feeds `img` line by line through `resize`; returns the result of
    // line -1.
    std::int32_t Feed(TImage& img, TProgressiveResize& resize, std::uint16_t orientation = 1) {
        auto lines = AsLines(img);
        const std::int32_t w = img.view.Width, h = img.view.Height;
        std::int32_t ok = resize.Line(orientation, -1, w, h);
        if (ok) {
            for (std::int32_t y = 0; y < h; ++y) {
                resize.Line(reinterpret_cast<std::intptr_t>(lines[y].data()), y, w, h);
            }
        }
        return ok;
    }
};

std::string ThrownText(const std::function<void()>& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.what();
    }
    return "(nothing thrown)";
}

std::vector<std::int32_t> Pixels(const TContributorEntry& e) {
    std::vector<std::int32_t> out;
    for (std::int32_t t = 0; t < e.n; ++t) out.push_back(e.p[t].pixel);
    return out;
}

// ---- Weights ------------------------------------------------------------------

TEST_F(ResampleTest, BoxHalvingAveragesTwoPixelsWithEqualWeights) {
    TContributorList list;
    list.Allocate(1, ContributorCapacity(2, 1, 1, 1, 0.5f));
    FillContributors(list, Filters[kFilterBox], 0.5f, 2, 1, 4);
    ASSERT_EQ(list[0].n, 2);
    EXPECT_EQ(list[0].p[0].weight, 32768);  // sample -1, mirrored to 1
    EXPECT_EQ(list[0].p[0].pixel, 4);
    EXPECT_EQ(list[0].p[1].weight, 32768);
    EXPECT_EQ(list[0].p[1].pixel, 0);
    list.Free();

    TImage src(2, 1), dst(1, 1, 0xEE);
    src.At(0, 0)[2] = 10;
    src.At(1, 0)[2] = 21;
    src.At(0, 0)[1] = 255;
    src.At(1, 0)[1] = 255;
    Resample(0, 0, 1, 1, kFilterBox, 0.0f, src.view, dst.view);
    EXPECT_EQ(dst.At(0, 0)[2], 15);  // 31 / 2 truncated
    EXPECT_EQ(dst.At(0, 0)[1], 255);
    EXPECT_EQ(dst.At(0, 0)[0], 0);
    EXPECT_EQ(dst.At(0, 0)[3], 0xEE) << "fourth byte must be left alone";
}

TEST_F(ResampleTest, TotalsAreRenormalisedCloseTo65536ForEveryFilterAndScale) {
    const std::int32_t lengths[][2] = {{5, 3}, {7, 3}, {100, 37}, {3, 7}, {13, 40}, {11, 11}, {640, 481}};
    for (int f = 0; f < kFilterCount; ++f) {
        for (auto [L, D] : lengths) {
            TContributorList list;
            list.Allocate(D, ContributorCapacity(L, 1, D, 1, Filters[f].Support));
            FillContributors(list, Filters[f], Filters[f].Support, L, D, 3);
            for (std::int32_t i = 0; i < D; ++i) {
                std::int32_t total = 0;
                for (std::int32_t t = 0; t < list[i].n; ++t) {
                    total += list[i].p[t].weight;
                    EXPECT_NE(list[i].p[t].weight, 0) << "zero weights are not stored";
                    EXPECT_EQ(list[i].p[t].pixel % 3, 0);
                    EXPECT_GE(list[i].p[t].pixel, 0);
                    EXPECT_LT(list[i].p[t].pixel, L * 3);
                }
                EXPECT_LE(std::abs(total - 65536), list[i].n) << "filter " << f << " " << L << "->" << D << " i=" << i;
            }
        }
    }
}

TEST_F(ResampleTest, Lanczos3OvershootOnAHardEdgeClampsInsteadOfWrapping) {
    TImage src(8, 1), dst(24, 1);
    for (std::int32_t x = 4; x < 8; ++x) src.At(x, 0)[0] = src.At(x, 0)[1] = src.At(x, 0)[2] = 255;
    for (bool simd : {false, true}) {
        SetResampleSimd(simd);
        Resample(0, 0, 24, 1, kFilterLanczos3, 0.0f, src.view, dst.view);
        bool sawZero = false, saw255 = false;
        for (std::int32_t x = 0; x < 24; ++x) {
            const std::uint8_t v = dst.At(x, 0)[1];
            if (x < 9) {
                EXPECT_LT(v, 64) << "dark side, x=" << x;
            }
            if (x > 14) {
                EXPECT_GT(v, 191) << "bright side, x=" << x;
            }
            sawZero |= v == 0;
            saw255 |= v == 255;
        }
        EXPECT_TRUE(sawZero && saw255);
    }
}

// ---- Edges ----------------------------------------------------------------------

TEST_F(ResampleTest, MirroringReflectsLeftAndRepeatsRightEdge) {
    // Lanczos3 enlarging 5 -> 10: output 1 has centre 0.5 and reads j = -2..3;
    // output 9 has centre 4.5 and reads j = 2..7.
    TContributorList list;
    list.Allocate(10, ContributorCapacity(5, 1, 10, 1, 3.0f));
    FillContributors(list, Filters[kFilterLanczos3], 3.0f, 5, 10, 3);
    EXPECT_EQ(Pixels(list[1]), (std::vector<std::int32_t>{6, 3, 0, 3, 6, 9}));    // -2 reads 2
    EXPECT_EQ(Pixels(list[9]), (std::vector<std::int32_t>{6, 9, 12, 12, 9, 6}));  // L+1 reads L-2
}

TEST_F(ResampleTest, SourcesShorterThanTheWindowStayInside) {
    // A 1- or 2-pixel source under a 3-pixel Lanczos window reflects past the
    // far edge; every sample must still be a real pixel (ASan checks reads).
    for (std::int32_t L : {1, 2, 3}) {
        TImage src(L, L, 200), dst(9, 9);
        for (int f = 0; f < kFilterCount; ++f) {
            Resample(0, 0, 9, 9, f, 0.0f, src.view, dst.view);
            EXPECT_NEAR(dst.At(4, 4)[1], 200, 1) << "filter " << f << " L=" << L;
        }
    }
}

// ---- Exactness ------------------------------------------------------------------

TEST_F(ResampleTest, HandComputedSmallCases) {
    // Triangle 2 -> 4: centres 0, 0.5, 1, 1.5 give a, (a+b)/2, b, and b again
    // because sample 2 mirrors onto sample 1.
    TImage src(2, 1), dst(4, 1);
    src.At(0, 0)[0] = 100;
    src.At(1, 0)[0] = 51;
    Resample(0, 0, 4, 1, kFilterTriangle, 0.0f, src.view, dst.view);
    EXPECT_EQ(std::vector<int>({dst.At(0, 0)[0], dst.At(1, 0)[0], dst.At(2, 0)[0], dst.At(3, 0)[0]}),
              std::vector<int>({100, 75, 51, 51}));

    // Box 4 -> 2 vertically: centres 0 and 2 pair samples (-1, 0) and (1, 2).
    TImage col(1, 4), out(1, 2);
    for (std::int32_t y = 0; y < 4; ++y) col.At(0, y)[2] = static_cast<std::uint8_t>(10 * (y + 1));
    Resample(0, 0, 1, 2, kFilterBox, 0.0f, col.view, out.view);
    EXPECT_EQ(out.At(0, 0)[2], 15);
    EXPECT_EQ(out.At(0, 1)[2], 25);
}

// Golden checksums of a 37 x 23 pattern scaled to 17 x 11 and to 61 x 41
// inside a larger target prefilled with 0xA5: both builds must produce these
// exact bytes, through the plain and the SIMD loops alike.
TEST_F(ResampleTest, GoldenOutputPerFilter) {
    const std::uint32_t golden[kFilterCount][2] = {
        {1127313159u, 1404543735u}, {1657038635u, 3311620647u}, {837956439u, 369259362u},
        {3710477023u, 3952187599u}, {4211338201u, 728955748u},  {2628806229u, 1784679080u},
        {1172132131u, 1230192759u},
    };
    TImage src = Pattern(37, 23);
    for (bool simd : {false, true}) {
        SetResampleSimd(simd);
        for (int f = 0; f < kFilterCount; ++f) {
            TImage small(20, 13, 0xA5), large(64, 44, 0xA5);
            Resample(2, 1, 17, 11, f, 0.0f, src.view, small.view);
            Resample(1, 2, 61, 41, f, 0.0f, src.view, large.view);
            EXPECT_EQ(Fnv1a(small.bytes), golden[f][0]) << "filter " << f << " shrink, simd " << simd;
            EXPECT_EQ(Fnv1a(large.bytes), golden[f][1]) << "filter " << f << " enlarge, simd " << simd;
        }
    }
}

TEST_F(ResampleTest, SimdLoopsMatchPlainLoops) {
    if (!ResampleSimdAvailable()) GTEST_SKIP() << "no SSE2 in this build";
    TImage src = Pattern(301, 199, 7);
    const std::int32_t sizes[][2] = {{97, 61}, {150, 99}, {151, 100}, {300, 200}, {640, 410}, {33, 400}};
    for (int f = 0; f < kFilterCount; ++f) {
        for (auto [w, h] : sizes) {
            TImage a(w, h, 0x11), b(w, h, 0x11);
            SetResampleSimd(false);
            Resample(0, 0, w, h, f, 0.0f, src.view, a.view);
            SetResampleSimd(true);
            Resample(0, 0, w, h, f, 0.0f, src.view, b.view);
            ASSERT_EQ(a.bytes, b.bytes) << "filter " << f << " to " << w << " x " << h;
        }
    }
}

// ---- Invariants -----------------------------------------------------------------

// Renormalised weights can total 65535, and sums are truncated, so each
// pass may lose one step: at most two steps darker, never lighter.
TEST_F(ResampleTest, FlatColourStaysFlatThroughEveryFilter) {
    TImage src(53, 29);
    for (std::int32_t y = 0; y < 29; ++y)
        for (std::int32_t x = 0; x < 53; ++x) {
            std::uint8_t* p = src.At(x, y);
            p[0] = 17, p[1] = 128, p[2] = 254;
        }
    for (int f = 0; f < kFilterCount; ++f) {
        for (auto [w, h] : {std::pair{20, 11}, std::pair{111, 70}, std::pair{53, 29}}) {
            TImage dst(w, h);
            Resample(0, 0, w, h, f, 0.0f, src.view, dst.view);
            for (std::int32_t i = 0; i < w * h; ++i) {
                for (auto [c, v] : {std::pair{0, 17}, std::pair{1, 128}, std::pair{2, 254}}) {
                    const int got = dst.bytes[i * 4 + c];
                    ASSERT_TRUE(got <= v && got >= v - 2) << "filter " << f << " channel " << c << ": " << got;
                }
            }
        }
    }
}

TEST_F(ResampleTest, ProgressiveEqualsWholePicture) {
    TImage src = Pattern(123, 77, 3);
    for (std::uint8_t fitMode : {1, 2}) {
        for (bool enlarge : {false, true}) {
            const std::int32_t tw = enlarge ? 300 : 64, th = enlarge ? 200 : 48;
            TImage whole(tw, th), prog(tw, th, 0x33);
            prog.view.EnlargeToFit = enlarge;
            TProgressiveResize resize(&prog.view, fitMode);
            ASSERT_EQ(Feed(src, resize), 1);
            EXPECT_TRUE(resize.Resampling());
            EXPECT_FALSE(resize.Started());
            const TRect32 r = FittedRect(123, 77, tw, th);
            EXPECT_EQ(resize.TargetRect().Left, r.Left);
            EXPECT_EQ(resize.TargetRect().Top, r.Top);
            // The whole picture through the plain loops: checks the line
            // loops' SIMD reads of 3-byte pixels as well.
            SetResampleSimd(false);
            Resample(r.Left, r.Top, r.Width, r.Height, fitMode == 1 ? kFilterHermite : kFilterLanczos3, 0.0f,
                     src.view, whole.view);
            SetResampleSimd(true);
            EXPECT_EQ(whole.bytes, prog.bytes) << "fitMode " << int(fitMode) << " enlarge " << enlarge;
        }
    }
}

// ---- Orientation ----------------------------------------------------------------

TEST_F(ResampleTest, EveryOrientationOfAnExactlyFittingPicture) {
    // Stored 4 x 2 picture whose red bytes number the pixels 1..8.
    TImage src(4, 2);
    for (std::int32_t i = 0; i < 8; ++i) src.bytes[i * 4 + 2] = static_cast<std::uint8_t>(i + 1);
    const std::vector<int> expected[] = {
        {1, 2, 3, 4, 5, 6, 7, 8},  // 1
        {4, 3, 2, 1, 8, 7, 6, 5},  // 2
        {8, 7, 6, 5, 4, 3, 2, 1},  // 3
        {5, 6, 7, 8, 1, 2, 3, 4},  // 4
        {1, 5, 2, 6, 3, 7, 4, 8},  // 5: 2 x 4
        {5, 1, 6, 2, 7, 3, 8, 4},  // 6: stored row 0 is the right column
        {8, 4, 7, 3, 6, 2, 5, 1},  // 7
        {4, 8, 3, 7, 2, 6, 1, 5},  // 8
    };
    for (std::uint16_t o : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x10006}) {
        const std::uint16_t eff = (o >= 1 && o <= 8) ? o : 1;
        const bool swap = eff >= 5;
        TImage dst(swap ? 2 : 4, swap ? 4 : 2, 0x77);
        TProgressiveResize resize(&dst.view, 2);
        ASSERT_EQ(Feed(src, resize, o), 1) << o;
        EXPECT_EQ(resize.Orientation(), eff);
        EXPECT_FALSE(resize.Resampling());
        std::vector<int> red;
        for (std::int32_t i = 0; i < 8; ++i) red.push_back(dst.bytes[i * 4 + 2]);
        EXPECT_EQ(red, expected[eff - 1]) << "orientation " << o;
        EXPECT_EQ(dst.bytes[3], 0) << "target cleared before the lines arrive";
    }
}

TEST_F(ResampleTest, ScaledOrientationPlacesTheResampledPictureByTheSameTable) {
    TImage src = Pattern(48, 24, 9);
    for (std::uint16_t o = 1; o <= 8; ++o) {
        const bool swap = o >= 5;
        // Display size is 48 x 24 or 24 x 48; the target halves it.
        const std::int32_t tw = swap ? 12 : 24, th = swap ? 24 : 12;
        TImage dst(tw, th);
        TProgressiveResize resize(&dst.view, 2);
        ASSERT_EQ(Feed(src, resize, o), 1);
        ASSERT_TRUE(resize.Resampling());
        ASSERT_EQ(resize.ScaledWidth(), 24);
        ASSERT_EQ(resize.ScaledHeight(), 12);
        TImage scaled(24, 12);
        Resample(0, 0, 24, 12, kFilterLanczos3, 0.0f, src.view, scaled.view);
        for (std::int32_t r = 0; r < 12; ++r) {
            for (std::int32_t p = 0; p < 24; ++p) {
                const std::int32_t W = tw, H = th;
                const std::int32_t xy[8][2] = {{p, r},         {W - 1 - p, r},         {W - 1 - p, H - 1 - r},
                                               {p, H - 1 - r}, {r, p},                 {W - 1 - r, p},
                                               {W - 1 - r, H - 1 - p}, {r, H - 1 - p}};
                const std::uint8_t* want = scaled.At(p, r);
                const std::uint8_t* got = dst.At(xy[o - 1][0], xy[o - 1][1]);
                ASSERT_TRUE(want[0] == got[0] && want[1] == got[1] && want[2] == got[2])
                    << "orientation " << o << " p=" << p << " r=" << r;
            }
        }
    }
}

// ---- Protocol -------------------------------------------------------------------

TEST_F(ResampleTest, ProtocolViolationsRaiseTheirMessages) {
    TImage dst(40, 30);
    std::vector<std::uint8_t> line(40 * 3, 9);
    const auto data = reinterpret_cast<std::intptr_t>(line.data());
    {
        // A refusal at line -1 disarms: nothing more is accepted.
        TImage tiny(20, 20);
        TProgressiveResize refused(&tiny.view, 2);
        tiny.view.EnlargeToFit = true;
        ASSERT_EQ(refused.Line(1, -1, 8, 8), 0);
        EXPECT_EQ(ThrownText([&] { refused.Line(1, -1, 8, 8); }), "not ResizeStarted and not StartResize");
    }

    auto resize = std::make_unique<TProgressiveResize>(&dst.view, 2);
    EXPECT_EQ(ThrownText([&] { resize->Line(data, 3, 40, 30); }),
              "not ResizeStarted and curLine=3, height=30");
    ASSERT_EQ(resize->Line(1, -1, 40, 30), 1);
    EXPECT_TRUE(resize->Used());
    EXPECT_EQ(resize->Line(data, 0, 40, 30), 1);
    EXPECT_EQ(ThrownText([&] { resize->Line(data, 2, 40, 30); }), "prevLine=0, curLine=2");
    EXPECT_EQ(ThrownText([&] { resize->Line(1, -1, 40, 30); }), "ResizeStarted and curLine=-1");
    EXPECT_EQ(ThrownText([&] { resize->Line(data, 1, 41, 30); }),
              "ResSourcewidth=40, width=41, ResSourceheight=30, height=30");
    EXPECT_EQ(resize->PrevLine(), 0) << "state stays as it was at the raise";
    EXPECT_TRUE(resize->Started());

    // Re-planning under a running resize would pair its lines with another
    // rectangle; the next decoder of the picture starts afresh instead.
    EXPECT_EQ(ThrownText([&] { resize->Init(20, 20); }),
              "internal error in InitResize, a resize is under way");
    resize->Rearm();
    EXPECT_FALSE(resize->Started());
    EXPECT_FALSE(resize->Used());
    EXPECT_EQ(ThrownText([&] { resize->Line(data, 1, 40, 30); }),
              "not ResizeStarted and curLine=1, height=30");

    // Rearming or dropping a resize that stopped part-way gives its
    // buffers back (a 20 x 15 target: the lines are resampled).
    TImage half(20, 15);
    resize = std::make_unique<TProgressiveResize>(&half.view, 2);
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(resize->Line(1, -1, 40, 30), 1);
        EXPECT_EQ(resize->Line(data, 0, 40, 30), 1);
        EXPECT_GT(TCountingAllocator::live, 0);
        if (round == 0) resize->Rearm();
        else resize.reset();
        EXPECT_EQ(TCountingAllocator::live, 0) << round;
    }
}

TEST_F(ResampleTest, InitResizeCases) {
    TProgressiveResize unassigned(nullptr, 2);
    EXPECT_EQ(ThrownText([&] { unassigned.Init(10, 10); }), "ResizeBMP not assigned");
    EXPECT_TRUE(unassigned.Used());

    TImage dst(64, 48, 0xFF);
    TProgressiveResize resize(&dst.view, 2);
    dst.view.ShrinkToFit = false;
    EXPECT_EQ(ThrownText([&] { resize.Init(65, 20); }),
              "internal error in InitResize, width=65, height=20, width1=64, height1=48");

    // Smaller in both directions and both below 50: refused even when enlarging.
    dst.view.EnlargeToFit = true;
    EXPECT_FALSE(resize.Init(49, 30));
    EXPECT_EQ(dst.bytes[0], 0xFF) << "a refusal changes nothing";
    // Fitted height 10: refused.
    dst.view.ShrinkToFit = true;
    EXPECT_FALSE(resize.Init(640, 100));
    // Unscaled and centred.
    dst.view.EnlargeToFit = false;
    EXPECT_TRUE(resize.Init(30, 20));
    EXPECT_FALSE(resize.Resampling());
    EXPECT_EQ(resize.TargetRect().Left, 17);
    EXPECT_EQ(resize.TargetRect().Top, 14);
    EXPECT_EQ(dst.bytes[0], 0) << "the target is cleared";
    // Shrunk with FitMode 2: Lanczos3; with FitMode 1: Hermite; any other
    // FitMode refuses to scale.
    EXPECT_TRUE(resize.Init(640, 480));
    EXPECT_TRUE(resize.Resampling());
    EXPECT_EQ(resize.FilterIndex(), kFilterLanczos3);
    TProgressiveResize hermite(&dst.view, 1);
    EXPECT_TRUE(hermite.Init(640, 480));
    EXPECT_TRUE(hermite.Resampling());
    EXPECT_EQ(hermite.FilterIndex(), kFilterHermite);
    TProgressiveResize unscaled(&dst.view, 0);
    EXPECT_FALSE(unscaled.Init(640, 480));

    // A refusal at line -1 returns 0 and disarms.
    TImage tiny(20, 20);
    TProgressiveResize small(&tiny.view, 2);
    tiny.view.EnlargeToFit = true;
    EXPECT_EQ(small.Line(1, -1, 8, 8), 0);
    EXPECT_FALSE(small.Armed());
    EXPECT_FALSE(small.Started());
}

TEST_F(ResampleTest, ADecodeThatStopsEarlyIsCleanedUp) {
    TImage src = Pattern(120, 90), dst(60, 45);
    auto lines = AsLines(src);
    {
        TProgressiveResize resize(&dst.view, 2);
        ASSERT_EQ(resize.Line(1, -1, 120, 90), 1);
        for (std::int32_t y = 0; y < 40; ++y)
            resize.Line(reinterpret_cast<std::intptr_t>(lines[y].data()), y, 120, 90);
        EXPECT_GT(TCountingAllocator::live, 0);
        resize.Free();
        EXPECT_EQ(TCountingAllocator::live, 0);
        EXPECT_FALSE(resize.Started());
    }
    // A fresh picture after the clean-up works normally.
    TProgressiveResize fresh(&dst.view, 2);
    EXPECT_EQ(Feed(src, fresh), 1);
    EXPECT_EQ(TCountingAllocator::live, 0) << "buffers are returned after the last line";
}

// ---- Sizes ----------------------------------------------------------------------

TEST_F(ResampleTest, BuffersBeyond32BitsAreRefusedBeforeAllocating) {
    // 10000 columns x 100000 source rows x 3 bytes does not fit 32 bits.
    TImage src(1, 100000, 50), dst(10000, 1);
    EXPECT_THROW(Resample(0, 0, 10000, 1, kFilterLanczos3, 0.0f, src.view, dst.view), EPictureTooLarge);
    EXPECT_EQ(TCountingAllocator::total, 0);

    // A decoder announcing a 2e9 x 2e9 picture into a 2000 x 2000 target.
    TImage big(2000, 2000);
    TProgressiveResize resize(&big.view, 2);
    EXPECT_THROW(resize.Line(1, -1, 2000000000, 2000000000), EPictureTooLarge);
    EXPECT_FALSE(resize.Started());
    EXPECT_EQ(TCountingAllocator::total, 0);

    EXPECT_THROW(CheckedBytes(65536, 32768, 1, "x"), EPictureTooLarge);
    EXPECT_EQ(CheckedBytes(65535, 32768, 1, "x"), 2147450880);
    EXPECT_THROW(CheckedBytes(-1, 4, 1, "x"), EPictureTooLarge);
}

TEST_F(ResampleTest, EmptyOrMisplacedRectangles) {
    TImage src(4, 4, 80), dst(8, 8, 1);
    Resample(0, 0, 0, 8, kFilterBox, 0.0f, src.view, dst.view);
    TImage empty(0, 0);
    Resample(0, 0, 8, 8, kFilterBox, 0.0f, empty.view, dst.view);
    EXPECT_EQ(dst.bytes, std::vector<std::uint8_t>(8 * 8 * 4, 1));
    EXPECT_THROW(Resample(1, 0, 8, 8, kFilterBox, 0.0f, src.view, dst.view), Exception);
    EXPECT_THROW(Resample(0, 0, 8, 8, 7, 0.0f, src.view, dst.view), Exception);
    EXPECT_THROW(Resample(0, 0, 8, 8, kFilterBox, -1.0f, src.view, dst.view), Exception);
    EXPECT_THROW(Resample(0, 0, 8, 8, kFilterBox, 1e30f, src.view, dst.view), EPictureTooLarge);
    EXPECT_EQ(dst.bytes, std::vector<std::uint8_t>(8 * 8 * 4, 1)) << "a refused call draws nothing";
}

}  // namespace
