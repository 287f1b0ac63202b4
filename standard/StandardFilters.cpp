#include "standard/StandardFilters.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <utility>

#include "app/PixelOps.h"
#include "platform/core/Numeric.h"
#include "platform/core/PixelBuffer.h"
#include "platform/core/Simd.h"
#include "standard/Canny.h"
#include "standard/CannyRows.h"

#if QUILLARC_X86
#include <immintrin.h>
#endif

namespace stdf {

int32_t CrayonCellSize = 0;

namespace {

constexpr int32_t kCellsPerAxis = 16;

// The colour cells of one run, numbered 0 .. Count - 1 (cells per axis
// cubed), and each channel value's share of its cell's number. Sizes
// below 16 would reach past the 16 cells per axis (and 0 would divide by
// zero), so they are taken as 16.
struct TCellGrid {
    int32_t PerAxis = 0, Count = 0;
    uint16_t Red[256], Green[256], Blue[256];
    // v div size = (v x Multiplier) >> 16 for every channel value v, when
    // VectorExact: the division as the vector registers do it.
    uint16_t Multiplier = 0;
    bool VectorExact = true;

    explicit TCellGrid(int32_t cellSize) {
        const int32_t size = std::max(cellSize, kCellsPerAxis);
        PerAxis = 255 / size + 1;
        Count = PerAxis * PerAxis * PerAxis;
        Multiplier = static_cast<uint16_t>(size > 255 ? 0 : (65536 + size - 1) / size);
        for (int32_t v = 0; v < 256; ++v) {
            const int32_t cell = num::Div(v, size);
            Red[v] = static_cast<uint16_t>(cell * PerAxis * PerAxis);
            Green[v] = static_cast<uint16_t>(cell * PerAxis);
            Blue[v] = static_cast<uint16_t>(cell);
            if (((v * int32_t(Multiplier)) >> 16) != cell) VectorExact = false;
        }
    }
    uint32_t Of(uint32_t p) const { return Red[pix::RedOf(p)] + Green[pix::GreenOf(p)] + Blue[pix::BlueOf(p)]; }
};

// One cell's sums in the order of a pixel's bytes, so that a pixel with its
// alpha byte set to 1 adds to all four at once.
struct alignas(16) TCellSums {
    uint32_t Blue, Green, Red, Count;
};

#if QUILLARC_X86
// The cell numbers of 8 pixels as 32-bit lanes.
QUILLARC_AVX2 inline __m256i CellsAvx2(__m256i p, __m256i multiplier, __m256i redBlue, __m256i green) {
    const __m256i lowBytes = _mm256_set1_epi32(0x00FF00FF);
    const __m256i br = _mm256_mulhi_epu16(_mm256_and_si256(p, lowBytes), multiplier);  // blue, red
    const __m256i ga = _mm256_mulhi_epu16(_mm256_and_si256(_mm256_srli_epi32(p, 8), lowBytes), multiplier);
    return _mm256_add_epi32(_mm256_madd_epi16(br, redBlue), _mm256_madd_epi16(ga, green));
}

// Eight result pixels at out: streamed past the cache (which the rest of
// the run would not find them in) where out is aligned for it.
QUILLARC_AVX2 inline void PutEight(uint32_t* out, __m256i v) {
    if ((reinterpret_cast<uintptr_t>(out) & 31) == 0)
        _mm256_stream_si256(reinterpret_cast<__m256i*>(out), v);
    else
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), v);
}

// The means of eight cells; one lookup when they are one cell, as most runs
// of eight pixels of a photograph are.
QUILLARC_AVX2 inline __m256i MeansAvx2(__m256i c, const uint32_t* mean) {
    const int32_t first = _mm256_cvtsi256_si32(c);
    if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(c, _mm256_set1_epi32(first))) == -1)
        return _mm256_set1_epi32(static_cast<int>(mean[first]));
    alignas(32) uint32_t cell[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(cell), c);
    return _mm256_setr_epi32(static_cast<int>(mean[cell[0]]), static_cast<int>(mean[cell[1]]),
                             static_cast<int>(mean[cell[2]]), static_cast<int>(mean[cell[3]]),
                             static_cast<int>(mean[cell[4]]), static_cast<int>(mean[cell[5]]),
                             static_cast<int>(mean[cell[6]]), static_cast<int>(mean[cell[7]]));
}

