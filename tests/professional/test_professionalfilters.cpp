// The Professional dialog's filters: exact values and edge cases.
#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "app/Hsl.h"
#include "app/Image32.h"
#include "app/Random.h"
#include "professional/ProfessionalFilters.h"

namespace {

uint32_t Px(uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255) {
    return uint32_t(b) | (uint32_t(g) << 8) | (uint32_t(r) << 16) | (uint32_t(a) << 24);
}

void Fill(TBitmap32& bmp, int32_t w, int32_t h, uint32_t value) {
    bmp.SetSize(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) PixelRow(bmp, y)[x] = value;
}

uint32_t At(const TBitmap& bmp, int32_t x, int32_t y) { return PixelRow(bmp, y)[x]; }
void Put(TBitmap& bmp, int32_t x, int32_t y, uint32_t v) { PixelRow(bmp, y)[x] = v; }

// Records every position and the thread that set it; no 800 cap, so the
// number of row steps can be read back.
class RecordingBar final : public IProgressBar {
public:
    int32_t Position() const override { return position; }
    void SetPosition(int32_t p) override {
        position = p;
        if (p > highest) highest = p;
        if (std::this_thread::get_id() != owner) foreignThread = true;
    }
    int32_t position = 0, highest = 0;
    bool foreignThread = false;
    std::thread::id owner = std::this_thread::get_id();
};

TNullProgressBar bar;

// ------------------------------------------------------------ hsladjust

TEST(HslAdjust, NeutralSettingsKeepWhatTheRoundTripAllowsAndSetAlpha) {
    TBitmap32 bmp;
    Fill(bmp, 4, 1, 0);
    Put(bmp, 0, 0, Px(255, 0, 0, 0));
    Put(bmp, 1, 0, Px(128, 128, 128, 17));
    Put(bmp, 2, 0, Px(255, 0, 1, 3));  // RGBToHSL gives hue 360: folded to 0, not black
    Put(bmp, 3, 0, Px(10, 200, 30, 0));
    pro::hsladjust(180, 100, 100, bmp, bar);
    EXPECT_EQ(At(bmp, 0, 0), Px(255, 0, 0));
    EXPECT_EQ(At(bmp, 1, 0), Px(128, 128, 128));
    EXPECT_EQ(At(bmp, 2, 0), Px(255, 0, 0));
    int32_t h, s, l, r, g, b;
    RGBToHSL(10, 200, 30, h, s, l);
    HSLToRGB(h, s, l, r, g, b);
    EXPECT_EQ(At(bmp, 3, 0), Px(uint8_t(r), uint8_t(g), uint8_t(b)));
}

TEST(HslAdjust, HueTurnsBackwardBelow180WithTiesToEven) {
    TBitmap32 bmp;
    Fill(bmp, 1, 1, Px(255, 0, 0));
    // Hue 0 - 10 = 350, in the last sector: blue = Round(255 - 4.25 x 50) =
    // Round(42.5), which is the even 42.
    pro::hsladjust(170, 100, 100, bmp, bar);
    EXPECT_EQ(At(bmp, 0, 0), Px(255, 0, 42));
}

TEST(HslAdjust, SaturationAndLightnessClampToTheirRange) {
    TBitmap32 bmp;
    Fill(bmp, 1, 1, Px(255, 0, 0));
    pro::hsladjust(180, 0, 100, bmp, bar);  // s - 100 -> 0: mid-grey
    EXPECT_EQ(At(bmp, 0, 0), Px(128, 128, 128));
    Fill(bmp, 1, 1, Px(10, 200, 30));
    pro::hsladjust(180, 100, 200, bmp, bar);  // l + 100 -> 100: white
    EXPECT_EQ(At(bmp, 0, 0), Px(255, 255, 255));
    Fill(bmp, 1, 1, Px(10, 200, 30));
    pro::hsladjust(180, 100, 0, bmp, bar);  // l - 100 -> 0: black
    EXPECT_EQ(At(bmp, 0, 0), Px(0, 0, 0));
    Fill(bmp, 1, 1, Px(10, 200, 30));
    pro::hsladjust(180, 200, 100, bmp, bar);  // s 90 + 100 -> 100
    int32_t r, g, b;
    HSLToRGB(126, 100, 41, r, g, b);
    EXPECT_EQ(At(bmp, 0, 0), Px(uint8_t(r), uint8_t(g), uint8_t(b)));
}

TEST(HslAdjust, RepeatedColoursGiveTheSameAnswerAsSingleOnes) {
    // The colour memo must never hand one colour's result to another.
    TBitmap32 many, one;
    Fill(many, 300, 3, 0);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 300; ++x) Put(many, x, y, Px(uint8_t(x * 7), uint8_t(x % 5 * 60), uint8_t(y * 100)));
    TBitmap32 copy;
    copy.Assign(&many);
    pro::hsladjust(170, 100, 120, many, bar);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 300; ++x) {
            Fill(one, 1, 1, At(copy, x, y));
            pro::hsladjust(170, 100, 120, one, bar);
            ASSERT_EQ(At(many, x, y), At(one, 0, 0)) << x << "," << y;
        }
}

