#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "imaging/colour_profile.h"
#include "imaging/colour_table.h"
#include "imaging/embedded_colour.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void PutBe32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}
std::uint32_t Be32(const Bytes& b, std::size_t at) {
    return std::uint32_t{b[at]} << 24 | std::uint32_t{b[at + 1]} << 16 | std::uint32_t{b[at + 2]} << 8 |
           b[at + 3];
}
// The byte where the tag table entry of `sig` starts.
std::size_t TagEntry(const Bytes& p, const char* sig) {
    for (std::size_t at = 132; at + 12 <= 132 + 12 * Be32(p, 128); at += 12)
        if (std::memcmp(&p[at], sig, 4) == 0) return at;
    ADD_FAILURE() << "no tag " << sig;
    return 0;
}

TEmbeddedColour Find(const Bytes& file) {
    TByteSpanReader source(file.data(), file.size());
    return FindEmbeddedColour(source);
}

// ---- Pictures built from their format's definitions --------------------------------------

Bytes Segment(std::uint8_t marker, const Bytes& payload) {
    Bytes s(payload.size() + 4);
    s[0] = 0xFF, s[1] = marker;
    s[2] = static_cast<std::uint8_t>((payload.size() + 2) >> 8);
    s[3] = static_cast<std::uint8_t>(payload.size() + 2);
    std::copy(payload.begin(), payload.end(), s.begin() + 4);
    return s;
}
Bytes IccChunk(int number, int count, const Bytes& part) {
    Bytes p(std::begin("ICC_PROFILE"), std::end("ICC_PROFILE"));
    p.push_back(static_cast<std::uint8_t>(number));
    p.push_back(static_cast<std::uint8_t>(count));
    p.insert(p.end(), part.begin(), part.end());
    return Segment(0xE2, p);
}
// A JPEG's header segments: `segments`, then a frame of `components`.
Bytes Jpeg(const std::vector<Bytes>& segments, std::uint8_t components = 3) {
    Bytes j = {0xFF, 0xD8};
    for (const Bytes& s : segments) j.insert(j.end(), s.begin(), s.end());
    const Bytes frame = Segment(0xC0, {8, 0, 1, 0, 1, components, 1, 0x11, 0, 2, 0x11, 1, 3, 0x11, 1});
    j.insert(j.end(), frame.begin(), frame.end());
    const Bytes scan = Segment(0xDA, {1, 1, 0, 0, 63, 0});
    j.insert(j.end(), scan.begin(), scan.end());
    j.insert(j.end(), {0x12, 0x34, 0xFF, 0xD9});
    return j;
}
// `profile` in `count` nearly equal chunks, in the order `numbers` gives.
std::vector<Bytes> Chunks(const Bytes& profile, int count, const std::vector<int>& numbers) {
    std::vector<Bytes> out;
    const std::size_t step = (profile.size() + count - 1) / count;
    for (int n : numbers) {
        const std::size_t from = std::min(profile.size(), step * (n - 1));
        const std::size_t to = std::min(profile.size(), from + step);
        out.push_back(IccChunk(n, count, Bytes(profile.begin() + from, profile.begin() + to)));
    }
    return out;
}

// A TIFF structure: IFD0 pointing to an EXIF directory with
// ColorSpace `colourSpace` and an interoperability directory with `index`.
Bytes ExifTiff(bool big, std::uint16_t colourSpace, const char* index) {
    Bytes t;
    auto u16 = [&](std::uint32_t v) {
        t.push_back(static_cast<std::uint8_t>(big ? v >> 8 : v));
        t.push_back(static_cast<std::uint8_t>(big ? v : v >> 8));
    };
    auto u32 = [&](std::uint32_t v) {
        u16(big ? v >> 16 : v & 0xFFFF);
        u16(big ? v & 0xFFFF : v >> 16);
    };
    t = {static_cast<std::uint8_t>(big ? 'M' : 'I'), static_cast<std::uint8_t>(big ? 'M' : 'I')};
    u16(42), u32(8);
    u16(1), u16(34665), u16(4), u32(1), u32(26), u32(0);            // IFD0 at 8: the EXIF pointer
    u16(2), u16(0xA001), u16(3), u32(1), u16(colourSpace), u16(0);  // EXIF IFD at 26
    u16(0xA005), u16(4), u32(1), u32(56), u32(0);
    u16(1), u16(1), u16(2), u32(4);  // interoperability IFD at 56
    t.insert(t.end(), index, index + 4);
    u32(0);
    return t;
}
Bytes ExifSegment(bool big, std::uint16_t colourSpace, const char* index) {
    Bytes p = {'E', 'x', 'i', 'f', 0, 0};
    const Bytes tiff = ExifTiff(big, colourSpace, index);
    p.insert(p.end(), tiff.begin(), tiff.end());
    return Segment(0xE1, p);
}

