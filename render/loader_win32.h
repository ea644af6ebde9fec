#pragma once
#include <cstdint>
#include <string>

#include "imaging/bitmap_win32.h"

// What the picture-loading thread does for each picture of a show: asks the
// sequencer for the next picture, prepares it into the bitmap, or writes the
// show's message there when there is nothing to show.

// Chooses the next picture by the settings' order and prepares it into
// `bitmap`, or writes "No pictures selected" / "Can't read pictures" there.
// Returns the global index of the picture now in the bitmap; -1 for a
// message, and when the show stopped before a picture was ready. Runs on
// the picture-loading thread.
std::int32_t LoadNextPicture(TBitmap& bitmap);
