#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "base/random.h"
#include "base/handles_win32.h"
#include "imaging/bitmap_win32.h"
#include "render/glcontext_win32.h"
#include "render/scene_math.h"
#include "render/scene_state.h"
#include "render/scene_win32.h"
#include "render/textures_win32.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// --- A real window with a real context --------------------------------------

const char* RegisterTestClass() {
    static const char* name = [] {
        WNDCLASSA wc{};
        wc.style = CS_OWNDC;
        wc.lpfnWndProc = ::DefWindowProcA;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = "QvRenderTest";
        ::RegisterClassA(&wc);
        return "QvRenderTest";
    }();
    return name;
}

TWindow MakeWindow(int width, int height) {
    TWindow w(::CreateWindowExA(0, RegisterTestClass(), "render test", WS_POPUP | WS_VISIBLE, 0, 0, width,
                                height, nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr));
    return w;
}

std::string MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const EOpenGLException& e) {
        return e.what();
    }
    return "(no EOpenGLException)";
}

class ContextTest : public ::testing::Test {
protected:
    void SetUp() override {
        window_ = MakeWindow(320, 240);
        ASSERT_TRUE(window_);
        control_ = std::make_unique<TGLControl>(window_.Get(), 320, 240);
    }
    void TearDown() override { control_.reset(); }

    TWindow window_;
    std::unique_ptr<TGLControl> control_;
};

TEST_F(ContextTest, NestedBindsOnlyCountAndTheLastUnbindReleases) {
    const HGLRC rc = control_->RenderContext();
    ASSERT_EQ(BindDepth(), 1);
    ASSERT_EQ(GL.GetCurrentContext(), rc);

    BindRenderContext(control_->DeviceContext, rc);
    EXPECT_EQ(BindDepth(), 2);
    UnbindRenderContext();
    EXPECT_EQ(BindDepth(), 1);
    EXPECT_EQ(GL.GetCurrentContext(), rc);
    EXPECT_TRUE(ContextIsActive(rc));

    UnbindRenderContext();
    EXPECT_EQ(BindDepth(), 0);
    EXPECT_FALSE(ContextIsBound());
    EXPECT_EQ(GL.GetCurrentContext(), nullptr);
    EXPECT_FALSE(ContextIsActive(rc));

    UnbindRenderContext();  // at depth 0: nothing
    EXPECT_EQ(BindDepth(), 0);

    BindRenderContext(control_->DeviceContext, rc);
    EXPECT_EQ(GL.GetCurrentContext(), rc);
}

TEST_F(ContextTest, DisposingACurrentContextIsRefusedAndLeavesItAlive) {
    const HGLRC rc = control_->RenderContext();
    EXPECT_EQ(MessageOf([&] { DisposeRenderContext(rc); }),
              "Cannot delete rendering context. It is still in use by another thread.");
    EXPECT_TRUE(ContextIsActive(rc));
    EXPECT_EQ(GL.GetCurrentContext(), rc);
    EXPECT_NE(GL.GetString(GL_VERSION), nullptr);

    // Released, it can be deleted; the control then has nothing left to free.
    control_->ReleaseContext();
    EXPECT_EQ(control_->RenderContext(), nullptr);
    EXPECT_FALSE(ContextIsBound());
    EXPECT_EQ(GL.GetCurrentContext(), nullptr);
}

TEST_F(ContextTest, ASecondThreadCannotBindAContextInUse) {
    const HGLRC rc = control_->RenderContext();
    std::string message;
    int depthInThread = -1;
    std::thread other([&] {
        TWindowDC dc(control_->Window);
        message = MessageOf([&] { BindRenderContext(dc.Get(), rc); });
        depthInThread = BindDepth();
    });
    other.join();
    EXPECT_EQ(message, "Rendering context already active in another thread.");
    EXPECT_EQ(depthInThread, 0);
    EXPECT_EQ(BindDepth(), 1);  // this thread's bind is untouched

    // Once released here, the other thread may take it.
    UnbindRenderContext();
    bool tookIt = false;
    std::thread taker([&] {
        TWindowDC dc(control_->Window);
        BindRenderContext(dc.Get(), rc);
        tookIt = GL.GetCurrentContext() == rc;
        UnbindRenderContext();
    });
    taker.join();
    EXPECT_TRUE(tookIt);
    EXPECT_FALSE(ContextIsActive(rc));
    BindRenderContext(control_->DeviceContext, rc);
}

