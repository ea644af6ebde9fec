#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/handles_win32.h"

namespace {

// Reads the shipped program's resources as the shell and the dialog do.
class ProgramResources : public ::testing::Test {
protected:
    void SetUp() override {
        module.Reset(::LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
        ASSERT_TRUE(module) << path;
    }
    std::string path = std::string(QV_BIN_DIR) + "/quorvane.scr";
    TModule module;
};

TEST_F(ProgramResources, IconGroupCursorAndManifestExist) {
    EXPECT_NE(::FindResourceA(module.Get(), MAKEINTRESOURCEA(500), RT_GROUP_ICON), nullptr);
    EXPECT_NE(::FindResourceA(module.Get(), MAKEINTRESOURCEA(1), RT_GROUP_CURSOR), nullptr);
    HRSRC manifest = ::FindResourceA(module.Get(), MAKEINTRESOURCEA(1), RT_MANIFEST);
    ASSERT_NE(manifest, nullptr);
    const char* text = static_cast<const char*>(::LockResource(::LoadResource(module.Get(), manifest)));
    const std::string xml(text, ::SizeofResource(module.Get(), manifest));
    EXPECT_NE(xml.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(xml.find("version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(xml.find("<dpiAware"), std::string::npos);
}

TEST_F(ProgramResources, IconHasEverySizeTheShellAsksFor) {
    HRSRC group = ::FindResourceA(module.Get(), MAKEINTRESOURCEA(500), RT_GROUP_ICON);
    ASSERT_NE(group, nullptr);
    void* dir = ::LockResource(::LoadResource(module.Get(), group));
    for (int size : {16, 32, 48, 256}) {
        const int id =
            ::LookupIconIdFromDirectoryEx(static_cast<PBYTE>(dir), TRUE, size, size, LR_DEFAULTCOLOR);
        ASSERT_NE(id, 0) << size;
        HRSRC icon = ::FindResourceA(module.Get(), MAKEINTRESOURCEA(id), RT_ICON);
        ASSERT_NE(icon, nullptr);
        const auto* header =
            static_cast<const BITMAPINFOHEADER*>(::LockResource(::LoadResource(module.Get(), icon)));
        if (header->biSize == sizeof(BITMAPINFOHEADER)) {
            EXPECT_EQ(header->biWidth, size);
        }
    }
}

TEST_F(ProgramResources, VersionIsTheProgramVersion) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> data(size);
    ASSERT_TRUE(::GetFileVersionInfoA(path.c_str(), 0, size, data.data()));
    VS_FIXEDFILEINFO* info = nullptr;
    UINT len = 0;
    ASSERT_TRUE(::VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &len));
    EXPECT_EQ(info->dwFileVersionMS, 0x00010001u);
    EXPECT_EQ(info->dwFileVersionLS, 0x00000000u);
}

}  // namespace
