// The Standard dialog in both revisions: value labels, sliders selecting
// their style, the "Pen && Ink" reset, and "Done" against the pipeline.
#include "tests/gui/test_mainform_support.h"

#include "standard/StandardFilters.h"

namespace windows_test {
namespace {

TEST(StandardLabels, PercentagesRoundHalvesToEven) {
    EXPECT_EQ(StandardLabelText("TrackBar2", 67, TRevision::Current), "75");
    EXPECT_EQ(StandardLabelText("TrackBar1", 89, TRevision::Current), "100");
    EXPECT_EQ(StandardLabelText("TrackBar3", 191, TRevision::Current), "75");
    EXPECT_EQ(StandardLabelText("TrackBar7", 1, TRevision::Current), "0");
    EXPECT_EQ(StandardLabelText("TrackBar8", 10, TRevision::Current), "9");
}

TEST(StandardLabels, PenAndInkLabelsUseTheGeneralFloatFormat) {
    EXPECT_EQ(StandardLabelText("TrackBar4", 1, TRevision::Current), "0");
    EXPECT_EQ(StandardLabelText("TrackBar4", 10, TRevision::Current), "0.09");
    EXPECT_EQ(StandardLabelText("TrackBar4", 101, TRevision::Current), "1");
    EXPECT_EQ(StandardLabelText("TrackBar5", 1, TRevision::Current), "0.05");
    EXPECT_EQ(StandardLabelText("TrackBar5", 18, TRevision::Current), "0.9");
    EXPECT_EQ(StandardLabelText("TrackBar5", 0, TRevision::Current), "0");
    EXPECT_EQ(StandardLabelText("TrackBar6", 1, TRevision::Current), "0.025");
    EXPECT_EQ(StandardLabelText("TrackBar6", 30, TRevision::Current), "0.75");
    EXPECT_EQ(StandardLabelText("TrackBar6", 40, TRevision::Current), "1");
}

TEST(StandardLabels, EarlierRevisionShowsCrayonOffsetAndHasNoPenAndInk) {
    EXPECT_EQ(StandardLabelText("TrackBar9", 13, TRevision::Earlier), "12");
    EXPECT_EQ(StandardLabelText("TrackBar9", 5, TRevision::Current), "5");
    EXPECT_EQ(StandardLabelText("TrackBar4", 10, TRevision::Earlier), "");
}

class StandardTest : public WindowsTest {
protected:
    TStandard* S() { return Standard; }

