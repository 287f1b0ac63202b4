// The main window: start-up state, pane fitting, the commands of toolbar
// and menu, Open with its messages and Save in the three formats.
#include "tests/gui/test_mainform_support.h"

#include "app/PictureFiles.h"
#include "platform/core/Jpeg.h"

namespace windows_test {
namespace {

// ---------------------------------------------------------------- pane fit

TEST(PaneFit, SampleInItsDesignedPanelFitsByHeight) {
    EXPECT_EQ(FitPane(364, 384, 364, 384), (TPaneFit{2, 2, 360, 380}));
}

TEST(PaneFit, WiderPanelCentresHorizontally) {
    // Width round(364 x 380 / 384) = 360, Left (500 - 360) div 2.
    EXPECT_EQ(FitPane(364, 384, 500, 384), (TPaneFit{70, 2, 360, 380}));
    // An odd remainder is truncated: (501 - 360) div 2 = 70.
    EXPECT_EQ(FitPane(364, 384, 501, 384), (TPaneFit{70, 2, 360, 380}));
}

TEST(PaneFit, NarrowerPanelCentresVertically) {
    // Height round(384 x 296 / 364) = round(312.26) = 312, Top (384 - 312) div 2.
    EXPECT_EQ(FitPane(364, 384, 300, 384), (TPaneFit{2, 36, 296, 312}));
}

TEST(PaneFit, EqualRatiosFitByHeight) {
    // 200 / 100 = 2 / 1: by height (by width would give Left 2, Top 4).
    EXPECT_EQ(FitPane(2, 1, 200, 100), (TPaneFit{4, 2, 192, 96}));
}

TEST(PaneFit, HalfwayQuotientsRoundToEven) {
    // 3 x 5 / 2 = 7.5 -> 8; 3 x 7 / 2 = 10.5 -> 10.
    EXPECT_EQ(FitPane(3, 2, 100, 9), (TPaneFit{46, 2, 8, 5}));
    EXPECT_EQ(FitPane(3, 2, 100, 11), (TPaneFit{45, 2, 10, 7}));
    // By width in a tall panel: 1 x 5 / 2 = 2.5 -> 2.
    EXPECT_EQ(FitPane(2, 1, 9, 100), (TPaneFit{2, 49, 5, 2}));
}

TEST(PaneFit, LargePictureProductsDoNotWrap) {
    // 60000 x 39996 exceeds 32 bits.
    EXPECT_EQ(FitPane(60000, 60000, 40000, 40000), (TPaneFit{2, 2, 39996, 39996}));
}

TEST(PaneFit, EmptyPictureOrCollapsedPanelGivesNoNegativeSize) {
    const TPaneFit empty = FitPane(0, 0, 364, 384);
    EXPECT_EQ(empty, (TPaneFit{2, 2, 360, 380}));
    const TPaneFit collapsed = FitPane(364, 384, 3, 0);
    EXPECT_GE(collapsed.Width, 0);
    EXPECT_GE(collapsed.Height, 0);
}

// ---------------------------------------------------------------- start-up

TEST_F(WindowsTest, StartsWithTheSampleInBothPanes) {
    EXPECT_EQ(MainForm->Caption(), "Quillarc v6.97");
    TBitmap sample;
    sample.LoadFromFile(QUILLARC_SAMPLE);
    EXPECT_EQ(MainForm->SourceBitmap().Width(), 364);
    EXPECT_EQ(MainForm->SourceBitmap().Height(), 384);
    EXPECT_TRUE(SameColours(MainForm->SourceBitmap(), sample));
    EXPECT_TRUE(SameColours(MainForm->ResultBitmap(), sample));
    ASSERT_NE(CurrentSketch, nullptr);
    EXPECT_EQ(CurrentSketch->PixelFormat(), TPixelFormat::pf32bit);
    EXPECT_TRUE(SameColours(*CurrentSketch, sample));
}

TEST_F(WindowsTest, ToolbarStatusBarAndMenuAreAsDesigned) {
    const struct {
        TSpeedButton* button;
        int left;
        const char* hint;
    } buttons[] = {{MainForm->SpeedButton1, 0, "Open a picture"}, {MainForm->SpeedButton2, 26, "Save as"},
                   {MainForm->SpeedButton3, 52, "Print"},         {MainForm->SpeedButton5, 78, "Tell a friend"},
                   {MainForm->SpeedButton6, 104, "Online"},       {MainForm->SpeedButton7, 130, "Standard make"},
                   {MainForm->SpeedButton4, 156, "Professional make"}};
    for (const auto& b : buttons) {
        EXPECT_EQ(b.button->Left(), b.left) << b.hint;
        EXPECT_EQ(b.button->Hint(), b.hint);
        EXPECT_TRUE(b.button->ShowHint());
        EXPECT_TRUE(b.button->HasGlyph()) << b.hint;
    }
    ASSERT_EQ(MainForm->StatusBar1->PanelCount(), 3);
    EXPECT_EQ(MainForm->StatusBar1->Panel(0).Text, " Original");
    EXPECT_EQ(MainForm->StatusBar1->Panel(2).Text, " Color sketch");
    EXPECT_EQ(MainForm->StatusBar1->Panel(1).Width, 317);
    for (const auto& path : std::vector<std::vector<std::string>>{{"File", "Open"}, {"File", "Save"}, {"File", "Exit"},
                                                                 {"Make", "Standard"}, {"Make", "Professional"},
                                                                 {"Tool", "Print"}, {"Tool", "Tell friend"},
                                                                 {"Help", "Online"}, {"Help", "About"}}) {
        EXPECT_NE(MainForm->MainMenu1->Find(path), nullptr) << path[0] << " > " << path[1];
    }
    EXPECT_FALSE(MainForm->ListView1->Visible());
}

TEST_F(WindowsTest, DesignedPanelsAreTheSamplesSizeAndFitByHeight) {
    EXPECT_EQ(MainForm->ImgPanel1->Width(), 364);
    EXPECT_EQ(MainForm->ImgPanel1->Height(), 384);
    EXPECT_EQ(MainForm->ImgPanel2->Width(), 364);
    MainForm->FormResize(nullptr);
    EXPECT_EQ(MainForm->Image1->BoundsRect(), Bounds(2, 2, 360, 380));
    EXPECT_EQ(MainForm->Image2->BoundsRect(), Bounds(2, 2, 360, 380));
}

TEST_F(WindowsTest, ResizingRefitsThePanesAndTheControlBar) {
    MainForm->Show();
    MainForm->SetWidth(900);
    EXPECT_EQ(MainForm->ControlBar1->Width(), 890);
    const TPaneFit fit = FitPane(364, 384, MainForm->ImgPanel2->Width(), MainForm->ImgPanel2->Height());
    EXPECT_GT(fit.Left, 2);
    EXPECT_EQ(MainForm->Image2->BoundsRect(), Bounds(fit.Left, fit.Top, fit.Width, fit.Height));
}

TEST_F(WindowsTest, MovingTheSplitterRefitsAndResizesTheMiddleStatusPanel) {
    MainForm->Show();
    MainForm->Splitter1->MoveBy(-64);
    EXPECT_EQ(MainForm->ImgPanel1->Width(), 300);
    EXPECT_EQ(MainForm->StatusBar1->Panel(1).Width, 252);
    EXPECT_EQ(MainForm->Image1->BoundsRect(), Bounds(2, 36, 296, 312));
}

// ---------------------------------------------------------------- commands

TEST_F(WindowsTest, StandardAndProfessionalShowOneDialogAndHideTheOther) {
    MainForm->SpeedButton4->Click();
    EXPECT_TRUE(Setup_For_Color_Sketch->Visible());
    EXPECT_FALSE(Standard->Visible());
    MainForm->SpeedButton7->Click();
    EXPECT_TRUE(Standard->Visible());
    EXPECT_FALSE(Setup_For_Color_Sketch->Visible());
    MainForm->MainMenu1->Find({"Make", "Professional"})->Click();
    EXPECT_TRUE(Setup_For_Color_Sketch->Visible());
    EXPECT_FALSE(Standard->Visible());
    MainForm->MainMenu1->Find({"Make", "Standard"})->Click();
    EXPECT_TRUE(Standard->Visible());
    EXPECT_FALSE(Setup_For_Color_Sketch->Visible());
}

TEST_F(WindowsTest, AboutPrintOnlineAndMailReachTheirTargets) {
    MainForm->MainMenu1->Find({"Help", "About"})->Click();
    EXPECT_TRUE(About_Us->Visible());
    EXPECT_EQ(About_Us->Caption(), "About_Us");
    MainForm->SpeedButton3->Click();
    EXPECT_TRUE(Print_Setup->Visible());
    MainForm->SpeedButton6->Click();
    ASSERT_EQ(desktop->urls.size(), 1u);
    EXPECT_EQ(desktop->urls[0], kProductPage);
}

TEST_F(WindowsTest, ExitClosesTheMainWindowAndFreesTheSketchCopy) {
    MainForm->Show();
    MainForm->MainMenu1->Find({"File", "Exit"})->Click();
    EXPECT_FALSE(MainForm->Visible());
    EXPECT_EQ(CurrentSketch, nullptr);
}

// ---------------------------------------------------------------- open

TEST_F(WindowsTest, OpenPutsTheChosenPictureIntoBothPanes) {
    TBitmap bmp;
    Pattern(bmp, 40, 20);
    bmp.SaveToFile(Path("wide.bmp"));
    AnswerOpen(Path("wide.bmp"));
    MainForm->SpeedButton1->Click();
    ASSERT_EQ(desktop->openCalls.size(), 1u);
    EXPECT_EQ(desktop->openCalls[0].filter, kOpenPictureFilter);
    EXPECT_TRUE(desktop->messageBoxes.empty());
    EXPECT_EQ(MainForm->SourceBitmap().PixelFormat(), TPixelFormat::pf32bit);
    EXPECT_TRUE(SameColours(MainForm->SourceBitmap(), bmp));
    EXPECT_TRUE(SameColours(MainForm->ResultBitmap(), bmp));
    EXPECT_TRUE(SameColours(*CurrentSketch, bmp));
    // Refitted: 40 x 20 in the 364 x 384 panel is fitted by width.
    EXPECT_EQ(MainForm->Image1->BoundsRect(), Bounds(2, 102, 360, 180));
}

TEST_F(WindowsTest, CancelledOpenStillRefreshesTheSketchCopyAndFit) {
    TBitmap other;
    Pattern(other, 10, 10);
    MainForm->ResultBitmap().Assign(&other);
    MainForm->MainMenu1->Find({"File", "Open"})->Click();  // no answer queued: cancelled
    EXPECT_TRUE(SameColours(*CurrentSketch, other));
    EXPECT_EQ(CurrentSketch->PixelFormat(), TPixelFormat::pf32bit);
    EXPECT_EQ(MainForm->Image2->BoundsRect(), Bounds(2, 12, 360, 360));
    EXPECT_EQ(MainForm->SourceBitmap().Width(), 364);
}

TEST_F(WindowsTest, OpenOfAMissingFileSaysItIsNotAValidFormat) {
    AnswerOpen(Path("gone.jpg"));
    MainForm->SpeedButton1->Click();
    ASSERT_EQ(desktop->messageBoxes.size(), 1u);
    EXPECT_EQ(desktop->messageBoxes[0].text, Path("gone.jpg") + " is not a valid format");
    EXPECT_EQ(desktop->messageBoxes[0].caption, "Sorry");
    EXPECT_EQ(MainForm->SourceBitmap().Width(), 364);
}

TEST_F(WindowsTest, OpenOfAnUnknownExtensionSaysItIsNotAValidFormat) {
    WriteBytes("photo.png", "\x89PNG\r\n\x1a\n not read by the main window");
    AnswerOpen(Path("photo.png"));
    MainForm->SpeedButton1->Click();
    ASSERT_EQ(desktop->messageBoxes.size(), 1u);
    EXPECT_EQ(desktop->messageBoxes[0].text, Path("photo.png") + " is not a valid format");
    EXPECT_EQ(desktop->messageBoxes[0].caption, "Sorry");
}

TEST_F(WindowsTest, OpenReadsAGifIntoBothPanes) {
    // Any case of the extension; ImageMagick's own decode is the reference.
    std::filesystem::copy_file(std::string(QUILLARC_GENERATED_DATA) + "/gif/im_table4.gif", Path("Table.GIF"));
    TBitmap decoded;
    decoded.LoadFromFile(std::string(QUILLARC_GENERATED_DATA) + "/gif/im_table4_decoded.bmp");
    AnswerOpen(Path("Table.GIF"));
    MainForm->SpeedButton1->Click();
    EXPECT_TRUE(desktop->messageBoxes.empty());
    EXPECT_EQ(MainForm->SourceBitmap().PixelFormat(), TPixelFormat::pf32bit);
    EXPECT_TRUE(SameColours(MainForm->SourceBitmap(), decoded));
    EXPECT_TRUE(SameColours(MainForm->ResultBitmap(), decoded));
    EXPECT_TRUE(SameColours(*CurrentSketch, decoded));
}

TEST_F(WindowsTest, BrokenGifReportsTheReadersMessageAndKeepsThePanes) {
    std::filesystem::copy_file(std::string(QUILLARC_TEST_DATA) + "/gif/hostile/circular_loop.gif", Path("loop.gif"));
    AnswerOpen(Path("loop.gif"));
    MainForm->SpeedButton1->Click();
    ASSERT_EQ(desktop->messageBoxes.size(), 1u);
    EXPECT_NE(desktop->messageBoxes[0].text.find("Circular decoder table entry"), std::string::npos)
        << desktop->messageBoxes[0].text;
    EXPECT_EQ(MainForm->SourceBitmap().Width(), 364);
}

TEST_F(WindowsTest, CorruptJpegReachesTheDefaultHandlerAndKeepsThePanes) {
    WriteBytes("broken.jpg", std::string("\xFF\xD8\xFF\xE0 this is no picture", 23));
    AnswerOpen(Path("broken.jpg"));
    MainForm->SpeedButton1->Click();
    ASSERT_EQ(desktop->messageBoxes.size(), 1u);
    EXPECT_NE(desktop->messageBoxes[0].text.find("JPEG"), std::string::npos) << desktop->messageBoxes[0].text;
    EXPECT_EQ(MainForm->SourceBitmap().Width(), 364);
    EXPECT_EQ(MainForm->ResultBitmap().Width(), 364);
}

// ---------------------------------------------------------------- save

TEST_F(WindowsTest, SaveAsJpegReplacesTheExtension) {
    AnswerSave(Path("cat.png"), 1);
    MainForm->SpeedButton2->Click();
    ASSERT_EQ(desktop->saveCalls.size(), 1u);
    EXPECT_EQ(desktop->saveCalls[0].filter, kSavePictureFilter);
    EXPECT_FALSE(std::filesystem::exists(Path("cat.png")));
    ASSERT_TRUE(std::filesystem::exists(Path("cat.jpg")));
    TJPEGImage jpeg;
    jpeg.LoadFromFile(Path("cat.jpg"));
    EXPECT_EQ(jpeg.Width(), 364);
    EXPECT_EQ(jpeg.Height(), 384);
}

TEST_F(WindowsTest, SaveAsBmpWritesA24BitFileWithTheSameColours) {
    AnswerSave(Path("result.jpg"), 2);
    MainForm->MainMenu1->Find({"File", "Save"})->Click();
    ASSERT_TRUE(std::filesystem::exists(Path("result.bmp")));
    EXPECT_FALSE(std::filesystem::exists(Path("result.jpg")));
    TBitmap back;
    back.LoadFromFile(Path("result.bmp"));
    EXPECT_EQ(back.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_TRUE(SameColours(back, MainForm->ResultBitmap()));
}

TEST_F(WindowsTest, SaveAsMetafileAppendsWmfAndReopens) {
    AnswerSave(Path("sketch"), 3);
    MainForm->SpeedButton2->Click();
    ASSERT_TRUE(std::filesystem::exists(Path("sketch.wmf")));
    std::unique_ptr<TBitmap> back = LoadPictureFile(Path("sketch.wmf"));
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(SameColours(*back, MainForm->ResultBitmap()));
}

TEST_F(WindowsTest, CancelledSaveWritesNothing) {
    MainForm->SpeedButton2->Click();
    EXPECT_EQ(desktop->saveCalls.size(), 1u);
    EXPECT_TRUE(std::filesystem::is_empty(folder));
}

}  // namespace
}  // namespace windows_test
