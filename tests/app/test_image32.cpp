#include <gtest/gtest.h>

#include "app/Image32.h"
#include "app/PixelOps.h"

namespace {

uint32_t Px(uint8_t b, uint8_t g, uint8_t r, uint8_t a) { return pix::MakePixel(b, g, r, a); }

void Fill(TBitmap& bmp, int32_t w, int32_t h, uint32_t value) {
    bmp.SetPixelFormat(TPixelFormat::pf32bit);
    bmp.SetSize(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) PixelRow(bmp, y)[x] = value;
}

TEST(TBitmap32, IsThirtyTwoBitsFromTheStart) {
    TBitmap32 bmp;
    EXPECT_EQ(bmp.PixelFormat(), TPixelFormat::pf32bit);
    EXPECT_TRUE(bmp.Empty());
}

TEST(TBitmap32, AssignFromTwentyFourBitsKeepsSizeAndColours) {
    TBitmap src;
    src.SetPixelFormat(TPixelFormat::pf24bit);
    src.SetSize(3, 2);
    src.SetPixel(2, 1, RGB(10, 20, 30));
    TBitmap32 bmp;
    bmp.Assign(&src);
    EXPECT_EQ(bmp.PixelFormat(), TPixelFormat::pf32bit);
    EXPECT_EQ(bmp.Width(), 3);
    EXPECT_EQ(bmp.Height(), 2);
    EXPECT_EQ(PixelRow(bmp, 1)[2] & pix::kColourMask, Px(30, 20, 10, 0));
}

TEST(TBitmap32, LoadFromFileForcesThirtyTwoBits) {
    TBitmap32 bmp;
    bmp.LoadFromFile(QUILLARC_SAMPLE);
    EXPECT_EQ(bmp.PixelFormat(), TPixelFormat::pf32bit);
    EXPECT_EQ(bmp.Width(), 364);
    EXPECT_EQ(bmp.Height(), 384);
}

TEST(BlendPixel, HalfAlphaTruncatesTowardZeroOnBothSides) {
    uint32_t dest = Px(100, 100, 100, 255);
    TBitmap32::BlendPixel(dest, Px(200, 0, 100, 128));
    EXPECT_EQ(dest, Px(150, 50, 100, 255));
}

TEST(BlendPixel, AlphaOneMovesNoChannelByLessThan255) {
    uint32_t dest = Px(0, 255, 1, 7);
    TBitmap32::BlendPixel(dest, Px(254, 1, 255, 1));
    EXPECT_EQ(dest, Px(0, 255, 1, 7));
    TBitmap32::BlendPixel(dest, Px(255, 0, 0, 1));  // 255 div 255 = 1 step
    EXPECT_EQ(dest, Px(1, 254, 1, 7));
}

TEST(BlendPixel, OpaqueCopiesTransparentAndEqualKeep) {
    uint32_t dest = Px(1, 2, 3, 4);
    TBitmap32::BlendPixel(dest, Px(9, 8, 7, 0));
    EXPECT_EQ(dest, Px(1, 2, 3, 4));
    TBitmap32::BlendPixel(dest, Px(1, 2, 3, 4));
    EXPECT_EQ(dest, Px(1, 2, 3, 4));
    TBitmap32::BlendPixel(dest, Px(9, 8, 7, 255));
    EXPECT_EQ(dest, Px(9, 8, 7, 255));
}

TEST(SetAlphaChannel, TouchesOnlyAlpha) {
    TBitmap32 bmp;
    Fill(bmp, 3, 3, Px(1, 2, 3, 4));
    TBitmap32::SetAlphaChannel(bmp, 200);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(PixelRow(bmp, y)[x], Px(1, 2, 3, 200));
}

TEST(SetAlphaChannel, NarrowBitmapIsWidenedNotOverrun) {
    TBitmap bmp;
    bmp.SetPixelFormat(TPixelFormat::pf24bit);
    bmp.SetSize(5, 2);
    TBitmap32::SetAlphaChannel(bmp, 9);
    EXPECT_EQ(bmp.PixelFormat(), TPixelFormat::pf32bit);
    EXPECT_EQ(pix::AlphaOf(PixelRow(bmp, 1)[4]), 9);
}

TEST(DrawTo, SourceOutsideOnlyMakesDestOpaque) {
    TBitmap32 src;
    Fill(src, 2, 2, Px(9, 9, 9, 255));
    TBitmap dest;
    dest.SetPixelFormat(TPixelFormat::pf24bit);
    dest.SetSize(3, 3);
    dest.SetPixel(1, 1, RGB(5, 6, 7));
    src.DrawTo(3, 0, dest);
    src.DrawTo(-2, -2, dest);
    EXPECT_EQ(dest.PixelFormat(), TPixelFormat::pf32bit);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(pix::AlphaOf(PixelRow(dest, y)[x]), 255);
    EXPECT_EQ(PixelRow(dest, 1)[1], Px(7, 6, 5, 255));
}

TEST(DrawTo, NegativeOffsetClipsLeftAndTopAndLargerSourceIsCut) {
    TBitmap32 src;
    Fill(src, 5, 5, 0);
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 5; ++x) PixelRow(src, y)[x] = Px(uint8_t(10 * y + x), 0, 0, 255);
    TBitmap32 dest;
    Fill(dest, 2, 2, Px(0, 0, 0, 0));
    src.DrawTo(-1, -2, dest);
    EXPECT_EQ(PixelRow(dest, 0)[0], Px(21, 0, 0, 255));
    EXPECT_EQ(PixelRow(dest, 0)[1], Px(22, 0, 0, 255));
    EXPECT_EQ(PixelRow(dest, 1)[0], Px(31, 0, 0, 255));
    EXPECT_EQ(PixelRow(dest, 1)[1], Px(32, 0, 0, 255));
}

