#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "base/handles_win32.h"
#include "imaging/colour_convert_win32.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadFileBytes(const std::string& unixPath) {
    std::ifstream in("Z:" + unixPath, std::ios::binary);
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

}  // namespace
