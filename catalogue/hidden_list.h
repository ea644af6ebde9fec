#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/path_text.h"

// The pictures the user has asked the show to pass over. They stay in the
// catalogue and on disk; this list only names them, in a file of its own
// beside the catalogue file ("hidden.dat"):
//
//   Quorvane hidden pictures 1<CR><LF>
//   <full path><CR><LF>        one line per picture
//
// A path is the catalogue's byte string; Windows names hold no CR or LF, so
// a line is always one whole path. The reader takes what is sound and drops
// the rest: a line without its line end (a file cut short), an empty line,
// a line holding a 0x00, a line too long to be a path, a name already read.
// A file whose first line is not the header, or names another version, reads
// as an empty list.

class THiddenList {
public:
    // Compared as the catalogue compares paths: case-insensitively, folding
    // A-Z and the Latin-1 capitals (CatalogueCompare).
    bool Contains(std::string_view path) const;
    // False when the path is already listed or cannot be listed (empty,
    // longer than kMaxPathBytes, holding a 0x00, CR or LF).
    bool Add(std::string_view path);
    // False when the path was not listed.
    bool Remove(std::string_view path);
    // Drops every path for which `gone` is true; returns how many.
    std::size_t RemoveIf(const std::function<bool(const std::string&)>& gone);
    void Clear() { paths_.clear(); }

    int Count() const { return static_cast<int>(paths_.size()); }
    bool Empty() const { return paths_.empty(); }
    // In the catalogue's order.
    const std::vector<std::string>& Paths() const { return paths_; }

    // The file's bytes.
    std::string Encode() const;
    // Replaces the list with what is sound in `data`; returns the number of
    // lines that were dropped as damaged.
    std::size_t Decode(std::string_view data);

    static constexpr std::size_t kMaxPathBytes = 32767;

private:
    std::vector<std::string> paths_;  // sorted by CatalogueLess, no two equal under CatalogueCompare
};

constexpr const char kHiddenListHeader[] = "Quorvane hidden pictures 1";

// The hidden list's file: "hidden.dat" in the catalogue file's folder;
// empty when the catalogue file is unknown (empty).
std::string HiddenListFileFor(const std::string& catalogueFile, TLeadByteTest isLead = nullptr);
