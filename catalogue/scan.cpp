#include "catalogue/scan.h"

std::vector<std::string> FoundList;
std::string ScanRoot;
TScanSkipped ScanSkipped;

std::string_view FileExtension(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return {};
    if (name.find_first_of("\\/:", dot) != std::string_view::npos) return {};
    return name.substr(dot);
}

bool IsPictureName(std::string_view name, const std::vector<std::string>& extensions) {
    const std::string_view ext = FileExtension(name);
    if (ext.empty()) return false;
    for (const std::string& known : extensions) {
        if (known.size() != ext.size()) continue;
        std::size_t i = 0;
        for (; i < ext.size(); ++i) {
            char c = ext[i];
            if (c >= 'A' && c <= 'Z') c = char(c + ('a' - 'A'));
            if (c != known[i]) break;
        }
        if (i == ext.size()) return true;
    }
    return false;
}
