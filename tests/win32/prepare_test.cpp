#include <windows.h>

#include <psapi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "base/exception.h"
#include "base/system_win32.h"
#include "imaging/prepare_win32.h"
#include "tests/win32/plugin_fixture.h"
#include "tests/win32/test_session.h"

namespace {
// The process's session, which the tests below set up and hand on.
TSession& Session = TestSession();
}  // namespace

namespace {

std::uint32_t Px(const TBitmap& b, int x, int y) {
    std::uint32_t v;
    std::memcpy(&v, b.Bits + (static_cast<std::size_t>(y) * b.Width + x) * 4, 4);
    return v & 0xFFFFFF;
}

// A picture whose every pixel differs from its neighbours, never black.
std::uint32_t Pattern(int x, int y) {
    return 0x010101u | static_cast<std::uint32_t>((x * 7) & 0xFF) << 16 |
           static_cast<std::uint32_t>((y * 13) & 0xFF) << 8 | static_cast<std::uint32_t>((x + y) & 0xFE);
}

void FillPattern(TBitmap& b) {
    for (int y = 0; y < b.Height; ++y)
        for (int x = 0; x < b.Width; ++x) {
            const std::uint32_t v = Pattern(x, y);
            std::memcpy(b.Bits + (static_cast<std::size_t>(y) * b.Width + x) * 4, &v, 4);
        }
}

void FillWhite(TBitmap& b) {
    std::memset(b.Bits, 0xFF, static_cast<std::size_t>(b.Width) * b.Height * 4);
}

// The bounding box of the non-black pixels: left, top, right, bottom (inclusive).
RECT Covered(const TBitmap& b) {
    RECT r{b.Width, b.Height, -1, -1};
    for (int y = 0; y < b.Height; ++y)
        for (int x = 0; x < b.Width; ++x)
            if (Px(b, x, y) != 0) {
                if (x < r.left) r.left = x;
                if (y < r.top) r.top = y;
                if (x > r.right) r.right = x;
                if (y > r.bottom) r.bottom = y;
            }
    return r;
}

bool RectIs(const RECT& r, int left, int top, int right, int bottom) {
    return r.left == left && r.top == top && r.right == right && r.bottom == bottom;
}

class Prepare : public ::testing::Test {
protected:
    void SetUp() override {
        folder.AddFastmm();
        folder.Add(ProductDll("imgbmp.dll"));
        Session.Settings.rtresize = true;  // plug-ins receive the line-callback slot only with it on
        folder.Load();
        Session.Settings.FitMode = 1;
        Session.Settings.rtresize = false;
    }
    std::string WriteBmp(const std::string& name, int w, int h) {
        const auto bytes = MakeBmp24(w, h, Pattern);
        WriteFileBytes(folder.File(name), bytes.data(), bytes.size());
        return folder.File(name);
    }
    TInstallFolder folder;
};

}  // namespace

// ---- Whole-picture fitting ----------------------------------------------------------

TEST_F(Prepare, EqualSizeIsCopiedPixelForPixelOnBothPaths) {
    const std::string file = WriteBmp("same.bmp", 400, 300);
    for (bool progressive : {false, true}) {
        Session.Settings.rtresize = progressive;
        TBitmap target(400, 300);
        FillWhite(target);
        PictureInfo info;
        LoadPicture(target, file, info, SessionPrepare());
        EXPECT_EQ(info.Lines, progressive ? 301u : 0u);
        EXPECT_EQ(info.Delivery, progressive ? TPictureDelivery::Lines : TPictureDelivery::Whole);
        EXPECT_EQ(info.Width, 400);
        EXPECT_EQ(info.Height, 300);
        EXPECT_STREQ(info.Format, "Windows bitmap");
        EXPECT_EQ(info.FileSize, 54 + 1200 * 300);
        int wrong = 0;
        for (int y = 0; y < 300; ++y)
            for (int x = 0; x < 400; ++x) wrong += Px(target, x, y) != Pattern(x, y);
        EXPECT_EQ(wrong, 0) << "progressive " << progressive;
    }
}

