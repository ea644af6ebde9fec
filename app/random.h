#pragma once
#include <cstdint>

// The process's one random generator: MT19937 (32-bit Mersenne Twister),
// seeded once at start-up with the tick count. The picture sequencer and the
// scene both draw from it. Calls are serialised, so any thread may draw.

void SeedRandom(std::uint32_t seed);

// The generator's next 32-bit output.
std::uint32_t RandomNext();

// A uniform real in [0, 1): one 32-bit output times 2^-32.
double RandomReal();
