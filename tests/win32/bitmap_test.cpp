#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/exception.h"
#include "base/handles_win32.h"
#include "imaging/bitmap_text_win32.h"
#include "imaging/bitmap_win32.h"
#include "render/caption_win32.h"

namespace {

std::uint32_t PixelAt(const TBitmap& b, int x, int y) {
    std::uint32_t v;
    std::memcpy(&v, b.Bits + (static_cast<std::size_t>(y) * b.Width + x) * 4, 4);
    return v;
}

void Fill(TBitmap& b, std::uint32_t value) {
    for (int i = 0; i < b.Width * b.Height; ++i) std::memcpy(b.Bits + i * 4, &value, 4);
}

TEST(Bitmap, OneByOneIsTopDownFourBytes) {
    TBitmap b(1, 1);
    ASSERT_NE(b.Section(), nullptr);
    ASSERT_NE(b.DC(), nullptr);
    ASSERT_NE(b.Bits, nullptr);
    EXPECT_TRUE(b.ShrinkToFit);
    EXPECT_FALSE(b.EnlargeToFit);
    DIBSECTION ds;
    ASSERT_EQ(::GetObjectA(b.Section(), sizeof ds, &ds), static_cast<int>(sizeof ds));
    EXPECT_EQ(ds.dsBm.bmWidthBytes, 4);
    EXPECT_EQ(ds.dsBmih.biBitCount, 32);
    EXPECT_EQ(::GetCurrentObject(b.DC(), OBJ_BITMAP), b.Section());
    Fill(b, 0xFFFFFFFFu);
    b.Clear();
    EXPECT_EQ(PixelAt(b, 0, 0), 0u);
}

TEST(Bitmap, RowsAreTopDownForGdiDrawing) {
    TBitmap b(4, 3);
    Fill(b, 0);
    ::SetPixel(b.DC(), 1, 0, RGB(255, 0, 0));  // GDI's top row is row 0 of Bits
    ::GdiFlush();
    EXPECT_EQ(PixelAt(b, 1, 0) & 0xFFFFFFu, 0xFF0000u);
    EXPECT_EQ(PixelAt(b, 1, 2), 0u);
}

TEST(Bitmap, WrapperClearsForeignBufferInPlace) {
    std::vector<std::uint32_t> buffer(6, 0xABCDEF12u);
    buffer.push_back(0x55555555u);  // guard word after the picture
    {
        TBitmap w(3, 2, buffer.data());
        EXPECT_EQ(w.Section(), nullptr);
        EXPECT_EQ(w.DC(), nullptr);
        EXPECT_EQ(w.Bits, reinterpret_cast<std::uint8_t*>(buffer.data()));
        w.Clear();
        EXPECT_EQ(w.Bits, reinterpret_cast<std::uint8_t*>(buffer.data()));
    }
    for (int i = 0; i < 6; ++i) EXPECT_EQ(buffer[i], 0u);
    EXPECT_EQ(buffer[6], 0x55555555u);  // released without touching the buffer past it
}

TEST(Bitmap, ClearRectOnBitsExcludesRightColumn) {
    TBitmap b(6, 5);
    Fill(b, 0xFFFFFFFFu);
    b.ClearRect(1, 1, 4, 3);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x) {
            const bool cleared = x >= 1 && x <= 3 && y >= 1 && y <= 3;
            EXPECT_EQ(PixelAt(b, x, y), cleared ? 0u : 0xFFFFFFFFu) << x << "," << y;
        }
    // A rectangle reaching past the edges is clipped, never written outside.
    b.ClearRect(-3, -3, 100, 100);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x) EXPECT_EQ(PixelAt(b, x, y), 0u);
}

TEST(Bitmap, ClearRectOnDcOnlyBitmapIncludesRightColumn) {
    TBitmap b(6, 5);
    Fill(b, 0x00FFFFFFu);
    // Seen through its DC only: the fill covers columns x1..x2 and rows y1..y2.
    std::uint8_t* bits = b.Bits;
    b.Bits = nullptr;
    b.ClearRect(1, 1, 4, 3);
    ::GdiFlush();
    b.Bits = bits;
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x) {
            const bool cleared = x >= 1 && x <= 4 && y >= 1 && y <= 3;
            EXPECT_EQ(PixelAt(b, x, y) & 0xFFFFFFu, cleared ? 0u : 0xFFFFFFu) << x << "," << y;
        }
    b.Bits = nullptr;
    b.Clear();
    ::GdiFlush();
    b.Bits = bits;
    EXPECT_EQ(PixelAt(b, 5, 4) & 0xFFFFFFu, 0u);
}