Bytes PngChunk(const char* type, const Bytes& data) {
    Bytes c(4);
    PutBe32(c, 0, static_cast<std::uint32_t>(data.size()));
    c.insert(c.end(), type, type + 4);
    c.insert(c.end(), data.begin(), data.end());
    c.insert(c.end(), 4, 0);  // the reader does not check the CRC
    return c;
}
Bytes Png(std::uint8_t colourType, const std::vector<Bytes>& chunks) {
    Bytes p = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const Bytes ihdr = PngChunk("IHDR", {0, 0, 0, 1, 0, 0, 0, 1, 8, colourType, 0, 0, 0});
    p.insert(p.end(), ihdr.begin(), ihdr.end());
    for (const Bytes& c : chunks) p.insert(p.end(), c.begin(), c.end());
    return p;
}
const Bytes kIccp = {'I', 'C', 'C', 0, 0, 0x78, 0x9C, 1, 2, 3};

// A little-endian TIFF whose IFD0 comes after the profile, or big-endian.
Bytes TiffWithProfile(bool big, const Bytes& profile, std::uint32_t offsetShift = 0) {
    Bytes t = {static_cast<std::uint8_t>(big ? 'M' : 'I'), static_cast<std::uint8_t>(big ? 'M' : 'I')};
    auto u16 = [&](std::uint32_t v) {
        t.push_back(static_cast<std::uint8_t>(big ? v >> 8 : v));
        t.push_back(static_cast<std::uint8_t>(big ? v : v >> 8));
    };
    auto u32 = [&](std::uint32_t v) {
        u16(big ? v >> 16 : v & 0xFFFF);
        u16(big ? v & 0xFFFF : v >> 16);
    };
    const std::uint32_t ifd = static_cast<std::uint32_t>(8 + profile.size());
    u16(42), u32(ifd);
    t.insert(t.end(), profile.begin(), profile.end());
    u16(2), u16(262), u16(3), u32(1), u16(2), u16(0);  // RGB
    u16(34675), u16(7), u32(static_cast<std::uint32_t>(profile.size())), u32(8 + offsetShift), u32(0);
    return t;
}

const Bytes& Adobe() {
    return AdobeRgbProfile();
}

}  // namespace

// ---- The profile check -------------------------------------------------------------------

