// ZSoft Paintbrush images and Word 5.x screen captures: 1, 2, 4 and 8 bits
// in one plane, three or four 1-bit planes (8 or 16 colours), three 8-bit
// planes (true colour) and four (true colour with alpha), stored or
// run-length encoded. Registered for "pcx", "pcc" and "scr".
#pragma once

#include "rasterformats/RasterGraphic.h"

class TPCXGraphic : public TRasterGraphic {
    QUILLARC_DECLARE_RASTER_GRAPHIC(TPCXGraphic)
public:
    static bool AcceptsStream(TStream& stream);
    // Fills the image properties from the 128-byte header; false for a
    // shorter stream and for a manufacturer byte other than 10 or 205.
    bool ReadImageInfo(TStream& stream, int index) override;

protected:
    void LoadImage(TStream& stream) override;

private:
    // The palette of an indexed picture: the header's 16 colours, the 256
    // at the end of the file, a grey ramp, or the system's 16 colours.
    void MakePalette(TStream& stream, const uint8_t* header);
};
