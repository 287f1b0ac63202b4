// TIFF reader under libFuzzer.
#include "fuzz/RasterFuzz.h"
#include "rasterformats/TIFF.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return FuzzRasterReader<TTIFFGraphic>(data, size); }