TEST(ProfileCheck, RefusesEveryKindOfDamage) {
    ASSERT_TRUE(CheckProfile(Adobe().data(), Adobe().size()).Sound);
    struct Case {
        const char* what;
        void (*damage)(Bytes&);
    } cases[] = {
        {"truncated", [](Bytes& p) { p.pop_back(); }},
        {"length past the bytes", [](Bytes& p) { PutBe32(p, 0, Be32(p, 0) + 4); }},
        {"absurd length",
         [](Bytes& p) {
             p.resize(kMaxProfileBytes + 8), PutBe32(p, 0, static_cast<std::uint32_t>(p.size()));
         }},
        {"absurd tag count", [](Bytes& p) { PutBe32(p, 128, 0x10000000); }},
        {"tag offset past the end", [](Bytes& p) { PutBe32(p, TagEntry(p, "desc") + 4, Be32(p, 0) + 16); }},
        {"tag size past the end", [](Bytes& p) { PutBe32(p, TagEntry(p, "rXYZ") + 8, 0xFFFFFFF0u); }},
        {"tag inside the table", [](Bytes& p) { PutBe32(p, TagEntry(p, "cprt") + 4, 132); }},
        {"curve longer than its tag", [](Bytes& p) { PutBe32(p, Be32(p, TagEntry(p, "rTRC") + 4) + 8, 9); }},
        {"colorant of the wrong type",
         [](Bytes& p) { std::memcpy(&p[Be32(p, TagEntry(p, "gXYZ") + 4)], "curv", 4); }},
        {"a tag named twice", [](Bytes& p) { std::memcpy(&p[TagEntry(p, "cprt")], "rXYZ", 4); }},
        {"RGB with only a grey curve",
         [](Bytes& p) {
             for (const char* t : {"rTRC", "gTRC", "bTRC"})
                 std::memcpy(&p[TagEntry(p, t)], t[0] == 'r' ? "kTRC" : t[0] == 'g' ? "xxx1" : "xxx2", 4);
         }},
        {"grey profile with RGB tags only", [](Bytes& p) { std::memcpy(&p[16], "GRAY", 4); }},
        {"CMYK without a table", [](Bytes& p) { std::memcpy(&p[16], "CMYK", 4); }},
        {"no profile signature", [](Bytes& p) { p[36] = 'x'; }},
        {"version 5", [](Bytes& p) { p[8] = 5; }},
        {"device link", [](Bytes& p) { std::memcpy(&p[12], "link", 4); }},
        {"Lab data", [](Bytes& p) { std::memcpy(&p[16], "Lab ", 4); }},
    };
    for (const Case& c : cases) {
        Bytes p = Adobe();
        c.damage(p);
        EXPECT_FALSE(CheckProfile(p.data(), p.size()).Sound) << c.what;
    }
}

TEST(ProfileCheck, TellsSrgbFromOtherSpaces) {
    const Bytes srgb = MakeRgbProfile(kSrgbPrimaries, 0.0, "sRGB");
    const Bytes srgbGamma = MakeRgbProfile(kSrgbPrimaries, 2.2, "sRGB primaries, gamma 2.2");
    const TProfileCheck s = CheckProfile(srgb.data(), srgb.size());
    EXPECT_TRUE(s.Sound && s.Srgb);
    EXPECT_EQ(s.Length, srgb.size());
    EXPECT_FALSE(CheckProfile(srgbGamma.data(), srgbGamma.size()).Srgb);
    EXPECT_FALSE(CheckProfile(Adobe().data(), Adobe().size()).Srgb);
    // Trailing bytes after the profile's own length are not part of it.
    Bytes padded = srgb;
    padded.resize(padded.size() + 7, 0xEE);
    EXPECT_EQ(CheckProfile(padded.data(), padded.size()).Length, srgb.size());
}

TEST(ProfileWriter, AdobeRgbHasThePublishedColorantsAndPower) {
    double c[3][3];
    D50Colorants(kAdobeRgbPrimaries, c);
    const double published[3][3] = {
        {0.6097, 0.3111, 0.0195}, {0.2053, 0.6257, 0.0609}, {0.1492, 0.0632, 0.7446}};
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(c[i][k], published[i][k], 1.5e-4) << i << "," << k;
    const Bytes& p = Adobe();
    const std::uint32_t curve = Be32(p, TagEntry(p, "rTRC") + 4);
    EXPECT_EQ(Be32(p, curve + 8), 1u);  // one entry: a power
    EXPECT_EQ(p[curve + 12] << 8 | p[curve + 13], 563);
}

// ---- Finding the profile in a picture -----------------------------------------------------

TEST(EmbeddedColour, JpegChunksInOrderAreJoined) {
    std::vector<Bytes> segments = Chunks(Adobe(), 3, {1, 2, 3});
    segments.insert(segments.begin() + 1, Segment(0xDB, Bytes(65, 0)));  // a table between chunks
    segments.push_back(ExifSegment(false, 0xFFFF, "R03"));               // the profile wins over the hint
    const TEmbeddedColour c = Find(Jpeg(segments));
    EXPECT_EQ(c.Kind, TPictureColour::Profile);
    EXPECT_EQ(c.Profile, Adobe());
    EXPECT_EQ(c.Channels, TPictureChannels::Rgb);
    EXPECT_EQ(Find(Jpeg(Chunks(Adobe(), 1, {1}))).Profile, Adobe());
}

