#include "imaging/bmp_decode.h"

#include <cstring>

namespace {

std::uint16_t U16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::int32_t S32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(U32(p));
}

constexpr std::size_t kFileHeader = 14;
constexpr std::uint32_t kCoreHeader = 12;   // OS/2 1.x
constexpr std::uint32_t kInfoHeader = 40;   // Windows 3.x and later
constexpr std::uint32_t kMaxHeader = 124;   // Windows 5 header
constexpr std::uint32_t kOs2v2Header = 64;  // OS/2 2.x: its extra fields are ignored

// A mask must be one run of set bits; anything else has no sensible meaning.
bool ChannelFromMask(std::uint32_t mask, TBmpChannel& channel) {
    channel = {};
    if (mask == 0) return true;
    std::uint32_t shift = 0;
    while (!(mask & 1u)) {
        mask >>= 1;
        ++shift;
    }
    std::uint32_t bits = 0;
    while (mask & 1u) {
        mask >>= 1;
        ++bits;
    }
    if (mask != 0) return false;
    channel.Shift = shift;
    channel.Bits = bits;
    return true;
}

std::uint8_t Expand(std::uint32_t pixel, const TBmpChannel& c) {
    if (c.Bits == 0) return 0;
    const std::uint64_t max = (std::uint64_t{1} << c.Bits) - 1;
    const std::uint64_t v = (pixel >> c.Shift) & max;
    return static_cast<std::uint8_t>((v * 255 + max / 2) / max);
}

bool ValidCombination(std::uint16_t bits, std::uint32_t compression) {
    switch (compression) {
    case kBmpRgb:
        return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
    case kBmpRle8:
        return bits == 8;
    case kBmpRle4:
        return bits == 4;
    case kBmpBitfields:
    case kBmpAlphaBitfields:
        return bits == 16 || bits == 32;
    default:
        return false;
    }
}

void PutPixel(std::uint8_t* out, const TBmpInfo& info, std::int64_t x, std::int64_t fileRow,
              const std::uint8_t* bgr) {
    const std::int64_t y = info.TopDown ? fileRow : info.Height - 1 - fileRow;
    std::uint8_t* p = out + (y * info.Width + x) * 4;
    p[0] = bgr[0];
    p[1] = bgr[1];
    p[2] = bgr[2];
    p[3] = 0;
}

// One stored row into top-down output row `dst`; the branch on the pixel
// format sits outside the pixel loops.
void DecodeRow(const std::uint8_t* src, const TBmpInfo& info, std::uint8_t* dst) {
    // Offsets in size_t: a row of RowBytes lies inside the file, so they fit.
    const std::size_t w = static_cast<std::size_t>(info.Width);
    switch (info.BitCount) {
    case 1:
    case 4:
    case 8: {
        const std::uint32_t bits = info.BitCount, mask = (1u << bits) - 1;
        for (std::size_t x = 0; x < w; ++x, dst += 4) {
            const std::size_t bitPos = x * bits;
            const std::uint32_t index = (src[bitPos >> 3] >> (8 - bits - (bitPos & 7))) & mask;
            std::memcpy(dst, info.Palette[index], 4);
        }
        break;
    }
    case 16:
        for (std::size_t x = 0; x < w; ++x, dst += 4) {
            const std::uint32_t v = U16(src + x * 2);
            dst[0] = Expand(v, info.Blue);
            dst[1] = Expand(v, info.Green);
            dst[2] = Expand(v, info.Red);
            dst[3] = 0;
        }
        break;
    case 24:
        for (std::size_t x = 0; x < w; ++x, dst += 4, src += 3) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
            dst[3] = 0;
        }
        break;
    default:
        for (std::size_t x = 0; x < w; ++x, dst += 4) {
            const std::uint32_t v = U32(src + x * 4);
            dst[0] = Expand(v, info.Blue);
            dst[1] = Expand(v, info.Green);
            dst[2] = Expand(v, info.Red);
            dst[3] = 0;
        }
        break;
    }
}

