// The dismissal benchmark's baseline: the least a full-screen program can do.
// It creates a top-most window over the whole screen, shows it, and destroys
// it at the first key press, click or mouse move to a new position (or the
// number given as the first argument of them). With QV_TIMELINE naming a file
// it appends the same milestones as the saver: "window-shown" and
// "windows-vanish", in milliseconds since the process was created.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int movesLeft = 1;
LPARAM lastMove = -1;

void Mark(const char* event) {
    char path[MAX_PATH] = "";
    const DWORD n = ::GetEnvironmentVariableA("QV_TIMELINE", path, sizeof path);
    if (n == 0 || n >= sizeof path) return;
    FILETIME now{}, created{}, exited{}, kernel{}, user{};
    ::GetSystemTimeAsFileTime(&now);
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ticks = [](const FILETIME& t) {
        return static_cast<long long>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    };
    if (FILE* f = std::fopen(path, "ab")) {
        std::fprintf(f, "%.3f %s\r\n", static_cast<double>(ticks(now) - ticks(created)) / 1e4, event);
        std::fclose(f);
    }
}

void End(HWND wnd) {
    Mark("windows-vanish");
    ::DestroyWindow(wnd);
}

LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_KEYDOWN:
    case WM_LBUTTONDOWN:
        End(wnd);
        return 0;
    case WM_MOUSEMOVE:
        if (lParam != lastMove) {
            lastMove = lParam;
            if (--movesLeft <= 0) End(wnd);
        }
        return 0;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    default:
        return ::DefWindowProcA(wnd, msg, wParam, lParam);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) movesLeft = std::atoi(argv[1]);
    WNDCLASSA wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = "QvBaselineWindow";
    ::RegisterClassA(&wc);
    HWND wnd = ::CreateWindowExA(WS_EX_TOPMOST, wc.lpszClassName, "Quorvane baseline", WS_POPUP, 0, 0,
                                 ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN), nullptr,
                                 nullptr, wc.hInstance, nullptr);
    if (!wnd) return 1;
    ::ShowWindow(wnd, SW_SHOW);
    ::SetForegroundWindow(wnd);
    ::UpdateWindow(wnd);
    Mark("window-shown");
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    return 0;
}
