#pragma once
#include <windows.h>

#include "config/controls_win32.h"

struct TSettings;

// The Show page: how the show runs. The order of the pictures and where it
// starts, what ends it, how fast the pictures fly, what is written on them
// their shape and their colours. The controls are read into the settings only when the
// dialog asks (Store): for "OK" and for "Preview", so that Cancel leaves the
// settings as they were loaded.

// Control identifiers of the page (the dialog's WM_COMMAND range passes them
// by: the buttons keep their own state).
enum TShowPageId : int {
    kIdOrderRandom = 70,
    kIdOrderForward = 71,
    kIdOrderBackward = 72,
    kIdRandomStart = 73,
    kIdResumeLast = 74,
    kIdMouseEnds = 75,
    kIdKeysSteer = 76,
    kIdSpeedSlower = 77,
    kIdSpeedStandard = 78,
    kIdSpeedFaster = 79,
    kIdCaptionNone = 80,
    kIdCaptionName = 81,
    kIdCaptionDate = 82,
    kIdCaptionBoth = 83,
    kIdShapeFramed = 84,
    kIdShapeOwn = 85,
    kIdTrueColours = 86,
    kIdEveryMonitor = 87,
};

class TShowPage {
public:
    struct TCreateArgs {
        HWND Page = nullptr;           // the tab page the controls go on
        TBusyCursors* Busy = nullptr;  // not owned: the dialog's
    };

    void Create(const TCreateArgs& args);
    void AddToolTips(HWND tooltip);

    // Sets the controls from `s`. An order the page has no button for (the
    // registry may hold 0 to 7) checks none and is kept by Store.
    void Load(const TSettings& s);
    // Writes the controls' state into `s`.
    void Store(TSettings& s) const;

    // The page's control of this identifier; null before Create.
    HWND Control(int id) const;

private:
    static constexpr int kFirstId = kIdOrderRandom;
    static constexpr int kLastId = kIdEveryMonitor;
    HWND controls_[kLastId - kFirstId + 1] = {};  // children of the page's group boxes
    HWND orderBox_ = nullptr, endBox_ = nullptr, speedBox_ = nullptr, captionBox_ = nullptr,
         shapeBox_ = nullptr, colourBox_ = nullptr, monitorsBox_ = nullptr;  // children of the page
};
