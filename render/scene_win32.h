#pragma once
#include "imaging/bitmap_win32.h"
#include "render/glcontext_win32.h"
#include "render/scene_state.h"

// The space scene: point stars streaming towards the viewer and one photo
// panel in flight, drawn as the control's OnRender callback.

// The bitmap the next upload reads (the run's PictureBitmap); not owned.
// RenderFrame uploads from it while UploadPending is set.
extern TBitmap* SceneBitmap;
// Milliseconds of tile upload a frame may spend (after its first tile).
constexpr double kUploadBudgetMs = 2.0;

// One-time OpenGL state and camera, run by the first frame.
void SetupScene();
// The OnRender callback: set-up, pending upload, camera, panel, stars.
void RenderFrame(TGLControl& control);
void DrawPanel(TPhotoPanel& panel);
void DrawStars();
