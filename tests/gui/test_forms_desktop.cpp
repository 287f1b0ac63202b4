// The desktop interface's scripted stand-in, the mail command line and the
// printer's placement on a real (PDF) page.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/core/Graphics.h"
#include "platform/forms/Desktop.h"
#include "platform/forms/Forms.h"
#include "platform/forms/Printer.h"

namespace {

// Printers and dialogs need the Qt application.
void EnsureApp() {
    if (Application) return;
    static int argc = 1;
    static char name[] = "quillarc_forms_tests";
    static char* argv[] = {name, nullptr};
    static TApplication application(argc, argv);
}

class DesktopEnvironment : public ::testing::Environment {
public:
    void SetUp() override { EnsureApp(); }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new DesktopEnvironment);

TEST(ScriptedDesktop, EmptyQueuesCancelDialogsAndConfirmMessages) {
    TScriptedDesktop d;
    std::string name = "keep.bmp";
    int index = 2;
    std::string folder = "/old";
    EXPECT_FALSE(d.OpenPictureDialog("*.bmp|*.bmp", name));
    EXPECT_FALSE(d.SavePictureDialog("*.jpg|*.jpg", name, index));
    EXPECT_FALSE(d.BrowseForFolder("Pick", "/in", folder));
    EXPECT_FALSE(d.PrintDialog(Printer()));
    // A cancelled dialog leaves the caller's values alone.
    EXPECT_EQ(name, "keep.bmp");
    EXPECT_EQ(index, 2);
    EXPECT_EQ(folder, "/old");
    EXPECT_EQ(d.MessageBox("t", "c", MB_OK), IDOK);
    EXPECT_EQ(d.SendMail(TMailMessage{}), SUCCESS_SUCCESS);
    EXPECT_EQ(d.printCalls, 1);
    ASSERT_EQ(d.saveCalls.size(), 1u);
    EXPECT_EQ(d.saveCalls[0].filter, "*.jpg|*.jpg");
    EXPECT_EQ(d.saveCalls[0].initialName, "keep.bmp");
    EXPECT_EQ(d.saveCalls[0].filterIndex, 2);
    ASSERT_EQ(d.folderCalls.size(), 1u);
    EXPECT_EQ(d.folderCalls[0].initialDir, "/in");
}

TEST(ScriptedDesktop, AnswersAreTakenInOrderAndCallsRecorded) {
    TScriptedDesktop d;
    d.openAnswers.push_back({true, "/a.jpg", 0});
    d.openAnswers.push_back({false, "/ignored.jpg", 0});
    d.saveAnswers.push_back({true, "/out.wmf", 3});
    d.messageBoxAnswers = {IDYES, IDNO};
    d.mailResults = {MAPI_E_FAILURE};
    d.openURLResult = false;

    std::string name;
    EXPECT_TRUE(d.OpenPictureDialog("f", name));
    EXPECT_EQ(name, "/a.jpg");
    EXPECT_FALSE(d.OpenPictureDialog("f", name));
    EXPECT_EQ(name, "/a.jpg");
    int index = 1;
    EXPECT_TRUE(d.SavePictureDialog("f", name, index));
    EXPECT_EQ(name, "/out.wmf");
    EXPECT_EQ(index, 3);
    EXPECT_EQ(d.MessageBox("one", "Warning", MB_YESNO), IDYES);
    EXPECT_EQ(d.MessageBox("two", "Warning", MB_YESNO), IDNO);
    EXPECT_EQ(d.MessageBox("three", "Warning", MB_OK), IDOK);
    d.ShowMessage("hello");
    TMailMessage m;
    m.Subject = "s";
    EXPECT_EQ(d.SendMail(m), MAPI_E_FAILURE);
    EXPECT_EQ(d.SendMail(m), SUCCESS_SUCCESS);
    EXPECT_FALSE(d.OpenURL("https://example.org/"));

    ASSERT_EQ(d.messageBoxes.size(), 3u);
    EXPECT_EQ(d.messageBoxes[1].text, "two");
    EXPECT_EQ(d.messageBoxes[1].caption, "Warning");
    EXPECT_EQ(d.messageBoxes[1].flags, MB_YESNO);
    ASSERT_EQ(d.messages.size(), 1u);
    EXPECT_EQ(d.messages[0], "hello");
    ASSERT_EQ(d.mails.size(), 2u);
    EXPECT_EQ(d.mails[0].Subject, "s");
    ASSERT_EQ(d.urls.size(), 1u);
    EXPECT_EQ(d.urls[0], "https://example.org/");
}

TEST(ScriptedDesktop, InstalledDesktopReceivesThePlatformCalls) {
    auto scripted = std::make_unique<TScriptedDesktop>();
    TScriptedDesktop* d = scripted.get();
    auto previous = SetDesktop(std::move(scripted));
    ShowMessage("Please input a valid integer value.");
    EXPECT_EQ(MessageBoxA("boom", "Error", MB_OK | MB_ICONERROR), IDOK);
    ASSERT_EQ(d->messages.size(), 1u);
    EXPECT_EQ(d->messages[0], "Please input a valid integer value.");
    // The core's message box reaches the desktop only once the application
    // installed the hook; either way nothing waits.
    auto mine = SetDesktop(std::move(previous));
    EXPECT_EQ(mine.get(), d);
}

TEST(ScriptedDesktop, APictureLoadOpensOneWarningBoxAtMost) {
    auto scripted = std::make_unique<TScriptedDesktop>();
    TScriptedDesktop* d = scripted.get();
    auto previous = SetDesktop(std::move(scripted));
    const uint64_t first = NewPictureLoad(), second = NewPictureLoad();
    PictureWarning(first, "JPEG decompression error. Unexpected end of input.");
    PictureWarning(first, "Corrupt JPEG data");
    PictureWarning(second, "second picture");
    auto mine = SetDesktop(std::move(previous));
    ASSERT_EQ(d->messageBoxes.size(), 2u);
    EXPECT_EQ(d->messageBoxes[0].text, "JPEG decompression error. Unexpected end of input.");
    EXPECT_EQ(d->messageBoxes[0].caption, "Warning");
    EXPECT_EQ(d->messageBoxes[0].flags, MB_OK | MB_ICONWARNING);
    EXPECT_EQ(d->messageBoxes[1].text, "second picture");
}

TEST(ScriptedDesktop, PrintAnswerSendsThePrinterToAPdfFile) {
    TScriptedDesktop d;
    d.printAnswers.push_back({true, "/tmp/quillarc_scripted.pdf"});
    TPrinter printer;
    EXPECT_TRUE(d.PrintDialog(printer));
    EXPECT_EQ(printer.OutputFileName(), "/tmp/quillarc_scripted.pdf");
}

TEST(MailCommand, SubjectBodyAttachmentsThenRecipient) {
    TMailMessage m;
    m.Subject = "Give you my great work, wonderful color sketch!";
    m.NoteText = "line one\r\nline two";
    m.Attachments.push_back({"/home/u/mywork.jpg", "mywork.jpg", -1});
    m.Attachments.push_back({"", "empty", -1});
    m.Attachments.push_back({"/tmp/b c.jpg", "b c.jpg", -1});
    m.Recipients.push_back({MAPI_TO, "friend@example.org", "SMTP:friend@example.org"});
    std::vector<std::string> expected{"--utf8", "--subject", m.Subject, "--body", m.NoteText,
                                      "--attach", "/home/u/mywork.jpg", "--attach", "/tmp/b c.jpg",
                                      "friend@example.org"};
    EXPECT_EQ(MailCommandArguments(m), expected);
}

TEST(MailCommand, NoRecipientAndHostileAddresses) {
    TMailMessage m;
    m.Subject = "s";
    EXPECT_EQ(MailCommandArguments(m), (std::vector<std::string>{"--utf8", "--subject", "s"}));
    // An address that would read as an option is not handed over.
    m.Recipients.push_back({MAPI_TO, "--attach=/etc/passwd", "SMTP:--attach=/etc/passwd"});
    m.Recipients.push_back({MAPI_TO, "x", "SMTP:"});
    EXPECT_EQ(MailCommandArguments(m), (std::vector<std::string>{"--utf8", "--subject", "s"}));
}

TEST(PrinterMapping, OwnScaleIsIdentityAndBadScalesAreRefused) {
    TPrinter& p = Printer();
    const long double own = p.DotsPerMillimetreX();
    ASSERT_GT(own, 0);
    TRect r = Rect(100, 200, 300, 500);
    EXPECT_EQ(p.MapRect(r, own), r);
    EXPECT_THROW(p.MapRect(r, 0), EPrinter);
    EXPECT_THROW(p.MapRect(r, -14.4L), EPrinter);
    // Far-off corners saturate rather than wrap around.
    TRect huge = Rect(-2000000000, -2000000000, 2000000000, 2000000000);
    TRect m = p.MapRect(huge, 0.001L);
    EXPECT_LT(m.Left, 0);
    EXPECT_GT(m.Right, 0);
}

TEST(PrinterMapping, MillimetresSurviveTheDeviceResolution) {
    TPrinter& p = Printer();
    // 92 mm at 14.4 dots per millimetre is 1324.8, stored as 1325 dots.
    TRect r = Rect(1325, 1944, 1325 + 360, 1944 + 389);
    TRect m = p.MapRect(r, 14.4L);
    const long double dpmm = p.DotsPerMillimetreX();
    EXPECT_NEAR(m.Left / dpmm, 1325 / 14.4L, 0.05L);
    EXPECT_NEAR(m.Top / dpmm, 1944 / 14.4L, 0.05L);
    EXPECT_NEAR(m.Width() / dpmm, 360 / 14.4L, 0.05L);
}

TEST(PrinterMapping, DrawingOutsideADocumentIsAnError) {
    TPrinter p;
    TBitmap b;
    b.SetSize(2, 2);
    EXPECT_THROW(p.EndDoc(), EPrinter);
    EXPECT_THROW(p.StretchDraw(Rect(0, 0, 10, 10), b), EPrinter);
    EXPECT_THROW(p.NewPage(), EPrinter);
    p.Abort();  // nothing to abort: no effect
}

// Bounding box of the non-white pixels of a binary PPM.
bool DarkBox(const std::string& ppm, int& left, int& top, int& right, int& bottom, int& width, int& height) {
    std::ifstream in(ppm, std::ios::binary);
    std::string magic;
    int maxval;
    in >> magic >> width >> height >> maxval;
    in.get();
    if (magic != "P6" || width <= 0 || height <= 0) return false;
    std::string data(static_cast<size_t>(width) * height * 3, '\0');
    in.read(data.data(), static_cast<std::streamsize>(data.size()));
    left = width, top = height, right = -1, bottom = -1;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const unsigned char* px = reinterpret_cast<const unsigned char*>(&data[(static_cast<size_t>(y) * width + x) * 3]);
            if (px[0] > 200 && px[1] > 200 && px[2] > 200) continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    return right >= 0;
}

TEST(PrinterPdf, PictureLandsAtItsMillimetres) {
    if (std::system("command -v pdftoppm > /dev/null 2>&1") != 0) GTEST_SKIP() << "pdftoppm not installed";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string pdf = dir.filePath("page.pdf").toStdString();

    TBitmap picture;
    picture.SetPixelFormat(TPixelFormat::pf24bit);
    picture.SetSize(40, 40);
    picture.Canvas().Brush.Color = clNavy;
    picture.Canvas().FillRect(Rect(0, 0, 40, 40));

    TPrinter p;
    p.SetOutputFileName(pdf);
    p.BeginDoc();
    // Top 135 mm, Left 92 mm, 25 x 27 mm, in dots of 14.4 per millimetre.
    const TRect dots = Rect(1325, 1944, 1325 + 360, 1944 + 389);
    p.StretchDrawAtScale(dots, 14.4L, picture);
    p.EndDoc();
    ASSERT_TRUE(QFile::exists(QString::fromStdString(pdf)));

    // 254 dpi: 10 pixels per millimetre.
    const std::string base = dir.filePath("page").toStdString();
    const std::string cmd = "pdftoppm -r 254 -singlefile \"" + pdf + "\" \"" + base + "\"";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    int l = 0, t = 0, r = 0, b = 0, w = 0, h = 0;
    ASSERT_TRUE(DarkBox(base + ".ppm", l, t, r, b, w, h));
    EXPECT_NEAR(w, 2100, 3);  // A4 portrait
    EXPECT_NEAR(h, 2970, 3);
    EXPECT_NEAR(l, 920, 3);
    EXPECT_NEAR(t, 1350, 3);
    EXPECT_NEAR(r + 1 - l, 250, 3);
    EXPECT_NEAR(b + 1 - t, 270, 3);
}

}  // namespace
