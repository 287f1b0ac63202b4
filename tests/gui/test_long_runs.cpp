// Long runs on the window thread: the busy cursor while a picture loads or
// converts, the windows painted between the run's progress steps, bars that
// only move forward, a close request held off, and the panes of a large
// picture drawn straight from its shared pixels.
#include "tests/gui/test_mainform_support.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QImage>
#include <QTimer>
#include <QWidget>

#include <utility>
#include <vector>

#include "platform/core/Jpeg.h"
#include "platform/core/Parallel.h"

namespace windows_test {
namespace {

bool BusyCursor() {
    const QCursor* c = QGuiApplication::overrideCursor();
    return c != nullptr && c->shape() == Qt::WaitCursor;
}

// Watches one dialog's bar and the main window's source pane during a run.
// At every paint of the bar it records the bar's position, whether the pane
// has painted since the bar's last paint, and the cursor; then it marks the
// pane for painting again, as a window closed over it would.
class RunWatcher : public QObject {
public:
    RunWatcher(TProgressBar* bar, TImage* pane) : bar_(bar), pane_(pane) {
        bar_->Widget()->installEventFilter(this);
        pane_->Widget()->installEventFilter(this);
    }
    ~RunWatcher() override {
        bar_->Widget()->removeEventFilter(this);
        pane_->Widget()->removeEventFilter(this);
    }

    std::vector<int32_t> positions;
    int paneMissed = 0;  // bar paints with no pane paint since the previous one
    int notBusy = 0;     // bar paints without the busy cursor
    std::function<void()> onFirstPaint;

    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() != QEvent::Paint) return false;
        if (object == pane_->Widget()) {
            panePainted_ = true;
        } else if (TBusyScope::Active()) {
            if (!positions.empty() && !panePainted_) ++paneMissed;
            if (!BusyCursor()) ++notBusy;
            positions.push_back(bar_->Position());
            panePainted_ = false;
            pane_->Widget()->update();
            if (positions.size() == 1 && onFirstPaint) onFirstPaint();
        }
        return false;
    }

    // The work between two paints is what the time between them stands for
    // here: on one thread every pass reports its rows block by block, so the
    // bar moves by at most half a pass's share from paint to paint, and only
    // forward. `passes` is the run's number of passes.
    void ExpectForwardOnlyWithPaintsBetween(int32_t passes) const {
        EXPECT_GE(positions.size(), size_t(passes));
        const int32_t most = bar_->Max() / (2 * passes);
        for (size_t i = 0; i < positions.size(); ++i) {
            const int32_t step = positions[i] - (i == 0 ? 0 : positions[i - 1]);
            EXPECT_GE(step, 0) << "paint " << i;
            EXPECT_LE(step, most) << "paint " << i;
        }
        EXPECT_EQ(paneMissed, 0);
        EXPECT_EQ(notBusy, 0);
    }

private:
    TProgressBar* bar_;
    TImage* pane_;
    bool panePainted_ = false;
};

class LongRunTest : public WindowsTest {
protected:
    void SetUp() override {
        WindowsTest::SetUp();
        TBusyScope::SetPaintInterval(0);  // every pulse paints: the counts below do not hang on timing
        threads_ = par::ThreadCount();
        par::SetThreadCount(1);  // the blocks are reported one by one, whatever the machine
        ShowDrawn(MainForm);
        TBitmap tall;
        Pattern(tall, 48, 640);
        MainForm->SourceBitmap().Assign(&tall);
    }
    void TearDown() override {
        TBusyScope::SetPaintInterval(30);
        par::SetThreadCount(threads_);
        WindowsTest::TearDown();
    }
    int threads_ = 1;
    // Shows a form and lets it paint, so that a run's paints are its own.
    static void ShowDrawn(TForm* form) {
        form->Show();
        for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    }
};

TEST_F(LongRunTest, ProfessionalRunPaintsBetweenStepsAndHoldsOffAClose) {
    ShowDrawn(Setup_For_Color_Sketch);
    for (const char* box : {"CheckBox3", "CheckBox4", "CheckBox5"})
        Setup_For_Color_Sketch->FindControl<TCheckBox>(box)->SetChecked(true);
    RunWatcher watch(Setup_For_Color_Sketch->ProgressBar1, MainForm->Image1);
    watch.onFirstPaint = [] {
        QCloseEvent close;
        QCoreApplication::sendEvent(MainForm->Window(), &close);
    };
    Setup_For_Color_Sketch->SpeedButton1->Click();
    watch.ExpectForwardOnlyWithPaintsBetween(8);
    EXPECT_GT(watch.positions.back(), 700);  // eight passes planned, eight run
    EXPECT_EQ(Setup_For_Color_Sketch->ProgressBar1->Position(), 0);
    EXPECT_TRUE(MainForm->Visible());
    EXPECT_NE(CurrentSketch, nullptr);
    EXPECT_FALSE(BusyCursor());
}

