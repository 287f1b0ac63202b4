// The few calls below the forms that wait for a person. The form layer
// installs a handler that shows a real message box; tests install one that
// answers from a script. Without a handler the text goes to standard error.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

constexpr unsigned MB_OK = 0x0;
constexpr unsigned MB_ICONWARNING = 0x30;
constexpr unsigned MB_ICONERROR = 0x10;
constexpr unsigned MB_ICONINFORMATION = 0x40;
constexpr int IDOK = 1;

using TMessageBoxHandler =
    std::function<int(const std::string& text, const std::string& caption, unsigned flags)>;

// Returns the previous handler.
TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler handler);
// A message box with no owner window.
int MessageBoxA(const std::string& text, const std::string& caption, unsigned flags = MB_OK);

// Warnings a picture meets while it loads: damage that is decoded around,
// such as a JPEG strip cut short. Each goes to the handler with the number
// of the load it belongs to (NewPictureLoad gives a load its number). The
// form layer shows the first warning of a load in a "Warning" box and drops
// the rest, so that one damaged picture opens one box at most; tests and
// the decode tool record them all. Without a handler every warning is a
// "Warning" message box.
using TPictureWarningHandler = std::function<void(uint64_t load, const std::string& text)>;

// Returns the previous handler.
TPictureWarningHandler SetPictureWarningHandler(TPictureWarningHandler handler);
uint64_t NewPictureLoad();
void PictureWarning(uint64_t load, const std::string& text);

// While one lives, the warnings of loads on the thread that made it are
// kept here instead of going to the handler: a load on a worker thread,
// whose picture may never be shown, has them reported with its picture
// (PictureWarning on the window thread) or not at all.
class TPictureWarningCapture {
public:
    struct TWarning {
        uint64_t load;
        std::string text;
    };
    TPictureWarningCapture();
    ~TPictureWarningCapture();
    TPictureWarningCapture(const TPictureWarningCapture&) = delete;
    TPictureWarningCapture& operator=(const TPictureWarningCapture&) = delete;
    std::vector<TWarning> Take();

private:
    TPictureWarningCapture* outer_;
    std::vector<TWarning> warnings_;
    friend void PictureWarning(uint64_t load, const std::string& text);
};
