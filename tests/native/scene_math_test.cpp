#include "render/scene_math.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cmath>
#include <random>
#include <vector>

#include "base/exception.h"
#include "base/random.h"
#include "render/scene_state.h"
#include "render/texture_tiles.h"

namespace {

// --- Tile grid -------------------------------------------------------------

TEST(TileGrid, ScreenOf1024x768GivesThreeByTwoTiles) {
    const TPanelSize panel = PanelSizeFor(1024, 768);
    ASSERT_EQ(panel.Width, 512);
    ASSERT_EQ(panel.Height, 384);
    EXPECT_EQ(TilesAcross(panel.Width), 3);
    EXPECT_EQ(TilesDown(panel.Height), 2);

    const TTileRect first = TileRect(0, 0, 512, 384);
    EXPECT_EQ(first.x0, 0);
    EXPECT_EQ(first.x1, 255);
    EXPECT_EQ(first.y0, 0);
    EXPECT_EQ(first.y1, 255);
    const TTileRect last = TileRect(2, 1, 512, 384);
    EXPECT_EQ(last.x0, 510);
    EXPECT_EQ(last.x1, 511);
    EXPECT_EQ(last.y0, 255);
    EXPECT_EQ(last.y1, 383);
}

TEST(TileGrid, ColumnCountsAtTheTileBoundaries) {
    EXPECT_EQ(TilesAcross(510), 2);
    EXPECT_EQ(TileRect(1, 0, 510, 10).x0, 255);
    EXPECT_EQ(TileRect(1, 0, 510, 10).x1, 509);

    EXPECT_EQ(TilesAcross(256), 2);
    EXPECT_EQ(TileRect(1, 0, 256, 10).x0, 255);
    EXPECT_EQ(TileRect(1, 0, 256, 10).x1, 255);  // one pixel wide

    EXPECT_EQ(TilesAcross(255), 1);
    EXPECT_EQ(TileRect(0, 0, 255, 10).x1, 254);

    EXPECT_EQ(TilesAcross(1), 1);
    EXPECT_EQ(TilesAcross(0), 0);
    EXPECT_EQ(TilesAcross(-5), 0);
    EXPECT_EQ(TilesAcross(INT_MAX), (INT_MAX - 1) / 255 + 1);  // no overflow in the rounding
}

TEST(TileGrid, NeighboursShareExactlyOnePixelAndCoverThePicture) {
    for (int width : {1, 2, 255, 256, 257, 509, 510, 511, 512, 766, 1000}) {
        const int across = TilesAcross(width);
        std::vector<int> covered(width, 0);
        for (int i = 0; i < across; ++i) {
            const TTileRect r = TileRect(i, 0, width, 1);
            ASSERT_LE(r.x0, r.x1) << width;
            ASSERT_LT(r.x1 - r.x0, kTileSize) << width;
            for (int x = r.x0; x <= r.x1; ++x) ++covered[x];
            if (i + 1 < across) {
                EXPECT_EQ(TileRect(i + 1, 0, width, 1).x0, r.x1) << width;
            }
        }
        EXPECT_EQ(TileRect(across - 1, 0, width, 1).x1, width - 1);
        for (int x = 0; x < width; ++x) {
            const bool shared = x > 0 && x % kTileStep == 0 && x / kTileStep < across;
            EXPECT_EQ(covered[x], shared ? 2 : 1) << "width " << width << " x " << x;
        }
    }
}

// --- Panel corners and texture coordinates ---------------------------------

TEST(PanelGeometry, PictureEdgesLandOnThePanelEdges) {
    EXPECT_DOUBLE_EQ(PanelX(0, 384), 0.0);
    EXPECT_NEAR(PanelX(383, 384), -18.891, 1e-12);
    EXPECT_DOUBLE_EQ(PanelY(0, 512), 0.0);
    EXPECT_NEAR(PanelY(511, 512), -25.16, 1e-12);
    // The top tile row (rows 0 to 255) of a 384-row picture.
    EXPECT_NEAR(PanelX(255, 384), -(255 * 18.891 / 383), 1e-12);
}

TEST(PanelGeometry, QuadCornersAndTexelCentresFor1024x768) {
    const auto q = TileQuad(TileRect(0, 0, 512, 384), 512, 384);
    const double c0 = 0.5 / 256;
    const double c255 = 255.5 / 256;
    const double xBottom = PanelX(255, 384);
    const double yRight = PanelY(255, 512);
    // Bottom right, top right, top left, bottom left.
    EXPECT_DOUBLE_EQ(q[0].s, c255);
    EXPECT_DOUBLE_EQ(q[0].t, c255);
    EXPECT_DOUBLE_EQ(q[0].x, xBottom);
    EXPECT_DOUBLE_EQ(q[0].y, yRight);
    EXPECT_DOUBLE_EQ(q[1].s, c255);
    EXPECT_DOUBLE_EQ(q[1].t, c0);
    EXPECT_DOUBLE_EQ(q[1].x, 0.0);
    EXPECT_DOUBLE_EQ(q[2].s, c0);
    EXPECT_DOUBLE_EQ(q[2].t, c0);
    EXPECT_DOUBLE_EQ(q[2].x, 0.0);
    EXPECT_DOUBLE_EQ(q[2].y, 0.0);
    EXPECT_DOUBLE_EQ(q[3].s, c0);
    EXPECT_DOUBLE_EQ(q[3].t, c255);
    EXPECT_DOUBLE_EQ(q[3].y, 0.0);

    // The last tile: two columns (510, 511) and 129 rows (255 to 383).
    const auto last = TileQuad(TileRect(2, 1, 512, 384), 512, 384);
    EXPECT_DOUBLE_EQ(last[0].s, 1.5 / 256);
    EXPECT_DOUBLE_EQ(last[0].t, 128.5 / 256);
    EXPECT_NEAR(last[0].x, -18.891, 1e-12);
    EXPECT_NEAR(last[0].y, -25.16, 1e-12);
}

TEST(PanelGeometry, NeighbouringQuadsShareTheirEdge) {
    // The shared column is the right edge of one quad and the left edge of
    // the next, at the same world position.
    const auto left = TileQuad(TileRect(0, 0, 512, 384), 512, 384);
    const auto right = TileQuad(TileRect(1, 0, 512, 384), 512, 384);
    EXPECT_EQ(left[0].y, right[3].y);
    EXPECT_EQ(left[1].y, right[2].y);
    const auto below = TileQuad(TileRect(0, 1, 512, 384), 512, 384);
    EXPECT_EQ(left[0].x, below[1].x);
    EXPECT_EQ(left[3].x, below[2].x);
}

TEST(PanelGeometry, QuadIsCounterClockwiseOnScreen) {
    // The camera shows world +x upwards and world -y to the right: screen
    // coordinates (right, up) = (-y, x). A positive signed area means
    // counter-clockwise, the front face that culling keeps.
    const auto q = TileQuad(TileRect(1, 0, 512, 384), 512, 384);
    double area = 0;
    for (int i = 0; i < 4; ++i) {
        const auto& a = q[i];
        const auto& b = q[(i + 1) % 4];
        area += (-a.y) * b.x - (-b.y) * a.x;
    }
    EXPECT_GT(area, 0.0);
}

TEST(PanelGeometry, TinyPanelsAreNotDrawn) {
    EXPECT_FALSE(PanelDrawable(1, 300));
    EXPECT_FALSE(PanelDrawable(300, 1));
    EXPECT_FALSE(PanelDrawable(0, 0));
    EXPECT_TRUE(PanelDrawable(2, 2));
    EXPECT_EQ(PanelSizeFor(3, 600).Width, 1);  // a 3-pixel window gives a 1-pixel panel
}

// --- Panels in the picture's own shape ----------------------------------------

TEST(PanelPlacement, FramedGivesTheTileQuadsExactly) {
    for (const auto& size : {TPanelSize{512, 384}, TPanelSize{960, 540}, TPanelSize{256, 3}}) {
        // Shown framed however the picture covers the bitmap.
        const TPanelPlacement framed =
            PicturePlacement(false, 10, 10, 100, 2, size.Width, size.Height, 16.0 / 9);
        for (int row = 0; row < TilesDown(size.Height); ++row) {
            for (int column = 0; column < TilesAcross(size.Width); ++column) {
                const TTileRect tile = TileRect(column, row, size.Width, size.Height);
                TTileRect clipped;
                ASSERT_TRUE(ClipToArea(tile, framed.Area, clipped));
                const auto want = TileQuad(tile, size.Width, size.Height);
                const auto got = PlacedQuad(tile, clipped, framed);
                for (int i = 0; i < 4; ++i) {
                    EXPECT_EQ(got[i].s, want[i].s);
                    EXPECT_EQ(got[i].t, want[i].t);
                    EXPECT_EQ(got[i].x, want[i].x);
                    EXPECT_EQ(got[i].y, want[i].y);
                }
            }
        }
    }
}

// The world rectangle the placed quads of a placement cover, and their
// texture coordinates at its edges.
struct TCoverage {
    double top = -1e9, bottom = 1e9, left = -1e9, right = 1e9;
    int quads = 0;
};
TCoverage Cover(const TPanelPlacement& p, int width, int height) {
    TCoverage c;
    for (int row = 0; row < TilesDown(height); ++row) {
        for (int column = 0; column < TilesAcross(width); ++column) {
            const TTileRect tile = TileRect(column, row, width, height);
            TTileRect clipped;
            if (!ClipToArea(tile, p.Area, clipped)) continue;
            ++c.quads;
            for (const TPanelVertex& v : PlacedQuad(tile, clipped, p)) {
                c.top = std::max(c.top, v.x);
                c.bottom = std::min(c.bottom, v.x);
                c.left = std::max(c.left, v.y);
                c.right = std::min(c.right, v.y);
                // Only texels of the tile's own pixels are addressed.
                EXPECT_GE(v.s, 0.5 / 256);
                EXPECT_LE(v.s, (tile.x1 - tile.x0 + 0.5) / 256);
                EXPECT_GE(v.t, 0.5 / 256);
                EXPECT_LE(v.t, (tile.y1 - tile.y0 + 0.5) / 256);
            }
        }
    }
    return c;
}

TEST(PanelPlacement, OwnShapeTakesThePicturesProportionsAroundTheFramedCentre) {
    struct Case {
        int left, top, width, height;  // covered part of a 960 x 540 bitmap
        double screenAspect;
        double wantWidth, wantHeight;  // world extents
    } cases[] = {
        // Portrait 2:3 on a 16:9 screen: as tall as the framed panel.
        {300, 0, 360, 540, 16.0 / 9, 18.891 * 360 / 540, 18.891},
        // Landscape 3:2: the framed panel's width.
        {75, 0, 810, 540, 16.0 / 9, 25.16, 25.16 * 540 / 810},
        // A panorama 4:1 fills the bitmap's width.
        {0, 150, 960, 240, 16.0 / 9, 25.16, 25.16 / 4},
        // Portrait on a portrait screen: its longer side is the framed panel's.
        {300, 0, 360, 540, 9.0 / 16, 25.16 * 360 / 540, 25.16},
        // Square on a 4:3 screen: as tall as the framed panel.
        {210, 0, 540, 540, 4.0 / 3, 18.891, 18.891},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.width * 1000 + k.height);
        const TPanelPlacement p =
            PicturePlacement(true, k.left, k.top, k.width, k.height, 960, 540, k.screenAspect);
        const TCoverage c = Cover(p, 960, 540);
        EXPECT_NEAR(c.left - c.right, k.wantWidth, 1e-9);
        EXPECT_NEAR(c.top - c.bottom, k.wantHeight, 1e-9);
        // Centred where the framed panel's centre is.
        EXPECT_NEAR((c.top + c.bottom) / 2, -kPanelExtentX / 2, 1e-9);
        EXPECT_NEAR((c.left + c.right) / 2, -kPanelExtentY / 2, 1e-9);
        // It fills the screen no sooner than the framed panel does: neither
        // its height nor its width (in screen heights) exceeds the framed one's.
        const double framedFill = std::max(kPanelExtentX, kPanelExtentY / k.screenAspect);
        EXPECT_LE(std::max(c.top - c.bottom, (c.left - c.right) / k.screenAspect), framedFill + 1e-9);
    }
}

