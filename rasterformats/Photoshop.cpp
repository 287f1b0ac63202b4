#include "rasterformats/Photoshop.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "platform/core/PixelBuffer.h"
#include "rasterformats/RasterStrings.h"

namespace {

constexpr const char* kFormatName = "PSD or PDD";
constexpr size_t kHeaderSize = 26;
// PackBits makes at most 128 bytes of 2: data that could not fill the
// picture even so is refused before the picture is allocated.
constexpr int64_t kMaxPackBitsRatio = 64;

uint32_t Get16(const uint8_t* p) { return uint32_t(p[0]) << 8 | p[1]; }
uint32_t Get32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

// The 26-byte file header, big-endian.
struct PSDHeader {
    char signature[4];
    uint32_t version, channels, height, width, depth, mode;
};

PSDHeader Parse(const uint8_t* b) {
    PSDHeader h;
    std::memcpy(h.signature, b, 4);
    h.version = Get16(b + 4);
    h.channels = Get16(b + 12);
    h.height = Get32(b + 14);
    h.width = Get32(b + 18);
    h.depth = Get16(b + 22);
    h.mode = Get16(b + 24);
    return h;
}

TColorLayout SchemeOf(uint32_t mode, uint32_t channels) {
    switch (mode) {
        case 0:  // bitmap
        case 1:  // grey
        case 8:  // duotone
            return TColorLayout::csGray;
        case 2: return TColorLayout::csIndexed;
        case 3:  // RGB
        case 7:  // multichannel
            return channels == 3 ? TColorLayout::csRGB : TColorLayout::csRGBA;
        case 4: return TColorLayout::csCMYK;
        case 9: return TColorLayout::csCIELab;
        default: return TColorLayout::csNone;
    }
}

uint32_t ReadLength(TStream& stream) {
    uint8_t b[4];
    stream.ReadBuffer(b, 4);
    return Get32(b);
}

}  // namespace

QUILLARC_DEFINE_RASTER_GRAPHIC(TPSDGraphic, TRasterGraphic)

bool TPSDGraphic::AcceptsStream(TStream& stream) {
    if (BytesLeft(stream) <= static_cast<int64_t>(kHeaderSize)) return false;
    uint8_t b[kHeaderSize];
    if (!PeekBytes(stream, b, kHeaderSize)) return false;
    for (int i = 0; i < 4; ++i)
        if (std::toupper(b[i]) != "8BPS"[i]) return false;
    return Get16(b + 4) == 1;
}

bool TPSDGraphic::ReadImageInfo(TStream& stream, int index) {
    TRasterGraphic::ReadImageInfo(stream, index);
    uint8_t b[kHeaderSize];
    if (stream.Read(b, kHeaderSize) != static_cast<int64_t>(kHeaderSize)) return false;
    const PSDHeader h = Parse(b);
    if (std::memcmp(h.signature, "8BPS", 4) != 0 || h.width > 0x7FFFFFFF || h.height > 0x7FFFFFFF) return false;
    TImageProperties& p = ImageProperties;
    p.Options |= ioBigEndian;
    p.BitsPerSample = static_cast<uint8_t>(std::min<uint32_t>(h.depth, 255));
    p.Channels = static_cast<uint8_t>(std::min<uint32_t>(h.channels, 255));
    p.SamplesPerPixel = static_cast<uint8_t>(std::min<uint32_t>(h.channels, 4));
    p.BitsPerPixel = static_cast<uint8_t>(p.SamplesPerPixel * p.BitsPerSample);
    p.ColorScheme = SchemeOf(h.mode, h.channels);
    if (h.mode == 0) p.Options |= ioMinIsWhite;
    p.Width = static_cast<int32_t>(h.width);
    p.Height = static_cast<int32_t>(h.height);
    // Colour mode data, image resources, layers and masks: each a length
    // and that many bytes, all inside the stream.
    for (int section = 0; section < 3; ++section) {
        uint8_t length[4];
        if (stream.Read(length, 4) != 4 || Get32(length) > BytesLeft(stream)) return false;
        stream.Seek(Get32(length), TSeekOrigin::soCurrent);
    }
    uint8_t compression[2];
    if (stream.Read(compression, 2) != 2) return false;
    p.Compression = Get16(compression) == 1 ? TCompressionType::ctPackedBits : TCompressionType::ctNone;
    return true;
}

