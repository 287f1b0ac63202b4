// "Tell a friend" and "Online" below the windows: the simple-mail message
// built from a name=value list, and the hook through which the program
// hands it to the desktop's mail client. Only the record types of the form
// layer's desktop interface are used here, none of its code, so this links
// without Qt.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/forms/Desktop.h"

class TBitmap;
class TStringList;

// Sends one message (its UIParent and Flags filled in); returns the
// simple-mail result code.
using TMailSender = std::function<int(const TMailMessage& message)>;

// Returns the previous sender. With none installed every send fails with
// MAPI_E_FAILURE, as it does where no mail system is installed.
TMailSender SetMailSender(TMailSender sender);

// Builds the records from the lines "to", "subject", "body" and
// "attachment0", "attachment1", ... (read up to the first missing or empty
// one) and sends them with flags 11 (logon, new session, compose window)
// when window is not 0, else 3.
int SendMailMessage(uintptr_t window, const TStringList& message);

// The message SendMailMessage sends.
TMailMessage BuildMailMessage(uintptr_t window, const TStringList& message);

inline constexpr const char* kProductPage = "https://quillarc.example/";
inline constexpr const char* kDownloadAddress = "https://quillarc.example/download/";
inline constexpr const char* kTellAFriendSubject = "Give you my great work, wonderful color sketch!";

// What the person is told when no mail program or browser took the work
// (the mail text is followed by the picture's file name and a full stop).
inline constexpr const char* kNoMailProgramText =
    "No mail program could be started to send your picture. The picture is saved as ";
inline constexpr const char* kNoBrowserText = "No web browser could be started to show the page ";

// The fixed text of "Tell a friend", lines joined with CR LF.
std::string TellAFriendBody();

// The folder of the program's own executable, with its trailing "/".
std::string ProgramFolder();

// "Tell a friend": bitmap is saved as folder + "mywork.jpg" (JPEG defaults,
// an existing file replaced), then mailed as its one attachment. A failed
// save raises the platform's file error and nothing is sent. The result of
// the send is returned; the program does not look at it.
int TellAFriend(const TBitmap& bitmap, const std::string& folder, uintptr_t window);
