// Autodesk cel and pic images: 8-bit palette pictures with a 6-bit
// colour map. Registered for "cel" and "pic".
#pragma once

#include "rasterformats/RasterGraphic.h"

class TAutodeskGraphic : public TRasterGraphic {
    QUILLARC_DECLARE_RASTER_GRAPHIC(TAutodeskGraphic)
public:
    static bool AcceptsStream(TStream& stream);
    // Fills the image properties from the 32-byte header; true when the
    // magic number is there.
    bool ReadImageInfo(TStream& stream, int index) override;

protected:
    void LoadImage(TStream& stream) override;
};
