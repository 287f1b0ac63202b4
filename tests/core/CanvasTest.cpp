#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "platform/core/Graphics.h"
#include "platform/core/PixelRows.h"

namespace {


uint32_t Word(const TBitmap& b, int32_t x, int32_t y) {
    const uint8_t* p = b.ScanLine(y) + 4 * x;
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void SetWord(TBitmap& b, int32_t x, int32_t y, uint32_t w) {
    uint8_t* p = b.ScanLine(y) + 4 * x;
    p[0] = static_cast<uint8_t>(w);
    p[1] = static_cast<uint8_t>(w >> 8);
    p[2] = static_cast<uint8_t>(w >> 16);
    p[3] = static_cast<uint8_t>(w >> 24);
}

}  // namespace

// TBitmap has no copy constructor; a helper returning by value needs one.
// The tests build bitmaps in place instead.
#define MAKE(name, f, w, h) \
    TBitmap name;           \
    name.SetPixelFormat(f); \
    name.SetSize(w, h)

TEST(Canvas, DrawThirtyTwoOntoThirtyTwoCopiesAllFourBytes) {
    MAKE(src, TPixelFormat::pf32bit, 2, 2);
    SetWord(src, 0, 0, 0x80112233);
    SetWord(src, 1, 1, 0x01445566);
    MAKE(dst, TPixelFormat::pf32bit, 4, 4);
    dst.Canvas().Draw(1, 1, src);
    EXPECT_EQ(Word(dst, 1, 1), 0x80112233u);
    EXPECT_EQ(Word(dst, 2, 2), 0x01445566u);
    EXPECT_EQ(Word(dst, 0, 0), 0u);
}

TEST(Canvas, DrawTwentyFourOntoThirtyTwoGivesAlphaZero) {
    MAKE(src, TPixelFormat::pf24bit, 1, 1);
    src.SetPixel(0, 0, RGB(1, 2, 3));
    MAKE(dst, TPixelFormat::pf32bit, 1, 1);
    SetWord(dst, 0, 0, 0xFFFFFFFF);
    dst.Canvas().Draw(0, 0, src);
    EXPECT_EQ(Word(dst, 0, 0), 0x00010203u);
}

TEST(Canvas, DrawingOutsideIsClipped) {
    MAKE(src, TPixelFormat::pf24bit, 3, 3);
    src.Canvas().Brush.Color = clRed;
    src.Canvas().FillRect(Rect(-5, -5, 50, 50));
    MAKE(dst, TPixelFormat::pf24bit, 4, 4);
    dst.Canvas().Draw(-2, 2, src);
    EXPECT_EQ(dst.Pixel(0, 3), clRed);
    EXPECT_EQ(dst.Pixel(1, 3), 0);
    EXPECT_EQ(dst.Pixel(0, 1), 0);
    dst.Canvas().Draw(100, 100, src);
    dst.Canvas().Draw(-100, 0, src);
}

TEST(Canvas, StretchDrawIsNearestNeighbour) {
    MAKE(src, TPixelFormat::pf24bit, 2, 1);
    src.SetPixel(0, 0, clRed);
    src.SetPixel(1, 0, clBlue);
    MAKE(dst, TPixelFormat::pf24bit, 5, 2);
    dst.Canvas().StretchDraw(Rect(0, 0, 5, 2), src);
    const TColor expect[5] = {clRed, clRed, clBlue, clBlue, clBlue};  // centres 0.2, 0.6, 1.0, 1.4, 1.8
    for (int x = 0; x < 5; ++x) {
        EXPECT_EQ(dst.Pixel(x, 0), expect[x]) << x;
        EXPECT_EQ(dst.Pixel(x, 1), expect[x]) << x;
    }
    // Shrinking picks the pixel under each destination centre.
    MAKE(wide, TPixelFormat::pf24bit, 4, 1);
    for (int x = 0; x < 4; ++x) wide.SetPixel(x, 0, RGB(static_cast<uint8_t>(x), 0, 0));
    MAKE(narrow, TPixelFormat::pf24bit, 2, 1);
    narrow.Canvas().StretchDraw(Rect(0, 0, 2, 1), wide);
    EXPECT_EQ(narrow.Pixel(0, 0), RGB(1, 0, 0));
    EXPECT_EQ(narrow.Pixel(1, 0), RGB(3, 0, 0));
}

TEST(Canvas, StretchBltKeepsTheDestinationUnderTheMask) {
    MAKE(src, TPixelFormat::pf24bit, 2, 2);
    src.Canvas().Brush.Color = clLime;
    src.Canvas().FillRect(Rect(0, 0, 2, 2));
    MAKE(mask, TPixelFormat::pf1bit, 2, 2);
    mask.ScanLine(0)[0] = 0x40;  // (1, 0) set: keep the destination there
    MAKE(dst, TPixelFormat::pf24bit, 4, 4);
    dst.Canvas().Brush.Color = clBlue;
    dst.Canvas().FillRect(Rect(0, 0, 4, 4));
    dst.Canvas().StretchBlt(Rect(0, 0, 4, 4), src, Rect(0, 0, 2, 2), &mask);
    EXPECT_EQ(dst.Pixel(0, 0), clLime);
    EXPECT_EQ(dst.Pixel(2, 0), clBlue);
    EXPECT_EQ(dst.Pixel(3, 1), clBlue);
    EXPECT_EQ(dst.Pixel(3, 2), clLime);
}

TEST(Canvas, CopyModesCombineSourceAndDestination) {
    MAKE(a, TPixelFormat::pf24bit, 1, 1);
    a.SetPixel(0, 0, RGB(0xF0, 0x0F, 0xFF));
    MAKE(b, TPixelFormat::pf24bit, 1, 1);
    b.SetPixel(0, 0, RGB(0xFF, 0xFF, 0x00));
    b.Canvas().CopyMode = cmSrcInvert;
    b.Canvas().CopyRect(Rect(0, 0, 1, 1), a.Canvas(), Rect(0, 0, 1, 1));
    EXPECT_EQ(b.Pixel(0, 0), RGB(0x0F, 0xF0, 0xFF));
    b.Canvas().CopyMode = cmSrcAnd;
    b.Canvas().CopyRect(Rect(0, 0, 1, 1), a.Canvas(), Rect(0, 0, 1, 1));
    EXPECT_EQ(b.Pixel(0, 0), RGB(0x00, 0x00, 0xFF));
    b.Canvas().CopyMode = cmNotSrcCopy;
    b.Canvas().CopyRect(Rect(0, 0, 1, 1), a.Canvas(), Rect(0, 0, 1, 1));
    EXPECT_EQ(b.Pixel(0, 0), RGB(0x0F, 0xF0, 0x00));
    b.Canvas().CopyMode = cmWhiteness;
    b.Canvas().CopyRect(Rect(0, 0, 1, 1), a.Canvas(), Rect(0, 0, 1, 1));
    EXPECT_EQ(b.Pixel(0, 0), clWhite);
}

TEST(Canvas, CopyRectOntoItselfReadsTheOldPixels) {
    MAKE(b, TPixelFormat::pf24bit, 4, 1);
    for (int x = 0; x < 4; ++x) b.SetPixel(x, 0, RGB(static_cast<uint8_t>(10 * x), 0, 0));
    b.Canvas().CopyRect(Rect(1, 0, 4, 1), b.Canvas(), Rect(0, 0, 3, 1));
    EXPECT_EQ(b.Pixel(1, 0), RGB(0, 0, 0));
    EXPECT_EQ(b.Pixel(2, 0), RGB(10, 0, 0));
    EXPECT_EQ(b.Pixel(3, 0), RGB(20, 0, 0));
}

TEST(Canvas, InvertRectLeavesAlpha) {
    MAKE(b, TPixelFormat::pf32bit, 2, 1);
    SetWord(b, 0, 0, 0x7F102030);
    SetWord(b, 1, 0, 0x7F102030);
    InvertRect(b.Canvas().Handle(), Rect(0, 0, 1, 5));
    EXPECT_EQ(Word(b, 0, 0), 0x7FEFDFCFu);
    EXPECT_EQ(Word(b, 1, 0), 0x7F102030u);
}

TEST(Canvas, FillRectOnIndexedBitmapsPicksTheNearestEntry) {
    MAKE(b, TPixelFormat::pf4bit, 3, 1);
    b.Canvas().Brush.Color = RGB(250, 0, 0);
    b.Canvas().FillRect(Rect(1, 0, 3, 1));
    EXPECT_EQ(b.ScanLine(0)[0], 0x09);  // entry 9 of the 16 system colours is red
    EXPECT_EQ(b.ScanLine(0)[1] >> 4, 9);
    b.Canvas().Brush.Color = clWindow;
    b.Canvas().FillRect(Rect(0, 0, 1, 1));
    EXPECT_EQ(b.ScanLine(0)[0] >> 4, 15);
}

TEST(Canvas, DrawOntoIndexedKeepsUntouchedIndices) {
    // The halftone table holds black twice (entries 0 and 10).
    MAKE(dst, TPixelFormat::pf8bit, 3, 1);
    dst.ScanLine(0)[0] = 10;
    dst.ScanLine(0)[2] = 10;
    MAKE(src, TPixelFormat::pf24bit, 1, 1);
    src.SetPixel(0, 0, clWhite);
    dst.Canvas().Draw(1, 0, src);
    EXPECT_EQ(dst.ScanLine(0)[0], 10);
    EXPECT_EQ(dst.ScanLine(0)[2], 10);
    EXPECT_EQ(dst.Pixel(1, 0), clWhite);
}

TEST(Canvas, TransparentBitmapSkipsItsKeyColour) {
    MAKE(src, TPixelFormat::pf24bit, 2, 1);
    src.SetPixel(0, 0, clFuchsia);
    src.SetPixel(1, 0, clRed);
    src.SetTransparent(true);
    src.SetTransparentColor(clFuchsia);
    MAKE(dst, TPixelFormat::pf24bit, 2, 1);
    dst.Canvas().Brush.Color = clBlue;
    dst.Canvas().FillRect(Rect(0, 0, 2, 1));
    dst.Canvas().Draw(0, 0, src);
    EXPECT_EQ(dst.Pixel(0, 0), clBlue);
    EXPECT_EQ(dst.Pixel(1, 0), clRed);
}

TEST(Canvas, EveryDrawingOperationReportsOneChange) {
    MAKE(src, TPixelFormat::pf24bit, 2, 2);
    MAKE(dst, TPixelFormat::pf32bit, 4, 4);
    int canvasChanges = 0, bitmapChanges = 0;
    dst.Canvas().OnChange = [&](TObject*) { ++canvasChanges; };
    dst.OnChange = [&](TObject*) { ++bitmapChanges; };
    dst.Canvas().Draw(0, 0, src);
    EXPECT_EQ(canvasChanges, 1);
    EXPECT_EQ(bitmapChanges, 1);
    dst.Canvas().StretchDraw(Rect(0, 0, 4, 4), src);
    dst.Canvas().FillRect(Rect(0, 0, 1, 1));
    dst.Canvas().InvertRect(Rect(0, 0, 1, 1));
    dst.Canvas().CopyRect(Rect(0, 0, 1, 1), src.Canvas(), Rect(0, 0, 1, 1));
    dst.Canvas().SetPixel(0, 0, clRed);
    EXPECT_EQ(canvasChanges, 6);
    EXPECT_EQ(bitmapChanges, 6);
    EXPECT_EQ(dst.Canvas().Pixel(0, 0), clRed);
    EXPECT_EQ(dst.Canvas().Pixel(9, 0), -1);
}

// Source copies take a faster way than the other raster operations; both
// must draw the same. A key colour that no source pixel has sends the same
// copy down the general way.
TEST(Canvas, SourceCopyDrawsWhatTheGeneralBlitDraws) {
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    auto fill = [&](TBitmap& b) {
        for (int32_t y = 0; y < b.Height(); ++y)
            for (int32_t x = 0; x < b.RowBytes(); ++x) b.ScanLine(y)[x] = static_cast<uint8_t>(next() & 0xFE);
    };
    const int64_t key = 0x010101;  // odd bytes: never a source colour
    std::vector<TPaletteEntry> colors;
    for (int i = 0; i < 200; ++i)
        colors.push_back({static_cast<uint8_t>(next() & 0xFE), static_cast<uint8_t>(next() & 0xFE),
                          static_cast<uint8_t>(next() & 0xFE), 0});
    const TPixelFormat sources[] = {TPixelFormat::pf8bit, TPixelFormat::pf24bit, TPixelFormat::pf32bit};
    const TPixelFormat targets[] = {TPixelFormat::pf32bit, TPixelFormat::pfDevice, TPixelFormat::pf24bit};
    const TRect sizes[] = {Rect(0, 0, 1, 1), Rect(0, 0, 1, 9), Rect(0, 0, 3, 3), Rect(0, 0, 7, 5), Rect(0, 0, 37, 11)};
    int cases = 0;
    for (const TPixelFormat sf : sources) {
        for (const TPixelFormat df : targets) {
            for (const TRect& size : sizes) {
                for (int maskKind = 0; maskKind < 3; ++maskKind) {  // none, 1 bit, 8 bits
                    MAKE(src, sf, size.Right, size.Bottom);
                    if (sf == TPixelFormat::pf8bit) src.SetColorTable(colors);  // indices past 200 read black
                    fill(src);
                    std::unique_ptr<TBitmap> mask;
                    if (maskKind > 0) {
                        mask = std::make_unique<TBitmap>();
                        mask->SetPixelFormat(maskKind == 1 ? TPixelFormat::pf1bit : TPixelFormat::pf8bit);
                        mask->SetSize(std::max(1, size.Right - 1), size.Bottom);  // one column short
                        for (int32_t y = 0; y < mask->Height(); ++y)
                            for (int32_t x = 0; x < mask->RowBytes(); ++x)
                                mask->ScanLine(y)[x] = static_cast<uint8_t>(x % 3 == 0 ? 0 : x % 3 == 1 ? 0xFF : next());
                    }
                    // 1:1 at an offset, shrunk, stretched, and from a source
                    // rectangle reaching past the source.
                    const TRect places[][2] = {
                        {Bounds(3, 2, size.Right, size.Bottom), size},
                        {Bounds(1, 1, size.Right / 2 + 1, size.Bottom / 2 + 1), size},
                        {Bounds(0, 0, size.Right * 3, size.Bottom * 2), size},
                        {Bounds(2, 0, size.Right + 4, size.Bottom), Rect(-2, 0, size.Right + 2, size.Bottom)},
                    };
                    for (const auto& place : places) {
                        MAKE(fast, df, 40, 24);
                        fill(fast);
                        MAKE(general, df, 40, 24);
                        for (int32_t y = 0; y < 24; ++y)
                            std::memcpy(general.ScanLine(y), fast.ScanLine(y), static_cast<size_t>(fast.RowBytes()));
                        px::Blit(fast, place[0], src, place[1], mask.get(), cmSrcCopy, clWhite, -1);
                        px::Blit(general, place[0], src, place[1], mask.get(), cmSrcCopy, clWhite, key);
                        for (int32_t y = 0; y < 24; ++y)
                            ASSERT_EQ(std::memcmp(fast.ScanLine(y), general.ScanLine(y), static_cast<size_t>(fast.RowBytes())), 0)
                                << "formats " << int(sf) << " to " << int(df) << ", " << size.Right << " x " << size.Bottom
                                << ", mask " << maskKind << ", row " << y;
                        ++cases;
                    }
                }
            }
        }
    }
    EXPECT_EQ(cases, 540);
}
