#include "tests/gif/GiflibReference.h"

#include <gif_lib.h>

namespace giflib_reference {

bool Load(const std::string& fileName, Picture& picture, std::string& error) {
    int status = 0;
    GifFileType* gif = DGifOpenFileName(fileName.c_str(), &status);
    if (gif == nullptr) {
        error = GifErrorString(status);
        return false;
    }
    const bool ok = DGifSlurp(gif) == GIF_OK;
    if (!ok) error = GifErrorString(gif->Error);
    picture.width = gif->SWidth;
    picture.height = gif->SHeight;
    for (int i = 0; ok && i < gif->ImageCount; ++i) {
        const SavedImage& image = gif->SavedImages[i];
        Frame frame;
        frame.left = image.ImageDesc.Left;
        frame.top = image.ImageDesc.Top;
        frame.width = image.ImageDesc.Width;
        frame.height = image.ImageDesc.Height;
        frame.indices.assign(image.RasterBits, image.RasterBits + size_t(frame.width) * frame.height);
        const ColorMapObject* map = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
        for (int c = 0; map != nullptr && c < map->ColorCount; ++c)
            frame.colors.push_back(TPaletteEntry{map->Colors[c].Red, map->Colors[c].Green, map->Colors[c].Blue, 0});
        GraphicsControlBlock gcb;
        if (DGifSavedExtensionToGCB(gif, i, &gcb) == GIF_OK) frame.transparent = gcb.TransparentColor;
        picture.frames.push_back(std::move(frame));
    }
    DGifCloseFile(gif, &status);
    return ok;
}

}  // namespace giflib_reference
