#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base/exception.h"
#include "catalogue/sequence.h"
#include "imaging/bitmap_text.h"
#include "render/show_history.h"

namespace {

// A fixed random source: returns the values in turn, then repeats the last.
struct TScriptedRandom {
    std::vector<double> values;
    std::size_t next = 0;
    double operator()() {
        const double v = values[std::min(next, values.size() - 1)];
        ++next;
        return v;
    }
};

// A seeded MT19937 drawn the way the product draws: output * 2^-32.
struct TSeededRandom {
    std::mt19937 gen;
    explicit TSeededRandom(std::uint32_t seed) : gen(seed) {}
    double operator()() { return static_cast<std::uint32_t>(gen()) * (1.0 / 4294967296.0); }
};

std::string PathOf(std::int32_t i) {
    return "C:\\Pics\\p" + std::to_string(i) + ".jpg";
}

// Runs `count` calls of a show and returns the indices prepared.
std::vector<std::int32_t> Show(
    TShowSequence& seq, const TSequenceOptions& options, std::int32_t n, int count,
    TRandomUnit random = [] { return 0.5; }, std::function<std::int32_t()> resume = [] { return -1; }) {
    std::vector<std::int32_t> shown;
    for (int c = 0; c < count; ++c) {
        const TSequenceResult r = ChooseNextPicture(seq, options, n, random, resume, [&](std::int32_t i) {
            shown.push_back(i);
            return true;
        });
        EXPECT_EQ(r, TSequenceResult::Prepared);
    }
    return shown;
}

TEST(SequenceOrder, ForwardAndBackwardWrap) {
    TShowSequence seq;
    EXPECT_EQ(Show(seq, {kOrderForward, false, false}, 3, 5), (std::vector<std::int32_t>{0, 1, 2, 0, 1}));
    TShowSequence back;
    EXPECT_EQ(Show(back, {kOrderBackward, false, false}, 3, 4), (std::vector<std::int32_t>{2, 1, 0, 2}));
}

TEST(SequenceOrder, UnknownOrderValuesPlayForward) {
    for (std::int32_t order : {0, 3, 5, 6, 7}) {
        TShowSequence seq;
        EXPECT_EQ(Show(seq, {order, false, false}, 3, 4), (std::vector<std::int32_t>{0, 1, 2, 0})) << order;
    }
}

TEST(SequenceOrder, IndexBeyondAShrunkCatalogueStillGivesAValidOne) {
    EXPECT_EQ(NextForward(9, 3), 0);
    EXPECT_EQ(NextForward(-7, 3), 0);
    EXPECT_EQ(NextBackward(9, 3), 2);
    EXPECT_EQ(NextBackward(3, 3), 2);
    EXPECT_EQ(NextBackward(-1, 3), 2);
}

TEST(SequenceStart, RandomStartCoversWholeRangeAndStaysInside) {
    // The extremes of r land on the first and last index.
    EXPECT_EQ(RandomStartIndex(10, [] { return 0.0; }), 0);
    EXPECT_EQ(RandomStartIndex(10, [] { return 0.9999999997671694; }), 9);
    EXPECT_EQ(RandomStartIndex(1, [] { return 0.9999999997671694; }), 0);
    // r = 0.55 on 10: 5.49 - 0.499 = 4.991 -> 5; the show then begins at 6.
    TShowSequence seq;
    EXPECT_EQ(Show(seq, {kOrderForward, true, false}, 10, 2, [] { return 0.55; }),
              (std::vector<std::int32_t>{6, 7}));
}

TEST(SequenceStart, ResumeWinsOverRandomStartEvenWhenAbsent) {
    TShowSequence seq;
    int asked = 0;
    auto shown = Show(
        seq, {kOrderForward, true, true}, 10, 2, [] { return 0.55; },
        [&] {
            ++asked;
            return -1;
        });
    EXPECT_EQ(shown, (std::vector<std::int32_t>{0, 1}));
    EXPECT_EQ(asked, 1);  // only at the start of the show
}

TEST(SequenceStart, RandomStartHasNoEffectInRandomOrder) {
    TShowSequence a;
    TShowSequence b;
    TSeededRandom ra(7);
    TSeededRandom rb(7);
    auto withStart = Show(a, {kOrderRandom, true, false}, 50, 60, std::ref(ra));
    auto without = Show(b, {kOrderRandom, false, false}, 50, 60, std::ref(rb));
    EXPECT_EQ(withStart, without);
}

TEST(SequenceAttempts, UnreadablePicturesGiveNPlusTwoAttempts) {
    TShowSequence seq;
    std::vector<std::int32_t> tried;
    auto r = ChooseNextPicture(
        seq, {kOrderForward, false, false}, 3, [] { return 0.5; }, [] { return -1; },
        [&](std::int32_t i) {
            tried.push_back(i);
            return false;
        });
    EXPECT_EQ(r, TSequenceResult::Unreadable);
    EXPECT_EQ(tried, (std::vector<std::int32_t>{0, 1, 2, 0, 1}));
    // The next call goes on from where the last one stopped.
    tried.clear();
    ChooseNextPicture(
        seq, {kOrderForward, false, false}, 3, [] { return 0.5; }, [] { return -1; },
        [&](std::int32_t i) {
            tried.push_back(i);
            return i == 0;
        });
    EXPECT_EQ(tried, (std::vector<std::int32_t>{2, 0}));
}

TEST(SequenceAttempts, EmptyCatalogueTakesNoStep) {
    for (std::int32_t order : {kOrderForward, kOrderRandom, kOrderBackward}) {
        TShowSequence seq;
        bool prepared = false;
        auto r = ChooseNextPicture(
            seq, {order, true, true}, 0, [] { return 0.5; }, [] { return 3; },
            [&](std::int32_t) { return prepared = true; });
        EXPECT_EQ(r, TSequenceResult::NoPictures);
        EXPECT_FALSE(prepared);
        EXPECT_EQ(seq.CurrentIndex, -1);
        EXPECT_EQ(seq.PicShowedSize, 0);
    }
}

// Each cycle of n picks in random order is a permutation of 0..n-1.
void ExpectWholeCycles(const std::vector<std::int32_t>& picks, std::int32_t n) {
    for (std::size_t c = 0; c + n <= picks.size(); c += n) {
        std::vector<std::int32_t> cycle(picks.begin() + c, picks.begin() + c + n);
        std::sort(cycle.begin(), cycle.end());
        for (std::int32_t i = 0; i < n; ++i) ASSERT_EQ(cycle[i], i) << "cycle at pick " << c;
    }
}

TEST(SequenceShuffle, EveryPictureOncePerCycle) {
    for (std::int32_t n : {1, 2, 3, 7, 62, 63, 64, 100, 257}) {
        TShowSequence seq;
        TSeededRandom random(1234 + n);
        auto picks = Show(seq, {kOrderRandom, false, false}, n, n * 12, std::ref(random));
        ExpectWholeCycles(picks, n);
    }
}

TEST(SequenceShuffle, EndOfOneCycleStaysOutOfTheNextStart) {
    const std::int32_t n = 100;
    TShowSequence seq;
    TSeededRandom random(99);
    auto picks = Show(seq, {kOrderRandom, false, false}, n, n * 40, std::ref(random));
    for (std::int32_t c = 1; c < 40; ++c) {
        const auto prevEnd = picks.begin() + c * n;
        // Pick p of a cycle (p <= 20) is never one of the last 20 - p of the cycle before.
        for (std::int32_t p = 0; p <= kShuffleGuard; ++p) {
            const std::int32_t pick = picks[c * n + p];
            const auto guarded = std::find(prevEnd - (kShuffleGuard - p), prevEnd, pick);
            EXPECT_EQ(guarded, prevEnd) << "cycle " << c << " pick " << p;
        }
    }
}

TEST(SequenceShuffle, SmallCataloguesGuardAThird) {
    // n = 30: n div 3 = 10 entries are left out at the first pick.
    TShowSequence seq;
    Show(seq, {kOrderRandom, false, false}, 30, 30, [] { return 0.3; });
    const std::vector<std::int32_t> table = seq.PicShowed;
    // The largest r picks the last position the window allows: 30 - 10 + 0 - 1.
    Show(seq, {kOrderRandom, false, false}, 30, 1, [] { return 0.9999999997671694; });
    EXPECT_EQ(seq.PicShowed[0], table[19]);
}

TEST(SequenceShuffle, GrownCatalogueExtendsTheTable) {
    TShowSequence seq;
    TSeededRandom random(5);
    auto first = Show(seq, {kOrderRandom, false, false}, 10, 4, std::ref(random));
    // The catalogue grows mid-cycle: no error, and the rest of the cycle
    // shows the other six old pictures and the five new ones, each once.
    auto rest = Show(seq, {kOrderRandom, false, false}, 15, 11, std::ref(random));
    EXPECT_EQ(seq.PicShowedSize, 15);
    std::vector<std::int32_t> cycle = first;
    cycle.insert(cycle.end(), rest.begin(), rest.end());
    ExpectWholeCycles(cycle, 15);
    // Later cycles cover the larger catalogue.
    ExpectWholeCycles(Show(seq, {kOrderRandom, false, false}, 15, 45, std::ref(random)), 15);
}

TEST(SequenceShuffle, SmallerCatalogueGoesOnWithThePicturesLeft) {
    // 1,010 pictures, 40 picks, then the catalogue is cut to 10 (a folder
    // removed between two previews of one dialog).
    TShowSequence seq;
    TSeededRandom random(8);
    const auto before = Show(seq, {kOrderRandom, false, false}, 1010, 40, std::ref(random));
    int unreadable = 0;
    std::vector<std::int32_t> after;
    for (int call = 0; call < 20; ++call) {
        const TSequenceResult r = ChooseNextPicture(
            seq, {kOrderRandom, false, false}, 10, std::ref(random), [] { return -1; },
            [&](std::int32_t i) {
                after.push_back(i);
                if (i >= 10) ++unreadable;  // beyond the catalogue: an empty path
                return i < 10;
            });
        EXPECT_EQ(r, TSequenceResult::Prepared);
    }
    EXPECT_EQ(unreadable, 0);
    EXPECT_EQ(after.size(), 20u);
    EXPECT_EQ(seq.PicShowedSize, 10);
    // The cycle goes on: the pictures below 10 already shown in it are not
    // shown again before the others have been.
    std::set<std::int32_t> shownBefore;
    for (std::int32_t i : before)
        if (i < 10) shownBefore.insert(i);
    const std::size_t rest = 10 - shownBefore.size();
    std::set<std::int32_t> restOfCycle(after.begin(), after.begin() + rest);
    EXPECT_EQ(restOfCycle.size(), rest);
    for (std::int32_t i : shownBefore) EXPECT_EQ(restOfCycle.count(i), 0u) << i;
    ExpectWholeCycles(std::vector<std::int32_t>(after.begin() + rest, after.end()), 10);
}

TEST(SequenceShuffle, FailedAllocationNamesTheSizeAndLeavesTheState) {
    // In a 32-bit process no table of 2^31 - 1 entries can exist; a 64-bit
    // one might really commit the 8 GiB.
    if (sizeof(void*) > 4) GTEST_SKIP() << "only a 32-bit process cannot hold the table";
    TShowSequence seq;
    try {
        ShuffleStep(seq, 0x7fffffff, [] { return 0.5; });
        ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "error alloc memory for PicShowed, Size=2147483647");
    }
    EXPECT_EQ(seq.PicShowedSize, 0);
    EXPECT_TRUE(seq.PicShowed.empty());
}

