#include "render/loader_win32.h"

#include "catalogue/sequence.h"
#include "catalogue/sequence_win32.h"
#include "imaging/bitmap_text_win32.h"
#include "imaging/prepare_win32.h"
#include "render/hooks_win32.h"

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

}  // namespace

std::int32_t LoadNextPicture(TBitmap& bitmap) {
    // A cancelled loader prepares nothing more: nobody shows it, and it
    // must not go on to the next picture (nor read the catalogue, which the
    // dialog may be editing by then).
    const auto prepare = RenderHooks().PreparePicture ? RenderHooks().PreparePicture : PrepareWithPipeline;
    const TSequenceResult result =
        ChooseShowPicture([&](const std::string& path) { return prepare(bitmap, path); }, DecodeCancelled);
    switch (result) {
    case TSequenceResult::Prepared:
        return ShowSequence.CurrentIndex;
    case TSequenceResult::NoPictures:
        DrawMessage(bitmap, kNoPicturesMessage, kMessageColour);
        break;
    case TSequenceResult::Unreadable:
        DrawMessage(bitmap, kUnreadableMessage, kMessageColour);
        break;
    case TSequenceResult::Stopped:
        break;
    }
    return -1;
}
