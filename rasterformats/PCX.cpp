#include "rasterformats/PCX.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "rasterformats/RasterStrings.h"

namespace {

constexpr const char* kFormatName = "PCX or SCR";
constexpr const char* kColorFormatName = "PCX";
constexpr int64_t kHeaderSize = 128;
constexpr int64_t kPaletteSize = 769;  // the marker 12, then 256 red-green-blue triplets
constexpr uint8_t kPaletteMarker = 12;

uint32_t Word(const uint8_t* p) { return p[0] | (uint32_t(p[1]) << 8); }

// The planes and bits per plane this reader takes, and how their rows
// reach the bitmap.
enum class TPlaneLayout {
    Unsupported,
    Indexed,     // one plane of 1, 2, 4 or 8 bits: the colour manager
    BitPlanes,   // three or four planes of 1 bit: the bits of each pixel's index
    RGB,         // three planes of 8 bits
    RGBA,        // four planes of 8 bits, the fourth alpha
};

TPlaneLayout LayoutOf(uint32_t planes, uint32_t bits) {
    if (planes == 1 && (bits == 1 || bits == 2 || bits == 4 || bits == 8)) return TPlaneLayout::Indexed;
    if ((planes == 3 || planes == 4) && bits == 1) return TPlaneLayout::BitPlanes;
    if (planes == 3 && bits == 8) return TPlaneLayout::RGB;
    if (planes == 4 && bits == 8) return TPlaneLayout::RGBA;
    return TPlaneLayout::Unsupported;
}

// The 8 bits of one plane byte, one per pixel, spread over four bytes of
// two 4-bit pixels each (first pixel in the high nibble), as bit 0 of each
// nibble.
const std::array<std::array<uint8_t, 4>, 256>& SpreadTable() {
    static const auto table = [] {
        std::array<std::array<uint8_t, 4>, 256> t{};
        for (uint32_t b = 0; b < 256; ++b)
            for (uint32_t j = 0; j < 4; ++j)
                t[b][j] = static_cast<uint8_t>((((b >> (7 - 2 * j)) & 1) << 4) | ((b >> (6 - 2 * j)) & 1));
        return t;
    }();
    return table;
}

// One line of three or four 1-bit planes into a row of 4-bit pixels: plane
// k gives bit k of each pixel's index (a missing fourth plane gives 0).
// Writes (width x 4 + 7) div 8 bytes; a last odd pixel leaves a zero nibble.
void PackBitPlanes(const uint8_t* line, size_t bytesPerLine, uint32_t planes, int32_t width, uint8_t* out) {
    const auto& spread = SpreadTable();
    const uint8_t* p0 = line;
    const uint8_t* p1 = line + bytesPerLine;
    const uint8_t* p2 = line + 2 * bytesPerLine;
    const uint8_t* p3 = planes == 4 ? line + 3 * bytesPerLine : nullptr;
    const size_t outBytes = (size_t(width) * 4 + 7) / 8;
    const size_t planeBytes = (size_t(width) + 7) / 8;
    for (size_t i = 0; i < planeBytes; ++i) {
        const auto& a = spread[p0[i]];
        const auto& b = spread[p1[i]];
        const auto& c = spread[p2[i]];
        const auto& d = spread[p3 ? p3[i] : 0];
        const size_t n = std::min<size_t>(4, outBytes - 4 * i);
        for (size_t j = 0; j < n; ++j)
            out[4 * i + j] = static_cast<uint8_t>(a[j] | (b[j] << 1) | (c[j] << 2) | (d[j] << 3));
    }
    if (width & 1) out[outBytes - 1] &= 0xF0;
}

}  // namespace

QUILLARC_DEFINE_RASTER_GRAPHIC(TPCXGraphic, TRasterGraphic)

bool TPCXGraphic::AcceptsStream(TStream& stream) {
    if (BytesLeft(stream) <= kHeaderSize) return false;
    uint8_t header[3];
    return PeekBytes(stream, header, sizeof header) && (header[0] == 10 || header[0] == 12) &&
           (header[1] == 0 || header[1] == 2 || header[1] == 3 || header[1] == 5) && header[2] <= 1;
}

