#include "standard/CannyRows.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/core/Simd.h"
#include "standard/Canny.h"

#if QUILLARC_X86
#include <immintrin.h>
#endif

namespace stdf::canny::rows {
namespace {

inline double Store(long double v) { return static_cast<double>(v); }

// The running sum of the weights a pixel's window keeps, for every position
// along an axis of length len: the same additions, in the same order, as
// the per-pixel sum (taps outside the picture are left out).
std::vector<double> WindowNorms(const std::vector<double>& w, int32_t c, int32_t len) {
    std::vector<double> norms(static_cast<size_t>(std::max(len, 0)));
    for (int32_t i = 0; i < len; ++i) {
        const int32_t kmin = std::max(-c, -i), kmax = std::min(c, len - 1 - i);
        double norm = 0.0;
        for (int32_t k = kmin; k <= kmax; ++k) norm = Store(static_cast<long double>(norm) + w[c + k]);
        norms[i] = norm;
    }
    return norms;
}

// ------------------------------------------------------------ plain

// 100 times the decimal sum is an integer; away from a decimal tie the
// extended sum rounds the same way, and at a tie only it can decide.
void GreyPlain(const uint32_t* px, uint8_t* grey, int32_t w, uint32_t& andAll, uint32_t& orAll) {
    for (int32_t x = 0; x < w; ++x) {
        const uint32_t p = px[x];
        andAll &= p;
        orAll |= p;
        const int32_t r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
        const int32_t hundredths = 30 * r + 59 * g + 11 * b;
        const int32_t q = hundredths / 100, rest = hundredths - 100 * q;
        grey[x] = rest == 50 ? GreyOf(static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b))
                             : static_cast<uint8_t>(q + (rest > 50));
    }
}

QUILLARC_VECTORIZE
void AcrossPlain(const uint8_t* __restrict g, int32_t width, const TSmoothing& s, double* __restrict out,
                 double* __restrict work) {
    const double* w = s.Weights.data();
    const double* norms = s.NormsX.data();
    const int32_t c = s.Centre;
    const int32_t xa = std::min(c, width);
    const int32_t xb = std::max(width - c, xa);
    for (int32_t x = xa; x < xb; ++x) work[x] = 0.0;
    for (int32_t k = -c; k <= c; ++k) {
        const double wk = w[c + k];
        const uint8_t* tap = g + k;
        for (int32_t x = xa; x < xb; ++x) work[x] += wk * tap[x];
    }
    for (int32_t x = xa; x < xb; ++x) out[x] = work[x] / norms[x];
    auto border = [&](int32_t x) {
        const int32_t kmin = std::max(-c, -x), kmax = std::min(c, width - 1 - x);
        double dot = 0.0;
        for (int32_t k = kmin; k <= kmax; ++k) dot += g[x + k] * w[c + k];
        out[x] = dot / norms[x];
    };
    for (int32_t x = 0; x < xa; ++x) border(x);
    for (int32_t x = xb; x < width; ++x) border(x);
}

QUILLARC_VECTORIZE
void AddScaled(double* __restrict acc, const double* __restrict row, double wk, int32_t width) {
    for (int32_t x = 0; x < width; ++x) acc[x] += row[x] * wk;
}

QUILLARC_VECTORIZE
bool RoundRow(const double* __restrict acc, double inv, uint8_t* __restrict out, uint8_t* __restrict near,
              int32_t width) {
    int32_t any = 0;
    for (int32_t x = 0; x < width; ++x) {
        const double t = acc[x] * inv + 0.5;  // not negative: a weighted mean of bytes
        const int32_t i = static_cast<int32_t>(t);
        const double f = t - i;
        const bool close = f < kNearHalf || f > 1.0 - kNearHalf;
        out[x] = static_cast<uint8_t>(i);
        near[x] = close;
        any |= close;
    }
    return any != 0;
}

// Down for the columns x0 .. w - 1.
bool DownPlainFrom(const double* const* rows, const double* weights, int32_t taps, double inv, int32_t x0, int32_t w,
                   uint8_t* out, uint8_t* near, double* work) {
    std::fill(work + x0, work + w, 0.0);
    for (int32_t k = 0; k < taps; ++k) AddScaled(work + x0, rows[k] + x0, weights[k], w - x0);
    return RoundRow(work + x0, inv, out + x0, near + x0, w - x0);
}

bool DownPlain(const double* const* rows, const double* weights, int32_t taps, double inv, int32_t w, uint8_t* out,
               uint8_t* near, double* work) {
    return DownPlainFrom(rows, weights, taps, inv, 0, w, out, near, work);
}

void MagnitudesPlain(const uint8_t* up, const uint8_t* mid, const uint8_t* down, int32_t w, uint8_t* mag) {
    const uint8_t* table = MagnitudeTable();
    mag[0] = 0;
    mag[w - 1] = 0;
    for (int32_t x = 1; x < w - 1; ++x) {
        const int32_t dx = mid[x + 1] - mid[x - 1];
        const int32_t dy = down[x] - up[x];
        mag[x] = table[dx * dx + dy * dy];
    }
}

// The non-maximum test without branches: code[x] is 0 (no candidate), 1 (a
// candidate) or 2 (a side sits exactly on its interpolated neighbour). A
// side m >= d w + (1 - w) s with w = num / den is decided by the sign of
// N = (m - s) den - num (d - s): a nonzero N puts the two at least 1/255
// apart, far beyond the rounding of w and of the sum; N = 0 with d = s or
// num = 0 makes the computed value s itself. Any other N = 0 is left to
// the floating-point test.
QUILLARC_VECTORIZE
bool NonMaxCodes(const uint8_t* __restrict su, const uint8_t* __restrict s, const uint8_t* __restrict sd,
                 const uint8_t* __restrict mu, const uint8_t* __restrict mm, const uint8_t* __restrict md,
                 uint8_t* __restrict code, int32_t W) {
    int32_t anyExact = 0;
    for (int32_t x = 1; x < W - 1; ++x) {
        // Every neighbour is read, then chosen: no branch in the loop.
        const int32_t m = mm[x];
        const int32_t uL = mu[x - 1], uC = mu[x], uR = mu[x + 1], mL = mm[x - 1], mR = mm[x + 1];
        const int32_t dL = md[x - 1], dC = md[x], dR = md[x + 1];
        const int32_t dx = s[x + 1] - s[x - 1];
        const int32_t dy = sd[x] - su[x];
        const int32_t ax = dx < 0 ? -dx : dx, ay = dy < 0 ? -dy : dy;
        const bool same = ((dx > 0) & (dy > 0)) | ((dx < 0) & (dy < 0));
        const bool steep = ax < ay;
        const int32_t num = steep ? ax : ay, den = steep ? ay : ax;
        const int32_t s1 = steep ? uC : mR;
        const int32_t s2 = steep ? dC : mL;
        const int32_t d1 = steep ? (same ? uL : uR) : (same ? dR : uR);
        const int32_t d2 = steep ? (same ? dR : dL) : (same ? uL : dL);
        const int32_t n1 = (m - s1) * den - num * (d1 - s1);
        const int32_t n2 = (m - s2) * den - num * (d2 - s2);
        const bool fail = (m == 0) | (den == 0) | (n1 < 0) | (n2 < 0);
        const bool exact1 = (n1 == 0) & (d1 != s1) & (num != 0);
        const bool exact2 = (n2 == 0) & (d2 != s2) & (num != 0);
        code[x] = static_cast<uint8_t>(fail ? 0 : ((exact1 | exact2) ? 2 : 1));
        anyExact |= (!fail) & (exact1 | exact2);
    }
    return anyExact != 0;
}

bool NonMaxPlain(const uint8_t* su, const uint8_t* s, const uint8_t* sd, const uint8_t* mu, const uint8_t* mm,
                 const uint8_t* md, int32_t w, uint8_t* cand, uint8_t* exact) {
    const bool any = NonMaxCodes(su, s, sd, mu, mm, md, exact, w);
    exact[0] = exact[w - 1] = 0;
    cand[0] = cand[w - 1] = 0;
    for (int32_t x = 1; x < w - 1; ++x) {
        cand[x] = exact[x] == 1 ? mm[x] : 0;
        exact[x] = exact[x] == 2;
    }
    return any;
}

// ------------------------------------------------------------ AVX2

#if QUILLARC_X86

QUILLARC_AVX2 void GreyAvx2(const uint32_t* px, uint8_t* grey, int32_t w, uint32_t& andAll, uint32_t& orAll) {
    // Bytes blue, green, red, alpha times 11, 59, 30, 0: pairs of 16-bit
    // sums, then one 32-bit sum per pixel.
    const __m256i weights = _mm256_set1_epi32(0x001E3B0B);
    const __m256i ones = _mm256_set1_epi16(1);
    const __m256i by100 = _mm256_set1_epi16(static_cast<int16_t>(41944));  // (h x 41944) >> 22 = h div 100
    const __m256i hundred = _mm256_set1_epi16(100);
    const __m256i fifty = _mm256_set1_epi16(50);
    __m256i andV = _mm256_set1_epi32(-1), orV = _mm256_setzero_si256();
    int32_t x = 0;
    for (; x + 16 <= w; x += 16) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(px + x));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(px + x + 8));
        andV = _mm256_and_si256(andV, _mm256_and_si256(a, b));
        orV = _mm256_or_si256(orV, _mm256_or_si256(a, b));
        const __m256i ha = _mm256_madd_epi16(_mm256_maddubs_epi16(a, weights), ones);
        const __m256i hb = _mm256_madd_epi16(_mm256_maddubs_epi16(b, weights), ones);
        const __m256i h = _mm256_permute4x64_epi64(_mm256_packus_epi32(ha, hb), 0xD8);  // 16 sums in order
        const __m256i q = _mm256_srli_epi16(_mm256_mulhi_epu16(h, by100), 6);
        const __m256i rest = _mm256_sub_epi16(h, _mm256_mullo_epi16(q, hundred));
        const __m256i g = _mm256_sub_epi16(q, _mm256_cmpgt_epi16(rest, fifty));  // + 1 above a half
        const __m128i bytes = _mm_packus_epi16(_mm256_castsi256_si128(g), _mm256_extracti128_si256(g, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(grey + x), bytes);
        uint32_t ties = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi16(rest, fifty)));
        while (ties != 0) {
            const int32_t i = x + __builtin_ctz(ties) / 2;
            ties &= ties - 1;
            ties &= ties - 1;
            const uint32_t p = px[i];
            grey[i] = GreyOf(static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p));
        }
    }
    alignas(32) uint32_t lanes[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), andV);
    for (uint32_t v : lanes) andAll &= v;
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), orV);
    for (uint32_t v : lanes) orAll |= v;
    GreyPlain(px + x, grey + x, w - x, andAll, orAll);
}

