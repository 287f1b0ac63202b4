// Truevision (Targa) images: read into the bitmap, and written, raw or
// run-length encoded. Registered for "win", "vst", "vda", "tga" and "icb".
#pragma once

#include "rasterformats/RasterGraphic.h"

class TTargaGraphic : public TRasterGraphic {
    QUILLARC_DECLARE_RASTER_GRAPHIC(TTargaGraphic)
public:
    static bool AcceptsStream(TStream& stream);
    // Fills the image properties from the 18-byte header; false for a
    // stream too short for it, for image or colour map types that do not
    // exist and for image type 0, which holds no pixels.
    bool ReadImageInfo(TStream& stream, int index) override;
    // Run-length encoded.
    void SaveToStream(TStream& stream) override;
    void SaveToStreamCompressed(TStream& stream, bool compressed);

protected:
    void LoadImage(TStream& stream) override;
};
