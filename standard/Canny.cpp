// The fast pen-and-ink detector. One pass over the picture, on the worker
// threads, makes the candidates: each block of rows turns its grey rows
// (and a few beyond its ends) into smoothed rows, magnitudes and the
// non-maximum test through small rings of rows, so that the only
// whole-picture plane is the caller's, which receives the candidates'
// magnitudes. The edge following then runs inside each block and across
// the blocks' boundaries.
#include "standard/Canny.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "platform/core/Parallel.h"
#include "platform/core/Simd.h"
#include "platform/core/SysUtils.h"
#include "standard/CannyRows.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace stdf::canny {
namespace {

using rows::TKernels;
using rows::TSmoothing;

// A double variable assigned from an extended-precision expression.
inline double Store(long double v) { return static_cast<double>(v); }

// Nearest integer, ties to even, in the default rounding mode.
inline int64_t RoundNear(long double v) { return std::llrintl(v); }

// The same for values known to lie within +-2^53, without the library call:
// frndint rounds in the current mode, and the integral result converts to
// double and back to an integer exactly.
inline int32_t RoundSmall(long double v) { return static_cast<int32_t>(static_cast<double>(__builtin_rintl(v))); }

// f(x) for every x < w with flags[x] not 0; flags are mostly 0.
template <class F>
void ForEachSet(const uint8_t* flags, int32_t w, const F& f) {
    int32_t x = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; x + 16 <= w; x += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(flags + x));
        for (uint32_t bits = 0xFFFFu & ~static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero))); bits != 0;
             bits &= bits - 1)
            f(x + __builtin_ctz(bits));
    }
#endif
    for (; x < w; ++x)
        if (flags[x]) f(x);
}

// Smoothed rows made one after the other from grey rows. The grey rows and
// their horizontal results for the current window stay in rings.
class TSmoother {
public:
    // Rows will be asked for in increasing order from `first` on.
    TSmoother(const TSmoothing& s, const TKernels& k, TImageSize size, const TGreyRows& grey, int32_t first)
        : s_(s), k_(k), W_(size.Width), H_(size.Height), greyRows_(grey),
          slots_(std::min(2 * s.Centre + 1, size.Height)), next_(std::max(0, first - s.Centre)),
          single_(k.AcrossFloat != nullptr && 2 * s.Centre + 1 <= rows::kMaxFloatTaps),
          grey_(static_cast<size_t>(slots_) * W_), near_(W_), taps_(2 * static_cast<size_t>(s.Centre) + 1),
          tapsF_(taps_.size()) {
        const size_t ring = static_cast<size_t>(slots_) * W_;
        if (single_) {
            acrossF_.resize(ring);
            workF_.resize(W_);
        } else {
            across_.resize(ring);
            work_.resize(W_);
        }
    }

    void Row(int32_t r, uint8_t* out) {
        const int32_t c = s_.Centre;
        const int32_t kmin = std::max(-c, -r), kmax = std::min(c, H_ - 1 - r);
        for (; next_ <= r + kmax; ++next_) {
            greyRows_(next_, GreySlot(next_));
            if (single_)
                k_.AcrossFloat(GreySlot(next_), W_, s_, Slot(acrossF_, next_), workF_.data());
            else
                k_.Across(GreySlot(next_), W_, s_, Slot(across_, next_), work_.data());
        }
        const int32_t taps = kmax - kmin + 1;
        bool anyNear;
        if (single_) {
            for (int32_t k = 0; k < taps; ++k) tapsF_[k] = Slot(acrossF_, r + kmin + k);
            anyNear = k_.DownFloat(tapsF_.data(), s_.WeightsF.data() + c + kmin, taps, s_.InvYF[r], W_, out, near_.data());
        } else {
            for (int32_t k = 0; k < taps; ++k) taps_[k] = Slot(across_, r + kmin + k);
            anyNear = k_.Down(taps_.data(), s_.Weights.data() + c + kmin, taps, s_.InvY[r], W_, out, near_.data(),
                              work_.data());
        }
        if (!anyNear) return;
        // Single precision leaves a wider band: plain doubles first.
        ForEachSet(near_.data(), W_, [&](int32_t x) { out[x] = single_ ? Precise(x, r) : Exact(x, r); });
    }

private:
    uint8_t* GreySlot(int32_t r) { return grey_.data() + static_cast<size_t>(r % slots_) * W_; }
    template <class T>
    T* Slot(std::vector<T>& ring, int32_t r) {
        return ring.data() + static_cast<size_t>(r % slots_) * W_;
    }

