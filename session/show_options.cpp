#include "session/show_options.h"

#include "base/text.h"

namespace {

constexpr double kLaunchDistance = 200.0;  // where a panel starts its flight

// A choice among `count` numbered ones. Unlike the plain settings, which
// clamp, a number outside the choices is no nearby choice but a damaged
// value, so it falls back to the default as unreadable text does.
std::int32_t DecodeChoice(const std::optional<std::string>& text, std::int32_t count, std::int32_t def) {
    if (!text || text->empty()) return def;
    const std::optional<std::int32_t> v = ParseInt32(*text);
    if (!v || *v < 0 || *v >= count) return def;
    return *v;
}

}  // namespace

TShowOptions DecodeShowOptions(const TSettingReader& read) {
    TShowOptions o;
    // A positive number is on, as with "MouseMove" (whose reading clamps
    // negative numbers to 0).
    const std::optional<std::string> keys = read(kKeysValue);
    o.KeysSteer = keys && ParseInt32(*keys).value_or(0) > 0;
    const std::optional<std::string> every = read(kEveryMonitorValue);
    o.EveryMonitor = every && ParseInt32(*every).value_or(0) > 0;
    o.Caption = static_cast<TCaption>(DecodeChoice(read(kCaptionValue), 4, static_cast<std::int32_t>(o.Caption)));
    o.Shape = static_cast<TPanelShape>(DecodeChoice(read(kShapeValue), 2, static_cast<std::int32_t>(o.Shape)));
    o.Speed = static_cast<TFlightSpeed>(DecodeChoice(read(kSpeedValue), 3, static_cast<std::int32_t>(o.Speed)));
    return o;
}

std::vector<std::pair<std::string, std::string>> ShowOptionsToSave(const TShowOptions& o) {
    return {
        {kKeysValue, o.KeysSteer ? "1" : "0"},
        {kCaptionValue, std::to_string(static_cast<std::int32_t>(o.Caption))},
        {kShapeValue, std::to_string(static_cast<std::int32_t>(o.Shape))},
        {kSpeedValue, std::to_string(static_cast<std::int32_t>(o.Speed))},
        {kEveryMonitorValue, o.EveryMonitor ? "1" : "0"},
    };
}

double FlightSeconds(TFlightSpeed speed) {
    switch (speed) {
    case TFlightSpeed::Slower:
        return 15.0;
    case TFlightSpeed::Faster:
        return 6.5;
    case TFlightSpeed::Standard:
        break;
    }
    return 10.0;
}

double SceneUnitsPerMs(TFlightSpeed speed) {
    return kLaunchDistance / (FlightSeconds(speed) * 1000.0);
}