TEST_F(ContextTest, FailuresCarryTheirMessages) {
    UnbindRenderContext();
    const std::string win32 =
        MessageOf([] { NewRenderContext(reinterpret_cast<HDC>(0x7777), 1, 32, 0, 0, 0, 0); });
    EXPECT_EQ(win32.rfind("Win32 error ", 0), 0u) << win32;
    EXPECT_GT(win32.size(), std::string("Win32 error ").size());

    const HGLRC bogus = reinterpret_cast<HGLRC>(0x7777);
    const std::string bind = MessageOf([&] { BindRenderContext(control_->DeviceContext, bogus); });
    EXPECT_EQ(bind.rfind("wglMakeCurrent failed, error: ", 0), 0u) << bind;
    EXPECT_EQ(BindDepth(), 0);
    EXPECT_FALSE(ContextIsActive(bogus));

    EXPECT_EQ(MessageOf([&] { DisposeRenderContext(bogus); }), "wglDeleteContext failed");
    BindRenderContext(control_->DeviceContext, control_->RenderContext());
}

TEST(Control, Window800x600GetsItsAspectAndViewport) {
    TWindow window = MakeWindow(800, 600);
    TGLControl control(window.Get(), 800, 600);
    EXPECT_TRUE(control.Active);
    EXPECT_TRUE(GLVersion11());
    EXPECT_NE(LastPixelFormat(), 0);

    GLint viewport[4] = {};
    GL.GetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[0], 0);
    EXPECT_EQ(viewport[1], 0);
    EXPECT_EQ(viewport[2], 800);
    EXPECT_EQ(viewport[3], 600);

    GLdouble projection[16] = {};
    GL.GetDoublev(GL_PROJECTION_MATRIX, projection);
    EXPECT_NEAR(projection[5] / projection[0], 1.3333, 1e-4);              // aspect
    EXPECT_NEAR(projection[5], 1.0 / std::tan(25.0 * kPi / 180.0), 1e-6);  // 50 degrees vertically
    GLint mode = 0;
    GL.GetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);

    GLdouble clear[4] = {1, 1, 1, 0};
    GL.GetDoublev(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_EQ(clear[0], 0.0);
    EXPECT_EQ(clear[3], 1.0);

    bool initRan = false;
    TWindow second = MakeWindow(100, 100);
    UnbindRenderContext();
    TGLControl withInit(second.Get(), 100, 100, [&](TGLControl& c) { initRan = c.RenderContext() != nullptr; });
    EXPECT_TRUE(initRan);
    withInit.ReleaseContext();
    BindRenderContext(control.DeviceContext, control.RenderContext());
}

TEST(Control, PaintDrawsOnlyWhileActiveAndEnableRestoresTheProjection) {
    TWindow window = MakeWindow(200, 100);
    TGLControl control(window.Get(), 200, 100);
    int frames = 0;
    control.OnRender = [&frames](TGLControl&) { ++frames; };
    EXPECT_EQ(control.Paint(), 0);
    EXPECT_EQ(frames, 1);

    control.Active = false;
    control.Paint();
    EXPECT_EQ(frames, 1);

    GL.MatrixMode(GL_PROJECTION);
    GL.LoadIdentity();
    GL.Viewport(0, 0, 10, 10);
    control.Enable();
    EXPECT_TRUE(control.Active);
    GLint viewport[4] = {};
    GL.GetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 200);
    EXPECT_EQ(viewport[3], 100);
    GLdouble projection[16] = {};
    GL.GetDoublev(GL_PROJECTION_MATRIX, projection);
    EXPECT_NEAR(projection[5] / projection[0], 2.0, 1e-6);
    control.Paint();
    EXPECT_EQ(frames, 2);
}