// The columns from x on, and the first c, which the vector loop leaves to
// the whole-window sum (their window is cut by the picture's edge, or they
// are too few for a vector), from the widened row in work.
template <class T>
QUILLARC_AVX2 void AcrossColumnsLeft(const T* work, int32_t w, const TSmoothing& s, int32_t x, T* out) {
    const int32_t c = s.Centre;
    const double* wt = s.Weights.data();
    const double* inv = s.InvX.data();
    auto one = [&](int32_t at) {
        const int32_t kmin = std::max(-c, -at), kmax = std::min(c, w - 1 - at);
        double dot = 0.0;
        for (int32_t k = kmin; k <= kmax; ++k) dot += work[at + k] * wt[c + k];
        out[at] = static_cast<T>(dot * inv[at]);
    };
    for (; x < w; ++x) one(x);
    for (x = 0; x < std::min(c, w); ++x) one(x);
}

// near[0 .. 15] := bit b of bits, the near-boundary mask of sixteen
// values; returns whether any is set.
QUILLARC_AVX2 inline bool PutNearFlags(uint8_t* near, int32_t bits) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(near), _mm_setzero_si128());
    if (bits == 0) return false;
    for (int32_t b = 0; b < 16; ++b) near[b] = static_cast<uint8_t>((bits >> b) & 1);
    return true;
}

