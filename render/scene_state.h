#pragma once
#include <array>
#include <cstdint>
#include <memory>

#include "base/thread_owner.h"
#include "render/scene_math.h"
#include "render/texture_tiles.h"

class TBitmap;
class TRandom;

// The state of one scene. A run owns its scene: everything here belongs to
// the render thread, which claims it (Owner) from its start until its GL
// context is gone, except PanelWidth, PanelHeight and Picture, which the run
// sets before that thread starts and clears after it has let go.

// OpenGL texture names of the panel's tiles; 0 where none is generated yet.
using TTextureTable = std::array<std::uint32_t, kMaxTiles>;

// The one panel in flight.
struct TPhotoPanel {
    float OffsetX = 0.0f;        // lateral offset along world x
    float OffsetY = 0.0f;        // lateral offset along world y
    float Distance = -1.0f;      // distance of the panel plane in front of the eye; < 0: behind it
    std::int32_t TileCount = 0;  // tiles uploaded for the current picture
    // What part of the bitmap the panel shows and where; set at the launch.
    // Not placed yet: the whole bitmap, framed.
    TPanelPlacement Placement;
    TTextureTable PanelTextures{};
};

struct TStar {
    float StarX;
    float StarY;
};

struct TScene {
    TPhotoPanel PhotoPanel;
    std::array<TStar, kStarCount> StarField{};
    // The stars' eye-space positions (x, y, z per star), rebuilt every frame
    // for one vertex array.
    std::array<float, kStarCount * 3> StarVertices{};

    float StarPhase = 200.0f;         // 200 down to 0 over one star cycle; 200 at run start
    float FrameStep = 0.0f;           // scene units moved this frame (standard: 0.02 per elapsed millisecond)
    bool SetupPending = true;         // run SetupScene in the next frame
    bool UploadPending = false;       // the picture bitmap is being uploaded, a few tiles a frame
    std::int32_t NextUploadTile = 0;  // the next tile of that upload
    std::int32_t TilesUploaded = 0;   // tiles this scene has uploaded (tells the frames that upload)

    // Camera, set by SetupScene.
    double EyeX = 0.0, EyeY = 0.0, EyeZ = kEyeZ;
    std::int32_t Yaw = 899;  // fifths of a degree
    std::int32_t Pitch = 0;  // fifths of a degree

    // Size of the picture bitmap, fixed for a run (see PanelSizeFor).
    std::int32_t PanelWidth = 0;
    std::int32_t PanelHeight = 0;
    // TilesAcross * TilesDown - 1 of the last upload; -1 before the first.
    std::int32_t LastTileIndex = -1;
    // The bitmap the uploads read; not owned.
    const TBitmap* Picture = nullptr;
    // Where each tile is put together before its upload: one block for all
    // tiles of the run, made by the first upload.
    std::unique_ptr<TStagingBuffer> TileStaging;

    TThreadOwner Owner;  // checked by every frame
};

// Fills the star field from `random`.
void InitStarField(std::array<TStar, kStarCount>& stars, TRandom& random);
// Starts a newly taken picture's flight at the far end of the fog.
void LaunchPanel(TPhotoPanel& panel, TRandom& random);
// Moves the panel one frame towards the eye; it keeps falling below 0 until
// the next launch, which is how the run loop sees that it has passed.
void AdvancePanel(TPhotoPanel& panel, float frameStep);
