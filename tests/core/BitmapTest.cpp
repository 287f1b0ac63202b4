#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/core/Graphics.h"
#include "platform/core/Parallel.h"
#include "platform/core/PixelBuffer.h"
#include "platform/core/Progress.h"

namespace {

void Fill24(TBitmap& b) {
    for (int32_t y = 0; y < b.Height(); ++y) {
        uint8_t* row = b.ScanLine(y);
        for (int32_t x = 0; x < b.Width(); ++x) {
            row[3 * x] = static_cast<uint8_t>(x * 40 + y);
            row[3 * x + 1] = static_cast<uint8_t>(y * 30);
            row[3 * x + 2] = static_cast<uint8_t>(255 - x * 9);
        }
    }
}

}  // namespace

TEST(Bitmap, NewBitmapIsEmptyDeviceFormat) {
    TBitmap b;
    EXPECT_TRUE(b.Empty());
    EXPECT_EQ(b.PixelFormat(), TPixelFormat::pfDevice);
    EXPECT_EQ(b.Palette(), nullptr);
    b.SetWidth(3);
    EXPECT_TRUE(b.Empty());
    b.SetHeight(2);
    EXPECT_EQ(b.RowBytes(), 12);  // pfDevice is 32 bits per pixel
    EXPECT_EQ(b.ScanLine(1) - b.ScanLine(0), 12);
}

// A picture-sized block given back is handed out again: a new bitmap must
// still start all zero, and a copy must not keep the block's old bytes.
TEST(Bitmap, ReusedPixelBlocksStartZeroAndCopiesAreWhole) {
    for (int round = 0; round < 2; ++round) {
        TBitmap dirty;
        dirty.NewImage(700, 500, TPixelFormat::pf32bit);
        std::memset(dirty.ScanLine(0), 0xAB, size_t(700) * 500 * 4);
        dirty.ReleaseImage();
        TBitmap fresh;
        fresh.SetPixelFormat(TPixelFormat::pf32bit);
        fresh.SetSize(700, 500);
        for (int32_t y = 0; y < 500; y += 7)
            for (int32_t x = 0; x < 700 * 4; ++x) ASSERT_EQ(fresh.ScanLine(y)[x], 0) << y;
        TBitmap source;
        source.SetPixelFormat(TPixelFormat::pf24bit);
        source.SetSize(699, 500);  // rows of 2097 bytes padded to 2100
        for (int32_t y = 0; y < 500; ++y) std::memset(source.ScanLine(y), y & 0xFF, 699 * 3);
        TBitmap copy;
        copy.Assign(&source);
        copy.SetPixelFormat(TPixelFormat::pf32bit);
        copy.SetPixelFormat(TPixelFormat::pf24bit);
        for (int32_t y = 0; y < 500; y += 7)
            ASSERT_EQ(std::memcmp(copy.ScanLine(y), source.ScanLine(y), 2100), 0) << y;
    }
}

TEST(Bitmap, RowsArePaddedToFourBytes) {
    const struct {
        TPixelFormat f;
        int32_t w;
        int32_t stride;
    } cases[] = {{TPixelFormat::pf1bit, 1, 4},  {TPixelFormat::pf1bit, 33, 8},  {TPixelFormat::pf4bit, 9, 8},
                 {TPixelFormat::pf8bit, 5, 8},  {TPixelFormat::pf15bit, 3, 8}, {TPixelFormat::pf16bit, 2, 4},
                 {TPixelFormat::pf24bit, 5, 16}, {TPixelFormat::pf32bit, 3, 12}};
    for (const auto& c : cases) {
        TBitmap b;
        b.SetPixelFormat(c.f);
        b.SetSize(c.w, 2);
        EXPECT_EQ(b.RowBytes(), c.stride) << static_cast<int>(c.f) << " x " << c.w;
    }
}

TEST(Bitmap, ScanLineOutOfRangeRaises) {
    TBitmap b;
    b.SetSize(2, 2);
    for (int32_t row : {-1, 2}) {
        try {
            b.ScanLine(row);
            FAIL();
        } catch (const EInvalidGraphicOperation& e) {
            EXPECT_EQ(e.Message(), "Scan line index out of range");
        }
    }
    TBitmap empty;
    EXPECT_THROW(empty.ScanLine(0), EInvalidGraphicOperation);
}

