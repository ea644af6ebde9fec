#include <gtest/gtest.h>

#include <map>

#include "app/cmdline.h"
#include "base/path_text.h"
#include "base/random.h"
#include "render/caption.h"
#include "session/message_font.h"
#include "session/settings.h"

namespace {

TCommandLine Parse(const std::string& raw) {
    return ParseCommandLine(SplitCommandLine("\"C:\\Program Files\\Quorvane\\quorvane.scr\" " + raw));
}

TEST(CommandLine, HostFormsAreRecognised) {
    struct Case {
        const char* raw;
        const char* mode;
        const char* arg;
        std::int32_t hwnd;
        TMode kind;
    } cases[] = {
        {"/s", "s", "", 0, TMode::Run},
        {"-S", "s", "", 0, TMode::Run},
        {"/p 1234", "p", "1234", 1234, TMode::Preview},
        {"/p:1234", "p", "1234", 1234, TMode::Preview},
        {"/c:1234", "c", "1234", 1234, TMode::Config},
        {"/a 1234", "a", "1234", 1234, TMode::Password},
        {"/C", "c", "", 0, TMode::Config},
        {"", "", "", 0, TMode::Config},
        {"/sx", "sx", "", 0, TMode::Unknown},
        {"/p:abc", "p", "abc", 0, TMode::Preview},
        {"/p", "p", "", 0, TMode::Preview},
        {"/p 0", "p", "0", 0, TMode::Preview},
        {"/P:-5", "p", "-5", -5, TMode::Preview},
        {"/p 99999999999", "p", "99999999999", 0, TMode::Preview},
        {"/p:12:34", "p", "12:34", 0, TMode::Preview},
        {"s", "", "", 0, TMode::Config},  // the first character is dropped whatever it is
        {"/c:", "c", "", 0, TMode::Config},
        {"/p \"1234\"", "p", "1234", 1234, TMode::Preview},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.raw);
        const TCommandLine cl = Parse(c.raw);
        EXPECT_EQ(cl.ModeText, c.mode);
        EXPECT_EQ(cl.ArgumentText, c.arg);
        EXPECT_EQ(cl.HostWindow, c.hwnd);
        EXPECT_EQ(ModeOf(cl.ModeText), c.kind);
    }
}

TEST(CommandLine, SplitsQuotedProgramPathsAndIgnoresExtraArguments) {
    EXPECT_EQ(SplitCommandLine("prog.scr  /p   42 extra"), (std::vector<std::string>{"/p", "42", "extra"}));
    EXPECT_EQ(SplitCommandLine("\"C:\\a b\\q.scr\" /s"), (std::vector<std::string>{"/s"}));
    EXPECT_TRUE(SplitCommandLine("").empty());
    EXPECT_TRUE(SplitCommandLine("   ").empty());
    EXPECT_EQ(Parse("/S extra more").ArgumentText, "extra");
}

TEST(CommandLine, HugeAndHostileInputIsHandled) {
    std::string huge = "/p:" + std::string(1 << 20, '9');
    EXPECT_EQ(Parse(huge).HostWindow, 0);
    std::string junk;
    for (int i = 1; i < 256; ++i) junk += static_cast<char>(i);
    const TCommandLine cl = Parse(junk);
    EXPECT_EQ(ModeOf(cl.ModeText), TMode::Unknown);
    // Only A-Z is lowered; bytes above 0x7F stay as they were.
    EXPECT_EQ(Parse("/\xC4X").ModeText, "\xC4x");
}

TEST(Settings, IntegerDecodingClampsAndFallsBack) {
    EXPECT_EQ(DecodeSettingInt(std::string("-5"), 5000), 0);
    EXPECT_EQ(DecodeSettingInt(std::string("abc"), 5000), 5000);
    EXPECT_EQ(DecodeSettingInt(std::string("1500000000"), 5000), kSettingMax);
    EXPECT_EQ(DecodeSettingInt(std::string("2147483647"), 5000), kSettingMax);
    EXPECT_EQ(DecodeSettingInt(std::string("2147483648"), 5000), 5000);  // not a 32-bit integer
    EXPECT_EQ(DecodeSettingInt(std::string("-2147483648"), 5000), 0);
    EXPECT_EQ(DecodeSettingInt(std::string(""), 7), 7);
    EXPECT_EQ(DecodeSettingInt(std::nullopt, 7), 7);
    EXPECT_EQ(DecodeSettingInt(std::string(" 12"), 7), 7);
    EXPECT_EQ(DecodeSettingInt(std::string("12 "), 7), 7);
    EXPECT_EQ(DecodeSettingInt(std::string("+12"), 7), 12);
    EXPECT_EQ(DecodeSettingInt(std::string("-"), 7), 7);
    EXPECT_EQ(DecodeSettingInt(std::string(1 << 20, '0') + "42", 7), 42);
    EXPECT_EQ(DecodeSettingInt(std::string(1 << 20, '9'), 7), 7);
}

