#include "app/Random.h"

namespace rnd {
namespace {
uint32_t seed = 0;
}

uint32_t Seed() { return seed; }
void SetSeed(uint32_t value) { seed = value; }

uint32_t Random(uint32_t n) {
    seed = Next(seed);
    return Draw(seed, n);
}

uint32_t JumpAhead(uint32_t start, uint64_t steps) {
    // One step is the affine map x -> a x + c (mod 2^32); squaring the map
    // doubles the steps it makes, so any count takes O(log steps) products.
    uint32_t a = kMultiplier, c = 1u;
    uint32_t x = start;
    while (steps != 0) {
        if (steps & 1u) x = a * x + c;
        c = a * c + c;
        a = a * a;
        steps >>= 1;
    }
    return x;
}

}  // namespace rnd
