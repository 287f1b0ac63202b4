// Paintshop Pro images, major version 3 and later: the palette and the first
// raster layer, stored, run-length or deflate-packed, at 1, 4, 8 and 24 bits.
// Registered for "psp".
#pragma once

#include <cstdint>

#include "rasterformats/RasterGraphic.h"

class TPSPGraphic : public TRasterGraphic {
    QUILLARC_DECLARE_RASTER_GRAPHIC(TPSPGraphic)
public:
    // More than the 36 header bytes left, the signature in any letter case
    // and a major version of 3 or more.
    static bool AcceptsStream(TStream& stream);
    // File header, then the general image attributes of the first block.
    bool ReadImageInfo(TStream& stream, int index) override;

protected:
    void LoadImage(TStream& stream) override;

private:
    struct TBlock {
        char identifier[4];
        uint16_t id;
        int64_t end;  // where the next block starts
    };
    // A block header at the stream's position; false at the end of the
    // stream. A block that runs past the end is a read error.
    bool ReadBlockHeader(TStream& stream, TBlock& block);
    void ReadGeneralAttributes(TStream& stream);
};
