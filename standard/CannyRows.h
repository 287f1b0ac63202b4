// The edge detector's row kernels: each makes one row of a stage from a
// few rows of the stage before. Two sets give the same bytes, plain C++ and
// AVX2; Kernels() picks the one the processor can run.
#pragma once

#include <cstdint>
#include <vector>

namespace stdf::canny::rows {

// The Gaussian smoothing of one run.
struct TSmoothing {
    std::vector<double> Weights;       // 2 c + 1 weights
    int32_t Centre = 0;                // c
    std::vector<double> NormsX, NormsY;  // the weight sums of each column's and row's window
    std::vector<double> InvX, InvY;      // their reciprocals
    // The same in single precision, for the kernels that work in it.
    std::vector<float> WeightsF, InvXF, InvYF;

    TSmoothing(double sigma, int32_t width, int32_t height);
};

// A smoothed value whose plain double lies this close to a rounding
// boundary is computed again by the exact sequence. The plain value and the
// exact one differ by less than 1e-11 for values up to 255.
constexpr double kNearHalf = 1e-9;

// The single-precision kernels serve windows of up to this many taps, and
// their near band is wider. Every weight, product, sum and reciprocal
// rounds once in single precision, all terms are positive, and a value goes
// through at most 2 t + 8 roundings (t taps each way): its relative error
// stays below (2 t + 8) 2^-24, which for t = 9 and values up to 255 is
// below 4e-4.
constexpr int32_t kMaxFloatTaps = 9;
constexpr float kNearHalfFloat = 1e-3f;

struct TKernels {
    // grey[x] := round(0.3 R + 0.59 G + 0.11 B) of px[x], as the extended
    // sum gives it; andAll and orAll take the AND and OR of the row's pixels.
    void (*Grey)(const uint32_t* px, uint8_t* grey, int32_t w, uint32_t& andAll, uint32_t& orAll);
    // out[x] := the horizontal pass at x of grey row g, in plain doubles;
    // work holds w doubles.
    void (*Across)(const uint8_t* g, int32_t w, const TSmoothing& s, double* out, double* work);
    // out[x] := round(inv x sum of rows[k][x] x weights[k], k < taps), from
    // plain doubles; near[x] := 1 where that value lies within kNearHalf of
    // a rounding boundary, else 0. Returns whether any does. work holds w
    // doubles.
    bool (*Down)(const double* const* rows, const double* weights, int32_t taps, double inv, int32_t w,
                 uint8_t* out, uint8_t* near, double* work);
    // Across and Down in single precision for at most kMaxFloatTaps taps,
    // near meaning within kNearHalfFloat; null where the set has none.
    void (*AcrossFloat)(const uint8_t* g, int32_t w, const TSmoothing& s, float* out, float* work);
    bool (*DownFloat)(const float* const* rows, const float* weights, int32_t taps, float inv, int32_t w,
                      uint8_t* out, uint8_t* near);
    // mag[x] := the magnitude of the central differences at x of smoothed
    // row mid, for x = 1 .. w - 2; mag[0] = mag[w - 1] = 0. w >= 3.
    void (*Magnitudes)(const uint8_t* up, const uint8_t* mid, const uint8_t* down, int32_t w, uint8_t* mag);
    // The non-maximum test of row mm's interior (x = 1 .. w - 2) with the
    // gradients of smoothed row s: cand[x] := mm[x] for a candidate, else
    // 0; exact[x] := 1 where the integers cannot decide (cand is 0 there)
    // and 0 elsewhere. Returns whether any is 1. cand[0], cand[w - 1] := 0.
    bool (*NonMax)(const uint8_t* su, const uint8_t* s, const uint8_t* sd, const uint8_t* mu, const uint8_t* mm,
                   const uint8_t* md, int32_t w, uint8_t* cand, uint8_t* exact);
};

// The AVX2 set where simd::Avx2(), else the plain one.
const TKernels& Kernels();

// The magnitude for every dx dx + dy dy of central differences of bytes.
const uint8_t* MagnitudeTable();

}  // namespace stdf::canny::rows
