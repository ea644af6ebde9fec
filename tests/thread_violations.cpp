#include <gtest/gtest.h>

#include "base/thread_owner.h"

// Linked into every test program: state touched by a thread that does not
// hold it fails the test that was running, with the message that names the
// state and both threads, instead of stopping the whole program.
namespace {

void FailTheRunningTest(const std::string& message) { ADD_FAILURE() << message; }

class TThreadChecks : public ::testing::Environment {
public:
    void SetUp() override {
        NameThisThread("test");
        SetThreadViolationHandler(FailTheRunningTest);
    }
    void TearDown() override { SetThreadViolationHandler(nullptr); }
};

[[maybe_unused]] ::testing::Environment* const threadChecks =
    ::testing::AddGlobalTestEnvironment(new TThreadChecks);

}  // namespace