TEST(EmbeddedColour, JpegChunksOutOfOrderMissingOrRepeatedAreDamage) {
    const std::vector<std::vector<int>> orders = {{2, 1, 3}, {1, 3}, {1, 2, 2, 3}, {1, 2, 3, 1}, {0, 1, 2}};
    for (const auto& order : orders) {
        const TEmbeddedColour c = Find(Jpeg(Chunks(Adobe(), 3, order)));
        EXPECT_EQ(c.Kind, TPictureColour::Damaged) << "chunks " << order.size() << " starting " << order[0];
        EXPECT_TRUE(c.Profile.empty());
    }
    // The data in the profile's order, but numbered 2, 1, 3.
    std::vector<Bytes> misnumbered = Chunks(Adobe(), 3, {1, 2, 3});
    std::swap(misnumbered[0][4 + 12], misnumbered[1][4 + 12]);
    EXPECT_EQ(Find(Jpeg(misnumbered)).Kind, TPictureColour::Damaged);
    std::vector<Bytes> disagree = Chunks(Adobe(), 2, {1, 2});
    disagree[1][4 + 12 + 1] = 3;  // the second chunk counts three
    EXPECT_EQ(Find(Jpeg(disagree)).Kind, TPictureColour::Damaged);
}

TEST(EmbeddedColour, ProfileOfAnotherSpaceThanThePictureIsDamage) {
    EXPECT_EQ(Find(Jpeg(Chunks(Adobe(), 2, {1, 2}), 1)).Kind, TPictureColour::Damaged);
    EXPECT_EQ(Find(Jpeg(Chunks(Adobe(), 2, {1, 2}), 4)).Kind, TPictureColour::Damaged);
    EXPECT_EQ(Find(Jpeg(Chunks(MakeRgbProfile(kSrgbPrimaries, 0.0, "s"), 2, {1, 2}))).Kind,
              TPictureColour::Srgb);
}

TEST(EmbeddedColour, ExifSaysAdobeRgbOnlyUncalibratedWithR03) {
    for (bool big : {false, true}) {
        EXPECT_EQ(Find(Jpeg({ExifSegment(big, 0xFFFF, "R03")})).Kind, TPictureColour::AdobeRgb) << big;
        EXPECT_EQ(Find(Jpeg({ExifSegment(big, 1, "R98")})).Kind, TPictureColour::Srgb) << big;
        EXPECT_EQ(Find(Jpeg({ExifSegment(big, 0xFFFF, "R98")})).Kind, TPictureColour::Untagged) << big;
        EXPECT_EQ(Find(Jpeg({ExifSegment(big, 2, "R03")})).Kind, TPictureColour::Untagged) << big;
    }
    // A segment cut short keeps its directories' pointers inside it.
    Bytes cut = ExifSegment(false, 0xFFFF, "R03");
    cut[3] -= 8;
    cut.resize(cut.size() - 8);
    EXPECT_EQ(Find(Jpeg({cut})).Kind, TPictureColour::Untagged);
}

TEST(EmbeddedColour, PngProfileIsLeftToTheSystemAndSrgbChunkWins) {
    EXPECT_EQ(Find(Png(2, {})).Kind, TPictureColour::Untagged);
    const TEmbeddedColour c = Find(Png(6, {PngChunk("iCCP", kIccp)}));
    EXPECT_EQ(c.Kind, TPictureColour::AskSystem);
    EXPECT_EQ(c.Channels, TPictureChannels::Rgb);
    EXPECT_EQ(Find(Png(0, {PngChunk("iCCP", kIccp)})).Channels, TPictureChannels::Gray);
    EXPECT_EQ(Find(Png(2, {PngChunk("iCCP", kIccp), PngChunk("sRGB", {0})})).Kind, TPictureColour::Srgb);
    EXPECT_EQ(Find(Png(2, {PngChunk("IDAT", {1}), PngChunk("iCCP", kIccp)})).Kind, TPictureColour::Untagged);
    EXPECT_EQ(Find(Png(2, {PngChunk("iCCP", kIccp), PngChunk("iCCP", kIccp)})).Kind, TPictureColour::Damaged);
    EXPECT_EQ(Find(Png(2, {PngChunk("iCCP", {0, 0, 1})})).Kind, TPictureColour::Damaged);       // no name
    EXPECT_EQ(Find(Png(2, {PngChunk("iCCP", {'a', 0, 1, 1})})).Kind, TPictureColour::Damaged);  // method 1
}

