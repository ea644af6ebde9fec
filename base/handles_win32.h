#pragma once
#include <windows.h>

#include <utility>

// Owner types for Win32 handles. Each owns exactly one handle, cannot be
// copied, and releases the handle with the function its traits name.
template <typename Traits>
class TUniqueHandle {
public:
    using Handle = typename Traits::Handle;

    TUniqueHandle() = default;
    explicit TUniqueHandle(Handle h) : handle_(h) {}
    TUniqueHandle(const TUniqueHandle&) = delete;
    TUniqueHandle& operator=(const TUniqueHandle&) = delete;
    TUniqueHandle(TUniqueHandle&& other) noexcept : handle_(other.Release()) {}
    TUniqueHandle& operator=(TUniqueHandle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    ~TUniqueHandle() { Reset(); }

    Handle Get() const { return handle_; }
    explicit operator bool() const { return Traits::Valid(handle_); }
    Handle Release() {
        Handle h = handle_;
        handle_ = Traits::Invalid();
        return h;
    }
    void Reset(Handle h = Traits::Invalid()) {
        if (Traits::Valid(handle_)) Traits::Close(handle_);
        handle_ = h;
    }
    // For APIs that fill an out-parameter; the old handle is released first.
    Handle* Put() {
        Reset();
        return &handle_;
    }

private:
    Handle handle_ = Traits::Invalid();
};

template <typename H, typename Closer, Closer close, H invalid = nullptr>
struct TNullTraits {
    using Handle = H;
    static Handle Invalid() { return invalid; }
    static bool Valid(Handle h) { return h != invalid; }
    static void Close(Handle h) { close(h); }
};

struct TKernelTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static bool Valid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { ::CloseHandle(h); }
};

struct TFindTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static bool Valid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { ::FindClose(h); }
};

struct TRegKeyTraits {
    using Handle = HKEY;
    static Handle Invalid() { return nullptr; }
    static bool Valid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { ::RegCloseKey(h); }
};

struct TGdiTraits {
    using Handle = HGDIOBJ;
    static Handle Invalid() { return nullptr; }
    static bool Valid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { ::DeleteObject(h); }
};

struct TMemDCTraits {
    using Handle = HDC;
    static Handle Invalid() { return nullptr; }
    static bool Valid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { ::DeleteDC(h); }
};

struct TModuleTraits {
    using Handle = HMODULE;
    static Handle Invalid() { return nullptr; }
    static bool Valid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { ::FreeLibrary(h); }
};

struct TWindowTraits {
    using Handle = HWND;
    static Handle Invalid() { return nullptr; }
    static bool Valid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { ::DestroyWindow(h); }
};

using TKernelHandle = TUniqueHandle<TKernelTraits>;  // files, threads, events
using TFindHandle = TUniqueHandle<TFindTraits>;
using TRegKey = TUniqueHandle<TRegKeyTraits>;
using TGdiObject = TUniqueHandle<TGdiTraits>;  // bitmaps, fonts, brushes, pens
using TMemDC = TUniqueHandle<TMemDCTraits>;    // DCs from CreateCompatibleDC
using TModule = TUniqueHandle<TModuleTraits>;
using TWindow = TUniqueHandle<TWindowTraits>;

// A DC obtained with GetDC, released with ReleaseDC on the same window.
class TWindowDC {
public:
    TWindowDC() = default;
    explicit TWindowDC(HWND wnd) : wnd_(wnd), dc_(::GetDC(wnd)) {}
    TWindowDC(const TWindowDC&) = delete;
    TWindowDC& operator=(const TWindowDC&) = delete;
    ~TWindowDC() { Reset(); }
    // Gives the DC back, then takes `wnd`'s, if one is named.
    void Reset(HWND wnd = nullptr) {
        if (dc_) ::ReleaseDC(wnd_, dc_);
        wnd_ = wnd;
        dc_ = wnd ? ::GetDC(wnd) : nullptr;
    }
    HDC Get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

private:
    HWND wnd_ = nullptr;
    HDC dc_ = nullptr;
};

// Selects an object into a DC for the lifetime of this guard.
class TSelectGuard {
public:
    TSelectGuard(HDC dc, HGDIOBJ obj) : dc_(dc), old_(::SelectObject(dc, obj)) {}
    TSelectGuard(const TSelectGuard&) = delete;
    TSelectGuard& operator=(const TSelectGuard&) = delete;
    ~TSelectGuard() {
        if (old_ && old_ != HGDI_ERROR) ::SelectObject(dc_, old_);
    }

private:
    HDC dc_;
    HGDIOBJ old_;
};

// Loads a system library from the system folder only, never from the
// current or the program's folder. Null when it is missing.
HMODULE LoadSystemLibrary(const char* name);
