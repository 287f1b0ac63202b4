#include "rasterformats/Targa.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "rasterformats/RasterStrings.h"

namespace {

constexpr const char* kFormatName = "TGA";

// The 18-byte file header, little-endian.
struct TargaHeader {
    uint8_t idLength = 0;
    uint8_t colorMapType = 0;
    uint8_t imageType = 0;
    uint16_t firstEntry = 0;
    uint16_t mapLength = 0;
    uint8_t mapEntrySize = 0;
    uint16_t xOrigin = 0, yOrigin = 0;
    uint16_t width = 0, height = 0;
    uint8_t depth = 0;
    uint8_t descriptor = 0;  // bit 5: first row stored is the top row
};

constexpr size_t kHeaderSize = 18;

TargaHeader Parse(const uint8_t* b) {
    auto word = [b](size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); };
    TargaHeader h;
    h.idLength = b[0];
    h.colorMapType = b[1];
    h.imageType = b[2];
    h.firstEntry = word(3);
    h.mapLength = word(5);
    h.mapEntrySize = b[7];
    h.xOrigin = word(8);
    h.yOrigin = word(10);
    h.width = word(12);
    h.height = word(14);
    h.depth = b[16];
    h.descriptor = b[17];
    return h;
}

bool KnownImageType(uint8_t type) { return type <= 3 || (type >= 9 && type <= 11); }
bool IsGrayType(uint8_t type) { return type == 3 || type == 11; }
bool IsIndexedType(uint8_t type) { return type == 1 || type == 9; }
bool IsRLEType(uint8_t type) { return type >= 9 && type <= 11; }

void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace

QUILLARC_DEFINE_RASTER_GRAPHIC(TTargaGraphic, TRasterGraphic)

bool TTargaGraphic::AcceptsStream(TStream& stream) {
    if (BytesLeft(stream) <= static_cast<int64_t>(kHeaderSize)) return false;
    uint8_t bytes[kHeaderSize];
    if (!PeekBytes(stream, bytes, kHeaderSize)) return false;
    const TargaHeader h = Parse(bytes);
    // A file without a colour map need not name a map entry size: the tools
    // write 0 there.
    const bool entryOk = h.colorMapType == 0 || h.mapEntrySize == 15 || h.mapEntrySize == 16 ||
                         h.mapEntrySize == 24 || h.mapEntrySize == 32;
    return KnownImageType(h.imageType) && h.colorMapType <= 1 && entryOk && TargaPixelSize(h.depth) != 0;
}

bool TTargaGraphic::ReadImageInfo(TStream& stream, int index) {
    TRasterGraphic::ReadImageInfo(stream, index);
    uint8_t bytes[kHeaderSize];
    if (stream.Read(bytes, kHeaderSize) != static_cast<int64_t>(kHeaderSize)) return false;
    const TargaHeader h = Parse(bytes);
    // Image type 0 holds no pixels: there is no picture to show, and its
    // size would only be an allocation taken on trust.
    if (!KnownImageType(h.imageType) || h.imageType == 0 || h.colorMapType > 1) return false;
    TImageProperties& p = ImageProperties;
    p.Width = h.width;
    p.Height = h.height;
    p.BitsPerSample = 8;
    switch (h.depth) {
        case 8:
            p.ColorScheme = IsGrayType(h.imageType) ? TColorLayout::csGray : TColorLayout::csIndexed;
            p.SamplesPerPixel = 1;
            break;
        case 15:
        case 16:
            p.ColorScheme = TColorLayout::csRGB;
            p.BitsPerSample = 5;
            p.SamplesPerPixel = 3;
            break;
        case 24:
            p.ColorScheme = TColorLayout::csRGB;
            p.SamplesPerPixel = 3;
            break;
        case 32:
            p.ColorScheme = TColorLayout::csRGBA;
            p.SamplesPerPixel = 4;
            break;
        default:
            break;
    }
    p.BitsPerPixel = static_cast<uint8_t>(p.SamplesPerPixel * p.BitsPerSample);
    p.Compression = IsRLEType(h.imageType) ? TCompressionType::ctRLE : TCompressionType::ctNone;
    return true;
}

