#include "app/SketchLayer.h"

#include <gtest/gtest.h>

#include "app/PixelOps.h"
#include "standard/Canny.h"

namespace {

TEST(SketchLayerGrey, DecimalTiesAreDecidedAtExtendedPrecision) {
    // 0.3 R + 0.59 G + 0.11 B is exactly k + 0.5 in decimal for these; the
    // constants held at extended precision put the sum just below the tie.
    EXPECT_EQ(sketch::GreyValue(0, 5, 5), 3);     // 3.5 in decimal
    EXPECT_EQ(sketch::GreyValue(0, 19, 39), 15);  // 15.5
    EXPECT_EQ(sketch::GreyValue(0, 28, 118), 29); // 29.5
    // Where the extended sum is still a tie, it goes to the even neighbour.
    EXPECT_EQ(sketch::GreyValue(0, 2, 12), 2);    // 2.5
}

TEST(SketchLayerGrey, IntegerPathMatchesExtendedPrecisionForEveryColour) {
    int64_t ties = 0;
    for (int32_t r = 0; r < 256; ++r)
        for (int32_t g = 0; g < 256; ++g)
            for (int32_t b = 0; b < 256; ++b) {
                const uint8_t slow = sketch::GreyValue(uint8_t(r), uint8_t(g), uint8_t(b));
                const uint8_t fast = sketch::FastGreyValue(uint8_t(r), uint8_t(g), uint8_t(b));
                // The pen-and-ink detector's grey value takes the integer path too.
                const uint8_t detector = stdf::canny::GreyOf(uint8_t(r), uint8_t(g), uint8_t(b));
                if (slow != fast || detector != fast) FAIL() << r << "," << g << "," << b;
                ties += (30 * r + 59 * g + 11 * b) % 100 == 50;
            }
    EXPECT_GT(ties, 0);
}

TEST(SketchLayerGrey, WeightsAndExtremes) {
    EXPECT_EQ(sketch::GreyValue(0, 0, 0), 0);
    EXPECT_EQ(sketch::GreyValue(255, 255, 255), 255);
    EXPECT_EQ(sketch::GreyValue(100, 0, 0), 30);
    EXPECT_EQ(sketch::GreyValue(0, 100, 0), 59);
    EXPECT_EQ(sketch::GreyValue(0, 0, 100), 11);
}

TEST(SketchLayerGrey, AlphaFollowsDarkness) {
    EXPECT_EQ(sketch::GreyAlpha(0), 255);
    EXPECT_EQ(sketch::GreyAlpha(255), 0);
    EXPECT_EQ(sketch::GreyAlpha(128), 221);  // sqrt(48641) = 220.547...
}

TEST(SketchLayerGrey, PenLayerKeepsAlphaPencilLayerSetsIt) {
    TBitmap32 bmp;
    bmp.SetSize(2, 1);
    PixelRow(bmp, 0)[0] = pix::MakePixel(5, 5, 0, 77);
    PixelRow(bmp, 0)[1] = pix::MakePixel(0, 0, 0, 77);
    TBitmap32 pen;
    pen.Assign(&bmp);
    sketch::MakeGreyLayer(pen, false);
    EXPECT_EQ(PixelRow(pen, 0)[0], pix::MakePixel(3, 3, 3, 77));
    sketch::MakeGreyLayer(bmp, true);
    EXPECT_EQ(PixelRow(bmp, 0)[0], pix::MakePixel(3, 3, 3, 255));  // sqrt(65016) = 254.98
    EXPECT_EQ(PixelRow(bmp, 0)[1], pix::MakePixel(0, 0, 0, 255));
}

}  // namespace
