#include "professional/ProfessionalFilters.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "app/Hsl.h"
#include "app/PixelOps.h"
#include "app/Random.h"
#include "platform/core/PixelBuffer.h"
#include "platform/core/Simd.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if QUILLARC_X86
#include <immintrin.h>
#endif

// Every filter computes each output row from rows nobody writes during the
// pass (the input, or the pixel itself for the point filters), so the bytes
// never depend on how the rows are spread over the threads. Working copies
// are not made: the point filters work in place, the neighbourhood filters
// write one reused output buffer and swap it in.

namespace pro {
namespace {

using pix::kAlphaMask;
using pix::kColourMask;

constexpr uint32_t Pack(int32_t b, int32_t g, int32_t r, uint32_t alpha) {
    return pix::MakePixel(static_cast<uint8_t>(b), static_cast<uint8_t>(g), static_cast<uint8_t>(r),
                          static_cast<uint8_t>(alpha));
}

// Clamp of a wide sum (a caller's kernel may be large enough to leave int32).
constexpr int32_t ClampWide(int64_t v) { return v < 0 ? 0 : (v > 255 ? 255 : static_cast<int32_t>(v)); }

inline void CopyRow(TBitmap& dst, const TBitmap& src, int32_t y, int32_t width) {
    std::memcpy(dst.ScanLine(y), src.ScanLine(y), static_cast<size_t>(width) * 4);
}

// ------------------------------------------------------------ hsladjust

uint32_t AdjustColour(uint32_t pixel, int32_t H, int32_t S, int32_t L) {
    int32_t h = 0, s = 0, l = 0;
    RGBToHSL(pix::RedOf(pixel), pix::GreenOf(pixel), pix::BlueOf(pixel), h, s, l);
    // 64-bit sums so no argument can overflow. The mod truncates as the
    // platform's does; a hue of 360 from RGBToHSL folds to 0 here.
    const int64_t hue = (int64_t(h) + H + 180) % 360;
    const int64_t sat = std::clamp<int64_t>(int64_t(s) + S - 100, 0, 100);
    const int64_t lig = std::clamp<int64_t>(int64_t(l) + L - 100, 0, 100);
    int32_t r = 0, g = 0, b = 0;
    HSLToRGB(static_cast<int32_t>(hue), static_cast<int32_t>(sat), static_cast<int32_t>(lig), r, g, b);
    return Pack(b, g, r, 255);
}

// ------------------------------------------------------------ colorzone

// colorzone's levels of a row. The thresholds lie 51 apart from the
// offset on, so a channel value v reaches k = (v - offset + 51) div 51 of
// them, and its level 51 k - 26 clamped to 0 .. 255 (0, 25, 76, 127, 178,
// 229, 255).
struct TZone {
    std::array<uint8_t, 256> Lut;
    int32_t Offset;
    explicit TZone(int32_t offset) : Lut(ZoneLevels(offset)), Offset(offset) {}
    // The division by 51 on 16-bit lanes is exact up to 357: offsets of
    // -51 .. 51 keep v - offset + 51 within 0 .. 357.
    bool Vector() const { return Offset > -52 && Offset < 52; }
};

// out[x] := the levels of in[x] with alpha 255, for x = 0 .. w - 1.
void ZoneRow(const uint32_t* in, uint32_t* out, int32_t w, const TZone& z) {
    int32_t x = 0;
#if defined(__SSE2__)
    if (z.Vector()) {
        const __m128i zero = _mm_setzero_si128();
        const __m128i shift = _mm_set1_epi16(static_cast<int16_t>(51 - z.Offset));
        const __m128i by51 = _mm_set1_epi16(1286);  // (u x 1286) >> 16 = u div 51 for u <= 357
        const __m128i times51 = _mm_set1_epi16(51);
        const __m128i minus26 = _mm_set1_epi16(26);
        const __m128i colour = _mm_set1_epi32(static_cast<int>(kColourMask));
        const __m128i alpha = _mm_set1_epi32(static_cast<int>(kAlphaMask));
        auto levels = [&](__m128i v16) {
            const __m128i k = _mm_mulhi_epu16(_mm_add_epi16(v16, shift), by51);
            return _mm_sub_epi16(_mm_mullo_epi16(k, times51), minus26);
        };
        for (; x + 4 <= w; x += 4) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x));
            // The unsigned pack clamps to 0 .. 255.
            const __m128i l = _mm_packus_epi16(levels(_mm_unpacklo_epi8(v, zero)), levels(_mm_unpackhi_epi8(v, zero)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_or_si128(_mm_and_si128(l, colour), alpha));
        }
    }
#endif
    for (; x < w; ++x) {
        const uint32_t p = in[x];
        out[x] = Pack(z.Lut[pix::BlueOf(p)], z.Lut[pix::GreenOf(p)], z.Lut[pix::RedOf(p)], 255);
    }
}

