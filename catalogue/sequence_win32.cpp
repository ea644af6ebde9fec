#include "catalogue/sequence_win32.h"

#include <optional>

#include "app/random.h"
#include "app/settings.h"
#include "base/registry_win32.h"
#include "catalogue/piclist.h"

namespace {

std::string PathAt(std::int32_t i) {
    return PicList.PictureAt(i);
}

// Reads the catalogue's pictures in global order: an index after the last
// one read costs a step, not a walk from the first entry, so a search
// through every picture takes time in proportion to their number.
class TPictureCursor {
public:
    std::string At(std::int32_t n) {
        const TPicList& list = PicList;
        if (n < before_) {
            entry_ = 0;
            before_ = 0;
        }
        for (; entry_ < list.Count(); ++entry_) {
            const TPictureList& pictures = list.GetItem(entry_).Pictures;
            if (n - before_ < pictures.Count()) return std::string(pictures.Item(int(n - before_)));
            before_ += pictures.Count();
        }
        return std::string();
    }

private:
    int entry_ = 0;
    std::int64_t before_ = 0;  // pictures in the entries before entry_
};

}  // namespace

TSequenceResult ChooseShowPicture(const std::function<bool(const std::string& path)>& prepare,
                                  const std::function<bool()>& stopped) {
    TSequenceOptions options;
    options.Order = Settings.Order;
    options.RandomStart = Settings.RandomStart;
    options.ResumeLast = Settings.ResumeLast;
    // After a stop the run may have left this thread behind and taken the
    // sequence back: the choice ends without touching it or the catalogue.
    return ChooseNextPicture(
        ShowSequence, options, PicList.TotalCount(), RandomUnit, [&] { return ReadResumePosition(stopped); },
        [&](std::int32_t index) { return prepare(PathAt(index)); }, stopped);
}

std::int32_t ReadResumePosition(const std::function<bool()>& stopped) {
    TRegKey key = CreateRegKey(HKEY_CURRENT_USER, kSettingsKey);
    // A missing key or value, or a value that is not text, reads as empty.
    const std::optional<std::string> prev = key ? ReadRegString(key.Get(), "Prev") : std::nullopt;
    TPictureCursor cursor;
    return ResolveResumePosition(
        prev, PicList.TotalCount(), [&cursor](std::int32_t i) { return cursor.At(i); }, stopped);
}

void SaveResumePosition(std::int32_t index) {
    const std::string text = ResumeText(Settings.ResumeLast, index, PicList.TotalCount(), PathAt);
    TRegKey key = CreateRegKey(HKEY_CURRENT_USER, kSettingsKey);
    if (key) WriteRegString(key.Get(), "Prev", text);
}
