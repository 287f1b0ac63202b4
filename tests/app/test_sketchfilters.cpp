#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/Hsl.h"
#include "app/PixelOps.h"
#include "app/SketchFilters.h"
#include "app/SketchFiltersRef.h"
#include "app/SketchState.h"
#include "platform/core/Parallel.h"

namespace {

uint32_t Px(uint8_t b, uint8_t g, uint8_t r, uint8_t a) { return pix::MakePixel(b, g, r, a); }

void Make(TBitmap32& bmp, int32_t w, int32_t h, const std::function<uint32_t(int32_t, int32_t)>& fn) {
    bmp.SetSize(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) PixelRow(bmp, y)[x] = fn(x, y);
}

void Flat(TBitmap32& bmp, int32_t w, int32_t h, uint8_t level, uint8_t alpha = 77) {
    Make(bmp, w, h, [&](int32_t, int32_t) { return Px(level, level, level, alpha); });
}

// Pixels as bytes with the format, so that two results compare in one go.
std::vector<uint8_t> Bytes(const TBitmap& bmp) {
    std::vector<uint8_t> out{uint8_t(bmp.PixelFormat())};
    const int32_t n = bmp.Width() * BitsPerPixel(bmp.PixelFormat()) / 8;
    for (int32_t y = 0; y < bmp.Height(); ++y) out.insert(out.end(), bmp.ScanLine(y), bmp.ScanLine(y) + n);
    return out;
}

uint32_t At(const TBitmap& bmp, int32_t x, int32_t y) { return PixelRow(bmp, y)[x]; }

// Remembers every position it is given, without the dialogs' 800 cap.
class CountingBar : public IProgressBar {
public:
    int32_t Position() const override { return position_; }
    void SetPosition(int32_t p) override {
        if (p == 0 && position_ != 0) last = position_;
        position_ = p;
    }
    int32_t last = 0;  // position before the latest reset

private:
    int32_t position_ = 0;
};

class ThreadCount {
public:
    explicit ThreadCount(int n) : saved_(par::ThreadCount()) { par::SetThreadCount(n); }
    ~ThreadCount() { par::SetThreadCount(saved_); }

private:
    int saved_;
};

TNullProgressBar bar;

// ------------------------------------------------------------ edge cases

TEST(twovaluetopen, ThresholdOnRedOnlyWithAlpha) {
    TBitmap32 src;
    Make(src, 3, 1, [](int32_t x, int32_t) {
        return x == 0 ? Px(255, 255, 128, 9) : x == 1 ? Px(0, 0, 129, 9) : Px(255, 255, 0, 9);
    });
    TBitmap32 dst;
    sketch::twovaluetopen(128, src, dst);
    EXPECT_EQ(At(dst, 0, 0), Px(0, 0, 0, 255));
    EXPECT_EQ(At(dst, 1, 0), Px(255, 255, 255, 0));
    EXPECT_EQ(At(dst, 2, 0), Px(0, 0, 0, 255));
}

TEST(convertimg1, AngleFortyFiveKeepsLightnessButPassesTheModel) {
    TBitmap32 src;
    Make(src, 64, 4, [](int32_t x, int32_t y) { return Px(uint8_t(4 * x), uint8_t(60 * y), 200, 5); });
    TBitmap32 dst;
    sketch::convertimg1(45, src, dst, bar);
    for (int32_t x = 0; x < 64; ++x)
        for (int32_t y = 0; y < 4; ++y) {
            int32_t h, s, l, r, g, b;
            RGBToHSL(200, 60 * y, 4 * x, h, s, l);
            HSLToRGB(h % 360, s, l, r, g, b);
            ASSERT_EQ(At(dst, x, y), Px(uint8_t(b), uint8_t(g), uint8_t(r), 5)) << x << " " << y;
        }
}

TEST(convertimg1, HueRoundedTo360IsRedNotBlack) {
    TBitmap32 src;
    Make(src, 1, 1, [](int32_t, int32_t) { return Px(1, 0, 255, 255); });
    sketch::convertimg1(45, src, src, bar);
    EXPECT_EQ(At(src, 0, 0), Px(0, 0, 255, 255));
}

TEST(convertimg1, SteepAnglePushesGreysApart) {
    TBitmap32 src;
    Make(src, 2, 1, [](int32_t x, int32_t) { return x ? Px(250, 250, 250, 1) : Px(40, 40, 40, 1); });
    TBitmap32 dst;
    sketch::convertimg1(80, src, dst, bar);
    EXPECT_EQ(At(dst, 0, 0), Px(0, 0, 0, 1));
    EXPECT_EQ(At(dst, 1, 0), Px(255, 255, 255, 1));
}

TEST(soften, FlatAreaGainsTenInsideOnly) {
    TBitmap32 bmp;
    Flat(bmp, 7, 6, 100);
    sketch::soften(2, bmp, bar);
    for (int32_t y = 0; y < 6; ++y)
        for (int32_t x = 0; x < 7; ++x) {
            const bool inside = y >= 2 && y <= 3 && x >= 2 && x <= 4;
            const uint8_t v = inside ? 110 : 100;
            ASSERT_EQ(At(bmp, x, y), Px(v, v, v, 77)) << x << " " << y;
        }
    TBitmap32 light;
    Flat(light, 3, 3, 250);
    sketch::soften(1, light, bar);
    EXPECT_EQ(At(light, 1, 1), Px(255, 255, 255, 77));
}

TEST(dosoften, DistanceOneRaisesByTenThenSharpensFlatly) {
    TBitmap32 bmp;
    Flat(bmp, 4, 4, 60);
    sketch::dosoften(1, bmp, bar);
    EXPECT_EQ(At(bmp, 0, 0), Px(70, 70, 70, 77));
    EXPECT_EQ(At(bmp, 2, 1), Px(70, 70, 70, 77));
}

TEST(sharpen, FlatPictureUnchanged) {
    TBitmap32 bmp;
    Flat(bmp, 9, 9, 123);
    const auto before = Bytes(bmp);
    sketch::sharpen(2, bmp, bar);
    EXPECT_EQ(Bytes(bmp), before);
}

TEST(sharpen, ClampsBothWays) {
    TBitmap32 bmp;
    Make(bmp, 3, 3, [](int32_t x, int32_t y) { return x == 1 && y == 1 ? Px(200, 10, 0, 0) : Px(0, 20, 90, 0); });
    sketch::sharpen(1, bmp, bar);
    EXPECT_EQ(At(bmp, 1, 1), Px(255, 0, 0, 0));  // 1000, 50 - 80, 0 - 360
}

TEST(Blur, ColumnSpreadsAtDistanceAOnly) {
    TBitmap32 bmp;
    Make(bmp, 13, 5, [](int32_t x, int32_t) { return x == 6 ? Px(160, 160, 160, 3) : Px(0, 0, 0, 3); });
    sketch::Blur(3, bmp, bar);
    // Height 5 with A = 3 leaves no processed row: the border is A rows deep.
    EXPECT_EQ(At(bmp, 3, 2), Px(0, 0, 0, 3));
    TBitmap32 tall;
    Make(tall, 13, 9, [](int32_t x, int32_t) { return x == 6 ? Px(160, 160, 160, 3) : Px(0, 0, 0, 3); });
    sketch::Blur(3, tall, bar);
    EXPECT_EQ(At(tall, 3, 4), Px(40, 40, 40, 3));  // (160 + 2 x 160 + 160) / 16
    EXPECT_EQ(At(tall, 9, 4), Px(40, 40, 40, 3));
    EXPECT_EQ(At(tall, 5, 4), Px(0, 0, 0, 3));
    EXPECT_EQ(At(tall, 7, 4), Px(0, 0, 0, 3));
    EXPECT_EQ(At(tall, 6, 4), Px(80, 80, 80, 3));
    EXPECT_EQ(At(tall, 6, 2), Px(160, 160, 160, 3));  // border row
}

TEST(Blur, RoundsHalvesToEven) {
    // Centre 1, others 0: 4 / 16 = 0.25 -> 0; centre 2: 0.5 -> 0; centre 6: 1.5 -> 2.
    for (auto [c, want] : {std::pair{1, 0}, {2, 0}, {6, 2}, {10, 2}}) {
        TBitmap32 bmp;
    Make(bmp, 3, 3, [&](int32_t x, int32_t y) { return x == 1 && y == 1 ? Px(uint8_t(c), 0, 0, 0) : 0u; });
        sketch::Blur(1, bmp, bar);
        EXPECT_EQ(pix::BlueOf(At(bmp, 1, 1)), want) << c;
    }
}

TEST(Blur, DistanceZeroReadsNothingOutside) {
    TBitmap32 bmp;
    Flat(bmp, 3, 3, 50);
    const auto before = Bytes(bmp);
    sketch::Blur(0, bmp, bar);
    sketch::Blur(-4, bmp, bar);
    EXPECT_EQ(Bytes(bmp), before);
}

TEST(picsobel, FlatPictureTurnsWhite) {
    TBitmap32 bmp;
    Flat(bmp, 5, 4, 90, 12);
    sketch::picsobel(bmp, bar);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 5; ++x) ASSERT_EQ(At(bmp, x, y), Px(255, 255, 255, 12));
}

