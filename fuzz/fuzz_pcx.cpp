#include "fuzz/RasterFuzz.h"
#include "rasterformats/PCX.h"
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* d, size_t n) { return FuzzRasterReader<TPCXGraphic>(d, n); }