// ------------------------------------------------------------ colorzone

TEST(ColorZone, WhiteStaysWithOffset0AndDropsTo229WithOffset13) {
    TBitmap32 bmp;
    Fill(bmp, 3, 3, Px(255, 255, 255, 9));
    pro::colorzone(0, bmp, bar);
    EXPECT_EQ(At(bmp, 1, 1), Px(255, 255, 255));
    EXPECT_EQ(At(bmp, 2, 2), Px(255, 255, 255));
    Fill(bmp, 3, 3, Px(255, 255, 255, 9));
    pro::colorzone(13, bmp, bar);
    EXPECT_EQ(At(bmp, 1, 1), Px(229, 229, 229));
    EXPECT_EQ(At(bmp, 2, 1), Px(229, 229, 229));
}

TEST(ColorZone, FirstRowAndColumnKeepTheirInputAlphaIncluded) {
    TBitmap32 bmp;
    Fill(bmp, 4, 3, Px(100, 20, 240, 7));
    pro::colorzone(0, bmp, bar);
    for (int32_t x = 0; x < 4; ++x) EXPECT_EQ(At(bmp, x, 0), Px(100, 20, 240, 7));
    for (int32_t y = 0; y < 3; ++y) EXPECT_EQ(At(bmp, 0, y), Px(100, 20, 240, 7));
    EXPECT_EQ(At(bmp, 1, 1), Px(76, 25, 229));
}

TEST(ColorZone, LevelBoundariesAreSignedComparisons) {
    struct Case {
        int32_t offset;
        uint8_t value, level;
    };
    const Case cases[] = {{0, 0, 25},    {0, 50, 25},    {0, 51, 76},   {0, 254, 229}, {13, 12, 0},
                          {13, 13, 25},  {13, 63, 25},   {13, 64, 76},  {13, 216, 178}, {13, 217, 229},
                          {-12, 0, 25},  {-12, 38, 25},  {-12, 39, 76}, {-12, 242, 229}, {-12, 243, 255}};
    for (const Case& c : cases) {
        TBitmap32 bmp;
        Fill(bmp, 2, 2, Px(c.value, c.value, c.value, 0));
        pro::colorzone(c.offset, bmp, bar);
        EXPECT_EQ(At(bmp, 1, 1), Px(c.level, c.level, c.level)) << c.offset << " " << int(c.value);
    }
}

// ------------------------------------------------------------ Brume

// A picture whose colours name their own coordinates.
void Coordinates(TBitmap32& bmp, int32_t w, int32_t h) {
    bmp.SetSize(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) Put(bmp, x, y, Px(uint8_t(x), uint8_t(y), 0, 40));
}

