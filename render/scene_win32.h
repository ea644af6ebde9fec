#pragma once
#include "imaging/bitmap_win32.h"
#include "render/glcontext_win32.h"
#include "render/scene_state.h"

// The space scene: point stars streaming towards the viewer and one photo
// panel in flight, drawn as the control's OnRender callback.

// Milliseconds of tile upload a frame may spend (after its first tile).
constexpr double kUploadBudgetMs = 2.0;

// One-time OpenGL state and camera, run by the first frame.
void SetupScene(TScene& scene);
// One frame, between the control's clear and swap: set-up, pending upload
// (from scene.Picture), camera, panel, stars.
void RenderFrame(TScene& scene);
void DrawPanel(TScene& scene);
void DrawStars(TScene& scene);
