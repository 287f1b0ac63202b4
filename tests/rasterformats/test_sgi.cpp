// The SGI and Autodesk readers over files made by independent tools and by
// generator scripts, hostile headers and run-length tables.
#include <gtest/gtest.h>

#include <vector>

#include "rasterformats/Autodesk.h"
#include "rasterformats/RasterStrings.h"
#include "rasterformats/SGI.h"
#include "tests/rasterformats/ReaderBytes.h"

namespace {

using namespace readerbytes;

Bytes Be16(uint32_t v) { return {uint8_t(v >> 8), uint8_t(v)}; }
Bytes Be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }

Bytes SGIHeader(uint8_t storage, uint8_t bpc, uint16_t width, uint16_t height, uint16_t channels) {
    Bytes h = Be16(474) + Bytes{storage, bpc} + Be16(3) + Be16(width) + Be16(height) + Be16(channels);
    h.resize(512, 0);
    return h;
}

// A run-length file of one channel: the tables, then the packed rows.
Bytes SGIRunLength(uint16_t width, const std::vector<uint32_t>& starts, const std::vector<uint32_t>& lengths,
                   const Bytes& body) {
    Bytes file = SGIHeader(1, 1, width, static_cast<uint16_t>(starts.size()), 1);
    for (uint32_t s : starts) file = file + Be32(s);
    for (uint32_t l : lengths) file = file + Be32(l);
    return file + body;
}

}  // namespace

TEST(SGI, FilesFromIndependentToolsMatchTheirReferences) { CheckGeneratedFamily<TSGIGraphic>("sgi", 15); }

TEST(SGI, HostileAndBrokenHeaders) {
    const std::string invalid = Format(raster::kInvalidImage, "sgi, bw or rgb(a)");
    const std::string read = "Stream read error";
    Bytes shortHeader = SGIHeader(0, 1, 2, 2, 1);
    shortHeader.pop_back();
    struct Case {
        const char* what;
        Bytes bytes;
        std::string error;
    } cases[] = {
        {"shorter than a header", shortHeader, read},
        {"no magic number", Bytes(600, 0), invalid},
        {"no width", SGIHeader(0, 1, 0, 2, 1) + Bytes(8, 0), invalid},
        {"no channels", SGIHeader(0, 1, 2, 2, 0) + Bytes(8, 0), raster::kBadSampleCount},
        {"five channels", SGIHeader(0, 1, 2, 2, 5) + Bytes(40, 0), raster::kBadSampleCount},
        {"3-byte samples", SGIHeader(0, 3, 2, 2, 3) + Bytes(40, 0), raster::kBadSampleBits},
        {"33-byte samples, 8 bits after a wrap", SGIHeader(0, 33, 2, 2, 1) + Bytes(40, 0), raster::kBadSampleBits},
        {"verbatim channel missing", SGIHeader(0, 1, 100, 100, 3) + Bytes(20000, 0), read},
        {"run-length tables past the end", SGIHeader(1, 1, 65535, 4096, 4) + Bytes(1000, 0), read},
        {"every row one empty run", SGIRunLength(65535, std::vector<uint32_t>(4000, 512 + 8 * 4000),
                                                 std::vector<uint32_t>(4000, 1), Bytes{0}), invalid},
        {"rows sharing one full row", SGIRunLength(65535, std::vector<uint32_t>(4000, 512 + 8 * 4000),
                                                   std::vector<uint32_t>(4000, 1100), Bytes(1100, 0x7F)), invalid},
    };
    for (const Case& c : cases) EXPECT_EQ(LoadError<TSGIGraphic>(c.bytes), c.error) << c.what;

    EXPECT_TRUE(Accepts<TSGIGraphic>(SGIHeader(1, 2, 2, 2, 4) + Bytes(1, 0)));
    EXPECT_FALSE(Accepts<TSGIGraphic>(SGIHeader(1, 2, 2, 2, 4)));  // nothing after the header
    EXPECT_FALSE(Accepts<TSGIGraphic>(SGIHeader(1, 3, 2, 2, 4) + Bytes(1, 0)));
}

TEST(SGI, RunLengthRowsOutsideTheStreamAreZero) {
    // Rows bottom first: row 0 is a run of 3 x 7, row 1 starts past the
    // end, row 2 is a literal whose length runs past the end and whose
    // data stops after one sample, row 3 shares row 0's bytes.
    const uint32_t body = 512 + 4 * 8;  // after the tables
    const Bytes packed = Bytes{0x03, 7, 0x00} + Bytes{0x83, 9};
    const Bytes file = SGIRunLength(3, {body, 5000, body + 3, body}, {3, 3, 400, 3}, packed);
    TSGIGraphic sgi;
    ASSERT_EQ(LoadError(file, sgi), "");
    ASSERT_EQ(sgi.PixelFormat(), TPixelFormat::pf8bit);
    const Bytes rows[] = {{7, 7, 7}, {9, 0, 0}, {0, 0, 0}, {7, 7, 7}};  // top first
    for (int32_t y = 0; y < 4; ++y) EXPECT_EQ(Bytes(sgi.ScanLine(y), sgi.ScanLine(y) + 3), rows[y]) << y;
    // A run longer than the row is cut at its end.
    ASSERT_EQ(LoadError(SGIRunLength(2, {512 + 8}, {3}, Bytes{0x7F, 5, 0}), sgi), "");
    EXPECT_EQ(Bytes(sgi.ScanLine(0), sgi.ScanLine(0) + 2), (Bytes{5, 5}));
}

TEST(SGI, ProgressRunsThroughPreparingAndTransfering) {
    TSGIGraphic sgi;
    const Bytes file = SGIHeader(0, 1, 3, 2, 3) + Bytes(18, 50);
    EXPECT_EQ(ProgressOf(sgi, file),
              (std::vector<std::string>{"0 0 - 0 Preparing...", "2 100 r 0 ", "0 0 - 0 Transfering...", "1 0 r 0 ",
                                        "1 50 r 1 ", "2 100 r 2 "}));
    EXPECT_EQ(sgi.ImageProperties.Options, ioBigEndian);
    EXPECT_EQ(sgi.ImageProperties.Compression, TCompressionType::ctNone);
}

TEST(Autodesk, GeneratedFilesMatchTheirPictures) { CheckGeneratedFamily<TAutodeskGraphic>("autodesk", 6); }

TEST(Autodesk, HeaderChecksAndProgress) {
    const Bytes header = {0x19, 0x91, 2, 0, 1, 0, 0, 0, 0, 0, 8, 0};
    Bytes file = header + Bytes(20, 0) + Bytes(768, 63) + Bytes{1, 2};
    EXPECT_TRUE(Accepts<TAutodeskGraphic>(Bytes(file.begin(), file.begin() + 33)));
    EXPECT_FALSE(Accepts<TAutodeskGraphic>(Bytes(file.begin(), file.begin() + 32)));
    EXPECT_EQ(LoadError<TAutodeskGraphic>(Bytes{0x19, 0x92} + Bytes(900, 0)),
              Format(raster::kInvalidImage, "Autodesk"));
    EXPECT_EQ(LoadError<TAutodeskGraphic>(Bytes{0x19, 0x91}), Format(raster::kInvalidImage, "Autodesk"));

    TAutodeskGraphic cel;
    EXPECT_EQ(ProgressOf(cel, file), (std::vector<std::string>{"0 0 - 0 Transfering...", "1 0 r 0 ", "2 0 - 1 "}));
    EXPECT_EQ(cel.Pixel(1, 0), RGB(252, 252, 252));
}
