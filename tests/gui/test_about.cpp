// The About box's picture, a PNG resource: with the codecs registered, as at
// start-up, the raster library's reader decodes it through the registry.
#include <QImage>
#include <QPixmap>
#include <QWidget>

#include "tests/TestRegistry.h"
#include "tests/gui/test_mainform_support.h"

namespace {

class AboutBoxTest : public windows_test::WindowsTest {
protected:
    void SetUp() override {
        codecs_ = std::make_unique<testpics::CodecsRegistered>();
        WindowsTest::SetUp();
    }
    void TearDown() override {
        WindowsTest::TearDown();
        codecs_.reset();
    }

private:
    std::unique_ptr<testpics::CodecsRegistered> codecs_;
};

}  // namespace

TEST_F(AboutBoxTest, ShowsItsPictureReadByThePNGReader) {
    auto* image = About_Us->FindComponentAs<TImage>("Image1");
    ASSERT_NE(image, nullptr);
    ASSERT_NE(image->Picture().Graphic(), nullptr);
    EXPECT_STREQ(image->Picture().Graphic()->ClassName(), "TPNGGraphic");
    // The same pixels, alpha included, as Qt's own PNG decoder gives.
    const std::vector<uint8_t> bytes = LoadResource("quillarc.png");
    QImage qt;
    ASSERT_TRUE(qt.loadFromData(bytes.data(), static_cast<int>(bytes.size())));
    EXPECT_EQ(image->Rendered(), qt.convertToFormat(QImage::Format_ARGB32));

    // On screen: the picture's place shows more than the panel's colour.
    MainForm->MainMenu1->Find({"Help", "About"})->Click();
    ASSERT_TRUE(About_Us->Visible());
    const QImage shown = image->Widget()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(shown.isNull());
    const QRgb panel = qRgb(GetRValue(clMoneyGreen), GetGValue(clMoneyGreen), GetBValue(clMoneyGreen));
    int painted = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x) painted += shown.pixel(x, y) != panel;
    EXPECT_GT(painted, shown.width() * shown.height() / 4);
}