QUILLARC_AVX2 void AcrossAvx2(const uint8_t* g, int32_t w, const TSmoothing& s, double* out, double* work) {
    const int32_t c = s.Centre, taps = 2 * c + 1;
    if (w < taps + 4) {
        AcrossPlain(g, w, s, out, work);
        return;
    }
    int32_t x = 0;
    for (; x + 4 <= w; x += 4) {
        int32_t four;
        std::memcpy(&four, g + x, 4);
        _mm256_storeu_pd(work + x, _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(four))));
    }
    for (; x < w; ++x) work[x] = g[x];
    const double* wt = s.Weights.data();
    // Columns c .. w - c - 1 have the whole window, and one norm.
    const __m256d inv = _mm256_set1_pd(s.InvX[c]);
    for (x = c; x + 4 <= w - c; x += 4) {
        const double* tap = work + x - c;
        __m256d acc = _mm256_mul_pd(_mm256_loadu_pd(tap), _mm256_broadcast_sd(wt));
        for (int32_t k = 1; k < taps; ++k) acc = _mm256_fmadd_pd(_mm256_loadu_pd(tap + k), _mm256_broadcast_sd(wt + k), acc);
        _mm256_storeu_pd(out + x, _mm256_mul_pd(acc, inv));
    }
    AcrossColumnsLeft(work, w, s, x, out);
}