TEST(SequenceResume, IndexAndPathAgree) {
    auto at = [](std::int32_t i) { return PathOf(i); };
    EXPECT_EQ(ResolveResumePosition(std::string("1?") + PathOf(1), 3, at), 1);
    // A to Z are compared without case at the recorded index.
    EXPECT_EQ(ResolveResumePosition(std::string("1?c:\\PICS\\P1.JPG"), 3, at), 1);
}

TEST(SequenceResume, MovedPictureIsFoundByExactSearch) {
    std::vector<std::string> paths = {"a", "b", "c", "d", "e", "C:\\Pics\\one.jpg", "f", "g"};
    auto at = [&](std::int32_t i) { return paths[static_cast<std::size_t>(i)]; };
    EXPECT_EQ(ResolveResumePosition(std::string("1?C:\\Pics\\one.jpg"), 8, at), 5);
    // The search is exact: a case difference away from the index is not found.
    EXPECT_EQ(ResolveResumePosition(std::string("1?c:\\pics\\ONE.jpg"), 8, at), -1);
    // Without "?" the whole text is the name.
    EXPECT_EQ(ResolveResumePosition(std::string("C:\\Pics\\one.jpg"), 8, at), 5);

    // The show then starts right after it.
    TShowSequence seq;
    auto shown = Show(
        seq, {kOrderForward, false, true}, 8, 2, [] { return 0.5; },
        [&] { return ResolveResumePosition(std::string("1?C:\\Pics\\one.jpg"), 8, at); });
    EXPECT_EQ(shown, (std::vector<std::int32_t>{6, 7}));
}

