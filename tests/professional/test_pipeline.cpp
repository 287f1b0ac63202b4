#include "professional/ProfessionalPipeline.h"
#include "professional/ProfessionalPipelineRef.h"

#include <gtest/gtest.h>

#include <cstring>

#include "app/PixelOps.h"
#include "app/SketchFilters.h"
#include "app/SketchLayer.h"
#include "app/SketchState.h"
#include "platform/core/Parallel.h"
#include "professional/ProfessionalFilters.h"
#include "app/Random.h"

#include "tests/TestPictures.h"

namespace {

using testpics::SameBytes;
using testpics::Sample;
using testpics::Synthetic;

TProfessionalSettings NoEffects() {
    TProfessionalSettings s;
    s.CheckBox8 = false;
    s.CheckBox6 = false;
    return s;
}

TEST(ProfessionalPipeline, SetsMakeModeAndKeepsTheSize) {
    const TBitmap32& src = Sample();
    TBitmap32 out;
    MakeMode = 0;
    RunProfessional(TProfessionalSettings{}, src, out);
    EXPECT_EQ(MakeMode, 2);
    EXPECT_EQ(out.Width(), 364);
    EXPECT_EQ(out.Height(), 384);
    EXPECT_EQ(out.PixelFormat(), TPixelFormat::pf32bit);
}

TEST(ProfessionalPipeline, SketchWithoutEffectsIsTheLayerAlone) {
    const TBitmap32& src = Sample();
    TBitmap32 out;
    RunProfessional(NoEffects(), src, out);
    TBitmap32 layer;
    TNullProgressBar bar;
    sketch::BuildSketchLayer(src, sketch::TSketchShape::Pencil, 65, layer, bar);
    EXPECT_TRUE(SameBytes(out, layer));
    // Grey strokes, no colour.
    for (int32_t x = 0; x < out.Width(); ++x) {
        const uint32_t p = PixelRow(out, 100)[x];
        ASSERT_EQ(pix::RedOf(p), pix::GreenOf(p));
        ASSERT_EQ(pix::GreenOf(p), pix::BlueOf(p));
    }
}

TEST(ProfessionalPipeline, WithoutSketchTheBaseIsShownAndSmoothDoesNothing) {
    const TBitmap32& src = Sample();
    TProfessionalSettings s;
    s.CheckBox1 = false;
    s.CheckBox7 = true;
    TBitmap32 out;
    RunProfessional(s, src, out);
    TBitmap32 base;
    base.Assign(&src);
    TNullProgressBar bar;
    pro::colorzone(0, base, bar);
    pro::hsladjust(170, 100, 120, base, bar);
    EXPECT_TRUE(SameBytes(out, base));
}

TEST(ProfessionalPipeline, PenAtTopLevelCoversTheBaseInBlack) {
    const TBitmap32& src = Sample();
    TProfessionalSettings s;
    s.Set("RadioButton5", 1);
    s.Set("TrackBar7", 255);
    TBitmap32 out;
    RunProfessional(s, src, out);
    for (int32_t y = 0; y < out.Height(); ++y)
        for (int32_t x = 0; x < out.Width(); ++x) ASSERT_EQ(PixelRow(out, y)[x], 0xFF000000u);
}

TEST(ProfessionalPipeline, SettingsByControlName) {
    TProfessionalSettings s;
    EXPECT_TRUE(s.Set("CheckBox3", 1));
    EXPECT_TRUE(s.CheckBox3);
    EXPECT_TRUE(s.Set("RadioButton2", 1));
    EXPECT_EQ(s.Artistic, 2);
    EXPECT_TRUE(s.Set("TrackBar9", 26));
    EXPECT_EQ(s.TrackBar9, 26);
    EXPECT_FALSE(s.Set("TrackBar10", 1));
    EXPECT_FALSE(s.Set("Button1", 1));
}

TEST(ProfessionalPipeline, SlidersStayInsideTheirRanges) {
    TProfessionalSettings s;
    s.Set("TrackBar1", 90);  // tan(90 degrees)
    EXPECT_EQ(s.TrackBar1, 89);
    s.Set("TrackBar8", 0);
    EXPECT_EQ(s.TrackBar8, 2);
    s.Set("TrackBar9", -3);
    EXPECT_EQ(s.TrackBar9, 1);
    s.Set("TrackBar3", 1000);
    EXPECT_EQ(s.TrackBar3, 360);
    s.Set("CheckBox1", 0);
    EXPECT_FALSE(s.CheckBox7Enabled);  // "Smooth" follows "Sketch"
}

// Every box ticked: the effects run on the base in their fixed order, the
// smoothing on the layer, and the layer is blended over the base.
TEST(ProfessionalPipeline, EveryEffectInItsOrder) {
    const TBitmap32& src = Sample();
    TProfessionalSettings s;
    for (const char* box : {"CheckBox2", "CheckBox3", "CheckBox4", "CheckBox5", "CheckBox7"}) s.Set(box, 1);
    s.Set("RadioButton3", 1);
    s.Set("TrackBar6", 2);
    s.Set("TrackBar9", 20);
    const uint32_t seed = rnd::Seed();
    TBitmap32 out;
    RunProfessional(s, src, out);

    rnd::SetSeed(seed);
    TNullProgressBar bar;
    TBitmap32 layer, base;
    sketch::BuildSketchLayer(src, sketch::TSketchShape::Pencil, 65, layer, bar);
    base.Assign(&src);
    pro::colorzone(7, base, bar);
    sketch::Exposure(base, 102, bar);
    base.SetPixelFormat(TPixelFormat::pf32bit);
    pro::fringe3(base, bar);
    pro::Brume(2, base, bar);  // one slider for both halves of "Blur"
    sketch::Blur(2, base, bar);
    sketch::dosoften(4, base, bar);
    pro::hsladjust(170, 100, 120, base, bar);
    pro::pinghua(layer, bar);
    layer.SetPixelFormat(TPixelFormat::pf32bit);
    layer.DrawTo(0, 0, base);
    EXPECT_TRUE(SameBytes(out, base));
}

// The defaults, the pen, every effect with each artistic style, and the
// sketch alone, against the step-by-step version.
TEST(ProfessionalPipeline, GivesTheReferenceBytes) {
    std::vector<TProfessionalSettings> runs(1);
    runs.push_back(NoEffects());
    runs.emplace_back().Set("RadioButton5", 1);
    for (const char* style : {"RadioButton1", "RadioButton2", "RadioButton3"}) {
        TProfessionalSettings& s = runs.emplace_back();
        for (const char* box : {"CheckBox2", "CheckBox3", "CheckBox4", "CheckBox5", "CheckBox7"}) s.Set(box, 1);
        s.Set(style, 1);
    }
    TBitmap32 tiny;
    tiny.SetSize(3, 3);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 3; ++x) PixelRow(tiny, y)[x] = 0x9E3779B9u * uint32_t(1 + x + 3 * y);
    for (const TBitmap32* src : {&Sample(), static_cast<const TBitmap32*>(&tiny)})
        for (const TProfessionalSettings& s : runs) {
            TBitmap32 fast, slow;
            const uint32_t seed = rnd::Seed();
            RunProfessional(s, *src, fast);
            rnd::SetSeed(seed);
            RunProfessionalReference(s, *src, slow);
            EXPECT_TRUE(SameBytes(fast, slow)) << src->Width();
        }
}

