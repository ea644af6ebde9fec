#include "imaging/bitmap_text_win32.h"

#include <cstring>

#include "base/handles_win32.h"
#include "imaging/bitmap_text.h"

namespace {

LOGFONTA DefaultMessageFont() {
    LOGFONTA f;
    std::memset(&f, 0, sizeof f);
    f.lfWeight = 400;
    f.lfCharSet = DEFAULT_CHARSET;
    std::strcpy(f.lfFaceName, "Courier New");
    return f;
}

// The font of the messages, process-wide: the session sets its height from
// the screen once, and the loader draws with it later, with nothing of the
// session at hand; one font serves every message of the process.
struct TMessageFont {
    LOGFONTA description = DefaultMessageFont();
    TGdiObject handle;  // made from the description on first use
};
TMessageFont messageFont;

}  // namespace

void SetMessageFont(std::int32_t height) {
    messageFont.description.lfHeight = height;
    messageFont.handle.Reset();
}

HFONT MessageFontHandle() {
    if (!messageFont.handle) messageFont.handle.Reset(::CreateFontIndirectA(&messageFont.description));
    return static_cast<HFONT>(messageFont.handle.Get());
}

void FreeMessageFont() {
    messageFont.handle.Reset();
}

void DrawMessage(TBitmap& bitmap, const std::string& text, COLORREF colour) {
    if (!bitmap.DC()) return;  // a wrapper bitmap has no DC to draw with
    TSelectGuard select(bitmap.DC(), MessageFontHandle());
    TEXTMETRICA metrics{};
    ::GetTextMetricsA(bitmap.DC(), &metrics);
    const std::int32_t th = metrics.tmHeight;

    ::SetBkColor(bitmap.DC(), RGB(0, 0, 0));
    ::SetTextAlign(bitmap.DC(), TA_CENTER | TA_TOP);
    ::SetTextColor(bitmap.DC(), colour);
    const std::vector<std::string> lines = MessageLines(text);
    for (std::size_t k = 0; k < lines.size(); ++k) {
        const std::string& line = lines[k];
        ::TextOutA(bitmap.DC(), bitmap.Width / 2,
                   MessageLineTop(bitmap.Height, th, static_cast<std::int32_t>(k)), line.c_str(),
                   static_cast<int>(line.size()));
    }
    // The pixels are read straight from the section next; let GDI finish.
    ::GdiFlush();
}