TEST(Brume, FirstDrawsFromSeedZeroGiveTheseSources) {
    // Seeds 1, 134775814, 3698175007, 870078620, ... give Random(4) = 0, 0,
    // 3, 0, 1, 2, 1, 0: offsets (dy, dx) = (-1, -1), (2, -1), (0, 1), (0, -1).
    rnd::SetSeed(0);
    TBitmap32 bmp;
    Coordinates(bmp, 5, 5);
    pro::Brume(1, bmp, bar);
    EXPECT_EQ(At(bmp, 1, 1), Px(0, 0, 0));
    EXPECT_EQ(At(bmp, 2, 1), Px(1, 3, 0));
    EXPECT_EQ(At(bmp, 3, 1), Px(4, 1, 0));
    EXPECT_EQ(At(bmp, 4, 1), Px(3, 1, 0));
}

TEST(Brume, OffsetsStayInMinusNToPlusTwoAndClampAtTheEdges) {
    rnd::SetSeed(12345);
    const int32_t w = 40, h = 30;
    TBitmap32 bmp;
    Coordinates(bmp, w, h);
    pro::Brume(1, bmp, bar);
    int32_t lastRowOwn = 0;
    for (int32_t y = 1; y < h; ++y)
        for (int32_t x = 1; x < w; ++x) {
            const uint32_t p = At(bmp, x, y);
            const int32_t sx = (p >> 16) & 0xFF, sy = (p >> 8) & 0xFF;
            ASSERT_EQ(p >> 24, 255u);
            ASSERT_GE(sx, x - 1);
            ASSERT_LE(sx, std::min(x + 2, w - 1));
            ASSERT_GE(sy, y - 1);
            ASSERT_LE(sy, std::min(y + 2, h - 1));
            if (y == h - 1 && sy == h - 1) ++lastRowOwn;
        }
    // dy of 0, 1 and 2 all land on the last row there: about 3 in 4.
    EXPECT_GT(lastRowOwn, (w - 1) / 2);
    for (int32_t x = 0; x < w; ++x) EXPECT_EQ(At(bmp, x, 0), Px(uint8_t(x), 0, 0, 40));
    for (int32_t y = 0; y < h; ++y) EXPECT_EQ(At(bmp, 0, y), Px(0, uint8_t(y), 0, 40));
}

TEST(Brume, AdvancesTheSharedGeneratorByTwoDrawsPerChangedPixel) {
    const uint32_t start = 987654321u;
    rnd::SetSeed(start);
    TBitmap32 bmp;
    Coordinates(bmp, 7, 5);
    pro::Brume(3, bmp, bar);
    uint32_t s = start;
    for (int i = 0; i < 2 * 6 * 4; ++i) s = rnd::Next(s);
    EXPECT_EQ(rnd::Seed(), s);
}

TEST(Brume, OneRowOrColumnChangesNothingAndDrawsNothing) {
    for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 6}, std::pair{6, 1}}) {
        rnd::SetSeed(77);
        TBitmap32 bmp, before;
        Coordinates(bmp, w, h);
        before.Assign(&bmp);
        pro::Brume(2, bmp, bar);
        EXPECT_EQ(rnd::Seed(), 77u);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) EXPECT_EQ(At(bmp, x, y), At(before, x, y));
    }
}

// ------------------------------------------------------------ Convolve and fringe1

TEST(Convolve, OnThreeByThreeChangesOnlyTheCentre) {
    TBitmap bmp;
    bmp.SetPixelFormat(TPixelFormat::pf32bit);
    bmp.SetSize(3, 3);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 3; ++x) Put(bmp, x, y, Px(uint8_t(10 + 30 * x), uint8_t(20 * y), 5, 3));
    const int32_t identity[9] = {0, 0, 0, 0, 3, 0, 0, 0, 0};
    pro::Convolve(identity, 2, bmp, bar);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 3; ++x)
            if (x != 1 || y != 1) {
                EXPECT_EQ(At(bmp, x, y), Px(uint8_t(10 + 30 * x), uint8_t(20 * y), 5, 3));
            }
    // 3 x 40 / 2 = 60, 3 x 20 / 2 = 30, 3 x 5 / 2 = 7.5 truncated to 7.
    EXPECT_EQ(At(bmp, 1, 1), Px(60, 30, 7, 255));
}

