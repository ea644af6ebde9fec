#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/handles_win32.h"
#include "bench/wic_write.h"
#include "imaging/colour_convert_win32.h"
#include "imaging/picture_colour_win32.h"
#include "imaging/prepare_win32.h"
#include "imaging/resample.h"
#include "tests/win32/plugin_fixture.h"
#include "tests/win32/test_session.h"

namespace {
// The process's session, which the tests below set up and hand on.
TSession& Session = TestSession();
}  // namespace

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadFileBytes(const std::string& unixPath) {
    std::ifstream in("Z:" + unixPath, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes ReadWindowsFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string DataFile(const char* name) {
    return std::string(QV_TEST_DATA) + "/colour_read/" + name;
}

struct TPatch {
    std::uint8_t In[3];   // R, G, B as the picture stores it
    std::uint8_t Ref[3];  // the reference's sRGB
};
struct TSpace {
    std::string ProfilePath;
    std::vector<TPatch> Patches;
};

// The reference little CMS computed on the build host (tests/tools/unix/colour_reference.c).
std::map<std::string, TSpace> ReadReference() {
    std::map<std::string, TSpace> spaces;
    std::ifstream in(std::string("Z:") + QV_COLOUR_REFERENCE);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string kind, space;
        words >> kind >> space;
        if (kind == "profile") {
            words >> spaces[space].ProfilePath;
        } else if (kind == "patch") {
            int v[6];
            for (int& x : v) words >> x;
            TPatch p;
            for (int c = 0; c < 3; ++c) p.In[c] = std::uint8_t(v[c]), p.Ref[c] = std::uint8_t(v[3 + c]);
            spaces[space].Patches.push_back(p);
        }
    }
    return spaces;
}

// A fitted picture inside a larger bitmap, as the prepare path fits one:
// rows further apart than the picture is wide, a frame around it that no
// conversion may touch. Each patch is one pixel; x bytes count up.
struct TFitted {
    static constexpr int kFrame = 3;
    int Width, Height, Stride;
    Bytes Bytes_;
    explicit TFitted(const std::vector<TPatch>& patches)
        : Width(37), Height(int(patches.size() + 36) / 37), Stride((Width + 2 * kFrame) * 4),
          Bytes_(std::size_t(Stride) * (Height + 2 * kFrame), 0x11) {
        for (std::size_t i = 0; i < Width * std::size_t(Height); ++i) {
            const TPatch& p = patches[std::min(i, patches.size() - 1)];
            std::uint8_t* px = Pixel(int(i));
            px[0] = p.In[2], px[1] = p.In[1], px[2] = p.In[0], px[3] = std::uint8_t(i);
        }
    }
    std::uint8_t* Bits() { return Bytes_.data() + kFrame * Stride + kFrame * 4; }
    std::uint8_t* Pixel(int i) { return Bits() + (i / Width) * Stride + (i % Width) * 4; }
    bool FrameUntouched() const {
        for (int y = 0; y < Height + 2 * kFrame; ++y)
            for (int x = 0; x < Stride; ++x) {
                const bool inside = y >= kFrame && y < kFrame + Height && x >= kFrame * 4 && x < (kFrame + Width) * 4;
                if (!inside && Bytes_[std::size_t(y) * Stride + x] != 0x11) return false;
            }
        return true;
    }
};

struct TAgreement {
    std::size_t Within = 0, Total = 0;  // patches within 2 levels in every channel, of all
    int Largest = 0;                    // the largest difference of any channel
    bool AlphaKept = true;
};

TAgreement Compare(TFitted& fitted, const std::vector<TPatch>& patches) {
    TAgreement a;
    for (std::size_t i = 0; i < patches.size(); ++i) {
        const std::uint8_t* px = fitted.Pixel(int(i));
        int worst = 0;
        for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(int(px[2 - c]) - int(patches[i].Ref[c])));
        a.Largest = std::max(a.Largest, worst);
        a.Within += worst <= 2;
        ++a.Total;
        a.AlphaKept = a.AlphaKept && px[3] == std::uint8_t(i);
    }
    return a;
}