#if QUILLARC_X86
// The levels of sixteen channel values on 16-bit lanes (see TZone).
QUILLARC_AVX2 inline __m256i ZoneLevelsAvx2(__m256i v16, __m256i shift) {
    const __m256i k = _mm256_mulhi_epu16(_mm256_add_epi16(v16, shift), _mm256_set1_epi16(1286));
    return _mm256_sub_epi16(_mm256_mullo_epi16(k, _mm256_set1_epi16(51)), _mm256_set1_epi16(26));
}

// A row of the result made straight in out: in[0] as it is, the levels of
// the rest with alpha 255, whole lines streamed past the cache. out may be
// in. For offsets where TZone::Vector().
QUILLARC_AVX2 void ZoneRowAvx2(const uint32_t* in, uint32_t* out, int32_t w, const TZone& z) {
    if (w == 0) return;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i shift = _mm256_set1_epi16(static_cast<int16_t>(51 - z.Offset));
    const __m256i colour = _mm256_set1_epi32(static_cast<int>(kColourMask));
    const __m256i alpha = _mm256_set1_epi32(static_cast<int>(kAlphaMask));
    const uint32_t first = in[0];
    auto one = [&](int32_t x) {
        const uint32_t p = in[x];
        out[x] = x == 0 ? first : Pack(z.Lut[pix::BlueOf(p)], z.Lut[pix::GreenOf(p)], z.Lut[pix::RedOf(p)], 255);
    };
    int32_t x = 0;
    for (; x < w && (reinterpret_cast<uintptr_t>(out + x) & 31) != 0; ++x) one(x);
    for (; x + 8 <= w; x += 8) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + x));
        // The unsigned pack clamps to 0 .. 255.
        __m256i l = _mm256_packus_epi16(ZoneLevelsAvx2(_mm256_unpacklo_epi8(v, zero), shift),
                                        ZoneLevelsAvx2(_mm256_unpackhi_epi8(v, zero), shift));
        l = _mm256_or_si256(_mm256_and_si256(l, colour), alpha);
        if (x == 0) l = _mm256_blend_epi32(l, _mm256_set1_epi32(static_cast<int>(first)), 1);
        _mm256_stream_si256(reinterpret_cast<__m256i*>(out + x), l);
    }
    for (; x < w; ++x) one(x);
}
#endif

// ------------------------------------------------------------ Brume

// Scatters row y (x = 1..W-1) starting from seed, returning the seed after
// the row's 2 (W - 1) draws.
uint32_t ScatterRow(const TBitmap& src, uint32_t* out, int32_t y, int32_t width, int32_t height, int64_t N,
                    uint32_t seed) {
    const uint8_t* base = src.ScanLine(0);
    const size_t stride = static_cast<size_t>(src.RowBytes());
    // The range Random sees: N + 3 as the generator's unsigned argument.
    const uint32_t range = static_cast<uint32_t>(N + 3);
    const int64_t lastRow = height - 1, lastCol = width - 1;
    for (int32_t x = 1; x < width; ++x) {
        seed = rnd::Next(seed);
        const int64_t dy = int64_t(rnd::Draw(seed, range)) - N;
        seed = rnd::Next(seed);
        const int64_t dx = int64_t(rnd::Draw(seed, range)) - N;
        const int64_t sy = std::clamp<int64_t>(y + dy, 0, lastRow);
        const int64_t sx = std::clamp<int64_t>(x + dx, 0, lastCol);
        const auto* srcRow = reinterpret_cast<const uint32_t*>(base + static_cast<size_t>(sy) * stride);
        out[x] = (srcRow[sx] & kColourMask) | kAlphaMask;
    }
    return seed;
}

// ------------------------------------------------------------ 3 x 3 filters

// Copies the rows and columns outside the interior from src into out.
void CopyBorder(TBitmap& out, const TBitmap& src, int32_t width, int32_t height) {
    CopyRow(out, src, 0, width);
    CopyRow(out, src, height - 1, width);
    for (int32_t y = 1; y < height - 1; ++y) {
        uint32_t* o = PixelRow(out, y);
        const uint32_t* s = PixelRow(src, y);
        o[0] = s[0];
        o[width - 1] = s[width - 1];
    }
}

