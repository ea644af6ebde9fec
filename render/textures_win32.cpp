#include "render/textures_win32.h"

#include <algorithm>

#include "render/glcontext_win32.h"
#include "render/scene_math.h"
#include "render/texture_tiles.h"

void UploadPicture(const TBitmap& picture, TTextureTable& textures) {
    UploadPicture(picture.Bits, picture.Width, picture.Height, textures);
}

void UploadPicture(const std::uint8_t* bits, int width, int height, TTextureTable& textures) {
    const int across = bits ? TilesAcross(width) : 0;
    int down = bits ? TilesDown(height) : 0;
    if (across > kMaxTiles) {
        down = 0;
    } else if (across > 0 && across * down > kMaxTiles) {
        down = kMaxTiles / across;
    }
    const int tiles = across * down;
    LastTileIndex = tiles - 1;

    // Names are made once per run and kept; an entry of 0 has none yet.
    for (int i = 0; i < tiles; ++i) {
        if (textures[i] == 0) {
            GLuint name = 0;
            GL.GenTextures(1, &name);
            textures[i] = name;
        }
    }

    for (int row = 0; row < down; ++row) {
        for (int column = 0; column < across; ++column) {
            const TTileRect r = TileRect(column, row, width, height);
            CopyTile(bits, StagingBuffer, r.x0, r.y0, r.x1, r.y1, width);
            GL.BindTexture(GL_TEXTURE_2D, textures[row * across + column]);
            GL.TexImage2D(GL_TEXTURE_2D, 0, 3, kTileSize, kTileSize, 0, GL_RGB, GL_UNSIGNED_BYTE,
                          StagingBuffer.data());
            GL.TexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
            GL.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
            GL.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        }
    }
    GL.Enable(GL_TEXTURE_2D);
}
