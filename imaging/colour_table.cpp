#include "imaging/colour_table.h"

#include <cstring>
#include <utility>

namespace {

constexpr int kSteps = kColourGridPoints - 1;
constexpr std::uint32_t kOne = 4096;  // a whole cell, in fraction units

// Where byte value x falls on an axis: the node below it and the fraction
// of the way to the next, in units of 1/4096 (a 500th of a level, and small
// enough that a pixel's sums stay within 32 bits).
struct TAxisPlace {
    std::uint8_t Node;
    std::uint32_t Fraction;  // 0 .. kOne (kOne only for 255, on the last cell's far side)
};
struct TAxisTable {
    TAxisPlace Places[256];
    TAxisTable() {
        for (int x = 0; x < 256; ++x) {
            const int scaled = x * kSteps;
            int node = scaled / 255;
            int rest = scaled % 255;
            // 255 sits on the last node; interpolating from it would read past the grid.
            if (node == kSteps) node = kSteps - 1, rest = 255;
            Places[x].Node = static_cast<std::uint8_t>(node);
            Places[x].Fraction = static_cast<std::uint32_t>((rest * kOne + 127) / 255);
        }
    }
};
const TAxisTable kAxis;

// A 16-bit channel value times kOne (the weights' sum) to a byte,
// rounded: divide by kOne * 257.
std::uint8_t ToByte(std::uint32_t weighted) {
    constexpr std::uint32_t kScale = kOne * 257;
    static_assert(std::uint64_t{kOne} * 65535 + kScale / 2 <= 0xFFFFFFFFu, "a pixel's sums fit 32 bits");
    return static_cast<std::uint8_t>((weighted + kScale / 2) / kScale);
}

}  // namespace

std::uint16_t ColourNodeValue(int i, int points) {
    return static_cast<std::uint16_t>((i * 65535 + (points - 1) / 2) / (points - 1));
}

TRgbTable::TRgbTable()
    : nodes_(NodeCount() * 3, 0), exact_(CellCount(), 0), sent_(CellCount(), 0), keptAt_(CellCount(), 0) {}

// Byte value x lies in cell x / 8 along its axis (kSteps is 32), so a cell
// holds 8 x 8 x 8 colours.
static_assert(kSteps == 32, "cells of 8 byte values per axis");

const std::uint8_t* TRgbTable::Kept(std::size_t cell, const std::uint8_t* bgrx) const {
    const std::uint32_t at = keptAt_[cell];
    if (at == 0) return nullptr;
    const std::size_t colour = (std::size_t(bgrx[2] & 7) * 8 + (bgrx[1] & 7)) * 8 + (bgrx[0] & 7);
    return &kept_[(at - 1) * kKeptCellBytes + colour * 3];
}

void TRgbTable::Keep(std::size_t cell, TExact exact, void* context) {
    if (KeptCellCount() >= kMaxKeptCells) return;
    const int r0 = int(cell / (kSteps * kSteps)) * 8, g0 = int(cell / kSteps % kSteps) * 8, b0 = int(cell % kSteps) * 8;
    std::uint8_t colours[512 * 4];
    std::uint8_t* c = colours;
    for (int r = 0; r < 8; ++r)
        for (int g = 0; g < 8; ++g)
            for (int b = 0; b < 8; ++b, c += 4)
                c[0] = std::uint8_t(b0 + b), c[1] = std::uint8_t(g0 + g), c[2] = std::uint8_t(r0 + r), c[3] = 0;
    exact(context, colours, 512);
    const std::size_t at = kept_.size();
    kept_.resize(at + kKeptCellBytes);
    for (std::size_t i = 0; i < 512; ++i) std::memcpy(&kept_[at + i * 3], &colours[i * 4], 3);
    keptAt_[cell] = static_cast<std::uint32_t>(at / kKeptCellBytes + 1);
}

