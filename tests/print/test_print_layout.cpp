#include <gtest/gtest.h>

#include <climits>

#include "platform/core/SysUtils.h"
#include "print/PrintLayout.h"

namespace {

constexpr int32_t kSampleW = 364, kSampleH = 384;

TPrintLayout ShownSample() {
    TPrintLayout l;
    l.Show(kSampleW, kSampleH);
    return l;
}

TEST(IsIntegerText, DigitsAndMinusSignsOnly) {
    EXPECT_TRUE(IsIntegerText("0"));
    EXPECT_TRUE(IsIntegerText("135"));
    EXPECT_TRUE(IsIntegerText("-"));
    EXPECT_TRUE(IsIntegerText("1-2"));
    EXPECT_TRUE(IsIntegerText("--5"));
    EXPECT_FALSE(IsIntegerText(""));
    EXPECT_FALSE(IsIntegerText("+5"));
    EXPECT_FALSE(IsIntegerText(" 5"));
    EXPECT_FALSE(IsIntegerText("5mm"));
    EXPECT_FALSE(IsIntegerText("1.5"));
}

TEST(PrintLayout, SampleShowsCentredAtFourteenPointFourPixelsPerMillimetre) {
    const TPrintLayout l = ShownSample();
    EXPECT_EQ(l.Edit1, "135");
    EXPECT_EQ(l.Edit2, "92");
    EXPECT_EQ(l.Edit3, "25");
    EXPECT_EQ(l.Edit4, "27");
    EXPECT_EQ(l.Image, (TPlacement{135, 92, 25, 27}));
    EXPECT_FALSE(l.Fit);
    EXPECT_EQ(l.RepeatMode, rmNone);
}

TEST(PrintLayout, ShowUnticksFitAndPlacesFromTheEditsAgain) {
    TPrintLayout l = ShownSample();
    l.SetFit(true, kSampleW, kSampleH);
    l.RepeatMode = rmDown;
    l.Show(kSampleW, kSampleH);
    EXPECT_FALSE(l.Fit);
    EXPECT_TRUE(l.ControlsEnabled());
    EXPECT_EQ(l.Image, (TPlacement{135, 92, 25, 27}));
    EXPECT_EQ(l.RepeatMode, rmNone);
}

TEST(PrintLayout, FitSampleAndItsPrintedRectangle) {
    TPrintLayout l = ShownSample();
    l.SetFit(true, kSampleW, kSampleH);
    EXPECT_EQ(l.Image, (TPlacement{43, 5, 200, 211}));
    EXPECT_FALSE(l.ControlsEnabled());
    EXPECT_EQ(l.Edit1, "135");  // the edits are not updated
    EXPECT_EQ(l.Edit3, "25");
    EXPECT_EQ(l.PrintRectangle(), Rect(72, 619, 2952, 3657));
    l.SetFit(false, kSampleW, kSampleH);
    EXPECT_EQ(l.Image, (TPlacement{135, 92, 25, 27}));
    EXPECT_TRUE(l.ControlsEnabled());
}

TEST(PrintLayout, FitToHeightCentresWithTiesToEven) {
    EXPECT_EQ(FitPlacement(193, 287), (TPlacement{5, 8, 193, 287}));   // 8.5 -> 8
    EXPECT_EQ(FitPlacement(195, 287), (TPlacement{5, 8, 195, 287}));   // 7.5 -> 8
    EXPECT_EQ(FitPlacement(191, 287), (TPlacement{5, 10, 191, 287}));  // 9.5 -> 10
    // Equal ratios take the fit-to-height branch.
    EXPECT_EQ(FitPlacement(200, 287), (TPlacement{5, 5, 200, 287}));
    EXPECT_EQ(FitPlacement(400, 574), (TPlacement{5, 5, 200, 287}));
}

TEST(PrintLayout, FitToWidthForWidePictures) {
    EXPECT_EQ(FitPlacement(400, 200), (TPlacement{98, 5, 200, 100}));   // 98.5 -> 98
    EXPECT_EQ(FitPlacement(201, 287), (TPlacement{6, 5, 200, 286}));    // 285.57 -> 286, 5.5 -> 6
    EXPECT_EQ(FitPlacement(0, 0), (TPlacement{5, 105, 0, 287}));        // no pixels: no ratio
}

TEST(PrintLayout, WidthTypedKeepsTheRatio) {
    TPrintLayout l = ShownSample();
    l.Edit3 = "100";
    l.Edit3KeyUp(kSampleW, kSampleH);
    EXPECT_EQ(l.Edit4, "105");  // 105.49 -> 105
    EXPECT_EQ(l.Image.Width, 100);
    EXPECT_EQ(l.Image.Height, 105);
}

TEST(PrintLayout, HeightTypedKeepsTheRatio) {
    TPrintLayout l = ShownSample();
    l.Edit4 = "105";
    l.Edit4KeyUp(kSampleW, kSampleH);
    EXPECT_EQ(l.Edit3, "100");  // 99.53 -> 100
    EXPECT_EQ(l.Image.Width, 100);
    EXPECT_EQ(l.Image.Height, 105);
}

TEST(PrintLayout, MinusAloneCollapsesThePreview) {
    TPrintLayout l = ShownSample();
    l.Edit3 = "-";
    l.Edit3KeyUp(kSampleW, kSampleH);
    EXPECT_EQ(l.Image.Width, 0);
    EXPECT_EQ(l.Image.Height, 0);
    EXPECT_EQ(l.Edit4, "0");
    l = ShownSample();
    l.Edit4 = "-";
    l.Edit4KeyUp(kSampleW, kSampleH);
    EXPECT_EQ(l.Edit3, "0");
    EXPECT_EQ(l.Image.Width, 0);
    EXPECT_EQ(l.Image.Height, 0);
}

TEST(PrintLayout, KeyUpIgnoresTextsThatAreNotIntegerTextsAndRaisesOnFalseOnes) {
    TPrintLayout l = ShownSample();
    l.Edit1 = "1x";
    l.Edit1KeyUp();
    l.Edit3 = "";
    l.Edit3KeyUp(kSampleW, kSampleH);
    EXPECT_EQ(l.Image, (TPlacement{135, 92, 25, 27}));
    l.Edit1 = "-";
    l.Edit1KeyUp();
    EXPECT_EQ(l.Image.Top, 0);
    l.Edit2 = "40";
    l.Edit2KeyUp();
    EXPECT_EQ(l.Image.Left, 40);
    l.Edit2 = "1-2";
    EXPECT_THROW(l.Edit2KeyUp(), EConvertError);
    l.Edit3 = "--5";
    EXPECT_THROW(l.Edit3KeyUp(kSampleW, kSampleH), EConvertError);
}

TEST(PrintLayout, HeldButtonMovesOneStepPerTickAndOneOnRelease) {
    TPrintLayout l = ShownSample();
    l.RepeatMode = rmDown;
    for (int tick = 0; tick < 10; ++tick) l.Step(l.RepeatMode, kSampleW, kSampleH);
    l.Step(rmDown, kSampleW, kSampleH);  // OnClick with the release
    EXPECT_EQ(l.Edit1, "146");
    EXPECT_EQ(l.Image.Top, 146);
}

TEST(PrintLayout, NudgesMoveOneMillimetre) {
    TPrintLayout l = ShownSample();
    l.Step(rmUp, kSampleW, kSampleH);
    l.Step(rmLeft, kSampleW, kSampleH);
    l.Step(rmLeft, kSampleW, kSampleH);
    l.Step(rmRight, kSampleW, kSampleH);
    l.Step(rmNone, kSampleW, kSampleH);
    EXPECT_EQ(l.Image, (TPlacement{134, 91, 25, 27}));
    EXPECT_EQ(l.Edit1, "134");
    EXPECT_EQ(l.Edit2, "91");
}

TEST(PrintLayout, GrowAndShrinkByTwoMillimetresAboutTheCorner) {
    TPrintLayout l = ShownSample();
    l.Step(rmGrow, kSampleW, kSampleH);
    EXPECT_EQ(l.Edit3, "27");
    EXPECT_EQ(l.Edit4, "28");  // 28.48 -> 28
    EXPECT_EQ(l.Image, (TPlacement{134, 91, 27, 28}));  // Round(384 / 364) = 1
    EXPECT_EQ(l.Edit1, "134");
    EXPECT_EQ(l.Edit2, "91");
    l.Step(rmShrink, kSampleW, kSampleH);
    l.Step(rmShrink, kSampleW, kSampleH);
    EXPECT_EQ(l.Image, (TPlacement{136, 93, 23, 24}));  // 24.26 -> 24
    // A tall picture moves its top by the rounded ratio: Round(2.5) = 2.
    TPrintLayout tall;
    tall.Show(100, 250);
    const int32_t top = tall.Image.Top;
    tall.Step(rmGrow, 100, 250);
    EXPECT_EQ(tall.Image.Top, top - 2);
}

TEST(PrintLayout, NudgeOnAFalseIntegerRaises) {
    TPrintLayout l = ShownSample();
    l.Edit1 = "";
    EXPECT_THROW(l.Step(rmUp, kSampleW, kSampleH), EConvertError);
}

TEST(PrintLayout, CentreTruncatesTowardZero) {
    TPrintLayout l = ShownSample();
    l.Image.Top = 0;
    l.Image.Left = 0;
    l.Centre();
    EXPECT_EQ(l.Image.Top, 135);  // (297 - 27) div 2
    EXPECT_EQ(l.Image.Left, 92);  // (210 - 25) div 2 = 92 (92.5 truncated)
    l.Edit3 = "301";
    l.Centre();
    EXPECT_EQ(l.Image.Left, -45);  // -91 div 2: toward zero, not -46
    EXPECT_EQ(l.Edit2, "-45");
}

TEST(PrintLayout, PrintedRectangleFromTheEdits) {
    TPrintLayout l = ShownSample();
    EXPECT_EQ(l.PrintRectangle(), Rect(1325, 1944, 1685, 2333));
    l.Edit2 = "0";
    l.Edit1 = "0";
    l.Edit3 = "210";
    l.Edit4 = "297";
    EXPECT_EQ(l.PrintRectangle(), Rect(0, 0, 3024, 4277));  // 4276.8 -> 4277
}

TEST(PrintLayout, FittedPrintStillNeedsIntegerEdits) {
    TPrintLayout l = ShownSample();
    l.SetFit(true, kSampleW, kSampleH);
    l.Edit4 = "-";
    EXPECT_THROW(l.PrintRectangle(), EConvertError);
}

TEST(PrintLayout, FirstInvalidEditInOrder) {
    TPrintLayout l = ShownSample();
    EXPECT_EQ(l.InvalidEdit(), 0);
    l.Edit4 = "";
    l.Edit2 = "a";
    EXPECT_EQ(l.InvalidEdit(), 2);
    l.Edit2 = "-";  // passes the test, fails only StrToInt
    EXPECT_EQ(l.InvalidEdit(), 4);
}

TEST(PrintLayout, HugeValuesSaturateInsteadOfWrapping) {
    TPrintLayout l = ShownSample();
    l.Edit3 = "2147483647";
    l.Edit3KeyUp(kSampleW, kSampleH);
    EXPECT_EQ(l.Edit4, "2147483647");
    l.Step(rmGrow, kSampleW, kSampleH);
    EXPECT_EQ(l.Edit3, "2147483647");
    l.Edit1 = "-2147483648";
    l.Step(rmUp, kSampleW, kSampleH);
    EXPECT_EQ(l.Edit1, "-2147483648");
    const TRect r = l.PrintRectangle();
    EXPECT_EQ(r.Top, INT32_MIN);
    EXPECT_EQ(r.Right, INT32_MAX);
}

}  // namespace
