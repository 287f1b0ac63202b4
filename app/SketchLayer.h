// The grey sketch layer both conversion dialogs lay over their colour base:
// an edge sketch turned grey, with alpha following its darkness, shaped as
// pencil strokes or pen lines.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "app/Image32.h"
#include "app/PixelOps.h"
#include "platform/core/Progress.h"

namespace sketch {

// t := round(0.3 R + 0.59 G + 0.11 B) at extended precision, ties to even.
uint8_t GreyValue(uint8_t r, uint8_t g, uint8_t b);
// The same value from integer arithmetic. 100 times the decimal sum is an
// integer; away from a decimal tie the extended-precision sum rounds the
// same way (its error is far below the 0.01 that separates it from a half),
// and at a tie only the extended constants can decide.
inline uint8_t FastGreyValue(uint8_t r, uint8_t g, uint8_t b) {
    const int32_t hundredths = 30 * r + 59 * g + 11 * b;
    const int32_t q = hundredths / 100, rest = hundredths - 100 * q;
    if (rest == 50) return GreyValue(r, g, b);
    return static_cast<uint8_t>(q + (rest > 50));
}
// round(sqrt(65025 - t * t)): black opaque, white transparent.
uint8_t GreyAlpha(uint8_t t);

// Turns every pixel into its grey value; with withAlpha the alpha follows
// the darkness, otherwise it is left as it was.
void MakeGreyLayer(TBitmap32& bmp, bool withAlpha);

enum class TSketchShape { Pencil, Pen };

// The sketch layer's rows computed straight from the source, one pass for
// what edge sketch, grey layer and shaping do one after the other. Each
// layer pixel is a function of its edge sketch colour alone (the shaping
// sets alpha from the grey value or from the threshold), so the border,
// which the edge sketch fills from the pixels inside it, takes the layer
// words inside it. Needs a 32-bit source of at least 3 x 3.
class TSketchRows {
public:
    TSketchRows(TSketchShape shape, int32_t level);
    static bool Applies(const TBitmap& source);
    // Layer row y (0..H-1) of source into out (W words); work holds 5 W bytes.
    void Row(const TBitmap& source, int32_t y, uint32_t* out, uint8_t* work) const;

private:
    std::array<uint32_t, 256> words_;  // layer word by grey value
};

// Builds the sketch layer of source into layer: edge sketch, grey layer,
// then the pencil curve at `level` (angle 1..89) or the pen threshold at
// `level` (1..255). Filters advance `progress`.
void BuildSketchLayer(const TBitmap& source, TSketchShape shape, int32_t level, TBitmap32& layer,
                      IProgressBar& progress);
// The passes over source's rows that BuildSketchLayer runs.
int32_t LayerPasses(const TBitmap& source, TSketchShape shape);

// dest[x] := src[x] blended over base[x] made opaque, for every x: the
// blend rule with an opaque destination, where every case comes to
// d + (s - d) a div 255 per channel (a = 255 gives s, a = 0 and equal
// words give d) and alpha 255. Written without branches so that it runs on
// vector registers.
void BlendOverOpaque(const uint32_t* base, const uint32_t* layer, uint32_t* dest, int32_t width);

// out := base(pixel, x, y) of every source pixel, made opaque and with the
// sketch layer blended over it when there is one (from rows, else from the
// bitmap layer), as the dialogs' DrawTo onto their base does; without a
// layer base's words go in as they are. makeBase() gives each block of rows
// its own pixel function (so that caches are never shared between
// threads). One step of progress per row. source is 32-bit; out may be
// source itself when rows is null.
template <class MakeBase>
void ComposeRows(const TBitmap& source, const TSketchRows* rows, const TBitmap* layer, const MakeBase& makeBase,
                 TBitmap32& out, IProgressBar* progress) {
    const int32_t w = source.Width(), h = source.Height();
    if (&out != &source) out.NewImage(w, h, TPixelFormat::pf32bit);
    const bool blend = rows != nullptr || layer != nullptr;
    pix::ForRowBlocks(0, h, progress, [&](int32_t begin, int32_t end) {
        auto base = makeBase();
        std::vector<uint32_t> layerRow(rows ? size_t(w) : 0), baseRow(blend ? size_t(w) : 0);
        std::vector<uint8_t> work(rows ? size_t(w) * 5 : 0);
        for (int32_t y = begin; y < end; ++y) {
            const uint32_t* s = PixelRow(source, y);
            uint32_t* d = PixelRow(out, y);
            if (!blend) {
                for (int32_t x = 0; x < w; ++x) d[x] = base(s[x], x, y);
                continue;
            }
            const uint32_t* l = nullptr;
            if (rows) {
                rows->Row(source, y, layerRow.data(), work.data());
                l = layerRow.data();
            } else {
                l = PixelRow(*layer, y);
            }
            for (int32_t x = 0; x < w; ++x) baseRow[x] = base(s[x], x, y);
            BlendOverOpaque(baseRow.data(), l, d, w);
        }
    });
    pix::ResetProgress(progress);
}

// to takes from's picture without a copy; from is left with to's old
// pixels when both are 32-bit TBitmap32s, else empty.
void HandOver(TBitmap32& from, TBitmap& to);

}  // namespace sketch