    // One smoothed pixel in plain doubles, or by the exact sequence when
    // that lies within kNearHalf of a rounding boundary.
    uint8_t Precise(int32_t x, int32_t y) {
        const std::vector<double>& w = s_.Weights;
        const int32_t c = s_.Centre;
        const int32_t kxmin = std::max(-c, -x), kxmax = std::min(c, W_ - 1 - x);
        const int32_t kymin = std::max(-c, -y), kymax = std::min(c, H_ - 1 - y);
        double acc = 0.0;
        for (int32_t k = kymin; k <= kymax; ++k) {
            const uint8_t* g = GreySlot(y + k);
            double dot = 0.0;
            for (int32_t j = kxmin; j <= kxmax; ++j) dot += g[x + j] * w[c + j];
            acc += dot * s_.InvX[x] * w[c + k];
        }
        const double v = acc * s_.InvY[y], r = std::nearbyint(v);
        return std::fabs(v - r) < 0.5 - rows::kNearHalf ? static_cast<uint8_t>(r) : Exact(x, y);
    }

    // One smoothed pixel by the exact sequence of the straightforward
    // smoothing: the horizontal results of its column, then the vertical sum.
    uint8_t Exact(int32_t x, int32_t y) {
        const std::vector<double>& w = s_.Weights;
        const int32_t c = s_.Centre;
        const int32_t kxmin = std::max(-c, -x), kxmax = std::min(c, W_ - 1 - x);
        const int32_t kymin = std::max(-c, -y), kymax = std::min(c, H_ - 1 - y);
        double acc = 0.0;
        for (int32_t k = kymin; k <= kymax; ++k) {
            const uint8_t* g = GreySlot(y + k);
            double dot = 0.0;
            for (int32_t j = kxmin; j <= kxmax; ++j)
                dot = Store(static_cast<long double>(dot) + static_cast<long double>(g[x + j]) * w[c + j]);
            const double t = Store(static_cast<long double>(dot) / s_.NormsX[x]);
            acc = Store(static_cast<long double>(acc) + t * static_cast<long double>(w[c + k]));
        }
        return static_cast<uint8_t>(RoundSmall(acc / static_cast<long double>(s_.NormsY[y])));
    }

    const TSmoothing& s_;
    const TKernels& k_;
    const int32_t W_, H_;
    const TGreyRows& greyRows_;
    const int32_t slots_;
    int32_t next_;       // the next grey row to take in
    const bool single_;  // the horizontal results in single precision
    std::vector<uint8_t> grey_;
    std::vector<double> across_, work_;
    std::vector<float> acrossF_, workF_;
    std::vector<uint8_t> near_;
    std::vector<const double*> taps_;
    std::vector<const float*> tapsF_;
};

// One side of the non-maximum test, m >= d w + (1 - w) s with w = num / den
// held as a double, decided from integers where that is exact: 1 passes, 0
// fails, -1 needs the floating-point test.
// - d = s or w = 0: the computed value is s itself (its rounding errors
//   stay far below half a double's step at s), so the test is m >= s.
// - otherwise m - (d w + (1 - w) s) = N / den for the exact ratio, with
//   N = (m - s) den - num (d - s) an integer: when N is not 0 the difference
//   is at least 1/255, far beyond the rounding of w and of the sum, so the
//   sign of N decides.
// - N = 0 and w a short binary fraction (den over the common divisor a power
//   of two, so 1/2, 3/4, 1): every step is exact and the value is m, which
//   passes. Any other N = 0 is left to the floating-point test.
inline int32_t SideTest(int32_t m, int32_t num, int32_t den, int32_t d, int32_t s) {
    if (d == s || num == 0) return m >= s ? 1 : 0;
    const int32_t n = (m - s) * den - num * (d - s);
    if (n != 0) return n > 0 ? 1 : 0;
    const int32_t oddPart = den >> __builtin_ctz(static_cast<uint32_t>(den));
    return num % oddPart == 0 ? 1 : -1;
}