TEST(DrawTo, BlendsWithSourceAlphaAndKeepsDestOpaque) {
    TBitmap32 src;
    Fill(src, 1, 1, Px(200, 0, 100, 128));
    TBitmap32 dest;
    Fill(dest, 2, 1, Px(100, 100, 100, 3));
    src.DrawTo(1, 0, dest);
    EXPECT_EQ(PixelRow(dest, 0)[0], Px(100, 100, 100, 255));
    EXPECT_EQ(PixelRow(dest, 0)[1], Px(150, 50, 100, 255));
}

TEST(DrawTo, OntoItselfReadsTheUnchangedSource) {
    TBitmap32 bmp;
    Fill(bmp, 3, 1, 0);
    PixelRow(bmp, 0)[0] = Px(1, 0, 0, 255);
    PixelRow(bmp, 0)[1] = Px(2, 0, 0, 255);
    PixelRow(bmp, 0)[2] = Px(3, 0, 0, 255);
    bmp.DrawTo(1, 0, bmp);
    EXPECT_EQ(PixelRow(bmp, 0)[1], Px(1, 0, 0, 255));
    EXPECT_EQ(PixelRow(bmp, 0)[2], Px(2, 0, 0, 255));
}

TEST(PixelOps, RoundDivTiesToEven) {
    EXPECT_EQ(pix::RoundDiv(25, 10), 2);
    EXPECT_EQ(pix::RoundDiv(35, 10), 4);
    EXPECT_EQ(pix::RoundDiv(-25, 10), -2);
    EXPECT_EQ(pix::RoundDiv(-26, 10), -3);
    EXPECT_EQ(pix::RoundDiv(24, 16), 2);  // 1.5
    EXPECT_EQ(pix::RoundDiv(40, 16), 2);  // 2.5
    EXPECT_EQ(pix::RoundDiv(41, 16), 3);
    for (int32_t n = -500; n <= 500; ++n)
        EXPECT_EQ(pix::RoundDiv(n, 100), num::Round32(static_cast<long double>(n) / 100)) << n;
}

}  // namespace
