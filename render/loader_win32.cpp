#include "render/loader_win32.h"

#include <algorithm>
#include <exception>

#include "catalogue/piclist.h"
#include "catalogue/sequence.h"
#include "catalogue/sequence_win32.h"
#include "imaging/bitmap_text_win32.h"
#include "imaging/prepare_win32.h"
#include "render/hooks_win32.h"

namespace {

bool PrepareWithPipeline(TBitmap& bitmap, const std::string& path, const TPrepareOptions& options) {
    // An index the catalogue no longer has (random order after it shrank)
    // names no file: unreadable, like any other picture that fails.
    if (path.empty()) {
        bitmap.Clear();
        return false;
    }
    PictureInfo info;
    LoadPicture(bitmap, path, info, options);
    return info.Width != 0 && info.Height != 0;
}

// Prepares one picture; with `keepGoing` an error makes it unreadable.
bool PrepareOne(TBitmap& bitmap, const std::string& path, const TPrepareOptions& options, bool keepGoing) {
    const auto& hook = RenderHooks().PreparePicture;
    const auto prepare = [&] { return hook ? hook(bitmap, path) : PrepareWithPipeline(bitmap, path, options); };
    if (!keepGoing) return prepare();
    try {
        return prepare();
    } catch (const std::exception& e) {
        const std::string trace = std::string("Quorvane: cannot prepare ") + path + ": " + e.what() + "\n";
        ::OutputDebugStringA(trace.c_str());
    } catch (...) {
        ::OutputDebugStringA(("Quorvane: cannot prepare " + path + "\n").c_str());
    }
    bitmap.Clear();
    return false;
}

}  // namespace

bool LoadPictureAt(TBitmap& bitmap, const TShowPictures& show, std::int32_t index, const TPrepareOptions& options,
                   bool keepGoing) {
    if (DecodeCancelled() || !ShowablePicture(show, index)) return false;
    return PrepareOne(bitmap, show.Catalogue.PictureAt(index), options, keepGoing) && !DecodeCancelled();
}

std::int32_t LoadNextPicture(TBitmap& bitmap, const TShowPictures& show, const TSequenceOptions& order,
                             const TPrepareOptions& options, TMessageFont& messages, bool keepGoing,
                             const std::function<bool(const std::string& path)>& accept) {
    // A cancelled loader prepares nothing more: nobody shows it, and it
    // must not go on to the next picture (nor read the catalogue, which the
    // dialog may be editing by then).
    const auto prepareOne = [&](const std::string& path) {
        if (accept && !accept(path)) return false;
        return PrepareOne(bitmap, path, options, keepGoing);
    };
    const TSequenceResult result = ChooseShowPicture(show, order, prepareOne, DecodeCancelled);
    switch (result) {
    case TSequenceResult::Prepared:
        return show.Sequence.CurrentIndex;
    case TSequenceResult::NoPictures:
        DrawMessage(bitmap, kNoPicturesMessage, messages, kMessageColour);
        break;
    case TSequenceResult::Unreadable:
        DrawMessage(bitmap, kUnreadableMessage, messages, kMessageColour);
        break;
    case TSequenceResult::Stopped:
        break;
    }
    return -1;
}

bool ShapeSuits(TPictureShape shape, TPictureShape monitor) {
    if (shape == TPictureShape::Unknown || shape == TPictureShape::Square || monitor == TPictureShape::Square)
        return true;
    return shape == monitor;
}

std::int32_t LoadFlightPicture(TBitmap& bitmap, const TShowPictures& show, const TSequenceOptions& order,
                               const TPrepareOptions& prepare, TMessageFont& messages,
                               const TFlightPreference& preference, bool keepGoing) {
    const auto avoided = [&](const std::string& path) {
        return std::find(preference.Avoid.begin(), preference.Avoid.end(), path) != preference.Avoid.end();
    };
    std::vector<TSetAside>& aside = *preference.SetAside;
    // A picture set aside for this shape, unless another monitor shows it by
    // now; one that the show cannot have any more is forgotten.
    for (auto it = aside.begin(); it != aside.end() && !DecodeCancelled();) {
        const std::int32_t index = it->Index;
        if (!ShowablePicture(show, index)) {
            it = aside.erase(it);
            continue;
        }
        if (!ShapeSuits(it->Shape, preference.Shape) || avoided(show.Catalogue.PictureAt(index))) {
            ++it;
            continue;
        }
        aside.erase(it);
        if (LoadPictureAt(bitmap, show, index, prepare, keepGoing)) return index;
        break;
    }
    // A picture passed over counts as one that could not be read; with fewer
    // pictures than the monitors want, they come as the order has them.
    const std::int32_t total = show.Catalogue.TotalCount();
    std::int32_t passes = total > static_cast<std::int32_t>(preference.Avoid.size()) + 1
                              ? std::min<std::int32_t>(kMaxPassedOver, total - 1 - std::int32_t(preference.Avoid.size()))
                              : 0;
    const auto accept = [&](const std::string& path) {
        if (passes <= 0) return true;
        if (avoided(path)) {
            --passes;
            return false;
        }
        if (aside.size() >= kMaxSetAside) return true;
        const TPictureShape shape = PictureShapeOf(path);
        if (ShapeSuits(shape, preference.Shape)) return true;
        --passes;
        aside.push_back({show.Sequence.CurrentIndex, shape});
        return false;
    };
    return LoadNextPicture(bitmap, show, order, prepare, messages, keepGoing, accept);
}