bool TPCXGraphic::ReadImageInfo(TStream& stream, int index) {
    TRasterGraphic::ReadImageInfo(stream, index);
    uint8_t header[kHeaderSize];
    if (stream.Read(header, kHeaderSize) != kHeaderSize) return false;
    if (header[0] != 10 && header[0] != 205) return false;
    TImageProperties& p = ImageProperties;
    // Sizes from the corners, which may be given in either order: a
    // negative or zero size is refused by the size check.
    p.Width = static_cast<int32_t>(int64_t(Word(header + 8)) - Word(header + 4) + 1);
    p.Height = static_cast<int32_t>(int64_t(Word(header + 10)) - Word(header + 6) + 1);
    p.SamplesPerPixel = header[65];
    p.BitsPerSample = header[3];
    p.BitsPerPixel = static_cast<uint8_t>(p.SamplesPerPixel * p.BitsPerSample);
    p.ColorScheme = p.BitsPerPixel > 8 ? TColorLayout::csRGB : TColorLayout::csIndexed;
    p.Compression = header[2] == 1 ? TCompressionType::ctRLE : TCompressionType::ctNone;
    p.XResolution = static_cast<float>(Word(header + 12));
    p.YResolution = static_cast<float>(Word(header + 14));
    return true;
}

void TPCXGraphic::MakePalette(TStream& stream, const uint8_t* header) {
    TColorManager& cm = ColorManager();
    const bool grayInfo = Word(header + 68) == 2;
    switch (PixelFormat()) {
        case TPixelFormat::pf1bit:
            SetPalette(cm.BuildGrayPalette(false));
            break;
        case TPixelFormat::pf4bit:
            // Version 3 files carry no palette of their own: they were drawn
            // in the display's 16 colours.
            if (header[1] == 3) {
                SetColorTable({SystemPalette16().begin(), SystemPalette16().end()});
            } else if (grayInfo) {
                SetPalette(cm.BuildGrayPalette(false));
            } else {
                const TRowPlane map{header + 16, 48};
                SetPalette(cm.BuildColorPalette(std::span<const TRowPlane>(&map, 1), 0, 16, false));
            }
            break;
        case TPixelFormat::pf8bit: {
            // The 256 colours at the end of the file, after their marker;
            // never read from the header or the first bytes after it.
            const int64_t position = stream.Position();
            const int64_t at = stream.Size() - kPaletteSize;
            uint8_t marker = 0;
            if (at >= BasePosition() + kHeaderSize) {
                stream.SetPosition(at);
                stream.Read(&marker, 1);
            }
            if (marker == kPaletteMarker) {
                uint8_t map[kPaletteSize - 1];
                stream.ReadBuffer(map, sizeof map);
                const TRowPlane data{map, sizeof map};
                SetPalette(cm.BuildColorPalette(std::span<const TRowPlane>(&data, 1), 0, 256, false));
            } else if (grayInfo) {
                SetPalette(cm.BuildGrayPalette(false));
            }
            stream.SetPosition(position);
            break;
        }
        default:
            break;
    }
}

