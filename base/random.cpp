#include "base/random.h"

#include <cmath>

void TRandom::Seed(std::uint32_t seed) {
    std::lock_guard<std::mutex> guard(lock_);
    generator_.seed(seed);
}

double TRandom::Unit() {
    std::uint32_t v;
    {
        std::lock_guard<std::mutex> guard(lock_);
        v = static_cast<std::uint32_t>(generator_());
    }
    return v * (1.0 / 4294967296.0);
}

double RoundHalfEven(double x) {
    return std::nearbyint(x);  // the default rounding mode is to nearest, ties to even
}
