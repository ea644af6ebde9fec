#include <cstddef>
#include <cstdint>

#include "imaging/exif.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::uint16_t a = JpegExifOrientation(data, size);
    const std::uint16_t b = TiffOrientation(data, size);
    if (a > 8 || b > 8) __builtin_trap();
    return 0;
}
