#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "imaging/bitmap_win32.h"

// The show's picture sequence on Windows: the real catalogue, the "Prev"
// registry value, picture preparation and GDI text.

// Chooses the next picture by the settings' order and prepares it into
// `bitmap`, or writes "No pictures selected" / "Can't read pictures" there.
// Runs on the picture-loading thread.
void LoadNextPicture(TBitmap& bitmap);

// The global index that "Prev" names, or -1.
std::int32_t ReadResumePosition();
// Writes "Prev" for `index` (empty with ResumeLast off or an index outside
// the catalogue). A failed write is ignored.
void SaveResumePosition(std::int32_t index);

// Writes `text` (lines split at carriage returns) centred into the bitmap
// in `colour` with the font `font` describes. The font is created on first
// use and kept in MessageFontHandles until FreeApplicationData.
void DrawMessage(TBitmap& bitmap, const std::string& text, COLORREF colour, const LOGFONTA& font);

// Colour of the show's messages (red, as a Windows colour value).
constexpr COLORREF kMessageColour = 0x0000FF;

// How one catalogue picture is prepared into the bitmap: true when it could
// be read. The product prepares with the picture pipeline; tests may count
// or refuse attempts. Null restores the product's preparation.
using TPicturePreparer = bool (*)(TBitmap& bitmap, const std::string& path);
void SetPicturePreparer(TPicturePreparer preparer);
