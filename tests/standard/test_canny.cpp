#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <random>

#include "app/Image32.h"
#include "platform/core/Parallel.h"
#include "platform/core/Simd.h"
#include "platform/core/SysUtils.h"
#include "standard/Canny.h"

namespace {

using namespace stdf;
using namespace stdf::canny;

class ThreadCount {
public:
    explicit ThreadCount(int n) : saved_(par::ThreadCount()) { par::SetThreadCount(n); }
    ~ThreadCount() { par::SetThreadCount(saved_); }

private:
    int saved_;
};

// The plain kernels, as a processor without AVX2 runs them, for one scope.
struct PlainKernels {
    PlainKernels() { simd::AllowAvx2(false); }
    ~PlainKernels() { simd::AllowAvx2(true); }
};

std::vector<uint8_t> RandomGrey(TImageSize size, uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<uint8_t> g(static_cast<size_t>(size.Width) * size.Height);
    for (auto& v : g) v = static_cast<uint8_t>(gen() & 0xFF);
    return g;
}

// Low-contrast noise: many equal magnitudes side by side, the ties of the
// non-maximum test.
std::vector<uint8_t> FaintGrey(TImageSize size, uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<uint8_t> g(static_cast<size_t>(size.Width) * size.Height);
    for (auto& v : g) v = static_cast<uint8_t>(100 + gen() % 4 * 3);
    return g;
}

// Smooth shapes with a little noise: long connected edges, as in a photo.
std::vector<uint8_t> BlobGrey(TImageSize size, uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<uint8_t> g(static_cast<size_t>(size.Width) * size.Height);
    for (int32_t y = 0; y < size.Height; ++y)
        for (int32_t x = 0; x < size.Width; ++x) {
            const double v = 128 + 90 * std::sin(x * 0.21) * std::cos(y * 0.17) + (gen() % 21) - 10;
            g[x + static_cast<size_t>(y) * size.Width] = static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
        }
    return g;
}

std::vector<uint8_t> SampleGrey(TImageSize& size) {
    TBitmap32 bmp;
    bmp.LoadFromFile(QUILLARC_SAMPLE);
    size = {bmp.Width(), bmp.Height()};
    std::vector<uint8_t> g(static_cast<size_t>(size.Width) * size.Height);
    for (int32_t y = 0; y < size.Height; ++y) {
        const uint32_t* row = PixelRow(std::as_const(bmp), y);
        for (int32_t x = 0; x < size.Width; ++x)
            g[x + static_cast<size_t>(y) * size.Width] =
                GreyOf(uint8_t(row[x] >> 16), uint8_t(row[x] >> 8), uint8_t(row[x]));
    }
    return g;
}

// ---------------------------------------------------------------- numbers

TEST(CannyNumbers, GreyAtExtendedPrecision) {
    EXPECT_EQ(GreyOf(0, 5, 5), 3);     // 3.4999..., 3.5 in doubles
    EXPECT_EQ(GreyOf(0, 50, 0), 29);   // 29.4999...
    EXPECT_EQ(GreyOf(0, 44, 14), 28);  // exactly 27.5: ties to even
    EXPECT_EQ(GreyOf(0, 45, 45), 32);  // exactly 31.5
    EXPECT_EQ(GreyOf(255, 255, 255), 255);
    EXPECT_EQ(GreyOf(0, 0, 0), 0);
}

TEST(CannyNumbers, SliderParametersHeldAsDoubles) {
    EXPECT_EQ(SigmaOf(10), 0.5);
    EXPECT_EQ(SigmaOf(1), 0.05);
    EXPECT_EQ(SigmaOf(101), 5.05);
    EXPECT_EQ(LowRatioOf(18), 0.9);
    EXPECT_EQ(LowRatioOf(0), 0.0);
    EXPECT_EQ(HighRatioOf(30), 0.75);
    EXPECT_EQ(HighRatioOf(40), 1.0);
}

TEST(CannyKernel, WindowSizes) {
    std::vector<double> k;
    int32_t n = 0;
    MakeGaussianKernel(SigmaOf(1), k, n);
    EXPECT_EQ(n, 3);
    MakeGaussianKernel(SigmaOf(10), k, n);
    EXPECT_EQ(n, 5);
    MakeGaussianKernel(SigmaOf(20), k, n);  // sigma exactly 1: 3 sigma = 3
    EXPECT_EQ(n, 7);
    MakeGaussianKernel(SigmaOf(101), k, n);
    EXPECT_EQ(n, 33);
    EXPECT_EQ(k.size(), 33u);
}

TEST(CannyKernel, NormalisedSymmetricWeights) {
    std::vector<double> k;
    int32_t n = 0;
    MakeGaussianKernel(0.5, k, n);
    ASSERT_EQ(n, 5);
    EXPECT_NEAR(k[2], 0.78657073, 1e-8);
    EXPECT_NEAR(k[1], 0.10645077, 1e-8);
    EXPECT_NEAR(k[0], 0.00026387, 1e-8);
    EXPECT_EQ(k[0], k[4]);
    EXPECT_EQ(k[1], k[3]);
    double sum = 0;
    for (double w : k) sum += w;
    EXPECT_NEAR(sum, 1.0, 1e-15);
}

TEST(CannyKernel, RejectsSigmaOutsideItsRange) {
    std::vector<double> k;
    int32_t n = 0;
    EXPECT_THROW(MakeGaussianKernel(0.0, k, n), EConvertError);
    EXPECT_THROW(MakeGaussianKernel(-1.0, k, n), EConvertError);
    EXPECT_THROW(MakeGaussianKernel(std::numeric_limits<double>::quiet_NaN(), k, n), EConvertError);
    EXPECT_THROW(MakeGaussianKernel(1e9, k, n), EConvertError);
}

TEST(CannyMagnitude, PlusHalfThenTiesToEven) {
    EXPECT_EQ(MagnitudeOf(0, 0), 0);
    EXPECT_EQ(MagnitudeOf(1, 0), 2);   // 1.5
    EXPECT_EQ(MagnitudeOf(1, 1), 2);   // 1.914
    EXPECT_EQ(MagnitudeOf(0, -2), 2);  // 2.5
    EXPECT_EQ(MagnitudeOf(3, 0), 4);   // 3.5
    EXPECT_EQ(MagnitudeOf(-4, 0), 4);  // 4.5
    EXPECT_EQ(MagnitudeOf(3, 4), 6);   // 5.5
    EXPECT_EQ(MagnitudeOf(6, -8), 10); // 10.5
    EXPECT_EQ(MagnitudeOf(255, 255), 255);  // 361 clamped
}

// ------------------------------------------------------------ stages

TEST(CannySmooth, BorderRenormalised) {
    // One row: the vertical pass sees a single tap.
    const std::vector<uint8_t> grey{0, 0, 0, 0, 255};
    std::vector<uint8_t> out;
    ref::GaussianSmooth({5, 1}, grey, 0.5, out);
    EXPECT_EQ(out, (std::vector<uint8_t>{0, 0, 0, 27, 225}));  // 27.15, 224.54
    SmoothRows(grey, {5, 1}, 0.5, out);
    EXPECT_EQ(out, (std::vector<uint8_t>{0, 0, 0, 27, 225}));
    // The same as a column.
    ref::GaussianSmooth({1, 5}, grey, 0.5, out);
    EXPECT_EQ(out, (std::vector<uint8_t>{0, 0, 0, 27, 225}));
    SmoothRows(grey, {1, 5}, 0.5, out);
    EXPECT_EQ(out, (std::vector<uint8_t>{0, 0, 0, 27, 225}));
}

TEST(CannySmooth, FlatStaysFlat) {
    const std::vector<uint8_t> grey(7 * 5, 77);
    std::vector<uint8_t> out;
    SmoothRows(grey, {7, 5}, 5.05, out);  // window far larger than the picture
    EXPECT_EQ(out, grey);
}

TEST(CannySmooth, StripsMatchTheFullArrays) {
    const TImageSize sizes[] = {{1, 1}, {2, 5}, {3, 3}, {7, 5}, {64, 48}, {5, 70}};
    const double sigmas[] = {0.05, 0.5, 1.0, 2.35, 5.05};
    for (int threads : {1, 8}) {
        ThreadCount tc(threads);
        for (const TImageSize s : sizes) {
            const auto grey = RandomGrey(s, s.Width * 100 + s.Height);
            for (double sigma : sigmas) {
                std::vector<uint8_t> want, got;
                ref::GaussianSmooth(s, grey, sigma, want);
                SmoothRows(grey, s, sigma, got);
                EXPECT_EQ(got, want) << s.Width << "x" << s.Height << " sigma " << sigma << " threads " << threads;
            }
        }
    }
}

TEST(CannyGradient, CentralDifferencesAndZeroBorder) {
    const std::vector<uint8_t> s{0, 3, 0,  //
                                 1, 0, 5,  //
                                 0, 7, 0};
    std::vector<int32_t> dx, dy, mag;
    ref::GradientMagnitude({3, 3}, s, dx, dy, mag);
    EXPECT_EQ(dx[4], 4);
    EXPECT_EQ(dy[4], 4);
    EXPECT_EQ(mag[4], 6);  // sqrt(32) + 0.5 = 6.16
    for (int i : {0, 1, 2, 3, 5, 6, 7, 8}) {
        EXPECT_EQ(dx[i], 0);
        EXPECT_EQ(dy[i], 0);
        EXPECT_EQ(mag[i], 0);
    }
}

TEST(CannyNonMax, AlongTheGradient) {
    TNeighbourMags n{};
    // Horizontal gradient: compared with left and right only, equal kept.
    n.Left = 10;
    n.Right = 10;
    n.Up = n.Down = 99;
    EXPECT_TRUE(IsLocalMaximum(10, 4, 0, n));
    n.Right = 11;
    EXPECT_FALSE(IsLocalMaximum(10, 4, 0, n));
    // Steep gradient, same signs: halfway between up and up-left.
    n = {};
    n.UpLeft = 20;
    n.UpRight = 99;
    EXPECT_TRUE(IsLocalMaximum(10, 1, 2, n));   // i1 = 0.5 x 20 + 0.5 x 0
    EXPECT_FALSE(IsLocalMaximum(9, 1, 2, n));
    // Opposite signs take up-right and down-left instead.
    EXPECT_FALSE(IsLocalMaximum(10, -1, 2, n));
    n.UpRight = 0;
    n.DownLeft = 20;
    EXPECT_TRUE(IsLocalMaximum(10, -1, 2, n));
    EXPECT_FALSE(IsLocalMaximum(9, -1, 2, n));
    // Flat gradient, same signs: between right and down-right, left and up-left.
    n = {};
    n.DownRight = 30;
    EXPECT_TRUE(IsLocalMaximum(15, 2, 1, n));
    EXPECT_FALSE(IsLocalMaximum(14, 2, 1, n));
    n = {};
    n.UpLeft = 30;
    EXPECT_FALSE(IsLocalMaximum(14, 2, 1, n));
    EXPECT_FALSE(IsLocalMaximum(14, -2, -1, n));  // same signs again
    EXPECT_TRUE(IsLocalMaximum(14, 2, -1, n));    // opposite: up-left plays no part
}

// Magnitudes and gradients chosen freely (not derived from each other), in
// small ranges so that interpolated values often equal the magnitude
// exactly or within a rounding: the fast test's integer shortcuts against
// the floating-point one.
TEST(CannyNonMax, FastSuppressionMatchesTheReference) {
    const TImageSize s{61, 47};
    const size_t n = 61 * 47;
    for (int threads : {1, 8}) {
        ThreadCount tc(threads);
        for (uint32_t seed = 1; seed <= 40; ++seed) {
            std::mt19937 gen(seed);
            const uint32_t range = 2 + seed % 19;
            std::vector<uint8_t> smoothed(n), mag8(n);
            for (auto& v : smoothed) v = static_cast<uint8_t>(gen() % (seed % 3 == 0 ? 256 : 7));
            for (auto& v : mag8) v = static_cast<uint8_t>(gen() % range * (seed % 2 ? 1 : 3));
            std::vector<int32_t> dx(n, 0), dy(n, 0), mag(mag8.begin(), mag8.end());
            for (int32_t y = 1; y < s.Height - 1; ++y)
                for (int32_t x = 1; x < s.Width - 1; ++x) {
                    const size_t i = x + size_t(y) * s.Width;
                    dx[i] = smoothed[i + 1] - smoothed[i - 1];
                    dy[i] = smoothed[i + s.Width] - smoothed[i - s.Width];
                }
            std::vector<uint8_t> want(n, 0), got;
            ref::NonMaxSuppress(mag, dx, dy, s, want);
            int64_t hist[256];
            SuppressNonMaxima(smoothed, mag8, s, got, hist);
            ASSERT_EQ(got, want) << "seed " << seed << " threads " << threads;
            int64_t total = 0;
            for (int64_t h : hist) total += h;
            EXPECT_EQ(total, std::count(want.begin(), want.end(), 128));
        }
    }
}

TEST(CannyNonMax, ExactTieDecidedByTheDoubleWeight) {
    // Centre m = 3 with gradient (2, 3): w = 2/3 in doubles, up-left 0 and
    // up 9 interpolate to 3 exactly in rationals, just above 3 in doubles.
    TNeighbourMags n{};
    n.UpLeft = 0;
    n.Up = 9;
    EXPECT_FALSE(IsLocalMaximum(3, 2, 3, n));
    const std::vector<uint8_t> smoothed{0, 0, 0,  //
                                        0, 0, 2,  //
                                        0, 3, 0};
    const std::vector<uint8_t> mag{0, 9, 0,  //
                                   0, 3, 0,  //
                                   0, 0, 0};
    std::vector<uint8_t> edges;
    int64_t hist[256];
    SuppressNonMaxima(smoothed, mag, {3, 3}, edges, hist);
    EXPECT_EQ(edges[4], 0);
}

TEST(CannyNonMax, UniformPictureHasNoCandidates) {
    const TImageSize s{9, 7};
    const std::vector<uint8_t> flat(63, 140);
    std::vector<int32_t> dx, dy, mag;
    std::vector<uint8_t> edges(63, 77);
    ref::GradientMagnitude(s, flat, dx, dy, mag);
    ref::NonMaxSuppress(mag, dx, dy, s, edges);
    EXPECT_EQ(edges, std::vector<uint8_t>(63, 0));
}

int64_t gHist[256];
void Hist(std::initializer_list<std::pair<int, int64_t>> entries) {
    std::fill(std::begin(gHist), std::end(gHist), 0);
    for (auto [m, c] : entries) gHist[m] = c;
}

TEST(CannyThresholds, NoCandidates) {
    Hist({});
    int32_t high = -1, low = -1;
    ThresholdsFromHistogram(gHist, 0.75, 0.9, high, low);
    EXPECT_EQ(high, 1);
    EXPECT_EQ(low, 1);  // round(1.4)
}

TEST(CannyThresholds, ZeroHighRatioGivesHighOne) {
    Hist({{5, 10}, {40, 3}});
    int32_t high = -1, low = -1;
    ThresholdsFromHistogram(gHist, 0.0, 0.9, high, low);
    EXPECT_EQ(high, 1);
}

TEST(CannyThresholds, ZeroLowRatioGivesLowZero) {
    Hist({{5, 10}, {40, 3}});
    int32_t high = -1, low = -1;
    ThresholdsFromHistogram(gHist, 0.75, 0.0, high, low);
    EXPECT_EQ(low, 0);  // round(0.5) to even
}

TEST(CannyThresholds, CountsFromMagnitudeOneWithTies) {
    Hist({{1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}});
    int32_t high = -1, low = -1;
    ThresholdsFromHistogram(gHist, 0.5, 0.5, high, low);  // highcount round(3.5) = 4
    EXPECT_EQ(high, 4);
    EXPECT_EQ(low, 2);  // round(2.5)
    Hist({{1, 1}, {2, 1}, {3, 1}, {4, 1}});
    ThresholdsFromHistogram(gHist, 0.5, 0.25, high, low);  // highcount round(2.5) = 2
    EXPECT_EQ(high, 2);
    EXPECT_EQ(low, 1);  // round(1.0)
    ThresholdsFromHistogram(gHist, 0.5, 0.75, high, low);
    EXPECT_EQ(low, 2);  // round(2.0)
}

TEST(CannyThresholds, StopsBelowTheLargestMagnitude) {
    Hist({{200, 1}});
    int32_t high = -1, low = -1;
    ThresholdsFromHistogram(gHist, 1.0, 1.0, high, low);
    EXPECT_EQ(high, 199);
    EXPECT_EQ(low, 200);  // round(199.5)
    Hist({{2, 10}, {4, 10}, {10, 10}});
    ThresholdsFromHistogram(gHist, 0.75, 0.9, high, low);  // highcount 23 never reached
    EXPECT_EQ(high, 9);
    EXPECT_EQ(low, 9);  // round(8.6)
}

TEST(CannyThresholds, HugeRatiosStayInRange) {
    Hist({{7, 3}});
    int32_t high = -1, low = -1;
    ThresholdsFromHistogram(gHist, 1e300, 1e300, high, low);
    EXPECT_EQ(high, 6);
    EXPECT_EQ(low, 256);  // above every magnitude
    ThresholdsFromHistogram(gHist, -1e300, -1e300, high, low);
    EXPECT_EQ(high, 1);
    EXPECT_LE(low, 0);
}

// 7 x 5: a strong candidate A (1,1), B (2,2) and C (3,3) joined to it only
// diagonally, D (5,1) as weak as B but alone, F (1,3) touching B but below
// low. thigh 1 and tlow 0.6 give high 9 and low 6.
struct Traced {
    std::vector<uint8_t> edges;
    std::vector<int32_t> mag;
};
Traced DiagonalCase() {
    Traced t{std::vector<uint8_t>(35, 0), std::vector<int32_t>(35, 0)};
    auto set = [&](int x, int y, int m) {
        t.edges[x + y * 7] = 128;
        t.mag[x + y * 7] = m;
    };
    set(1, 1, 10);
    set(2, 2, 6);
    set(3, 3, 6);
    set(5, 1, 6);
    set(1, 3, 3);
    t.mag[4 + 2 * 7] = 200;  // strong magnitude, but no candidate
    return t;
}

TEST(CannyHysteresis, FollowsDiagonalNeighbours) {
    Traced t = DiagonalCase();
    int32_t high = 0, low = 0;
    ref::HysteresisThresholds(t.mag, {7, 5}, t.edges, 1.0, 0.6, high, low);
    EXPECT_EQ(high, 9);
    EXPECT_EQ(low, 6);
    ref::ApplyHysteresis(t.mag, {7, 5}, t.edges, 1.0, 0.6);
    std::vector<uint8_t> want(35, 0);
    want[1 + 7] = want[2 + 14] = want[3 + 21] = 255;
    EXPECT_EQ(t.edges, want);

    Traced f = DiagonalCase();
    std::vector<uint8_t> mag8(f.mag.begin(), f.mag.end());
    TraceEdges(mag8, {7, 5}, f.edges, high, low);
    EXPECT_EQ(f.edges, want);
}

// A weak line down the whole picture with its one strong pixel at the
// bottom: the following crosses every boundary between blocks of rows.
TEST(CannyHysteresis, FollowsAcrossManyBlocks) {
    const TImageSize s{5, 300};
    std::vector<uint8_t> edges(1500, 0), mag(1500, 0);
    for (int32_t y = 1; y < 299; ++y) {
        edges[2 + y * 5] = 128;
        mag[2 + y * 5] = y == 298 ? 9 : 6;
    }
    ThreadCount tc(8);
    TraceEdges(mag, s, edges, 9, 6);
    for (int32_t y = 0; y < 300; ++y) EXPECT_EQ(edges[2 + y * 5], y >= 1 && y < 299 ? 255 : 0) << y;
}

TEST(CannyHysteresis, ZeroHighRatioMakesEveryCandidateAnEdge) {
    const TImageSize s{40, 30};
    const auto grey = BlobGrey(s, 3);
    std::vector<uint8_t> smoothed, candidates(1200, 0), edges;
    std::vector<int32_t> dx, dy, mag;
    ref::GaussianSmooth(s, grey, 0.5, smoothed);
    ref::GradientMagnitude(s, smoothed, dx, dy, mag);
    ref::NonMaxSuppress(mag, dx, dy, s, candidates);
    size_t n = 0;
    for (uint8_t& c : candidates)
        if (c == 128) {
            c = 255;
            ++n;
        }
    ASSERT_GT(n, 20u);
    ref::CannyEdges(grey, s, edges, 0.5, 0.9, 0.0);
    EXPECT_EQ(edges, candidates);
    CannyEdges(grey, s, edges, 0.5, 0.9, 0.0);
    EXPECT_EQ(edges, candidates);
}

// ------------------------------------------------------- whole detector

TEST(CannyEdges, UniformAndNarrowPicturesHaveNoEdges) {
    std::vector<uint8_t> edges;
    CannyEdges(std::vector<uint8_t>(30 * 20, 9), {30, 20}, edges, 0.5, 0.9, 0.75);
    EXPECT_EQ(edges, std::vector<uint8_t>(600, 0));
    for (const TImageSize s : {TImageSize{2, 40}, TImageSize{40, 2}, TImageSize{1, 1}, TImageSize{0, 0}}) {
        const auto grey = RandomGrey(s, 5);
        CannyEdges(grey, s, edges, 0.5, 0.0, 0.0);
        EXPECT_EQ(edges, std::vector<uint8_t>(grey.size(), 0));
    }
}

TEST(CannyEdges, FastMatchesReferenceOnOddSizes) {
    const TImageSize sizes[] = {{1, 1}, {2, 5}, {3, 3}, {7, 5}, {64, 48}, {3, 50}, {50, 3}};
    struct P {
        double sigma, tlow, thigh;
    };
    const P params[] = {{0.5, 0.9, 0.75}, {0.05, 0.0, 0.0}, {5.05, 1.0, 1.0}, {1.5, 0.45, 0.3}, {0.05, 0.5, 0.5}};
    for (int threads : {1, 8, 0}) {
        ThreadCount tc(std::max(threads, 1));
        std::optional<PlainKernels> plain;
        if (threads == 0) plain.emplace();
        for (const TImageSize s : sizes) {
            for (int kind = 0; kind < 3; ++kind) {
                const auto grey = kind == 0   ? RandomGrey(s, 7 + s.Width)
                                  : kind == 1 ? BlobGrey(s, 11)
                                              : FaintGrey(s, 13);
                for (const P& p : params) {
                    std::vector<uint8_t> want, got;
                    ref::CannyEdges(grey, s, want, p.sigma, p.tlow, p.thigh);
                    EXPECT_TRUE(CannyEdges(grey, s, got, p.sigma, p.tlow, p.thigh));
                    EXPECT_EQ(got, want) << s.Width << "x" << s.Height << " sigma " << p.sigma << " threads "
                                         << threads;
                }
            }
        }
    }
}

TEST(CannyEdges, FastMatchesReferenceOnTheSample) {
    TImageSize s{};
    const auto grey = SampleGrey(s);
    std::vector<uint8_t> want;
    ref::CannyEdges(grey, s, want, SigmaOf(10), LowRatioOf(18), HighRatioOf(30));
    size_t n = 0;
    for (uint8_t e : want) n += e == 255;
    EXPECT_GT(n, 1000u);
    for (int threads : {1, 8}) {
        ThreadCount tc(threads);
        std::vector<uint8_t> got;
        CannyEdges(grey, s, got, SigmaOf(10), LowRatioOf(18), HighRatioOf(30));
        EXPECT_EQ(got, want) << "threads " << threads;
    }
    std::vector<uint8_t> wantWide, gotWide;
    ref::CannyEdges(grey, s, wantWide, SigmaOf(101), LowRatioOf(0), HighRatioOf(5));
    CannyEdges(grey, s, gotWide, SigmaOf(101), LowRatioOf(0), HighRatioOf(5));
    EXPECT_EQ(gotWide, wantWide);
}

TEST(CannyEdges, BadArgumentsRaise) {
    std::vector<uint8_t> edges;
    const std::vector<uint8_t> grey(12, 0);
    EXPECT_THROW(CannyEdges(grey, {5, 3}, edges, 0.5, 0.9, 0.75), EConvertError);
    EXPECT_THROW(CannyEdges(grey, {-4, -3}, edges, 0.5, 0.9, 0.75), EConvertError);
    EXPECT_THROW(CannyEdges(grey, {4, 3}, edges, 0.0, 0.9, 0.75), EConvertError);
    EXPECT_THROW(CannyEdges(grey, {4, 3}, edges, 0.5, std::nan(""), 0.75), EConvertError);
    EXPECT_THROW(CannyEdges(grey, {4, 3}, edges, 0.5, 0.9, HUGE_VAL), EConvertError);
    EXPECT_TRUE(CannyEdges(grey, {4, 3}, edges, 0.5, 0.9, 0.75));
}

}  // namespace
