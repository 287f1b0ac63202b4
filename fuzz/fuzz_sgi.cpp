#include "fuzz/RasterFuzz.h"
#include "rasterformats/SGI.h"
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* d, size_t n) { return FuzzRasterReader<TSGIGraphic>(d, n); }
