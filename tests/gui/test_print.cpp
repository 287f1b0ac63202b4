// The print layout dialog: its controls, the placement it shows, the
// nudge buttons with their auto-repeat, "Fit the page", the validity test,
// and the picture's position and size on a printed PDF page.
#include "tests/gui/test_mainform_support.h"

#include <cstdio>
#include <sstream>

namespace windows_test {
namespace {

class PrintTest : public WindowsTest {
protected:
    void SetUp() override {
        WindowsTest::SetUp();
        MainForm->SpeedButton3->Click();  // "Print" shows the dialog
        ASSERT_TRUE(Print_Setup->Visible());
    }
    TSpeedButton* Button(const char* name) const { return Print_Setup->FindControl<TSpeedButton>(name); }
    void KeyUp(TEdit* edit, const std::string& text) const {
        edit->SetText(text);
        uint16_t key = '0';
        edit->KeyUp(key, 0);
    }
    TPlacement Preview() const {
        const TImage* im = Print_Setup->Image1;
        return {im->Top(), im->Left(), im->Width(), im->Height()};
    }
    std::vector<std::string> Edits() const {
        return {Print_Setup->Edit1->Text(), Print_Setup->Edit2->Text(), Print_Setup->Edit3->Text(),
                Print_Setup->Edit4->Text()};
    }
};

TEST_F(PrintTest, FormAndControlsAsDesigned) {
    EXPECT_EQ(Print_Setup->Caption(), "Print_Setup");
    EXPECT_EQ(Print_Setup->ClientWidth(), 378);
    EXPECT_EQ(Print_Setup->ClientHeight(), 334);
    EXPECT_EQ(Print_Setup->BorderStyle(), bsDialog);
    EXPECT_EQ(Print_Setup->FormStyle(), fsStayOnTop);
    EXPECT_EQ(Print_Setup->Color(), clSkyBlue);
    EXPECT_EQ(Print_Setup->Panel1->BoundsRect(), Bounds(16, 24, 210, 297));
    EXPECT_EQ(Print_Setup->FindControl<TLabel>("Label1")->Caption(), "Preview: ( A4: 210 x 297 mm )");
    EXPECT_EQ(Print_Setup->CheckBox1->Caption(), "Fit the page");
    EXPECT_EQ(Print_Setup->SpeedButton1->Caption(), "Print");
    EXPECT_EQ(Print_Setup->SpeedButton1->BoundsRect(), Bounds(304, 280, 41, 25));
    const std::pair<const char*, int> nudges[] = {{"SpeedButton2", 240}, {"SpeedButton5", 265}, {"SpeedButton8", 290},
                                                  {"SpeedButton6", 315}, {"SpeedButton7", 340}};
    for (const auto& [name, left] : nudges) {
        EXPECT_EQ(Button(name)->BoundsRect(), Bounds(left, 88, 18, 18)) << name;
        EXPECT_TRUE(Button(name)->HasGlyph()) << name;
    }
    EXPECT_EQ(Button("SpeedButton3")->BoundsRect(), Bounds(240, 184, 18, 18));
    EXPECT_EQ(Button("SpeedButton4")->BoundsRect(), Bounds(272, 184, 18, 18));
    EXPECT_EQ(Print_Setup->Timer1->Interval(), 50u);
}

TEST_F(PrintTest, SampleShowsCentredAtItsSizeInMillimetres) {
    EXPECT_EQ(Edits(), (std::vector<std::string>{"135", "92", "25", "27"}));
    EXPECT_EQ(Preview(), (TPlacement{135, 92, 25, 27}));
    EXPECT_FALSE(Print_Setup->CheckBox1->Checked());
    EXPECT_TRUE(SameColours(Print_Setup->Image1->Picture().Bitmap(), MainForm->ResultBitmap()));
}

TEST_F(PrintTest, FitThePageDisablesTheEditsAndNudgesButNotPrint) {
    Print_Setup->CheckBox1->SetChecked(true);
    EXPECT_EQ(Preview(), (TPlacement{43, 5, 200, 211}));
    EXPECT_EQ(Edits(), (std::vector<std::string>{"135", "92", "25", "27"}));
    for (TEdit* e : {Print_Setup->Edit1, Print_Setup->Edit2, Print_Setup->Edit3, Print_Setup->Edit4})
        EXPECT_FALSE(e->Enabled());
    for (const char* b : {"SpeedButton2", "SpeedButton3", "SpeedButton4", "SpeedButton5", "SpeedButton6",
                          "SpeedButton7", "SpeedButton8"})
        EXPECT_FALSE(Button(b)->Enabled()) << b;
    EXPECT_TRUE(Print_Setup->SpeedButton1->Enabled());
    Print_Setup->CheckBox1->SetChecked(false);
    EXPECT_EQ(Preview(), (TPlacement{135, 92, 25, 27}));
    EXPECT_TRUE(Print_Setup->Edit1->Enabled());
    EXPECT_TRUE(Button("SpeedButton8")->Enabled());
}

TEST_F(PrintTest, ShowingAgainUnticksFitAndRecomputes) {
    KeyUp(Print_Setup->Edit1, "7");
    Print_Setup->CheckBox1->SetChecked(true);
    Print_Setup->Hide();
    MainForm->SpeedButton3->Click();
    EXPECT_FALSE(Print_Setup->CheckBox1->Checked());
    EXPECT_TRUE(Print_Setup->Edit1->Enabled());
    EXPECT_EQ(Edits(), (std::vector<std::string>{"135", "92", "25", "27"}));
    EXPECT_EQ(Preview(), (TPlacement{135, 92, 25, 27}));
}

TEST_F(PrintTest, TypedSizesKeepThePicturesRatio) {
    KeyUp(Print_Setup->Edit3, "100");
    EXPECT_EQ(Print_Setup->Edit4->Text(), "105");
    EXPECT_EQ(Preview(), (TPlacement{135, 92, 100, 105}));
    KeyUp(Print_Setup->Edit3, "-");
    EXPECT_EQ(Print_Setup->Edit4->Text(), "0");
    EXPECT_EQ(Preview().Width, 0);
    EXPECT_EQ(Preview().Height, 0);
    KeyUp(Print_Setup->Edit1, "10");
    KeyUp(Print_Setup->Edit2, "20");
    EXPECT_EQ(Preview().Top, 10);
    EXPECT_EQ(Preview().Left, 20);
}

TEST_F(PrintTest, HeldButtonRepeatsOnTheTimerAndStepsOnceMoreOnRelease) {
    TSpeedButton* down = Button("SpeedButton5");
    down->MouseDown(mbLeft, ssLeft, 5, 5);
    EXPECT_TRUE(Print_Setup->Timer1->Enabled());
    for (int tick = 0; tick < 10; ++tick) Print_Setup->Timer1->Tick();
    down->MouseUp(mbLeft, 0, 5, 5);
    EXPECT_FALSE(Print_Setup->Timer1->Enabled());
    down->Click();
    EXPECT_EQ(Print_Setup->Edit1->Text(), "146");
    EXPECT_EQ(Preview().Top, 146);
    // After the release the timer no longer moves anything.
    Print_Setup->Timer1->Tick();
    EXPECT_EQ(Preview().Top, 146);
}

TEST_F(PrintTest, EachNudgeButtonAndTheCentre) {
    Button("SpeedButton2")->Click();  // up
    Button("SpeedButton6")->Click();  // left
    EXPECT_EQ(Preview(), (TPlacement{134, 91, 25, 27}));
    Button("SpeedButton7")->Click();  // right
    Button("SpeedButton3")->Click();  // grow
    EXPECT_EQ(Edits(), (std::vector<std::string>{"133", "91", "27", "28"}));
    EXPECT_EQ(Preview(), (TPlacement{133, 91, 27, 28}));
    Button("SpeedButton4")->Click();  // shrink
    EXPECT_EQ(Preview(), (TPlacement{134, 92, 25, 26}));
    Button("SpeedButton8")->Click();  // centre: (297 - 26) div 2, (210 - 25) div 2
    EXPECT_EQ(Preview(), (TPlacement{135, 92, 25, 26}));
    EXPECT_EQ(Print_Setup->Edit1->Text(), "135");
}

TEST_F(PrintTest, RepeatStopsWhenAStepRaises) {
    Print_Setup->Edit1->SetText("1-2");
    Button("SpeedButton2")->MouseDown(mbLeft, ssLeft, 1, 1);
    Print_Setup->Timer1->Tick();
    EXPECT_FALSE(Print_Setup->Timer1->Enabled());
    ASSERT_EQ(desktop->messageBoxes.size(), 1u);
    EXPECT_EQ(desktop->messageBoxes[0].text, "'1-2' is not a valid integer value");
}

TEST_F(PrintTest, InvalidEditIsReportedBeforeThePrintDialog) {
    Print_Setup->Edit3->SetText("12a");
    Print_Setup->SpeedButton1->Click();
    EXPECT_EQ(desktop->messages, std::vector<std::string>{"Please input a valid integer value."});
    EXPECT_EQ(desktop->printCalls, 0);
}

TEST_F(PrintTest, MinusAlonePassesTheTestButNothingIsPrinted) {
    const std::string pdf = Path("minus.pdf");
    Print_Setup->Edit4->SetText("-");
    desktop->printAnswers.push_back({true, pdf});
    Print_Setup->SpeedButton1->Click();
    EXPECT_EQ(desktop->printCalls, 1);
    ASSERT_EQ(desktop->messageBoxes.size(), 1u);
    EXPECT_EQ(desktop->messageBoxes[0].text, "'-' is not a valid integer value");
    EXPECT_FALSE(std::filesystem::exists(pdf));
}

TEST_F(PrintTest, CancelledPrintDialogPrintsNothing) {
    Print_Setup->SpeedButton1->Click();
    EXPECT_EQ(desktop->printCalls, 1);
    EXPECT_TRUE(desktop->messageBoxes.empty());
}

// ---------------------------------------------------------------- the page

std::string RunCommand(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
        ::pclose(p);
    }
    return out;
}

// The box of the non-white pixels of the PDF's page rendered at 10 pixels
// per millimetre (254 dpi), in pixels.
struct TInk {
    int pageW = 0, pageH = 0;
    int left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1;
};

TInk InkOnPage(const std::string& pdf, const std::string& base) {
    RunCommand("pdftoppm -r 254 -gray -singlefile '" + pdf + "' '" + base + "'");
    std::ifstream in(base + ".pgm", std::ios::binary);
    std::string magic;
    int w = 0, h = 0, maxval = 0;
    in >> magic >> w >> h >> maxval;
    in.get();
    TInk ink;
    ink.pageW = w;
    ink.pageH = h;
    std::vector<unsigned char> row(static_cast<size_t>(w));
    for (int y = 0; y < h && in.read(reinterpret_cast<char*>(row.data()), w); ++y) {
        for (int x = 0; x < w; ++x) {
            if (row[static_cast<size_t>(x)] > 128) continue;
            ink.left = std::min(ink.left, x);
            ink.right = std::max(ink.right, x + 1);
            ink.top = std::min(ink.top, y);
            ink.bottom = std::max(ink.bottom, y + 1);
        }
    }
    return ink;
}

class PrintPageTest : public PrintTest {
protected:
    void SetUp() override {
        PrintTest::SetUp();
        // A black picture of the sample's size, so its edges are plain to see.
        TBitmap32 black;
        black.SetSize(364, 384);
        FillBlack(black);
        MainForm->ResultBitmap().Assign(&black);
        Print_Setup->Hide();
        MainForm->SpeedButton3->Click();
    }
    static void FillBlack(TBitmap32& bmp) {
        for (int32_t y = 0; y < bmp.Height(); ++y) {
            uint32_t* row = PixelRow(bmp, y);
            for (int32_t x = 0; x < bmp.Width(); ++x) row[x] = 0xFF000000u;
        }
    }
    TInk Print(const std::string& name) {
        const std::string pdf = Path(name + ".pdf");
        desktop->printAnswers.push_back({true, pdf});
        Print_Setup->SpeedButton1->Click();
        EXPECT_TRUE(desktop->messageBoxes.empty());
        EXPECT_TRUE(std::filesystem::exists(pdf));
        const std::string info = RunCommand("pdfinfo '" + pdf + "'");
        const size_t pages = info.find("Pages:");
        EXPECT_NE(pages, std::string::npos) << info;
        if (pages != std::string::npos) {
            EXPECT_EQ(std::atoi(info.c_str() + pages + 6), 1) << info;
        }
        EXPECT_NE(info.find("(A4)"), std::string::npos) << info;
        return InkOnPage(pdf, Path(name));
    }
};

// Edges within a pixel (0.1 mm) of where the millimetres say.
TEST_F(PrintPageTest, DefaultPlacementLandsAtItsMillimetres) {
    const TInk ink = Print("default");
    EXPECT_NEAR(ink.pageW, 2100, 1);
    EXPECT_NEAR(ink.pageH, 2970, 1);
    // Rectangle (1325, 1944, 1685, 2333) in 14.4-dots: Left 92.01, Top 135,
    // 25 x 27.01 mm.
    EXPECT_NEAR(ink.left, 920, 1);
    EXPECT_NEAR(ink.top, 1350, 1);
    EXPECT_NEAR(ink.right - ink.left, 250, 1);
    EXPECT_NEAR(ink.bottom - ink.top, 270, 1);
}

TEST_F(PrintPageTest, FitThePagePrintsTheFittedRectangle) {
    Print_Setup->CheckBox1->SetChecked(true);
    const TInk ink = Print("fitted");
    // (72, 619, 2952, 3657) in 14.4-dots: 5, 42.99, 205, 253.96 mm.
    EXPECT_NEAR(ink.left, 50, 1);
    EXPECT_NEAR(ink.top, 430, 1);
    EXPECT_NEAR(ink.right, 2050, 1);
    EXPECT_NEAR(ink.bottom, 2540, 1);
}

}  // namespace
}  // namespace windows_test
