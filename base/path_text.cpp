#include "base/path_text.h"

std::size_t LastSeparator(std::string_view path, std::string_view separators, TLeadByteTest isLead) {
    std::size_t last = std::string_view::npos;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(path[i]);
        if (isLead && isLead(byte)) {
            ++i;  // its second byte is part of the character, whatever its value
            continue;
        }
        if (separators.find(static_cast<char>(byte)) != std::string_view::npos) last = i;
    }
    return last;
}
