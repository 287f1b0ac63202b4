// Paintshop Pro reader under libFuzzer.
#include "fuzz/RasterFuzz.h"
#include "rasterformats/PaintshopPro.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return FuzzRasterReader<TPSPGraphic>(data, size); }
