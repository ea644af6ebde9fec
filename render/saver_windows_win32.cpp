#include "render/saver_windows_win32.h"

#include <string>
#include <vector>

#include "base/exception.h"
#include "base/run_state.h"
#include "base/handles_win32.h"
#include "base/registry_win32.h"
#include "base/system_win32.h"
#include "base/ui_win32.h"
#include "render/timing_win32.h"


namespace {

// The run a saver or cover window belongs to, stored at its creation.
TRun* RunOf(HWND wnd) {
    return reinterpret_cast<TRun*>(::GetWindowLongPtrA(wnd, GWLP_USERDATA));
}

void DeclareClass(const char* name, WNDPROC proc, HBRUSH background) {
    WNDCLASSA wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = proc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.hIcon = ::LoadIconA(nullptr, IDI_APPLICATION);
    wc.hbrBackground = background;
    wc.lpszClassName = name;
    // A second declaration in the same process fails; the first one stands.
    ::RegisterClassA(&wc);
}

// A stop that must pass the password check: 1 when it does, else 0. A stop
// takes the windows off the screen at once; the run ends behind them.
void RequestStop(TRun& run) {
    RunState.StopRequested = VerifyPassword(run) ? 1 : 0;
    if (RunState.StopRequested != 0) VanishRunWindows(run);
}

// An empty region: nothing of the window is drawn and no input reaches it.
void EmptyRegion(HWND wnd) {
    if (!wnd || !::IsWindow(wnd)) return;
    // The system owns the region once it is set.
    if (HRGN none = ::CreateRectRgn(0, 0, 0, 0)) {
        if (!::SetWindowRgn(wnd, none, TRUE)) ::DeleteObject(none);
    }
}

void KeyRules(TRun& run, WPARAM key) {
    run.Main.Check("The run's input state");
    if (run.PausedByMonitor) {
        run.PausedByMonitor = false;
        run.Paused = false;
    }
    if (key == VK_SPACE) {
        run.Paused = !run.Paused;
    } else if (run.Show.KeysSteer && (key == VK_RIGHT || key == VK_LEFT || key == 'H')) {
        // A steered show moves: a pause ends with the key.
        if (key == 'H')
            ++run.HideRequests;
        else
            run.SteerSteps += key == VK_RIGHT ? 1 : -1;
        run.Paused = false;
    } else if (key == VK_F12 && !run.F12Seen) {
        run.F12Seen = true;
    } else if (key == VK_F11 && run.F12Seen) {
        run.CrashTestArmed = true;
    } else {
        RequestStop(run);
    }
}

void MouseRules(TRun& run) {
    run.Main.Check("The run's input state");
    if (!run.FullScreen) return;
    if (run.MouseEnds && --run.MouseAllowance == 0) RequestStop(run);
    if (run.PausedByMonitor) {
        run.PausedByMonitor = false;
        run.Paused = false;
    }
}

struct TEnumState {
    decltype(&::GetMonitorInfoA) getInfo;
    std::vector<TMonitorEntry>* monitors;
    std::size_t* primaryIndex;
};

BOOL CALLBACK StoreMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
    const auto* state = reinterpret_cast<const TEnumState*>(data);
    MONITORINFO info{};
    info.cbSize = sizeof info;  // 40 bytes
    if (state->getInfo(monitor, &info)) {
        if (info.dwFlags & MONITORINFOF_PRIMARY) *state->primaryIndex = state->monitors->size();
        state->monitors->push_back({info.rcMonitor, nullptr});
    }
    return TRUE;
}

// Fills a table with every monitor, no cover yet; false when the system has
// no multi-monitor functions.
bool EnumerateMonitors(std::vector<TMonitorEntry>& monitors, std::size_t& primaryIndex) {
    TModule user32(LoadSystemLibrary("user32.dll"));
    if (!user32) return false;
    TEnumState state{nullptr, &monitors, &primaryIndex};
    state.getInfo = ProcAddress<decltype(&::GetMonitorInfoA)>(user32.Get(), "GetMonitorInfoA");
    const auto enumerate = ProcAddress<decltype(&::EnumDisplayMonitors)>(user32.Get(), "EnumDisplayMonitors");
    if (!state.getInfo || !enumerate) return false;
    monitors.clear();
    primaryIndex = 0;
    enumerate(nullptr, nullptr, StoreMonitor, reinterpret_cast<LPARAM>(&state));
    return true;
}

}  // namespace

