#include <windows.h>

#include <wincodec.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "imaging/exif.h"
#include "imaging/prepare_win32.h"
#include "tests/win32/plugin_fixture.h"
#include "base/com_win32.h"
#include "base/text.h"
#include "tests/win32/test_session.h"

namespace {
// The process's session, which the tests below set up and hand on.
TSession& Session = TestSession();
}  // namespace

namespace {

const GUID kJpeg = {0x19e4a5aa, 0x5662, 0x4fc5, {0xa0, 0xc0, 0x17, 0x58, 0x02, 0x8e, 0x10, 0x57}};
const GUID kTiff = {0x163bcc30, 0xe2e9, 0x4f0b, {0x96, 0x1d, 0xa3, 0xe9, 0xfd, 0xb7, 0x88, 0xa3}};
const GUID kPng = {0x1b7cfaf4, 0x713f, 0x473c, {0xbb, 0xcd, 0x61, 0x37, 0x42, 0x5f, 0xae, 0xaf}};
const GUID kBgr24 = {0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x0c}};

using Pixels = std::vector<std::uint32_t>;  // 0xRRGGBB, row by row

// Encodes `pixels` (w x h) with one of WIC's encoders, as a fixture made
// by the test itself.
void Encode(const std::string& path, const GUID& container, const Pixels& pixels, UINT w, UINT h) {
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IWICImagingFactory* factory = nullptr;
    ASSERT_HRESULT_SUCCEEDED(::CoCreateInstance(kWicFactory, nullptr, CLSCTX_INPROC_SERVER,
                                                __uuidof(IWICImagingFactory),
                                                reinterpret_cast<void**>(&factory)));
    IWICStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    IPropertyBag2* props = nullptr;
    std::wstring wide(path.begin(), path.end());
    std::vector<BYTE> bgr(static_cast<std::size_t>(w) * h * 3);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        bgr[i * 3] = pixels[i] & 0xFF;
        bgr[i * 3 + 1] = (pixels[i] >> 8) & 0xFF;
        bgr[i * 3 + 2] = (pixels[i] >> 16) & 0xFF;
    }
    WICPixelFormatGUID format = kBgr24;
    EXPECT_HRESULT_SUCCEEDED(factory->CreateStream(&stream));
    EXPECT_HRESULT_SUCCEEDED(stream->InitializeFromFilename(wide.c_str(), GENERIC_WRITE));
    EXPECT_HRESULT_SUCCEEDED(factory->CreateEncoder(container, nullptr, &encoder));
    EXPECT_HRESULT_SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache));
    EXPECT_HRESULT_SUCCEEDED(encoder->CreateNewFrame(&frame, &props));
    EXPECT_HRESULT_SUCCEEDED(frame->Initialize(props));
    EXPECT_HRESULT_SUCCEEDED(frame->SetSize(w, h));
    EXPECT_HRESULT_SUCCEEDED(frame->SetPixelFormat(&format));
    EXPECT_TRUE(format == kBgr24);
    EXPECT_HRESULT_SUCCEEDED(frame->WritePixels(h, w * 3, static_cast<UINT>(bgr.size()), bgr.data()));
    EXPECT_HRESULT_SUCCEEDED(frame->Commit());
    EXPECT_HRESULT_SUCCEEDED(encoder->Commit());
    props->Release();
    frame->Release();
    encoder->Release();
    stream->Release();
    factory->Release();
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    HANDLE f = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return bytes;
    bytes.resize(::GetFileSize(f, nullptr));
    DWORD read = 0;
    ::ReadFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    ::CloseHandle(f);
    return bytes;
}

// Puts an APP1 Exif segment with the given orientation right after SOI.
void AddExifOrientation(const std::string& path, std::uint16_t orientation) {
    std::vector<std::uint8_t> jpeg = ReadBytes(path);
    ASSERT_GT(jpeg.size(), 2u);
    const std::uint8_t tiff[] = {'M',  'M',  0, 42, 0, 0, 0, 8, 0, 1,
                                 0x01, 0x12, 0, 3,  0, 0, 0, 1, 0, static_cast<std::uint8_t>(orientation),
                                 0,    0,    0, 0,  0, 0};
    std::vector<std::uint8_t> segment = {
        0xFF, 0xE1, 0, static_cast<std::uint8_t>(2 + 6 + sizeof tiff), 'E', 'x', 'i', 'f', 0, 0};
    segment.insert(segment.end(), tiff, tiff + sizeof tiff);
    jpeg.insert(jpeg.begin() + 2, segment.begin(), segment.end());
    WriteFileBytes(path, jpeg.data(), jpeg.size());
}

