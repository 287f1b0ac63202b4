// Portable bitmaps, grey maps and pixel maps ("P1" to "P6", plain and raw).
// Registered for "ppm", "pgm" and "pbm".
#pragma once

#include <cstdint>
#include <vector>

#include "rasterformats/RasterGraphic.h"

class TPPMGraphic : public TRasterGraphic {
    QUILLARC_DECLARE_RASTER_GRAPHIC(TPPMGraphic)
public:
    // "P" and a kind digit 1 to 6, with more than 10 bytes in the stream.
    static bool AcceptsStream(TStream& stream);
    // Reads the magic and, for kinds 1 to 6, width, height and the maximum
    // sample value. False when the stream does not start with "P" or the
    // maximum value is outside 1..65535; a kind digit that is no digit
    // raises EConvertError. Kinds 0, 7, 8 and 9 return true and set
    // nothing, which the load refuses for want of a size.
    bool ReadImageInfo(TStream& stream, int index) override;
    // The maximum sample value of the last header read (1 for bitmaps).
    uint32_t MaxValue() const { return maxValue_; }

protected:
    void LoadImage(TStream& stream) override;

private:
    // Header and plain data are read through a buffer of our own.
    void ResetInput(TStream& stream);
    bool Refill();
    // The next byte; "Stream read error in PPM file." at the end.
    uint8_t GetChar() {
        if (index_ < end_) return buffer_[index_++];
        return GetCharSlow();
    }
    uint8_t GetCharSlow();
    // Skips to the next digit, passing over comments ("#" to the end of its
    // line); returns the digit without taking it.
    uint8_t SkipToDigit();
    // A decimal number, saturated at 2^31 - 1; the character after it is
    // taken too. The end of the stream also ends a number.
    uint32_t GetNumber();
    // Raw data: n bytes into dest, from the buffer first, then the stream.
    void ReadRaw(uint8_t* dest, size_t n);
    // Bytes still to be read: buffered and in the stream.
    int64_t Available() const;

    void ReadPlainRows(int kind);
    void ReadRawRows(int kind);

    TStream* input_ = nullptr;
    std::vector<uint8_t> buffer_;
    size_t index_ = 0, end_ = 0;
    int kind_ = 0;
    uint32_t maxValue_ = 0;
};