TEST_F(Prepare, ProgressiveAndWholePictureResamplingGiveTheSameBytes) {
    const std::string file = WriteBmp("big.bmp", 403, 301);
    for (std::uint8_t mode : {1, 2}) {
        Session.Settings.FitMode = mode;
        TBitmap whole(160, 120), lines(160, 120);
        PictureInfo info;
        Session.Settings.rtresize = false;
        LoadPicture(whole, file, info, SessionPrepare());
        EXPECT_EQ(info.Delivery, TPictureDelivery::Whole);
        EXPECT_EQ(info.Lines, 0u);
        Session.Settings.rtresize = true;
        LoadPicture(lines, file, info, SessionPrepare());
        EXPECT_EQ(info.Lines, 302u);
        EXPECT_EQ(info.Delivery, TPictureDelivery::Lines);
        EXPECT_EQ(std::memcmp(whole.Bits, lines.Bits, 160 * 120 * 4), 0) << int(mode);
        EXPECT_TRUE(RectIs(Covered(whole), 0, 0, 159, 119)) << int(mode);
        EXPECT_EQ(LineCallbackSlot(), nullptr) << "the slot is set for the decode only";
    }
}

TEST_F(Prepare, ThePictureReportsTheAreaItCoversOnBothPaths) {
    // A portrait picture, shrunk and enlarged: the fitted column band of the
    // target, whichever way its lines arrive; the caller's copy says the same.
    for (const auto& size : {std::pair<int, int>{300, 450}, std::pair<int, int>{60, 90}}) {
        const std::string file = WriteBmp("portrait.bmp", size.first, size.second);
        for (bool progressive : {false, true}) {
            Session.Settings.rtresize = progressive;
            TBitmap target(320, 180);
            target.EnlargeToFit = true;
            PictureInfo info;
            TRect32 reported{1, 2, 3, 4};
            TPrepareOptions options = SessionPrepare();
            options.Covered = &reported;
            LoadPicture(target, file, info, options);
            SCOPED_TRACE(std::to_string(size.first) + (progressive ? " lines" : " whole"));
            EXPECT_EQ(info.Covered.Left, 100);
            EXPECT_EQ(info.Covered.Top, 0);
            EXPECT_EQ(info.Covered.Width, 120);
            EXPECT_EQ(info.Covered.Height, 180);
            EXPECT_TRUE(RectIs(Covered(target), 100, 0, 219, 179));
            EXPECT_EQ(reported.Left, 100);
            EXPECT_EQ(reported.Width, 120);
            EXPECT_EQ(reported.Height, 180);
        }
    }
    // Nothing decoded: nothing covered, also in the caller's copy.
    TBitmap target(320, 180);
    PictureInfo info;
    TRect32 reported{1, 2, 3, 4};
    TPrepareOptions options = SessionPrepare();
    options.Covered = &reported;
    LoadPicture(target, folder.File("missing.bmp"), info, options);
    EXPECT_EQ(info.Covered.Width, 0);
    EXPECT_EQ(reported.Width, 0);
    EXPECT_EQ(reported.Height, 0);
}

TEST_F(Prepare, LargePictureFitsFullWidthCentredVertically) {
    TBitmap source(4000, 3000);
    FillPattern(source);
    Session.Settings.FitMode = 2;
    TBitmap target(640, 512);
    FillWhite(target);
    FitPicture(target, source, Session.Settings.FitMode);
    EXPECT_TRUE(RectIs(Covered(target), 0, 16, 639, 495));
    EXPECT_NE(::GetStretchBltMode(target.DC()), HALFTONE);  // resampled, not stretched
}

TEST_F(Prepare, SmallPictureEnlargedUsesGdiStretching) {
    TBitmap source(40, 30);
    FillPattern(source);
    for (std::uint8_t mode : {0, 1, 2}) {
        Session.Settings.FitMode = mode;
        TBitmap target(640, 480);
        target.EnlargeToFit = true;
        FitPicture(target, source, Session.Settings.FitMode);
        EXPECT_EQ(::GetStretchBltMode(target.DC()), HALFTONE) << int(mode);
        EXPECT_TRUE(RectIs(Covered(target), 0, 0, 639, 479)) << int(mode);
    }
}