TEST(Settings, OrderSplitsAndRecombines) {
    TSettings s;
    SplitOrder(25, s);
    EXPECT_EQ(s.Order, 1);
    EXPECT_TRUE(s.RandomStart);
    EXPECT_TRUE(s.ResumeLast);
    EXPECT_EQ(CombineOrder(s), 25);

    SplitOrder(40, s);
    EXPECT_EQ(s.Order, 0);
    EXPECT_TRUE(s.RandomStart);
    EXPECT_FALSE(s.ResumeLast);
    EXPECT_EQ(CombineOrder(s), 8);
}

TEST(Settings, SavedValuesComeInOrderAndNormalised) {
    TSettings s;
    ApplyKeyDefaults(s, true);
    s.MouseMove = true;
    s.Order = 7;
    s.ResumeLast = true;
    s.Effdata = 74;  // stored n = 0
    const auto values = SettingsToSave(s);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"Delay", "5000"}, {"Convert", "5000"}, {"Order", "23"},
        {"StopKey", "1"},  {"MouseMove", "1"},  {"Effdata", "0"},
    };
    EXPECT_EQ(values, expected);

    TSettings d;
    ApplyKeyDefaults(d, true);
    EXPECT_EQ(d.Effdata, -1);
    EXPECT_EQ(SettingsToSave(d)[5].second, "75");
}

TEST(Settings, DefaultsDependOnWhetherTheKeyOpened) {
    TSettings opened;
    opened.RandomStart = true;
    ApplyKeyDefaults(opened, true);
    EXPECT_EQ(opened.Order, 2);
    EXPECT_TRUE(opened.EnlargeToFit);
    EXPECT_EQ(opened.FitMode, 2);
    EXPECT_TRUE(opened.RandomStart);  // only the registry read changes it

    TSettings closed;
    closed.MouseMove = true;
    ApplyKeyDefaults(closed, false);
    EXPECT_FALSE(closed.EnlargeToFit);
    EXPECT_EQ(closed.FitMode, 1);
    EXPECT_TRUE(closed.MouseMove);
    EXPECT_TRUE(closed.ScanSubfolders);
    EXPECT_TRUE(closed.rtresize);
    EXPECT_TRUE(closed.IntendedColours);
}

TEST(Settings, CatalogueLocation) {
    EXPECT_EQ(CatalogueFileFor("C:\\Q", ""), "C:\\Q\\piclist.dat");
    EXPECT_EQ(CatalogueFileFor("C:\\Q", "C:\\Users\\a\\AppData"),
              "C:\\Users\\a\\AppData\\Quorvane\\piclist.dat");
    EXPECT_EQ(FolderPart("C:\\a\\b\\piclist.dat"), "C:\\a\\b\\");
    EXPECT_EQ(FolderPart("C:piclist.dat"), "C:");
    EXPECT_EQ(FolderPart("a/b"), "a/");
    EXPECT_EQ(FolderPart("piclist.dat"), "");
}

// The Show page's values as the registry might hold them.
TShowOptions DecodeFrom(const std::map<std::string, std::string>& values) {
    return DecodeShowOptions([&values](const char* name) -> std::optional<std::string> {
        const auto it = values.find(name);
        if (it == values.end()) return std::nullopt;
        return it->second;
    });
}

TEST(Settings, ShowOptionsDefaultToTheShowAsItWas) {
    const TShowOptions none = DecodeFrom({});
    EXPECT_EQ(none, TShowOptions());
    EXPECT_FALSE(none.KeysSteer);
    EXPECT_EQ(none.Caption, TCaption::None);
    EXPECT_EQ(none.Shape, TPanelShape::Framed);
    EXPECT_EQ(none.Speed, TFlightSpeed::Standard);
    EXPECT_FALSE(none.EveryMonitor);
    EXPECT_FALSE(DecodeFrom({{"EveryMonitor", "yes"}}).EveryMonitor);
    EXPECT_FALSE(DecodeFrom({{"EveryMonitor", "-1"}}).EveryMonitor);
    // The standard flight is the scene's own 20 units a second.
    EXPECT_EQ(SceneUnitsPerMs(TFlightSpeed::Standard), 0.02);
    EXPECT_LT(SceneUnitsPerMs(TFlightSpeed::Slower), 0.02);
    EXPECT_GT(SceneUnitsPerMs(TFlightSpeed::Faster), 0.02);
    EXPECT_DOUBLE_EQ(SceneUnitsPerMs(TFlightSpeed::Slower) * FlightSeconds(TFlightSpeed::Slower) * 1000, 200);
}

TEST(Settings, ShowOptionsRoundTripThroughTheirText) {
    const TShowOptions chosen{true, TCaption::NameAndDate, TPanelShape::OwnShape, TFlightSpeed::Faster, true};
    const auto values = ShowOptionsToSave(chosen);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"Keys", "1"}, {"Caption", "3"}, {"Shape", "1"}, {"Speed", "2"}, {"EveryMonitor", "1"}};
    EXPECT_EQ(values, expected);
    EXPECT_EQ(DecodeFrom({values.begin(), values.end()}), chosen);
    for (int c = 0; c < 4; ++c)
        EXPECT_EQ(DecodeFrom({{"Caption", std::to_string(c)}}).Caption, static_cast<TCaption>(c));
    EXPECT_EQ(DecodeFrom({{"Speed", "0"}}).Speed, TFlightSpeed::Slower);
}

