#pragma once
#include <atomic>
#include <thread>

// Thread checks are on in builds with assertions, and in any build
// configured with -DQV_THREAD_CHECKS=ON.
#ifndef QV_THREAD_CHECKS
#ifdef NDEBUG
#define QV_THREAD_CHECKS 0
#else
#define QV_THREAD_CHECKS 1
#endif
#endif

// Stops the program with a message naming the state a thread touched while
// another thread held it.
[[noreturn]] void ThreadOwnerViolation(const char* what) noexcept;

// Which thread may use a piece of state that passes between threads. The
// thread that takes the state over claims it at the hand-over point; the
// code that uses the state checks. A check from any other thread while the
// state is claimed stops the program when thread checks are on, and costs
// nothing when they are off. Unclaimed state passes every check.
class TThreadOwner {
public:
    TThreadOwner() = default;
    // A claim belongs to the place that holds the state, not to its value:
    // a copy starts unclaimed and an assignment keeps the target's claim.
    TThreadOwner(const TThreadOwner&) noexcept {}
    TThreadOwner& operator=(const TThreadOwner&) noexcept { return *this; }

    // The calling thread takes the state over from whoever held it.
    void Claim() noexcept { owner_.store(std::this_thread::get_id()); }
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
    void Check([[maybe_unused]] const char* what) const noexcept {
#if QV_THREAD_CHECKS
        if (!CallerMayUse()) ThreadOwnerViolation(what);
#endif
    }

private:
    std::atomic<std::thread::id> owner_{};
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
