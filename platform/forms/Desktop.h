// Everything that waits for a person or hands work to the desktop goes
// through IDesktop: message boxes, file and folder dialogs, the print
// dialog, the mail client and the browser. The default implementation uses
// Qt and the freedesktop commands; tests install TScriptedDesktop so that no
// test waits for anyone.
#pragma once

#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/Dialogs.h"
#include "platform/core/Graphics.h"

constexpr unsigned MB_OKCANCEL = 0x1;
constexpr unsigned MB_YESNO = 0x4;
constexpr unsigned MB_ICONQUESTION = 0x20;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Simple-mail result codes and flags, as the program's mail code uses them.
constexpr unsigned long MAPI_LOGON_UI = 0x1;
constexpr unsigned long MAPI_NEW_SESSION = 0x2;
constexpr unsigned long MAPI_DIALOG = 0x8;
constexpr int SUCCESS_SUCCESS = 0;
constexpr int MAPI_USER_ABORT = 1;
constexpr int MAPI_E_FAILURE = 2;
constexpr int MAPI_E_LOGIN_FAILURE = 3;
constexpr unsigned long MAPI_TO = 1;

struct TMailRecipient {
    unsigned long RecipClass = MAPI_TO;
    std::string Name;     // display name
    std::string Address;  // e.g. "SMTP:someone@example.org"
};

struct TMailAttachment {
    std::string PathName;  // full path
    std::string FileName;  // name shown to the mail client
    long Position = -1;
};

struct TMailMessage {
    std::string Subject;
    std::string NoteText;
    std::vector<TMailRecipient> Recipients;
    std::vector<TMailAttachment> Attachments;
    unsigned long Flags = 0;      // MAPI_LOGON_UI | MAPI_NEW_SESSION | MAPI_DIALOG
    unsigned long UIParent = 0;   // 0: no window
};

class TPrinter;

// ------------------------------------------------------------ desktop

class IDesktop {
public:
    virtual ~IDesktop() = default;
    // Returns IDOK, IDCANCEL, IDYES or IDNO.
    virtual int MessageBox(const std::string& text, const std::string& caption, unsigned flags) = 0;
    // The simple message dialog: caption = the application's title.
    virtual void ShowMessage(const std::string& text) = 0;
    // filter: "desc|pattern|desc|pattern". fileName in: the initial name;
    // out: the chosen file. False when cancelled.
    virtual bool OpenPictureDialog(const std::string& filter, std::string& fileName) = 0;
    // filterIndex in/out: 1-based.
    virtual bool SavePictureDialog(const std::string& filter, std::string& fileName, int& filterIndex) = 0;
    // Opens on initialDir (else the home folder); path out.
    virtual bool BrowseForFolder(const std::string& title, const std::string& initialDir, std::string& path) = 0;
    // Lets the person choose the printer; sets printer up. False when cancelled.
    virtual bool PrintDialog(TPrinter& printer) = 0;
    // Hands the message to the mail client; a simple-mail result code.
    virtual int SendMail(const TMailMessage& message) = 0;
    // Opens the address in the browser.
    virtual bool OpenURL(const std::string& url) = 0;
    // The size of the screen the forms are shown on.
    virtual int ScreenWidth() const = 0;
    virtual int ScreenHeight() const = 0;
    // The part of that screen windows may cover (without the desktop's
    // panels); the whole screen unless a desktop says otherwise.
    virtual TRect WorkArea() const;
    // The work area of the screen that holds point, or WorkArea when no
    // screen does (or the desktop knows only the one).
    virtual TRect WorkAreaAt(const TPoint& point) const;
};

// The desktop in use (the Qt one unless a test installed another).
IDesktop& Desktop();
// Installs desktop (nullptr: the Qt one again); returns the previous one.
std::unique_ptr<IDesktop> SetDesktop(std::unique_ptr<IDesktop> desktop);
// The Qt implementation.
std::unique_ptr<IDesktop> CreateQtDesktop();
// The platform calls the program makes.
void ShowMessage(const std::string& text);

struct TPreviewRead;

// What the open dialog's preview shows: the picture file selected, read
// through the picture registry and kept for as long as it is selected,
// drawn into a width x height bitmap (32 bits per pixel), fitted keeping
// its proportions and centred over backdrop, which shows wherever the
// picture draws nothing (transparent pixels included) and through the
// picture's alpha. A picture larger than the area is shrunk by averaging
// the pixels each preview pixel covers; a smaller one is stretched pixel
// for pixel. An animated GIF plays: whenever its picture changes, OnChange
// asks for the bitmap to be drawn again.
class TPicturePreview {
public:
    TPicturePreview(int32_t width, int32_t height, TColor backdrop);
    ~TPicturePreview();
    TPicturePreview(const TPicturePreview&) = delete;
    TPicturePreview& operator=(const TPicturePreview&) = delete;

