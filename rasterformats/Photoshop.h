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

private:
    struct TPSDLoad;
    // Modes 5, 6 and above 9: a black picture of the file's size.
    void LoadUnconverted(TStream& stream, const TPSDLoad& load);
    // Bitmap, grey, duotone and indexed: the first channel.
    void LoadOneChannel(TStream& stream, const TPSDLoad& load);
    // RGB, multichannel, CMYK and L*a*b*: three or four channels converted.
    void LoadColour(TStream& stream, const TPSDLoad& load);
};
