#pragma once
#include <cstdint>

#include "imaging/bitmap_win32.h"
#include "render/scene_state.h"

// Uploads the picture bitmap as a grid of 256 x 256 RGB textures (see
// TileRect), generating the table's texture names at the first upload of a
// run and reusing them afterwards. Returns the index of the last tile, -1
// for none. Needs the render thread's current context.
//
// The grid follows the bitmap's own size, so nothing is read outside it.
// A grid larger than the table (which PanelSizeFor never gives) uploads only
// the whole tile rows that fit.
// The whole upload puts its tiles together in a block of its own.
int UploadPicture(const TBitmap& picture, TTextureTable& textures);
int UploadPicture(const std::uint8_t* bits, int width, int height, TTextureTable& textures);
// Tiles of the grid a picture is uploaded as.
int PictureTileCount(const TBitmap& picture);
// The same upload spread over frames: tiles in index order from `first`, at
// least one, then more while `clock` (milliseconds) says less than
// `budgetMs` have passed since the call began; a null clock uploads one
// tile. Each tile is put together in `staging`, where texels outside it
// keep what the block held. Returns the index of the next tile;
// PictureTileCount once the picture is complete.
int UploadPictureTiles(const TBitmap& picture, TTextureTable& textures, TStagingBuffer& staging, int first,
                       double budgetMs, double (*clock)());
int UploadPictureTiles(const std::uint8_t* bits, int width, int height, TTextureTable& textures,
                       TStagingBuffer& staging, int first, double budgetMs, double (*clock)());
