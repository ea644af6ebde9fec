#include "render/glcontext_win32.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "base/system_win32.h"
#include "render/scene_math.h"

namespace {

// The loaded OpenGL and GLU libraries, process-wide: the system maps a
// library once per process, and its entry points serve every context on
// every thread. With the tables go the modules that own them and the lock
// for loading and unloading. The registry of contexts made current is
// process-wide as well: a context may be current on one thread only,
// whichever object owns it, and only a registry seen by all threads can
// tell. The version flags describe the pixel format last bound, by any
// thread.
struct TOpenGLLibrary {
    TOpenGLEntries gl;
    TGluEntries glu;
    std::mutex libraryLock;  // guards the modules and the tables
    TModule openGLModule;
    TModule gluModule;

    std::mutex registryLock;            // guards activeContexts
    std::vector<HGLRC> activeContexts;  // made current through BindRenderContext

    std::atomic<std::int32_t> lastPixelFormat{0};  // whose flags were read; 0: read at the next bind
    std::atomic<bool> version11{false};            // that format's implementation is OpenGL 1.1 or later
};
TOpenGLLibrary library;

}  // namespace

TOpenGLEntries& GL = library.gl;
TGluEntries& GLU = library.glu;

namespace {

// ---------------------------------------------------------------------------
// Library loading.

template <typename T>
bool Resolve(HMODULE module, const char* name, T& entry) {
    entry = ProcAddress<T>(module, name);
    return entry != nullptr;
}

bool LoadLocked() {
    if (library.openGLModule && library.gluModule) return true;
    TModule gl(LoadSystemLibrary("OpenGL32.dll"));
    TModule glu(LoadSystemLibrary("GLU32.dll"));
    if (!gl || !glu) return false;  // both owners release what did load

    bool ok = true;
#define QV_RESOLVE_GL(name) ok = Resolve(gl.Get(), "gl" #name, GL.name) && ok;
#define QV_RESOLVE_WGL(name) ok = Resolve(gl.Get(), "wgl" #name, GL.name) && ok;
#define QV_RESOLVE_GLU(name) ok = Resolve(glu.Get(), "glu" #name, GLU.name) && ok;
    QV_GL_ENTRIES(QV_RESOLVE_GL)
    QV_WGL_ENTRIES(QV_RESOLVE_WGL)
    QV_GLU_ENTRIES(QV_RESOLVE_GLU)
#undef QV_RESOLVE_GL
#undef QV_RESOLVE_WGL
#undef QV_RESOLVE_GLU
    if (!ok) {
        GL = TOpenGLEntries{};
        GLU = TGluEntries{};
        return false;
    }
    library.openGLModule = std::move(gl);
    library.gluModule = std::move(glu);
    return true;
}

// Loads the libraries while the program's modules initialise; a failure
// stays silent here and surfaces at the first context creation.
struct TOpenGLModuleInit {
    TOpenGLModuleInit() { LoadOpenGL(); }
    ~TOpenGLModuleInit() { UnloadOpenGL(); }
} openGLModuleInit;

// ---------------------------------------------------------------------------
// Context registry.

bool InRegistry(HGLRC context) {
    const auto& list = library.activeContexts;
    return std::find(list.begin(), list.end(), context) != list.end();
}

// Binds nest per thread: a context is current on one thread, so the depth
// of its binds belongs to that thread and must not be taken for a nested
// bind by another.
thread_local std::int32_t bindDepth = 0;

[[noreturn]] void ThrowWin32Error() {
    throw EOpenGLException("Win32 error " + std::to_string(::GetLastError()));
}

// Reads the implementation's version (and, with it, the GLU version and the
// extension string, which nothing here needs) for the current context.
void ReadImplementationFlags() {
    const char* version = reinterpret_cast<const char*>(GL.GetString(GL_VERSION));
    library.version11 = VersionAtLeast11(version);
}

unsigned char PaletteComponent(int index, int bits, int shift) {
    if (bits <= 0) return 0;  // a format without this component
    const unsigned mask = (1u << std::min(bits, 8)) - 1;
    const unsigned value = (static_cast<unsigned>(index) >> shift) & mask;
    return static_cast<unsigned char>(value * 255 / mask);
}

}  // namespace

bool LoadOpenGL() {
    std::lock_guard<std::mutex> guard(library.libraryLock);
    return LoadLocked();
}

bool OpenGLLoaded() {
    std::lock_guard<std::mutex> guard(library.libraryLock);
    return static_cast<bool>(library.openGLModule);
}

void UnloadOpenGL() {
    std::lock_guard<std::mutex> guard(library.libraryLock);
    GL = TOpenGLEntries{};
    GLU = TGluEntries{};
    library.gluModule.Reset();
    library.openGLModule.Reset();
}

// ---------------------------------------------------------------------------

