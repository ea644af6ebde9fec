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

// Appends 16- and 32-bit words to a TIFF block in its byte order.
struct TTiffWriter {
    Bytes& t;
    bool bigEndian;
    void U16(std::uint16_t v) {
        if (bigEndian) {
            t.push_back(v >> 8);
            t.push_back(v & 0xFF);
        } else {
            t.push_back(v & 0xFF);
            t.push_back(v >> 8);
        }
    }
    void U32(std::uint32_t v) {
        U16(static_cast<std::uint16_t>(bigEndian ? v >> 16 : v & 0xFFFF));
        U16(static_cast<std::uint16_t>(bigEndian ? v & 0xFFFF : v >> 16));
    }
};

// IFD0 with `entries` entries, the orientation entry last, in either byte order.
Bytes Tiff(bool bigEndian, std::uint16_t orientation, std::uint16_t type = 3, int entries = 2) {
    Bytes t;
    TTiffWriter w{t, bigEndian};
    auto u16 = [&w](std::uint16_t v) { w.U16(v); };
    auto u32 = [&w](std::uint32_t v) { w.U32(v); };
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

// ---- When the photograph was taken ---------------------------------------------------

namespace {

// IFD0 holding ImageWidth and the Exif IFD pointer; the Exif IFD holding
// ExposureTime-like filler and DateTimeOriginal, its text after the IFDs.
Bytes TiffWithDate(bool bigEndian, const std::string& text, std::uint16_t type = 2,
                   std::uint16_t pointerTag = 0x8769) {
    Bytes t;
    TTiffWriter w{t, bigEndian};
    auto u16 = [&w](std::uint16_t v) { w.U16(v); };
    auto u32 = [&w](std::uint32_t v) { w.U32(v); };
    auto entry = [&](std::uint16_t tag, std::uint16_t ty, std::uint32_t n, std::uint32_t value) {
        u16(tag);
        u16(ty);
        u32(n);
        u32(value);
    };
    t.push_back(bigEndian ? 'M' : 'I');
    t.push_back(bigEndian ? 'M' : 'I');
    u16(42);
    u32(8);
    // IFD0 at 8: 2 entries, 2 + 24 + 4 bytes, ends at 38.
    u16(2);
    entry(0x0100, 4, 1, 640);
    entry(pointerTag, 4, 1, 38);
    u32(0);
    // Exif IFD at 38: 2 entries, ends at 68; the text follows.
    u16(2);
    entry(0x829A, 4, 1, 1);
    entry(0x9003, type, static_cast<std::uint32_t>(text.size() + 1), 68);
    u32(0);
    t.insert(t.end(), text.begin(), text.end());
    t.push_back(0);
    return t;
}

}  // namespace

TEST(ExifDateTaken, FoundThroughTheExifIfdInBothByteOrders) {
    const TExifDateTime want{2019, 7, 14, 18, 3, 59};
    for (bool big : {false, true}) {
        const Bytes t = TiffWithDate(big, "2019:07:14 18:03:59");
        EXPECT_EQ(TiffDateTaken(t.data(), t.size()), want) << big;
        const Bytes j = Jpeg(t);
        EXPECT_EQ(JpegExifDateTaken(j.data(), j.size()), want) << big;
    }
    // The orientation reader is not confused by the longer IFD0.
    const Bytes j = Jpeg(TiffWithDate(false, "2019:07:14 18:03:59"));
    EXPECT_EQ(JpegExifOrientation(j.data(), j.size()), 0);
}

TEST(ExifDateTaken, UnsetClocksAndDamagedTextGiveNoDate) {
    for (const char* text : {"0000:00:00 00:00:00", "                   ", "2019-07-14 18:03:59",
                             "2019:13:01 00:00:00", "2019:07:32 00:00:00", "2019:07:14 24:00:00",
                             "2019:07:14 18:60:00", "2019:07:14", "2019:07:1x 18:03:59"}) {
        const Bytes t = TiffWithDate(false, text);
        EXPECT_FALSE(TiffDateTaken(t.data(), t.size())) << text;
    }
    // A leap second is a real time.
    const Bytes leap = TiffWithDate(false, "2016:12:31 23:59:60");
    EXPECT_TRUE(TiffDateTaken(leap.data(), leap.size()));
}

TEST(ExifDateTaken, WrongTypesPointersAndCutsAreRejected) {
    Bytes t = TiffWithDate(false, "2019:07:14 18:03:59", 7);  // UNDEFINED, not ASCII
    EXPECT_FALSE(TiffDateTaken(t.data(), t.size()));
    t = TiffWithDate(false, "2019:07:14 18:03:59", 2, 0x8825);  // the GPS IFD, not the Exif one
    EXPECT_FALSE(TiffDateTaken(t.data(), t.size()));
    t = TiffWithDate(false, "2019:07:14 18:03:59");
    t[8 + 2 + 12 + 8] = 8;  // the Exif IFD pointer aims back at IFD0
    EXPECT_FALSE(TiffDateTaken(t.data(), t.size()));
    t = TiffWithDate(false, "2019:07:14 18:03:59");
    t[8 + 2 + 12 + 8] = 0xF0;  // and far outside
    t[8 + 2 + 12 + 9] = 0xFF;
    EXPECT_FALSE(TiffDateTaken(t.data(), t.size()));
    // Every cut: safe, and the date is found only once its text is whole.
    const Bytes j = Jpeg(TiffWithDate(true, "2001:02:03 04:05:06"));
    const std::size_t textEnd = 8 + 10 + 68 + 19;  // APP0, APP1 header, IFDs, text
    for (std::size_t n = 0; n <= j.size(); ++n) {
        const auto got = JpegExifDateTaken(j.data(), n);
        EXPECT_EQ(got.has_value(), n >= textEnd) << n;
    }
}
