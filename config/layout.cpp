#include "config/layout.h"

#include <cmath>

namespace {

// nearbyint rounds in the current mode, which is to-nearest-even unless
// someone changed it; the dialog never does.
int RoundEven(double v) {
    return static_cast<int>(std::nearbyint(v));
}

// Both widths of ParseOpenFileResult.
template <typename TChar>
std::vector<std::basic_string<TChar>> ParseChosen(const TChar* buffer, std::size_t size,
                                                  unsigned fileOffset) {
    using TText = std::basic_string<TChar>;
    std::vector<TText> paths;
    if (!buffer || size == 0) return paths;
    auto stringAt = [&](std::size_t pos) {
        std::size_t end = pos;
        while (end < size && buffer[end] != TChar(0)) ++end;
        return TText(buffer + pos, end - pos);
    };
    const TText first = stringAt(0);
    if (first.empty()) return paths;
    if (fileOffset < first.size()) {
        paths.push_back(first);
        return paths;
    }
    // A drive root arrives already ending in its separator.
    const TText folder = first.back() == TChar('\\') ? first : first + TChar('\\');
    std::size_t pos = first.size() + 1;
    while (pos < size) {
        const TText name = stringAt(pos);
        if (name.empty()) break;
        pos += name.size() + 1;
        paths.push_back(folder + name);
    }
    return paths;
}

}  // namespace

int ScaleToDpi(int value, int dpi) {
    return RoundEven(static_cast<double>(value) * dpi / 96.0);
}

int UnscaleFromDpi(int pixels, int dpi) {
    if (dpi <= 0) return pixels;
    return RoundEven(static_cast<double>(pixels) * 96.0 / dpi);
}

std::string VersionLabel(std::uint32_t version) {
    std::string text = "Version : ";
    for (int shift = 24; shift >= 0; shift -= 8) {
        text += std::to_string((version >> shift) & 0xFF);
        if (shift) text += '.';
    }
    return text;
}

std::string SizeText(std::int64_t fileSize) {
    if (fileSize == -1) return "Size : ";
    return "Size : " + std::to_string(static_cast<long long>(std::nearbyint(fileSize / 1024.0))) + " Kb";
}

std::string FileNamePart(std::string_view path, TLeadByteTest isLead) {
    const std::size_t cut = LastSeparator(path, "\\/:", isLead);
    std::string_view name = cut == std::string_view::npos ? path : path.substr(cut + 1);
    return std::string(name.substr(0, 255));
}

void TSlotTable::Reset() {
    entries_.assign(1, 0);
    count_ = 0;
}

int TSlotTable::EntryOf(int slot) const {
    if (slot < 0 || static_cast<std::size_t>(slot) >= entries_.size()) return 0;
    return static_cast<int>(entries_[static_cast<std::size_t>(slot)]);
}

void TSlotTable::Set(int slot, int entry) {
    if (static_cast<std::size_t>(slot) >= entries_.size())
        entries_.resize(static_cast<std::size_t>(slot) + 1, 0);
    entries_[static_cast<std::size_t>(slot)] = static_cast<std::uint32_t>(entry);
}

void TSlotTable::SetFill(int slot, int entry) {
    if (slot < 0 || slot > kMaxSlot) return;
    Set(slot, entry);
    if (slot > count_) count_ = slot;
}

int TSlotTable::AssignNew(int entryCount) {
    const int entry = entryCount - 1;
    int slot;
    if (entry > count_) {
        slot = entryCount;
    } else if (entry == count_) {
        slot = count_ + 1;
    } else {
        slot = 0;
        for (int s = 1; s <= count_; ++s) {
            if (EntryOf(s) == 0) {
                slot = s;
                break;
            }
        }
        if (slot == 0) slot = count_ + 1;
    }
    if (slot > kMaxSlot) return -1;
    if (slot > count_) count_ = slot;
    Set(slot, entry);
    return slot;
}

void TSlotTable::RemoveEntry(int slot) {
    if (slot <= 0) return;
    const int removed = EntryOf(slot);
    Set(slot, 0);
    for (int s = 1; s <= count_; ++s) {
        if (EntryOf(s) > removed) Set(s, EntryOf(s) - 1);
    }
}

std::string BuildOpenFilter(const std::vector<TFilterFormat>& formats) {
    std::string groups;
    std::string all;
    std::string openPatterns;
    std::string openDescription;
    bool open = false;
    bool bmpSeen = false;

    auto finishGroup = [&] {
        if (!open) return;
        groups += openDescription + " (" + openPatterns + ")";
        groups += '\0';
        groups += openPatterns;
        groups += '\0';
        all += openPatterns + ";";
        open = false;
        openPatterns.clear();
    };

    for (const TFilterFormat& f : formats) {
        const std::string pattern = "*" + f.Extension;
        if (pattern == "*.bmp") {
            if (bmpSeen) continue;
            bmpSeen = true;
        }
        if (f.Description.empty()) {
            finishGroup();
            continue;
        }
        if (open && f.Description != openDescription) finishGroup();
        if (!open) {
            open = true;
            openDescription = f.Description;
            openPatterns = pattern;
        } else {
            openPatterns += ";" + pattern;
        }
    }
    finishGroup();
    if (!all.empty()) all.pop_back();

    std::string filter = "All formats";
    filter += '\0';
    filter += all;
    filter += '\0';
    filter += groups;
    filter += '\0';
    return filter;
}

std::vector<std::string> ParseOpenFileResult(const char* buffer, std::size_t size, unsigned fileOffset) {
    return ParseChosen(buffer, size, fileOffset);
}

std::vector<std::wstring> ParseOpenFileResultW(const wchar_t* buffer, std::size_t size, unsigned fileOffset) {
    return ParseChosen(buffer, size, fileOffset);
}
