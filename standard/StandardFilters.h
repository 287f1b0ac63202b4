// The Standard dialog's own filters: crayon colour cells and pen and ink.
#pragma once

#include <cstdint>
#include <vector>

#include "app/Image32.h"
#include "platform/core/Progress.h"

namespace stdf {

// Edge of one colour cell; set by the dialog before each crayon run.
extern int32_t CrayonCellSize;

// Always advances the Standard dialog's bar.
void crayonpic(TBitmap32& Bmp, IProgressBar& progress);

struct TPenInkParams {
    int32_t TrackBar4 = 10;  // sigma = pos * 0.05
    int32_t TrackBar5 = 18;  // tlow  = pos * 0.05
    int32_t TrackBar6 = 30;  // thigh = pos * 0.025
};
// invertWidth/invertHeight: the right pane's picture size (the picture's own
// size when the dialog calls it).
void PenInkBmp(TBitmap32& Bmp, const TPenInkParams& params, IProgressBar& progress);

struct TImageSize {
    int32_t Width, Height;
};
// Canny edge detector on a grey image; edges gets 0 or 255 per pixel.
bool CannyEdges(const std::vector<uint8_t>& grey, TImageSize size, std::vector<uint8_t>& edges,
                double sigma, double tlow, double thigh);

}  // namespace stdf
