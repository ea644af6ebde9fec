#pragma once
#include <windows.h>

#include <cstdint>

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
    ~TBitmap();  // Destroy

    static int RowBytes(int width) { return width * 4; }

    void Clear();
    void ClearRect(int x1, int y1, int x2, int y2);

    HBITMAP SectionHandle = nullptr;  // owned; null for a wrapper
    HDC DC = nullptr;                 // owned memory DC; null for a wrapper
    std::uint8_t* Bits = nullptr;     // first byte of the top row
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    bool ShrinkToFit = true;
    bool EnlargeToFit = false;

private:
    void Destroy();
    HGDIOBJ oldBitmap_ = nullptr;  // the DC's original bitmap, restored before deletion
};

// Copies whole pixels into the inclusive destination rectangle of `dst`;
// destination (x, y) takes source (x - dstLeft + srcLeft, y - dstTop + srcTop).
void CopyPixels(TBitmap& dst, const TBitmap& src, int srcLeft, int srcTop, int dstLeft, int dstTop,
                int dstRight, int dstBottom);
// The DC variant for two GDI-backed bitmaps: one SRCCOPY BitBlt.
void BlitPixels(TBitmap& dst, const TBitmap& src, int dstLeft, int dstTop, int dstRight, int dstBottom,
                int srcLeft, int srcTop);
