// The colour manager: the converter choice and its errors, the pixel
// format rule, the row converters' exact arithmetic, gamma and palettes.
#include <gtest/gtest.h>

#include <vector>

#include "rasterformats/RasterColor.h"
#include "rasterformats/RasterStrings.h"

namespace {

using L = TColorLayout;
using Bytes = std::vector<uint8_t>;
constexpr uint8_t E = 0xEE;  // a byte no converter wrote

struct Layouts {
    L source, target;
    uint8_t sb, tb, sc = 3, tc = 3;
    TColorFlags sourceFlags = 0, targetFlags = 0;
};

void Configure(TColorManager& cm, const Layouts& l) {
    cm.SetSourceLayout(l.source);
    cm.SetTargetLayout(l.target);
    cm.SetSourceSampleBits(l.sb);
    cm.SetTargetSampleBits(l.tb);
    cm.SetSourceSampleCount(l.sc);
    cm.SetTargetSampleCount(l.tc);
    cm.SourceFlags = l.sourceFlags;
    cm.TargetFlags = l.targetFlags;
}

// Converts one interleaved row into a target filled with `fill`.
Bytes Convert(TColorManager& cm, const Bytes& source, uint32_t count, size_t targetBytes, uint8_t mask = 0xFF,
              uint8_t fill = E) {
    Bytes target(targetBytes, fill);
    cm.ConvertPixels(source.data(), source.size(), target.data(), target.size(), count, mask);
    return target;
}

std::vector<TPaletteEntry> Entries(HPALETTE palette) {
    std::vector<TPaletteEntry> e(static_cast<size_t>(PaletteEntryCount(palette)));
    if (!e.empty()) GetPaletteEntries(palette, 0, static_cast<int>(e.size()), e.data());
    DeleteObject(palette);
    return e;
}

}  // namespace

TEST(ColorManager, ConverterChoiceAndItsErrors) {
    const std::string indexed = raster::kIndexedConversion, none = raster::kNoConverter;
    struct Case {
        L source, target;
        uint8_t sb, tb;
        std::string error;
    } cases[] = {
        {L::csRGB, L::csBGR, 8, 8, ""},           {L::csRGBA, L::csRGB, 16, 8, ""},
        {L::csBGRA, L::csBGRA, 8, 16, ""},        {L::csCMYK, L::csBGR, 8, 8, ""},
        {L::csCIELab, L::csRGB, 8, 8, ""},        {L::csYCbCr, L::csBGR, 8, 8, ""},
        {L::csPhotoYCC, L::csRGBA, 8, 8, ""},     {L::csIndexed, L::csIndexed, 4, 8, ""},
        {L::csIndexed, L::csGray, 16, 8, ""},     {L::csGray, L::csGray, 16, 8, ""},
        {L::csGrayAlpha, L::csIndexed, 8, 8, ""}, {L::csGray, L::csGrayAlpha, 8, 8, indexed},
        {L::csRGB, L::csIndexed, 8, 8, indexed},  {L::csIndexed, L::csBGR, 8, 8, indexed},
        {L::csCMY, L::csBGR, 8, 8, none},         {L::csRGB, L::csGrayAlpha, 8, 8, none},
        {L::csNone, L::csBGR, 8, 8, none},        {L::csGray, L::csGray, 16, 4, none},
        {L::csGrayAlpha, L::csGray, 4, 8, none},  {L::csCMYK, L::csCMYK, 8, 8, none},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.source) * 100 + int(c.target));
        TColorManager cm;
        Configure(cm, {c.source, c.target, c.sb, c.tb, 1, 1});
        // A failed choice is repeated at every later row.
        for (int row = 0; row < (c.error.empty() ? 1 : 2); ++row) {
            std::string error;
            try {
                Convert(cm, Bytes(64, 0), 1, 64);
            } catch (const EColorConversionError& e) {
                error = e.Message();
            }
            EXPECT_EQ(error, c.error);
        }
    }
}

