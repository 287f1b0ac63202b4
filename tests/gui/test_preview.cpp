// The open dialog's preview: a picture file read through the picture
// registry and drawn into the preview's own area over a fixed backdrop; an
// animated GIF plays there until another file is chosen or the dialog
// closes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QTimer>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>

#include "gif/GIFPicture.h"
#include "platform/forms/Desktop.h"
#include "tests/TestRegistry.h"
#include "tests/rasterformats/RasterFiles.h"
#include "tests/gui/test_mainform_support.h"

namespace {
const std::string kGenerated = std::string(QUILLARC_GENERATED_DATA) + "/gif";
}

TEST(OpenPreview, TransparentGifShowsTheBackdropThroughItsTransparentColour) {
    testpics::CodecsRegistered codecs;
    const std::string file = kGenerated + "/im_transparent.gif";
    TGIFPicture gif;
    gif.LoadFromFile(file);
    TGIFSubImage* frame = gif.Images()[0];
    ASSERT_EQ(frame->FrameRect(), Rect(0, 0, 73, 77));
    ASSERT_TRUE(frame->Transparent());
    const uint8_t transparent = frame->GraphicControlExtension()->TransparentIndex();
    const TGIFColorMap& map = frame->EffectiveColorMap();

    TPoint size;
    const auto preview = PreviewBitmap(file, 200, 200, clLime, &size);
    EXPECT_EQ(size.X, 73);
    EXPECT_EQ(size.Y, 77);
    ASSERT_EQ(preview->Width(), 200);
    // Fitted by height: 189 x 200, centred at x = 5; the sides show the
    // backdrop, and so does every pixel whose source pixel is transparent.
    int seen = 0;
    for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 200; ++x) {
            TColor want = clLime;
            if (x >= 5 && x < 194) {
                // The platform's nearest-neighbour stretch: a pixel's centre mapped back.
                const int sx = ((2 * (x - 5) + 1) * 73) / (2 * 189), sy = ((2 * y + 1) * 77) / (2 * 200);
                const uint8_t index = frame->PixelAt(sx, sy);
                if (index != transparent) want = map.ColorOrFirst(index);
                seen += index == transparent;
            }
            ASSERT_EQ(preview->Pixel(x, y), want) << x << ", " << y;
        }
    }
    EXPECT_GT(seen, 100);
}

TEST(OpenPreview, UnreadableFilesRaiseTheReadersException) {
    testpics::CodecsRegistered codecs;
    EXPECT_THROW(PreviewBitmap(std::string(QUILLARC_TEST_DATA) + "/gif/hostile/bad_signature.gif", 50, 50, clWhite),
                 GIFException);
}

namespace {

const std::string kAnimations = std::string(QUILLARC_GENERATED_DATA) + "/gifanim/";

// Runs the window loop for ms milliseconds.
void RunLoop(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Runs the window loop until done() holds; false after 20 s without it,
// which only a stuck painter takes on a loaded machine.
bool RunLoopUntil(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > 20000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

QImage Shown(QLabel* label) { return label->pixmap().toImage(); }

}  // namespace

TEST(OpenPreview, AnimatedGifPlaysUntilAnotherFileIsSelected) {
    windows_test::EnsureApplication();
    testpics::CodecsRegistered codecs;
    TPicturePreview preview(120, 90, clLime);
    int changes = 0;
    preview.OnChange = [&changes] { ++changes; };
    preview.Select(kAnimations + "disposal2.gif");
    const std::vector<uint8_t> first(preview.Render().ScanLine(0), preview.Render().ScanLine(0) + 120 * 90 * 4);
    // The painter's steps reach the window loop by themselves.
    EXPECT_TRUE(RunLoopUntil([&] {
        return changes > 1 && std::memcmp(first.data(), preview.Render().ScanLine(0), first.size()) != 0;
    }));
    preview.Select("");
    changes = 0;
    RunLoop(200);
    EXPECT_EQ(changes, 0);
    EXPECT_FALSE(CheckSynchronize());
}

TEST(OpenPreview, TheOpenDialogPlaysAnimationsAndSurvivesSwitchingAndClosing) {
    windows_test::EnsureApplication();
    testpics::CodecsRegistered codecs;
    auto desktop = CreateQtDesktop();
    const std::vector<std::string> files = {kAnimations + "mixed.gif", kAnimations + "disposal3.gif",
                                            kGenerated + "/im_transparent.gif", kAnimations + "delays.gif"};
    bool changed = false;
    int rounds = 0;
    for (int round = 0; round < 50; ++round) {
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            auto* preview = dialog->findChild<QLabel*>("preview");
            ASSERT_NE(preview, nullptr);
            if (round == 0) {
                emit dialog->currentChanged(QString::fromStdString(files[0]));
                RunLoopUntil([&] { return !Shown(preview).isNull(); });
                const QImage before = Shown(preview);
                changed = RunLoopUntil([&] { return Shown(preview) != before; });
            }
            for (int i = 0; i < 4; ++i) {
                emit dialog->currentChanged(QString::fromStdString(files[(round + i) % files.size()]));
                RunLoop(round % 5);
            }
            ++rounds;
            dialog->reject();
        });
        std::string name;
        EXPECT_FALSE(desktop->OpenPictureDialog("GIF|*.gif", name));
    }
    EXPECT_TRUE(changed);
    EXPECT_EQ(rounds, 50);
    RunLoop(50);
    EXPECT_FALSE(CheckSynchronize());
}