QUILLARC_AVX2 bool DownAvx2(const double* const* rows, const double* weights, int32_t taps, double inv, int32_t w,
                            uint8_t* out, uint8_t* near, double* work) {
    const __m256d vinv = _mm256_set1_pd(inv);
    const __m256d limit = _mm256_set1_pd(0.5 - kNearHalf);
    const __m256d sign = _mm256_set1_pd(-0.0);
    bool any = false;
    int32_t x = 0;
    for (; x + 16 <= w; x += 16) {
        __m128i q[4];
        int32_t nearBits = 0;
        for (int32_t j = 0; j < 4; ++j) {
            const int32_t at = x + 4 * j;
            __m256d acc = _mm256_mul_pd(_mm256_loadu_pd(rows[0] + at), _mm256_broadcast_sd(weights));
            for (int32_t k = 1; k < taps; ++k)
                acc = _mm256_fmadd_pd(_mm256_loadu_pd(rows[k] + at), _mm256_broadcast_sd(weights + k), acc);
            const __m256d v = _mm256_mul_pd(acc, vinv);
            const __m256d r = _mm256_round_pd(v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
            const __m256d d = _mm256_andnot_pd(sign, _mm256_sub_pd(v, r));
            nearBits |= _mm256_movemask_pd(_mm256_cmp_pd(d, limit, _CMP_GE_OQ)) << (4 * j);
            q[j] = _mm256_cvtpd_epi32(r);  // integral already
        }
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(q[0], q[1]), _mm_packs_epi32(q[2], q[3]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), bytes);
        any |= PutNearFlags(near + x, nearBits);
    }
    if (x < w) any |= DownPlainFrom(rows, weights, taps, inv, x, w, out, near, work);
    return any;
}

QUILLARC_AVX2 void AcrossFloatAvx2(const uint8_t* g, int32_t w, const TSmoothing& s, float* out, float* work) {
    const int32_t c = s.Centre, taps = 2 * c + 1;
    int32_t x = 0;
    for (; x + 8 <= w; x += 8) {
        int64_t eight;
        std::memcpy(&eight, g + x, 8);
        _mm256_storeu_ps(work + x, _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_cvtsi64_si128(eight))));
    }
    for (; x < w; ++x) work[x] = g[x];
    const float* wt = s.WeightsF.data();
    x = c;
    if (w >= taps + 8) {
        // Columns c .. w - c - 1 have the whole window, and one norm.
        const __m256 inv = _mm256_set1_ps(s.InvXF[c]);
        for (; x + 8 <= w - c; x += 8) {
            const float* tap = work + x - c;
            __m256 acc = _mm256_mul_ps(_mm256_loadu_ps(tap), _mm256_broadcast_ss(wt));
            for (int32_t k = 1; k < taps; ++k)
                acc = _mm256_fmadd_ps(_mm256_loadu_ps(tap + k), _mm256_broadcast_ss(wt + k), acc);
            _mm256_storeu_ps(out + x, _mm256_mul_ps(acc, inv));
        }
    }
    AcrossColumnsLeft(work, w, s, x, out);
}

