#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/handles_win32.h"
#include "base/system_win32.h"
#include "diag/crash_report_win32.h"
#include "diag/fault_guard_win32.h"
#include "imaging/extension.h"
#include "imaging/plugins_win32.h"
#include "imaging/prepare_win32.h"
#include "tests/win32/plugin_fixture.h"
#include "tests/win32/test_session.h"

namespace {
// The process's session, which the tests below set up and hand on.
TSession& Session = TestSession();
}  // namespace

namespace {

bool EnvSet(const std::string& name) {
    char value[8];
    return ::GetEnvironmentVariableA(name.c_str(), value, sizeof value) > 0;
}
void EnvClear(const std::string& name) {
    ::SetEnvironmentVariableA(name.c_str(), nullptr);
}

struct TDecoded {
    bool ok = false;
    std::unique_ptr<TBitmap> picture;
    const char* format = nullptr;
    std::int32_t fileSize = 0, naturalWidth = -5, naturalHeight = -5;
    std::uint32_t First() const {
        std::uint32_t v = 0;
        if (picture && picture->Bits) std::memcpy(&v, picture->Bits, 4);
        return v & 0xFFFFFF;
    }
};

TDecoded Decode(const std::string& file, int w = 64, int h = 48) {
    TDecodeResult result = Session.Plugins.Decode(file, {w, h});
    TDecoded d;
    d.ok = result.Delivery != TPictureDelivery::None;
    if (d.ok) {
        EXPECT_EQ(result.Delivery, TPictureDelivery::Whole) << "no resize was offered";
    }
    d.picture = std::move(result.Picture);
    d.format = result.Format;
    d.fileSize = result.FileSize;
    d.naturalWidth = result.NaturalWidth;
    d.naturalHeight = result.NaturalHeight;
    return d;
}

void WriteSmallFile(const std::string& path, std::uint32_t firstWord = 0x00123456) {
    WriteFileBytes(path, &firstWord, 4);
}

// The accepted libraries' names in table order.
std::vector<std::string> TableNames() {
    std::vector<std::string> names;
    for (const PluginEntry& entry : Session.Plugins.Table()) names.push_back(entry.FileName);
    return names;
}

}  // namespace

// ---- Discovery ----------------------------------------------------------------------

TEST(PluginDiscovery, FolderWithoutLibrariesGivesAnEmptyTableAndNoDecoding) {
    TInstallFolder folder;
    WriteSmallFile(folder.File("a.bmp"));
    folder.Load();
    EXPECT_TRUE(Session.Plugins.Table().empty());
    EXPECT_TRUE(Session.Plugins.Extensions().empty());
    ASSERT_EQ(folder.Messages.size(), 1u);
    EXPECT_EQ(folder.Messages[0], "Quorvane: Can't load \"fastmm.dll\". Please reinstall Quorvane.");
    const TDecoded d = Decode(folder.File("a.bmp"));
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.fileSize, -1);
    EXPECT_EQ(d.naturalWidth, 0);
}

TEST(PluginDiscovery, WithoutFastmmPicturesStillDecodeFromTheProcessHeap) {
    TInstallFolder folder;
    folder.Add(ProductDll("imgbmp.dll"));
    folder.Load();
    ASSERT_EQ(folder.Messages.size(), 1u);  // the user is still told to reinstall
    ASSERT_EQ(Session.Plugins.Table().size(), 1u);
    const auto bmp = MakeBmp24(3, 3, [](int x, int y) { return static_cast<std::uint32_t>(0x100 * x + y); });
    WriteFileBytes(folder.File("p.bmp"), bmp.data(), bmp.size());
    const TDecoded d = Decode(folder.File("p.bmp"));
    ASSERT_TRUE(d.ok);
    std::uint32_t px;
    std::memcpy(&px, d.picture->Bits + (1 * 3 + 2) * 4, 4);
    EXPECT_EQ(px & 0xFFFFFF, 0x201u);
    EXPECT_EQ(Session.Plugins.SharedMemory().FreeMem(nullptr), -1);
}

TEST(PluginDiscovery, FastmmFoundByTheScanIsReleasedButStaysLoadedUntilUnload) {
    TInstallFolder folder;
    folder.AddFastmm();
    folder.Load();
    EXPECT_TRUE(folder.Messages.empty());
    EXPECT_TRUE(Session.Plugins.Table().empty());
    EXPECT_TRUE(folder.IsLoaded("fastmm.dll"));  // held by the memory-manager load
    Session.Plugins.Unload();
    EXPECT_FALSE(folder.IsLoaded("fastmm.dll"));  // the scan's own reference was given back
}

