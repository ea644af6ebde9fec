#include "render/driver_page.h"

std::string PercentEncoded(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (const char c : text) {
        const unsigned char b = static_cast<unsigned char>(c);
        const bool plain = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') ||
                           b == '-' || b == '.' || b == '_' || b == '~';
        if (plain) {
            out += c;
        } else {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 0xF];
        }
    }
    return out;
}

std::string DriverPageUrl(std::string_view page, const std::vector<std::string>& adapterLines,
                          std::size_t maxLength) {
    std::string url(page);
    url += "?device=";
    for (std::size_t i = 0; i < adapterLines.size(); ++i) {
        const std::string line = PercentEncoded(adapterLines[i] + "\r");
        if (i > 0 && url.size() + line.size() > maxLength) break;
        url += line;
    }
    return url;
}
