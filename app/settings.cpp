#include "app/settings.h"

#include <cstdint>

TSettings Settings;
std::vector<std::string> LegacyFolders;
std::vector<std::string> ExtensionList;

std::string LowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::optional<std::int32_t> ParseInt32(const std::string& text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i >= text.size()) return std::nullopt;
    // Accumulate in 64 bits and stop as soon as the magnitude leaves the
    // 32-bit range, so texts of any length cannot overflow.
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > 2147483648LL) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > 2147483647LL) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

static std::int32_t ClampSetting(std::int32_t v) {
    if (v < 0) return 0;
    if (v > kSettingMax) return kSettingMax;
    return v;
}

std::int32_t DecodeSettingInt(const std::optional<std::string>& text, std::int32_t def) {
    std::int32_t v = def;
    if (text && !text->empty()) v = ParseInt32(*text).value_or(def);
    return ClampSetting(v);
}

void SplitOrder(std::int32_t stored, TSettings& s) {
    s.RandomStart = (stored & 8) != 0;
    s.ResumeLast = (stored & 16) != 0;
    s.Order = stored % 8;
}

std::int32_t CombineOrder(const TSettings& s) {
    return s.Order + (s.RandomStart ? 8 : 0) + (s.ResumeLast ? 16 : 0);
}

void ApplyKeyDefaults(TSettings& s, bool keyOpened) {
    s.Delay = 5000;
    s.Convert = 5000;
    s.Order = 2;
    s.StopKey = 1;
    s.rtresize = true;
    s.ScanSubfolders = true;
    s.IntendedColours = true;
    s.Effdata = kEffdataBias - 75;
    // With an opened key the pictures may be enlarged and use the full fit;
    // without one the conservative fit applies. RandomStart, ResumeLast and
    // MouseMove keep what they had when the key is unusable.
    s.EnlargeToFit = keyOpened;
    s.FitMode = keyOpened ? 2 : 1;
}

std::string CatalogueFileFor(const std::string& installPath, const std::string& appData) {
    if (appData.empty()) return installPath + "\\piclist.dat";
    return appData + "\\Quorvane\\piclist.dat";
}

std::string FolderPart(const std::string& path, TLeadByteTest isLead) {
    const std::size_t pos = LastSeparator(path, "\\/:", isLead);
    return pos == std::string::npos ? std::string() : path.substr(0, pos + 1);
}

std::vector<std::pair<std::string, std::string>> SettingsToSave(TSettings& s) {
    std::vector<std::pair<std::string, std::string>> values;
    values.emplace_back("Delay", std::to_string(s.Delay));
    values.emplace_back("Convert", std::to_string(s.Convert));
    values.emplace_back("Order", std::to_string(CombineOrder(s)));
    s.Order %= 8;
    values.emplace_back("StopKey", std::to_string(s.StopKey));
    values.emplace_back("MouseMove", s.MouseMove ? "1" : "0");
    values.emplace_back("Effdata", std::to_string(static_cast<std::int64_t>(kEffdataBias) - s.Effdata));
    return values;
}
