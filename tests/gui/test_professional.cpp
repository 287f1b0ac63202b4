// The Professional dialog: value labels, enabling rules, the batch panel
// toggle, and "Done" against the pipeline on the same source.
#include "tests/gui/test_mainform_support.h"

namespace windows_test {
namespace {

TEST(ProfessionalLabels, RoundHalvesToEven) {
    EXPECT_EQ(ProfessionalLabelText("TrackBar3", 9), "2");   // 2.5
    EXPECT_EQ(ProfessionalLabelText("TrackBar3", 27), "8");  // 7.5
    EXPECT_EQ(ProfessionalLabelText("TrackBar4", 1), "0");   // 0.5
    EXPECT_EQ(ProfessionalLabelText("TrackBar4", 3), "2");   // 1.5
    EXPECT_EQ(ProfessionalLabelText("TrackBar5", 5), "2");
    EXPECT_EQ(ProfessionalLabelText("TrackBar5", 7), "4");
    EXPECT_EQ(ProfessionalLabelText("TrackBar1", 89), "100");
    EXPECT_EQ(ProfessionalLabelText("TrackBar7", 1), "0");
    EXPECT_EQ(ProfessionalLabelText("TrackBar2", 255), "100");
}

TEST(ProfessionalLabels, OffsetsAndPlainPositions) {
    EXPECT_EQ(ProfessionalLabelText("TrackBar9", 1), "0");
    EXPECT_EQ(ProfessionalLabelText("TrackBar9", 26), "25");
    EXPECT_EQ(ProfessionalLabelText("TrackBar8", 2), "1");
    EXPECT_EQ(ProfessionalLabelText("TrackBar6", 10), "10");
    EXPECT_EQ(ProfessionalLabelText("TrackBar10", 5), "");
}

class ProfessionalTest : public WindowsTest {
protected:
    TSetup_For_Color_Sketch* P() { return Setup_For_Color_Sketch; }

