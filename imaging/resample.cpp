#include "imaging/resample.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#define QV_HAVE_SSE2 1
#else
#define QV_HAVE_SSE2 0
#endif

namespace {

// A process-wide switch for tests and the benchmark (SetResampleSimd), which
// compare both kinds of loop on the same input; the product never changes
// it, and both give the same bytes.
bool useSimd = QV_HAVE_SSE2 != 0;

// Round to nearest, ties to even (the default rounding mode of both builds).
// Saturates instead of overflowing: a renormalisation by a tiny total could
// otherwise push a weight past 32 bits.
// Adding and subtracting 1.5 * 2^52 leaves no fraction bits, so the addition
// itself rounds to nearest with ties to even; the C library's nearbyint does
// the same but saves and restores the floating-point environment on every
// call, which in the MinGW runtime made weight tables cost more than the
// pixel loops.
std::int32_t RoundEven(double v) {
    if (!(v >= -2147483648.0)) return INT32_MIN;
    if (v > 2147483647.0) return INT32_MAX;
    constexpr double kShifter = 6755399441055744.0;
    volatile double shifted = v + kShifter;  // volatile: the sum must be rounded to double, not folded away
    return static_cast<std::int32_t>(shifted - kShifter);
}

// Floor and Ceil of window bounds by conversion (the bounds are far inside
// 64 bits once the contributor capacity has been checked).
std::int64_t FloorToInt(float v) {
    const auto t = static_cast<std::int64_t>(v);
    return static_cast<float>(t) > v ? t - 1 : t;
}
std::int64_t CeilToInt(float v) {
    const auto t = static_cast<std::int64_t>(v);
    return static_cast<float>(t) < v ? t + 1 : t;
}

// Bytes beyond the last work-buffer row: the vertical loops read whole
// 16-byte vectors, so the last row's tail may run up to 15 bytes past it.
constexpr std::int32_t kVectorSlack = 16;
// Bytes after a copied decoder line: a 16-byte load at its last 3-byte pixel.
constexpr std::int32_t kLinePadding = 16;

// Divide a 16.16 sum by 65536 rounding toward zero and clamp to a byte. The
// sum is computed with 32-bit wrap-around (unsigned) so that the loops are
// free of undefined behaviour even for absurd weights.
inline std::uint8_t ClampSum(std::uint32_t sum) {
    std::int32_t s = static_cast<std::int32_t>(sum);
    if (s < 0) s += 65535;  // toward zero; any negative result clamps to 0 anyway
    s >>= 16;
    return static_cast<std::uint8_t>(s < 0 ? 0 : (s > 255 ? 255 : s));
}

}  // namespace

void SetResampleSimd(bool enabled) { useSimd = enabled && QV_HAVE_SSE2; }
bool ResampleSimdAvailable() { return QV_HAVE_SSE2 != 0; }

// ---- Contributor list -------------------------------------------------------

void TContributorList::Allocate(std::int32_t entries, std::int32_t capacity) {
    Free();
    std::int32_t entryBytes = CheckedBytes(entries, sizeof(TContributorEntry), 1, "contributor list");
    std::int32_t poolBytes = CheckedBytes(entries, capacity, sizeof(TContributor), "contributor arrays");
    entryBlock_ = TSharedBlock(entryBytes);
    poolBlock_ = TSharedBlock(poolBytes);
    entries_ = reinterpret_cast<TContributorEntry*>(entryBlock_.Data());
    auto* pool = reinterpret_cast<TContributor*>(poolBlock_.Data());
    for (std::int32_t i = 0; i < entries; ++i) {
        entries_[i].n = 0;
        entries_[i].p.items = pool + static_cast<std::ptrdiff_t>(i) * capacity;
        entries_[i].p.capacity = capacity;
    }
    count_ = entries;
    capacity_ = capacity;
}

void TContributorList::Free() {
    entryBlock_.Reset();
    poolBlock_.Reset();
    entries_ = nullptr;
    count_ = 0;
    capacity_ = 0;
}

std::int32_t ContributorBound(float scale, float support) {
    float bound = scale < 1.0f ? 2.0f * support / scale + 1.0f : 2.0f * support + 1.0f;
    // Two spare slots: with float centres a window can touch one more sample
    // than the bound at each end (its weight is then 0 or nearly so).
    double withSlack = std::trunc(static_cast<double>(bound)) + 2.0;
    if (!(withSlack >= 1.0 && withSlack <= static_cast<double>(INT32_MAX / sizeof(TContributor)))) {
        throw EPictureTooLarge("picture too large: scale " + std::to_string(scale) + " needs too many weights");
    }
    return static_cast<std::int32_t>(withSlack);
}

std::int32_t ContributorCapacity(std::int32_t srcW, std::int32_t srcH, std::int32_t dstW, std::int32_t dstH,
                                 float support) {
    float xscale = static_cast<float>(dstW) / static_cast<float>(srcW);
    float yscale = static_cast<float>(dstH) / static_cast<float>(srcH);
    return std::max(ContributorBound(xscale, support), ContributorBound(yscale, support));
}

