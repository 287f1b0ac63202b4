// Every box the program opens while one of its stay-on-top windows shows
// comes above all of the program's windows, so its buttons can be reached.
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QTimer>
#include <QWindow>

#include "app/BatchFiles.h"
#include "tests/gui/test_mainform_support.h"

namespace windows_test {
namespace {

bool StaysOnTop(QWidget* w) { return w->windowHandle() && (w->windowHandle()->flags() & Qt::WindowStaysOnTopHint); }

// The box on top, once the loop runs, is cancelled after then(box). A
// window manager keeps stay-on-top windows above the rest, and the box,
// mapped last, above the others of its level: covering holds the captions
// of the windows of a higher level, and "[no owner]" for a box of none.
void CheckNextBox(std::string& covering, const std::function<void(QDialog*)>& then = {}) {
    covering = "(no box)";
    QTimer::singleShot(0, [&covering, then] {
        auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!box) return;
        covering = box->windowHandle()->transientParent() ? "" : "[no owner]";
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w != box && w->isVisible() && StaysOnTop(w) && !StaysOnTop(box))
                covering += "[" + w->windowTitle().toStdString() + "]";
        if (then) then(box);
        box->reject();
    });
}

TEST_F(WindowsTest, EveryBoxComesAboveEachStayOnTopWindow) {
    SetDesktop(CreateQtDesktop());  // the scripted one comes back in TearDown
    MainForm->Show();
    std::string covering, inner;
    const auto missingFolder = [&](QDialog* picker) {
        picker->findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString(Path("gone")));
        CheckNextBox(inner);
        picker->accept();  // says the folder is not there, and stays
    };
    const struct {
        const char* name;
        std::function<void()> open;
        std::function<void(QDialog*)> then;
    } boxes[] = {
        {"Open", [] { MainForm->SpeedButton1->Click(); }, {}},
        {"Save As", [] { MainForm->SpeedButton2->Click(); }, {}},
        {"Sorry", [] { Setup_For_Color_Sketch->SpeedButton4->Click(); }, {}},  // no input folder
        {"batch complete", [] { ShowMessage(kBatchCompleteText); }, {}},
        {"Print", [] { Print_Setup->SpeedButton1->Click(); }, {}},
        {"folder picker", [] { MainForm->OpenDir(); }, missingFolder},
    };
    const std::vector<TForm*> onTop = {Setup_For_Color_Sketch, Standard, Print_Setup, ViewForm, About_Us};
    for (TForm* form : onTop) {
        for (TForm* other : onTop) other->Hide();
        form->Show();
        for (const auto& box : boxes) {
            CheckNextBox(covering, box.then);
            box.open();
            EXPECT_EQ(covering, "") << box.name << " over " << form->Caption();
        }
        EXPECT_EQ(inner, "") << "missing folder box over " << form->Caption();
    }
}

}  // namespace
}  // namespace windows_test
