// Dr. Halo CUT images: 8-bit indices, run-length encoded line by line, with
// their colours in a companion palette file (same name, extension ".pal").
// Registered for "cut".
#pragma once

#include <string>

#include "rasterformats/RasterGraphic.h"

class TCUTGraphic : public TRasterGraphic {
    QUILLARC_DECLARE_RASTER_GRAPHIC(TCUTGraphic)
public:
    // A CUT file has no signature to recognise it by: always false.
    static bool AcceptsStream(TStream& stream);
    // Remembers the palette file beside fileName (its ".pal" found without
    // regard to case), then loads the file.
    void LoadFromFile(const std::string& fileName) override;
    // Width and height from the first two words; false when the stream is
    // too short for them.
    bool ReadImageInfo(TStream& stream, int index) override;
    // The palette file of the last file load; it stays for loads from a
    // stream alone. Empty until a file is loaded.
    const std::string& PaletteFileName() const { return paletteFileName_; }

protected:
    void LoadImage(TStream& stream) override;

private:
    // The colours of the palette file, or a grey ramp without one.
    void LoadPalette();

    std::string paletteFileName_;
};
