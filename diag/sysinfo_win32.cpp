#include "diag/sysinfo_win32.h"

#include <cpuid.h>
#include <x86intrin.h>

#include "base/handles_win32.h"
#include "render/glcontext_win32.h"

namespace {

class TCpuidInstruction : public TCpuidSource {
public:
    // __get_cpuid_max toggles the ID bit of the flags register first.
    bool HasCpuid() const override { return __get_cpuid_max(0, nullptr) != 0; }
    TCpuidRegs Query(std::uint32_t leaf) const override {
        TCpuidRegs r;
        unsigned a, b, c, d;
        __cpuid(leaf, a, b, c, d);
        r.Eax = a;
        r.Ebx = b;
        r.Ecx = c;
        r.Edx = d;
        return r;
    }
};

class TSystemClock : public TSpeedClock {
public:
    std::int64_t Frequency() override {
        LARGE_INTEGER f;
        return QueryPerformanceFrequency(&f) ? f.QuadPart : 0;
    }
    std::int64_t Counter() override {
        LARGE_INTEGER c;
        QueryPerformanceCounter(&c);
        return c.QuadPart;
    }
    std::uint64_t TimeStamp() override { return __rdtsc(); }
    void RaisePriority() override {
        saved_ = GetThreadPriority(GetCurrentThread());
        if (saved_ != THREAD_PRIORITY_ERROR_RETURN)
            SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    }
    void RestorePriority() override {
        if (saved_ != THREAD_PRIORITY_ERROR_RETURN) SetThreadPriority(GetCurrentThread(), saved_);
    }

private:
    int saved_ = THREAD_PRIORITY_ERROR_RETURN;
};

// Through the entry points the renderer resolved from the system folder's
// "OpenGL32.dll": without them there is no context either.
bool HasCurrentContext() {
    return GL.GetCurrentContext && GL.GetString && GL.GetCurrentContext();
}

std::string GlString(GLenum name) {
    if (!HasCurrentContext()) return "";
    const GLubyte* s = GL.GetString(name);
    return s ? reinterpret_cast<const char*>(s) : "";
}

}  // namespace

const TCpuInfo& IdentifyCpu() {
    static const TCpuInfo info = [] {
        TCpuInfo i = IdentifyCpuFrom(TCpuidInstruction());
        if (CanMeasureSpeed(i)) {
            TSystemClock clock;
            i.RawMHz = MeasureSpeed(clock);
        }
        return i;
    }();
    return info;
}

std::string SystemText() {
    try {
        OSVERSIONINFOA v{};
        v.dwOSVersionInfoSize = sizeof(v);
        if (!GetVersionExA(&v)) return "";
        v.szCSDVersion[sizeof(v.szCSDVersion) - 1] = '\0';
        return SystemText(v.dwPlatformId, v.dwMajorVersion, v.dwMinorVersion, v.dwBuildNumber,
                          v.szCSDVersion);
    } catch (...) {
        return "";
    }
}

std::string ProcessorText() {
    try {
        SYSTEM_INFO si{};
        GetSystemInfo(&si);
        const TCpuInfo& cpu = IdentifyCpu();
        return ProcessorText(si.dwNumberOfProcessors, cpu.CpuName, cpu.RawMHz);
    } catch (...) {
        return "failed";
    }
}

std::string MemoryText() {
    try {
        // The extended call, because the plain one saturates at 4 GiB.
        MEMORYSTATUSEX m{};
        m.dwLength = sizeof(m);
        if (!GlobalMemoryStatusEx(&m)) return "";
        return MemoryText(m.ullAvailPhys, m.ullTotalPhys);
    } catch (...) {
        return "";
    }
}

std::string OpenGLVersionText() {
    try {
        return GlString(GL_VERSION);
    } catch (...) {
        return "";
    }
}

std::string AdapterText() {
    try {
        if (!HasCurrentContext()) return "";
        return AdapterText(GlString(GL_VENDOR), GlString(GL_RENDERER));
    } catch (...) {
        return "";
    }
}

std::string AccelerationText() {
    try {
        TWindowDC dc(GetDesktopWindow());
        if (!dc) return "";
        PIXELFORMATDESCRIPTOR pfd{};
        if (DescribePixelFormat(dc.Get(), 1, sizeof(pfd), &pfd) == 0) return "";
        return AccelerationText(pfd.dwFlags);
    } catch (...) {
        return "";
    }
}

std::string ResolutionText(HWND saverWindow) {
    try {
        RECT r{};
        if (!saverWindow || !GetWindowRect(saverWindow, &r)) return ResolutionText(0, 0);
        return ResolutionText(r.right - r.left, r.bottom - r.top);
    } catch (...) {
        return ResolutionText(0, 0);
    }
}
