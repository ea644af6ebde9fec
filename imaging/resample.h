#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "imaging/shared_alloc.h"

// Separable two-pass picture scaling with 16.16 fixed-point weights:
// horizontal first into a 3-byte-per-pixel work buffer, then vertical into the
// target. Two ways in: `Resample` for a whole decoded picture, and a
// TProgressiveResize that image plug-ins feed line by line while they
// decode, which also applies the picture's EXIF orientation. Work buffers and weight tables come
// from the shared allocator (imaging/shared_alloc.h).

// A pixel buffer in the program's bitmap layout: 4 bytes per pixel (blue,
// green, red, unused), top-down, rows of exactly Width * 4 bytes. Not owned:
// TBitmap (or a test) owns the memory. The fit options travel with it because
// the progressive path decides the fit itself.
struct TPixelView {
    std::uint8_t* Bits = nullptr;
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    bool ShrinkToFit = true;
    bool EnlargeToFit = false;
};

// ---- Filters --------------------------------------------------------------

using TFilterFunction = float (*)(float x);

struct TFilter {
    TFilterFunction Function;
    float Support;  // default half width in source pixels at scale 1
};

constexpr int kFilterCount = 7;
constexpr int kFilterBox = 0, kFilterTriangle = 1, kFilterHermite = 2, kFilterBell = 3, kFilterBSpline = 4,
              kFilterLanczos3 = 5, kFilterMitchell = 6;
extern const TFilter Filters[kFilterCount];

// ---- Weight records -------------------------------------------------------

struct TContributor {
    std::int32_t weight;  // 16.16 fixed point, 65536 = 1.0
    std::int32_t pixel;   // byte offset of the sample from the row start (or column top)
};

// One destination sample's contributors: a slice of the list's shared pool.
struct TContributors {
    TContributor* items = nullptr;  // points into TContributorList's pool, not owned
    std::int32_t capacity = 0;
    TContributor& operator[](std::int32_t i) const { return items[i]; }
};

struct TContributorEntry {
    std::int32_t n = 0;  // used entries of p
    TContributors p;
};

// One entry per destination column (horizontal pass) or row (vertical pass);
// allocated once with max(width, height) entries and refilled for the second
// pass. Entries and their contributor slices live in two shared-allocator
// blocks.
class TContributorList {
public:
    void Allocate(std::int32_t entries, std::int32_t capacity);
    void Free();
    std::int32_t Count() const { return count_; }
    std::int32_t Capacity() const { return capacity_; }
    TContributorEntry& operator[](std::int32_t i) const { return entries_[i]; }

private:
    TSharedBlock entryBlock_;
    TSharedBlock poolBlock_;
    TContributorEntry* entries_ = nullptr;
    std::int32_t count_ = 0;
    std::int32_t capacity_ = 0;
};

// Per-axis bound on contributors: Trunc(2·support/s + 1) when shrinking
// (s < 1), else Trunc(2·support + 1). Throws EPictureTooLarge when the bound
// cannot be stored.
std::int32_t ContributorBound(float scale, float support);
// The larger of the two axes' bounds for a srcW x srcH -> dstW x dstH scale.
std::int32_t ContributorCapacity(std::int32_t srcW, std::int32_t srcH, std::int32_t dstW, std::int32_t dstH,
                                 float support);

// Fills entries 0..D-1 of `list` for one axis: source length L, destination
// length D, byte step u between samples. Mirrors indices outside the source,
// drops zero weights and renormalises totals other than 0 and 65536.
void FillContributors(TContributorList& list, const TFilter& filter, float support, std::int32_t L,
                      std::int32_t D, std::int32_t u);

// ---- Whole picture --------------------------------------------------------

// Scales all of `source` into the rectangle (x, y, width, height) of
// `target` with filter `filterIndex` (0..6); support 0 means the filter's
// default. Nothing happens when a size is 0. Only bytes 0..2 of target
// pixels are written.
void Resample(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height, int filterIndex,
              float support, const TPixelView& source, const TPixelView& target);
void Stretch(const TFilter& filter, const TPixelView& source, const TPixelView& target, float support,
             std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height);

// ---- Fitting --------------------------------------------------------------

struct TRect32 {
    std::int32_t Left = 0, Top = 0, Width = 0, Height = 0;
};

