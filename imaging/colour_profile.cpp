#include "imaging/colour_profile.h"

#include <cmath>
#include <cstring>

namespace {

constexpr std::size_t kHeaderBytes = 128;
constexpr std::size_t kTagEntryBytes = 12;
// The ICC connection space's white, D50, as profiles encode it.
constexpr double kD50[3] = {0.9642, 1.0, 0.8249};

// A four-character signature as profiles store it.
constexpr std::uint32_t Sig(const char* s) {
    return std::uint32_t(std::uint8_t(s[0])) << 24 | std::uint32_t(std::uint8_t(s[1])) << 16 |
           std::uint32_t(std::uint8_t(s[2])) << 8 | std::uint32_t(std::uint8_t(s[3]));
}

std::uint32_t U32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}
std::uint16_t U16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}
double S15Fixed16(const std::uint8_t* p) {
    return static_cast<std::int32_t>(U32(p)) / 65536.0;
}

// One entry of the tag table, checked to lie inside the profile.
struct TTag {
    std::uint32_t Signature = 0;
    const std::uint8_t* Data = nullptr;  // inside the profile
    std::uint32_t Size = 0;              // at least 8: type signature and reserved bytes
    std::uint32_t Type() const { return U32(Data); }
};

class TTagTable {
public:
    // False for a table that does not fit, a tag outside the profile or
    // before the table's end, or a signature named twice.
    bool Read(const std::uint8_t* profile, std::uint32_t length) {
        const std::uint32_t count = U32(profile + kHeaderBytes);
        if (count == 0 || count > (length - kHeaderBytes - 4) / kTagEntryBytes) return false;
        const std::uint64_t tableEnd = kHeaderBytes + 4 + std::uint64_t{count} * kTagEntryBytes;
        tags_.reserve(count);
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint8_t* entry = profile + kHeaderBytes + 4 + i * kTagEntryBytes;
            const std::uint32_t signature = U32(entry), offset = U32(entry + 4), size = U32(entry + 8);
            if (offset < tableEnd || size < 8 || std::uint64_t{offset} + size > length) return false;
            if (Find(signature)) return false;
            tags_.push_back({signature, profile + offset, size});
        }
        return true;
    }
    const TTag* Find(std::uint32_t signature) const {
        for (const TTag& t : tags_)
            if (t.Signature == signature) return &t;
        return nullptr;
    }

private:
    std::vector<TTag> tags_;
};

// ---- Tag types --------------------------------------------------------------------

bool IsXyz(const TTag& t) {
    return t.Type() == Sig("XYZ ") && t.Size >= 20;
}

// Parameters of each parametric curve function type.
constexpr std::uint32_t kParametricCounts[5] = {1, 3, 4, 5, 7};

bool IsCurve(const TTag& t) {
    if (t.Size < 12) return false;
    if (t.Type() == Sig("curv")) return 12 + 2 * std::uint64_t{U32(t.Data + 8)} <= t.Size;
    if (t.Type() == Sig("para")) {
        const std::uint16_t function = U16(t.Data + 8);
        return function <= 4 && 12 + 4 * std::uint64_t{kParametricCounts[function]} <= t.Size;
    }
    return false;
}

// grid^inputs, or 0 once it passes `limit` (a table that size cannot fit).
std::uint64_t GridPoints(std::uint32_t grid, std::uint32_t inputs, std::uint64_t limit) {
    std::uint64_t points = 1;
    for (std::uint32_t i = 0; i < inputs; ++i) {
        points *= grid;
        if (points > limit) return 0;
    }
    return points;
}

// A lookup table tag (A2B or B2A) whose channel counts are `inputs` and
// `outputs` and whose tables fit in the tag.
bool IsLut(const TTag& t, std::uint32_t inputs, std::uint32_t outputs) {
    if (t.Size < 32 || t.Data[8] != inputs || t.Data[9] != outputs) return false;
    const std::uint32_t type = t.Type(), grid = t.Data[10];
    if (type == Sig("mft1") || type == Sig("mft2")) {
        if (grid < 2) return false;
        const std::uint64_t points = GridPoints(grid, inputs, t.Size);
        if (!points) return false;
        if (type == Sig("mft1")) return 48 + 256 * (inputs + outputs) + points * outputs <= t.Size;
        if (t.Size < 52) return false;
        const std::uint32_t inEntries = U16(t.Data + 48), outEntries = U16(t.Data + 50);
        if (inEntries < 2 || outEntries < 2) return false;
        return 52 + 2 * (std::uint64_t{inEntries} * inputs + points * outputs +
                         std::uint64_t{outEntries} * outputs) <=
               t.Size;
    }
    if (type == Sig("mAB ") || type == Sig("mBA ")) {
        // Five element offsets from the tag's start: each absent (0) or inside it.
        for (std::uint32_t at = 12; at <= 28; at += 4) {
            const std::uint32_t offset = U32(t.Data + at);
            if (offset != 0 && (offset < 32 || offset >= t.Size)) return false;
        }
        return true;
    }
    return false;
}

