// The Alias/Wavefront reader over the files make-rla.py writes, and the
// gamma the file gives.
#include <gtest/gtest.h>

#include <string>

#include "rasterformats/AliasWavefront.h"
#include "rasterformats/RasterStrings.h"
#include "tests/rasterformats/RasterFiles.h"

TEST(AliasWavefront, GeneratedFilesMatchTheirReferences) {
    EXPECT_GE(rastertest::CheckFamily("rla"), 19u);
    const std::string dir = rastertest::GeneratedDir("rla");
    for (const rastertest::Expectation& e : rastertest::ReadManifest(dir)) {
        if (e.mode == "refuse") continue;
        EXPECT_TRUE(TRLAGraphic::AcceptsFile(dir + "/" + e.file)) << e.file;
    }
    EXPECT_FALSE(TRLAGraphic::AcceptsFile(dir + "/xyz.rla"));
    TRLAGraphic graphic;
    TFileStream xyz(dir + "/xyz.rla", fmOpenRead);
    EXPECT_FALSE(graphic.ReadImageInfo(xyz, 0));
    rastertest::CheckFuzzRegressions("rla", graphic);
}

TEST(AliasWavefront, TheFilesGammaGoesThroughTheCurve) {
    const std::string dir = rastertest::GeneratedDir("rla");
    TRLAGraphic plain, corrected;
    corrected.LoadFromFile(dir + "/gamma.rla");
    EXPECT_EQ(corrected.ImageProperties.FileGamma, 2.2f);
    EXPECT_TRUE(corrected.ImageProperties.Options & ioUseGamma);
    plain.LoadFromFile(dir + "/rgb.rla");
    EXPECT_EQ(plain.ImageProperties.FileGamma, 1.0f);
    EXPECT_FALSE(plain.ImageProperties.Options & ioUseGamma);
    TColorManager curve;
    curve.SetGammaCurve(2.2f, 2.2f);
    ASSERT_EQ(corrected.Width(), plain.Width());
    for (int32_t y = 0; y < plain.Height(); y += 7) {
        for (int32_t x = 0; x < plain.Width(); ++x) {
            const TColor c = plain.Pixel(x, y);
            const auto& g = curve.GammaCurve();
            ASSERT_EQ(corrected.Pixel(x, y), RGB(g[GetRValue(c)], g[GetGValue(c)], g[GetBValue(c)])) << x << "," << y;
        }
    }
    // Nothing of the curve stays for the next file.
    corrected.LoadFromFile(dir + "/rgb.rla");
    EXPECT_EQ(corrected.Pixel(5, 5), plain.Pixel(5, 5));
}
