#include "app/SketchFilters.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "app/Hsl.h"
#include "app/PixelOps.h"
#include "platform/core/Simd.h"

// Row kernels are flat loops over the bytes of a row (alpha bytes included,
// restored afterwards), so that the compiler can run them on vector
// registers (QUILLARC_VECTORIZE).

namespace sketch {
namespace {

using LD = long double;
constexpr LD kPi = 3.14159265358979323846264338327950288L;

// src itself when it holds 32 bits per pixel, else a 32-bit copy kept in
// holder (the filters read every input as 4-byte pixels).
const TBitmap& Readable32(const TBitmap& src, std::unique_ptr<TBitmap32>& holder) {
    if (src.PixelFormat() == TPixelFormat::pf32bit) return src;
    holder = std::make_unique<TBitmap32>();
    holder->Assign(&src);
    return *holder;
}

// Alpha of each pixel in [x0, x1) back from the source row.
void KeepAlpha(uint8_t* out, const uint8_t* src, int32_t x0, int32_t x1) {
    for (int32_t x = x0; x < x1; ++x) out[4 * x + pix::kAlpha] = src[4 * x + pix::kAlpha];
}

// Rows [first, last) of a filter's output are those it processes; the
// others, and the columns outside [x0, x1) of processed rows, keep the
// input.
struct Region {
    int32_t first, last, x0, x1;
};

// The processed area of the filters whose window reaches `reach` rows and
// `reachX` columns: rows from `reach` to H - reach - 1, columns alike.
Region Interior(const TBitmap& bmp, int32_t reach, int32_t reachX) {
    const int64_t h = bmp.Height(), w = bmp.Width();
    Region r{0, 0, 0, 0};
    if (reach < 0 || reachX < 0 || h - reach <= reach) return r;
    r.first = reach;
    r.last = static_cast<int32_t>(h - reach);
    if (w - reachX > reachX) {
        r.x0 = reachX;
        r.x1 = static_cast<int32_t>(w - reachX);
    }
    return r;
}

// Runs one 3 x 3 pass from src into the scratch and hands the scratch to
// bmp: kernel(window, out, i0, i1) computes the bytes [i0, i1) of a
// processed row; everything outside the region is copied.
template <class Kernel>
void WindowPass(TBitmap32& bmp, const TBitmap& src, const Region& region, int32_t q, int32_t p,
                IProgressBar& progress, const Kernel& kernel) {
    if (src.Empty() || region.first >= region.last) return;  // nothing changes
    const int32_t w = src.Width(), h = src.Height();
    TBitmap32& out = pix::Scratch(w, h);
    const size_t rowBytes = size_t(w) * 4;
    auto copyRows = [&](int32_t begin, int32_t end) {
        for (int32_t y = begin; y < end; ++y) std::memcpy(out.ScanLine(y), src.ScanLine(y), rowBytes);
    };
    pix::ForRowBlocks(0, region.first, nullptr, copyRows);
    pix::ForEachRow(region.first, region.last, &progress, [&](int32_t y) {
        uint8_t* o = out.ScanLine(y);
        const pix::Window3 win = pix::WindowAt(src, y, q, p);
        std::memcpy(o, win.mid, rowBytes);
        if (region.x1 > region.x0) {
            kernel(win, o, 4 * region.x0, 4 * region.x1);
            KeepAlpha(o, win.mid, region.x0, region.x1);
        }
    });
    pix::ForRowBlocks(region.last, h, nullptr, copyRows);
    pix::CommitScratch(bmp);
}

// ------------------------------------------------------------ kernels

QUILLARC_VECTORIZE
void SobelRow(const pix::Window3& win, uint8_t* __restrict out, int32_t i0, int32_t i1, bool invert) {
    const uint8_t* __restrict up = win.up;
    const uint8_t* __restrict mid = win.mid;
    const uint8_t* __restrict down = win.down;
    const uint8_t flip = invert ? 255 : 0;
    for (int32_t i = i0; i < i1; ++i) {
        const int32_t ul = up[i - 4], u = up[i], ur = up[i + 4];
        const int32_t l = mid[i - 4], r = mid[i + 4];
        const int32_t dl = down[i - 4], d = down[i], dr = down[i + 4];
        const int32_t gx = -ul + ur - 2 * l + 2 * r - dl + dr;
        const int32_t gy = -ul - u - ur + dl + d + dr;
        const int32_t gc = ul + l + dl - ur - r - dr;
        // The largest of the three clamped gradients is the clamped largest.
        out[i] = uint8_t(num::ClampByte(std::max(gx, std::max(gy, gc))) ^ flip);
    }
}

QUILLARC_VECTORIZE
void SharpenRow(const pix::Window3& win, uint8_t* __restrict out, int32_t i0, int32_t i1) {
    const uint8_t* __restrict up = win.up;
    const uint8_t* __restrict mid = win.mid;
    const uint8_t* __restrict down = win.down;
    const int32_t s = win.step;
    for (int32_t i = i0; i < i1; ++i) {
        const int32_t v = 5 * mid[i] - up[i] - mid[i - s] - mid[i + s] - down[i];
        out[i] = num::ClampByte(v);
    }
}

inline void Order(uint8_t& a, uint8_t& b) {
    const uint8_t lo = std::min(a, b), hi = std::max(a, b);
    a = lo;
    b = hi;
}

// Ties of a rounded quotient q + r/d go to even: up when r > d/2, or when
// r = d/2 and q is odd; written as one comparison so it vectorises.
constexpr uint16_t RoundUp(uint16_t q, uint16_t r, uint16_t half) { return uint16_t(r + (q & 1) > half); }

// soften's value needs only the median and the sum of the nine samples:
// (5 (sum - s4) + 60 s4) / 100 = (5 sum + 55 s4) / 100, at most 25500.
QUILLARC_VECTORIZE
void SoftenRow(const pix::Window3& win, uint8_t* __restrict out, int32_t i0, int32_t i1) {
    const uint8_t* __restrict up = win.up;
    const uint8_t* __restrict mid = win.mid;
    const uint8_t* __restrict down = win.down;
    const int32_t s = win.step;
    for (int32_t i = i0; i < i1; ++i) {
        uint8_t p0 = up[i - s], p1 = up[i], p2 = up[i + s];
        uint8_t p3 = mid[i - s], p4 = mid[i], p5 = mid[i + s];
        uint8_t p6 = down[i - s], p7 = down[i], p8 = down[i + s];
        const uint16_t sum = uint16_t(p0 + p1 + p2 + p3 + p4 + p5 + p6 + p7 + p8);
        // Median of nine by a fixed exchange network.
        Order(p1, p2), Order(p4, p5), Order(p7, p8);
        Order(p0, p1), Order(p3, p4), Order(p6, p7);
        Order(p1, p2), Order(p4, p5), Order(p7, p8);
        Order(p0, p3), Order(p5, p8), Order(p4, p7);
        Order(p3, p6), Order(p1, p4), Order(p2, p5);
        Order(p4, p7), Order(p4, p2), Order(p6, p4);
        Order(p4, p2);
        const uint16_t n = uint16_t(5 * sum + 55 * p4);
        const uint16_t q = uint16_t(n / 100), r = uint16_t(n - 100 * q);
        const uint16_t v = uint16_t(q + RoundUp(q, r, 50) + 10);
        out[i] = uint8_t(std::min<uint16_t>(255, v));
    }
}

QUILLARC_VECTORIZE
void BlurRow(const pix::Window3& win, uint8_t* __restrict out, int32_t i0, int32_t i1) {
    const uint8_t* __restrict up = win.up;
    const uint8_t* __restrict mid = win.mid;
    const uint8_t* __restrict down = win.down;
    const int32_t s = win.step;
    for (int32_t i = i0; i < i1; ++i) {
        const uint16_t sum = uint16_t(up[i - s] + 2 * up[i] + up[i + s] + 2 * mid[i - s] + 4 * mid[i] +
                                      2 * mid[i + s] + down[i - s] + 2 * down[i] + down[i + s]);
        // Round(sum / 16); sum <= 4080, so the result needs no clamp.
        const uint16_t q = sum >> 4, r = sum & 15;
        out[i] = uint8_t(q + RoundUp(q, r, 8));
    }
}

// ------------------------------------------------------------ pencil curve

struct PencilCurve {
    int32_t angle;
    LD t;

