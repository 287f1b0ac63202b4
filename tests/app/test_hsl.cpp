#include <gtest/gtest.h>

#include <array>

#include "app/Hsl.h"
#include "app/SketchFiltersRef.h"

namespace {

using Triple = std::array<int32_t, 3>;

Triple ToHsl(int32_t r, int32_t g, int32_t b) {
    Triple t;
    RGBToHSL(r, g, b, t[0], t[1], t[2]);
    return t;
}

Triple ToRgb(int32_t h, int32_t s, int32_t l) {
    Triple t;
    HSLToRGB(h, s, l, t[0], t[1], t[2]);
    return t;
}

TEST(RGBToHSL, KnownColours) {
    EXPECT_EQ(ToHsl(255, 0, 0), (Triple{0, 100, 50}));
    EXPECT_EQ(ToHsl(128, 128, 128), (Triple{0, 0, 50}));
    EXPECT_EQ(ToHsl(0, 0, 255), (Triple{240, 100, 50}));
    EXPECT_EQ(ToHsl(10, 200, 30), (Triple{126, 90, 41}));
    EXPECT_EQ(ToHsl(255, 255, 255), (Triple{0, 0, 100}));
    EXPECT_EQ(ToHsl(0, 0, 0), (Triple{0, 0, 0}));
}

TEST(RGBToHSL, DoubleIntermediatesAtExtendedPrecision) {
    // Unrounded the hue is exactly 232.5 (to 232); the double intermediates
    // lift it just above.
    EXPECT_EQ(ToHsl(0, 1, 8), (Triple{233, 100, 2}));
}

TEST(RGBToHSL, HueJustBelow360RoundsTo360) {
    EXPECT_EQ(ToHsl(255, 0, 1), (Triple{360, 100, 50}));
    EXPECT_EQ(ToHsl(200, 50, 51), (Triple{360, 60, 49}));
}

TEST(RGBToHSL, RedWinsATieForTheMaximumThenGreen) {
    EXPECT_EQ(ToHsl(255, 255, 0)[0], 60);
    EXPECT_EQ(ToHsl(0, 255, 255)[0], 180);
    EXPECT_EQ(ToHsl(255, 0, 255)[0], 300);
}

TEST(HSLToRGB, KnownColoursAndTies) {
    EXPECT_EQ(ToRgb(0, 100, 50), (Triple{255, 0, 0}));
    EXPECT_EQ(ToRgb(30, 100, 50), (Triple{255, 128, 0}));  // 127.5
    EXPECT_EQ(ToRgb(2, 100, 50), (Triple{255, 8, 0}));     // 8.5
    EXPECT_EQ(ToRgb(120, 0, 50), (Triple{128, 128, 128}));
    EXPECT_EQ(ToRgb(200, 50, 75), (Triple{160, 202, 224}));
    EXPECT_EQ(ToRgb(210, 60, 40), (Triple{41, 102, 163}));
    EXPECT_EQ(ToRgb(17, 30, 100), (Triple{255, 255, 255}));
    EXPECT_EQ(ToRgb(17, 30, 0), (Triple{0, 0, 0}));
}

TEST(HSLToRGB, OutOfRangeGivesBlack) {
    EXPECT_EQ(ToRgb(360, 100, 50), (Triple{0, 0, 0}));
    EXPECT_EQ(ToRgb(-1, 100, 50), (Triple{0, 0, 0}));
    EXPECT_EQ(ToRgb(10, 101, 50), (Triple{0, 0, 0}));
    EXPECT_EQ(ToRgb(10, -1, 50), (Triple{0, 0, 0}));
    EXPECT_EQ(ToRgb(10, 50, -1), (Triple{0, 0, 0}));
    EXPECT_EQ(ToRgb(10, 50, 101), (Triple{0, 0, 0}));
}

TEST(HSLToRGB, SectorBoundariesBelongToTheLowerSector) {
    EXPECT_EQ(ToRgb(60, 100, 50), (Triple{255, 255, 0}));
    EXPECT_EQ(ToRgb(61, 100, 50), (Triple{251, 255, 0}));  // 250.75
    EXPECT_EQ(ToRgb(120, 100, 50), (Triple{0, 255, 0}));
    EXPECT_EQ(ToRgb(180, 100, 50), (Triple{0, 255, 255}));
    EXPECT_EQ(ToRgb(240, 100, 50), (Triple{0, 0, 255}));
    EXPECT_EQ(ToRgb(300, 100, 50), (Triple{255, 0, 255}));
    EXPECT_EQ(ToRgb(359, 100, 50), (Triple{255, 0, 4}));  // 4.25
}

TEST(HSLToRGB, TablesMatchTheStepByStepModelEverywhere) {
    for (int32_t h = -1; h <= 360; ++h)
        for (int32_t s = -1; s <= 101; ++s)
            for (int32_t l = -1; l <= 101; ++l) {
                Triple want;
                sketch::ref::HSLToRGB(h, s, l, want[0], want[1], want[2]);
                ASSERT_EQ(ToRgb(h, s, l), want) << h << " " << s << " " << l;
            }
}

}  // namespace
