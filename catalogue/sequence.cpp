#include "catalogue/sequence.h"

#include <algorithm>
#include <new>
#include <utility>

#include "base/exception.h"
#include "base/random.h"
#include "base/text.h"


namespace {

// nearest(r * (span - 0.002) - 0.499): the 0.002 and 0.499 keep the result
// inside 0 to span - 1 for every r in [0, 1).
std::int32_t PickBelow(std::int32_t span, const TRandomUnit& random) {
    const double r = random();
    return static_cast<std::int32_t>(RoundHalfEven(r * (span - 0.002) - 0.499));
}

// The end (exclusive) of the positions random order may pick from at p.
std::int32_t WindowEnd(std::int32_t p, std::int32_t n) {
    if (p > kShuffleGuard) return n;
    const std::int32_t third = n / 3;
    if (third > kShuffleGuard) return n - kShuffleGuard + p;
    return std::min(n, n - third + p);
}

// The catalogue has shrunk to n pictures: the table keeps the indices below
// n in their order, so the cycle goes on over the pictures it has not shown
// yet, and the ones it has shown stay shown.
void DropMissingPictures(TShowSequence& seq, std::int32_t n) {
    std::int32_t kept = 0;
    std::int32_t shownKept = 0;
    for (std::int32_t i = 0; i < seq.PicShowedSize; ++i) {
        const std::int32_t index = seq.PicShowed[static_cast<std::size_t>(i)];
        if (index >= n) continue;
        if (i <= seq.ShowedPos) ++shownKept;
        seq.PicShowed[static_cast<std::size_t>(kept++)] = index;
    }
    seq.PicShowed.resize(static_cast<std::size_t>(kept));
    seq.PicShowedSize = kept;
    seq.ShowedPos = shownKept - 1;
}

}  // namespace

std::int32_t NextForward(std::int32_t cur, std::int32_t n) {
    // Also wraps an index beyond the catalogue, which can only come from a
    // catalogue that shrank: a valid index must result.
    if (cur < -1 || cur >= n - 1) return 0;
    return cur + 1;
}

std::int32_t NextBackward(std::int32_t cur, std::int32_t n) {
    if (cur <= 0 || cur > n) return n - 1;
    return cur - 1;
}

std::int32_t RandomStartIndex(std::int32_t n, const TRandomUnit& random) {
    return PickBelow(n, random);
}

std::int32_t ShuffleStep(TShowSequence& seq, std::int32_t n, const TRandomUnit& random) {
    if (seq.PicShowedSize == 0 || n > seq.PicShowedSize) {
        const std::int32_t from = seq.PicShowedSize;
        try {
            seq.PicShowed.resize(static_cast<std::size_t>(n));
        } catch (const std::bad_alloc&) {
            throw Exception("error alloc memory for PicShowed, Size=" + std::to_string(n));
        } catch (const std::length_error&) {
            throw Exception("error alloc memory for PicShowed, Size=" + std::to_string(n));
        }
        // New pictures join the cycle as not yet shown: they sit after the
        // current position, like every other unshown entry.
        for (std::int32_t i = from; i < n; ++i) seq.PicShowed[static_cast<std::size_t>(i)] = i;
        if (from == 0) seq.ShowedPos = -1;
        seq.PicShowedSize = n;
    }
    if (n < seq.PicShowedSize) DropMissingPictures(seq, n);
    if (seq.ShowedPos >= n - 1) seq.ShowedPos = -1;
    const std::int32_t p = ++seq.ShowedPos;
    const std::int32_t w = WindowEnd(p, n);
    const std::int32_t j = p + PickBelow(w - p, random);
    std::swap(seq.PicShowed[static_cast<std::size_t>(p)], seq.PicShowed[static_cast<std::size_t>(j)]);
    return seq.PicShowed[static_cast<std::size_t>(p)];
}

TSequenceResult ChooseNextPicture(TShowSequence& seq, const TSequenceOptions& options, std::int32_t n,
                                  const TRandomUnit& random,
                                  const std::function<std::int32_t()>& resumePosition,
                                  const std::function<bool(std::int32_t)>& prepare,
                                  const std::function<bool()>& stopped, const TPassedOver* passedOver) {
    if (n <= 0) return TSequenceResult::NoPictures;
    if (passedOver && passedOver->Present <= 0) return TSequenceResult::NoPictures;
    const auto halted = [&stopped] { return stopped && stopped(); };

    seq.Owner.Check("The show sequence");
    if (seq.CurrentIndex == -1 && options.Order != kOrderRandom) {
        std::int32_t start = -1;
        if (options.RandomStart) start = RandomStartIndex(n, random);
        // Both on: the resume position wins, even when there is none.
        if (options.ResumeLast) start = resumePosition();
        if (halted()) return TSequenceResult::Stopped;
        seq.CurrentIndex = start;
    }

    // Pictures passed over cost a step each, not an attempt. Forward and
    // backward order meet every index within n steps, random order within
    // 2n: a longer run of them means none is present after all.
    const std::int32_t limit = passedOver ? passedOver->Present : n;
    std::int64_t passedInRow = 0;
    for (std::int32_t attempts = 0;;) {
        if (halted()) return TSequenceResult::Stopped;
        seq.Owner.Check("The show sequence");
        switch (options.Order) {
        case kOrderRandom:
            seq.CurrentIndex = ShuffleStep(seq, n, random);
            break;
        case kOrderBackward:
            seq.CurrentIndex = NextBackward(seq.CurrentIndex, n);
            break;
        default:
            seq.CurrentIndex = NextForward(seq.CurrentIndex, n);
            break;
        }
        if (passedOver && passedOver->Contains(seq.CurrentIndex)) {
            if (++passedInRow > 2 * static_cast<std::int64_t>(n)) return TSequenceResult::NoPictures;
            continue;
        }
        passedInRow = 0;
        if (prepare(seq.CurrentIndex)) return TSequenceResult::Prepared;
        // The picture failed only because the show stopped: it is not
        // passed over.
        if (halted()) return TSequenceResult::Stopped;
        if (attempts > limit) return TSequenceResult::Unreadable;
        ++attempts;
    }
}

std::int32_t ResolveResumePosition(const std::optional<std::string>& prev, std::int32_t n,
                                   const std::function<std::string(std::int32_t)>& pictureAt,
                                   const std::function<bool()>& stopped) {
    if (!prev || prev->empty()) return -1;
    std::string name = *prev;
    const std::size_t mark = prev->find('?');
    if (mark != std::string::npos) {
        const std::int32_t index = ParseInt32(prev->substr(0, mark)).value_or(-1);
        name = prev->substr(mark + 1);
        if (index >= 0 && index < n && LowerAscii(pictureAt(index)) == LowerAscii(name)) return index;
    }
    // A large catalogue takes a while: a stop is honoured on the way.
    constexpr std::int32_t kStopCheckEvery = 256;
    for (std::int32_t i = 0; i < n; ++i) {
        if (i % kStopCheckEvery == 0 && stopped && stopped()) return -1;
        if (pictureAt(i) == name) return i;
    }
    return -1;
}

std::string ResumeText(bool resumeLast, std::int32_t index, std::int32_t n,
                       const std::function<std::string(std::int32_t)>& pictureAt) {
    if (!resumeLast || index < 0 || index >= n) return std::string();
    return std::to_string(index) + "?" + pictureAt(index);
}
