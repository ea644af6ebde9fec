#include "render/caption.h"

#include <algorithm>

std::string CaptionFileName(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string CaptionText(TCaption caption, const std::string& fileName, const std::string& date) {
    switch (caption) {
    case TCaption::FileName:
        return fileName;
    case TCaption::DateTaken:
        return date;
    case TCaption::NameAndDate:
        if (date.empty()) return fileName;
        if (fileName.empty()) return date;
        return fileName + "  -  " + date;
    case TCaption::None:
        break;
    }
    return std::string();
}

std::int32_t CaptionFontHeight(std::int32_t bitmapHeight, std::int32_t dpi) {
    if (bitmapHeight <= 0) return 1;
    if (dpi <= 0) dpi = 96;
    // 9 points are 12 pixels at 96 dpi.
    const std::int32_t legible = (9 * dpi + 36) / 72;
    const std::int32_t height = std::max(bitmapHeight / 24, legible);
    return std::max<std::int32_t>(1, std::min(height, bitmapHeight / 6));
}
