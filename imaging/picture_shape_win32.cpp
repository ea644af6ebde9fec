#include "imaging/picture_shape_win32.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "base/handles_win32.h"
#include "imaging/exif.h"
#include "imaging/wic_frame_win32.h"

namespace {

// A JPEG's EXIF block lies in its first segments; 64 KB holds the largest.
constexpr DWORD kHeadBytes = 64 * 1024;

std::uint16_t ExifOrientation(const std::string& fileName) {
    TKernelHandle file(::CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 0;
    std::vector<std::uint8_t> head(kHeadBytes);
    DWORD read = 0;
    if (!::ReadFile(file.Get(), head.data(), kHeadBytes, &read, nullptr) || read < 4) return 0;
    if (head[0] == 0xFF && head[1] == 0xD8) return JpegExifOrientation(head.data(), read);
    if ((head[0] == 'I' && head[1] == 'I') || (head[0] == 'M' && head[1] == 'M'))
        return TiffOrientation(head.data(), read);
    return 0;
}

}  // namespace

TPictureShape PictureShapeOf(const std::string& fileName) {
    const TWicFirstFrame picture(fileName);
    UINT width = 0, height = 0;
    if (!picture || FAILED(picture.Frame()->GetSize(&width, &height)) || width == 0 || height == 0)
        return TPictureShape::Unknown;
    const std::uint16_t orientation = ExifOrientation(fileName);
    if (orientation >= 5 && orientation <= 8) std::swap(width, height);
    if (width == height) return TPictureShape::Square;
    return height > width ? TPictureShape::Portrait : TPictureShape::Landscape;
}
