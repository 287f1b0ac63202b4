// Tagged image file format (TIFF) pictures: the first image of the file,
// stored in strips, uncompressed or compressed as PackBits, one-dimensional
// CCITT fax, deflate, JPEG or ThunderScan. Registered for "tiff", "tif" and
// "fax". And the TIFF preview a DOS binary EPS file carries, for "eps".
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "rasterformats/RasterGraphic.h"

class TTIFFGraphic : public TRasterGraphic {
    QUILLARC_DECLARE_RASTER_GRAPHIC(TTIFFGraphic)
public:
    // True when more than 8 bytes are left, the byte order is "II" or "MM",
    // the version 42 and the first directory's offset lies inside them.
    static bool AcceptsStream(TStream& stream);
    // Fills the image properties from the header and directory number
    // `index`; true for version 42 with a width and a height.
    bool ReadImageInfo(TStream& stream, int index) override;
    // The reader writes nothing.
    void SaveToStream(TStream& stream) override;

    // One entry of an image file directory: the value field as stored,
    // holding the values themselves when they fit in its 4 bytes, else
    // their offset.
    struct TIFDEntry {
        uint16_t tag;
        uint16_t type;
        uint32_t count;
        uint8_t value[4];
    };

protected:
    void LoadImage(TStream& stream) override;

private:
    // The steps of a load, in order, each handing on what it found.
    struct TPlan;
    // The header, the compression and the sample layout the reader takes;
    // false for a tiled image, which is not read.
    bool Probe(TStream& stream, TPlan& plan);
    // Where each strip lies and the rows it holds, checked against the
    // stream before anything is allocated.
    void ReadStripTable(TStream& stream, TPlan& plan);
    // The colour manager's sides, the pixel format and the palette.
    void SetUpColours(TStream& stream, TPlan& plan);
    // The bitmap, and the strips decoded into its rows.
    void DecodeStrips(TStream& stream, TPlan& plan);

    // The directory's entries, sorted by tag; false when the directory is
    // not in the stream.
    bool ReadDirectory(TStream& stream, int64_t position);
    const TIFDEntry* Find(uint16_t tag) const;
    // The values of a tag in the file's byte order, as many as the stream
    // holds; their field type in type.
    std::vector<uint8_t> RawValues(TStream& stream, const TIFDEntry& entry, uint32_t& count) const;
    // First value of an integer tag, or the default for a tag that is
    // absent, empty or not of an integer type.
    uint32_t Integer(TStream& stream, uint16_t tag, uint32_t absent) const;
    double Real(TStream& stream, uint16_t tag, double absent) const;
    std::vector<uint32_t> Integers(TStream& stream, uint16_t tag) const;
    std::vector<float> Reals(TStream& stream, uint16_t tag) const;
    bool BigEndian() const { return ImageProperties.Options & ioBigEndian; }

    std::vector<TIFDEntry> entries_;
    std::vector<float> ycbcrCoefficients_;
    uint32_t ycbcrPositioning_ = 1;
    uint32_t faxOptions_ = 0;
};

class TEPSGraphic : public TTIFFGraphic {
    QUILLARC_DECLARE_RASTER_GRAPHIC(TEPSGraphic)
public:
    // True when more than 30 bytes are left, the magic matches, the preview
    // starts no earlier than the end of the 30-byte header and has a length.
    static bool AcceptsStream(TStream& stream);

protected:
    // The TIFF preview, whose start is taken as the image's start.
    void LoadImage(TStream& stream) override;
};