void FillContributors(TContributorList& list, const TFilter& filter, float support, std::int32_t L,
                      std::int32_t D, std::int32_t u) {
    if (L <= 0 || D <= 0 || D > list.Count() || !(support > 0.0f) || !std::isfinite(support)) {
        throw Exception("internal error in FillContributors, L=" + std::to_string(L) + ", D=" + std::to_string(D) +
                        ", entries=" + std::to_string(list.Count()) + ", support=" + std::to_string(support));
    }
    const float s = static_cast<float>(D) / static_cast<float>(L);
    const bool shrinking = s < 1.0f;
    const float width = shrinking ? support / s : support;
    for (std::int32_t i = 0; i < D; ++i) {
        TContributorEntry& entry = list[i];
        entry.n = 0;
        std::int64_t total = 0;
        const float center = static_cast<float>(i) / s;
        const std::int64_t left = FloorToInt(center - width);
        const std::int64_t right = CeilToInt(center + width);
        for (std::int64_t j = left; j <= right; ++j) {
            const float dist = center - static_cast<float>(j);
            std::int32_t weight;
            if (shrinking) {
                float v = filter.Function(dist * s) * s;
                weight = RoundEven(v * 256.0f * 256.0f);
            } else {
                weight = RoundEven(filter.Function(dist) * 256.0f * 256.0f);
            }
            total += weight;
            if (weight == 0) continue;
            // Left edge reflects without repeating sample 0, right edge repeats
            // sample L - 1. The clamp keeps sources shorter than the filter
            // window (a reflection that lands outside again) inside the row.
            std::int64_t k = j < 0 ? -j : (j >= L ? L - j + L - 1 : j);
            k = std::clamp<std::int64_t>(k, 0, L - 1);
            if (entry.n >= entry.p.capacity) {
                throw Exception("internal error in FillContributors: more than " +
                                std::to_string(entry.p.capacity) + " weights");
            }
            entry.p[entry.n] = {weight, static_cast<std::int32_t>(k * u)};
            ++entry.n;
        }
        if (total != 0 && total != 65536) {
            const double factor = 65536.0 / static_cast<double>(total);
            for (std::int32_t t = 0; t < entry.n; ++t) {
                entry.p[t].weight = RoundEven(factor * entry.p[t].weight);
            }
        }
    }
}

// ---- Packed weight tables for the SIMD loops -----------------------------------

namespace {

// How one axis' weights are fed to 16-bit multiply-adds.
enum class TWeightMode {
    Narrow,  // every weight fits int16: one multiply-add per pair of taps
    Split,   // weight = hi·256 + lo with hi in int16 and lo in 0..255: two per pair
    Plain,   // weights too large to split exactly: the plain loops
};

// Taps of one axis grouped in pairs, with each pair's weights broadcast to a
// 16-byte vector ready for the multiply-add: (w0, w1) repeated four times as
// 16-bit lanes. An odd tap count is padded with a zero weight on the last
// sample, so no loop reads a sample the list does not name.
struct TPackedAxis {
    TWeightMode mode = TWeightMode::Plain;
    TSharedBlock startBlock;   // int32 per entry + 1: first pair of each entry
    TSharedBlock pixelBlock;   // int32 pix0, pix1 per pair
    TSharedBlock weightBlock;  // 16 bytes per pair (Narrow) or 32 (Split: hi then lo)
    TSharedBlock runBlock;     // int32 per entry: leading pairs readable as 4 adjacent pixels
    const std::int32_t* start = nullptr;
    const std::int32_t* pixels = nullptr;
    const std::uint8_t* weights = nullptr;
    const std::int32_t* run = nullptr;