TEST(Bitmap, CopyAndBlitMoveWholePixels) {
    TBitmap src(4, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            const std::uint32_t v = 0x01000000u * static_cast<std::uint32_t>(y * 4 + x) + 0x10101u * x;
            std::memcpy(src.Bits + (y * 4 + x) * 4, &v, 4);
        }
    TBitmap dst(5, 5);
    Fill(dst, 0xEEEEEEEEu);
    CopyPixels(dst, src, 1, 2, 3, 0, 4, 1);  // a 2 x 2 block
    EXPECT_EQ(PixelAt(dst, 3, 0), PixelAt(src, 1, 2));
    EXPECT_EQ(PixelAt(dst, 4, 1), PixelAt(src, 2, 3));
    EXPECT_EQ(PixelAt(dst, 2, 0), 0xEEEEEEEEu);
    EXPECT_EQ(PixelAt(dst, 3, 2), 0xEEEEEEEEu);

    Fill(dst, 0);
    BlitPixels(dst, src, 0, 0, 1, 2, 2, 1);  // 2 x 3 block from (2, 1)
    ::GdiFlush();
    EXPECT_EQ(PixelAt(dst, 0, 0) & 0xFFFFFFu, PixelAt(src, 2, 1) & 0xFFFFFFu);
    EXPECT_EQ(PixelAt(dst, 1, 2) & 0xFFFFFFu, PixelAt(src, 3, 3) & 0xFFFFFFu);
    EXPECT_EQ(PixelAt(dst, 2, 0), 0u);
}

TEST(Bitmap, FailedCreationRaisesOnceAndLeaksNoGdiObject) {
    // Wine reports no GDI object counts, so the leak check is by effect as
    // well: more failures than the GDI handle table holds must leave room for
    // new DCs. On Windows the object count must also stay unchanged.
    const DWORD before = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
    constexpr int kAttempts = 70000;
    int raised = 0;
    std::string message;
    for (int i = 0; i < kAttempts; ++i) {
        try {
            TBitmap b(0, 0);
        } catch (const Exception& e) {
            ++raised;
            if (message.empty()) message = e.what();
        }
    }
    EXPECT_EQ(raised, kAttempts);
    EXPECT_EQ(message.rfind("CreateDIBSection failed, Error = ", 0), 0u) << message;
    const std::string number = message.substr(std::strlen("CreateDIBSection failed, Error = "));
    EXPECT_FALSE(number.empty());
    EXPECT_EQ(number.find_first_not_of("0123456789"), std::string::npos) << message;
    EXPECT_EQ(::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS), before);
    TMemDC dc(::CreateCompatibleDC(nullptr));
    EXPECT_TRUE(dc);
    TBitmap after(16, 16);
    EXPECT_NE(after.Bits, nullptr);
}

TEST(Bitmap, RepeatedCreationReleasesEverything) {
    const DWORD before = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
    for (int i = 0; i < 200; ++i) {
        TBitmap b(64, 32);
        b.Clear();
    }
    EXPECT_EQ(::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS), before);
}

// ---- Texts drawn into bitmaps ------------------------------------------------

// Rows of `b` that hold a pixel of the message colour.
int RedRows(const TBitmap& b) {
    int rows = 0;
    for (int y = 0; y < b.Height; ++y) {
        bool red = false;
        for (int x = 0; x < b.Width && !red; ++x) {
            const std::uint32_t p = PixelAt(b, x, y);
            red = (p >> 16 & 0xFF) > 128 && (p >> 8 & 0xFF) < 64 && (p & 0xFF) < 64;
        }
        rows += red;
    }
    return rows;
}

// A font handle that still names a font (GDI has not deleted it).
bool IsFont(HFONT font) {
    return ::GetObjectType(font) == OBJ_FONT;
}

