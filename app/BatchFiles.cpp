#include "app/BatchFiles.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "app/Image32.h"
#include "app/PictureFiles.h"
#include "app/SketchState.h"
#include "platform/core/Dialogs.h"
#include "platform/core/Jpeg.h"
#include "platform/core/SysUtils.h"

namespace {

char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Classic wildcard match with one backtracking point: the last '*' seen.
bool WildcardMatch(const std::string& name, const std::string& pattern) {
    size_t n = 0, p = 0;
    size_t starP = std::string::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || FoldCase(pattern[p]) == FoldCase(name[n]))) {
            ++p;
            ++n;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

// Byte length of s less its last count UTF-8 characters (0 when it has no
// more than count). A stray continuation byte counts with its lead.
size_t LengthLessChars(const std::string& s, size_t count) {
    size_t end = s.size();
    while (count > 0 && end > 0) {
        --end;
        while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
        --count;
    }
    return count > 0 ? 0 : end;
}

}  // namespace

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (!dir.empty() && dir.back() == '/') return dir + name;
    return dir + "/" + name;
}

bool MatchesMask(const std::string& name, const std::string& pattern) { return WildcardMatch(name, pattern); }

void AddFilesToList(const std::string& mask, std::vector<std::string>& list) {
    const size_t slash = mask.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : mask.substr(0, slash));
    const std::string pattern = slash == std::string::npos ? mask : mask.substr(slash + 1);

    std::vector<std::string> found;
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec), end;
    // The iterator never yields "." and ".."; entries of every kind are kept.
    for (; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name == "." || name == "..") continue;
        if (WildcardMatch(name, pattern)) found.push_back(std::move(name));
    }
    std::sort(found.begin(), found.end());
    list.insert(list.end(), found.begin(), found.end());
}

std::vector<std::string> ListBatchFolder(const std::string& folder) {
    std::vector<std::string> list;
    for (const char* mask : kBatchMasks) AddFilesToList(JoinPath(folder, mask), list);
    return list;
}

std::string BatchOutputName(const std::string& outputDir, const std::string& caption, const std::string& suffix) {
    return JoinPath(outputDir, caption.substr(0, LengthLessChars(caption, 4)) + "-" + suffix + ".jpg");
}

void FillAlpha(TBitmap32& bitmap, uint8_t value) { TBitmap32::SetAlphaChannel(bitmap, value); }

std::unique_ptr<TBitmap32> LoadBatchPicture(const std::string& path) {
    std::unique_ptr<TBitmap> loaded;
    try {
        loaded = LoadPictureFile(path);
    } catch (const EInvalidGraphic&) {
        // A damaged file is reported like an unreadable one and the batch
        // goes on with the next item instead of ending on it.
        loaded.reset();
    } catch (const EStreamError&) {
        loaded.reset();  // vanished or unreadable since it was listed
    } catch (const EOutOfMemory&) {
        loaded.reset();  // dimensions beyond what a bitmap may hold
    }
    if (!loaded || loaded->Width() <= 0) {
        MessageBoxA(path + " is not a valid format", "Sorry", MB_OK);
        return nullptr;
    }
    auto bitmap = std::make_unique<TBitmap32>();
    bitmap->TakePicture(*loaded);
    loaded.reset();
    FillAlpha(*bitmap, 255);
    return bitmap;
}

void SaveBatchPicture(const TBitmap& bitmap, const std::string& fileName) {
    TJPEGImage jpeg;
    jpeg.Assign(&bitmap);
    jpeg.SaveToFile(fileName);
}

bool RunBatch(const std::string& inputText, const std::string& outputText, int itemCount,
              const TBatchSteps& steps) {
    InputDir = Trim(inputText);
    if (!DirectoryExists(InputDir)) {
        MessageBoxA(kNoInputFolderText, "Sorry", MB_OK);
        return false;
    }
    if (itemCount <= 0) {
        MessageBoxA(kNoPictureText, "Sorry", MB_OK);
        return false;
    }
    OutputDir = Trim(outputText);
    // Not checked here: when the folder cannot be made, the first save fails.
    if (!DirectoryExists(OutputDir)) ForceDirectories(OutputDir);

    {
        // Each item's conversion fills its share of the dialog's bar.
        struct BatchOver {
            ~BatchOver() { SetBatchShare(0, 0); }
        } batchOver;
        for (int i = 1; i <= itemCount; ++i) {
            // A picture that cannot be loaded is skipped: converting whatever the
            // panes still hold would write a wrong picture under its name.
            if (!steps.InputPicture(i)) continue;
            steps.Refresh();
            SetBatchShare(i - 1, itemCount);
            steps.Convert();
            steps.Refresh();
            steps.OutputPicture(i);
        }
    }
    steps.ShowMessage(kBatchCompleteText);
    return true;
}
