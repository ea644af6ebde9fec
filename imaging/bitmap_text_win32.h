#pragma once
#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>

#include "base/handles_win32.h"
#include "imaging/bitmap_win32.h"

// Texts drawn into pictures: the show's messages ("No pictures selected")
// in one font, which the session owns.

// Colour of the show's messages (red, as a Windows colour value).
constexpr COLORREF kMessageColour = 0x0000FF;

// The message font: "Courier New" of normal weight. The session sets its
// height; a run's loader draws with it, so making the font on first use is
// locked.
class TMessageFont {
public:
    TMessageFont();
    TMessageFont(const TMessageFont&) = delete;
    TMessageFont& operator=(const TMessageFont&) = delete;

    // `height` logical units (negative: character height, as
    // MessageFontHeight gives it). A font made for an earlier height is freed.
    void SetHeight(std::int32_t height);
    // The font's handle, created on first use; owned by this object.
    HFONT Handle();
    // Deletes the font; the next message creates it again.
    void Free();

private:
    std::mutex lock_;
    LOGFONTA description_;
    TGdiObject handle_;  // made from the description on first use
};

// Writes `text` (lines split at carriage returns) centred into the bitmap in
// `colour` with `font`. A wrapper bitmap (no DC) is left as it is.
void DrawMessage(TBitmap& bitmap, const std::string& text, TMessageFont& font, COLORREF colour = kMessageColour);
