#pragma once
#include "imaging/bitmap_win32.h"
#include "imaging/resample.h"

// TBitmap side of the resampler. The resampler itself works on TPixelView so
// that it builds and is tested without <windows.h>.

// A view of `bitmap`'s pixels and fit options. It borrows the bitmap: keep the
// view (for example as a local of the picture load that arms the progressive
// resize with it) no longer than the bitmap.
inline TPixelView PixelView(const TBitmap& bitmap) {
    return TPixelView{bitmap.Bits, bitmap.Width, bitmap.Height, bitmap.ShrinkToFit, bitmap.EnlargeToFit};
}

inline void Resample(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height, int filterIndex,
                     float support, TBitmap& source, TBitmap& target) {
    Resample(x, y, width, height, filterIndex, support, PixelView(source), PixelView(target));
}
