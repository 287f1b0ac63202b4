#include "standard/StandardFiltersRef.h"

#include <algorithm>

#include "platform/core/Numeric.h"
#include "standard/Canny.h"

namespace stdf::ref {
namespace {

struct TCell {
    int64_t Blue = 0, Green = 0, Red = 0, Count = 0;
};

uint8_t Mean(int64_t sum, int64_t count) {
    return static_cast<uint8_t>(num::RoundEven(static_cast<long double>(sum) / static_cast<long double>(count)));
}

}  // namespace

void crayonpic(TBitmap32& Bmp, IProgressBar& progress) {
    TBitmap32 work;
    work.Assign(&Bmp);
    const int32_t size = std::max(CrayonCellSize, 16);
    std::vector<TCell> cells(16 * 16 * 16);
    auto cellOf = [&](const uint8_t* p) { return (p[2] / size) * 256 + (p[1] / size) * 16 + p[0] / size; };
    for (int32_t y = 1; y < Bmp.Height(); ++y) {
        for (int32_t x = 1; x < Bmp.Width(); ++x) {
            const uint8_t* p = Bmp.ScanLine(y) + 4 * x;
            TCell& c = cells[cellOf(p)];
            c.Count += 1;
            c.Blue += p[0];
            c.Green += p[1];
            c.Red += p[2];
        }
        progress.StepBy(1);
    }
    progress.SetPosition(0);
    for (TCell& c : cells)
        if (c.Count > 0) c.Blue = Mean(c.Blue, c.Count), c.Green = Mean(c.Green, c.Count), c.Red = Mean(c.Red, c.Count);
    for (int32_t y = 1; y < Bmp.Height(); ++y) {
        for (int32_t x = 1; x < Bmp.Width(); ++x) {
            const TCell& c = cells[cellOf(Bmp.ScanLine(y) + 4 * x)];
            uint8_t* w = work.ScanLine(y) + 4 * x;
            w[0] = uint8_t(c.Blue), w[1] = uint8_t(c.Green), w[2] = uint8_t(c.Red), w[3] = 255;
        }
        progress.StepBy(1);
    }
    progress.SetPosition(0);
    Bmp.Assign(&work);
}

void PenInkBmp(TBitmap32& Bmp, const TPenInkParams& params, IProgressBar& progress) {
    TBitmap32 work;
    work.Assign(&Bmp);
    const int32_t W = work.Width(), H = work.Height();
    std::vector<uint8_t> grey(static_cast<size_t>(W) * H), edges;
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x) {
            const uint8_t* p = work.ScanLine(y) + 4 * x;
            grey[x + static_cast<size_t>(y) * W] = canny::GreyOf(p[2], p[1], p[0]);
        }
    const double sigma = canny::SigmaOf(std::clamp(params.TrackBar4, 1, 101));
    const double tlow = canny::LowRatioOf(std::clamp(params.TrackBar5, 0, 20));
    const double thigh = canny::HighRatioOf(std::clamp(params.TrackBar6, 0, 40));
    progress.SetPosition(80);
    canny::ref::CannyEdges(grey, TImageSize{W, H}, edges, sigma, tlow, thigh);
    for (int32_t y = 0; y < H; ++y) {
        for (int32_t x = 0; x < W; ++x) {
            uint8_t* p = work.ScanLine(y) + 4 * x;
            p[0] = p[1] = p[2] = edges[x + static_cast<size_t>(y) * W];
        }
        progress.StepBy(1);
    }
    work.Canvas().InvertRect(Rect(0, 0, W, H));
    Bmp.Assign(&work);
    progress.SetPosition(0);
}

}  // namespace stdf::ref
