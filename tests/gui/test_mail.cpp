// "Tell a friend" and "Online" from the main window, with the mail client
// and the browser answered by the scripted desktop.
#include "tests/gui/test_mainform_support.h"

#include "platform/core/Jpeg.h"

namespace windows_test {
namespace {

const char* const kBodyLines[] = {
    "Hello!",
    "",
    "Attachment is my great work. It is made by Quillarc.",
    "This is a good software. The download link is folows:",
    "https://quillarc.example/download/",
    "",
    "Please try it. It would give you happiness!",
    "Good luck!",
};

std::vector<std::string> SplitCrLf(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2)
        lines.push_back(text.substr(start, at - start));
    lines.push_back(text.substr(start));
    return lines;
}

class MailTest : public WindowsTest {
protected:
    void TearDown() override {
        std::filesystem::remove(ProgramFolder() + "mywork.jpg");
        WindowsTest::TearDown();
    }
};

TEST_F(MailTest, TellAFriendWritesMyworkBesideTheProgramAndMailsIt) {
    MainForm->SpeedButton5->Click();
    const std::string file = ProgramFolder() + "mywork.jpg";
    TJPEGImage jpeg;
    ASSERT_NO_THROW(jpeg.LoadFromFile(file));
    EXPECT_EQ(jpeg.Width(), MainForm->ResultBitmap().Width());
    EXPECT_EQ(jpeg.Height(), MainForm->ResultBitmap().Height());

    ASSERT_EQ(desktop->mails.size(), 1u);
    const TMailMessage& m = desktop->mails[0];
    EXPECT_EQ(m.Subject, "Give you my great work, wonderful color sketch!");
    EXPECT_EQ(SplitCrLf(m.NoteText), std::vector<std::string>(std::begin(kBodyLines), std::end(kBodyLines)));
    EXPECT_NE(m.NoteText.back(), '\n');
    EXPECT_TRUE(m.Recipients.empty());
    ASSERT_EQ(m.Attachments.size(), 1u);
    EXPECT_EQ(m.Attachments[0].PathName, file);
    EXPECT_EQ(m.Attachments[0].FileName, "mywork.jpg");
    EXPECT_EQ(m.Attachments[0].Position, -1);
    // With the main window as parent: logon, new session and the compose window.
    EXPECT_EQ(m.Flags, 11ul);
    EXPECT_NE(m.UIParent, 0ul);

    // What the desktop hands to xdg-email.
    EXPECT_EQ(MailCommandArguments(m),
              (std::vector<std::string>{"--utf8", "--subject", m.Subject, "--body", m.NoteText, "--attach", file}));
}

TEST_F(MailTest, MenuItemDoesTheSame) {
    MainForm->MainMenu1->Find({"Tool", "Tell friend"})->Click();
    ASSERT_EQ(desktop->mails.size(), 1u);
    EXPECT_EQ(desktop->mails[0].Attachments.at(0).FileName, "mywork.jpg");
}

TEST_F(MailTest, NoMailClientIsReportedAndThePictureKept) {
    desktop->mailResults = {MAPI_E_FAILURE, MAPI_USER_ABORT};
    MainForm->SpeedButton5->Click();
    MainForm->SpeedButton5->Click();  // the person closed the mail: nothing to say
    EXPECT_EQ(desktop->mails.size(), 2u);
    ASSERT_EQ(desktop->messageBoxes.size(), 1u);
    EXPECT_EQ(desktop->messageBoxes[0].text, kNoMailProgramText + ProgramFolder() + "mywork.jpg.");
    EXPECT_EQ(desktop->messageBoxes[0].caption, "Sorry");
    EXPECT_TRUE(std::filesystem::exists(ProgramFolder() + "mywork.jpg"));
}

TEST_F(MailTest, OnlineOpensTheProductPageFromToolbarAndMenu) {
    MainForm->SpeedButton6->Click();
    MainForm->MainMenu1->Find({"Help", "Online"})->Click();
    EXPECT_EQ(desktop->urls, (std::vector<std::string>{"https://quillarc.example/", "https://quillarc.example/"}));
    EXPECT_TRUE(desktop->messageBoxes.empty());
    desktop->openURLResult = false;  // no browser
    MainForm->SpeedButton6->Click();
    ASSERT_EQ(desktop->messageBoxes.size(), 1u);
    EXPECT_EQ(desktop->messageBoxes[0].text, std::string(kNoBrowserText) + "https://quillarc.example/.");
}

}  // namespace
}  // namespace windows_test