HWND CreateSaverWindow(TRun& run, HWND host, int x, int y, int width, int height) {
    DeclareClass(kSaverClass, SaverWindowProc, static_cast<HBRUSH>(::GetStockObject(HOLLOW_BRUSH)));
    HWND wnd;
    if (host == nullptr) {
        // Shown by ShowSaverWindow once its OpenGL context exists, so that
        // the first frame follows at once instead of a covered, empty screen.
        wnd = ::CreateWindowExA(WS_EX_TOPMOST, kSaverClass, kSaverTitle,
                                WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, x, y, width, height, nullptr,
                                nullptr, ::GetModuleHandleA(nullptr), &run);
    } else {
        // A visible child: made at the host's client size from the start, so
        // that nobody ever sees it larger than its host.
        RECT client{};
        ::GetClientRect(host, &client);
        wnd = ::CreateWindowExA(0, kSaverClass, kSaverTitle,
                                WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_MAXIMIZE, 0, 0, client.right,
                                client.bottom, host, nullptr, ::GetModuleHandleA(nullptr), &run);
        if (wnd) {
            // A maximised child fills its parent's client area; where the
            // system leaves the creation size, fit it by hand.
            RECT own{};
            ::GetClientRect(wnd, &own);
            if (own.right != client.right || own.bottom != client.bottom)
                ::MoveWindow(wnd, 0, 0, client.right, client.bottom, TRUE);
        }
    }
    if (wnd == nullptr) {
        const DWORD error = ::GetLastError();
        ShowMessageBoxA(nullptr, "Get Handle in ImageCreate failed\r\nError = " + std::to_string(error),
                        "Error", MB_OK);
        return nullptr;
    }
    return wnd;
}

void ShowSaverWindow(const TRun& run) {
    ::ShowWindow(run.Window, SW_SHOW);
    if (run.FullScreen) ::SetForegroundWindow(run.Window);
    ::UpdateWindow(run.Window);
}