QUILLARC_AVX2 bool DownFloatAvx2(const float* const* rows, const float* weights, int32_t taps, float inv, int32_t w,
                                 uint8_t* out, uint8_t* near) {
    const __m256 vinv = _mm256_set1_ps(inv);
    const __m256 limit = _mm256_set1_ps(0.5f - kNearHalfFloat);
    const __m256 sign = _mm256_set1_ps(-0.0f);
    bool any = false;
    int32_t x = 0;
    for (; x + 16 <= w; x += 16) {
        __m256i q[2];
        int32_t nearBits = 0;
        for (int32_t j = 0; j < 2; ++j) {
            const int32_t at = x + 8 * j;
            __m256 acc = _mm256_mul_ps(_mm256_loadu_ps(rows[0] + at), _mm256_broadcast_ss(weights));
            for (int32_t k = 1; k < taps; ++k)
                acc = _mm256_fmadd_ps(_mm256_loadu_ps(rows[k] + at), _mm256_broadcast_ss(weights + k), acc);
            const __m256 v = _mm256_mul_ps(acc, vinv);
            const __m256 r = _mm256_round_ps(v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
            const __m256 d = _mm256_andnot_ps(sign, _mm256_sub_ps(v, r));
            nearBits |= _mm256_movemask_ps(_mm256_cmp_ps(d, limit, _CMP_GE_OQ)) << (8 * j);
            q[j] = _mm256_cvtps_epi32(r);  // integral already
        }
        const __m256i words = _mm256_permute4x64_epi64(_mm256_packs_epi32(q[0], q[1]), 0xD8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                         _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1)));
        any |= PutNearFlags(near + x, nearBits);
    }
    for (; x < w; ++x) {
        double acc = 0.0;
        for (int32_t k = 0; k < taps; ++k) acc += static_cast<double>(rows[k][x]) * weights[k];
        const double v = acc * inv, r = std::nearbyint(v);
        out[x] = static_cast<uint8_t>(r);
        near[x] = std::fabs(v - r) >= 0.5 - kNearHalfFloat;
        any |= near[x] != 0;
    }
    return any;
}

QUILLARC_AVX2 inline __m256i Widen(const uint8_t* p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

QUILLARC_AVX2 inline void StoreBytes(uint8_t* p, __m256i v16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p),
                     _mm_packus_epi16(_mm256_castsi256_si128(v16), _mm256_extracti128_si256(v16, 1)));
}

// round(sqrt(s) + 0.5) of 32-bit sums. It is the same in single precision
// for every s <= 2 x 255 x 255: a root that is not whole lies at least
// 1/722 from a whole number, far beyond the rounding; whole roots are exact.
QUILLARC_AVX2 inline __m256i RootsPlusHalf(__m256i sums) {
    return _mm256_cvtps_epi32(_mm256_add_ps(_mm256_sqrt_ps(_mm256_cvtepi32_ps(sums)), _mm256_set1_ps(0.5f)));
}

// The sign of N = (m - s) den + (s - d) num for 16 pixels, computed in 32
// bits and packed back into 16 with its sign.
QUILLARC_AVX2 inline __m256i SideSign(__m256i m, __m256i s, __m256i d, __m256i denNumLo, __m256i denNumHi) {
    const __m256i a = _mm256_sub_epi16(m, s), b = _mm256_sub_epi16(s, d);
    return _mm256_packs_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), denNumLo),
                              _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), denNumHi));
}

