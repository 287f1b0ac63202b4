// The program's main block: creates every window once, in the order the
// windows rely on, and runs the message loop until the main window closes.
#include <QApplication>
#include <QIcon>
#include <QPixmap>

#include "app/About_Us_s.h"
#include "app/Codecs.h"
#include "app/MainForm_s.h"
#include "app/Mail.h"
#include "app/ViewForm_s.h"
#include "platform/forms/Forms.h"
#include "print/Print_Setup_s.h"
#include "professional/Setup_s.h"
#include "standard/Standard_s.h"

namespace {

void SetProgramIcon() {
    const std::vector<uint8_t> png = LoadResource("quillarc.png");
    QPixmap icon;
    if (icon.loadFromData(png.data(), static_cast<unsigned>(png.size()), "PNG")) QApplication::setWindowIcon(QIcon(icon));
}

}  // namespace

int ProgramStartup(int argc, char** argv) {
    // The codecs join the picture registry before any window exists, and
    // leave it after the last one is gone.
    TPictureCodecs codecs;
    TApplication application(argc, argv);
    Application->Initialize();
    Application->SetTitle("Quillarc");
    SetProgramIcon();
    // "Tell a friend" hands its message to the desktop's mail client.
    SetMailSender([](const TMailMessage& message) { return Desktop().SendMail(message); });

    // The main window first: it becomes the main window, and its FormCreate
    // runs before any dialog exists.
    Application->CreateForm(MainForm, "MainForm");
    Application->CreateForm(Setup_For_Color_Sketch, "Setup_For_Color_Sketch");
    Application->CreateForm(ViewForm, "ViewForm");
    Application->CreateForm(About_Us, "About_Us");
    Application->CreateForm(Standard, TStandard::DescriptionName(TStandard::ProgramRevision()));
    Application->CreateForm(Print_Setup, "Print_Setup");
    Application->Run();
    SetMailSender(nullptr);
    return 0;
}

int main(int argc, char** argv) { return ProgramStartup(argc, argv); }