class ColourConversion : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_STRNE(QV_COLOUR_REFERENCE, "") << "liblcms2-dev was missing when this build was configured";
        spaces_ = ReadReference();
        ASSERT_EQ(spaces_.size(), 4u) << "cannot read " << QV_COLOUR_REFERENCE;
    }
    TEmbeddedColour Tagged(const std::string& space, TPictureChannels channels = TPictureChannels::Rgb) {
        TEmbeddedColour c = JudgeProfile(ReadFileBytes(spaces_[space].ProfilePath), channels);
        EXPECT_EQ(c.Kind, TPictureColour::Profile) << space;
        return c;
    }
    std::map<std::string, TSpace> spaces_;
};

// ---- Against the reference -------------------------------------------------------------

TEST_F(ColourConversion, WideGamutChartsMatchLittleCmsWithinTwoLevels) {
    TColourConverter converter;
    for (const char* space : {"display-p3", "adobe-rgb", "prophoto"}) {
        const std::vector<TPatch>& patches = spaces_[space].Patches;
        ASSERT_GT(patches.size(), 200u) << space;
        TFitted fitted(patches);
        ASSERT_EQ(converter.Convert(Tagged(space), fitted.Bits(), fitted.Width, fitted.Height, fitted.Stride),
                  TColourResult::Converted)
            << space;
        const TAgreement a = Compare(fitted, patches);
        std::printf("[ colour   ] %-10s %zu of %zu patches within 2 levels, largest error %d\n", space, a.Within,
                    a.Total, a.Largest);
        EXPECT_GE(a.Within * 100, a.Total * 99) << space << ": largest error " << a.Largest;
        EXPECT_TRUE(a.AlphaKept) << space;
        EXPECT_TRUE(fitted.FrameUntouched()) << space;

        // The system converting every pixel itself is held to the same measure.
        TFitted direct(patches);
        const TSystemTransform system(Tagged(space).Profile, SrgbProfile());
        ASSERT_TRUE(system.Pixels(direct.Bits(), direct.Width, direct.Height, direct.Stride)) << space;
        const TAgreement d = Compare(direct, patches);
        std::printf("[ colour   ] %-10s pixel by pixel: %zu of %zu within 2 levels, largest error %d\n", space,
                    d.Within, d.Total, d.Largest);
        EXPECT_GE(d.Within * 100, d.Total * 99) << space;
    }
}

TEST_F(ColourConversion, GreyProfileAndExifAdobeHintMatchTheReference) {
    TColourConverter converter;
    // A grey picture: the decoder gave equal R, G and B.
    const std::vector<TPatch>& grey = spaces_["gray"].Patches;
    TFitted fittedGrey(grey);
    ASSERT_EQ(converter.Convert(Tagged("gray", TPictureChannels::Gray), fittedGrey.Bits(), fittedGrey.Width,
                                fittedGrey.Height, fittedGrey.Stride),
              TColourResult::Converted);
    const TAgreement g = Compare(fittedGrey, grey);
    std::printf("[ colour   ] gray       %zu of %zu levels within 2, largest error %d\n", g.Within, g.Total,
                g.Largest);
    EXPECT_GE(g.Within * 100, g.Total * 99);
    EXPECT_TRUE(g.AlphaKept && fittedGrey.FrameUntouched());

    // A camera that only says Adobe RGB in its EXIF: the profile written in
    // code agrees with the published one.
    const std::vector<TPatch>& adobe = spaces_["adobe-rgb"].Patches;
    TFitted fitted(adobe);
    TEmbeddedColour hint;
    hint.Kind = TPictureColour::AdobeRgb;
    ASSERT_EQ(converter.Convert(hint, fitted.Bits(), fitted.Width, fitted.Height, fitted.Stride),
              TColourResult::Converted);
    const TAgreement a = Compare(fitted, adobe);
    std::printf("[ colour   ] EXIF Adobe %zu of %zu patches within 2 levels, largest error %d\n", a.Within, a.Total,
                a.Largest);
    EXPECT_GE(a.Within * 100, a.Total * 99);
}