// --- Rendered frames ----------------------------------------------------------

constexpr int kWidth = 1024;
constexpr int kHeight = 768;

struct TRgb {
    int r, g, b;
    int Max() const { return std::max(r, std::max(g, b)); }
};

// Window pixel (x right, y up from the bottom) of a world point, computed
// here from the camera's definition, independently of GLU.
struct TPixel {
    double x, y;
};
TPixel Project(double wx, double wy, double wz) {
    const TVec3 eye{0, 0, 60};
    const TVec3 c = LookAtPoint(0, 0, 60, 899, 0);
    auto norm = [](TVec3 v) {
        const double l = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
        return TVec3{v.x / l, v.y / l, v.z / l};
    };
    auto cross = [](TVec3 a, TVec3 b) {
        return TVec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
    };
    auto dot = [](TVec3 a, TVec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; };
    const TVec3 f = norm({c.x - eye.x, c.y - eye.y, c.z - eye.z});
    const TVec3 s = norm(cross(f, {0, 0, 1}));
    const TVec3 u = cross(s, f);
    const TVec3 d{wx - eye.x, wy - eye.y, wz - eye.z};
    const double depth = dot(d, f);
    const double fy = 1.0 / std::tan(25.0 * kPi / 180.0);
    const double aspect = static_cast<double>(kWidth) / kHeight;
    const double nx = fy / aspect * dot(d, s) / depth;
    const double ny = fy * dot(d, u) / depth;
    return {(nx + 1) / 2 * kWidth, (ny + 1) / 2 * kHeight};
}

class SceneTest : public ::testing::Test {
protected:
    void SetUp() override {
        window_ = MakeWindow(kWidth, kHeight);
        ASSERT_TRUE(window_);
        control_ = std::make_unique<TGLControl>(window_.Get(), kWidth, kHeight);
        control_->OnRender = [this](TGLControl&) {
            RenderFrame(scene_);
            GL.Finish();
            GL.ReadBuffer(GL_BACK);
            GL.PixelStorei(GL_PACK_ALIGNMENT, 1);
            GL.ReadPixels(0, 0, kWidth, kHeight, GL_RGB, GL_UNSIGNED_BYTE, frame_.data());
        };
        frame_.assign(kWidth * kHeight * 3, 0);

        const TPanelSize size = PanelSizeFor(kWidth, kHeight);
        scene_.PanelWidth = size.Width;
        scene_.PanelHeight = size.Height;
        picture_.assign(static_cast<size_t>(scene_.PanelWidth) * scene_.PanelHeight * 4, 0);
        bitmap_ = std::make_unique<TBitmap>(scene_.PanelWidth, scene_.PanelHeight, picture_.data());
        scene_.Picture = bitmap_.get();

        scene_.SetupPending = true;
        scene_.UploadPending = false;
        scene_.FrameStep = 0.0f;
        scene_.StarPhase = 200.0f;
        scene_.LastTileIndex = -1;
        HideStars();
    }
    void TearDown() override {
        control_.reset();
    }

    // Parks every star far outside the view.
    void HideStars() {
        for (TStar& s : scene_.StarField) s = TStar{5000.0f, 5000.0f};
    }

    void FillPicture(const std::function<TRgb(int, int)>& colour) {
        for (int y = 0; y < scene_.PanelHeight; ++y) {
            for (int x = 0; x < scene_.PanelWidth; ++x) {
                const TRgb c = colour(x, y);
                std::uint8_t* p = &picture_[(static_cast<size_t>(y) * scene_.PanelWidth + x) * 4];
                p[0] = static_cast<std::uint8_t>(c.b);
                p[1] = static_cast<std::uint8_t>(c.g);
                p[2] = static_cast<std::uint8_t>(c.r);
                p[3] = 0;
            }
        }
    }

    void Launch(float offsetX, float offsetY, float distance) {
        scene_.PhotoPanel.OffsetX = offsetX;
        scene_.PhotoPanel.OffsetY = offsetY;
        scene_.PhotoPanel.Distance = distance;
        scene_.UploadPending = true;
    }