TEST(BitmapText, TheMessageFontFollowsItsHeightAndIsFreedOnRequest) {
    TMessageFont messages;
    messages.SetHeight(-12);
    TBitmap small(320, 200), large(320, 200);
    DrawMessage(small, "Can't read pictures", messages);
    const HFONT first = messages.Handle();
    ASSERT_TRUE(IsFont(first));
    DrawMessage(small, "Can't read pictures", messages);
    EXPECT_EQ(messages.Handle(), first) << "made once, on first use, and kept";
    LOGFONTA font{};
    ASSERT_EQ(::GetObjectA(first, sizeof font, &font), static_cast<int>(sizeof font));
    EXPECT_EQ(font.lfHeight, -12);
    EXPECT_STREQ(font.lfFaceName, "Courier New");

    // A new height replaces the font rather than keeping the old one.
    messages.SetHeight(-36);
    EXPECT_FALSE(IsFont(first)) << "the font of the old height is deleted";
    DrawMessage(large, "Can't read pictures", messages);
    EXPECT_GT(RedRows(large), RedRows(small) * 2);
    const HFONT second = messages.Handle();
    ASSERT_TRUE(IsFont(second));
    messages.Free();
    EXPECT_FALSE(IsFont(second));
}

TEST(BitmapText, AWrapperBitmapWithoutADcIsLeftAsItIs) {
    std::vector<std::uint8_t> pixels(64 * 32 * 4, 0x11);
    TBitmap wrapper(64, 32, pixels.data());
    TMessageFont messages;
    DrawMessage(wrapper, "No pictures selected", messages);
    EXPECT_EQ(pixels, std::vector<std::uint8_t>(64 * 32 * 4, 0x11));
}

// ---- Captions on pictures -----------------------------------------------------------

// How a caption changed a plain picture of colour `plain`: rows above the
// band untouched, the band darkened, white text on it.
struct TCaptionPixels {
    int changedOutside = 0;  // pixels outside the band (or the area) that changed
    int text = 0;            // near-white pixels in the band
    int band = 0;            // dark pixels in the band
    int bandPixels = 0;
};

TCaptionPixels LookAtCaption(const TBitmap& b, std::uint32_t plain, const TRect32& area, int bandTop) {
    TCaptionPixels look;
    for (int y = 0; y < b.Height; ++y) {
        for (int x = 0; x < b.Width; ++x) {
            const std::uint32_t v = PixelAt(b, x, y) & 0xFFFFFFu;
            const bool inArea =
                x >= area.Left && x < area.Left + area.Width && y >= area.Top && y < area.Top + area.Height;
            if (!inArea || y < bandTop) {
                look.changedOutside += v != plain;
                continue;
            }
            ++look.bandPixels;
            const int lo = std::min({v & 0xFF, v >> 8 & 0xFF, v >> 16 & 0xFF});
            const int hi = std::max({v & 0xFF, v >> 8 & 0xFF, v >> 16 & 0xFF});
            look.text += lo >= 220;
            look.band += hi <= 90;
        }
    }
    return look;
}

TEST(Caption, WhiteOnADarkBandReadsOnWhiteAndOnBlackPictures) {
    const std::string text = "IMG_0042.JPG  -  14/07/2019";
    for (std::uint32_t plain : {0xFFFFFFu, 0x000000u, 0x808080u}) {
        SCOPED_TRACE(plain);
        TBitmap b(480, 270);
        Fill(b, plain);
        // No area: the whole picture; a 16-pixel font gets a 26-row band.
        DrawCaption(b, text, TRect32{}, 16);
        const TCaptionPixels look = LookAtCaption(b, plain, {0, 0, 480, 270}, 270 - 26);
        EXPECT_EQ(look.changedOutside, 0);
        EXPECT_GT(look.text, 150) << "white letters";
        // Most of the band is dark, under the letters too: white on at most
        // 90 of 255 keeps a contrast above 7:1.
        EXPECT_GT(look.band, look.bandPixels * 3 / 4);
    }
}

TEST(Caption, StaysInsideTheCoveredAreaAndIsAbsentWhenOff) {
    // A portrait picture framed in red: the caption darkens and writes only
    // on its own columns.
    TBitmap b(320, 180);
    Fill(b, 0xFFFFFFu);
    const TRect32 area{100, 0, 120, 180};
    for (int y = 0; y < 180; ++y)
        for (int x = 0; x < 320; ++x)
            if (x < 100 || x >= 220) std::memcpy(b.Bits + (y * 320 + x) * 4, "\0\0\xFF\0", 4);
    std::vector<std::uint8_t> before(b.Bits, b.Bits + 320 * 180 * 4);
    DrawCaption(b, "A rather long file name that cannot fit.jpg", area, 12);
    int outside = 0;
    for (int y = 0; y < 180; ++y)
        for (int x = 0; x < 320; ++x)
            if (x < 100 || x >= 220)
                outside += std::memcmp(b.Bits + (y * 320 + x) * 4, &before[(y * 320 + x) * 4], 4) != 0;
    EXPECT_EQ(outside, 0);
    // Too long for one line: it breaks at its spaces onto two.
    const auto textIn = [&b](int top, int bottom) {
        int text = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = 100; x < 220; ++x) text += (PixelAt(b, x, y) & 0xFF) >= 220;
        return text;
    };
    EXPECT_GT(textIn(180 - 36, 180 - 18), 40);
    EXPECT_GT(textIn(180 - 18, 180), 40);

    // Off: no text to write, and the picture stays as it was.
    TBitmap off(320, 180);
    Fill(off, 0xFFFFFFu);
    const std::string none = PictureCaption(TCaption::None, "C:\\Photos\\IMG_0042.JPG");
    EXPECT_EQ(none, "");
    DrawCaption(off, none, area, 12);
    EXPECT_EQ(LookAtCaption(off, 0xFFFFFFu, {0, 0, 320, 180}, 180).changedOutside, 0);
}