// ---- Pictures that stay as they are ------------------------------------------------

TEST_F(ColourConversion, UntaggedSrgbDamagedAndCmykPicturesAreLeftByteForByte) {
    const std::vector<TPatch>& patches = spaces_["display-p3"].Patches;
    std::vector<TEmbeddedColour> colours(5);
    colours[0].Kind = TPictureColour::Untagged;
    colours[1] = JudgeProfile(ReadFileBytes(DataFile("srgb-colord-srgb.icc")), TPictureChannels::Rgb);
    EXPECT_EQ(colours[1].Kind, TPictureColour::Srgb);
    colours[2] = JudgeProfile(Tagged("display-p3").Profile, TPictureChannels::Gray);
    EXPECT_EQ(colours[2].Kind, TPictureColour::Damaged);
    colours[3].Kind = TPictureColour::AskSystem;
    // What the file reader leaves to the system's decoder comes back answered.
    EXPECT_NE(ReadPictureColour(DataFile("png-iccp-asksystem.png")).Kind, TPictureColour::AskSystem);
    EXPECT_EQ(ReadPictureColour(DataFile("no-such-file.png")).Kind, TPictureColour::Untagged);
    colours[4] = JudgeProfile(ReadFileBytes(DataFile("cmyk-small-tables-cmyk.icc")), TPictureChannels::Unknown);
    EXPECT_EQ(colours[4].Space, TProfileSpace::Cmyk);
    // A profile the system refuses, had anything let it through.
    TEmbeddedColour refused;
    refused.Kind = TPictureColour::Profile;
    refused.Profile = Tagged("prophoto").Profile;
    refused.Profile.resize(200);
    colours.push_back(refused);

    TColourConverter converter;
    for (std::size_t i = 0; i < colours.size(); ++i) {
        TFitted fitted(patches);
        const Bytes before = fitted.Bytes_;
        EXPECT_EQ(converter.Convert(colours[i], fitted.Bits(), fitted.Width, fitted.Height, fitted.Stride),
                  TColourResult::Unchanged)
            << i;
        EXPECT_TRUE(fitted.Bytes_ == before) << i;
    }
    // The refusal is not kept against the next picture's sound profile.
    TFitted fitted(patches);
    EXPECT_EQ(converter.Convert(Tagged("display-p3"), fitted.Bits(), fitted.Width, fitted.Height, fitted.Stride),
              TColourResult::Converted);
}

// ---- The monitor's profile --------------------------------------------------------------

// The monitor profiles the system knows, by file name in its colour folder.
constexpr wchar_t kMonitorKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ICM\\mntr";

