// The full-size viewer: its window size on the screen, the centring of
// small pictures, and drag scrolling.
#include "tests/gui/test_mainform_support.h"

namespace windows_test {
namespace {

TEST(ViewerGeometry, WindowIsThePicturePlusFrameWithinTheScreen) {
    EXPECT_EQ(ViewerWindowSize(200, 150, 1024, 768), (TViewerSize{210, 185}));
    EXPECT_EQ(ViewerWindowSize(3000, 2000, 1024, 768), (TViewerSize{974, 668}));
    // Just at the limits.
    EXPECT_EQ(ViewerWindowSize(964, 633, 1024, 768), (TViewerSize{974, 668}));
}

TEST(ViewerGeometry, PictureIsCentredOnlyWhenSmallerThanTheClientArea) {
    // 150 is not less than 185 - 35, nor 200 less than 210 - 10.
    EXPECT_EQ(ViewerPicturePosition(200, 150, 210, 185).X, 0);
    EXPECT_EQ(ViewerPicturePosition(200, 150, 210, 185).Y, 0);
    const TPoint enlarged = ViewerPicturePosition(200, 150, 410, 285);
    EXPECT_EQ(enlarged.Y, 67);   // 142 - 75
    EXPECT_EQ(enlarged.X, 105);  // 205 - 100
    // Each half is truncated on its own: 411 div 2 - 201 div 2 = 205 - 100.
    EXPECT_EQ(ViewerPicturePosition(201, 150, 411, 285).X, 105);
}

class ViewerTest : public WindowsTest {
protected:
    void ShowResult(int32_t width, int32_t height) {
        TBitmap picture;
        Pattern(picture, width, height);
        MainForm->ResultBitmap().Assign(&picture);
        MainForm->Image2->DblClick();
    }
};

TEST_F(ViewerTest, DoubleClickShowsTheResultSizedToIt) {
    ShowResult(200, 150);
    EXPECT_TRUE(ViewForm->Visible());
    EXPECT_EQ(ViewForm->Caption(), "FullSize");
    EXPECT_EQ(ViewForm->BoundsRect(), Bounds(30, 30, 210, 185));
    EXPECT_EQ(ViewForm->Image1->Width(), 200);
    EXPECT_EQ(ViewForm->Image1->Height(), 150);
    EXPECT_EQ(ViewForm->Image1->Left(), 0);
    EXPECT_EQ(ViewForm->Image1->Top(), 0);
    EXPECT_TRUE(SameColours(ViewForm->Image1->Picture().Bitmap(), MainForm->ResultBitmap()));
}

TEST_F(ViewerTest, EnlargingCentresTheSmallPicture) {
    ShowResult(200, 150);
    ViewForm->SetBounds(30, 30, 410, 285);
    EXPECT_EQ(ViewForm->Image1->Top(), 67);
    EXPECT_EQ(ViewForm->Image1->Left(), 105);
}

TEST_F(ViewerTest, LargePictureFillsTheScreenAndDragScrolls) {
    ShowResult(3000, 2000);
    EXPECT_EQ(ViewForm->Width(), 974);
    EXPECT_EQ(ViewForm->Height(), 668);
    EXPECT_EQ(ViewForm->Image1->Left(), 0);
    EXPECT_EQ(ViewForm->HorzScrollBar().Position(), 0);

    ViewForm->Image1->MouseDown(mbLeft, ssLeft, 50, 40);
    EXPECT_TRUE(Dragging);
    ViewForm->Image1->MouseMove(ssLeft, 40, 40);  // dragged 10 to the left
    EXPECT_EQ(ViewForm->HorzScrollBar().Position(), 10);
    EXPECT_EQ(ViewForm->VertScrollBar().Position(), 0);
    ViewForm->Image1->MouseUp(mbLeft, 0, 40, 40);
    EXPECT_FALSE(Dragging);
    // Without a drag nothing scrolls.
    ViewForm->Image1->MouseMove(ssLeft, 0, 0);
    EXPECT_EQ(ViewForm->HorzScrollBar().Position(), 10);
}

TEST_F(ViewerTest, DraggingPastTheEdgeStopsAtTheRange) {
    ShowResult(3000, 2000);
    ViewForm->Image1->MouseDown(mbLeft, ssLeft, 0, 0);
    ViewForm->Image1->MouseMove(ssLeft, 10, 10);  // right and down: below 0
    EXPECT_EQ(ViewForm->HorzScrollBar().Position(), 0);
    EXPECT_EQ(ViewForm->VertScrollBar().Position(), 0);
    ViewForm->Image1->MouseUp(mbLeft, 0, 10, 10);
}

TEST_F(ViewerTest, ResizingReturnsToTheTopLeftCorner) {
    ShowResult(3000, 2000);
    ViewForm->HorzScrollBar().SetPosition(300);
    ViewForm->VertScrollBar().SetPosition(200);
    ViewForm->SetBounds(30, 30, 800, 600);
    EXPECT_EQ(ViewForm->HorzScrollBar().Position(), 0);
    EXPECT_EQ(ViewForm->VertScrollBar().Position(), 0);
    EXPECT_EQ(ViewForm->Image1->Left(), 0);
    EXPECT_EQ(ViewForm->Image1->Top(), 0);
}

TEST_F(ViewerTest, ScreenSizeComesFromTheDesktop) {
    desktop->screenWidth = 640;
    desktop->screenHeight = 480;
    ShowResult(3000, 2000);
    EXPECT_EQ(ViewForm->Width(), 590);
    EXPECT_EQ(ViewForm->Height(), 380);
}

}  // namespace
}  // namespace windows_test
