#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>

// A small reader for the EXIF fields the show needs: the Orientation tag
// (0x0112) of IFD0 and DateTimeOriginal (0x9003) of the Exif IFD, in a
// JPEG's APP1 "Exif" segment or a bare TIFF structure. The input is
// untrusted file content; every offset is checked against the buffer.

// The orientation 1..8 from a JPEG file's leading bytes (at least up to its
// APP1 segment), or 0 when there is none or it is out of range.
std::uint16_t JpegExifOrientation(const std::uint8_t* data, std::size_t size);

// The same from a TIFF structure ("II" or "MM", 42, IFD offset) such as the
// payload of the APP1 segment after "Exif\0\0".
std::uint16_t TiffOrientation(const std::uint8_t* tiff, std::size_t size);

// When a photograph was taken, as the camera's clock read it (local time of
// no stated zone).
struct TExifDateTime {
    int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
    bool operator==(const TExifDateTime& o) const {
        return Year == o.Year && Month == o.Month && Day == o.Day && Hour == o.Hour && Minute == o.Minute &&
               Second == o.Second;
    }
};

// DateTimeOriginal from a JPEG file's leading bytes, or from a TIFF
// structure; nullopt when there is none or it is not a real date (cameras
// without a set clock write zeros or blanks).
std::optional<TExifDateTime> JpegExifDateTaken(const std::uint8_t* data, std::size_t size);
std::optional<TExifDateTime> TiffDateTaken(const std::uint8_t* tiff, std::size_t size);
// "YYYY:MM:DD HH:MM:SS" as EXIF writes it; `size` bytes are readable.
std::optional<TExifDateTime> ParseExifDateTime(const char* text, std::size_t size);

// Turns a w x h picture of 4-byte pixels in stored orientation upright into
// `dst` (h x w for orientations 5 to 8, else w x h): stored pixel p of row r
// lands where the EXIF orientation puts it. Values outside 1..8 copy as 1.
void OrientPixels(const std::uint32_t* src, std::int32_t w, std::int32_t h, std::uint16_t orientation,
                  std::uint32_t* dst);