TEST(PluginDiscovery, VersionLimitAndMissingEntryPoint) {
    TInstallFolder folder;
    folder.AddFastmm();
    folder.Add(TestPluginDll("tp_v66304.dll"));
    folder.Add(TestPluginDll("tp_v66305.dll"));
    folder.Add(TestPluginDll("tp_nogetin.dll"));
    folder.Load();
    ASSERT_EQ(Session.Plugins.Table().size(), 1u);
    EXPECT_EQ(Session.Plugins.Table()[0].FileName, "tp_v66304.dll");
    EXPECT_EQ(Session.Plugins.Table()[0].Info.Version, 66304u);
    EXPECT_TRUE(Session.Plugins.Table()[0].Enabled);
    EXPECT_EQ(Session.Plugins.Table()[0].Module, ::GetModuleHandleA(folder.File("tp_v66304.dll").c_str()));
    EXPECT_EQ(Session.Plugins.ModuleCount(), 1u);
    EXPECT_FALSE(folder.IsLoaded("tp_v66305.dll"));
    EXPECT_FALSE(folder.IsLoaded("tp_nogetin.dll"));
    EXPECT_EQ(Session.Plugins.Extensions(), std::vector<std::string>{".aaa"});
}

TEST(PluginDiscovery, LibrariesLoadInTheCatalogueOrderOfTheirNamesAndOnlyNamesEndingInDll) {
    TInstallFolder folder;
    folder.AddFastmm();
    // "B" sorts before "a" byte for byte, after it in the catalogue's order.
    folder.Add(TestPluginDll("tp_green.dll"), "B_green.dll");
    folder.Add(TestPluginDll("tp_red.dll"), "a_red.dll");
    folder.Add(TestPluginDll("tp_record.dll"), "c_record.DLL");
    folder.Add(TestPluginDll("tp_v66304.dll"), "d_aaa.dll.off");
    folder.Load();
    EXPECT_EQ(TableNames(), (std::vector<std::string>{"a_red.dll", "B_green.dll", "c_record.DLL"}));
    EXPECT_EQ(Session.Plugins.Extensions(), (std::vector<std::string>{".bmp", ".rec"}));
    WriteSmallFile(folder.File("x.bmp"));
    EXPECT_EQ(Decode(folder.File("x.bmp")).First(), 0xFF0000u);
}

TEST(PluginDiscovery, HostServicesAreOfferedAndTheShutdownNoticeSent) {
    EnvClear("QVT_tp_red_NOTIFIED");
    EnvClear("QVT_tp_red_SHUTDOWN");
    TInstallFolder folder;
    folder.AddFastmm();
    folder.Add(TestPluginDll("tp_red.dll"));
    folder.Load();
    EXPECT_TRUE(EnvSet("QVT_tp_red_NOTIFIED"));
    EXPECT_FALSE(EnvSet("QVT_tp_red_SHUTDOWN"));
    Session.Plugins.Unload();
    EXPECT_TRUE(EnvSet("QVT_tp_red_SHUTDOWN"));
    EXPECT_TRUE(Session.Plugins.Table().empty());
    EXPECT_TRUE(Session.Plugins.Extensions().empty());
    EXPECT_FALSE(folder.IsLoaded("tp_red.dll"));
}

TEST(PluginDiscovery, APluginFreeingSharedBlocksInItsNoticeAndAtDetachStillFindsTheMemoryManager) {
    const char* const marks[] = {"ALLOCATED", "FREED_IN_NOTICE", "FREED_AT_DETACH", "MANAGER_GONE_IN_NOTICE",
                                 "MANAGER_GONE_AT_DETACH"};
    for (const char* mark : marks) EnvClear(std::string("QVT_tp_freeatexit_") + mark);
    TInstallFolder folder;
    folder.AddFastmm();
    folder.Add(TestPluginDll("tp_freeatexit.dll"));
    folder.Load();
    ASSERT_EQ(TableNames(), std::vector<std::string>{"tp_freeatexit.dll"});
    ASSERT_TRUE(EnvSet("QVT_tp_freeatexit_ALLOCATED"));  // two blocks from fastmm.dll
    Session.Plugins.Unload();
    EXPECT_FALSE(EnvSet("QVT_tp_freeatexit_MANAGER_GONE_IN_NOTICE"));
    EXPECT_FALSE(EnvSet("QVT_tp_freeatexit_MANAGER_GONE_AT_DETACH"));
    EXPECT_TRUE(EnvSet("QVT_tp_freeatexit_FREED_IN_NOTICE"));
    EXPECT_TRUE(EnvSet("QVT_tp_freeatexit_FREED_AT_DETACH"));
    // Both are gone in the end, the memory manager last.
    EXPECT_FALSE(folder.IsLoaded("tp_freeatexit.dll"));
    EXPECT_FALSE(folder.IsLoaded("fastmm.dll"));
    EXPECT_EQ(Session.Plugins.SharedMemory().FreeMem, nullptr);
}