TEST(ColorManager, SettersCheckTheirRangesAndOnlyChangesMakeItDirty) {
    TColorManager cm;
    EXPECT_THROW(cm.SetSourceSampleBits(0), EColorConversionError);
    EXPECT_THROW(cm.SetTargetSampleBits(17), EColorConversionError);
    EXPECT_NO_THROW(cm.SetSourceSampleBits(3));
    EXPECT_NO_THROW(cm.SetSourceSampleBits(12));
    try {
        cm.SetTargetSampleCount(5);
        FAIL();
    } catch (const EColorConversionError& e) {
        EXPECT_EQ(e.Message(), raster::kBadSampleCount);
    }
    cm.SetSourceSampleBits(8);
    Convert(cm, Bytes(3, 1), 1, 3);  // a new manager turns RGB into BGR untouched
    EXPECT_FALSE(cm.Dirty());
    cm.SetTargetLayout(L::csBGR);
    cm.SetSourceSampleCount(3);
    EXPECT_FALSE(cm.Dirty());
    cm.SetTargetLayout(L::csBGRA);
    EXPECT_TRUE(cm.Dirty());
}

TEST(ColorManager, PixelFormatFollowsSamplesAndBits) {
    struct Case {
        uint8_t samples, bits;
        TPixelFormat format;
    } cases[] = {
        {1, 1, TPixelFormat::pf1bit},   {1, 2, TPixelFormat::pf4bit},    {1, 4, TPixelFormat::pf4bit},
        {1, 5, TPixelFormat::pfCustom}, {1, 8, TPixelFormat::pf8bit},    {1, 16, TPixelFormat::pf8bit},
        {3, 5, TPixelFormat::pf15bit},  {3, 6, TPixelFormat::pf24bit},   {3, 8, TPixelFormat::pf24bit},
        {4, 8, TPixelFormat::pf32bit},  {4, 4, TPixelFormat::pfCustom},  {2, 8, TPixelFormat::pfCustom},
    };
    for (const Case& c : cases) {
        TColorManager cm;
        cm.SetTargetSampleCount(c.samples);
        cm.SetTargetSampleBits(c.bits);
        EXPECT_EQ(cm.PixelFormatFor(1), c.format) << int(c.samples) << " x " << int(c.bits);
        EXPECT_EQ(cm.PixelFormatFor(0), TPixelFormat::pf24bit);
    }
}

