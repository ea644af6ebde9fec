#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "session/settings.h"
#include "base/ui_win32.h"
#include "imaging/plugins_win32.h"
#include "tests/win32/file_faults.h"
#include "tests/win32/test_session.h"

// A Windows path for a folder of the build tree (the Z: drive maps the
// Unix root under Wine).
inline std::string BuildPath(const char* unixFolder, const std::string& name) {
    std::string path = std::string("Z:") + unixFolder + "\\" + name;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

inline std::string ProductDll(const std::string& name) {
    return BuildPath(QV_BIN_DIR, name);
}
inline std::string TestPluginDll(const std::string& name) {
    return BuildPath(QV_TEST_PLUGIN_DIR, name);
}
// tp_otherwidth.dll and fastmm.dll built for the other processor width.
inline std::string OtherWidthDll(const std::string& name) {
    return BuildPath(QV_TEST_PLUGIN_DIR "/otherwidth", name);
}

// The machine field of a PE file's header (IMAGE_FILE_MACHINE_I386 or
// _AMD64), 0 when the file is no PE image.
inline WORD PeMachine(const std::string& path) {
    HANDLE f = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 0;
    std::uint8_t head[4096] = {};
    DWORD got = 0;
    ::ReadFile(f, head, sizeof head, &got, nullptr);
    ::CloseHandle(f);
    if (got < 0x40 || head[0] != 'M' || head[1] != 'Z') return 0;
    const std::uint32_t pe =
        head[0x3C] | head[0x3D] << 8 | head[0x3E] << 16 | std::uint32_t{head[0x3F]} << 24;
    if (pe > got - 6 || std::memcmp(head + pe, "PE\0\0", 4) != 0) return 0;
    return static_cast<WORD>(head[pe + 4] | head[pe + 5] << 8);
}
#if defined(_WIN64)
constexpr WORD kOwnMachine = IMAGE_FILE_MACHINE_AMD64;
#else
constexpr WORD kOwnMachine = IMAGE_FILE_MACHINE_I386;
#endif

inline void WriteFileBytes(const std::string& path, const void* data, std::size_t size) {
    HANDLE f =
        ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    ::WriteFile(f, data, static_cast<DWORD>(size), &written, nullptr);
    ::CloseHandle(f);
    ASSERT_EQ(written, size);
}

// A 24-bit bottom-up BMP whose pixel (x, y) is color(x, y) as 0xRRGGBB.
template <typename F>
std::vector<std::uint8_t> MakeBmp24(int w, int h, F color) {
    const int stride = (w * 3 + 3) & ~3;
    std::vector<std::uint8_t> b(54 + static_cast<std::size_t>(stride) * h, 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, static_cast<std::uint32_t>(b.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<std::uint32_t>(w));
    put32(22, static_cast<std::uint32_t>(h));
    b[26] = 1;
    b[28] = 24;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::uint32_t c = color(x, y);
            std::uint8_t* p = &b[54 + static_cast<std::size_t>(h - 1 - y) * stride + x * 3];
            p[0] = c & 0xFF;
            p[1] = (c >> 8) & 0xFF;
            p[2] = (c >> 16) & 0xFF;
        }
    return b;
}

// Cuts the file at `path` to `size` bytes from the Linux side, as a file
// server or another machine would, behind the back of whoever has it open;
// waits until that shows. False where the Linux side cannot be reached.
inline bool TruncateFromLinux(const std::string& path, std::uint64_t size) {
    const std::string unixPath = UnixPathOf(path);
    if (unixPath.empty()) return false;
    if (!StartUnixCommand("/usr/bin/truncate -s " + std::to_string(size) + " \"" + unixPath + "\""))
        return false;
    for (int i = 0; i < 1000; ++i) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) &&
            (std::uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow) == size)
            return true;
        ::Sleep(10);
    }
    return false;
}

// A temporary installation folder: the DLLs a test copies in, the pictures
// it writes, and the plug-in state loaded from it. Everything is unloaded
// and deleted at the end.
class TInstallFolder {
public:
    TInstallFolder() {
        static int serial = 0;
        char temp[MAX_PATH];
        ::GetTempPathA(MAX_PATH, temp);
        path_ = std::string(temp) + "qvinst" + std::to_string(::GetCurrentProcessId()) + "_" +
                std::to_string(++serial);
        ::CreateDirectoryA(path_.c_str(), nullptr);
        saved_ = TestSession().Settings;
        TestSession().Settings.InstallPath = path_;
        SetMessageBoxResponder([this](const std::string& text, const std::string& caption, UINT) {
            Messages.push_back(caption + ": " + text);
            return IDOK;
        });
    }
    TInstallFolder(const TInstallFolder&) = delete;
    TInstallFolder& operator=(const TInstallFolder&) = delete;
    ~TInstallFolder() {
        TestSession().Plugins.Unload();
        SetMessageBoxResponder(nullptr);
        TestSession().Settings = saved_;
        WIN32_FIND_DATAA data;
        HANDLE find = ::FindFirstFileA((path_ + "\\*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                const std::string name = data.cFileName;
                if (name != "." && name != "..") ::DeleteFileA((path_ + "\\" + name).c_str());
            } while (::FindNextFileA(find, &data));
            ::FindClose(find);
        }
        ::RemoveDirectoryA(path_.c_str());
    }

    // Copies a built DLL in, optionally under another name.
    void Add(const std::string& source, const std::string& as = {}) {
        std::string name = as;
        if (name.empty()) name = source.substr(source.find_last_of('\\') + 1);
        ASSERT_TRUE(::CopyFileA(source.c_str(), File(name).c_str(), FALSE))
            << source << " " << ::GetLastError();
    }
    void AddFastmm() { Add(ProductDll("fastmm.dll")); }
    std::string File(const std::string& name) const { return path_ + "\\" + name; }
    const std::string& Path() const { return path_; }
    bool IsLoaded(const std::string& name) const { return ::GetModuleHandleA(File(name).c_str()) != nullptr; }

    void Load() { LoadSessionPlugins(); }

    std::vector<std::string> Messages;  // message boxes answered while the folder lives

private:
    std::string path_;
    TSettings saved_;
};