TEST(PluginDiscovery, APluginThatRefusesTheHostEndsStartUpWithItsMessage) {
    TInstallFolder folder;
    folder.AddFastmm();
    folder.Add(TestPluginDll("tp_old.dll"));
    // The message box is the last thing before the process ends; answering
    // it with an exception keeps this test process alive.
    struct TStop {};
    std::string shown;
    SetMessageBoxResponder([&](const std::string& text, const std::string&, UINT) -> int {
        shown = text;
        throw TStop{};
    });
    EXPECT_THROW(LoadSessionPlugins(), TStop);
    EXPECT_EQ(shown, "tp_old plugin is too old. Please download new version");
}

TEST(PluginDiscovery, RegisterConventionHoldsThroughTheServicesRecord) {
    TInstallFolder folder;
    folder.AddFastmm();
    folder.Add(TestPluginDll("tp_regs.dll"));
    folder.Load();
    ASSERT_EQ(Session.Plugins.Table().size(), 1u);
    using TResult = int (*)();
    const auto result = ProcAddress<TResult>(Session.Plugins.Table()[0].Module, "TestRegisterResult");
    ASSERT_NE(result, nullptr);
    // get, grow keeping contents, free(null) = -1, realloc to 0 frees, realloc of null allocates
    EXPECT_EQ(result(), 0x1F);
}

// ---- Libraries that cannot be loaded ------------------------------------------------
// Each is skipped without a word to the user; the libraries after it in path
// order still load and decode.

TEST(PluginUnloadable, FilesThatAreNoLibrariesAreSkipped) {
    TInstallFolder folder;
    folder.AddFastmm();
    folder.Add(TestPluginDll("tp_red.dll"), "a_red.dll");
    WriteSmallFile(folder.File("b_garbage.dll"));
    // A real library cut short: the headers are there, the sections are not.
    std::vector<std::uint8_t> head(1024);
    {
        HANDLE f = ::CreateFileA(TestPluginDll("tp_green.dll").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(f, INVALID_HANDLE_VALUE);
        DWORD got = 0;
        ::ReadFile(f, head.data(), static_cast<DWORD>(head.size()), &got, nullptr);
        ::CloseHandle(f);
        ASSERT_EQ(got, head.size());
    }
    WriteFileBytes(folder.File("b_truncated.dll"), head.data(), head.size());
    ASSERT_EQ(PeMachine(folder.File("b_truncated.dll")), kOwnMachine);
    folder.Add(TestPluginDll("tp_green.dll"), "c_green.dll");
    const UINT errorMode = ::SetErrorMode(0);  // no bit set, so a quieted mode left behind shows

    ASSERT_NO_THROW(folder.Load());
    EXPECT_EQ(::SetErrorMode(errorMode), 0u);  // quieted for the loads only
    EXPECT_TRUE(folder.Messages.empty());
    EXPECT_EQ(TableNames(), (std::vector<std::string>{"a_red.dll", "c_green.dll"}));
    EXPECT_EQ(Session.Plugins.ModuleCount(), 2u);
    EXPECT_FALSE(folder.IsLoaded("b_garbage.dll"));
    EXPECT_FALSE(folder.IsLoaded("b_truncated.dll"));
    EXPECT_TRUE(folder.IsLoaded("c_green.dll"));
    WriteSmallFile(folder.File("x.bmp"));
    EXPECT_EQ(Decode(folder.File("x.bmp")).First(), 0xFF0000u);
}

TEST(PluginUnloadable, APluginOfTheOtherWidthIsSkippedAndThoseBesideItLoad) {
    const std::string other = OtherWidthDll("tp_otherwidth.dll");
    ASSERT_NE(PeMachine(other), 0) << other;
    ASSERT_NE(PeMachine(other), kOwnMachine);
    ASSERT_EQ(PeMachine(TestPluginDll("tp_red.dll")), kOwnMachine);
    EnvClear("QVT_tp_green_NOTIFIED");
    TInstallFolder folder;
    folder.AddFastmm();
    // The other-width plug-in sorts first, claims .bmp too, and would decode
    // blue if it ever ran.
    folder.Add(other, "a_other.dll");
    folder.Add(TestPluginDll("tp_green.dll"), "b_green.dll");
    folder.Add(TestPluginDll("tp_record.dll"), "c_record.dll");

    ASSERT_NO_THROW(folder.Load());
    EXPECT_TRUE(folder.Messages.empty());
    EXPECT_EQ(TableNames(), (std::vector<std::string>{"b_green.dll", "c_record.dll"}));
    EXPECT_FALSE(folder.IsLoaded("a_other.dll"));
    EXPECT_TRUE(EnvSet("QVT_tp_green_NOTIFIED"));
    EXPECT_EQ(Session.Plugins.Extensions(), (std::vector<std::string>{".bmp", ".rec"}));
    WriteSmallFile(folder.File("x.bmp"));
    const TDecoded d = Decode(folder.File("x.bmp"));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.First(), 0x00FF00u);
}

