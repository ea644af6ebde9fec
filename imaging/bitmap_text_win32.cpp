#include "imaging/bitmap_text_win32.h"

#include <cstring>

#include "base/handles_win32.h"
#include "imaging/bitmap_text.h"

namespace {

LOGFONTA messageFont = [] {
    LOGFONTA f;
    std::memset(&f, 0, sizeof f);
    f.lfWeight = 400;
    f.lfCharSet = DEFAULT_CHARSET;
    std::strcpy(f.lfFaceName, "Courier New");
    return f;
}();
TGdiObject messageFontHandle;  // made from messageFont on first use

}  // namespace

void SetMessageFont(std::int32_t height) {
    messageFont.lfHeight = height;
    messageFontHandle.Reset();
}

HFONT MessageFontHandle() {
    if (!messageFontHandle) messageFontHandle.Reset(::CreateFontIndirectA(&messageFont));
    return static_cast<HFONT>(messageFontHandle.Get());
}

void FreeMessageFont() {
    messageFontHandle.Reset();
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