// A row of the result straight into out: first at x = 0, mean[cell of
// row[x]] after it. out may be row.
QUILLARC_AVX2 void MeanRowAvx2(const uint32_t* row, int32_t w, const TCellGrid& g, const uint32_t* mean, uint32_t first,
                               uint32_t* out) {
    const __m256i multiplier = _mm256_set1_epi16(static_cast<int16_t>(g.Multiplier));
    const __m256i redBlue = _mm256_set1_epi32((g.PerAxis * g.PerAxis) << 16 | 1);
    const __m256i green = _mm256_set1_epi32(g.PerAxis);
    int32_t x = 0;
    for (; x + 8 <= w; x += 8) {
        __m256i v = MeansAvx2(CellsAvx2(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x)), multiplier,
                                        redBlue, green),
                              mean);
        if (x == 0) v = _mm256_blend_epi32(v, _mm256_set1_epi32(static_cast<int>(first)), 1);
        PutEight(out + x, v);
    }
    for (; x < w; ++x) out[x] = x == 0 ? first : mean[g.Of(row[x])];
}

#endif

// Adds the pixels x0 .. w - 1 of a row to their cells; consecutive pixels
// go to four tables in turn, so that a run of one colour does not wait on
// its own sums.
void AddToCells(const uint32_t* row, int32_t x0, int32_t w, const TCellGrid& g, TCellSums* tables, int32_t count) {
    for (int32_t x = x0; x < w; ++x) {
        TCellSums* cell = tables + (x & 3) * count + g.Of(row[x]);
        const uint32_t p = (row[x] & pix::kColourMask) | 0x01000000u;  // alpha counts the pixel
#if defined(__SSE2__)
        const __m128i zero = _mm_setzero_si128();
        const __m128i v = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(p)), zero), zero);
        __m128i* c = reinterpret_cast<__m128i*>(cell);
        _mm_store_si128(c, _mm_add_epi32(_mm_load_si128(c), v));
#else
        cell->Blue += pix::BlueOf(p);
        cell->Green += pix::GreenOf(p);
        cell->Red += pix::RedOf(p);
        cell->Count += 1;
#endif
    }
}

#if QUILLARC_X86
// Pixel (blue, green, red, 1) added to a cell's sums.
QUILLARC_AVX2 inline void AddPixelAvx2(TCellSums* cell, uint32_t pixel) {
    const __m128i v = _mm_cvtepu8_epi32(_mm_cvtsi32_si128(static_cast<int>((pixel & pix::kColourMask) | 0x01000000u)));
    __m128i* c = reinterpret_cast<__m128i*>(cell);
    _mm_store_si128(c, _mm_add_epi32(_mm_load_si128(c), v));
}

// The sums of a run of pixels gathered on 16-bit lanes (see AddRowAvx2)
// added to their cell.
QUILLARC_AVX2 inline void AddRunAvx2(TCellSums* cell, __m256i lo, __m256i hi) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i s = _mm256_add_epi32(_mm256_add_epi32(_mm256_unpacklo_epi16(lo, zero), _mm256_unpackhi_epi16(lo, zero)),
                                       _mm256_add_epi32(_mm256_unpacklo_epi16(hi, zero), _mm256_unpackhi_epi16(hi, zero)));
    __m128i* c = reinterpret_cast<__m128i*>(cell);
    _mm_store_si128(c, _mm_add_epi32(_mm_load_si128(c),
                                     _mm_add_epi32(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1))));
}