    explicit PencilCurve(int32_t a) : angle(a), t(std::tan(a * kPi / 180)) {}

    uint32_t Apply(int32_t r, int32_t g, int32_t b) const {
        int32_t h, s, l;
        RGBToHSL(r, g, b, h, s, l);
        int32_t l2 = angle < 45 ? num::Round32(t * (l - 55)) + 100 - angle : num::Round32(t * (l - angle - 5)) + 50;
        l2 = std::min(100, std::max(0, l2));
        // A hue rounded up to 360 is red; HSLToRGB would answer black.
        if (h == 360) h = 0;
        HSLToRGB(h, s, l2, r, g, b);
        return pix::MakePixel(uint8_t(b), uint8_t(g), uint8_t(r), 0);
    }
};

// Per-pixel filters from Src to Dst. Dst is written directly when it is
// Src itself or already a 32-bit bitmap of Src's size (each pixel depends
// on its own input only), else through the scratch.
template <class PixelFn>
void MapPixels(TBitmap32& Src, TBitmap32& Dst, IProgressBar* progress, const PixelFn& fn) {
    std::unique_ptr<TBitmap32> held;
    const TBitmap& src = Readable32(Src, held);
    const int32_t w = src.Width(), h = src.Height();
    const bool direct = &src == static_cast<TBitmap*>(&Dst) ||
                        (Dst.PixelFormat() == TPixelFormat::pf32bit && Dst.Width() == w && Dst.Height() == h);
    if (src.Empty()) {
        if (&src != static_cast<TBitmap*>(&Dst)) Dst.Assign(&src);
        return;
    }
    TBitmap& out = direct ? static_cast<TBitmap&>(Dst) : pix::Scratch(w, h);
    pix::ForEachRow(0, h, progress, [&](int32_t y) {
        const uint32_t* s = PixelRow(src, y);
        uint32_t* d = PixelRow(out, y);
        for (int32_t x = 0; x < w; ++x) d[x] = fn(s[x]);
    });
    if (direct)
        Dst.Changed(&Dst);
    else
        pix::CommitScratch(Dst);
}

}  // namespace

void SobelColours(const TBitmap& Src, int32_t y, uint8_t* out) {
    SobelRow(pix::WindowAt(Src, y), out, 4, 4 * (Src.Width() - 1), true);
}

std::array<uint32_t, 256> PencilGreys(int32_t Angle) {
    const PencilCurve curve(Angle);
    std::array<uint32_t, 256> grey;
    for (int32_t v = 0; v < 256; ++v) grey[v] = curve.Apply(v, v, v);
    return grey;
}

void convertimg1(int32_t Angle, TBitmap32& Src, TBitmap32& Dst, IProgressBar& progress) {
    const PencilCurve curve(Angle);
    // The sketch layer is grey: one table entry per level covers it.
    const std::array<uint32_t, 256> grey = PencilGreys(Angle);
    MapPixels(Src, Dst, &progress, [&](uint32_t p) {
        const uint8_t b = pix::BlueOf(p), g = pix::GreenOf(p), r = pix::RedOf(p);
        const uint32_t colour = (r == g && g == b) ? grey[r] : curve.Apply(r, g, b);
        return colour | (p & pix::kAlphaMask);
    });
    progress.SetPosition(0);
}

void twovaluetopen(int32_t Threshold, TBitmap32& Src, TBitmap32& Dst) {
    MapPixels(Src, Dst, nullptr, [Threshold](uint32_t p) -> uint32_t {
        return int32_t(pix::RedOf(p)) > Threshold ? pix::kColourMask : pix::kAlphaMask;
    });
}

void picsobel(TBitmap32& Bmp, IProgressBar& progress) {
    picsobel(Bmp, Rect(0, 0, Bmp.Width(), Bmp.Height()), progress);
}

void picsobel(TBitmap32& Bmp, const TRect& invertRect, IProgressBar& progress) {
    pix::Ensure32(Bmp);
    if (Bmp.Empty()) {
        progress.SetPosition(0);
        return;
    }
    const int32_t w = Bmp.Width(), h = Bmp.Height();
    // Inverting the whole picture is folded into the pass (colour bytes
    // only, as the rectangle inversion does); any other rectangle is
    // inverted on the canvas afterwards.
    TRect covered;
    IntersectRect(covered, invertRect, Rect(0, 0, w, h));
    const bool invertAll = covered == Rect(0, 0, w, h) && w > 0 && h > 0;
    const uint8_t flip = invertAll ? 255 : 0;

    const Region region = (w >= 3 && h >= 3) ? Region{1, h - 1, 1, w - 1} : Region{0, 0, 0, 0};
    TBitmap32& out = pix::Scratch(w, h);
    auto copyRows = [&](int32_t begin, int32_t end) {
        for (int32_t y = begin; y < end; ++y) {
            const uint8_t* s = Bmp.ScanLine(y);
            uint8_t* o = out.ScanLine(y);
            for (int32_t i = 0; i < 4 * w; ++i) o[i] = (i & 3) == pix::kAlpha ? s[i] : uint8_t(s[i] ^ flip);
        }
    };
    pix::ForRowBlocks(0, region.first, nullptr, copyRows);
    pix::ForEachRow(region.first, region.last, &progress, [&](int32_t y) {
        uint8_t* o = out.ScanLine(y);
        const pix::Window3 win = pix::WindowAt(Bmp, y);
        // Border pixels: alpha kept, colours replaced by the border fill.
        std::memcpy(o, win.mid, 4);
        std::memcpy(o + 4 * (w - 1), win.mid + 4 * (w - 1), 4);
        SobelRow(win, o, 4, 4 * (w - 1), invertAll);
        KeepAlpha(o, win.mid, 1, w - 1);
    });
    pix::ForRowBlocks(region.last, h, nullptr, copyRows);
    progress.SetPosition(0);
    pix::FillBorderColours(out);
    pix::CommitScratch(Bmp);
    if (!invertAll && !covered.IsEmpty()) Bmp.Canvas().InvertRect(invertRect);
}

void sharpen(int32_t A, TBitmap32& Bmp, IProgressBar& progress) {
    pix::Ensure32(Bmp);
    WindowPass(Bmp, Bmp, Interior(Bmp, A, A), A, A, progress, SharpenRow);
    progress.SetPosition(0);
}

void soften(int32_t A, TBitmap32& Bmp, IProgressBar& progress) {
    pix::Ensure32(Bmp);
    WindowPass(Bmp, Bmp, Interior(Bmp, A, A), A, A, progress, SoftenRow);
    progress.SetPosition(0);
}

void dosoften(int32_t A, TBitmap32& Bmp, IProgressBar& progress) {
    soften(A - 1, Bmp, progress);
    sharpen(A, Bmp, progress);
}

void dosoften(int32_t A, const TBitmap& Src, TBitmap32& Dst, IProgressBar& progress) {
    if (&Src == static_cast<const TBitmap*>(&Dst) || Src.PixelFormat() != TPixelFormat::pf32bit) {
        Dst.Assign(&Src);
        dosoften(A, Dst, progress);
        return;
    }
    const int32_t w = Src.Width(), h = Src.Height();
    Dst.NewImage(w, h, TPixelFormat::pf32bit);
    if (w == 0 || h == 0) {
        progress.SetPosition(0);
        return;
    }
    // Each block of output rows softens the rows its sharpening reads (its
    // own and A on either side) into a buffer of its own, so the softened
    // picture never exists whole.
    const Region soft = Interior(Src, A - 1, A - 1), sharp = Interior(Src, A, A);
    const size_t rowBytes = size_t(w) * 4;
    auto softened = [&](int32_t y, uint8_t* out) {
        const uint8_t* in = Src.ScanLine(y);
        std::memcpy(out, in, rowBytes);
        if (y >= soft.first && y < soft.last && soft.x1 > soft.x0) {
            SoftenRow(pix::WindowAt(Src, y, A - 1, A - 1), out, 4 * soft.x0, 4 * soft.x1);
            KeepAlpha(out, in, soft.x0, soft.x1);
        }
    };
    const int32_t reach = std::max(A, 0);
    pix::ForRowBlocks(0, h, &progress, [&](int32_t begin, int32_t end) {
        const int32_t first = std::max(0, begin - reach), last = std::min(h, end + reach);
        thread_local std::vector<uint8_t> rows;
        rows.resize(size_t(last - first) * rowBytes);
        for (int32_t y = first; y < last; ++y) softened(y, rows.data() + size_t(y - first) * rowBytes);
        auto at = [&](int32_t y) { return rows.data() + size_t(y - first) * rowBytes; };
        for (int32_t y = begin; y < end; ++y) {
            uint8_t* o = Dst.ScanLine(y);
            std::memcpy(o, at(y), rowBytes);
            if (y >= sharp.first && y < sharp.last && sharp.x1 > sharp.x0) {
                const pix::Window3 win{at(y - A), at(y), at(y + A), 4 * A};
                SharpenRow(win, o, 4 * sharp.x0, 4 * sharp.x1);
                KeepAlpha(o, win.mid, sharp.x0, sharp.x1);
            }
        }
    });
    progress.SetPosition(0);
}

void Blur(int32_t A, TBitmap32& Bmp, IProgressBar& progress) {
    pix::Ensure32(Bmp);
    // A distance below 1 would read the rows above the top and below the
    // bottom; such a blur processes nothing.
    const Region region = A >= 1 ? Interior(Bmp, A, A) : Region{0, 0, 0, 0};
    WindowPass(Bmp, Bmp, region, 1, A, progress, BlurRow);
    progress.SetPosition(0);
}

void Exposure(TBitmap32& Bmp, int32_t Threshold, IProgressBar& progress) {
    Bmp.SetPixelFormat(TPixelFormat::pf24bit);
    std::array<uint8_t, 256> solarise;
    for (int32_t c = 0; c < 256; ++c) solarise[c] = uint8_t(c < Threshold ? 255 - c : c);
    const int32_t n = 3 * Bmp.Width();
    pix::ForEachRow(0, Bmp.Height(), &progress, [&](int32_t y) {
        uint8_t* row = Bmp.ScanLine(y);
        for (int32_t i = 0; i < n; ++i) row[i] = solarise[row[i]];
    });
    progress.SetPosition(0);
}

void SelectionSort(int32_t (&Samples)[9], int32_t Last) {
    Last = std::min(Last, 8);
    for (int32_t i = 0; i < Last; ++i)
        for (int32_t j = Last; j >= i + 1; --j)
            if (Samples[j] < Samples[i]) std::swap(Samples[i], Samples[j]);
    const int32_t* s = Samples;
    const int32_t n = 5 * (s[0] + s[1] + s[2] + s[3]) + 60 * s[4] + 5 * (s[5] + s[6] + s[7] + s[8]);
    Samples[4] = pix::RoundDiv(n, 100) + 10;
}

}  // namespace sketch