    void Free() {
        runBlock.Reset();
        run = nullptr;
        startBlock.Reset();
        pixelBlock.Reset();
        weightBlock.Reset();
        start = pixels = nullptr;
        weights = nullptr;
        mode = TWeightMode::Plain;
    }
};

inline std::uint32_t PairWord(std::int32_t w0, std::int32_t w1) {
    return (static_cast<std::uint32_t>(w0) & 0xFFFFu) | (static_cast<std::uint32_t>(w1) << 16);
}

void StoreBroadcast(std::uint8_t* dst, std::uint32_t word) {
    for (int lane = 0; lane < 4; ++lane) std::memcpy(dst + lane * 4, &word, 4);
}

// `adjacentStep` is the byte distance of neighbouring samples when the loops
// may read four of them with one 16-byte load (bitmap pixels), else 0.
void PackAxis(TPackedAxis& packed, const TContributorList& list, std::int32_t D, std::int32_t adjacentStep = 0) {
    packed.Free();
    std::int32_t lo = 0, hi = 0;
    std::int64_t pairs = 0;
    for (std::int32_t i = 0; i < D; ++i) {
        const TContributorEntry& e = list[i];
        pairs += (e.n + 1) / 2;
        for (std::int32_t t = 0; t < e.n; ++t) {
            lo = std::min(lo, e.p[t].weight);
            hi = std::max(hi, e.p[t].weight);
        }
    }
    if (!useSimd) return;
    if (lo >= -32768 && hi <= 32767) {
        packed.mode = TWeightMode::Narrow;
    } else if (lo >= -(1 << 23) && hi < (1 << 23)) {
        packed.mode = TWeightMode::Split;
    } else {
        return;
    }
    const std::int32_t vecBytes = packed.mode == TWeightMode::Narrow ? 16 : 32;
    packed.startBlock = TSharedBlock(CheckedBytes(D + std::int64_t{1}, 4, 1, "weight table"));
    packed.pixelBlock = TSharedBlock(CheckedBytes(pairs, 8, 1, "weight table"));
    // 15 spare bytes to start the table on a 16-byte boundary: the MinGW heap
    // aligns to 8 only, and weight vectors straddling cache lines cost the
    // inner loops dearly.
    packed.weightBlock =
        TSharedBlock(CheckedBytes(std::int64_t{CheckedBytes(pairs, vecBytes, 1, "weight table")} + 15, 1, 1,
                                  "weight table"));
    packed.runBlock = TSharedBlock(CheckedBytes(D, 4, 1, "weight table"));
    auto* run = reinterpret_cast<std::int32_t*>(packed.runBlock.Data());
    for (std::int32_t i = 0; i < D; ++i) {
        const TContributorEntry& e = list[i];
        bool adjacent = adjacentStep > 0;
        for (std::int32_t t = 1; adjacent && t < e.n; ++t) adjacent = e.p[t].pixel == e.p[t - 1].pixel + adjacentStep;
        // Whole groups of four real taps only: a padding tap's neighbour may
        // lie past the end of the row.
        run[i] = adjacent ? (e.n / 4) * 2 : 0;
    }
    packed.run = run;
    auto* start = reinterpret_cast<std::int32_t*>(packed.startBlock.Data());
    auto* pixels = reinterpret_cast<std::int32_t*>(packed.pixelBlock.Data());
    std::uint8_t* weights = packed.weightBlock.Data();
    weights += (16 - reinterpret_cast<std::uintptr_t>(weights) % 16) % 16;
    std::int32_t pair = 0;
    for (std::int32_t i = 0; i < D; ++i) {
        const TContributorEntry& e = list[i];
        start[i] = pair;
        for (std::int32_t t = 0; t < e.n; t += 2) {
            const TContributor c0 = e.p[t];
            const TContributor c1 = t + 1 < e.n ? e.p[t + 1] : TContributor{0, c0.pixel};
            pixels[pair * 2] = c0.pixel;
            pixels[pair * 2 + 1] = c1.pixel;
            std::uint8_t* w = weights + static_cast<std::ptrdiff_t>(pair) * vecBytes;
            if (packed.mode == TWeightMode::Narrow) {
                StoreBroadcast(w, PairWord(c0.weight, c1.weight));
            } else {
                StoreBroadcast(w, PairWord(c0.weight >> 8, c1.weight >> 8));
                StoreBroadcast(w + 16, PairWord(c0.weight & 0xFF, c1.weight & 0xFF));
            }
            ++pair;
        }
    }
    start[D] = pair;
    packed.start = start;
    packed.pixels = pixels;
    packed.weights = weights;
}

// ---- Horizontal pass: one row of BGRx pixels -> one work row of BGR ---------------

// Source samples are bitmap pixels (blue, green, red, unused; Rgb false) or
// decoder line pixels (red, green, blue; Rgb true); the work buffer is always
// blue, green, red.
template <bool Rgb>
void HorizontalRowPlain(const std::uint8_t* src, const TContributorList& list, std::int32_t first,
                        std::int32_t D, std::uint8_t* out) {
    constexpr int kBlue = Rgb ? 2 : 0, kRed = Rgb ? 0 : 2;
    for (std::int32_t c = first; c < D; ++c) {
        const TContributorEntry& e = list[c];
        std::uint32_t b = 0, g = 0, r = 0;
        for (std::int32_t t = 0; t < e.n; ++t) {
            const std::uint8_t* px = src + e.p[t].pixel;
            const auto w = static_cast<std::uint32_t>(e.p[t].weight);
            b += px[kBlue] * w;
            g += px[1] * w;
            r += px[kRed] * w;
        }
        out[c * 3] = ClampSum(b);
        out[c * 3 + 1] = ClampSum(g);
        out[c * 3 + 2] = ClampSum(r);
    }
}

#if QV_HAVE_SSE2
inline __m128i LoadPixel(const std::uint8_t* p) {
    std::int32_t v;
    std::memcpy(&v, p, 4);
    return _mm_cvtsi32_si128(v);
}

// Weight vectors are 16-byte aligned (see PackAxis), so the load can fold
// into the multiply-add.
inline __m128i LoadWeights(const std::uint8_t* p) { return _mm_load_si128(reinterpret_cast<const __m128i*>(p)); }

// Sums of four 16.16 lanes -> clamped bytes in the low 4 bytes (of each 4-lane group).
inline __m128i SumsToBytes(__m128i a, __m128i b) {
    __m128i words = _mm_packs_epi32(_mm_srai_epi32(a, 16), _mm_srai_epi32(b, 16));
    return _mm_packus_epi16(words, words);
}

// Loads 4 or 16 bytes at a sample: for 3-byte line pixels the caller pads the
// line so that loads at its last pixels stay inside the buffer.
template <TWeightMode Mode, bool Rgb>
void HorizontalRowSimd(const std::uint8_t* src, const TPackedAxis& packed, std::int32_t first, std::int32_t D,
                       std::uint8_t* out) {
    const __m128i zero = _mm_setzero_si128();
    for (std::int32_t c = first; c < D; ++c) {
        __m128i accHi = zero, accLo = zero;
        const std::int32_t end = packed.start[c + 1];
        std::int32_t pair = packed.start[c];
        {
            // Four adjacent pixels per load, regrouped so that each channel's
            // samples of pixels 0 and 1 (and of 2 and 3) share a 32-bit lane.
            const std::int32_t runEnd = pair + packed.run[c];
            const std::uint8_t* quad = src + packed.pixels[pair * 2];
            for (; pair < runEnd; pair += 2, quad += Rgb ? 12 : 16) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(quad));
                __m128i x01, x23;
                if constexpr (Rgb) {
                    // r0 g0 b0 r1 g1 b1 r2 g2 b2 r3 g3 b3 -> r0 r1 g0 g1 b0 b1 .. | r2 r3 g2 g3 b2 b3 ..
                    x01 = _mm_unpacklo_epi8(_mm_unpacklo_epi8(v, _mm_srli_si128(v, 3)), zero);
                    x23 = _mm_unpacklo_epi8(_mm_unpacklo_epi8(_mm_srli_si128(v, 6), _mm_srli_si128(v, 9)), zero);
                } else {
                    // p0 p1 p2 p3 -> b0 b1 g0 g1 r0 r1 x0 x1 | b2 b3 g2 g3 r2 r3 x2 x3
                    const __m128i t = _mm_shuffle_epi32(v, _MM_SHUFFLE(3, 1, 2, 0));
                    const __m128i x = _mm_unpacklo_epi8(t, _mm_unpackhi_epi64(t, t));
                    x01 = _mm_unpacklo_epi8(x, zero);
                    x23 = _mm_unpackhi_epi8(x, zero);
                }
                if constexpr (Mode == TWeightMode::Narrow) {
                    const std::uint8_t* w = packed.weights + pair * 16;
                    accHi = _mm_add_epi32(accHi, _mm_madd_epi16(x01, LoadWeights(w)));
                    accHi = _mm_add_epi32(accHi, _mm_madd_epi16(x23, LoadWeights(w + 16)));
                } else {
                    const std::uint8_t* w = packed.weights + pair * 32;
                    accHi = _mm_add_epi32(accHi, _mm_madd_epi16(x01, LoadWeights(w)));
                    accLo = _mm_add_epi32(accLo, _mm_madd_epi16(x01, LoadWeights(w + 16)));
                    accHi = _mm_add_epi32(accHi, _mm_madd_epi16(x23, LoadWeights(w + 32)));
                    accLo = _mm_add_epi32(accLo, _mm_madd_epi16(x23, LoadWeights(w + 48)));
                }
            }
        }
        for (; pair < end; ++pair) {
            const __m128i p0 = LoadPixel(src + packed.pixels[pair * 2]);
            const __m128i p1 = LoadPixel(src + packed.pixels[pair * 2 + 1]);
            // b0 b1 g0 g1 r0 r1 x0 x1 as 16-bit lanes: each multiply-add yields one channel.
            const __m128i x = _mm_unpacklo_epi8(_mm_unpacklo_epi8(p0, p1), zero);
            if constexpr (Mode == TWeightMode::Narrow) {
                accHi = _mm_add_epi32(accHi, _mm_madd_epi16(x, LoadWeights(packed.weights + pair * 16)));
            } else {
                accHi = _mm_add_epi32(accHi, _mm_madd_epi16(x, LoadWeights(packed.weights + pair * 32)));
                accLo = _mm_add_epi32(accLo, _mm_madd_epi16(x, LoadWeights(packed.weights + pair * 32 + 16)));
            }
        }
        __m128i acc = accHi;
        if constexpr (Mode == TWeightMode::Split) acc = _mm_add_epi32(_mm_slli_epi32(accHi, 8), accLo);
        const auto bytes = static_cast<std::uint32_t>(_mm_cvtsi128_si32(SumsToBytes(acc, acc)));
        out[c * 3] = static_cast<std::uint8_t>(Rgb ? bytes >> 16 : bytes);
        out[c * 3 + 1] = static_cast<std::uint8_t>(bytes >> 8);
        out[c * 3 + 2] = static_cast<std::uint8_t>(Rgb ? bytes : bytes >> 16);
    }
}
#endif

