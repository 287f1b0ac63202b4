#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "app/PictureFiles.h"
#include "gif/GIFPicture.h"
#include "platform/core/Dialogs.h"
#include "platform/core/Jpeg.h"
#include "platform/core/Metafile.h"

namespace {

namespace fs = std::filesystem;

class PictureFiles : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(testing::TempDir()) / ("quillarc_picturefiles_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        previous_ = SetMessageBoxHandler([this](const std::string& text, const std::string& caption, unsigned) {
            boxes_.push_back(caption + "|" + text);
            return IDOK;
        });
    }
    void TearDown() override {
        SetMessageBoxHandler(previous_);
        fs::remove_all(dir_);
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    void Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
        std::ofstream(Path(name), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                          static_cast<std::streamsize>(bytes.size()));
    }
    static std::vector<uint8_t> Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }
    // The sample picture saved as JPEG bytes.
    static std::vector<uint8_t> SampleJpeg() {
        TBitmap sample;
        sample.LoadFromFile(QUILLARC_SAMPLE);
        TJPEGImage jpeg;
        jpeg.Assign(&sample);
        TMemoryStream ms;
        jpeg.SaveToStream(ms);
        return std::vector<uint8_t>(ms.Memory(), ms.Memory() + ms.Size());
    }

    fs::path dir_;
    TMessageBoxHandler previous_;
    std::vector<std::string> boxes_;
};

void Paint(TBitmap& b, int w, int h) {
    b.SetPixelFormat(TPixelFormat::pf24bit);
    b.SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b.SetPixel(x, y, RGB(uint8_t(x * 20), uint8_t(y * 30), uint8_t(x + y)));
}

}  // namespace

TEST_F(PictureFiles, JpegIsChosenByTheLastFourCharacters) {
    const auto jpeg = SampleJpeg();
    for (const char* name : {"a.JPEG", "b.jpeg", "c.JPG", "d.jpg"}) {
        Write(name, jpeg);
        auto bmp = LoadPictureFile(Path(name));
        ASSERT_TRUE(bmp) << name;
        EXPECT_EQ(bmp->Width(), 364) << name;
        EXPECT_EQ(bmp->Height(), 384) << name;
        EXPECT_EQ(bmp->PixelFormat(), TPixelFormat::pf32bit) << name;
    }
    Write("e.jp", jpeg);  // last four: "e.jp" matches nothing
    auto bmp = LoadPictureFile(Path("e.jp"));
    ASSERT_TRUE(bmp);
    EXPECT_EQ(bmp->Width(), 0);
}

TEST_F(PictureFiles, JpegDataNamedBmpFailsInTheBitmapReader) {
    Write("photo.bmp", SampleJpeg());
    EXPECT_THROW(LoadPictureFile(Path("photo.bmp")), EInvalidGraphic);
}

TEST_F(PictureFiles, CorruptOrCutJpegRaisesInvalidGraphic) {
    auto jpeg = SampleJpeg();
    jpeg.resize(jpeg.size() / 3);
    Write("cut.jpg", jpeg);
    EXPECT_THROW(LoadPictureFile(Path("cut.jpg")), EInvalidGraphic);
    Write("junk.jpg", {1, 2, 3, 4, 5});
    try {
        LoadPictureFile(Path("junk.jpg"));
        FAIL();
    } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(e.Message().rfind("JPEG error #", 0), 0u) << e.Message();
    }
}

TEST_F(PictureFiles, MissingFileGivesNoBitmapAndOtherExtensionsAnEmptyOne) {
    EXPECT_EQ(LoadPictureFile(Path("nothing.jpg")), nullptr);
    Write("x.png", {0x89, 'P', 'N', 'G'});
    auto bmp = LoadPictureFile(Path("x.png"));
    ASSERT_TRUE(bmp);
    EXPECT_EQ(bmp->Width(), 0);
}

TEST_F(PictureFiles, GifGivesItsFirstFrameAt32BitsAndACutOneRaises) {
    fs::copy_file(std::string(QUILLARC_GENERATED_DATA) + "/gif/gs_small_frame.gif", Path("s.Gif"));
    auto bmp = LoadPictureFile(Path("s.Gif"));
    ASSERT_TRUE(bmp);
    EXPECT_EQ(bmp->Width(), 300);  // the logical screen, not the frame
    EXPECT_EQ(bmp->Height(), 260);
    EXPECT_EQ(bmp->PixelFormat(), TPixelFormat::pf32bit);
    Write("x.gif", {'G', 'I', 'F', '8', '9', 'a'});
    try {
        LoadPictureFile(Path("x.gif"));
        FAIL();
    } catch (const GIFException& e) {
        EXPECT_EQ(e.Message(), "Premature end of data");
    }
}

