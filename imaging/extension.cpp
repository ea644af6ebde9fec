#include "imaging/extension.h"

#include <algorithm>

#include "base/text.h"

std::string_view NameExtension(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return {};
    if (name.find_first_of("\\/:", dot) != std::string_view::npos) return {};
    return name.substr(dot);
}

std::string ExtensionKey(std::string_view name) {
    return LowerAscii(std::string(NameExtension(name)));
}

bool HasListedExtension(std::string_view name, const std::vector<std::string>& extensions) {
    const std::string key = ExtensionKey(name);
    return !key.empty() && std::find(extensions.begin(), extensions.end(), key) != extensions.end();
}