    void ExpectDoneMatchesThePipeline() {
        S()->SpeedButton1->Click();
        TBitmap32 expected;
        RunStandard(S()->Settings(), MainForm->SourceBitmap(), expected);
        EXPECT_TRUE(SameBytes32(MainForm->ResultBitmap(), expected));
        ASSERT_NE(CurrentSketch, nullptr);
        EXPECT_TRUE(SameBytes32(*CurrentSketch, expected));
        EXPECT_EQ(MakeMode, 1);
    }
};

TEST_F(StandardTest, StartsFromTheDesignedDefaults) {
    EXPECT_EQ(S()->Caption(), "Standard");
    EXPECT_EQ(S()->ClientWidth(), 470);
    EXPECT_EQ(S()->Height(), TStandard::kCollapsedHeight);
    EXPECT_EQ(S()->Revision(), TRevision::Current);
    EXPECT_TRUE(S()->RadioButton1->Checked());
    EXPECT_EQ(S()->RadioButton7->Caption(), "Pen && Ink");
    const std::pair<TLabel*, const char*> labels[] = {
        {S()->Label1, "75"}, {S()->Label2, "75"},   {S()->Label3, "3"},   {S()->Label5, "5"},   {S()->Label8, "75"},
        {S()->Label9, "75"}, {S()->Label10, "0.09"}, {S()->Label11, "0.9"}, {S()->Label12, "0.75"}};
    for (const auto& [label, text] : labels) EXPECT_EQ(label->Caption(), text) << label->Name();
    const TStandardSettings read = S()->Settings();
    const TStandardSettings defaults = TStandardSettings::Defaults(TRevision::Current);
    EXPECT_EQ(read.Style, 1);
    EXPECT_EQ(read.TrackBar2, defaults.TrackBar2);
    EXPECT_EQ(read.TrackBar9, defaults.TrackBar9);
    EXPECT_EQ(read.TrackBar4, defaults.TrackBar4);
    EXPECT_EQ(&StandardProgressBar(), static_cast<IProgressBar*>(S()->ProgressBar1));
}

TEST_F(StandardTest, EachSliderSelectsItsStyle) {
    const struct {
        TTrackBar* bar;
        int pos;
        TRadioButton* style;
        TLabel* label;
        const char* text;
    } cases[] = {{S()->TrackBar3, 255, S()->RadioButton2, S()->Label2, "100"},
                 {S()->TrackBar8, 6, S()->RadioButton5, S()->Label3, "5"},
                 {S()->TrackBar9, 7, S()->RadioButton6, S()->Label5, "7"},
                 {S()->TrackBar1, 1, S()->RadioButton3, S()->Label8, "1"},
                 {S()->TrackBar7, 128, S()->RadioButton4, S()->Label9, "50"},
                 {S()->TrackBar2, 45, S()->RadioButton1, S()->Label1, "51"}};
    for (const auto& c : cases) {
        c.bar->SetPosition(c.pos);
        EXPECT_TRUE(c.style->Checked()) << c.bar->Name();
        EXPECT_EQ(c.label->Caption(), c.text) << c.bar->Name();
    }
}

TEST_F(StandardTest, CrayonSliderSetsTheCellSize) {
    S()->TrackBar9->SetPosition(7);
    EXPECT_EQ(stdf::CrayonCellSize, 37);  // round(36.57)
    S()->TrackBar9->SetPosition(10);
    EXPECT_EQ(stdf::CrayonCellSize, 26);  // round(25.6)
    S()->TrackBar9->SetPosition(15);
    EXPECT_EQ(stdf::CrayonCellSize, 17);
}

TEST_F(StandardTest, MovingAPenAndInkSliderFromAnotherStyleResetsAllThree) {
    S()->RadioButton2->SetChecked(true);  // "Color Pen"
    S()->TrackBar5->SetPosition(5);
    EXPECT_TRUE(S()->RadioButton7->Checked());
    EXPECT_FALSE(S()->RadioButton2->Checked());
    EXPECT_EQ(S()->TrackBar4->Position(), 10);
    EXPECT_EQ(S()->TrackBar5->Position(), 18);
    EXPECT_EQ(S()->TrackBar6->Position(), 30);
    EXPECT_EQ(S()->Label10->Caption(), "0.09");
    EXPECT_EQ(S()->Label11->Caption(), "0.9");
    EXPECT_EQ(S()->Label12->Caption(), "0.75");
    // Once "Pen && Ink" is selected a move stays.
    S()->TrackBar5->SetPosition(5);
    EXPECT_EQ(S()->TrackBar5->Position(), 5);
    EXPECT_EQ(S()->Label11->Caption(), "0.25");
    S()->TrackBar4->SetPosition(101);
    EXPECT_EQ(S()->Label10->Caption(), "1");
}

TEST_F(StandardTest, ClickingPenAndInkResetsItsSliders) {
    S()->RadioButton7->SetChecked(true);
    S()->TrackBar6->SetPosition(3);
    S()->RadioButton1->SetChecked(true);
    S()->RadioButton7->Click();
    EXPECT_TRUE(S()->RadioButton7->Checked());
    EXPECT_EQ(S()->TrackBar6->Position(), 30);
    EXPECT_EQ(S()->Label12->Caption(), "0.75");
}

TEST_F(StandardTest, BatchToggleSwitchesBetweenTheTwoHeights) {
    EXPECT_GE(S()->Panel2->Top(), S()->ClientHeight());
    S()->SpeedButton5->Click();
    EXPECT_EQ(S()->Height(), TStandard::kExpandedHeight);
    EXPECT_GE(S()->ClientHeight(), S()->Panel2->Top() + S()->Panel2->Height());
    S()->SpeedButton5->Click();
    EXPECT_EQ(S()->Height(), TStandard::kCollapsedHeight);
}

TEST_F(StandardTest, DoneInEveryStyleGivesThePipelinesResult) {
    TRadioButton* styles[] = {S()->RadioButton1, S()->RadioButton2, S()->RadioButton3, S()->RadioButton4,
                              S()->RadioButton5, S()->RadioButton6, S()->RadioButton7};
    for (int i = 0; i < 7; ++i) {
        SCOPED_TRACE(styles[i]->Caption());
        styles[i]->SetChecked(true);
        EXPECT_EQ(S()->Settings().Style, i + 1);
        ExpectDoneMatchesThePipeline();
    }
}

TEST_F(StandardTest, DoneWithMovedSliders) {
    S()->TrackBar2->SetPosition(1);  // "Color Pencil" at its far left
    ExpectDoneMatchesThePipeline();
    S()->TrackBar3->SetPosition(255);  // "Color Pen" at its far right
    ExpectDoneMatchesThePipeline();
}

TEST_F(StandardTest, CrayonSelectedByItsRadioAloneConverts) {
    stdf::CrayonCellSize = 0;
    S()->RadioButton6->SetChecked(true);
    ExpectDoneMatchesThePipeline();
}

// ---------------------------------------------------------------- earlier revision

class EarlierStandardTest : public StandardTest {
protected:
    EarlierStandardTest() { standardRevision = TRevision::Earlier; }
};

TEST_F(EarlierStandardTest, HasNoPenAndInkAndThePosterisingCrayonSlider) {
    EXPECT_EQ(S()->Revision(), TRevision::Earlier);
    for (const char* name : {"RadioButton7", "TrackBar4", "TrackBar5", "TrackBar6", "Label10", "Label11", "Label12"}) {
        EXPECT_EQ(S()->FindComponent(name), nullptr) << name;
    }
    EXPECT_EQ(S()->TrackBar9->Min(), 1);
    EXPECT_EQ(S()->TrackBar9->Max(), 26);
    EXPECT_EQ(S()->TrackBar9->Position(), 13);
    EXPECT_EQ(S()->Label5->Caption(), "12");
    EXPECT_EQ(S()->Settings().Revision, TRevision::Earlier);
}

TEST_F(EarlierStandardTest, SlidersOnlyRewriteTheirLabels) {
    S()->TrackBar1->SetPosition(89);
    EXPECT_EQ(S()->Label8->Caption(), "100");
    EXPECT_TRUE(S()->RadioButton1->Checked());
    EXPECT_FALSE(S()->RadioButton3->Checked());
    S()->TrackBar9->SetPosition(26);
    EXPECT_EQ(S()->Label5->Caption(), "25");
    EXPECT_FALSE(S()->RadioButton6->Checked());
}

TEST_F(EarlierStandardTest, DoneWithThePosterisingCrayon) {
    S()->RadioButton6->SetChecked(true);
    S()->TrackBar9->SetPosition(20);
    EXPECT_EQ(S()->Settings().Style, 6);
    ExpectDoneMatchesThePipeline();
}

}  // namespace
}  // namespace windows_test