void TTargaGraphic::LoadImage(TStream& stream) {
    ReadHeader(stream, kFormatName);
    StartProgress(raster::kPreparing);

    uint8_t bytes[kHeaderSize];
    stream.ReadBuffer(bytes, kHeaderSize);
    const TargaHeader h = Parse(bytes);
    const bool topDown = h.descriptor & 0x20;
    stream.Seek(h.idLength, TSeekOrigin::soCurrent);

    // The file's bytes go into the scan lines as they are: the colour
    // manager only names the pixel format and builds the palettes.
    TColorManager& cm = ColorManager();
    const TImageProperties& p = ImageProperties;
    cm.SetSourceSampleCount(p.SamplesPerPixel);  // 0 for a depth Targa does not have: refused here
    cm.SetTargetSampleCount(p.SamplesPerPixel);
    cm.SetSourceLayout(p.ColorScheme);
    cm.SourceFlags = 0;
    cm.SetTargetLayout(TColorLayout::csBGR);
    cm.SetSourceSampleBits(p.BitsPerSample);
    cm.SetTargetSampleBits(p.BitsPerSample);
    // Index and grey data must come one byte per pixel.
    if ((IsIndexedType(h.imageType) || IsGrayType(h.imageType)) && h.depth != 8)
        RaiseInvalidGraphicFmt(raster::kInvalidColorFormat, kFormatName);
    SetReaderPixelFormat(cm.PixelFormatFor(1));

    // A colour map present is always read past, also where it is not used
    // (grey images, true colour).
    if (h.colorMapType == 1) {
        const uint32_t entryBytes = (h.mapEntrySize + 7u) / 8;
        if (h.mapEntrySize != 15 && h.mapEntrySize != 16 && h.mapEntrySize != 24 && h.mapEntrySize != 32)
            RaiseInvalidGraphicFmt(raster::kInvalidColorFormat, kFormatName);
        const int64_t mapBytes = int64_t(entryBytes) * h.mapLength;
        RequireBytes(stream, mapBytes);
        // Entries are placed from the first entry index on, as pixel values
        // count from the start of the whole map; at most 256 are kept.
        const uint32_t first = std::min<uint32_t>(h.firstEntry, 256);
        const uint32_t kept = std::min<uint32_t>(h.mapLength, 256 - first);
        std::vector<uint8_t> map(static_cast<size_t>(first + kept) * entryBytes, 0);
        stream.ReadBuffer(map.data() + static_cast<size_t>(first) * entryBytes, int64_t(kept) * entryBytes);
        stream.Seek(mapBytes - int64_t(kept) * entryBytes, TSeekOrigin::soCurrent);
        if (p.ColorScheme == TColorLayout::csIndexed && first + kept > 0) {
            if (entryBytes >= 3) {
                const TRowPlane data{map.data(), map.size()};
                SetPalette(cm.BuildColorPalette(std::span<const TRowPlane>(&data, 1), entryBytes == 3 ? 0 : 1,
                                                first + kept, true));
            } else {
                std::vector<TPaletteEntry> entries(first + kept);
                for (size_t i = 0; i < entries.size(); ++i) {
                    const uint32_t e = map[2 * i] | (map[2 * i + 1] << 8);
                    entries[i] = TPaletteEntry{static_cast<uint8_t>((e & 0x7C00) >> 7),
                                               static_cast<uint8_t>((e & 0x03E0) >> 2),
                                               static_cast<uint8_t>((e & 0x001F) << 3), 0};
                }
                SetPalette(CreatePalette(entries.data(), static_cast<int>(entries.size())));
            }
        }
    }
    if (IsGrayType(h.imageType)) SetPalette(cm.BuildGrayPalette(false));

    const int32_t width = p.Width, height = p.Height;
    const uint32_t pixelBytes = TargaPixelSize(h.depth);
    const int64_t rowSize = int64_t(width) * pixelBytes;
    // Refuse before allocating: stored rows must all be there, and packed
    // rows can describe at most 128 pixels per packet of 1 + pixel bytes.
    if (h.imageType >= 1 && h.imageType <= 3) RequireBytes(stream, rowSize * height);
    if (IsRLEType(h.imageType) &&
        int64_t(width) * height > BytesLeft(stream) / (pixelBytes + 1) * 128 + 127)
        RaiseInvalidGraphicFmt(raster::kInvalidImage, kFormatName);
    // Every byte of every row is written below (what the data does not
    // cover, zero), so the rows need no filling first.
    NewImage(width, height, PixelFormat());
    const size_t stride = static_cast<size_t>(RowBytes());
    EndProgress();
    StartProgress(raster::kTransfering);

    auto targetRow = [&](int32_t i) { return ScanLine(topDown ? i : height - 1 - i); };
    if (IsRLEType(h.imageType)) {
        TTargaRLEDecoder decoder(h.depth);
        TPackedInput input(stream, static_cast<size_t>(std::max<int64_t>(int64_t(1) << 16, 2 * rowSize)));
        for (int32_t i = 0; i < height; ++i) {
            uint8_t* row = targetRow(i);
            // Short data leaves the rest of the picture black.
            const size_t done = static_cast<size_t>(input.DecodeInto(decoder, row, width, pixelBytes)) * pixelBytes;
            std::memset(row + done, 0, stride - done);
            RowProgress(i, height);
        }
        input.Release();
    } else {
        for (int32_t i = 0; i < height; ++i) {
            uint8_t* row = targetRow(i);
            stream.ReadBuffer(row, rowSize);
            std::memset(row + rowSize, 0, stride - static_cast<size_t>(rowSize));
            RowProgress(i, height);
        }
    }
    EndProgress();
}

