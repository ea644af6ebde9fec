#include <cstddef>
#include <cstdint>

#include "imaging/exif.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::uint16_t a = JpegExifOrientation(data, size);
    const std::uint16_t b = TiffOrientation(data, size);
    const auto date = JpegExifDateTaken(data, size);
    const auto tiffDate = TiffDateTaken(data, size);
    if ((date && date->Month > 12) || (tiffDate && tiffDate->Day > 31)) __builtin_trap();
    if (a > 8 || b > 8) __builtin_trap();
    return 0;
}