TEST(PanelPlacement, QuadsStopAtTheCoveredAreaInsideTiles) {
    // Columns 300 to 659 of 960: tile 1 (255..510) is cut at 300, tile 2
    // (510..765) at 659; tile 3 (765..959) is not drawn.
    const TPanelPlacement p = PicturePlacement(true, 300, 0, 360, 540, 960, 540, 16.0 / 9);
    TTileRect clipped;
    EXPECT_FALSE(ClipToArea(TileRect(0, 0, 960, 540), p.Area, clipped));
    EXPECT_FALSE(ClipToArea(TileRect(3, 0, 960, 540), p.Area, clipped));
    const TTileRect first = TileRect(1, 0, 960, 540);
    ASSERT_TRUE(ClipToArea(first, p.Area, clipped));
    const auto q = PlacedQuad(first, clipped, p);
    EXPECT_DOUBLE_EQ(q[2].s, (300 - 255 + 0.5) / 256);  // the area's first column, at its texel centre
    EXPECT_DOUBLE_EQ(q[2].y, p.Left);
    EXPECT_EQ(Cover(p, 960, 540).quads, 2 * 3);
}

TEST(PanelPlacement, TinyOrStrayAreasAreShownFramed) {
    const TPanelPlacement framed = FramedPlacement(960, 540);
    for (const auto& a : {std::array<int, 4>{0, 0, 1, 540},
                          {0, 0, 960, 1},
                          {-1, 0, 100, 100},
                          {900, 0, 100, 100},
                          {0, 500, 100, 41}}) {
        const TPanelPlacement p = PicturePlacement(true, a[0], a[1], a[2], a[3], 960, 540, 16.0 / 9);
        EXPECT_EQ(p.Area.x1, framed.Area.x1);
        EXPECT_EQ(p.Area.y1, framed.Area.y1);
        EXPECT_EQ(p.ExtentY, kPanelExtentY);
    }
}

