#include "imaging/colour_convert_win32.h"

#include <algorithm>
#include <string>

#include "base/handles_win32.h"

namespace {

// The functions of mscms.dll this file uses. It is no KnownDLL and few
// programs need it, so it is loaded by full path on first use and kept for
// the process's life (any loader thread may convert).
struct TMscms {
    using OpenFn = HPROFILE(WINAPI*)(PPROFILE, DWORD, DWORD, DWORD);
    using CloseFn = BOOL(WINAPI*)(HPROFILE);
    using CreateFn = HTRANSFORM(WINAPI*)(PHPROFILE, DWORD, PDWORD, DWORD, DWORD, DWORD);
    using DeleteFn = BOOL(WINAPI*)(HTRANSFORM);
    using ColoursFn = BOOL(WINAPI*)(HTRANSFORM, PCOLOR, DWORD, COLORTYPE, PCOLOR, COLORTYPE);
    using BitsFn = BOOL(WINAPI*)(HTRANSFORM, PVOID, BMFORMAT, DWORD, DWORD, DWORD, PVOID, BMFORMAT, DWORD,
                                 PBMCALLBACKFN, LPARAM);

    TModule Module;
    OpenFn Open = nullptr;
    CloseFn Close = nullptr;
    CreateFn Create = nullptr;
    DeleteFn Delete = nullptr;
    ColoursFn Colours = nullptr;
    BitsFn Bits = nullptr;

    TMscms() : Module(LoadSystemLibrary("mscms.dll")) {
        if (!Module) return;
        Open = Find<OpenFn>("OpenColorProfileW");
        Close = Find<CloseFn>("CloseColorProfile");
        Create = Find<CreateFn>("CreateMultiProfileTransform");
        Delete = Find<DeleteFn>("DeleteColorTransform");
        Colours = Find<ColoursFn>("TranslateColors");
        Bits = Find<BitsFn>("TranslateBitmapBits");
    }
    bool Usable() const { return Open && Close && Create && Delete && Colours && Bits; }

private:
    template <typename Fn>
    Fn Find(const char* name) {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(Module.Get(), name)));
    }
};

const TMscms* Mscms() {
    static const TMscms mscms;
    return mscms.Usable() ? &mscms : nullptr;
}

HPROFILE OpenInMemory(const TMscms& m, std::vector<std::uint8_t>& bytes) {
    PROFILE profile = {PROFILE_MEMBUFFER, bytes.data(), static_cast<DWORD>(bytes.size())};
    return m.Open(&profile, PROFILE_READ, FILE_SHARE_READ, OPEN_EXISTING);
}

// A file's bytes, when it is no larger than any profile may be.
std::vector<std::uint8_t> ReadProfileFile(const wchar_t* path) {
    TKernelHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!file || !::GetFileSizeEx(file.Get(), &size) || size.QuadPart <= 0 ||
        static_cast<std::uint64_t>(size.QuadPart) > kMaxProfileBytes)
        return {};
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size.QuadPart));
    DWORD read = 0;
    if (!::ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
        read != bytes.size())
        return {};
    return bytes;
}

}  // namespace

TSystemTransform::TSystemTransform(const std::vector<std::uint8_t>& source,
                                   const std::vector<std::uint8_t>& destination)
    : source_(source), destination_(destination) {
    const TMscms* m = Mscms();
    if (!m || source_.empty() || destination_.empty()) return;
    profiles_[0] = OpenInMemory(*m, source_);
    profiles_[1] = OpenInMemory(*m, destination_);
    if (!profiles_[0] || !profiles_[1]) return;
    // Perceptual, as photographs are rendered; a matrix profile has one
    // rendering only, so it is the colorimetric one.
    DWORD intents[2] = {INTENT_PERCEPTUAL, INTENT_PERCEPTUAL};
    transform_ = m->Create(profiles_, 2, intents, 2, BEST_MODE, INDEX_DONT_CARE);
}

