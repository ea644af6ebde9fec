#pragma once
#include <string>

class TBitmap;

// What the render loop reports to a frame observer, on the render thread.
struct TFrameEvent {
    enum class Kind {
        Stepped,   // the frame's motion step is computed from the clock
        Launched,  // a prepared picture was taken and its panel launched
        Drawn,     // the frame is drawn
    } What;
    float FrameStep;  // scene units of this frame (0.02 per millisecond)
    bool Uploaded;    // Drawn: this frame uploaded the picture
};

// Where tests and measuring programs stand in for, or watch, parts of a run.
// Every field null is the product. Set only while no run is going: the
// render and loading threads read them unguarded.
struct TRenderHooks {
    // Prepares one catalogue picture into the bitmap, true when it could be
    // read; tests count or refuse attempts with it. Null: the picture
    // pipeline. Runs on the picture-loading thread.
    bool (*PreparePicture)(TBitmap& bitmap, const std::string& path) = nullptr;
    // Watches the frames, on the render thread. Null: nothing watches.
    void (*ObserveFrame)(const TFrameEvent& event) = nullptr;
};

// The hooks in force: one record for the process (`RenderHooks() =
// TRenderHooks()` gives the product back).
TRenderHooks& RenderHooks();
