#pragma once
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "imaging/bitmap_win32.h"
#include "imaging/resample.h"
#include "session/show_options.h"

// The caption a show writes on a prepared picture: its file name, the date
// it was taken, or both, in white on a darkened band along the bottom of the
// picture, so that it reads on light and dark photos alike. It is part of
// the picture bitmap, so it flies and fades with the panel.

// When the picture at `path` was taken: its EXIF DateTimeOriginal, else the
// file's last change in local time; nullopt when neither can be read.
std::optional<SYSTEMTIME> PictureDate(const std::string& path);

// The caption's text for the picture at `path`; empty for TCaption::None.
// Dates are written in the user's short date format.
std::string PictureCaption(TCaption caption, const std::string& path);

// Draws `text` on one line centred on a darkened band along the bottom of
// `area` (the part of the bitmap the picture covers; empty: all of it),
// with characters `fontHeight` pixels high; too long a text ends in "...".
// An empty text, or a wrapper bitmap (no DC), is left as it is.
void DrawCaption(TBitmap& bitmap, const std::string& text, const TRect32& area, std::int32_t fontHeight);