// One interior row of Convolve. Acc is int32_t when no kernel sum can leave
// its range, else int64_t.
template <class Acc>
void ConvolveRow(const int32_t (&k)[9], int32_t divisor, const pix::Window3& w, uint8_t* o, int32_t width) {
    for (int32_t x = 1; x < width - 1; ++x) {
        const int32_t i = 4 * x;
        for (int32_t c = 0; c < 3; ++c) {
            const int32_t j = i + c;
            const Acc sum = Acc(k[0]) * w.UL(j) + Acc(k[1]) * w.U(j) + Acc(k[2]) * w.UR(j) +
                            Acc(k[3]) * w.L(j) + Acc(k[4]) * w.C(j) + Acc(k[5]) * w.R(j) +
                            Acc(k[6]) * w.DL(j) + Acc(k[7]) * w.D(j) + Acc(k[8]) * w.DR(j);
            o[j] = static_cast<uint8_t>(ClampWide(sum / divisor));  // truncates toward zero
        }
        o[i + pix::kAlpha] = 255;
    }
}

// The edge styles' gradient of one channel at byte offset j.
struct PopArtEdge {
    static int32_t At(const pix::Window3& w, int32_t j) {
        const int32_t gv = num::Clamp255(w.DL(j) + 2 * w.D(j) + w.DR(j) - w.UL(j) - 2 * w.U(j) - w.UR(j));
        const int32_t gh = num::Clamp255(w.UR(j) + 2 * w.R(j) + w.DR(j) - w.UL(j) - 2 * w.L(j) - w.DL(j));
        return std::max(gv, gh);
    }
};
struct AbstractEdge {
    static int32_t At(const pix::Window3& w, int32_t j) {
        return num::Clamp255(w.UL(j) + w.L(j) + w.DL(j) - w.UR(j) - w.R(j) - w.DR(j));
    }
};

// fringe2 and fringe3: the edge value of every interior channel, the border
// filled from the pixels inside it, and every colour byte inverted. The
// inversion is the platform's rectangle inversion, which leaves alpha alone:
// interior alpha stays 0 and the border keeps its input alpha.
template <class Edge>
void EdgeStyle(TBitmap32& Bmp, IProgressBar& progress) {
    pix::Ensure32(Bmp);
    const int32_t width = Bmp.Width(), height = Bmp.Height();
    if (width < 1 || height < 1) {
        pix::ResetProgress(&progress);
        return;
    }
    TBitmap32& out = pix::Scratch(width, height);
    if (width >= 3 && height >= 3) {
        pix::ForEachRow(1, height - 1, &progress, [&](int32_t y) {
            const pix::Window3 w = pix::WindowAt(Bmp, y);
            uint8_t* o = out.ScanLine(y);
            for (int32_t x = 1; x < width - 1; ++x) {
                const int32_t i = 4 * x;
                for (int32_t c = 0; c < 3; ++c) o[i + c] = static_cast<uint8_t>(255 - Edge::At(w, i + c));
                o[i + pix::kAlpha] = 0;
            }
            // Border columns: colour of the inner neighbour, own alpha.
            uint32_t* ow = reinterpret_cast<uint32_t*>(o);
            const uint32_t* in = PixelRow(Bmp, y);
            ow[0] = (ow[1] & kColourMask) | (in[0] & kAlphaMask);
            ow[width - 1] = (ow[width - 2] & kColourMask) | (in[width - 1] & kAlphaMask);
        });
        pix::ResetProgress(&progress);
        // Whole top and bottom rows, corners included, from the rows inside.
        auto fillRow = [&](int32_t to, int32_t from) {
            uint32_t* o = PixelRow(out, to);
            const uint32_t* f = PixelRow(out, from);
            const uint32_t* in = PixelRow(Bmp, to);
            for (int32_t x = 0; x < width; ++x) o[x] = (f[x] & kColourMask) | (in[x] & kAlphaMask);
        };
        fillRow(0, 1);
        fillRow(height - 1, height - 2);
    } else {
        // No interior: only the border fill (which needs two rows and two
        // columns to stay inside the picture) and the inversion.
        pix::ResetProgress(&progress);
        for (int32_t y = 0; y < height; ++y) CopyRow(out, Bmp, y, width);
        pix::FillBorderColours(out);
        for (int32_t y = 0; y < height; ++y) {
            uint32_t* o = PixelRow(out, y);
            for (int32_t x = 0; x < width; ++x) o[x] ^= kColourMask;
        }
    }
    pix::CommitScratch(Bmp);
}

}  // namespace

