#include "render/caption_win32.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/handles_win32.h"
#include "imaging/exif.h"
#include "render/caption.h"

namespace {

// The EXIF block of a JPEG sits in its first segments, which an APP1 bounds
// to 64 KiB; twice that leaves room for the segments before it.
constexpr DWORD kExifReadBytes = 128 * 1024;

// Band brightness: what stays of each channel under the caption, in 256ths.
// White text then keeps a contrast of at least 7:1 on a white picture.
constexpr unsigned kBandKeep = 90;

std::optional<TExifDateTime> ExifDate(const std::string& path) {
    TKernelHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    std::vector<std::uint8_t> head(kExifReadBytes);
    DWORD read = 0;
    if (!::ReadFile(file.Get(), head.data(), kExifReadBytes, &read, nullptr)) return std::nullopt;
    const bool tiff = read >= 2 && ((head[0] == 'I' && head[1] == 'I') || (head[0] == 'M' && head[1] == 'M'));
    return tiff ? TiffDateTaken(head.data(), read) : JpegExifDateTaken(head.data(), read);
}

}  // namespace

std::optional<SYSTEMTIME> PictureDate(const std::string& path) {
    SYSTEMTIME st{};
    if (const auto taken = ExifDate(path)) {
        st.wYear = static_cast<WORD>(taken->Year);
        st.wMonth = static_cast<WORD>(taken->Month);
        st.wDay = static_cast<WORD>(taken->Day);
        st.wHour = static_cast<WORD>(taken->Hour);
        st.wMinute = static_cast<WORD>(taken->Minute);
        st.wSecond = static_cast<WORD>(std::min(taken->Second, 59));  // no leap seconds here
        return st;
    }
    WIN32_FILE_ATTRIBUTE_DATA data{};
    FILETIME local{};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        !::FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) || !::FileTimeToSystemTime(&local, &st))
        return std::nullopt;
    return st;
}

std::string PictureCaption(TCaption caption, const std::string& path) {
    if (caption == TCaption::None) return std::string();
    std::string date;
    if (caption != TCaption::FileName) {
        if (const auto st = PictureDate(path)) {
            char text[80] = "";
            if (::GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &*st, nullptr, text, sizeof text) > 0)
                date = text;
        }
    }
    return CaptionText(caption, CaptionFileName(path), date);
}

void DrawCaption(TBitmap& bitmap, const std::string& text, const TRect32& area, std::int32_t fontHeight) {
    if (text.empty() || !bitmap.DC() || !bitmap.Bits || bitmap.Width <= 0 || bitmap.Height <= 0) return;
    TRect32 a = area;
    if (a.Width <= 0 || a.Height <= 0 || a.Left < 0 || a.Top < 0 || a.Width > bitmap.Width - a.Left ||
        a.Height > bitmap.Height - a.Top)
        a = {0, 0, bitmap.Width, bitmap.Height};
    fontHeight = std::max<std::int32_t>(1, fontHeight);
    TGdiObject font(::CreateFontA(-fontHeight, 0, 0, 0, FW_SEMIBOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                                  DEFAULT_PITCH | FF_SWISS, "Tahoma"));
    if (!font) return;
    const HDC dc = bitmap.DC();
    TSelectGuard select(dc, font.Get());
    const std::int32_t margin = std::max<std::int32_t>(2, fontHeight / 2);
    // A text wider than the picture (a name and a date on a portrait) breaks
    // at its spaces onto a second line rather than losing its end.
    SIZE extent{};
    ::GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    const bool twoLines = extent.cx > a.Width - 2 * margin && text.find(' ') != std::string::npos;
    const std::int32_t lineStep = fontHeight + fontHeight / 4;
    const std::int32_t lines = twoLines ? lineStep + fontHeight : fontHeight;
    const std::int32_t band = std::min(a.Height, lines + fontHeight / 2 + 2);
    const std::int32_t bandTop = a.Top + a.Height - band;

    // The band: every pixel under it darkened, so the picture still shows through.
    ::GdiFlush();
    const std::ptrdiff_t stride = std::ptrdiff_t{bitmap.Width} * 4;
    for (std::int32_t y = bandTop; y < a.Top + a.Height; ++y) {
        std::uint8_t* p = bitmap.Bits + y * stride + std::ptrdiff_t{a.Left} * 4;
        for (std::int32_t x = 0; x < a.Width; ++x, p += 4) {
            p[0] = static_cast<std::uint8_t>(p[0] * kBandKeep / 256);
            p[1] = static_cast<std::uint8_t>(p[1] * kBandKeep / 256);
            p[2] = static_cast<std::uint8_t>(p[2] * kBandKeep / 256);
        }
    }

    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, RGB(255, 255, 255));
    RECT r{a.Left + margin, bandTop, a.Left + a.Width - margin, a.Top + a.Height};
    std::vector<char> line(text.begin(), text.end());
    line.push_back('\0');
    UINT format = DT_CENTER | DT_NOPREFIX | DT_END_ELLIPSIS;
    if (twoLines) {
        // DT_VCENTER works on single lines only: the two lines are centred
        // in the band by their own top.
        r.top = bandTop + (band - lines) / 2;
        format |= DT_WORDBREAK;
    } else {
        format |= DT_VCENTER | DT_SINGLELINE;
    }
    ::DrawTextA(dc, line.data(), -1, &r, format);
    // The pixels are read straight from the section next; let GDI finish.
    ::GdiFlush();
}