TEST(SequenceResume, BadValuesStartAsIfThereWereNone) {
    auto at = [](std::int32_t i) { return PathOf(i); };
    for (const std::optional<std::string>& prev :
         {std::optional<std::string>(), std::optional<std::string>(""),
          std::optional<std::string>("99?X:\\no.jpg"), std::optional<std::string>("-1?X:\\no.jpg"),
          std::optional<std::string>("abc?X:\\no.jpg"), std::optional<std::string>("?"),
          std::optional<std::string>("1x?" + PathOf(1) + "z")}) {
        EXPECT_EQ(ResolveResumePosition(prev, 5, at), -1) << prev.value_or("<none>");
        TShowSequence fwd;
        EXPECT_EQ(Show(
                      fwd, {kOrderForward, false, true}, 5, 1, [] { return 0.5; },
                      [&] { return ResolveResumePosition(prev, 5, at); }),
                  (std::vector<std::int32_t>{0}));
        TShowSequence back;
        EXPECT_EQ(Show(
                      back, {kOrderBackward, false, true}, 5, 1, [] { return 0.5; },
                      [&] { return ResolveResumePosition(prev, 5, at); }),
                  (std::vector<std::int32_t>{4}));
    }
    // An unconvertible index still lets the path be searched for.
    EXPECT_EQ(ResolveResumePosition(std::string("x?") + PathOf(3), 5, at), 3);
    // The name is everything after the first "?".
    std::vector<std::string> odd = {"a?b", "b"};
    EXPECT_EQ(ResolveResumePosition(std::string("7?a?b"), 2, [&](std::int32_t i) { return odd[i]; }), 0);
}