THslRule::THslRule(int32_t H, int32_t S, int32_t L) : h_(H), s_(S), l_(L), slots_(new Slot[size_t(1) << kBits]) {
    for (size_t i = 0; i < (size_t(1) << kBits); ++i) slots_[i] = {kEmpty, 0};
}

uint32_t THslRule::Compute(uint32_t colour) const { return AdjustColour(colour, h_, s_, l_); }

std::array<uint8_t, 256> ZoneLevels(int32_t offset) {
    std::array<uint8_t, 256> lut{};
    const int64_t o = offset;  // Offset + 255 must not wrap
    for (int32_t v = 0; v < 256; ++v) {
        uint8_t level = 255;
        if (v < o) level = 0;
        else if (v < o + 51) level = 25;
        else if (v < o + 102) level = 76;
        else if (v < o + 153) level = 127;
        else if (v < o + 204) level = 178;
        else if (v < o + 255) level = 229;
        lut[static_cast<size_t>(v)] = level;
    }
    return lut;
}

void TPointChain::SetZone(int32_t offset) {
    Zone = true;
    ZoneLut = ZoneLevels(offset);
}

void TPointChain::SetExposure(int32_t threshold) {
    Exposure = true;
    for (int32_t c = 0; c < 256; ++c) Solarise[c] = uint8_t(c < threshold ? 255 - c : c);
}

void TPointChain::SetHsl(int32_t h, int32_t s, int32_t l) {
    Hsl = true;
    H = h, S = s, L = l;
}

TPointChain::Fn::Fn(const TPointChain& chain) : c_(&chain) {
    if (chain.Hsl) rule_ = std::make_unique<THslRule>(chain.H, chain.S, chain.L);
}

void hsladjust(int32_t H, int32_t S, int32_t L, TBitmap32& Bmp, IProgressBar& progress) {
    pix::Ensure32(Bmp);
    const int32_t width = Bmp.Width();
    pix::ForRowBlocks(0, Bmp.Height(), &progress, [&](int32_t begin, int32_t end) {
        THslRule rule(H, S, L);  // one per block: no sharing between threads
        for (int32_t y = begin; y < end; ++y) {
            uint32_t* row = PixelRow(Bmp, y);
            for (int32_t x = 0; x < width; ++x) row[x] = rule(row[x]);
        }
    });
    pix::ResetProgress(&progress);
    Bmp.Changed(&Bmp);
}

void colorzone(int32_t Offset, TBitmap32& Bmp, IProgressBar& progress) {
    pix::Ensure32(Bmp);
    colorzone(Offset, Bmp, Bmp, progress);
    Bmp.Changed(&Bmp);
}

void colorzone(int32_t Offset, const TBitmap& Src, TBitmap32& Dst, IProgressBar& progress) {
    const int32_t width = Src.Width(), height = Src.Height();
    if (&Dst != &Src) {
        Dst.NewImage(width, height, TPixelFormat::pf32bit);
        if (height > 0) CopyRow(Dst, Src, 0, width);
    }
    const TZone zone(Offset);
    // Row 0 and column 0 keep their input, alpha included.
#if QUILLARC_X86
    if (simd::Avx2() && zone.Vector()) {
        pix::ForRowBlocks(1, height, &progress, [&](int32_t begin, int32_t end) {
            for (int32_t y = begin; y < end; ++y) ZoneRowAvx2(PixelRow(Src, y), PixelRow(Dst, y), width, zone);
            _mm_sfence();  // the streamed rows are in memory before the block counts as done
        });
        pix::ResetProgress(&progress);
        return;
    }
#endif
    // The rows are made in a small buffer and streamed into the result.
    pix::ForRowBlocks(1, height, &progress, [&](int32_t begin, int32_t end) {
        std::vector<uint32_t> line(static_cast<size_t>(width));
        for (int32_t y = begin; y < end; ++y) {
            const uint32_t* row = PixelRow(Src, y);
            ZoneRow(row, line.data(), width, zone);
            if (width > 0) line[0] = row[0];
            pixmem::Stream(Dst.ScanLine(y), reinterpret_cast<const uint8_t*>(line.data()), 4 * static_cast<size_t>(width));
        }
    });
    pix::ResetProgress(&progress);
}

