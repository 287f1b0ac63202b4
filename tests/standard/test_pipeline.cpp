#include "standard/StandardPipeline.h"
#include "standard/StandardPipelineRef.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>

#include "app/PixelOps.h"
#include "app/SketchFilters.h"
#include "app/SketchLayer.h"
#include "app/SketchState.h"
#include "platform/core/Parallel.h"
#include "platform/core/SysUtils.h"
#include "professional/ProfessionalFilters.h"
#include "professional/ProfessionalPipeline.h"
#include "standard/StandardFilters.h"

#include "tests/TestPictures.h"

namespace {

using testpics::SameBytes;
using testpics::Sample;
using testpics::Synthetic;

TStandardSettings Style(int32_t n, TRevision revision = TRevision::Current) {
    TStandardSettings s = TStandardSettings::Defaults(revision);
    EXPECT_TRUE(s.Set("RadioButton" + std::to_string(n), 1));
    return s;
}

// The colour style's result by hand: base adjusted, the layer over it.
std::unique_ptr<TBitmap32> ColourStyleByHand(const TBitmap32& src, sketch::TSketchShape shape, int32_t level,
                                             THslArguments hsl) {
    TNullProgressBar bar;
    TBitmap32 layer;
    auto result = std::make_unique<TBitmap32>();
    TBitmap32& base = *result;
    sketch::BuildSketchLayer(src, shape, level, layer, bar);
    base.Assign(&src);
    pro::hsladjust(hsl.Hue, hsl.Saturation, hsl.Lightness, base, bar);
    layer.DrawTo(0, 0, base);
    return result;
}

// ------------------------------------------------------------ settings

TEST(StandardSettings, DefaultsOfBothRevisions) {
    const TStandardSettings now = TStandardSettings::Defaults(TRevision::Current);
    EXPECT_EQ(now.Style, 1);
    EXPECT_EQ(now.TrackBar9, 5);
    EXPECT_EQ(now.TrackBar4, 10);
    EXPECT_EQ(now.TrackBar5, 18);
    EXPECT_EQ(now.TrackBar6, 30);
    const TStandardSettings earlier = TStandardSettings::Defaults(TRevision::Earlier);
    EXPECT_EQ(earlier.Revision, TRevision::Earlier);
    EXPECT_EQ(earlier.TrackBar9, 13);
    EXPECT_EQ(earlier.TrackBar8, 4);
}

TEST(StandardSettings, EarlierRevisionHasNoPenAndInk) {
    TStandardSettings s = TStandardSettings::Defaults(TRevision::Earlier);
    EXPECT_FALSE(s.Set("RadioButton7", 1));
    EXPECT_FALSE(s.Set("TrackBar4", 20));
    EXPECT_FALSE(s.Set("TrackBar6", 20));
    EXPECT_TRUE(s.Set("RadioButton6", 1));
    EXPECT_EQ(s.Style, 6);
    TBitmap32 out;
    s.Style = 7;
    EXPECT_THROW(RunStandard(s, Sample(), out), EConvertError);
    TStandardSettings now = TStandardSettings::Defaults(TRevision::Current);
    EXPECT_FALSE(now.Set("RadioButton8", 1));
    EXPECT_FALSE(now.Set("RadioButton0", 1));
    EXPECT_FALSE(now.Set("TrackBar10", 1));
}

TEST(StandardSettings, SlidersStayInsideTheirRanges) {
    TStandardSettings s = TStandardSettings::Defaults(TRevision::Current);
    s.Set("TrackBar9", 0);  // would divide by zero in the cell size
    EXPECT_EQ(s.TrackBar9, 2);
    s.Set("TrackBar9", 99);
    EXPECT_EQ(s.TrackBar9, 15);
    s.Set("TrackBar1", -5);
    EXPECT_EQ(s.TrackBar1, 1);
    s.Set("TrackBar2", 90);  // tan(90 degrees)
    EXPECT_EQ(s.TrackBar2, 89);
    s.Set("TrackBar5", -1);
    EXPECT_EQ(s.TrackBar5, 0);
    TStandardSettings e = TStandardSettings::Defaults(TRevision::Earlier);
    e.Set("TrackBar9", 0);
    EXPECT_EQ(e.TrackBar9, 1);
    e.Set("TrackBar9", 30);
    EXPECT_EQ(e.TrackBar9, 26);
}

// ------------------------------------------------------------ arithmetic

TEST(StandardArithmetic, CrayonCellSizes) {
    const int32_t expected[] = {128, 85, 64, 51, 43, 37, 32, 28, 26, 23, 21, 20, 18, 17};
    for (int32_t pos = 2; pos <= 15; ++pos) EXPECT_EQ(CrayonCellSizeFor(pos), expected[pos - 2]) << pos;
    EXPECT_EQ(CrayonCellSizeFor(0), 256);  // never a division by zero
}

TEST(StandardArithmetic, ColorPencilLightness) {
    EXPECT_EQ(ColorPencilBase(67).Lightness, 140);  // +40
    EXPECT_EQ(ColorPencilBase(1).Lightness, 164);   // d capped at -24, not 205
    EXPECT_EQ(ColorPencilBase(57).Lightness, 164);  // -25 capped
    EXPECT_EQ(ColorPencilBase(89).Lightness, 85);   // -15
    // (pos - 67) / 24 x 60 lands on halves: ties to even.
    EXPECT_EQ(ColorPencilBase(58).Lightness, 162);  // -22.5 -> -22
    EXPECT_EQ(ColorPencilBase(66).Lightness, 142);  // -2.5 -> -2
    EXPECT_EQ(ColorPencilBase(68).Lightness, 138);  // 2.5 -> 2
    EXPECT_EQ(ColorPencilBase(70).Lightness, 132);  // 7.5 -> 8
    EXPECT_EQ(ColorPencilBase(67).Hue, 170);
    EXPECT_EQ(ColorPencilBase(67).Saturation, 100);
}

TEST(StandardArithmetic, ColorPenSaturationAndLightness) {
    auto check = [](int32_t pos, int32_t sat, int32_t light) {
        const THslArguments a = ColorPenBase(pos);
        EXPECT_EQ(a.Hue, 170) << pos;
        EXPECT_EQ(a.Saturation, sat) << pos;
        EXPECT_EQ(a.Lightness, light) << pos;
    };
    check(191, 140, 120);
    check(1, 160, 170);   // both caps
    check(255, 120, 77);  // e = round(42.67) = 43
    check(199, 138, 115); // s = 2.5 -> 2, e = 5.33 -> 5
    check(183, 142, 125); // s = -2.5 -> -2, e = -5.33 -> -5
}

// ------------------------------------------------------------ styles

TEST(StandardPipeline, SetsMakeModeAndTheStandardBarOnly) {
    class Recorder final : public IProgressBar {
    public:
        int32_t Position() const override { return position; }
        void SetPosition(int32_t p) override {
            position = p;
            ++calls;
        }
        int32_t position = 0, calls = 0;
    } standard, professional;
    SetStandardProgressBar(&standard);
    SetProfessionalProgressBar(&professional);
    MakeMode = 2;
    TBitmap32 out;
    RunStandard(Style(1), Sample(), out);
    RunStandard(Style(7), Sample(), out);
    SetStandardProgressBar(nullptr);
    SetProfessionalProgressBar(nullptr);
    EXPECT_EQ(MakeMode, 1);
    EXPECT_GT(standard.calls, 0);
    EXPECT_EQ(standard.position, 0);
    EXPECT_EQ(professional.calls, 0);
}

// Both dialogs' bars show a whole run by the passes its pipeline plans:
// a plan short of the passes run leaves the bar full too early, one beyond
// them never fills it.
TEST(RunPlans, EachPipelinePlansThePassesItRuns) {
    struct Counter final : IProgressBar {
        int32_t position = 0, passes = 0, planned = -1;
        int32_t Position() const override { return position; }
        void SetPosition(int32_t p) override {
            if (p == 0 && position > 0) ++passes;
            position = p;
        }
        void Plan(int32_t n, int32_t rows) override {
            planned = n;
            EXPECT_EQ(rows, 384);
        }
    } bar;
    SetStandardProgressBar(&bar);
    SetProfessionalProgressBar(&bar);
    const auto expect = [&](const std::string& what, int32_t passes) {
        EXPECT_EQ(bar.planned, bar.passes) << what;
        EXPECT_EQ(bar.passes, passes) << what;
        bar = Counter{};
    };
    TBitmap32 out;
    for (int32_t style = 1; style <= 7; ++style) {
        RunStandard(Style(style), Sample(), out);
        expect("style " + std::to_string(style), style == 6 ? 2 : 1);
    }
    RunStandard(Style(6, TRevision::Earlier), Sample(), out);
    expect("earlier crayon", 1);
    const std::vector<std::pair<std::vector<std::string>, int32_t>> professional = {
        {{}, 1}, {{"CheckBox7"}, 3}, {{"CheckBox3"}, 5}, {{"CheckBox4"}, 5}, {{"CheckBox5"}, 4},
        {{"CheckBox3", "CheckBox4", "CheckBox5", "CheckBox7", "RadioButton5"}, 9},
        {{"CheckBox3", "CheckBox4", "!CheckBox6", "!CheckBox8"}, 6}, {{"!CheckBox1", "CheckBox5"}, 3},
        {{"!CheckBox6", "!CheckBox8"}, 1}, {{"!CheckBox1", "!CheckBox6", "!CheckBox8"}, 1}};
    for (const auto& [controls, passes] : professional) {
        TProfessionalSettings s;
        std::string what;
        for (const std::string& c : controls) {
            EXPECT_TRUE(c[0] == '!' ? s.Set(c.substr(1), 0) : s.Set(c, 1)) << c;
            what += c + " ";
        }
        RunProfessional(s, Sample(), out);
        expect(what, passes);
    }
    SetStandardProgressBar(nullptr);
    SetProfessionalProgressBar(nullptr);
}

TEST(StandardPipeline, ColorPencilIsTheLayerOverTheLightenedBase) {
    const TBitmap32& src = Sample();
    TBitmap32 out;
    RunStandard(Style(1), src, out);
    EXPECT_TRUE(SameBytes(out, *ColourStyleByHand(src, sketch::TSketchShape::Pencil, 67, {170, 100, 140})));
    TStandardSettings left = Style(1);
    left.Set("TrackBar2", 1);
    RunStandard(left, src, out);
    EXPECT_TRUE(SameBytes(out, *ColourStyleByHand(src, sketch::TSketchShape::Pencil, 1, {170, 100, 164})));
}

TEST(StandardPipeline, ColorPenIsThePenLayerOverTheAdjustedBase) {
    const TBitmap32& src = Sample();
    TBitmap32 out;
    RunStandard(Style(2), src, out);
    EXPECT_TRUE(SameBytes(out, *ColourStyleByHand(src, sketch::TSketchShape::Pen, 191, {170, 140, 120})));
}

TEST(StandardPipeline, BlackAndWhitePencilIsGreyOnWhite) {
    TBitmap32 out;
    RunStandard(Style(3), Sample(), out);
    TBitmap32 layer;
    TNullProgressBar bar;
    sketch::BuildSketchLayer(Sample(), sketch::TSketchShape::Pencil, 67, layer, bar);
    EXPECT_TRUE(SameBytes(out, layer));
    int64_t white = 0;
    for (int32_t y = 0; y < out.Height(); ++y)
        for (int32_t x = 0; x < out.Width(); ++x) {
            const uint32_t p = PixelRow(out, y)[x];
            ASSERT_EQ(pix::RedOf(p), pix::GreenOf(p));
            ASSERT_EQ(pix::GreenOf(p), pix::BlueOf(p));
            white += pix::RedOf(p) == 255;
        }
    EXPECT_GT(white * 2, int64_t(out.Width()) * out.Height());
}

TEST(StandardPipeline, BlackAndWhitePenIsBlackOnWhite) {
    TBitmap32 out;
    RunStandard(Style(4), Sample(), out);
    int64_t black = 0;
    for (int32_t y = 0; y < out.Height(); ++y)
        for (int32_t x = 0; x < out.Width(); ++x) {
            const uint32_t p = PixelRow(out, y)[x];
            ASSERT_TRUE(p == 0xFF000000u || p == 0x00FFFFFFu) << x << "," << y;
            black += p == 0xFF000000u;
        }
    EXPECT_GT(black, 0);
    EXPECT_LT(black * 2, int64_t(out.Width()) * out.Height());
}

TEST(StandardPipeline, OilPaintingIsTheSoftenedBase) {
    TBitmap32 out, expected;
    RunStandard(Style(5), Sample(), out);
    expected.Assign(&Sample());
    TNullProgressBar bar;
    sketch::dosoften(4, expected, bar);
    EXPECT_TRUE(SameBytes(out, expected));
}

TEST(StandardPipeline, CrayonByItsRadioAloneComputesTheCellSize) {
    stdf::CrayonCellSize = 0;  // as at start, before any slider change
    TBitmap32 out, expected;
    RunStandard(Style(6), Sample(), out);
    EXPECT_EQ(stdf::CrayonCellSize, 51);
    expected.Assign(&Sample());
    TNullProgressBar bar;
    stdf::crayonpic(expected, bar);
    EXPECT_TRUE(SameBytes(out, expected));
}

TEST(StandardPipeline, EarlierCrayonPosterises) {
    stdf::CrayonCellSize = 0;
    TStandardSettings s = Style(6, TRevision::Earlier);
    TBitmap32 out, expected;
    RunStandard(s, Sample(), out);
    EXPECT_EQ(stdf::CrayonCellSize, 0);  // no cell size in that revision
    expected.Assign(&Sample());
    TNullProgressBar bar;
    pro::colorzone(0, expected, bar);
    EXPECT_TRUE(SameBytes(out, expected));
    // Seven levels per channel inside row 0 and column 0.
    std::set<uint8_t> reds;
    for (int32_t y = 1; y < out.Height(); ++y)
        for (int32_t x = 1; x < out.Width(); ++x) reds.insert(pix::RedOf(PixelRow(out, y)[x]));
    EXPECT_LE(reds.size(), 7u);

    s.Set("TrackBar9", 1);  // offset -12
    RunStandard(s, Sample(), out);
    expected.Assign(&Sample());
    pro::colorzone(-12, expected, bar);
    EXPECT_TRUE(SameBytes(out, expected));
}

TEST(StandardPipeline, PenAndInkIsTheDetectorOnTheBase) {
    TBitmap32 out, expected;
    RunStandard(Style(7), Sample(), out);
    expected.Assign(&Sample());
    TNullProgressBar bar;
    stdf::PenInkBmp(expected, {10, 18, 30}, bar);
    EXPECT_TRUE(SameBytes(out, expected));
}

TEST(StandardPipeline, ResultReplacesWhateverTheTargetHeld) {
    TBitmap out;  // a plain bitmap of another size and format
    out.SetPixelFormat(TPixelFormat::pf8bit);
    out.SetSize(5, 7);
    RunStandard(Style(3), Sample(), out);
    EXPECT_EQ(out.Width(), 364);
    EXPECT_EQ(out.Height(), 384);
    EXPECT_EQ(out.PixelFormat(), TPixelFormat::pf32bit);
}

TEST(StandardPipeline, TinyPicturesConvertWithoutFault) {
    for (const auto& [w, h] : {std::pair{1, 1}, {1, 9}, {9, 1}, {2, 2}, {3, 3}, {7, 5}}) {
        TBitmap32 src;
        src.SetSize(w, h);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) PixelRow(src, y)[x] = pix::MakePixel(uint8_t(30 * x), 90, uint8_t(40 * y), 255);
        for (int32_t n = 1; n <= 7; ++n) {
            TBitmap32 out;
            RunStandard(Style(n), src, out);
            EXPECT_EQ(out.Width(), w);
            EXPECT_EQ(out.Height(), h);
        }
    }
}