bool CoverOtherMonitors(TRun& run) {
    if (!EnumerateMonitors(run.Monitors, run.PrimaryIndex)) return false;

    DeclareClass(kCoverClass, CoverWindowProc, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
    for (std::size_t i = 0; i < run.Monitors.size(); ++i) {
        if (i == run.PrimaryIndex) continue;
        TMonitorEntry& m = run.Monitors[i];
        m.Cover = ::CreateWindowExA(WS_EX_TOPMOST, kCoverClass, kSaverTitle,
                                    WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, m.Rect.left,
                                    m.Rect.top, m.Rect.right - m.Rect.left, m.Rect.bottom - m.Rect.top,
                                    nullptr, nullptr, ::GetModuleHandleA(nullptr), &run);
        if (m.Cover == nullptr)
            throw Exception("Get Handle in BlackWindowCreate failed, Error = " +
                            std::to_string(::GetLastError()));
        ::ShowWindow(m.Cover, SW_SHOW);
        ::UpdateWindow(m.Cover);
    }
    return true;
}

bool SpreadOverMonitors(TRun& run) {
    if (!EnumerateMonitors(run.Monitors, run.PrimaryIndex) || run.Monitors.size() < 2) {
        run.Monitors.clear();
        return false;
    }
    run.Spread = run.Monitors[0].Rect;
    for (const TMonitorEntry& m : run.Monitors) ::UnionRect(&run.Spread, &run.Spread, &m.Rect);
    return true;
}

void CloseCoverWindows(TRun& run) {
    run.Main.Check("The run's input state");
    for (TMonitorEntry& m : run.Monitors) {
        if (m.Cover && ::IsWindow(m.Cover)) ::SendMessageA(m.Cover, WM_CLOSE, 0, 0);
        m.Cover = nullptr;
    }
    run.Monitors.clear();
}

void FollowDisplayChange(TRun& run) {
    run.Main.Check("The run's input state");
    if (!run.FullScreen || run.Vanished || RunState.StopRequested != 0) return;
    if (!run.Flights.empty()) {
        RequestStop(run);
        return;
    }
    // The saver window and its scene are made for the primary's size: a
    // new size ends the show, as input does.
    if (::GetSystemMetrics(SM_CXSCREEN) != run.Width || ::GetSystemMetrics(SM_CYSCREEN) != run.Height) {
        RequestStop(run);
        return;
    }
    // The show goes on; the covers follow the monitors. The old ones go
    // quietly: detached from the run first, their destruction stops nothing.
    for (TMonitorEntry& m : run.Monitors) {
        if (m.Cover && ::IsWindow(m.Cover)) {
            ::SetWindowLongPtrA(m.Cover, GWLP_USERDATA, 0);
            ::DestroyWindow(m.Cover);
        }
        m.Cover = nullptr;
    }
    CoverOtherMonitors(run);
    ::SetWindowPos(run.Window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void CheckMonitors(TRun& run) {
    if (!run.FullScreen || run.Monitors.empty()) return;
    std::vector<TMonitorEntry> now;
    std::size_t primary = 0;
    if (!EnumerateMonitors(now, primary)) return;
    bool same = now.size() == run.Monitors.size() && primary == run.PrimaryIndex;
    for (std::size_t i = 0; same && i < now.size(); ++i)
        same = ::EqualRect(&now[i].Rect, &run.Monitors[i].Rect) != FALSE;
    if (!same) FollowDisplayChange(run);
}

void VanishRunWindows(TRun& run) {
    run.Main.Check("The run's input state");
    if (run.Vanished) return;
    run.Vanished = true;
    MarkTimeline("windows-vanish");
    // A preview's child goes with its host; only full-screen windows cover
    // the screen.
    if (run.FullScreen) EmptyRegion(run.Window);
    for (const TMonitorEntry& m : run.Monitors) EmptyRegion(m.Cover);
    RestoreRunCursor(run);
}

void HideRunCursor(TRun& run) {
    if (run.CursorHidden) return;
    ::ShowCursor(FALSE);
    run.CursorHidden = true;
}

void RestoreRunCursor(TRun& run) {
    if (!run.CursorHidden) return;
    ::ShowCursor(TRUE);
    run.CursorHidden = false;
}

bool VerifyPassword(TRun& run) {
    if (RunState.LaunchedFromDialog) return true;
    TRegKey desktop = OpenRegKey(HKEY_CURRENT_USER, "Control Panel\\Desktop", KEY_READ);
    if (!desktop) return true;
    // Four bytes, whatever the value's type: a string "0" reads as 0x30.
    std::uint8_t raw[4] = {0, 0, 0, 0};
    DWORD size = sizeof raw;
    if (::RegQueryValueExA(desktop.Get(), "ScreenSaveUsePassword", nullptr, nullptr, raw, &size) !=
        ERROR_SUCCESS)
        return true;
    if ((raw[0] | raw[1] | raw[2] | raw[3]) == 0) return true;

    TModule library(LoadSystemLibrary("PASSWORD.CPL"));
    if (!library) return true;
    using TVerify = BOOL(WINAPI*)(HWND);
    const auto verify = ProcAddress<TVerify>(library.Get(), "VerifyScreenSavePwd");
    if (!verify) return true;
    ::ShowCursor(TRUE);
    const bool ok = verify(run.Window) != FALSE;
    if (!ok) {
        run.MouseAllowance = kMouseAllowance;
        ::ShowCursor(FALSE);
    }
    return ok;
}

LRESULT CALLBACK SaverWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        ::SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    TRun* const found = RunOf(wnd);
    if (found == nullptr) return ::DefWindowProcA(wnd, msg, wParam, lParam);
    TRun& run = *found;
    switch (msg) {
    case WM_DESTROY:
        RunState.StopRequested = 1;
        if (wnd == run.Window) VanishRunWindows(run);
        // Nothing after this message may reach a run that is ending.
        ::SetWindowLongPtrA(wnd, GWLP_USERDATA, 0);
        break;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        ::BeginPaint(wnd, &ps);
        ::EndPaint(wnd, &ps);
        return 0;
    }
    case WM_CLOSE:
        if (run.FullScreen && RunState.StopRequested == 0 && !VerifyPassword(run)) return 0;
        if (wnd == run.Window) VanishRunWindows(run);
        // Hidden, the window is not also minimised: that would change its
        // state a second time, and each change waits for the window manager.
        ::ShowWindow(wnd, SW_HIDE);
        break;
    case WM_ACTIVATEAPP:
        if (wParam == 0) ::PostMessageA(wnd, WM_CLOSE, 0, 0);
        break;
    case WM_POWER:
        if (wParam == PWR_CRITICALRESUME) ::PostMessageA(wnd, WM_CLOSE, 0, 0);
        break;
    case WM_POWERBROADCAST:
        if ((wParam == PBT_APMRESUMECRITICAL || wParam == PBT_APMRESUMESUSPEND ||
             wParam == PBT_APMRESUMEAUTOMATIC) &&
            (lParam & 1) == 0)
            ::PostMessageA(wnd, WM_CLOSE, 0, 0);
        break;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        if (run.FullScreen) KeyRules(run, wParam);
        break;
    case WM_SYSCOMMAND:
        if (run.FullScreen) {
            const WPARAM command = wParam & 0xFFF0;
            if (command == SC_NEXTWINDOW || command == SC_PREVWINDOW || command == SC_SCREENSAVE) return 0;
            if (command == SC_MONITORPOWER && lParam == 2 && !run.Paused) {
                run.PausedByMonitor = true;
                run.Paused = true;
            }
        }
        break;
    case WM_MOUSEMOVE: {
        // The position word alone: x in the low, y in the high 16 bits.
        const LPARAM position = lParam & 0xFFFFFFFF;
        if (position != run.LastMousePosition) {
            MouseRules(run);
            run.LastMousePosition = position;
        }
        break;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        if (run.FullScreen) RequestStop(run);
        break;
    case WM_DISPLAYCHANGE:
        // Every top-level window hears it; the saver window acts once.
        if (wnd == run.Window) FollowDisplayChange(run);
        break;
    default:
        break;
    }
    return ::DefWindowProcA(wnd, msg, wParam, lParam);
}

LRESULT CALLBACK CoverWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_PAINT) return ::DefWindowProcA(wnd, msg, wParam, lParam);
    // Input on any monitor acts as on the saver window.
    return SaverWindowProc(wnd, msg, wParam, lParam);
}
