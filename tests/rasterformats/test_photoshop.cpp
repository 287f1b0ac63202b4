// The Photoshop reader over ImageMagick's files and hand-made ones
// (tests/data/psd).
#include <gtest/gtest.h>

#include "rasterformats/Photoshop.h"
#include "tests/rasterformats/RasterFiles.h"

TEST(Photoshop, FilesMatchTheirReferences) {
    EXPECT_GT(rastertest::CheckFamily("psd"), 50u);
    const std::string dir = rastertest::GeneratedDir("psd");
    for (const rastertest::Expectation& e : rastertest::ReadManifest(dir))
        if (e.mode != "refuse" || e.file == "bad-signature-case.psd") {
            // A signature in lower case passes the test, not the load.
            EXPECT_TRUE(TPSDGraphic::AcceptsFile(dir + "/" + e.file)) << e.file;
        }
    TPSDGraphic graphic;
    rastertest::CheckFuzzRegressions("psd", graphic);
}

TEST(Photoshop, PixelFormats) {
    const std::string dir = rastertest::GeneratedDir("psd");
    struct Case {
        const char* file;
        TPixelFormat format;
    } cases[] = {
        {"hand-bitmap-rle.psd", TPixelFormat::pf1bit},     {"im-gray-alpha-rle-16.psd", TPixelFormat::pf8bit},
        {"im-palette-rle-8.psd", TPixelFormat::pf8bit},    {"im-rgba-none-8.psd", TPixelFormat::pf32bit},
        {"hand-lab-alpha-raw-8.psd", TPixelFormat::pf24bit}, {"im-cmyk-alpha-rle-16.psd", TPixelFormat::pf24bit},
    };
    for (const Case& c : cases) {
        TPSDGraphic graphic;
        graphic.LoadFromFile(dir + "/" + c.file);
        EXPECT_EQ(graphic.PixelFormat(), c.format) << c.file;
    }
}
