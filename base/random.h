#pragma once
#include <cstdint>
#include <mutex>
#include <random>

// A random generator (MT19937) that several threads may draw from: the
// session's one is seeded at start-up and drawn from by the picture
// sequencer on the loading thread and by the space scene on the render
// thread.
class TRandom {
public:
    TRandom() = default;
    explicit TRandom(std::uint32_t seed) : generator_(seed) {}
    TRandom(const TRandom&) = delete;
    TRandom& operator=(const TRandom&) = delete;

    void Seed(std::uint32_t seed);
    // One 32-bit output times 2^-32: uniform in [0, 1).
    double Unit();

private:
    // A draw is a few nanoseconds; the lock keeps the state consistent
    // between the threads, and contention is nil.
    std::mutex lock_;
    std::mt19937 generator_;  // default-seeded until Seed
};

// x rounded to the nearest integer, halves to the even neighbour.
double RoundHalfEven(double x);