TEST(SequenceResume, AStopEndsTheSearchAndTheChoice) {
    int read = 0;
    auto at = [&](std::int32_t i) {
        ++read;
        return PathOf(i);
    };
    auto stopped = [&] { return read >= 1000; };
    EXPECT_EQ(ResolveResumePosition(std::string("X:\\none.jpg"), 1000000, at, stopped), -1);
    EXPECT_LT(read, 1300);
    // Stopped during the search: the sequence is left as it was.
    TShowSequence seq;
    bool prepared = false;
    const TSequenceResult r = ChooseNextPicture(
        seq, {kOrderForward, false, true}, 10, [] { return 0.5; }, [] { return 5; },
        [&](std::int32_t) { return prepared = true; }, [] { return true; });
    EXPECT_EQ(r, TSequenceResult::Stopped);
    EXPECT_FALSE(prepared);
    EXPECT_EQ(seq.CurrentIndex, -1);
}

TEST(SequenceResume, RecordedTextRoundTrips) {
    auto at = [](std::int32_t i) { return PathOf(i); };
    EXPECT_EQ(ResumeText(true, 2, 3, at), "2?" + PathOf(2));
    EXPECT_EQ(ResumeText(false, 2, 3, at), "");
    EXPECT_EQ(ResumeText(true, -1, 3, at), "");
    EXPECT_EQ(ResumeText(true, 3, 3, at), "");
    EXPECT_EQ(ResolveResumePosition(ResumeText(true, 2, 3, at), 3, at), 2);
}