// --- Panel size for very large windows --------------------------------------

TEST(PanelSize, HugeWindowIsCappedToTheTextureTableKeepingItsAspect) {
    const TPanelSize p = PanelSizeFor(8192, 6400);
    const long tiles = static_cast<long>(TilesAcross(p.Width)) * TilesDown(p.Height);
    EXPECT_LE(tiles, kMaxTiles);
    EXPECT_NEAR(static_cast<double>(p.Width) / p.Height, 4096.0 / 3200.0, 0.001);
    // Capped by rows (12 of them, 3060 pixels), not by the cruder column limit.
    EXPECT_EQ(p.Height, 3060);
    EXPECT_EQ(p.Width, 3916);
}

TEST(PanelSize, EveryCappedSizeFitsAndIsNeverLargerThanHalfTheWindow) {
    for (int w : {4000, 6000, 8192, 10000, 20000, 100000, INT_MAX}) {
        for (int h : {2, 100, 3000, 6400, 20000, INT_MAX}) {
            const TPanelSize p = PanelSizeFor(w, h);
            EXPECT_LE(static_cast<long>(TilesAcross(p.Width)) * TilesDown(p.Height), kMaxTiles)
                << w << "x" << h;
            EXPECT_LE(p.Width, w / 2);
            EXPECT_LE(p.Height, h / 2);
            EXPECT_GE(p.Width, 1);
            EXPECT_GE(p.Height, 1);
        }
    }
}