TEST(Convolve, DivisorZeroActsAsOneInsteadOfFaulting) {
    TBitmap bmp;
    bmp.SetPixelFormat(TPixelFormat::pf32bit);
    bmp.SetSize(3, 3);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 3; ++x) Put(bmp, x, y, Px(50, 100, 200, 0));
    Put(bmp, 1, 1, Px(70, 80, 90, 0));
    const int32_t kernel[9] = {0, 0, 0, 0, 2, 0, 0, 0, 0};
    pro::Convolve(kernel, 0, bmp, bar);
    EXPECT_EQ(At(bmp, 1, 1), Px(140, 160, 180, 255));
}

TEST(Convolve, HugeKernelsClampWithoutOverflow) {
    TBitmap bmp;
    bmp.SetPixelFormat(TPixelFormat::pf32bit);
    bmp.SetSize(3, 3);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 3; ++x) Put(bmp, x, y, Px(255, 1, 0, 0));
    const int32_t big = 0x7FFFFFFF;
    const int32_t kernel[9] = {big, big, big, big, big, big, big, big, big};
    pro::Convolve(kernel, 65535, bmp, bar);
    // Red: 9 x 255 x big / 65535 is far above 255; green 9 x big / 65535 too.
    EXPECT_EQ(At(bmp, 1, 1), Px(255, 255, 0, 255));
    const int32_t negative[9] = {-big, -big, -big, -big, -big, -big, -big, -big, -big};
    pro::Convolve(negative, 1, bmp, bar);
    EXPECT_EQ(At(bmp, 1, 1), Px(0, 0, 0, 255));
}

TEST(Fringe1, UniformStaysUniformInsideAndHorizontalEdgesShow) {
    TBitmap32 bmp;
    Fill(bmp, 5, 5, Px(90, 91, 92, 4));
    pro::fringe1(bmp, bar);
    EXPECT_EQ(At(bmp, 2, 2), Px(90, 91, 92, 255));
    EXPECT_EQ(At(bmp, 0, 2), Px(90, 91, 92, 4));  // border as it was
    // Light upper rows 0..2 over dark rows 3..4: row 1 sees 4 x 200 - 3 x 200,
    // rows 2 and 3 see 4 x 200 above and black below (clamped).
    Fill(bmp, 5, 5, Px(0, 0, 0));
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 5; ++x) Put(bmp, x, y, Px(200, 200, 200));
    pro::fringe1(bmp, bar);
    EXPECT_EQ(At(bmp, 2, 1), Px(200, 200, 200));
    EXPECT_EQ(At(bmp, 2, 2), Px(255, 255, 255));
    EXPECT_EQ(At(bmp, 2, 3), Px(255, 255, 255));
}

TEST(CopyMe, GivesAThirtyTwoBitCopy) {
    TBitmap32 src;
    Fill(src, 3, 2, Px(1, 2, 3, 4));
    TBitmap dst;
    pro::CopyMe(dst, src);
    EXPECT_EQ(dst.PixelFormat(), TPixelFormat::pf32bit);
    EXPECT_EQ(dst.Width(), 3);
    EXPECT_EQ(dst.Height(), 2);
    EXPECT_EQ(At(dst, 2, 1), Px(1, 2, 3, 4));
}

// ------------------------------------------------------------ fringe2, fringe3

TEST(EdgeStyles, UniformPictureTurnsWhiteBorderIncluded) {
    for (auto filter : {&pro::fringe2, &pro::fringe3}) {
        TBitmap32 bmp;
        Fill(bmp, 6, 4, Px(30, 140, 250, 66));
        filter(bmp, bar);
        for (int32_t y = 0; y < 4; ++y)
            for (int32_t x = 0; x < 6; ++x) {
                const bool border = x == 0 || y == 0 || x == 5 || y == 3;
                // The inversion leaves alpha: 0 inside, the input's on the border.
                EXPECT_EQ(At(bmp, x, y), Px(255, 255, 255, border ? 66 : 0)) << x << "," << y;
            }
    }
}