TEST_F(Prepare, RefusedLineDeliveryFallsBackToTheWholePicture) {
    // A small picture being enlarged is not resampled: the host refuses the
    // lines at -1 and the plug-in hands over the whole picture instead.
    const std::string file = WriteBmp("small.bmp", 40, 30);
    Session.Settings.rtresize = true;
    TBitmap target(640, 480);
    target.EnlargeToFit = true;
    PictureInfo info;
    LoadPicture(target, file, info, SessionPrepare());
    EXPECT_EQ(info.Lines, 1u);
    EXPECT_EQ(info.Delivery, TPictureDelivery::Whole);
    EXPECT_EQ(info.Width, 40);
    EXPECT_EQ(::GetStretchBltMode(target.DC()), HALFTONE);
    EXPECT_TRUE(RectIs(Covered(target), 0, 0, 639, 479));
}

TEST_F(Prepare, WidthTenIsNeverResampledElevenIs) {
    for (int width : {10, 11}) {
        TBitmap source(width, 101);  // shrunk to width x 100
        FillPattern(source);
        TBitmap target(100, 100);
        FitPicture(target, source, Session.Settings.FitMode);
        EXPECT_EQ(::GetStretchBltMode(target.DC()) == HALFTONE, width == 10) << width;
    }
    // A fitted width of 10 counts too: 100 x 1000 into 100 x 100 is 10 wide.
    TBitmap source(100, 1000);
    FillPattern(source);
    TBitmap target(100, 100);
    FitPicture(target, source, Session.Settings.FitMode);
    EXPECT_EQ(::GetStretchBltMode(target.DC()), HALFTONE);
    EXPECT_TRUE(RectIs(Covered(target), 45, 0, 54, 99));
}

TEST_F(Prepare, SmallerPictureWithoutEnlargingIsCentredUnscaled) {
    TBitmap source(300, 200);
    FillPattern(source);
    TBitmap target(640, 480);
    target.EnlargeToFit = false;
    FillWhite(target);
    FitPicture(target, source, Session.Settings.FitMode);
    EXPECT_TRUE(RectIs(Covered(target), 170, 140, 469, 339));
    EXPECT_EQ(Px(target, 170, 140), Pattern(0, 0));
    EXPECT_EQ(Px(target, 469, 339), Pattern(299, 199));
}

TEST_F(Prepare, WithoutShrinkingLargerPicturesAreCropped) {
    struct Case {
        int sw, sh;
        RECT covered;
        int srcX, srcY;  // source pixel at the covered rectangle's top left
    } cases[] = {
        {800, 600, {0, 0, 399, 299}, 200, 150},  // both ways: the centred part
        {800, 200, {0, 50, 399, 249}, 0, 0},     // only wider: leftmost columns, centred vertically
        {200, 600, {100, 0, 299, 299}, 0, 0},    // only taller: top rows, centred horizontally
    };
    for (const Case& c : cases) {
        TBitmap source(c.sw, c.sh);
        FillPattern(source);
        TBitmap target(400, 300);
        target.ShrinkToFit = false;
        FitPicture(target, source, Session.Settings.FitMode);
        const RECT r = Covered(target);
        EXPECT_TRUE(RectIs(r, c.covered.left, c.covered.top, c.covered.right, c.covered.bottom))
            << c.sw << "x" << c.sh;
        EXPECT_EQ(Px(target, r.left, r.top), Pattern(c.srcX, c.srcY)) << c.sw << "x" << c.sh;
    }
}

TEST_F(Prepare, GdiFitUsesOnePixelSmallerExtentsAndCentresByClipping) {
    TBitmap source(200, 100);
    FillPattern(source);
    TBitmap target(100, 50);
    FitPictureGdi(target, source);
    EXPECT_EQ(::GetStretchBltMode(target.DC()), HALFTONE);
    // The destination extent is one less: the last column and row stay black.
    EXPECT_TRUE(RectIs(Covered(target), 0, 0, 98, 48));

    TBitmap cropTarget(100, 50);
    cropTarget.ShrinkToFit = false;
    FitPictureGdi(cropTarget, source);
    EXPECT_EQ(Px(cropTarget, 0, 0), Pattern(50, 25));
    TBitmap same(200, 100);
    FitPictureGdi(same, source);
    EXPECT_EQ(std::memcmp(same.Bits, source.Bits, 200 * 100 * 4), 0);
}

// ---- Failures leave black -----------------------------------------------------------