// Upright 64 x 48 test picture: four flat quadrants, far apart in colour so
// that JPEG's loss cannot confuse them.
constexpr int kW = 64, kH = 48;
const std::uint32_t kQuadrants[4] = {0xE02020, 0x20E020, 0x2020E0, 0xE0E020};
std::uint32_t Upright(int x, int y) {
    return kQuadrants[(y >= kH / 2 ? 2 : 0) + (x >= kW / 2 ? 1 : 0)];
}

bool Near(std::uint32_t a, std::uint32_t b) {
    for (int shift : {0, 8, 16})
        if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > 40)
            return false;
    return true;
}

std::uint32_t Px(const TBitmap& b, int x, int y) {
    std::uint32_t v;
    std::memcpy(&v, b.Bits + (static_cast<std::size_t>(y) * b.Width + x) * 4, 4);
    return v & 0xFFFFFF;
}

// An uncompressed 24-bit RGB TIFF of w x h pixels, one row per strip, as
// the format defines it. Rows from `firstLost` on have strip offsets past
// the end of the file: a decoder that reads strips as they are asked for
// fails there, part-way through the picture, while the headers and the
// rows above are sound.
std::vector<std::uint8_t> TiffWithLostStrips(int w, int h, int firstLost, std::uint32_t color) {
    std::vector<std::uint8_t> b;
    auto u16 = [&](std::uint32_t v) {
        b.push_back(static_cast<std::uint8_t>(v));
        b.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    auto u32 = [&](std::uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    const std::uint32_t rowBytes = static_cast<std::uint32_t>(w) * 3;
    const int kTags = 10;
    const std::uint32_t ifd = 8, ifdEnd = ifd + 2 + kTags * 12 + 4;
    const std::uint32_t bitsAt = ifdEnd, offsetsAt = bitsAt + 6, countsAt = offsetsAt + 4 * h,
                        pixelsAt = countsAt + 4 * h;
    b.insert(b.end(), {'I', 'I'});
    u16(42);
    u32(ifd);
    u16(kTags);
    auto tag = [&](std::uint32_t id, std::uint32_t type, std::uint32_t count, std::uint32_t value) {
        u16(id);
        u16(type);
        u32(count);
        u32(value);  // a SHORT value sits in the low half, little-endian
    };
    tag(256, 3, 1, static_cast<std::uint32_t>(w));  // ImageWidth
    tag(257, 3, 1, static_cast<std::uint32_t>(h));  // ImageLength
    tag(258, 3, 3, bitsAt);                         // BitsPerSample 8, 8, 8
    tag(259, 3, 1, 1);                              // no compression
    tag(262, 3, 1, 2);                              // RGB
    tag(273, 4, static_cast<std::uint32_t>(h), offsetsAt);
    tag(277, 3, 1, 3);  // SamplesPerPixel
    tag(278, 3, 1, 1);  // RowsPerStrip
    tag(279, 4, static_cast<std::uint32_t>(h), countsAt);
    tag(284, 3, 1, 1);  // chunky
    u32(0);             // no next IFD
    u16(8);
    u16(8);
    u16(8);
    for (int y = 0; y < h; ++y) u32(y < firstLost ? pixelsAt + rowBytes * y : 0x7FFF0000u + rowBytes * y);
    for (int y = 0; y < h; ++y) u32(rowBytes);
    for (int i = 0; i < w * firstLost; ++i) {
        b.push_back(static_cast<std::uint8_t>(color >> 16));
        b.push_back(static_cast<std::uint8_t>(color >> 8));
        b.push_back(static_cast<std::uint8_t>(color));
    }
    return b;
}

class WicPlugin : public ::testing::Test {
protected:
    void SetUp() override {
        folder.AddFastmm();
        folder.Add(ProductDll("imgwic.dll"));
        Session.Settings.rtresize = true;  // plug-ins receive the line-callback slot only with it on
        folder.Load();
        Session.Settings.FitMode = 1;
        Session.Settings.rtresize = false;
    }
    TInstallFolder folder;
};

}  // namespace

TEST_F(WicPlugin, DeclaresTheInstalledDecodersExtensionsLowerCaseWithTheDot) {
    ASSERT_EQ(Session.Plugins.Table().size(), 1u);
    const PluginInfo& info = Session.Plugins.Table()[0].Info;
    ASSERT_GT(info.FormatCount, 0);
    for (const char* ext : {".jpg", ".jpeg", ".png", ".gif", ".tif", ".tiff", ".ico", ".bmp"})
        EXPECT_NE(std::find(Session.Plugins.Extensions().begin(), Session.Plugins.Extensions().end(), ext), Session.Plugins.Extensions().end()) << ext;
    for (std::int32_t j = 0; j < info.FormatCount; ++j) {
        const std::string ext = info.Extensions[j];
        EXPECT_EQ(ext[0], '.');
        EXPECT_EQ(ext, LowerAscii(ext));
        EXPECT_GT(std::strlen(info.Descriptions[j]), 0u) << ext;
        EXPECT_NE(info.Decoders[j], nullptr);
    }
}

TEST_F(WicPlugin, LosslessPictureArrivesPixelForPixelOnBothPaths) {
    Pixels pixels(static_cast<std::size_t>(kW) * kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            pixels[y * kW + x] = static_cast<std::uint32_t>(x * 4 << 16 | y * 5 << 8 | (x ^ y));
    for (const auto& [name, container] : {std::pair{"p.png", kPng}, std::pair{"t.tif", kTiff}}) {
        const std::string file = folder.File(name);
        Encode(file, container, pixels, kW, kH);
        for (bool progressive : {false, true}) {
            Session.Settings.rtresize = progressive;
            TBitmap target(kW, kH);
            PictureInfo info;
            LoadPicture(target, file, info, SessionPrepare());
            EXPECT_EQ(info.Width, kW);
            EXPECT_EQ(info.Height, kH);
            ASSERT_NE(info.Format, nullptr);
            EXPECT_EQ(info.FileSize, static_cast<std::int32_t>(ReadBytes(file).size()));
            int wrong = 0;
            for (int y = 0; y < kH; ++y)
                for (int x = 0; x < kW; ++x) wrong += Px(target, x, y) != pixels[y * kW + x];
            EXPECT_EQ(wrong, 0) << name << " progressive " << progressive;
        }
    }
}

TEST_F(WicPlugin, AnimatedGifShowsItsFirstFrame) {
    // Two 4 x 4 frames, red then blue.
    const std::uint8_t gif[] = {
        0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x04, 0x00, 0x04, 0x00, 0xf0, 0x00, 0x00, 0xff, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x21, 0xf9, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x21, 0xff, 0x0b, 0x4e, 0x45,
        0x54, 0x53, 0x43, 0x41, 0x50, 0x45, 0x32, 0x2e, 0x30, 0x03, 0x01, 0x00, 0x00, 0x00, 0x2c, 0x00,
        0x00, 0x00, 0x00, 0x04, 0x00, 0x04, 0x00, 0x00, 0x02, 0x04, 0x84, 0x8f, 0x09, 0x05, 0x00, 0x21,
        0xf9, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2c, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x04, 0x00,
        0x80, 0x00, 0x00, 0xff, 0x00, 0x00, 0x00, 0x02, 0x04, 0x84, 0x8f, 0x09, 0x05, 0x00, 0x3b};
    WriteFileBytes(folder.File("a.gif"), gif, sizeof gif);
    for (bool progressive : {false, true}) {
        Session.Settings.rtresize = progressive;
        TBitmap target(4, 4);
        PictureInfo info;
        LoadPicture(target, folder.File("a.gif"), info, SessionPrepare());
        EXPECT_EQ(info.Width, 4);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) EXPECT_EQ(Px(target, x, y), 0xFF0000u) << progressive;
    }
}

TEST_F(WicPlugin, EveryExifOrientationShowsUprightOnBothPaths) {
    for (std::uint16_t orientation = 1; orientation <= 8; ++orientation) {
        // The stored picture is the upright one turned back: find, for each
        // stored pixel, where the orientation puts it.
        const bool swap = orientation >= 5;
        const int sw = swap ? kH : kW, sh = swap ? kW : kH;
        Pixels index(static_cast<std::size_t>(sw) * sh), placed(index.size()), stored(index.size());
        for (std::size_t i = 0; i < index.size(); ++i) index[i] = static_cast<std::uint32_t>(i);
        OrientPixels(index.data(), sw, sh, orientation, placed.data());
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) stored[placed[y * kW + x]] = Upright(x, y);
        const std::string file = folder.File("o" + std::to_string(orientation) + ".jpg");
        Encode(file, kJpeg, stored, sw, sh);
        AddExifOrientation(file, orientation);

        for (bool progressive : {false, true}) {
            Session.Settings.rtresize = progressive;
            TBitmap target(kW, kH);
            PictureInfo info;
            LoadPicture(target, file, info, SessionPrepare());
            EXPECT_EQ(info.Lines, progressive ? static_cast<std::uint32_t>(sh + 1) : 0u);
            EXPECT_EQ(info.Delivery, progressive ? TPictureDelivery::Lines : TPictureDelivery::Whole);
            EXPECT_EQ(info.Width, kW) << orientation;
            EXPECT_EQ(info.Height, kH) << orientation;
            for (int q = 0; q < 4; ++q) {
                const int x = (q & 1) ? kW * 3 / 4 : kW / 4, y = (q & 2) ? kH * 3 / 4 : kH / 4;
                EXPECT_TRUE(Near(Px(target, x, y), kQuadrants[q]))
                    << "orientation " << orientation << " progressive " << progressive << " quadrant " << q
                    << " got " << std::hex << Px(target, x, y);
            }
        }
    }
}

