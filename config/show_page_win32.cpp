#include "config/show_page_win32.h"

#include "session/settings.h"

namespace {

void SetChecked(HWND button, bool on) {
    ::SendMessageA(button, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool Checked(HWND button) {
    return ::SendMessageA(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// The wrappers have no radio button: a check box made by its wrapper (font,
// focus registry, busy cursor, themed background) becomes one by its button
// style. `first` starts a group; the arrow keys move within it.
HWND CreateRadio(const TControlArgs& args, bool first) {
    HWND wnd = CreateCheckBox(args);
    if (!wnd) return nullptr;
    ::SendMessageA(wnd, BM_SETSTYLE, BS_AUTORADIOBUTTON, TRUE);
    if (first) ::SetWindowLongPtrA(wnd, GWL_STYLE, ::GetWindowLongPtrA(wnd, GWL_STYLE) | WS_GROUP);
    return wnd;
}

// A check box that follows radio buttons in the same box ends their group.
HWND CreateCheck(const TControlArgs& args, bool endsGroup) {
    HWND wnd = CreateCheckBox(args);
    if (wnd && endsGroup) ::SetWindowLongPtrA(wnd, GWL_STYLE, ::GetWindowLongPtrA(wnd, GWL_STYLE) | WS_GROUP);
    return wnd;
}

// One row of radio buttons: its identifier and text; the first starts the group.
struct TChoiceRow {
    int Id;
    const char* Text;
};

}  // namespace

HWND TShowPage::Control(int id) const {
    if (id < kFirstId || id > kLastId) return nullptr;
    return controls_[id - kFirstId];
}

void TShowPage::Create(const TCreateArgs& args) {
    HWND page = args.Page;
    TBusyCursors* busy = args.Busy;
    // Rows 22 apart inside boxes whose titles take the first 16 pixels.
    auto radios = [&](HWND box, std::initializer_list<TChoiceRow> rows, int y) {
        bool first = true;
        for (const TChoiceRow& r : rows) {
            controls_[r.Id - kFirstId] = CreateRadio({box, r.Id, r.Text, {14, y, 240, 20}, nullptr, busy}, first);
            first = false;
            y += 22;
        }
        return y;
    };
    auto check = [&](HWND box, int id, const char* text, int y, bool endsGroup) {
        controls_[id - kFirstId] = CreateCheck({box, id, text, {14, y, 240, 20}, nullptr, busy}, endsGroup);
    };

    // Left: which picture comes next, and what ends the show.
    orderBox_ = CreateGroupBox({page, 0, "Order of the pictures", {6, 4, 270, 166}});
    int y = radios(orderBox_,
                   {{kIdOrderRandom, "Random"},
                    {kIdOrderForward, "Forward (1-2-3-...)"},
                    {kIdOrderBackward, "Backward (...-3-2-1)"}},
                   20);
    check(orderBox_, kIdRandomStart, "Start at a random picture", y + 8, true);
    check(orderBox_, kIdResumeLast, "Continue after the last picture shown", y + 30, false);

    endBox_ = CreateGroupBox({page, 0, "Keys and mouse", {6, 180, 270, 76}});
    check(endBox_, kIdMouseEnds, "Moving the mouse ends the show", 20, true);
    check(endBox_, kIdKeysSteer, "Keys steer the show", 42, false);

    colourBox_ = CreateGroupBox({page, 0, "Colours", {6, 266, 270, 48}});
    check(colourBox_, kIdTrueColours, "Colours as the photo intends", 20, true);

    // Right: how the pictures look and move.
    speedBox_ = CreateGroupBox({page, 0, "Flight speed", {290, 4, 276, 88}});
    radios(speedBox_,
           {{kIdSpeedSlower, "Slower"}, {kIdSpeedStandard, "Standard"}, {kIdSpeedFaster, "Faster"}}, 20);

    captionBox_ = CreateGroupBox({page, 0, "Caption", {290, 102, 276, 110}});
    radios(captionBox_,
           {{kIdCaptionNone, "None"},
            {kIdCaptionName, "File name"},
            {kIdCaptionDate, "Date taken"},
            {kIdCaptionBoth, "Name and date"}},
           20);

    shapeBox_ = CreateGroupBox({page, 0, "Picture shape", {290, 222, 276, 66}});
    radios(shapeBox_, {{kIdShapeFramed, "Framed (4:3)"}, {kIdShapeOwn, "Own shape"}}, 20);

    monitorsBox_ = CreateGroupBox({page, 0, "Monitors", {290, 298, 276, 48}});
    check(monitorsBox_, kIdEveryMonitor, "Photos on every monitor", 20, true);
}

void TShowPage::AddToolTips(HWND tooltip) {
    struct TTip {
        int Id;
        const char* Text;
    };
    static const TTip tips[] = {
        {kIdOrderRandom, "Show the pictures in a random order"},
        {kIdOrderForward, "Show the pictures in the order of the list"},
        {kIdOrderBackward, "Show the pictures in the reverse order of the list"},
        {kIdRandomStart, "Begin each show at a picture chosen at random"},
        {kIdResumeLast, "Begin each show after the picture the last show ended with"},
        {kIdMouseEnds, "End the show when the mouse is moved"},
        {kIdKeysSteer, "Let keys steer the show instead of ending it"},
        {kIdSpeedSlower, "Each picture takes 15 seconds to reach you"},
        {kIdSpeedStandard, "Each picture takes 10 seconds to reach you"},
        {kIdSpeedFaster, "Each picture takes 6.5 seconds to reach you"},
        {kIdCaptionNone, "Show the pictures without text"},
        {kIdCaptionName, "Write the file name under each picture"},
        {kIdCaptionDate, "Write the date the photograph was taken under each picture"},
        {kIdCaptionBoth, "Write the file name and the date under each picture"},
        {kIdShapeFramed, "Fit every picture into the same 4:3 frame"},
        {kIdShapeOwn, "Show every picture in its own proportions"},
        {kIdTrueColours, "Convert pictures that carry a colour profile for this monitor"},
        {kIdEveryMonitor, "Give every monitor a flight of photos of its own, instead of black"},
    };
    for (const TTip& t : tips) AddToolTip(tooltip, Control(t.Id), t.Text);
}

void TShowPage::Load(const TSettings& s) {
    SetChecked(Control(kIdOrderRandom), s.Order == 2);
    SetChecked(Control(kIdOrderForward), s.Order == 1);
    SetChecked(Control(kIdOrderBackward), s.Order == 4);
    SetChecked(Control(kIdRandomStart), s.RandomStart);
    SetChecked(Control(kIdResumeLast), s.ResumeLast);
    SetChecked(Control(kIdMouseEnds), s.MouseMove);
    SetChecked(Control(kIdKeysSteer), s.Show.KeysSteer);
    SetChecked(Control(kIdTrueColours), s.IntendedColours);
    SetChecked(Control(kIdEveryMonitor), s.Show.EveryMonitor);
    for (int i = 0; i < 3; ++i)
        SetChecked(Control(kIdSpeedSlower + i), static_cast<int>(s.Show.Speed) == i);
    for (int i = 0; i < 4; ++i)
        SetChecked(Control(kIdCaptionNone + i), static_cast<int>(s.Show.Caption) == i);
    for (int i = 0; i < 2; ++i)
        SetChecked(Control(kIdShapeFramed + i), static_cast<int>(s.Show.Shape) == i);
}

void TShowPage::Store(TSettings& s) const {
    if (!Control(kIdOrderRandom)) return;  // no page: nothing the user could have changed
    if (Checked(Control(kIdOrderRandom)))
        s.Order = 2;
    else if (Checked(Control(kIdOrderForward)))
        s.Order = 1;
    else if (Checked(Control(kIdOrderBackward)))
        s.Order = 4;
    s.RandomStart = Checked(Control(kIdRandomStart));
    s.ResumeLast = Checked(Control(kIdResumeLast));
    s.MouseMove = Checked(Control(kIdMouseEnds));
    s.Show.KeysSteer = Checked(Control(kIdKeysSteer));
    s.IntendedColours = Checked(Control(kIdTrueColours));
    s.Show.EveryMonitor = Checked(Control(kIdEveryMonitor));
    for (int i = 0; i < 3; ++i)
        if (Checked(Control(kIdSpeedSlower + i))) s.Show.Speed = static_cast<TFlightSpeed>(i);
    for (int i = 0; i < 4; ++i)
        if (Checked(Control(kIdCaptionNone + i))) s.Show.Caption = static_cast<TCaption>(i);
    for (int i = 0; i < 2; ++i)
        if (Checked(Control(kIdShapeFramed + i))) s.Show.Shape = static_cast<TPanelShape>(i);
}