    // One frame as the show draws it once the picture is fully uploaded: the
    // upload spreads over frames, which redraw the same scene meanwhile.
    void Frame() {
        do {
            control_->Render();
        } while (scene_.UploadPending);
    }

    TRgb At(int x, int y) const {
        const std::uint8_t* p = &frame_[(static_cast<size_t>(y) * kWidth + x) * 3];
        return {p[0], p[1], p[2]};
    }
    TRgb AtPixel(TPixel p) const { return At(static_cast<int>(p.x), static_cast<int>(p.y)); }

    // Where picture pixel (px, py) of the panel in flight lands on screen:
    // the top row at world x = OffsetX, the bottom one 18.891 lower; the left
    // column at world y = OffsetY, the right one 25.16 further along -y.
    TPixel PicturePoint(double px, double py) const {
        const double wx = scene_.PhotoPanel.OffsetX - 18.891 * py / (scene_.PanelHeight - 1);
        const double wy = scene_.PhotoPanel.OffsetY - 25.16 * px / (scene_.PanelWidth - 1);
        return Project(wx, wy, 60.0 - scene_.PhotoPanel.Distance);
    }

    void SaveScreenshot(const char* name) const {
        const char* dir = std::getenv("QV_SCREENSHOT_DIR");
        if (!dir) return;
        const std::string path = std::string(dir) + "/" + name + ".ppm";
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) return;
        std::fprintf(f, "P6\n%d %d\n255\n", kWidth, kHeight);
        for (int y = kHeight - 1; y >= 0; --y)
            std::fwrite(&frame_[static_cast<size_t>(y) * kWidth * 3], 1, kWidth * 3, f);
        std::fclose(f);
    }

    TWindow window_;
    TScene scene_;
    std::unique_ptr<TGLControl> control_;
    std::vector<std::uint8_t> frame_;
    std::vector<std::uint8_t> picture_;
    std::unique_ptr<TBitmap> bitmap_;
};

TRgb Quadrants(int x, int y) {
    const bool right = x >= 256;
    const bool bottom = y >= 192;
    if (!right && !bottom) return {255, 0, 0};  // top left: red
    if (right && !bottom) return {0, 255, 0};   // top right: green
    if (!right && bottom) return {0, 0, 255};   // bottom left: blue
    return {255, 255, 0};                       // bottom right: yellow
}

TEST_F(SceneTest, PanelQuadrantsAppearWhereTheirCornersProjectUprightAndUnmirrored) {
    FillPicture(Quadrants);
    Launch(9.4455f, 12.58f, 100.0f);  // centred in the view
    Frame();
    SaveScreenshot("quadrants");
    EXPECT_EQ(scene_.PhotoPanel.TileCount, 6);
    EXPECT_FALSE(scene_.UploadPending);

    const TRgb topLeft = AtPixel(PicturePoint(128, 96));
    const TRgb topRight = AtPixel(PicturePoint(384, 96));
    const TRgb bottomLeft = AtPixel(PicturePoint(128, 288));
    const TRgb bottomRight = AtPixel(PicturePoint(384, 288));
    EXPECT_GT(topLeft.r, 240);
    EXPECT_LT(topLeft.g + topLeft.b, 20);
    EXPECT_GT(topRight.g, 240);
    EXPECT_LT(topRight.r + topRight.b, 20);
    EXPECT_GT(bottomLeft.b, 240);
    EXPECT_LT(bottomLeft.r + bottomLeft.g, 20);
    EXPECT_GT(bottomRight.r, 240);
    EXPECT_GT(bottomRight.g, 240);
    EXPECT_LT(bottomRight.b, 20);

    // On screen the top-left quadrant is above and left of the others.
    const TPixel tl = PicturePoint(128, 96);
    const TPixel br = PicturePoint(384, 288);
    EXPECT_LT(tl.x, br.x);
    EXPECT_GT(tl.y, br.y);  // window rows count from the bottom

    // Just outside each edge of the panel: black space.
    for (TPixel p :
         {PicturePoint(-6, 192), PicturePoint(517, 192), PicturePoint(256, -6), PicturePoint(256, 389)}) {
        EXPECT_EQ(AtPixel(p).Max(), 0) << p.x << "," << p.y;
    }
    // Just inside them: the picture.
    for (TPixel p :
         {PicturePoint(3, 192), PicturePoint(508, 192), PicturePoint(256, 3), PicturePoint(256, 380)}) {
        EXPECT_GT(AtPixel(p).Max(), 240) << p.x << "," << p.y;
    }
}

