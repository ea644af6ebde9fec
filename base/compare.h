#pragma once
#include <string>
#include <string_view>

// The catalogue's case-insensitive order, used for every sort of paths and
// names (the catalogue's, and the plug-in libraries' load order): bytes
// compare after folding A-Z and the Latin-1 capitals 0xC0-0xDE (except
// 0xD7) to lower case. The system locale plays no part.
int CatalogueCompare(std::string_view a, std::string_view b);

inline bool CatalogueLess(const std::string& a, const std::string& b) {
    return CatalogueCompare(a, b) < 0;
}