// One interleaved row through a fresh manager into a target filled with
// 0xEE (or `fill`): every converter's arithmetic, and that none reaches
// past the sizes it is given.
TEST(ColorManager, RowsConvertExactly) {
    const Layouts indexed1to8{L::csIndexed, L::csIndexed, 1, 8, 1, 1}, rgb{L::csRGB, L::csBGR, 8, 8},
        cmyk{L::csCMYK, L::csBGR, 8, 8, 4, 3}, lab{L::csCIELab, L::csBGRA, 8, 8, 3, 4, cfLabByteRange | cfABOffset};
    const Bytes rgba{1, 2, 3, 4, 5, 6, 7, 8}, fourGreys{0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3};
    struct Case {
        const char* what;
        Layouts layouts;
        Bytes source;
        uint32_t count;
        size_t targetBytes;
        uint8_t mask;
        Bytes expected;
        uint8_t fill = E;
    } cases[] = {
        {"indexed 1 to 8 bits", indexed1to8, {0xA0}, 3, 3, 0xFF, {255, 0, 255}},
        {"indexed 4 bits: a plain copy", {L::csIndexed, L::csIndexed, 4, 4, 1, 1}, {0x12, 0x34}, 3, 2, 0xFF, {0x12, 0x34}},
        {"indexed 4 bits masked", {L::csIndexed, L::csIndexed, 4, 4, 1, 1}, {0x12, 0x34}, 3, 2, 0x7F, {0xE1, 0x2E}},
        {"indexed 8 to 4 bits: a byte and a half", {L::csIndexed, L::csIndexed, 8, 4, 1, 1}, {0x11, 0xFF, 0x22}, 3, 2,
         0xFF, {0x1F, 0x20}, 0},
        {"indexed 16 to 4 bits", {L::csIndexed, L::csIndexed, 16, 4, 1, 1}, {0x11, 0x11, 0xFF, 0xFF, 0x22, 0x22}, 3, 2,
         0xFF, {0x1F, 0x20}, 0},
        {"grey 16 bits swapped", {L::csGray, L::csGray, 16, 8, 1, 1, cfByteSwap}, {0x12, 0x34}, 1, 1, 0xFF, {18}},
        {"grey 16 bits", {L::csGray, L::csGray, 16, 8, 1, 1}, {0x12, 0x34}, 1, 1, 0xFF, {51}},
        {"grey with alpha drops the alpha", {L::csGrayAlpha, L::csIndexed, 8, 8, 1, 1}, {10, 99, 20, 99}, 2, 2, 0xFF,
         {10, 20}},
        {"RGBA to BGR", {L::csRGBA, L::csBGR, 8, 8, 4, 3}, rgba, 2, 6, 0xFF, {3, 2, 1, 7, 6, 5}},
        {"RGB to BGRA leaves alpha", {L::csRGB, L::csBGRA, 8, 8, 3, 4}, {1, 2, 3}, 1, 4, 0xFF, {3, 2, 1, E}},
        {"RGBA to BGRA", {L::csRGBA, L::csBGRA, 8, 8, 4, 4}, rgba, 2, 8, 0xFF, {3, 2, 1, 4, 7, 6, 5, 8}},
        {"mask 0xAA: every other pixel from consecutive ones", rgb, fourGreys, 8, 24, 0xAA,
         {0, 0, 0, E, E, E, 1, 1, 1, E, E, E, 2, 2, 2, E, E, E, 3, 3, 3, E, E, E}},
        {"8 to 16 bits", {L::csRGB, L::csBGR, 8, 16}, {1, 2, 3}, 1, 6, 0xFF, {3, 3, 2, 2, 1, 1}},
        {"16 to 8 bits swapped", {L::csRGBA, L::csBGRA, 16, 8, 4, 4, cfByteSwap},
         {0x12, 0x34, 0, 0, 0xFF, 0xFF, 0x80, 0x00}, 1, 4, 0xFF, {255, 0, 18, 127}},
        {"gamma reaches colours, never alpha", {L::csRGBA, L::csBGRA, 8, 8, 4, 4, 0, cfApplyGamma}, {64, 128, 1, 64}, 1,
         4, 0xFF, {21, 186, 136, 64}},
        {"12 bits leave the row as it was", {L::csRGB, L::csBGR, 12, 8}, Bytes(6, 1), 1, 3, 0xFF, {E, E, E}},
        {"source of two pixels and a part", rgb, {1, 2, 3, 4, 5, 6, 7}, 4, 12, 0xFF,
         {3, 2, 1, 6, 5, 4, E, E, E, E, E, E}},
        {"target of a pixel and a part", rgb, {1, 2, 3, 4, 5, 6, 7}, 4, 5, 0xFF, {3, 2, 1, E, E}},
        {"masked pixels after the last source pixel stay", rgb, {1, 2, 3}, 3, 9, 0x20, {E, E, E, E, E, E, 3, 2, 1}},
        {"1-bit source of one byte", indexed1to8, {0xFF}, 10, 10, 0xFF, {255, 255, 255, 255, 255, 255, 255, 255, E, E}},
        {"no ink is white", cmyk, {0, 0, 0, 0}, 1, 3, 0xFF, {255, 255, 255}},
        {"full black", cmyk, {0, 0, 0, 255}, 1, 3, 0xFF, {0, 0, 0}},
        {"full cyan", cmyk, {255, 0, 0, 0}, 1, 3, 0xFF, {255, 255, 0}},
        {"mixed ink", cmyk, {100, 50, 0, 128}, 1, 3, 0xFF, {127, 102, 77}},
        {"Lab white and black", lab, {255, 128, 128, 0, 128, 128}, 2, 8, 0xFF, {255, 255, 255, E, 0, 0, 0, E}},
        {"Lab L 7.84: linear branch", lab, {20, 255, 128}, 1, 4, 0xFF, {3, 0, 27, E}},
        {"Lab L 8.24: cubic branch", lab, {21, 255, 128}, 1, 4, 0xFF, {5, 0, 71, E}},
        {"YCbCr", {L::csYCbCr, L::csBGR, 8, 8}, {128, 128, 128, 0, 0, 0}, 2, 6, 0xFF, {128, 128, 128, 0, 135, 0}},
    };
    for (const Case& c : cases) {
        TColorManager cm;
        Configure(cm, c.layouts);
        EXPECT_EQ(Convert(cm, c.source, c.count, c.targetBytes, c.mask, c.fill), c.expected) << c.what;
    }
    // Planar rows: one plane per sample.
    const Bytes r{1, 4}, g{2, 5}, b{3, 6};
    const TRowPlane planes[] = {{r.data(), 2}, {g.data(), 2}, {b.data(), 2}};
    TColorManager cm;
    Configure(cm, rgb);
    Bytes target(6);
    cm.ConvertPixels(planes, target.data(), target.size(), 2);
    EXPECT_EQ(target, (Bytes{3, 2, 1, 6, 5, 4}));
}