// The non-maximum test of one interior pixel with m > 0 that the row
// kernel left undecided.
bool KeepsCandidate(int32_t m, int32_t dx, int32_t dy, const uint8_t* up, const uint8_t* mid, const uint8_t* down,
                    int32_t x) {
    const int32_t ax = dx < 0 ? -dx : dx;
    const int32_t ay = dy < 0 ? -dy : dy;
    const bool sameSign = dx * dy > 0;
    int32_t num, den, s1, s2, d1, d2;
    if (ax < ay) {
        num = ax;
        den = ay;
        s1 = up[x];
        s2 = down[x];
        d1 = sameSign ? up[x - 1] : up[x + 1];
        d2 = sameSign ? down[x + 1] : down[x - 1];
    } else {
        num = ay;
        den = ax;
        s1 = mid[x + 1];
        s2 = mid[x - 1];
        d1 = sameSign ? down[x + 1] : up[x + 1];
        d2 = sameSign ? up[x - 1] : down[x - 1];
    }
    if (den == 0) return false;  // no direction: 0/0 compares false, as in the exact test
    const int32_t first = SideTest(m, num, den, d1, s1);
    if (first == 0) return false;
    const int32_t second = SideTest(m, num, den, d2, s2);
    if (second == 0) return false;
    if (first == 1 && second == 1) return true;
    const TNeighbourMags n{up[x - 1], up[x], up[x + 1], mid[x - 1], mid[x + 1], down[x - 1], down[x], down[x + 1]};
    return IsLocalMaximum(m, dx, dy, n);
}

// The non-maximum test of one interior row: cand[x] := mm[x] for a
// candidate, else 0 (x = 0 .. w - 1). The few pixels the integers cannot
// decide take the floating-point test.
void CandidateRow(const TKernels& k, const uint8_t* su, const uint8_t* s, const uint8_t* sd, const uint8_t* mu,
                  const uint8_t* mm, const uint8_t* md, int32_t w, uint8_t* cand, uint8_t* exact) {
    if (!k.NonMax(su, s, sd, mu, mm, md, w, cand, exact)) return;
    ForEachSet(exact, w, [&](int32_t x) {
        cand[x] = KeepsCandidate(mm[x], s[x + 1] - s[x - 1], sd[x] - su[x], mu, mm, md, x) ? mm[x] : 0;
    });
}

// Counts the row's candidates by magnitude (bin 0 counts the rest); four
// interleaved tables keep repeated magnitudes from waiting on each other.
void CountRow(const uint8_t* cand, int32_t w, int64_t (&part)[4][256]) {
    for (int32_t x = 0; x < w; ++x) part[x & 3][cand[x]] += 1;
}

// Adds the four tables' counts of the candidates (bins 1 .. 255) to hist.
void AddCounts(const int64_t (&part)[4][256], int64_t (&hist)[256]) {
    for (int32_t i = 1; i < 256; ++i) hist[i] += part[0][i] + part[1][i] + part[2][i] + part[3][i];
}

// The grey rows of a whole picture of grey values, width to a row.
TGreyRows RowsOf(const std::vector<uint8_t>& grey, int32_t width) {
    return [&grey, width](int32_t y, uint8_t* out) {
        std::memcpy(out, grey.data() + static_cast<size_t>(y) * width, static_cast<size_t>(width));
    };
}

