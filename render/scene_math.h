#pragma once
#include <array>
#include <cstdint>

// The space scene's geometry as pure functions: tile grid, panel corners,
// texture coordinates, star depths and the camera. The OpenGL layer only
// feeds these the frame's values and issues the calls they describe.

// Scene constants.
constexpr int kStarCount = 1000;
constexpr double kStarSpread = 200.0;  // stars lie in x and y within [-100, 100)
constexpr double kDepthRange = 200.0;  // fog end, star recycling length, launch distance
constexpr double kStarSpacing = 0.2;   // depth range / star count
constexpr float kFogStart = 130.0f;
constexpr float kFogEnd = 200.0f;
constexpr double kPanelExtentX = 18.891;  // the panel's extent along world x (its height on screen)
constexpr double kPanelExtentY = 25.16;   // the panel's extent along world y (its width on screen)
constexpr double kOffsetSpread = 60.0;
constexpr double kOffsetBiasX = 12.58;
constexpr double kOffsetBiasY = 9.4455;
constexpr double kCameraReach = 50.0;  // eye to look-at point
constexpr double kEyeZ = 60.0;         // the eye's height above the z = 0 plane

// Projection of the control.
constexpr double kFieldOfView = 50.0;  // vertical, degrees
constexpr double kNearPlane = 1.0;
constexpr double kFarPlane = 200.0;

// Texture tiles: 256 x 256 texels, laid out every 255 pixels so that
// neighbouring tiles share one column or row and linear filtering meets
// seamlessly at the edge.
constexpr int kTileSize = 256;
constexpr int kTileStep = 255;
constexpr int kMaxTiles = 200;  // entries of the panel's texture table

// Inclusive pixel rectangle of one tile in the picture bitmap.
struct TTileRect {
    int x0, y0, x1, y1;
};

int TilesAcross(int panelWidth);
int TilesDown(int panelHeight);
// Tile (column, row), both from 0, clipped to the picture.
TTileRect TileRect(int column, int row, int panelWidth, int panelHeight);

// A window narrower or lower than 4 pixels gives a panel dimension below 2,
// for which the corner formulas would divide by zero: such a panel is not drawn.
bool PanelDrawable(int panelWidth, int panelHeight);

// World x of bitmap row y: the top row at 0, the bottom row at -18.891.
double PanelX(int y, int panelHeight);
// World y of bitmap column x: the left column at 0, the right column at -25.16.
double PanelY(int x, int panelWidth);

// One corner of a tile's quad: texture coordinate and position in the
// panel's plane (z = 0).
struct TPanelVertex {
    double s, t, x, y;
};
// The four corners in drawing order; the texture coordinates address texel
// centres, so the shared pixel of neighbouring tiles lands on the same spot.
std::array<TPanelVertex, 4> TileQuad(const TTileRect& tile, int panelWidth, int panelHeight);

// Where the panel shows which part of the picture bitmap. A framed panel
// shows the whole bitmap on the 25.16 x 18.891 panel; a panel in the
// picture's own shape shows only the part the picture covers, with the
// picture's proportions, centred where the framed panel would be.
struct TPanelPlacement {
    TTileRect Area{0, 0, -1, -1};    // inclusive bitmap pixels shown; empty: not placed yet
    double Top = 0.0;                // world x of the area's top row, from the panel's offset
    double Left = 0.0;               // world y of its left column
    double ExtentX = kPanelExtentX;  // top row to bottom row, along world x
    double ExtentY = kPanelExtentY;  // left column to right column, along world y
};

// The whole bitmap on the framed panel: the quads TileQuad gives.
TPanelPlacement FramedPlacement(int panelWidth, int panelHeight);
// The placement for a picture that covers the `width` x `height` pixels
// at (left, top) of the panelWidth x panelHeight bitmap, shown framed or in
// its own shape on a saver window of the given width / height. The
// own-shape panel's longer side matches the framed panel's longer side,
// but it never fills the screen sooner in its flight than the framed panel
// does. An area under 2 x 2 pixels or outside the bitmap is shown framed.
TPanelPlacement PicturePlacement(bool ownShape, int left, int top, int width, int height, int panelWidth,
                                 int panelHeight, double screenAspect);
// The part of `tile` inside the placement's area; false when none of it is.
bool ClipToArea(const TTileRect& tile, const TTileRect& area, TTileRect& clipped);
// The quad of the `clipped` part of `tile` (texture coordinates relative
// to the tile's texture) at the placement's positions. With the framed
// placement and an unclipped tile this is TileQuad.
std::array<TPanelVertex, 4> PlacedQuad(const TTileRect& tile, const TTileRect& clipped,
                                       const TPanelPlacement& placement);

// The picture size for a saver window: half its width and height. When that
// grid needs more tiles than the texture table holds, the size shrinks,
// keeping the aspect, to the largest one whose grid fits; the panel is
// stretched onto the same place on screen either way.
struct TPanelSize {
    std::int32_t Width, Height;
};
TPanelSize PanelSizeFor(int saverWidth, int saverHeight);

// Cycle index k of the star field: stars 0 to k have passed the viewer in the
// current cycle. starPhase runs from 200 down to 0.
int StarCycleIndex(float starPhase);
// Depth in front of the eye of star i for the given phase and cycle index.
double StarDepth(int i, float starPhase, int k);

struct TVec3 {
    double x, y, z;
};
// The camera's look-at point: reach 50 from the eye along the direction of
// yaw and pitch, both in fifths of a degree.
TVec3 LookAtPoint(double eyeX, double eyeY, double eyeZ, std::int32_t yaw, std::int32_t pitch);

// Width / height of the viewport; a degenerate height gives 1 rather than
// an infinite aspect.
double ProjectionAspect(int width, int height);

// True when an OpenGL version string reports 1.1 or later: its leading
// numbers are major and minor version.
bool VersionAtLeast11(const char* versionString);
