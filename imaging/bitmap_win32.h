#pragma once
#include <windows.h>

#include <cstdint>
#include <optional>

#include "base/handles_win32.h"

// The program's one pixel container: 32-bit top-down BGRx pixels, rows of
// exactly Width * 4 bytes. Two flavours share the class:
//  - GDI-backed (TBitmap(w, h)): owns a DIB section selected into its own
//    memory DC; the pixel memory belongs to the section.
//  - Wrapper (TBitmap(w, h, bits)): owns nothing; Bits stays valid only while
//    the buffer's owner keeps it.
class TBitmap {
public:
    TBitmap(int width, int height);              // Create
    TBitmap(int width, int height, void* bits);  // CreateFromBits
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;
    ~TBitmap() = default;

    static int RowBytes(int width) { return width * 4; }
    // The memory DC the section is selected into; null for a wrapper.
    HDC DC() const { return dc_.Get(); }
    // The DIB section holding Bits; null for a wrapper.
    HBITMAP Section() const { return static_cast<HBITMAP>(section_.Get()); }

    void Clear();
    void ClearRect(int x1, int y1, int x2, int y2);

    std::uint8_t* Bits = nullptr;     // first byte of the top row
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    bool ShrinkToFit = true;
    bool EnlargeToFit = false;

private:
    // Declared in the order they are made: the section leaves the DC (the
    // guard goes first) before either is deleted, as DeleteObject refuses a
    // bitmap still selected.
    TMemDC dc_;
    TGdiObject section_;
    std::optional<TSelectGuard> selected_;
};

// Copies whole pixels into the inclusive destination rectangle of `dst`;
// destination (x, y) takes source (x - dstLeft + srcLeft, y - dstTop + srcTop).
void CopyPixels(TBitmap& dst, const TBitmap& src, int srcLeft, int srcTop, int dstLeft, int dstTop,
                int dstRight, int dstBottom);
// The DC variant for two GDI-backed bitmaps: one SRCCOPY BitBlt.
void BlitPixels(TBitmap& dst, const TBitmap& src, int dstLeft, int dstTop, int dstRight, int dstBottom,
                int srcLeft, int srcTop);