TEST(picsobel, NoInteriorMeansInversionOnly) {
    for (int32_t w : {2, 1}) {
        TBitmap32 bmp;
        Flat(bmp, w, 4, 90, 12);
        sketch::picsobel(bmp, bar);
        for (int32_t y = 0; y < 4; ++y)
            for (int32_t x = 0; x < w; ++x) ASSERT_EQ(At(bmp, x, y), Px(165, 165, 165, 12)) << w;
    }
}

TEST(picsobel, NarrowPictureOnlyGetsBorderCopyAndInversion) {
    TBitmap32 bmp;
    Make(bmp, 2, 3, [](int32_t x, int32_t y) { return Px(uint8_t(10 * y + x), 0, 0, 1); });
    sketch::picsobel(bmp, bar);
    // Rows 1: pixel 0 takes pixel 1, then row 0 and 2 copy rows 1.
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 2; ++x) EXPECT_EQ(At(bmp, x, y), Px(255 - 11, 255, 255, 1));
}

TEST(picsobel, VerticalEdgeIsDark) {
    TBitmap32 bmp;
    Make(bmp, 6, 3, [](int32_t x, int32_t) { return x < 3 ? Px(0, 0, 0, 0) : Px(100, 100, 100, 0); });
    sketch::picsobel(bmp, bar);
    // At x = 2: gx = 4 x 100 = 400 -> 255, inverted 0.
    EXPECT_EQ(At(bmp, 2, 1) & pix::kColourMask, 0u);
    EXPECT_EQ(At(bmp, 1, 1) & pix::kColourMask, pix::kColourMask);
}

