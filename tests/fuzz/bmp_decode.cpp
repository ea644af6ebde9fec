#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/bmp_decode.h"

// Headers and pixels of arbitrary bytes: the parser must refuse or the
// decoder must stay inside both buffers.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TBmpInfo info;
    if (!ParseBmpHeader(data, size, info)) return 0;
    const std::int64_t bytes = BmpOutputBytes(info);
    if (bytes <= 0 || bytes > (std::int64_t{64} << 20))
        return 0;  // keep runs fast; the limit is not the decoder's
    std::vector<std::uint8_t> out(static_cast<std::size_t>(bytes));
    DecodeBmpPixels(data, size, info, out.data());
    return 0;
}
