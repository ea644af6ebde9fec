#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "imaging/bitmap_win32.h"

// Texts drawn into pictures: the show's messages ("No pictures selected")
// in one font, kept from its first use until FreeMessageFont.

// Colour of the show's messages (red, as a Windows colour value).
constexpr COLORREF kMessageColour = 0x0000FF;

// The message font: "Courier New" of normal weight, `height` logical units
// (negative: character height, as MessageFontHeight gives it). A font made
// for an earlier height is freed.
void SetMessageFont(std::int32_t height);
// Writes `text` (lines split at carriage returns) centred into the bitmap in
// `colour` with the message font, which is created on first use. A wrapper
// bitmap (no DC) is left as it is.
void DrawMessage(TBitmap& bitmap, const std::string& text, COLORREF colour = kMessageColour);
// The message font's handle, created on first use; owned by this unit.
HFONT MessageFontHandle();
// Deletes the message font; the next message creates it again.
void FreeMessageFont();
