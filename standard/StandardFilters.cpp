#include "standard/StandardFilters.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <utility>

#include "app/PixelOps.h"
#include "app/SketchLayer.h"
#include "platform/core/Numeric.h"
#include "standard/Canny.h"

namespace stdf {

int32_t CrayonCellSize = 0;

namespace {

constexpr int32_t kCellsPerAxis = 16;
constexpr int32_t kCellCount = kCellsPerAxis * kCellsPerAxis * kCellsPerAxis;

// Sums are 64-bit: a large picture of one colour would overflow 32 bits
// (255 x 12 million pixels is 3e9), and the means are the same wherever 32
// bits would have held them.
struct TColourCell {
    int64_t Blue = 0, Green = 0, Red = 0, Count = 0;
};

// Cell index per channel value. Sizes below 16 would reach past the table
// (and 0 would divide by zero), so they are taken as 16.
struct TCellIndex {
    int32_t Red[256], Green[256], Blue[256];

    explicit TCellIndex(int32_t cellSize) {
        const int32_t size = std::max(cellSize, kCellsPerAxis);
        for (int32_t v = 0; v < 256; ++v) {
            const int32_t cell = num::Div(v, size);
            Red[v] = cell * kCellsPerAxis * kCellsPerAxis;
            Green[v] = cell * kCellsPerAxis;
            Blue[v] = cell;
        }
    }
    int32_t Of(uint32_t p) const { return Red[pix::RedOf(p)] + Green[pix::GreenOf(p)] + Blue[pix::BlueOf(p)]; }
};

#if defined(__GNUC__) && !defined(__clang__)
#define QUILLARC_VECTORIZE __attribute__((optimize("tree-vectorize", "vect-cost-model=dynamic")))
#else
#define QUILLARC_VECTORIZE
#endif

// round(0.3 R + 0.59 G + 0.11 B) of a row in integers; tie[x] is set where
// the pixel sits on a decimal tie, which only the extended constants
// decide. Returns whether any does.
QUILLARC_VECTORIZE
bool GreyRow(const uint32_t* __restrict row, uint8_t* __restrict grey, uint8_t* __restrict tie, int32_t w) {
    int32_t ties = 0;
    for (int32_t x = 0; x < w; ++x) {
        const uint32_t p = row[x];
        const int32_t hundredths = 30 * int32_t((p >> 16) & 0xFF) + 59 * int32_t((p >> 8) & 0xFF) + 11 * int32_t(p & 0xFF);
        const int32_t q = hundredths / 100, rest = hundredths - 100 * q;
        tie[x] = rest == 50;
        ties |= rest == 50;
        grey[x] = static_cast<uint8_t>(q + (rest > 50));
    }
    return ties != 0;
}

uint8_t MeanOf(int64_t sum, int64_t count) {
    return static_cast<uint8_t>(num::RoundEven(static_cast<long double>(sum) / static_cast<long double>(count)));
}

}  // namespace

void crayonpic(TBitmap32& Bmp, IProgressBar& progress) {
    pix::Ensure32(Bmp);
    crayonpic(Bmp, Bmp, progress);
}

void crayonpic(const TBitmap& Bmp, TBitmap32& Dst, IProgressBar& progress) {
    const int32_t W = Bmp.Width(), H = Bmp.Height();
    const bool apart = &Dst != &Bmp;
    if (apart) Dst.NewImage(W, H, TPixelFormat::pf32bit);
    const TCellIndex index(CrayonCellSize);

    std::vector<TColourCell> table(kCellCount);
    std::mutex tableMutex;
    // Each block sums into 32-bit cells (a quarter of the table's size, so
    // it stays in the nearest cache), handed on to the 64-bit table before
    // 255 x pixels could leave 32 bits.
    constexpr int64_t kPixelsPer32BitSum = int64_t(UINT32_MAX) / 255;
    const int64_t rowsPerFlush = std::max<int64_t>(1, kPixelsPer32BitSum / std::max(W, 1));
    pix::ForRowBlocks(1, H, &progress, [&](int32_t y0, int32_t y1) {
        struct Cell32 {
            uint32_t Blue, Green, Red, Count;
        };
        std::vector<Cell32> part(kCellCount);
        auto flush = [&] {
            // Integer sums: the order in which the blocks arrive does not matter.
            std::lock_guard lock(tableMutex);
            for (int32_t i = 0; i < kCellCount; ++i) {
                table[i].Blue += part[i].Blue;
                table[i].Green += part[i].Green;
                table[i].Red += part[i].Red;
                table[i].Count += part[i].Count;
                part[i] = {0, 0, 0, 0};
            }
        };
        int64_t rows = 0;
        for (int32_t y = y0; y < y1; ++y) {
            const uint32_t* row = PixelRow(std::as_const(Bmp), y);
            for (int32_t x = 1; x < W; ++x) {
                const uint32_t p = row[x];
                Cell32& cell = part[index.Of(p)];
                cell.Blue += pix::BlueOf(p);
                cell.Green += pix::GreenOf(p);
                cell.Red += pix::RedOf(p);
                cell.Count += 1;
            }
            if (++rows == rowsPerFlush) {
                flush();
                rows = 0;
            }
        }
        if (rows > 0) flush();
    });
    pix::ResetProgress(&progress);

    std::vector<uint32_t> mean(kCellCount, 0);
    for (int32_t i = 0; i < kCellCount; ++i) {
        const TColourCell& c = table[i];
        if (c.Count > 0)
            mean[i] = pix::MakePixel(MeanOf(c.Blue, c.Count), MeanOf(c.Green, c.Count), MeanOf(c.Red, c.Count), 255);
    }

    // Each pixel is read before it is overwritten, so the copy the pass
    // would write into can be the picture itself.
    if (apart && H > 0) std::memcpy(Dst.ScanLine(0), Bmp.ScanLine(0), size_t(W) * 4);
    pix::ForEachRow(1, H, &progress, [&](int32_t y) {
        const uint32_t* row = PixelRow(Bmp, y);
        uint32_t* out = PixelRow(Dst, y);
        if (W > 0) out[0] = row[0];
        for (int32_t x = 1; x < W; ++x) out[x] = mean[index.Of(row[x])];
    });
    pix::ResetProgress(&progress);
}

void PenInkBmp(TBitmap32& Bmp, const TPenInkParams& params, IProgressBar& progress) {
    pix::Ensure32(Bmp);
    PenInkBmp(Bmp, Bmp, params, progress);
}

void PenInkBmp(const TBitmap& Bmp, TBitmap32& Dst, const TPenInkParams& params, IProgressBar& progress) {
    const int32_t W = Bmp.Width(), H = Bmp.Height();
    const size_t count = static_cast<size_t>(W) * static_cast<size_t>(H);
    // Positions outside the sliders' ranges are taken as the trackbars would.
    const double sigma = canny::SigmaOf(std::clamp(params.TrackBar4, 1, 101));
    const double tlow = canny::LowRatioOf(std::clamp(params.TrackBar5, 0, 20));
    const double thigh = canny::HighRatioOf(std::clamp(params.TrackBar6, 0, 40));
    canny::CheckArguments(TImageSize{W, H}, count, sigma, tlow, thigh);

    // The detector's four planes of W x H bytes fill exactly the block of a
    // 32-bit picture: a separate result's own block serves as their space,
    // so that the run needs no memory beside its source and its result.
    const bool apart = &Dst != &Bmp;
    TPixelBuffer own;
    uint8_t* planes = nullptr;
    if (apart) {
        Dst.NewImage(W, H, TPixelFormat::pf32bit);
        if (count > 0) planes = Dst.ScanLine(0);
    } else {
        own = TPixelBuffer::Allocate(4 * count, false);
        planes = own.data();
    }
    if (count == 0) {
        progress.SetPosition(80);
        pix::ResetProgress(&progress);
        return;
    }
    pix::ForEachRow(0, H, nullptr, [&](int32_t y) {
        const uint32_t* row = PixelRow(Bmp, y);
        uint8_t* g = planes + static_cast<size_t>(y) * W;
        // canny::GreyOf's value, in integers away from decimal ties.
        thread_local std::vector<uint8_t> tie;
        tie.resize(static_cast<size_t>(W));
        if (GreyRow(row, g, tie.data(), W))
            for (int32_t x = 0; x < W; ++x)
                if (tie[x]) g[x] = sketch::GreyValue(pix::RedOf(row[x]), pix::GreenOf(row[x]), pix::BlueOf(row[x]));
    });
    progress.SetPosition(80);
    canny::CannyPlanes(planes, TImageSize{W, H}, sigma, tlow, thigh, false);

    // Edge value into the colour bytes, then inverted (c -> 255 - c) over
    // the whole picture: black lines on white; alpha from the source.
    auto writeRows = [&](int32_t first, int32_t last, const uint8_t* edges) {
        pix::ForEachRow(first, last, &progress, [&](int32_t y) {
            const uint32_t* row = PixelRow(Bmp, y);
            uint32_t* out = PixelRow(Dst, y);
            const uint8_t* e = edges + static_cast<size_t>(y - first) * W;
            for (int32_t x = 0; x < W; ++x) {
                // Edges (255) turn black, everything else white.
                const uint32_t v = e[x] == 255 ? 0u : 0x00FFFFFFu;
                out[x] = (row[x] & pix::kAlphaMask) | v;
            }
        });
    };
    const uint8_t* edges = planes + 3 * count;
    if (!apart) {
        writeRows(0, H, edges);
    } else {
        // The edges are the block's last quarter: result rows above
        // three quarters of the height lie before it; the rows below are
        // written from a copy of their edges.
        const int32_t split = static_cast<int32_t>(static_cast<int64_t>(H) * 3 / 4);
        std::vector<uint8_t> tail(edges + static_cast<size_t>(split) * W, edges + count);
        writeRows(0, split, edges);
        writeRows(split, H, tail.data());
    }
    pix::ResetProgress(&progress);
}

}  // namespace stdf