TEST_F(Prepare, UnclaimedMissingAndCorruptFilesLeaveBlackWithTheirInfo) {
    const auto good = MakeBmp24(20, 20, Pattern);
    std::vector<std::uint8_t> corrupt(good.begin(), good.begin() + 600);  // pixels cut short
    WriteFileBytes(folder.File("cut.bmp"), corrupt.data(), corrupt.size());
    WriteFileBytes(folder.File("x.xyz"), good.data(), good.size());
    struct Case {
        std::string file;
        std::int32_t fileSize;
    } cases[] = {{folder.File("x.xyz"), -1}, {folder.File("none.bmp"), -1}, {folder.File("cut.bmp"), 600}};
    for (const Case& c : cases) {
        for (bool progressive : {false, true}) {
            Session.Settings.rtresize = progressive;
            TBitmap target(64, 64);
            FillWhite(target);
            PictureInfo info;
            info.Width = 7;
            LoadPicture(target, c.file, info, SessionPrepare());
            EXPECT_EQ(Covered(target).right, -1) << c.file;
            EXPECT_EQ(info.Width, 0);
            EXPECT_EQ(info.Height, 0);
            EXPECT_EQ(info.Format, nullptr);
            EXPECT_EQ(info.FileSize, c.fileSize) << c.file;
        }
    }
}

// ---- Progressive protocol errors ----------------------------------------------------

TEST(PrepareErrors, ALineProtocolErrorReachesTheCallerAndLeavesNothingArmed) {
    ::SetEnvironmentVariableA("QVT_tp_badlines_REFUSED", nullptr);
    TInstallFolder folder;
    folder.AddFastmm();
    folder.Add(TestPluginDll("tp_badlines.dll"));
    Session.Settings.rtresize = true;
    folder.Load();
    const std::uint32_t word = 0;
    WriteFileBytes(folder.File("x.bad"), &word, 4);
    Session.Settings.FitMode = 1;
    Session.Settings.rtresize = true;
    TBitmap target(3, 2);
    PictureInfo info;
    try {
        LoadPicture(target, folder.File("x.bad"), info, SessionPrepare());
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "prevLine=0, curLine=2");
    }
    char value[4];
    EXPECT_GT(::GetEnvironmentVariableA("QVT_tp_badlines_REFUSED", value, sizeof value), 0u);
    EXPECT_EQ(LineCallbackSlot(), nullptr);
    EXPECT_EQ(GetPictureBuffer(16), GetPictureBuffer(16));  // host state still usable
    // Nothing of the failed decode is left armed: the next decode of the
    // same file raises the same error afresh rather than a leftover one.
    const std::uint32_t callsBefore = LineCallsSinceStart();
    try {
        LoadPicture(target, folder.File("x.bad"), info, SessionPrepare());
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "prevLine=0, curLine=2");
    }
    EXPECT_EQ(LineCallsSinceStart() - callsBefore, 3u);  // lines -1, 0 and 2 reached the resize
}

TEST(PrepareErrors, APluginThatFailsHalfwayThroughItsLinesLeavesTheNextOneAFreshStart) {
    TInstallFolder folder;
    folder.AddFastmm();
    folder.Add(TestPluginDll("tp_half.dll"), "a_half.dll");
    folder.Add(ProductDll("imgbmp.dll"));
    Session.Settings.rtresize = true;
    folder.Load();
    ASSERT_EQ(Session.Plugins.Table().size(), 2u);
    Session.Settings.FitMode = 1;
    const auto bytes = MakeBmp24(40, 30, Pattern);
    WriteFileBytes(folder.File("p.bmp"), bytes.data(), bytes.size());
    for (const auto& [w, h] : {std::pair{40, 30}, std::pair{20, 15}}) {  // copied, then resampled
        TBitmap target(w, h);
        PictureInfo info;
        LoadPicture(target, folder.File("p.bmp"), info, SessionPrepare());
        EXPECT_EQ(info.Lines, 2u + 31u);  // two from the failed plug-in
        EXPECT_EQ(info.Delivery, TPictureDelivery::Lines);
        EXPECT_STREQ(info.Format, "Windows bitmap");
        EXPECT_TRUE(RectIs(Covered(target), 0, 0, w - 1, h - 1));
        if (w == 40) {
            EXPECT_EQ(Px(target, 39, 29), Pattern(39, 29));
        }
    }
}

// ---- Threads ------------------------------------------------------------------------

