// Straightforward versions of the Standard dialog's own filters: one
// thread, literal copies, one pixel at a time. The fast filters must give
// exactly their bytes; the tests and the benchmark hold them side by side.
#pragma once

#include "standard/StandardFilters.h"

namespace stdf::ref {

// Both take the cell size and the sliders as their fast twins do.
void crayonpic(TBitmap32& Bmp, IProgressBar& progress);
void PenInkBmp(TBitmap32& Bmp, const TPenInkParams& params, IProgressBar& progress);

}  // namespace stdf::ref