TEST_F(SceneTest, TilesMeetWithoutSeams) {
    // A flat picture stays flat across every tile edge.
    FillPicture([](int, int) { return TRgb{200, 150, 100}; });
    Launch(9.4455f, 12.58f, 45.0f);  // close, so each texel covers more than a pixel
    Frame();
    const TPixel a = PicturePoint(2, 2);
    const TPixel b = PicturePoint(scene_.PanelWidth - 3, scene_.PanelHeight - 3);
    int checked = 0;
    for (int y = static_cast<int>(std::min(a.y, b.y)) + 1; y < static_cast<int>(std::max(a.y, b.y)); ++y) {
        for (int x = static_cast<int>(std::min(a.x, b.x)) + 1; x < static_cast<int>(std::max(a.x, b.x));
             ++x) {
            const TRgb c = At(x, y);
            if (std::abs(c.r - 200) > 3 || std::abs(c.g - 150) > 3 || std::abs(c.b - 100) > 3) {
                ADD_FAILURE() << "seam or hole at " << x << "," << y << ": " << c.r << " " << c.g << " "
                              << c.b;
                return;
            }
            ++checked;
        }
    }
    EXPECT_GT(checked, 100000);
}

TEST_F(SceneTest, TileEdgesShowTheSharedPixelExactlyOnce) {
    // Steep ramps across the first tile column and row edge (picture column
    // and row 255), magnified about 3.4 times: red rises 8 per column, green
    // 8 per row. A tile that samples its neighbour's pixels one place off
    // shows a jump of a whole texel step where the tiles meet.
    FillPicture([](int x, int y) {
        auto ramp = [](int v) { return std::min(255, std::max(0, 128 + (v - 255) * 8)); };
        return TRgb{ramp(x), ramp(y), 0};
    });
    const double centreX = 0.174533 * 12.0 / 50.0;  // world x at the screen centre, 12 in front
    Launch(static_cast<float>(centreX + 18.891 * 255 / 383), static_cast<float>(25.16 * 255 / 511), 12.0f);
    Frame();
    SaveScreenshot("edges");

    const TPixel edge = PicturePoint(255, 255);
    const int ex = static_cast<int>(std::lround(edge.x));
    const int ey = static_cast<int>(std::lround(edge.y));
    ASSERT_NEAR(edge.x, kWidth / 2.0, 4.0);
    ASSERT_NEAR(edge.y, kHeight / 2.0, 4.0);
    // Along the row through the edge, red climbs steadily to the right; along
    // the column, green climbs steadily downwards.
    int maxRedStep = 0;
    int maxGreenStep = 0;
    for (int d = -20; d < 20; ++d) {
        const int redStep = At(ex + d + 1, ey + 8).r - At(ex + d, ey + 8).r;
        const int greenStep = At(ex + 8, ey - d - 1).g - At(ex + 8, ey - d).g;
        EXPECT_GE(redStep, 0) << d;
        EXPECT_GE(greenStep, 0) << d;
        maxRedStep = std::max(maxRedStep, redStep);
        maxGreenStep = std::max(maxGreenStep, greenStep);
    }
    EXPECT_LE(maxRedStep, 4);
    EXPECT_LE(maxGreenStep, 4);
    // The shared pixel (value 128) sits where column and row 255 project.
    EXPECT_NEAR(At(ex, ey + 8).r, 128, 6);
    EXPECT_NEAR(At(ex + 8, ey).g, 128, 6);
}

