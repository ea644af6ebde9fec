#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "imaging/bmp_decode.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& b, std::size_t at, std::uint32_t v) {
    b[at] = v & 0xFF;
    b[at + 1] = (v >> 8) & 0xFF;
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

// A BITMAPINFOHEADER file: headers, `extra` (palette or masks), then pixels.
Bytes InfoFile(std::int32_t w, std::int32_t h, std::uint16_t bits, std::uint32_t compression,
               const Bytes& extra, const Bytes& pixels, std::uint32_t colorsUsed = 0) {
    // Sized once: GCC 12 misreads growing inserts into a fresh vector as
    // out-of-bounds copies.
    Bytes b(54 + extra.size() + pixels.size());
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 10, static_cast<std::uint32_t>(54 + extra.size()));
    Put32(b, 14, 40);
    Put32(b, 18, static_cast<std::uint32_t>(w));
    Put32(b, 22, static_cast<std::uint32_t>(h));
    Put16(b, 26, 1);
    Put16(b, 28, bits);
    Put32(b, 30, compression);
    Put32(b, 46, colorsUsed);
    std::copy(extra.begin(), extra.end(), b.begin() + 54);
    std::copy(pixels.begin(), pixels.end(), b.begin() + 54 + static_cast<std::ptrdiff_t>(extra.size()));
    Put32(b, 2, static_cast<std::uint32_t>(b.size()));
    return b;
}

struct Decoded {
    bool ok = false;
    TBmpInfo info;
    Bytes pixels;
    // Blue, green, red of pixel (x, y), top-down.
    std::uint32_t At(int x, int y) const {
        const std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * info.Width + x) * 4];
        return std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0];
    }
};

Decoded Decode(const Bytes& file) {
    Decoded d;
    if (!ParseBmpHeader(file.data(), file.size(), d.info)) return d;
    d.pixels.assign(static_cast<std::size_t>(BmpOutputBytes(d.info)), 0xEE);
    d.ok = DecodeBmpPixels(file.data(), file.size(), d.info, d.pixels.data());
    return d;
}

// The way the plug-in reads a file: the headers from a separate copy of at
// most its first 2 KiB, then the pixels in pieces, each in a heap block of
// its own so that a read past one is caught: uncompressed rows three at a
// time, a run-length stream whole.
Decoded DecodeInPieces(const Bytes& file) {
    Decoded d;
    const auto headEnd = file.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(file.size(), 2048));
    const Bytes head(file.begin(), headEnd);
    if (!ParseBmpHeader(head.data(), head.size(), file.size(), d.info)) return d;
    d.pixels.assign(static_cast<std::size_t>(BmpOutputBytes(d.info)), 0xEE);
    const auto from = file.begin() + d.info.PixelOffset;
    if (BmpCompressed(d.info)) {
        const Bytes stream(from, file.end());
        d.ok = DecodeBmpRle(stream.data(), stream.size(), d.info, d.pixels.data());
        return d;
    }
    d.ok = true;
    for (std::int32_t row = 0; row < d.info.Height && d.ok; row += 3) {
        const std::int32_t count = std::min(3, d.info.Height - row);
        const std::size_t at = std::size_t{d.info.RowBytes} * static_cast<std::size_t>(row);
        const std::size_t bytes = std::size_t{d.info.RowBytes} * static_cast<std::size_t>(count);
        if (at + bytes > static_cast<std::size_t>(file.end() - from)) return Decoded{false, d.info, {}};
        const Bytes rows(from + static_cast<std::ptrdiff_t>(at), from + static_cast<std::ptrdiff_t>(at + bytes));
        d.ok = DecodeBmpRows(rows.data(), row, count, d.info, d.pixels.data());
    }
    return d;
}

const Bytes kTwoColours = {0x00, 0x00, 0xFF, 0, 0x00, 0xFF, 0x00, 0};  // red, green

}  // namespace

// ---- Pixel formats ------------------------------------------------------------------

TEST(BmpFormats, TwentyFourBitBottomUpRowsArePaddedAndFlipped) {
    // 2 x 2: bottom row blue, white; top row red, black. Rows pad to 8 bytes.
    const Bytes pixels = {0xFF, 0, 0, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0};
    const Decoded d = Decode(InfoFile(2, 2, 24, kBmpRgb, {}, pixels));
    ASSERT_TRUE(d.ok);
    EXPECT_FALSE(d.info.TopDown);
    EXPECT_EQ(d.At(0, 0), 0xFF0000u);
    EXPECT_EQ(d.At(1, 0), 0x000000u);
    EXPECT_EQ(d.At(0, 1), 0x0000FFu);
    EXPECT_EQ(d.At(1, 1), 0xFFFFFFu);
    EXPECT_EQ(d.pixels[3], 0);  // fourth byte cleared
}