QUILLARC_AVX2 void MagnitudesAvx2(const uint8_t* up, const uint8_t* mid, const uint8_t* down, int32_t w,
                                  uint8_t* mag) {
    if (w < 18) {
        MagnitudesPlain(up, mid, down, w, mag);
        return;
    }
    mag[0] = 0;
    mag[w - 1] = 0;
    const __m256i top = _mm256_set1_epi16(255);
    // The interior in runs of 16; the last run moves left to end at w - 2.
    for (int32_t next = 1;; next += 16) {
        const int32_t x = std::min(next, w - 17);
        const __m256i dx = _mm256_sub_epi16(Widen(mid + x + 1), Widen(mid + x - 1));
        const __m256i dy = _mm256_sub_epi16(Widen(down + x), Widen(up + x));
        const __m256i lo = _mm256_unpacklo_epi16(dx, dy), hi = _mm256_unpackhi_epi16(dx, dy);
        const __m256i m = _mm256_packs_epi32(RootsPlusHalf(_mm256_madd_epi16(lo, lo)), RootsPlusHalf(_mm256_madd_epi16(hi, hi)));
        StoreBytes(mag + x, _mm256_min_epi16(m, top));
        if (x == w - 17) break;
    }
}

// Where num / den (0 < num <= den <= 255) is a short binary fraction: den's
// odd part divides num, that is 256 num / den is whole. In single
// precision the quotient of two such integers is whole exactly when the
// real one is: a quotient that is not whole lies at least 1/255 from a
// whole number, and rounding moves it by at most 1/512.
QUILLARC_AVX2 inline __m256i WholeQuotients(__m128i num, __m128i den) {
    const __m256 q = _mm256_div_ps(_mm256_cvtepi32_ps(_mm256_slli_epi32(_mm256_cvtepu16_epi32(num), 8)),
                                   _mm256_cvtepi32_ps(_mm256_cvtepu16_epi32(den)));
    return _mm256_castps_si256(
        _mm256_cmp_ps(_mm256_round_ps(q, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC), q, _CMP_EQ_OQ));
}

QUILLARC_AVX2 inline __m256i ShortBinaryFractions(__m256i num, __m256i den) {
    const __m256i lo = WholeQuotients(_mm256_castsi256_si128(num), _mm256_castsi256_si128(den));
    const __m256i hi = WholeQuotients(_mm256_extracti128_si256(num, 1), _mm256_extracti128_si256(den, 1));
    return _mm256_permute4x64_epi64(_mm256_packs_epi32(lo, hi), 0xD8);
}

