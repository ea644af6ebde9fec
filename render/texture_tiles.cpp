#include "render/texture_tiles.h"

#include <cstddef>

#include "base/exception.h"


void CopyTile(const std::uint8_t* source, TStagingBuffer& staging, int x0, int y0, int x1, int y1,
              int rowLength) {
    if (x0 < 0 || y0 < 0 || x1 < x0 || y1 < y0 || x1 - x0 >= kTileSize || y1 - y0 >= kTileSize ||
        x1 >= rowLength) {
        throw Exception("CopyTile: rectangle does not fit a tile");
    }
    const std::size_t sourceRowBytes = static_cast<std::size_t>(rowLength) * 4;
    const int texels = x1 - x0 + 1;
    for (int y = y0; y <= y1; ++y) {
        const std::uint8_t* in =
            source + static_cast<std::size_t>(y) * sourceRowBytes + static_cast<std::size_t>(x0) * 4;
        std::uint8_t* out = staging.data() + static_cast<std::size_t>(y - y0) * kStagingRowBytes;
        for (int i = 0; i < texels; ++i, in += 4, out += 3) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
    }
}
