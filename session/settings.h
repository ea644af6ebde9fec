#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/path_text.h"
#include "base/text.h"
#include "session/show_options.h"

// The settings record, which the session owns, and the pure rules that
// turn registry text into it and back. The registry access itself lives in
// settings_store_win32.cpp.

struct TSettings {
    std::int32_t Delay = 0;       // milliseconds, saved back only
    std::int32_t Convert = 0;     // milliseconds, saved back only
    std::int32_t Order = 0;       // 0..7: 1 forward, 2 random, 4 backward
    bool RandomStart = false;     // bit value 8 of "Order"
    bool ResumeLast = false;      // bit value 16 of "Order"
    std::int32_t StopKey = 0;     // saved back only
    bool MouseMove = false;       // saved back only
    std::int32_t Effdata = 0;     // held as 74 - n of the stored n
    bool rtresize = false;        // decode with the progressive resize callback
    bool ShrinkToFit = false;     // not stored
    bool EnlargeToFit = false;    // not stored
    std::uint8_t FitMode = 0;     // 0..2, not stored
    bool ScanSubfolders = false;  // folder walks descend into subfolders
    std::string InstallPath;      // machine-wide "Path"
    std::string CatalogueFile;    // full path of piclist.dat, empty when unknown

    // "IntendedColours": pictures that carry a colour profile are converted.
    bool IntendedColours = false;

    // The Show page's choices; defaults when the settings key cannot be used.
    TShowOptions Show;
};

constexpr std::int32_t kSettingMax = 1000000000;
constexpr std::int32_t kEffdataBias = 74;

// A registry value as read: absent/unreadable/non-string is nullopt.
// Returns the decimal value clamped to 0..kSettingMax, or `def` (clamped
// the same way) when the text is missing, empty or not a 32-bit integer.
std::int32_t DecodeSettingInt(const std::optional<std::string>& text, std::int32_t def);

// "Order" splits into the order (value modulo 8) and two flags.
void SplitOrder(std::int32_t stored, TSettings& s);
std::int32_t CombineOrder(const TSettings& s);

// Values applied when the settings key opens (`keyOpened`) or cannot be
// opened or created; the registry reads then overwrite the former.
void ApplyKeyDefaults(TSettings& s, bool keyOpened);

// The catalogue file's location from the installation and "AppData" folders.
std::string CatalogueFileFor(const std::string& installPath, const std::string& appData);

// The values SaveSettings writes, in writing order, as decimal text.
std::vector<std::pair<std::string, std::string>> SettingsToSave(const TSettings& s);
