#pragma once
#include <cstdint>
#include <string>

#include "imaging/bitmap_win32.h"

// Picture preparation: decode one file through the plug-ins and fit it into
// a bitmap whose size the caller chose, scaled, centred or cropped, framed in
// black. Uses the process-wide plug-in and progressive-resize state, so it
// runs on one thread at a time.

struct PictureInfo {
    std::int32_t Width = 0;   // natural width from the decoder; 0 when nothing was decoded
    std::int32_t Height = 0;  // natural height; 0 when nothing was decoded
    const char* Format =
        nullptr;  // the plug-in's format description (owned by the plug-in); null when nothing was decoded
    std::int32_t FileSize = -1;  // bytes; -1 when the file could not be opened
};

// Decodes `fileName` and fits it into `target`; a picture that cannot be
// decoded leaves the target black. Resampler and bitmap errors propagate.
void LoadPicture(TBitmap& target, const std::string& fileName, PictureInfo& info);
// Fits a decoded picture into the target: pixel copies, the resampler or
// HALFTONE StretchDIBits; everything the picture does not cover is black.
void FitPicture(TBitmap& target, const TBitmap& source);
// The same decisions for two GDI-backed bitmaps, drawn with GDI only.
void FitPictureGdi(TBitmap& target, const TBitmap& source);
