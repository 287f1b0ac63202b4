// Batch conversion from both dialogs: the panel's toggle, the folder
// pickers, the listing, the two "Sorry" messages, and whole folders of
// JPEG and BMP files converted into correctly named JPEG files.
#include "tests/gui/test_mainform_support.h"

#include "app/BatchFiles.h"
#include "platform/core/Jpeg.h"
#include "professional/ProfessionalPipeline.h"

namespace windows_test {
namespace {

namespace fs = std::filesystem;

class BatchTest : public WindowsTest {
protected:
    void SetUp() override {
        InputDir.clear();
        OutputDir.clear();
        WindowsTest::SetUp();
    }
    void TearDown() override {
        WindowsTest::TearDown();
        InputDir.clear();
        OutputDir.clear();
    }

    void WriteJpeg(const std::string& name, int32_t w, int32_t h) const {
        TBitmap bmp;
        Pattern(bmp, w, h);
        TJPEGImage jpeg;
        jpeg.Assign(&bmp);
        jpeg.SaveToFile(Path(name));
    }
    void WriteBmp(const std::string& name, int32_t w, int32_t h) const {
        TBitmap bmp;
        Pattern(bmp, w, h);
        bmp.SaveToFile(Path(name));
    }
    // A folder of the kinds a real one holds, listed as
    // a.JPG, d.jpg, b.jpeg, c.bmp.
    std::string MixedFolder() {
        fs::create_directories(folder / "in");
        WriteJpeg("in/a.JPG", 24, 16);
        WriteJpeg("in/b.jpeg", 10, 12);
        WriteBmp("in/c.bmp", 9, 7);
        WriteBytes("in/d.jpg", "\xFF\xD8 this is no JPEG");
        WriteBytes("in/notes.txt", "x");
        WriteBmp("in/e.png", 3, 3);
        return Path("in");
    }
    std::vector<std::string> ListCaptions() const {
        std::vector<std::string> captions;
        for (int i = 0; i < MainForm->ListView1->Items().Count(); ++i)
            captions.push_back(MainForm->ListView1->Items()[i]->Caption);
        return captions;
    }
    // The input folder picked with the dialog's "Browse", the output
    // folder typed in.
    template <class Dialog>
    void PickAndConvert(Dialog* dialog, const std::string& input, const std::string& output) {
        desktop->folderAnswers.push_back({true, input});
        dialog->SpeedButton2->Click();
        dialog->Edit2->SetText(output);
        dialog->SpeedButton4->Click();
    }
    void ExpectOutputs(const std::string& out) {
        EXPECT_EQ(desktop->messages, std::vector<std::string>{"The batch convert is complete!"});
        ASSERT_EQ(desktop->messageBoxes.size(), 1u);
        EXPECT_EQ(desktop->messageBoxes[0].text, Path("in/d.jpg") + " is not a valid format");
        EXPECT_EQ(desktop->messageBoxes[0].caption, "Sorry");
        const std::pair<const char*, int32_t> expected[] = {
            {"a-quillarc_out.jpg", 24}, {"b.-quillarc_out.jpg", 10}, {"c-quillarc_out.jpg", 9}};
        for (const auto& [name, width] : expected) {
            TJPEGImage jpeg;
            ASSERT_NO_THROW(jpeg.LoadFromFile(JoinPath(out, name))) << name;
            EXPECT_EQ(jpeg.Width(), width) << name;
        }
        // The picture that failed to load is skipped, not converted again
        // under its own name.
        EXPECT_FALSE(fs::exists(JoinPath(out, "d-quillarc_out.jpg")));
        size_t files = 0;
        for (const auto& entry : fs::directory_iterator(out)) files += entry.is_regular_file();
        EXPECT_EQ(files, 3u);
        // The panes hold the last item and its result.
        TBitmap last;
        Pattern(last, 9, 7);
        EXPECT_TRUE(SameColours(MainForm->SourceBitmap(), last));
        EXPECT_TRUE(SameColours(*CurrentSketch, MainForm->ResultBitmap()));
    }
};

TEST_F(BatchTest, ToggleEnlargesAndRestoresBothDialogs) {
    EXPECT_EQ(Setup_For_Color_Sketch->Height(), 418);
    Setup_For_Color_Sketch->SpeedButton5->Click();
    EXPECT_EQ(Setup_For_Color_Sketch->Height(), 546);
    Setup_For_Color_Sketch->SpeedButton5->Click();
    EXPECT_EQ(Setup_For_Color_Sketch->Height(), 418);
    EXPECT_EQ(Standard->Height(), 322);
    Standard->SpeedButton5->Click();
    EXPECT_EQ(Standard->Height(), 438);
    Standard->SpeedButton5->Click();
    EXPECT_EQ(Standard->Height(), 322);
}

TEST_F(BatchTest, InputBrowseListsByMaskAndShowsTheFolder) {
    const std::string in = MixedFolder();
    desktop->folderAnswers.push_back({true, in});
    Setup_For_Color_Sketch->SpeedButton2->Click();
    ASSERT_EQ(desktop->folderCalls.size(), 1u);
    EXPECT_EQ(desktop->folderCalls[0].title, "Open a directory to input pictures to convert.");
    EXPECT_EQ(desktop->folderCalls[0].initialDir, "");  // no input folder yet
    EXPECT_EQ(InputDir, in);
    EXPECT_EQ(Setup_For_Color_Sketch->Edit1->Text(), in);
    EXPECT_EQ(ListCaptions(), (std::vector<std::string>{"a.JPG", "d.jpg", "b.jpeg", "c.bmp"}));
    EXPECT_EQ(MainForm->ListView1->Items()[0]->ImageIndex, 0);
    // The list is shared; the other dialog's edit changes only with its own Browse.
    EXPECT_EQ(Standard->Edit1->Text(), "");
}

TEST_F(BatchTest, OutputBrowseOpensOnTheInputFolder) {
    const std::string in = MixedFolder();
    desktop->folderAnswers.push_back({true, in});
    Standard->SpeedButton2->Click();
    desktop->folderAnswers.push_back({true, Path("out")});
    Standard->SpeedButton3->Click();
    ASSERT_EQ(desktop->folderCalls.size(), 2u);
    EXPECT_EQ(desktop->folderCalls[1].title, "Open a directory to output pictures.");
    EXPECT_EQ(desktop->folderCalls[1].initialDir, in);
    EXPECT_EQ(OutputDir, Path("out"));
    EXPECT_EQ(Standard->Edit2->Text(), Path("out"));
}

TEST_F(BatchTest, CancelledBrowseChangesNothing) {
    const std::string in = MixedFolder();
    desktop->folderAnswers.push_back({true, in});
    Setup_For_Color_Sketch->SpeedButton2->Click();
    desktop->folderAnswers.push_back({false, ""});
    Setup_For_Color_Sketch->SpeedButton2->Click();
    EXPECT_EQ(InputDir, in);
    EXPECT_EQ(ListCaptions().size(), 4u);
    desktop->folderAnswers.push_back({false, ""});
    Setup_For_Color_Sketch->SpeedButton3->Click();
    EXPECT_EQ(OutputDir, "");
}

TEST_F(BatchTest, EmptyInputEditIsNoFolder) {
    Setup_For_Color_Sketch->SpeedButton4->Click();
    ASSERT_EQ(desktop->messageBoxes.size(), 1u);
    EXPECT_EQ(desktop->messageBoxes[0].text, "Input Director in not exist.");
    EXPECT_EQ(desktop->messageBoxes[0].caption, "Sorry");
    EXPECT_TRUE(desktop->messages.empty());
}

TEST_F(BatchTest, FolderTypedByHandBeforeAnyBrowseHasNothingToConvert) {
    const std::string in = MixedFolder();
    Standard->Edit1->SetText("  " + in + " ");
    Standard->SpeedButton4->Click();
    ASSERT_EQ(desktop->messageBoxes.size(), 1u);
    EXPECT_EQ(desktop->messageBoxes[0].text, "There is no picture to convert.");
    EXPECT_EQ(desktop->messageBoxes[0].caption, "Sorry");
    EXPECT_EQ(InputDir, in);
}

TEST_F(BatchTest, ProfessionalConvertsAFolderIntoADeepNewOutputFolder) {
    const std::string out = Path("out/deep/er");
    PickAndConvert(Setup_For_Color_Sketch, MixedFolder(), out);
    EXPECT_EQ(OutputDir, out);
    ExpectOutputs(out);
    // The result is the dialog's own pipeline on the last item.
    TBitmap32 expected;
    RunProfessional(Setup_For_Color_Sketch->Settings(), MainForm->SourceBitmap(), expected);
    EXPECT_TRUE(SameColours(MainForm->ResultBitmap(), expected));
}

TEST_F(BatchTest, StandardConvertsAFolderToo) {
    const std::string out = Path("std-out");
    PickAndConvert(Standard, MixedFolder(), out);
    ExpectOutputs(out);
}

TEST_F(BatchTest, FolderOfNoPicturesListsNothingButKeepsTheInputFolder) {
    fs::create_directories(folder / "empty");
    WriteBytes("empty/readme.txt", "x");
    desktop->folderAnswers.push_back({true, Path("empty")});
    Standard->SpeedButton2->Click();
    EXPECT_EQ(InputDir, Path("empty"));
    EXPECT_TRUE(ListCaptions().empty());
    Standard->SpeedButton4->Click();
    ASSERT_EQ(desktop->messageBoxes.size(), 1u);
    EXPECT_EQ(desktop->messageBoxes[0].text, "There is no picture to convert.");
}

long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// Ten pictures through the whole loop: the memory the last items need is
// what the first ones needed.
TEST_F(BatchTest, MemoryStaysLevelFromItemToItem) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "freed memory waits in the sanitizer's quarantine; its leak check covers this build";
#endif
    fs::create_directories(folder / "many");
    for (int i = 0; i < 10; ++i) WriteJpeg("many/p" + std::to_string(i) + ".jpg", 800, 600);
    desktop->folderAnswers.push_back({true, Path("many")});
    Standard->SpeedButton2->Click();
    ASSERT_EQ(ListCaptions().size(), 10u);
    OutputDir = Path("many-out");
    ForceDirectories(OutputDir);

    long firstPeak = 0, lastPeak = 0;
    TBatchSteps steps;
    int done = 0;
    steps.InputPicture = [](int i) { return MainForm->InputPicture(i); };
    steps.Refresh = [] { MainForm->Refresh(); };
    steps.Convert = [] { Standard->batchconvert2(); };
    steps.OutputPicture = [&](int i) {
        MainForm->outputpicture(i, kBatchSuffix);
        long& peak = ++done <= 5 ? firstPeak : lastPeak;
        peak = std::max(peak, ResidentKiB());
    };
    steps.ShowMessage = [](const std::string&) {};
    ASSERT_TRUE(RunBatch(InputDir, OutputDir, 10, steps));
    EXPECT_EQ(done, 10);
    EXPECT_LT(lastPeak - firstPeak, 2 * 1024);  // one picture in 32 bits is 1.9 MB
}

}  // namespace
}  // namespace windows_test
