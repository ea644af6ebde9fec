#include "render/scene_math.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;

double Radians(double degrees) {
    return degrees * kPi / 180.0;
}

// Tiles needed for a picture, in 64 bits so that no window size overflows.
std::int64_t TileCountFor(int width, int height) {
    return static_cast<std::int64_t>(TilesAcross(width)) * TilesDown(height);
}

}  // namespace

int TilesAcross(int panelWidth) {
    if (panelWidth <= 0) return 0;
    // Written so that panelWidth + 254 cannot overflow.
    return (panelWidth - 1) / kTileStep + 1;
}

int TilesDown(int panelHeight) {
    return TilesAcross(panelHeight);
}

TTileRect TileRect(int column, int row, int panelWidth, int panelHeight) {
    TTileRect r;
    r.x0 = kTileStep * column;
    r.y0 = kTileStep * row;
    r.x1 = std::min(kTileStep * (column + 1), panelWidth - 1);
    r.y1 = std::min(kTileStep * (row + 1), panelHeight - 1);
    return r;
}

bool PanelDrawable(int panelWidth, int panelHeight) {
    return panelWidth >= 2 && panelHeight >= 2;
}

double PanelX(int y, int panelHeight) {
    const double last = panelHeight - 1;
    return (last - y) * kPanelExtentX / last - kPanelExtentX;
}

double PanelY(int x, int panelWidth) {
    return -kPanelExtentY * x / (panelWidth - 1);
}

std::array<TPanelVertex, 4> TileQuad(const TTileRect& tile, int panelWidth, int panelHeight) {
    // Texel centres: texel n of 256 is sampled at (n + 0.5) / 256.
    const double sLeft = 0.5 / kTileSize;
    const double sRight = (tile.x1 - tile.x0 + 0.5) / kTileSize;
    const double tTop = 0.5 / kTileSize;
    const double tBottom = (tile.y1 - tile.y0 + 0.5) / kTileSize;
    const double xTop = PanelX(tile.y0, panelHeight);
    const double xBottom = PanelX(tile.y1, panelHeight);
    const double yLeft = PanelY(tile.x0, panelWidth);
    const double yRight = PanelY(tile.x1, panelWidth);
    // Bottom right, top right, top left, bottom left: counter-clockwise on
    // screen with the scene's camera, so back-face culling keeps the quad.
    return {{
        {sRight, tBottom, xBottom, yRight},
        {sRight, tTop, xTop, yRight},
        {sLeft, tTop, xTop, yLeft},
        {sLeft, tBottom, xBottom, yLeft},
    }};
}

TPanelPlacement FramedPlacement(int panelWidth, int panelHeight) {
    TPanelPlacement p;
    p.Area = {0, 0, panelWidth - 1, panelHeight - 1};
    return p;
}

TPanelPlacement PicturePlacement(bool ownShape, int left, int top, int width, int height, int panelWidth,
                                 int panelHeight, double screenAspect) {
    const bool inside = left >= 0 && top >= 0 && width >= 2 && height >= 2 && width <= panelWidth - left &&
                        height <= panelHeight - top;
    if (!ownShape || !inside) return FramedPlacement(panelWidth, panelHeight);
    // The fit keeps the picture's proportions in the bitmap's square pixels.
    const double aspect = static_cast<double>(width) / height;
    const double longSide = std::max(kPanelExtentX, kPanelExtentY);
    double w = aspect >= 1.0 ? longSide : longSide * aspect;
    double h = aspect >= 1.0 ? longSide / aspect : longSide;
    // The framed panel fills the screen's height when its 18.891 fills it,
    // its width when its 25.16 fills the screen's width, whichever comes
    // first: m is the height (and m * aspect the width) that fills it then.
    const double a = screenAspect > 0.0 ? screenAspect : 1.0;
    const double m = std::max(kPanelExtentX, kPanelExtentY / a);
    const double scale = std::min({1.0, m / h, m * a / w});
    w *= scale;
    h *= scale;
    TPanelPlacement p;
    p.Area = {left, top, left + width - 1, top + height - 1};
    p.ExtentX = h;
    p.ExtentY = w;
    // Centred on the framed panel's centre, so the flight passes where it did.
    p.Top = (h - kPanelExtentX) / 2.0;
    p.Left = (w - kPanelExtentY) / 2.0;
    return p;
}

bool ClipToArea(const TTileRect& tile, const TTileRect& area, TTileRect& clipped) {
    clipped = {std::max(tile.x0, area.x0), std::max(tile.y0, area.y0), std::min(tile.x1, area.x1),
               std::min(tile.y1, area.y1)};
    return clipped.x0 <= clipped.x1 && clipped.y0 <= clipped.y1;
}