TEST(PluginUnloadable, APluginWhoseDependencyIsMissingIsSkippedAndLoadsOnceItIsThere) {
    {
        TInstallFolder folder;
        folder.AddFastmm();
        folder.Add(TestPluginDll("tp_needsdep.dll"), "a_needsdep.dll");
        folder.Add(TestPluginDll("tp_green.dll"), "b_green.dll");
        ASSERT_NO_THROW(folder.Load());
        EXPECT_TRUE(folder.Messages.empty());
        EXPECT_EQ(TableNames(), std::vector<std::string>{"b_green.dll"});
        EXPECT_FALSE(folder.IsLoaded("a_needsdep.dll"));
    }
    // The dependency beside it is all the plug-in lacked (and, having no
    // GetInModule, is itself no plug-in).
    TInstallFolder folder;
    folder.AddFastmm();
    folder.Add(TestPluginDll("tp_needsdep.dll"), "a_needsdep.dll");
    folder.Add(TestPluginDll("dep\\qvt_dep.dll"));
    folder.Load();
    EXPECT_EQ(TableNames(), std::vector<std::string>{"a_needsdep.dll"});
}

TEST(PluginUnloadable, AFastmmOfTheOtherWidthFallsBackToTheHeapLikeAMissingOne) {
    const std::string other = OtherWidthDll("fastmm.dll");
    ASSERT_NE(PeMachine(other), 0) << other;
    ASSERT_NE(PeMachine(other), kOwnMachine);
    TInstallFolder folder;
    folder.Add(other);
    folder.Add(TestPluginDll("tp_regs.dll"));

    ASSERT_NO_THROW(folder.Load());
    ASSERT_EQ(folder.Messages.size(), 1u);  // once, from the memory-manager load; the scan is silent
    EXPECT_EQ(folder.Messages[0], "Quorvane: Can't load \"fastmm.dll\". Please reinstall Quorvane.");
    EXPECT_FALSE(folder.IsLoaded("fastmm.dll"));
    ASSERT_EQ(TableNames(), std::vector<std::string>{"tp_regs.dll"});
    // The plug-in got working heap entries: get, grow, free and reallocate.
    using TResult = int (*)();
    const auto result = ProcAddress<TResult>(Session.Plugins.Table()[0].Module, "TestRegisterResult");
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result(), 0x1F);
    auto* buffer = static_cast<std::uint8_t*>(GetPictureBuffer(4096));
    ASSERT_NE(buffer, nullptr);
    buffer[4095] = 1;
}

// ---- Extension list -----------------------------------------------------------------

TEST(PluginExtensions, LowerCasedInTableOrderWithoutDuplicates) {
    TInstallFolder folder;
    folder.AddFastmm();
    folder.Add(TestPluginDll("tp_red.dll"), "a_red.dll");
    folder.Add(TestPluginDll("tp_upper.dll"), "b_upper.dll");
    folder.Add(TestPluginDll("tp_record.dll"), "c_record.dll");
    folder.Load();
    ASSERT_EQ(Session.Plugins.Table().size(), 3u);
    EXPECT_EQ(Session.Plugins.Extensions(), (std::vector<std::string>{".bmp", ".rec"}));
}

// ---- Decode dispatch ----------------------------------------------------------------

TEST(PluginDecode, UpperCaseFileNameMatchesLowerCaseExtension) {
    TInstallFolder folder;
    folder.AddFastmm();
    folder.Add(TestPluginDll("tp_red.dll"));
    folder.Load();
    WriteSmallFile(folder.File("PHOTO.BMP"));
    const TDecoded d = Decode(folder.File("PHOTO.BMP"));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.First(), 0xFF0000u);
    EXPECT_EQ(d.picture->Width, 3);
    EXPECT_EQ(d.picture->Height, 2);
    EXPECT_EQ(d.naturalWidth, 3);
    EXPECT_EQ(d.naturalHeight, 2);
    EXPECT_EQ(d.fileSize, 4);
    EXPECT_STREQ(d.format, "tp_red picture");
}

TEST(PluginDecode, UpperCaseExtensionInAPluginNeverMatches) {
    TInstallFolder folder;
    folder.AddFastmm();
    folder.Add(TestPluginDll("tp_upper.dll"));
    folder.Load();
    WriteSmallFile(folder.File("a.BMP"));
    WriteSmallFile(folder.File("b.bmp"));
    EXPECT_FALSE(Decode(folder.File("a.BMP")).ok);
    EXPECT_FALSE(Decode(folder.File("b.bmp")).ok);
}