QUILLARC_VECTORIZE
void PlaneRow(const uint8_t* __restrict cand, int32_t w, uint8_t* __restrict out) {
    // Thresholds never exceed 254, so 255 can mark an edge: a magnitude of
    // 255 compares as 254 does.
    for (int32_t x = 0; x < w; ++x) out[x] = cand[x] < 254 ? cand[x] : 254;
}

struct TCandidatePass {
    const TSmoothing& s;
    const TKernels& k;
    TImageSize size;
    const TGreyRows& grey;
    uint8_t* plane;
    ptrdiff_t stride;
};

// Plane rows y0 .. y1 - 1: the magnitude of each candidate (255 taken as
// 254), 0 elsewhere; hist counts the candidates by magnitude.
void CandidateBlock(const TCandidatePass& d, int32_t y0, int32_t y1, int64_t (&hist)[256]) {
    const int32_t W = d.size.Width, H = d.size.Height;
    TSmoother smoother(d.s, d.k, d.size, d.grey, std::max(0, y0 - 2));
    // The smoothed rows y - 1 .. y + 2 and the magnitudes of y - 1 .. y + 1
    // around row y, row r in slot r mod 4.
    std::vector<uint8_t> smoothed(4 * static_cast<size_t>(W)), mag(4 * static_cast<size_t>(W));
    std::vector<uint8_t> cand(W), exact(W);
    auto sRow = [&](int32_t r) { return smoothed.data() + static_cast<size_t>(r & 3) * W; };
    auto mRow = [&](int32_t r) { return mag.data() + static_cast<size_t>(r & 3) * W; };
    int32_t nextSmoothed = std::max(0, y0 - 2), nextMag = std::max(0, y0 - 1);
    int64_t part[4][256] = {};
    for (int32_t y = y0; y < y1; ++y) {
        uint8_t* out = d.plane + y * d.stride;
        if (y == 0 || y == H - 1) {
            std::memset(out, 0, W);
            continue;
        }
        for (; nextMag <= y + 1; ++nextMag) {
            const int32_t r = nextMag;
            for (; nextSmoothed <= std::min(r + 1, H - 1); ++nextSmoothed) smoother.Row(nextSmoothed, sRow(nextSmoothed));
            if (r == 0 || r == H - 1)
                std::memset(mRow(r), 0, W);
            else
                d.k.Magnitudes(sRow(r - 1), sRow(r), sRow(r + 1), W, mRow(r));
        }
        CandidateRow(d.k, sRow(y - 1), sRow(y), sRow(y + 1), mRow(y - 1), mRow(y), mRow(y + 1), W, cand.data(),
                     exact.data());
        CountRow(cand.data(), W, part);
        PlaneRow(cand.data(), W, out);
    }
    AddCounts(part, hist);
}

// Edge following on the plane: every candidate of at least low joined to
// one of at least high through such candidates (8 neighbours) becomes 255.
// Each block of rows follows its own strong candidates without leaving its
// rows; then, on one thread, every edge on either side of a boundary
// between blocks carries on into the other block. The marked set is the
// same whatever the blocks and the order: the candidates of low and more
// joined to a strong one.
class TFollower {
public:
    TFollower(uint8_t* plane, ptrdiff_t stride, int32_t low)
        : plane_(plane), stride_(stride), low_(static_cast<uint8_t>(std::max(low, 1))) {}

    bool Weak(size_t p) const { return static_cast<uint8_t>(plane_[p] - low_) <= static_cast<uint8_t>(254 - low_); }

    // Marks p and follows on from it; rows above `top` and from `bottom`
    // on (plane offsets of row starts) are left alone.
    void Flood(size_t p, std::vector<size_t>& queue, size_t top, size_t bottom) {
        plane_[p] = 255;
        if (queue.empty()) queue.resize(1024);
        queue[0] = p;
        Spread(queue, 1, top, bottom);
    }

