#include "imaging/bitmap_win32.h"

#include <cstring>
#include <string>

#include "base/exception.h"

TBitmap::TBitmap(int width, int height) : Width(width), Height(height), dc_(::CreateCompatibleDC(nullptr)) {
    ::SetLastError(0);
    BITMAPINFO info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // negative: rows run top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    section_.Reset(::CreateDIBSection(dc_.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!section_)
        throw Exception("CreateDIBSection failed, Error = " + std::to_string(::GetLastError()));
    Bits = static_cast<std::uint8_t*>(bits);
    selected_.emplace(dc_.Get(), section_.Get());
}

TBitmap::TBitmap(int width, int height, void* bits)
    : Bits(static_cast<std::uint8_t*>(bits)), Width(width), Height(height) {}

void TBitmap::Clear() {
    if (Bits) {
        if (Width > 0 && Height > 0)
            std::memset(Bits, 0,
                        static_cast<std::size_t>(RowBytes(Width)) * static_cast<std::size_t>(Height));
    } else if (dc_) {
        RECT r{0, 0, Width + 1, Height + 1};
        ::FillRect(dc_.Get(), &r, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
    }
}

void TBitmap::ClearRect(int x1, int y1, int x2, int y2) {
    if (Bits) {
        // Clipped to the bitmap, so a rectangle reaching past an edge cannot
        // write outside the pixel buffer.
        const int left = x1 < 0 ? 0 : x1;
        const int right = x2 > Width ? Width : x2;  // exclusive
        const int top = y1 < 0 ? 0 : y1;
        const int bottom = y2 >= Height ? Height - 1 : y2;  // inclusive
        if (right <= left) return;
        for (int y = top; y <= bottom; ++y)
            std::memset(Bits + (static_cast<std::size_t>(y) * Width + left) * 4, 0,
                        static_cast<std::size_t>(right - left) * 4);
    } else if (dc_) {
        RECT r{x1, y1, x2 + 1, y2 + 1};
        ::FillRect(dc_.Get(), &r, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
    }
}

void CopyPixels(TBitmap& dst, const TBitmap& src, int srcLeft, int srcTop, int dstLeft, int dstTop,
                int dstRight, int dstBottom) {
    if (!dst.Bits || !src.Bits || dstRight < dstLeft) return;
    const std::size_t rowBytes = static_cast<std::size_t>(dstRight - dstLeft + 1) * 4;
    for (int y = dstTop; y <= dstBottom; ++y) {
        const int sy = y - dstTop + srcTop;
        std::memmove(dst.Bits + (static_cast<std::size_t>(y) * dst.Width + dstLeft) * 4,
                     src.Bits + (static_cast<std::size_t>(sy) * src.Width + srcLeft) * 4, rowBytes);
    }
}

void BlitPixels(TBitmap& dst, const TBitmap& src, int dstLeft, int dstTop, int dstRight, int dstBottom,
                int srcLeft, int srcTop) {
    ::BitBlt(dst.DC(), dstLeft, dstTop, dstRight - dstLeft + 1, dstBottom - dstTop + 1, src.DC(), srcLeft, srcTop,
             SRCCOPY);
}