TEST(EdgeStyles, AbstractIgnoresHorizontalStripesAndShowsVerticalEdges) {
    TBitmap32 bmp;
    Fill(bmp, 5, 6, 0);
    for (int32_t y = 0; y < 6; ++y)
        for (int32_t x = 0; x < 5; ++x) Put(bmp, x, y, y % 2 ? Px(250, 250, 250) : Px(0, 0, 0));
    pro::fringe3(bmp, bar);
    for (int32_t y = 0; y < 6; ++y)
        for (int32_t x = 0; x < 5; ++x) EXPECT_EQ(At(bmp, x, y) & 0xFFFFFF, 0xFFFFFFu);

    // A light first column: at x = 1 left minus right is 3 x 40 = 120, at
    // x = 2 the left column is dark (0); light on the right would be negative.
    Fill(bmp, 4, 3, Px(0, 0, 0));
    for (int32_t y = 0; y < 3; ++y) Put(bmp, 0, y, Px(40, 40, 40));
    pro::fringe3(bmp, bar);
    EXPECT_EQ(At(bmp, 1, 1), Px(135, 135, 135, 0));
    EXPECT_EQ(At(bmp, 2, 1), Px(255, 255, 255, 0));
    EXPECT_EQ(At(bmp, 0, 1), Px(135, 135, 135, 255));  // border copies
    EXPECT_EQ(At(bmp, 3, 1), Px(255, 255, 255, 255));
    EXPECT_EQ(At(bmp, 0, 0), Px(135, 135, 135, 255));  // corners
    EXPECT_EQ(At(bmp, 3, 2), Px(255, 255, 255, 255));
}

TEST(EdgeStyles, PopArtTakesTheLargerSobelResponse) {
    TBitmap32 bmp;
    Fill(bmp, 3, 3, Px(0, 0, 0));
    Put(bmp, 1, 2, Px(30, 0, 0));  // below the centre: gv = 60, gh = 0
    Put(bmp, 2, 1, Px(0, 50, 0));  // right of the centre: gh = 100 in green
    pro::fringe2(bmp, bar);
    EXPECT_EQ(At(bmp, 1, 1), Px(255 - 60, 255 - 100, 255, 0));
    EXPECT_EQ(At(bmp, 0, 0), Px(255 - 60, 255 - 100, 255, 255));  // every border pixel copies the centre
}

TEST(EdgeStyles, PicturesWithoutInteriorGetOnlyTheBorderFillAndInversion) {
    TBitmap32 bmp;
    Fill(bmp, 2, 2, 0);
    Put(bmp, 0, 0, Px(1, 1, 1, 5));
    Put(bmp, 1, 0, Px(2, 2, 2, 6));
    Put(bmp, 0, 1, Px(3, 3, 3, 7));
    Put(bmp, 1, 1, Px(4, 4, 4, 8));
    pro::fringe2(bmp, bar);
    // Row 0 takes row 1, then row 1 takes the new row 0: both are row 1.
    EXPECT_EQ(At(bmp, 0, 0), Px(252, 252, 252, 5));
    EXPECT_EQ(At(bmp, 1, 0), Px(251, 251, 251, 6));
    EXPECT_EQ(At(bmp, 0, 1), Px(252, 252, 252, 7));
    EXPECT_EQ(At(bmp, 1, 1), Px(251, 251, 251, 8));

    // One row or column: no fill can stay inside the picture; inversion only.
    for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 5}, std::pair{5, 1}}) {
        Fill(bmp, w, h, Px(10, 20, 30, 40));
        Put(bmp, 0, 0, Px(0, 0, 0, 1));
        pro::fringe3(bmp, bar);
        EXPECT_EQ(At(bmp, 0, 0), Px(255, 255, 255, 1));
        if (w * h > 1) {
            EXPECT_EQ(At(bmp, w - 1, h - 1), Px(245, 235, 225, 40));
        }
    }
}

