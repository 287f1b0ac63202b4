// The Standard dialog's own filters: crayon colour cells and pen and ink.
#pragma once

#include <cstdint>
#include <vector>

#include "app/Image32.h"
#include "platform/core/Progress.h"

namespace stdf {

// Edge of one colour cell; set by the dialog before each crayon run
// (17..128). crayonpic takes sizes below 16 as 16, the smallest cell for
// which the 16 x 16 x 16 table holds every colour.
extern int32_t CrayonCellSize;

// Replaces the picture, except row 0 and column 0, by the mean colours of
// its colour cells, with alpha 255. progress is the Standard dialog's bar,
// whatever MakeMode says: one step per row of each pass, 0 after each.
void crayonpic(TBitmap32& Bmp, IProgressBar& progress);
// The same from a 32-bit Src into Dst (which may be Src).
void crayonpic(const TBitmap& Src, TBitmap32& Dst, IProgressBar& progress);

struct TPenInkParams {
    int32_t TrackBar4 = 10;  // sigma = pos * 0.05
    int32_t TrackBar5 = 18;  // tlow  = pos * 0.05
    int32_t TrackBar6 = 30;  // thigh = pos * 0.025
};
// Black edge lines on white; alpha unchanged. The sliders outside their
// ranges (1..101, 0..20, 0..40) are taken at the nearest end. progress is the
// Standard dialog's bar: 80 while detecting, one step per row written back,
// then 0.
void PenInkBmp(TBitmap32& Bmp, const TPenInkParams& params, IProgressBar& progress);
// The same from a 32-bit Src into Dst (which may be Src).
void PenInkBmp(const TBitmap& Src, TBitmap32& Dst, const TPenInkParams& params, IProgressBar& progress);

struct TImageSize {
    int32_t Width, Height;
};
// Canny edge detector on a grey image of width x height bytes; edges gets 0
// or 255 per pixel. Always true; raises EConvertError for a grey array of
// the wrong size, a sigma outside 0..100 or ratios that are not numbers.
bool CannyEdges(const std::vector<uint8_t>& grey, TImageSize size, std::vector<uint8_t>& edges,
                double sigma, double tlow, double thigh);

}  // namespace stdf
