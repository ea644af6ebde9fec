#include <gtest/gtest.h>

#include <thread>

#include "base/thread_owner.h"
#include "catalogue/piclist.h"
#include "catalogue/sequence.h"

namespace {

// Runs `body` on a thread of its own and waits for it.
template <typename Body>
void OnAnotherThread(Body body) {
    std::thread t(body);
    t.join();
}

bool AnotherThreadMayUse(const TThreadOwner& owner) {
    bool may = false;
    OnAnotherThread([&] { may = owner.CallerMayUse(); });
    return may;
}

TEST(ThreadOwner, ClaimsPassBetweenThreadsOnlyAtClaims) {
    TThreadOwner owner;
    EXPECT_TRUE(owner.CallerMayUse());
    EXPECT_TRUE(AnotherThreadMayUse(owner)) << "unclaimed state is anyone's";

    owner.Claim();
    EXPECT_TRUE(owner.CallerMayUse());
    EXPECT_FALSE(AnotherThreadMayUse(owner));

    OnAnotherThread([&] { owner.Release(); });
    EXPECT_FALSE(AnotherThreadMayUse(owner)) << "only the holder can give the state up";

    OnAnotherThread([&] { owner.Claim(); });  // a hand-over takes the state from its holder
    EXPECT_FALSE(owner.CallerMayUse());
    owner.Release();
    EXPECT_FALSE(owner.CallerMayUse()) << "a thread that was handed over from cannot release";

    owner.Claim();
    owner.Release();
    EXPECT_TRUE(AnotherThreadMayUse(owner));
}

TEST(ThreadOwner, ClaimStaysWithThePlaceNotTheValue) {
    TShowSequence held;
    held.Owner.Claim();
    held.CurrentIndex = 7;

    TShowSequence copy = held;
    EXPECT_TRUE(AnotherThreadMayUse(copy.Owner));

    OnAnotherThread([&] { held = TShowSequence(); });  // how tests reset the process's sequence
    EXPECT_EQ(held.CurrentIndex, -1);
    EXPECT_FALSE(AnotherThreadMayUse(held.Owner));
}

TEST(ThreadOwner, ScopedClaimGivesBackWhatItTook) {
    TThreadOwner owner;
    {
        const TThreadClaim claim(owner);
        EXPECT_FALSE(AnotherThreadMayUse(owner));
    }
    EXPECT_TRUE(AnotherThreadMayUse(owner));
}

#if QV_THREAD_CHECKS && GTEST_HAS_DEATH_TEST
TEST(ThreadOwnerDeathTest, StateTouchedByAThreadThatDoesNotHoldItStopsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TShowSequence seq;
    TPicList list;
    OnAnotherThread([&] {
        seq.Owner.Claim();
        list.Owner.Claim();
    });
    const auto choose = [&] {
        ChooseNextPicture(seq, TSequenceOptions{}, 3, [] { return 0.5; }, [] { return -1; },
                          [](std::int32_t) { return true; });
    };
    EXPECT_DEATH(choose(), "The show sequence was used by a thread that does not hold it");
    EXPECT_DEATH(list.AddFolder("C:\\Pics"), "The catalogue was used by a thread that does not hold it");
    EXPECT_DEATH(list.Clear(), "The catalogue");

    // Reading the catalogue is not checked: the loader reads while the dialog paints.
    EXPECT_EQ(list.TotalCount(), 0);
    EXPECT_EQ(list.PictureAt(0), "");
}
#else
TEST(ThreadOwnerDeathTest, StateTouchedByAThreadThatDoesNotHoldItStopsTheProgram) {
    GTEST_SKIP() << "thread checks are off in this build";
}
#endif

}  // namespace
