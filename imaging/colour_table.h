#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// A colour conversion sampled once and applied to many pixels. The colour
// engine converts only the table's nodes; each pixel is then interpolated
// between the eight nodes around it (tetrahedral interpolation, as colour
// engines do for their own precalculated tables). Converting a few tens of
// thousands of nodes costs the engine a fraction of converting a fitted
// picture pixel by pixel, and a smooth conversion between gamma-encoded
// spaces interpolates to well within a level on 33 steps per axis.
//
// Where the conversion clips, or its output is near black (where the sRGB
// curve is steep), interpolation across a cell can miss by several levels:
// such cells are marked, and their pixels are handed back to the engine to
// convert exactly.
//
// Pixels are 32-bit B, G, R, x in memory; the x byte is left as it was.

// Nodes per axis of an RGB table: every eighth level, and 255.
constexpr int kColourGridPoints = 33;

// The 16-bit input value of node `i` of `points` along an axis: i * 65535 / (points - 1).
std::uint16_t ColourNodeValue(int i, int points = kColourGridPoints);

// An RGB-to-RGB table: node (r, g, b) holds the conversion of the input
// (ColourNodeValue(r), ColourNodeValue(g), ColourNodeValue(b)).
class TRgbTable {
public:
    TRgbTable();
    static constexpr std::size_t NodeCount() {
        return std::size_t{kColourGridPoints} * kColourGridPoints * kColourGridPoints;
    }
    // Index of node (r, g, b); blue varies fastest.
    static std::size_t NodeIndex(int r, int g, int b) {
        return (std::size_t(r) * kColourGridPoints + g) * kColourGridPoints + b;
    }
    // Output of node `index`, 16 bits per channel, R, G, B.
    std::uint16_t* Node(std::size_t index) { return &nodes_[index * 3]; }
    const std::uint16_t* Node(std::size_t index) const { return &nodes_[index * 3]; }

    // Cells lie between nodes; cell (r, g, b) has node (r, g, b) as its lowest corner.
    static constexpr std::size_t CellCount() {
        return std::size_t{kColourGridPoints - 1} * (kColourGridPoints - 1) * (kColourGridPoints - 1);
    }
    static std::size_t CellIndex(int r, int g, int b) {
        return (std::size_t(r) * (kColourGridPoints - 1) + g) * (kColourGridPoints - 1) + b;
    }
    // Marks the cells that interpolation cannot serve: those where any output
    // channel reaches 0 or 65535 at some of their corners but not all (the
    // conversion clips inside), and those whose centre, as the engine
    // converted it (`centres`, 16-bit R, G, B per cell in CellIndex order),
    // differs from the interpolated one by more than `tolerance` (1/65535 units).
    void MarkExactCells(const std::uint16_t* centres, std::uint32_t tolerance);
    std::size_t ExactCellCount() const;

    // The engine's conversion of `count` contiguous B, G, R, x pixels in place.
    using TExact = void (*)(void* context, std::uint8_t* bgrx, int count);

    // Converts `height` rows of `width` pixels, rows `stride` bytes apart.
    // Pixels of marked cells go to `exact` (a row's worth at a time) when one
    // is given. A marked cell that has sent kKeepCellAfter pixels there has
    // all 512 of its colours converted at once and kept: a saturated sky or
    // flower meets the same few cells again and again, in this picture and
    // in the next of the same profile.
    void Apply(std::uint8_t* bits, int width, int height, std::ptrdiff_t stride, TExact exact = nullptr,
               void* context = nullptr);

    static constexpr std::uint16_t kKeepCellAfter = 256;
    // At most this many cells are kept (1.5 KB each, 3 MB in all).
    static constexpr std::size_t kMaxKeptCells = 2048;
    std::size_t KeptCellCount() const { return kept_.size() / kKeptCellBytes; }

private:
    static constexpr std::size_t kKeptCellBytes = 8 * 8 * 8 * 3;
    // The kept B, G, R of the colour `bgrx` of `cell`, or null.
    const std::uint8_t* Kept(std::size_t cell, const std::uint8_t* bgrx) const;
    void Keep(std::size_t cell, TExact exact, void* context);

    std::vector<std::uint16_t> nodes_;  // NodeCount() * 3
    std::vector<std::uint8_t> exact_;   // CellCount(): 1 for a marked cell
    std::vector<std::uint16_t> sent_;   // CellCount(): pixels a marked cell has sent to the engine, until kept
    std::vector<std::uint32_t> keptAt_; // CellCount(): 1 + the cell's place in kept_, 0 when not kept
    std::vector<std::uint8_t> kept_;    // kKeptCellBytes per kept cell: B, G, R in (r, g, b) & 7 order
};

// A grey-to-RGB table for pictures with a grey profile: the decoder gave
// them equal R, G and B, so the green byte is the grey level.
class TGrayTable {
public:
    // Output for grey level `level` (0..255), 16 bits per channel, R, G, B.
    std::uint16_t* Level(int level) { return entries_[level]; }

    void Apply(std::uint8_t* bits, int width, int height, std::ptrdiff_t stride) const;

private:
    std::uint16_t entries_[256][3] = {};
};
