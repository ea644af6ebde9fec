#include "imaging/bitmap_text.h"

#include "base/random.h"

std::vector<std::string> MessageLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t cr = text.find('\r', start);
        if (cr == std::string::npos) break;
        lines.push_back(text.substr(start, cr - start));
        start = cr + 1;
    }
    lines.push_back(text.substr(start));
    return lines;
}

std::int32_t MessageLineTop(std::int32_t h, std::int32_t th, std::int32_t k) {
    const auto step = static_cast<std::int32_t>(RoundHalfEven(1.2 * th));
    return h / 2 - th / 2 + (k - 1) * step;
}
