#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/path_text.h"

// Portable rules of the configuration dialog: DPI scaling, the texts the
// Photos page shows, the tree's item data and slot table, and the open-file
// dialog's filter and multi-select result.

// Converts a 96-DPI length or position to screen pixels at `dpi`: value x
// dpi / 96, rounded to nearest with ties to even (12.5 -> 12, 874.5 -> 874).
int ScaleToDpi(int value, int dpi);
// Screen pixels back to 96-DPI pixels, rounded the same way.
int UnscaleFromDpi(int pixels, int dpi);

// "Version : " followed by the four bytes of `version`, most significant
// first, in decimal and joined by ".".
std::string VersionLabel(std::uint32_t version);

// "Size : " followed by the size in KiB (ties to even) and " Kb"; only
// "Size : " when the file could not be opened (fileSize -1).
std::string SizeText(std::int64_t fileSize);

// The file-name part of a path: what follows the last "\", "/" or ":", at
// most 255 characters. `isLead` tells the two-byte characters of the code
// page (see base/path_text.h); null: a single-byte one.
std::string FileNamePart(std::string_view path, TLeadByteTest isLead = nullptr);

// Tree item data: the slot number in the high 16 bits, the 1-based picture
// position in the low 16 bits (0 for a folder node).
constexpr std::uint32_t ItemData(int slot, int position) {
    return (static_cast<std::uint32_t>(slot) << 16) + static_cast<std::uint32_t>(position);
}
constexpr int ItemSlot(std::uint32_t data) {
    return static_cast<int>(data >> 16);
}
constexpr int ItemPosition(std::uint32_t data) {
    return static_cast<int>(data & 0xFFFF);
}

// Most pictures of one folder entry that the tree shows.
constexpr int kMaxTreeChildren = 65500;

// Maps tree slot numbers to catalogue entry indices. Slot 0 is the root
// entry; any other slot holding 0 is free or stale. The table grows as
// needed, so any number of folders can be shown; only slot numbers up to
// 65535 fit into item data, and folders beyond that get no node.
class TSlotTable {
public:
    static constexpr int kMaxSlot = 0xFFFF;

    TSlotTable() { Reset(); }
    // Empties the table: only slot 0, mapped to entry 0.
    void Reset();
    int Count() const { return count_; }  // highest slot in use
    // Entry of `slot`; 0 for a slot never given out.
    int EntryOf(int slot) const;
    // Used by the tree fill: slot i for entry i, counting up.
    void SetFill(int slot, int entry);
    // A slot for a newly appended entry, the catalogue's (entryCount - 1)-th;
    // -1 when no slot number is left.
    int AssignNew(int entryCount);
    // Frees `slot`, whose entry was deleted from the catalogue, and moves
    // every later entry's mapping down by one.
    void RemoveEntry(int slot);
    // True when `slot` maps to a live entry, or is the root slot.
    bool Live(int slot) const { return slot == 0 || EntryOf(slot) != 0; }

private:
    void Set(int slot, int entry);
    std::vector<std::uint32_t> entries_;  // slot -> entry index
    int count_ = 0;
};

// One format of the plug-in table as the open-file filter sees it: the
// extension with its dot, and the description ("" closes a group).
struct TFilterFormat {
    std::string Extension;
    std::string Description;
};

// The filter of the open-file dialog: "All formats", every pattern, then one
// "description (patterns)" pair per run of formats with equal descriptions.
// Only the first "*.bmp" is listed. The result holds the NULs between the
// strings and ends with one NUL; the std::string's own terminator is the
// second that ends the filter.
std::string BuildOpenFilter(const std::vector<TFilterFormat>& formats);

// The file buffer of a multi-select open-file dialog: one full path when
// `fileOffset` lies inside the first string, else a folder followed by
// names, ended by an empty string. Reads no further than `size` characters.
std::vector<std::string> ParseOpenFileResult(const char* buffer, std::size_t size, unsigned fileOffset);
// The same for the wide dialog the product runs.
std::vector<std::wstring> ParseOpenFileResultW(const wchar_t* buffer, std::size_t size, unsigned fileOffset);
