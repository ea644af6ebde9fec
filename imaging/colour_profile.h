#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// ICC colour profiles as pictures embed them. CheckProfile looks at a
// profile's header and tag table before any colour engine is given it; it
// also tells a profile that is sRGB in all but name, so that such pictures
// stay exactly as they are. MakeRgbProfile writes the small matrix-and-curve
// profiles this program needs itself (Adobe RGB for cameras that only say so
// in their EXIF). Profile bytes are untrusted file content: every offset and
// size is checked against the profile's own length, in 64-bit arithmetic.

// Larger profiles are refused: an RGB or grey profile is a few kilobytes,
// the largest printer profiles a few hundred.
constexpr std::size_t kMaxProfileBytes = std::size_t{4} << 20;

enum class TProfileSpace : std::uint8_t { Rgb, Gray, Cmyk };

struct TProfileCheck {
    bool Sound = false;  // every test below passed; the rest is meaningless otherwise
    TProfileSpace Space = TProfileSpace::Rgb;
    std::uint32_t Length = 0;  // the profile's own length from its header, at most the bytes given
    // An RGB matrix profile whose colorants and curves are sRGB's: a
    // conversion would change no pixel by more than rounding.
    bool Srgb = false;
};

// A profile is sound when its header has the profile signature, a version 2
// or 4, a device class that converts colours (input, display, output or
// colour space), a data space of RGB, GRAY or CMYK, a connection space of XYZ
// or Lab, and a length between the header and `size`; when its tag table
// fits, names no tag twice and every tag lies after the table and inside the
// profile; when every colour-carrying tag it has (colorants, curves, white
// point, adaptation, lookup tables) is of its type and no shorter than its
// own counts make it; and when the tags make a way from the data space to
// the connection space that fits the data space's channel count.
TProfileCheck CheckProfile(const std::uint8_t* data, std::size_t size);

struct TChromaticity {
    double x = 0.0, y = 0.0;
};
struct TRgbPrimaries {
    TChromaticity Red, Green, Blue, White;
};

// The sRGB and Adobe RGB (1998) primaries and white (D65).
extern const TRgbPrimaries kSrgbPrimaries;
extern const TRgbPrimaries kAdobeRgbPrimaries;

// The colorants of an RGB space for the ICC connection space: the columns
// of its RGB-to-XYZ matrix, adapted from its white to D50 (Bradford), as
// colorant[channel][X, Y, Z].
void D50Colorants(const TRgbPrimaries& primaries, double colorant[3][3]);

// A version 2 display profile of an RGB space: D50-adapted colorants, a
// D50 white point, and one curve for the three channels: the pure power
// `gamma`, or the sRGB curve when `gamma` is 0 (a table of 1024 steps).
std::vector<std::uint8_t> MakeRgbProfile(const TRgbPrimaries& primaries, double gamma,
                                         const char* description);

// The Adobe RGB (1998) profile for pictures whose EXIF says Adobe RGB
// without embedding one: its primaries and the power 563/256.
const std::vector<std::uint8_t>& AdobeRgbProfile();
