#pragma once
#include <array>
#include <cstdint>

#include "render/scene_math.h"

// One tile's texels, red, green, blue, rows of 768 bytes. A single block
// serves every tile of a run's uploads, so an upload allocates nothing.
constexpr int kStagingRowBytes = kTileSize * 3;
using TStagingBuffer = std::array<std::uint8_t, kStagingRowBytes * kTileSize>;

// Converts the tile rectangle (inclusive) of 32-bit blue, green, red, x
// pixels, rows of rowLength pixels from the top, into red, green, blue
// texels at the staging buffer's top left. Texels outside the rectangle keep
// what they held. Throws Exception for a rectangle that is empty, negative or
// larger than a tile.
void CopyTile(const std::uint8_t* source, TStagingBuffer& staging, int x0, int y0, int x1, int y1,
              int rowLength);
