// The working bitmap of every conversion: a bitmap held at 32 bits per
// pixel (blue, green, red, alpha) whatever it is given.
#pragma once

#include <cstdint>

#include "platform/core/Graphics.h"

class TBitmap32 : public TBitmap {
    QUILLARC_DECLARE_GRAPHIC(TBitmap32)
public:
    TBitmap32();
    void Assign(const TPersistent* source) override;
    void LoadFromFile(const std::string& fileName) override;

    // Alpha-blends this bitmap onto dest with its top-left corner at (x, y).
    // dest becomes 32 bits per pixel and opaque first.
    void DrawTo(int32_t x, int32_t y, TBitmap& dest) const;

    // Both work only on their arguments.
    static void SetAlphaChannel(TBitmap& bitmap, uint8_t value);
    static void BlendPixel(uint32_t& dest, uint32_t src);

    // Exchanges pixel storage and size with other when both hold 32 bits per
    // pixel, so a filter can hand back its output without copying it.
    // Returns false (and changes nothing) otherwise.
    bool SwapPixels(TBitmap32& other);
    // Takes other's picture, without a copy when it holds 32 bits per pixel
    // (other is left empty then), else as Assign does.
    void TakePicture(TBitmap& other);
};

// 32-bit pixel words as read little-endian: alpha in bits 24..31.
inline uint32_t* PixelRow(TBitmap& bmp, int32_t y) { return reinterpret_cast<uint32_t*>(bmp.ScanLine(y)); }
inline const uint32_t* PixelRow(const TBitmap& bmp, int32_t y) {
    return reinterpret_cast<const uint32_t*>(bmp.ScanLine(y));
}