TEST(ProfessionalPipeline, SameBytesForEveryThreadCountOnAMegapixel) {
    const TBitmap32& src = Synthetic();
    TBitmap32 one, eight;
    const int saved = par::ThreadCount();
    par::SetThreadCount(1);
    RunProfessional(TProfessionalSettings{}, src, one);
    par::SetThreadCount(8);
    RunProfessional(TProfessionalSettings{}, src, eight);
    par::SetThreadCount(saved);
    EXPECT_TRUE(SameBytes(one, eight));
}

TEST(ProfessionalPipeline, SameBytesForEveryThreadCount) {
    const TBitmap32& src = Sample();
    TProfessionalSettings all;
    all.CheckBox2 = all.CheckBox3 = all.CheckBox4 = all.CheckBox5 = all.CheckBox7 = true;
    for (const TProfessionalSettings& s : {TProfessionalSettings{}, all}) {
        TBitmap32 one, eight;
        const int saved = par::ThreadCount();
        par::SetThreadCount(1);
        const uint32_t seed = rnd::Seed();
        RunProfessional(s, src, one);
        par::SetThreadCount(8);
        rnd::SetSeed(seed);
        RunProfessional(s, src, eight);
        par::SetThreadCount(saved);
        EXPECT_TRUE(SameBytes(one, eight));
    }
}

}  // namespace
