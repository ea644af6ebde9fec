#pragma once
#include <windows.h>
#include <icm.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/colour_table.h"
#include "imaging/embedded_colour.h"

// Pictures shown in the colours their files intend: a picture whose file
// carries a colour profile (or says Adobe RGB) is converted, at its fitted
// size, to the monitor's profile where the system names one, else to sRGB.
// The conversion is the system's colour management (mscms.dll, loaded from
// the system folder at first use): it converts the nodes of a table, which
// is then applied to the pixels (imaging/colour_table.h).

// The system's colour management between two profiles held in memory.
class TSystemTransform {
public:
    // Empty (false) when mscms cannot be loaded or refuses either profile.
    TSystemTransform(const std::vector<std::uint8_t>& source, const std::vector<std::uint8_t>& destination);
    TSystemTransform(const TSystemTransform&) = delete;
    TSystemTransform& operator=(const TSystemTransform&) = delete;
    ~TSystemTransform();
    explicit operator bool() const { return transform_ != nullptr; }

    // 16-bit colours: input of `inType` (COLOR_RGB or COLOR_GRAY, as the
    // source profile's space), output RGB.
    bool Colours(const COLOR* in, std::size_t count, COLORTYPE inType, COLOR* out) const;
    // B, G, R, x pixels in place, every pixel by the system itself: for the
    // cells a table cannot serve, and the measure the table is held to.
    bool Pixels(std::uint8_t* bits, int width, int height, std::ptrdiff_t stride) const;

private:
    std::vector<std::uint8_t> source_, destination_;  // the profiles' memory, kept while they are open
    HPROFILE profiles_[2] = {};                       // owned: CloseColorProfile
    HTRANSFORM transform_ = nullptr;                  // owned: DeleteColorTransform
};

// The profile of the monitor `dc` draws on, as the system names it
// (GetICMProfile): its bytes when it is a sound RGB profile other than
// sRGB. Empty, meaning sRGB, when the system names none or the file cannot
// be read, is sRGB, or fails CheckProfile.
std::vector<std::uint8_t> DisplayProfile(HDC dc);

// The sRGB profile conversions go to when the monitor names none.
const std::vector<std::uint8_t>& SrgbProfile();

enum class TColourResult : std::uint8_t {
    Unchanged,  // the picture is untagged, sRGB, damaged, CMYK or left to the system's decoder,
                // or the system could not convert: not one byte was written
    Converted,
};

// Converts pictures for one monitor. Not shared between threads: each
// loader keeps its own. Pictures from one camera share their profile, so the
// tables of the last few profiles met are kept.
class TColourConverter {
public:
    // `destination`: the monitor's profile (DisplayProfile), empty for sRGB.
    explicit TColourConverter(std::vector<std::uint8_t> destination = {});

    // Converts the B, G, R, x pixels (rows `stride` bytes apart) of a picture
    // whose file said `colour`, in place; x bytes are kept. Only Kind
    // Profile (RGB or grey) and AdobeRgb pictures change.
    TColourResult Convert(const TEmbeddedColour& colour, std::uint8_t* bits, int width, int height,
                          std::ptrdiff_t stride);

    // A folder of a phone's, a camera's and a scanner's pictures in random
    // order changes profile at nearly every picture.
    static constexpr std::size_t kKeptProfiles = 4;

private:
    struct TTables {
        std::vector<std::uint8_t> Source;           // the profile the tables were made from
        std::unique_ptr<TSystemTransform> Transform;  // from Source to the destination
        std::unique_ptr<TRgbTable> Rgb;             // for an RGB Source
        std::unique_ptr<TGrayTable> Gray;           // for a grey Source
        bool Failed = true;                         // the system refused Source
    };
    // The tables of `source`, made when it is not among the kept ones; null
    // when the system cannot convert from it.
    TTables* Prepare(const std::vector<std::uint8_t>& source, TProfileSpace space);
    bool Make(TTables& tables, TProfileSpace space) const;

    std::vector<std::uint8_t> destination_;        // empty: sRGB
    std::vector<std::unique_ptr<TTables>> kept_;   // the last profiles met, the latest first
};
