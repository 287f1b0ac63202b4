// The colour manager: the converter choice and its errors, the pixel
// format rule, the row converters' exact arithmetic, gamma and palettes.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <vector>

#include "rasterformats/RasterColor.h"
#include "rasterformats/RasterStrings.h"

namespace {

using L = TColorLayout;
using Bytes = std::vector<uint8_t>;

void Configure(TColorManager& cm, L source, L target, uint8_t sb, uint8_t tb, uint8_t sc = 3, uint8_t tc = 3) {
    cm.SetSourceLayout(source);
    cm.SetTargetLayout(target);
    cm.SetSourceSampleBits(sb);
    cm.SetTargetSampleBits(tb);
    cm.SetSourceSampleCount(sc);
    cm.SetTargetSampleCount(tc);
}

// Converts one interleaved row into a target filled with `fill`.
Bytes Convert(TColorManager& cm, const Bytes& source, uint32_t count, size_t targetBytes, uint8_t mask = 0xFF,
              uint8_t fill = 0xEE) {
    Bytes target(targetBytes, fill);
    cm.ConvertPixels(source.data(), source.size(), target.data(), target.size(), count, mask);
    return target;
}

std::string ErrorOf(TColorManager& cm, const Bytes& source, uint32_t count) {
    try {
        Convert(cm, source, count, 64);
    } catch (const EColorConversionError& e) {
        return e.Message();
    }
    return "";
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
        Configure(cm, c.source, c.target, c.sb, c.tb, 1, 1);
        EXPECT_EQ(ErrorOf(cm, Bytes(64, 0), 1), c.error);
        // A failed choice is repeated at every later row.
        if (!c.error.empty()) {
            EXPECT_EQ(ErrorOf(cm, Bytes(64, 0), 1), c.error);
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

TEST(ColorManager, IndexedRowsAreStretchedBetweenDepths) {
    TColorManager cm;
    Configure(cm, L::csIndexed, L::csIndexed, 1, 8, 1, 1);
    EXPECT_EQ(Convert(cm, {0xA0}, 3, 3), (Bytes{255, 0, 255}));
    Configure(cm, L::csIndexed, L::csIndexed, 4, 4, 1, 1);
    EXPECT_EQ(Convert(cm, {0x12, 0x34}, 3, 2), (Bytes{0x12, 0x34}));  // a plain copy of two bytes
    EXPECT_EQ(Convert(cm, {0x12, 0x34}, 3, 2, 0x7F), (Bytes{0xE1, 0x2E}));
    // 8 to 4 bits: three pixels fill a byte and a half, also from 16 bits.
    Configure(cm, L::csIndexed, L::csIndexed, 8, 4, 1, 1);
    EXPECT_EQ(Convert(cm, {0x11, 0xFF, 0x22}, 3, 2, 0xFF, 0), (Bytes{0x1F, 0x20}));
    cm.SetSourceSampleBits(16);
    EXPECT_EQ(Convert(cm, {0x11, 0x11, 0xFF, 0xFF, 0x22, 0x22}, 3, 2, 0xFF, 0), (Bytes{0x1F, 0x20}));
    Configure(cm, L::csGray, L::csGray, 16, 8, 1, 1);
    cm.SourceFlags = cfByteSwap;
    EXPECT_EQ(Convert(cm, {0x12, 0x34}, 1, 1), (Bytes{18}));
    cm.SourceFlags = 0;
    EXPECT_EQ(Convert(cm, {0x12, 0x34}, 1, 1), (Bytes{51}));
    // Grey with alpha drops the alpha.
    Configure(cm, L::csGrayAlpha, L::csIndexed, 8, 8, 1, 1);
    EXPECT_EQ(Convert(cm, {10, 99, 20, 99}, 2, 2), (Bytes{10, 20}));
}

TEST(ColorManager, ColourRowsKeepOrderAlphaAndMask) {
    TColorManager cm;
    const Bytes rgba{1, 2, 3, 4, 5, 6, 7, 8};
    Configure(cm, L::csRGBA, L::csBGR, 8, 8, 4, 3);
    EXPECT_EQ(Convert(cm, rgba, 2, 6), (Bytes{3, 2, 1, 7, 6, 5}));
    Configure(cm, L::csRGB, L::csBGRA, 8, 8, 3, 4);
    EXPECT_EQ(Convert(cm, {1, 2, 3}, 1, 4), (Bytes{3, 2, 1, 0xEE}));
    Configure(cm, L::csRGBA, L::csBGRA, 8, 8, 4, 4);
    EXPECT_EQ(Convert(cm, rgba, 2, 8), (Bytes{3, 2, 1, 4, 7, 6, 5, 8}));
    // Planar rows: one plane per sample.
    const Bytes r{1, 4}, g{2, 5}, b{3, 6};
    const TRowPlane planes[] = {{r.data(), 2}, {g.data(), 2}, {b.data(), 2}};
    Configure(cm, L::csRGB, L::csBGR, 8, 8);
    Bytes target(6);
    cm.ConvertPixels(planes, target.data(), target.size(), 2);
    EXPECT_EQ(target, (Bytes{3, 2, 1, 6, 5, 4}));
    // Mask 0xAA: pixels 0, 2, 4, 6 from four consecutive source pixels.
    Bytes source;
    for (uint8_t i = 0; i < 4; ++i) source.insert(source.end(), {i, i, i});
    const Bytes masked = Convert(cm, source, 8, 24, 0xAA);
    for (size_t p = 0; p < 8; ++p)
        EXPECT_EQ(masked[3 * p], p % 2 ? 0xEE : p / 2) << p;
}

TEST(ColorManager, ColourDepthsGammaAndByteOrder) {
    TColorManager cm;
    Configure(cm, L::csRGB, L::csBGR, 8, 16);
    EXPECT_EQ(Convert(cm, {1, 2, 3}, 1, 6), (Bytes{3, 3, 2, 2, 1, 1}));
    Configure(cm, L::csRGBA, L::csBGRA, 16, 8, 4, 4);
    cm.SourceFlags = cfByteSwap;
    EXPECT_EQ(Convert(cm, {0x12, 0x34, 0, 0, 0xFF, 0xFF, 0x80, 0x00}, 1, 4), (Bytes{255, 0, 18, 127}));
    // Gamma reaches colours, never alpha.
    Configure(cm, L::csRGBA, L::csBGRA, 8, 8, 4, 4);
    cm.SourceFlags = 0;
    cm.TargetFlags = cfApplyGamma;
    EXPECT_EQ(Convert(cm, {64, 128, 1, 64}, 1, 4), (Bytes{21, 186, 136, 64}));
    // Depths other than 8 and 16 leave the row as it was, without an error.
    Configure(cm, L::csRGB, L::csBGR, 12, 8);
    EXPECT_EQ(Convert(cm, Bytes(6, 1), 1, 3), (Bytes{0xEE, 0xEE, 0xEE}));
}

TEST(ColorManager, RowsNeverReachPastTheSizesGiven) {
    TColorManager cm;
    Configure(cm, L::csRGB, L::csBGR, 8, 8);
    const Bytes source{1, 2, 3, 4, 5, 6, 7};  // two whole pixels and a part
    EXPECT_EQ(Convert(cm, source, 4, 12), (Bytes{3, 2, 1, 6, 5, 4, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
    EXPECT_EQ(Convert(cm, source, 4, 5), (Bytes{3, 2, 1, 0xEE, 0xEE}));
    // Under a mask the unmasked pixels after the last source pixel stay.
    EXPECT_EQ(Convert(cm, {1, 2, 3}, 3, 9, 0x20), (Bytes{0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 3, 2, 1}));
    Configure(cm, L::csIndexed, L::csIndexed, 1, 8, 1, 1);
    EXPECT_EQ(Convert(cm, {0xFF}, 10, 10), (Bytes{255, 255, 255, 255, 255, 255, 255, 255, 0xEE, 0xEE}));
}

TEST(ColorManager, CMYKInkBecomesColour) {
    TColorManager cm;
    Configure(cm, L::csCMYK, L::csBGR, 8, 8, 4, 3);
    EXPECT_EQ(Convert(cm, {0, 0, 0, 0}, 1, 3), (Bytes{255, 255, 255}));
    EXPECT_EQ(Convert(cm, {0, 0, 0, 255}, 1, 3), (Bytes{0, 0, 0}));
    EXPECT_EQ(Convert(cm, {255, 0, 0, 0}, 1, 3), (Bytes{255, 255, 0}));
    EXPECT_EQ(Convert(cm, {100, 50, 0, 128}, 1, 3), (Bytes{127, 102, 77}));
}

TEST(ColorManager, ChromaTablesAndYCbCrRows) {
    TColorManager cm;
    Configure(cm, L::csYCbCr, L::csBGR, 8, 8);
    EXPECT_EQ(Convert(cm, {128, 128, 128, 0, 0, 0}, 2, 6), (Bytes{128, 128, 128, 0, 135, 0}));
    EXPECT_EQ(cm.CrToRed().front(), -179);
    EXPECT_EQ(cm.CrToRed().back(), 178);
    EXPECT_EQ(cm.CbToBlue().front(), -227);
    EXPECT_EQ(cm.CbToBlue().back(), 225);
    cm.SetSourceLayout(L::csPhotoYCC);
    Convert(cm, {0, 0, 0}, 1, 3);
    EXPECT_EQ(cm.CrToRed()[0], -192);
    EXPECT_EQ(cm.CbToBlue()[0], -276);
    EXPECT_EQ(std::bit_cast<uint32_t>(TColorManager().LumaWeights()[0]), 0x3E991687u);
    EXPECT_EQ(std::bit_cast<uint32_t>(TColorManager().LumaWeights()[1]), 0x3F1645A2u);
    EXPECT_EQ(std::bit_cast<uint32_t>(TColorManager().LumaWeights()[2]), 0x3DE978D5u);
}

TEST(ColorManager, ChromaParameters) {
    TColorManager cm;
    const float weights[] = {0.25f, 0.5f, 0.25f};
    EXPECT_THROW(cm.SetChromaParameters(weights, 3, 1), EColorConversionError);
    EXPECT_EQ(cm.LumaWeights()[0], 0.25f);  // stored before the check
    try {
        cm.SetChromaParameters(weights, 1, 2);
        FAIL();
    } catch (const EColorConversionError& e) {
        EXPECT_EQ(e.Message(), raster::kSubsamplingOrder);
    }
    cm.SetChromaParameters(weights, 4, 2);
    EXPECT_EQ(cm.HorizontalSubsampling(), 4);
    // Fewer than three weights leave them as they are.
    cm.SetChromaParameters(std::span<const float>(), 1, 1);
    EXPECT_EQ(cm.LumaWeights()[1], 0.5f);
    // New weights wait for the next converter choice.
    Configure(cm, L::csYCbCr, L::csBGR, 8, 8);
    const Bytes before = Convert(cm, {100, 30, 200}, 1, 3);
    const float other[] = {0.299f, 0.587f, 0.114f};
    cm.SetChromaParameters(other, 1, 1);
    EXPECT_EQ(Convert(cm, {100, 30, 200}, 1, 3), before);
}

TEST(ColorManager, LabRows) {
    TColorManager cm;
    Configure(cm, L::csCIELab, L::csBGRA, 8, 8, 3, 4);
    cm.SourceFlags = cfLabByteRange | cfABOffset;
    EXPECT_EQ(Convert(cm, {255, 128, 128, 0, 128, 128}, 2, 8), (Bytes{255, 255, 255, 0xEE, 0, 0, 0, 0xEE}));
    // L about 7.84 takes the linear branch, 8.24 the cubic one (a* 127).
    EXPECT_EQ(Convert(cm, {20, 255, 128}, 1, 4), (Bytes{3, 0, 27, 0xEE}));
    EXPECT_EQ(Convert(cm, {21, 255, 128}, 1, 4), (Bytes{5, 0, 71, 0xEE}));
}

TEST(ColorManager, GammaCurve) {
    TColorManager cm;
    const auto& curve = cm.GammaCurve();
    EXPECT_EQ(curve[0], 0);
    EXPECT_EQ(curve[1], 21);
    EXPECT_EQ(curve[64], 136);
    EXPECT_EQ(curve[128], 186);
    EXPECT_EQ(curve[192], 224);
    EXPECT_EQ(curve[254], 255);
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