TEST(BmpFormats, NegativeHeightIsTopDown) {
    const Bytes pixels = {0, 0, 0xFF, 0, 0xFF, 0, 0, 0};  // 1 x 2: red over blue
    const Decoded d = Decode(InfoFile(1, -2, 24, kBmpRgb, {}, pixels));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.At(0, 0), 0xFF0000u);
    EXPECT_EQ(d.At(0, 1), 0x0000FFu);
}

TEST(BmpFormats, OneFourAndEightBitIndicesReadTheirBitsMostSignificantFirst) {
    // 1 bit: 10 pixels 1010000011 -> bytes 0xA0 0xC0, padded to 4.
    Decoded d = Decode(InfoFile(10, 1, 1, kBmpRgb, kTwoColours, {0xA0, 0xC0, 0, 0}, 2));
    ASSERT_TRUE(d.ok);
    const std::uint32_t R = 0xFF0000, G = 0x00FF00;
    const std::uint32_t want1[10] = {G, R, G, R, R, R, R, R, G, G};
    for (int x = 0; x < 10; ++x) EXPECT_EQ(d.At(x, 0), want1[x]) << x;

    d = Decode(InfoFile(3, 1, 4, kBmpRgb, kTwoColours, {0x10, 0x10, 0, 0}, 2));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.At(0, 0), G);
    EXPECT_EQ(d.At(1, 0), R);
    EXPECT_EQ(d.At(2, 0), G);

    d = Decode(InfoFile(2, 1, 8, kBmpRgb, kTwoColours, {1, 0, 0, 0}, 2));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.At(0, 0), G);
    EXPECT_EQ(d.At(1, 0), R);
}

TEST(BmpFormats, IndexBeyondTheGivenPaletteIsBlack) {
    const Decoded d = Decode(InfoFile(1, 1, 8, kBmpRgb, kTwoColours, {200, 0, 0, 0}, 2));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.At(0, 0), 0u);
}

TEST(BmpFormats, SixteenBitDefaultsTo555AndBitfieldsTo565) {
    // 0x7C00 is full red in 5-5-5.
    Decoded d = Decode(InfoFile(1, 1, 16, kBmpRgb, {}, {0x00, 0x7C, 0, 0}));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.At(0, 0), 0xFF0000u);
    Bytes masks(12);
    Put32(masks, 0, 0xF800);
    Put32(masks, 4, 0x07E0);
    Put32(masks, 8, 0x001F);
    // 0x07E0 is full green in 5-6-5; 0x0400 is green 32 of 63 -> 130.
    d = Decode(InfoFile(2, 1, 16, kBmpBitfields, masks, {0xE0, 0x07, 0x00, 0x04}));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.At(0, 0), 0x00FF00u);
    EXPECT_EQ(d.At(1, 0), 0x008200u);
}

TEST(BmpFormats, ThirtyTwoBitWithAndWithoutBitfields) {
    Decoded d = Decode(InfoFile(1, 1, 32, kBmpRgb, {}, {0x11, 0x22, 0x33, 0x44}));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.At(0, 0), 0x332211u);
    Bytes masks(12);
    Put32(masks, 0, 0x000000FF);  // red in the low byte
    Put32(masks, 4, 0x0000FF00);
    Put32(masks, 8, 0x00FF0000);
    d = Decode(InfoFile(1, 1, 32, kBmpBitfields, masks, {0x11, 0x22, 0x33, 0x44}));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.At(0, 0), 0x112233u);
}

TEST(BmpFormats, Os2CoreHeaderWithThreeBytePalette) {
    Bytes b(36);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 14, 12);
    Put16(b, 18, 2);
    Put16(b, 20, 1);
    Put16(b, 22, 1);
    Put16(b, 24, 1);
    b[28] = 0xFF;  // palette: red, blue
    b[29] = 0xFF;
    Put32(b, 10, 32);
    b[32] = 0x40;  // pixels 1, 0
    const Decoded d = Decode(b);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.At(0, 0), 0xFF0000u);
    EXPECT_EQ(d.At(1, 0), 0x0000FFu);
}