TEST_F(WicPlugin, CorruptJpegLeavesTheTargetBlack) {
    Pixels pixels(static_cast<std::size_t>(kW) * kH, 0x808080);
    const std::string file = folder.File("bad.jpg");
    Encode(file, kJpeg, pixels, kW, kH);
    std::vector<std::uint8_t> bytes = ReadBytes(file);
    bytes.resize(40);  // headers cut before the image data
    WriteFileBytes(file, bytes.data(), bytes.size());
    for (bool progressive : {false, true}) {
        Session.Settings.rtresize = progressive;
        TBitmap target(kW, kH);
        std::memset(target.Bits, 0xFF, kW * kH * 4);
        PictureInfo info;
        LoadPicture(target, file, info, SessionPrepare());
        EXPECT_EQ(info.Width, 0);
        EXPECT_EQ(info.Format, nullptr);
        EXPECT_EQ(info.FileSize, 40);
        bool black = true;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) black = black && Px(target, x, y) == 0;
        EXPECT_TRUE(black);
    }
}

TEST_F(WicPlugin, LargeJpegShrinksThroughTheResamplerOnBothPaths) {
    Pixels pixels(static_cast<std::size_t>(800) * 600);
    for (int y = 0; y < 600; ++y)
        for (int x = 0; x < 800; ++x) pixels[y * 800 + x] = x < 400 ? 0xC03030 : 0x3030C0;
    const std::string file = folder.File("big.jpg");
    Encode(file, kJpeg, pixels, 800, 600);
    for (bool progressive : {false, true}) {
        Session.Settings.rtresize = progressive;
        Session.Settings.FitMode = 2;
        TBitmap target(200, 160);
        PictureInfo info;
        LoadPicture(target, file, info, SessionPrepare());
        EXPECT_EQ(info.Lines, progressive ? 601u : 0u);
        EXPECT_EQ(info.Width, 800);
        // 800 x 600 into 200 x 160: 200 x 150 at top 5.
        EXPECT_EQ(Px(target, 100, 4), 0u);
        EXPECT_TRUE(Near(Px(target, 50, 5), 0xC03030)) << std::hex << Px(target, 50, 5);
        EXPECT_TRUE(Near(Px(target, 150, 154), 0x3030C0));
        EXPECT_EQ(Px(target, 100, 155), 0u);
    }
}

