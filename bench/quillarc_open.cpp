// quillarc-open: the main window's "Open" as a person meets it, under any Qt
// platform (offscreen in scripts): the time from the chosen file name to
// both panes drawn, and the resident memory with the picture loaded; or the
// resident memory of a fresh start, after a batch run and with a small
// picture loaded after it.
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/Codecs.h"
#include "app/MainForm_s.h"
#include "app/About_Us_s.h"
#include "app/ViewForm_s.h"
#include "bench/bench_support.h"
#include "platform/forms/Desktop.h"
#include "platform/forms/Forms.h"
#include "print/Print_Setup_s.h"
#include "professional/Setup_s.h"
#include "standard/Standard_s.h"

namespace {

const char kUsage[] =
    "usage:\n"
    "  quillarc-open [--repeat N] PICTURE\n"
    "  quillarc-open --batch INPUT_FOLDER OUTPUT_FOLDER SMALL_PICTURE\n"
    "  quillarc-open --paints PICTURE\n"
    "\n"
    "The first opens PICTURE through the main window N times (default 1) and prints\n"
    "the time from the file name to both panes drawn and the resident memory with the\n"
    "picture loaded. The second prints the resident memory of a fresh start, after\n"
    "the Professional dialog's batch of INPUT_FOLDER and with SMALL_PICTURE opened\n"
    "after it (once the pixel pool has had time to give back what nobody uses). The\n"
    "third opens PICTURE and converts it with every effect of the Professional dialog\n"
    "and with each style of the Standard dialog, the source pane asking to be painted\n"
    "again after every paint, and prints the longest time between two of its paints.\n";

double MiB(double bytes) { return bytes / (1024.0 * 1024.0); }

// Counts the paints of the two panes; while `gaps` is on, the source pane
// asks for another paint after each one, and the longest time between two
// of its paints is kept.
class TPaintCounter : public QObject {
public:
    int panes[2] = {0, 0};
    QWidget* widgets[2] = {nullptr, nullptr};
    bool gaps = false;
    QElapsedTimer sinceLast;
    qint64 longestGap = 0;

    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() != QEvent::Paint) return false;
        for (int i = 0; i < 2; ++i)
            if (object == widgets[i]) ++panes[i];
        if (gaps && object == widgets[0]) {
            if (sinceLast.isValid()) longestGap = std::max(longestGap, sinceLast.elapsed());
            sinceLast.restart();
            widgets[0]->update();
        }
        return false;
    }
};