TEST(BmpFormats, Rle8RunsAbsoluteRunsDeltaAndEnd) {
    // 4 x 2, bottom-up. Row 0 (bottom): run of 2 x index 1, absolute 3 bytes
    // 0,1,0 clipped to the width; end of line. A delta of one column on
    // row 1, one pixel, end of bitmap.
    const Bytes rle = {2, 1, 0, 3, 0, 1, 0, 0, 0, 0, 0, 2, 1, 0, 1, 1, 0, 1};
    const Decoded d = Decode(InfoFile(4, 2, 8, kBmpRle8, kTwoColours, rle, 2));
    ASSERT_TRUE(d.ok);
    const std::uint32_t R = 0xFF0000, G = 0x00FF00;
    EXPECT_EQ(d.At(0, 1), G);
    EXPECT_EQ(d.At(1, 1), G);
    EXPECT_EQ(d.At(2, 1), R);
    EXPECT_EQ(d.At(3, 1), G);
    // The top row: x 0 was skipped by the delta, x 2 follows the end code.
    EXPECT_EQ(d.At(0, 0), 0u);
    EXPECT_EQ(d.At(1, 0), G);
    EXPECT_EQ(d.At(2, 0), 0u);
}

TEST(BmpFormats, Rle4AlternatesNibbles) {
    const Bytes rle = {3, 0x10, 0, 1};  // 3 pixels: 1, 0, 1
    const Decoded d = Decode(InfoFile(3, 1, 4, kBmpRle4, kTwoColours, rle, 2));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.At(0, 0), 0x00FF00u);
    EXPECT_EQ(d.At(1, 0), 0xFF0000u);
    EXPECT_EQ(d.At(2, 0), 0x00FF00u);
}

// ---- Hostile input ------------------------------------------------------------------

TEST(BmpHostile, TruncatedPixelsDecodeToNothing) {
    Bytes file = InfoFile(2, 2, 24, kBmpRgb, {}, Bytes(16, 0x55));
    EXPECT_TRUE(Decode(file).ok);
    file.pop_back();
    EXPECT_FALSE(Decode(file).ok);
    // RLE without its end code that stops short of the last row.
    EXPECT_FALSE(Decode(InfoFile(4, 2, 8, kBmpRle8, kTwoColours, {2, 1, 0, 0}, 2)).ok);
}

TEST(BmpHostile, HeaderFieldsOutsideTheFormatAreRefused) {
    const Bytes px(64, 0);
    EXPECT_FALSE(Decode(InfoFile(0, 1, 24, kBmpRgb, {}, px)).ok);               // zero width
    EXPECT_FALSE(Decode(InfoFile(-1, 1, 24, kBmpRgb, {}, px)).ok);              // negative width
    EXPECT_FALSE(Decode(InfoFile(1, 0, 24, kBmpRgb, {}, px)).ok);               // zero height
    EXPECT_FALSE(Decode(InfoFile(1, INT32_MIN, 24, kBmpRgb, {}, px)).ok);       // -2^31 height
    EXPECT_FALSE(Decode(InfoFile(1, 1, 7, kBmpRgb, {}, px)).ok);                // odd bit count
    EXPECT_FALSE(Decode(InfoFile(1, 1, 24, kBmpRle8, {}, px)).ok);              // RLE8 needs 8 bits
    EXPECT_FALSE(Decode(InfoFile(1, -1, 8, kBmpRle8, kTwoColours, px, 2)).ok);  // top-down RLE
    EXPECT_FALSE(Decode(InfoFile(1, 1, 8, 4, kTwoColours, px, 2)).ok);          // embedded JPEG
    EXPECT_FALSE(Decode(InfoFile(1, 1, 8, kBmpRgb, kTwoColours, px, 257)).ok);  // palette too big
    Bytes masks(12);
    Put32(masks, 0, 0x0F0F);  // not one run of bits
    EXPECT_FALSE(Decode(InfoFile(1, 1, 16, kBmpBitfields, masks, px)).ok);
    Bytes wrongMagic = InfoFile(1, 1, 24, kBmpRgb, {}, px);
    wrongMagic[1] = 'A';
    EXPECT_FALSE(Decode(wrongMagic).ok);
}