namespace {

struct TThreadDecode {
    std::string path;
    TBitmap* target = nullptr;
    PictureInfo info;
};

DWORD WINAPI DecodeOnItsThread(void* data) {
    auto* job = static_cast<TThreadDecode*>(data);
    LoadPicture(*job->target, job->path, job->info, SessionPrepare());
    return 0;
}

}  // namespace

TEST_F(Prepare, ALineFromAThreadWithoutADecodeIsRefusedAndTheRunningDecodeGoesOn) {
    const std::string file = WriteBmp("big.bmp", 3000, 2000);
    Session.Settings.FitMode = 2;
    Session.Settings.rtresize = false;
    TBitmap whole(300, 200);
    PictureInfo info;
    LoadPicture(whole, file, info, SessionPrepare());
    Session.Settings.rtresize = true;
    // While a decode on another thread takes lines, the slot holds the
    // host's callback; this thread has no decode, so whatever it sends is
    // refused and reaches no resize. On a busy machine the decode may end
    // before this thread looks; then it is tried again.
    for (int attempt = 0; attempt < 5; ++attempt) {
        TBitmap target(300, 200);
        TThreadDecode job{file, &target, {}};
        const std::uint32_t before = LineCallsSinceStart();
        const HANDLE thread = ::CreateThread(nullptr, 0, DecodeOnItsThread, &job, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        TLineCallback slot = nullptr;
        while (!slot && ::WaitForSingleObject(thread, 0) == WAIT_TIMEOUT) {
            if (LineCallsSinceStart() - before >= 20)
                slot = LineCallbackSlot();
            else
                ::Sleep(0);
        }
        std::int32_t announced = -5, line = -5;
        std::vector<std::uint8_t> pixels(3000 * 3, 0xFF);
        if (slot) {
            announced = slot(1, -1, 3000, 2000);
            line = slot(reinterpret_cast<std::intptr_t>(pixels.data()), 20, 3000, 2000);
        }
        ::WaitForSingleObject(thread, INFINITE);
        ::CloseHandle(thread);
        if (!slot) continue;
        EXPECT_EQ(announced, 0);
        EXPECT_EQ(line, 0);
        EXPECT_EQ(job.info.Delivery, TPictureDelivery::Lines);
        EXPECT_EQ(job.info.Lines, 2001u);
        EXPECT_EQ(std::memcmp(whole.Bits, target.Bits, 300 * 200 * 4), 0);
        EXPECT_EQ(LineCallbackSlot(), nullptr);
        return;
    }
    GTEST_SKIP() << "the decode never lasted long enough to be watched";
}

// ---- Resources ----------------------------------------------------------------------

namespace {

SIZE_T PrivateBytes() {
    using TGetInfo = BOOL(WINAPI*)(HANDLE, PROCESS_MEMORY_COUNTERS*, DWORD);
    static const auto get =
        ProcAddress<TGetInfo>(::GetModuleHandleA("kernel32.dll"), "K32GetProcessMemoryInfo");
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (!get ||
        !get(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters))
        return 0;
    // Wine reports the private commit as the page-file usage.
    return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
}

}  // namespace

TEST_F(Prepare, TwoHundredPicturesLeavePrivateBytesAndGdiObjectsFlat) {
    const std::string a = WriteBmp("a.bmp", 640, 480), b = WriteBmp("b.bmp", 123, 77);
    auto run = [&](int count) {
        for (int i = 0; i < count; ++i) {
            Session.Settings.rtresize = i % 3 == 0;
            Session.Settings.FitMode = static_cast<std::uint8_t>(i % 3);
            TBitmap target(320, 200);
            target.EnlargeToFit = i % 2 == 0;
            PictureInfo info;
            LoadPicture(target, i % 2 ? a : b, info, SessionPrepare());
        }
    };
    run(20);  // heaps and GDI caches reach their working size
    const SIZE_T bytesBefore = PrivateBytes();
    const DWORD gdiBefore = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
    run(200);
    const SIZE_T bytesAfter = PrivateBytes();
    const DWORD gdiAfter = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
    EXPECT_EQ(gdiAfter, gdiBefore);
    ASSERT_NE(bytesBefore, 0u);
    // One 640 x 480 picture is 1.2 MB; leaking even one per run would show.
    EXPECT_LT(bytesAfter, bytesBefore + 1024 * 1024) << bytesBefore << " -> " << bytesAfter;
}
