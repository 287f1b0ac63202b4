// "Tell a friend" and "Online" below the windows: the message records in
// the layout of the platform's simple mail interface, built from a
// name=value list, and the hook through which the form layer hands them to
// the desktop's mail client.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TBitmap;
class TStringList;

inline constexpr uint32_t MAPI_TO = 1;
inline constexpr uint32_t MAPI_LOGON_UI = 0x1;
inline constexpr uint32_t MAPI_NEW_SESSION = 0x2;
inline constexpr uint32_t MAPI_DIALOG = 0x8;
// Result codes.
inline constexpr uint32_t SUCCESS_SUCCESS = 0;
inline constexpr uint32_t MAPI_E_USER_ABORT = 1;
inline constexpr uint32_t MAPI_E_FAILURE = 2;

struct TMapiRecipDesc {
    uint32_t ulReserved = 0;
    uint32_t ulRecipClass = 0;
    std::string lpszName;
    std::string lpszAddress;  // "SMTP:" + the address
    uint32_t ulEIDSize = 0;   // no entry identifier
    bool operator==(const TMapiRecipDesc&) const = default;
};

struct TMapiFileDesc {
    uint32_t ulReserved = 0;
    uint32_t flFlags = 0;
    uint32_t nPosition = 0xFFFFFFFFu;  // not placed in the text
    std::string lpszPathName;          // full path
    std::string lpszFileName;          // the name without folder
    bool operator==(const TMapiFileDesc&) const = default;
};

// Fields left out of the records are zero (no file type, no message type,
// no originator).
struct TMapiMessage {
    std::string lpszSubject;
    std::string lpszNoteText;
    std::vector<TMapiRecipDesc> lpRecips;
    std::vector<TMapiFileDesc> lpFiles;
};

// Sends one message: window is the parent of the client's windows (0: none),
// flags as the platform's send call takes them. Returns its result code.
using TMailSender = std::function<uint32_t(uintptr_t window, const TMapiMessage& message, uint32_t flags)>;

// Returns the previous sender. With none installed every send fails with
// MAPI_E_FAILURE, as it does where no mail system is installed.
TMailSender SetMailSender(TMailSender sender);

// Builds the records from the lines "to", "subject", "body" and
// "attachment0", "attachment1", ... (read up to the first missing or empty
// one) and sends them with flags 11 (logon, new session, compose window)
// when window is not 0, else 3.
uint32_t SendMailMessage(uintptr_t window, const TStringList& message);

// The records SendMailMessage sends, and its flags.
TMapiMessage BuildMailMessage(const TStringList& message);
uint32_t MailFlags(uintptr_t window);

inline constexpr const char* kProductPage = "https://quillarc.example/";
inline constexpr const char* kDownloadAddress = "https://quillarc.example/download/";
inline constexpr const char* kTellAFriendSubject = "Give you my great work, wonderful color sketch!";

// The fixed text of "Tell a friend", lines joined with CR LF.
std::string TellAFriendBody();

// The folder of the program's own executable, with its trailing "/".
std::string ProgramFolder();

// "Tell a friend": bitmap is saved as folder + "mywork.jpg" (JPEG defaults,
// an existing file replaced), then mailed as its one attachment. A failed
// save raises the platform's file error and nothing is sent. The result of
// the send is returned; the program does not look at it.
uint32_t TellAFriend(const TBitmap& bitmap, const std::string& folder, uintptr_t window);
