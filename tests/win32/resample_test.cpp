#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/handles_win32.h"
#include "imaging/resample_win32.h"

namespace {

// Paints a red block on white with GDI, so the resampler reads pixels GDI wrote.
void PaintSource(TBitmap& b) {
    RECT all{0, 0, b.Width, b.Height};
    ::FillRect(b.DC(), &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    TGdiObject red(::CreateSolidBrush(RGB(200, 0, 0)));
    RECT block{b.Width / 4, b.Height / 4, b.Width * 3 / 4, b.Height * 3 / 4};
    ::FillRect(b.DC(), &block, static_cast<HBRUSH>(red.Get()));
    ::GdiFlush();
}

// Flat areas may come out up to two steps darker (truncated sums of
// renormalised weights, once per pass).
::testing::AssertionResult NearColour(COLORREF got, int r, int g, int b) {
    const int gr = GetRValue(got), gg = GetGValue(got), gb = GetBValue(got);
    if (gr <= r && gr >= r - 2 && gg <= g && gg >= g - 2 && gb <= b && gb >= b - 2) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "got " << gr << ", " << gg << ", " << gb;
}

TEST(ResampleWin32, WholePictureBetweenDibSectionsIsVisibleToGdi) {
    TBitmap source(400, 300), target(200, 160);
    PaintSource(source);
    std::memset(target.Bits, 0x40, static_cast<std::size_t>(target.Width) * target.Height * 4);
    Resample(0, 5, 200, 150, kFilterLanczos3, 0.0f, source, target);
    ::GdiFlush();
    EXPECT_TRUE(NearColour(::GetPixel(target.DC(), 100, 80), 200, 0, 0));  // centre of the block
    EXPECT_TRUE(NearColour(::GetPixel(target.DC(), 5, 10), 255, 255, 255));
    EXPECT_EQ(::GetPixel(target.DC(), 100, 2), RGB(0x40, 0x40, 0x40)) << "rows above the rectangle untouched";
    EXPECT_EQ(target.Bits[(80 * 200 + 100) * 4 + 3], 0x40) << "fourth byte untouched";
}

TEST(ResampleWin32, ProgressiveIntoDibSectionMatchesPortableResult) {
    // A 120 x 60 stored picture with orientation 6 into a 30 x 60 DIB: display
    // size 60 x 120, halved.
    std::vector<std::vector<std::uint8_t>> lines(60, std::vector<std::uint8_t>(120 * 3));
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 120 * 3; ++x) lines[y][x] = static_cast<std::uint8_t>((x * 7 + y * 13) & 0xFF);

    TBitmap dib(30, 60);
    std::vector<std::uint8_t> plain(30 * 60 * 4);
    TPixelView plainView{plain.data(), 30, 60, true, false};
    TPixelView dibView = PixelView(dib);
    for (TPixelView* view : {&dibView, &plainView}) {
        TProgressiveResize resize(view, 2);
        ASSERT_EQ(resize.Line(6, -1, 120, 60), 1);
        for (int y = 0; y < 60; ++y)
            resize.Line(reinterpret_cast<std::intptr_t>(lines[y].data()), y, 120, 60);
        EXPECT_TRUE(resize.Resampling());
    }
    EXPECT_EQ(std::memcmp(dib.Bits, plain.data(), plain.size()), 0);
}

}  // namespace
