#include "catalogue/sequence_win32.h"

#include <optional>

#include "base/random.h"
#include "base/registry_win32.h"
#include "catalogue/hidden_list.h"
#include "catalogue/piclist.h"

namespace {

// Reads the catalogue's pictures in global order: an index after the last
// one read costs a step, not a walk from the first entry, so a search
// through every picture takes time in proportion to their number.
class TPictureCursor {
public:
    explicit TPictureCursor(const TPicList& list) : list_(list) {}
    std::string At(std::int32_t n) {
        const TPicList& list = list_;
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
    const TPicList& list_;
    int entry_ = 0;
    std::int64_t before_ = 0;  // pictures in the entries before entry_
};

}  // namespace

TSequenceResult ChooseShowPicture(const TShowPictures& show, const TSequenceOptions& options,
                                  const std::function<bool(const std::string& path)>& prepare,
                                  const std::function<bool()>& stopped) {
    // After a stop the run may have left this thread behind and taken the
    // sequence back: the choice ends without touching it or the catalogue.
    const TPicList& list = show.Catalogue;
    std::optional<TPassedOver> hidden;
    if (show.Hidden && !show.Hidden->Empty()) {
        hidden.emplace();
        TPictureCursor cursor(list);
        const std::int32_t n = list.TotalCount();
        for (std::int32_t i = 0; i < n; ++i)
            if (!show.Hidden->Contains(cursor.At(i))) ++hidden->Present;
        hidden->Contains = [&show, &list](std::int32_t index) { return show.Hidden->Contains(list.PictureAt(index)); };
    }
    return ChooseNextPicture(
        show.Sequence, options, list.TotalCount(), [&show] { return show.Random.Unit(); },
        [&] { return ReadResumePosition(list, stopped); },
        [&](std::int32_t index) { return prepare(list.PictureAt(index)); }, stopped, hidden ? &*hidden : nullptr);
}

bool ShowablePicture(const TShowPictures& show, std::int32_t index) {
    if (index < 0 || index >= show.Catalogue.TotalCount()) return false;
    return !show.Hidden || !show.Hidden->Contains(show.Catalogue.PictureAt(index));
}

std::int32_t ReadResumePosition(const TPicList& catalogue, const std::function<bool()>& stopped) {
    TRegKey key = CreateRegKey(HKEY_CURRENT_USER, kSettingsKey);
    // A missing key or value, or a value that is not text, reads as empty.
    const std::optional<std::string> prev = key ? ReadRegString(key.Get(), "Prev") : std::nullopt;
    TPictureCursor cursor(catalogue);
    return ResolveResumePosition(
        prev, catalogue.TotalCount(), [&cursor](std::int32_t i) { return cursor.At(i); }, stopped);
}

void SaveResumePosition(const TPicList& catalogue, std::int32_t index, bool resumeLast) {
    const std::string text = ResumeText(resumeLast, index, catalogue.TotalCount(),
                                        [&catalogue](std::int32_t i) { return catalogue.PictureAt(i); });
    TRegKey key = CreateRegKey(HKEY_CURRENT_USER, kSettingsKey);
    if (key) WriteRegString(key.Get(), "Prev", text);
}