TEST(Exposure, ThresholdZeroOnlyDropsAlpha) {
    TBitmap32 bmp;
    Make(bmp, 3, 2, [](int32_t x, int32_t y) { return Px(uint8_t(x), uint8_t(y), 200, 9); });
    sketch::Exposure(bmp, 0, bar);
    ASSERT_EQ(bmp.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(bmp.Pixel(2, 1), RGB(200, 1, 2));
    sketch::Exposure(bmp, 2, bar);
    EXPECT_EQ(bmp.Pixel(2, 1), RGB(200, 254, 2));
    EXPECT_EQ(bmp.Pixel(0, 0), RGB(200, 255, 255));
}

TEST(SelectionSort, SortsAndStoresTheWeightedValue) {
    int32_t s[9] = {9, 1, 8, 2, 7, 3, 6, 4, 5};
    sketch::SelectionSort(s, 8);
    const int32_t want[9] = {1, 2, 3, 4, 0, 6, 7, 8, 9};
    // 5 x (1+2+3+4) + 60 x 5 + 5 x (6+7+8+9) = 50 + 300 + 150 = 500 -> 5 + 10
    EXPECT_EQ(s[4], 15);
    for (int i : {0, 1, 2, 3, 5, 6, 7, 8}) EXPECT_EQ(s[i], want[i]);
    int32_t tie[9] = {0, 0, 0, 0, 0, 0, 0, 0, 10};  // 50 / 100 = 0.5 -> 0
    sketch::SelectionSort(tie, 8);
    EXPECT_EQ(tie[4], 10);
}

// ------------------------------------------------------------ progress

TEST(Progress, EachFilterStepsOncePerProcessedRowAndEndsAtZero) {
    ThreadCount threads(8);
    CountingBar b;
    auto run = [&](const std::function<void(TBitmap32&)>& f) {
        TBitmap32 bmp;
    Flat(bmp, 20, 50, 100);
        b.last = 0;
        f(bmp);
        EXPECT_EQ(b.Position(), 0);
        return b.last;
    };
    TBitmap32 dst;
    EXPECT_EQ(run([&](TBitmap32& m) { sketch::convertimg1(30, m, dst, b); }), 50);
    EXPECT_EQ(run([&](TBitmap32& m) { sketch::picsobel(m, b); }), 48);
    EXPECT_EQ(run([&](TBitmap32& m) { sketch::sharpen(3, m, b); }), 44);
    EXPECT_EQ(run([&](TBitmap32& m) { sketch::soften(2, m, b); }), 46);
    EXPECT_EQ(run([&](TBitmap32& m) { sketch::Blur(4, m, b); }), 42);
    EXPECT_EQ(run([&](TBitmap32& m) { sketch::Exposure(m, 10, b); }), 50);
}

TEST(SketchState, MakeModeChoosesTheBar) {
    const int32_t saved = MakeMode;
    EXPECT_EQ(CurrentSketch, nullptr);
    CountingBar standard, professional;
    SetStandardProgressBar(&standard);
    SetProfessionalProgressBar(&professional);
    for (int32_t mode : {0, 1, 2, 3}) {
        MakeMode = mode;
        EXPECT_EQ(&SharedProgressBar(), mode == 2 ? static_cast<IProgressBar*>(&professional) : &standard);
    }
    SetStandardProgressBar(nullptr);
    SetProfessionalProgressBar(nullptr);
    EXPECT_NE(&SharedProgressBar(), static_cast<IProgressBar*>(&standard));
    SharedProgressBar().SetPosition(5000);  // the hidden bar stays usable
    EXPECT_EQ(SharedProgressBar().Position(), 800);
    SharedProgressBar().SetPosition(0);
    MakeMode = saved;
}

// ------------------------------------------------------------ fast against straightforward

struct Case {
    std::string name;
    std::function<void(TBitmap32&, IProgressBar&)> fast, ref;
};

std::vector<Case> Cases() {
    std::vector<Case> cases;
    auto add = [&](std::string name, auto fast, auto ref) { cases.push_back({std::move(name), fast, ref}); };
    for (int32_t a : {1, 30, 44, 45, 60, 89}) {
        add("convertimg1 " + std::to_string(a),
            [a](TBitmap32& m, IProgressBar& p) { TBitmap32 d; sketch::convertimg1(a, m, d, p); m.Assign(&d); },
            [a](TBitmap32& m, IProgressBar& p) { TBitmap32 d; sketch::ref::convertimg1(a, m, d, p); m.Assign(&d); });
        add("convertimg1 into a sized bitmap " + std::to_string(a),
            [a](TBitmap32& m, IProgressBar& p) { TBitmap32 d; d.SetSize(m.Width(), m.Height()); sketch::convertimg1(a, m, d, p); m.Assign(&d); },
            [a](TBitmap32& m, IProgressBar& p) { TBitmap32 d; sketch::ref::convertimg1(a, m, d, p); m.Assign(&d); });
        add("convertimg1 in place " + std::to_string(a),
            [a](TBitmap32& m, IProgressBar& p) { sketch::convertimg1(a, m, m, p); },
            [a](TBitmap32& m, IProgressBar& p) { sketch::ref::convertimg1(a, m, m, p); });
    }
    for (int32_t t : {0, 128, 255})
        add("twovaluetopen " + std::to_string(t),
            [t](TBitmap32& m, IProgressBar&) { TBitmap32 d; sketch::twovaluetopen(t, m, d); m.Assign(&d); },
            [t](TBitmap32& m, IProgressBar&) { TBitmap32 d; sketch::ref::twovaluetopen(t, m, d); m.Assign(&d); });
    add("picsobel", [](TBitmap32& m, IProgressBar& p) { sketch::picsobel(m, p); },
        [](TBitmap32& m, IProgressBar& p) { sketch::ref::picsobel(m, Rect(0, 0, m.Width(), m.Height()), p); });
    add("picsobel part", [](TBitmap32& m, IProgressBar& p) { sketch::picsobel(m, Rect(1, 0, 3, 4), p); },
        [](TBitmap32& m, IProgressBar& p) { sketch::ref::picsobel(m, Rect(1, 0, 3, 4), p); });
    add("picsobel larger rect", [](TBitmap32& m, IProgressBar& p) { sketch::picsobel(m, Rect(-5, -5, 9000, 9000), p); },
        [](TBitmap32& m, IProgressBar& p) { sketch::ref::picsobel(m, Rect(-5, -5, 9000, 9000), p); });
    for (int32_t a : {0, 1, 2, 3}) {
        const std::string n = " " + std::to_string(a);
        add("sharpen" + n, [a](TBitmap32& m, IProgressBar& p) { sketch::sharpen(a, m, p); },
            [a](TBitmap32& m, IProgressBar& p) { sketch::ref::sharpen(a, m, p); });
        add("soften" + n, [a](TBitmap32& m, IProgressBar& p) { sketch::soften(a, m, p); },
            [a](TBitmap32& m, IProgressBar& p) { sketch::ref::soften(a, m, p); });
        add("dosoften" + n, [a](TBitmap32& m, IProgressBar& p) { sketch::dosoften(a + 1, m, p); },
            [a](TBitmap32& m, IProgressBar& p) { sketch::ref::dosoften(a + 1, m, p); });
        add("Blur" + n, [a](TBitmap32& m, IProgressBar& p) { sketch::Blur(a, m, p); },
            [a](TBitmap32& m, IProgressBar& p) { sketch::ref::Blur(a, m, p); });
    }
    for (int32_t t : {0, 102, 255})
        add("Exposure " + std::to_string(t), [t](TBitmap32& m, IProgressBar& p) { sketch::Exposure(m, t, p); },
            [t](TBitmap32& m, IProgressBar& p) { sketch::ref::Exposure(m, t, p); });
    return cases;
}

// Colour noise with runs of grey, so that both paths of the pencil curve run.
uint32_t Noise(int32_t x, int32_t y) {
    uint32_t v = uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u;
    v ^= v >> 13;
    v *= 0x5bd1e995u;
    v ^= v >> 15;
    if ((x + y) % 3 == 0) {
        const uint8_t g = uint8_t(v);
        return Px(g, g, g, uint8_t(v >> 24));
    }
    return v;
}

// Each fast filter with 1 and with 8 threads against the straightforward one.
void ExpectSame(const TBitmap32& input, const std::string& what) {
    for (const Case& c : Cases()) {
        TBitmap32 ref;
        ref.Assign(&input);
        CountingBar refBar;
        c.ref(ref, refBar);
        for (int threads : {1, 8}) {
            ThreadCount tc(threads);
            TBitmap32 fast;
            fast.Assign(&input);
            CountingBar fastBar;
            c.fast(fast, fastBar);
            ASSERT_EQ(Bytes(fast), Bytes(ref)) << c.name << " on " << what << ", threads " << threads;
            EXPECT_EQ(fastBar.last, refBar.last) << c.name << " on " << what;
            EXPECT_EQ(fastBar.Position(), 0) << c.name;
        }
    }
}

TEST(FastFilters, SameBytesAsStraightforwardOnOddSizes) {
    for (auto [w, h] : {std::pair{1, 1}, {1, 9}, {9, 1}, {2, 2}, {3, 3}, {7, 5}, {5, 7}, {8, 13}}) {
        TBitmap32 input;
        Make(input, w, h, Noise);
        ExpectSame(input, std::to_string(w) + "x" + std::to_string(h));
    }
}

TEST(FastFilters, SameBytesAsStraightforwardOnTheSample) {
    TBitmap32 sample;
    sample.LoadFromFile(QUILLARC_SAMPLE);
    TBitmap32::SetAlphaChannel(sample, 255);
    ExpectSame(sample, "the sample");
}

TEST(FastFilters, TwentyFourBitInputIsReadAsThirtyTwoBits) {
    TBitmap32 input;
    Make(input, 6, 5, Noise);
    input.SetPixelFormat(TPixelFormat::pf24bit);
    ExpectSame(input, "24-bit input");
}

TEST(FastFilters, EmptyPicturesPassUntouched) {
    TBitmap32 empty;
    for (const Case& c : Cases()) {
        TBitmap32 m;
        m.Assign(&empty);
        CountingBar b;
        c.fast(m, b);
        EXPECT_TRUE(m.Empty()) << c.name;
    }
}

}  // namespace