template <bool Rgb>
void HorizontalRow(const std::uint8_t* src, const TContributorList& list, const TPackedAxis& packed,
                   std::int32_t D, std::uint8_t* out, std::int32_t first = 0) {
#if QV_HAVE_SSE2
    if (packed.mode == TWeightMode::Narrow)
        return HorizontalRowSimd<TWeightMode::Narrow, Rgb>(src, packed, first, D, out);
    if (packed.mode == TWeightMode::Split)
        return HorizontalRowSimd<TWeightMode::Split, Rgb>(src, packed, first, D, out);
#endif
    HorizontalRowPlain<Rgb>(src, list, first, D, out);
}

// ---- Vertical pass: work rows -> one destination row of BGR --------------------

void VerticalRowPlain(const std::uint8_t* work, const TContributorEntry& e, std::int32_t rowBytes,
                      std::uint8_t* out) {
    for (std::int32_t b = 0; b < rowBytes; ++b) {
        std::uint32_t sum = 0;
        for (std::int32_t t = 0; t < e.n; ++t) {
            sum += work[e.p[t].pixel + b] * static_cast<std::uint32_t>(e.p[t].weight);
        }
        out[b] = ClampSum(sum);
    }
}

#if QV_HAVE_SSE2
// `out` has room for rowBytes rounded up to 16; the work buffer has
// kVectorSlack bytes after its last row, so whole-vector reads stay inside it.
void VerticalRowNarrow(const std::uint8_t* work, const TPackedAxis& packed, std::int32_t r,
                       std::int32_t rowBytes, std::uint8_t* out) {
    const __m128i zero = _mm_setzero_si128();
    const std::int32_t first = packed.start[r], end = packed.start[r + 1];
    for (std::int32_t b = 0; b < rowBytes; b += 16) {
        __m128i a0 = zero, a1 = zero, a2 = zero, a3 = zero;
        for (std::int32_t pair = first; pair < end; ++pair) {
            const __m128i r0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(work + packed.pixels[pair * 2] + b));
            const __m128i r1 =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(work + packed.pixels[pair * 2 + 1] + b));
            const __m128i w = LoadWeights(packed.weights + pair * 16);
            const __m128i lo = _mm_unpacklo_epi8(r0, r1);
            const __m128i hi = _mm_unpackhi_epi8(r0, r1);
            a0 = _mm_add_epi32(a0, _mm_madd_epi16(_mm_unpacklo_epi8(lo, zero), w));
            a1 = _mm_add_epi32(a1, _mm_madd_epi16(_mm_unpackhi_epi8(lo, zero), w));
            a2 = _mm_add_epi32(a2, _mm_madd_epi16(_mm_unpacklo_epi8(hi, zero), w));
            a3 = _mm_add_epi32(a3, _mm_madd_epi16(_mm_unpackhi_epi8(hi, zero), w));
        }
        const __m128i w01 = _mm_packs_epi32(_mm_srai_epi32(a0, 16), _mm_srai_epi32(a1, 16));
        const __m128i w23 = _mm_packs_epi32(_mm_srai_epi32(a2, 16), _mm_srai_epi32(a3, 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + b), _mm_packus_epi16(w01, w23));
    }
}

