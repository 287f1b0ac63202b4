#include "tests/gif/GiflibReference.h"

#include <gif_lib.h>

#include <cstring>

namespace giflib_reference {

namespace {

std::vector<TPaletteEntry> Colors(const ColorMapObject* map) {
    std::vector<TPaletteEntry> colors;
    for (int c = 0; map != nullptr && c < map->ColorCount; ++c)
        colors.push_back(TPaletteEntry{map->Colors[c].Red, map->Colors[c].Green, map->Colors[c].Blue, 0});
    return colors;
}

std::vector<Extension> Extensions(const ExtensionBlock* blocks, int count) {
    std::vector<Extension> list;
    for (int i = 0; i < count; ++i) {
        const ExtensionBlock& b = blocks[i];
        if (b.Function != CONTINUE_EXT_FUNC_CODE || list.empty()) list.push_back(Extension{b.Function, {}});
        list.back().blocks.emplace_back(b.Bytes, b.Bytes + b.ByteCount);
    }
    return list;
}

bool Slurp(GifFileType* gif, int status, Picture& picture, std::string& error) {
    if (gif == nullptr) {
        error = GifErrorString(status);
        return false;
    }
    const bool ok = DGifSlurp(gif) == GIF_OK;
    if (!ok) error = GifErrorString(gif->Error);
    picture.width = gif->SWidth;
    picture.height = gif->SHeight;
    picture.background = gif->SBackGroundColor;
    picture.globalColors = Colors(gif->SColorMap);
    for (int i = 0; ok && i < gif->ImageCount; ++i) {
        const SavedImage& image = gif->SavedImages[i];
        Frame frame;
        frame.left = image.ImageDesc.Left;
        frame.top = image.ImageDesc.Top;
        frame.width = image.ImageDesc.Width;
        frame.height = image.ImageDesc.Height;
        frame.interlaced = image.ImageDesc.Interlace;
        frame.indices.assign(image.RasterBits, image.RasterBits + size_t(frame.width) * frame.height);
        frame.colors = Colors(image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap);
        GraphicsControlBlock gcb;
        if (DGifSavedExtensionToGCB(gif, i, &gcb) == GIF_OK) frame.transparent = gcb.TransparentColor;
        frame.extensions = Extensions(image.ExtensionBlocks, image.ExtensionBlockCount);
        picture.frames.push_back(std::move(frame));
    }
    if (ok) picture.trailing = Extensions(gif->ExtensionBlocks, gif->ExtensionBlockCount);
    DGifCloseFile(gif, &status);
    return ok;
}

struct Memory {
    const uint8_t* data;
    size_t size, pos;
};

int ReadMemory(GifFileType* gif, GifByteType* buffer, int count) {
    auto* m = static_cast<Memory*>(gif->UserData);
    const size_t n = std::min(static_cast<size_t>(count), m->size - m->pos);
    std::memcpy(buffer, m->data + m->pos, n);
    m->pos += n;
    return static_cast<int>(n);
}

}  // namespace

void PrintTo(const Extension& extension, std::ostream* os) {
    *os << "label " << extension.label << ":";
    for (const auto& block : extension.blocks) {
        *os << " [";
        for (uint8_t b : block) *os << ' ' << int(b);
        *os << " ]";
    }
}

bool Load(const std::string& fileName, Picture& picture, std::string& error) {
    int status = 0;
    GifFileType* gif = DGifOpenFileName(fileName.c_str(), &status);
    return Slurp(gif, status, picture, error);
}

bool Load(const uint8_t* data, size_t size, Picture& picture, std::string& error) {
    Memory memory{data, size, 0};
    int status = 0;
    GifFileType* gif = DGifOpen(&memory, ReadMemory, &status);
    return Slurp(gif, status, picture, error);
}

}  // namespace giflib_reference