// Every style, both revisions' crayon, against the step-by-step version,
// on the sample and on tiny pictures of noise (alpha included).
TEST(StandardPipeline, EveryStyleGivesTheReferenceBytes) {
    std::vector<TStandardSettings> runs;
    for (int32_t n = 1; n <= 7; ++n) runs.push_back(Style(n));
    runs.push_back(Style(6, TRevision::Earlier));
    std::vector<TBitmap32> pictures(5);
    pictures[0].Assign(&Sample());
    const std::pair<int32_t, int32_t> sizes[] = {{1, 1}, {2, 2}, {3, 3}, {7, 5}};
    uint32_t seed = 7;
    for (size_t i = 0; i < 4; ++i) {
        auto [w, h] = sizes[i];
        pictures[i + 1].SetSize(w, h);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) PixelRow(pictures[i + 1], y)[x] = seed = seed * 1664525u + 1013904223u;
    }
    for (const TBitmap32& src : pictures)
        for (const TStandardSettings& s : runs) {
            TBitmap32 fast, slow;
            RunStandard(s, src, fast);
            RunStandardReference(s, src, slow);
            EXPECT_TRUE(SameBytes(fast, slow)) << "style " << s.Style << ", " << src.Width() << " x " << src.Height();
        }
}

// ------------------------------------------------------------ threads

void ExpectSameForOneAndEightThreads(const TBitmap32& src) {
    std::vector<TStandardSettings> runs;
    for (int32_t n = 1; n <= 7; ++n) runs.push_back(Style(n));
    runs.push_back(Style(6, TRevision::Earlier));
    const int saved = par::ThreadCount();
    for (const TStandardSettings& s : runs) {
        TBitmap32 one, eight;
        par::SetThreadCount(1);
        RunStandard(s, src, one);
        par::SetThreadCount(8);
        RunStandard(s, src, eight);
        EXPECT_TRUE(SameBytes(one, eight)) << "style " << s.Style;
    }
    par::SetThreadCount(saved);
}

TEST(StandardPipeline, SameBytesForEveryThreadCountOnTheSample) { ExpectSameForOneAndEightThreads(Sample()); }

TEST(StandardPipeline, SameBytesForEveryThreadCountOnAMegapixel) { ExpectSameForOneAndEightThreads(Synthetic()); }

}  // namespace
