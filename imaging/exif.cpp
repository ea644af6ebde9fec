#include "imaging/exif.h"

#include <cstring>

namespace {

constexpr std::uint16_t kOrientationTag = 0x0112;
constexpr std::uint16_t kExifIfdTag = 0x8769;  // IFD0's pointer to the Exif IFD
constexpr std::uint16_t kDateTimeOriginalTag = 0x9003;
constexpr std::uint16_t kTypeAscii = 2;
constexpr std::uint16_t kTypeShort = 3;
constexpr std::uint16_t kTypeLong = 4;
constexpr std::size_t kDateTimeLength = 19;  // "YYYY:MM:DD HH:MM:SS"
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
    // Offset of the 12-byte entry of `tag` in the IFD at `ifd`; 0 when the
    // IFD has none or leaves the buffer before it.
    std::size_t FindEntry(std::size_t ifd, std::uint16_t tag) const {
        std::uint16_t count;
        if (!U16(ifd, count)) return 0;
        // U16 found the count inside the buffer, so ifd + 2 <= size. The
        // count (up to 65535, whatever the buffer holds) is bounded before it
        // is multiplied: entries are 12 bytes apart and read up to their
        // 2-byte value (10 bytes), so (size - ifd - 2 + 2) / 12 of them
        // start inside the buffer.
        const std::size_t room = (size - ifd) / 12;
        const std::size_t entries = count < room ? count : room;
        for (std::size_t i = 0; i < entries; ++i) {
            const std::size_t entry = ifd + 2 + i * 12;
            std::uint16_t t;
            if (!U16(entry, t)) return 0;
            if (t == tag) return entry;
        }
        return 0;
    }
};

// A reader over a TIFF structure and the offset of its IFD0; false when the
// header is not TIFF.
bool OpenTiff(const std::uint8_t* tiff, std::size_t size, TReader& r, std::uint32_t& ifd0) {
    if (!tiff || size < 8) return false;
    r = TReader{tiff, size, false};
    if (tiff[0] == 'M' && tiff[1] == 'M') {
        r.bigEndian = true;
    } else if (tiff[0] != 'I' || tiff[1] != 'I') {
        return false;
    }
    std::uint16_t magic;
    return r.U16(2, magic) && magic == 42 && r.U32(4, ifd0);
}

// The decimal number of the `n` digits at text[at], or -1.
int Digits(const char* text, std::size_t at, std::size_t n) {
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        v = v * 10 + (text[i] - '0');
    }
    return v;
}

// Calls `read` with the TIFF payload of each APP1 "Exif" segment before the
// scan, until it gives a non-zero result, which is returned.
template <typename T, typename Read>
T FirstFromExifSegments(const std::uint8_t* data, std::size_t size, Read read) {
    if (!data || size < 4 || data[0] != 0xFF || data[1] != kSoi) return T{};
    std::size_t pos = 2;
    while (pos + 4 <= size) {
        if (data[pos] != 0xFF) return T{};
        const std::uint8_t marker = data[pos + 1];
        if (marker == 0xFF) {  // fill byte before a marker
            ++pos;
            continue;
        }
        if (marker == kSos || marker == kEoi) return T{};            // the tables are over
        if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {  // no length field
            pos += 2;
            continue;
        }
        const std::size_t length = std::size_t{data[pos + 2]} << 8 | data[pos + 3];
        if (length < 2) return T{};
        const std::size_t payload = pos + 4, payloadSize = length - 2;
        if (marker == kApp1 && payloadSize >= 6 && payload + 6 <= size &&
            std::memcmp(data + payload, "Exif\0\0", 6) == 0) {
            // A segment cut off by the end of the buffer is read as far as it goes.
            const std::size_t available = size - payload < payloadSize ? size - payload : payloadSize;
            const T found = read(data + payload + 6, available - 6);
            if (found) return found;
        }
        pos = payload + payloadSize;
    }
    return T{};
}

}  // namespace

std::uint16_t TiffOrientation(const std::uint8_t* tiff, std::size_t size) {
    TReader r{};
    std::uint32_t ifd;
    if (!OpenTiff(tiff, size, r, ifd)) return 0;
    const std::size_t entry = r.FindEntry(ifd, kOrientationTag);
    std::uint16_t type, value;
    std::uint32_t n;
    if (!entry || !r.U16(entry + 2, type) || !r.U32(entry + 4, n) || !r.U16(entry + 8, value)) return 0;
    if (type != kTypeShort || n != 1) return 0;
    return value >= 1 && value <= 8 ? value : 0;
}

std::uint16_t JpegExifOrientation(const std::uint8_t* data, std::size_t size) {
    return FirstFromExifSegments<std::uint16_t>(data, size, TiffOrientation);
}

std::optional<TExifDateTime> ParseExifDateTime(const char* text, std::size_t size) {
    if (!text || size < kDateTimeLength) return std::nullopt;
    if (text[4] != ':' || text[7] != ':' || text[10] != ' ' || text[13] != ':' || text[16] != ':')
        return std::nullopt;
    TExifDateTime t;
    t.Year = Digits(text, 0, 4);
    t.Month = Digits(text, 5, 2);
    t.Day = Digits(text, 8, 2);
    t.Hour = Digits(text, 11, 2);
    t.Minute = Digits(text, 14, 2);
    t.Second = Digits(text, 17, 2);
    // Cameras without a set clock write zeros or blanks: no date. A leap
    // second is allowed; which days a month has is not checked.
    if (t.Year < 1 || t.Month < 1 || t.Month > 12 || t.Day < 1 || t.Day > 31 || t.Hour < 0 || t.Hour > 23 ||
        t.Minute < 0 || t.Minute > 59 || t.Second < 0 || t.Second > 60)
        return std::nullopt;
    return t;
}

std::optional<TExifDateTime> TiffDateTaken(const std::uint8_t* tiff, std::size_t size) {
    TReader r{};
    std::uint32_t ifd0;
    if (!OpenTiff(tiff, size, r, ifd0)) return std::nullopt;
    // IFD0 -> Exif IFD (a LONG or, from some writers, an IFD-typed offset).
    const std::size_t pointer = r.FindEntry(ifd0, kExifIfdTag);
    std::uint16_t type;
    std::uint32_t n, exifIfd;
    if (!pointer || !r.U16(pointer + 2, type) || !r.U32(pointer + 4, n) || !r.U32(pointer + 8, exifIfd))
        return std::nullopt;
    if ((type != kTypeLong && type != 13) || n != 1 || exifIfd == ifd0) return std::nullopt;
    // DateTimeOriginal: ASCII of 20 bytes with its terminator, stored at an
    // offset since it does not fit the entry's 4 bytes.
    const std::size_t entry = r.FindEntry(exifIfd, kDateTimeOriginalTag);
    std::uint32_t at;
    if (!entry || !r.U16(entry + 2, type) || !r.U32(entry + 4, n) || !r.U32(entry + 8, at))
        return std::nullopt;
    if (type != kTypeAscii || n < kDateTimeLength || at > size || size - at < kDateTimeLength)
        return std::nullopt;
    return ParseExifDateTime(reinterpret_cast<const char*>(tiff + at), kDateTimeLength);
}

std::optional<TExifDateTime> JpegExifDateTaken(const std::uint8_t* data, std::size_t size) {
    return FirstFromExifSegments<std::optional<TExifDateTime>>(data, size, TiffDateTaken);
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
