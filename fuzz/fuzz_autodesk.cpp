#include "fuzz/RasterFuzz.h"
#include "rasterformats/Autodesk.h"
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* d, size_t n) { return FuzzRasterReader<TAutodeskGraphic>(d, n); }