void VerticalRowSplit(const std::uint8_t* work, const TPackedAxis& packed, std::int32_t r,
                      std::int32_t rowBytes, std::uint8_t* out) {
    const __m128i zero = _mm_setzero_si128();
    const std::int32_t first = packed.start[r], end = packed.start[r + 1];
    for (std::int32_t b = 0; b < rowBytes; b += 8) {
        __m128i h0 = zero, h1 = zero, l0 = zero, l1 = zero;
        for (std::int32_t pair = first; pair < end; ++pair) {
            const __m128i r0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(work + packed.pixels[pair * 2] + b));
            const __m128i r1 =
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(work + packed.pixels[pair * 2 + 1] + b));
            const __m128i x = _mm_unpacklo_epi8(r0, r1);
            const __m128i x0 = _mm_unpacklo_epi8(x, zero);
            const __m128i x1 = _mm_unpackhi_epi8(x, zero);
            const __m128i wh = LoadWeights(packed.weights + pair * 32);
            const __m128i wl = LoadWeights(packed.weights + pair * 32 + 16);
            h0 = _mm_add_epi32(h0, _mm_madd_epi16(x0, wh));
            h1 = _mm_add_epi32(h1, _mm_madd_epi16(x1, wh));
            l0 = _mm_add_epi32(l0, _mm_madd_epi16(x0, wl));
            l1 = _mm_add_epi32(l1, _mm_madd_epi16(x1, wl));
        }
        const __m128i s0 = _mm_add_epi32(_mm_slli_epi32(h0, 8), l0);
        const __m128i s1 = _mm_add_epi32(_mm_slli_epi32(h1, 8), l1);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + b), SumsToBytes(s0, s1));
    }
}
#endif

void VerticalRow(const std::uint8_t* work, const TContributorList& list, const TPackedAxis& packed,
                 std::int32_t r, std::int32_t rowBytes, std::uint8_t* out) {
#if QV_HAVE_SSE2
    if (packed.mode == TWeightMode::Narrow) return VerticalRowNarrow(work, packed, r, rowBytes, out);
    if (packed.mode == TWeightMode::Split) return VerticalRowSplit(work, packed, r, rowBytes, out);
#endif
    VerticalRowPlain(work, list[r], rowBytes, out);
}

// Writes `count` BGR triples into target pixels starting at `dst`, stepping
// `step` bytes per pixel; the fourth byte of each target pixel is kept.
void ScatterRow(const std::uint8_t* row, std::int32_t count, std::uint8_t* dst, std::ptrdiff_t step) {
    for (std::int32_t c = 0; c < count; ++c, dst += step) {
        dst[0] = row[c * 3];
        dst[1] = row[c * 3 + 1];
        dst[2] = row[c * 3 + 2];
    }
}

// Everything one two-pass resize holds between its passes.
struct TResizeBuffers {
    TSharedBlock work;      // dstW x srcH x 3 bytes + kVectorSlack
    TSharedBlock rowOut;    // one destination row of BGR, rounded up for vector stores
    TSharedBlock rowIn;     // one decoder line plus padding for 4-byte loads (progressive only)
    // Progressive only: columns below directEnd read nothing past the end of
    // a decoder's line and are filtered straight from it; the others from
    // rowIn, into which each line's bytes from tailFrom on are copied.
    std::int32_t directEnd = 0;
    std::int32_t tailFrom = 0;
    TContributorList list;
    TPackedAxis packed;

    void Free() {
        packed.Free();
        list.Free();
        rowIn.Reset();
        rowOut.Reset();
        work.Reset();
    }
};

// Allocates the work buffer, the output row and the contributor list for a
// srcW x srcH -> dstW x dstH resize, every size checked first.
void AllocateBuffers(TResizeBuffers& buf, std::int32_t srcW, std::int32_t srcH, std::int32_t dstW,
                     std::int32_t dstH, float support) {
    const std::int32_t workBytes = CheckedBytes(dstW, srcH, 3, "work buffer");
    const std::int32_t capacity = ContributorCapacity(srcW, srcH, dstW, dstH, support);
    CheckedBytes(std::max(dstW, dstH), capacity, sizeof(TContributor), "contributor arrays");
    buf.work = TSharedBlock(CheckedBytes(std::int64_t{workBytes} + kVectorSlack, 1, 1, "work buffer"));
    std::memset(buf.work.Data() + workBytes, 0, kVectorSlack);
    buf.rowOut = TSharedBlock(CheckedBytes(std::int64_t{dstW} * 3 + kVectorSlack, 1, 1, "output row"));
    buf.list.Allocate(std::max(dstW, dstH), capacity);
}

