// Frame time of the space scene under the real OpenGL implementation:
// RenderFrame plus swap with a panel in flight, against a baseline frame
// that only clears and swaps, in the same window and the same run.
#ifdef _WIN32
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "base/random.h"
#include "imaging/bitmap_win32.h"
#include "render/glcontext_win32.h"
#include "render/scene_state.h"
#include "render/scene_win32.h"

#include "bench/bench_timing.h"

namespace {

constexpr int kWidth = 1024;
constexpr int kHeight = 768;
constexpr int kFrames = 2000;
constexpr int kUploadEvery = 100;  // a new picture every 100 frames

struct TFigures {
    double median, p99;
};

TFigures Summarise(const std::vector<double>& ms) {
    return {Percentile(ms, 50), Percentile(ms, 99)};
}

}  // namespace

int main() {
    WNDCLASSA wc{};
    wc.style = CS_OWNDC;
    wc.lpfnWndProc = ::DefWindowProcA;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = "QvBench";
    ::RegisterClassA(&wc);
    TWindow window(::CreateWindowExA(0, "QvBench", "bench", WS_POPUP | WS_VISIBLE, 0, 0, kWidth, kHeight,
                                     nullptr, nullptr, wc.hInstance, nullptr));
    TGLControl control(window.Get(), kWidth, kHeight);

    const TPanelSize size = PanelSizeFor(kWidth, kHeight);
    TScene sceneState;
    sceneState.PanelWidth = size.Width;
    sceneState.PanelHeight = size.Height;
    std::vector<std::uint8_t> pixels(static_cast<size_t>(sceneState.PanelWidth) * sceneState.PanelHeight * 4);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint8_t>(i * 7 / 5);
    TBitmap picture(sceneState.PanelWidth, sceneState.PanelHeight, pixels.data());
    sceneState.Picture = &picture;
    TRandom random(7);
    InitStarField(sceneState.StarField, random);
    sceneState.SetupPending = true;
    sceneState.StarPhase = 200.0f;
    const float step = 0.05f;  // the panel stays in view: 100 units over 2000 frames

    // The three kinds of frame take turns, so that the load of the machine
    // weighs on each alike: the baseline (clear and swap only), the stars
    // alone (no tiles to draw), and the whole scene with the panel in flight.
    auto timed = [&control](TGLControl::TCallback onRender) {
        control.OnRender = std::move(onRender);
        const double t0 = Seconds();
        control.Render();
        return (Seconds() - t0) * 1000.0;
    };
    const TGLControl::TCallback drawScene = [&sceneState](TGLControl&) { RenderFrame(sceneState); };
    std::vector<double> baseline;
    std::vector<double> starsOnly;
    std::vector<double> scene;
    std::vector<double> uploads;
    for (int i = 0; i < kFrames; ++i) {
        baseline.push_back(timed({}));

        const std::int32_t tiles = sceneState.PhotoPanel.TileCount;
        sceneState.PhotoPanel.TileCount = 0;
        sceneState.FrameStep = 0.0f;
        starsOnly.push_back(timed(drawScene));
        sceneState.PhotoPanel.TileCount = tiles;

        if (i % kUploadEvery == 0) {
            LaunchPanel(sceneState.PhotoPanel, random);
            sceneState.PhotoPanel.Distance = 120.0f;
            sceneState.UploadPending = true;
        }
        const bool upload = sceneState.UploadPending;
        sceneState.FrameStep = step;
        sceneState.StarPhase -= sceneState.FrameStep;
        if (sceneState.StarPhase < 0.0f) sceneState.StarPhase = 200.0f;
        (upload ? uploads : scene).push_back(timed(drawScene));
    }

    const TFigures b = Summarise(baseline);
    const TFigures s = Summarise(scene);
    const TFigures u = Summarise(uploads);
    const TFigures st = Summarise(starsOnly);
    std::printf("frames %d at %dx%d, panel %dx%d, %zu upload frames\n", kFrames, kWidth, kHeight,
                sceneState.PanelWidth, sceneState.PanelHeight, uploads.size());
    std::printf("baseline clear+swap   median %7.3f ms  p99 %7.3f ms\n", b.median, b.p99);
    std::printf("stars only            median %7.3f ms  p99 %7.3f ms\n", st.median, st.p99);
    std::printf("scene frame           median %7.3f ms  p99 %7.3f ms  (%.2f x baseline median)\n", s.median,
                s.p99, s.median / b.median);
    std::printf("upload frame 512x384  median %7.3f ms  max %7.3f ms  (%.2f x scene median)\n", u.median,
                *std::max_element(uploads.begin(), uploads.end()), u.median / s.median);
    return 0;
}
#else
#include <cstdio>
int main() {
    std::puts("render_frame: Windows only (runs under Wine)");
    return 0;
}
#endif
