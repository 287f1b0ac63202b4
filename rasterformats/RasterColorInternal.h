// Small helpers the colour manager's converters share. Internal to the
// raster library.
#pragma once

#include <cstdint>

namespace rastercolor {

// Pixel i of a row is governed by bit 7 - (i mod 8) of the pixel mask. The
// converters test bit 7 and turn the mask one place to the left per pixel,
// so that each next bit to the right comes up in turn.
constexpr uint8_t NextPixelMask(uint8_t mask) { return static_cast<uint8_t>((mask << 1) | (mask >> 7)); }
constexpr uint32_t Swap16(uint32_t v) { return ((v & 0xFF) << 8) | ((v >> 8) & 0xFF); }

// A 16-bit sample stored least significant byte first; Swap16 turns one
// stored the other way round.
inline uint32_t Load16(const uint8_t* p) { return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8); }
inline void Store16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace rastercolor
