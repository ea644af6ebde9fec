#include "imaging/embedded_colour.h"

#include <cstring>
#include <limits>

namespace {

// Segment or chunk headers walked before a reader gives up: real files have
// a few dozen before their picture data.
constexpr int kMaxMarkers = 4096;
// Directory entries read at once; real directories have a few dozen.
constexpr std::uint16_t kMaxIfdEntries = 1024;

constexpr std::uint16_t kTiffPhotometric = 262, kTiffSamples = 277, kTiffExif = 34665, kTiffIcc = 34675;
constexpr std::uint16_t kExifColorSpace = 0xA001, kExifInterop = 0xA005, kInteropIndex = 0x0001;
constexpr std::uint16_t kTypeByte = 1, kTypeAscii = 2, kTypeShort = 3, kTypeLong = 4, kTypeUndefined = 7,
                        kTypeIfd = 13;

std::uint32_t Be32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}
std::uint16_t Be16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

// ---- TIFF structures: a TIFF file, or the EXIF block of a JPEG's APP1 ---------------------

struct TIfdEntry {
    std::uint16_t Tag = 0, Type = 0;
    std::uint32_t Count = 0;
    std::uint8_t Value[4] = {};  // the value itself when it fits, else its offset
};

class TTiff {
public:
    TTiff(TRandomReader& file, std::uint64_t base, std::uint64_t limit, bool bigEndian)
        : file_(file), base_(base), limit_(limit), big_(bigEndian) {}

    bool Read(std::uint64_t at, void* out, std::size_t size) const {
        return at <= limit_ && size <= limit_ - at && file_.ReadAt(base_ + at, out, size);
    }
    std::uint16_t U16(const std::uint8_t* p) const {
        return big_ ? Be16(p) : static_cast<std::uint16_t>(p[1] << 8 | p[0]);
    }
    std::uint32_t U32(const std::uint8_t* p) const {
        return big_ ? Be32(p)
                    : std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0];
    }
    // A SHORT or LONG value that fits in its entry; false otherwise.
    bool Number(const TIfdEntry& e, std::uint32_t& v) const {
        if (e.Count != 1) return false;
        if (e.Type == kTypeShort)
            v = U16(e.Value);
        else if (e.Type == kTypeLong || e.Type == kTypeIfd)
            v = U32(e.Value);
        else
            return false;
        return true;
    }
    bool ReadIfd(std::uint32_t offset, std::vector<TIfdEntry>& entries) const {
        std::uint8_t countBytes[2];
        if (!Read(offset, countBytes, 2)) return false;
        const std::uint16_t count = U16(countBytes);
        if (count > kMaxIfdEntries) return false;
        std::vector<std::uint8_t> raw(std::size_t{count} * 12);
        if (count && !Read(std::uint64_t{offset} + 2, raw.data(), raw.size())) return false;
        entries.resize(count);
        for (std::uint16_t i = 0; i < count; ++i) {
            const std::uint8_t* p = &raw[std::size_t{i} * 12];
            entries[i].Tag = U16(p);
            entries[i].Type = U16(p + 2);
            entries[i].Count = U32(p + 4);
            std::memcpy(entries[i].Value, p + 8, 4);
        }
        return true;
    }

private:
    TRandomReader& file_;
    std::uint64_t base_;   // where the structure starts in the file
    std::uint64_t limit_;  // its length (the segment's), or unlimited for a TIFF file
    bool big_;
};

const TIfdEntry* FindEntry(const std::vector<TIfdEntry>& entries, std::uint16_t tag) {
    for (const TIfdEntry& e : entries)
        if (e.Tag == tag) return &e;
    return nullptr;
}

