#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "catalogue/sequence.h"
#include "catalogue/sequence_win32.h"
#include "imaging/bitmap_text_win32.h"
#include "imaging/bitmap_win32.h"
#include "imaging/picture_shape_win32.h"
#include "imaging/prepare_win32.h"

// What the picture-loading thread does for each picture of a show: asks the
// sequencer for the next picture, prepares it into the bitmap, or writes the
// show's message there when there is nothing to show.

// Chooses the next picture of `show` by `order` and prepares it into
// `bitmap` as `prepare` says, or writes "No pictures selected" / "Can't read pictures" there.
// Returns the global index of the picture now in the bitmap; -1 for a
// message, and when the show stopped before a picture was ready. Runs on
// the picture-loading thread. An error preparing a picture travels to the
// caller; with `keepGoing` (a run from the dialog, whose process holds edits
// not yet saved) it makes that picture one that cannot be read instead, and
// the show goes on.
// The messages are written in `messages`. With `accept`, a picture it
// refuses (given its path) is passed over like one that cannot be read.
std::int32_t LoadNextPicture(TBitmap& bitmap, const TShowPictures& show, const TSequenceOptions& order,
                             const TPrepareOptions& prepare, TMessageFont& messages, bool keepGoing = false,
                             const std::function<bool(const std::string& path)>& accept = nullptr);

// When photos are shown on every monitor, one loader prepares the pictures
// of every monitor's flight from the one order. What a flight's next
// picture should be, as far as the catalogue allows:
struct TSetAside {
    std::int32_t Index;   // a picture of the order a flight passed over
    TPictureShape Shape;  // its shape, which did not suit that flight
};
struct TFlightPreference {
    TPictureShape Shape = TPictureShape::Landscape;  // the monitor's own
    std::vector<std::string> Avoid;  // pictures on the other monitors, or on their way there
    // Pictures of the order another flight passed over for their shape,
    // kept for a monitor of their own shape (at most kMaxSetAside) [L].
    std::vector<TSetAside>* SetAside = nullptr;
};
constexpr std::size_t kMaxSetAside = 8;
// The order's pictures looked at beyond the first for a better one.
constexpr std::int32_t kMaxPassedOver = 8;

// The next picture of `show` for a flight: first one set aside for this
// flight's shape, else the order's next, passing over up to kMaxPassedOver
// that another monitor shows or that are of the other shape (those are set
// aside). With too few pictures for that, the order's next as it comes.
// Returns as LoadNextPicture does.
std::int32_t LoadFlightPicture(TBitmap& bitmap, const TShowPictures& show, const TSequenceOptions& order,
                               const TPrepareOptions& prepare, TMessageFont& messages,
                               const TFlightPreference& preference, bool keepGoing = false);

// True when a picture of `shape` suits a monitor of `monitor` shape: a
// square picture or monitor, or an unknown picture, suits either.
bool ShapeSuits(TPictureShape shape, TPictureShape monitor);

// Prepares the picture at global `index` of `show` into `bitmap`, leaving the
// show's order as it is: the steering keys' way back to a picture. False
// when the index names no picture or a hidden one, when the picture cannot
// be read (an error counts so with `keepGoing`, else it travels), and when
// the loader was cancelled meanwhile.
bool LoadPictureAt(TBitmap& bitmap, const TShowPictures& show, std::int32_t index, const TPrepareOptions& prepare,
                   bool keepGoing = false);
