#pragma once
#include <cstdint>

// The process's one random generator (MT19937), seeded at start-up and
// drawn from by the picture sequencer and the space scene.
void SeedRandom(std::uint32_t seed);
// One 32-bit output times 2^-32: uniform in [0, 1).
double RandomUnit();
// x rounded to the nearest integer, halves to the even neighbour.
double RoundHalfEven(double x);