void Brume(int32_t N, TBitmap32& Bmp, IProgressBar& progress) {
    pix::Ensure32(Bmp);
    const int32_t width = Bmp.Width(), height = Bmp.Height();
    if (width < 2 || height < 2) {  // nothing to scatter, and no draws
        pix::ResetProgress(&progress);
        return;
    }
    const uint32_t seed0 = rnd::Seed();
    const uint64_t drawsPerRow = 2 * uint64_t(width - 1);
    TBitmap32& out = pix::Scratch(width, height);
    CopyRow(out, Bmp, 0, width);
    pix::ForRowBlocks(1, height, &progress, [&](int32_t begin, int32_t end) {
        // Each block starts where the draws of the rows above it leave the
        // generator, so the scatter is the same for any split.
        uint32_t seed = rnd::JumpAhead(seed0, drawsPerRow * uint64_t(begin - 1));
        for (int32_t y = begin; y < end; ++y) {
            uint32_t* o = PixelRow(out, y);
            o[0] = PixelRow(Bmp, y)[0];
            seed = ScatterRow(Bmp, o, y, width, height, N, seed);
        }
    });
    rnd::SetSeed(rnd::JumpAhead(seed0, drawsPerRow * uint64_t(height - 1)));
    pix::ResetProgress(&progress);
    pix::CommitScratch(Bmp);
}

void CopyMe(TBitmap& Dst, const TBitmap32& Src) {
    Dst.Assign(&Src);
    pix::Ensure32(Dst);
}

void Convolve(const int32_t (&Kernel)[9], uint16_t Divisor, TBitmap& Bmp, IProgressBar& progress) {
    pix::Ensure32(Bmp);  // the rows are addressed as four bytes per pixel
    const int32_t width = Bmp.Width(), height = Bmp.Height();
    if (width < 3 || height < 3) {  // no interior: nothing changes
        pix::ResetProgress(&progress);
        return;
    }
    // A divisor of 0 would fault; it is taken as 1 (the kernel unscaled).
    const int32_t divisor = Divisor == 0 ? 1 : Divisor;
    int64_t weight = 0;
    for (int32_t k : Kernel) weight += k < 0 ? -int64_t(k) : int64_t(k);
    const bool narrow = weight * 255 <= std::numeric_limits<int32_t>::max();

    TBitmap32& out = pix::Scratch(width, height);
    CopyBorder(out, Bmp, width, height);
    pix::ForEachRow(1, height - 1, &progress, [&](int32_t y) {
        const pix::Window3 w = pix::WindowAt(Bmp, y);
        uint8_t* o = out.ScanLine(y);
        if (narrow)
            ConvolveRow<int32_t>(Kernel, divisor, w, o, width);
        else
            ConvolveRow<int64_t>(Kernel, divisor, w, o, width);
    });
    pix::ResetProgress(&progress);
    pix::CommitScratch(Bmp);
}

void fringe1(TBitmap32& Bmp, IProgressBar& progress) {
    // Convolving Bmp itself gives what convolving a 32-bit copy of it and
    // copying back would, without the two copies.
    static constexpr int32_t kRealism[9] = {1, 2, 1, 0, 0, 0, -1, -1, -1};
    pix::Ensure32(Bmp);
    Convolve(kRealism, 1, Bmp, progress);
}

void fringe2(TBitmap32& Bmp, IProgressBar& progress) { EdgeStyle<PopArtEdge>(Bmp, progress); }

void fringe3(TBitmap32& Bmp, IProgressBar& progress) { EdgeStyle<AbstractEdge>(Bmp, progress); }

void pinghua(TBitmap32& Bmp, IProgressBar& progress) {
    pix::Ensure32(Bmp);
    const int32_t width = Bmp.Width(), height = Bmp.Height();
    if (width < 3 || height < 3) {  // no interior: nothing changes
        pix::ResetProgress(&progress);
        return;
    }
    TBitmap32& out = pix::Scratch(width, height);
    CopyBorder(out, Bmp, width, height);
    pix::ForEachRow(1, height - 1, &progress, [&](int32_t y) {
        const pix::Window3 w = pix::WindowAt(Bmp, y);
        uint8_t* o = out.ScanLine(y);
        for (int32_t x = 1; x < width - 1; ++x) {
            const int32_t i = 4 * x;
            for (int32_t c = 0; c < 3; ++c) {
                const int32_t j = i + c;
                const int32_t sum = w.UL(j) + 2 * w.U(j) + w.UR(j) + 2 * w.L(j) + 4 * w.C(j) + 2 * w.R(j) +
                                    w.DL(j) + 2 * w.D(j) + w.DR(j);
                o[j] = num::ClampByte(num::Div(sum, 16));
            }
            o[i + pix::kAlpha] = w.mid[i + pix::kAlpha];
        }
    });
    pix::ResetProgress(&progress);
    pix::CommitScratch(Bmp);
}

}  // namespace pro
