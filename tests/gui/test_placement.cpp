// Windows lie wholly on the screen's work area: a form keeps its designed
// place where it fits, else it moves (a sizeable one also shrinks).
#include "tests/gui/test_mainform_support.h"

namespace windows_test {
namespace {

TEST_F(WindowsTest, EveryFormLiesOnASmallScreenAndKeepsItsPlaceOnALargeOne) {
    desktop->workArea = Rect(0, 0, 1600, 1000);
    for (TForm* form : std::vector<TForm*>{MainForm, Setup_For_Color_Sketch, Standard, Print_Setup, About_Us}) {
        const TRect designed = form->BoundsRect();
        form->Show();
        EXPECT_EQ(form->BoundsRect(), designed) << form->Caption();
        form->Hide();
    }
    TBitmap large;
    Pattern(large, 3000, 2000);
    MainForm->ResultBitmap().Assign(&large);
    const std::vector<std::function<void()>> shows = {
        [] { MainForm->Show(); },          [] { Setup_For_Color_Sketch->Show(); },
        [] { Standard->Show(); },          [] { Setup_For_Color_Sketch->SpeedButton5->Click(); },
        [] { Standard->SpeedButton5->Click(); },  // both with their batch panels
        [] { Print_Setup->Show(); },       [] { MainForm->Image2->DblClick(); },
        [] { About_Us->Show(); },
    };
    // The whole 1024 x 768 screen, then one with panels above and below.
    for (const TRect area : {Rect(0, 0, 1024, 768), Rect(0, 40, 1024, 600)}) {
        desktop->workArea = area;
        for (size_t step = 0; step < shows.size(); ++step) {
            shows[step]();
            for (int i = 0; i < Application->FormCount(); ++i) {
                const TRect r = Application->Forms(i)->BoundsRect();
                EXPECT_TRUE(!Application->Forms(i)->Visible() || (r.Left >= area.Left && r.Top >= area.Top &&
                                                                  r.Right <= area.Right && r.Bottom <= area.Bottom))
                    << Application->Forms(i)->Caption() << " at step " << step << ", area bottom " << area.Bottom;
            }
        }
        for (int i = 0; i < Application->FormCount(); ++i) Application->Forms(i)->Hide();
    }
    EXPECT_EQ(Setup_For_Color_Sketch->Left(), 546);  // 1024 less its width
    EXPECT_EQ(Setup_For_Color_Sketch->Top(), 54);     // 600 less its enlarged height
}

}  // namespace
}  // namespace windows_test