TEST_F(ColourConversion, ConvertsToTheProfileTheSystemNamesForTheMonitor) {
    HDC screen = ::GetDC(nullptr);
    // Wine names its sRGB profile: that is no reason to convert differently.
    EXPECT_TRUE(DisplayProfile(screen).empty());

    // A monitor set up with the Adobe RGB profile.
    wchar_t folder[MAX_PATH];
    ASSERT_GT(::GetSystemDirectoryW(folder, MAX_PATH), 0u);
    const std::wstring target = std::wstring(folder) + L"\\spool\\drivers\\color\\quorvane-test-adobe.icc";
    const Bytes adobe = ReadFileBytes(spaces_["adobe-rgb"].ProfilePath);
    {
        TKernelHandle f(::CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        ASSERT_TRUE(f && ::WriteFile(f.Get(), adobe.data(), DWORD(adobe.size()), &written, nullptr));
    }
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kMonitorKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ::RegSetValueExW(key, L"quorvane-test-adobe.icc", 0, REG_BINARY, nullptr, 0);
    const Bytes monitor = DisplayProfile(screen);
    ::RegDeleteValueW(key, L"quorvane-test-adobe.icc");
    ::RegCloseKey(key);
    ::DeleteFileW(target.c_str());
    ::ReleaseDC(nullptr, screen);
    EXPECT_TRUE(monitor == adobe);

    // Adobe RGB pictures on an Adobe RGB monitor keep their numbers; on an
    // sRGB one they change.
    const std::vector<TPatch>& patches = spaces_["adobe-rgb"].Patches;
    TFitted onAdobe(patches), onSrgb(patches);
    const Bytes before = onAdobe.Bytes_;
    TColourConverter toAdobe(monitor), toSrgb;
    ASSERT_EQ(toAdobe.Convert(Tagged("adobe-rgb"), onAdobe.Bits(), onAdobe.Width, onAdobe.Height, onAdobe.Stride),
              TColourResult::Converted);
    toSrgb.Convert(Tagged("adobe-rgb"), onSrgb.Bits(), onSrgb.Width, onSrgb.Height, onSrgb.Stride);
    int largestOnAdobe = 0, largestOnSrgb = 0;
    for (std::size_t i = 0; i < before.size(); ++i) {
        largestOnAdobe = std::max(largestOnAdobe, std::abs(int(onAdobe.Bytes_[i]) - int(before[i])));
        largestOnSrgb = std::max(largestOnSrgb, std::abs(int(onSrgb.Bytes_[i]) - int(before[i])));
    }
    EXPECT_LE(largestOnAdobe, 1);
    EXPECT_GT(largestOnSrgb, 20);
}

// ---- Through the prepare path -----------------------------------------------------------

std::uint32_t Crc32(const std::uint8_t* p, std::size_t n, std::uint32_t crc = 0) {
    crc = ~crc;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void PutBe32(Bytes& out, std::uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(std::uint8_t(v >> s));
}

// A zlib stream of stored blocks: what a PNG needs, without a compressor.
Bytes Stored(const Bytes& data) {
    Bytes z = {0x78, 0x01};
    std::size_t at = 0;
    do {
        const std::size_t n = std::min<std::size_t>(65535, data.size() - at);
        z.push_back(at + n == data.size() ? 1 : 0);
        z.push_back(std::uint8_t(n)), z.push_back(std::uint8_t(n >> 8));
        z.push_back(std::uint8_t(~n)), z.push_back(std::uint8_t(~n >> 8));
        z.insert(z.end(), data.begin() + at, data.begin() + at + n);
        at += n;
    } while (at < data.size());
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t v : data) a = (a + v) % 65521, b = (b + a) % 65521;
    PutBe32(z, b << 16 | a);
    return z;
}

void Chunk(Bytes& png, const char* type, const Bytes& body) {
    PutBe32(png, std::uint32_t(body.size()));
    const std::size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), body.begin(), body.end());
    PutBe32(png, Crc32(&png[start], png.size() - start));
}

// An RGB PNG of the patches, one pixel each, `width` to a row (the last
// patch repeated to fill it), with the profile in an iCCP chunk if given.
Bytes ChartPng(const std::vector<TPatch>& patches, int width, const Bytes& profile) {
    const int height = int(patches.size() + width - 1) / width;
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    PutBe32(header, std::uint32_t(width));
    PutBe32(header, std::uint32_t(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});
    Chunk(png, "IHDR", header);
    if (!profile.empty()) {
        Bytes iccp = {'W', 'i', 'd', 'e', 0, 0};
        const Bytes z = Stored(profile);
        iccp.insert(iccp.end(), z.begin(), z.end());
        Chunk(png, "iCCP", iccp);
    }
    Bytes rows;
    for (int i = 0; i < width * height; ++i) {
        if (i % width == 0) rows.push_back(0);
        const TPatch& p = patches[std::min<std::size_t>(i, patches.size() - 1)];
        rows.insert(rows.end(), p.In, p.In + 3);
    }
    Chunk(png, "IDAT", Stored(rows));
    Chunk(png, "IEND", {});
    return png;
}