std::array<TPanelVertex, 4> PlacedQuad(const TTileRect& tile, const TTileRect& clipped,
                                       const TPanelPlacement& placement) {
    const TTileRect& area = placement.Area;
    const double lastRow = area.y1 - area.y0, lastColumn = area.x1 - area.x0;
    // As PanelX and PanelY with the area's first pixel as origin; with the
    // framed placement the same arithmetic, so the same numbers.
    const auto x = [&](int y) {
        return placement.Top + ((lastRow - (y - area.y0)) * placement.ExtentX / lastRow - placement.ExtentX);
    };
    const auto y = [&](int col) { return placement.Left - placement.ExtentY * (col - area.x0) / lastColumn; };
    const double sLeft = (clipped.x0 - tile.x0 + 0.5) / kTileSize;
    const double sRight = (clipped.x1 - tile.x0 + 0.5) / kTileSize;
    const double tTop = (clipped.y0 - tile.y0 + 0.5) / kTileSize;
    const double tBottom = (clipped.y1 - tile.y0 + 0.5) / kTileSize;
    const double xTop = x(clipped.y0), xBottom = x(clipped.y1);
    const double yLeft = y(clipped.x0), yRight = y(clipped.x1);
    return {{
        {sRight, tBottom, xBottom, yRight},
        {sRight, tTop, xTop, yRight},
        {sLeft, tTop, xTop, yLeft},
        {sLeft, tBottom, xBottom, yLeft},
    }};
}

TPanelSize PanelSizeFor(int saverWidth, int saverHeight) {
    const int w = std::max(0, saverWidth / 2);
    const int h = std::max(0, saverHeight / 2);
    if (TileCountFor(w, h) <= kMaxTiles) return {w, h};

    // Too many tiles: try each column count that could fit (the widest
    // picture a columns hold is 255 * a pixels) with the height scaled alike,
    // then the same by rows, and keep the larger result. Every grid that
    // fits has at most kMaxTiles columns and rows.
    TPanelSize best{0, 0};
    for (int a = std::min(TilesAcross(w) - 1, kMaxTiles); a >= 1; --a) {
        const int cw = kTileStep * a;
        const int ch = std::max<int>(1, static_cast<int>(static_cast<std::int64_t>(h) * cw / w));
        if (TileCountFor(cw, ch) <= kMaxTiles) {
            if (cw > best.Width) best = {cw, ch};
            break;
        }
    }
    for (int d = std::min(TilesDown(h) - 1, kMaxTiles); d >= 1; --d) {
        const int ch = kTileStep * d;
        const int cw = std::max<int>(1, static_cast<int>(static_cast<std::int64_t>(w) * ch / h));
        if (TileCountFor(cw, ch) <= kMaxTiles) {
            if (cw > best.Width) best = {cw, ch};
            break;
        }
    }
    return best;
}

int StarCycleIndex(float starPhase) {
    const double s = kDepthRange - starPhase;
    // nearbyint rounds halves to the even neighbour in the default mode.
    const double k = std::nearbyint(s / kDepthRange * kStarCount - 0.49999);
    return static_cast<int>(std::min(k, static_cast<double>(kStarCount - 1)));
}

double StarDepth(int i, float starPhase, int k) {
    const double slot = kStarSpacing * (i + 1);
    if (i <= k) return starPhase + slot;
    return slot - (kDepthRange - starPhase);
}

TVec3 LookAtPoint(double eyeX, double eyeY, double eyeZ, std::int32_t yaw, std::int32_t pitch) {
    const double a = Radians(yaw / 5.0);
    const double b = Radians(pitch / 5.0);
    return {eyeX + kCameraReach * std::cos(b) * std::sin(a), eyeY - kCameraReach * std::sin(b) * std::sin(a),
            eyeZ + kCameraReach * std::cos(a)};
}

double ProjectionAspect(int width, int height) {
    if (height <= 0) return 1.0;
    return static_cast<double>(width) / static_cast<double>(height);
}

bool VersionAtLeast11(const char* versionString) {
    if (!versionString) return false;
    const char* p = versionString;
    auto readNumber = [&p](long& value) {
        if (*p < '0' || *p > '9') return false;
        value = 0;
        while (*p >= '0' && *p <= '9') {
            if (value < 100000) value = value * 10 + (*p - '0');
            ++p;
        }
        return true;
    };
    long major = 0;
    long minor = 0;
    if (!readNumber(major)) return false;
    if (major > 1) return true;
    if (major < 1 || *p != '.') return false;
    ++p;
    return readNumber(minor) && minor >= 1;
}