TEST(ColorManager, ChromaTablesAndParameters) {
    TColorManager cm;
    Configure(cm, {L::csYCbCr, L::csBGR, 8, 8});
    Convert(cm, {0, 0, 0}, 1, 3);
    EXPECT_EQ(cm.CrToRed().front(), -179);
    EXPECT_EQ(cm.CrToRed().back(), 178);
    EXPECT_EQ(cm.CbToBlue().front(), -227);
    EXPECT_EQ(cm.CbToBlue().back(), 225);
    cm.SetSourceLayout(L::csPhotoYCC);
    Convert(cm, {0, 0, 0}, 1, 3);
    EXPECT_EQ(cm.CrToRed()[0], -192);
    EXPECT_EQ(cm.CbToBlue()[0], -276);

    const float weights[] = {0.25f, 0.5f, 0.25f};
    EXPECT_THROW(cm.SetChromaParameters(weights, 3, 1), EColorConversionError);
    EXPECT_EQ(cm.LumaWeights()[0], 0.25f);  // stored before the check
    try {
        cm.SetChromaParameters(weights, 1, 2);
        FAIL();
    } catch (const EColorConversionError& e) {
        EXPECT_EQ(e.Message(), raster::kSubsamplingOrder);
    }
    // Fewer than three weights leave them as they are.
    cm.SetChromaParameters(std::span<const float>(), 1, 1);
    EXPECT_EQ(cm.LumaWeights()[1], 0.5f);
    // New weights wait for the next converter choice.
    cm.SetSourceLayout(L::csYCbCr);
    const Bytes before = Convert(cm, {100, 30, 200}, 1, 3);
    const float other[] = {0.299f, 0.587f, 0.114f};
    cm.SetChromaParameters(other, 1, 1);
    EXPECT_EQ(Convert(cm, {100, 30, 200}, 1, 3), before);
}

TEST(ColorManager, GammaCurve) {
    TColorManager cm;
    const auto& curve = cm.GammaCurve();
    const uint8_t points[][2] = {{0, 0}, {1, 21}, {64, 136}, {128, 186}, {192, 224}, {254, 255}};
    for (const auto& p : points) EXPECT_EQ(curve[p[0]], p[1]) << int(p[0]);
    cm.SetGammaCurve(1, 1);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(curve[size_t(i)], i);
    cm.SetGammaCurve(0, -1);
    EXPECT_EQ(cm.ImageGamma(), 1.0f);
    EXPECT_EQ(cm.DisplayGamma(), 2.2f);
    EXPECT_EQ(curve[64], 136);
    // Depths below 8 bits: a 2-bit target curve over 3 entries.
    const uint8_t above = curve[4];
    cm.SetSourceSampleBits(2);
    cm.SetTargetSampleBits(2);
    cm.SetGammaCurve(1, 1);
    EXPECT_EQ(curve[2], 2);
    EXPECT_EQ(curve[4], above);  // beyond the curve's range: as it was
    // A 16-bit target with a small source still fills only 256 entries.
    cm.SetTargetSampleBits(16);
    cm.SetGammaCurve(1, 2.2f);
    EXPECT_EQ(curve[255], 255);
    // Curves of the same gamma for other depths are not taken for one another.
    cm.SetTargetSampleBits(2);
    cm.SetGammaCurve(1, 2.2f);
    EXPECT_EQ(curve[3], 3);
    EXPECT_EQ(TColorManager().GammaCurve()[1], 21);
}

