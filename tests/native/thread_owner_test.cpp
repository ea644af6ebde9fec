#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

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

    OnAnotherThread([&] { held = TShowSequence(); });  // how tests reset the session's sequence
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

// The failures `body` reports, from any thread.
template <typename Body>
std::vector<std::string> FailuresDuring(Body body) {
    ::testing::TestPartResultArray results;
    {
        const ::testing::ScopedFakeTestPartResultReporter intercept(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &results);
        body();
    }
    std::vector<std::string> messages;
    for (int i = 0; i < results.size(); ++i) messages.push_back(results.GetTestPartResult(i).message());
    return messages;
}

// A test program reports a violation as a failure of the running test,
// naming the state and both threads.
TEST(ThreadOwner, AViolationFailsTheRunningTestAndNamesBothThreads) {
    ASSERT_TRUE(kThreadChecks) << "the test programs link the checks on";
    TShowSequence seq;
    OnAnotherThread([&] {
        NameThisThread("loader");
        seq.Owner.Claim();
    });
    const auto failures = FailuresDuring([&] {
        ChooseNextPicture(seq, TSequenceOptions{}, 3, [] { return 0.5; }, [] { return -1; },
                          [](std::int32_t) { return true; });
    });
    ASSERT_FALSE(failures.empty());
    EXPECT_NE(failures[0].find("The show sequence was used by a thread that does not hold it: the test thread (id "),
              std::string::npos)
        << failures[0];
    EXPECT_NE(failures[0].find(") touched it while the loader thread (id "), std::string::npos) << failures[0];

    TPicList list;
    OnAnotherThread([&] { list.Owner.Claim(); });
    const auto unnamed = FailuresDuring([&] { list.AddFolder("C:\\Pics"); });
    ASSERT_EQ(unnamed.size(), 1u);
    EXPECT_NE(unnamed[0].find("while a thread (id "), std::string::npos) << unnamed[0];
    // Reading the catalogue is not checked: the loader reads while the dialog paints.
    EXPECT_TRUE(FailuresDuring([&] { EXPECT_EQ(list.PictureAt(0), ""); }).empty());
}

#if GTEST_HAS_DEATH_TEST
// Outside the tests a violation stops the program with its message.
TEST(ThreadOwnerDeathTest, WithoutAHandlerAViolationStopsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TPicList list;
    OnAnotherThread([&] { list.Owner.Claim(); });
    const auto edit = [&] {
        SetThreadViolationHandler(nullptr);
        list.Clear();
    };
    EXPECT_DEATH(edit(), "The catalogue was used by a thread that does not hold it");
}
#endif

}  // namespace