// Processes events until both panes have painted since `before`; false
// after ten seconds without.
bool WaitForPanes(const TPaintCounter& counter, const int (&before)[2]) {
    QElapsedTimer clock;
    clock.start();
    while (counter.panes[0] == before[0] || counter.panes[1] == before[1]) {
        if (clock.elapsed() > 10000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Lets time pass with the event loop running, as a person's pause would.
void Idle(double seconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < seconds * 1000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

struct TProgram {
    TScriptedDesktop* desktop = nullptr;
    TPaintCounter counter;

    TProgram() {
        auto scripted = std::make_unique<TScriptedDesktop>();
        desktop = scripted.get();
        SetDesktop(std::move(scripted));
        Application->CreateForm(MainForm, "MainForm");
        Application->CreateForm(Setup_For_Color_Sketch, "Setup_For_Color_Sketch");
        Application->CreateForm(ViewForm, "ViewForm");
        Application->CreateForm(About_Us, "About_Us");
        Application->CreateForm(Standard, "Standard");
        Application->CreateForm(Print_Setup, "Print_Setup");
        counter.widgets[0] = MainForm->Image1->Widget();
        counter.widgets[1] = MainForm->Image2->Widget();
        for (QWidget* w : counter.widgets) w->installEventFilter(&counter);
        const int before[2] = {counter.panes[0], counter.panes[1]};
        MainForm->Show();
        if (!WaitForPanes(counter, before)) bench::Fail("the main window never painted its panes");
    }

    // Seconds from the open dialog's answer to both panes drawn.
    double Open(const std::string& fileName) {
        desktop->openAnswers.push_back({true, fileName, 1});
        const int before[2] = {counter.panes[0], counter.panes[1]};
        const auto start = std::chrono::steady_clock::now();
        MainForm->SpeedButton1->Click();
        if (!WaitForPanes(counter, before)) bench::Fail("the panes were not drawn after opening " + fileName);
        const double seconds = bench::Since(start);
        if (!desktop->messageBoxes.empty()) bench::Fail(desktop->messageBoxes.back().text);
        return seconds;
    }
};

int OpenTimes(const std::string& fileName, int repeat) {
    TProgram program;
    const double fresh = bench::ResidentBytes();
    std::vector<double> seconds;
    double loaded = 0;
    for (int i = 0; i < repeat; ++i) {
        seconds.push_back(program.Open(fileName));
        loaded = bench::ResidentBytes();
        std::printf("open %d: %.3f s, resident memory %.1f MiB\n", i + 1, seconds.back(), MiB(loaded));
    }
    const double pixels = double(MainForm->SourceBitmap().Width()) * MainForm->SourceBitmap().Height();
    std::printf("picture: %s (%d x %d)\n", fileName.c_str(), MainForm->SourceBitmap().Width(),
                MainForm->SourceBitmap().Height());
    std::printf("from the file name to both panes drawn: median %.3f s over %d run%s\n", bench::Median(seconds),
                repeat, repeat == 1 ? "" : "s");
    std::printf("resident memory: %.1f MiB at start, %.1f MiB with the picture loaded (%.1f bytes per pixel)\n",
                MiB(fresh), MiB(loaded), loaded / pixels);
    Idle(3);
    const double settled = bench::ResidentBytes();
    std::printf("resident memory 3 s later: %.1f MiB (%.1f bytes per pixel)\n", MiB(settled), settled / pixels);
    return 0;
}

int BatchMemory(const std::string& input, const std::string& output, const std::string& small) {
    TProgram program;
    const double fresh = bench::ResidentBytes();
    program.desktop->folderAnswers.push_back({true, input});
    MainForm->OpenDir();
    Setup_For_Color_Sketch->Edit1->SetText(input);
    Setup_For_Color_Sketch->Edit2->SetText(output);
    const auto start = std::chrono::steady_clock::now();
    Setup_For_Color_Sketch->SpeedButton4->Click();
    const double batchSeconds = bench::Since(start);
    if (program.desktop->messages.empty()) bench::Fail("the batch did not complete");
    const double afterBatch = bench::ResidentBytes();
    program.Open(small);
    const double justOpened = bench::ResidentBytes();
    Idle(3);
    const double settled = bench::ResidentBytes();
    std::printf("batch of %d pictures: %.3f s\n", MainForm->ListView1->Items().Count(), batchSeconds);
    std::printf("resident memory: %.1f MiB at start, %.1f MiB after the batch, %.1f MiB with %s opened,\n"
                "%.1f MiB 3 s later (%+.1f MiB against the start)\n",
                MiB(fresh), MiB(afterBatch), MiB(justOpened), small.c_str(), MiB(settled), MiB(settled - fresh));
    return 0;
}

// The longest time between two paints of the source pane while `run` runs.
template <class Run>
double LongestGap(TPaintCounter& counter, const Run& run, double& seconds) {
    counter.gaps = true;
    counter.longestGap = 0;
    counter.sinceLast.start();
    counter.widgets[0]->update();
    const auto start = std::chrono::steady_clock::now();
    run();
    seconds = bench::Since(start);
    counter.longestGap = std::max(counter.longestGap, counter.sinceLast.elapsed());
    counter.gaps = false;
    return double(counter.longestGap) / 1000;
}

int PaintGaps(const std::string& fileName) {
    TProgram program;
    program.Open(fileName);
    Setup_For_Color_Sketch->Show();
    Idle(0.2);  // the dialog drawn, as a person sees it before pressing "Done"
    for (const char* box : {"CheckBox2", "CheckBox3", "CheckBox4", "CheckBox5", "CheckBox7"})
        Setup_For_Color_Sketch->FindControl<TCheckBox>(box)->SetChecked(true);
    double seconds = 0;
    const double gap = LongestGap(program.counter, [] { Setup_For_Color_Sketch->SpeedButton1->Click(); }, seconds);
    std::printf("Professional, every effect: %.3f s, longest time between paints %.3f s\n", seconds, gap);
    Standard->Show();
    Idle(0.2);
    for (int style = 1; style <= 7; ++style) {
        Standard->FindControl<TRadioButton>("RadioButton" + std::to_string(style))->SetChecked(true);
        Idle(0.1);  // the last result drawn
        const double g = LongestGap(program.counter, [] { Standard->SpeedButton1->Click(); }, seconds);
        std::printf("Standard, RadioButton%d: %.3f s, longest time between paints %.3f s\n", style, seconds, g);
    }
    return 0;
}

int Run(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    int repeat = 1;
    size_t i = 0;
    if (i + 1 < args.size() && args[i] == "--repeat") {
        repeat = bench::ParseInt(args[i + 1], "--repeat", 1, 1000);
        i += 2;
    }
    TPictureCodecs codecs;
    TApplication application(argc, argv);
    Application->Initialize();
    if (i < args.size() && args[i] == "--batch") {
        if (args.size() - i != 4) bench::Fail("--batch takes an input folder, an output folder and a picture");
        return BatchMemory(args[i + 1], args[i + 2], args[i + 3]);
    }
    if (i < args.size() && args[i] == "--paints") {
        if (args.size() - i != 2) bench::Fail("--paints takes a picture");
        return PaintGaps(args[i + 1]);
    }
    if (args.size() - i != 1) bench::Fail("one picture to open");
    return OpenTimes(args[i], repeat);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const bench::UsageError& e) {
        std::fprintf(stderr, "quillarc-open: %s\n\n%s", e.message.c_str(), kUsage);
        return bench::kBadArguments;
    }
}