void TRgbTable::MarkExactCells(const std::uint16_t* centres, std::uint32_t tolerance) {
    constexpr int kCells = kColourGridPoints - 1;
    for (int r = 0; r < kCells; ++r)
        for (int g = 0; g < kCells; ++g)
            for (int b = 0; b < kCells; ++b) {
                const std::size_t cell = CellIndex(r, g, b);
                bool mark = false;
                for (int c = 0; c < 3 && !mark; ++c) {
                    int low = 0, high = 0;
                    for (int k = 0; k < 8; ++k) {
                        const std::uint16_t v = Node(NodeIndex(r + (k >> 2), g + (k >> 1 & 1), b + (k & 1)))[c];
                        low += v == 0, high += v == 65535;
                    }
                    mark = (low > 0 && low < 8) || (high > 0 && high < 8);
                    // At equal fractions the tetrahedra meet on the cell's
                    // diagonal: the interpolated centre is its corners' mean.
                    const std::uint32_t mean =
                        (std::uint32_t{Node(NodeIndex(r, g, b))[c]} + Node(NodeIndex(r + 1, g + 1, b + 1))[c] + 1) / 2;
                    const std::uint32_t exact = centres[cell * 3 + c];
                    mark = mark || (mean > exact ? mean - exact : exact - mean) > tolerance;
                }
                exact_[cell] = mark;
            }
}

std::size_t TRgbTable::ExactCellCount() const {
    std::size_t n = 0;
    for (std::uint8_t e : exact_) n += e;
    return n;
}

void TRgbTable::Apply(std::uint8_t* bits, int width, int height, std::ptrdiff_t stride, TExact exact,
                      void* context) {
    constexpr int kCells = kColourGridPoints - 1;
    std::vector<std::uint8_t*> marked;
    std::vector<std::uint8_t> batch;
    if (exact) marked.reserve(std::size_t(width)), batch.resize(std::size_t(width) * 4);
    constexpr std::size_t kR = std::size_t{kColourGridPoints} * kColourGridPoints;  // node step along red
    constexpr std::size_t kG = kColourGridPoints;                                   // along green
    constexpr std::size_t kB = 1;                                                   // along blue
    const std::uint16_t* nodes = nodes_.data();
    for (int y = 0; y < height; ++y) {
        std::uint8_t* p = bits + y * stride;
        for (int x = 0; x < width; ++x, p += 4) {
            const TAxisPlace& pr = kAxis.Places[p[2]];
            const TAxisPlace& pg = kAxis.Places[p[1]];
            const TAxisPlace& pb = kAxis.Places[p[0]];
            const std::size_t cell = (std::size_t(pr.Node) * kCells + pg.Node) * kCells + pb.Node;
            if (exact && exact_[cell]) {
                if (const std::uint8_t* known = Kept(cell, p)) {
                    std::memcpy(p, known, 3);
                    continue;
                }
                marked.push_back(p);
                if (++sent_[cell] == kKeepCellAfter) Keep(cell, exact, context);
                continue;
            }
            const std::size_t base = (pr.Node * kR + pg.Node * kG + pb.Node * kB) * 3;
            // The tetrahedron of the cube that holds the point: walk from the
            // corner below along the axes in falling order of their fractions.
            std::uint32_t f1 = pr.Fraction, f2 = pg.Fraction, f3 = pb.Fraction;
            std::size_t s1 = kR, s2 = kG, s3 = kB;
            if (f1 < f2) std::swap(f1, f2), std::swap(s1, s2);
            if (f2 < f3) std::swap(f2, f3), std::swap(s2, s3);
            if (f1 < f2) std::swap(f1, f2), std::swap(s1, s2);
            const std::uint16_t* c0 = nodes + base;
            const std::uint16_t* c1 = c0 + s1 * 3;
            const std::uint16_t* c2 = c1 + s2 * 3;
            const std::uint16_t* c3 = c2 + s3 * 3;
            const std::uint32_t w0 = kOne - f1, w1 = f1 - f2, w2 = f2 - f3, w3 = f3;
            for (int c = 0; c < 3; ++c) p[2 - c] = ToByte(w0 * c0[c] + w1 * c1[c] + w2 * c2[c] + w3 * c3[c]);
        }
        if (marked.empty()) continue;
        // One call for the row's marked pixels, gathered side by side.
        for (std::size_t i = 0; i < marked.size(); ++i) std::memcpy(&batch[i * 4], marked[i], 4);
        exact(context, batch.data(), int(marked.size()));
        for (std::size_t i = 0; i < marked.size(); ++i) std::memcpy(marked[i], &batch[i * 4], 3);
        marked.clear();
    }
}

void TGrayTable::Apply(std::uint8_t* bits, int width, int height, std::ptrdiff_t stride) const {
    for (int y = 0; y < height; ++y) {
        std::uint8_t* p = bits + y * stride;
        for (int x = 0; x < width; ++x, p += 4) {
            const std::uint16_t* e = entries_[p[1]];
            for (int c = 0; c < 3; ++c) p[2 - c] = ToByte(std::uint32_t{e[c]} * kOne);
        }
    }
}
