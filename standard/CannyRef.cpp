// The pen-and-ink detector the long way: one thread, full-size arrays,
// each stage exactly as the detector is described, and the explicit trace
// stack of width x height entries. The tests hold the fast detector to it.
#include <algorithm>
#include <cmath>

#include "platform/core/Numeric.h"
#include "standard/Canny.h"

namespace stdf::canny::ref {
namespace {

inline double Store(long double v) { return static_cast<double>(v); }

struct TTracePoint {
    int32_t X, Y;
};

size_t Area(TImageSize size) { return static_cast<size_t>(size.Width) * static_cast<size_t>(size.Height); }

void FollowEdges(int32_t y, int32_t x, int32_t low, TImageSize size, const std::vector<int32_t>& mag,
                 std::vector<uint8_t>& edges, std::vector<TTracePoint>& stack) {
    static const int32_t offsets[8][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}};
    const int32_t W = size.Width;
    size_t top = 1;  // entry 0 is never used
    stack[top] = {x, y};
    edges[x + static_cast<size_t>(y) * W] = 255;
    while (top > 0) {
        const TTracePoint p = stack[top];
        --top;
        for (const auto& o : offsets) {
            const int32_t nx = p.X + o[0], ny = p.Y + o[1];
            const size_t i = nx + static_cast<size_t>(ny) * W;
            if (edges[i] == 128 && mag[i] >= low) {
                edges[i] = 255;
                ++top;
                stack[top] = {nx, ny};
            }
        }
    }
}

}  // namespace

bool GaussianSmooth(TImageSize size, const std::vector<uint8_t>& grey, double sigma, std::vector<uint8_t>& smoothed) {
    const int32_t W = size.Width, H = size.Height;
    std::vector<double> w;
    int32_t n = 0;
    MakeGaussianKernel(sigma, w, n);
    const int32_t c = n / 2;
    std::vector<double> temp(Area(size));
    smoothed.assign(Area(size), 0);
    for (int32_t y = 0; y < H; ++y) {
        for (int32_t x = 0; x < W; ++x) {
            double dot = 0.0, norm = 0.0;
            for (int32_t k = -c; k <= c; ++k) {
                if (x + k < 0 || x + k >= W) continue;
                dot = Store(dot + static_cast<long double>(grey[(x + k) + static_cast<size_t>(y) * W]) * w[c + k]);
                norm = Store(static_cast<long double>(norm) + w[c + k]);
            }
            temp[x + static_cast<size_t>(y) * W] = Store(static_cast<long double>(dot) / norm);
        }
    }
    for (int32_t x = 0; x < W; ++x) {
        for (int32_t y = 0; y < H; ++y) {
            double dot = 0.0, norm = 0.0;
            for (int32_t k = -c; k <= c; ++k) {
                if (y + k < 0 || y + k >= H) continue;
                dot = Store(dot + static_cast<long double>(temp[x + static_cast<size_t>(y + k) * W]) * w[c + k]);
                norm = Store(static_cast<long double>(norm) + w[c + k]);
            }
            smoothed[x + static_cast<size_t>(y) * W] =
                static_cast<uint8_t>(num::RoundEven(static_cast<long double>(dot) / norm));
        }
    }
    return true;
}

bool GradientMagnitude(TImageSize size, const std::vector<uint8_t>& smoothed, std::vector<int32_t>& dx,
                       std::vector<int32_t>& dy, std::vector<int32_t>& mag) {
    const int32_t W = size.Width, H = size.Height;
    dx.assign(Area(size), 0);
    dy.assign(Area(size), 0);
    mag.assign(Area(size), 0);
    auto at = [&](int32_t x, int32_t y) { return static_cast<int32_t>(smoothed[x + static_cast<size_t>(y) * W]); };
    for (int32_t y = 1; y < H - 1; ++y) {
        for (int32_t x = 1; x < W - 1; ++x) {
            dx[x + static_cast<size_t>(y) * W] = at(x + 1, y) - at(x - 1, y);
            dy[x + static_cast<size_t>(y) * W] = at(x, y + 1) - at(x, y - 1);
        }
    }
    for (size_t i = 0; i < Area(size); ++i) mag[i] = MagnitudeOf(dx[i], dy[i]);
    return true;
}

bool NonMaxSuppress(const std::vector<int32_t>& mag, const std::vector<int32_t>& dx, const std::vector<int32_t>& dy,
                    TImageSize size, std::vector<uint8_t>& edges) {
    const int32_t W = size.Width, H = size.Height;
    auto at = [&](int32_t x, int32_t y) { return x + static_cast<size_t>(y) * W; };
    for (int32_t x = 0; x < W; ++x) {
        edges[at(x, 0)] = 0;
        if (H > 0) edges[at(x, H - 1)] = 0;
    }
    for (int32_t y = 0; y < H; ++y) {
        edges[at(0, y)] = 0;
        if (W > 0) edges[at(W - 1, y)] = 0;
    }
    for (int32_t y = 1; y < H - 1; ++y) {
        for (int32_t x = 1; x < W - 1; ++x) {
            const int32_t m = mag[at(x, y)];
            if (m == 0) {
                edges[at(x, y)] = 0;
                continue;
            }
            const TNeighbourMags n{mag[at(x - 1, y - 1)], mag[at(x, y - 1)], mag[at(x + 1, y - 1)],
                                   mag[at(x - 1, y)],     mag[at(x + 1, y)], mag[at(x - 1, y + 1)],
                                   mag[at(x, y + 1)],     mag[at(x + 1, y + 1)]};
            edges[at(x, y)] = IsLocalMaximum(m, dx[at(x, y)], dy[at(x, y)], n) ? 128 : 0;
        }
    }
    return true;
}

bool HysteresisThresholds(const std::vector<int32_t>& mag, TImageSize size, const std::vector<uint8_t>& edges,
                          double thigh, double tlow, int32_t& high, int32_t& low) {
    int64_t hist[256] = {};
    for (size_t i = 0; i < Area(size); ++i)
        if (edges[i] == 128) hist[mag[i]] += 1;
    ThresholdsFromHistogram(hist, thigh, tlow, high, low);
    return true;
}

bool ApplyHysteresis(const std::vector<int32_t>& mag, TImageSize size, std::vector<uint8_t>& edges, double thigh,
                     double tlow) {
    int32_t high = 1, low = 0;
    HysteresisThresholds(mag, size, edges, thigh, tlow, high, low);
    // One spare entry, since entry 0 is never used.
    std::vector<TTracePoint> EdgeTraceStack(Area(size) + 1);
    for (int32_t y = 0; y < size.Height; ++y) {
        for (int32_t x = 0; x < size.Width; ++x) {
            const size_t i = x + static_cast<size_t>(y) * size.Width;
            if (edges[i] == 128 && mag[i] >= high) FollowEdges(y, x, low, size, mag, edges, EdgeTraceStack);
        }
    }
    for (uint8_t& e : edges)
        if (e != 255) e = 0;
    return true;
}

bool CannyEdges(const std::vector<uint8_t>& grey, TImageSize size, std::vector<uint8_t>& edges, double sigma,
                double tlow, double thigh) {
    std::vector<uint8_t> smoothed;
    std::vector<int32_t> dx, dy, mag;
    edges.assign(Area(size), 0);
    GaussianSmooth(size, grey, sigma, smoothed);
    GradientMagnitude(size, smoothed, dx, dy, mag);
    NonMaxSuppress(mag, dx, dy, size, edges);
    ApplyHysteresis(mag, size, edges, thigh, tlow);
    return true;
}

}  // namespace stdf::canny::ref
