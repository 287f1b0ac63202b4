// Pixel helpers the sketch filters of both dialogs share: row access, the
// row-parallel loop with its progress steps, 3 x 3 neighbourhoods, exact
// rounded division and a reusable output buffer.
#pragma once

#include <cstdint>
#include <functional>

#include "app/Image32.h"
#include "platform/core/Numeric.h"
#include "platform/core/Parallel.h"
#include "platform/core/Progress.h"

namespace pix {

// Byte offsets of the channels inside a 32-bit pixel (blue, green, red, alpha).
constexpr int32_t kBlue = 0, kGreen = 1, kRed = 2, kAlpha = 3;
constexpr uint32_t kAlphaMask = 0xFF000000u;
constexpr uint32_t kColourMask = 0x00FFFFFFu;

constexpr uint32_t MakePixel(uint8_t b, uint8_t g, uint8_t r, uint8_t a) {
    return uint32_t(b) | (uint32_t(g) << 8) | (uint32_t(r) << 16) | (uint32_t(a) << 24);
}
constexpr uint8_t BlueOf(uint32_t p) { return uint8_t(p); }
constexpr uint8_t GreenOf(uint32_t p) { return uint8_t(p >> 8); }
constexpr uint8_t RedOf(uint32_t p) { return uint8_t(p >> 16); }
constexpr uint8_t AlphaOf(uint32_t p) { return uint8_t(p >> 24); }

inline uint8_t* ByteRow(TBitmap& bmp, int32_t y) { return bmp.ScanLine(y); }
inline const uint8_t* ByteRow(const TBitmap& bmp, int32_t y) { return bmp.ScanLine(y); }

// Sets 32 bits per pixel unless the bitmap already has it (a conversion
// from 24 bits leaves alpha 0, as the platform does).
inline void Ensure32(TBitmap& bmp) {
    if (bmp.PixelFormat() != TPixelFormat::pf32bit) bmp.SetPixelFormat(TPixelFormat::pf32bit);
}

// TBitmap32::BlendPixel's rule, inline for the row loops.
inline void Blend(uint32_t& dest, uint32_t src) {
    const int32_t a = static_cast<int32_t>(src >> 24);
    if (a == 255) {
        dest = src;
        return;
    }
    if (a == 0 || dest == src) return;
    uint32_t out = dest & kAlphaMask;
    for (int shift = 0; shift < 24; shift += 8) {
        const int32_t s = static_cast<int32_t>((src >> shift) & 0xFF);
        const int32_t d = static_cast<int32_t>((dest >> shift) & 0xFF);
        // Truncating division keeps the sum between d and s: no clamp needed.
        const int32_t v = d + num::Div((s - d) * a, 255);
        out |= static_cast<uint32_t>(v) << shift;
    }
    dest = out;
}

// Round(n / d) to the nearest integer, ties to even, exact for every n and
// every d > 0 (the real quotient of two integers is a tie exactly when the
// integer remainder is half of d).
constexpr int32_t RoundDiv(int32_t n, int32_t d) {
    int32_t q = n / d;
    int32_t r = n % d;
    if (r < 0) {  // floor division, so the remainder is in 0..d-1
        q -= 1;
        r += d;
    }
    const int64_t twice = int64_t(r) * 2;
    if (twice > d || (twice == d && (q & 1))) ++q;
    return q;
}

// Runs body(begin, end) over the rows [first, last) on the worker threads in
// contiguous blocks and raises progress by one per finished row, always from
// the calling thread. Each row must be computed from inputs no other row
// writes, so the bytes never depend on the thread count. Leaves the bar
// where it is; ResetProgress ends a pixel pass.
template <class Body>
void ForRowBlocks(int32_t first, int32_t last, IProgressBar* progress, const Body& body) {
    if (last <= first) return;
    std::function<void(int32_t)> onRows;
    if (progress) onRows = [progress](int32_t rows) { progress->StepBy(rows); };
    par::ForRows(
        last - first, [&](int32_t begin, int32_t end) { body(first + begin, first + end); }, onRows);
}

// The same, one call of body(y) per row.
template <class Body>
void ForEachRow(int32_t first, int32_t last, IProgressBar* progress, const Body& body) {
    ForRowBlocks(first, last, progress, [&](int32_t begin, int32_t end) {
        for (int32_t y = begin; y < end; ++y) body(y);
    });
}

inline void ResetProgress(IProgressBar* progress) {
    if (progress) progress->SetPosition(0);
}

// One channel's 3 x 3 neighbourhood: rows q above and below, columns p to
// either side (step = 4 p bytes). Indices are byte offsets into the middle
// row (4 x + channel); the caller keeps them inside the picture.
struct Window3 {
    const uint8_t* up;
    const uint8_t* mid;
    const uint8_t* down;
    int32_t step;

    int32_t UL(int32_t i) const { return up[i - step]; }
    int32_t U(int32_t i) const { return up[i]; }
    int32_t UR(int32_t i) const { return up[i + step]; }
    int32_t L(int32_t i) const { return mid[i - step]; }
    int32_t C(int32_t i) const { return mid[i]; }
    int32_t R(int32_t i) const { return mid[i + step]; }
    int32_t DL(int32_t i) const { return down[i - step]; }
    int32_t D(int32_t i) const { return down[i]; }
    int32_t DR(int32_t i) const { return down[i + step]; }
};

// The window around row y of a 32-bit bitmap; rows y - q and y + q must exist.
inline Window3 WindowAt(const TBitmap& src, int32_t y, int32_t q = 1, int32_t p = 1) {
    return {src.ScanLine(y - q), src.ScanLine(y), src.ScanLine(y + q), 4 * p};
}

// Copies the colour bytes of the border from the pixels just inside it,
// alpha untouched: for rows 1..H-2 pixel 0 takes pixel 1 and pixel W-1 takes
// pixel W-2; then row 0 takes row 1 and row H-1 takes row H-2 (so corners
// take their diagonal neighbours). Needs at least 2 x 2 pixels; smaller
// bitmaps are left alone. 32-bit bitmaps only.
void FillBorderColours(TBitmap& bmp);

// A 32-bit bitmap of the given size, reused between filters on the calling
// thread so that an output pass allocates nothing; its pixels are whatever
// an earlier pass left, so a filter writes every byte of it. One filter uses
// it at a time, and never across a call into another filter.
TBitmap32& Scratch(int32_t width, int32_t height);
// bmp (32 bits, the scratch's size) takes the scratch's pixels; the scratch
// keeps bmp's old ones for the next pass.
void CommitScratch(TBitmap& bmp);
// Frees the scratch's pixels (for the end of a conversion).
void ReleaseScratch();

}  // namespace pix