// AddToCells for x = 1 .. w - 1. Most runs of eight pixels in a
// photograph lie in the cell of the pixel before them: their bytes (alpha
// made 1) add up on 16-bit lanes, per pixel position, and reach the cell's
// sums when the run ends (or before the lanes could overflow).
QUILLARC_AVX2 void AddRowAvx2(const uint32_t* row, int32_t w, const TCellGrid& g, TCellSums* tables, int32_t count,
                              uint8_t* cells) {
    const __m256i multiplier = _mm256_set1_epi16(static_cast<int16_t>(g.Multiplier));
    const __m256i redBlue = _mm256_set1_epi32((g.PerAxis * g.PerAxis) << 16 | 1);
    const __m256i green = _mm256_set1_epi32(g.PerAxis);
    const __m256i colour = _mm256_set1_epi32(static_cast<int>(pix::kColourMask));
    const __m256i counted = _mm256_set1_epi32(0x01000000);
    const __m256i zero = _mm256_setzero_si256();
    auto keep = [&](int32_t from, int32_t to) {
        if (cells)
            for (int32_t i = from; i < to; ++i) cells[i] = static_cast<uint8_t>(g.Of(row[i]));
    };
    AddToCells(row, 1, std::min(w, 8), g, tables, count);
    keep(1, std::min(w, 8));
    if (w <= 8) return;
    TCellSums* const t[4] = {tables, tables + count, tables + 2 * count, tables + 3 * count};
    uint32_t run = g.Of(row[7]);
    __m256i lo = zero, hi = zero;
    int32_t gathered = 0;  // runs of eight on the lanes; 256 x 255 still fits 16 bits
    int32_t x = 8;
    for (; x + 8 <= w; x += 8) {
        const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x));
        const __m256i c = CellsAvx2(p, multiplier, redBlue, green);
        if (cells) {
            const __m128i words = _mm_packus_epi32(_mm256_castsi256_si128(c), _mm256_extracti128_si256(c, 1));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(cells + x), _mm_packus_epi16(words, words));
        }
        if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(c, _mm256_set1_epi32(static_cast<int>(run)))) == -1) {
            const __m256i q = _mm256_or_si256(_mm256_and_si256(p, colour), counted);
            lo = _mm256_add_epi16(lo, _mm256_unpacklo_epi8(q, zero));
            hi = _mm256_add_epi16(hi, _mm256_unpackhi_epi8(q, zero));
            if (++gathered == 256) {
                AddRunAvx2(t[0] + run, lo, hi);
                lo = hi = zero;
                gathered = 0;
            }
            continue;
        }
        if (gathered > 0) {
            AddRunAvx2(t[0] + run, lo, hi);
            lo = hi = zero;
            gathered = 0;
        }
        alignas(32) uint32_t cell[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(cell), c);
        for (int32_t i = 0; i < 8; ++i) AddPixelAvx2(t[i & 3] + cell[i], row[x + i]);
        run = cell[7];
    }
    if (gathered > 0) AddRunAvx2(t[0] + run, lo, hi);
    AddToCells(row, x, w, g, tables, count);
    keep(x, w);
}

// The same from cell numbers the first pass kept (cells[0] unused).
QUILLARC_AVX2 void MeanRowFromCellsAvx2(const uint8_t* cells, int32_t w, const uint32_t* mean, uint32_t first,
                                        uint32_t* out) {
    int32_t x = 0;
    for (; x + 8 <= w; x += 8) {
        __m256i v = MeansAvx2(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cells + x))), mean);
        if (x == 0) v = _mm256_blend_epi32(v, _mm256_set1_epi32(static_cast<int>(first)), 1);
        PutEight(out + x, v);
    }
    for (; x < w; ++x) out[x] = x == 0 ? first : mean[cells[x]];
}
#endif