// ---- Curves and colorants -----------------------------------------------------------

double SrgbDecode(double v) {
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}
double SrgbEncode(double l) {
    return l <= 0.0031308 ? l * 12.92 : 1.055 * std::pow(l, 1.0 / 2.4) - 0.055;
}

// The curve of a tag IsCurve accepted, at x in 0..1.
double EvaluateCurve(const TTag& t, double x) {
    if (t.Type() == Sig("curv")) {
        const std::uint32_t n = U32(t.Data + 8);
        if (n == 0) return x;
        if (n == 1) return std::pow(x, U16(t.Data + 12) / 256.0);
        const double at = x * (n - 1);
        const std::uint32_t i = at >= n - 1 ? n - 2 : static_cast<std::uint32_t>(at);
        const double a = U16(t.Data + 12 + 2 * i) / 65535.0, b = U16(t.Data + 14 + 2 * i) / 65535.0;
        return a + (b - a) * (at - i);
    }
    double p[7] = {};
    const std::uint16_t function = U16(t.Data + 8);
    for (std::uint32_t i = 0; i < kParametricCounts[function]; ++i) p[i] = S15Fixed16(t.Data + 12 + 4 * i);
    const double g = p[0], a = p[1], b = p[2], c = p[3], d = p[4], e = p[5], f = p[6];
    const auto power = [g](double base) { return base > 0.0 ? std::pow(base, g) : 0.0; };
    switch (function) {
    case 0:
        return power(x);
    case 1:
        return a != 0.0 && x >= -b / a ? power(a * x + b) : 0.0;
    case 2:
        return a != 0.0 && x >= -b / a ? power(a * x + b) + c : c;
    case 3:
        return x >= d ? power(a * x + b) : c * x;
    default:
        return x >= d ? power(a * x + b) + e : c * x + f;
    }
}

// The curve takes every 8-bit value where the sRGB curve does, give or
// take three quarters of a step once encoded again.
bool IsSrgbCurve(const TTag& t) {
    for (int i = 0; i <= 255; ++i) {
        const double linear = EvaluateCurve(t, i / 255.0);
        if (!(std::fabs(SrgbEncode(linear < 0.0 ? 0.0 : linear) * 255.0 - i) <= 0.75)) return false;
    }
    return true;
}

bool IsSrgbMatrix(const TTag* const colorants[3]) {
    double srgb[3][3];
    D50Colorants(kSrgbPrimaries, srgb);
    for (int c = 0; c < 3; ++c)
        for (int k = 0; k < 3; ++k)
            if (std::fabs(S15Fixed16(colorants[c]->Data + 8 + 4 * k) - srgb[c][k]) > 0.003) return false;
    return true;
}

}  // namespace

TProfileCheck CheckProfile(const std::uint8_t* data, std::size_t size) {
    TProfileCheck check;
    if (!data || size < kHeaderBytes + 4) return check;
    const std::uint32_t length = U32(data);
    if (length < kHeaderBytes + 4 || length > size || length > kMaxProfileBytes) return check;
    if (U32(data + 36) != Sig("acsp") || (data[8] != 2 && data[8] != 4)) return check;
    const std::uint32_t deviceClass = U32(data + 12), space = U32(data + 16), pcs = U32(data + 20);
    if (deviceClass != Sig("scnr") && deviceClass != Sig("mntr") && deviceClass != Sig("prtr") &&
        deviceClass != Sig("spac"))
        return check;
    if (pcs != Sig("XYZ ") && pcs != Sig("Lab ")) return check;
    std::uint32_t channels = 0;
    if (space == Sig("RGB ")) {
        check.Space = TProfileSpace::Rgb, channels = 3;
    } else if (space == Sig("GRAY")) {
        check.Space = TProfileSpace::Gray, channels = 1;
    } else if (space == Sig("CMYK")) {
        check.Space = TProfileSpace::Cmyk, channels = 4;
    } else {
        return check;
    }
    TTagTable tags;
    if (!tags.Read(data, length)) return check;

    // Every colour-carrying tag that is there must be well-formed, whether
    // or not the engine will choose it.
    for (const char* name : {"wtpt", "bkpt", "rXYZ", "gXYZ", "bXYZ"}) {
        const TTag* t = tags.Find(Sig(name));
        if (t && !IsXyz(*t)) return check;
    }
    for (const char* name : {"rTRC", "gTRC", "bTRC", "kTRC"}) {
        const TTag* t = tags.Find(Sig(name));
        if (t && !IsCurve(*t)) return check;
    }
    if (const TTag* chad = tags.Find(Sig("chad")); chad && (chad->Type() != Sig("sf32") || chad->Size < 44))
        return check;
    bool lut = false;
    for (const char* name : {"A2B0", "A2B1", "A2B2", "B2A0", "B2A1", "B2A2"}) {
        const TTag* t = tags.Find(Sig(name));
        if (!t) continue;
        const bool toPcs = name[0] == 'A';
        if (!IsLut(*t, toPcs ? channels : 3, toPcs ? 3 : channels)) return check;
        lut = lut || toPcs;
    }

    const TTag* colorants[3] = {tags.Find(Sig("rXYZ")), tags.Find(Sig("gXYZ")), tags.Find(Sig("bXYZ"))};
    const TTag* curves[3] = {tags.Find(Sig("rTRC")), tags.Find(Sig("gTRC")), tags.Find(Sig("bTRC"))};
    bool matrix = false;
    if (check.Space == TProfileSpace::Rgb) {
        matrix = colorants[0] && colorants[1] && colorants[2] && curves[0] && curves[1] && curves[2];
        if (!matrix && !lut) return check;
        check.Srgb = matrix && !lut && IsSrgbMatrix(colorants) && IsSrgbCurve(*curves[0]) &&
                     IsSrgbCurve(*curves[1]) && IsSrgbCurve(*curves[2]);
    } else if (check.Space == TProfileSpace::Gray) {
        if (!tags.Find(Sig("kTRC")) && !lut) return check;
    } else if (!lut) {
        return check;
    }
    check.Length = length;
    check.Sound = true;
    return check;
}

