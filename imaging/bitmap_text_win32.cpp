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

}  // namespace

TMessageFont::TMessageFont() : description_(DefaultMessageFont()) {}

void TMessageFont::SetHeight(std::int32_t height) {
    std::lock_guard<std::mutex> guard(lock_);
    description_.lfHeight = height;
    handle_.Reset();
}

HFONT TMessageFont::Handle() {
    std::lock_guard<std::mutex> guard(lock_);
    if (!handle_) handle_.Reset(::CreateFontIndirectA(&description_));
    return static_cast<HFONT>(handle_.Get());
}

void TMessageFont::Free() {
    std::lock_guard<std::mutex> guard(lock_);
    handle_.Reset();
}

void DrawMessage(TBitmap& bitmap, const std::string& text, TMessageFont& font, COLORREF colour) {
    if (!bitmap.DC()) return;  // a wrapper bitmap has no DC to draw with
    TSelectGuard select(bitmap.DC(), font.Handle());
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
