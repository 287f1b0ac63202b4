// The random generator shared by the whole program: a 32-bit linear
// congruential generator starting from seed 0 and never reseeded.
#pragma once

#include <cstdint>

namespace rnd {

uint32_t Seed();
void SetSeed(uint32_t seed);
// Advances seed := seed * 134775813 + 1 and returns the high 32 bits of n * seed.
uint32_t Random(uint32_t n);
// The seed that `steps` advances from `seed` would give, in O(log steps).
uint32_t JumpAhead(uint32_t seed, uint64_t steps);

inline constexpr uint32_t kMultiplier = 134775813u;
inline uint32_t Next(uint32_t seed) { return seed * kMultiplier + 1u; }
inline uint32_t Draw(uint32_t seed, uint32_t n) { return static_cast<uint32_t>((uint64_t(n) * seed) >> 32); }

}  // namespace rnd
