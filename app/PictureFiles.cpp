#include "app/PictureFiles.h"

#include "gif/GIFPicture.h"
#include "platform/core/Dialogs.h"
#include "platform/core/Icon.h"
#include "platform/core/Jpeg.h"
#include "platform/core/Metafile.h"
#include "platform/core/SysUtils.h"

namespace {

// The picture class is chosen by the name, not the content: the last four
// characters, upper-cased (".jpeg" gives "JPEG").
std::string LastFourUpper(const std::string& fileName) {
    return UpperCase(fileName.size() > 4 ? fileName.substr(fileName.size() - 4) : fileName);
}

void LoadIcon(TBitmap& result, const std::string& fileName) {
    // The one branch that reports its own failure and goes on with whatever
    // the result holds (an unreadable icon leaves it empty).
    try {
        TIcon icon;
        icon.LoadFromFile(fileName);
        result.SetWidth(icon.Width());
        result.SetHeight(icon.Height());
        result.SetPixelFormat(TPixelFormat::pf32bit);
        result.Canvas().Draw(0, 0, icon);
    } catch (const Exception& e) {
        MessageBoxA("Input picture" + fileName + "Error." + e.Message(), "Exit", MB_OK);
    }
}

void LoadJpeg(TBitmap& result, const std::string& fileName) {
    // What loading a JPEG picture, assigning it and setting 32 bits gives,
    // decoded straight into the result's rows.
    TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    TJPEGImage::ReadBitmap32(stream, result);
}

void LoadGif(TBitmap& result, const std::string& fileName) {
    {
        TGIFPicture gif;
        gif.LoadFromFile(fileName);
        result.Assign(&gif);  // the first frame at logical-screen size
    }  // the picture goes before the 32-bit conversion allocates
    result.SetPixelFormat(TPixelFormat::pf32bit);
}

void LoadMetafile(TBitmap& result, const std::string& fileName) {
    TMetafile metafile;
    metafile.LoadFromFile(fileName);
    result.SetHeight(metafile.Height());
    result.SetWidth(metafile.Width());
    result.SetPixelFormat(TPixelFormat::pf32bit);
    result.Canvas().Draw(0, 0, metafile);
}

}  // namespace

std::unique_ptr<TBitmap> LoadPictureFile(const std::string& fileName) {
    if (!FileExists(fileName)) return nullptr;
    const std::string ext = LastFourUpper(fileName);
    auto result = std::make_unique<TBitmap>();
    if (ext == ".BMP") {
        result->LoadFromFile(fileName);
    } else if (ext == ".ICO") {
        LoadIcon(*result, fileName);
    } else if (ext == ".JPG" || ext == "JPEG") {
        LoadJpeg(*result, fileName);
    } else if (ext == ".GIF") {
        LoadGif(*result, fileName);
    } else if (ext == ".WMF" || ext == ".EMF") {
        LoadMetafile(*result, fileName);
    }
    return result;
}

void SaveAsMetafile(const TGraphic& graphic, const std::string& fileName) {
    TMetafile metafile;
    {
        TBitmap bitmap;
        bitmap.Assign(&graphic);
        bitmap.SetPixelFormat(TPixelFormat::pf24bit);
        metafile.SetHeight(bitmap.Height());
        metafile.SetWidth(bitmap.Width());
        TMetafileCanvas canvas(&metafile, nullptr);
        canvas.Draw(0, 0, bitmap);
    }  // the canvas goes first: that completes the recording
    metafile.SaveToFile(ChangeFileExt(fileName, ".wmf"));
}
