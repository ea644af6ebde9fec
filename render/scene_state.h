#pragma once
#include <array>
#include <cstdint>

#include "render/scene_math.h"

// The scene's process-wide state. Everything here belongs to the render
// thread, except PanelWidth and PanelHeight, which the run sets before that
// thread starts.

// OpenGL texture names of the panel's tiles; 0 where none is generated yet.
using TTextureTable = std::array<std::uint32_t, kMaxTiles>;

// The one panel in flight.
struct TPhotoPanel {
    float OffsetX = 0.0f;        // lateral offset along world x
    float OffsetY = 0.0f;        // lateral offset along world y
    float Distance = -1.0f;      // distance of the panel plane in front of the eye; < 0: behind it
    std::int32_t TileCount = 0;  // tiles uploaded for the current picture
    TTextureTable PanelTextures{};
};

struct TStar {
    float StarX;
    float StarY;
};

extern TPhotoPanel PhotoPanel;
extern std::array<TStar, kStarCount> StarField;

extern float StarPhase;     // 200 down to 0 over one star cycle; 200 at run start
extern float FrameStep;     // scene units moved this frame (0.02 per elapsed millisecond)
extern bool SetupPending;   // run SetupScene in the next frame
extern bool UploadPending;  // the picture bitmap is being uploaded, a few tiles a frame
extern std::int32_t NextUploadTile;  // the next tile of that upload
extern std::int32_t TilesUploaded;   // tiles uploaded since the process started (counts frames that upload)

// Camera, set by SetupScene.
extern double EyeX, EyeY, EyeZ;
extern std::int32_t Yaw;    // fifths of a degree
extern std::int32_t Pitch;  // fifths of a degree

// Size of the picture bitmap, fixed for a run (see PanelSizeFor).
extern std::int32_t PanelWidth;
extern std::int32_t PanelHeight;
// TilesAcross * TilesDown - 1 of the last upload; -1 before the first.
extern std::int32_t LastTileIndex;

// Fills StarField from the process's random generator.
void InitStarField();
// Starts a newly taken picture's flight at the far end of the fog.
void LaunchPanel(TPhotoPanel& panel);
// Moves the panel one frame towards the eye; it keeps falling below 0 until
// the next launch, which is how the run loop sees that it has passed.
void AdvancePanel(TPhotoPanel& panel, float frameStep);