// The EXIF colour space of the directory `ifd0`: sRGB, Adobe RGB or nothing.
TPictureColour ExifHint(const TTiff& tiff, const std::vector<TIfdEntry>& ifd0) {
    std::uint32_t exifOffset = 0, colourSpace = 0, interopOffset = 0;
    std::vector<TIfdEntry> exif, interop;
    const TIfdEntry* e = FindEntry(ifd0, kTiffExif);
    if (!e || !tiff.Number(*e, exifOffset) || !tiff.ReadIfd(exifOffset, exif))
        return TPictureColour::Untagged;
    e = FindEntry(exif, kExifColorSpace);
    if (!e || !tiff.Number(*e, colourSpace)) return TPictureColour::Untagged;
    if (colourSpace == 1) return TPictureColour::Srgb;
    if (colourSpace != 0xFFFF) return TPictureColour::Untagged;
    // "Uncalibrated": the interoperability index says which space.
    e = FindEntry(exif, kExifInterop);
    if (!e || !tiff.Number(*e, interopOffset) || !tiff.ReadIfd(interopOffset, interop))
        return TPictureColour::Untagged;
    e = FindEntry(interop, kInteropIndex);
    const bool r03 = e && e->Type == kTypeAscii && (e->Count == 3 || e->Count == 4) &&
                     std::memcmp(e->Value, "R03", 3) == 0;
    return r03 ? TPictureColour::AdobeRgb : TPictureColour::Untagged;
}

bool SpaceMatches(TProfileSpace space, TPictureChannels channels) {
    switch (channels) {
    case TPictureChannels::Gray:
        return space == TProfileSpace::Gray;
    case TPictureChannels::Rgb:
        return space == TProfileSpace::Rgb;
    case TPictureChannels::Cmyk:
        return space == TProfileSpace::Cmyk;
    default:
        return true;
    }
}

TEmbeddedColour Damaged(TPictureChannels channels) {
    TEmbeddedColour colour;
    colour.Kind = TPictureColour::Damaged;
    colour.Channels = channels;
    return colour;
}

// ---- TIFF ------------------------------------------------------------------------------

TPictureChannels TiffChannels(const TTiff& tiff, const std::vector<TIfdEntry>& ifd0) {
    std::uint32_t photometric = 0, samples = 1;
    const TIfdEntry* e = FindEntry(ifd0, kTiffPhotometric);
    if (!e || !tiff.Number(*e, photometric)) return TPictureChannels::Unknown;
    if ((e = FindEntry(ifd0, kTiffSamples)) && !tiff.Number(*e, samples)) return TPictureChannels::Unknown;
    switch (photometric) {
    case 0:
    case 1:
        return TPictureChannels::Gray;
    case 2:
    case 3:
    case 6:
        return TPictureChannels::Rgb;
    case 5:
        return samples == 4 ? TPictureChannels::Cmyk : TPictureChannels::Unknown;
    default:
        return TPictureChannels::Unknown;
    }
}

TEmbeddedColour ReadTiff(TRandomReader& file, bool bigEndian) {
    const TTiff tiff(file, 0, std::numeric_limits<std::uint64_t>::max(), bigEndian);
    std::uint8_t header[8];
    std::vector<TIfdEntry> ifd0;
    if (!tiff.Read(0, header, 8) || !tiff.ReadIfd(tiff.U32(header + 4), ifd0)) return {};
    const TPictureChannels channels = TiffChannels(tiff, ifd0);
    const TIfdEntry* icc = FindEntry(ifd0, kTiffIcc);
    if (!icc) {
        TEmbeddedColour colour;
        colour.Kind = ExifHint(tiff, ifd0);
        colour.Channels = channels;
        return colour;
    }
    // A profile is longer than its header, so the entry holds its offset.
    if ((icc->Type != kTypeUndefined && icc->Type != kTypeByte) || icc->Count < 132 ||
        icc->Count > kMaxProfileBytes)
        return Damaged(channels);
    std::vector<std::uint8_t> profile(icc->Count);
    if (!tiff.Read(tiff.U32(icc->Value), profile.data(), profile.size())) return Damaged(channels);
    return JudgeProfile(std::move(profile), channels);
}

// ---- JPEG ------------------------------------------------------------------------------

bool IsFrameMarker(std::uint8_t m) {
    return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
}

