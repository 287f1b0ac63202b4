#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "platform/core/Graphics.h"

namespace {

// A graphic that only knows how to draw itself: a 2 x 1 red and green pair.
class TPairGraphic : public TGraphic {
    QUILLARC_DECLARE_GRAPHIC(TPairGraphic)
public:
    void Draw(TCanvas& canvas, const TRect& rect) override {
        canvas.Brush.Color = clRed;
        canvas.FillRect(Rect(rect.Left, rect.Top, rect.Left + 1, rect.Bottom));
        canvas.Brush.Color = clLime;
        canvas.FillRect(Rect(rect.Left + 1, rect.Top, rect.Right, rect.Bottom));
    }
    bool Empty() const override { return false; }
    int32_t Width() const override { return 2; }
    int32_t Height() const override { return 1; }
    void SetWidth(int32_t) override {}
    void SetHeight(int32_t) override {}
    void LoadFromStream(TStream&) override { throw EInvalidGraphic("pair files are not valid"); }
    void SaveToStream(TStream&) override {}
};
QUILLARC_DEFINE_GRAPHIC(TPairGraphic, TGraphic)

std::string TempPath(const std::string& name) {
    return std::filesystem::temp_directory_path() / ("quillarc_pic_" + std::to_string(::getpid()) + "_" + name);
}

}  // namespace

TEST(Picture, BitmapsAreRegisteredBeforeAnythingElse) {
    EXPECT_EQ(TPicture::ClassForExtension("BMP"), &TBitmap::StaticClass());
    EXPECT_EQ(TPicture::ClassForExtension(".bmp"), &TBitmap::StaticClass());
    EXPECT_EQ(TPicture::ClassForExtension("nope"), nullptr);
    EXPECT_TRUE(TBitmap::StaticClass().InheritsFrom(TGraphic::StaticClass()));
    EXPECT_FALSE(TGraphic::StaticClass().InheritsFrom(TBitmap::StaticClass()));
}

TEST(Picture, RegisterAndUnregisterByClass) {
    TPicture::RegisterFileFormat("PAIR", "Pairs", TPairGraphic::StaticClass());
    TPicture::RegisterFileFormat("pr2", "Pairs too", TPairGraphic::StaticClass());
    EXPECT_EQ(TPicture::ClassForExtension("pair"), &TPairGraphic::StaticClass());
    const std::string filter = TPicture::GraphicFilter(TPairGraphic::StaticClass());
    EXPECT_EQ(filter, "All (*.pair;*.pr2)|*.pair;*.pr2|Pairs (*.pair)|*.pair|Pairs too (*.pr2)|*.pr2");
    EXPECT_NE(TPicture::GraphicFilter(TGraphic::StaticClass()).find("Bitmaps (*.bmp)|*.bmp"), std::string::npos);
    TPicture::UnregisterGraphicClass(TPairGraphic::StaticClass());
    EXPECT_EQ(TPicture::ClassForExtension("pair"), nullptr);
    EXPECT_EQ(TPicture::ClassForExtension("pr2"), nullptr);
    EXPECT_EQ(TPicture::GraphicFilter(TPairGraphic::StaticClass()), "");
}

TEST(Picture, LoadsByExtensionIgnoringCase) {
    TBitmap b;
    b.SetPixelFormat(TPixelFormat::pf24bit);
    b.SetSize(3, 2);
    b.SetPixel(2, 1, clBlue);
    const std::string path = TempPath("pic.BMP");
    b.SaveToFile(path);
    TPicture picture;
    int changes = 0;
    picture.OnChange = [&](TObject*) { ++changes; };
    picture.LoadFromFile(path);
    ASSERT_NE(picture.Graphic(), nullptr);
    EXPECT_EQ(picture.Width(), 3);
    EXPECT_EQ(picture.Bitmap().Pixel(2, 1), clBlue);
    EXPECT_EQ(changes, 1);
    picture.Bitmap().SetWidth(5);  // the picture hears of changes to its graphic
    EXPECT_EQ(changes, 2);
    std::filesystem::remove(path);
}

TEST(Picture, UnknownExtensionAndMissingFile) {
    TPicture picture;
    try {
        picture.LoadFromFile("/tmp/x.qqq");
        FAIL();
    } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(e.Message(), "Unknown picture file extension (.qqq)");
    }
    EXPECT_THROW(picture.LoadFromFile(TempPath("missing.bmp")), EFOpenError);
    EXPECT_EQ(picture.Graphic(), nullptr);
}

TEST(Picture, SetGraphicTakesACopy) {
    TBitmap b;
    b.SetSize(2, 2);
    TPicture picture;
    picture.SetGraphic(&b);
    b.SetSize(7, 7);
    EXPECT_EQ(picture.Width(), 2);
    EXPECT_NE(picture.Graphic(), &b);
    picture.SetGraphic(nullptr);
    EXPECT_EQ(picture.Graphic(), nullptr);
    EXPECT_EQ(picture.Width(), 0);
}

TEST(Picture, BitmapAssignDrawsAGraphicThatCannotAssignItself) {
    TPairGraphic pair;
    TBitmap b;
    b.Assign(&pair);
    EXPECT_EQ(b.PixelFormat(), TPixelFormat::pf32bit);
    ASSERT_EQ(b.Width(), 2);
    EXPECT_EQ(b.Pixel(0, 0), clRed);
    EXPECT_EQ(b.Pixel(1, 0), clLime);
    TPairGraphic other;
    try {
        other.Assign(&b);
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TBitmap to a TPairGraphic");
    }
}

TEST(Graphic, FailedSaveKeepsTheOldFile) {
    const std::string path = TempPath("keep.bmp");
    TBitmap good;
    good.SetSize(1, 1);
    good.SaveToFile(path);
    const auto before = std::filesystem::file_size(path);
    struct TFailing : TBitmap {
        void SaveToStream(TStream& s) override {
            s.WriteBuffer("BM", 2);
            throw EWriteError("disk full");
        }
    } failing;
    EXPECT_THROW(failing.SaveToFile(path), EWriteError);
    EXPECT_EQ(std::filesystem::file_size(path), before);
    TBitmap back;
    back.LoadFromFile(path);
    EXPECT_EQ(back.Width(), 1);
    std::filesystem::remove(path);
}

TEST(Graphic, EqualsComparesClassAndContent) {
    TBitmap a, b;
    EXPECT_TRUE(a.Equals(b));
    a.SetSize(2, 2);
    b.SetSize(2, 2);
    EXPECT_TRUE(a.Equals(b));
    b.SetPixel(1, 1, clRed);
    EXPECT_FALSE(a.Equals(b));
    TPairGraphic p;
    EXPECT_FALSE(a.Equals(p));
}
