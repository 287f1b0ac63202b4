// The exact arithmetic the filters and dialogs share, written once.
#pragma once

#include <cmath>
#include <cstdint>

namespace num {

// Nearest integer, ties to even (2.5 -> 2, 3.5 -> 4, -2.5 -> -2), evaluated
// at x86-64 extended precision. Callers pass values well inside int64 range.
// llrintl, not nearbyintl: the same result in the default rounding mode,
// without saving and restoring the x87 environment (25 times faster).
inline int64_t RoundEven(long double v) { return static_cast<int64_t>(std::llrintl(v)); }
inline int32_t Round32(long double v) { return static_cast<int32_t>(std::llrintl(v)); }

// Integer division truncating toward zero (the platform's div).
constexpr int32_t Div(int32_t a, int32_t b) { return a / b; }

// min(255, max(0, v)) on 32-bit signed integers.
constexpr int32_t Clamp255(int32_t v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }
constexpr uint8_t ClampByte(int32_t v) { return static_cast<uint8_t>(Clamp255(v)); }

// The platform's MulDiv: 64-bit product, rounded to nearest with halves
// away from zero; -1 when c is 0 or the result overflows 32 bits.
int32_t MulDiv(int32_t a, int32_t b, int32_t c);

// A value stored in a double variable: extended-precision work rounded to
// double exactly where the program keeps a double.
inline long double StoreDouble(long double v) { return static_cast<long double>(static_cast<double>(v)); }

}  // namespace num