std::string ShortDate(WORD year, WORD month, WORD day) {
    SYSTEMTIME st{};
    st.wYear = year;
    st.wMonth = month;
    st.wDay = day;
    char text[80] = "";
    ::GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, text, sizeof text);
    return text;
}

TEST(Caption, TheDateIsWhenThePhotoWasTakenElseTheFilesLastChange) {
    char temp[MAX_PATH] = "";
    ASSERT_GT(::GetTempPathA(MAX_PATH, temp), 0u);
    const std::string withExif = std::string(temp) + "qv_caption_IMG_0042.JPG";
    const std::string without = std::string(temp) + "qv_caption_plain.bmp";
    // SOI, APP1 "Exif" with IFD0 -> Exif IFD -> DateTimeOriginal, then SOS.
    std::string tiff("II*\0\x08\0\0\0", 8);
    tiff += std::string("\x01\0\x69\x87\x04\0\x01\0\0\0\x1A\0\0\0\0\0\0\0", 18);  // IFD0 at 8
    tiff += std::string("\x01\0\x03\x90\x02\0\x14\0\0\0\x2C\0\0\0\0\0\0\0", 18);  // Exif IFD at 26
    tiff += std::string("2019:07:14 18:03:59\0", 20);                             // at 44
    const std::size_t app1 = 2 + 6 + tiff.size();
    std::string jpeg("\xFF\xD8\xFF\xE1", 4);
    jpeg += static_cast<char>(app1 >> 8);
    jpeg += static_cast<char>(app1 & 0xFF);
    jpeg += std::string("Exif\0\0", 6) + tiff + std::string("\xFF\xDA\0\x02", 4);
    {
        TKernelHandle f(
            ::CreateFileA(withExif.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(f);
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(f.Get(), jpeg.data(), static_cast<DWORD>(jpeg.size()), &written, nullptr));
    }
    // A file without EXIF, last changed on 3 February 2001 at noon UTC.
    SYSTEMTIME changed{};
    changed.wYear = 2001;
    changed.wMonth = 2;
    changed.wDay = 3;
    changed.wHour = 12;
    FILETIME utc{}, local{};
    ASSERT_TRUE(::SystemTimeToFileTime(&changed, &utc));
    {
        TKernelHandle f(::CreateFileA(without.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(f);
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(f.Get(), "BM", 2, &written, nullptr));
        ASSERT_TRUE(::SetFileTime(f.Get(), nullptr, nullptr, &utc));
    }
    ::FileTimeToLocalFileTime(&utc, &local);
    SYSTEMTIME localChange{};
    ::FileTimeToSystemTime(&local, &localChange);

    const std::string taken = ShortDate(2019, 7, 14);
    ASSERT_FALSE(taken.empty());
    EXPECT_EQ(PictureCaption(TCaption::DateTaken, withExif), taken);
    EXPECT_EQ(PictureCaption(TCaption::NameAndDate, withExif), "qv_caption_IMG_0042.JPG  -  " + taken);
    EXPECT_EQ(PictureCaption(TCaption::FileName, withExif), "qv_caption_IMG_0042.JPG");
    EXPECT_EQ(PictureCaption(TCaption::DateTaken, without),
              ShortDate(localChange.wYear, localChange.wMonth, localChange.wDay));
    // A file that cannot be read has no date: the name alone.
    EXPECT_EQ(PictureCaption(TCaption::NameAndDate, std::string(temp) + "qv_caption_missing.jpg"),
              "qv_caption_missing.jpg");
    ::DeleteFileA(withExif.c_str());
    ::DeleteFileA(without.c_str());
}

}  // namespace
