#include "app/random.h"

#include <mutex>
#include <random>

namespace {

// std::mt19937 is MT19937 by definition, so its sequence for a given seed is
// the same on every compiler. Until SeedRandom runs it holds the standard
// default seed 5489.
std::mt19937& Generator() {
    static std::mt19937 generator;
    return generator;
}

std::mutex& GeneratorLock() {
    static std::mutex lock;
    return lock;
}

}  // namespace

void SeedRandom(std::uint32_t seed) {
    std::lock_guard<std::mutex> guard(GeneratorLock());
    Generator().seed(seed);
}

std::uint32_t RandomNext() {
    std::lock_guard<std::mutex> guard(GeneratorLock());
    return static_cast<std::uint32_t>(Generator()());
}

double RandomReal() {
    // 2^-32 scales the full 32-bit range into [0, 1) exactly; no output reaches 1.
    return static_cast<double>(RandomNext()) * (1.0 / 4294967296.0);
}
