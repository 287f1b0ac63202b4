// The Paintshop Pro reader over the files tests/data/psp/make-files.py lays
// down from the format's description.
#include <gtest/gtest.h>

#include "platform/core/LoadWork.h"
#include "platform/core/PixelBuffer.h"
#include "rasterformats/PaintshopPro.h"
#include "tests/rasterformats/RasterFiles.h"

TEST(PaintshopPro, FilesMatchTheGeneratorsPixels) {
    EXPECT_GT(rastertest::CheckFamily("psp"), 30u);
    const std::string dir = rastertest::GeneratedDir("psp");
    for (const rastertest::Expectation& e : rastertest::ReadManifest(dir))
        EXPECT_EQ(TPSPGraphic::AcceptsFile(dir + "/" + e.file), e.file != "bad-version-2.psp") << e.file;
    TPSPGraphic graphic;
    rastertest::CheckFuzzRegressions("psp", graphic);
}

TEST(PaintshopPro, PixelFormatsAndImageProperties) {
    const std::string dir = rastertest::GeneratedDir("psp");
    struct Case {
        const char* file;
        TPixelFormat format;
        TCompressionType compression;
    } cases[] = {
        {"v3-none-1.psp", TPixelFormat::pf1bit, TCompressionType::ctNone},
        {"v5-rle-4.psp", TPixelFormat::pf4bit, TCompressionType::ctRLE},
        {"v5-deflate-8.psp", TPixelFormat::pf8bit, TCompressionType::ctLZ77},
        {"v3-rle-24.psp", TPixelFormat::pf24bit, TCompressionType::ctRLE},
        {"v5-channel-type-9-and-alpha.psp", TPixelFormat::pf32bit, TCompressionType::ctRLE},
    };
    for (const Case& c : cases) {
        TPSPGraphic graphic;
        graphic.LoadFromFile(dir + "/" + c.file);
        EXPECT_EQ(graphic.PixelFormat(), c.format) << c.file;
        EXPECT_EQ(graphic.ImageProperties.Compression, c.compression) << c.file;
        // 28.35 dots per centimetre.
        EXPECT_FLOAT_EQ(graphic.ImageProperties.XResolution, 72.009f) << c.file;
    }
}

namespace {

// Pixel-block bytes held at once by the load, beside what the picture holds
// and 1.5 bytes a pixel.
void ExpectPictureAndLittleMore(const std::string& path) {
    SCOPED_TRACE(path);
    pixmem::ResetPeakBytes();
    const size_t before = pixmem::PeakBytes();
    TPSPGraphic graphic;
    graphic.LoadFromFile(path);
    const size_t pixels = size_t(graphic.Width()) * size_t(graphic.Height());
    EXPECT_LE(pixmem::PeakBytes() - before, size_t(graphic.RowBytes()) * size_t(graphic.Height()) + pixels * 3 / 2);
}

}  // namespace

TEST(PaintshopPro, ChannelsGoStraightIntoThePicture) {
    const std::string dir = rastertest::GeneratedDir("psp");
    for (const rastertest::Expectation& e : rastertest::ReadManifest(dir))
        // A second layer bank's four channels widen the first one's 24-bit
        // picture, which the bitmap does beside it.
        if (e.mode != "refuse" && e.file != "v5-two-layer-banks.psp") ExpectPictureAndLittleMore(dir + "/" + e.file);
}

TEST(PaintshopPro, RepeatedChannelsAndLayerBanksCostTheirOwnBytes) {
    const std::string dir = rastertest::GeneratedDir("hostile");
    size_t checked = 0;
    for (const rastertest::Expectation& c : rastertest::ReadManifest(dir, "claims.txt")) {
        if (c.file.rfind("channels-", 0) != 0) continue;
        ++checked;
        loadwork::Reset();
        ExpectPictureAndLittleMore(dir + "/" + c.file);
        // Each packed byte unpacked once at the most: of several blocks of
        // a type only the last one, and each layer bank's own.
        EXPECT_LE(loadwork::DecodedBytes(), uint64_t(TFileStream(dir + "/" + c.file, fmOpenRead).Size())) << c.file;
    }
    EXPECT_EQ(checked, 4u);
}