TEST(PanelSize, OrdinaryWindowsAreHalved) {
    EXPECT_EQ(PanelSizeFor(1920, 1080).Width, 960);
    EXPECT_EQ(PanelSizeFor(1920, 1080).Height, 540);
    EXPECT_EQ(PanelSizeFor(153, 111).Width, 76);  // integer division
    EXPECT_EQ(PanelSizeFor(0, 0).Width, 0);
}

// --- Stars ------------------------------------------------------------------

TEST(Stars, StartOfACycle) {
    EXPECT_EQ(StarCycleIndex(200.0f), 0);
    EXPECT_NEAR(StarDepth(0, 200.0f, 0), 200.2, 1e-9);
    EXPECT_NEAR(StarDepth(1, 200.0f, 0), 0.4, 1e-9);
    EXPECT_NEAR(StarDepth(999, 200.0f, 0), 200.0, 1e-9);
}

TEST(Stars, EndOfACycle) {
    EXPECT_EQ(StarCycleIndex(0.0f), 999);
    for (int i : {0, 1, 500, 999}) {
        EXPECT_NEAR(StarDepth(i, 0.0f, 999), 0.2 * (i + 1), 1e-9);
    }
}

TEST(Stars, EveryStarApproachesAtTheSceneSpeedOrIsRecycled) {
    // Between two phases a star moves exactly the travelled distance closer,
    // unless it passed the eye, in which case it re-enters 200 units back.
    const float step = 0.35f;
    for (float phase = 199.9f; phase - step > 0.0f; phase -= 7.3f) {
        const int k0 = StarCycleIndex(phase);
        const int k1 = StarCycleIndex(phase - step);
        ASSERT_GE(k1, k0);
        for (int i = 0; i < kStarCount; ++i) {
            const double d0 = StarDepth(i, phase, k0);
            const double d1 = StarDepth(i, phase - step, k1);
            const double moved = d0 - d1;
            const bool recycled = std::fabs(moved - (step - kDepthRange)) < 1e-3;
            EXPECT_TRUE(std::fabs(moved - step) < 1e-3 || recycled) << "phase " << phase << " star " << i;
            EXPECT_GT(d1, -0.5) << "phase " << phase << " star " << i;
            EXPECT_LE(d1, 200.2 + 1e-3);
        }
    }
}

