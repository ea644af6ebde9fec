#pragma once
#include <cstddef>
#include <cstdint>

// Our own decoder of Windows and OS/2 bitmap files, built into the BMP
// plug-in and tested natively. The file is parsed from memory and treated as
// hostile: every header field is validated before use, every size is
// bounded before it is multiplied, and a file that ends before its pixels do
// decodes to nothing.

enum TBmpCompression : std::uint32_t {
    kBmpRgb = 0,
    kBmpRle8 = 1,
    kBmpRle4 = 2,
    kBmpBitfields = 3,
    kBmpAlphaBitfields = 6,
};

struct TBmpChannel {
    std::uint32_t Shift = 0;  // position of the lowest mask bit
    std::uint32_t Bits = 0;   // width of the mask in bits (0: channel absent)
};

// What the headers say, after validation.
struct TBmpInfo {
    std::int32_t Width = 0;
    std::int32_t Height = 0;  // always positive; see TopDown
    bool TopDown = false;
    std::uint16_t BitCount = 0;
    std::uint32_t Compression = kBmpRgb;
    std::uint32_t PixelOffset = 0;  // first byte of the pixel data
    std::uint32_t RowBytes = 0;     // stride of uncompressed rows
    TBmpChannel Red, Green, Blue;   // 16- and 32-bit pixels
    std::uint32_t PaletteCount = 0;
    std::uint8_t Palette[256][4] = {};  // blue, green, red, 0; unused entries black
};

// Validates the file and header fields; false for anything this decoder
// cannot read safely. On success OutputBytes() is the buffer the pixels need.
bool ParseBmpHeader(const std::uint8_t* data, std::size_t size, TBmpInfo& info);
// The same from the first `size` bytes of a file of `fileSize` bytes: the
// headers, channel masks and colour table must lie in those bytes (they
// take less than 2 KiB), the pixels anywhere in the file.
bool ParseBmpHeader(const std::uint8_t* head, std::size_t size, std::uint64_t fileSize, TBmpInfo& info);

// Width * Height * 4, or -1 when it does not fit a signed 32-bit count.
std::int64_t BmpOutputBytes(const TBmpInfo& info);

// Run-length encoded pictures (RLE4, RLE8) come as one stream; the others
// as rows of info.RowBytes bytes each, which can be read and decoded a few
// at a time.
inline bool BmpCompressed(const TBmpInfo& info) {
    return info.Compression == kBmpRle8 || info.Compression == kBmpRle4;
}

// Decodes into `out` (BmpOutputBytes(info) bytes): top-down rows of
// blue, green, red, 0. False when the pixel data is truncated or malformed;
// `out` may then hold a partial picture and must not be shown. `data` is
// the whole file.
bool DecodeBmpPixels(const std::uint8_t* data, std::size_t size, const TBmpInfo& info, std::uint8_t* out);
// Stored rows first .. first + count - 1 of an uncompressed picture (row 0
// is the first in the file), `count` rows of info.RowBytes bytes at `rows`,
// into their places in `out`. False for a compressed picture or rows
// outside the picture.
bool DecodeBmpRows(const std::uint8_t* rows, std::int32_t first, std::int32_t count, const TBmpInfo& info,
                   std::uint8_t* out);
// The pixel data of a run-length encoded picture, from info.PixelOffset to
// wherever the file ends (`size` bytes), into `out`.
bool DecodeBmpRle(const std::uint8_t* data, std::size_t size, const TBmpInfo& info, std::uint8_t* out);
