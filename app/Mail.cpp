#include "app/Mail.h"

#include <unistd.h>

#include <mutex>
#include <vector>

#include "platform/core/Classes.h"
#include "platform/core/Jpeg.h"
#include "platform/core/SysUtils.h"

namespace {

std::mutex senderMutex;
TMailSender& Sender() {
    static TMailSender sender;
    return sender;
}

}  // namespace

TMailSender SetMailSender(TMailSender sender) {
    std::lock_guard lock(senderMutex);
    TMailSender previous = std::move(Sender());
    Sender() = std::move(sender);
    return previous;
}

TMailMessage BuildMailMessage(uintptr_t window, const TStringList& message) {
    TMailMessage mail;
    const std::string to = message.Value("to");
    if (!to.empty()) {
        TMailRecipient recipient;
        recipient.RecipClass = MAPI_TO;
        recipient.Name = to;
        recipient.Address = "SMTP:" + to;
        mail.Recipients.push_back(std::move(recipient));
    }
    for (int index = 0;; ++index) {
        const std::string path = message.Value("attachment" + std::to_string(index));
        if (path.empty()) break;
        TMailAttachment file;
        file.PathName = path;
        file.FileName = ExtractFileName(path);
        file.Position = -1;  // not placed in the text
        mail.Attachments.push_back(std::move(file));
    }
    mail.Subject = message.Value("subject");
    mail.NoteText = message.Value("body");
    mail.UIParent = static_cast<unsigned long>(window);
    // With a window the client shows its compose window for the person to
    // finish and send the message.
    mail.Flags = window != 0 ? MAPI_LOGON_UI | MAPI_NEW_SESSION | MAPI_DIALOG : MAPI_LOGON_UI | MAPI_NEW_SESSION;
    return mail;
}

int SendMailMessage(uintptr_t window, const TStringList& message) {
    const TMailMessage mail = BuildMailMessage(window, message);
    TMailSender sender;
    {
        std::lock_guard lock(senderMutex);
        sender = Sender();
    }
    if (!sender) return MAPI_E_FAILURE;
    return sender(mail);
}

std::string TellAFriendBody() {
    TStringList lines;
    lines.Add("Hello!");
    lines.Add("");
    lines.Add("Attachment is my great work. It is made by Quillarc.");
    lines.Add("This is a good software. The download link is folows:");
    lines.Add(kDownloadAddress);
    lines.Add("");
    lines.Add("Please try it. It would give you happiness!");
    lines.Add("Good luck!");
    return lines.Text();
}

std::string ProgramFolder() {
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return "./";
        if (static_cast<size_t>(n) < buffer.size()) return ExtractFilePath(std::string(buffer.data(), size_t(n)));
        if (buffer.size() >= (size_t(1) << 20)) return "./";
        buffer.resize(buffer.size() * 2);
    }
}

int TellAFriend(const TBitmap& bitmap, const std::string& folder, uintptr_t window) {
    const std::string base = folder + "mywork";
    const std::string fileName = ChangeFileExt(base, ".jpg");
    {
        TJPEGImage jpeg;
        jpeg.Assign(&bitmap);
        jpeg.SaveToFile(fileName);
    }
    TStringList message;
    message.SetValue("subject", kTellAFriendSubject);
    message.SetValue("body", TellAFriendBody());
    message.SetValue("attachment0", fileName);
    return SendMailMessage(window, message);
}