TEST_F(LongRunTest, StandardBarMovesToo) {
    ShowDrawn(Standard);
    Standard->FindControl<TRadioButton>("RadioButton6")->SetChecked(true);  // crayon: two passes
    RunWatcher watch(Standard->ProgressBar1, MainForm->Image1);
    Standard->SpeedButton1->Click();
    watch.ExpectForwardOnlyWithPaintsBetween(2);
    EXPECT_EQ(Standard->ProgressBar1->Position(), 0);
}

TEST_F(LongRunTest, BatchBarMovesForwardOverTheWholeFolder) {
    std::filesystem::create_directories(folder / "in");
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) {
        TBitmap bmp;
        Pattern(bmp, 40, 400);
        TJPEGImage jpeg;
        jpeg.Assign(&bmp);
        jpeg.SaveToFile(Path(std::string("in/") + name));
    }
    ShowDrawn(Setup_For_Color_Sketch);
    RunWatcher watch(Setup_For_Color_Sketch->ProgressBar1, MainForm->Image1);
    desktop->folderAnswers.push_back({true, Path("in")});
    Setup_For_Color_Sketch->SpeedButton2->Click();
    Setup_For_Color_Sketch->Edit2->SetText(Path("out"));
    Setup_For_Color_Sketch->SpeedButton4->Click();
    EXPECT_EQ(desktop->messages, std::vector<std::string>{"The batch convert is complete!"});
    watch.ExpectForwardOnlyWithPaintsBetween(3);
    EXPECT_GT(watch.positions.back(), 700);
    EXPECT_EQ(Setup_For_Color_Sketch->ProgressBar1->Position(), 0);
    EXPECT_FALSE(BusyCursor());
}

// The load shows the busy cursor (a timer due at once runs inside the
// load's first chance to paint); the photograph is then held once, the
// right pane and the main window's copy sharing the left pane's pixels.
TEST_F(LongRunTest, OpenShowsTheBusyCursorAndSharesThePixels) {
    TBitmap bmp;
    Pattern(bmp, 50, 300);
    TJPEGImage jpeg;
    jpeg.Assign(&bmp);
    jpeg.SaveToFile(Path("photo.jpg"));
    bool busyWhileLoading = false;
    QTimer::singleShot(0, [&] { busyWhileLoading = BusyCursor(); });
    AnswerOpen(Path("photo.jpg"));
    MainForm->SpeedButton1->Click();
    EXPECT_TRUE(busyWhileLoading);
    EXPECT_FALSE(BusyCursor());
    const TBitmap& source = MainForm->SourceBitmap();
    ASSERT_EQ(source.Height(), 300);
    EXPECT_EQ(std::as_const(MainForm->ResultBitmap()).ScanLine(0), source.ScanLine(0));
    EXPECT_EQ(std::as_const(*CurrentSketch).ScanLine(0), source.ScanLine(0));
}

// A pane shrinks a picture by the average of the area each of its pixels
// covers: 3 columns into 2 weigh 2:1 and 1:2, 24 and 32 bits alike.
TEST(PaneDrawing, ShrinkingAveragesTheCoveredArea) {
    for (TPixelFormat format : {TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
        TBitmap b;
        b.SetPixelFormat(format);
        b.SetSize(3, 2);
        const TColor row0[] = {RGB(0, 30, 255), RGB(90, 60, 0), RGB(255, 0, 30)};
        for (int32_t x = 0; x < 3; ++x) {
            b.SetPixel(x, 0, row0[x]);
            b.SetPixel(x, 1, RGB(9, 9, 9));
        }
        const QImage one = GraphicToScaledImage(b, 2, 1);
        ASSERT_EQ(one.size(), QSize(2, 1));
        // Left red: (2 x 0 + 90) / 3 = 30, with the row of 9 below:
        // (30 + 9) / 2 = 19.5, halves rounded up.
        EXPECT_EQ(one.pixel(0, 0), qRgb(20, 25, 90)) << int(format);
        EXPECT_EQ(one.pixel(1, 0), qRgb(105, 15, 15)) << int(format);
        EXPECT_EQ(GraphicToScaledImage(b, 3, 2).pixel(2, 1), qRgb(9, 9, 9));
        EXPECT_TRUE(GraphicToScaledImage(b, 4, 1).isNull());  // growing is Qt's
    }
    TBitmap indexed;
    indexed.SetPixelFormat(TPixelFormat::pf8bit);
    indexed.SetSize(4, 4);
    EXPECT_TRUE(GraphicToScaledImage(indexed, 2, 2).isNull());
}

}  // namespace
}  // namespace windows_test