TEST(OpenPreview, PicturesWithAlphaAreLaidOverTheBackdrop) {
    testpics::CodecsRegistered codecs;
    const uint8_t under[3] = {0x20, 0x90, 0xF0};
    for (const char* file : {"png/im-rgba.png", "sgi/im-rgba-RLE.sgi", "psd/im-rgba-rle-8.psd",
                             "tiff/im-rgba-packbits-mm.tif", "rla/matte.rla"}) {
        const std::string path = std::string(QUILLARC_GENERATED_DATA) + "/" + file;
        const rastertest::Rgba ref = rastertest::ReadPam(path.substr(0, path.rfind('.')) + ".pam");
        const auto preview = PreviewBitmap(path, ref.width, ref.height, RGB(under[0], under[1], under[2]));
        int seeThrough = 0, wrong = 0;
        for (int32_t i = 0; i < ref.width * ref.height; ++i) {
            const uint8_t* p = &ref.pixels[4 * size_t(i)];
            uint8_t want[3];
            for (int c = 0; c < 3; ++c) want[c] = static_cast<uint8_t>((p[c] * p[3] + under[c] * (255 - p[3]) + 127) / 255);
            seeThrough += p[3] < 255;
            wrong += preview->Pixel(i % ref.width, i / ref.width) != RGB(want[0], want[1], want[2]);
        }
        EXPECT_GT(seeThrough, 0) << file;
        EXPECT_EQ(wrong, 0) << file;
    }
}

TEST(OpenPreview, ShrinkingAveragesThePixelsEachPreviewPixelCovers) {
    testpics::CodecsRegistered codecs;
    // A one-bit checkerboard, as fax pages are made of (point sampling shows
    // specks), and white columns between transparent ones, in 32 bits.
    TBitmap board, half;
    board.SetPixelFormat(TPixelFormat::pf1bit);
    board.SetSize(400, 300);
    half.SetPixelFormat(TPixelFormat::pf32bit);
    half.SetSize(64, 64);
    for (int32_t y = 0; y < 300; ++y)
        for (int32_t x = 0; x < 400; ++x) board.SetPixel(x, y, (x + y) % 2 ? clWhite : clBlack);
    for (int32_t y = 0; y < 64; ++y)
        for (int32_t x = 0; x < 64; ++x) std::memset(half.ScanLine(y) + 4 * x, x % 2 ? 0 : 255, 4);
    const std::string dir = ::testing::TempDir();
    board.SaveToFile(dir + "/board.bmp");
    half.SaveToFile(dir + "/half.bmp");
    const struct {
        const char* file;
        int32_t pane;
        TRect area;  // the picture's place in the pane
        TColor inside;
    } cases[] = {
        {"board.bmp", 100, Rect(0, 12, 100, 87), RGB(128, 128, 128)},
        {"half.bmp", 32, Rect(0, 0, 32, 32), RGB(128, 192, 255)},  // white and the backdrop, halves rounded up
    };
    for (const auto& c : cases) {
        const auto preview = PreviewBitmap(dir + "/" + c.file, c.pane, c.pane, RGB(0, 128, 255));
        for (int32_t y = 0; y < c.pane; ++y)
            for (int32_t x = 0; x < c.pane; ++x) {
                const bool in = x >= c.area.Left && x < c.area.Right && y >= c.area.Top && y < c.area.Bottom;
                ASSERT_EQ(preview->Pixel(x, y), in ? c.inside : RGB(0, 128, 255)) << c.file << " " << x << ", " << y;
            }
    }
}

// The dialog previews the file it opens on before anything is clicked, and
// says in the pane why a file cannot be shown.
TEST(OpenPreview, TheDialogShowsItsFirstFileAtOnceAndWhyAnotherCannotBeShown) {
    windows_test::EnsureApplication();
    testpics::CodecsRegistered codecs;
    const std::string damaged = std::string(QUILLARC_GENERATED_DATA) + "/png/d-crc-ihdr.png";
    std::string reason;
    try {
        TPicture().LoadFromFile(damaged);
    } catch (const Exception& e) {
        reason = e.Message();
    }
    ASSERT_FALSE(reason.empty());
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        auto* preview = dialog->findChild<QLabel*>("preview");
        EXPECT_TRUE(RunLoopUntil([&] { return preview->toolTip() == "364 x 384"; }));
        EXPECT_FALSE(Shown(preview).isNull());
        emit dialog->currentChanged(QString::fromStdString(damaged));
        EXPECT_TRUE(RunLoopUntil([&] { return !preview->text().isEmpty(); }));
        EXPECT_EQ(preview->text().toStdString(), "(no preview)\n\n" + reason);
        dialog->reject();
    });
    std::string name = QUILLARC_SAMPLE;
    EXPECT_FALSE(CreateQtDesktop()->OpenPictureDialog("All files|*.*", name));
}