TEST(Stars, FrameStepZeroLeavesThePanelInPlace) {
    TPhotoPanel panel;
    panel.Distance = 123.5f;
    AdvancePanel(panel, 0.0f);
    EXPECT_EQ(panel.Distance, 123.5f);
    AdvancePanel(panel, 0.5f);
    EXPECT_EQ(panel.Distance, 123.0f);
    EXPECT_EQ(StarCycleIndex(57.25f), StarCycleIndex(57.25f));
}

// --- Camera -----------------------------------------------------------------

TEST(Camera, LookAtPointOfTheFixedCamera) {
    const TVec3 p = LookAtPoint(0, 0, 60, 899, 0);
    EXPECT_NEAR(p.x, 0.174533, 1e-6);
    EXPECT_NEAR(p.y, 0.0, 1e-12);
    EXPECT_NEAR(p.z, 10.000305, 1e-6);
}

TEST(Camera, AspectOfTheViewport) {
    EXPECT_NEAR(ProjectionAspect(800, 600), 1.3333, 1e-4);
    EXPECT_EQ(ProjectionAspect(800, 0), 1.0);
}

TEST(Camera, VersionStrings) {
    EXPECT_TRUE(VersionAtLeast11("4.5 (Compatibility Profile) Mesa 22.3.6"));
    EXPECT_TRUE(VersionAtLeast11("1.1.0"));
    EXPECT_TRUE(VersionAtLeast11("1.10"));
    EXPECT_TRUE(VersionAtLeast11("2"));
    EXPECT_FALSE(VersionAtLeast11("1.0.3"));
    EXPECT_FALSE(VersionAtLeast11("1"));
    EXPECT_FALSE(VersionAtLeast11("0.9"));
    EXPECT_FALSE(VersionAtLeast11("OpenGL 4.5"));
    EXPECT_FALSE(VersionAtLeast11(""));
    EXPECT_FALSE(VersionAtLeast11(nullptr));
}