TEST(PluginDecode, FirstClaimingPluginByPathWinsAndTheNextStandsInForOneThatDeliversNothing) {
    {
        TInstallFolder folder;
        folder.AddFastmm();
        folder.Add(TestPluginDll("tp_green.dll"), "b_green.dll");
        folder.Add(TestPluginDll("tp_red.dll"), "a_red.dll");
        folder.Load();
        WriteSmallFile(folder.File("x.bmp"));
        EXPECT_EQ(Decode(folder.File("x.bmp")).First(), 0xFF0000u);
    }
    EnvClear("QVT_tp_empty_DECODED");
    TInstallFolder folder;
    folder.AddFastmm();
    folder.Add(TestPluginDll("tp_empty.dll"), "a_empty.dll");
    folder.Add(TestPluginDll("tp_green.dll"), "b_green.dll");
    folder.Load();
    WriteSmallFile(folder.File("x.bmp"));
    const TDecoded d = Decode(folder.File("x.bmp"));
    ASSERT_TRUE(d.ok);
    EXPECT_TRUE(EnvSet("QVT_tp_empty_DECODED"));
    EXPECT_EQ(d.First(), 0x00FF00u);
    EXPECT_STREQ(d.format, "tp_green picture");
}

TEST(PluginDecode, MissingFileAndUnclaimedExtensionFailWithoutAsking) {
    EnvClear("QVT_tp_red_DECODED");
    TInstallFolder folder;
    folder.AddFastmm();
    folder.Add(TestPluginDll("tp_red.dll"));
    folder.Load();
    WriteSmallFile(folder.File("x.gif"));
    TDecoded d = Decode(folder.File("missing.bmp"));
    EXPECT_FALSE(d.ok);
    EXPECT_EQ(d.fileSize, -1);
    d = Decode(folder.File("x.gif"));
    EXPECT_FALSE(d.ok);
    EXPECT_FALSE(EnvSet("QVT_tp_red_DECODED"));
}

