// Kodak Photo-CD image packs: the base resolution of 768 x 512 pixels
// (luma at full size, the two chroma planes at half size each way, upsampled
// and converted from PhotoYCC), turned as the pack's rotation code says.
// Registered for "pcd".
#pragma once

#include "rasterformats/RasterGraphic.h"

class TPCDGraphic : public TRasterGraphic {
    QUILLARC_DECLARE_RASTER_GRAPHIC(TPCDGraphic)
public:
    // True when more than 6144 bytes are left and they start an overview
    // pack ("PCD_OPA") or hold an image pack's "PCD" at 2048.
    static bool AcceptsStream(TStream& stream);
    // Resolution `index` (0 to 5; 0 for an overview pack) of the pack at the
    // stream's position: its size, turned by the rotation code.
    bool ReadImageInfo(TStream& stream, int index) override;

protected:
    // A stream without the signature is refused with the invalid-format
    // message ("PCD").
    void LoadImage(TStream& stream) override;
};