// ---- A read error part-way -----------------------------------------------------------

TEST_F(WicPlugin, ARowThatCannotBeReadPartWayFailsTheProgressiveDecode) {
    // 16 x 16 into a 16 x 16 target: the lines go straight in. Rows 0 to 7
    // are readable, row 8's strip lies past the end of the file.
    const auto tiff = TiffWithLostStrips(16, 16, 8, 0xC03030);
    const std::string file = folder.File("lost.tif");
    WriteFileBytes(file, tiff.data(), tiff.size());
    for (bool progressive : {true, false}) {
        Session.Settings.rtresize = progressive;
        TBitmap target(16, 16);
        std::memset(target.Bits, 0xFF, 16 * 16 * 4);
        PictureInfo info;
        LoadPicture(target, file, info, SessionPrepare());
        // Line -1 and the eight sound rows reached the host before the error.
        EXPECT_EQ(info.Lines, progressive ? 9u : 0u);
        EXPECT_EQ(info.Delivery, TPictureDelivery::None);
        EXPECT_EQ(info.Width, 0) << "progressive " << progressive;
        EXPECT_EQ(info.Format, nullptr);
        int lit = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) lit += Px(target, x, y) != 0;
        EXPECT_EQ(lit, 0) << "the upper half of a failed picture stays off the screen";
    }
}

