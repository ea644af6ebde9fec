#include "session/settings.h"

#include <cstdint>

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

std::vector<std::pair<std::string, std::string>> SettingsToSave(const TSettings& s) {
    std::vector<std::pair<std::string, std::string>> values;
    values.emplace_back("Delay", std::to_string(s.Delay));
    values.emplace_back("Convert", std::to_string(s.Convert));
    values.emplace_back("Order", std::to_string(CombineOrder(s)));
    values.emplace_back("StopKey", std::to_string(s.StopKey));
    values.emplace_back("MouseMove", s.MouseMove ? "1" : "0");
    values.emplace_back("Effdata", std::to_string(static_cast<std::int64_t>(kEffdataBias) - s.Effdata));
    return values;
}