// ---- Writing matrix profiles ------------------------------------------------------------

const TRgbPrimaries kSrgbPrimaries = {{0.64, 0.33}, {0.30, 0.60}, {0.15, 0.06}, {0.3127, 0.3290}};
const TRgbPrimaries kAdobeRgbPrimaries = {{0.64, 0.33}, {0.21, 0.71}, {0.15, 0.06}, {0.3127, 0.3290}};

namespace {

using TMatrix = double[3][3];

void Multiply(const TMatrix a, const TMatrix b, TMatrix out) {
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) out[r][c] = a[r][0] * b[0][c] + a[r][1] * b[1][c] + a[r][2] * b[2][c];
}

void Invert(const TMatrix m, TMatrix out) {
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            // The cofactor of (c, r), by the cyclic rule.
            const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
            out[r][c] = (m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1]) / det;
        }
}

void XyzOf(const TChromaticity& c, double xyz[3]) {
    xyz[0] = c.x / c.y;
    xyz[1] = 1.0;
    xyz[2] = (1.0 - c.x - c.y) / c.y;
}

// Appends big-endian values and tag bodies padded to four bytes.
class TProfileWriter {
public:
    void U8(std::uint8_t v) { bytes_.push_back(v); }
    void U16(std::uint16_t v) {
        U8(static_cast<std::uint8_t>(v >> 8));
        U8(static_cast<std::uint8_t>(v));
    }
    void U32(std::uint32_t v) {
        U16(static_cast<std::uint16_t>(v >> 16));
        U16(static_cast<std::uint16_t>(v));
    }
    void Fixed(double v) {
        U32(static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(v * 65536.0))));
    }
    void Zeros(std::size_t n) { bytes_.insert(bytes_.end(), n, 0); }
    void Pad() { Zeros((4 - bytes_.size() % 4) % 4); }
    std::size_t Size() const { return bytes_.size(); }
    void PutU32(std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes_[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
    }
    std::vector<std::uint8_t> Take() { return std::move(bytes_); }

private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace

void D50Colorants(const TRgbPrimaries& primaries, double colorant[3][3]) {
    // The RGB-to-XYZ matrix: the primaries' XYZ as columns, scaled so that
    // RGB (1, 1, 1) is the white.
    double red[3], green[3], blue[3], white[3];
    XyzOf(primaries.Red, red);
    XyzOf(primaries.Green, green);
    XyzOf(primaries.Blue, blue);
    XyzOf(primaries.White, white);
    const TMatrix columns = {
        {red[0], green[0], blue[0]}, {red[1], green[1], blue[1]}, {red[2], green[2], blue[2]}};
    TMatrix inverse;
    Invert(columns, inverse);
    double scale[3];
    for (int r = 0; r < 3; ++r)
        scale[r] = inverse[r][0] * white[0] + inverse[r][1] * white[1] + inverse[r][2] * white[2];
    TMatrix rgbToXyz;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) rgbToXyz[r][c] = columns[r][c] * scale[c];
    // Bradford adaptation from the space's white to D50.
    const TMatrix bradford = {
        {0.8951, 0.2664, -0.1614}, {-0.7502, 1.7135, 0.0367}, {0.0389, -0.0685, 1.0296}};
    TMatrix bradfordInverse;
    Invert(bradford, bradfordInverse);
    TMatrix gain = {};
    for (int r = 0; r < 3; ++r) {
        const double from = bradford[r][0] * white[0] + bradford[r][1] * white[1] + bradford[r][2] * white[2];
        const double to = bradford[r][0] * kD50[0] + bradford[r][1] * kD50[1] + bradford[r][2] * kD50[2];
        gain[r][r] = to / from;
    }
    TMatrix step, adapt, adapted;
    Multiply(gain, bradford, step);
    Multiply(bradfordInverse, step, adapt);
    Multiply(adapt, rgbToXyz, adapted);
    for (int c = 0; c < 3; ++c)
        for (int k = 0; k < 3; ++k) colorant[c][k] = adapted[k][c];
}

