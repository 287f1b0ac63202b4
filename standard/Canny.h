// The pen-and-ink edge detector's stages and the exact arithmetic they
// share. The fast detector (CannyEdges in StandardFilters.h) and the
// straightforward one in canny::ref must give the same edges for every
// picture and every thread count.
//
// Numbers: every expression is evaluated in long double (x86-64 extended,
// 64-bit mantissa) with its decimal constants at that precision, and rounded
// to double exactly where the detector keeps a double: the parameters, the
// kernel weights and their running sum, the smoothing accumulators and the
// horizontal pass's results, the interpolation weight and the two
// interpolated magnitudes. Real-to-integer conversions round to nearest,
// ties to even.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "standard/StandardFilters.h"

namespace stdf::canny {

// Slider positions to the detector's parameters.
double SigmaOf(int32_t trackBar4);      // pos x 0.05
double LowRatioOf(int32_t trackBar5);   // pos x 0.05
double HighRatioOf(int32_t trackBar6);  // pos x 0.025

// round(0.3 R + 0.59 G + 0.11 B), summed left to right.
inline uint8_t GreyOf(uint8_t red, uint8_t green, uint8_t blue) {
    const long double v = 0.3L * red + 0.59L * green + 0.11L * blue;
    // Ties to even in the default rounding mode; frndint inline, and the
    // integral result converts exactly.
    return static_cast<uint8_t>(static_cast<int32_t>(static_cast<double>(__builtin_rintl(v))));
}

// Largest sigma the detector accepts: the sliders reach 5.05; far larger
// values would only make the window, and the run, absurdly long.
constexpr double kMaxSigma = 100.0;

// Gaussian weights normalised to add up to 1; windowSize = 1 + 2 ceil(3 sigma).
// Raises EConvertError unless 0 < sigma <= kMaxSigma.
bool MakeGaussianKernel(double sigma, std::vector<double>& kernel, int32_t& windowSize);

// round(sqrt(dx dx + dy dy) + 0.5) clamped to 0..255.
int32_t MagnitudeOf(int32_t dx, int32_t dy);

// Non-maximum test of one interior pixel of magnitude m > 0 with gradient
// (dx, dy) against its eight neighbours' magnitudes.
struct TNeighbourMags {
    int32_t UpLeft, Up, UpRight, Left, Right, DownLeft, Down, DownRight;
};
bool IsLocalMaximum(int32_t m, int32_t dx, int32_t dy, const TNeighbourMags& n);

// High and low thresholds from the histogram of the candidates' magnitudes.
void ThresholdsFromHistogram(const int64_t (&hist)[256], double thigh, double tlow, int32_t& high,
                             int32_t& low);

// The same smoothing as the straightforward GaussianSmooth, computed in row
// strips on the worker threads (no full-size array of doubles).
void SmoothRows(const std::vector<uint8_t>& grey, TImageSize size, double sigma, std::vector<uint8_t>& smoothed);

// Candidates (128, else 0) of the non-maximum test with the gradients taken
// from the smoothed image, and the histogram of their magnitudes.
void SuppressNonMaxima(const std::vector<uint8_t>& smoothed, const std::vector<uint8_t>& mag, TImageSize size,
                       std::vector<uint8_t>& edges, int64_t (&hist)[256]);

// Marks 255 every candidate (128) of magnitude >= high and every candidate
// of magnitude >= low joined to one through such candidates (8-neighbours);
// everything else becomes 0. Candidates lie inside the one-pixel border and
// have a magnitude of at least 1, as the non-maximum test leaves them.
void TraceEdges(const std::vector<uint8_t>& mag, TImageSize size, std::vector<uint8_t>& edges, int32_t high,
                int32_t low);

// Raises EConvertError for arguments CannyEdges refuses.
void CheckArguments(TImageSize size, size_t greyValues, double sigma, double tlow, double thigh);

// Grey row y of the picture into grey (width bytes). Called from the worker
// threads, each row once or a few times, in no fixed order.
using TGreyRows = std::function<void(int32_t y, uint8_t* grey)>;

// Detect's answer when nothing can be an edge.
constexpr int32_t kNoEdges = 256;

// Bytes the detector may read past the last of the plane's rows (though
// never use).
constexpr size_t kPlaneSlack = 4;

// The whole detector on arguments CheckArguments accepts. The plane holds
// one byte per pixel, rows stride bytes apart (stride >= width), and
// kPlaneSlack bytes beyond the last row's width; it is left as it is for a
// picture less than 3 pixels wide or high, else every row is written. The
// edges are the pixels whose plane value is at least the value returned
// (kNoEdges: none).
int32_t Detect(TImageSize size, double sigma, double tlow, double thigh, const TGreyRows& grey, uint8_t* plane,
               ptrdiff_t stride);

namespace ref {

// The detector exactly as written: one thread, full-size arrays, every
// stage on its own.
bool GaussianSmooth(TImageSize size, const std::vector<uint8_t>& grey, double sigma, std::vector<uint8_t>& smoothed);
bool GradientMagnitude(TImageSize size, const std::vector<uint8_t>& smoothed, std::vector<int32_t>& dx,
                       std::vector<int32_t>& dy, std::vector<int32_t>& mag);
bool NonMaxSuppress(const std::vector<int32_t>& mag, const std::vector<int32_t>& dx, const std::vector<int32_t>& dy,
                    TImageSize size, std::vector<uint8_t>& edges);
bool HysteresisThresholds(const std::vector<int32_t>& mag, TImageSize size, const std::vector<uint8_t>& edges,
                          double thigh, double tlow, int32_t& high, int32_t& low);
bool ApplyHysteresis(const std::vector<int32_t>& mag, TImageSize size, std::vector<uint8_t>& edges, double thigh,
                     double tlow);
bool CannyEdges(const std::vector<uint8_t>& grey, TImageSize size, std::vector<uint8_t>& edges, double sigma,
                double tlow, double thigh);

}  // namespace ref
}  // namespace stdf::canny