TSystemTransform::~TSystemTransform() {
    const TMscms* m = Mscms();
    if (!m) return;
    if (transform_) m->Delete(transform_);
    for (HPROFILE p : profiles_)
        if (p) m->Close(p);
}

bool TSystemTransform::Colours(const COLOR* in, std::size_t count, COLORTYPE inType, COLOR* out) const {
    if (!transform_ || count > MAXDWORD) return false;
    return Mscms()->Colours(transform_, const_cast<COLOR*>(in), static_cast<DWORD>(count), inType, out,
                            COLOR_RGB) != FALSE;
}

bool TSystemTransform::Pixels(std::uint8_t* bits, int width, int height, std::ptrdiff_t stride) const {
    if (!transform_ || width <= 0 || height <= 0 || stride < std::ptrdiff_t{width} * 4) return false;
    // BM_xRGBQUADS: the DWORD 0x00RRGGBB, which is B, G, R, x in memory.
    // Row by row: Wine 8 converts width * height pixels from the first row
    // on, whatever the stride.
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = bits + y * stride;
        if (!Mscms()->Bits(transform_, row, BM_xRGBQUADS, static_cast<DWORD>(width), 1, 0, row, BM_xRGBQUADS, 0,
                           nullptr, 0))
            return false;
    }
    return true;
}

const std::vector<std::uint8_t>& SrgbProfile() {
    static const std::vector<std::uint8_t> profile = MakeRgbProfile(kSrgbPrimaries, 0.0, "sRGB");
    return profile;
}

std::vector<std::uint8_t> DisplayProfile(HDC dc) {
    std::wstring name(MAX_PATH, L'\0');
    DWORD size = static_cast<DWORD>(name.size());
    if (!::GetICMProfileW(dc, &size, name.data())) {
        // Too small a buffer: size now says how many characters it takes.
        if (size <= name.size() || size > 32768) return {};
        name.assign(size, L'\0');
        if (!::GetICMProfileW(dc, &size, name.data())) return {};
    }
    std::vector<std::uint8_t> bytes = ReadProfileFile(name.c_str());
    const TProfileCheck check = CheckProfile(bytes.data(), bytes.size());
    if (!check.Sound || check.Space != TProfileSpace::Rgb || check.Srgb) return {};
    bytes.resize(check.Length);
    return bytes;
}

TColourConverter::TColourConverter(std::vector<std::uint8_t> destination) : destination_(std::move(destination)) {}

TColourResult TColourConverter::Convert(const TEmbeddedColour& colour, std::uint8_t* bits, int width, int height,
                                        std::ptrdiff_t stride) {
    if (!bits || width <= 0 || height <= 0 || stride < std::ptrdiff_t{width} * 4) return TColourResult::Unchanged;
    TProfileSpace space = colour.Space;
    const std::vector<std::uint8_t>* source = nullptr;
    if (colour.Kind == TPictureColour::AdobeRgb) {
        source = &AdobeRgbProfile();
        space = TProfileSpace::Rgb;
    } else if (colour.Kind == TPictureColour::Profile) {
        source = &colour.Profile;
    }
    // The decoder has already made RGB of a CMYK picture, so its profile no
    // longer describes the pixels.
    if (!source || source->empty() || space == TProfileSpace::Cmyk) return TColourResult::Unchanged;
    TTables* tables = Prepare(*source, space);
    if (!tables || !(space == TProfileSpace::Gray ? static_cast<bool>(tables->Gray) : static_cast<bool>(tables->Rgb)))
        return TColourResult::Unchanged;
    if (space == TProfileSpace::Gray) {
        tables->Gray->Apply(bits, width, height, stride);
    } else {
        // The system converts the pixels of the cells the table cannot serve.
        const auto exact = [](void* transform, std::uint8_t* bgrx, int count) {
            static_cast<const TSystemTransform*>(transform)->Pixels(bgrx, count, 1, std::ptrdiff_t{count} * 4);
        };
        tables->Rgb->Apply(bits, width, height, stride, exact, tables->Transform.get());
    }
    return TColourResult::Converted;
}

