#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>

#include "app/Image32.h"
#include "platform/core/Parallel.h"
#include "platform/core/Simd.h"
#include "standard/StandardFilters.h"
#include "standard/StandardFiltersRef.h"

namespace {

constexpr uint32_t Px(uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255) {
    return uint32_t(b) | (uint32_t(g) << 8) | (uint32_t(r) << 16) | (uint32_t(a) << 24);
}

// Every SetPosition the filter makes, in order.
class RecordingBar final : public IProgressBar {
public:
    int32_t Position() const override { return position_; }
    void SetPosition(int32_t p) override {
        position_ = p;
        history.push_back(p);
    }
    std::vector<int32_t> history;

private:
    int32_t position_ = 0;
};

void Fill(TBitmap32& bmp, int32_t w, int32_t h, uint32_t colour) {
    bmp.SetSize(w, h);
    for (int32_t y = 0; y < h; ++y) {
        uint32_t* row = PixelRow(bmp, y);
        for (int32_t x = 0; x < w; ++x) row[x] = colour;
    }
}

void Random(TBitmap32& bmp, int32_t w, int32_t h, uint32_t seed) {
    std::mt19937 gen(seed);
    bmp.SetSize(w, h);
    for (int32_t y = 0; y < h; ++y) {
        uint32_t* row = PixelRow(bmp, y);
        for (int32_t x = 0; x < w; ++x) row[x] = gen();
    }
}

uint32_t At(const TBitmap32& bmp, int32_t x, int32_t y) { return PixelRow(bmp, y)[x]; }

void Crayon(TBitmap32& bmp, int32_t cellSize) {
    TNullProgressBar bar;
    stdf::CrayonCellSize = cellSize;
    stdf::crayonpic(bmp, bar);
}

TEST(Crayon, CellSize128GivesAtMostEightColours) {
    TBitmap32 bmp;
    Random(bmp, 40, 30, 1);
    Crayon(bmp, 128);
    std::set<uint32_t> colours;
    for (int32_t y = 1; y < 30; ++y)
        for (int32_t x = 1; x < 40; ++x) colours.insert(At(bmp, x, y));
    EXPECT_LE(colours.size(), 8u);
    EXPECT_GE(colours.size(), 7u);
}

TEST(Crayon, CellSize85KeepsRed255Alone) {
    TBitmap32 bmp;
    Fill(bmp, 4, 2, Px(0, 0, 0));
    uint32_t* row = PixelRow(bmp, 1);
    row[1] = Px(255, 0, 0);
    row[2] = Px(254, 0, 0);  // cell 2 (170..254)
    row[3] = Px(170, 0, 0);
    Crayon(bmp, 85);
    EXPECT_EQ(At(bmp, 1, 1), Px(255, 0, 0));
    EXPECT_EQ(At(bmp, 2, 1), Px(212, 0, 0));  // 424 / 2
    EXPECT_EQ(At(bmp, 3, 1), Px(212, 0, 0));
}

TEST(Crayon, MeansRoundTiesToEven) {
    TBitmap32 bmp;
    Fill(bmp, 3, 4, Px(0, 0, 0));
    PixelRow(bmp, 1)[1] = Px(10, 20, 1);
    PixelRow(bmp, 1)[2] = Px(11, 21, 2);  // 10.5 -> 10, 20.5 -> 20, 1.5 -> 2
    PixelRow(bmp, 2)[1] = Px(60, 60, 60);
    PixelRow(bmp, 2)[2] = Px(61, 61, 61);
    PixelRow(bmp, 3)[1] = Px(61, 61, 61);  // 182 / 3 = 60.67 -> 61
    PixelRow(bmp, 3)[2] = Px(200, 200, 200);
    Crayon(bmp, 51);
    EXPECT_EQ(At(bmp, 1, 1), Px(10, 20, 2));
    EXPECT_EQ(At(bmp, 2, 1), Px(10, 20, 2));
    EXPECT_EQ(At(bmp, 1, 2), Px(61, 61, 61));
    EXPECT_EQ(At(bmp, 1, 3), Px(61, 61, 61));
    EXPECT_EQ(At(bmp, 2, 3), Px(200, 200, 200));
}

TEST(Crayon, OneColourStaysAndAlphaBecomesOpaqueInside) {
    TBitmap32 bmp;
    Fill(bmp, 6, 5, Px(123, 45, 200, 7));
    Crayon(bmp, 51);
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 6; ++x)
            EXPECT_EQ(At(bmp, x, y), Px(123, 45, 200, (x == 0 || y == 0) ? 7 : 255)) << x << "," << y;
}

TEST(Crayon, RowZeroAndColumnZeroTakeNoPart) {
    TBitmap32 bmp;
    Fill(bmp, 3, 3, Px(1, 2, 3, 9));
    PixelRow(bmp, 0)[2] = Px(40, 40, 40, 9);  // same cell as the inside ones
    PixelRow(bmp, 2)[0] = Px(49, 49, 49, 9);
    for (int32_t y = 1; y < 3; ++y)
        for (int32_t x = 1; x < 3; ++x) PixelRow(bmp, y)[x] = Px(10, 10, 10, 0);
    Crayon(bmp, 51);
    EXPECT_EQ(At(bmp, 2, 0), Px(40, 40, 40, 9));
    EXPECT_EQ(At(bmp, 0, 2), Px(49, 49, 49, 9));
    EXPECT_EQ(At(bmp, 0, 0), Px(1, 2, 3, 9));
    EXPECT_EQ(At(bmp, 1, 1), Px(10, 10, 10));
    EXPECT_EQ(At(bmp, 2, 2), Px(10, 10, 10));
}

