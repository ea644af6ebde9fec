#pragma once
#include <windows.h>

#include <GL/gl.h>
#include <GL/glu.h>

#include <atomic>
#include <cstdint>
#include <functional>

#include "base/exception.h"
#include "base/handles_win32.h"

// OpenGL rendering contexts bound to windows, and the control the renderer
// draws through.

class EOpenGLException : public Exception {
public:
    using Exception::Exception;
};

// ---------------------------------------------------------------------------
// Entry points of "OpenGL32.dll" and "GLU32.dll", resolved by name when the
// program starts (and once more at the first context creation if that
// failed). Call them as GL.Begin(GL_QUADS), GLU.Perspective(...).

#define QV_GL_ENTRY(name) decltype(&::gl##name) name = nullptr;
#define QV_GLU_ENTRY(name) decltype(&::glu##name) name = nullptr;
#define QV_WGL_ENTRY(name) decltype(&::wgl##name) name = nullptr;

// clang-format off
#define QV_GL_ENTRIES(X)                                                                                  \
    X(BindTexture) X(Begin) X(Clear) X(ClearColor) X(Disable) X(DisableClientState) X(DrawArrays)         \
    X(Enable) X(EnableClientState) X(End) X(Finish) X(Fogf) X(Fogfv) X(Fogi) X(GenTextures) X(GetDoublev) \
    X(GetError) X(GetIntegerv) X(GetString) X(Hint) X(IsEnabled) X(IsTexture) X(LightModeli) X(Lightfv)  \
    X(LoadIdentity) X(MatrixMode) X(PixelStorei) X(PolygonMode) X(PopMatrix) X(PushMatrix) X(ReadBuffer) \
    X(ReadPixels) X(ShadeModel) X(TexCoord2d) X(TexEnvi) X(TexImage2D) X(TexParameteri) X(Translated)    \
    X(Translatef) X(Vertex3d) X(VertexPointer) X(Viewport)
// clang-format on
#define QV_GLU_ENTRIES(X) X(GetString) X(LookAt) X(Perspective)
#define QV_WGL_ENTRIES(X) \
    X(CreateLayerContext) X(DeleteContext) X(GetCurrentContext) X(GetProcAddress) X(MakeCurrent)

struct TOpenGLEntries {
    QV_GL_ENTRIES(QV_GL_ENTRY)
    QV_WGL_ENTRIES(QV_WGL_ENTRY)
};
struct TGluEntries {
    QV_GLU_ENTRIES(QV_GLU_ENTRY)
};

// The loaded libraries' tables (one per process).
extern TOpenGLEntries& GL;
extern TGluEntries& GLU;

// Loads both libraries and resolves every entry point unless that is done
// already. On any failure both are released again and the tables cleared;
// the result says whether the entry points are usable.
bool LoadOpenGL();
bool OpenGLLoaded();
void UnloadOpenGL();

// ---------------------------------------------------------------------------
// Context operations.

enum TContextOption : unsigned {
    kDoubleBuffer = 1,
    kGdiSupport = 2,
    kStereo = 4,
};

// Owns one rendering context. Reset unbinds it first when the calling thread
// has it bound, then deletes it; it throws, keeping the context, when another
// thread still has it current. The destructor cannot throw: a context that
// cannot be deleted then goes with the process.
class TRenderContext {
public:
    TRenderContext() = default;
    explicit TRenderContext(HGLRC context) : context_(context) {}
    TRenderContext(const TRenderContext&) = delete;
    TRenderContext& operator=(const TRenderContext&) = delete;
    TRenderContext(TRenderContext&& other) noexcept : context_(other.context_) { other.context_ = nullptr; }
    TRenderContext& operator=(TRenderContext&& other);
    ~TRenderContext();

    HGLRC Get() const { return context_; }
    explicit operator bool() const { return context_ != nullptr; }
    void Reset();

private:
    HGLRC context_ = nullptr;
};

// A new context and the palette made for it (null unless the pixel format
// needs one). The palette must outlive the context's use of the DC.
struct TNewContext {
    TRenderContext Context;
    TGdiObject Palette;
};

TNewContext NewRenderContext(HDC dc, unsigned options, int colorBits, int stencilBits, int accumBits,
                             int auxBuffers, int layer);
void BindRenderContext(HDC dc, HGLRC context);
void UnbindRenderContext();
void DisposeRenderContext(HGLRC context);
bool ContextIsBound();

// The registry of contexts made current through BindRenderContext.
// Nesting depth of binds in the calling thread: depth is counted per thread,
// so that a second thread's bind is checked against the registry instead of
// being taken for a nested bind of the first.
std::int32_t BindDepth();
bool ContextIsActive(HGLRC context);
// Pixel format whose version flags were last read; 0: read at the next bind.
std::int32_t LastPixelFormat();
// Whether the implementation of that format is OpenGL 1.1 or later.
bool GLVersion11();

// ---------------------------------------------------------------------------
// An OpenGL context bound to one window. Created in the thread that will draw,
// which keeps the context current for the control's whole life.
class TGLControl {
public:
    using TCallback = std::function<void(TGLControl&)>;

    // Create: stores the window and size, becomes Active and sets the context
    // up; onInit runs at the end of the set-up.
    TGLControl(HWND window, int width, int height, TCallback onInit = {});
    TGLControl(const TGLControl&) = delete;
    TGLControl& operator=(const TGLControl&) = delete;
    // Releases what the owner has not: unbinds the context if this thread
    // holds it, deletes it, then gives the window's DC back.
    ~TGLControl();

    void Enable();
    void SetupProjection();
    int Paint();
    void Render();
    // Unbinds the context if it is bound, deletes it and forgets it. Safe to
    // call twice.
    void ReleaseContext();
    // Null until created and after ReleaseContext.
    HGLRC RenderContext() const { return context_.Get(); }

    std::int32_t Width;
    std::int32_t Height;
    HWND Window;                    // not owned
    HDC DeviceContext = nullptr;  // GetDC of Window, held by dc_
    RECT ViewportRect{0, 0, 0, 0};  // the part of the window drawn in, window coordinates
    // The swap interval the driver accepted through WGL_EXT_swap_control
    // (1: swaps wait for the monitor's refresh); 0 where it is not offered.
    int SwapInterval = 0;
    TCallback OnRender;  // between clear and swap, once per frame
    TCallback OnInit;
    bool Active = true;

private:
    void SetupContext();
    void DropPalette();

    TWindowDC dc_;
    TGdiObject palette_;      // for palette pixel formats; null otherwise
    TRenderContext context_;  // goes before the DC and the palette it draws with
};