TNewContext NewRenderContext(HDC dc, unsigned options, int colorBits, int stencilBits, int accumBits,
                             int auxBuffers, int layer) {
    PIXELFORMATDESCRIPTOR pfd{};
    pfd.nSize = sizeof(PIXELFORMATDESCRIPTOR);
    pfd.nVersion = 1;
    const DWORD objectType = ::GetObjectType(dc);
    pfd.dwFlags = PFD_SUPPORT_OPENGL;
    if (objectType == OBJ_MEMDC || objectType == OBJ_METADC || objectType == OBJ_ENHMETADC) {
        pfd.dwFlags |= PFD_DRAW_TO_BITMAP;
    } else {
        pfd.dwFlags |= PFD_DRAW_TO_WINDOW;
    }
    if (options & kDoubleBuffer) pfd.dwFlags |= PFD_DOUBLEBUFFER;
    if (options & kGdiSupport) pfd.dwFlags |= PFD_SUPPORT_GDI;
    if (options & kStereo) pfd.dwFlags |= PFD_STEREO;
    pfd.iPixelType = PFD_TYPE_RGBA;
    pfd.cColorBits = static_cast<BYTE>(colorBits);
    pfd.cStencilBits = static_cast<BYTE>(stencilBits);
    pfd.cAccumBits = static_cast<BYTE>(accumBits);
    pfd.cAuxBuffers = static_cast<BYTE>(auxBuffers);
    pfd.cDepthBits = 32;
    if (layer == 0) {
        pfd.iLayerType = PFD_MAIN_PLANE;
    } else if (layer > 0) {
        pfd.iLayerType = PFD_OVERLAY_PLANE;
    } else {
        pfd.iLayerType = static_cast<BYTE>(PFD_UNDERLAY_PLANE);
    }

    if (objectType == 0) ThrowWin32Error();
    if (!LoadOpenGL()) ThrowWin32Error();

    const int format = ::ChoosePixelFormat(dc, &pfd);
    if (format == 0) ThrowWin32Error();
    if (::GetPixelFormat(dc) != format) {
        if (!::SetPixelFormat(dc, format, &pfd)) ThrowWin32Error();
    }
    ::DescribePixelFormat(dc, format, sizeof(pfd), &pfd);

    TNewContext result;
    if (pfd.dwFlags & PFD_NEED_PALETTE) {
        const int entries = 1 << std::min<int>(pfd.cColorBits, 8);
        // LOGPALETTE declares one entry; the buffer holds all of them.
        std::vector<std::uint8_t> buffer(sizeof(LOGPALETTE) + sizeof(PALETTEENTRY) * entries);
        auto* palette = reinterpret_cast<LOGPALETTE*>(buffer.data());
        palette->palVersion = 0x300;
        palette->palNumEntries = static_cast<WORD>(entries);
        for (int i = 0; i < entries; ++i) {
            PALETTEENTRY& e = palette->palPalEntry[i];
            e.peRed = PaletteComponent(i, pfd.cRedBits, pfd.cRedShift);
            e.peGreen = PaletteComponent(i, pfd.cGreenBits, pfd.cGreenShift);
            e.peBlue = PaletteComponent(i, pfd.cBlueBits, pfd.cBlueShift);
            e.peFlags = 0;
        }
        result.Palette.Reset(::CreatePalette(palette));
        if (!result.Palette) ThrowWin32Error();
        ::SelectPalette(dc, static_cast<HPALETTE>(result.Palette.Get()), FALSE);
        ::RealizePalette(dc);
    }

    result.Context = TRenderContext(GL.CreateLayerContext(dc, layer));
    if (!result.Context) ThrowWin32Error();
    library.lastPixelFormat = 0;
    return result;
}

void BindRenderContext(HDC dc, HGLRC context) {
    if (bindDepth == 0) {
        std::lock_guard<std::mutex> guard(library.registryLock);
        if (InRegistry(context))
            throw EOpenGLException("Rendering context already active in another thread.");
        if (!GL.MakeCurrent || !GL.MakeCurrent(dc, context)) {
            throw EOpenGLException("wglMakeCurrent failed, error: " + std::to_string(::GetLastError()));
        }
        library.activeContexts.push_back(context);
    }
    ++bindDepth;
    if (bindDepth == 1) {
        const int format = ::GetPixelFormat(dc);
        if (format != library.lastPixelFormat) {
            ReadImplementationFlags();
            library.lastPixelFormat = format;
        }
    }
}

void UnbindRenderContext() {
    if (bindDepth < 1) return;
    --bindDepth;
    if (bindDepth > 0) return;
    {
        std::lock_guard<std::mutex> guard(library.registryLock);
        auto& list = library.activeContexts;
        const HGLRC current = GL.GetCurrentContext();
        list.erase(std::remove(list.begin(), list.end(), current), list.end());
    }
    if (!GL.MakeCurrent(nullptr, nullptr)) throw EOpenGLException("wglMakeCurrent failed");
}

