// JPEG-compressed TIFF strips (TIFF compression 7), through libjpeg: each
// strip is a JPEG image of the strip's rows, with the quantisation and
// Huffman tables given once for the file (the JPEG tables tag) or in every
// strip.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "rasterformats/RasterCompression.h"
#include "rasterformats/RasterGraphic.h"

class TTIFFJPEGDecoder : public TDecoder {
public:
    // Reads the image's size, samples, the strip being read and the JPEG
    // tables from properties, which must outlive the decoder.
    explicit TTIFFJPEGDecoder(const TImageProperties& properties);
    ~TTIFFJPEGDecoder() override;
    const char* ClassName() const override { return "TTIFFJPEGDecoder"; }

    // Sets up libjpeg and reads the file's tables, if any.
    void BeginDecode() override;
    // One strip: its JPEG image must have the image's width, the strip's
    // rows (the rows per strip, or what is left of the image), the image's
    // samples and bits; its rows go to dest, BytesPerRow apart: blue, green,
    // red for colour images (RGB or YCbCr), one byte for grey ones; and it
    // must not claim more than its bytes can code (see JpegLimits.h).
    // Returns the bytes written. libjpeg's errors and the checks raise
    // EGraphicCompression; its warnings and data that ends early go to the
    // picture warnings, and decoding goes on.
    int64_t Decode(const uint8_t*& source, uint8_t*& dest, int64_t packedSize, int64_t unpackedSize) override;
    void EndDecode() override;

    // The most bytes of rows the `bytes` bytes of JPEG data at `start` in
    // the stream can decode to, for the strip table's check before anything
    // is allocated: Huffman-coded data takes at least a bit for every 8 x 8
    // block of every component, in the layout Decode holds strips to;
    // arithmetic-coded data (the strip's frame marker says which) at most
    // jpeglimits::kArithmeticPixelsPerByte pixels a byte. The stream's
    // position is kept. The frame marker is read only where the Huffman
    // bound falls short of `enough`, the bytes the caller asks about.
    static int64_t MostUnpacked(TStream& stream, const TImageProperties& properties, int64_t start, int64_t bytes,
                                int64_t enough = INT64_MAX);

    // Where warnings go instead of the picture warnings (of a load of the
    // decoder's own), when set: a reader that decodes on several threads
    // passes them on later, on its own.
    std::function<void(const std::string&)> OnWarning;

    struct TState;  // libjpeg's objects

private:
    const TImageProperties& properties_;
    std::unique_ptr<TState> state_;
};
