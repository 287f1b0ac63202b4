// SGI images: one to four channels of 8 or 16 bits, stored verbatim or
// run-length encoded, channel after channel, rows bottom first.
// Registered for "sgi", "rgba", "rgb" and "bw".
#pragma once

#include "rasterformats/RasterGraphic.h"

class TSGIGraphic : public TRasterGraphic {
    QUILLARC_DECLARE_RASTER_GRAPHIC(TSGIGraphic)
public:
    static bool AcceptsStream(TStream& stream);
    // Fills the image properties from the 512-byte header (a shorter
    // stream raises the stream read error); true when the magic number is
    // there.
    bool ReadImageInfo(TStream& stream, int index) override;

protected:
    void LoadImage(TStream& stream) override;
};