// The pen-and-ink result of one row: black where the plane row e holds an
// edge (a value of at least from), white elsewhere, with the alpha of src
// (or alpha itself when src is null).
void InkRow(const uint8_t* e, int32_t from, const uint32_t* src, uint32_t alpha, uint32_t* out, int32_t w) {
    int32_t x = 0;
#if defined(__SSE2__)
    if (from <= 255) {
        const __m128i level = _mm_set1_epi8(static_cast<char>(from));
        const __m128i white = _mm_set1_epi32(static_cast<int>(pix::kColourMask));
        const __m128i alphaMask = _mm_set1_epi32(static_cast<int>(pix::kAlphaMask));
        const __m128i same = _mm_set1_epi32(static_cast<int>(alpha));
        for (; x + 16 <= w; x += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(e + x));
            const __m128i edge = _mm_cmpeq_epi8(_mm_max_epu8(v, level), v);
            const __m128i lo = _mm_unpacklo_epi8(edge, edge), hi = _mm_unpackhi_epi8(edge, edge);
            const __m128i masks[4] = {_mm_unpacklo_epi16(lo, lo), _mm_unpackhi_epi16(lo, lo), _mm_unpacklo_epi16(hi, hi),
                                      _mm_unpackhi_epi16(hi, hi)};
            for (int32_t j = 0; j < 4; ++j) {
                const __m128i a =
                    src ? _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x + 4 * j)), alphaMask)
                        : same;
                const __m128i v = _mm_or_si128(a, _mm_andnot_si128(masks[j], white));
                __m128i* to = reinterpret_cast<__m128i*>(out + x + 4 * j);
                // Streamed past the cache, which the rest of the run would
                // not find the result in, where aligned for it.
                if ((reinterpret_cast<uintptr_t>(to) & 15) == 0)
                    _mm_stream_si128(to, v);
                else
                    _mm_storeu_si128(to, v);
            }
        }
    }