    // Follows on from the marked pixels queue[0 .. tail - 1], as Flood.
    // The pixels wait in a queue, not a stack, so that the next one to look
    // at never waits on the one just looked at; each one's eight neighbours
    // are tested at once.
    void Spread(std::vector<size_t>& queue, size_t tail, size_t top, size_t bottom) {
        uint8_t* const plane = plane_;
        const size_t s = static_cast<size_t>(stride_);
        const uint8_t low = low_, span = static_cast<uint8_t>(254 - low_);
        // Neighbour bits: the row above 0 .. 2, left 4, right 6, the row
        // below 8 .. 10 (bit 4 r + i is column x - 1 + i of row r).
        const ptrdiff_t rowStart[3] = {-static_cast<ptrdiff_t>(s) - 1, -1, static_cast<ptrdiff_t>(s) - 1};
        size_t head = 0;
        while (head < tail) {
            // Room for eight more: the waiting entries move to the front,
            // or the queue grows.
            if (tail + 8 > queue.size()) {
                std::copy(queue.begin() + static_cast<ptrdiff_t>(head), queue.begin() + static_cast<ptrdiff_t>(tail),
                          queue.begin());
                tail -= head;
                head = 0;
                if (tail + 8 > queue.size() / 2) queue.resize(2 * queue.size() + 16);
            }
            const size_t q = queue[head++];
            const bool up = q >= top + s, down = q + s < bottom;
            // Four bytes from column x - 1 of each row (the fourth is not
            // a neighbour); rows outside the limits are not read at all.
            uint32_t rows[3] = {0, 0, 0};
            if (up) std::memcpy(&rows[0], plane + q - s - 1, 4);
            std::memcpy(&rows[1], plane + q - 1, 4);
            if (down) std::memcpy(&rows[2], plane + q + s - 1, 4);
            uint32_t mask = 0x050u | (up ? 0x007u : 0u) | (down ? 0x700u : 0u);
            mask &= WeakBits(rows, low, span);
            for (; mask != 0; mask &= mask - 1) {
                const int32_t b = __builtin_ctz(mask);
                const size_t r = q + rowStart[b >> 2] + (b & 3);
                plane[r] = 255;
                queue[tail++] = r;
            }
        }
    }

private:
    // Bit 4 r + i set where byte i of rows[r] lies in low .. low + span.
    static uint32_t WeakBits(const uint32_t (&rows)[3], uint8_t low, uint8_t span) {
#if defined(__SSE2__)
        const __m128i v = _mm_setr_epi32(static_cast<int>(rows[0]), static_cast<int>(rows[1]), static_cast<int>(rows[2]), 0);
        const __m128i t = _mm_sub_epi8(v, _mm_set1_epi8(static_cast<char>(low)));
        return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(t, _mm_set1_epi8(static_cast<char>(span))), t)));
#else
        uint32_t bits = 0;
        for (int32_t r = 0; r < 3; ++r)
            for (int32_t i = 0; i < 4; ++i)
                if (static_cast<uint8_t>(static_cast<uint8_t>(rows[r] >> (8 * i)) - low) <= span) bits |= 1u << (4 * r + i);
        return bits;
#endif
    }

    uint8_t* const plane_;
    const ptrdiff_t stride_;
    const uint8_t low_;
};

