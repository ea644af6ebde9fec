#include "render/textures_win32.h"

#include <algorithm>
#include <memory>

#include "render/glcontext_win32.h"
#include "render/scene_math.h"
#include "render/texture_tiles.h"

int UploadPicture(const TBitmap& picture, TTextureTable& textures) {
    return UploadPicture(picture.Bits, picture.Width, picture.Height, textures);
}

int UploadPictureTiles(const TBitmap& picture, TTextureTable& textures, TStagingBuffer& staging, int first,
                       double budgetMs, double (*clock)()) {
    return UploadPictureTiles(picture.Bits, picture.Width, picture.Height, textures, staging, first, budgetMs,
                              clock);
}

namespace {

struct TGrid {
    int across, down;
};

// The tile grid of a bitmap, cut to the rows that fit the table.
TGrid GridOf(const std::uint8_t* bits, int width, int height) {
    const int across = bits ? TilesAcross(width) : 0;
    int down = bits ? TilesDown(height) : 0;
    if (across > kMaxTiles) {
        down = 0;
    } else if (across > 0 && across * down > kMaxTiles) {
        down = kMaxTiles / across;
    }
    return {across, down};
}

void UploadTile(const std::uint8_t* bits, int width, int height, TTextureTable& textures, const TGrid& grid,
                int index, TStagingBuffer& staging) {
    const int row = index / grid.across, column = index % grid.across;
    const TTileRect r = TileRect(column, row, width, height);
    CopyTile(bits, staging, r.x0, r.y0, r.x1, r.y1, width);
    GL.BindTexture(GL_TEXTURE_2D, textures[index]);
    GL.TexImage2D(GL_TEXTURE_2D, 0, 3, kTileSize, kTileSize, 0, GL_RGB, GL_UNSIGNED_BYTE, staging.data());
    GL.TexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    GL.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    GL.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
}

}  // namespace

int PictureTileCount(const TBitmap& picture) {
    const TGrid grid = GridOf(picture.Bits, picture.Width, picture.Height);
    return grid.across * grid.down;
}

int UploadPicture(const std::uint8_t* bits, int width, int height, TTextureTable& textures) {
    // One tile a call, in order, until the grid is done (an empty grid
    // uploads nothing in its single call).
    const TGrid grid = GridOf(bits, width, height);
    const int tiles = grid.across * grid.down;
    const auto staging = std::make_unique<TStagingBuffer>();
    int next = 0;
    do {
        next = UploadPictureTiles(bits, width, height, textures, *staging, next, 0.0, nullptr);
    } while (next < tiles);
    return tiles - 1;
}

int UploadPictureTiles(const std::uint8_t* bits, int width, int height, TTextureTable& textures,
                       TStagingBuffer& staging, int first, double budgetMs, double (*clock)()) {
    const TGrid grid = GridOf(bits, width, height);
    const int tiles = grid.across * grid.down;

    // Names are made once per run and kept; an entry of 0 has none yet.
    for (int i = 0; i < tiles; ++i) {
        if (textures[i] == 0) {
            GLuint name = 0;
            GL.GenTextures(1, &name);
            textures[i] = name;
        }
    }

    const double start = clock ? clock() : 0.0;
    int index = std::max(first, 0);
    // At least one tile a frame, so that every upload ends.
    for (bool any = false; index < tiles && (!any || (clock && clock() - start < budgetMs)); any = true) {
        UploadTile(bits, width, height, textures, grid, index++, staging);
    }
    GL.Enable(GL_TEXTURE_2D);
    return index;
}