TEST(PluginDecode, AFileAnotherProgramHoldsAloneHasNoSizeAndOnlyDecodersByNameMayTry) {
    TInstallFolder folder;
    folder.AddFastmm();
    folder.Add(TestPluginDll("tp_red.dll"));     // opens nothing: delivers red for any name
    folder.Add(TestPluginDll("tp_record.dll"));  // reads through the host's handle
    folder.Load();
    WriteSmallFile(folder.File("x.bmp"));
    WriteSmallFile(folder.File("x.rec"));
    auto holdAlone = [&](const char* name) {
        return TKernelHandle(
            ::CreateFileA(folder.File(name).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    };
    TKernelHandle holdBmp = holdAlone("x.bmp");
    TKernelHandle holdRec = holdAlone("x.rec");
    ASSERT_TRUE(holdBmp && holdRec);
    const TDecoded byName = Decode(folder.File("x.bmp"));
    EXPECT_TRUE(byName.ok);
    EXPECT_EQ(byName.First(), 0xFF0000u);
    EXPECT_EQ(byName.fileSize, -1);
    const TDecoded byHandle = Decode(folder.File("x.rec"));
    EXPECT_FALSE(byHandle.ok);
    EXPECT_EQ(byHandle.fileSize, -1);
    // Released, the file decodes through the handle and has its size.
    holdRec.Reset();
    const TDecoded released = Decode(folder.File("x.rec"));
    EXPECT_TRUE(released.ok);
    EXPECT_EQ(released.fileSize, 4);
}

TEST(PluginDecode, TheLongNameDecidesTheExtensionOfAShortPath) {
    TInstallFolder folder;
    WriteSmallFile(folder.File("holiday picture.jpeg"));
    char shortPath[MAX_PATH] = {};
    ASSERT_NE(::GetShortPathNameA(folder.File("holiday picture.jpeg").c_str(), shortPath, MAX_PATH), 0u);
    const std::string cut = shortPath;
    const std::string name = cut.substr(cut.find_last_of('\\') + 1);
    if (name.find('~') == std::string::npos) GTEST_SKIP() << "no short names here: " << cut;
    EXPECT_EQ(PluginKeyOf(cut), ".jpeg") << cut;
    EXPECT_EQ(ExtensionKey(cut), ".jpe") << cut;
    // No such file: the stored extension, lower-cased.
    EXPECT_EQ(PluginKeyOf(folder.File("PLAIN~1.JPE")), ".jpe");
    // A long name with a "~" of its own; a name without one is not looked up.
    WriteSmallFile(folder.File("x~y.Png"));
    EXPECT_EQ(PluginKeyOf(folder.File("x~y.Png")), ".png");
    EXPECT_EQ(PluginKeyOf(folder.File("Gone.BMP")), ".bmp");
    EXPECT_EQ(PluginKeyOf(folder.File("noextension")), "");
}

TEST(PluginDecode, DecoderWithoutFileNameFlagReadsThroughTheFileRecord) {
    TInstallFolder folder;
    folder.AddFastmm();
    folder.Add(TestPluginDll("tp_record.dll"));
    folder.Load();
    WriteSmallFile(folder.File("c.rec"), 0x00ABCDEF);
    const TDecoded d = Decode(folder.File("c.rec"));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.First(), 0xABCDEFu);
    EXPECT_EQ(d.fileSize, 4);
}

TEST(PluginDecode, APluginClaimingMorePixelsThanItsBufferHoldsDeliversNothing) {
    // 3000 x 2 in a 3 x 2 buffer; 2^31 - 1 on both sides, whose byte count
    // wraps around 64 bits; 65536 x 65536 in memory of the plug-in's own,
    // more than any picture buffer holds.
    for (const char* liar : {"tp_liar.dll", "tp_hugeliar.dll", "tp_ownliar.dll"}) {
        TInstallFolder folder;
        folder.AddFastmm();
        folder.Add(TestPluginDll(liar));
        folder.Load();
        WriteSmallFile(folder.File("l.big"));
        EXPECT_FALSE(Decode(folder.File("l.big")).ok) << liar;
    }
}

TEST(PluginDecode, FitModeTwoAsksForTwiceTheSize) {
    TInstallFolder folder;
    folder.AddFastmm();
    folder.Add(TestPluginDll("tp_red.dll"));
    folder.Load();
    WriteSmallFile(folder.File("x.bmp"));
    char wanted[32] = {};
    TBitmap target(640, 512);
    PictureInfo info;
    TPrepareOptions options = SessionPrepare();
    options.Fit = {1, false};
    LoadPicture(target, folder.File("x.bmp"), info, options);
    ASSERT_NE(info.Delivery, TPictureDelivery::None);
    ::GetEnvironmentVariableA("QVT_tp_red_WANTED", wanted, sizeof wanted);
    EXPECT_STREQ(wanted, "640 x 512");
    options.Fit.FitMode = 2;
    LoadPicture(target, folder.File("x.bmp"), info, options);
    ASSERT_NE(info.Delivery, TPictureDelivery::None);
    ::GetEnvironmentVariableA("QVT_tp_red_WANTED", wanted, sizeof wanted);
    EXPECT_STREQ(wanted, "1280 x 1024");
}

TEST(PluginDecode, BmpPluginDecodesARealFileAtItsOwnSize) {
    TInstallFolder folder;
    folder.AddFastmm();
    folder.Add(ProductDll("imgbmp.dll"));
    folder.Load();
    const auto bmp = MakeBmp24(5, 4, [](int x, int y) { return static_cast<std::uint32_t>(x * 16 + y); });
    WriteFileBytes(folder.File("p.bmp"), bmp.data(), bmp.size());
    const TDecoded d = Decode(folder.File("p.bmp"), 2, 2);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.naturalWidth, 5);
    EXPECT_EQ(d.naturalHeight, 4);
    EXPECT_STREQ(d.format, "Windows bitmap");
    EXPECT_EQ(d.fileSize, static_cast<std::int32_t>(bmp.size()));
    std::uint32_t px;
    std::memcpy(&px, d.picture->Bits + (3 * 5 + 4) * 4, 4);
    EXPECT_EQ(px & 0xFFFFFF, 4u * 16 + 3);
}

// ---- Line delivery --------------------------------------------------------------------

namespace {

// A host callback that accepts line -1 and stops the delivery at line 2, as
// the host's guarded resampler does when a line raises an error.
std::int32_t StopLines = 0;  // calls received
std::int32_t QV_CDECL StopAtLineTwo(std::intptr_t, std::int32_t curLine, std::int32_t, std::int32_t) {
    ++StopLines;
    return curLine == 2 ? 0 : 1;
}

}  // namespace

TEST(PluginLines, AHostThatStopsTheLinesPartWayFailsTheDecodeOfEachProductPlugin) {
    TInstallFolder folder;
    folder.AddFastmm();
    folder.Add(ProductDll("imgbmp.dll"));
    folder.Add(ProductDll("imgwic.dll"));  // WIC reads bitmaps too
    Session.Settings.rtresize = true;              // the plug-ins are given the line-callback slot
    folder.Load();
    ASSERT_EQ(TableNames(), (std::vector<std::string>{"imgbmp.dll", "imgwic.dll"}));
    const auto bmp = MakeBmp24(8, 8, [](int x, int y) { return static_cast<std::uint32_t>(x * 16 + y); });
    const std::string file = folder.File("p.bmp");
    WriteFileBytes(file, bmp.data(), bmp.size());
    for (const PluginEntry& entry : Session.Plugins.Table()) {
        SCOPED_TRACE(entry.FileName);
        TDecoderFunc decode = nullptr;
        for (std::int32_t j = 0; j < entry.Info.FormatCount; ++j)
            if (std::strcmp(entry.Info.Extensions[j], ".bmp") == 0) decode = entry.Info.Decoders[j];
        ASSERT_NE(decode, nullptr);
        std::int32_t w = 8, h = 8, naturalW = 0, naturalH = 0;
        void* pixels = nullptr;
        StopLines = 0;
        std::int32_t result;
        {
            TLineSlotScope slot(StopAtLineTwo);
            result = decode(file.c_str(), &w, &h, &naturalW, &naturalH, &pixels);
        }
        EXPECT_EQ(LineCallbackSlot(), nullptr);
        EXPECT_EQ(StopLines, 4);  // lines -1, 0, 1 and 2, then nothing more
        EXPECT_EQ(result, 0);
        EXPECT_EQ(w, 0);
        EXPECT_EQ(pixels, nullptr);
    }
}

