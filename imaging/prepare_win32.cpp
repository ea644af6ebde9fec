#include "imaging/prepare_win32.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <optional>

#include "imaging/colour_convert_win32.h"
#include "imaging/picture_colour_win32.h"
#include "imaging/resample.h"
#include "imaging/resample_win32.h"

namespace {

// What this thread's preparations share with the decode turn: a thread
// makes one preparation at a time, and the loader's fault guard must find
// the turn its abandoned preparation held, so the record is per thread.
struct TThreadPreparation {
    const std::atomic<bool>* cancel = nullptr;  // the thread's cancel flag
    bool holdsTurn = false;                     // a TDecodeTurn of this thread owns the turn
};
thread_local TThreadPreparation thisThread;

// One decode at a time in the process: the plug-ins' picture buffer and the
// line-callback slot are process-wide.
HANDLE DecodeSemaphore() {
    static const HANDLE semaphore = ::CreateSemaphoreA(nullptr, 1, 1, nullptr);
    return semaphore;
}

class TDecodeTurn {
public:
    TDecodeTurn() {
        const HANDLE s = DecodeSemaphore();
        if (!s) {
            held_ = true;  // no semaphore: decodes are not serialised, as before
            return;
        }
        if (thisThread.cancel) {
            // A loader: wait as long as its run wants it, and no longer.
            while (!held_ && !DecodeCancelled()) held_ = ::WaitForSingleObject(s, 20) == WAIT_OBJECT_0;
        } else {
            held_ = ::WaitForSingleObject(s, kDecodeTurnWaitMs) == WAIT_OBJECT_0;
        }
        owns_ = held_;
        thisThread.holdsTurn = owns_;
    }
    TDecodeTurn(const TDecodeTurn&) = delete;
    TDecodeTurn& operator=(const TDecodeTurn&) = delete;
    ~TDecodeTurn() {
        if (owns_) ReleaseTurn();
    }
    static void ReleaseTurn() {
        thisThread.holdsTurn = false;
        ::ReleaseSemaphore(DecodeSemaphore(), 1, nullptr);
    }
    bool Held() const { return held_; }

private:
    bool held_ = false;
    bool owns_ = false;
};

bool Resamples(std::uint8_t fitMode) {
    return fitMode == 1 || fitMode == 2;
}

// The decisions both fits share, from the single-precision ratios
// rx = sw / tw and ry = sh / th.
struct TFitCase {
    float rx, ry;
    bool same() const { return rx == 1.0f && ry == 1.0f; }
    bool smaller() const { return rx < 1.0f && ry < 1.0f; }
    bool larger() const { return rx > 1.0f || ry > 1.0f; }
    bool scales(const TBitmap& target) const {
        return (smaller() && target.EnlargeToFit) || (larger() && target.ShrinkToFit);
    }
};

TFitCase CaseOf(const TBitmap& target, const TBitmap& source) {
    return {static_cast<float>(source.Width) / static_cast<float>(target.Width),
            static_cast<float>(source.Height) / static_cast<float>(target.Height)};
}

BITMAPINFO TopDownInfo(const TBitmap& source) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = source.Width;
    info.bmiHeader.biHeight = -source.Height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

// The part of the target FitPicture covers with a sw x sh picture: the
// fitted rectangle when it scales, else the picture placed centred and
// clipped by the target (a cropped picture fills the target that way).
TRect32 CoveredArea(const TBitmap& target, int sw, int sh) {
    const int tw = target.Width, th = target.Height;
    if (tw <= 0 || th <= 0 || sw <= 0 || sh <= 0) return {};
    const TFitCase fit{static_cast<float>(sw) / static_cast<float>(tw),
                       static_cast<float>(sh) / static_cast<float>(th)};
    if (!fit.same() && fit.scales(target)) return FittedRect(sw, sh, tw, th);
    const int left = std::max(0, (tw - sw) / 2), top = std::max(0, (th - sh) / 2);
    return {left, top, std::min(tw, sw), std::min(th, sh)};
}

void UseHalftone(HDC dc) {
    ::SetStretchBltMode(dc, HALFTONE);
    ::SetBrushOrgEx(dc, 0, 0, nullptr);  // HALFTONE wants the brush origin reset after the switch
}

}  // namespace

void SetDecodeCancel(const std::atomic<bool>* flag) {
    thisThread.cancel = flag;
}

bool DecodeCancelled() {
    return thisThread.cancel && thisThread.cancel->load();
}

void ReleaseAbandonedDecode() {
    if (thisThread.holdsTurn) TDecodeTurn::ReleaseTurn();
}

