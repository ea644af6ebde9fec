#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "imaging/exif.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// IFD0 with `entries` entries, the orientation entry last, in either byte order.
Bytes Tiff(bool bigEndian, std::uint16_t orientation, std::uint16_t type = 3, int entries = 2) {
    Bytes t;
    auto u16 = [&](std::uint16_t v) {
        if (bigEndian) {
            t.push_back(v >> 8);
            t.push_back(v & 0xFF);
        } else {
            t.push_back(v & 0xFF);
            t.push_back(v >> 8);
        }
    };
    auto u32 = [&](std::uint32_t v) {
        if (bigEndian) {
            u16(v >> 16);
            u16(v & 0xFFFF);
        } else {
            u16(v & 0xFFFF);
            u16(v >> 16);
        }
    };
    t.push_back(bigEndian ? 'M' : 'I');
    t.push_back(bigEndian ? 'M' : 'I');
    u16(42);
    u32(8);
    u16(static_cast<std::uint16_t>(entries));
    for (int i = 0; i + 1 < entries; ++i) {  // ImageWidth, LONG
        u16(0x0100);
        u16(4);
        u32(1);
        u32(640);
    }
    u16(0x0112);
    u16(type);
    u32(1);
    u16(orientation);
    u16(0);
    u32(0);  // next IFD
    return t;
}

// SOI, an APP0, the APP1 Exif segment, then the start of scan.
Bytes Jpeg(const Bytes& tiff) {
    Bytes j = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0x4A, 0x46};
    const std::size_t len = tiff.size() + 8;
    j.insert(j.end(),
             {0xFF, 0xE1, static_cast<std::uint8_t>(len >> 8), static_cast<std::uint8_t>(len & 0xFF)});
    j.insert(j.end(), {'E', 'x', 'i', 'f', 0, 0});
    j.insert(j.end(), tiff.begin(), tiff.end());
    j.insert(j.end(), {0xFF, 0xDA, 0x00, 0x02, 0x12, 0x34});
    return j;
}

}  // namespace

TEST(Exif, EveryOrientationInBothByteOrders) {
    for (std::uint16_t o = 1; o <= 8; ++o) {
        Bytes j = Jpeg(Tiff(false, o));
        EXPECT_EQ(JpegExifOrientation(j.data(), j.size()), o);
        j = Jpeg(Tiff(true, o));
        EXPECT_EQ(JpegExifOrientation(j.data(), j.size()), o);
    }
}

TEST(Exif, OutOfRangeWrongTypeOrMissingGivesZero) {
    Bytes j = Jpeg(Tiff(false, 9));
    EXPECT_EQ(JpegExifOrientation(j.data(), j.size()), 0);
    j = Jpeg(Tiff(false, 0));
    EXPECT_EQ(JpegExifOrientation(j.data(), j.size()), 0);
    j = Jpeg(Tiff(false, 6, 4));  // LONG instead of SHORT
    EXPECT_EQ(JpegExifOrientation(j.data(), j.size()), 0);
    const Bytes plain = {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x02, 0xFF, 0xE1, 0x00, 0x10};
    EXPECT_EQ(JpegExifOrientation(plain.data(), plain.size()), 0);  // APP1 after SOS is not read
    const Bytes notJpeg = {'B', 'M', 0, 0, 0, 0};
    EXPECT_EQ(JpegExifOrientation(notJpeg.data(), notJpeg.size()), 0);
}

TEST(Exif, EveryTruncationIsSafeAndFindsNothingOnceTheTagIsCut) {
    const Bytes j = Jpeg(Tiff(true, 6));
    const std::size_t tagEnd = 8 + 10 + 8 + 2 + 12 + 10;  // through the orientation value
    for (std::size_t n = 0; n < j.size(); ++n) {
        const std::uint16_t o = JpegExifOrientation(j.data(), n);
        if (n < tagEnd)
            EXPECT_EQ(o, 0) << n;
        else
            EXPECT_EQ(o, 6) << n;
    }
}

TEST(Exif, IfdOffsetAndEntryCountPointingOutsideAreRejected) {
    Bytes t = Tiff(false, 3);
    t[4] = 0xF0;  // IFD offset far outside
    EXPECT_EQ(TiffOrientation(t.data(), t.size()), 0);
    t = Tiff(false, 3);
    t[8] = 0xFF;  // 255 entries claimed, two present
    t[9] = 0x00;
    // The orientation entry is still found before the walk leaves the buffer.
    EXPECT_EQ(TiffOrientation(t.data(), t.size()), 3);
    t = Tiff(false, 3, 3, 1);
    t[2] = 43;  // not TIFF
    EXPECT_EQ(TiffOrientation(t.data(), t.size()), 0);
}

TEST(OrientPixels, EachOrientationTurnsTheStoredPictureUpright) {
    // Stored 3 x 2 picture, pixel value = 10 * row + column.
    const std::uint32_t src[6] = {0, 1, 2, 10, 11, 12};
    struct Case {
        std::uint16_t orientation;
        std::uint32_t want[6];  // upright, row by row
    } cases[] = {
        {1, {0, 1, 2, 10, 11, 12}}, {2, {2, 1, 0, 12, 11, 10}}, {3, {12, 11, 10, 2, 1, 0}},
        {4, {10, 11, 12, 0, 1, 2}}, {5, {0, 10, 1, 11, 2, 12}}, {6, {10, 0, 11, 1, 12, 2}},
        {7, {12, 2, 11, 1, 10, 0}}, {8, {2, 12, 1, 11, 0, 10}}, {9, {0, 1, 2, 10, 11, 12}},
    };
    for (const Case& c : cases) {
        std::uint32_t dst[6] = {};
        OrientPixels(src, 3, 2, c.orientation, dst);
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(dst[i], c.want[i]) << "orientation " << c.orientation << " at " << i;
    }
}

// ---- The fuzzer's corpus and past findings, replayed on every run ---------------------

TEST(ExifCorpus, EachFileGivesTheOrientationItsNameStates) {
    // Names end in "-o<N>" before the extension: N is what the reader must
    // find (0: none). .jpg files go through the JPEG reader, .tif through
    // the TIFF one.
    const std::filesystem::path dir = std::filesystem::path(QV_TEST_DATA) / "exif_read";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        std::ifstream in(entry.path(), std::ios::binary);
        const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::size_t mark = name.rfind("-o");
        ASSERT_NE(mark, std::string::npos);
        const int want = name[mark + 2] - '0';
        const bool jpeg = entry.path().extension() == ".jpg";
        const std::uint16_t got = jpeg ? JpegExifOrientation(bytes.data(), bytes.size())
                                       : TiffOrientation(bytes.data(), bytes.size());
        EXPECT_EQ(got, want);
        ++files;
    }
    EXPECT_GE(files, 13);
}