TEST(EmbeddedColour, TiffProfileTagInEitherByteOrder) {
    for (bool big : {false, true}) {
        const TEmbeddedColour c = Find(TiffWithProfile(big, Adobe()));
        EXPECT_EQ(c.Kind, TPictureColour::Profile) << big;
        EXPECT_EQ(c.Profile, Adobe()) << big;
        EXPECT_EQ(Find(TiffWithProfile(big, Adobe(), 64)).Kind, TPictureColour::Damaged) << big;
    }
    EXPECT_EQ(Find(TiffWithProfile(false, Bytes(100, 0))).Kind, TPictureColour::Damaged);
}

TEST(EmbeddedColour, OtherContainersAreAskedOfTheSystemOrLeftAlone) {
    EXPECT_EQ(Find({'B', 'M', 0, 0, 0, 0}).Kind, TPictureColour::Untagged);
    EXPECT_EQ(Find({'G', 'I', 'F', '8', '9', 'a'}).Kind, TPictureColour::Untagged);
    EXPECT_EQ(Find({'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'E', 'B', 'P'}).Kind, TPictureColour::AskSystem);
    EXPECT_EQ(Find({0xFF}).Kind, TPictureColour::Untagged);
}

// ---- The fuzzer's corpus and past findings, replayed on every run ---------------------

TEST(ColourCorpus, EachFileGivesWhatItsNameStates) {
    // Names end in "-<what>" before the extension. Profiles (.icc) name
    // their space (rgb, gray, cmyk, srgb) or "refused"; pictures name the
    // kind the reader must find.
    const std::filesystem::path dir = std::filesystem::path(QV_TEST_DATA) / "colour_read";
    const std::pair<const char*, TPictureColour> kinds[] = {
        {"untagged", TPictureColour::Untagged}, {"srgb", TPictureColour::Srgb},
        {"profile", TPictureColour::Profile},   {"adobergb", TPictureColour::AdobeRgb},
        {"damaged", TPictureColour::Damaged},   {"asksystem", TPictureColour::AskSystem}};
    int profiles = 0, pictures = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string stem = entry.path().stem().string();
        const std::string want = stem.substr(stem.rfind('-') + 1);
        SCOPED_TRACE(entry.path().filename().string());
        std::ifstream in(entry.path(), std::ios::binary);
        const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (entry.path().extension() == ".icc") {
            const TProfileCheck c = CheckProfile(bytes.data(), bytes.size());
            const char* got = !c.Sound                         ? "refused"
                              : c.Srgb                         ? "srgb"
                              : c.Space == TProfileSpace::Gray ? "gray"
                              : c.Space == TProfileSpace::Cmyk ? "cmyk"
                                                               : "rgb";
            EXPECT_EQ(want, got);
            ++profiles;
            continue;
        }
        const TEmbeddedColour c = Find(bytes);
        bool known = false;
        for (const auto& [name, kind] : kinds) {
            if (want != name) continue;
            known = true;
            EXPECT_EQ(c.Kind, kind);
        }
        EXPECT_TRUE(known) << "unknown expectation " << want;
        ++pictures;
    }
    EXPECT_GE(profiles, 8);
    EXPECT_GE(pictures, 8);
}

// ---- Conversion tables ------------------------------------------------------------------

namespace {

// Every pixel of a picture that walks each channel through all 256 levels
// against a spread of the other two; x bytes count up.
Bytes Levels(int& width, int& height) {
    width = 256, height = 3 * 18 * 18;
    Bytes p(std::size_t(width) * height * 4);
    std::size_t at = 0;
    for (int axis = 0; axis < 3; ++axis)
        for (int a = 0; a < 256; a += 15)
            for (int b = 0; b < 256; b += 15)
                for (int v = 0; v < 256; ++v, at += 4) {
                    int rgb[3];
                    rgb[axis] = v, rgb[(axis + 1) % 3] = a, rgb[(axis + 2) % 3] = b;
                    p[at] = std::uint8_t(rgb[2]), p[at + 1] = std::uint8_t(rgb[1]), p[at + 2] = std::uint8_t(rgb[0]);
                    p[at + 3] = std::uint8_t(at / 4);
                }
    return p;
}

// A smooth conversion of the kind profiles make: decode a power curve, mix
// the channels, clip, encode again.
void Mix(const double in[3], double out[3]) {
    static const double m[3][3] = {{1.22, -0.22, 0.0}, {-0.04, 1.04, 0.0}, {-0.02, -0.08, 1.10}};
    double lin[3];
    for (int c = 0; c < 3; ++c) lin[c] = std::pow(in[c], 2.2);
    for (int r = 0; r < 3; ++r) {
        const double v = m[r][0] * lin[0] + m[r][1] * lin[1] + m[r][2] * lin[2];
        out[r] = std::pow(std::clamp(v, 0.0, 1.0), 1 / 2.2);
    }
}

void MixPixels(void*, std::uint8_t* bgrx, int count) {
    for (int i = 0; i < count; ++i, bgrx += 4) {
        const double in[3] = {bgrx[2] / 255.0, bgrx[1] / 255.0, bgrx[0] / 255.0};
        double out[3];
        Mix(in, out);
        for (int c = 0; c < 3; ++c) bgrx[2 - c] = std::uint8_t(std::lround(out[c] * 255));
    }
}

TRgbTable TableOf(void (*f)(const double[3], double[3])) {
    TRgbTable t;
    for (int r = 0; r < kColourGridPoints; ++r)
        for (int g = 0; g < kColourGridPoints; ++g)
            for (int b = 0; b < kColourGridPoints; ++b) {
                const double in[3] = {ColourNodeValue(r) / 65535.0, ColourNodeValue(g) / 65535.0,
                                      ColourNodeValue(b) / 65535.0};
                double out[3];
                f(in, out);
                std::uint16_t* n = t.Node(TRgbTable::NodeIndex(r, g, b));
                for (int c = 0; c < 3; ++c) n[c] = std::uint16_t(std::lround(out[c] * 65535));
            }
    std::vector<std::uint16_t> centres(TRgbTable::CellCount() * 3);
    for (int r = 0; r + 1 < kColourGridPoints; ++r)
        for (int g = 0; g + 1 < kColourGridPoints; ++g)
            for (int b = 0; b + 1 < kColourGridPoints; ++b) {
                const double in[3] = {(ColourNodeValue(r) + ColourNodeValue(r + 1)) / 2 / 65535.0,
                                      (ColourNodeValue(g) + ColourNodeValue(g + 1)) / 2 / 65535.0,
                                      (ColourNodeValue(b) + ColourNodeValue(b + 1)) / 2 / 65535.0};
                double out[3];
                f(in, out);
                for (int c = 0; c < 3; ++c)
                    centres[TRgbTable::CellIndex(r, g, b) * 3 + c] = std::uint16_t(std::lround(out[c] * 65535));
            }
    t.MarkExactCells(centres.data(), 128);
    return t;
}

}  // namespace

TEST(ColourTable, IdentityKeepsEveryLevelAndMixingStaysWithinALevelAlmostEverywhere) {
    EXPECT_EQ(ColourNodeValue(0), 0);
    EXPECT_EQ(ColourNodeValue(kColourGridPoints - 1), 65535);
    int width, height;
    const Bytes picture = Levels(width, height);

    Bytes same = picture;
    TRgbTable identity = TableOf([](const double in[3], double out[3]) { std::copy(in, in + 3, out); });
    identity.Apply(same.data(), width, height, width * 4);
    EXPECT_TRUE(same == picture);

    // Where the mix clips or leaves black steeply, the cells are marked and
    // their pixels converted exactly.
    Bytes mixed = picture;
    TRgbTable mix = TableOf(Mix);
    EXPECT_GT(mix.ExactCellCount(), 0u);
    EXPECT_LT(mix.ExactCellCount(), TRgbTable::CellCount() / 2);
    mix.Apply(mixed.data(), width, height, width * 4, MixPixels);
    int largest = 0;
    std::size_t offByMore = 0;
    for (std::size_t at = 0; at < picture.size(); at += 4) {
        const double in[3] = {picture[at + 2] / 255.0, picture[at + 1] / 255.0, picture[at] / 255.0};
        double out[3];
        Mix(in, out);
        int worst = 0;
        for (int c = 0; c < 3; ++c)
            worst = std::max(worst, std::abs(int(mixed[at + 2 - c]) - int(std::lround(out[c] * 255))));
        largest = std::max(largest, worst);
        offByMore += worst > 1;
        ASSERT_EQ(mixed[at + 3], picture[at + 3]) << "x byte of pixel " << at / 4;
    }
    // A kink the centre does not show can still cost a few levels, rarely.
    EXPECT_LE(offByMore * 100, picture.size() / 4) << "largest " << largest;
    EXPECT_LE(largest, 5);
}

TEST(ColourTable, CellsMetOftenAreKeptAndGiveTheEnginesOwnBytes) {
    // Every colour with red below 64: each cell of that slab meets 512 pixels.
    const int width = 4096, height = 1024;
    Bytes slab(std::size_t(width) * height * 4);
    for (std::size_t i = 0; i < slab.size() / 4; ++i)
        slab[i * 4] = std::uint8_t(i), slab[i * 4 + 1] = std::uint8_t(i >> 8), slab[i * 4 + 2] = std::uint8_t(i >> 16),
        slab[i * 4 + 3] = 0x5A;
    static std::size_t sent;
    const auto counted = [](void* context, std::uint8_t* bgrx, int count) {
        sent += std::size_t(count);
        MixPixels(context, bgrx, count);
    };
    TRgbTable mix = TableOf(Mix);
    Bytes first = slab, second = slab;
    sent = 0;
    mix.Apply(first.data(), width, height, width * 4, counted);
    const std::size_t sentFirst = sent;
    ASSERT_GT(mix.KeptCellCount(), 0u);
    EXPECT_LE(mix.KeptCellCount(), TRgbTable::kMaxKeptCells);
    // The second time the kept cells send nothing, and every byte is as before.
    sent = 0;
    mix.Apply(second.data(), width, height, width * 4, counted);
    EXPECT_LT(sent * 2, sentFirst);
    EXPECT_TRUE(first == second);
}

TEST(ColourTable, ConvertsOnlyTheRowsAndColumnsItIsGiven) {
    // A 3x2 picture inside a 5x4 bitmap: the frame stays.
    Bytes bitmap(5 * 4 * 4, 0x80);
    TableOf([](const double in[3], double out[3]) {
        for (int c = 0; c < 3; ++c) out[c] = 1.0 - in[c];
    }).Apply(bitmap.data() + 5 * 4 + 4, 3, 2, 5 * 4);
    TGrayTable grey;
    for (int level = 0; level < 256; ++level)
        grey.Level(level)[0] = 65535, grey.Level(level)[1] = std::uint16_t(level * 257), grey.Level(level)[2] = 0;
    grey.Apply(bitmap.data() + 5 * 4 * 3 + 4, 3, 1, 5 * 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x) {
            const std::uint8_t* p = &bitmap[(y * 5 + x) * 4];
            const bool inverted = y >= 1 && y <= 2 && x >= 1 && x <= 3, grey3 = y == 3 && x >= 1 && x <= 3;
            const std::uint8_t want[4] = {std::uint8_t(grey3 ? 0x00 : inverted ? 0x7F : 0x80),
                                          std::uint8_t(inverted ? 0x7F : 0x80),
                                          std::uint8_t(grey3 ? 0xFF : inverted ? 0x7F : 0x80), 0x80};
            EXPECT_EQ(std::memcmp(p, want, 4), 0) << x << "," << y;
        }
}