TEmbeddedColour ReadJpeg(TRandomReader& file) {
    struct TChunk {
        std::uint8_t Number, Count;
        std::uint64_t At;
        std::uint32_t Size;
    };
    std::vector<TChunk> chunks;
    TPictureColour hint = TPictureColour::Untagged;
    TPictureChannels channels = TPictureChannels::Unknown;
    bool exifRead = false;
    std::uint64_t pos = 2;
    for (int markers = 0; markers < kMaxMarkers; ++markers) {
        std::uint8_t head[4];
        if (!file.ReadAt(pos, head, 2) || head[0] != 0xFF) break;
        const std::uint8_t marker = head[1];
        if (marker == 0xFF) {  // fill byte before a marker
            ++pos;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) break;                 // the tables are over
        if ((marker >= 0xD0 && marker <= 0xD8) || marker == 0x01) {  // no length field
            pos += 2;
            continue;
        }
        if (!file.ReadAt(pos + 2, head + 2, 2)) break;
        const std::uint32_t length = Be16(head + 2);
        if (length < 2) break;
        const std::uint64_t payload = pos + 4;
        const std::uint32_t payloadSize = length - 2;
        std::uint8_t sig[14];
        if (marker == 0xE2 && payloadSize >= 14 && file.ReadAt(payload, sig, 14) &&
            std::memcmp(sig, "ICC_PROFILE", 12) == 0) {
            chunks.push_back({sig[12], sig[13], payload + 14, payloadSize - 14});
        } else if (marker == 0xE1 && !exifRead && payloadSize >= 6 && file.ReadAt(payload, sig, 6) &&
                   std::memcmp(sig, "Exif\0\0", 6) == 0) {
            exifRead = true;
            std::uint8_t header[8];
            const TTiff tiff(file, payload + 6, payloadSize - 6, false);
            std::vector<TIfdEntry> ifd0;
            if (tiff.Read(0, header, 8) && (header[0] == 'M' || header[0] == 'I') && header[0] == header[1]) {
                const TTiff ordered(file, payload + 6, payloadSize - 6, header[0] == 'M');
                if (ordered.ReadIfd(ordered.U32(header + 4), ifd0)) hint = ExifHint(ordered, ifd0);
            }
        } else if (IsFrameMarker(marker) && payloadSize >= 6 && file.ReadAt(payload, sig, 6)) {
            channels = sig[5] == 1   ? TPictureChannels::Gray
                       : sig[5] == 3 ? TPictureChannels::Rgb
                       : sig[5] == 4 ? TPictureChannels::Cmyk
                                     : TPictureChannels::Unknown;
        }
        pos = payload + payloadSize;
    }
    if (chunks.empty()) {
        TEmbeddedColour colour;
        colour.Kind = hint;
        colour.Channels = channels;
        return colour;
    }
    // Chunk i (from 1) must be the i-th, and all must agree on the count.
    const std::size_t count = chunks[0].Count;
    if (count == 0 || chunks.size() != count) return Damaged(channels);
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (chunks[i].Number != i + 1 || chunks[i].Count != count) return Damaged(channels);
        total += chunks[i].Size;
    }
    if (total > kMaxProfileBytes) return Damaged(channels);
    std::vector<std::uint8_t> profile(static_cast<std::size_t>(total));
    std::size_t at = 0;
    for (const TChunk& c : chunks) {
        if (c.Size && !file.ReadAt(c.At, &profile[at], c.Size)) return Damaged(channels);
        at += c.Size;
    }
    return JudgeProfile(std::move(profile), channels);
}

// ---- PNG -------------------------------------------------------------------------------