void Follow(uint8_t* plane, ptrdiff_t stride, TImageSize size, int32_t high, int32_t low) {
    const int32_t W = size.Width, H = size.Height;
    TFollower follower(plane, stride, low);
    const uint8_t hi = static_cast<uint8_t>(high);
    std::vector<int32_t> starts;
    std::mutex startsMutex;
    par::ForRows(H - 2, [&](int32_t b0, int32_t b1) {
        const int32_t r0 = b0 + 1, r1 = b1 + 1;  // interior rows
        {
            std::lock_guard lock(startsMutex);
            starts.push_back(r0);
        }
        const size_t top = static_cast<size_t>(r0) * stride, bottom = static_cast<size_t>(r1) * stride;
        // Every strong candidate of the block is marked and queued in one
        // sweep over its rows (which brings them into the cache), then
        // followed from all at once.
        std::vector<size_t> queue(1024);
        size_t tail = 0;
        auto add = [&](size_t p) {
            if (tail == queue.size()) queue.resize(2 * queue.size());
            plane[p] = 255;
            queue[tail++] = p;
        };
        for (int32_t y = r0; y < r1; ++y) {
            const size_t row = static_cast<size_t>(y) * stride;
            int32_t x = 1;
#if defined(__SSE2__)
            const __m128i level = _mm_set1_epi8(static_cast<char>(hi));
            for (; x + 16 <= W - 1; x += 16) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(plane + row + x));
                const __m128i strong = _mm_cmpeq_epi8(_mm_max_epu8(v, level), v);
                for (uint32_t bits = static_cast<uint32_t>(_mm_movemask_epi8(strong)); bits != 0; bits &= bits - 1)
                    add(row + x + __builtin_ctz(bits));
            }
#endif
            for (; x < W - 1; ++x)
                if (plane[row + x] >= hi) add(row + x);
        }
        follower.Spread(queue, tail, top, bottom);
    });
    // Across the boundaries: an edge pixel next to a weak one in the other block.
    std::sort(starts.begin(), starts.end());
    std::vector<size_t> queue;
    const size_t everywhere = static_cast<size_t>(H) * stride;
    for (const int32_t r : starts) {
        if (r <= 1) continue;
        const size_t above = static_cast<size_t>(r - 1) * stride, below = static_cast<size_t>(r) * stride;
        for (int32_t x = 1; x < W - 1; ++x)
            for (int32_t dx = -1; dx <= 1; ++dx) {
                if (plane[above + x] == 255 && follower.Weak(below + x + dx)) follower.Flood(below + x + dx, queue, 0, everywhere);
                if (plane[below + x] == 255 && follower.Weak(above + x + dx)) follower.Flood(above + x + dx, queue, 0, everywhere);
            }
    }
}

void CheckedSize(TImageSize size, size_t values, const char* what) {
    if (size.Width < 0 || size.Height < 0 || values != static_cast<size_t>(size.Width) * static_cast<size_t>(size.Height))
        throw EConvertError(Format("Edge detector: %zu %s for a picture of %d x %d", values, what, size.Width, size.Height));
}

}  // namespace

double SigmaOf(int32_t trackBar4) { return Store(trackBar4 * 0.05L); }
double LowRatioOf(int32_t trackBar5) { return Store(trackBar5 * 0.05L); }
double HighRatioOf(int32_t trackBar6) { return Store(trackBar6 * 0.025L); }

bool MakeGaussianKernel(double sigma, std::vector<double>& kernel, int32_t& windowSize) {
    if (!(sigma > 0.0 && sigma <= kMaxSigma))
        throw EConvertError(Format("Edge detector: smoothing sigma %g is outside 0 to %g", sigma, kMaxSigma));
    const long double s = sigma;
    windowSize = 1 + 2 * static_cast<int32_t>(std::ceil(3.0L * s));
    const int32_t c = windowSize / 2;
    kernel.assign(windowSize, 0.0);
    const long double scale = std::sqrt(6.2831852L) * s;
    double sum = 0.0;
    for (int32_t i = 0; i < windowSize; ++i) {
        const double x = i - c;
        kernel[i] = Store(std::exp(-0.5L * x * x / (s * s)) / scale);
        sum = Store(static_cast<long double>(sum) + kernel[i]);
    }
    for (double& wi : kernel) wi = Store(static_cast<long double>(wi) / sum);
    return true;
}

int32_t MagnitudeOf(int32_t dx, int32_t dy) {
    const int64_t m = RoundNear(std::sqrt(static_cast<long double>(dx * dx + dy * dy)) + 0.5L);
    return static_cast<int32_t>(std::clamp<int64_t>(m, 0, 255));
}