class PreparedColours : public ColourConversion {
protected:
    void SetUp() override {
        ColourConversion::SetUp();
        ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        folder.AddFastmm();
        folder.Add(ProductDll("imgwic.dll"));
        folder.Add(ProductDll("imgbmp.dll"));
        folder.Load();
        Session.Settings.rtresize = false;
        Session.Settings.FitMode = 2;
    }
    std::string Write(const std::string& name, const Bytes& bytes) {
        WriteFileBytes(folder.File(name), bytes.data(), bytes.size());
        return folder.File(name);
    }
    // Prepares `file` into a w x h target that shows it unscaled and centred.
    std::unique_ptr<TBitmap> Prepared(const std::string& file, int w, int h, TColourConverter* converter,
                                      bool intended, PictureInfo* infoOut = nullptr) {
        auto target = std::make_unique<TBitmap>(w, h);
        target->EnlargeToFit = false;
        target->ShrinkToFit = true;
        PictureInfo info;
        LoadPicture(*target, file, info, SessionPrepare({intended, converter}));
        EXPECT_GT(info.Width, 0) << file;
        if (infoOut) *infoOut = info;
        return target;
    }
    TInstallFolder folder;
};

constexpr int kChartWidth = 37;

const std::uint8_t* At(const TBitmap& b, int x, int y) {
    return b.Bits + (std::size_t(y) * b.Width + x) * 4;
}

// Pixels of the picture centred in `b`, against the patches' reference (or
// their stored values): patches within 2 levels, the largest error, and
// whether the black frame around the picture stayed black.
TAgreement CompareCentred(const TBitmap& b, const std::vector<TPatch>& patches, bool reference,
                          bool* frameBlack) {
    const int height = int(patches.size() + kChartWidth - 1) / kChartWidth;
    const int left = (b.Width - kChartWidth) / 2, top = (b.Height - height) / 2;
    TAgreement a;
    for (std::size_t i = 0; i < patches.size(); ++i) {
        const std::uint8_t* px = At(b, left + int(i) % kChartWidth, top + int(i) / kChartWidth);
        const std::uint8_t* want = reference ? patches[i].Ref : patches[i].In;
        int worst = 0;
        for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(int(px[2 - c]) - int(want[c])));
        a.Largest = std::max(a.Largest, worst);
        a.Within += worst <= 2;
        ++a.Total;
    }
    *frameBlack = true;
    for (int y = 0; y < b.Height; ++y)
        for (int x = 0; x < b.Width; ++x) {
            const bool inside = x >= left && x < left + kChartWidth && y >= top && y < top + height;
            const std::uint8_t* px = At(b, x, y);
            if (!inside && (px[0] | px[1] | px[2])) *frameBlack = false;
        }
    return a;
}

TEST_F(PreparedColours, TaggedPngsArePreparedInTheColoursLittleCmsGivesAndOnlyWhenAsked) {
    TColourConverter converter;
    // Display P3 again at the end: its tables are found among the kept ones.
    for (const char* space : {"display-p3", "adobe-rgb", "display-p3"}) {
        const std::vector<TPatch>& patches = spaces_[space].Patches;
        const std::string file =
            Write(std::string(space) + ".png", ChartPng(patches, kChartWidth, Tagged(space).Profile));
        PictureInfo info;
        const auto on = Prepared(file, 64, 64, &converter, true, &info);
        bool frameBlack = false;
        const TAgreement a = CompareCentred(*on, patches, true, &frameBlack);
        std::printf("[ colour   ] prepared PNG %-10s %zu of %zu patches within 2 levels, largest error %d\n",
                    space, a.Within, a.Total, a.Largest);
        EXPECT_TRUE(info.ColourConverted) << space;
        EXPECT_GE(a.Within * 100, a.Total * 99) << space << ": largest error " << a.Largest;
        EXPECT_TRUE(frameBlack) << space;

        // The switch off: the numbers the file holds, exactly.
        const auto off = Prepared(file, 64, 64, &converter, false, &info);
        const TAgreement o = CompareCentred(*off, patches, false, &frameBlack);
        EXPECT_FALSE(info.ColourConverted) << space;
        EXPECT_EQ(o.Largest, 0) << space;
    }
}