namespace {

// ".slowpic" files hold a byte n: a load waits until gate n opens (one on
// the window thread would hang, so it is counted instead), then reports a
// row, where an abandoned read stops, and gives a (10 + n) x 5 picture.
std::mutex slowMutex;
std::condition_variable slowChanged;
bool started[3], opened[3], stopped[3];
int windowThreadLoads = 0;

class TSlowGraphic : public TBitmap {
    QUILLARC_DECLARE_GRAPHIC(TSlowGraphic)
public:
    void LoadFromStream(TStream& stream) override {
        uint8_t n = 0;
        stream.ReadBuffer(&n, 1);
        std::unique_lock lock(slowMutex);
        started[n] = stopped[n] = true;
        slowChanged.notify_all();
        windowThreadLoads += IsMainThread();
        slowChanged.wait(lock, [&] { return opened[n] || IsMainThread(); });
        lock.unlock();
        Progress(this, TProgressStage::psRunning, 50, false, TRect{}, "");
        stopped[n] = false;
        SetSize(10 + n, 5);
    }
};
QUILLARC_DEFINE_GRAPHIC(TSlowGraphic, TBitmap)

std::string SlowFile(int n) { return ::testing::TempDir() + "/gate" + std::to_string(n) + ".slowpic"; }
void Open(int n) {
    std::lock_guard lock(slowMutex);
    opened[n] = true;
    slowChanged.notify_all();
}
void WaitStarted(int n) {
    std::unique_lock lock(slowMutex);
    slowChanged.wait(lock, [&] { return started[n]; });
}

// The format and its files for one test; at the end no read is left.
struct TSlowFiles {
    TSlowFiles() {
        windows_test::EnsureApplication();
        TPicture::RegisterFileFormat("slowpic", "Slow", TSlowGraphic::StaticClass());
        for (uint8_t n = 0; n < 3; ++n) {
            started[n] = opened[n] = stopped[n] = false;
            TFileStream(SlowFile(n), fmCreate).WriteBuffer(&n, 1);
        }
    }
    ~TSlowFiles() {
        for (int n = 0; n < 3; ++n) Open(n);
        WaitForPreviewReads();
        QCoreApplication::processEvents();
        EXPECT_EQ(windowThreadLoads, 0);
    }
    testpics::RegistryGuard registry;
};

}  // namespace

TEST(OpenPreview, ASlowReadLeavesTheWindowLoopFreeAndANewerSelectionWins) {
    TSlowFiles files;
    TPicturePreview preview(40, 40, clLime);
    int loaded = 0;
    preview.OnLoaded = [&](std::exception_ptr error) { loaded += error ? 100 : 1; };
    preview.SelectInBackground(SlowFile(0));
    WaitStarted(0);
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    EXPECT_TRUE(RunLoopUntil([&] { return ran && preview.Reading(); }));
    preview.SelectInBackground(SlowFile(1));
    Open(1);
    EXPECT_TRUE(RunLoopUntil([&] { return loaded == 1; }));
    Open(0);  // the older read ends after the newer one
    WaitForPreviewReads();
    QCoreApplication::processEvents();
    EXPECT_EQ(loaded, 1);
    EXPECT_EQ(preview.PictureSize().X, 11);
    EXPECT_TRUE(stopped[0]);
}

TEST(OpenPreview, TheDialogClosesWhileAReadRuns) {
    TSlowFiles files;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        WaitStarted(0);  // the file it opens on
        EXPECT_TRUE(Shown(dialog->findChild<QLabel*>("preview")).isNull());
        dialog->reject();
    });
    std::string name = SlowFile(0);
    EXPECT_FALSE(CreateQtDesktop()->OpenPictureDialog("All files|*.*", name));
    Open(0);
    WaitForPreviewReads();
    QCoreApplication::processEvents();
    EXPECT_TRUE(stopped[0]);
}

// A damaged JPEG strip's warning box comes with the picture, and never for
// a read abandoned before it was shown.
TEST(OpenPreview, AReadsWarningsAreToldWithItsPictureOnly) {
    windows_test::EnsureApplication();
    testpics::CodecsRegistered codecs;
    auto* desktop = new TScriptedDesktop;
    auto previous = SetDesktop(std::unique_ptr<IDesktop>(desktop));
    TPicturePreview preview(40, 40, clLime);
    for (const bool abandon : {true, false}) {
        preview.SelectInBackground(std::string(QUILLARC_GENERATED_DATA) + "/tiff/warning-jpeg-cut.tif");
        if (abandon) preview.Select("");
        EXPECT_TRUE(RunLoopUntil([&] { return !preview.Reading(); }));
    }
    WaitForPreviewReads();
    QCoreApplication::processEvents();
    EXPECT_TRUE(preview.HasPicture());
    ASSERT_EQ(desktop->messageBoxes.size(), 1u);
    EXPECT_EQ(desktop->messageBoxes[0].caption, "Warning");
    SetDesktop(std::move(previous));
}