TEST(Crayon, ThinPicturesAreLeftAlone) {
    TBitmap32 bmp;
    Random(bmp, 1, 9, 4);
    TBitmap32 copy;
    copy.Assign(&bmp);
    Crayon(bmp, 51);
    for (int32_t y = 0; y < 9; ++y) EXPECT_EQ(At(bmp, 0, y), At(copy, 0, y));
    TBitmap32 empty;
    Crayon(empty, 51);
    EXPECT_TRUE(empty.Empty());
}

TEST(Crayon, CellSizesTooSmallForTheTableAreTakenAs16) {
    TBitmap32 want;
    Random(want, 33, 17, 9);
    TBitmap32 base;
    base.Assign(&want);
    Crayon(want, 16);
    for (int32_t size : {15, 1, 0, -1, -200, INT32_MIN}) {
        TBitmap32 got;
        got.Assign(&base);
        Crayon(got, size);
        for (int32_t y = 0; y < 17; ++y)
            for (int32_t x = 0; x < 33; ++x) ASSERT_EQ(At(got, x, y), At(want, x, y)) << "size " << size;
    }
}

TEST(Crayon, HugeCellSizeGivesTheMeanColour) {
    TBitmap32 bmp;
    Fill(bmp, 3, 2, Px(0, 0, 0));
    PixelRow(bmp, 1)[1] = Px(255, 0, 100);
    PixelRow(bmp, 1)[2] = Px(0, 255, 103);
    Crayon(bmp, INT32_MAX);
    EXPECT_EQ(At(bmp, 1, 1), Px(128, 128, 102));  // 127.5 -> 128, 101.5 -> 102
    EXPECT_EQ(At(bmp, 2, 1), Px(128, 128, 102));
}

TEST(Crayon, SumsDoNotOverflowOnLargePictures) {
    // 3000 x 3000 white: each sum is 255 x 8994001, beyond 32 bits.
    TBitmap32 bmp;
    Fill(bmp, 3000, 3000, Px(255, 255, 255, 0));
    Crayon(bmp, 51);
    EXPECT_EQ(At(bmp, 1, 1), Px(255, 255, 255));
    EXPECT_EQ(At(bmp, 2999, 2999), Px(255, 255, 255));
}

// Rows far longer than 2048 pixels of one cell whose colours vary inside
// it, and a few strays: the runs are summed in pieces, as exactly.
TEST(Crayon, LongRunsOfOneCellMatchTheReference) {
    std::mt19937 gen(9);
    TBitmap32 bmp;
    bmp.SetSize(5000, 3);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 5000; ++x)
            PixelRow(bmp, y)[x] = x == 2500 || x == 4990 ? gen() : Px(uint8_t(gen() % 51), uint8_t(204 + gen() % 51), 60, 9);
    TBitmap32 want;
    want.Assign(&bmp);
    TNullProgressBar bar;
    stdf::CrayonCellSize = 51;
    stdf::ref::crayonpic(want, bar);
    Crayon(bmp, 51);
    for (int32_t y = 0; y < 3; ++y) ASSERT_EQ(0, std::memcmp(PixelRow(bmp, y), PixelRow(want, y), 4 * 5000)) << y;
}

TEST(Crayon, ProgressPerRowOfEachPass) {
    TBitmap32 bmp;
    Random(bmp, 20, 11, 2);
    RecordingBar bar;
    stdf::CrayonCellSize = 51;
    stdf::crayonpic(bmp, bar);
    ASSERT_GE(bar.history.size(), 4u);
    int32_t zeros = 0, peak = 0;
    for (int32_t p : bar.history) {
        if (p == 0) {
            EXPECT_EQ(peak, 10);  // rows 1..10
            ++zeros;
            peak = 0;
        } else {
            EXPECT_GT(p, peak);
            peak = p;
        }
    }
    EXPECT_EQ(zeros, 2);
    EXPECT_EQ(bar.history.back(), 0);
}

TEST(Crayon, SameBytesForEveryThreadCount) {
    TBitmap32 src;
    src.LoadFromFile(QUILLARC_SAMPLE);
    const int saved = par::ThreadCount();
    for (int32_t cell : {51, 17}) {
        TBitmap32 one, eight, plain;
        one.Assign(&src);
        eight.Assign(&src);
        plain.Assign(&src);
        par::SetThreadCount(1);
        Crayon(one, cell);
        par::SetThreadCount(8);
        Crayon(eight, cell);
        simd::AllowAvx2(false);  // the plain kernels, as a processor without AVX2 runs them
        Crayon(plain, cell);
        simd::AllowAvx2(true);
        par::SetThreadCount(saved);
        for (int32_t y = 0; y < src.Height(); ++y) {
            ASSERT_EQ(0, std::memcmp(PixelRow(one, y), PixelRow(eight, y), 4 * src.Width())) << "row " << y;
            ASSERT_EQ(0, std::memcmp(PixelRow(one, y), PixelRow(plain, y), 4 * src.Width())) << "row " << y;
        }
    }
}

}  // namespace
