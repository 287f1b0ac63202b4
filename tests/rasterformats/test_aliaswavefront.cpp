// The Alias/Wavefront reader over the files make-rla.py writes, and the
// gamma the file gives.
#include <gtest/gtest.h>

#include <string>

#include "rasterformats/AliasWavefront.h"
#include "tests/rasterformats/ReaderBytes.h"

TEST(AliasWavefront, GeneratedFilesMatchTheirReferences) {
    readerbytes::CheckGeneratedFamily<TRLAGraphic>("rla", 23);
    // Channels described "xyz" are no picture to the probe either.
    const std::string xyz = rastertest::GeneratedDir("rla") + "/xyz.rla";
    EXPECT_FALSE(TRLAGraphic::AcceptsFile(xyz));
    TRLAGraphic graphic;
    TFileStream stream(xyz, fmOpenRead);
    EXPECT_FALSE(graphic.ReadImageInfo(stream, 0));
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
    const auto& g = curve.GammaCurve();
    ASSERT_EQ(corrected.Width(), plain.Width());
    for (int32_t y = 0; y < plain.Height(); y += 7) {
        for (int32_t x = 0; x < plain.Width(); ++x) {
            const TColor c = plain.Pixel(x, y);
            ASSERT_EQ(corrected.Pixel(x, y), RGB(g[GetRValue(c)], g[GetGValue(c)], g[GetBValue(c)])) << x << "," << y;
        }
    }
    // Nothing of the curve stays for the next file.
    corrected.LoadFromFile(dir + "/rgb.rla");
    EXPECT_EQ(corrected.Pixel(5, 5), plain.Pixel(5, 5));
}
