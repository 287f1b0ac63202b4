#include "rasterformats/PaintshopPro.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <vector>

#include "platform/core/PixelBuffer.h"
#include "rasterformats/LZ77Decoder.h"
#include "rasterformats/RasterStrings.h"

namespace {

constexpr const char* kFormatName = "PSP";
constexpr size_t kHeaderSize = 36;
constexpr char kSignature[] = "Paint Shop Pro Image File";
constexpr size_t kAttributesSize = 42;
constexpr size_t kLayerAttributesSize = 115;
// A picture is sized before its layer is found, and stays empty when there
// is none; one larger than this must be backed by the data left in the file
// at the most its compression can expand, so that a few bytes cannot claim
// hundreds of megabytes.
constexpr int64_t kUnbackedPictureBytes = int64_t(1) << 20;

uint32_t Get16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t Get32(const uint8_t* p) { return Get16(p) | Get16(p + 2) << 16; }

uint32_t Read16(TStream& stream) {
    uint8_t b[2];
    stream.ReadBuffer(b, 2);
    return Get16(b);
}
uint32_t Read32(TStream& stream) {
    uint8_t b[4];
    stream.ReadBuffer(b, 4);
    return Get32(b);
}

// Chunks inside blocks end where their length says, but never before what
// was read of them: a short length would go back and read fields again.
void SeekForward(TStream& stream, int64_t position) {
    if (position > stream.Position()) stream.SetPosition(position);
}

}  // namespace

QUILLARC_DEFINE_RASTER_GRAPHIC(TPSPGraphic, TRasterGraphic)

bool TPSPGraphic::AcceptsStream(TStream& stream) {
    if (BytesLeft(stream) <= static_cast<int64_t>(kHeaderSize)) return false;
    uint8_t b[kHeaderSize];
    if (!PeekBytes(stream, b, kHeaderSize)) return false;
    for (size_t i = 0; i + 1 < sizeof kSignature; ++i)
        if (std::toupper(b[i]) != std::toupper(static_cast<unsigned char>(kSignature[i]))) return false;
    return Get16(b + 32) >= 3;
}

bool TPSPGraphic::ReadBlockHeader(TStream& stream, TBlock& block) {
    if (stream.Position() >= stream.Size()) return false;
    uint8_t b[14];
    const int64_t size = ImageProperties.Version == 3 ? 14 : 10;
    stream.ReadBuffer(b, size);
    std::memcpy(block.identifier, b, 4);
    block.id = static_cast<uint16_t>(Get16(b + 4));
    // Version 3 has the length of the block's first data before the total.
    const uint32_t length = Get32(b + size - 4);
    // Every block ends after its header and inside the stream, so the walk
    // from block to block always moves on.
    RequireBytes(stream, length);
    block.end = stream.Position() + length;
    return true;
}

void TPSPGraphic::ReadGeneralAttributes(TStream& stream) {
    if (ImageProperties.Version >= 4) Read32(stream);  // chunk length
    uint8_t a[kAttributesSize];
    stream.ReadBuffer(a, kAttributesSize);
    TImageProperties& p = ImageProperties;
    p.Width = static_cast<int32_t>(Get32(a));
    p.Height = static_cast<int32_t>(Get32(a + 4));
    double resolution;
    std::memcpy(&resolution, a + 8, sizeof resolution);
    const uint32_t compression = Get16(a + 17), depth = Get16(a + 19);
    if (depth == 24) {
        p.BitsPerSample = 8;
        p.SamplesPerPixel = 3;
        p.ColorScheme = TColorLayout::csRGB;
    } else {
        p.BitsPerSample = static_cast<uint8_t>(std::min<uint32_t>(depth, 255));
        p.SamplesPerPixel = 1;
        p.ColorScheme = a[27] ? TColorLayout::csGray : TColorLayout::csIndexed;
    }
    p.BitsPerPixel = static_cast<uint8_t>(p.SamplesPerPixel * p.BitsPerSample);
    static constexpr TCompressionType kCompressions[] = {TCompressionType::ctNone, TCompressionType::ctRLE,
                                                         TCompressionType::ctLZ77, TCompressionType::ctJPEG};
    p.Compression = compression < 4 ? kCompressions[compression] : TCompressionType::ctUnknown;
    p.XResolution = static_cast<float>(a[16] == 2 ? resolution * 2.54 : resolution);
    p.YResolution = p.XResolution;
}

