// Photoshop images: the merged picture of bitmap, grey, duotone, indexed,
// RGB, multichannel, CMYK and L*a*b* files at 8 or 16 bits per channel,
// stored or PackBits-packed; layers are not read. Registered for "psd" and
// "pdd".
#pragma once

#include "rasterformats/RasterGraphic.h"

class TPSDGraphic : public TRasterGraphic {
    QUILLARC_DECLARE_RASTER_GRAPHIC(TPSDGraphic)
public:
    // More than the 26 header bytes left, the signature "8BPS" in any
    // letter case and version 1.
    static bool AcceptsStream(TStream& stream);
    // The header into the image properties, the three sections skipped by
    // their lengths, then the compression word; false unless the signature
    // is "8BPS" exactly and the sections are all there.
    bool ReadImageInfo(TStream& stream, int index) override;

protected:
    void LoadImage(TStream& stream) override;
};