TEST(SequenceMessage, LinesAndPlacement) {
    EXPECT_EQ(MessageLines("No pictures selected"), (std::vector<std::string>{"No pictures selected"}));
    EXPECT_EQ(MessageLines("a\rb\r"), (std::vector<std::string>{"a", "b", ""}));
    EXPECT_EQ(MessageLines("\r\n"), (std::vector<std::string>{"", "\n"}));
    // th = 16: the line step is nearest(19.2) = 19; a one-line message sits
    // one step above the centre.
    EXPECT_EQ(MessageLineTop(600, 16, 0), 300 - 8 - 19);
    EXPECT_EQ(MessageLineTop(600, 16, 1), 300 - 8);
    EXPECT_EQ(MessageLineTop(601, 17, 2), 300 - 8 + 20);  // nearest(20.4) = 20
    // th = 5: 1.2 * 5 is exactly 6; th = 10 gives 12; ties would go to even.
    EXPECT_EQ(MessageLineTop(100, 5, 0), 50 - 2 - 6);
}

}  // namespace

namespace {

// Picks of a show over n pictures where `hidden` are passed over; -1 for a
// call that ended without a picture. `tries` counts the preparations.
std::vector<std::int32_t> ShowPassingOver(TShowSequence& seq, std::int32_t order, std::int32_t n,
                                          const std::set<std::int32_t>& hidden, int count, int& tries,
                                          TSequenceResult& last, const std::set<std::int32_t>& unreadable = {}) {
    TPassedOver passed;
    passed.Present = n - static_cast<std::int32_t>(hidden.size());
    passed.Contains = [&hidden](std::int32_t i) { return hidden.count(i) != 0; };
    TSeededRandom random(7);
    std::vector<std::int32_t> shown;
    for (int c = 0; c < count; ++c) {
        last = ChooseNextPicture(
            seq, {order, false, false}, n, std::ref(random), [] { return -1; },
            [&](std::int32_t i) {
                ++tries;
                return unreadable.count(i) == 0;
            },
            nullptr, &passed);
        shown.push_back(last == TSequenceResult::Prepared ? seq.CurrentIndex : -1);
    }
    return shown;
}

}  // namespace

TEST(SequencePassingOver, HiddenPicturesAreNeverPreparedInAnyOrder) {
    const std::set<std::int32_t> hidden{1, 4, 5};
    for (std::int32_t order : {kOrderForward, kOrderRandom, kOrderBackward}) {
        TShowSequence seq;
        int tries = 0;
        TSequenceResult last{};
        const std::vector<std::int32_t> shown = ShowPassingOver(seq, order, 7, hidden, 40, tries, last);
        EXPECT_EQ(tries, 40) << order;
        for (std::int32_t i : shown) EXPECT_EQ(hidden.count(i), 0u) << order << " showed " << i;
        // Every picture that is present comes round.
        EXPECT_EQ(std::set<std::int32_t>(shown.begin(), shown.end()), (std::set<std::int32_t>{0, 2, 3, 6})) << order;
    }
    TShowSequence forward;
    int tries = 0;
    TSequenceResult last{};
    EXPECT_EQ(ShowPassingOver(forward, kOrderForward, 7, hidden, 5, tries, last),
              (std::vector<std::int32_t>{0, 2, 3, 6, 0}));
}

