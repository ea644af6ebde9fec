#include <cstddef>
#include <cstdint>

#include "imaging/colour_profile.h"
#include "imaging/embedded_colour.h"

// Arbitrary bytes as a picture file and as a bare profile: the readers must
// stay inside the input, and a profile they hand on must pass the check.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TByteSpanReader file(data, size);
    const TEmbeddedColour colour = FindEmbeddedColour(file);
    if (colour.Kind == TPictureColour::Profile) {
        const TProfileCheck check = CheckProfile(colour.Profile.data(), colour.Profile.size());
        if (!check.Sound || check.Srgb || check.Length != colour.Profile.size()) __builtin_trap();
    } else if (!colour.Profile.empty()) {
        __builtin_trap();
    }
    const TProfileCheck bare = CheckProfile(data, size);
    if (bare.Sound && (bare.Length > size || bare.Length > kMaxProfileBytes)) __builtin_trap();
    return 0;
}
