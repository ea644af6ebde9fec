#include "base/random.h"

#include <cmath>
#include <mutex>
#include <random>

namespace {

// The loader and render threads both draw; the lock keeps the generator's
// state consistent (a draw is a few nanoseconds, contention is nil).
std::mutex generatorLock;
std::mt19937 generator;  // default-seeded until SeedRandom

}  // namespace

void SeedRandom(std::uint32_t seed) {
    std::lock_guard<std::mutex> guard(generatorLock);
    generator.seed(seed);
}

double RandomUnit() {
    std::uint32_t v;
    {
        std::lock_guard<std::mutex> guard(generatorLock);
        v = static_cast<std::uint32_t>(generator());
    }
    return v * (1.0 / 4294967296.0);
}

double RoundHalfEven(double x) {
    return std::nearbyint(x);  // the default rounding mode is to nearest, ties to even
}