TEST(Bitmap, SizeLimitsAreCheckedBeforeAllocating) {
    TBitmap b;
    EXPECT_THROW(b.SetSize(-1, 5), EInvalidGraphic);
    EXPECT_THROW(b.SetSize(kMaxBitmapSide + 1, 1), EOutOfMemory);
    EXPECT_THROW(b.SetSize(kMaxBitmapSide, kMaxBitmapSide), EOutOfMemory);
    try {
        b.SetSize(100000, 100000);
        FAIL();
    } catch (const EOutOfMemory& e) {
        EXPECT_EQ(e.Message(), "Out of memory");
    }
    EXPECT_TRUE(b.Empty());
    EXPECT_EQ(b.Width(), 0);
}

TEST(Bitmap, ResizeKeepsOverlapFormatAndPalette) {
    TBitmap b;
    b.SetPixelFormat(TPixelFormat::pf24bit);
    b.SetSize(4, 3);
    Fill24(b);
    const TColor keep = b.Pixel(1, 1);
    b.SetSize(2, 5);
    EXPECT_EQ(b.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(b.Pixel(1, 1), keep);
    EXPECT_EQ(b.Pixel(1, 4), 0);
    b.SetWidth(4);
    EXPECT_EQ(b.Pixel(3, 0), 0) << "cut-off pixels do not come back";

    TBitmap m;
    m.SetPixelFormat(TPixelFormat::pf1bit);
    m.SetSize(8, 1);
    m.ScanLine(0)[0] = 0xFF;
    m.SetWidth(3);
    m.SetWidth(8);
    EXPECT_EQ(m.ScanLine(0)[0], 0xE0);
    ASSERT_EQ(m.ColorTable().size(), 2u);
}

TEST(Bitmap, TwentyFourToThirtyTwoAndBack) {
    TBitmap b;
    b.SetPixelFormat(TPixelFormat::pf24bit);
    b.SetSize(5, 3);
    Fill24(b);
    TBitmap original;
    original.Assign(&b);
    b.SetPixelFormat(TPixelFormat::pf32bit);
    for (int32_t x = 0; x < 5; ++x) EXPECT_EQ(b.ScanLine(2)[4 * x + 3], 0) << "alpha starts at 0";
    b.ScanLine(0)[3] = 200;
    b.SetPixelFormat(TPixelFormat::pf24bit);
    for (int32_t y = 0; y < 3; ++y) EXPECT_EQ(std::memcmp(b.ScanLine(y), original.ScanLine(y), 15), 0);
}

TEST(Bitmap, OneAndFourBitsWidenKeepingIndices) {
    TBitmap b;
    b.SetPixelFormat(TPixelFormat::pf1bit);
    b.SetSize(10, 2);
    b.ScanLine(0)[0] = 0xA5;  // 1010 0101
    b.ScanLine(1)[1] = 0x40;  // pixel 9 set
    b.SetPixelFormat(TPixelFormat::pf8bit);
    EXPECT_EQ(b.ColorTable().size(), 2u);
    const uint8_t* r0 = b.ScanLine(0);
    EXPECT_EQ(r0[0], 1);
    EXPECT_EQ(r0[1], 0);
    EXPECT_EQ(r0[7], 1);
    EXPECT_EQ(b.ScanLine(1)[9], 1);
    EXPECT_EQ(b.Pixel(0, 0), clWhite);
    EXPECT_EQ(b.Pixel(1, 0), clBlack);

    TBitmap n;
    n.SetPixelFormat(TPixelFormat::pf4bit);
    n.SetSize(3, 1);
    n.ScanLine(0)[0] = 0x9C;
    n.ScanLine(0)[1] = 0xF0;
    n.SetPixelFormat(TPixelFormat::pf8bit);
    EXPECT_EQ(n.ScanLine(0)[0], 9);
    EXPECT_EQ(n.ScanLine(0)[1], 12);
    EXPECT_EQ(n.ScanLine(0)[2], 15);
    EXPECT_EQ(n.ColorTable().size(), 16u);
}

TEST(Bitmap, IndexedToTrueColourUsesTheTable) {
    TBitmap b;
    b.SetPixelFormat(TPixelFormat::pf8bit);
    b.SetColorTable({{10, 20, 30, 0}, {200, 100, 50, 0}});
    b.SetSize(3, 1);
    b.ScanLine(0)[0] = 1;
    b.ScanLine(0)[2] = 77;  // outside the table: black
    b.SetPixelFormat(TPixelFormat::pf24bit);
    const uint8_t* p = b.ScanLine(0);
    EXPECT_EQ(p[0], 50);
    EXPECT_EQ(p[1], 100);
    EXPECT_EQ(p[2], 200);
    EXPECT_EQ(p[3], 30);
    EXPECT_EQ(p[6] | p[7] | p[8], 0);
    EXPECT_EQ(b.Palette(), nullptr);
    EXPECT_TRUE(b.ColorTable().empty());
}

TEST(Bitmap, TrueColourToIndexedTakesTheNearestEntry) {
    TBitmap b;
    b.SetPixelFormat(TPixelFormat::pf24bit);
    b.SetSize(3, 1);
    b.SetPixel(0, 0, RGB(250, 250, 250));
    b.SetPixel(1, 0, RGB(20, 5, 0));
    b.SetPixel(2, 0, RGB(127, 127, 127));
    b.SetPixelFormat(TPixelFormat::pf1bit);
    EXPECT_EQ(b.ScanLine(0)[0], 0x80);
    b.SetPixelFormat(TPixelFormat::pf24bit);
    b.SetPixelFormat(TPixelFormat::pf8bit);
    ASSERT_EQ(b.ColorTable().size(), 256u);
    EXPECT_EQ(b.Pixel(0, 0), clWhite);

    // A palette set before the conversion is the one mapped onto.
    TBitmap c;
    c.SetPixelFormat(TPixelFormat::pf24bit);
    c.SetSize(2, 1);
    c.SetPixel(0, 0, RGB(255, 0, 0));
    c.SetPixel(1, 0, RGB(0, 0, 250));
    const TPaletteEntry entries[3] = {{0, 0, 0, 0}, {0, 0, 255, 0}, {255, 0, 0, 0}};
    c.SetPalette(CreatePalette(entries, 3));
    c.SetPixelFormat(TPixelFormat::pf8bit);
    EXPECT_EQ(c.ScanLine(0)[0], 2);
    EXPECT_EQ(c.ScanLine(0)[1], 1);
}

TEST(Bitmap, FifteenAndSixteenBitPacking) {
    TBitmap b;
    b.SetPixelFormat(TPixelFormat::pf24bit);
    b.SetSize(2, 1);
    b.SetPixel(0, 0, RGB(255, 0, 8));
    b.SetPixel(1, 0, RGB(0, 255, 0));
    TBitmap c;
    c.Assign(&b);
    b.SetPixelFormat(TPixelFormat::pf15bit);
    const uint8_t* p = b.ScanLine(0);
    EXPECT_EQ(p[0] | (p[1] << 8), 0x7C01);
    EXPECT_EQ(p[2] | (p[3] << 8), 0x03E0);
    EXPECT_EQ(b.Pixel(0, 0), RGB(255, 0, 8));
    c.SetPixelFormat(TPixelFormat::pf16bit);
    p = c.ScanLine(0);
    EXPECT_EQ(p[0] | (p[1] << 8), 0xF801);
    EXPECT_EQ(p[2] | (p[3] << 8), 0x07E0);
    EXPECT_EQ(c.Pixel(1, 0), RGB(0, 255, 0));
}

TEST(Bitmap, FormatOnAnEmptyBitmapThenSizeThenPalette) {
    TBitmap b;
    b.SetPixelFormat(TPixelFormat::pf1bit);  // harmless on an empty bitmap
    b.ReleaseImage();
    EXPECT_EQ(b.PixelFormat(), TPixelFormat::pfDevice);
    b.SetPixelFormat(TPixelFormat::pf8bit);
    const TPaletteEntry grey[2] = {{0, 0, 0, 0}, {128, 128, 128, 0}};
    b.SetPalette(CreatePalette(grey, 2));
    b.SetSize(4, 4);
    EXPECT_EQ(b.PixelFormat(), TPixelFormat::pf8bit);
    ASSERT_EQ(PaletteEntryCount(b.Palette()), 2);
    b.ScanLine(3)[3] = 1;
    EXPECT_EQ(b.Pixel(3, 3), RGB(128, 128, 128));
    b.FreeImage();
    EXPECT_TRUE(b.Empty());
    EXPECT_EQ(b.PixelFormat(), TPixelFormat::pf8bit);
}

TEST(Bitmap, AssignCopiesAndNullEmpties) {
    TBitmap a;
    a.SetPixelFormat(TPixelFormat::pf8bit);
    a.SetSize(3, 2);
    a.ScanLine(1)[2] = 42;
    TBitmap b;
    b.Assign(&a);
    a.ScanLine(1)[2] = 1;
    EXPECT_EQ(b.ScanLine(1)[2], 42);
    EXPECT_EQ(b.PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(b.ColorTable(), a.ColorTable());
    int changes = 0;
    b.OnChange = [&](TObject*) { ++changes; };
    b.Assign(nullptr);
    EXPECT_TRUE(b.Empty());
    EXPECT_EQ(changes, 1);
}

TEST(Palette, HandlesAreCheckedAndOwned) {
    const TPaletteEntry e[3] = {{1, 2, 3, 0}, {4, 5, 6, PC_NOCOLLAPSE}, {7, 8, 9, 0}};
    EXPECT_EQ(CreatePalette(e, 0), nullptr);
    EXPECT_EQ(CreatePalette(e, 257), nullptr);
    HPALETTE p = CreatePalette(e, 3);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(GetPaletteEntries(p, 0, 0, nullptr), 3);
    TPaletteEntry out[256];
    EXPECT_EQ(GetPaletteEntries(p, 1, 256, out), 2);
    EXPECT_EQ(out[0], e[1]);
    EXPECT_EQ(GetPaletteEntries(p, 3, 1, out), 0);
    HPALETTE q = CopyPalette(p);
    EXPECT_TRUE(DeleteObject(p));
    EXPECT_FALSE(DeleteObject(p)) << "a second delete is refused";
    EXPECT_EQ(PaletteEntryCount(p), 0);
    EXPECT_EQ(PaletteEntryCount(q), 3);
    EXPECT_TRUE(DeleteObject(q));
    EXPECT_TRUE(DeleteObject(DefaultPalette()));
    EXPECT_EQ(PaletteEntryCount(DefaultPalette()), 20) << "the stock palette survives";
    EXPECT_FALSE(DeleteObject(nullptr));
}

TEST(Palette, FixedTables) {
    EXPECT_EQ(SystemPalette20()[7], (TPaletteEntry{0xC0, 0xC0, 0xC0, 0}));
    EXPECT_EQ(SystemPalette16()[8], (TPaletteEntry{0x80, 0x80, 0x80, 0}));
    EXPECT_EQ(SystemPalette16()[15], (TPaletteEntry{255, 255, 255, 0}));
    EXPECT_EQ(HalftonePalette256()[0], (TPaletteEntry{0, 0, 0, 0}));
    EXPECT_EQ(HalftonePalette256()[255], (TPaletteEntry{255, 255, 255, 0}));
    EXPECT_EQ(HalftonePalette256()[10 + 5 * 36 + 0 * 6 + 1], (TPaletteEntry{255, 0, 51, 0}));
    EXPECT_EQ(ColorToRGB(clWindow), clWhite);
    EXPECT_EQ(ColorToRGB(clWindowText), clBlack);
    EXPECT_EQ(ColorToRGB(clBtnFace), 0xF0F0F0);
    EXPECT_EQ(ColorToRGB(clRed), clRed);
    EXPECT_EQ(ColorToRGB(clNone), clNone);
}

TEST(Geometry, IntersectRect) {
    TRect r;
    EXPECT_TRUE(IntersectRect(r, Rect(0, 0, 10, 10), Rect(5, -5, 20, 7)));
    EXPECT_EQ(r, Rect(5, 0, 10, 7));
    EXPECT_FALSE(IntersectRect(r, Rect(0, 0, 10, 10), Rect(10, 0, 20, 10)));
    EXPECT_EQ(r, Rect(0, 0, 0, 0));
    EXPECT_TRUE(EqualRect(Bounds(1, 2, 3, 4), Rect(1, 2, 4, 6)));
}

TEST(Bitmap, MonochromeRowsArePaddedToSixteenBits) {
    const uint8_t bits[] = {0xFF, 0xC0,   // row 0: 10 pixels set
                            0x80, 0x7F};  // row 1: pixels 0 and 9 set, the rest is padding
    auto m = CreateMonochromeBitmap(10, 2, bits);
    EXPECT_EQ(m->PixelFormat(), TPixelFormat::pf1bit);
    EXPECT_EQ(m->ScanLine(0)[0], 0xFF);
    EXPECT_EQ(m->ScanLine(0)[1], 0xC0);
    EXPECT_EQ(m->ScanLine(1)[0], 0x80);
    EXPECT_EQ(m->ScanLine(1)[1], 0x40) << "only pixels 8 and 9 of the second byte";
    EXPECT_EQ(m->Pixel(9, 0), clWhite);
    EXPECT_EQ(m->Pixel(1, 1), clBlack);
    m->SetPixelFormat(TPixelFormat::pf8bit);  // masks: black 0, white non-zero
    EXPECT_EQ(m->ScanLine(1)[0], 1);
    EXPECT_EQ(m->ScanLine(1)[1], 0);
    EXPECT_TRUE(CreateMonochromeBitmap(0, 0, bits)->Empty());
}

// ---------------------------------------------------------------- shared pixels

namespace {
// 700 x 500 at 32 bits: large enough for the pool.
void Pattern32(TBitmap& b, uint8_t seed) {
    b.NewImage(700, 500, TPixelFormat::pf32bit);
    for (int32_t y = 0; y < b.Height(); ++y) std::memset(b.ScanLine(y), static_cast<uint8_t>(seed + y), 700 * 4);
}
bool RowsAre(const TBitmap& b, uint8_t seed) {
    for (int32_t y = 0; y < b.Height(); ++y)
        for (int32_t i = 0; i < 700 * 4; ++i)
            if (b.ScanLine(y)[i] != static_cast<uint8_t>(seed + y)) return false;
    return true;
}
}  // namespace

TEST(Bitmap, SharedPixelsAreCopiedForTheFirstWriterOnly) {
    TBitmap a;
    Pattern32(a, 1);
    auto b = std::make_unique<TBitmap>();
    b->AssignShared(a);
    EXPECT_EQ(std::as_const(*b).ScanLine(0), std::as_const(a).ScanLine(0));  // no copy yet
    // The first writes come from every thread at once.
    par::ForRows(b->Height(), [&](int32_t begin, int32_t end) {
        for (int32_t y = begin; y < end; ++y) std::memset(b->ScanLine(y), static_cast<uint8_t>(9 + y), 700 * 4);
    });
    EXPECT_TRUE(RowsAre(a, 1));
    EXPECT_TRUE(RowsAre(*b, 9));
    // a holds its block alone now: writing it copies nothing.
    const uint8_t* before = std::as_const(a).ScanLine(0);
    EXPECT_EQ(a.ScanLine(0), before);

    // A sharer that goes away leaves the other whole; assigning over a
    // sharer or drawing into it leaves the other alone.
    TBitmap c, d;
    c.AssignShared(*b);
    d.AssignShared(*b);
    b.reset();
    EXPECT_TRUE(RowsAre(c, 9));
    c.Assign(&a);
    d.SetPixel(0, 0, clWhite);
    EXPECT_TRUE(RowsAre(c, 1));
    EXPECT_TRUE(RowsAre(a, 1));
    EXPECT_EQ(d.Pixel(0, 0), clWhite);
    EXPECT_EQ(d.Pixel(1, 0), RGB(9, 9, 9));
}

namespace {
std::atomic<std::chrono::steady_clock::time_point> poolNow;
std::chrono::steady_clock::time_point PoolNow() { return poolNow.load(); }
}  // namespace

// The pool's thread gives a block back once it has been idle for 2 s, not
// before: a batch or a conversion reuses its blocks within that time.
TEST(PixelPool, IdleBlocksGoBackToTheSystem) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "blocks are plain heap memory under AddressSanitizer";
#endif
    ASSERT_EQ(pixmem::IdleLife(), std::chrono::seconds(2));
    pixmem::ReturnIdle(std::chrono::milliseconds(0));  // what earlier tests left
    poolNow = std::chrono::steady_clock::now();
    pixmem::SetIdleClock(&PoolNow);
    {
        TBitmap big;
        big.NewImage(1000, 1000, TPixelFormat::pf32bit);
    }
    EXPECT_GE(pixmem::IdleBytes(), size_t(4000000));
    poolNow = poolNow.load() + std::chrono::milliseconds(1999);
    EXPECT_EQ(pixmem::AwaitIdleCheck(), 0u);
    EXPECT_GE(pixmem::IdleBytes(), size_t(4000000));
    poolNow = poolNow.load() + std::chrono::milliseconds(1);
    EXPECT_GE(pixmem::AwaitIdleCheck(), size_t(4000000));
    EXPECT_EQ(pixmem::IdleBytes(), 0u);
    pixmem::SetIdleClock(nullptr);
}

// The first writer's copy gives the windows their chance to paint, and a
// paint may share pixels in turn: it waits until the copy is over rather
// than for a lock its own thread holds.
namespace {
TBitmap sharedSource, sharedByPaint;
int copyPulses = 0;
void PaintThatShares() {
    ++copyPulses;
    sharedByPaint.AssignShared(sharedSource);
}
}  // namespace

TEST(Bitmap, APaintDuringTheFirstWritersCopyMayShare) {
    sharedSource.NewImage(1200, 1000, TPixelFormat::pf32bit);  // past the size copied on every thread
    TBitmap writer;
    writer.AssignShared(sharedSource);
    progress::SetPulse(&PaintThatShares);
    writer.ScanLine(0)[0] = 7;
    progress::SetPulse(nullptr);
    EXPECT_GE(copyPulses, 1);
    EXPECT_EQ(std::as_const(sharedByPaint).ScanLine(0), std::as_const(sharedSource).ScanLine(0));
    EXPECT_NE(std::as_const(writer).ScanLine(0), std::as_const(sharedSource).ScanLine(0));
    sharedSource.ReleaseImage();
    sharedByPaint.ReleaseImage();
}

// A new block, a copy and a widening let the windows paint, and a paint
// reads the pane being changed: it sees the old picture or the new one,
// never a block with the other one's size.
namespace {
struct TPane : TBitmap {
    using TBitmap::AssignConverted;
    size_t BlockBytes() const { return pixels_.size(); }
};
const TPane* paintedPane = nullptr;
int panePaints = 0, tornPaints = 0;
uint8_t paintedSum = 0;
void PaintThePane() {
    ++panePaints;
    const TPane& pane = *paintedPane;
    if (size_t(pane.RowBytes()) * size_t(pane.Height()) != pane.BlockBytes()) {
        ++tornPaints;
        return;
    }
    // Every row's last byte, as a paint reads them (AddressSanitizer sees
    // a read past the block).
    for (int32_t y = 0; y < pane.Height(); ++y) paintedSum += pane.ScanLine(y)[pane.RowBytes() - 1];
}
}  // namespace

TEST(Bitmap, APaintDuringAReallocationSeesTheBlockWithItsSize) {
    TPane pane;
    paintedPane = &pane;
    pane.NewImage(2000, 1000, TPixelFormat::pf32bit);
    TBitmap smaller, wider;
    smaller.NewImage(1200, 1000, TPixelFormat::pf32bit);  // copied on the threads
    wider.NewImage(1500, 1000, TPixelFormat::pf24bit);
    progress::SetPulse(&PaintThePane);
    pane.Assign(&smaller);
    pane.NewImage(2500, 1000, TPixelFormat::pf32bit);
    pane.AssignConverted(wider, TPixelFormat::pf32bit);
    progress::SetPulse(nullptr);
    EXPECT_GE(panePaints, 2);
    EXPECT_EQ(tornPaints, 0);
    EXPECT_EQ(pane.Width(), 1500);
}
