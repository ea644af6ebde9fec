#pragma once
#include <cstddef>
#include <cstdint>

// A small reader for the one EXIF field the picture pipeline needs: the
// Orientation tag (0x0112) of IFD0 in a JPEG's APP1 "Exif" segment. The input
// is untrusted file content; every offset is checked against the buffer.

// The orientation 1..8 from a JPEG file's leading bytes (at least up to its
// APP1 segment), or 0 when there is none or it is out of range.
std::uint16_t JpegExifOrientation(const std::uint8_t* data, std::size_t size);

// The same from a TIFF structure ("II" or "MM", 42, IFD offset) such as the
// payload of the APP1 segment after "Exif\0\0".
std::uint16_t TiffOrientation(const std::uint8_t* tiff, std::size_t size);

// Turns a w x h picture of 4-byte pixels in stored orientation upright into
// `dst` (h x w for orientations 5 to 8, else w x h): stored pixel p of row r
// lands where the EXIF orientation puts it. Values outside 1..8 copy as 1.
void OrientPixels(const std::uint32_t* src, std::int32_t w, std::int32_t h, std::uint16_t orientation,
                  std::uint32_t* dst);
