#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// How a show looks and reacts beyond the picture order: the choices of the
// dialog's Show page. Every default is the show as it has always been, so a
// user who never opens that page sees no change.

enum class TCaption : std::int32_t {
    None = 0,         // no text on the panel
    FileName = 1,     // the picture's file name
    DateTaken = 2,    // when the photograph was taken, else the file's date
    NameAndDate = 3,  // both
};
enum class TPanelShape : std::int32_t {
    Framed = 0,    // every picture fitted into the same 4:3 panel, framed in black
    OwnShape = 1,  // the panel takes the picture's proportions
};
enum class TFlightSpeed : std::int32_t {
    Slower = 0,
    Standard = 1,  // the panel reaches the viewer 10 s after it appears
    Faster = 2,
};

struct TShowOptions {
    bool KeysSteer = false;  // arrow keys and the like steer the show instead of ending it
    TCaption Caption = TCaption::None;
    TPanelShape Shape = TPanelShape::Framed;
    TFlightSpeed Speed = TFlightSpeed::Standard;
    // Photos on every monitor, each with a flight of its own; off: the other
    // monitors are black.
    bool EveryMonitor = false;

    bool operator==(const TShowOptions& o) const {
        return KeysSteer == o.KeysSteer && Caption == o.Caption && Shape == o.Shape && Speed == o.Speed &&
               EveryMonitor == o.EveryMonitor;
    }
    bool operator!=(const TShowOptions& o) const { return !(*this == o); }
};

// Names of the settings-key values that hold the options (decimal REG_SZ).
constexpr const char kKeysValue[] = "Keys";        // "0" or "1"
constexpr const char kCaptionValue[] = "Caption";  // 0..3, TCaption
constexpr const char kShapeValue[] = "Shape";      // 0..1, TPanelShape
constexpr const char kSpeedValue[] = "Speed";      // 0..2, TFlightSpeed
constexpr const char kEveryMonitorValue[] = "EveryMonitor";  // "0" or "1"

// One value of the settings key as read: nullopt when it is missing,
// unreadable or not of a string type.
using TSettingReader = std::function<std::optional<std::string>(const char* name)>;

// The options from their values. A value that is missing, not a decimal
// 32-bit integer, or outside its choices reads as that option's default.
TShowOptions DecodeShowOptions(const TSettingReader& read);

// The values that store `options`, as decimal text, in writing order.
std::vector<std::pair<std::string, std::string>> ShowOptionsToSave(const TShowOptions& options);

// Seconds from a panel's launch until it reaches the viewer.
double FlightSeconds(TFlightSpeed speed);
// Scene units a panel and the stars travel per elapsed millisecond; the
// standard speed is 0.02 (the launch distance of 200 in 10 s).
double SceneUnitsPerMs(TFlightSpeed speed);
