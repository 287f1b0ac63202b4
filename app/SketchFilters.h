// The pixel filters both conversion dialogs share. Each works on 32-bit
// copies, hands its result back by Assign and advances `progress` once per
// processed row, setting it back to 0 when its pixel pass ends.
#pragma once

#include <array>
#include <cstdint>

#include "app/Image32.h"
#include "platform/core/Progress.h"

namespace sketch {

// Pencil tone curve of src into dst; angle 1..89.
void convertimg1(int32_t Angle, TBitmap32& Src, TBitmap32& Dst, IProgressBar& progress);
// Two-level pen picture of src's red channel, with alpha; no progress.
void twovaluetopen(int32_t Threshold, TBitmap32& Src, TBitmap32& Dst);
// Dark-on-white edge sketch. invertRect is the rectangle inverted at the
// end (the source pane's picture bounds; the whole picture for the dialogs).
void picsobel(TBitmap32& Bmp, IProgressBar& progress);
void picsobel(TBitmap32& Bmp, const TRect& invertRect, IProgressBar& progress);
void sharpen(int32_t A, TBitmap32& Bmp, IProgressBar& progress);
void soften(int32_t A, TBitmap32& Bmp, IProgressBar& progress);
void dosoften(int32_t A, TBitmap32& Bmp, IProgressBar& progress);
// The same from Src into Dst, in one pass.
void dosoften(int32_t A, const TBitmap& Src, TBitmap32& Dst, IProgressBar& progress);
void Blur(int32_t A, TBitmap32& Bmp, IProgressBar& progress);
// Note the order: bitmap first. Leaves Bmp at 24 bits per pixel.
void Exposure(TBitmap32& Bmp, int32_t Threshold, IProgressBar& progress);
// picsobel's inverted colour bytes of interior row y (1..H-2) of a 32-bit
// bitmap of at least 3 x 3, for columns 1..W-2, into out (4 W bytes; the
// alpha bytes and the border columns are left as they were).
void SobelColours(const TBitmap& Src, int32_t y, uint8_t* out);
// convertimg1's colour for each grey level v (red = green = blue = v), alpha 0.
std::array<uint32_t, 256> PencilGreys(int32_t Angle);

// Sorts samples ascending and stores soften's weighted value in samples[4].
void SelectionSort(int32_t (&Samples)[9], int32_t Last);

}  // namespace sketch