TEST_F(PictureFiles, BmpLoadsThroughTheBitmapClass) {
    fs::copy_file(QUILLARC_SAMPLE, Path("s.BMP"));
    auto bmp = LoadPictureFile(Path("s.BMP"));
    ASSERT_TRUE(bmp);
    EXPECT_EQ(bmp->Width(), 364);
    EXPECT_EQ(bmp->PixelFormat(), TPixelFormat::pf24bit);  // as read: this branch converts nothing
}

TEST_F(PictureFiles, IconGivesA32BitBitmapOfItsSize) {
    fs::copy_file(std::string(QUILLARC_TEST_DATA) + "/icon/two_sizes.ico", Path("i.ico"));
    auto bmp = LoadPictureFile(Path("i.ico"));
    ASSERT_TRUE(bmp);
    EXPECT_EQ(bmp->Width(), 32);
    EXPECT_EQ(bmp->Height(), 32);
    EXPECT_EQ(bmp->PixelFormat(), TPixelFormat::pf32bit);
    const uint8_t* row = bmp->ScanLine(4);
    EXPECT_EQ(std::vector<uint8_t>(row + 4 * 20, row + 4 * 21), (std::vector<uint8_t>{0, 0, 255, 255}));
    EXPECT_EQ(std::vector<uint8_t>(row + 4 * 3, row + 4 * 4), (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(PictureFiles, UnreadableIconIsReportedAndGivesAnEmptyBitmap) {
    Write("bad.ico", {0, 0, 1, 0, 0, 0});
    auto bmp = LoadPictureFile(Path("bad.ico"));
    ASSERT_TRUE(bmp);
    EXPECT_EQ(bmp->Width(), 0);
    ASSERT_EQ(boxes_.size(), 1u);
    const std::string expected = "Exit|Input picture" + Path("bad.ico") + "Error.Icon image is not valid";
    EXPECT_EQ(boxes_[0].rfind(expected, 0), 0u) << boxes_[0];
}

TEST_F(PictureFiles, SaveAsMetafileWritesAnEnhancedMetafileUnderWmf) {
    TBitmap bmp;
    Paint(bmp, 9, 7);
    SaveAsMetafile(bmp, Path("result.jpg"));
    EXPECT_FALSE(fs::exists(Path("result.jpg")));
    const auto bytes = Read(Path("result.wmf"));
    ASSERT_GE(bytes.size(), 44u);
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(std::memcmp(bytes.data() + 40, " EMF", 4), 0);
    auto back = LoadPictureFile(Path("result.wmf"));
    ASSERT_TRUE(back);
    ASSERT_EQ(back->Width(), 9);
    ASSERT_EQ(back->Height(), 7);
    EXPECT_EQ(back->PixelFormat(), TPixelFormat::pf32bit);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) EXPECT_EQ(back->Pixel(x, y), bmp.Pixel(x, y)) << x << "," << y;
    fs::copy_file(Path("result.wmf"), Path("copy.EMF"));
    EXPECT_EQ(LoadPictureFile(Path("copy.EMF"))->Width(), 9);
}

TEST_F(PictureFiles, SaveAsMetafileTakesAnyGraphicAndReplacesAnOldFile) {
    Write("old.wmf", {1, 2, 3});
    TBitmap bmp;
    Paint(bmp, 4, 4);
    bmp.SetPixelFormat(TPixelFormat::pf32bit);
    TJPEGImage jpeg;
    jpeg.Assign(&bmp);
    SaveAsMetafile(jpeg, Path("old"));
    auto back = LoadPictureFile(Path("old.wmf"));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->Width(), 4);
}

TEST_F(PictureFiles, CorruptMetafileRaisesInvalidGraphic) {
    Write("bad.wmf", {1, 0, 0, 0, 88, 0, 0, 0});
    EXPECT_THROW(LoadPictureFile(Path("bad.wmf")), EInvalidGraphic);
    Write("bad.emf", {});
    EXPECT_THROW(LoadPictureFile(Path("bad.emf")), EInvalidGraphic);
}
