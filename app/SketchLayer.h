// The grey sketch layer both conversion dialogs lay over their colour base:
// an edge sketch turned grey, with alpha following its darkness, shaped as
// pencil strokes or pen lines.
#pragma once

#include <cstdint>

#include "app/Image32.h"
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

// Builds the sketch layer of source into layer: edge sketch, grey layer,
// then the pencil curve at `level` (angle 1..89) or the pen threshold at
// `level` (1..255). Filters advance `progress`.
void BuildSketchLayer(const TBitmap& source, TSketchShape shape, int32_t level, TBitmap32& layer,
                      IProgressBar& progress);

// to takes from's picture, without a copy when to is a 32-bit TBitmap32;
// from is left with to's old pixels (or unchanged when it was copied).
void HandOver(TBitmap32& from, TBitmap& to);

}  // namespace sketch
