#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/colour_profile.h"

// What a picture file says about its colours: the ICC profile it embeds
// (JPEG APP2 "ICC_PROFILE" chunks, PNG iCCP, TIFF tag 34675), or, without
// one, the hint of its EXIF (ColorSpace "uncalibrated" with the
// interoperability index "R03": Adobe RGB). Reading walks the headers only:
// segment and chunk headers, the tag directories and the profile itself,
// never the picture data.

// Random access to a file's bytes.
class TRandomReader {
public:
    virtual ~TRandomReader() = default;
    // Reads `size` bytes at `offset`; false when any of them lies past the
    // end or the read fails.
    virtual bool ReadAt(std::uint64_t offset, void* out, std::size_t size) = 0;
};

class TByteSpanReader final : public TRandomReader {
public:
    TByteSpanReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool ReadAt(std::uint64_t offset, void* out, std::size_t size) override;

private:
    const std::uint8_t* data_;  // borrowed
    std::size_t size_;
};

enum class TPictureColour : std::uint8_t {
    Untagged,   // says nothing: shown as it is
    Srgb,       // says sRGB (a profile equal to it, PNG's sRGB chunk, EXIF ColorSpace 1): shown as it is
    Profile,    // a sound profile of another space
    AdobeRgb,   // no profile; the EXIF says Adobe RGB
    Damaged,    // carries a profile that cannot be trusted: shown as it is
    AskSystem,  // carries a profile this reader does not unpack (PNG's is compressed), or is of a
                // container it does not know: the system's decoder may tell
};

// The channels the picture's own header declares, where the reader saw it.
enum class TPictureChannels : std::uint8_t { Unknown, Gray, Rgb, Cmyk };

struct TEmbeddedColour {
    TPictureColour Kind = TPictureColour::Untagged;
    TPictureChannels Channels = TPictureChannels::Unknown;
    std::vector<std::uint8_t> Profile;         // Kind Profile: exactly the profile's own length
    TProfileSpace Space = TProfileSpace::Rgb;  // Kind Profile: the profile's data space
};

// The file's colour description. JPEG profile chunks count only when each
// of 1..N is there once, in that order, and all say N; anything else (out
// of order, missing, duplicated, disagreeing) makes the profile Damaged, as
// does a profile CheckProfile refuses or whose data space does not match
// the channels the picture declares.
TEmbeddedColour FindEmbeddedColour(TRandomReader& file);

// Judges profile bytes from elsewhere (the system's decoder) by the same
// rules: Profile, Srgb or Damaged.
TEmbeddedColour JudgeProfile(std::vector<std::uint8_t> profile, TPictureChannels channels);