// --- Random placement -------------------------------------------------------

TEST(RandomPlacement, StarsAndPanelDrawInTheSpecifiedOrder) {
    TRandom random(1234);
    std::mt19937 reference(1234);
    auto real = [&reference] { return reference() * (1.0 / 4294967296.0); };

    std::array<TStar, kStarCount> stars{};
    InitStarField(stars, random);
    for (const TStar& star : stars) {
        const float x = static_cast<float>((real() - 0.5) * 200);
        const float y = static_cast<float>((real() - 0.5) * 200);
        ASSERT_EQ(star.StarX, x);
        ASSERT_EQ(star.StarY, y);
        ASSERT_GE(star.StarX, -100.0f);
        ASSERT_LT(star.StarX, 100.0f);
    }

    TPhotoPanel panel;
    LaunchPanel(panel, random);
    EXPECT_EQ(panel.Distance, 200.0f);
    EXPECT_EQ(panel.OffsetX, static_cast<float>((real() - 0.5) * 60 + 12.58));
    EXPECT_EQ(panel.OffsetY, static_cast<float>((real() - 0.5) * 60 + 9.4455));
}

// --- Tile copy ----------------------------------------------------------------

TEST(CopyTileTest, ConvertsBgrxToRgbAndLeavesTheRestAlone) {
    const int width = 300;
    const int height = 4;
    std::vector<std::uint8_t> pixels(width * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &pixels[(y * width + x) * 4];
            p[0] = static_cast<std::uint8_t>(x);      // blue
            p[1] = static_cast<std::uint8_t>(y);      // green
            p[2] = static_cast<std::uint8_t>(x + y);  // red
            p[3] = 0x77;
        }
    }
    static TStagingBuffer staging;
    staging.fill(0xAA);
    CopyTile(pixels.data(), staging, 255, 1, 299, 3, width);
    for (int ty = 0; ty < 3; ++ty) {
        for (int tx = 0; tx < 45; ++tx) {
            const std::uint8_t* t = &staging[ty * 768 + tx * 3];
            const int x = 255 + tx;
            const int y = 1 + ty;
            ASSERT_EQ(t[0], static_cast<std::uint8_t>(x + y));
            ASSERT_EQ(t[1], static_cast<std::uint8_t>(y));
            ASSERT_EQ(t[2], static_cast<std::uint8_t>(x));
        }
        EXPECT_EQ(staging[ty * 768 + 45 * 3], 0xAA);  // right of the rectangle
    }
    EXPECT_EQ(staging[3 * 768], 0xAA);  // below it
}

TEST(CopyTileTest, RejectsRectanglesThatDoNotFitATile) {
    std::vector<std::uint8_t> pixels(600 * 600 * 4);
    static TStagingBuffer staging;
    EXPECT_THROW(CopyTile(pixels.data(), staging, 0, 0, 256, 10, 600), Exception);
    EXPECT_THROW(CopyTile(pixels.data(), staging, 0, 0, 10, 256, 600), Exception);
    EXPECT_THROW(CopyTile(pixels.data(), staging, 5, 0, 4, 10, 600), Exception);
    EXPECT_THROW(CopyTile(pixels.data(), staging, -1, 0, 4, 10, 600), Exception);
    EXPECT_THROW(CopyTile(pixels.data(), staging, 590, 0, 600, 10, 600), Exception);
    EXPECT_NO_THROW(CopyTile(pixels.data(), staging, 0, 0, 255, 255, 600));
}

}  // namespace
