// The Photo-CD reader over image packs ImageMagick wrote, turned by each
// rotation code, and a hand-made overview pack.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rasterformats/PhotoCD.h"
#include "tests/rasterformats/RasterFiles.h"

TEST(PhotoCD, PacksMatchTheFormulasAndTurnByTheirRotationCode) {
    EXPECT_EQ(rastertest::CheckFamily("photocd"), 7u);
    const std::string dir = rastertest::GeneratedDir("photocd");
    TPCDGraphic plain, turned;
    plain.LoadFromFile(dir + "/im-rotation0.pcd");
    EXPECT_TRUE(TPCDGraphic::AcceptsFile(dir + "/im-rotation0.pcd"));
    EXPECT_FALSE(TPCDGraphic::AcceptsFile(dir + "/no-signature.pcd"));
    for (uint8_t code = 0; code < 4; ++code) {
        SCOPED_TRACE(int(code));
        turned.LoadFromFile(dir + "/im-rotation" + std::to_string(code) + ".pcd");
        // The properties keep the stored size.
        EXPECT_EQ(turned.ImageProperties.Width, 768);
        EXPECT_EQ(turned.ImageProperties.Height, 512);
        EXPECT_EQ(turned.ImageProperties.Rotation, code);
        const bool quarter = code == 1 || code == 3;
        EXPECT_EQ(turned.Width(), quarter ? 512 : 768);
        EXPECT_EQ(turned.Height(), quarter ? 768 : 512);
        // Where the stored corners went: top-left, top-right, bottom-left.
        const TColor topLeft = plain.Pixel(0, 0), topRight = plain.Pixel(767, 0), bottomLeft = plain.Pixel(0, 511);
        switch (code) {
            case 1:  // a quarter turn counter-clockwise
                EXPECT_EQ(turned.Pixel(0, 0), topRight);
                EXPECT_EQ(turned.Pixel(0, 767), topLeft);
                break;
            case 2:
                EXPECT_EQ(turned.Pixel(767, 511), topLeft);
                EXPECT_EQ(turned.Pixel(767, 0), bottomLeft);
                break;
            case 3:  // a quarter turn clockwise
                EXPECT_EQ(turned.Pixel(0, 0), bottomLeft);
                EXPECT_EQ(turned.Pixel(511, 0), topLeft);
                break;
            default: EXPECT_EQ(turned.Pixel(0, 0), topLeft);
        }
    }
    EXPECT_NE(plain.Pixel(0, 0), plain.Pixel(767, 0));
    EXPECT_NE(plain.Pixel(0, 0), plain.Pixel(0, 511));
}

TEST(PhotoCD, ProgressStages) {
    TPCDGraphic graphic;
    std::vector<std::string> stages;
    int running = 0;
    graphic.OnProgress = [&](TObject*, TProgressStage stage, uint8_t, bool, const TRect&, const std::string& msg) {
        if (stage == TProgressStage::psStarting) stages.push_back(msg);
        if (stage == TProgressStage::psRunning) ++running;
    };
    graphic.LoadFromFile(rastertest::GeneratedDir("photocd") + "/im-rotation0.pcd");
    EXPECT_EQ(stages, (std::vector<std::string>{"Preparing...", "Loading data...", "Upsampling...", "Transfering..."}));
    EXPECT_EQ(running, 256 + 2 + 512);
}
