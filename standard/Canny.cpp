// The fast pen-and-ink detector: every stage over rows on the worker
// threads, small arrays (one byte per pixel for the smoothed image, the
// magnitudes and the edges; the gradients are recomputed from the smoothed
// bytes where the suppression needs them), the smoothing in row strips.
#include "standard/Canny.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>

#include "platform/core/Parallel.h"
#include "platform/core/SysUtils.h"

namespace stdf::canny {
namespace {

// A double variable assigned from an extended-precision expression.
inline double Store(long double v) { return static_cast<double>(v); }

// Nearest integer, ties to even, in the default rounding mode. llrintl is
// one instruction, where nearbyintl is a library call that would cost more
// than the arithmetic around it in the per-pixel loops.
inline int64_t RoundNear(long double v) { return std::llrintl(v); }

// The same for values known to lie within +-2^53, without the library call:
// frndint rounds in the current mode, and the integral result converts to
// double and back to an integer exactly.
inline int32_t RoundSmall(long double v) { return static_cast<int32_t>(static_cast<double>(__builtin_rintl(v))); }

constexpr int32_t kMaxSquaredGradient = 2 * 255 * 255;

// mag for every dx dx + dy dy the central differences of bytes can give.
const uint8_t* MagnitudeTable() {
    static const std::vector<uint8_t> table = [] {
        std::vector<uint8_t> t(kMaxSquaredGradient + 1);
        for (int32_t s = 0; s <= kMaxSquaredGradient; ++s) {
            const int64_t m = RoundNear(std::sqrt(static_cast<long double>(s)) + 0.5L);
            t[s] = static_cast<uint8_t>(std::min<int64_t>(255, m));
        }
        return t;
    }();
    return table.data();
}

// The running sum of the weights a pixel's window keeps, for every position
// along an axis of length len: the same additions, in the same order, as
// the per-pixel sum (taps outside the picture are left out).
std::vector<double> WindowNorms(const std::vector<double>& w, int32_t c, int32_t len) {
    std::vector<double> norms(len);
    for (int32_t i = 0; i < len; ++i) {
        const int32_t kmin = std::max(-c, -i), kmax = std::min(c, len - 1 - i);
        double norm = 0.0;
        for (int32_t k = kmin; k <= kmax; ++k) norm = Store(static_cast<long double>(norm) + w[c + k]);
        norms[i] = norm;
    }
    return norms;
}

// GCC vectorises these loops at -O2 only when asked.
#if defined(__GNUC__) && !defined(__clang__)
#define QUILLARC_VECTORIZE __attribute__((optimize("tree-vectorize", "vect-cost-model=dynamic")))
#else
#define QUILLARC_VECTORIZE
#endif

// One row of the horizontal pass in plain doubles; work holds W doubles.
QUILLARC_VECTORIZE
void RowAcrossPlain(const uint8_t* __restrict g, int32_t width, const double* w, int32_t c,
                    const double* __restrict norms, double* __restrict out, double* __restrict work) {
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

// out := round(acc / norm) for a row of non-negative values; acc[x] becomes
// -1 where the value lies within nearHalf of a rounding boundary. Returns
// whether any does.
QUILLARC_VECTORIZE
bool RoundRow(double* __restrict acc, double norm, uint8_t* __restrict out, int32_t width, double nearHalf) {
    int32_t near = 0;
    for (int32_t x = 0; x < width; ++x) {
        const double t = acc[x] / norm + 0.5;
        const int32_t i = static_cast<int32_t>(t);
        const double f = t - i;
        const bool close = f < nearHalf || f > 1.0 - nearHalf;
        out[x] = static_cast<uint8_t>(i);
        near |= close;
        acc[x] = close ? -1.0 : acc[x];
    }
    return near != 0;
}

// One smoothed pixel by the exact sequence of the straightforward
// smoothing: the horizontal results of its column, then the vertical sum.
uint8_t ExactSmoothed(const uint8_t* grey, int32_t W, int32_t H, int32_t x, int32_t y, const std::vector<double>& w,
                      int32_t c, const std::vector<double>& normsX, const std::vector<double>& normsY) {
    const int32_t kxmin = std::max(-c, -x), kxmax = std::min(c, W - 1 - x);
    const int32_t kymin = std::max(-c, -y), kymax = std::min(c, H - 1 - y);
    double acc = 0.0;
    for (int32_t k = kymin; k <= kymax; ++k) {
        const uint8_t* g = grey + static_cast<size_t>(y + k) * W;
        double dot = 0.0;
        for (int32_t j = kxmin; j <= kxmax; ++j)
            dot = Store(static_cast<long double>(dot) + static_cast<long double>(g[x + j]) * w[c + j]);
        const double t = Store(static_cast<long double>(dot) / normsX[x]);
        acc = Store(static_cast<long double>(acc) + t * static_cast<long double>(w[c + k]));
    }
    return static_cast<uint8_t>(RoundSmall(acc / static_cast<long double>(normsY[y])));
}

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

// The non-maximum test of one interior pixel with m > 0, deciding nearly
// every pixel from the integers alone.
inline bool KeepsCandidate(int32_t m, int32_t dx, int32_t dy, const uint8_t* up, const uint8_t* mid,
                           const uint8_t* down, int32_t x) {
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

void SmoothRows(const std::vector<uint8_t>& grey, TImageSize size, double sigma, std::vector<uint8_t>& smoothed) {
    const int32_t W = size.Width, H = size.Height;
    if (W < 0 || H < 0 || grey.size() != static_cast<size_t>(W) * static_cast<size_t>(H))
        throw EConvertError(Format("Edge detector: %zu grey values for a picture of %d x %d", grey.size(), W, H));
    smoothed.resize(grey.size());
    SmoothRows(grey.data(), size, sigma, smoothed.data());
}

void SmoothRows(const uint8_t* grey, TImageSize size, double sigma, uint8_t* smoothed) {
    const int32_t W = size.Width, H = size.Height;
    std::vector<double> w;
    int32_t n = 0;
    MakeGaussianKernel(sigma, w, n);
    const int32_t c = n / 2;
    if (W == 0 || H == 0) return;
    const std::vector<double> normsX = WindowNorms(w, c, W);
    const std::vector<double> normsY = WindowNorms(w, c, H);
    const int32_t ringRows = std::min(n, H);

    // Each pixel is first computed in plain doubles, on vector registers.
    // Its rounding errors, and those of the extended-precision sequence,
    // stay below 1e-11 of the true value; so unless the plain value lies
    // within kNearHalf of a rounding boundary both round to the same
    // integer, and the few pixels that do are computed the exact way.
    constexpr double kNearHalf = 1e-9;
    par::ForRows(H, [&](int32_t y0, int32_t y1) {
        // The horizontal results of the rows y - c .. y + c, row r in slot r mod ringRows.
        std::vector<double> ring(static_cast<size_t>(ringRows) * W);
        std::vector<double> acc(W);
        auto slot = [&](int32_t r) { return ring.data() + static_cast<size_t>(r % ringRows) * W; };
        int32_t nextRow = std::max(0, y0 - c);
        for (int32_t y = y0; y < y1; ++y) {
            const int32_t kmin = std::max(-c, -y), kmax = std::min(c, H - 1 - y);
            for (; nextRow <= y + kmax; ++nextRow)
                RowAcrossPlain(grey + static_cast<size_t>(nextRow) * W, W, w.data(), c, normsX.data(),
                               slot(nextRow), acc.data());
            std::fill(acc.begin(), acc.end(), 0.0);
            for (int32_t k = kmin; k <= kmax; ++k) AddScaled(acc.data(), slot(y + k), w[c + k], W);
            uint8_t* out = smoothed + static_cast<size_t>(y) * W;
            if (RoundRow(acc.data(), normsY[y], out, W, kNearHalf)) {
                for (int32_t x = 0; x < W; ++x)
                    if (acc[x] < 0) out[x] = ExactSmoothed(grey, W, H, x, y, w, c, normsX, normsY);
            }
        }
    });
}

void SuppressNonMaxima(const std::vector<uint8_t>& smoothed, const std::vector<uint8_t>& mag, TImageSize size,
                       std::vector<uint8_t>& edges, int64_t (&hist)[256]) {
    const int32_t W = size.Width, H = size.Height;
    const size_t count = static_cast<size_t>(W) * static_cast<size_t>(H);
    if (smoothed.size() != count || mag.size() != count)
        throw EConvertError("Edge detector: smoothed image and magnitudes must hold one value per pixel");
    edges.resize(count);
    SuppressNonMaxima(smoothed.data(), mag.data(), size, edges.data(), hist);
}

namespace {

// The non-maximum test of the interior of one row without branches:
// code[x] is 0 (no candidate), 1 (a candidate) or 2 (a side sits exactly on
// its interpolated neighbour: the full test decides; the result tells
// whether any did). See SideTest.
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

// Candidates (code 1) become 128 and are counted by magnitude; four
// interleaved histograms keep repeated magnitudes from waiting on each other.
void CountCandidates(uint8_t* __restrict e, const uint8_t* __restrict mm, int32_t W, int64_t (&hist)[256]) {
    int32_t part[4][256] = {};
    for (int32_t x = 1; x < W - 1; ++x) {
        const int32_t keep = e[x] != 0;
        e[x] = static_cast<uint8_t>(keep << 7);
        part[x & 3][mm[x]] += keep;
    }
    for (int32_t i = 0; i < 256; ++i) hist[i] += part[0][i] + part[1][i] + part[2][i] + part[3][i];
}

}  // namespace

void SuppressNonMaxima(const uint8_t* smoothed, const uint8_t* mag, TImageSize size, uint8_t* edges,
                       int64_t (&hist)[256]) {
    const int32_t W = size.Width, H = size.Height;
    const size_t count = static_cast<size_t>(W) * static_cast<size_t>(H);
    std::fill(std::begin(hist), std::end(hist), 0);
    if (W < 3 || H < 3) {
        std::fill(edges, edges + count, uint8_t(0));
        return;
    }
    std::fill(edges, edges + W, uint8_t(0));
    std::fill(edges + count - W, edges + count, uint8_t(0));
    // The histogram is summed over the blocks: integer counts, so the order
    // of the sums does not matter.
    std::mutex histMutex;
    par::ForRows(H - 2, [&](int32_t b0, int32_t b1) {
        int64_t local[256] = {};
        for (int32_t y = b0 + 1; y < b1 + 1; ++y) {
            const size_t row = static_cast<size_t>(y) * W;
            const uint8_t* s = smoothed + row;
            const uint8_t* mu = mag + row - W;
            const uint8_t* mm = mag + row;
            const uint8_t* md = mag + row + W;
            uint8_t* e = edges + row;
            e[0] = e[W - 1] = 0;
            if (NonMaxCodes(s - W, s, s + W, mu, mm, md, e, W)) {
                for (int32_t x = 1; x < W - 1; ++x)
                    if (e[x] == 2) e[x] = KeepsCandidate(mm[x], s[x + 1] - s[x - 1], s[x + W] - s[x - W], mu, mm, md, x);
            }
            CountCandidates(e, mm, W, local);
        }
        std::lock_guard lock(histMutex);
        for (int32_t i = 0; i < 256; ++i) hist[i] += local[i];
    });
}

void TraceEdges(const std::vector<uint8_t>& mag, TImageSize size, std::vector<uint8_t>& edges, int32_t high,
                int32_t low) {
    const int32_t W = size.Width, H = size.Height;
    const size_t count = static_cast<size_t>(W) * static_cast<size_t>(H);
    if (mag.size() != count || edges.size() != count)
        throw EConvertError("Edge detector: magnitudes and edges must hold one value per pixel");
    TraceEdges(mag.data(), size, edges.data(), high, low, true);
}

namespace {

QUILLARC_VECTORIZE
bool AnyAtLeast(const uint8_t* __restrict m, int32_t n, int32_t level) {
    int32_t any = 0;
    for (int32_t i = 0; i < n; ++i) any |= m[i] >= level;
    return any != 0;
}

}  // namespace

void TraceEdges(const uint8_t* mag, TImageSize size, uint8_t* edges, int32_t high, int32_t low, bool settle) {
    const int32_t W = size.Width, H = size.Height;
    const size_t count = static_cast<size_t>(W) * static_cast<size_t>(H);
    if (W < 3 || H < 3) {
        std::fill(edges, edges + count, uint8_t(0));
        return;
    }
    // No candidate on the border, so that the following never looks past it.
    std::fill_n(edges, W, uint8_t(0));
    std::fill_n(edges + count - W, W, uint8_t(0));
    for (int32_t y = 1; y < H - 1; ++y) {
        edges[static_cast<size_t>(y) * W] = 0;
        edges[static_cast<size_t>(y) * W + W - 1] = 0;
    }
    // Edge following from every strong candidate, on the worker threads.
    // The set it marks is every candidate joined to a strong one through
    // candidates of at least low, whatever the order in which the pixels are
    // reached, so the result does not depend on the threads. A pixel is
    // claimed (128 -> 255) by one atomic exchange, so exactly one thread
    // pushes it, once.
    const ptrdiff_t w = W;
    par::ForRows(H - 2, [&](int32_t b0, int32_t b1) {
        // Locals, not captures: the loop below would reload every captured
        // value after each atomic exchange.
        const uint8_t* const m = mag;
        uint8_t* const e = edges;
        const int32_t lo = low, hi = high;
        auto claim = [e](ptrdiff_t p) {
            std::atomic_ref<uint8_t> cell(e[p]);
            if (cell.load(std::memory_order_relaxed) != 128) return false;
            uint8_t expected = 128;
            return cell.compare_exchange_strong(expected, 255, std::memory_order_relaxed);
        };
        std::vector<uint32_t> stack;
        for (int32_t y = b0 + 1; y < b1 + 1; ++y) {
            const size_t row = static_cast<size_t>(y) * W;
            for (int32_t x = 1; x < W - 1; ++x) {
                // Most runs of pixels hold no strong magnitude at all.
                if ((x & 31) == 1 && x + 32 <= W - 1 && !AnyAtLeast(m + row + x, 32, hi)) {
                    x += 31;
                    continue;
                }
                const size_t p = row + x;
                // Plain reads first: most pixels are no strong candidate.
                if (m[p] < hi || !claim(p))
                    continue;
                stack.push_back(static_cast<uint32_t>(p));
                auto visit = [&](ptrdiff_t r) {
                    if (m[r] >= lo && claim(r)) stack.push_back(static_cast<uint32_t>(r));
                };
                while (!stack.empty()) {
                    const ptrdiff_t q = stack.back();
                    stack.pop_back();
                    visit(q + 1);
                    visit(q + w + 1);
                    visit(q + w);
                    visit(q + w - 1);
                    visit(q - 1);
                    visit(q - w - 1);
                    visit(q - w);
                    visit(q - w + 1);
                }
            }
        }
    });

    // Whatever is not an edge now is none.
    if (!settle) return;
    par::ForRows(H, [&](int32_t y0, int32_t y1) {
        uint8_t* p = edges + static_cast<size_t>(y0) * W;
        uint8_t* end = edges + static_cast<size_t>(y1) * W;
        for (; p < end; ++p) *p = *p == 255 ? 255 : 0;
    });
}

namespace {

// Row y of the magnitudes (0 on the border rows and columns).
void MagnitudeRow(const uint8_t* smoothed, int32_t W, int32_t H, int32_t y, uint8_t* m) {
    if (y == 0 || y == H - 1) {
        std::memset(m, 0, W);
        return;
    }
    const uint8_t* table = MagnitudeTable();
    const uint8_t* up = smoothed + static_cast<size_t>(y - 1) * W;
    const uint8_t* mid = up + W;
    const uint8_t* down = mid + W;
    m[0] = 0;
    m[W - 1] = 0;
    for (int32_t x = 1; x < W - 1; ++x) {
        const int32_t dx = mid[x + 1] - mid[x - 1];
        const int32_t dy = down[x] - up[x];
        m[x] = table[dx * dx + dy * dy];
    }
}

}  // namespace

void Magnitudes(const uint8_t* smoothed, TImageSize size, uint8_t* mag) {
    const int32_t W = size.Width, H = size.Height;
    MagnitudeTable();  // built once, before the threads read it
    par::ForRows(H, [&](int32_t y0, int32_t y1) {
        for (int32_t y = y0; y < y1; ++y) MagnitudeRow(smoothed, W, H, y, mag + static_cast<size_t>(y) * W);
    });
}

void MagnitudesAndCandidates(const uint8_t* smoothed, TImageSize size, uint8_t* mag, uint8_t* edges,
                             int64_t (&hist)[256]) {
    const int32_t W = size.Width, H = size.Height;
    const size_t count = static_cast<size_t>(W) * static_cast<size_t>(H);
    std::fill(std::begin(hist), std::end(hist), 0);
    if (W < 3 || H < 3) {
        Magnitudes(smoothed, size, mag);
        std::fill(edges, edges + count, uint8_t(0));
        return;
    }
    MagnitudeTable();
    std::memset(mag, 0, W);
    std::memset(mag + count - W, 0, W);
    std::fill(edges, edges + W, uint8_t(0));
    std::fill(edges + count - W, edges + count, uint8_t(0));
    std::mutex histMutex;
    par::ForRows(H - 2, [&](int32_t b0, int32_t b1) {
        // The magnitudes of rows y - 1 .. y + 1 in a ring of three rows; the
        // block's own rows also go into the plane for the edge following.
        std::vector<uint8_t> ring(3 * static_cast<size_t>(W));
        auto slot = [&](int32_t r) { return ring.data() + static_cast<size_t>(r % 3) * W; };
        int64_t local[256] = {};
        const int32_t y0 = b0 + 1, y1 = b1 + 1;
        MagnitudeRow(smoothed, W, H, y0 - 1, slot(y0 - 1));
        MagnitudeRow(smoothed, W, H, y0, slot(y0));
        for (int32_t y = y0; y < y1; ++y) {
            MagnitudeRow(smoothed, W, H, y + 1, slot(y + 1));
            const size_t row = static_cast<size_t>(y) * W;
            const uint8_t* s = smoothed + row;
            const uint8_t* mu = slot(y - 1);
            const uint8_t* mm = slot(y);
            const uint8_t* md = slot(y + 1);
            std::memcpy(mag + row, mm, W);
            uint8_t* e = edges + row;
            e[0] = e[W - 1] = 0;
            if (NonMaxCodes(s - W, s, s + W, mu, mm, md, e, W)) {
                for (int32_t x = 1; x < W - 1; ++x)
                    if (e[x] == 2) e[x] = KeepsCandidate(mm[x], s[x + 1] - s[x - 1], s[x + W] - s[x - W], mu, mm, md, x);
            }
            CountCandidates(e, mm, W, local);
        }
        std::lock_guard lock(histMutex);
        for (int32_t i = 0; i < 256; ++i) hist[i] += local[i];
    });
}

void CannyPlanes(uint8_t* planes, TImageSize size, double sigma, double tlow, double thigh, bool settle) {
    const int32_t W = size.Width, H = size.Height;
    const size_t count = static_cast<size_t>(W) * static_cast<size_t>(H);
    uint8_t* grey = planes;
    uint8_t* smoothed = planes + count;
    uint8_t* mag = planes + 2 * count;
    uint8_t* edges = planes + 3 * count;
    if (W < 3 || H < 3) {  // candidates exist only inside the one-pixel border
        std::fill(edges, edges + count, uint8_t(0));
        return;
    }
    SmoothRows(grey, size, sigma, smoothed);
    int64_t hist[256] = {};
    MagnitudesAndCandidates(smoothed, size, mag, edges, hist);
    int32_t high = 1, low = 0;
    ThresholdsFromHistogram(hist, thigh, tlow, high, low);
    TraceEdges(mag, size, edges, high, low, settle);
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
    const size_t count = grey.size();
    // The detector's four planes in one block: grey, smoothed, magnitudes, edges.
    TPixelBuffer planes = TPixelBuffer::Allocate(4 * count, false);
    if (count > 0) pixmem::Copy(planes.data(), grey.data(), count);
    canny::CannyPlanes(planes.data(), size, sigma, tlow, thigh, true);
    edges.assign(planes.data() + 3 * count, planes.data() + 4 * count);
    return true;
}

}  // namespace stdf
