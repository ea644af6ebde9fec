#pragma once
#include <cstdint>

#include "imaging/bitmap_win32.h"
#include "render/scene_state.h"

// Uploads the picture bitmap as a grid of 256 x 256 RGB textures (see
// TileRect), generating the table's texture names at the first upload of a
// run and reusing them afterwards. Sets LastTileIndex. Needs the render
// thread's current context.
//
// The grid follows the bitmap's own size, so nothing is read outside it.
// A grid larger than the table (which PanelSizeFor never gives) uploads only
// the whole tile rows that fit.
void UploadPicture(const TBitmap& picture, TTextureTable& textures);
void UploadPicture(const std::uint8_t* bits, int width, int height, TTextureTable& textures);
