// Alias/Wavefront reader under libFuzzer.
#include "fuzz/RasterFuzz.h"
#include "rasterformats/AliasWavefront.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return FuzzRasterReader<TRLAGraphic>(data, size); }
