#include "catalogue/ansi_names_win32.h"

#include <algorithm>
#include <cwchar>

#include "base/handles_win32.h"

namespace {

// The short name of the last component of `path`; empty when it has none
// or does not exist.
std::wstring ShortNameOf(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    TFindHandle find(::FindFirstFileW(path.c_str(), &found));
    if (!find) return std::wstring();
    return std::wstring(found.cAlternateFileName,
                        ShortNameUnits(CatalogueHooks(), wcsnlen(found.cAlternateFileName, 14)));
}

}  // namespace

bool AnsiPathOf(std::wstring_view path, std::string& out) {
    out.clear();
    const TAnsiNames names;
    if (names.Append(path, out)) return true;
    // Component by component: each one the code page cannot spell is
    // looked up by the path up to it and replaced by its short name.
    std::wstring upTo;
    for (std::size_t pos = 0; pos <= path.size();) {
        const std::size_t end = std::min(path.find_first_of(L"\\/", pos), path.size());
        const std::wstring_view part = path.substr(pos, end - pos);
        upTo.append(part);
        if (!names.Append(part, out)) {
            const std::wstring shortName = ShortNameOf(upTo);
            if (shortName.empty() || !names.Append(shortName, out)) {
                out.clear();
                return false;
            }
        }
        if (end == path.size()) break;
        upTo += path[end];
        out += static_cast<char>(path[end]);
        pos = end + 1;
    }
    return true;
}

std::wstring WidePathOf(std::string_view path) {
    return TAnsiNames().Widen(path);
}

std::wstring LongPathOf(std::string_view path) {
    const std::wstring wide = WidePathOf(path);
    if (wide.empty()) return wide;
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetLongPathNameW(wide.c_str(), &full[0], DWORD(full.size()));
        if (n == 0) return wide;
        if (n < full.size()) {
            full.resize(n);
            return full;
        }
        full.resize(n);
    }
}
