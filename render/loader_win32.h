#pragma once
#include <cstdint>
#include <string>

#include "catalogue/sequence.h"
#include "catalogue/sequence_win32.h"
#include "imaging/bitmap_text_win32.h"
#include "imaging/bitmap_win32.h"
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
// The messages are written in `messages`.
std::int32_t LoadNextPicture(TBitmap& bitmap, const TShowPictures& show, const TSequenceOptions& order,
                             const TPrepareOptions& prepare, TMessageFont& messages, bool keepGoing = false);

// Prepares the picture at global `index` of `show` into `bitmap`, leaving the
// show's order as it is: the steering keys' way back to a picture. False
// when the index names no picture or a hidden one, when the picture cannot
// be read (an error counts so with `keepGoing`, else it travels), and when
// the loader was cancelled meanwhile.
bool LoadPictureAt(TBitmap& bitmap, const TShowPictures& show, std::int32_t index, const TPrepareOptions& prepare,
                   bool keepGoing = false);
