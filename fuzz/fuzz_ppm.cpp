// Portable-map reader under libFuzzer.
#include "fuzz/RasterFuzz.h"
#include "rasterformats/PortableMap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return FuzzRasterReader<TPPMGraphic>(data, size); }
