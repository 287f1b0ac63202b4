// Photoshop reader under libFuzzer.
#include "fuzz/RasterFuzz.h"
#include "rasterformats/Photoshop.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return FuzzRasterReader<TPSDGraphic>(data, size); }
