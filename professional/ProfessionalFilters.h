// The Professional dialog's own filters.
#pragma once

#include <cstdint>

#include "app/Image32.h"
#include "platform/core/Progress.h"

namespace pro {

void hsladjust(int32_t H, int32_t S, int32_t L, TBitmap32& Bmp, IProgressBar& progress);
void colorzone(int32_t Offset, TBitmap32& Bmp, IProgressBar& progress);
// Scatter; draws two numbers per changed pixel from the shared generator.
void Brume(int32_t N, TBitmap32& Bmp, IProgressBar& progress);
void fringe1(TBitmap32& Bmp, IProgressBar& progress);
void CopyMe(TBitmap& Dst, const TBitmap32& Src);
void Convolve(const int32_t (&Kernel)[9], uint16_t Divisor, TBitmap& Bmp, IProgressBar& progress);
void fringe2(TBitmap32& Bmp, IProgressBar& progress);
void fringe3(TBitmap32& Bmp, IProgressBar& progress);
void pinghua(TBitmap32& Bmp, IProgressBar& progress);

}  // namespace pro