#endif
    for (; x < w; ++x) {
        const bool edge = from <= 255 && e[x] >= from;
        out[x] = (src ? src[x] & pix::kAlphaMask : alpha) | (edge ? 0u : pix::kColourMask);
    }
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
    const TCellGrid grid(CrayonCellSize);
    const int32_t count = grid.Count;
    const bool avx2 = simd::Avx2() && grid.VectorExact;
    // A separate result's rows hold each pixel's cell number (one byte, for
    // at most 256 cells) from the first pass to the second, which then
    // reads a quarter of the bytes.
    const bool keepCells = avx2 && apart && count <= 256;

    // Sums over the whole picture; integers, so the order in which the
    // blocks add theirs does not matter.
    std::vector<int64_t> table(4 * static_cast<size_t>(count), 0);
    std::mutex tableMutex;
    // A block sums into 32-bit cells, handed on to 64-bit ones before
    // 255 x its pixels could leave 32 bits.
    constexpr int64_t kPixelsPer32BitSum = int64_t(UINT32_MAX) / 255;
    const int64_t rowsPerFlush = std::max<int64_t>(1, kPixelsPer32BitSum / std::max(W, 1));
    pix::ForRowBlocks(1, H, &progress, [&](int32_t y0, int32_t y1) {
        std::vector<TCellSums> tables(4 * static_cast<size_t>(count), TCellSums{0, 0, 0, 0});
        std::vector<int64_t> sums(4 * static_cast<size_t>(count), 0);
        auto flush = [&] {
            for (int32_t t = 0; t < 4; ++t)
                for (int32_t i = 0; i < count; ++i) {
                    TCellSums& c = tables[static_cast<size_t>(t) * count + i];
                    int64_t* s = &sums[4 * static_cast<size_t>(i)];
                    s[0] += c.Blue, s[1] += c.Green, s[2] += c.Red, s[3] += c.Count;
                    c = {0, 0, 0, 0};
                }
        };
        int64_t rows = 0;
        for (int32_t y = y0; y < y1; ++y) {
            const uint32_t* row = PixelRow(std::as_const(Bmp), y);
#if QUILLARC_X86
            if (avx2)
                AddRowAvx2(row, W, grid, tables.data(), count, keepCells ? Dst.ScanLine(y) : nullptr);
            else
#endif
                AddToCells(row, 1, W, grid, tables.data(), count);
            if (++rows == rowsPerFlush) {
                flush();
                rows = 0;
            }
        }
        if (rows > 0) flush();
        std::lock_guard lock(tableMutex);
        for (size_t i = 0; i < table.size(); ++i) table[i] += sums[i];
    });
    pix::ResetProgress(&progress);

    std::vector<uint32_t> mean(static_cast<size_t>(count), 0);
    for (int32_t i = 0; i < count; ++i) {
        const int64_t* c = &table[4 * static_cast<size_t>(i)];
        if (c[3] > 0) mean[i] = pix::MakePixel(MeanOf(c[0], c[3]), MeanOf(c[1], c[3]), MeanOf(c[2], c[3]), 255);
    }

    // Each pixel is read before it is overwritten, so the copy the pass
    // would write into can be the picture itself.
    if (apart && H > 0) std::memcpy(Dst.ScanLine(0), Bmp.ScanLine(0), size_t(W) * 4);
    pix::ForRowBlocks(1, H, &progress, [&](int32_t y0, int32_t y1) {
        const int32_t w = W;  // a local: the stores below could otherwise alias it
        std::vector<uint8_t> cells(keepCells ? static_cast<size_t>(w) : 0);
        for (int32_t y = y0; y < y1; ++y) {
            const uint32_t* row = PixelRow(Bmp, y);
            uint32_t* out = PixelRow(Dst, y);
#if QUILLARC_X86
            if (keepCells) {
                std::memcpy(cells.data(), out, static_cast<size_t>(w));  // the row's cells, before it is written
                MeanRowFromCellsAvx2(cells.data(), w, mean.data(), row[0], out);
                continue;
            }
            if (avx2) {
                MeanRowAvx2(row, w, grid, mean.data(), row[0], out);
                continue;
            }
#endif
            const uint32_t first = row[0];
            for (int32_t x = 1; x < w; ++x) out[x] = mean[grid.Of(row[x])];
            out[0] = first;
        }
#if QUILLARC_X86
        if (avx2) _mm_sfence();  // the streamed rows are in memory before the block counts as done
#endif
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
    const bool apart = &Dst != &Bmp;
    if (apart) Dst.NewImage(W, H, TPixelFormat::pf32bit);
    progress.SetPosition(80);
    if (count == 0) {
        pix::ResetProgress(&progress);
        return;
    }

    // The detector's plane: a separate result's rows hold it (the first W
    // bytes of each) until they are written, so that the run needs no
    // memory beside its source and its result.
    TPixelBuffer own;
    uint8_t* plane = nullptr;
    ptrdiff_t stride = W;
    if (apart) {
        plane = Dst.ScanLine(0);
        stride = Dst.RowBytes();
    } else {
        own = TPixelBuffer::Allocate(count + canny::kPlaneSlack, false);
        plane = own.data();
    }
    // The grey rows come straight from the picture; on the way the AND and
    // OR of all its pixels tell whether one alpha holds everywhere.
    const canny::rows::TKernels& kernels = canny::rows::Kernels();
    std::atomic<uint32_t> andAll{~0u}, orAll{0u};
    const canny::TGreyRows grey = [&](int32_t y, uint8_t* out) {
        uint32_t a = ~0u, o = 0;
        kernels.Grey(PixelRow(Bmp, y), out, W, a, o);
        andAll.fetch_and(a, std::memory_order_relaxed);
        orAll.fetch_or(o, std::memory_order_relaxed);
    };
    const int32_t from = canny::Detect(TImageSize{W, H}, sigma, tlow, thigh, grey, plane, stride);
    // The detector reads every row unless the picture is too small for
    // edges; then the alpha is read from the picture.
    const bool oneAlpha = from != canny::kNoEdges && ((andAll.load() ^ orAll.load()) & pix::kAlphaMask) == 0;
    const uint32_t alpha = andAll.load() & pix::kAlphaMask;

    // Black edges on white. A plane row lies in the result's row of the
    // same number: it is copied out before the row is written.
    pix::ForRowBlocks(0, H, &progress, [&](int32_t y0, int32_t y1) {
        std::vector<uint8_t> edges(static_cast<size_t>(W));
        for (int32_t y = y0; y < y1; ++y) {
            if (from != canny::kNoEdges) std::memcpy(edges.data(), plane + y * stride, static_cast<size_t>(W));
            InkRow(edges.data(), from, oneAlpha ? nullptr : PixelRow(Bmp, y), alpha, PixelRow(Dst, y), W);
        }
#if defined(__SSE2__)
        _mm_sfence();  // the streamed rows are in memory before the block counts as done
#endif
    });
    pix::ResetProgress(&progress);
}

}  // namespace stdf