// The aspect-keeping rectangle a w x h picture is scaled into inside a
// tw x th target (rx = w / tw, ry = h / th in single precision): full width
// when rx > ry, else full height, centred on the other axis.
TRect32 FittedRect(std::int32_t w, std::int32_t h, std::int32_t tw, std::int32_t th);

// ---- Progressive line protocol ---------------------------------------------

// One picture's progressive resize: the state of the line protocol from the
// decoder's announcement (line -1) to its last line, and the buffers the
// horizontal pass fills in between. A decode creates one for its target and
// hands the decoder's lines to Line; the host reaches it from the plug-ins'
// line callback (imaging/plugins_win32.h). Used by one thread at a time.
class TProgressiveResize {
public:
    // Armed for one picture into `target` (borrowed; it and its pixels must
    // outlive this object, which reads the fit options from it when the
    // picture is announced). `fitMode` is the FitMode setting: 1 Hermite,
    // 2 Lanczos3, anything else refuses to scale.
    TProgressiveResize(TPixelView* target, std::uint8_t fitMode);
    // Frees the buffers of a resize that stopped before its last line.
    ~TProgressiveResize();
    TProgressiveResize(const TProgressiveResize&) = delete;
    TProgressiveResize& operator=(const TProgressiveResize&) = delete;

    // The line callback's work. curLine = -1 announces the picture (low 16
    // bits of `data` = orientation); curLine >= 0 delivers row curLine,
    // `data` pointing to `width` pixels of red, green, blue. Returns 1 to go
    // on, 0 when progressive delivery is refused (only at line -1). Protocol
    // violations and refused sizes raise Exception: whoever hands lines over
    // from a plug-in must catch in a plain-C thunk rather than unwind through
    // the plug-in's frames, and rethrow once the decoder has returned.
    std::int32_t Line(std::intptr_t data, std::int32_t curLine, std::int32_t width, std::int32_t height);
    // Plans a w x h picture (display orientation) into the target: false
    // when the lines should not come progressively. Marks the resize used.
    bool Init(std::int32_t w, std::int32_t h);
    // Releases the work buffer and weight tables of a resize that stopped
    // early and ends it, so no later line can reach them.
    void Free();
    // Ready for another decoder of the same picture: whatever the last one
    // began or refused is dropped and line -1 is accepted again.
    void Rearm();

    bool Armed() const { return armed_; }      // line -1 will be accepted
    bool Started() const { return started_; }  // line -1 accepted, last line not yet seen
    bool Finished() const { return finished_; }  // line -1 accepted and every line after it
    bool Used() const { return used_; }        // Init was entered since arming
    bool Resampling() const { return resampling_; }
    std::uint8_t FilterIndex() const { return filterIndex_; }
    const TRect32& TargetRect() const { return targetRect_; }  // display orientation
    std::uint16_t Orientation() const { return orientation_; }  // 1..8
    std::int32_t ScaledWidth() const { return scaledWidth_; }   // stored orientation
    std::int32_t ScaledHeight() const { return scaledHeight_; }
    std::int32_t PrevLine() const { return prevLine_; }

private:
    struct TBuffers;

    std::uint8_t* OrientedRowStart(std::int32_t r, std::ptrdiff_t& step) const;
    void CheckPlacement() const;
    void ProcessLine(const std::uint8_t* line, std::int32_t r);
    void FinishResampling();

    TPixelView* target_;   // where the lines end up; not owned
    std::uint8_t fitMode_;
    bool armed_ = true;
    bool started_ = false;
    bool finished_ = false;
    bool used_ = false;
    std::int32_t sourceWidth_ = 0, sourceHeight_ = 0;  // stored picture size announced at line -1
    std::uint16_t orientation_ = 1;
    TRect32 targetRect_;
    std::int32_t scaledWidth_ = 0, scaledHeight_ = 0;
    bool resampling_ = false;
    std::uint8_t filterIndex_ = kFilterHermite;
    std::int32_t prevLine_ = 0;
    std::unique_ptr<TBuffers> buffers_;  // alive from line 0 to the end of the vertical pass
};

// Selects the SSE2 loops (default where compiled in) or the plain loops; both
// give identical bytes. For tests and the benchmark.
void SetResampleSimd(bool enabled);
bool ResampleSimdAvailable();
