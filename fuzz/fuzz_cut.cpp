// Dr. Halo reader under libFuzzer (from a stream: grey levels, no palette file).
#include "fuzz/RasterFuzz.h"
#include "rasterformats/DrHalo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return FuzzRasterReader<TCUTGraphic>(data, size); }