TEST(BmpHostile, SizesWhoseOutputWouldOverflowAreRefusedBeforeAllocating) {
    // 46341 x 46341 x 4 exceeds 2^31: refused by the header check alone,
    // whatever the file holds.
    TBmpInfo info;
    const Bytes file = InfoFile(46341, 46341, 1, kBmpRgb, kTwoColours, Bytes(16, 0), 2);
    EXPECT_FALSE(ParseBmpHeader(file.data(), file.size(), info));
    const Bytes wide = InfoFile(INT32_MAX, 1, 32, kBmpRgb, {}, Bytes(16, 0));
    EXPECT_FALSE(ParseBmpHeader(wide.data(), wide.size(), info));
}

TEST(BmpHostile, OutputSizeOfTheLargestSidesIsRefusedWithoutOverflowing) {
    // Width x height x 4 in 64 bits overflows once both sides pass 2^30.5;
    // the bound comes before the multiplication (the sanitizer of the native
    // build ends the test run on a signed overflow).
    TBmpInfo info;
    info.Width = INT32_MAX;
    info.Height = INT32_MAX;
    EXPECT_EQ(BmpOutputBytes(info), -1);
    info.Width = 2085617836;
    info.Height = 1618001942;
    EXPECT_EQ(BmpOutputBytes(info), -1);
    // The largest accepted picture: exactly 2^31 - 1 bytes cannot be made of
    // 4-byte pixels, so 536870911 pixels on one row is the limit.
    info.Width = INT32_MAX / 4;
    info.Height = 1;
    EXPECT_EQ(BmpOutputBytes(info), std::int64_t{INT32_MAX / 4} * 4);
    info.Width = INT32_MAX / 4 + 1;
    EXPECT_EQ(BmpOutputBytes(info), -1);
    info.Width = 1;
    info.Height = INT32_MAX / 4 + 1;
    EXPECT_EQ(BmpOutputBytes(info), -1);
}

TEST(BmpHostile, PixelOffsetOutsideTheFileOrInsideTheHeaderIsRefused) {
    Bytes file = InfoFile(1, 1, 24, kBmpRgb, {}, Bytes(4, 0));
    TBmpInfo info;
    Put32(file, 10, 20);
    EXPECT_FALSE(ParseBmpHeader(file.data(), file.size(), info));
    Put32(file, 10, static_cast<std::uint32_t>(file.size()));
    EXPECT_FALSE(ParseBmpHeader(file.data(), file.size(), info));
    for (std::size_t n = 0; n < 54; ++n) EXPECT_FALSE(ParseBmpHeader(file.data(), n, info)) << n;
}

// ---- The fuzzer's corpus and past findings, replayed on every run ---------------------

namespace {

Bytes ReadCorpusFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const std::filesystem::path kCorpus = std::filesystem::path(QV_TEST_DATA) / "bmp_decode";

}  // namespace

TEST(BmpCorpus, FuzzerFindingOfTwoHugeSidesIsRefusedByTheHeaderCheck) {
    // 2085617836 x 1618001942, 1 bit: the first fuzzer finding, whose output
    // size overflowed 64 bits.
    const Bytes file = ReadCorpusFile(kCorpus / "finding-width-times-height-overflow.bmp");
    ASSERT_EQ(file.size(), 71u);
    TBmpInfo info;
    EXPECT_FALSE(ParseBmpHeader(file.data(), file.size(), info));
    EXPECT_EQ(BmpOutputBytes(info), -1);
}

TEST(BmpCorpus, EverySeedAndFindingParsesOrIsRefusedAndDecodesInsideItsBuffers) {
    int files = 0, decoded = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kCorpus)) {
        SCOPED_TRACE(entry.path().filename().string());
        ++files;
        // Exactly the file's bytes on the heap, so that a read past them is caught.
        const Bytes file = ReadCorpusFile(entry.path());
        const Decoded d = Decode(file);
        decoded += d.ok;
        // Read in pieces, the same picture or the same refusal.
        const Decoded pieces = DecodeInPieces(file);
        EXPECT_EQ(pieces.ok, d.ok);
        if (d.ok && pieces.ok) {
            EXPECT_TRUE(pieces.pixels == d.pixels);
        }
        const bool seed = entry.path().filename().string().rfind("finding-", 0) != 0 &&
                          entry.path().filename().string().rfind("truncated", 0) != 0;
        EXPECT_EQ(d.ok, seed);
    }
    EXPECT_GE(files, 16);
    EXPECT_GE(decoded, 14);
}
