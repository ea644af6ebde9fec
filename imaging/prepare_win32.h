#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "imaging/bitmap_win32.h"
#include "imaging/plugins_win32.h"
#include "imaging/resample.h"

class TColourConverter;

// Picture preparation: decode one file through the plug-ins and fit it into
// a bitmap whose size the caller chose, scaled, centred or cropped, framed in
// black. The plug-ins' picture buffer and line-callback slot are
// process-wide, so decodes take turns.

struct PictureInfo {
    std::int32_t Width = 0;   // natural width from the decoder; 0 when nothing was decoded
    std::int32_t Height = 0;  // natural height; 0 when nothing was decoded
    const char* Format =
        nullptr;  // the plug-in's format description (owned by the plug-in); null when nothing was decoded
    std::int32_t FileSize = -1;  // bytes; -1 when the file could not be opened
    // Whether the picture came whole (and was fitted), in lines (resized
    // into the target as they came) or not at all.
    TPictureDelivery Delivery = TPictureDelivery::None;
    // Line-callback calls that reached the resize (line -1 included) over
    // every plug-in tried, and lines refused because of a cancel.
    std::uint32_t Lines = 0;
    std::uint32_t RefusedLines = 0;
    // The fitted picture was converted from the colours its file describes.
    bool ColourConverted = false;
    // The part of the target the picture covers; empty when nothing was fitted.
    TRect32 Covered;
};

// What a preparation does with the colours a file describes.
struct TPictureColours {
    // Show colours as the photo intends: a picture whose file carries a
    // colour profile (or says Adobe RGB) is converted, at its fitted size,
    // for the monitor. Off: every picture shows the numbers its file holds.
    bool Intended = false;
    // The caller's converter, one per thread that prepares pictures;
    // borrowed. Null: nothing is converted.
    TColourConverter* Converter = nullptr;
};

// How a picture is fitted into its target.
struct TFitOptions {
    // 0: GDI's halftone stretch; 1: Hermite; 2: Lanczos3, the picture
    // decoded at twice the target's size.
    std::uint8_t FitMode = 0;
    // With FitMode 1 or 2, plug-ins that deliver lines have them resized as
    // they come.
    bool LineResize = false;
};

// What one preparation works with, handed over by its caller.
struct TPrepareOptions {
    TPluginHost* Plugins = nullptr;  // borrowed; null: nothing is decoded
    TFitOptions Fit;
    TPictureColours Colours;
    // When set, each preparation also writes its PictureInfo::Covered here,
    // for a caller that does not see the PictureInfo; borrowed.
    TRect32* Covered = nullptr;
};

// Decodes `fileName` through `options.Plugins` and fits it into `target`:
// with FitMode 1 or 2 and LineResize on, plug-ins that deliver lines have them resized into
// the target as they come; a picture that comes whole is fitted afterwards.
// A picture that cannot be decoded leaves the target black. Resampler and
// bitmap errors propagate. With `Colours.Intended`, the part of the target
// the picture covers is then converted as the file's colour description
// says; untagged and sRGB pictures stay byte for byte as fitted.
// One decode runs at a time in the process: a call waits for the decode of
// another thread (one a run left behind still finishing, say). A thread with
// a cancel flag waits until its flag is raised; any other gives up after
// kDecodeTurnWaitMs and leaves the target black.
void LoadPicture(TBitmap& target, const std::string& fileName, PictureInfo& info,
                 const TPrepareOptions& options);
constexpr unsigned kDecodeTurnWaitMs = 3000;

// A flag that abandons the calling thread's decodes once raised: the line
// callback refuses every further line, so the plug-in returns early and the
// decode releases its file, its picture buffer and its resize buffers on
// its way out; what it drew is not fitted. Null: the thread's decodes run to
// their end. The flag must outlive the thread's decodes.
void SetDecodeCancel(const std::atomic<bool>* flag);
// True when the calling thread's cancel flag is raised.
bool DecodeCancelled();
// For a thread whose LoadPicture a fault ended part-way (diag/fault_guard):
// gives back the decode turn if that LoadPicture held it, so that the other
// threads' decodes are not kept waiting.
void ReleaseAbandonedDecode();
// Fits a decoded picture into the target: pixel copies, the resampler or
// HALFTONE StretchDIBits; everything the picture does not cover is black.
void FitPicture(TBitmap& target, const TBitmap& source, std::uint8_t fitMode);
// The same decisions for two GDI-backed bitmaps, drawn with GDI only.
void FitPictureGdi(TBitmap& target, const TBitmap& source);