TEmbeddedColour ReadPng(TRandomReader& file) {
    TPictureChannels channels = TPictureChannels::Unknown;
    bool profile = false, srgb = false, damaged = false;
    std::uint64_t pos = 8;
    for (int chunks = 0; chunks < kMaxMarkers; ++chunks) {
        std::uint8_t head[8];
        if (!file.ReadAt(pos, head, 8)) break;
        const std::uint32_t length = Be32(head);
        if (length > 0x7FFFFFFFu) break;
        const char* type = reinterpret_cast<const char*>(head + 4);
        if (std::memcmp(type, "IDAT", 4) == 0 || std::memcmp(type, "IEND", 4) == 0) break;
        std::uint8_t body[81];
        if (std::memcmp(type, "IHDR", 4) == 0 && length >= 13 && file.ReadAt(pos + 8, body, 13)) {
            const std::uint8_t colourType = body[9];
            channels = colourType == 0 || colourType == 4                      ? TPictureChannels::Gray
                       : colourType == 2 || colourType == 3 || colourType == 6 ? TPictureChannels::Rgb
                                                                               : TPictureChannels::Unknown;
        } else if (std::memcmp(type, "sRGB", 4) == 0) {
            srgb = true;
        } else if (std::memcmp(type, "iCCP", 4) == 0) {
            // A name of 1 to 79 bytes, its end, compression method 0, then
            // the compressed profile.
            const std::size_t n = length < sizeof body ? length : sizeof body;
            const bool read = file.ReadAt(pos + 8, body, n);
            const auto* end = read ? static_cast<const std::uint8_t*>(std::memchr(body, 0, n)) : nullptr;
            const std::size_t name = end ? static_cast<std::size_t>(end - body) : 0;
            damaged =
                damaged || profile || name < 1 || name > 79 || name + 2 >= length || body[name + 1] != 0;
            profile = true;
        }
        pos += std::uint64_t{length} + 12;
    }
    TEmbeddedColour colour;
    colour.Channels = channels;
    // A decoder that knows the sRGB chunk uses it rather than a profile.
    colour.Kind = srgb      ? TPictureColour::Srgb
                  : damaged ? TPictureColour::Damaged
                  : profile ? TPictureColour::AskSystem
                            : TPictureColour::Untagged;
    return colour;
}

}  // namespace

bool TByteSpanReader::ReadAt(std::uint64_t offset, void* out, std::size_t size) {
    if (offset > size_ || size > size_ - offset) return false;
    if (size) std::memcpy(out, data_ + offset, size);
    return true;
}

TEmbeddedColour JudgeProfile(std::vector<std::uint8_t> profile, TPictureChannels channels) {
    const TProfileCheck check = CheckProfile(profile.data(), profile.size());
    if (!check.Sound || !SpaceMatches(check.Space, channels)) return Damaged(channels);
    TEmbeddedColour colour;
    colour.Channels = channels;
    if (check.Srgb) {
        colour.Kind = TPictureColour::Srgb;
        return colour;
    }
    profile.resize(check.Length);
    colour.Kind = TPictureColour::Profile;
    colour.Space = check.Space;
    colour.Profile = std::move(profile);
    return colour;
}

TEmbeddedColour FindEmbeddedColour(TRandomReader& file) {
    std::uint8_t magic[8] = {};
    if (!file.ReadAt(0, magic, 4)) return {};
    if (magic[0] == 0xFF && magic[1] == 0xD8) return ReadJpeg(file);
    if (std::memcmp(magic, "\x89PNG", 4) == 0) {
        if (!file.ReadAt(0, magic, 8) || std::memcmp(magic, "\x89PNG\r\n\x1a\n", 8) != 0) return {};
        return ReadPng(file);
    }
    if (std::memcmp(magic, "II*\0", 4) == 0) return ReadTiff(file, false);
    if (std::memcmp(magic, "MM\0*", 4) == 0) return ReadTiff(file, true);
    // Containers that carry no profile this program honours: BMP (its
    // plug-in's pictures stay as they are), GIF, icons and cursors, DDS.
    if (std::memcmp(magic, "BM", 2) == 0 || std::memcmp(magic, "GIF8", 4) == 0 ||
        std::memcmp(magic, "\0\0\1\0", 4) == 0 || std::memcmp(magic, "\0\0\2\0", 4) == 0 ||
        std::memcmp(magic, "DDS ", 4) == 0)
        return {};
    TEmbeddedColour colour;
    colour.Kind = TPictureColour::AskSystem;
    return colour;
}