void TTargaGraphic::SaveToStream(TStream& stream) { SaveToStreamCompressed(stream, true); }

void TTargaGraphic::SaveToStreamCompressed(TStream& stream, bool compressed) {
    const int32_t width = Width(), height = Height();
    progressRect_ = Rect(0, 0, width, 1);
    StartProgress(raster::kPreparing);
    const TPixelFormat format = PixelFormat();
    uint32_t pixelBytes;
    switch (format) {
        case TPixelFormat::pf1bit:
        case TPixelFormat::pf4bit:
        case TPixelFormat::pf8bit: pixelBytes = 1; break;
        case TPixelFormat::pf15bit:
        case TPixelFormat::pf16bit: pixelBytes = 2; break;
        case TPixelFormat::pf24bit: pixelBytes = 3; break;
        default: pixelBytes = 4; break;  // 32 bits, and the device and custom formats stored that way
    }
    if (Empty()) {
        EndProgress();
        return;
    }
    // The header has 16 bits for each side; a wrapped size would be a
    // broken file written as if all were well.
    if (width > 65535 || height > 65535)
        RaiseInvalidGraphic("Cannot save a picture wider or higher than 65535 pixels as a Truevision image.");

    uint8_t header[kHeaderSize] = {};
    header[1] = pixelBytes == 1 ? 1 : 0;
    header[2] = static_cast<uint8_t>((pixelBytes == 1 ? 1 : 2) + (compressed ? 8 : 0));
    Put16(header + 5, 256);  // the map fields are written also without a map
    header[7] = 24;
    Put16(header + 12, static_cast<uint16_t>(width));
    Put16(header + 14, static_cast<uint16_t>(height));
    header[16] = static_cast<uint8_t>(pixelBytes * 8);
    // Rows are written top first, whatever order they have in memory.
    header[17] = 0x20;
    stream.WriteBuffer(header, kHeaderSize);

    if (pixelBytes == 1) {
        std::array<uint8_t, 768> map{};
        const std::vector<TPaletteEntry>& colors = ColorTable();
        for (size_t i = 0; i < colors.size() && i < 256; ++i) {
            map[3 * i] = colors[i].peBlue;
            map[3 * i + 1] = colors[i].peGreen;
            map[3 * i + 2] = colors[i].peRed;
        }
        stream.WriteBuffer(map.data(), static_cast<int64_t>(map.size()));
    }
    EndProgress();
    StartProgress(raster::kTransfering);

    const int64_t rowSize = int64_t(width) * pixelBytes;
    TTargaRLEDecoder encoder(pixelBytes * 8);
    std::vector<uint8_t> packed(compressed ? static_cast<size_t>(encoder.MaxEncodedSize(width)) : 0);
    // 1- and 4-bit indices are widened to bytes and 5-6-5 pixels narrowed
    // to the 5-5-5 of the format, a row at a time; the bitmap stays as it is.
    const bool widen = format == TPixelFormat::pf1bit || format == TPixelFormat::pf4bit;
    const bool narrow = format == TPixelFormat::pf16bit;
    std::vector<uint8_t> converted(widen || narrow ? static_cast<size_t>(rowSize) : 0);
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = ScanLine(y);
        if (widen) {
            const int bits = format == TPixelFormat::pf1bit ? 1 : 4;
            for (int32_t x = 0; x < width; ++x)
                converted[static_cast<size_t>(x)] =
                    bits == 1 ? (row[x >> 3] >> (7 - (x & 7))) & 1 : ((x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4);
            row = converted.data();
        } else if (narrow) {
            for (int32_t x = 0; x < width; ++x) {
                const uint32_t v = row[2 * x] | (row[2 * x + 1] << 8);
                Put16(converted.data() + 2 * x,
                      static_cast<uint16_t>(((v >> 11) << 10) | (((v >> 6) & 0x1F) << 5) | (v & 0x1F)));
            }
            row = converted.data();
        }
        if (compressed) {
            int64_t stored = 0;
            encoder.Encode(row, packed.data(), width, stored);
            stream.WriteBuffer(packed.data(), stored);
        } else {
            stream.WriteBuffer(row, rowSize);
        }
        Progress(this, TProgressStage::psRunning, 0, false, progressRect_, "");
        progressRect_.Top += 1;
        progressRect_.Bottom += 1;
    }
    EndProgress();
}