void TPCXGraphic::LoadImage(TStream& stream) {
    ReadHeader(stream, kFormatName);
    StartProgress(raster::kPreparing);
    uint8_t header[kHeaderSize];
    stream.ReadBuffer(header, kHeaderSize);
    int64_t dataSize = BytesLeft(stream);
    const TImageProperties& p = ImageProperties;
    const int32_t width = p.Width, height = p.Height;
    const uint32_t planes = header[65], bits = header[3];
    const TPlaneLayout layout = LayoutOf(planes, bits);
    if (layout == TPlaneLayout::Unsupported) RaiseInvalidGraphicFmt(raster::kInvalidColorFormat, kColorFormatName);

    TColorManager& cm = ColorManager();
    switch (layout) {
        case TPlaneLayout::Indexed:
            cm.SetSourceLayout(TColorLayout::csIndexed);
            cm.SetTargetLayout(TColorLayout::csIndexed);
            cm.SetSourceSampleBits(static_cast<uint8_t>(bits));
            cm.SetTargetSampleBits(bits == 2 ? 4 : static_cast<uint8_t>(bits));  // 2-bit pixels are kept as 4
            cm.SetSourceSampleCount(1);
            cm.SetTargetSampleCount(1);
            break;
        case TPlaneLayout::BitPlanes:
            // Packed here into 4-bit pixels; the manager only builds the palette.
            cm.SetSourceLayout(TColorLayout::csIndexed);
            cm.SetTargetLayout(TColorLayout::csIndexed);
            cm.SetSourceSampleBits(4);
            cm.SetTargetSampleBits(4);
            cm.SetSourceSampleCount(1);
            cm.SetTargetSampleCount(1);
            break;
        case TPlaneLayout::RGB:
        case TPlaneLayout::RGBA: {
            const bool alpha = layout == TPlaneLayout::RGBA;
            cm.SetSourceLayout(alpha ? TColorLayout::csRGBA : TColorLayout::csRGB);
            cm.SetTargetLayout(alpha ? TColorLayout::csBGRA : TColorLayout::csBGR);
            cm.SetSourceSampleBits(8);
            cm.SetTargetSampleBits(8);
            cm.SetSourceSampleCount(static_cast<uint8_t>(planes));
            cm.SetTargetSampleCount(static_cast<uint8_t>(planes));
            break;
        }
        case TPlaneLayout::Unsupported:
            break;
    }
    const TPixelFormat format = cm.PixelFormatFor(1);
    SetReaderPixelFormat(format);
    // The palette at the end is no pixel data; in a file too short to hold
    // it there is no data at all.
    if (format == TPixelFormat::pf8bit) dataSize = std::max<int64_t>(dataSize - kPaletteSize, 0);
    if (format != TPixelFormat::pf24bit && format != TPixelFormat::pf32bit) MakePalette(stream, header);

    // Each plane of a line must hold the row's pixels.
    const int64_t bytesPerLine = Word(header + 66);
    if (bytesPerLine < (int64_t(width) * bits + 7) / 8) RaiseInvalidGraphicFmt(raster::kInvalidImage, kFormatName);
    const int64_t lineSize = bytesPerLine * planes;
    const int64_t unpacked = lineSize * height;
    const bool rle = p.Compression == TCompressionType::ctRLE;
    // Refuse before the picture is sized: stored lines must all be there,
    // and two bytes of packed data give at most 63.
    if (!rle && dataSize < unpacked) throw EReadError("Stream read error");
    if (rle && unpacked > dataSize / 2 * 63 + 63) RaiseInvalidGraphicFmt(raster::kInvalidImage, kFormatName);
    // Every byte of every row is written below.
    NewImage(width, height, format);
    const size_t stride = static_cast<size_t>(RowBytes());
    EndProgress();
    StartProgress(raster::kTransfering);

    std::vector<uint8_t> line(static_cast<size_t>(lineSize));
    const size_t planeSize = static_cast<size_t>(bytesPerLine);
    TRowPlane source[4];
    for (uint32_t k = 0; k < planes && k < 4; ++k) source[k] = TRowPlane{line.data() + k * planeSize, planeSize};
    size_t used;
    switch (layout) {
        case TPlaneLayout::Indexed: used = (size_t(width) * cm.TargetSampleBits() + 7) / 8; break;
        case TPlaneLayout::BitPlanes: used = (size_t(width) * 4 + 7) / 8; break;
        default: used = size_t(width) * planes; break;
    }
    TPCXRLEDecoder decoder;
    std::unique_ptr<TPackedInput> input;
    if (rle) input = std::make_unique<TPackedInput>(stream, std::max<size_t>(size_t(1) << 16, 2 * line.size()), dataSize);
    for (int32_t y = 0; y < height; ++y) {
        if (rle) {
            // Runs may cross from one line into the next; data that ends
            // early leaves the rest of the picture zero.
            const int64_t done = input->DecodeInto(decoder, line.data(), lineSize, 1);
            std::memset(line.data() + done, 0, static_cast<size_t>(lineSize - done));
        } else {
            stream.ReadBuffer(line.data(), lineSize);
        }
        uint8_t* row = ScanLine(y);
        switch (layout) {
            case TPlaneLayout::Indexed:
                // 2-bit pixels widened to 4 bits leave a last odd nibble unwritten.
                if (bits == 2) std::memset(row, 0, used);
                cm.ConvertPixels(line.data(), planeSize, row, stride, static_cast<uint32_t>(width));
                break;
            case TPlaneLayout::BitPlanes:
                PackBitPlanes(line.data(), planeSize, planes, width, row);
                break;
            default:
                cm.ConvertPixels(std::span<const TRowPlane>(source, planes), row, stride, static_cast<uint32_t>(width));
                break;
        }
        std::memset(row + used, 0, stride - used);
        RowProgress(y, height);
    }
    EndProgress();
}