// Vertical pass over a finished work buffer; row r of the result goes to
// `origin + r * rowStep`, pixels `pixelStep` bytes apart.
void VerticalPass(TResizeBuffers& buf, const TFilter& filter, float support, std::int32_t srcH,
                  std::int32_t dstW, std::int32_t dstH, std::uint8_t* origin, std::ptrdiff_t rowStep,
                  std::ptrdiff_t pixelStep) {
    const std::int32_t rowBytes = dstW * 3;
    FillContributors(buf.list, filter, support, srcH, dstH, rowBytes);
    PackAxis(buf.packed, buf.list, dstH);
    for (std::int32_t r = 0; r < dstH; ++r) {
        VerticalRow(buf.work.Data(), buf.list, buf.packed, r, rowBytes, buf.rowOut.Data());
        ScatterRow(buf.rowOut.Data(), dstW, origin + r * rowStep, pixelStep);
    }
}

std::uint8_t* PixelAt(const TPixelView& view, std::int64_t x, std::int64_t y) {
    return view.Bits + (y * view.Width + x) * 4;
}

}  // namespace

// ---- Whole picture --------------------------------------------------------------

void Stretch(const TFilter& filter, const TPixelView& source, const TPixelView& target, float support,
             std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height) {
    const std::int32_t sw = source.Width, sh = source.Height;
    if (width <= 0 || height <= 0 || sw <= 0 || sh <= 0) return;
    if (!source.Bits || !target.Bits || x < 0 || y < 0 || std::int64_t{x} + width > target.Width ||
        std::int64_t{y} + height > target.Height) {
        throw Exception("Resample: rectangle (" + std::to_string(x) + ", " + std::to_string(y) + ", " +
                        std::to_string(width) + ", " + std::to_string(height) + ") is not inside the " +
                        std::to_string(target.Width) + " x " + std::to_string(target.Height) + " target");
    }
    // A negative or non-finite window has no meaning (and NaN would reach
    // the float-to-integer conversions of the window bounds).
    if (!(support > 0.0f) || !std::isfinite(support)) {
        throw Exception("Resample: support " + std::to_string(support) + " is not a positive number");
    }
    TResizeBuffers buf;
    AllocateBuffers(buf, sw, sh, width, height, support);
    FillContributors(buf.list, filter, support, sw, width, 4);
    PackAxis(buf.packed, buf.list, width, 4);
    const std::int32_t srcRow = sw * 4, workRow = width * 3;
    for (std::int32_t r = 0; r < sh; ++r) {
        HorizontalRow<false>(source.Bits + static_cast<std::ptrdiff_t>(r) * srcRow, buf.list, buf.packed, width,
                      buf.work.Data() + static_cast<std::ptrdiff_t>(r) * workRow);
    }
    VerticalPass(buf, filter, support, sh, width, height, PixelAt(target, x, y),
                 static_cast<std::ptrdiff_t>(target.Width) * 4, 4);
}

void Resample(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height, int filterIndex,
              float support, const TPixelView& source, const TPixelView& target) {
    if (width <= 0 || height <= 0 || source.Width <= 0 || source.Height <= 0) return;
    if (filterIndex < 0 || filterIndex >= kFilterCount) {
        throw Exception("Resample: filter index " + std::to_string(filterIndex) + " is not 0..6");
    }
    const TFilter& filter = Filters[filterIndex];
    Stretch(filter, source, target, support == 0.0f ? filter.Support : support, x, y, width, height);
}

// ---- Fitting ----------------------------------------------------------------------

TRect32 FittedRect(std::int32_t w, std::int32_t h, std::int32_t tw, std::int32_t th) {
    const float rx = static_cast<float>(w) / static_cast<float>(tw);
    const float ry = static_cast<float>(h) / static_cast<float>(th);
    TRect32 r;
    if (rx > ry) {
        const float scaled = static_cast<float>(h) / rx;
        r.Left = 0;
        r.Width = tw;
        r.Height = std::clamp(RoundEven(scaled), 0, th);
        r.Top = RoundEven(static_cast<float>(th) - scaled) / 2;
        r.Top = std::clamp(r.Top, 0, th - r.Height);
    } else {
        const float scaled = static_cast<float>(w) / ry;
        r.Top = 0;
        r.Height = th;
        r.Width = std::clamp(RoundEven(scaled), 0, tw);
        r.Left = RoundEven(static_cast<float>(tw) - scaled) / 2;
        r.Left = std::clamp(r.Left, 0, tw - r.Width);
    }
    return r;
}

// ---- Progressive line protocol ------------------------------------------------------

namespace {

bool SwapsAxes(std::uint16_t orientation) { return orientation >= 5 && orientation <= 8; }

// Which columns may read a decoder's line in place: a tap reads at most
// 16 bytes from its sample on (a whole vector) in the SIMD loops and 3 in
// the plain ones. directEnd is the first column that could read past
// `lineBytes`; tailFrom the lowest sample any later column reads.
void PlanDirectColumns(TResizeBuffers& buf, std::int32_t D, std::int32_t lineBytes) {
    const std::int32_t reach = buf.packed.mode == TWeightMode::Plain ? 3 : 16;
    std::int32_t c = 0;
    for (; c < D; ++c) {
        const TContributorEntry& e = buf.list[c];
        bool inside = true;
        for (std::int32_t t = 0; t < e.n && inside; ++t) inside = e.p[t].pixel + reach <= lineBytes;
        if (!inside) break;
    }
    buf.directEnd = c;
    std::int32_t from = lineBytes;
    for (; c < D; ++c) {
        const TContributorEntry& e = buf.list[c];
        for (std::int32_t t = 0; t < e.n; ++t) from = std::min(from, e.p[t].pixel);
    }
    buf.tailFrom = from;
}

}  // namespace

