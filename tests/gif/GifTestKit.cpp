#include "tests/gif/GifTestKit.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace giftest {

namespace fs = std::filesystem;

std::vector<fs::path> GifsIn(const std::string& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == ".gif") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

TMemoryStream StreamOf(const Bytes& bytes) {
    TMemoryStream s;
    s.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    s.SetPosition(0);
    return s;
}

Bytes BytesOf(TMemoryStream& stream) { return Bytes(stream.Memory(), stream.Memory() + stream.Size()); }

Bytes Indices(const TGIFSubImage& frame) { return Bytes(frame.Data(), frame.Data() + frame.DataSize()); }

Bytes Save(TGIFPicture& gif) {
    TMemoryStream out;
    gif.SaveToStream(out);
    return BytesOf(out);
}

std::unique_ptr<TGIFPicture> Reload(const Bytes& bytes) {
    TMemoryStream in = StreamOf(bytes);
    auto gif = std::make_unique<TGIFPicture>();
    gif->LoadFromStream(in);
    return gif;
}

std::unique_ptr<TGIFPicture> Build(int w, int h, const std::vector<TColor>& colors,
                                   const std::vector<FramePlan>& frames) {
    auto gif = std::make_unique<TGIFPicture>();
    gif->Header().SetWidth(static_cast<uint16_t>(w));
    gif->Header().SetHeight(static_cast<uint16_t>(h));
    for (TColor c : colors) gif->GlobalColorMap().Append(c);
    for (const FramePlan& plan : frames) {
        auto* frame = new TGIFSubImage(gif.get());
        gif->Images().Add(frame);
        frame->PlaceFrame(plan.place.Left, plan.place.Top, plan.place.Width(), plan.place.Height());
        std::copy(plan.pixels.begin(), plan.pixels.end(), frame->Data());
        if (plan.transparent < 0 && !plan.disposal && !plan.delay) continue;
        auto* control = new TGIFGraphicControlExtension(frame);
        frame->Extensions().Add(control);
        control->SetDisposal(static_cast<uint8_t>(plan.disposal));
        control->SetDelay(static_cast<uint16_t>(plan.delay));
        if (plan.transparent >= 0) {
            control->SetTransparentIndex(plan.transparent);
            control->SetTransparent(true);
        }
    }
    return gif;
}

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
    picture.globalColors = Colors(gif->SColorMap);
    for (int i = 0; ok && i < gif->ImageCount; ++i) {
        const SavedImage& image = gif->SavedImages[i];
        const GifImageDesc& d = image.ImageDesc;
        Frame frame{d.Left, d.Top, d.Width, d.Height, {}, {}, -1, {}};
        frame.indices.assign(image.RasterBits, image.RasterBits + size_t(d.Width) * d.Height);
        frame.colors = Colors(d.ColorMap ? d.ColorMap : gif->SColorMap);
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

bool Giflib(const std::string& fileName, Picture& picture, std::string& error) {
    int status = 0;
    GifFileType* gif = DGifOpenFileName(fileName.c_str(), &status);
    return Slurp(gif, status, picture, error);
}

Picture Giflib(const Bytes& bytes) {
    Memory memory{bytes.data(), bytes.size(), 0};
    Picture picture;
    std::string error;
    int status = 0;
    GifFileType* gif = DGifOpen(&memory, ReadMemory, &status);
    EXPECT_TRUE(Slurp(gif, status, picture, error)) << error;
    return picture;
}

}  // namespace giftest