    // "Done", then the pipeline by hand on the same source and settings.
    void ExpectDoneMatchesThePipeline() {
        P()->SpeedButton1->Click();
        TBitmap32 expected;
        RunProfessional(P()->Settings(), MainForm->SourceBitmap(), expected);
        EXPECT_TRUE(SameBytes32(MainForm->ResultBitmap(), expected));
        ASSERT_NE(CurrentSketch, nullptr);
        EXPECT_TRUE(SameBytes32(*CurrentSketch, expected));
        EXPECT_EQ(MakeMode, 2);
    }
};

TEST_F(ProfessionalTest, StartsFromTheDesignedDefaults) {
    EXPECT_EQ(P()->Caption(), "Professional");
    EXPECT_EQ(P()->ClientWidth(), 470);
    EXPECT_EQ(P()->Height(), TSetup_For_Color_Sketch::kCollapsedHeight);
    EXPECT_EQ(P()->FormStyle(), fsStayOnTop);
    const TProfessionalSettings defaults;
    const TProfessionalSettings read = P()->Settings();
    EXPECT_EQ(read.CheckBox1, defaults.CheckBox1);
    EXPECT_EQ(read.CheckBox8, defaults.CheckBox8);
    EXPECT_EQ(read.CheckBox6, defaults.CheckBox6);
    EXPECT_EQ(read.CheckBox2 || read.CheckBox3 || read.CheckBox4 || read.CheckBox5 || read.CheckBox7, false);
    EXPECT_EQ(read.TrackBar1, 65);
    EXPECT_EQ(read.TrackBar2, 102);
    EXPECT_EQ(read.TrackBar3, 170);
    EXPECT_EQ(read.TrackBar7, 128);
    EXPECT_EQ(read.TrackBar8, 4);
    EXPECT_EQ(read.TrackBar9, 13);
    EXPECT_TRUE(read.Pencil);
    EXPECT_EQ(read.Artistic, 1);
    const std::pair<TLabel*, const char*> labels[] = {
        {P()->Label5, "73"},  {P()->Label8, "50"},  {P()->Label9, "12"},  {P()->Label10, "40"}, {P()->Label11, "3"},
        {P()->Label12, "3"},  {P()->Label13, "47"}, {P()->Label14, "50"}, {P()->Label15, "60"}};
    for (const auto& [label, text] : labels) EXPECT_EQ(label->Caption(), text) << label->Name();
    EXPECT_EQ(P()->Label1->Font().Color(), clBlack);
}

TEST_F(ProfessionalTest, InitialEnabledStates) {
    EXPECT_TRUE(P()->TrackBar1->Enabled());
    EXPECT_FALSE(P()->TrackBar7->Enabled());
    EXPECT_TRUE(P()->TrackBar9->Enabled());
    EXPECT_FALSE(P()->TrackBar2->Enabled());
    EXPECT_FALSE(P()->TrackBar6->Enabled());
    EXPECT_FALSE(P()->TrackBar8->Enabled());
    EXPECT_FALSE(P()->RadioButton1->Enabled());
    EXPECT_TRUE(P()->RadioButton1->Checked());
    EXPECT_TRUE(P()->TrackBar3->Enabled());
}

TEST_F(ProfessionalTest, SlidersRewriteTheirLabels) {
    P()->TrackBar3->SetPosition(9);
    EXPECT_EQ(P()->Label13->Caption(), "2");
    P()->TrackBar3->SetPosition(27);
    EXPECT_EQ(P()->Label13->Caption(), "8");
    P()->TrackBar4->SetPosition(1);
    EXPECT_EQ(P()->Label14->Caption(), "0");
    P()->TrackBar4->SetPosition(3);
    EXPECT_EQ(P()->Label14->Caption(), "2");
    P()->TrackBar9->SetPosition(1);
    EXPECT_EQ(P()->Label9->Caption(), "0");
    P()->TrackBar8->SetPosition(11);
    EXPECT_EQ(P()->Label12->Caption(), "10");
    P()->TrackBar6->SetPosition(7);
    EXPECT_EQ(P()->Label11->Caption(), "7");
}

TEST_F(ProfessionalTest, SketchEnableGovernsBothSlidersUntilARadioIsClicked) {
    P()->CheckBox1->SetChecked(false);
    for (TControl* c : std::initializer_list<TControl*>{P()->RadioButton4, P()->RadioButton5, P()->TrackBar1,
                                                         P()->TrackBar7, P()->CheckBox7}) {
        EXPECT_FALSE(c->Enabled()) << c->Name();
    }
    P()->CheckBox1->SetChecked(true);
    EXPECT_TRUE(P()->TrackBar1->Enabled());
    EXPECT_TRUE(P()->TrackBar7->Enabled());  // both, although "Pencil" is selected
    P()->RadioButton5->SetChecked(true);
    EXPECT_TRUE(P()->TrackBar7->Enabled());
    EXPECT_FALSE(P()->TrackBar1->Enabled());
    EXPECT_FALSE(P()->RadioButton4->Checked());
    P()->RadioButton4->SetChecked(true);
    EXPECT_TRUE(P()->TrackBar1->Enabled());
    EXPECT_FALSE(P()->TrackBar7->Enabled());
}

TEST_F(ProfessionalTest, EffectBoxesEnableTheirSliders) {
    const std::pair<TCheckBox*, TTrackBar*> pairs[] = {{P()->CheckBox8, P()->TrackBar9}, {P()->CheckBox2, P()->TrackBar2},
                                                       {P()->CheckBox3, P()->TrackBar6}, {P()->CheckBox4, P()->TrackBar8}};
    for (const auto& [box, bar] : pairs) {
        box->SetChecked(!box->Checked());
        EXPECT_EQ(bar->Enabled(), box->Checked()) << box->Name();
        box->SetChecked(!box->Checked());
        EXPECT_EQ(bar->Enabled(), box->Checked()) << box->Name();
    }
    P()->CheckBox5->SetChecked(true);
    EXPECT_TRUE(P()->RadioButton1->Enabled() && P()->RadioButton2->Enabled() && P()->RadioButton3->Enabled());
    P()->CheckBox5->SetChecked(false);
    EXPECT_FALSE(P()->RadioButton1->Enabled() || P()->RadioButton2->Enabled() || P()->RadioButton3->Enabled());
}

TEST_F(ProfessionalTest, HslEnableGreysItsCaptions) {
    P()->CheckBox6->SetChecked(false);
    EXPECT_FALSE(P()->TrackBar3->Enabled() || P()->TrackBar4->Enabled() || P()->TrackBar5->Enabled());
    for (TLabel* l : {P()->Label1, P()->Label2, P()->Label3}) EXPECT_EQ(l->Font().Color(), clGray);
    P()->CheckBox6->SetChecked(true);
    EXPECT_TRUE(P()->TrackBar3->Enabled() && P()->TrackBar4->Enabled() && P()->TrackBar5->Enabled());
    for (TLabel* l : {P()->Label1, P()->Label2, P()->Label3}) EXPECT_EQ(l->Font().Color(), clWindowText);
}

TEST_F(ProfessionalTest, BatchToggleSwitchesBetweenTheTwoHeights) {
    EXPECT_GE(P()->Panel2->Top(), P()->ClientHeight());  // below the visible area
    P()->SpeedButton5->Click();
    EXPECT_EQ(P()->Height(), TSetup_For_Color_Sketch::kExpandedHeight);
    EXPECT_GE(P()->ClientHeight(), P()->Panel2->Top() + P()->Panel2->Height());
    P()->SpeedButton5->Click();
    EXPECT_EQ(P()->Height(), TSetup_For_Color_Sketch::kCollapsedHeight);
}

TEST_F(ProfessionalTest, ItsBarIsTheOneTheFiltersAdvance) {
    EXPECT_EQ(&ProfessionalProgressBar(), static_cast<IProgressBar*>(P()->ProgressBar1));
    EXPECT_EQ(P()->ProgressBar1->Max(), 800);
}

TEST_F(ProfessionalTest, DoneAtTheDefaultsGivesThePipelinesResult) { ExpectDoneMatchesThePipeline(); }

TEST_F(ProfessionalTest, DoneWithPenExposureArtisticAndOilPainting) {
    P()->RadioButton5->SetChecked(true);
    P()->TrackBar7->SetPosition(100);
    P()->CheckBox2->SetChecked(true);
    P()->CheckBox5->SetChecked(true);
    P()->RadioButton2->SetChecked(true);
    P()->CheckBox4->SetChecked(true);
    P()->CheckBox7->SetChecked(true);
    const TProfessionalSettings s = P()->Settings();
    EXPECT_FALSE(s.Pencil);
    EXPECT_EQ(s.Artistic, 2);
    EXPECT_TRUE(s.CheckBox7 && s.CheckBox7Enabled);
    ExpectDoneMatchesThePipeline();
}

TEST_F(ProfessionalTest, DoneWithTheSketchAloneOrTheBaseAlone) {
    for (TCheckBox* box : {P()->CheckBox8, P()->CheckBox6}) box->SetChecked(false);
    ExpectDoneMatchesThePipeline();
    P()->CheckBox1->SetChecked(false);
    P()->CheckBox8->SetChecked(true);
    EXPECT_FALSE(P()->Settings().CheckBox7Enabled);
    ExpectDoneMatchesThePipeline();
}

TEST_F(ProfessionalTest, DoneTwiceConvertsTheSourceNotThePreviousResult) {
    P()->SpeedButton1->Click();
    TBitmap32 first;
    first.Assign(&MainForm->ResultBitmap());
    P()->SpeedButton1->Click();
    EXPECT_TRUE(SameBytes32(MainForm->ResultBitmap(), first));
}

}  // namespace
}  // namespace windows_test
