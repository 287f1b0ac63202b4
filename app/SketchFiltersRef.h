// Straightforward versions of the sketch filters and of the HSL model's
// tabulated steps: one thread, literal copies, every pixel computed the
// long way. The fast filters must give exactly their bytes; the tests hold
// them side by side.
#pragma once

#include <cstdint>

#include "app/Image32.h"
#include "app/SketchLayer.h"
#include "platform/core/Progress.h"

namespace sketch::ref {

// The three steps of HSLToRGB on one channel: the pure hue of H (0..359),
// the pull toward mid-grey for saturation S (0..100) and the pull toward
// white or black for lightness L (0..100).
void PureHue(int32_t H, int32_t& R, int32_t& G, int32_t& B);
int32_t Saturate(int32_t c, int32_t S);
int32_t Lighten(int32_t c, int32_t L);
void HSLToRGB(int32_t H, int32_t S, int32_t L, int32_t& R, int32_t& G, int32_t& B);

// One pixel through the pencil tone curve (hue 360 folded to 0).
void PencilPixel(int32_t Angle, int32_t& R, int32_t& G, int32_t& B);

void convertimg1(int32_t Angle, TBitmap32& Src, TBitmap32& Dst, IProgressBar& progress);
void twovaluetopen(int32_t Threshold, TBitmap32& Src, TBitmap32& Dst);
void picsobel(TBitmap32& Bmp, const TRect& invertRect, IProgressBar& progress);
void sharpen(int32_t A, TBitmap32& Bmp, IProgressBar& progress);
void soften(int32_t A, TBitmap32& Bmp, IProgressBar& progress);
void dosoften(int32_t A, TBitmap32& Bmp, IProgressBar& progress);
void Blur(int32_t A, TBitmap32& Bmp, IProgressBar& progress);
void Exposure(TBitmap32& Bmp, int32_t Threshold, IProgressBar& progress);

// The sketch layer step by step: edge copy, edge sketch, grey copy, tone
// copy, then the pencil curve or the pen threshold into layer.
void BuildSketchLayer(const TBitmap& source, TSketchShape shape, int32_t level, TBitmap32& layer,
                      IProgressBar& progress);
// layer's DrawTo at (0, 0), one pixel at a time.
void DrawTo(const TBitmap32& layer, TBitmap& dest);

}  // namespace sketch::ref