TColourConverter::TTables* TColourConverter::Prepare(const std::vector<std::uint8_t>& source, TProfileSpace space) {
    auto found = std::find_if(kept_.begin(), kept_.end(), [&](const auto& t) { return t->Source == source; });
    if (found == kept_.end()) {
        auto tables = std::make_unique<TTables>();
        tables->Source = source;
        tables->Failed = !Make(*tables, space);
        if (kept_.size() == kKeptProfiles) kept_.pop_back();
        kept_.insert(kept_.begin(), std::move(tables));
    } else {
        std::rotate(kept_.begin(), found, found + 1);
    }
    return kept_.front()->Failed ? nullptr : kept_.front().get();
}

bool TColourConverter::Make(TTables& tables, TProfileSpace space) const {
    tables.Transform =
        std::make_unique<TSystemTransform>(tables.Source, destination_.empty() ? SrgbProfile() : destination_);
    const TSystemTransform& transform = *tables.Transform;
    if (!transform) return false;
    if (space == TProfileSpace::Gray) {
        std::vector<COLOR> in(256), out(256);
        for (int level = 0; level < 256; ++level) in[level].gray.gray = static_cast<WORD>(level * 257);
        if (!transform.Colours(in.data(), in.size(), COLOR_GRAY, out.data())) return false;
        auto table = std::make_unique<TGrayTable>();
        for (int level = 0; level < 256; ++level) {
            std::uint16_t* e = table->Level(level);
            e[0] = out[level].rgb.red, e[1] = out[level].rgb.green, e[2] = out[level].rgb.blue;
        }
        tables.Gray = std::move(table);
    } else {
        // The nodes, then the centre of every cell, in one call.
        constexpr std::size_t kNodes = TRgbTable::NodeCount(), kCells = TRgbTable::CellCount();
        std::vector<COLOR> in(kNodes + kCells), out(kNodes + kCells);
        for (int r = 0; r < kColourGridPoints; ++r)
            for (int g = 0; g < kColourGridPoints; ++g)
                for (int b = 0; b < kColourGridPoints; ++b) {
                    RGBCOLOR& c = in[TRgbTable::NodeIndex(r, g, b)].rgb;
                    c.red = ColourNodeValue(r), c.green = ColourNodeValue(g), c.blue = ColourNodeValue(b);
                    if (r + 1 == kColourGridPoints || g + 1 == kColourGridPoints || b + 1 == kColourGridPoints)
                        continue;
                    RGBCOLOR& m = in[kNodes + TRgbTable::CellIndex(r, g, b)].rgb;
                    m.red = static_cast<WORD>((ColourNodeValue(r) + ColourNodeValue(r + 1)) / 2);
                    m.green = static_cast<WORD>((ColourNodeValue(g) + ColourNodeValue(g + 1)) / 2);
                    m.blue = static_cast<WORD>((ColourNodeValue(b) + ColourNodeValue(b + 1)) / 2);
                }
        if (!transform.Colours(in.data(), in.size(), COLOR_RGB, out.data())) return false;
        auto table = std::make_unique<TRgbTable>();
        for (std::size_t i = 0; i < kNodes; ++i) {
            std::uint16_t* n = table->Node(i);
            n[0] = out[i].rgb.red, n[1] = out[i].rgb.green, n[2] = out[i].rgb.blue;
        }
        std::vector<std::uint16_t> centres(kCells * 3);
        for (std::size_t i = 0; i < kCells; ++i) {
            const RGBCOLOR& m = out[kNodes + i].rgb;
            centres[i * 3] = m.red, centres[i * 3 + 1] = m.green, centres[i * 3 + 2] = m.blue;
        }
        // Half a level off at the centre: the cell's pixels go to the system.
        table->MarkExactCells(centres.data(), 257 / 2);
        tables.Rgb = std::move(table);
    }
    return true;
}