TEST(SequencePassingOver, AllHiddenIsNoPicturesAndUnreadableCountsOnlyThePresent) {
    for (std::int32_t order : {kOrderForward, kOrderRandom, kOrderBackward}) {
        TShowSequence seq;
        int tries = 0;
        TSequenceResult last{};
        ShowPassingOver(seq, order, 5, {0, 1, 2, 3, 4}, 2, tries, last);
        EXPECT_EQ(last, TSequenceResult::NoPictures) << order;
        EXPECT_EQ(tries, 0) << order;
        // The count of present pictures may be stale (a picture hidden since
        // it was made): a run of passed-over picks still ends the search.
        TPassedOver stale;
        stale.Present = 1;
        stale.Contains = [](std::int32_t) { return true; };
        TShowSequence again;
        EXPECT_EQ(ChooseNextPicture(
                      again, {order, false, false}, 50, [] { return 0.3; }, [] { return -1; },
                      [](std::int32_t) { return true; }, nullptr, &stale),
                  TSequenceResult::NoPictures)
            << order;
    }
    // Two present, both unreadable, eight hidden: four attempts, not twelve.
    TShowSequence seq;
    int tries = 0;
    TSequenceResult last{};
    ShowPassingOver(seq, kOrderForward, 10, {0, 1, 2, 3, 5, 6, 7, 8}, 1, tries, last, {4, 9});
    EXPECT_EQ(last, TSequenceResult::Unreadable);
    EXPECT_EQ(tries, 4);
}

TEST(ShowHistory, StepsBackAndOnThroughTheShownPictures) {
    TShowHistory h;
    EXPECT_EQ(h.Back().Index, -1);
    EXPECT_TRUE(h.Forward().ByOrder());
    for (std::int32_t i : {10, 11, 12, 13}) h.Launched(h.Forward(), true, i);
    EXPECT_EQ(h.OnScreen(), 13);
    // Back twice, one key at a time, then two keys at once.
    TPictureRequest back = h.Back();
    EXPECT_EQ(back.Index, 12);
    h.Launched(back, false, back.Index);
    back = h.Back(2);
    EXPECT_EQ(back.Index, 10);
    h.Launched(back, false, back.Index);
    EXPECT_EQ(h.Back().Index, -1);  // nothing before the oldest
    // On again through the same pictures, then the order's next.
    const TPictureRequest on = h.Forward(2);
    EXPECT_EQ(on.Index, 12);
    h.Launched(on, false, on.Index);
    EXPECT_EQ(h.Forward().Index, 13);
    EXPECT_TRUE(h.Forward(2).ByOrder());
    // A picture of the history that could not be prepared: the order's
    // choice takes its turn right after the picture on screen.
    h.Launched(h.Forward(), true, 20);
    EXPECT_EQ(h.OnScreen(), 20);
    EXPECT_EQ(h.Forward().Index, 13);
    EXPECT_EQ(h.Back().Index, 12);
    // A message changes nothing.
    h.Launched(h.Forward(), true, -1);
    EXPECT_EQ(h.OnScreen(), 20);
}

TEST(ShowHistory, HiddenAndUnshownPicturesAndTheLimit) {
    TShowHistory h;
    for (std::int32_t i : {1, 2, 3, 2}) h.Launched(h.Forward(), true, i);
    // Hiding the picture on screen: every place it held goes.
    h.Forget(2);
    EXPECT_EQ(h.Size(), 2u);
    EXPECT_EQ(h.OnScreen(), 3);
    EXPECT_EQ(h.Back().Index, 1);
    EXPECT_TRUE(h.Forward().ByOrder());
    // Prepared by the order but not shown: it comes next.
    h.Upcoming(7);
    EXPECT_EQ(h.Forward().Index, 7);
    EXPECT_EQ(h.OnScreen(), 3);

    // At least the last fifty pictures of a long show stay reachable.
    TShowHistory longShow;
    for (std::int32_t i = 0; i < 500; ++i) longShow.Launched(longShow.Forward(), true, i);
    EXPECT_EQ(longShow.Size(), kHistoryKept);
    EXPECT_GE(kHistoryKept, 50u);
    TPictureRequest back = longShow.Back(50);
    EXPECT_EQ(back.Index, 449);
    longShow.Launched(back, false, back.Index);
    EXPECT_EQ(longShow.OnScreen(), 449);
    EXPECT_EQ(longShow.Forward(50).Index, 499);
}
