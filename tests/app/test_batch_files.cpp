#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/BatchFiles.h"
#include "app/Image32.h"
#include "app/SketchState.h"
#include "platform/core/Dialogs.h"
#include "platform/core/Jpeg.h"

namespace fs = std::filesystem;

namespace {

class BatchFolder : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(testing::TempDir()) /
               ("quillarc_batch_" + std::to_string(::getpid()) + "_" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        previous_ = SetMessageBoxHandler([this](const std::string& text, const std::string& caption, unsigned) {
            boxes_.push_back(caption + ": " + text);
            return IDOK;
        });
    }
    void TearDown() override {
        SetMessageBoxHandler(previous_);
        fs::remove_all(dir_);
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    void Touch(const std::string& name, const std::string& bytes = "x") const {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
    }
    void WriteBmp(const std::string& name, int32_t w, int32_t h) const {
        TBitmap bmp;
        bmp.SetPixelFormat(TPixelFormat::pf24bit);
        bmp.SetSize(w, h);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) bmp.SetPixel(x, y, RGB(x * 20, y * 30, 77));
        bmp.SaveToFile(Path(name));
    }
    void WriteJpeg(const std::string& name, int32_t w, int32_t h) const {
        TBitmap bmp;
        bmp.SetPixelFormat(TPixelFormat::pf24bit);
        bmp.SetSize(w, h);
        TJPEGImage jpeg;
        jpeg.Assign(&bmp);
        jpeg.SaveToFile(Path(name));
    }

    fs::path dir_;
    std::vector<std::string> boxes_;
    TMessageBoxHandler previous_;
};

TEST(MatchesMask, ExtensionWithoutRegardToCase) {
    EXPECT_TRUE(MatchesMask("A.JPG", "*.jpg"));
    EXPECT_TRUE(MatchesMask("a.JpG", "*.jpg"));
    EXPECT_TRUE(MatchesMask(".jpg", "*.jpg"));
    EXPECT_TRUE(MatchesMask("a.b.jpg", "*.jpg"));
}

TEST(MatchesMask, OnlyThatExtension) {
    EXPECT_FALSE(MatchesMask("x.jpeg", "*.jpg"));
    EXPECT_FALSE(MatchesMask("x.jpg.txt", "*.jpg"));
    EXPECT_FALSE(MatchesMask("xjpg", "*.jpg"));
    EXPECT_FALSE(MatchesMask("x.jp", "*.jpg"));
    EXPECT_TRUE(MatchesMask("abc", "a?c"));
    EXPECT_FALSE(MatchesMask("ac", "a?c"));
}

TEST(BatchOutputName, FourCharactersAlwaysCut) {
    EXPECT_EQ(BatchOutputName("/out", "cat.jpg", kBatchSuffix), "/out/cat-quillarc_out.jpg");
    EXPECT_EQ(BatchOutputName("/out", "cat.jpeg", kBatchSuffix), "/out/cat.-quillarc_out.jpg");
    EXPECT_EQ(BatchOutputName("/out", "cat.bmp", kBatchSuffix), "/out/cat-quillarc_out.jpg");
    EXPECT_EQ(BatchOutputName("/out", "cat.WMF", kBatchSuffix), "/out/cat-quillarc_out.jpg");
}

TEST(BatchOutputName, ShortCaptionsAndTheRootFolder) {
    EXPECT_EQ(BatchOutputName("/out", ".jpg", "s"), "/out/-s.jpg");
    EXPECT_EQ(BatchOutputName("/out", "ab", "s"), "/out/-s.jpg");
    EXPECT_EQ(BatchOutputName("/", "cat.jpg", "s"), "/cat-s.jpg");
}

TEST(BatchOutputName, CutsCharactersNotBytes) {
    // "é" is two bytes: cutting four bytes would split it.
    EXPECT_EQ(BatchOutputName("/o", "caf\xC3\xA9.jpg", "s"), "/o/caf\xC3\xA9-s.jpg");
    EXPECT_EQ(BatchOutputName("/o", "ab\xC3\xA9" "bmp", "s"), "/o/ab-s.jpg");
}

TEST_F(BatchFolder, MaskOrderFirstThenNames) {
    Touch("b.bmp");
    Touch("a.jpg");
    Touch("c.jpeg");
    EXPECT_EQ(ListBatchFolder(dir_.string()), (std::vector<std::string>{"a.jpg", "c.jpeg", "b.bmp"}));
}

TEST_F(BatchFolder, ListingFoldsCaseAndKeepsMasksApart) {
    Touch("Z.JPG");
    Touch("a.jpg");
    Touch("x.jpeg");
    Touch("m.Wmf");
    Touch("notes.txt");
    Touch("y.png");
    Touch(".hidden.bmp");
    EXPECT_EQ(ListBatchFolder(dir_.string()),
              (std::vector<std::string>{"Z.JPG", "a.jpg", "x.jpeg", ".hidden.bmp", "m.Wmf"}));
}