void TPSDGraphic::LoadImage(TStream& stream) {
    ReadHeader(stream, kFormatName);
    StartProgress(raster::kPreparing);
    uint8_t b[kHeaderSize];
    stream.ReadBuffer(b, kHeaderSize);
    const PSDHeader h = Parse(b);
    const TImageProperties& p = ImageProperties;
    const int32_t width = p.Width, height = p.Height;
    const TColorLayout scheme = p.ColorScheme;
    const bool packed = p.Compression == TCompressionType::ctPackedBits;

    // Modes without a conversion (5, 6 and above 9) give a picture of the
    // file's size with nothing in it.
    if (scheme == TColorLayout::csNone) {
        SetPixelFormat(TPixelFormat::pf24bit);
        SetSize(width, height);
        EndProgress();
        return;
    }

    // Grey and indexed images read their first channel; further channels
    // (the alpha of grey with alpha) are left. Colour images need all of
    // theirs: refused with fewer, and an L*a*b* picture's alpha is left.
    const bool oneChannel = scheme == TColorLayout::csGray || scheme == TColorLayout::csIndexed;
    uint32_t planes = 1;  // channels converted
    TColorLayout target = scheme;
    switch (scheme) {
        case TColorLayout::csRGB: planes = 3, target = TColorLayout::csBGR; break;
        case TColorLayout::csRGBA: planes = 4, target = TColorLayout::csBGRA; break;
        case TColorLayout::csCMYK: planes = 4, target = TColorLayout::csBGR; break;
        case TColorLayout::csCIELab: planes = 3, target = TColorLayout::csBGR; break;
        default: break;
    }
    // Bitmap mode has 1 bit, an indexed picture 8 (its palette has 256
    // colours), the others 8 or 16.
    const bool depthOk = h.mode == 0 ? h.depth == 1 : (h.mode == 2 ? h.depth == 8 : h.depth == 8 || h.depth == 16);
    if (h.channels < planes || !depthOk) RaiseInvalidGraphicFmt(raster::kInvalidColorFormat, kFormatName);

    TColorManager& cm = ColorManager();
    cm.SourceFlags = cfByteSwap;
    if (scheme == TColorLayout::csCIELab) cm.SourceFlags |= cfLabByteRange | cfABOffset;
    cm.SetSourceSampleBits(static_cast<uint8_t>(h.depth));
    cm.SetTargetSampleBits(h.depth == 16 ? 8 : static_cast<uint8_t>(h.depth));
    cm.SetSourceSampleCount(static_cast<uint8_t>(planes));
    cm.SetTargetSampleCount(target == TColorLayout::csBGRA ? 4 : static_cast<uint8_t>(oneChannel ? 1 : 3));
    cm.SetSourceLayout(scheme);
    cm.SetTargetLayout(target);
    SetReaderPixelFormat(cm.PixelFormatFor(1));

    // Colour mode data: the palette of an indexed image, as three planes of
    // a third of the data each; data longer than a 256-colour palette keeps
    // the planes of its first 768 bytes.
    const uint32_t modeData = ReadLength(stream);
    if (scheme == TColorLayout::csIndexed) {
        const uint32_t used = std::min<uint32_t>(modeData, 768);
        std::vector<uint8_t> map(used);
        stream.ReadBuffer(map.data(), used);
        stream.Seek(modeData - used, TSeekOrigin::soCurrent);
        const uint32_t third = used / 3;
        const TRowPlane colours[3] = {{map.data(), third}, {map.data() + third, third}, {map.data() + 2 * third, third}};
        if (HPALETTE palette = cm.BuildColorPalette(colours, 2, third, false)) SetPalette(palette);
    } else {
        stream.Seek(modeData, TSeekOrigin::soCurrent);
        if (scheme == TColorLayout::csGray) SetPalette(cm.BuildGrayPalette(p.Options & ioMinIsWhite));
    }
    stream.Seek(ReadLength(stream), TSeekOrigin::soCurrent);      // image resources
    stream.Seek(ReadLength(stream) + 2, TSeekOrigin::soCurrent);  // layers and masks, compression word

    // PackBits: a byte count per row of every channel, channel after
    // channel, all of it in the stream before anything is sized from it.
    std::vector<uint32_t> counts;
    if (packed) {
        const int64_t rows = int64_t(height) * h.channels;
        RequireBytes(stream, 2 * rows);
        std::vector<uint8_t> table(static_cast<size_t>(2 * rows));
        stream.ReadBuffer(table.data(), 2 * rows);
        counts.resize(static_cast<size_t>(rows));
        for (size_t i = 0; i < counts.size(); ++i) counts[i] = Get16(table.data() + 2 * i);
    }
    // The packed bytes of the first rows of the table, as far as the stream
    // holds them: data that ends early leaves the rest of the picture black.
    auto readPacked = [&](size_t rows, int64_t unpacked) {
        int64_t sum = 0;
        for (size_t i = 0; i < rows; ++i) sum += counts[i];
        const int64_t present = std::min(sum, BytesLeft(stream));
        if (unpacked > present * kMaxPackBitsRatio) RaiseInvalidGraphicFmt(raster::kInvalidImage, kFormatName);
        std::vector<uint8_t> data(static_cast<size_t>(present));
        stream.ReadBuffer(data.data(), present);
        return data;
    };
    EndProgress();

    TPackbitsRLEDecoder decoder;
    const size_t bytesPerSample = h.depth == 16 ? 2 : 1;
    if (oneChannel) {
        // Rows go into the scan lines as they are; 16-bit grey through the
        // colour manager.
        StartProgress(raster::kTransfering);
        const size_t rowBytes = h.depth == 1 ? (size_t(width) + 7) / 8 : size_t(width) * bytesPerSample;
        const bool wide = h.depth == 16;
        std::vector<uint8_t> data, wideRow(wide ? rowBytes : 0);
        if (packed) data = readPacked(size_t(height), int64_t(rowBytes) * height);
        else RequireBytes(stream, int64_t(rowBytes) * height);
        NewImage(width, height, PixelFormat());
        const size_t stride = static_cast<size_t>(RowBytes());
        size_t at = 0;
        for (int32_t y = 0; y < height; ++y) {
            uint8_t* line = ScanLine(y);
            uint8_t* row = wide ? wideRow.data() : line;
            size_t written = rowBytes;
            if (packed) {
                const size_t count = std::min<size_t>(counts[size_t(y)], data.size() - at);
                const uint8_t* source = data.data() + at;
                uint8_t* dest = row;
                written = static_cast<size_t>(decoder.Decode(source, dest, int64_t(count), int64_t(rowBytes)));
                std::memset(row + written, 0, rowBytes - written);
                at += count;
            } else {
                stream.ReadBuffer(row, int64_t(rowBytes));
            }
            if (wide) cm.ConvertPixels(wideRow.data(), rowBytes, line, stride, static_cast<uint32_t>(width));
            const size_t used = wide ? size_t(width) : rowBytes;
            std::memset(line + used, 0, stride - used);
            RowProgress(y, height);
        }
        EndProgress();
        return;
    }

    // Colour: the planes converted, whole, then row by row.
    StartProgress(raster::kLoadingData);
    const size_t planeRow = size_t(width) * bytesPerSample;
    const int64_t planeSize = int64_t(planeRow) * height;
    const int64_t total = planeSize * planes;
    // Every byte is read or decoded into (what the data does not cover is
    // zeroed), so the block comes unfilled.
    TPixelBuffer data;
    if (packed) {
        const std::vector<uint8_t> source = readPacked(size_t(height) * planes, total);
        data = TPixelBuffer::Allocate(static_cast<size_t>(total), false);
        const uint8_t* s = source.data();
        uint8_t* d = data.data();
        const int64_t done = decoder.Decode(s, d, int64_t(source.size()), total);
        std::memset(data.data() + done, 0, static_cast<size_t>(total - done));
    } else {
        RequireBytes(stream, total);
        data = TPixelBuffer::Allocate(static_cast<size_t>(total), false);
        stream.ReadBuffer(data.data(), total);
    }
    EndProgress();
    StartProgress(raster::kTransfering);
    // Photoshop stores ink as 255 less its amount.
    if (scheme == TColorLayout::csCMYK) {
        uint8_t* ink = data.data();
        for (size_t i = 0; i < data.size(); ++i) ink[i] = static_cast<uint8_t>(255 - ink[i]);
    }
    NewImage(width, height, PixelFormat());
    const size_t stride = static_cast<size_t>(RowBytes());
    const size_t written = size_t(width) * (target == TColorLayout::csBGRA ? 4 : 3);
    TRowPlane rows[4];
    for (int32_t y = 0; y < height; ++y) {
        for (uint32_t c = 0; c < planes; ++c)
            rows[c] = {data.data() + c * size_t(planeSize) + size_t(y) * planeRow, planeRow};
        uint8_t* line = ScanLine(y);
        cm.ConvertPixels(std::span<const TRowPlane>(rows, planes), line, stride, static_cast<uint32_t>(width));
        std::memset(line + written, 0, stride - written);
        RowProgress(y, height);
    }
    EndProgress();
}