std::vector<std::uint8_t> MakeRgbProfile(const TRgbPrimaries& primaries, double gamma,
                                         const char* description) {
    TProfileWriter w;
    // Header: length (patched below), no preferred engine, version 2.1, a
    // display profile of RGB data over XYZ, D50 illuminant.
    w.U32(0);
    w.U32(0);
    w.U32(0x02100000);
    w.U32(Sig("mntr"));
    w.U32(Sig("RGB "));
    w.U32(Sig("XYZ "));
    w.Zeros(12);  // date
    w.U32(Sig("acsp"));
    w.Zeros(64 - 40);  // platform, flags, maker, model, attributes, intent
    for (double v : kD50) w.Fixed(v);
    w.Zeros(kHeaderBytes - w.Size());

    constexpr int kTags = 9;
    const char* const names[kTags] = {"desc", "wtpt", "rXYZ", "gXYZ", "bXYZ", "rTRC", "gTRC", "bTRC", "cprt"};
    w.U32(kTags);
    const std::size_t table = w.Size();
    w.Zeros(kTags * kTagEntryBytes);
    std::size_t offsets[kTags] = {}, sizes[kTags] = {};
    const auto begin = [&](int tag) { offsets[tag] = w.Size(); };
    const auto end = [&](int tag) {
        sizes[tag] = w.Size() - offsets[tag];
        w.Pad();
    };

    const std::size_t textLength = std::strlen(description) + 1;
    begin(0);
    w.U32(Sig("desc"));
    w.U32(0);
    w.U32(static_cast<std::uint32_t>(textLength));
    for (std::size_t i = 0; i < textLength; ++i) w.U8(static_cast<std::uint8_t>(description[i]));
    w.Zeros(4 + 4 + 2 + 1 + 67);  // no Unicode or ScriptCode description
    end(0);

    double colorant[3][3];
    D50Colorants(primaries, colorant);
    const double* const xyz[4] = {kD50, colorant[0], colorant[1], colorant[2]};
    for (int tag = 1; tag <= 4; ++tag) {
        begin(tag);
        w.U32(Sig("XYZ "));
        w.U32(0);
        for (int k = 0; k < 3; ++k) w.Fixed(xyz[tag - 1][k]);
        end(tag);
    }

    // One curve body shared by the three channels.
    begin(5);
    w.U32(Sig("curv"));
    w.U32(0);
    if (gamma > 0.0) {
        w.U32(1);
        w.U16(static_cast<std::uint16_t>(std::lround(gamma * 256.0)));
    } else {
        constexpr int kSteps = 1024;
        w.U32(kSteps);
        for (int i = 0; i < kSteps; ++i)
            w.U16(static_cast<std::uint16_t>(std::lround(SrgbDecode(i / double(kSteps - 1)) * 65535.0)));
    }
    end(5);
    offsets[6] = offsets[7] = offsets[5];
    sizes[6] = sizes[7] = sizes[5];

    begin(8);
    w.U32(Sig("text"));
    w.U32(0);
    for (const char c : "No copyright, use freely") w.U8(static_cast<std::uint8_t>(c));
    end(8);

    for (int tag = 0; tag < kTags; ++tag) {
        const std::size_t entry = table + tag * kTagEntryBytes;
        w.PutU32(entry, Sig(names[tag]));
        w.PutU32(entry + 4, static_cast<std::uint32_t>(offsets[tag]));
        w.PutU32(entry + 8, static_cast<std::uint32_t>(sizes[tag]));
    }
    w.PutU32(0, static_cast<std::uint32_t>(w.Size()));
    return w.Take();
}

const std::vector<std::uint8_t>& AdobeRgbProfile() {
    static const std::vector<std::uint8_t> profile =
        MakeRgbProfile(kAdobeRgbPrimaries, 563.0 / 256.0, "Adobe RGB (1998) from EXIF");
    return profile;
}
