#include "render/loader_win32.h"

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
                             const TPrepareOptions& options, TMessageFont& messages, bool keepGoing) {
    // A cancelled loader prepares nothing more: nobody shows it, and it
    // must not go on to the next picture (nor read the catalogue, which the
    // dialog may be editing by then).
    const auto prepareOne = [&](const std::string& path) { return PrepareOne(bitmap, path, options, keepGoing); };
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
