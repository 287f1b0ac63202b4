// Pictures and comparisons the conversion tests share.
#pragma once

#include <cstring>

#include "app/Image32.h"
#include "app/PixelOps.h"

namespace testpics {

// The built-in sample, 32 bits per pixel and opaque as the batch loads it.
inline const TBitmap32& Sample() {
    static TBitmap32 bmp;
    if (bmp.Empty()) {
        bmp.LoadFromFile(QUILLARC_SAMPLE);
        TBitmap32::SetAlphaChannel(bmp, 255);
    }
    return bmp;
}

// About a megapixel of odd size: smooth gradients, hashed noise and hard
// edges, so that every filter has edges, flat areas and noise to work on.
inline const TBitmap32& Synthetic() {
    static TBitmap32 bmp;
    if (bmp.Empty()) {
        bmp.SetSize(1001, 999);
        for (int32_t y = 0; y < bmp.Height(); ++y) {
            uint32_t* row = PixelRow(bmp, y);
            for (int32_t x = 0; x < bmp.Width(); ++x) {
                uint32_t h = uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u;
                h ^= h >> 13;
                const bool disc = (x - 500) * (x - 500) + (y - 480) * (y - 480) < 200 * 200;
                const uint8_t r = uint8_t(disc ? 230 - (h & 15) : (x * 255) / 1000);
                const uint8_t g = uint8_t(((y * 255) / 998 + (h & 31)) & 0xFF);
                const uint8_t b = uint8_t((x / 37 + y / 41) % 2 ? 40 + (h & 7) : 200);
                row[x] = pix::MakePixel(b, g, r, 255);
            }
        }
    }
    return bmp;
}

// Same size, format and pixel bytes (32 bits per pixel).
inline bool SameBytes(const TBitmap& a, const TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat()) return false;
    for (int32_t y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.ScanLine(y), b.ScanLine(y), size_t(a.Width()) * 4) != 0) return false;
    return true;
}

}  // namespace testpics
