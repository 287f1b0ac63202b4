#include "rasterformats/Autodesk.h"

#include <cstring>

#include "rasterformats/RasterStrings.h"

namespace {

constexpr const char* kFormatName = "Autodesk";
constexpr int64_t kHeaderSize = 32;
constexpr int64_t kMapSize = 768;  // 256 entries of red, green, blue, 0..63 each
constexpr uint32_t kMagic = 0x9119;

uint32_t Word(const uint8_t* p) { return p[0] | (uint32_t(p[1]) << 8); }

}  // namespace

QUILLARC_DEFINE_RASTER_GRAPHIC(TAutodeskGraphic, TRasterGraphic)

bool TAutodeskGraphic::AcceptsStream(TStream& stream) {
    if (BytesLeft(stream) <= kHeaderSize) return false;
    uint8_t header[12];
    return PeekBytes(stream, header, sizeof header) && Word(header) == kMagic && header[10] == 8 && header[11] == 0;
}

bool TAutodeskGraphic::ReadImageInfo(TStream& stream, int index) {
    TRasterGraphic::ReadImageInfo(stream, index);
    uint8_t header[kHeaderSize] = {};
    if (stream.Read(header, 2) != 2 || Word(header) != kMagic) return false;
    stream.Read(header + 2, kHeaderSize - 2);  // what a short file lacks reads as zero: no size
    TImageProperties& p = ImageProperties;
    p.ColorScheme = TColorLayout::csIndexed;
    p.Width = static_cast<int32_t>(Word(header + 2));
    p.Height = static_cast<int32_t>(Word(header + 4));
    p.BitsPerSample = 8;
    p.SamplesPerPixel = 1;
    p.BitsPerPixel = 8;
    p.Compression = TCompressionType::ctNone;
    return true;
}

void TAutodeskGraphic::LoadImage(TStream& stream) {
    ReadHeader(stream, kFormatName);
    StartProgress(raster::kTransfering);
    uint8_t header[kHeaderSize];
    stream.ReadBuffer(header, kHeaderSize);
    // One byte per pixel is all the format has.
    if (Word(header + 10) != 8) RaiseInvalidGraphicFmt(raster::kInvalidColorFormat, kFormatName);
    const int32_t width = ImageProperties.Width, height = ImageProperties.Height;
    // The map and every pixel must be there before the picture is sized.
    RequireBytes(stream, kMapSize + int64_t(width) * height);

    uint8_t map[kMapSize];
    stream.ReadBuffer(map, kMapSize);
    TPaletteEntry entries[256];
    for (int i = 0; i < 256; ++i)
        entries[i] = TPaletteEntry{static_cast<uint8_t>(map[3 * i] << 2), static_cast<uint8_t>(map[3 * i + 1] << 2),
                                   static_cast<uint8_t>(map[3 * i + 2] << 2), 0};
    TColorManager& cm = ColorManager();
    cm.SetSourceLayout(TColorLayout::csIndexed);
    cm.SetTargetLayout(TColorLayout::csIndexed);
    cm.SetSourceSampleCount(1);
    cm.SetTargetSampleCount(1);
    SetReaderPixelFormat(cm.PixelFormatFor(1));
    SetPalette(CreatePalette(entries, 256));

    NewImage(width, height, PixelFormat());
    const size_t stride = static_cast<size_t>(RowBytes());
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* line = ScanLine(y);
        stream.ReadBuffer(line, width);
        std::memset(line + width, 0, stride - size_t(width));
        RowProgress(y, height);
    }
    EndProgress();
}
