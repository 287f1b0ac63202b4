// ThunderScan 4-bit data (TIFF compression 32809): rows of 4-bit grey
// pixels, the first of each byte in the high nibble, coded as runs of the
// last pixel, small differences from it and literal pixels.
#pragma once

#include <cstdint>

#include "rasterformats/RasterCompression.h"

class TThunderDecoder : public TDecoder {
public:
    explicit TThunderDecoder(int32_t width);
    const char* ClassName() const override { return "TThunderDecoder"; }
    // Decodes rows of (width + 1) div 2 bytes into dest while whole rows fit
    // in unpackedSize and packed bytes remain; every row starts from a last
    // pixel of 0. Returns the bytes of output reached. Moves nothing.
    int64_t Decode(const uint8_t*& source, uint8_t*& dest, int64_t packedSize, int64_t unpackedSize) override;

private:
    int32_t width_;
};