TEST_F(BatchFolder, FoldersThatMatchAreListedButNotEntered) {
    fs::create_directories(dir_ / "album.jpg");
    fs::create_directories(dir_ / "sub");
    Touch("sub/inner.jpg");
    EXPECT_EQ(ListBatchFolder(dir_.string()), (std::vector<std::string>{"album.jpg"}));
}

TEST_F(BatchFolder, EmptyOrMissingFolderListsNothing) {
    EXPECT_TRUE(ListBatchFolder(dir_.string()).empty());
    EXPECT_TRUE(ListBatchFolder(Path("missing")).empty());
}

TEST_F(BatchFolder, AddFilesToListAppends) {
    Touch("a.bmp");
    std::vector<std::string> list{"kept"};
    AddFilesToList(Path("*.bmp"), list);
    EXPECT_EQ(list, (std::vector<std::string>{"kept", "a.bmp"}));
}

TEST_F(BatchFolder, LoadGivesOpaqueThirtyTwoBits) {
    WriteBmp("p.bmp", 5, 3);
    auto bmp = LoadBatchPicture(Path("p.bmp"));
    ASSERT_TRUE(bmp);
    EXPECT_EQ(bmp->PixelFormat(), TPixelFormat::pf32bit);
    EXPECT_EQ(bmp->Width(), 5);
    EXPECT_EQ(bmp->Height(), 3);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 5; ++x) EXPECT_EQ(PixelRow(*bmp, y)[x] >> 24, 255u);
    EXPECT_EQ(bmp->Pixel(4, 2), RGB(80, 60, 77));
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(BatchFolder, UnloadableItemsGiveTheLoadersMessage) {
    Touch("corrupt.jpg", "not a jpeg at all");
    Touch("corrupt.bmp", "BM\x01\x02");
    fs::create_directories(dir_ / "folder.jpg");
    for (const char* name : {"corrupt.jpg", "corrupt.bmp", "folder.jpg", "vanished.jpg"}) {
        boxes_.clear();
        EXPECT_EQ(LoadBatchPicture(Path(name)), nullptr) << name;
        EXPECT_EQ(boxes_, std::vector<std::string>{"Sorry: " + Path(name) + " is not a valid format"}) << name;
    }
}

TEST(FillAlpha, EveryPixelOfEveryRow) {
    TBitmap32 bmp;
    bmp.SetSize(3, 4);
    FillAlpha(bmp, 200);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(PixelRow(bmp, y)[x], 200u << 24);
}

TEST_F(BatchFolder, SaveWritesAReadableJpeg) {
    auto bmp = LoadBatchPicture(QUILLARC_SAMPLE);
    ASSERT_TRUE(bmp);
    SaveBatchPicture(*bmp, Path("out.jpg"));
    TJPEGImage back;
    back.LoadFromFile(Path("out.jpg"));
    EXPECT_EQ(back.Width(), 364);
    EXPECT_EQ(back.Height(), 384);
}

// The loop, with the main window's steps recorded.
class BatchLoop : public BatchFolder {
protected:
    TBatchSteps Steps(std::vector<int> failing = {}) {
        TBatchSteps s;
        s.InputPicture = [this, failing](int i) {
            log_.push_back("in" + std::to_string(i));
            return std::find(failing.begin(), failing.end(), i) == failing.end();
        };
        s.Refresh = [this] { log_.push_back("refresh"); };
        s.Convert = [this] { log_.push_back("convert"); };
        s.OutputPicture = [this](int i) { log_.push_back("out" + std::to_string(i)); };
        s.ShowMessage = [this](const std::string& text) { log_.push_back("message " + text); };
        return s;
    }
    std::vector<std::string> log_;
};

TEST_F(BatchLoop, EmptyInputIsNotAFolder) {
    EXPECT_FALSE(RunBatch("  ", Path("out"), 3, Steps()));
    EXPECT_EQ(boxes_, std::vector<std::string>{"Sorry: Input Director in not exist."});
    EXPECT_TRUE(log_.empty());
    EXPECT_EQ(InputDir, "");
}

TEST_F(BatchLoop, FolderTypedByHandWithNoListHasNothingToConvert) {
    EXPECT_FALSE(RunBatch(" " + dir_.string() + "\t\n", Path("out"), 0, Steps()));
    EXPECT_EQ(boxes_, std::vector<std::string>{"Sorry: There is no picture to convert."});
    EXPECT_EQ(InputDir, dir_.string());
    EXPECT_FALSE(fs::exists(dir_ / "out"));
}