TEST_F(SceneTest, FogBlackensTheFarPanelAndLeavesTheNearOneBright) {
    FillPicture([](int, int) { return TRgb{255, 255, 255}; });
    Launch(9.4455f, 12.58f, 200.0f);
    Frame();
    EXPECT_LT(AtPixel(PicturePoint(256, 192)).Max(), 4);

    scene_.PhotoPanel.Distance = 165.0f;  // halfway through the fog
    Frame();
    const TRgb half = AtPixel(PicturePoint(256, 192));
    EXPECT_NEAR(half.r, 128, 20);

    scene_.PhotoPanel.Distance = 100.0f;
    Frame();
    EXPECT_GT(AtPixel(PicturePoint(256, 192)).r, 250);
}

TEST_F(SceneTest, PanelMovesByFrameStepAndIsDrawnOnlyWithTiles) {
    FillPicture([](int, int) { return TRgb{255, 255, 255}; });
    Frame();  // no picture yet: only (hidden) stars
    for (size_t i = 0; i < frame_.size(); ++i) ASSERT_EQ(frame_[i], 0) << i;
    EXPECT_EQ(scene_.PhotoPanel.Distance, -1.0f);

    Launch(9.4455f, 12.58f, 100.0f);
    scene_.FrameStep = 0.0f;
    Frame();
    EXPECT_EQ(scene_.PhotoPanel.Distance, 100.0f);
    scene_.FrameStep = 2.5f;
    Frame();
    EXPECT_EQ(scene_.PhotoPanel.Distance, 97.5f);
}

TEST_F(SceneTest, StarsAreSingleLitPixels) {
    scene_.StarField[10] = TStar{5.0f, -7.0f};
    scene_.StarField[700] = TStar{-12.0f, 3.0f};
    scene_.StarPhase = 50.0f;  // k = 750: both stars have passed once and sit at 50 + 0.2 (i + 1)
    Frame();
    SaveScreenshot("stars");
    std::vector<TPixel> lit;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            if (At(x, y).Max() > 0) lit.push_back({double(x), double(y)});
        }
    }
    ASSERT_EQ(lit.size(), 2u);
    const auto& stars = scene_.StarField;
    for (auto [star, depth] : {std::pair{stars[10], 52.2}, std::pair{stars[700], 190.2}}) {
        const TPixel p = Project(star.StarX, star.StarY, 60.0 - depth);
        bool found = false;
        for (const TPixel& l : lit) found |= std::fabs(l.x - p.x) <= 1.0 && std::fabs(l.y - p.y) <= 1.0;
        EXPECT_TRUE(found) << "star expected near " << p.x << "," << p.y;
    }
    // The near star is white; the one deep in the fog is dimmed.
    const TPixel nearStar = Project(5.0, -7.0, 60.0 - 52.2);
    TRgb nearColour{0, 0, 0};
    TRgb farColour{0, 0, 0};
    for (const TPixel& l : lit) {
        const TRgb c = At(int(l.x), int(l.y));
        if (std::fabs(l.x - nearStar.x) <= 1.0)
            nearColour = c;
        else
            farColour = c;
    }
    EXPECT_GT(nearColour.r, 250);
    EXPECT_GT(nearColour.g, 250);
    EXPECT_GT(nearColour.b, 250);
    EXPECT_LT(farColour.Max(), 50);
}

TEST_F(SceneTest, LaterPicturesReuseTheTextureNames) {
    FillPicture(Quadrants);
    Launch(9.4455f, 12.58f, 100.0f);
    Frame();
    const TTextureTable first = scene_.PhotoPanel.PanelTextures;
    for (int i = 0; i < 6; ++i) {
        EXPECT_NE(first[i], 0u);
        EXPECT_TRUE(GL.IsTexture(first[i]));
    }
    for (int i = 6; i < kMaxTiles; ++i) EXPECT_EQ(first[i], 0u);

    FillPicture([](int, int) { return TRgb{0, 0, 255}; });
    Launch(9.4455f, 12.58f, 100.0f);
    Frame();
    EXPECT_EQ(scene_.PhotoPanel.PanelTextures, first);
    EXPECT_EQ(scene_.LastTileIndex, 5);
    // The new picture replaced the old one in the same textures.
    const TRgb c = AtPixel(PicturePoint(128, 96));
    EXPECT_GT(c.b, 240);
    EXPECT_LT(c.r, 20);
}

