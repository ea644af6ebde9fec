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
    // Keeps runs fast (the limit is not the decoder's): with 64 MiB, zeroing
    // the output of tiny run-length files made runs five times slower, and
    // 512 x 512 pixels reach every path of the decoder.
    if (bytes <= 0 || bytes > (std::int64_t{1} << 20)) return 0;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(bytes));
    DecodeBmpPixels(data, size, info, out.data());
    return 0;
}
