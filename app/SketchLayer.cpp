#include "app/SketchLayer.h"

#include <array>
#include <cmath>

#include "app/PixelOps.h"
#include "app/SketchFilters.h"
#include "platform/core/Numeric.h"
#include "platform/core/Simd.h"

namespace sketch {
namespace {

// The three weighted channels at extended precision, added in the order the
// expression reads, so a table lookup gives the same sum as the arithmetic.
struct GreyWeights {
    std::array<long double, 256> red, green, blue;
    std::array<uint8_t, 256> alpha;
    GreyWeights() {
        for (int v = 0; v < 256; ++v) {
            red[v] = 0.3L * v;
            green[v] = 0.59L * v;
            blue[v] = 0.11L * v;
            alpha[v] = static_cast<uint8_t>(num::Clamp255(num::Round32(sqrtl(65025.0L - v * v))));
        }
    }
};

const GreyWeights& Weights() {
    static const GreyWeights weights;
    return weights;
}

}  // namespace

uint8_t GreyValue(uint8_t r, uint8_t g, uint8_t b) {
    const GreyWeights& w = Weights();
    return num::ClampByte(num::Round32(w.red[r] + w.green[g] + w.blue[b]));
}

uint8_t GreyAlpha(uint8_t t) { return Weights().alpha[t]; }

void MakeGreyLayer(TBitmap32& bmp, bool withAlpha) {
    pix::Ensure32(bmp);
    const int32_t width = bmp.Width();
    const GreyWeights& weights = Weights();  // built once, before the threads read it
    pix::ForRowBlocks(0, bmp.Height(), nullptr, [&](int32_t begin, int32_t end) {
        for (int32_t y = begin; y < end; ++y) {
            uint32_t* row = PixelRow(bmp, y);
            for (int32_t x = 0; x < width; ++x) {
                const uint32_t p = row[x];
                const uint8_t t = FastGreyValue(pix::RedOf(p), pix::GreenOf(p), pix::BlueOf(p));
                const uint8_t a = withAlpha ? weights.alpha[t] : pix::AlphaOf(p);
                row[x] = pix::MakePixel(t, t, t, a);
            }
        }
    });
}

TSketchRows::TSketchRows(TSketchShape shape, int32_t level) {
    if (shape == TSketchShape::Pencil) {
        // The grey layer's alpha follows t; the pencil curve keeps it.
        const std::array<uint32_t, 256> greys = PencilGreys(level);
        for (int32_t t = 0; t < 256; ++t) words_[t] = greys[t] | (uint32_t(GreyAlpha(uint8_t(t))) << 24);
    } else {
        // The pen threshold sets colour and alpha from t alone.
        for (int32_t t = 0; t < 256; ++t) words_[t] = t > level ? pix::kColourMask : pix::kAlphaMask;
    }
}

bool TSketchRows::Applies(const TBitmap& source) {
    return source.PixelFormat() == TPixelFormat::pf32bit && source.Width() >= 3 && source.Height() >= 3;
}

namespace {

// FastGreyValue of the pixels [1, w - 1) of a row of 32-bit pixels into
// their fourth byte; tie[x] is set where the pixel sits on a decimal tie,
// which only the extended constants decide. Returns whether any does.
QUILLARC_VECTORIZE
bool GreyRow(uint8_t* __restrict p, uint8_t* __restrict tie, int32_t w) {
    int32_t ties = 0;
    for (int32_t x = 1; x < w - 1; ++x) {
        const int32_t hundredths = 30 * p[4 * x + 2] + 59 * p[4 * x + 1] + 11 * p[4 * x];
        const int32_t q = hundredths / 100, rest = hundredths - 100 * q;
        tie[x] = rest == 50;
        ties |= rest == 50;
        p[4 * x + 3] = static_cast<uint8_t>(q + (rest > 50));
    }
    return ties != 0;
}

// One channel of the blend: d + (s - d) a div 255, truncating toward zero.
inline int32_t BlendChannel(int32_t s, int32_t d, int32_t a) {
    const int32_t v = (s - d) * a;
    const int32_t t = v < 0 ? -v : v;
    const int32_t q = (t + 1 + (t >> 8)) >> 8;  // t div 255 for t <= 65025
    return d + (v < 0 ? -q : q);
}

}  // namespace

QUILLARC_VECTORIZE
void BlendOverOpaque(const uint32_t* __restrict base, const uint32_t* __restrict layer, uint32_t* __restrict dest,
                     int32_t width) {
    for (int32_t x = 0; x < width; ++x) {
        const int32_t b = static_cast<int32_t>(base[x]), l = static_cast<int32_t>(layer[x]);
        const int32_t a = (l >> 24) & 0xFF;
        const int32_t blue = BlendChannel(l & 0xFF, b & 0xFF, a);
        const int32_t green = BlendChannel((l >> 8) & 0xFF, (b >> 8) & 0xFF, a);
        const int32_t red = BlendChannel((l >> 16) & 0xFF, (b >> 16) & 0xFF, a);
        dest[x] = 0xFF000000u | static_cast<uint32_t>(blue | (green << 8) | (red << 16));
    }
}

void TSketchRows::Row(const TBitmap& source, int32_t y, uint32_t* out, uint8_t* work) const {
    const int32_t w = source.Width();
    SobelColours(source, std::clamp(y, 1, source.Height() - 2), work);
    uint8_t* tie = work + 4 * size_t(w);
    if (GreyRow(work, tie, w)) {
        for (int32_t x = 1; x < w - 1; ++x) {
            uint8_t* p = work + 4 * x;
            if (tie[x]) p[3] = GreyValue(p[pix::kRed], p[pix::kGreen], p[pix::kBlue]);
        }
    }
    for (int32_t x = 1; x < w - 1; ++x) out[x] = words_[work[4 * x + 3]];
    out[0] = out[1];
    out[w - 1] = out[w - 2];
}

void BuildSketchLayer(const TBitmap& source, TSketchShape shape, int32_t level, TBitmap32& layer,
                      IProgressBar& progress) {
    if (TSketchRows::Applies(source)) {
        const TSketchRows rows(shape, level);
        const int32_t w = source.Width();
        layer.NewImage(w, source.Height(), TPixelFormat::pf32bit);
        pix::ForRowBlocks(0, source.Height(), &progress, [&](int32_t begin, int32_t end) {
            std::vector<uint8_t> work(size_t(w) * 5);
            for (int32_t y = begin; y < end; ++y) rows.Row(source, y, PixelRow(layer, y), work.data());
        });
        progress.SetPosition(0);
        return;
    }
    // The edge sketch is turned grey in place: the grey copy and the tone
    // copy of the dialogs would hold the same pixels.
    TBitmap32 tone;
    tone.Assign(&source);
    picsobel(tone, progress);
    if (shape == TSketchShape::Pencil) {
        MakeGreyLayer(tone, true);
        convertimg1(level, tone, layer, progress);
    } else {
        MakeGreyLayer(tone, false);
        twovaluetopen(level, tone, layer);
    }
}

int32_t LayerPasses(const TBitmap& source, TSketchShape shape) {
    // The layer row by row in one pass; else the edge sketch, and the pencil
    // curve after it (the pen threshold counts no rows).
    if (TSketchRows::Applies(source)) return 1;
    return shape == TSketchShape::Pencil ? 2 : 1;
}

void HandOver(TBitmap32& from, TBitmap& to) {
    if (auto* to32 = dynamic_cast<TBitmap32*>(&to); to32 && to32->SwapPixels(from)) return;
    to.TakeOver(from);
}

}  // namespace sketch