    // Lets the picture shown before go (stopping its animation) and reads
    // fileName ("" for none). Raises the reader's exception when the file
    // cannot be read, leaving the preview empty.
    void Select(const std::string& fileName);
    // As Select, with the file read on a thread of its own, so that a slow
    // file holds nothing up: the picture shown before goes at once, and
    // once the read is over, OnLoaded runs on the window thread with the
    // picture in place (nullptr) or the reader's exception. Another
    // selection, or the preview's end, abandons the read: it stops at its
    // reader's next progress report where the reader makes them, and
    // nothing of it is shown or reported, its warnings included.
    void SelectInBackground(const std::string& fileName);
    bool Reading() const { return reading_ != nullptr; }
    bool HasPicture() const { return picture_ != nullptr; }
    // The picture's own size.
    TPoint PictureSize() const;
    // The preview drawn anew; an empty picture gives the backdrop alone.
    const TBitmap& Render();

    std::function<void()> OnChange;
    std::function<void(std::exception_ptr error)> OnLoaded;

private:
    friend void FinishPreviewRead(const std::shared_ptr<TPreviewRead>& read);
    void Abandon();
    void Show(std::unique_ptr<TPicture> picture);

    TBitmap bitmap_;
    TBitmap own_;  // the picture at its own size over the backdrop
    TColor backdrop_;
    std::unique_ptr<TPicture> picture_;
    std::shared_ptr<TPreviewRead> reading_;
};

// Abandons every preview's background read and waits for their threads,
// so that none outlives the application (which calls it at its end).
void WaitForPreviewReads();

// The preview of one file at once, as a bitmap of its own.
std::unique_ptr<TBitmap> PreviewBitmap(const std::string& fileName, int32_t width, int32_t height, TColor backdrop,
                                       TPoint* pictureSize = nullptr);

// The argument list the Qt desktop hands to xdg-email (tests).
std::vector<std::string> MailCommandArguments(const TMailMessage& message);

// Answers from queues and records every call; never waits. An empty queue
// answers a dialog with "cancel" (false), a message box with IDOK, a mail
// with SUCCESS_SUCCESS.
class TScriptedDesktop : public IDesktop {
public:
    struct TMessageCall {
        std::string text, caption;
        unsigned flags;
    };
    struct TFileCall {
        std::string filter, initialName;
        int filterIndex;
    };
    struct TFolderCall {
        std::string title, initialDir;
    };
    struct TFileAnswer {
        bool ok;
        std::string fileName;
        int filterIndex;
    };
    struct TFolderAnswer {
        bool ok;
        std::string path;
    };
    struct TPrintAnswer {
        bool ok;
        std::string pdfPath;  // the printer prints to this PDF file
    };

    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
    void ShowMessage(const std::string& text) override;
    bool OpenPictureDialog(const std::string& filter, std::string& fileName) override;
    bool SavePictureDialog(const std::string& filter, std::string& fileName, int& filterIndex) override;
    bool BrowseForFolder(const std::string& title, const std::string& initialDir, std::string& path) override;
    bool PrintDialog(TPrinter& printer) override;
    int SendMail(const TMailMessage& message) override;
    bool OpenURL(const std::string& url) override;
    int ScreenWidth() const override { return screenWidth; }
    int ScreenHeight() const override { return screenHeight; }
    TRect WorkArea() const override { return workArea.IsEmpty() ? IDesktop::WorkArea() : workArea; }

    // Answers.
    std::deque<int> messageBoxAnswers;  // empty: IDOK
    std::deque<TFileAnswer> openAnswers;
    std::deque<TFileAnswer> saveAnswers;
    std::deque<TFolderAnswer> folderAnswers;
    std::deque<TPrintAnswer> printAnswers;
    std::deque<int> mailResults;  // empty: SUCCESS_SUCCESS
    bool openURLResult = true;
    int screenWidth = 1024, screenHeight = 768;
    TRect workArea;  // empty: the whole screen

    // Records.
    std::vector<TMessageCall> messageBoxes;
    std::vector<std::string> messages;  // ShowMessage texts
    std::vector<TFileCall> openCalls;
    std::vector<TFileCall> saveCalls;
    std::vector<TFolderCall> folderCalls;
    int printCalls = 0;
    std::vector<TMailMessage> mails;
    std::vector<std::string> urls;
};
