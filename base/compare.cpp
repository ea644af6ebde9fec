#include "base/compare.h"

namespace {

// A-Z and the Latin-1 capitals 0xC0-0xDE gain 0x20; 0xD7 (the
// multiplication sign) has no lower-case partner and stays.
constexpr unsigned char FoldByte(unsigned char c) {
    if (c >= 0x41 && c <= 0x5A) return static_cast<unsigned char>(c + 0x20);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 0x20);
    return c;
}

}  // namespace

int CatalogueCompare(std::string_view a, std::string_view b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char ca = FoldByte(static_cast<unsigned char>(a[i]));
        const unsigned char cb = FoldByte(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}