void DisposeRenderContext(HGLRC context) {
    std::lock_guard<std::mutex> guard(library.registryLock);
    if (InRegistry(context)) {
        throw EOpenGLException("Cannot delete rendering context. It is still in use by another thread.");
    }
    if (!GL.DeleteContext || !GL.DeleteContext(context)) throw EOpenGLException("wglDeleteContext failed");
}

bool ContextIsBound() {
    return bindDepth > 0;
}

std::int32_t BindDepth() {
    return bindDepth;
}

std::int32_t LastPixelFormat() {
    return library.lastPixelFormat;
}

bool GLVersion11() {
    return library.version11;
}

bool ContextIsActive(HGLRC context) {
    std::lock_guard<std::mutex> guard(library.registryLock);
    return InRegistry(context);
}

// ---------------------------------------------------------------------------

TRenderContext& TRenderContext::operator=(TRenderContext&& other) {
    if (this != &other) {
        Reset();
        context_ = other.context_;
        other.context_ = nullptr;
    }
    return *this;
}

TRenderContext::~TRenderContext() {
    try {
        Reset();
    } catch (const Exception&) {
    }
}

void TRenderContext::Reset() {
    if (!context_) return;
    if (ContextIsBound() && GL.GetCurrentContext && GL.GetCurrentContext() == context_) {
        while (ContextIsBound()) UnbindRenderContext();
    }
    DisposeRenderContext(context_);
    context_ = nullptr;
}

TGLControl::TGLControl(HWND window, int width, int height, TCallback onInit)
    : Width(width), Height(height), Window(window), OnInit(std::move(onInit)), dc_(window) {
    SetupContext();
}

TGLControl::~TGLControl() {
    try {
        ReleaseContext();
    } catch (const Exception&) {
        // A context that cannot be released now goes with the process.
    }
    DropPalette();
}

void TGLControl::DropPalette() {
    // A palette still selected into the DC cannot be deleted.
    if (!palette_) return;
    ::SelectPalette(DeviceContext, static_cast<HPALETTE>(::GetStockObject(DEFAULT_PALETTE)), FALSE);
    palette_.Reset();
}

void TGLControl::ReleaseContext() {
    context_.Reset();
}

void TGLControl::SetupContext() {
    DeviceContext = dc_.Get();
    TNewContext created = NewRenderContext(DeviceContext, kDoubleBuffer, 32, 0, 0, 0, 0);
    if (!created.Context) throw Exception("Erzeugung des Renderingkontexts schlug fehl.");
    context_ = std::move(created.Context);
    palette_ = std::move(created.Palette);

    try {
        BindRenderContext(DeviceContext, context_.Get());
        if (!library.version11) {
            context_.Reset();
            throw Exception("Diese OpenGL version ist veraltet.");
        }
        ViewportRect = RECT{0, 0, Width, Height};
        // One swap per refresh where the driver offers the extension; the
        // run loop's own pacing covers drivers that do not.
        using TSwapInterval = BOOL(WINAPI*)(int);
        const auto swapInterval = GL.GetProcAddress ? reinterpret_cast<TSwapInterval>(reinterpret_cast<void*>(
                                                          GL.GetProcAddress("wglSwapIntervalEXT")))
                                                    : nullptr;
        if (swapInterval && swapInterval(1)) SwapInterval = 1;
        SetupProjection();
        GL.ClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        if (OnInit) OnInit(*this);
    } catch (...) {
        // The constructor does not finish, so no destructor runs: give the
        // context back here.
        try {
            ReleaseContext();
        } catch (const Exception&) {
        }
        DropPalette();
        throw;
    }
}

void TGLControl::Enable() {
    if (Active) return;
    Active = true;
    if (context_) SetupProjection();
}

void TGLControl::SetupProjection() {
    const int width = ViewportRect.right - ViewportRect.left, height = ViewportRect.bottom - ViewportRect.top;
    GL.MatrixMode(GL_PROJECTION);
    GL.LoadIdentity();
    GLU.Perspective(kFieldOfView, ProjectionAspect(width, height), kNearPlane, kFarPlane);
    GL.MatrixMode(GL_MODELVIEW);
    // OpenGL counts window rows from the bottom.
    GL.Viewport(ViewportRect.left, Height - ViewportRect.bottom, width, height);
}

int TGLControl::Paint() {
    PAINTSTRUCT ps;
    ::BeginPaint(Window, &ps);
    // EndPaint must follow BeginPaint even when the frame throws.
    struct TEndPaint {
        HWND window;
        PAINTSTRUCT* ps;
        ~TEndPaint() { ::EndPaint(window, ps); }
    } endPaint{Window, &ps};
    if (Active) Render();
    return 0;
}

void TGLControl::Render() {
    GL.Clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    GL.MatrixMode(GL_MODELVIEW);
    GL.LoadIdentity();
    if (OnRender) OnRender(*this);
    ::SwapBuffers(DeviceContext);
}
