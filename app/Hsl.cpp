#include "app/Hsl.h"

#include <algorithm>
#include <array>

#include "app/SketchFiltersRef.h"
#include "platform/core/Numeric.h"

// Every intermediate the model keeps is a double: each expression is
// evaluated at extended precision from double operands and stored back as
// a double, which is what moves a few hues and lightnesses by one.
namespace {

using LD = long double;
inline double Store(LD v) { return static_cast<double>(v); }

// R / 255 for every byte, stored as the model stores it.
const std::array<double, 256>& Fractions() {
    static const std::array<double, 256> table = [] {
        std::array<double, 256> t{};
        for (int i = 0; i < 256; ++i) t[i] = Store(LD(i) / 255);
        return t;
    }();
    return table;
}

// HSLToRGB's three steps, each depending on one input and one channel
// value only, tabulated from the straightforward version.
struct HslTables {
    std::array<std::array<uint8_t, 3>, 360> hue{};
    std::array<std::array<uint8_t, 256>, 101> saturation{};
    std::array<std::array<uint8_t, 256>, 101> lightness{};
};

const HslTables& Tables() {
    static const HslTables tables = [] {
        HslTables t;
        for (int32_t h = 0; h < 360; ++h) {
            int32_t r, g, b;
            sketch::ref::PureHue(h, r, g, b);
            t.hue[h] = {uint8_t(r), uint8_t(g), uint8_t(b)};
        }
        for (int32_t v = 0; v <= 100; ++v)
            for (int32_t c = 0; c < 256; ++c) {
                t.saturation[v][c] = uint8_t(sketch::ref::Saturate(c, v));
                t.lightness[v][c] = uint8_t(sketch::ref::Lighten(c, v));
            }
        return t;
    }();
    return tables;
}

}  // namespace

void RGBToHSL(int32_t R, int32_t G, int32_t B, int32_t& H, int32_t& S, int32_t& L) {
    const auto& f = Fractions();
    const double r = f[R & 0xFF], g = f[G & 0xFF], b = f[B & 0xFF];
    const double mx = std::max(r, std::max(g, b));
    const double mn = std::min(r, std::min(g, b));
    const double l = Store((LD(mx) + mn) / 2);
    double h = 0, s = 0;
    if (mx != mn) {
        s = l < 0.5 ? Store((LD(mx) - mn) / (LD(mx) + mn)) : Store((LD(mx) - mn) / (2 - LD(mx) - mn));
        const double d = Store(LD(mx) - mn);
        if (r == mx)
            h = Store((LD(g) - b) / d);
        else if (g == mx)
            h = Store((LD(b) - r) / d + 2);
        else
            h = Store((LD(r) - g) / d + 4);
        h = Store(LD(h) / 6);
        if (h < 0) h = Store(LD(h) + 1);
    }
    H = num::Round32(LD(h) * 360);
    S = num::Round32(LD(s) * 100);
    L = num::Round32(LD(l) * 100);
}

void HSLToRGB(int32_t H, int32_t S, int32_t L, int32_t& R, int32_t& G, int32_t& B) {
    R = G = B = 0;
    if (H < 0 || H >= 360 || S < 0 || S > 100 || L < 0 || L > 100) return;
    const HslTables& t = Tables();
    const auto& hue = t.hue[H];
    const auto& sat = t.saturation[S];
    const auto& light = t.lightness[L];
    R = light[sat[hue[0]]];
    G = light[sat[hue[1]]];
    B = light[sat[hue[2]]];
}
