// The Dr. Halo reader over the files make-cut.py writes, and where it finds
// its palette.
#include <gtest/gtest.h>

#include <string>

#include "rasterformats/DrHalo.h"
#include "tests/rasterformats/RasterFiles.h"

TEST(DrHalo, GeneratedFilesMatchTheirReferences) {
    EXPECT_GE(rastertest::CheckFamily("cut"), 10u);
    TCUTGraphic graphic;
    rastertest::CheckFuzzRegressions("cut", graphic);
}

TEST(DrHalo, ThePaletteFileOfTheLastFileLoadStays) {
    const std::string dir = rastertest::GeneratedDir("cut");
    TFileStream plain(dir + "/wide.cut", fmOpenRead);
    TCUTGraphic fresh;
    fresh.LoadFromStream(plain);
    EXPECT_TRUE(fresh.PaletteFileName().empty());
    EXPECT_EQ(fresh.Pixel(0, 0), RGB(0, 0, 0));  // grey levels: index 0
    EXPECT_EQ(fresh.Pixel(97, 0), RGB(97, 97, 97));

    TCUTGraphic graphic;
    graphic.LoadFromFile(dir + "/capitals.cut");
    EXPECT_EQ(ExtractFileName(graphic.PaletteFileName()), "capitals.PAL");
    EXPECT_FALSE(TCUTGraphic::AcceptsFile(dir + "/capitals.cut"));
    // A load from a stream alone takes the palette remembered.
    plain.SetPosition(0);
    graphic.LoadFromStream(plain);
    TCUTGraphic photo;
    photo.LoadFromFile(dir + "/photo.cut");
    ASSERT_EQ(graphic.ColorTable().size(), photo.ColorTable().size());
    for (size_t i = 0; i < photo.ColorTable().size(); ++i) {
        EXPECT_EQ(graphic.ColorTable()[i].peRed, photo.ColorTable()[i].peRed) << i;
        EXPECT_EQ(graphic.ColorTable()[i].peBlue, photo.ColorTable()[i].peBlue) << i;
    }
}
