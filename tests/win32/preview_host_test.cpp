#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "base/handles_win32.h"
#include "base/registry_win32.h"

// The real quorvane.scr started as "/p <hwnd>" inside a host window of this
// process, the way the Screen Saver settings start it.

namespace {

class PreviewHost : public ::testing::Test {
protected:
    void SetUp() override {
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
        TRegKey machine = CreateRegKey(HKEY_LOCAL_MACHINE, kSettingsKey);
        ASSERT_TRUE(machine);
        oldPath = ReadRegString(machine.Get(), "Path");
        char temp[MAX_PATH];
        ::GetTempPathA(MAX_PATH, temp);
        install = std::string(temp) + "qv_preview_host";
        ::CreateDirectoryA(install.c_str(), nullptr);
        ::CreateDirectoryA((install + "\\Photos").c_str(), nullptr);
        WriteRegString(machine.Get(), "Path", install);
        // The installation folder holds the memory manager and the plug-ins.
        WIN32_FIND_DATAA found;
        TFindHandle find(::FindFirstFileA((std::string(QV_BIN_DIR) + "/*.dll").c_str(), &found));
        for (bool more = static_cast<bool>(find); more; more = ::FindNextFileA(find.Get(), &found)) {
            const std::string copy = install + "\\" + found.cFileName;
            if (::CopyFileA((std::string(QV_BIN_DIR) + "/" + found.cFileName).c_str(), copy.c_str(), FALSE))
                copied.push_back(copy);
        }

        WNDCLASSA wc{};
        wc.lpfnWndProc = ::DefWindowProcA;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
        wc.lpszClassName = "QvPreviewHost";
        ::RegisterClassA(&wc);
        host = ::CreateWindowExA(WS_EX_TOPMOST, "QvPreviewHost", "preview host", WS_POPUP | WS_VISIBLE, 100,
                                 100, 320, 240, nullptr, nullptr, wc.hInstance, nullptr);
        ASSERT_NE(host, nullptr);
    }
    void TearDown() override {
        if (process && ::WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT)
            ::TerminateProcess(process.Get(), 1);
        if (host) ::DestroyWindow(host);
        TRegKey machine = CreateRegKey(HKEY_LOCAL_MACHINE, kSettingsKey);
        if (oldPath) WriteRegString(machine.Get(), "Path", *oldPath);
        for (const std::string& f : copied) ::DeleteFileA(f.c_str());
        ::RemoveDirectoryA((install + "\\Photos").c_str());
        ::RemoveDirectoryA(install.c_str());
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
    }

    void Start() {
        const std::string command = "\"" + std::string(QV_BIN_DIR) + "/quorvane.scr\" /p " +
                                    std::to_string(reinterpret_cast<UINT_PTR>(host));
        std::vector<char> line(command.begin(), command.end());
        line.push_back('\0');
        STARTUPINFOA si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        ASSERT_TRUE(
            ::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
        process.Reset(pi.hProcess);
        TKernelHandle thread(pi.hThread);
    }

    // Pumps the host's messages for about `ms` milliseconds, or until the
    // process has ended; true when it has.
    bool PumpUntilExit(DWORD ms) {
        const DWORD start = ::GetTickCount();
        while (::GetTickCount() - start < ms) {
            MSG msg;
            while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
            HANDLE h = process.Get();
            if (::MsgWaitForMultipleObjects(1, &h, FALSE, 20, QS_ALLINPUT) == WAIT_OBJECT_0) return true;
        }
        return ::WaitForSingleObject(process.Get(), 0) == WAIT_OBJECT_0;
    }

    HWND host = nullptr;
    TKernelHandle process;
    std::string install;
    std::optional<std::string> oldPath;
    std::vector<std::string> copied;  // files put into the installation folder
};

TEST_F(PreviewHost, DrawsInsideTheHostIgnoresInputAndEndsWhenHidden) {
    Start();
    // The saver's child window appears in the host and the scene is drawn.
    HWND child = nullptr;
    for (int i = 0; i < 300 && !child; ++i) {
        PumpUntilExit(50);
        child = ::FindWindowExA(host, nullptr, "Show_MainWindow", nullptr);
    }
    ASSERT_NE(child, nullptr) << "no saver window inside the host";
    RECT hostClient{};
    RECT own{};
    ::GetClientRect(host, &hostClient);
    ::GetWindowRect(child, &own);
    EXPECT_EQ(own.right - own.left, hostClient.right);
    EXPECT_EQ(own.bottom - own.top, hostClient.bottom);

    // Under Wine the OpenGL image of a child window whose parent belongs to
    // another process stays in an off-screen X window, so it cannot be read
    // back here; the in-process preview test looks at the drawn pixels.
    ASSERT_FALSE(PumpUntilExit(3000));

    // Keys, clicks and moves do not end a preview.
    ::PostMessageA(child, WM_KEYDOWN, 'Q', 1);
    ::PostMessageA(child, WM_LBUTTONDOWN, 0, 0);
    for (int i = 0; i < 20; ++i) ::PostMessageA(child, WM_MOUSEMOVE, 0, MAKELPARAM(i, i));
    EXPECT_FALSE(PumpUntilExit(1500));

    // Hiding the host ends it within about a second (the check runs once a second).
    ::ShowWindow(host, SW_HIDE);
    ASSERT_TRUE(PumpUntilExit(5000));
    DWORD code = 1;
    ::GetExitCodeProcess(process.Get(), &code);
    EXPECT_EQ(code, 0u);
    // A preview records no frame rate.
    TRegKey key = OpenRegKey(HKEY_CURRENT_USER, kSettingsKey);
    EXPECT_FALSE(ReadRegString(key.Get(), "FPS"));
}

TEST_F(PreviewHost, EndsWhenTheHostIsClosed) {
    Start();
    HWND child = nullptr;
    for (int i = 0; i < 300 && !child; ++i) {
        PumpUntilExit(50);
        child = ::FindWindowExA(host, nullptr, "Show_MainWindow", nullptr);
    }
    ASSERT_NE(child, nullptr);
    ASSERT_FALSE(PumpUntilExit(1000));
    ::DestroyWindow(host);
    host = nullptr;
    ASSERT_TRUE(PumpUntilExit(5000));
    DWORD code = 1;
    ::GetExitCodeProcess(process.Get(), &code);
    EXPECT_EQ(code, 0u);
}

}  // namespace