// ------------------------------------------------------------ pinghua

TEST(Pinghua, OnThreeByThreeOnlyTheCentreChangesByTruncatingDivision) {
    TBitmap32 bmp;
    Fill(bmp, 3, 3, Px(0, 255, 10, 9));
    Put(bmp, 1, 1, Px(3, 255, 100, 21));
    pro::pinghua(bmp, bar);
    // red 4 x 3 / 16 = 0.75 -> 0; blue (12 x 10 + 4 x 100) / 16 = 32.5 -> 32.
    EXPECT_EQ(At(bmp, 1, 1), Px(0, 255, 32, 21));
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 3; ++x)
            if (x != 1 || y != 1) {
                EXPECT_EQ(At(bmp, x, y), Px(0, 255, 10, 9));
            }
}

// ------------------------------------------------------------ progress

TEST(ProfessionalProgress, OneStepPerProcessedRowFromTheCallingThreadThenZero) {
    struct Case {
        const char* name;
        void (*run)(TBitmap32&, IProgressBar&);
        int32_t rows;  // for a 9 x 12 picture
    };
    const Case cases[] = {
        {"hsladjust", [](TBitmap32& b, IProgressBar& p) { pro::hsladjust(170, 100, 120, b, p); }, 12},
        {"colorzone", [](TBitmap32& b, IProgressBar& p) { pro::colorzone(0, b, p); }, 11},
        {"Brume", [](TBitmap32& b, IProgressBar& p) { pro::Brume(2, b, p); }, 11},
        {"fringe1", &pro::fringe1, 10},
        {"fringe2", &pro::fringe2, 10},
        {"fringe3", &pro::fringe3, 10},
        {"pinghua", &pro::pinghua, 10},
    };
    for (const Case& c : cases) {
        TBitmap32 bmp;
        Coordinates(bmp, 9, 12);
        RecordingBar rec;
        c.run(bmp, rec);
        EXPECT_EQ(rec.highest, c.rows) << c.name;
        EXPECT_EQ(rec.position, 0) << c.name;
        EXPECT_FALSE(rec.foreignThread) << c.name;
    }
}

TEST(ProfessionalInput, TwentyFourBitInputIsReadAsThirtyTwoBitsWithAlphaZero) {
    // After Exposure the working bitmap holds 24 bits per pixel.
    TBitmap32 bmp;
    Fill(bmp, 3, 3, Px(255, 255, 255, 200));
    bmp.SetPixelFormat(TPixelFormat::pf24bit);
    pro::colorzone(13, bmp, bar);
    EXPECT_EQ(bmp.PixelFormat(), TPixelFormat::pf32bit);
    EXPECT_EQ(At(bmp, 0, 0), Px(255, 255, 255, 0));
    EXPECT_EQ(At(bmp, 1, 1), Px(229, 229, 229, 255));
}

}  // namespace

namespace {

TEST(ProfessionalInput, EmptyBitmapsPassEveryFilter) {
    const int32_t kernel[9] = {1, 2, 1, 0, 0, 0, -1, -1, -1};
    TBitmap32 bmp;
    rnd::SetSeed(5);
    EXPECT_NO_THROW(pro::hsladjust(170, 100, 120, bmp, bar));
    EXPECT_NO_THROW(pro::colorzone(0, bmp, bar));
    EXPECT_NO_THROW(pro::Brume(3, bmp, bar));
    EXPECT_NO_THROW(pro::Convolve(kernel, 1, bmp, bar));
    EXPECT_NO_THROW(pro::fringe1(bmp, bar));
    EXPECT_NO_THROW(pro::fringe2(bmp, bar));
    EXPECT_NO_THROW(pro::fringe3(bmp, bar));
    EXPECT_NO_THROW(pro::pinghua(bmp, bar));
    EXPECT_TRUE(bmp.Empty());
    EXPECT_EQ(rnd::Seed(), 5u);
}

}  // namespace
