#pragma once
#include <atomic>
#include <string>
#include <thread>

// Whether a program checks which thread uses shared state is decided when it
// is linked, not when each file is compiled: the test programs link the
// definition that turns the checks on (base/thread_checks/on.cpp), the
// shipped ones the one that leaves them off (off.cpp), unless the build is
// configured with -DQV_THREAD_CHECKS=ON. One object code serves both.
extern const bool kThreadChecks;

// Names the calling thread in the messages of the checks ("render",
// "loader"). `name` must outlive the thread: a string literal.
void NameThisThread(const char* name) noexcept;

// What happens when a check fails. The handler gets the whole message, which
// names the state, the thread that touched it and the thread that holds it.
// Null (the default) prints the message and stops the program; the test
// programs turn it into a failure of the running test.
using TThreadViolationHandler = void (*)(const std::string& message);
void SetThreadViolationHandler(TThreadViolationHandler handler) noexcept;

// Which thread may use a piece of state that passes between threads. The
// thread that takes the state over claims it at the hand-over point; the
// code that uses the state checks. A check from any other thread while the
// state is claimed is a violation when thread checks are on, and costs one
// test of a constant when they are off. Unclaimed state passes every check.
class TThreadOwner {
public:
    TThreadOwner() = default;
    // A claim belongs to the place that holds the state, not to its value:
    // a copy starts unclaimed and an assignment keeps the target's claim.
    TThreadOwner(const TThreadOwner&) noexcept {}
    TThreadOwner& operator=(const TThreadOwner&) noexcept { return *this; }

    // The calling thread takes the state over from whoever held it.
    void Claim() noexcept;
    // Gives the state up, unless another thread has claimed it since.
    void Release() noexcept {
        std::thread::id self = std::this_thread::get_id();
        owner_.compare_exchange_strong(self, std::thread::id());
    }
    // True when no thread holds the state or the calling thread does.
    bool CallerMayUse() const noexcept {
        const std::thread::id owner = owner_.load();
        return owner == std::thread::id() || owner == std::this_thread::get_id();
    }
    void Check(const char* what) const noexcept {
        if (kThreadChecks && !CallerMayUse()) Violation(what);
    }

private:
    void Violation(const char* what) const noexcept;

    std::atomic<std::thread::id> owner_{};
    std::atomic<const char*> ownerName_{nullptr};  // the holder's NameThisThread, for the message
};

// Claims `owner` for the calling thread for the guard's lifetime.
class TThreadClaim {
public:
    explicit TThreadClaim(TThreadOwner& owner) noexcept : owner_(owner) { owner_.Claim(); }
    TThreadClaim(const TThreadClaim&) = delete;
    TThreadClaim& operator=(const TThreadClaim&) = delete;
    ~TThreadClaim() { owner_.Release(); }

private:
    TThreadOwner& owner_;
};