// The test programs link the ownership checks on: a frame drawn by a thread
// other than the one holding the scene fails the test, naming both threads.
TEST_F(SceneTest, AFrameFromAThreadThatDoesNotHoldTheSceneFails) {
    ASSERT_TRUE(kThreadChecks);
    std::thread([this] {
        NameThisThread("render");
        scene_.Owner.Claim();
    }).join();
    ::testing::TestPartResultArray failures;
    {
        const ::testing::ScopedFakeTestPartResultReporter intercept(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &failures);
        control_->Render();
    }
    ASSERT_GE(failures.size(), 1);
    const std::string message = failures.GetTestPartResult(0).message();
    EXPECT_NE(message.find("The scene was used by a thread that does not hold it"), std::string::npos) << message;
    EXPECT_NE(message.find("while the render thread (id "), std::string::npos) << message;
    scene_.Owner.Release();
}

TEST_F(SceneTest, FullStarFieldWithAPhotograph) {
    TRandom random(42);
    InitStarField(scene_.StarField, random);
    scene_.StarPhase = 120.0f;
    FillPicture([](int x, int y) {
        // Sky over sea: a gradient with a horizon and a sun.
        const int dx = x - 360;
        const int dy = y - 120;
        if (dx * dx + dy * dy < 40 * 40) return TRgb{255, 230, 120};
        if (y < 230) return TRgb{60 + y / 4, 120 + y / 4, 230};
        return TRgb{20, 60 + (y - 230) / 3, 110 + (y - 230) / 4};
    });
    Launch(9.4455f, 12.58f, 90.0f);
    Frame();
    SaveScreenshot("scene");
    int lit = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) lit += At(x, y).Max() > 0;
    }
    EXPECT_GT(lit, 30000);                              // the panel
    EXPECT_GT(AtPixel(PicturePoint(360, 120)).r, 240);  // the sun
}

// --- A picture in its own shape --------------------------------------------------------

TEST_F(SceneTest, APortraitInItsOwnShapeShowsNoFrameBesideIt) {
    // The bitmap as the preparation leaves a 2:3 portrait: its columns in the
    // middle, the rest marked red here so that any of it on screen shows.
    const int w = scene_.PanelWidth, h = scene_.PanelHeight;
    const int columns = h * 2 / 3, left = (w - columns) / 2;
    FillPicture([&](int x, int y) {
        if (x < left || x >= left + columns) return TRgb{255, 0, 0};
        return y < h / 2 ? TRgb{255, 255, 255} : TRgb{90, 160, 255};
    });
    Launch(9.4455f, 12.58f, 100.0f);
    scene_.PhotoPanel.Placement =
        PicturePlacement(true, left, 0, columns, h, w, h, ProjectionAspect(kWidth, kHeight));
    Frame();
    SaveScreenshot("own-shape");

    auto redPixels = [this] {
        int red = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const TRgb c = At(x, y);
                red += c.r > 60 && c.g < c.r / 3 && c.b < c.r / 3;
            }
        return red;
    };
    EXPECT_EQ(redPixels(), 0);
    // The lit part has the picture's proportions and sits where the framed
    // panel's centre is.
    int x0 = kWidth, x1 = -1, y0 = kHeight, y1 = -1;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            if (At(x, y).Max() > 40) {
                x0 = std::min(x0, x);
                x1 = std::max(x1, x);
                y0 = std::min(y0, y);
                y1 = std::max(y1, y);
            }
    ASSERT_GT(x1, x0);
    const double shownAspect = static_cast<double>(x1 - x0 + 1) / (y1 - y0 + 1);
    EXPECT_NEAR(shownAspect, 2.0 / 3.0, 0.02);
    const TPixel centre = Project(9.4455 - 18.891 / 2, 12.58 - 25.16 / 2, 60.0 - 100.0);
    EXPECT_NEAR((x0 + x1) / 2.0, centre.x, 2.0);
    EXPECT_NEAR((y0 + y1) / 2.0, centre.y, 2.0);
    // Its top half is the picture's top: upright.
    EXPECT_GT(At(static_cast<int>(centre.x), y1 - 5).g, 240);
    EXPECT_LT(At(static_cast<int>(centre.x), y0 + 5).r, 120);

    // Framed, the same bitmap shows its frame.
    scene_.PhotoPanel.Placement = FramedPlacement(w, h);
    Frame();
    EXPECT_GT(redPixels(), 10000);
}