// ---- Plug-ins that fail ---------------------------------------------------------------

TEST(PluginFailures, LinesThatStopBeforeTheLastAreNoPictureAndTheNextPluginDecodes) {
    TInstallFolder folder;
    folder.AddFastmm();
    folder.Add(TestPluginDll("tp_stopearly.dll"), "a_stop.dll");
    folder.Add(TestPluginDll("tp_green.dll"), "b_green.dll");
    Session.Settings.rtresize = true;
    folder.Load();
    Session.Settings.FitMode = 1;
    WriteSmallFile(folder.File("x.bmp"));
    TBitmap target(3, 2);
    PictureInfo info;
    LoadPicture(target, folder.File("x.bmp"), info, SessionPrepare());
    EXPECT_EQ(info.Lines, 2u);  // the first plug-in's lines -1 and 0
    EXPECT_STREQ(info.Format, "tp_green picture");
    EXPECT_EQ(info.Delivery, TPictureDelivery::Whole);
    // The second plug-in's picture, not the half-black one of the first.
    EXPECT_EQ(target.Bits[(1 * 3 + 2) * 4 + 1], 0xFF);
}

TEST(PluginFailures, APluginThatFaultsFailsOnlyItsDecodeAndTheNextPluginDecodes) {
    InstallCrashHooks();  // as the program's entry does
    TInstallFolder folder;
    folder.AddFastmm();
    folder.Add(TestPluginDll("tp_fault.dll"), "a_fault.dll");
    folder.Add(TestPluginDll("tp_green.dll"), "b_green.dll");
    folder.Load();
    WriteSmallFile(folder.File("x.bmp"));
    const std::uint32_t faultsBefore = GuardedFaultCount();
    const TDecoded d = Decode(folder.File("x.bmp"));
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.First(), 0x00FF00u);
    EXPECT_EQ(GuardedFaultCount(), faultsBefore + 1);
    EXPECT_EQ(LastGuardedFault(), static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
}

TEST(PluginFailures, ACancelledDecodeAsksNoFurtherPlugin) {
    EnvClear("QVT_tp_wait_DECODING");
    EnvClear("QVT_tp_green_DECODED");
    TInstallFolder folder;
    folder.AddFastmm();
    folder.Add(TestPluginDll("tp_wait.dll"), "a_wait.dll");
    folder.Add(TestPluginDll("tp_green.dll"), "b_green.dll");
    folder.Load();
    WriteSmallFile(folder.File("x.bmp"));
    TKernelHandle go(::CreateEventA(nullptr, TRUE, FALSE, "QVT_tp_wait_GO"));
    ASSERT_TRUE(go);
    std::atomic<bool> cancel{false};
    TPictureDelivery delivery = TPictureDelivery::Whole;
    std::thread decoding([&] { delivery = Session.Plugins.Decode(folder.File("x.bmp"), {64, 48, nullptr, &cancel}).Delivery; });
    for (int i = 0; i < 2000 && !EnvSet("QVT_tp_wait_DECODING"); ++i) ::Sleep(5);
    cancel = true;
    ::SetEvent(go.Get());
    decoding.join();
    EXPECT_TRUE(EnvSet("QVT_tp_wait_DECODING"));
    EXPECT_EQ(delivery, TPictureDelivery::None);
    EXPECT_FALSE(EnvSet("QVT_tp_green_DECODED"));
}

namespace {

// A picture buffer that first has the picture's file cut short.
std::string cutFile;
bool cut = false;
std::vector<std::uint8_t> cutBuffer;
void* QV_CDECL BufferAfterCuttingTheFile(std::int32_t bytes) {
    cut = TruncateFromLinux(cutFile, 4096);
    cutBuffer.assign(static_cast<std::size_t>(bytes), 0);
    return cutBuffer.data();
}

}  // namespace

