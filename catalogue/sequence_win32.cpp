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

}  // namespace

TSequenceResult ChooseShowPicture(const std::function<bool(const std::string& path)>& prepare,
                                  const std::function<bool()>& stopped) {
    TSequenceOptions options;
    options.Order = Settings.Order;
    options.RandomStart = Settings.RandomStart;
    options.ResumeLast = Settings.ResumeLast;
    // A stop during the preparation ends the choice too: the run may have
    // left this thread behind by then and taken the sequence back.
    return ChooseNextPicture(
        ShowSequence, options, PicList.TotalCount(), RandomUnit, ReadResumePosition,
        [&](std::int32_t index) { return stopped() || prepare(PathAt(index)) || stopped(); });
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