TEST_F(BatchLoop, CreatesADeepOutputFolderAndRunsEveryItem) {
    const std::string out = Path("a/b/c");
    EXPECT_TRUE(RunBatch(dir_.string(), " " + out + " ", 2, Steps()));
    EXPECT_TRUE(fs::is_directory(out));
    EXPECT_EQ(OutputDir, out);
    EXPECT_EQ(log_, (std::vector<std::string>{"in1", "refresh", "convert", "refresh", "out1", "in2", "refresh",
                                              "convert", "refresh", "out2",
                                              "message The batch convert is complete!"}));
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(BatchLoop, ItemThatFailsToLoadIsSkipped) {
    EXPECT_TRUE(RunBatch(dir_.string(), Path("out"), 3, Steps({2})));
    EXPECT_EQ(log_, (std::vector<std::string>{"in1", "refresh", "convert", "refresh", "out1", "in2", "in3",
                                              "refresh", "convert", "refresh", "out3",
                                              "message The batch convert is complete!"}));
}

TEST_F(BatchLoop, SaveErrorEndsTheLoopWithoutTheCompletionMessage) {
    TBatchSteps s = Steps();
    s.OutputPicture = [this](int i) {
        log_.push_back("out" + std::to_string(i));
        throw EFCreateError("Cannot create file");
    };
    EXPECT_THROW(RunBatch(dir_.string(), Path("out"), 3, s), EFCreateError);
    EXPECT_EQ(log_, (std::vector<std::string>{"in1", "refresh", "convert", "refresh", "out1"}));
}

// Converting real files end to end through the helpers: the names and the
// JPEG data of the outputs, and no growth from item to item.
TEST_F(BatchFolder, WholeFolderThroughTheHelpers) {
    WriteJpeg("one.JPG", 8, 6);
    WriteJpeg("two.jpeg", 4, 4);
    WriteBmp("three.bmp", 3, 5);
    Touch("bad.jpg", "garbage");
    const std::vector<std::string> list = ListBatchFolder(dir_.string());
    ASSERT_EQ(list, (std::vector<std::string>{"bad.jpg", "one.JPG", "two.jpeg", "three.bmp"}));

    std::unique_ptr<TBitmap32> pane;
    TBatchSteps s;
    s.InputPicture = [&](int i) {
        auto bmp = LoadBatchPicture(JoinPath(InputDir, list[i - 1]));
        if (!bmp) return false;
        pane = std::move(bmp);
        return true;
    };
    s.Refresh = [] {};
    s.Convert = [] {};
    s.OutputPicture = [&](int i) { SaveBatchPicture(*pane, BatchOutputName(OutputDir, list[i - 1], kBatchSuffix)); };
    std::string message;
    s.ShowMessage = [&](const std::string& text) { message = text; };
    ASSERT_TRUE(RunBatch(dir_.string(), Path("out"), static_cast<int>(list.size()), s));
    EXPECT_EQ(message, "The batch convert is complete!");
    EXPECT_EQ(boxes_, std::vector<std::string>{"Sorry: " + Path("bad.jpg") + " is not a valid format"});

    EXPECT_FALSE(fs::exists(Path("out/bad-quillarc_out.jpg")));
    const std::pair<const char*, int32_t> expected[] = {
        {"out/one-quillarc_out.jpg", 8}, {"out/two.-quillarc_out.jpg", 4}, {"out/three-quillarc_out.jpg", 3}};
    for (const auto& [name, width] : expected) {
        TJPEGImage jpeg;
        ASSERT_NO_THROW(jpeg.LoadFromFile(Path(name))) << name;
        EXPECT_EQ(jpeg.Width(), width) << name;
    }
}

long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// Each item's pictures are freed before the next one is loaded: the peak of
// the last five items is no higher than that of the first five.
TEST_F(BatchFolder, MemoryDoesNotGrowFromItemToItem) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "freed memory waits in the sanitizer's quarantine; its leak check covers this build";
#endif
    for (int i = 0; i < 3; ++i) WriteJpeg("p" + std::to_string(i) + ".jpg", 1600, 1200);
    const std::vector<std::string> list = ListBatchFolder(dir_.string());
    std::unique_ptr<TBitmap32> pane;
    long firstPeak = 0, lastPeak = 0;
    for (int item = 1; item <= 10; ++item) {
        pane = LoadBatchPicture(JoinPath(dir_.string(), list[(item - 1) % 3]));
        ASSERT_TRUE(pane);
        SaveBatchPicture(*pane, Path("out.jpg"));
        long& peak = item <= 5 ? firstPeak : lastPeak;
        peak = std::max(peak, ResidentKiB());
    }
    EXPECT_LT(lastPeak - firstPeak, 1024);  // one picture is 7.5 MB
}

}  // namespace