// The BMP plug-in has read the headers and asks for its buffer; meanwhile the
// file loses all but its first 4 KiB, as on a share that drops or a stick
// pulled out. Reading the pixels fails that decode, and that is all.
TEST(PluginFailures, ABitmapCutShortWhileTheBmpPluginReadsItFailsThatDecodeAlone) {
    TInstallFolder folder;
    folder.AddFastmm();
    folder.Add(ProductDll("imgbmp.dll"));
    folder.Load();
    ASSERT_EQ(Session.Plugins.Table().size(), 1u);
    const PluginInfo& plugin = Session.Plugins.Table()[0].Info;
    const auto bmp = MakeBmp24(2000, 1500, [](int x, int y) { return static_cast<std::uint32_t>(x ^ y); });
    cutFile = folder.File("cut.bmp");
    WriteFileBytes(cutFile, bmp.data(), bmp.size());
    // The plug-in's services with this test's buffer.
    HostServices services{};
    services.Size = sizeof services;
    services.GetPictureBuffer = BufferAfterCuttingTheFile;
    services.Status = kHostStatusOffered;
    services.GetMem = Session.Plugins.SharedMemory().GetMem;
    services.FreeMem = Session.Plugins.SharedMemory().FreeMem;
    services.ReallocMem = Session.Plugins.SharedMemory().ReallocMem;
    plugin.Notify(&services);
    std::int32_t w = 64, h = 48, naturalW = 0, naturalH = 0;
    void* pixels = nullptr;
    cut = false;
    const std::int32_t result = plugin.Decoders[0](cutFile.c_str(), &w, &h, &naturalW, &naturalH, &pixels);
    ASSERT_TRUE(cut) << "the file was not cut";
    EXPECT_EQ(result, 0);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(pixels, nullptr);
    EXPECT_EQ(naturalW, 2000);
    // Nothing of the decode keeps the file.
    EXPECT_TRUE(::DeleteFileA(cutFile.c_str()));
}

// ---- Picture buffer -----------------------------------------------------------------

TEST(PictureBuffer, SameSizeSamePointerOtherSizeReallocatedZeroIsNull) {
    TInstallFolder folder;
    folder.AddFastmm();
    folder.Load();
    EXPECT_EQ(GetPictureBuffer(0), nullptr);
    EXPECT_EQ(GetPictureBuffer(-4), nullptr);
    auto* a = static_cast<std::uint8_t*>(GetPictureBuffer(64));
    ASSERT_NE(a, nullptr);
    a[63] = 0x5A;
    EXPECT_EQ(GetPictureBuffer(64), a);
    auto* b = static_cast<std::uint8_t*>(GetPictureBuffer(1 << 20));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b[63], 0x5A);  // reallocated, contents kept
    b[(1 << 20) - 1] = 1;
    Session.Plugins.FreePictureBuffer();
    EXPECT_NE(GetPictureBuffer(8), nullptr);
    Session.Plugins.FreePictureBuffer();
    Session.Plugins.FreePictureBuffer();  // twice is harmless
}

// ---- Shared memory manager ----------------------------------------------------------

TEST(Fastmm, FourThreadsAllocatingResizingAndFreeingAtOnceKeepTheirBlocks) {
    TInstallFolder folder;
    folder.AddFastmm();
    folder.Load();
    struct TWork {
        int id;
        int failures;
    } work[4] = {{1, 0}, {2, 0}, {3, 0}, {4, 0}};
    LPTHREAD_START_ROUTINE body = [](LPVOID param) WINAPI -> DWORD {
        auto* w = static_cast<TWork*>(param);
        const TSharedMemoryEntries& mm = Session.Plugins.SharedMemory();
        for (int i = 0; i < 3000; ++i) {
            const std::int32_t size = 16 + (i * 37 + w->id * 11) % 4000;
            auto* p = static_cast<std::uint8_t*>(mm.GetMem(size));
            if (!p) {
                ++w->failures;
                continue;
            }
            std::memset(p, w->id, static_cast<std::size_t>(size));
            void* block = p;
            auto* q = static_cast<std::uint8_t*>(mm.ReallocMem(&block, size * 2));
            if (!q || q != block) ++w->failures;
            for (std::int32_t k = 0; q && k < size; ++k)
                if (q[k] != w->id) {
                    ++w->failures;
                    break;
                }
            if (mm.FreeMem(block) != 0) ++w->failures;
        }
        return 0;
    };
    TKernelHandle threads[4];
    HANDLE raw[4];
    for (int t = 0; t < 4; ++t) {
        threads[t].Reset(::CreateThread(nullptr, 0, body, &work[t], 0, nullptr));
        raw[t] = threads[t].Get();
    }
    ::WaitForMultipleObjects(4, raw, TRUE, INFINITE);
    for (const TWork& w : work) EXPECT_EQ(w.failures, 0) << w.id;
}
