#include "render/acceleration_win32.h"

#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <vector>

#include "base/handles_win32.h"
#include "base/registry_win32.h"
#include "base/site.h"
#include "base/system_win32.h"
#include "base/ui_win32.h"
#include "render/driver_page.h"

const char* const kAccelerationMessage =
    "OpenGL hardware acceleration is not supported on your system and all OpenGL applications will run "
    "slow. Please install video drivers from your graphics accelerator's CD or from Internet. But if the "
    "screensaver work fast enough, just ignore this message. Would you like to download drivers from "
    "Internet now?";

namespace {

// The adapters as "description(device)" lines.
std::vector<std::string> AdapterLines() {
    std::vector<std::string> lines;
    TModule user32(LoadSystemLibrary("User32.dll"));
    if (!user32) return lines;
    using TEnumDevices = BOOL(WINAPI*)(LPCSTR, DWORD, PDISPLAY_DEVICEA, DWORD);
    const auto enumDevices = ProcAddress<TEnumDevices>(user32.Get(), "EnumDisplayDevicesA");
    if (!enumDevices) return lines;
    for (DWORD i = 0;; ++i) {
        DISPLAY_DEVICEA device{};
        device.cb = sizeof device;
        if (!enumDevices(nullptr, i, &device, 0)) break;
        // Both strings are fixed arrays; take at most their length even if
        // the system left one unterminated.
        const std::string description(device.DeviceString, strnlen(device.DeviceString, 127));
        const std::string name(device.DeviceName, strnlen(device.DeviceName, 31));
        lines.push_back(description + "(" + name + ")");
    }
    return lines;
}

void OpenDriverPage() {
    const std::string url = DriverPageUrl(kOpenGLPage, AdapterLines());
    ::ShellExecuteA(nullptr, nullptr, url.c_str(), nullptr, nullptr, SW_HIDE);
}

}  // namespace

std::string DriverKind() {
    HWND desktop = ::GetDesktopWindow();
    TWindowDC dc(desktop);
    PIXELFORMATDESCRIPTOR pfd{};
    if (!dc || ::DescribePixelFormat(dc.Get(), 1, 40, &pfd) == 0) return std::string();
    const bool generic = (pfd.dwFlags & PFD_GENERIC_FORMAT) != 0;
    const bool accelerated = (pfd.dwFlags & PFD_GENERIC_ACCELERATED) != 0;
    if (generic && accelerated) return "MCD";
    if (!generic && !accelerated) return "ICD";
    return "No";
}

bool CheckAcceleration(bool onlyOnce) {
    const std::string kind = DriverKind();
    if (kind.empty()) return true;
    TRegKey key = CreateRegKey(HKEY_CURRENT_USER, kSettingsKey);
    const std::string stored =
        key ? ReadRegString(key.Get(), "driver").value_or(std::string()) : std::string();
    if (kind != stored && key) WriteRegString(key.Get(), "driver", kind);
    bool result = true;
    if (kind == "No" && (!onlyOnce || stored.empty())) {
        result = false;
        if (ShowMessage(kAccelerationMessage, MB_YESNO | MB_ICONEXCLAMATION) == IDYES) OpenDriverPage();
    }
    return result;
}