void LoadPicture(TBitmap& target, const std::string& fileName, PictureInfo& info,
                 const TPrepareOptions& options) {
    const TPictureColours& colours = options.Colours;
    info = PictureInfo();
    if (options.Covered) *options.Covered = TRect32();
    TDecodeTurn turn;
    if (!turn.Held() || DecodeCancelled() || !options.Plugins) {
        target.Clear();
        return;
    }
    TPluginHost& plugins = *options.Plugins;
    const std::uint8_t fitMode = options.Fit.FitMode;
    TPixelView view = PixelView(target);
    // The resize lives as long as this decode, so nothing of it survives
    // into the next picture however the decode ends.
    std::optional<TProgressiveResize> resize;
    if (Resamples(fitMode) && options.Fit.LineResize) resize.emplace(&view, fitMode);
    TDecodeResult decoded;
    // The picture buffer goes back after every picture, also when an error
    // from the resampler leaves this function early.
    struct TBufferRelease {
        TDecodeResult& decoded;
        TPluginHost& plugins;
        ~TBufferRelease() {
            decoded.Picture.reset();
            plugins.FreePictureBuffer();
        }
    } release{decoded, plugins};
    // FitMode 2 decodes at twice the size, so that Lanczos has detail to
    // work with.
    std::int32_t width = target.Width, height = target.Height;
    if (fitMode == 2) {
        width = width > INT32_MAX / 2 ? INT32_MAX : width * 2;
        height = height > INT32_MAX / 2 ? INT32_MAX : height * 2;
    }
    decoded = plugins.Decode(fileName, {width, height, resize ? &*resize : nullptr, thisThread.cancel});
    info.FileSize = decoded.FileSize;
    info.Delivery = decoded.Delivery;
    info.Lines = decoded.LineCalls;
    info.RefusedLines = decoded.RefusedLines;
    if (decoded.Delivery == TPictureDelivery::None) {
        target.Clear();
        return;
    }
    info.Width = decoded.NaturalWidth;
    info.Height = decoded.NaturalHeight;
    info.Format = decoded.Format;
    // Nobody waits for a cancelled decode's picture: no fitting. Lines are
    // in the target already.
    if (DecodeCancelled()) return;
    TRect32 covered;
    if (decoded.Delivery == TPictureDelivery::Whole) {
        FitPicture(target, *decoded.Picture, fitMode);
        covered = CoveredArea(target, decoded.Picture->Width, decoded.Picture->Height);
    } else if (resize) {
        covered = resize->TargetRect();
    }
    info.Covered = covered;
    if (options.Covered) *options.Covered = covered;
    if (!colours.Intended || !colours.Converter || !target.Bits || covered.Width <= 0 || covered.Height <= 0)
        return;
    // Converted at the fitted size, so that the cost follows the monitor,
    // not the camera.
    const std::ptrdiff_t stride = std::ptrdiff_t{target.Width} * 4;
    std::uint8_t* first = target.Bits + covered.Top * stride + std::ptrdiff_t{covered.Left} * 4;
    info.ColourConverted = colours.Converter->Convert(ReadPictureColour(fileName), first, covered.Width,
                                                      covered.Height, stride) == TColourResult::Converted;
}

void FitPicture(TBitmap& target, const TBitmap& source, std::uint8_t fitMode) {
    target.Clear();
    const int tw = target.Width, th = target.Height, sw = source.Width, sh = source.Height;
    if (tw <= 0 || th <= 0 || sw <= 0 || sh <= 0 || !source.Bits) return;
    const TFitCase fit = CaseOf(target, source);

    if (fit.same()) {
        CopyPixels(target, source, 0, 0, 0, 0, sw - 1, sh - 1);
    } else if (fit.scales(target)) {
        const TRect32 r = FittedRect(sw, sh, tw, th);
        const bool smallEnlarged = fit.smaller() && sw < 50 && sh < 50;
        if (Resamples(fitMode) && !smallEnlarged && sw > 10 && sh > 10 && r.Width > 10 && r.Height > 10) {
            Resample(r.Left, r.Top, r.Width, r.Height, fitMode == 1 ? kFilterHermite : kFilterLanczos3, 0.0f,
                     PixelView(source), PixelView(target));
        } else if (target.DC()) {
            if (::GetStretchBltMode(target.DC()) != HALFTONE) UseHalftone(target.DC());
            const BITMAPINFO bmi = TopDownInfo(source);
            ::StretchDIBits(target.DC(), r.Left, r.Top, r.Width, r.Height, 0, 0, sw, sh, source.Bits, &bmi,
                            DIB_RGB_COLORS, SRCCOPY);
            ::GdiFlush();  // the caller reads the section's pixels directly
        }
    } else if (fit.rx <= 1.0f && fit.ry <= 1.0f) {
        const int left = (tw - sw) / 2, top = (th - sh) / 2;
        CopyPixels(target, source, 0, 0, left, top, left + sw - 1, top + sh - 1);
    } else if (fit.rx > 1.0f && fit.ry > 1.0f) {
        // Larger both ways: the centred part of the picture fills the target.
        CopyPixels(target, source, (sw - tw) / 2, (sh - th) / 2, 0, 0, tw - 1, th - 1);
    } else if (fit.rx > fit.ry) {
        // Only wider: the leftmost columns, centred vertically.
        const int top = (th - sh) / 2;
        CopyPixels(target, source, 0, 0, 0, top, tw - 1, top + sh - 1);
    } else {
        // Only taller: the top rows, centred horizontally.
        const int left = (tw - sw) / 2;
        CopyPixels(target, source, 0, 0, left, 0, left + sw - 1, th - 1);
    }
}

void FitPictureGdi(TBitmap& target, const TBitmap& source) {
    target.Clear();
    const int tw = target.Width, th = target.Height, sw = source.Width, sh = source.Height;
    if (tw <= 0 || th <= 0 || sw <= 0 || sh <= 0 || !target.DC() || !source.DC()) return;
    const TFitCase fit = CaseOf(target, source);

    if (fit.same()) {
        BlitPixels(target, source, 0, 0, sw - 1, sh - 1, 0, 0);
    } else if (fit.scales(target)) {
        const TRect32 r = FittedRect(sw, sh, tw, th);
        UseHalftone(target.DC());
        const BITMAPINFO bmi = TopDownInfo(source);
        ::StretchDIBits(target.DC(), r.Left, r.Top, r.Width - 1, r.Height - 1, 0, 0, sw - 1, sh - 1,
                        source.Bits, &bmi, DIB_RGB_COLORS, SRCCOPY);
    } else {
        // Centred without scaling; GDI clipping crops a larger picture.
        const int left = (tw - sw) / 2, top = (th - sh) / 2;
        BlitPixels(target, source, left, top, left + sw - 1, top + sh - 1, 0, 0);
    }
    ::GdiFlush();
}