TEST(ColorManager, ColourPalettes) {
    TColorManager cm;
    const Bytes bgr{30, 20, 10, 60, 50, 40}, rgb{10, 20, 30, 40, 50, 60};
    const TRowPlane tga{bgr.data(), bgr.size()}, pcx{rgb.data(), rgb.size()};
    const auto fromBGR = Entries(cm.BuildColorPalette({&tga, 1}, 0, 2, true));
    EXPECT_EQ(fromBGR, Entries(cm.BuildColorPalette({&pcx, 1}, 0, 2, false)));
    EXPECT_EQ(fromBGR[1], (TPaletteEntry{40, 50, 60, 0}));
    // A 1-bit two-colour map for an 8-bit target: 0..254 first, 255 second.
    cm.SetSourceSampleBits(1);
    const auto stretched = Entries(cm.BuildColorPalette({&pcx, 1}, 0, 2, false));
    ASSERT_EQ(stretched.size(), 256u);
    EXPECT_EQ(stretched[254], (TPaletteEntry{10, 20, 30, 0}));
    EXPECT_EQ(stretched[255], (TPaletteEntry{40, 50, 60, 0}));
    // 4 bits, 16 colours: entry i holds colour i div 17.
    Bytes sixteen;
    for (uint8_t i = 0; i < 16; ++i) sixteen.insert(sixteen.end(), {i, i, i});
    const TRowPlane map16{sixteen.data(), sixteen.size()};
    cm.SetSourceSampleBits(4);
    const auto widened = Entries(cm.BuildColorPalette({&map16, 1}, 0, 16, false));
    for (size_t i = 0; i < 256; ++i) EXPECT_EQ(widened[i].peRed, i / 17) << i;
    // 300 entries give 256; a map shorter than its count gives what it holds.
    cm.SetSourceSampleBits(8);
    Bytes big(900, 7);
    const TRowPlane bigMap{big.data(), big.size()};
    EXPECT_EQ(Entries(cm.BuildColorPalette({&bigMap, 1}, 0, 300, false)).size(), 256u);
    EXPECT_EQ(Entries(cm.BuildColorPalette({&tga, 1}, 1, 2, true)).size(), 1u);
    // 16-bit planes, reduced to 8 bits.
    const Bytes red{0xFF, 0xFF}, green{0x00, 0x80}, blue{0, 0};
    const TRowPlane planes[] = {{red.data(), 2}, {green.data(), 2}, {blue.data(), 2}};
    EXPECT_EQ(Entries(cm.BuildColorPalette(planes, 6, 1, false))[0], (TPaletteEntry{255, 127, 0, 0}));
    // More than 8 index bits have no place in a palette.
    cm.SetSourceSampleBits(16);
    EXPECT_THROW(cm.BuildColorPalette({&bigMap, 1}, 0, 256, false), EColorConversionError);
}

TEST(ColorManager, GreyPalettes) {
    TColorManager cm;
    cm.SetTargetSampleCount(1);
    struct Case {
        uint8_t bits;
        size_t count;
        uint8_t second, last;
    } cases[] = {{1, 2, 255, 255}, {2, 4, 85, 255}, {3, 8, 36, 252}, {4, 16, 17, 255}, {8, 256, 1, 255}, {16, 256, 1, 255}};
    for (const Case& c : cases) {
        cm.SetTargetSampleBits(c.bits);
        const auto e = Entries(cm.BuildGrayPalette(false));
        ASSERT_EQ(e.size(), c.count);
        EXPECT_EQ(e[1].peRed, c.second);
        EXPECT_EQ(e.back().peBlue, c.last);
    }
    cm.SetTargetSampleBits(1);
    const auto white = Entries(cm.BuildGrayPalette(true));
    EXPECT_EQ(white[0], (TPaletteEntry{255, 255, 255, 0}));
    EXPECT_EQ(white[1], (TPaletteEntry{0, 0, 0, 0}));
}