// Run-length encoded 8- and 4-bit pixels. Pixels the runs skip stay black;
// runs past the right edge are clipped. The data must reach the end-of-bitmap
// code or fill every row; running out of bytes before that is truncation.
bool DecodeRle(const std::uint8_t* data, std::size_t size, const TBmpInfo& info, std::uint8_t* out) {
    const bool four = info.Compression == kBmpRle4;
    std::size_t pos = 0;
    std::int64_t x = 0, row = 0;
    auto put = [&](std::uint32_t index) {
        if (x < info.Width && row < info.Height) PutPixel(out, info, x, row, info.Palette[index & 0xFF]);
        ++x;
    };
    while (row < info.Height) {
        if (pos + 2 > size) return false;
        const std::uint8_t count = data[pos], value = data[pos + 1];
        pos += 2;
        if (count > 0) {
            for (std::uint32_t i = 0; i < count; ++i) put(four ? (i & 1 ? value & 0x0F : value >> 4) : value);
            continue;
        }
        if (value == 0) {  // end of line
            x = 0;
            ++row;
        } else if (value == 1) {  // end of bitmap
            return true;
        } else if (value == 2) {  // delta
            if (pos + 2 > size) return false;
            x += data[pos];
            row += data[pos + 1];
            pos += 2;
        } else {  // absolute run of `value` pixels, padded to a 16-bit boundary
            const std::size_t bytes = four ? (value + 1u) / 2 : value;
            if (pos + bytes > size) return false;
            for (std::uint32_t i = 0; i < value; ++i) {
                const std::uint8_t b = data[pos + (four ? i / 2 : i)];
                put(four ? (i & 1 ? b & 0x0F : b >> 4) : b);
            }
            pos += bytes + (bytes & 1);
        }
    }
    return true;
}

// The channel masks: from the header where it holds them, else from the
// 12 or 16 bytes after it (`tableStart` then moves past them), else the
// defaults of uncompressed 16- and 32-bit pictures. False when the masks
// lie past the end or do not fit the bit count.
bool ReadChannelMasks(const std::uint8_t* data, std::size_t size, std::uint32_t headerSize,
                      std::uint64_t& tableStart, TBmpInfo& info) {
    const std::uint8_t* h = data + kFileHeader;
    std::uint32_t masks[3] = {0, 0, 0};
    if (info.Compression == kBmpBitfields || info.Compression == kBmpAlphaBitfields) {
        if (headerSize >= 52) {
            masks[0] = U32(h + 40);
            masks[1] = U32(h + 44);
            masks[2] = U32(h + 48);
        } else {
            const std::uint64_t maskBytes = info.Compression == kBmpAlphaBitfields ? 16 : 12;
            if (tableStart + maskBytes > size) return false;
            masks[0] = U32(data + tableStart);
            masks[1] = U32(data + tableStart + 4);
            masks[2] = U32(data + tableStart + 8);
            tableStart += maskBytes;
        }
    } else if (info.BitCount == 16) {
        masks[0] = 0x7C00;
        masks[1] = 0x03E0;
        masks[2] = 0x001F;
    } else if (info.BitCount == 32) {
        masks[0] = 0x00FF0000;
        masks[1] = 0x0000FF00;
        masks[2] = 0x000000FF;
    }
    if (info.BitCount != 16 && info.BitCount != 32) return true;
    const std::uint32_t limit = info.BitCount == 16 ? 0xFFFFu : 0xFFFFFFFFu;
    for (std::uint32_t m : masks)
        if (m & ~limit) return false;
    return ChannelFromMask(masks[0], info.Red) && ChannelFromMask(masks[1], info.Green) &&
           ChannelFromMask(masks[2], info.Blue);
}

// The colour table of a picture of 8 bits or fewer, `entry` bytes an entry.
// Some writers give fewer entries than the bit count allows and start the
// pixels right after them: the table is what lies before the pixels. False
// when the header claims more colours than the bit count has, or the table
// runs past the end.
bool ReadPalette(const std::uint8_t* data, std::size_t size, std::uint64_t tableStart, std::uint32_t offBits,
                 std::uint64_t entry, std::uint32_t colorsUsed, TBmpInfo& info) {
    const std::uint32_t maxColors = 1u << info.BitCount;
    if (colorsUsed > maxColors) return false;
    info.PaletteCount = colorsUsed == 0 || entry == 3 ? maxColors : colorsUsed;
    const std::uint64_t tableEnd = tableStart + entry * info.PaletteCount;
    std::uint64_t available = info.PaletteCount;
    if (offBits >= tableStart && offBits < tableEnd) available = (offBits - tableStart) / entry;
    if (tableStart + entry * available > size) return false;
    for (std::uint32_t i = 0; i < available; ++i) {
        const std::uint8_t* e = data + tableStart + entry * i;
        info.Palette[i][0] = e[0];
        info.Palette[i][1] = e[1];
        info.Palette[i][2] = e[2];
    }
    info.PaletteCount = static_cast<std::uint32_t>(available);
    return true;
}

}  // namespace

bool ParseBmpHeader(const std::uint8_t* data, std::size_t size, TBmpInfo& info) {
    return ParseBmpHeader(data, size, size, info);
}