TEST(Caption, TextFollowsTheChoice) {
    const std::string name = CaptionFileName("C:\\Photos\\2019\\IMG_0042.JPG");
    EXPECT_EQ(name, "IMG_0042.JPG");
    EXPECT_EQ(CaptionFileName("D:/mixed\\sep/a.png"), "a.png");
    EXPECT_EQ(CaptionFileName("bare.bmp"), "bare.bmp");
    EXPECT_EQ(CaptionText(TCaption::None, name, "14/07/2019"), "");
    EXPECT_EQ(CaptionText(TCaption::FileName, name, "14/07/2019"), "IMG_0042.JPG");
    EXPECT_EQ(CaptionText(TCaption::DateTaken, name, "14/07/2019"), "14/07/2019");
    EXPECT_EQ(CaptionText(TCaption::NameAndDate, name, "14/07/2019"), "IMG_0042.JPG  -  14/07/2019");
    // A date that cannot be read leaves the name alone, without a dangling separator.
    EXPECT_EQ(CaptionText(TCaption::NameAndDate, name, ""), "IMG_0042.JPG");
}

TEST(Caption, HeightKeepsItsShareOfThePictureAndStaysLegible) {
    EXPECT_EQ(CaptionFontHeight(540, 96), 22);    // 1920 x 1080
    EXPECT_EQ(CaptionFontHeight(384, 96), 16);    // 1024 x 768
    EXPECT_EQ(CaptionFontHeight(1080, 192), 45);  // 3840 x 2160 at 200 %
    // Small screens: 9 points at the screen's DPI, 12 pixels at 96, 24 at 192.
    EXPECT_EQ(CaptionFontHeight(240, 96), 12);
    EXPECT_EQ(CaptionFontHeight(240, 192), 24);
    EXPECT_EQ(CaptionFontHeight(240, 0), 12);  // unknown DPI reads as 96
    // A preview's tiny picture: never more than a sixth of it.
    EXPECT_EQ(CaptionFontHeight(56, 96), 9);
    EXPECT_EQ(CaptionFontHeight(0, 96), 1);
    EXPECT_EQ(CaptionFontHeight(3, 96), 1);
}

TEST(Settings, DamagedShowOptionsReadAsTheirDefaults) {
    // Beyond the choices, negative, not a number, padded, empty: each falls
    // back to that option's default and leaves the others alone.
    for (const char* bad : {"4", "-1", "abc", " 1", "1 ", "", "2147483648", "99999999999"}) {
        const TShowOptions o = DecodeFrom({{"Caption", bad}, {"Shape", bad}, {"Speed", bad}, {"Keys", "1"}});
        EXPECT_EQ(o.Caption, TCaption::None) << bad;
        EXPECT_EQ(o.Shape, TPanelShape::Framed) << bad;
        EXPECT_TRUE(o.KeysSteer) << bad;
        EXPECT_EQ(o.Speed, TFlightSpeed::Standard) << bad;
    }
    EXPECT_EQ(DecodeFrom({{"Shape", "2"}}).Shape, TPanelShape::Framed);
    // "Keys" reads as the other switches do: any non-zero number is on.
    EXPECT_TRUE(DecodeFrom({{"Keys", "7"}}).KeysSteer);
    EXPECT_FALSE(DecodeFrom({{"Keys", "x"}}).KeysSteer);
    EXPECT_FALSE(DecodeFrom({{"Keys", "-3"}}).KeysSteer);
}

TEST(MessageFont, HeightFollowsScreenWidth) {
    EXPECT_EQ(MessageFontHeight(320), -18);
    EXPECT_EQ(MessageFontHeight(639), -18);
    EXPECT_EQ(MessageFontHeight(640), -16);
    EXPECT_EQ(MessageFontHeight(1000), -16);
    EXPECT_EQ(MessageFontHeight(1001), -18);
    EXPECT_EQ(MessageFontHeight(1299), -18);
    EXPECT_EQ(MessageFontHeight(1300), -20);
    EXPECT_EQ(MessageFontHeight(2000), -20);
    EXPECT_EQ(MessageFontHeight(2001), -18);
}

TEST(Random, SeededSequenceIsTheStandardGenerator) {
    // MT19937 seeded with 5489 yields 3499211612 first; times 2^-32.
    TRandom random(5489);
    EXPECT_DOUBLE_EQ(random.Unit(), 3499211612.0 / 4294967296.0);
    random.Seed(5489);
    EXPECT_DOUBLE_EQ(random.Unit(), 3499211612.0 / 4294967296.0);
    for (int i = 0; i < 1000; ++i) {
        const double r = random.Unit();
        ASSERT_GE(r, 0.0);
        ASSERT_LT(r, 1.0);
    }
    EXPECT_EQ(RoundHalfEven(2.5), 2.0);
    EXPECT_EQ(RoundHalfEven(3.5), 4.0);
    EXPECT_EQ(RoundHalfEven(-0.5), 0.0);
    EXPECT_EQ(RoundHalfEven(1.4999), 1.0);
}

}  // namespace
