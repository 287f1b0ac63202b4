// The portable-map reader over files made by independent tools, and the
// header and sample rules they do not reach.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rasterformats/PortableMap.h"
#include "rasterformats/RasterStrings.h"
#include "tests/rasterformats/ReaderBytes.h"

namespace {

using readerbytes::Bytes;

Bytes B(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string LoadError(const std::string& text, TPPMGraphic& graphic) {
    return readerbytes::LoadError(B(text), graphic);
}

}  // namespace

TEST(PortableMap, FilesFromIndependentToolsMatchTheirReferences) {
    readerbytes::CheckGeneratedFamily<TPPMGraphic>("pnm", 34);
}

TEST(PortableMap, AcceptTestAndHeaderKinds) {
    EXPECT_TRUE(readerbytes::Accepts<TPPMGraphic>(B("P6\n1 1\n255\n\1\2\3")));
    EXPECT_FALSE(readerbytes::Accepts<TPPMGraphic>(B("P6 1 1 1\n\1")));  // 10 bytes: too short
    EXPECT_FALSE(readerbytes::Accepts<TPPMGraphic>(B("P7\nWIDTH 1\nHEIGHT 1\n")));
    EXPECT_FALSE(readerbytes::Accepts<TPPMGraphic>(B("Q6\n1 1\n255\n\1\2\3")));
    // A kind that is no digit is a conversion error; a lone "P" is short.
    TPPMGraphic graphic;
    TMemoryStream letter = readerbytes::StreamOf(B("Px 2 2 255\n"));
    EXPECT_THROW(graphic.ReadImageInfo(letter, 0), EConvertError);
    EXPECT_EQ(LoadError("P", graphic), Format(raster::kStreamReadError, "PPM"));
}

TEST(PortableMap, SamplesAreScaledByTheMaximumValue) {
    TPPMGraphic graphic;
    // v x 255 div maxval, truncated; values above the maximum give 255.
    ASSERT_EQ(LoadError("P2 4 1 1000 0 999 1000 4000000000", graphic), "");
    EXPECT_EQ(graphic.PixelFormat(), TPixelFormat::pf8bit);
    const uint8_t* row = graphic.ScanLine(0);
    EXPECT_EQ(Bytes(row, row + 4), (Bytes{0, 254, 255, 255}));
    // Two bytes per sample above 255, most significant first.
    ASSERT_EQ(LoadError(std::string("P6 1 1 65535\n\x12\x34\xFF\xFF\x00\x01", 19), graphic), "");
    EXPECT_EQ(graphic.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(graphic.Pixel(0, 0), RGB(0x1234 * 255 / 65535, 255, 0));
    // A raw byte above a maximum value below 255.
    ASSERT_EQ(LoadError("P5 2 1 15\n\x0F\x10", graphic), "");
    EXPECT_EQ(graphic.ScanLine(0)[0], 255);
    EXPECT_EQ(graphic.ScanLine(0)[1], 255);
}

TEST(PortableMap, PlainBitmapDigitsArePixelsPastComments) {
    TPPMGraphic graphic;
    // Ten pixels: two bytes, the second holding pixels 9 and 10 at its top.
    ASSERT_EQ(LoadError("P1\n10 2\n1100000001\n0 1 0 1 #x\n1 1 1 1 1 1", graphic), "");
    EXPECT_EQ(graphic.PixelFormat(), TPixelFormat::pf1bit);
    EXPECT_EQ(graphic.ScanLine(0)[0], 0xC0);
    EXPECT_EQ(graphic.ScanLine(0)[1], 0x40);
    EXPECT_EQ(graphic.ScanLine(1)[0], 0x5F);
    EXPECT_EQ(graphic.ScanLine(1)[1], 0xC0);
}

TEST(PortableMap, ProgressAndReuse) {
    TPPMGraphic graphic;
    EXPECT_EQ(readerbytes::ProgressOf(graphic, B("P5 1 3 255\n\1\2\3")),
              (std::vector<std::string>{"0 0 - 0 Transfering...", "1 0 r 0 ", "1 33 r 1 ", "1 67 r 2 ", "2 0 - 3 "}));
    // A later bitmap gets its own format and palette.
    ASSERT_EQ(LoadError("P4 8 1\n\x0F", graphic), "");
    EXPECT_EQ(graphic.PixelFormat(), TPixelFormat::pf1bit);
    EXPECT_EQ(graphic.Pixel(0, 0), RGB(255, 255, 255));
    EXPECT_EQ(graphic.Pixel(7, 0), RGB(0, 0, 0));
}
