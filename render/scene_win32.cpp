#include "render/scene_win32.h"

#include <algorithm>
#include <array>
#include <memory>

#include "render/scene_math.h"
#include "render/textures_win32.h"
#include "render/timing_win32.h"

namespace {

// Draws one textured quad with the panel's state and clears it away again:
// the driver prepares its code for that state now, in the run's first
// frame, instead of in the frame that first shows a picture (a software
// renderer takes tens of milliseconds for it).
void WarmUpPanelDrawing() {
    static const GLubyte kTexels[2 * 2 * 3] = {};
    GLuint name = 0;
    GL.GenTextures(1, &name);
    GL.BindTexture(GL_TEXTURE_2D, name);
    GL.TexImage2D(GL_TEXTURE_2D, 0, 3, 2, 2, 0, GL_RGB, GL_UNSIGNED_BYTE, kTexels);
    GL.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    GL.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    GL.Begin(GL_QUADS);
    GL.TexCoord2d(0.0, 0.0);
    GL.Vertex3d(-1.0, -1.0, -10.0);
    GL.TexCoord2d(1.0, 0.0);
    GL.Vertex3d(1.0, -1.0, -10.0);
    GL.TexCoord2d(1.0, 1.0);
    GL.Vertex3d(1.0, 1.0, -10.0);
    GL.TexCoord2d(0.0, 1.0);
    GL.Vertex3d(-1.0, 1.0, -10.0);
    GL.End();
    GL.BindTexture(GL_TEXTURE_2D, 0);
    GL.Clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

}  // namespace

void SetupScene(TScene& scene) {
    // The model-view matrix is the identity here, so the light positions
    // below are in eye coordinates: light 0 sits in the eye.
    static const GLfloat kAmbient[4] = {0.7f, 0.7f, 0.7f, 1.0f};
    static const GLfloat kLight0Position[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    static const GLfloat kLight1Position[4] = {0.0f, 0.0f, 0.0f, -1.0f};
    static const GLfloat kFogColor[4] = {0.0f, 0.0f, 0.0f, 0.0f};

    scene.SetupPending = false;
    GL.ShadeModel(GL_SMOOTH);
    GL.Enable(GL_DEPTH_TEST);
    GL.Enable(GL_CULL_FACE);
    GL.Enable(GL_LIGHTING);
    GL.LightModeli(GL_LIGHT_MODEL_TWO_SIDE, GL_FALSE);

    GL.Enable(GL_LIGHT0);
    GL.Lightfv(GL_LIGHT0, GL_POSITION, kLight0Position);
    GL.Lightfv(GL_LIGHT0, GL_AMBIENT, kAmbient);
    GL.Enable(GL_LIGHT1);
    GL.Lightfv(GL_LIGHT1, GL_POSITION, kLight1Position);
    GL.Lightfv(GL_LIGHT1, GL_AMBIENT, kAmbient);
    GL.Disable(GL_FOG);

    scene.EyeX = 0.0;
    scene.EyeY = 0.0;
    scene.EyeZ = kEyeZ;
    scene.Yaw = 899;
    scene.Pitch = 0;

    GL.Enable(GL_TEXTURE_2D);
    GL.TexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    GL.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    GL.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);

    GL.Enable(GL_FOG);
    GL.Fogi(GL_FOG_MODE, GL_LINEAR);
    GL.Fogfv(GL_FOG_COLOR, kFogColor);
    GL.Fogf(GL_FOG_START, kFogStart);
    GL.Fogf(GL_FOG_END, kFogEnd);
    GL.Hint(GL_FOG_HINT, GL_NICEST);
    WarmUpPanelDrawing();
}

void RenderFrame(TScene& scene) {
    scene.Owner.Check("The scene");
    if (scene.SetupPending) SetupScene(scene);
    if (scene.UploadPending) {
        // A few tiles a frame, so that no frame stalls on the whole picture.
        // The panel is launched at the far end of the fog, where it is
        // black: it is drawn from the frame its last tile arrives in, a few
        // frames into its flight, when it is still black there.
        if (scene.NextUploadTile == 0) scene.PhotoPanel.TileCount = 0;
        const int first = scene.NextUploadTile;
        if (!scene.TileStaging) scene.TileStaging = std::make_unique<TStagingBuffer>();
        scene.LastTileIndex = scene.Picture ? PictureTileCount(*scene.Picture) - 1 : -1;
        scene.NextUploadTile = scene.Picture
                                   ? UploadPictureTiles(*scene.Picture, scene.PhotoPanel.PanelTextures,
                                                        *scene.TileStaging, first, kUploadBudgetMs, PreciseMs)
                                   : 0;
        scene.TilesUploaded += std::max(0, scene.NextUploadTile - first);
        if (!scene.Picture || scene.NextUploadTile > scene.LastTileIndex) {
            scene.PhotoPanel.TileCount = scene.LastTileIndex + 1;
            scene.UploadPending = false;
            scene.NextUploadTile = 0;
        }
    }
    GL.PolygonMode(GL_FRONT, GL_FILL);

    const TVec3 target = LookAtPoint(scene.EyeX, scene.EyeY, scene.EyeZ, scene.Yaw, scene.Pitch);
    GLU.LookAt(scene.EyeX, scene.EyeY, scene.EyeZ, target.x, target.y, target.z, 0.0, 0.0, 1.0);

    GL.PushMatrix();
    DrawPanel(scene);
    GL.PopMatrix();

    GL.PushMatrix();
    DrawStars(scene);
    GL.PopMatrix();
}

void DrawPanel(TScene& scene) {
    TPhotoPanel& panel = scene.PhotoPanel;
    AdvancePanel(panel, scene.FrameStep);
    GL.Translatef(panel.OffsetX, panel.OffsetY, static_cast<GLfloat>(kEyeZ - panel.Distance));
    if (!PanelDrawable(scene.PanelWidth, scene.PanelHeight) || panel.TileCount <= 0) return;

    const TPanelPlacement placement = panel.Placement.Area.x1 >= panel.Placement.Area.x0
                                          ? panel.Placement
                                          : FramedPlacement(scene.PanelWidth, scene.PanelHeight);
    const int across = TilesAcross(scene.PanelWidth);
    const int tiles = std::min(panel.TileCount, kMaxTiles);
    // Rows from the last uploaded one up to the first, columns left to right;
    // only the part of each tile that the placement shows.
    for (int row = (tiles - 1) / across; row >= 0; --row) {
        for (int column = 0; column < across; ++column) {
            const int index = row * across + column;
            if (index >= tiles) break;
            const TTileRect tile = TileRect(column, row, scene.PanelWidth, scene.PanelHeight);
            TTileRect shown;
            if (!ClipToArea(tile, placement.Area, shown)) continue;
            const auto quad = PlacedQuad(tile, shown, placement);
            GL.BindTexture(GL_TEXTURE_2D, panel.PanelTextures[index]);
            GL.Begin(GL_QUADS);
            for (const TPanelVertex& v : quad) {
                GL.TexCoord2d(v.s, v.t);
                GL.Vertex3d(v.x, v.y, 0.0);
            }
            GL.End();
        }
    }
}

void DrawStars(TScene& scene) {
    // Each star is a point at its own position, drawn in index order. One
    // vertex array gives the same pixels as translating to every star and
    // drawing a point at the origin, without a few thousand calls a frame.
    auto& positions = scene.StarVertices;  // GLfloat is float
    const int k = StarCycleIndex(scene.StarPhase);
    for (int i = 0; i < kStarCount; ++i) {
        positions[i * 3 + 0] = scene.StarField[i].StarX;
        positions[i * 3 + 1] = scene.StarField[i].StarY;
        positions[i * 3 + 2] = static_cast<GLfloat>(kEyeZ - StarDepth(i, scene.StarPhase, k));
    }
    GL.BindTexture(GL_TEXTURE_2D, 0);
    GL.EnableClientState(GL_VERTEX_ARRAY);
    GL.VertexPointer(3, GL_FLOAT, 0, positions.data());
    GL.DrawArrays(GL_POINTS, 0, kStarCount);
    GL.DisableClientState(GL_VERTEX_ARRAY);
}
