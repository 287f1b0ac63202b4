// Reading and writing the BMP file format for TBitmap. Internal to the
// graphics core: callers use TBitmap::LoadFromStream and SaveToStream.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/core/Graphics.h"

namespace bmp {

// What the headers of a BMP file say, checked against the stream: every
// offset and length below lies inside it.
struct Header {
    int64_t start = 0;         // stream position of the file header
    int32_t width = 0;
    int32_t height = 0;        // rows, always >= 0
    bool topDown = false;
    int bitCount = 0;
    uint32_t compression = 0;  // 0 none, 1 RLE8, 2 RLE4, 3 bit fields
    uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
    std::vector<TPaletteEntry> colors;
    int64_t pixelOffset = 0;   // from start
    int64_t pixelBytes = 0;    // bytes of pixel data available from pixelOffset
    TPixelFormat format = TPixelFormat::pf24bit;  // what the bitmap becomes
};

// True when the stream holds a BMP file signature at its position; the
// position is left unchanged.
bool Probe(TStream& stream);
// Reads and checks the headers and the colour table; no pixels are read and
// nothing is allocated for them. Raises EInvalidGraphic.
Header ReadHeader(TStream& stream);
// Decodes the pixels into bitmap (sized, formatted and coloured here).
// Raises EInvalidGraphic; the stream ends up after the pixel data.
void ReadPixels(TStream& stream, const Header& header, TBitmap& bitmap);
// Writes bitmap as an uncompressed, bottom-up BMP with a 40-byte header.
void Write(TStream& stream, const TBitmap& bitmap);

}  // namespace bmp