QUILLARC_AVX2 bool NonMaxAvx2(const uint8_t* su, const uint8_t* s, const uint8_t* sd, const uint8_t* mu,
                              const uint8_t* mm, const uint8_t* md, int32_t w, uint8_t* cand, uint8_t* exact) {
    if (w < 18) return NonMaxPlain(su, s, sd, mu, mm, md, w, cand, exact);
    cand[0] = cand[w - 1] = 0;
    exact[0] = exact[w - 1] = 0;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i all = _mm256_set1_epi16(-1);
    const __m256i one = _mm256_set1_epi16(1);
    __m256i anyExact = zero;
    for (int32_t next = 1;; next += 16) {
        const int32_t x = std::min(next, w - 17);
        const __m256i m = Widen(mm + x);
        const __m256i uL = Widen(mu + x - 1), uC = Widen(mu + x), uR = Widen(mu + x + 1);
        const __m256i mL = Widen(mm + x - 1), mR = Widen(mm + x + 1);
        const __m256i dL = Widen(md + x - 1), dC = Widen(md + x), dR = Widen(md + x + 1);
        const __m256i dx = _mm256_sub_epi16(Widen(s + x + 1), Widen(s + x - 1));
        const __m256i dy = _mm256_sub_epi16(Widen(sd + x), Widen(su + x));
        const __m256i ax = _mm256_abs_epi16(dx), ay = _mm256_abs_epi16(dy);
        // dx dy > 0: the same sign, neither 0.
        const __m256i anyZero = _mm256_or_si256(_mm256_cmpeq_epi16(dx, zero), _mm256_cmpeq_epi16(dy, zero));
        const __m256i same = _mm256_andnot_si256(anyZero, _mm256_cmpgt_epi16(_mm256_xor_si256(dx, dy), all));
        const __m256i steep = _mm256_cmpgt_epi16(ay, ax);
        const __m256i num = _mm256_min_epi16(ax, ay), den = _mm256_max_epi16(ax, ay);
        const __m256i s1 = _mm256_blendv_epi8(mR, uC, steep);
        const __m256i s2 = _mm256_blendv_epi8(mL, dC, steep);
        const __m256i d1 = _mm256_blendv_epi8(_mm256_blendv_epi8(uR, dR, same), _mm256_blendv_epi8(uR, uL, same), steep);
        const __m256i d2 = _mm256_blendv_epi8(_mm256_blendv_epi8(dL, uL, same), _mm256_blendv_epi8(dL, dR, same), steep);
        const __m256i dnLo = _mm256_unpacklo_epi16(den, num), dnHi = _mm256_unpackhi_epi16(den, num);
        const __m256i n1 = SideSign(m, s1, d1, dnLo, dnHi), n2 = SideSign(m, s2, d2, dnLo, dnHi);
        const __m256i fail = _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi16(m, zero), _mm256_cmpeq_epi16(den, zero)),
                                             _mm256_or_si256(_mm256_cmpgt_epi16(zero, n1), _mm256_cmpgt_epi16(zero, n2)));
        // A side with N = 0 passes when d = s, num = 0 or w a short binary
        // fraction (the computation is exact then); others are undecided.
        const __m256i exactSides = _mm256_or_si256(_mm256_cmpeq_epi16(num, zero), ShortBinaryFractions(num, den));
        const __m256i exact1 = _mm256_andnot_si256(_mm256_or_si256(_mm256_cmpeq_epi16(d1, s1), exactSides),
                                                   _mm256_cmpeq_epi16(n1, zero));
        const __m256i exact2 = _mm256_andnot_si256(_mm256_or_si256(_mm256_cmpeq_epi16(d2, s2), exactSides),
                                                   _mm256_cmpeq_epi16(n2, zero));
        const __m256i undecided = _mm256_andnot_si256(fail, _mm256_or_si256(exact1, exact2));
        const __m256i keep = _mm256_andnot_si256(_mm256_or_si256(fail, undecided), all);
        StoreBytes(cand + x, _mm256_and_si256(keep, m));
        StoreBytes(exact + x, _mm256_and_si256(undecided, one));
        anyExact = _mm256_or_si256(anyExact, undecided);
        if (x == w - 17) break;
    }
    return !_mm256_testz_si256(anyExact, anyExact);
}

#endif

}  // namespace

TSmoothing::TSmoothing(double sigma, int32_t width, int32_t height) {
    int32_t n = 0;
    MakeGaussianKernel(sigma, Weights, n);
    Centre = n / 2;
    NormsX = WindowNorms(Weights, Centre, width);
    NormsY = WindowNorms(Weights, Centre, height);
    InvX.resize(NormsX.size());
    InvY.resize(NormsY.size());
    for (size_t i = 0; i < NormsX.size(); ++i) InvX[i] = 1.0 / NormsX[i];
    for (size_t i = 0; i < NormsY.size(); ++i) InvY[i] = 1.0 / NormsY[i];
    WeightsF.assign(Weights.begin(), Weights.end());
    InvXF.assign(InvX.begin(), InvX.end());
    InvYF.assign(InvY.begin(), InvY.end());
}

const uint8_t* MagnitudeTable() {
    static const std::vector<uint8_t> table = [] {
        constexpr int32_t kMaxSquaredGradient = 2 * 255 * 255;
        std::vector<uint8_t> t(kMaxSquaredGradient + 1);
        for (int32_t s = 0; s <= kMaxSquaredGradient; ++s) {
            const int64_t m = std::llrintl(std::sqrt(static_cast<long double>(s)) + 0.5L);
            t[s] = static_cast<uint8_t>(std::min<int64_t>(255, m));
        }
        return t;
    }();
    return table.data();
}

const TKernels& Kernels() {
    static const TKernels plain{GreyPlain, AcrossPlain, DownPlain, nullptr, nullptr, MagnitudesPlain, NonMaxPlain};
#if QUILLARC_X86
    static const TKernels avx2{GreyAvx2,        AcrossAvx2,     DownAvx2,  AcrossFloatAvx2,
                               DownFloatAvx2,   MagnitudesAvx2, NonMaxAvx2};
    if (simd::Avx2()) return avx2;
#endif
    return plain;
}

}  // namespace stdf::canny::rows
