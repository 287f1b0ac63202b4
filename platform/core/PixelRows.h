// Row access to a bitmap of any pixel format through 32-bit words
// (blue in bits 0-7, green 8-15, red 16-23, alpha 24-31: the byte order of
// pf32bit in memory). Internal to the graphics core.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "platform/core/Graphics.h"

namespace px {

// 0x00BBGGRR colour to a BGRA word with alpha 0, and back.
constexpr uint32_t ColorToWord(TColor c) {
    const uint32_t v = static_cast<uint32_t>(c);
    return ((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF);
}
constexpr TColor WordToColor(uint32_t w) {
    return static_cast<TColor>(((w >> 16) & 0xFF) | (w & 0xFF00) | ((w & 0xFF) << 16));
}
inline uint32_t EntryToWord(const TPaletteEntry& e) {
    return static_cast<uint32_t>(e.peBlue) | (static_cast<uint32_t>(e.peGreen) << 8) |
           (static_cast<uint32_t>(e.peRed) << 16);
}

bool IsIndexed(TPixelFormat format);

// The default colour table of an indexed format: 1 bit black and white,
// 4 bits the 16-colour system palette, 8 bits the halftone table.
std::vector<TPaletteEntry> DefaultColors(TPixelFormat format);

// Reads and writes pixels of one format and colour table. Writing into an
// indexed format picks the nearest table colour (squared distance, the
// lowest index on ties); results are cached per colour.
class RowCodec {
public:
    RowCodec(TPixelFormat format, const std::vector<TPaletteEntry>& colors);
    // Pixels x0 .. x0+n-1 of a row. Colours without alpha read with alpha 0;
    // an index outside the colour table reads as black.
    void Read(const uint8_t* row, int32_t x0, int32_t n, uint32_t* out) const;
    void Write(uint8_t* row, int32_t x0, int32_t n, const uint32_t* in);
    uint8_t Nearest(uint32_t word);

private:
    TPixelFormat format_;
    std::vector<uint32_t> lookup_;  // index -> word, 2^bits entries
    int reachable_ = 0;             // table entries the format can address
    std::unordered_map<uint32_t, uint8_t> cache_;
};

}  // namespace px

class TBitmap;

namespace px {

// Stretches srcRect of src into destRect of dst (nearest neighbour, clipped
// to both bitmaps) combining source, destination and brush by the ternary
// raster operation rop. Where mask (in source coordinates) is not black, or
// where the source colour equals keyColor (when keyColor >= 0), the
// destination is kept. src may be dst.
void Blit(TBitmap& dst, const TRect& destRect, const TBitmap& src, const TRect& srcRect, const TBitmap* mask,
          uint32_t rop, TColor brush, int64_t keyColor);

}  // namespace px