struct TProgressiveResize::TBuffers : TResizeBuffers {};

TProgressiveResize::TProgressiveResize(TPixelView* target, std::uint8_t fitMode)
    : target_(target), fitMode_(fitMode), buffers_(std::make_unique<TBuffers>()) {}

TProgressiveResize::~TProgressiveResize() {
    Free();
}

// Where pixel 0 of stored row r lands in the target for the current
// orientation and target rectangle, and the byte step to pixel 1.
std::uint8_t* TProgressiveResize::OrientedRowStart(std::int32_t r, std::ptrdiff_t& step) const {
    const TRect32& t = targetRect_;
    const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(target_->Width) * 4;
    std::int64_t x = t.Left, y = t.Top;
    switch (orientation_) {
        default:
        case 1: x = t.Left;                 y = t.Top + r;                 step = 4;    break;
        case 2: x = t.Left + t.Width - 1;   y = t.Top + r;                 step = -4;   break;
        case 3: x = t.Left + t.Width - 1;   y = t.Top + t.Height - 1 - r;  step = -4;   break;
        case 4: x = t.Left;                 y = t.Top + t.Height - 1 - r;  step = 4;    break;
        case 5: x = t.Left + r;             y = t.Top;                     step = row;  break;
        case 6: x = t.Left + t.Width - 1 - r; y = t.Top;                   step = row;  break;
        case 7: x = t.Left + t.Width - 1 - r; y = t.Top + t.Height - 1;    step = -row; break;
        case 8: x = t.Left + r;             y = t.Top + t.Height - 1;      step = -row; break;
    }
    return PixelAt(*target_, x, y);
}

void TProgressiveResize::FinishResampling() {
    TResizeBuffers& buf = *buffers_;
    const TFilter& filter = Filters[filterIndex_];
    const std::int32_t rowBytes = scaledWidth_ * 3;
    FillContributors(buf.list, filter, filter.Support, sourceHeight_, scaledHeight_, rowBytes);
    PackAxis(buf.packed, buf.list, scaledHeight_);
    for (std::int32_t r = 0; r < scaledHeight_; ++r) {
        VerticalRow(buf.work.Data(), buf.list, buf.packed, r, rowBytes, buf.rowOut.Data());
        std::ptrdiff_t step = 0;
        std::uint8_t* dst = OrientedRowStart(r, step);
        ScatterRow(buf.rowOut.Data(), scaledWidth_, dst, step);
    }
    buf.Free();
}

// The rectangle must lie in the target and match the picture the lines
// belong to; checked per line because the target is only borrowed.
void TProgressiveResize::CheckPlacement() const {
    const TRect32& t = targetRect_;
    const bool swap = SwapsAxes(orientation_);
    const std::int32_t alongRow = swap ? t.Height : t.Width, acrossRows = swap ? t.Width : t.Height;
    const bool inside = target_ && target_->Bits && t.Left >= 0 && t.Top >= 0 &&
                        std::int64_t{t.Left} + t.Width <= target_->Width &&
                        std::int64_t{t.Top} + t.Height <= target_->Height;
    const bool matches = resampling_ ? alongRow == scaledWidth_ && acrossRows == scaledHeight_
                                     : alongRow == sourceWidth_ && acrossRows == sourceHeight_;
    if (!inside || !matches) throw Exception("internal error in ResizeLine: target does not match the picture");
}

void TProgressiveResize::ProcessLine(const std::uint8_t* line, std::int32_t r) {
    if (!line) throw Exception("ResizeLine: line " + std::to_string(r) + " has no pixels");
    CheckPlacement();
    const std::int32_t width = sourceWidth_;
    if (!resampling_) {
        std::ptrdiff_t step = 0;
        std::uint8_t* dst = OrientedRowStart(r, step);
        for (std::int32_t p = 0; p < width; ++p, dst += step) {
            dst[0] = line[p * 3 + 2];
            dst[1] = line[p * 3 + 1];
            dst[2] = line[p * 3];
        }
        return;
    }
    TResizeBuffers& buf = *buffers_;
    const TFilter& filter = Filters[filterIndex_];
    if (r == 0) {
        buf.Free();
        AllocateBuffers(buf, sourceWidth_, sourceHeight_, scaledWidth_, scaledHeight_, filter.Support);
        buf.rowIn = TSharedBlock(CheckedBytes(std::int64_t{width} * 3 + kLinePadding, 1, 1, "line buffer"));
        std::memset(buf.rowIn.Data() + std::ptrdiff_t{width} * 3, 0, kLinePadding);
        FillContributors(buf.list, filter, filter.Support, sourceWidth_, scaledWidth_, 3);
        PackAxis(buf.packed, buf.list, scaledWidth_, 3);
        PlanDirectColumns(buf, scaledWidth_, width * 3);
    } else if (!buf.work.Data()) {
        throw Exception("ResizeLine: line " + std::to_string(r) + " arrived after the resize was freed");
    }
    // The decoder's line holds exactly width * 3 bytes. Most columns are
    // filtered from it directly; those whose whole-vector loads would run
    // past its end read a copy of its tail, which has the padding.
    std::uint8_t* out = buf.work.Data() + static_cast<std::ptrdiff_t>(r) * scaledWidth_ * 3;
    HorizontalRow<true>(line, buf.list, buf.packed, buf.directEnd, out);
    if (buf.directEnd < scaledWidth_) {
        std::uint8_t* row = buf.rowIn.Data();
        const std::int32_t from = buf.tailFrom;
        std::memcpy(row + from, line + from, static_cast<std::size_t>(width) * 3 - static_cast<std::size_t>(from));
        HorizontalRow<true>(row, buf.list, buf.packed, scaledWidth_, out, buf.directEnd);
    }
    if (r == sourceHeight_ - 1) FinishResampling();
}

