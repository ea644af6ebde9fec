#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "session/settings.h"
#include "base/registry_win32.h"
#include "catalogue/piclist.h"
#include "catalogue/sequence.h"
#include "catalogue/sequence_win32.h"
#include "imaging/bitmap_text_win32.h"
#include "imaging/bitmap_win32.h"
#include "imaging/prepare_win32.h"
#include "plugin_fixture.h"
#include "render/hooks_win32.h"
#include "render/loader_win32.h"
#include "tests/win32/test_session.h"

namespace {
// The process's session, which the tests below set up and hand on.
TSession& Session = TestSession();
}  // namespace

// The sequencer with the real picture pipeline: the product's BMP plug-in
// decodes real files, a damaged file is skipped, and the prepared picture is
// what lands in the bitmap.

namespace {

std::uint32_t CentrePixel(const TBitmap& b) {
    const std::uint8_t* p = b.Bits + (static_cast<std::size_t>(b.Height / 2) * b.Width + b.Width / 2) * 4;
    return (static_cast<std::uint32_t>(p[2]) << 16) | (p[1] << 8) | p[0];
}

TEST(ShowPictures, RealFilesInOrderDamagedOneSkipped) {
    TInstallFolder install;
    install.AddFastmm();
    install.Add(ProductDll("imgbmp.dll"));
    install.Load();
    ASSERT_FALSE(Session.Plugins.Extensions().empty());

    const std::vector<std::uint8_t> red = MakeBmp24(80, 60, [](int, int) { return 0xFF0000u; });
    const std::vector<std::uint8_t> blue = MakeBmp24(80, 60, [](int, int) { return 0x0000FFu; });
    const std::string damaged = "BM this is not a picture";
    WriteFileBytes(install.File("a.bmp"), red.data(), red.size());
    WriteFileBytes(install.File("b.bmp"), damaged.data(), damaged.size());
    WriteFileBytes(install.File("c.bmp"), blue.data(), blue.size());

    Session.PicList.Clear();
    const int root = Session.PicList.AddFolder("Root");
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp"})
        Session.PicList.ItemAt(root).Pictures.Add(install.File(name));
    Session.Sequence = TShowSequence();
    TSequenceOptions order;
    order.Order = kOrderForward;
    Session.Settings.FitMode = 0;
    RenderHooks().PreparePicture = nullptr;

    TBitmap bitmap(160, 120);
    bitmap.ShrinkToFit = true;
    bitmap.EnlargeToFit = true;
    std::vector<std::int32_t> shown;
    std::vector<std::uint32_t> colours;
    for (int i = 0; i < 3; ++i) {
        LoadNextPicture(bitmap, SessionShow(), order, SessionPrepare(), Session.MessageFont);
        shown.push_back(Session.Sequence.CurrentIndex);
        colours.push_back(CentrePixel(bitmap));
    }
    EXPECT_EQ(shown, (std::vector<std::int32_t>{0, 2, 0}));
    EXPECT_EQ(colours, (std::vector<std::uint32_t>{0xFF0000u, 0x0000FFu, 0xFF0000u}));

    // The resume position names the picture by its path.
    SaveResumePosition(Session.PicList, 2, true);
    EXPECT_EQ(ReadResumePosition(Session.PicList), 2);
    ::RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
    Session.PicList.Clear();
    Session.MessageFont.Free();
}

// A loader left behind by its run is inside a decode when the stop comes;
// the run takes the sequence back then, so the choice must end there
// instead of moving on from a picture that failed only because it stopped.
std::atomic<bool> stopDuringPrepare{false};
int prepareCalls = 0;

bool StopsWhilePreparing(TBitmap&, const std::string&) {
    ++prepareCalls;
    stopDuringPrepare = true;
    return false;  // the decode gave up at the stop
}

TEST(ShowPictures, AStopDuringThePreparationEndsTheChoiceWhereItWas) {
    Session.PicList.Clear();
    const int root = Session.PicList.AddFolder("Root");
    for (const char* name : {"C:\\a.bmp", "C:\\b.bmp", "C:\\c.bmp"}) Session.PicList.ItemAt(root).Pictures.Add(name);
    Session.Sequence = TShowSequence();
    TSequenceOptions order;
    order.Order = kOrderForward;
    stopDuringPrepare = false;
    prepareCalls = 0;
    SetDecodeCancel(&stopDuringPrepare);
    RenderHooks().PreparePicture = StopsWhilePreparing;

    TBitmap bitmap(16, 12);
    LoadNextPicture(bitmap, SessionShow(), order, SessionPrepare(), Session.MessageFont);
    EXPECT_EQ(prepareCalls, 1);
    EXPECT_EQ(Session.Sequence.CurrentIndex, 0) << "the sequence moved on after the stop";

    RenderHooks().PreparePicture = nullptr;
    SetDecodeCancel(nullptr);
    Session.PicList.Clear();
    Session.MessageFont.Free();
}

}  // namespace
