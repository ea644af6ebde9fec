#pragma once
#include <cstdint>
#include <string>

#include "session/show_options.h"

// The caption a show writes on its pictures: the portable half of
// render/caption_win32.h.

// The file name of a catalogue path: what follows its last "\" or "/".
std::string CaptionFileName(const std::string& path);

// The caption's text for the choice, from the picture's file name and its
// date as the user reads dates; empty for no caption.
std::string CaptionText(TCaption caption, const std::string& fileName, const std::string& date);

// Character height in pixels of the caption in a picture bitmap of
// `bitmapHeight` rows (half the screen's height): a 24th of it, so it keeps
// its share of the picture on every screen, but never below 9 points at the
// screen's `dpi` (96 when unknown) nor above a sixth of the bitmap.
std::int32_t CaptionFontHeight(std::int32_t bitmapHeight, std::int32_t dpi);
