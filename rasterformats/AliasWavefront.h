// Alias/Wavefront run-length encoded images: a 740-byte big-endian header, a
// table of row offsets, and per row one run-length record per channel (red,
// green, blue, then the matte), with the file's gamma applied. Registered
// for "rpf" and "rla".
#pragma once

#include "rasterformats/RasterGraphic.h"

class TRLAGraphic : public TRasterGraphic {
    QUILLARC_DECLARE_RASTER_GRAPHIC(TRLAGraphic)
public:
    // More than a header in the stream, revision 0xFFFE and a channel
    // description other than "xyz".
    static bool AcceptsStream(TStream& stream);
    // Fills the image properties from the header; false for a stream too
    // short for it and for "xyz" images, which are not read.
    bool ReadImageInfo(TStream& stream, int index) override;

protected:
    void LoadImage(TStream& stream) override;

private:
    uint16_t colorChannels_ = 0;  // of the last header read
    bool xyz_ = false;
};