bool ParseBmpHeader(const std::uint8_t* data, std::size_t size, std::uint64_t fileSize, TBmpInfo& info) {
    info = TBmpInfo{};
    if (fileSize < size) return false;
    if (!data || size < kFileHeader + 4) return false;
    if (data[0] != 'B' || data[1] != 'M') return false;
    const std::uint32_t offBits = U32(data + 10);
    const std::uint32_t headerSize = U32(data + 14);
    const bool core = headerSize == kCoreHeader;
    if (!core && (headerSize < kInfoHeader || headerSize > kMaxHeader)) return false;
    if (kFileHeader + std::uint64_t{headerSize} > size) return false;
    const std::uint8_t* h = data + kFileHeader;

    std::int64_t width, height;
    std::uint16_t planes;
    std::uint32_t compression = kBmpRgb, colorsUsed = 0;
    if (core) {
        width = U16(h + 4);
        height = U16(h + 6);
        planes = U16(h + 8);
        info.BitCount = U16(h + 10);
    } else {
        width = S32(h + 4);
        height = S32(h + 8);
        planes = U16(h + 12);
        info.BitCount = U16(h + 14);
        compression = U32(h + 16);
        colorsUsed = U32(h + 32);
    }
    if (planes != 1 || width <= 0 || height == 0) return false;
    info.TopDown = height < 0;
    if (info.TopDown) height = -height;  // 64-bit: INT32_MIN negates safely
    if (height > INT32_MAX) return false;
    if (info.TopDown && (compression == kBmpRle4 || compression == kBmpRle8)) return false;
    if (headerSize == kOs2v2Header && compression > kBmpRle4) return false;  // OS/2 Huffman and RLE24
    if (!ValidCombination(info.BitCount, compression)) return false;
    info.Width = static_cast<std::int32_t>(width);
    info.Height = static_cast<std::int32_t>(height);
    info.Compression = compression;

    std::uint64_t tableStart = kFileHeader + std::uint64_t{headerSize};
    if (!ReadChannelMasks(data, size, headerSize, tableStart, info)) return false;
    if (info.BitCount <= 8 && !ReadPalette(data, size, tableStart, offBits, core ? 3 : 4, colorsUsed, info))
        return false;

    if (offBits < kFileHeader + std::uint64_t{headerSize} || offBits >= fileSize) return false;
    info.PixelOffset = offBits;
    const std::uint64_t rowBytes = ((static_cast<std::uint64_t>(info.Width) * info.BitCount + 31) / 32) * 4;
    if (rowBytes > 0xFFFFFFFFu) return false;
    info.RowBytes = static_cast<std::uint32_t>(rowBytes);
    return BmpOutputBytes(info) > 0;
}

std::int64_t BmpOutputBytes(const TBmpInfo& info) {
    if (info.Width <= 0 || info.Height <= 0) return -1;
    // Bounded before multiplying: two 31-bit sides times 4 do not fit in 64 bits.
    if (info.Width > INT32_MAX / 4 / info.Height) return -1;
    return std::int64_t{info.Width} * info.Height * 4;
}

bool DecodeBmpRows(const std::uint8_t* rows, std::int32_t first, std::int32_t count, const TBmpInfo& info,
                   std::uint8_t* out) {
    if (!rows || !out || BmpOutputBytes(info) <= 0 || BmpCompressed(info)) return false;
    if (first < 0 || count < 0 || count > info.Height - first) return false;
    for (std::int32_t i = 0; i < count; ++i) {
        const std::int32_t row = first + i;
        const std::int64_t y = info.TopDown ? row : info.Height - 1 - row;
        DecodeRow(rows + std::size_t{info.RowBytes} * static_cast<std::size_t>(i), info,
                  out + static_cast<std::size_t>(y) * static_cast<std::size_t>(info.Width) * 4);
    }
    return true;
}

bool DecodeBmpRle(const std::uint8_t* data, std::size_t size, const TBmpInfo& info, std::uint8_t* out) {
    const std::int64_t bytes = BmpOutputBytes(info);
    if (!data || !out || bytes <= 0 || !BmpCompressed(info)) return false;
    std::memset(out, 0, static_cast<std::size_t>(bytes));
    return DecodeRle(data, size, info, out);
}

bool DecodeBmpPixels(const std::uint8_t* data, std::size_t size, const TBmpInfo& info, std::uint8_t* out) {
    if (!data || info.PixelOffset >= size) return false;
    const std::uint8_t* pixels = data + info.PixelOffset;
    const std::size_t available = size - info.PixelOffset;
    if (BmpCompressed(info)) return DecodeBmpRle(pixels, available, info, out);
    if (std::uint64_t{info.RowBytes} * static_cast<std::uint64_t>(info.Height) > available) return false;
    return DecodeBmpRows(pixels, 0, info.Height, info, out);
}