bool IsLocalMaximum(int32_t m, int32_t dx, int32_t dy, const TNeighbourMags& n) {
    const int32_t ax = dx < 0 ? -dx : dx;
    const int32_t ay = dy < 0 ? -dy : dy;
    if (ax == 0 && ay == 0) return false;  // no direction: w would be 0/0, and NaN compares false
    const bool sameSign = dx * dy > 0;
    double w;
    int32_t s1, s2, d1, d2;
    if (ax < ay) {
        w = Store(static_cast<long double>(ax) / ay);
        s1 = n.Up;
        s2 = n.Down;
        d1 = sameSign ? n.UpLeft : n.UpRight;
        d2 = sameSign ? n.DownRight : n.DownLeft;
    } else {
        w = Store(static_cast<long double>(ay) / ax);
        s1 = n.Right;
        s2 = n.Left;
        d1 = sameSign ? n.DownRight : n.UpRight;
        d2 = sameSign ? n.UpLeft : n.DownLeft;
    }
    const long double lw = w;
    const double i1 = Store(d1 * lw + (1.0L - lw) * s1);
    const double i2 = Store(d2 * lw + (1.0L - lw) * s2);
    return m >= i1 && m >= i2;
}

void ThresholdsFromHistogram(const int64_t (&hist)[256], double thigh, double tlow, int32_t& high, int32_t& low) {
    int64_t total = 0;
    for (int64_t h : hist) total += h;
    int32_t maxmag = 0;
    for (int32_t m = 255; m >= 1; --m) {
        if (hist[m] > 0) {
            maxmag = m;
            break;
        }
    }
    // Clamped before the conversion so that no ratio can overflow it; every
    // value beyond the clamp acts exactly like the clamp itself.
    const long double wanted = std::clamp(total * static_cast<long double>(thigh) + 0.5L, -1.0L, total + 1.0L);
    const int64_t highcount = RoundNear(wanted);
    int32_t r = 1;
    int64_t count = hist[1];
    while (r < maxmag - 1 && count < highcount) {
        ++r;
        count += hist[r];
    }
    high = r;
    low = static_cast<int32_t>(RoundNear(std::clamp(high * static_cast<long double>(tlow) + 0.5L, -1.0L, 256.0L)));
}

int32_t Detect(TImageSize size, double sigma, double tlow, double thigh, const TGreyRows& grey, uint8_t* plane,
               ptrdiff_t stride) {
    const int32_t W = size.Width, H = size.Height;
    if (W < 3 || H < 3) return kNoEdges;  // candidates exist only inside the one-pixel border
    const TSmoothing s(sigma, W, H);
    const TKernels& k = rows::Kernels();
    const TCandidatePass pass{s, k, size, grey, plane, stride};
    int64_t hist[256] = {};
    std::mutex histMutex;
    par::ForRows(H, [&](int32_t y0, int32_t y1) {
        int64_t local[256] = {};
        CandidateBlock(pass, y0, y1, local);
        // Integer counts: the order of the sums does not matter.
        std::lock_guard lock(histMutex);
        for (int32_t i = 0; i < 256; ++i) hist[i] += local[i];
    });
    int32_t high = 1, low = 0;
    ThresholdsFromHistogram(hist, thigh, tlow, high, low);
    // With low at or above high, following adds nothing: a candidate it
    // could reach is strong itself.
    if (low >= high) return high;
    Follow(plane, stride, size, high, low);
    return 255;
}

void SmoothRows(const std::vector<uint8_t>& grey, TImageSize size, double sigma, std::vector<uint8_t>& smoothed) {
    CheckedSize(size, grey.size(), "grey values");
    const int32_t W = size.Width, H = size.Height;
    const TSmoothing s(sigma, W, H);
    smoothed.resize(grey.size());
    if (W == 0 || H == 0) return;
    const TGreyRows rowsOf = RowsOf(grey, W);
    par::ForRows(H, [&](int32_t y0, int32_t y1) {
        TSmoother smoother(s, rows::Kernels(), size, rowsOf, y0);
        for (int32_t y = y0; y < y1; ++y) smoother.Row(y, smoothed.data() + static_cast<size_t>(y) * W);
    });
}

