#include "catalogue/hidden_list.h"

#include <algorithm>

#include "base/compare.h"

namespace {

bool Storable(std::string_view path) {
    return !path.empty() && path.size() <= THiddenList::kMaxPathBytes &&
           path.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
}

}  // namespace

bool THiddenList::Contains(std::string_view path) const {
    const auto it = std::lower_bound(paths_.begin(), paths_.end(), path,
                                     [](const std::string& a, std::string_view b) { return CatalogueCompare(a, b) < 0; });
    return it != paths_.end() && CatalogueCompare(*it, path) == 0;
}

bool THiddenList::Add(std::string_view path) {
    if (!Storable(path)) return false;
    const auto it = std::lower_bound(paths_.begin(), paths_.end(), path,
                                     [](const std::string& a, std::string_view b) { return CatalogueCompare(a, b) < 0; });
    if (it != paths_.end() && CatalogueCompare(*it, path) == 0) return false;
    paths_.insert(it, std::string(path));
    return true;
}

bool THiddenList::Remove(std::string_view path) {
    const auto it = std::lower_bound(paths_.begin(), paths_.end(), path,
                                     [](const std::string& a, std::string_view b) { return CatalogueCompare(a, b) < 0; });
    if (it == paths_.end() || CatalogueCompare(*it, path) != 0) return false;
    paths_.erase(it);
    return true;
}

std::size_t THiddenList::RemoveIf(const std::function<bool(const std::string&)>& gone) {
    const std::size_t before = paths_.size();
    paths_.erase(std::remove_if(paths_.begin(), paths_.end(), gone), paths_.end());
    return before - paths_.size();
}

std::string THiddenList::Encode() const {
    std::string out = kHiddenListHeader;
    out += "\r\n";
    for (const std::string& p : paths_) {
        out += p;
        out += "\r\n";
    }
    return out;
}

std::size_t THiddenList::Decode(std::string_view data) {
    paths_.clear();
    std::size_t dropped = 0;
    bool headerSeen = false;
    std::size_t pos = 0;
    while (pos < data.size()) {
        const std::size_t end = data.find('\n', pos);
        // No line end: the file was cut off inside this line, whose path may
        // be cut short too; it names no picture for sure.
        if (end == std::string_view::npos) {
            ++dropped;
            break;
        }
        std::string_view line = data.substr(pos, end - pos);
        pos = end + 1;
        // Written with CR LF; a file edited by hand may have lost the CRs.
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!headerSeen) {
            // Another version or no list of ours: nothing in it is read.
            if (line != kHiddenListHeader) return 0;
            headerSeen = true;
            continue;
        }
        if (line.empty()) continue;
        if (!Storable(line)) {
            ++dropped;
            continue;
        }
        // Sorted input (as written) appends; anything else goes through Add.
        if (paths_.empty() || CatalogueCompare(paths_.back(), line) < 0)
            paths_.emplace_back(line);
        else if (!Add(line))
            ++dropped;
    }
    return dropped;
}

std::string HiddenListFileFor(const std::string& catalogueFile, TLeadByteTest isLead) {
    if (catalogueFile.empty()) return std::string();
    return FolderPart(catalogueFile, isLead) + "hidden.dat";
}