bool TPSPGraphic::ReadImageInfo(TStream& stream, int index) {
    TRasterGraphic::ReadImageInfo(stream, index);
    if (!AcceptsStream(stream)) return false;
    stream.Seek(32, TSeekOrigin::soCurrent);
    ImageProperties.Version = Read16(stream);
    stream.Seek(2, TSeekOrigin::soCurrent);
    TBlock block;
    if (!ReadBlockHeader(stream, block) || block.identifier[0] != '~') return false;
    ReadGeneralAttributes(stream);
    stream.SetPosition(block.end);
    return true;
}

void TPSPGraphic::LoadImage(TStream& stream) {
    ReadHeader(stream, kFormatName);
    StartProgress(raster::kPreparing);
    stream.SetPosition(BasePosition() + static_cast<int64_t>(kHeaderSize));
    TBlock first;
    ReadBlockHeader(stream, first);
    ReadGeneralAttributes(stream);
    stream.SetPosition(first.end);

    const TImageProperties& p = ImageProperties;
    const uint32_t version = p.Version;
    const int32_t width = p.Width, height = p.Height;
    const TCompressionType compression = p.Compression;
    int64_t maxExpansion = 1;
    if (compression == TCompressionType::ctRLE) maxExpansion = 64;  // a run of 127 from 2 bytes
    else if (compression == TCompressionType::ctLZ77) maxExpansion = 1032;
    else if (compression != TCompressionType::ctNone)
        throw EInvalidGraphic(Format(raster::kNotSupported, raster::kCompressionScheme, kFormatName));

    TColorManager& cm = ColorManager();
    const bool rgb = p.ColorScheme == TColorLayout::csRGB;
    cm.SourceFlags = 0;
    cm.SetSourceSampleBits(p.BitsPerSample);
    cm.SetTargetSampleBits(p.BitsPerSample);
    cm.SetSourceSampleCount(p.SamplesPerPixel);
    cm.SetTargetSampleCount(p.SamplesPerPixel);
    cm.SetSourceLayout(p.ColorScheme);
    cm.SetTargetLayout(rgb ? TColorLayout::csBGR : p.ColorScheme);
    size_t rowSize;
    switch (p.BitsPerSample) {
        case 1: rowSize = (size_t(width) + 7) / 8; break;
        case 4: rowSize = size_t(width) / 2 + 1; break;
        case 8: rowSize = size_t(width); break;
        default: RaiseInvalidGraphicFmt(raster::kInvalidColorFormat, kFormatName);
    }
    const int64_t planeSize = int64_t(rowSize) * height;
    const int64_t pictureBytes = planeSize * (rgb ? 3 : 1);
    if (pictureBytes > kUnbackedPictureBytes && pictureBytes > BytesLeft(stream) * maxExpansion)
        RaiseInvalidGraphicFmt(raster::kInvalidImage, kFormatName);
    SetReaderPixelFormat(cm.PixelFormatFor(1));
    SetSize(width, height);
    EndProgress();

    // The planes of the channel types 0 (index or grey) to 3 (blue), zero
    // where the file gives no data: a plane is taken unfilled and zeroed
    // past what its data covers.
    std::array<TPixelBuffer, 4> planes;
    auto readChannel = [&]() {
        TBlock block;
        if (!ReadBlockHeader(stream, block)) throw EReadError("Stream read error");
        if (version >= 4) Read32(stream);  // chunk length
        const uint32_t compressed = Read32(stream), uncompressed = Read32(stream);
        Read16(stream);  // bitmap type
        const uint32_t type = Read16(stream);
        // Other channel types are passed over by their block's length.
        if (type <= 3) {
            TPixelBuffer& plane = planes[type];
            plane = TPixelBuffer::Allocate(static_cast<size_t>(planeSize), false);
            // The data lies inside its block, however long it says it is.
            const int64_t packed = std::clamp<int64_t>(block.end - stream.Position(), 0, compressed);
            const int64_t wanted = std::min<int64_t>(uncompressed, planeSize);
            int64_t done = 0;
            if (compression == TCompressionType::ctNone) {
                done = std::min(packed, planeSize);
                stream.ReadBuffer(plane.data(), done);
            } else {
                std::vector<uint8_t> data(static_cast<size_t>(packed));
                stream.ReadBuffer(data.data(), packed);
                const uint8_t* source = data.data();
                uint8_t* dest = plane.data();
                if (compression == TCompressionType::ctRLE) {
                    done = TPSPRLEDecoder().Decode(source, dest, packed, wanted);
                } else {
                    TLZ77Decoder decoder(Z_FINISH, false);
                    decoder.BeginDecode();
                    // Inflate errors are not raised: the plane keeps what
                    // was inflated.
                    done = decoder.Decode(source, dest, packed, wanted);
                    decoder.EndDecode();
                }
            }
            std::memset(plane.data() + done, 0, static_cast<size_t>(planeSize - done));
        }
        stream.SetPosition(block.end);
    };

    // The first raster layer of a layer bank.
    auto loadLayer = [&](int64_t bankEnd) {
        TBlock layer;
        while (stream.Position() < bankEnd && ReadBlockHeader(stream, layer)) {
            StartProgress(raster::kLoadingData);
            if (layer.id != 4) break;
            uint8_t attributes[kLayerAttributesSize];
            if (version == 3) {
                stream.Seek(256, TSeekOrigin::soCurrent);  // name
                stream.ReadBuffer(attributes, kLayerAttributesSize);
            } else {
                const int64_t start = stream.Position();
                const uint32_t length = Read32(stream);
                stream.Seek(Read16(stream), TSeekOrigin::soCurrent);  // name
                stream.ReadBuffer(attributes, kLayerAttributesSize);
                SeekForward(stream, start + length);
            }
            const uint8_t type = attributes[0];
            if (version == 3 ? type != 0 : type > 1) {
                stream.SetPosition(layer.end);
                continue;
            }
            const int64_t start = stream.Position();
            const uint32_t length = version >= 4 ? Read32(stream) : 0;
            Read16(stream);  // bitmap count
            const uint32_t channels = Read16(stream);
            if (version >= 4) SeekForward(stream, start + length);
            if (channels > 3 && rgb) {
                cm.SetTargetLayout(TColorLayout::csBGRA);
                SetPixelFormat(TPixelFormat::pf32bit);
            }
            for (uint32_t c = 0; c < channels; ++c) readChannel();
            if (rgb && (planes[1].empty() || planes[2].empty() || planes[3].empty()))
                RaiseInvalidGraphicFmt(raster::kInvalidColorFormat, kFormatName);
            EndProgress();
            StartProgress(raster::kTransfering);
            const size_t stride = static_cast<size_t>(RowBytes());
            for (int32_t y = 0; y < height; ++y) {
                const size_t at = size_t(y) * rowSize;
                TRowPlane rows[4];
                size_t count = 0;
                if (rgb) {
                    // Red, green, blue and the index plane, which the
                    // converter leaves: the picture's alpha is not read.
                    for (int c : {1, 2, 3, 0})
                        if (!planes[size_t(c)].empty()) rows[count++] = {planes[size_t(c)].data() + at, rowSize};
                } else if (!planes[0].empty()) {
                    rows[count++] = {planes[0].data() + at, rowSize};
                }
                if (count > 0)
                    cm.ConvertPixels(std::span<const TRowPlane>(rows, count), ScanLine(y), stride,
                                     static_cast<uint32_t>(width));
                RowProgress(y, height);
            }
            EndProgress();
            return;
        }
    };

    TBlock block;
    while (ReadBlockHeader(stream, block)) {
        if (block.identifier[0] != '~') break;
        if (block.id == 2) {
            if (version >= 4) Read32(stream);  // chunk length
            const uint32_t entries = std::min<uint32_t>(Read32(stream), 256);
            std::vector<uint8_t> map(size_t(entries) * 4);
            stream.ReadBuffer(map.data(), static_cast<int64_t>(map.size()));
            const TRowPlane data{map.data(), map.size()};
            if (HPALETTE palette = cm.BuildColorPalette(std::span<const TRowPlane>(&data, 1), 1, entries, true))
                SetPalette(palette);
        } else if (block.id == 3) {
            loadLayer(block.end);
        }
        stream.SetPosition(block.end);
    }
}