void SuppressNonMaxima(const std::vector<uint8_t>& smoothed, const std::vector<uint8_t>& mag, TImageSize size,
                       std::vector<uint8_t>& edges, int64_t (&hist)[256]) {
    CheckedSize(size, smoothed.size(), "smoothed values");
    CheckedSize(size, mag.size(), "magnitudes");
    const int32_t W = size.Width, H = size.Height;
    std::fill(std::begin(hist), std::end(hist), 0);
    edges.assign(smoothed.size(), 0);
    if (W < 3 || H < 3) return;
    const TKernels& k = rows::Kernels();
    std::vector<uint8_t> exact(W);
    int64_t part[4][256] = {};
    for (int32_t y = 1; y < H - 1; ++y) {
        const size_t row = static_cast<size_t>(y) * W;
        uint8_t* e = edges.data() + row;
        CandidateRow(k, &smoothed[row - W], &smoothed[row], &smoothed[row + W], &mag[row - W], &mag[row], &mag[row + W],
                     W, e, exact.data());
        CountRow(e, W, part);
        for (int32_t x = 0; x < W; ++x) e[x] = e[x] != 0 ? 128 : 0;
    }
    AddCounts(part, hist);
}

void TraceEdges(const std::vector<uint8_t>& mag, TImageSize size, std::vector<uint8_t>& edges, int32_t high,
                int32_t low) {
    CheckedSize(size, mag.size(), "magnitudes");
    CheckedSize(size, edges.size(), "edge values");
    const int32_t W = size.Width, H = size.Height;
    // The plane: candidates' magnitudes inside the border, 0 elsewhere.
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x) {
            const size_t i = x + static_cast<size_t>(y) * W;
            const bool inside = x > 0 && y > 0 && x < W - 1 && y < H - 1;
            edges[i] = inside && edges[i] == 128 ? static_cast<uint8_t>(std::min<int32_t>(mag[i], 254)) : 0;
        }
    int32_t from = high;
    if (W >= 3 && H >= 3 && low < high) {
        edges.resize(mag.size() + kPlaneSlack);
        Follow(edges.data(), W, size, high, low);
        edges.resize(mag.size());
        from = 255;
    }
    for (uint8_t& e : edges) e = e >= from ? 255 : 0;
}

void CheckArguments(TImageSize size, size_t greyValues, double sigma, double tlow, double thigh) {
    const int32_t W = size.Width, H = size.Height;
    if (W < 0 || H < 0 || static_cast<int64_t>(W) * H > kMaxBitmapPixels)
        throw EConvertError(Format("Edge detector: picture size %d x %d is not supported", W, H));
    const size_t count = static_cast<size_t>(W) * static_cast<size_t>(H);
    if (greyValues != count)
        throw EConvertError(Format("Edge detector: %zu grey values for a picture of %d x %d", greyValues, W, H));
    if (!std::isfinite(tlow) || !std::isfinite(thigh))
        throw EConvertError("Edge detector: the hysteresis ratios must be numbers");
    std::vector<double> kernel;
    int32_t window = 0;
    MakeGaussianKernel(sigma, kernel, window);  // rejects a bad sigma before any work
}

}  // namespace stdf::canny

namespace stdf {

bool CannyEdges(const std::vector<uint8_t>& grey, TImageSize size, std::vector<uint8_t>& edges, double sigma,
                double tlow, double thigh) {
    canny::CheckArguments(size, grey.size(), sigma, tlow, thigh);
    const int32_t W = size.Width;
    const canny::TGreyRows rowsOf = canny::RowsOf(grey, W);
    edges.resize(grey.size() + canny::kPlaneSlack);  // the plane, with the slack it needs
    const int32_t from = canny::Detect(size, sigma, tlow, thigh, rowsOf, edges.data(), W);
    edges.resize(grey.size());
    for (uint8_t& e : edges) e = from != canny::kNoEdges && e >= from ? 255 : 0;
    return true;
}

}  // namespace stdf
