// Portable Network Graphics images: every colour type, bit depth and
// interlace of the format, read into the bitmap. Registered for "png".
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "rasterformats/LZ77Decoder.h"
#include "rasterformats/RasterGraphic.h"

class TPNGGraphic : public TRasterGraphic {
    QUILLARC_DECLARE_RASTER_GRAPHIC(TPNGGraphic)
public:
    TPNGGraphic();
    ~TPNGGraphic() override;

    // More than the 8 signature bytes left, and the signature there.
    static bool AcceptsStream(TStream& stream);
    // Signature and IHDR into the image properties, then the chunks up to
    // gAMA (its gamma) or IEND; false for another format or a zero size.
    bool ReadImageInfo(TStream& stream, int index) override;

protected:
    void LoadImage(TStream& stream) override;

private:
    // What one load works with; made anew for every load, so nothing of an
    // earlier file (gamma, palette, transparency) carries over.
    struct TPNGGraphicState;

    // The next chunk's length and type, and the start of its CRC; false at
    // the end of the stream, which ends the chunk list.
    bool ReadChunkHeader(TStream& stream);
    // The current chunk's data into the chunk buffer, its CRC checked.
    void ReadChunkData(TStream& stream);
    // Past the current chunk's data and CRC, unread.
    void SkipChunk(TStream& stream);
    bool IsChunk(const char* type) const;
    // Colour manager and bitmap for a colour type and bit depth; returns the
    // bytes per pixel (the filter distance).
    uint32_t SetupColorDepth(uint8_t colorType, uint8_t bitDepth);
    void LoadIDAT(TStream& stream);
    // Fills count bytes of packed rows from the IDAT chunks; what the data
    // does not cover is zero.
    void DecodeRow(uint8_t* dest, size_t count);
    // More IDAT input: the rest of the current chunk, or the next non-empty
    // IDAT chunk; false when the image data has ended.
    bool RefillIDAT();
    // The data bytes of the current IDAT chunk and of the IDAT chunks right
    // after it: all the image data can be made of. The stream stays where
    // it is.
    int64_t IDATBytes(TStream& stream);
    void ReadTransparency();

    std::unique_ptr<TPNGGraphicState> state_;
};

// The row filters, undone in place over a row of length bytes with the prior
// row beside it (zeros for the first row of an image or a pass); bpp is the
// filter distance. An unknown filter type leaves the row as it is. The
// first works a whole pixel at a time where it can, the second byte by byte
// as the filters are defined; both give the same bytes.
void ApplyPNGFilter(uint8_t filterType, uint8_t* row, const uint8_t* prior, size_t length, uint32_t bpp);
void ApplyPNGFilterBytes(uint8_t filterType, uint8_t* row, const uint8_t* prior, size_t length, uint32_t bpp);
// The predictor of filter 4, one byte at a time: a left, b above, c upper left.
uint8_t PaethPredictor(uint8_t a, uint8_t b, uint8_t c);
