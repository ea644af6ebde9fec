#include "catalogue/sequence_win32.h"

#include <optional>

#include "app/appdata_win32.h"
#include "app/random.h"
#include "app/settings.h"
#include "base/registry_win32.h"
#include "catalogue/piclist.h"
#include "catalogue/sequence.h"
#include "imaging/prepare_win32.h"

namespace {

bool PrepareWithPipeline(TBitmap& bitmap, const std::string& path) {
    // An index the catalogue no longer has (random order after it shrank)
    // names no file: unreadable, like any other picture that fails.
    if (path.empty()) {
        bitmap.Clear();
        return false;
    }
    PictureInfo info;
    LoadPicture(bitmap, path, info);
    return info.Width != 0 && info.Height != 0;
}

TPicturePreparer preparer = PrepareWithPipeline;

std::string PathAt(std::int32_t i) {
    return PicList.PictureAt(i);
}

}  // namespace

void SetPicturePreparer(TPicturePreparer p) {
    preparer = p ? p : PrepareWithPipeline;
}

void LoadNextPicture(TBitmap& bitmap) {
    const std::int32_t n = PicList.TotalCount();
    TSequenceOptions options;
    options.Order = Settings.Order;
    options.RandomStart = Settings.RandomStart;
    options.ResumeLast = Settings.ResumeLast;
    // A cancelled loader takes its picture as prepared: nobody shows it, and
    // it must not go on to the next picture (nor read the catalogue, which
    // the dialog may be editing by then).
    const TSequenceResult result =
        ChooseNextPicture(ShowSequence, options, n, RandomUnit, ReadResumePosition, [&](std::int32_t index) {
            return DecodeCancelled() || preparer(bitmap, PicList.PictureAt(index));
        });
    switch (result) {
    case TSequenceResult::Prepared:
        break;
    case TSequenceResult::NoPictures:
        DrawMessage(bitmap, kNoPicturesMessage, kMessageColour, MessageFont);
        break;
    case TSequenceResult::Unreadable:
        DrawMessage(bitmap, kUnreadableMessage, kMessageColour, MessageFont);
        break;
    }
}

std::int32_t ReadResumePosition() {
    TRegKey key = CreateRegKey(HKEY_CURRENT_USER, kSettingsKey);
    // A missing key or value, or a value that is not text, reads as empty.
    const std::optional<std::string> prev = key ? ReadRegString(key.Get(), "Prev") : std::nullopt;
    return ResolveResumePosition(prev, PicList.TotalCount(), PathAt);
}

void SaveResumePosition(std::int32_t index) {
    const std::string text = ResumeText(Settings.ResumeLast, index, PicList.TotalCount(), PathAt);
    TRegKey key = CreateRegKey(HKEY_CURRENT_USER, kSettingsKey);
    if (key) WriteRegString(key.Get(), "Prev", text);
}

void DrawMessage(TBitmap& bitmap, const std::string& text, COLORREF colour, const LOGFONTA& font) {
    if (!bitmap.DC) return;  // a wrapper bitmap has no DC to draw with
    TGdiObject& handle = MessageFontHandles[0];
    if (!handle) handle.Reset(::CreateFontIndirectA(&font));
    TSelectGuard select(bitmap.DC, handle.Get());
    TEXTMETRICA metrics{};
    ::GetTextMetricsA(bitmap.DC, &metrics);
    const std::int32_t th = metrics.tmHeight;

    ::SetBkColor(bitmap.DC, RGB(0, 0, 0));
    ::SetTextAlign(bitmap.DC, TA_CENTER | TA_TOP);
    ::SetTextColor(bitmap.DC, colour);
    const std::vector<std::string> lines = MessageLines(text);
    for (std::size_t k = 0; k < lines.size(); ++k) {
        const std::string& line = lines[k];
        ::TextOutA(bitmap.DC, bitmap.Width / 2,
                   MessageLineTop(bitmap.Height, th, static_cast<std::int32_t>(k)), line.c_str(),
                   static_cast<int>(line.size()));
    }
    // The pixels are read straight from the section next; let GDI finish.
    ::GdiFlush();
}