// --- Very large pictures ------------------------------------------------------

TEST_F(SceneTest, PictureForAHugeWindowFitsTheTextureTable) {
    const TPanelSize size = PanelSizeFor(8192, 6400);
    std::vector<std::uint8_t> big(static_cast<size_t>(size.Width) * size.Height * 4, 0x80);
    TBitmap bitmap(size.Width, size.Height, big.data());
    TTextureTable table{};
    const int last = UploadPicture(bitmap, table);
    EXPECT_EQ(last, TilesAcross(size.Width) * TilesDown(size.Height) - 1);
    EXPECT_LE(last, kMaxTiles - 1);
    EXPECT_NE(table[last], 0u);
    EXPECT_EQ(GL.GetError(), static_cast<GLenum>(GL_NO_ERROR));

    // A bitmap that was not capped (17 x 13 tiles) uploads the rows that fit
    // and never writes past the table.
    std::vector<std::uint8_t> uncapped(static_cast<size_t>(4096) * 3200 * 4, 0x40);
    TBitmap tooBig(4096, 3200, uncapped.data());
    TTextureTable second{};
    EXPECT_EQ(UploadPicture(tooBig, second), 17 * 11 - 1);
    EXPECT_EQ(second[17 * 11], 0u);
}

TEST(HugeWindow, SceneOfAn8192x6400WindowDrawsWithinTheTextureTable) {
    // A real window of that size with the whole pipeline: capped picture,
    // upload, and a frame that draws all its tiles.
    TWindow window = MakeWindow(8192, 6400);
    ASSERT_TRUE(window);
    TGLControl control(window.Get(), 8192, 6400);
    const TPanelSize size = PanelSizeFor(8192, 6400);
    TScene scene;
    scene.PanelWidth = size.Width;
    scene.PanelHeight = size.Height;
    std::vector<std::uint8_t> pixels(static_cast<size_t>(scene.PanelWidth) * scene.PanelHeight * 4, 0xFF);
    TBitmap picture(scene.PanelWidth, scene.PanelHeight, pixels.data());
    scene.Picture = &picture;
    for (TStar& s : scene.StarField) s = TStar{5000.0f, 5000.0f};
    scene.SetupPending = true;
    scene.FrameStep = 0.0f;
    scene.PhotoPanel.OffsetX = 9.4455f;
    scene.PhotoPanel.OffsetY = 12.58f;
    scene.PhotoPanel.Distance = 100.0f;
    scene.UploadPending = true;
    std::uint8_t centre[3] = {};
    control.OnRender = [&centre, &scene](TGLControl&) {
        RenderFrame(scene);
        GL.ReadBuffer(GL_BACK);
        GL.PixelStorei(GL_PACK_ALIGNMENT, 1);
        GL.ReadPixels(4096, 3200, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, centre);
    };
    // The upload is spread over frames; the panel shows once it is whole.
    int frames = 0;
    do {
        control.Render();
    } while (scene.UploadPending && ++frames < 10000);
    EXPECT_FALSE(scene.UploadPending);
    EXPECT_EQ(scene.PhotoPanel.TileCount, TilesAcross(scene.PanelWidth) * TilesDown(scene.PanelHeight));
    EXPECT_LE(scene.PhotoPanel.TileCount, kMaxTiles);
    EXPECT_GT(centre[0], 240);  // the white panel covers the centre
    EXPECT_EQ(GL.GetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace
