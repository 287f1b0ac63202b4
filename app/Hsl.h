// The program's own integer hue-saturation-lightness model.
#pragma once

#include <cstdint>

// Hue in degrees (0..360), saturation and lightness in percent.
void RGBToHSL(int32_t R, int32_t G, int32_t B, int32_t& H, int32_t& S, int32_t& L);
// Hue outside 0..359 or S, L outside 0..100 give black.
void HSLToRGB(int32_t H, int32_t S, int32_t L, int32_t& R, int32_t& G, int32_t& B);