bool TProgressiveResize::Init(std::int32_t w, std::int32_t h) {
    used_ = true;
    if (!target_) throw Exception("ResizeBMP not assigned");
    // Re-planning under a running resize would pair its lines with another
    // rectangle; only the protocol's own line -1 may call this.
    if (started_) throw Exception("internal error in InitResize, a resize is under way");
    const std::int32_t tw = target_->Width, th = target_->Height;
    // Nothing sensible can be drawn for an empty picture or target; the
    // decoder then delivers the whole picture and preparation handles it.
    if (w <= 0 || h <= 0 || tw <= 0 || th <= 0 || !target_->Bits) return false;
    // Compared as integers: the float ratios of the fit agree for every
    // realistic size, and integers cannot call a larger picture equal.
    const bool same = w == tw && h == th;
    const bool smaller = w < tw && h < th;
    const bool larger = w > tw || h > th;
    TRect32 rect;
    bool resample = false;
    std::uint8_t filterIndex = filterIndex_;
    if (same) {
        rect = {0, 0, w, h};
    } else if ((smaller && target_->EnlargeToFit) || (larger && target_->ShrinkToFit)) {
        rect = FittedRect(w, h, tw, th);
        if (fitMode_ != 1 && fitMode_ != 2) return false;
        if ((smaller && w < 50 && h < 50) || w <= 10 || h <= 10 || rect.Width <= 10 || rect.Height <= 10) {
            return false;
        }
        resample = true;
        filterIndex = fitMode_ == 1 ? kFilterHermite : kFilterLanczos3;
        // Refuse a picture whose buffers cannot be allocated before anything
        // of the state changes (scaled size in stored orientation).
        const bool swap = SwapsAxes(orientation_);
        const std::int32_t sw = swap ? rect.Height : rect.Width, sh = swap ? rect.Width : rect.Height;
        const std::int32_t srcW = swap ? h : w, srcH = swap ? w : h;
        CheckedBytes(std::int64_t{CheckedBytes(sw, srcH, 3, "work buffer")} + kVectorSlack, 1, 1, "work buffer");
        CheckedBytes(std::int64_t{srcW} * 3 + kLinePadding, 1, 1, "line buffer");
        CheckedBytes(std::max(sw, sh), ContributorCapacity(srcW, srcH, sw, sh, Filters[filterIndex].Support),
                     sizeof(TContributor), "contributor arrays");
    } else if (!larger) {
        rect = {(tw - w) / 2, (th - h) / 2, w, h};
    } else {
        throw Exception("internal error in InitResize, width=" + std::to_string(w) + ", height=" +
                        std::to_string(h) + ", width1=" + std::to_string(tw) + ", height1=" + std::to_string(th));
    }
    resampling_ = resample;
    filterIndex_ = filterIndex;
    targetRect_ = rect;
    const bool swap = SwapsAxes(orientation_);
    scaledWidth_ = swap ? rect.Height : rect.Width;
    scaledHeight_ = swap ? rect.Width : rect.Height;
    std::memset(target_->Bits, 0, static_cast<std::size_t>(tw) * static_cast<std::size_t>(th) * 4);
    return true;
}

std::int32_t TProgressiveResize::Line(std::intptr_t data, std::int32_t curLine, std::int32_t width,
                                      std::int32_t height) {
    if (started_) {
        if (curLine == -1) throw Exception("ResizeStarted and curLine=-1");
        if (std::int64_t{curLine} != std::int64_t{prevLine_} + 1) {
            throw Exception("prevLine=" + std::to_string(prevLine_) + ", curLine=" + std::to_string(curLine));
        }
        if (width != sourceWidth_ || height != sourceHeight_) {
            throw Exception("ResSourcewidth=" + std::to_string(sourceWidth_) + ", width=" +
                            std::to_string(width) + ", ResSourceheight=" + std::to_string(sourceHeight_) +
                            ", height=" + std::to_string(height));
        }
        ProcessLine(reinterpret_cast<const std::uint8_t*>(data), curLine);
        if (curLine == height - 1) {
            started_ = false;
            finished_ = true;
        }
    } else if (!armed_) {
        throw Exception("not ResizeStarted and not StartResize");
    } else if (curLine == -1) {
        sourceWidth_ = width;
        sourceHeight_ = height;
        const auto orientation = static_cast<std::uint16_t>(static_cast<std::uintptr_t>(data) & 0xFFFFu);
        orientation_ = orientation >= 1 && orientation <= 8 ? orientation : 1;
        const bool swap = SwapsAxes(orientation_);
        finished_ = false;
        if (!Init(swap ? height : width, swap ? width : height)) {
            armed_ = false;
            return 0;
        }
        started_ = true;
    } else {
        throw Exception("not ResizeStarted and curLine=" + std::to_string(curLine) + ", height=" +
                        std::to_string(height));
    }
    prevLine_ = curLine;
    return 1;
}

void TProgressiveResize::Free() {
    buffers_->Free();
    // Lines after this point cannot reach the freed buffers.
    started_ = false;
}

void TProgressiveResize::Rearm() {
    if (started_) Free();
    finished_ = false;
    used_ = false;
    armed_ = true;
}
