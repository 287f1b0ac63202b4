// The keyboard in the conversion dialogs and the viewer, and the tooltips
// of the controls that have no caption.
#include <QCoreApplication>
#include <QKeyEvent>
#include <QWidget>

#include <set>

#include "tests/gui/test_mainform_support.h"

namespace windows_test {
namespace {

// A key pressed on control; what it does not use goes on to its window.
void Press(TControl* control, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(control->Widget(), &press);
}

TEST_F(WindowsTest, ReturnRunsDoneAndEscapeClosesTheConversionDialogs) {
    TBitmap picture;
    Pattern(picture, 40, 30);
    MainForm->SourceBitmap().Assign(&picture);
    for (TForm* dialog : std::vector<TForm*>{Setup_For_Color_Sketch, Standard}) {
        MainForm->ResultBitmap().Assign(&picture);
        dialog->Show();
        Press(dialog->FindControl<TTrackBar>("TrackBar1"), Qt::Key_Return);
        EXPECT_FALSE(SameColours(MainForm->ResultBitmap(), picture)) << dialog->Caption();
        Press(dialog->FindControl<TTrackBar>("TrackBar1"), Qt::Key_Escape);
        EXPECT_FALSE(dialog->Visible()) << dialog->Caption();
    }
}

TEST_F(WindowsTest, ArrowAndPageKeysScrollTheViewerAndEscapeClosesIt) {
    TBitmap picture;
    Pattern(picture, 3000, 2000);
    MainForm->ResultBitmap().Assign(&picture);
    MainForm->Image2->DblClick();
    const int line = ViewForm->VertScrollBar().Increment(), page = ViewForm->ClientHeight();
    const struct {
        int key, x, y;
    } steps[] = {{Qt::Key_Right, line, 0},          {Qt::Key_Down, line, line}, {Qt::Key_PageDown, line, line + page},
                 {Qt::Key_PageUp, line, line},      {Qt::Key_Up, line, 0},     {Qt::Key_Left, 0, 0},
                 {Qt::Key_Left, 0, 0}};  // held at the edge
    for (const auto& s : steps) {
        Press(ViewForm->Image1, s.key);
        EXPECT_EQ(ViewForm->HorzScrollBar().Position(), s.x) << s.key;
        EXPECT_EQ(ViewForm->VertScrollBar().Position(), s.y) << s.key;
    }
    Press(ViewForm->Image1, Qt::Key_Escape);
    EXPECT_FALSE(ViewForm->Visible());
}

TEST_F(WindowsTest, UncaptionedControlsSayWhatTheyDoOnHover) {
    std::set<QString> tips;
    for (const char* name : {"TrackBar4", "TrackBar5", "TrackBar6"})
        tips.insert(Standard->FindControl<TControl>(name)->Widget()->toolTip());
    for (const char* name : {"SpeedButton2", "SpeedButton5", "SpeedButton8", "SpeedButton6", "SpeedButton7",
                             "SpeedButton3", "SpeedButton4"})
        tips.insert(Print_Setup->FindControl<TControl>(name)->Widget()->toolTip());
    tips.erase(QString());
    EXPECT_EQ(tips.size(), 10u);  // each its own words
}

}  // namespace
}  // namespace windows_test