TEST_F(PreparedColours, TaggedJpegIsTheUntaggedOneConvertedAndUntaggedPicturesStayAsBefore) {
    // A JPEG of the Display P3 chart, in 8 x 8 blocks, and the same file with
    // the profile spliced in: the decoder gives both the same numbers.
    const std::vector<TPatch>& patches = spaces_["display-p3"].Patches;
    const std::string plainFile = folder.File("plain.jpg");
    ASSERT_TRUE(WriteWicPicture(plainFile, GUID_ContainerFormatJpeg, 16 * 8, 16 * 8, [&](UINT y, BYTE* bgr) {
        for (UINT x = 0; x < 16 * 8; ++x) {
            const TPatch& p = patches[(y / 8 * 16 + x / 8) % patches.size()];
            bgr[x * 3] = p.In[2], bgr[x * 3 + 1] = p.In[1], bgr[x * 3 + 2] = p.In[0];
        }
    }));
    const std::string taggedFile =
        Write("tagged.jpg", WithIccSegments(ReadWindowsFile(plainFile), Tagged("display-p3").Profile));

    TColourConverter converter;
    PictureInfo info;
    const auto before = Prepared(plainFile, 200, 150, nullptr, false);
    const auto plain = Prepared(plainFile, 200, 150, &converter, true, &info);
    EXPECT_FALSE(info.ColourConverted);
    EXPECT_EQ(std::memcmp(before->Bits, plain->Bits, 200 * 150 * 4), 0);
    const auto tagged = Prepared(taggedFile, 200, 150, &converter, true, &info);
    EXPECT_TRUE(info.ColourConverted);

    TBitmap expected(200, 150);
    std::memcpy(expected.Bits, before->Bits, 200 * 150 * 4);
    const TEmbeddedColour p3 = Tagged("display-p3");
    // The picture covers (36, 11) to (163, 138); the frame stays black.
    TColourConverter reference;
    ASSERT_EQ(reference.Convert(p3, expected.Bits + (11 * 200 + 36) * 4, 128, 128, 200 * 4),
              TColourResult::Converted);
    EXPECT_EQ(std::memcmp(expected.Bits, tagged->Bits, 200 * 150 * 4), 0);
    EXPECT_NE(std::memcmp(before->Bits, tagged->Bits, 200 * 150 * 4), 0);

    // Scaled, and in lines: the fitted rectangle is what is converted.
    for (bool lines : {false, true}) {
        Session.Settings.rtresize = lines;
        TBitmap small(60, 40), smallTagged(60, 40);
        LoadPicture(small, plainFile, info, SessionPrepare());
        LoadPicture(smallTagged, taggedFile, info, SessionPrepare({true, &converter}));
        EXPECT_TRUE(info.ColourConverted) << lines;
        const TRect32 r = FittedRect(128, 128, 60, 40);
        reference.Convert(p3, small.Bits + (r.Top * 60 + r.Left) * 4, r.Width, r.Height, 60 * 4);
        EXPECT_EQ(std::memcmp(small.Bits, smallTagged.Bits, 60 * 40 * 4), 0) << lines;
    }
    Session.Settings.rtresize = false;

    // A BMP, with the switch on: untouched.
    const auto bmp =
        MakeBmp24(50, 30, [](int x, int y) { return std::uint32_t(0x204060 + x * 3 + y * 0x300); });
    const std::string bmpFile = Write("plain.bmp", Bytes(bmp.begin(), bmp.end()));
    const auto bmpOff = Prepared(bmpFile, 80, 60, nullptr, false);
    const auto bmpOn = Prepared(bmpFile, 80, 60, &converter, true, &info);
    EXPECT_FALSE(info.ColourConverted);
    EXPECT_EQ(std::memcmp(bmpOff->Bits, bmpOn->Bits, 80 * 60 * 4), 0);
}

