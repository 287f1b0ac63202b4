// The Photo-CD reader over image packs ImageMagick wrote, turned by each
// rotation code, and a hand-made overview pack (their pictures against the
// generator's references).
#include <gtest/gtest.h>

#include <string>

#include "rasterformats/PhotoCD.h"
#include "tests/rasterformats/RasterFiles.h"

TEST(PhotoCD, PacksMatchTheFormulasAndTurnByTheirRotationCode) {
    EXPECT_EQ(rastertest::CheckFamily("photocd"), 7u);
    const std::string dir = rastertest::GeneratedDir("photocd");
    EXPECT_TRUE(TPCDGraphic::AcceptsFile(dir + "/im-rotation0.pcd"));
    EXPECT_FALSE(TPCDGraphic::AcceptsFile(dir + "/no-signature.pcd"));
    // The picture is turned; the properties keep the stored size.
    TPCDGraphic turned;
    for (uint8_t code = 0; code < 4; ++code) {
        SCOPED_TRACE(int(code));
        turned.LoadFromFile(dir + "/im-rotation" + std::to_string(code) + ".pcd");
        EXPECT_EQ(turned.ImageProperties.Width, 768);
        EXPECT_EQ(turned.ImageProperties.Height, 512);
        EXPECT_EQ(turned.ImageProperties.Rotation, code);
    }
}
