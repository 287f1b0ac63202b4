#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "app/Image32.h"
#include "platform/core/Parallel.h"
#include "platform/core/Simd.h"
#include "standard/Canny.h"
#include "standard/StandardFilters.h"

namespace {

constexpr uint32_t Px(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    return uint32_t(b) | (uint32_t(g) << 8) | (uint32_t(r) << 16) | (uint32_t(a) << 24);
}

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

uint32_t At(const TBitmap32& bmp, int32_t x, int32_t y) { return PixelRow(bmp, y)[x]; }

void PenInk(TBitmap32& bmp, stdf::TPenInkParams params = {}) {
    TNullProgressBar bar;
    stdf::PenInkBmp(bmp, params, bar);
}

// A dark square on a light ground; alpha varies from pixel to pixel.
void Square(TBitmap32& bmp, int32_t w, int32_t h) {
    bmp.SetSize(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const bool in = x >= w / 4 && x < 3 * w / 4 && y >= h / 4 && y < 3 * h / 4;
            PixelRow(bmp, y)[x] = in ? Px(20, 30, 40, uint8_t(x)) : Px(220, 210, 200, uint8_t(y));
        }
}

// The picture through the straightforward detector, as PenInkBmp describes it.
void PenInkByReference(TBitmap32& bmp, const stdf::TPenInkParams& p) {
    const int32_t w = bmp.Width(), h = bmp.Height();
    std::vector<uint8_t> grey(size_t(w) * h), edges;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t c = At(bmp, x, y);
            grey[x + size_t(y) * w] = stdf::canny::GreyOf(uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c));
        }
    stdf::canny::ref::CannyEdges(grey, {w, h}, edges, stdf::canny::SigmaOf(p.TrackBar4),
                                 stdf::canny::LowRatioOf(p.TrackBar5), stdf::canny::HighRatioOf(p.TrackBar6));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint32_t& c = PixelRow(bmp, y)[x];
            const uint8_t e = edges[x + size_t(y) * w];
            c = (c & 0xFF000000u) | Px(e, e, e, 0);
            c ^= 0x00FFFFFFu;
        }
}

bool SameBytes(const TBitmap32& a, const TBitmap32& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
    for (int32_t y = 0; y < a.Height(); ++y)
        if (std::memcmp(PixelRow(a, y), PixelRow(b, y), 4 * size_t(a.Width())) != 0) return false;
    return true;
}

TEST(PenInk, UniformPictureComesOutWhiteWithItsAlpha) {
    TBitmap32 bmp;
    bmp.SetSize(12, 9);
    for (int32_t y = 0; y < 9; ++y)
        for (int32_t x = 0; x < 12; ++x) PixelRow(bmp, y)[x] = Px(90, 90, 90, uint8_t(x * 20 + y));
    PenInk(bmp);
    for (int32_t y = 0; y < 9; ++y)
        for (int32_t x = 0; x < 12; ++x) EXPECT_EQ(At(bmp, x, y), Px(255, 255, 255, uint8_t(x * 20 + y)));
}

TEST(PenInk, NarrowPicturesComeOutWhite) {
    for (auto [w, h] : {std::pair{2, 30}, std::pair{30, 2}, std::pair{1, 1}}) {
        TBitmap32 bmp;
        std::mt19937 gen(w);
        bmp.SetSize(w, h);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) PixelRow(bmp, y)[x] = gen() | 0xFF000000u;
        PenInk(bmp, {10, 0, 0});
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) EXPECT_EQ(At(bmp, x, y), 0xFFFFFFFFu);
    }
    TBitmap32 empty;
    PenInk(empty);
    EXPECT_TRUE(empty.Empty());
}

TEST(PenInk, BlackOutlineOfASquare) {
    TBitmap32 bmp;
    Square(bmp, 40, 32);
    PenInk(bmp);
    int32_t black = 0;
    for (int32_t y = 0; y < 32; ++y)
        for (int32_t x = 0; x < 40; ++x) {
            const uint32_t c = At(bmp, x, y) & 0x00FFFFFFu;
            ASSERT_TRUE(c == 0 || c == 0x00FFFFFFu);
            EXPECT_EQ(At(bmp, x, y) >> 24, (x >= 10 && x < 30 && y >= 8 && y < 24) ? uint32_t(x) : uint32_t(y));
            black += c == 0;
        }
    EXPECT_GT(black, 40);
    // The square's middle and the far ground stay white; its sides are drawn.
    EXPECT_EQ(At(bmp, 20, 16) & 0x00FFFFFFu, 0x00FFFFFFu);
    EXPECT_EQ(At(bmp, 2, 2) & 0x00FFFFFFu, 0x00FFFFFFu);
    int32_t sideBlack = 0;
    for (int32_t x = 9; x <= 10; ++x) sideBlack += (At(bmp, x, 16) & 0x00FFFFFFu) == 0;
    EXPECT_GE(sideBlack, 1);
}

TEST(PenInk, SameAsTheReferenceDetectorForEveryThreadCount) {
    TBitmap32 src;
    src.LoadFromFile(QUILLARC_SAMPLE);
    const int saved = par::ThreadCount();
    for (const stdf::TPenInkParams p : {stdf::TPenInkParams{10, 18, 30}, stdf::TPenInkParams{1, 0, 0},
                                       stdf::TPenInkParams{60, 20, 40}}) {
        TBitmap32 want;
        want.Assign(&src);
        PenInkByReference(want, p);
        for (int threads : {1, 8, 0}) {  // 0: 8 threads on the plain kernels
            par::SetThreadCount(std::max(threads, 1));
            simd::AllowAvx2(threads != 0);
            TBitmap32 got;
            got.Assign(&src);
            PenInk(got, p);
            simd::AllowAvx2(true);
            EXPECT_TRUE(SameBytes(got, want)) << "sigma pos " << p.TrackBar4 << " threads " << threads;
        }
    }
    par::SetThreadCount(saved);
}

TEST(PenInk, SlidersOutsideTheirRangesTakeTheNearestEnd) {
    TBitmap32 src;
    Square(src, 24, 20);
    TBitmap32 a, b;
    a.Assign(&src);
    b.Assign(&src);
    PenInk(a, {0, -3, 99});
    PenInk(b, {1, 0, 40});
    EXPECT_TRUE(SameBytes(a, b));
}

TEST(PenInk, ProgressEightyThenRowsThenZero) {
    TBitmap32 bmp;
    Square(bmp, 16, 13);
    RecordingBar bar;
    bar.SetPosition(5);
    bar.history.clear();
    stdf::PenInkBmp(bmp, {}, bar);
    ASSERT_GE(bar.history.size(), 3u);
    EXPECT_EQ(bar.history.front(), 80);
    EXPECT_EQ(bar.history[bar.history.size() - 2], 80 + 13);
    EXPECT_EQ(bar.history.back(), 0);
    for (size_t i = 1; i + 1 < bar.history.size(); ++i) EXPECT_GT(bar.history[i], bar.history[i - 1]);
}

}  // namespace
