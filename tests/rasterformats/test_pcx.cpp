// The PCX reader over files made by independent tools and a generator
// script, hostile headers and short data.
#include <gtest/gtest.h>

#include <vector>

#include "rasterformats/PCX.h"
#include "rasterformats/RasterStrings.h"
#include "tests/rasterformats/ReaderBytes.h"

namespace {

using namespace readerbytes;

Bytes PCXHeader(uint8_t bits, uint8_t planes, uint16_t width, uint16_t height, uint16_t bytesPerLine,
                uint8_t encoding = 1, uint8_t manufacturer = 10, uint8_t version = 5) {
    Bytes h(128, 0);
    h[0] = manufacturer;
    h[1] = version;
    h[2] = encoding;
    h[3] = bits;
    h[8] = uint8_t(width - 1), h[9] = uint8_t((width - 1) >> 8);
    h[10] = uint8_t(height - 1), h[11] = uint8_t((height - 1) >> 8);
    h[65] = planes;
    h[66] = uint8_t(bytesPerLine), h[67] = uint8_t(bytesPerLine >> 8);
    h[68] = 1;
    return h;
}

}  // namespace

TEST(PCX, FilesFromIndependentToolsMatchTheirReferences) { CheckGeneratedFamily<TPCXGraphic>("pcx", 25); }

TEST(PCX, HostileAndBrokenHeaders) {
    const std::string invalid = Format(raster::kInvalidImage, "PCX or SCR");
    const std::string colour = Format(raster::kInvalidColorFormat, "PCX");
    const std::string read = "Stream read error";
    Bytes corners = PCXHeader(8, 3, 4, 4, 4);
    corners[4] = 9;  // x min beyond x max
    struct Case {
        const char* what;
        Bytes bytes;
        std::string error;
    } cases[] = {
        {"shorter than a header", Bytes(127, 10), invalid},
        {"manufacturer 12", PCXHeader(8, 3, 2, 2, 2, 1, 12) + Bytes(12, 0), invalid},
        {"corners the wrong way round", corners + Bytes(48, 0), invalid},
        {"two planes of 4 bits", PCXHeader(4, 2, 2, 2, 1) + Bytes(4, 0), colour},
        {"one plane of 16 bits", PCXHeader(16, 1, 2, 2, 4) + Bytes(8, 0), colour},
        {"three planes of 4 bits", PCXHeader(4, 3, 2, 2, 1) + Bytes(6, 0), colour},
        {"lines shorter than a row", PCXHeader(8, 3, 10, 2, 9) + Bytes(60, 0), invalid},
        {"stored lines missing", PCXHeader(8, 3, 100, 100, 100, 0) + Bytes(29999, 0), read},
        {"65535 x 4096 packed from a few bytes", PCXHeader(1, 1, 65535, 4096, 8192) + Bytes(100, 0xFF), invalid},
        {"manufacturer 205", PCXHeader(8, 3, 2, 2, 2, 0, 205) + Bytes(12, 0), ""},
    };
    for (const Case& c : cases) EXPECT_EQ(LoadError<TPCXGraphic>(c.bytes), c.error) << c.what;

    EXPECT_TRUE(Accepts<TPCXGraphic>(PCXHeader(8, 3, 2, 2, 2, 1, 12) + Bytes(1, 0)));
    EXPECT_FALSE(Accepts<TPCXGraphic>(PCXHeader(8, 3, 2, 2, 2, 1, 205) + Bytes(1, 0)));
    EXPECT_FALSE(Accepts<TPCXGraphic>(PCXHeader(8, 3, 2, 2, 2)));  // exactly a header
    EXPECT_FALSE(Accepts<TPCXGraphic>(PCXHeader(8, 3, 2, 2, 2, 1, 10, 4) + Bytes(1, 0)));
}

TEST(PCX, ShortDataLeavesTheRestZero) {
    // Packed data ends within the first line: a run of two 7s, then one 9.
    TPCXGraphic pcx;
    ASSERT_EQ(LoadError(PCXHeader(8, 3, 2, 2, 2) + Bytes{0xC2, 7, 9}, pcx), "");
    EXPECT_EQ(pcx.Pixel(0, 0), RGB(7, 9, 0));
    EXPECT_EQ(pcx.Pixel(1, 0), RGB(7, 0, 0));
    EXPECT_EQ(pcx.Pixel(0, 1), RGB(0, 0, 0));
    // An 8-bit file shorter than the palette at the end has no data at all;
    // a run of 63 bytes is the most two bytes of data can give.
    ASSERT_EQ(LoadError(PCXHeader(8, 1, 7, 9, 7) + Bytes(700, 0xC1), pcx), "");
    EXPECT_EQ(pcx.PixelFormat(), TPixelFormat::pf8bit);
    for (int32_t y = 0; y < 9; ++y)
        for (int32_t x = 0; x < 7; ++x) EXPECT_EQ(pcx.ScanLine(y)[x], 0);
    EXPECT_EQ(LoadError(PCXHeader(8, 1, 8, 8, 8) + Bytes(700, 0xC1), pcx), Format(raster::kInvalidImage, "PCX or SCR"));
}

TEST(PCX, ProgressAndImageProperties) {
    TPCXGraphic pcx;
    Bytes header = PCXHeader(8, 3, 3, 2, 3, 0);
    header[12] = 44, header[14] = 88;
    EXPECT_EQ(ProgressOf(pcx, header + Bytes(18, 1)),
              (std::vector<std::string>{"0 0 - 0 Preparing...", "2 0 - 0 ", "0 0 - 0 Transfering...", "1 0 r 0 ",
                                        "1 50 r 1 ", "2 0 - 2 "}));
    EXPECT_EQ(pcx.ImageProperties.BitsPerPixel, 24);
    EXPECT_EQ(pcx.ImageProperties.ColorScheme, TColorLayout::csRGB);
    EXPECT_EQ(pcx.ImageProperties.Compression, TCompressionType::ctNone);
    EXPECT_EQ(pcx.ImageProperties.XResolution, 44.0f);
    EXPECT_EQ(pcx.ImageProperties.YResolution, 88.0f);
}
