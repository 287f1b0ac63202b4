#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "app/Mail.h"
#include "platform/core/Classes.h"
#include "platform/core/Graphics.h"
#include "platform/core/Jpeg.h"
#include "platform/core/SysUtils.h"

namespace fs = std::filesystem;

namespace {

// Records what reaches the mail client.
class MailTest : public testing::Test {
protected:
    void SetUp() override {
        previous_ = SetMailSender([this](const TMailMessage& m) {
            ++calls_;
            window_ = m.UIParent;
            sent_ = m;
            flags_ = m.Flags;
            return result_;
        });
    }
    void TearDown() override { SetMailSender(previous_); }

    TMailSender previous_;
    int calls_ = 0;
    unsigned long window_ = 0;
    TMailMessage sent_;
    unsigned long flags_ = 0;
    int result_ = SUCCESS_SUCCESS;
};

TEST_F(MailTest, FlagsWithAndWithoutAWindow) {
    TStringList list;
    list.SetValue("subject", "s");
    EXPECT_EQ(SendMailMessage(77, list), SUCCESS_SUCCESS);
    EXPECT_EQ(flags_, 11u);
    EXPECT_EQ(window_, 77ul);
    SendMailMessage(0, list);
    EXPECT_EQ(flags_, 3u);
}

TEST_F(MailTest, ResultCodeIsPassedBack) {
    result_ = MAPI_USER_ABORT;
    TStringList list;
    EXPECT_EQ(SendMailMessage(1, list), MAPI_USER_ABORT);
}

TEST_F(MailTest, RecipientNameUnchangedAndAddressWithSmtp) {
    TStringList list;
    list.SetValue("to", "friend@example.org");
    SendMailMessage(0, list);
    ASSERT_EQ(sent_.Recipients.size(), 1u);
    EXPECT_EQ(sent_.Recipients[0].RecipClass, MAPI_TO);
    EXPECT_EQ(sent_.Recipients[0].Name, "friend@example.org");
    EXPECT_EQ(sent_.Recipients[0].Address, "SMTP:friend@example.org");
}

TEST_F(MailTest, NoToLineNoRecipientAndEmptyTextsStayEmpty) {
    TStringList list;
    SendMailMessage(0, list);
    EXPECT_TRUE(sent_.Recipients.empty());
    EXPECT_TRUE(sent_.Attachments.empty());
    EXPECT_EQ(sent_.Subject, "");
    EXPECT_EQ(sent_.NoteText, "");
}

TEST_F(MailTest, AttachmentsUpToTheFirstGap) {
    TStringList list;
    list.SetValue("attachment0", "/a/first.jpg");
    list.SetValue("attachment2", "/a/third.jpg");
    SendMailMessage(0, list);
    ASSERT_EQ(sent_.Attachments.size(), 1u);
    EXPECT_EQ(sent_.Attachments[0].PathName, "/a/first.jpg");
    EXPECT_EQ(sent_.Attachments[0].FileName, "first.jpg");
    EXPECT_EQ(sent_.Attachments[0].Position, -1);

    list.SetValue("attachment1", "");  // an empty value ends the list too
    SendMailMessage(0, list);
    EXPECT_EQ(sent_.Attachments.size(), 1u);
    list.SetValue("attachment1", "/b/second.bmp");
    SendMailMessage(0, list);
    ASSERT_EQ(sent_.Attachments.size(), 3u);
    EXPECT_EQ(sent_.Attachments[1].FileName, "second.bmp");
    EXPECT_EQ(sent_.Attachments[2].FileName, "third.jpg");
}

TEST(Mail, WithoutAMailSystemTheSendFails) {
    TMailSender previous = SetMailSender(nullptr);
    TStringList list;
    list.SetValue("subject", "s");
    EXPECT_EQ(SendMailMessage(1, list), MAPI_E_FAILURE);
    SetMailSender(previous);
}

TEST(Mail, BodyLinesWithCrLfAndNoBreakAtTheEnd) {
    EXPECT_EQ(TellAFriendBody(),
              "Hello!\r\n"
              "\r\n"
              "Attachment is my great work. It is made by Quillarc.\r\n"
              "This is a good software. The download link is folows:\r\n"
              "https://quillarc.example/download/\r\n"
              "\r\n"
              "Please try it. It would give you happiness!\r\n"
              "Good luck!");
}

TEST(Mail, ProgramFolderIsTheTestExecutablesFolder) {
    const std::string folder = ProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_EQ(fs::canonical(folder), fs::canonical("/proc/self/exe").parent_path());
}

TEST_F(MailTest, TellAFriendSavesMyworkThenMailsIt) {
    const fs::path dir = fs::path(testing::TempDir()) / ("quillarc_mail_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    TBitmap bmp;
    bmp.SetPixelFormat(TPixelFormat::pf24bit);
    bmp.SetSize(6, 4);
    const std::string folder = dir.string() + "/";
    TellAFriend(bmp, folder, 5);

    const std::string file = folder + "mywork.jpg";
    TJPEGImage jpeg;
    ASSERT_NO_THROW(jpeg.LoadFromFile(file));
    EXPECT_EQ(jpeg.Width(), 6);
    EXPECT_EQ(calls_, 1);
    EXPECT_EQ(flags_, 11u);
    EXPECT_EQ(sent_.Subject, "Give you my great work, wonderful color sketch!");
    EXPECT_EQ(sent_.NoteText, TellAFriendBody());
    EXPECT_TRUE(sent_.Recipients.empty());
    ASSERT_EQ(sent_.Attachments.size(), 1u);
    EXPECT_EQ(sent_.Attachments[0].PathName, file);
    EXPECT_EQ(sent_.Attachments[0].FileName, "mywork.jpg");
    fs::remove_all(dir);
}

TEST_F(MailTest, UnwritableFolderRaisesAndSendsNothing) {
    TBitmap bmp;
    bmp.SetPixelFormat(TPixelFormat::pf24bit);
    bmp.SetSize(2, 2);
    EXPECT_THROW(TellAFriend(bmp, "/nonexistent-quillarc-folder/", 5), EStreamError);
    EXPECT_EQ(calls_, 0);
}

}  // namespace