// The cost of the conversion at the fitted size: a 12-megapixel JPEG,
// tagged and untagged, prepared into a 1920 x 1080 target.
TEST_F(PreparedColours, ConversionCostBesideThePreparationOfATwelveMegapixelJpeg) {
    const std::vector<TPatch>& patches = spaces_["display-p3"].Patches;
    const std::string plainFile = folder.File("big.jpg");
    ASSERT_TRUE(WriteWicPicture(plainFile, GUID_ContainerFormatJpeg, 4000, 3000, [&](UINT y, BYTE* bgr) {
        for (UINT x = 0; x < 4000; ++x) {
            const TPatch& p = patches[(y / 40 * 100 + x / 40) % patches.size()];
            bgr[x * 3] = BYTE(p.In[2] ^ (x & 7)), bgr[x * 3 + 1] = p.In[1],
                    bgr[x * 3 + 2] = BYTE(p.In[0] ^ (y & 7));
        }
    }));
    const std::string taggedFile =
        Write("big-p3.jpg", WithIccSegments(ReadWindowsFile(plainFile), Tagged("display-p3").Profile));
    TColourConverter converter;
    TBitmap target(1920, 1080);
    target.ShrinkToFit = true;
    const auto msOf = [&](const std::string& file, bool intended) {
        PictureInfo info;
        const auto start = std::chrono::steady_clock::now();
        LoadPicture(target, file, info, SessionPrepare({intended, &converter}));
        const auto end = std::chrono::steady_clock::now();
        EXPECT_EQ(info.ColourConverted, intended && file == taggedFile);
        return std::chrono::duration<double, std::milli>(end - start).count();
    };
    // The first picture of a profile also makes its table and keeps its busiest cells.
    const double first = msOf(taggedFile, true);
    // Then the three in turn, so that a slow spell of the machine falls on all of them.
    double untagged = 1e9, taggedOff = 1e9, tagged = 1e9;
    for (int i = 0; i < 4; ++i) {
        untagged = std::min(untagged, msOf(plainFile, true));
        taggedOff = std::min(taggedOff, msOf(taggedFile, false));
        tagged = std::min(tagged, msOf(taggedFile, true));
    }
    // The conversion alone, on the fitted picture's rectangle.
    const TRect32 r = FittedRect(4000, 3000, 1920, 1080);
    const TEmbeddedColour p3 = Tagged("display-p3");
    PictureInfo info;
    double convertOnly = 1e9;
    for (int i = 0; i < 3; ++i) {
        LoadPicture(target, plainFile, info, SessionPrepare());
        const auto t0 = std::chrono::steady_clock::now();
        converter.Convert(p3, target.Bits + (std::size_t(r.Top) * 1920 + r.Left) * 4, r.Width, r.Height,
                          1920 * 4);
        convertOnly = std::min(
            convertOnly,
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    std::printf("[ colour   ] converting the %dx%d fitted rectangle alone, best of 3: %.1f ms\n", r.Width,
                r.Height, convertOnly);
    std::printf(
        "[ colour   ] 4000x3000 JPEG into 1920x1080, best of 4: untagged %.1f ms, tagged with the switch "
        "off %.1f ms, tagged and converted %.1f ms (+%.1f ms, %.1f %%); the first picture of the profile "
        "%.1f ms (+%.1f %%)\n",
        untagged, taggedOff, tagged, tagged - untagged, 100.0 * (tagged - untagged) / untagged, first,
        100.0 * (first - untagged) / untagged);
}

}  // namespace