TEST(WicPluginFallback, APluginAfterTheOneThatFailedPartWayDecodesThePicture) {
    TInstallFolder folder;
    folder.AddFastmm();
    folder.Add(ProductDll("imgwic.dll"));
    folder.Add(TestPluginDll("tp_tif.dll"), "z_tif.dll");  // sorts after imgwic.dll, claims .tif
    Session.Settings.rtresize = true;
    folder.Load();
    Session.Settings.FitMode = 1;
    const auto tiff = TiffWithLostStrips(16, 16, 8, 0xC03030);
    const std::string file = folder.File("lost.tif");
    WriteFileBytes(file, tiff.data(), tiff.size());
    // The size of the picture: imgwic accepts the line protocol and fails at row 8.
    TBitmap target(16, 16);
    PictureInfo info;
    LoadPicture(target, file, info, SessionPrepare());
    EXPECT_EQ(info.Lines, 9u);
    EXPECT_EQ(info.Delivery, TPictureDelivery::Whole);  // tp_tif hands over a buffer
    EXPECT_STREQ(info.Format, "tp_tif picture");
    EXPECT_EQ(info.Width, 3);
    // tp_tif's 3 x 2 green picture, centred; the rows imgwic had delivered are gone.
    EXPECT_EQ(Px(target, 7, 7), 0x00FF00u);
    EXPECT_EQ(Px(target, 0, 0), 0u);
    EXPECT_EQ(Px(target, 8, 3), 0u);
}

// ---- A cancel -------------------------------------------------------------------------

// The user ends a Preview from the dialog at once, its loader inside the
// decode of a 5120 x 2880 PNG, and clicks a picture: the picture pane
// decodes on the dialog's thread and waits for the process's decode turn.
// The cancelled decode gives the turn back within a small part of the time
// the big picture takes to decode, and the clicked picture shows.
TEST_F(WicPlugin, ACancelledDecodeOfALargePngFreesTheDecoderForThePaneAtOnce) {
    constexpr UINT kBigW = 5120, kBigH = 2880;
    const std::string big = folder.File("big.png"), clicked = folder.File("clicked.png");
    {
        Pixels pixels(static_cast<std::size_t>(kBigW) * kBigH);
        for (UINT y = 0; y < kBigH; ++y)
            for (UINT x = 0; x < kBigW; ++x) pixels[y * kBigW + x] = (x * 2654435761u ^ y * 40503u) & 0xFFFFFF;
        Encode(big, kPng, pixels, kBigW, kBigH);
    }
    Encode(clicked, kPng, Pixels(static_cast<std::size_t>(kW) * kH, 0x20E020), kW, kH);
    SetDecodeCancel(nullptr);  // this thread is the dialog's: no cancel flag
    for (bool progressive : {true, false}) {
        Session.Settings.rtresize = progressive;
        Session.Settings.FitMode = 2;
        // One whole decode of the big picture, for scale.
        TBitmap loaderTarget(960, 540);
        PictureInfo info;
        DWORD start = ::GetTickCount();
        LoadPicture(loaderTarget, big, info, SessionPrepare());
        const DWORD wholeMs = ::GetTickCount() - start;
        ASSERT_EQ(info.Width, static_cast<std::int32_t>(kBigW));

        std::atomic<bool> cancel{false};
        std::atomic<bool> began{false};
        std::int32_t loaderWidth = -1;
        std::thread loader([&] {
            SetDecodeCancel(&cancel);
            PictureInfo loaded;
            began = true;
            LoadPicture(loaderTarget, big, loaded, SessionPrepare());
            loaderWidth = loaded.Width;
            SetDecodeCancel(nullptr);
        });
        while (!began) ::Sleep(1);
        ::Sleep(std::min<DWORD>(100, wholeMs / 10));
        cancel = true;
        start = ::GetTickCount();
        TBitmap pane(kW, kH);
        PictureInfo shown;
        LoadPicture(pane, clicked, shown, SessionPrepare());
        const DWORD paneMs = ::GetTickCount() - start;
        loader.join();
        std::printf("progressive %d: whole decode %lu ms, pane after the cancel %lu ms\n", progressive,
                    static_cast<unsigned long>(wholeMs), static_cast<unsigned long>(paneMs));
        EXPECT_EQ(loaderWidth, 0) << "the cancelled decode delivered";
        EXPECT_EQ(shown.Width, kW) << "the pane gave up waiting";
        EXPECT_TRUE(Near(Px(pane, kW / 2, kH / 2), 0x20E020));
        EXPECT_LT(paneMs, wholeMs / 3 + 100) << "progressive " << progressive;
    }
}
