// Straightforward versions of the Professional dialog's filters: one
// thread, literal copies, one pixel at a time. The fast filters must give
// exactly their bytes; the tests and the benchmark hold them side by side.
#pragma once

#include <cstdint>

#include "app/Image32.h"
#include "platform/core/Progress.h"

namespace pro::ref {

void hsladjust(int32_t H, int32_t S, int32_t L, TBitmap32& Bmp, IProgressBar& progress);
void colorzone(int32_t Offset, TBitmap32& Bmp, IProgressBar& progress);
void Brume(int32_t N, TBitmap32& Bmp, IProgressBar& progress);
void Convolve(const int32_t (&K)[9], uint16_t Divisor, TBitmap& Bmp, IProgressBar& progress);
void fringe1(TBitmap32& Bmp, IProgressBar& progress);
void fringe2(TBitmap32& Bmp, IProgressBar& progress);
void fringe3(TBitmap32& Bmp, IProgressBar& progress);
void pinghua(TBitmap32& Bmp, IProgressBar& progress);

}  // namespace pro::ref
