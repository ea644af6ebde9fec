#include "imaging/exif.h"

#include <cstring>

namespace {

constexpr std::uint16_t kOrientationTag = 0x0112;
constexpr std::uint16_t kTypeShort = 3;
constexpr std::uint8_t kSoi = 0xD8, kEoi = 0xD9, kSos = 0xDA, kApp1 = 0xE1;

struct TReader {
    const std::uint8_t* data;
    std::size_t size;
    bool bigEndian;
    bool U16(std::size_t at, std::uint16_t& v) const {
        if (at > size || size - at < 2) return false;
        v = bigEndian ? static_cast<std::uint16_t>(data[at] << 8 | data[at + 1])
                      : static_cast<std::uint16_t>(data[at + 1] << 8 | data[at]);
        return true;
    }
    bool U32(std::size_t at, std::uint32_t& v) const {
        std::uint16_t a, b;
        if (!U16(at, a) || !U16(at + 2, b)) return false;
        v = bigEndian ? (std::uint32_t{a} << 16 | b) : (std::uint32_t{b} << 16 | a);
        return true;
    }
};

}  // namespace

std::uint16_t TiffOrientation(const std::uint8_t* tiff, std::size_t size) {
    if (!tiff || size < 8) return 0;
    TReader r{tiff, size, false};
    if (tiff[0] == 'M' && tiff[1] == 'M') {
        r.bigEndian = true;
    } else if (tiff[0] != 'I' || tiff[1] != 'I') {
        return 0;
    }
    std::uint16_t magic, count;
    std::uint32_t ifd;
    if (!r.U16(2, magic) || magic != 42 || !r.U32(4, ifd) || !r.U16(ifd, count)) return 0;
    // U16 found the count inside the buffer, so ifd + 2 <= size. The count
    // (up to 65535, whatever the buffer holds) is bounded before it is
    // multiplied: entries are 12 bytes apart and read up to their 2-byte value
    // (10 bytes), so (size - ifd - 2 + 2) / 12 of them start inside the buffer.
    const std::size_t room = (size - ifd) / 12;
    const std::size_t entries = count < room ? count : room;
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t entry = std::size_t{ifd} + 2 + i * 12;
        std::uint16_t tag, type, value;
        std::uint32_t n;
        if (!r.U16(entry, tag) || !r.U16(entry + 2, type) || !r.U32(entry + 4, n) || !r.U16(entry + 8, value))
            return 0;
        if (tag != kOrientationTag) continue;
        if (type != kTypeShort || n != 1) return 0;
        return value >= 1 && value <= 8 ? value : 0;
    }
    return 0;
}

std::uint16_t JpegExifOrientation(const std::uint8_t* data, std::size_t size) {
    if (!data || size < 4 || data[0] != 0xFF || data[1] != kSoi) return 0;
    std::size_t pos = 2;
    while (pos + 4 <= size) {
        if (data[pos] != 0xFF) return 0;
        const std::uint8_t marker = data[pos + 1];
        if (marker == 0xFF) {  // fill byte before a marker
            ++pos;
            continue;
        }
        if (marker == kSos || marker == kEoi) return 0;              // the tables are over
        if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {  // no length field
            pos += 2;
            continue;
        }
        const std::size_t length = std::size_t{data[pos + 2]} << 8 | data[pos + 3];
        if (length < 2) return 0;
        const std::size_t payload = pos + 4, payloadSize = length - 2;
        if (marker == kApp1 && payloadSize >= 6 && payload + 6 <= size &&
            std::memcmp(data + payload, "Exif\0\0", 6) == 0) {
            // A segment cut off by the end of the buffer is read as far as it goes.
            const std::size_t available = size - payload < payloadSize ? size - payload : payloadSize;
            const std::uint16_t orientation = TiffOrientation(data + payload + 6, available - 6);
            if (orientation) return orientation;
        }
        pos = payload + payloadSize;
    }
    return 0;
}

void OrientPixels(const std::uint32_t* src, std::int32_t w, std::int32_t h, std::uint16_t orientation,
                  std::uint32_t* dst) {
    if (orientation < 1 || orientation > 8) orientation = 1;
    const bool swap = orientation >= 5;
    const std::ptrdiff_t dw = swap ? h : w, dh = swap ? w : h;
    // Each stored row becomes a run in the upright picture: where its first
    // pixel lands (x, y) and the index step to the next pixel.
    for (std::ptrdiff_t r = 0; r < h; ++r) {
        std::ptrdiff_t x = 0, y = r, step = 1;
        // clang-format off
        switch (orientation) {
        case 2: x = dw - 1, y = r, step = -1; break;
        case 3: x = dw - 1, y = dh - 1 - r, step = -1; break;
        case 4: x = 0, y = dh - 1 - r, step = 1; break;
        case 5: x = r, y = 0, step = dw; break;
        case 6: x = dw - 1 - r, y = 0, step = dw; break;
        case 7: x = dw - 1 - r, y = dh - 1, step = -dw; break;
        case 8: x = r, y = dh - 1, step = -dw; break;
        default: break;
        }
        // clang-format on
        const std::uint32_t* row = src + r * w;
        std::ptrdiff_t at = y * dw + x;
        for (std::ptrdiff_t p = 0; p < w; ++p, at += step) dst[at] = row[p];
    }
}
