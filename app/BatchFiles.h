// The parts of batch conversion that need no window: listing a folder by
// mask, naming the outputs, loading and saving one item, and the loop that
// both conversion dialogs run.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TBitmap;
class TBitmap32;

// The masks of the input listing, in the order their matches are listed.
inline constexpr std::array<const char*, 4> kBatchMasks = {"*.jpg", "*.jpeg", "*.bmp", "*.wmf"};
inline constexpr const char* kBatchSuffix = "quillarc_out";

inline constexpr const char* kNoInputFolderText = "Input Director in not exist.";
inline constexpr const char* kNoPictureText = "There is no picture to convert.";
inline constexpr const char* kBatchCompleteText = "The batch convert is complete!";

// dir + "/" + name; a dir that already ends in "/" (the root) gets no second one.
std::string JoinPath(const std::string& dir, const std::string& name);

// A file-search wildcard: '*' any run, '?' one character, everything else
// itself, ASCII letters without regard to case, over the whole name.
bool MatchesMask(const std::string& name, const std::string& pattern);

// Appends the names (without folder) of the entries of mask's folder that
// match mask's last component: files of every kind, and folders whose own
// name matches; "." and ".." never. Subfolders are not entered. Within one
// mask the names come sorted by their bytes, so a listing is the same on
// every file system. An unreadable folder adds nothing.
void AddFilesToList(const std::string& mask, std::vector<std::string>& list);

// The whole input listing of a folder: the matches of each of kBatchMasks
// in turn.
std::vector<std::string> ListBatchFolder(const std::string& folder);

// outputDir + "/" + caption less its last four characters + "-" + suffix +
// ".jpg". Characters, not bytes, are cut; a caption of four characters or
// fewer leaves nothing of itself.
std::string BatchOutputName(const std::string& outputDir, const std::string& caption, const std::string& suffix);

// Sets the alpha byte of every pixel (the bitmap is made 32-bit first).
void FillAlpha(TBitmap32& bitmap, uint8_t value);

// Loads one batch item at 32 bits per pixel with alpha 255. A missing file,
// a listed folder, a picture of width 0, or a file its picture class
// rejects (unreadable, corrupt, too large) gives the loader's message box,
// path + " is not a valid format" with the caption "Sorry", and nullptr.
std::unique_ptr<TBitmap32> LoadBatchPicture(const std::string& path);

// Writes bitmap as a JPEG file with the JPEG class's defaults (quality 90,
// baseline); an existing file is replaced only once the new one is whole.
// Write errors pass out as the platform's exceptions.
void SaveBatchPicture(const TBitmap& bitmap, const std::string& fileName);

// What the loop needs of the main window and of the dialog running it.
struct TBatchSteps {
    // Loads item i (1-based) into both panes; false when it could not be
    // loaded (the message has been shown), and the item is skipped.
    std::function<bool(int)> InputPicture;
    std::function<void()> Refresh;      // the main window repaints itself
    std::function<void()> Convert;      // the dialog's per-item pipeline
    std::function<void(int)> OutputPicture;  // saves item i's result
    std::function<void(const std::string&)> ShowMessage;  // the completion message
};

// The "Convert" button of both batch panels. Sets InputDir and OutputDir
// from the (trimmed) edit texts, checks the input folder and the list,
// creates a missing output folder with its parents, converts items 1 to
// itemCount and shows the completion message. Returns whether the loop ran.
// Exceptions of the pipeline or of a save end the loop and pass out.
bool RunBatch(const std::string& inputText, const std::string& outputText, int itemCount,
              const TBatchSteps& steps);
