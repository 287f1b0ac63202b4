#include "rasterformats/Photoshop.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/core/PixelBuffer.h"
#include "rasterformats/RasterStrings.h"

namespace {

constexpr const char* kFormatName = "PSD or PDD";
constexpr size_t kHeaderSize = 26;
// PackBits makes at most 128 bytes of 2: data that could not fill the
// picture even so is refused before the picture is allocated.
constexpr int64_t kMaxPackBitsRatio = 64;

// Colour pictures are read a band of rows at a time, every channel's rows
// of the band side by side: the planes are never held whole.
constexpr int64_t kBandBytes = 256 * 1024;
// Packed data is read in pieces of this size; a row's count is at most 65535.
constexpr size_t kPackedPiece = 128 * 1024;

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

// PackBits data decoded as one stream, byte for byte as TPackbitsRLEDecoder
// decodes all of it in one call, but a piece at a time: a packet that runs
// past the bytes asked for goes on in the next call.
class TPackBitsStream {
public:
    // The `limit` packed bytes from `from` on.
    TPackBitsStream(TStream& stream, int64_t from, int64_t limit) : input_(stream, kPackedPiece, limit, from) {}
    // `wanted` bytes into dest; fewer only where the data ends.
    int64_t Decode(uint8_t* dest, int64_t wanted);
    // Takes the headers that do nothing (-128) that come next, up to
    // `upTo` packed bytes taken: encoders end rows with them.
    void SkipNoOps(int64_t upTo);
    // Packed bytes taken so far, and whether a packet is part-way done.
    int64_t Consumed() const { return consumed_; }
    bool InPacket() const { return run_ > 0 || literal_ > 0; }

private:
    void Take(int64_t n) {
        input_.Consume(static_cast<size_t>(n));
        consumed_ += n;
    }

    TPackedInput input_;
    int64_t consumed_ = 0;
    int64_t run_ = 0, literal_ = 0;  // bytes of the current packet still to come
    uint8_t value_ = 0;
};

void TPackBitsStream::SkipNoOps(int64_t upTo) {
    while (!InPacket() && consumed_ < upTo) {
        if (input_.Available() == 0 && !input_.Refill()) return;
        if (input_.Data()[0] != 0x80) return;
        Take(1);
    }
}

int64_t TPackBitsStream::Decode(uint8_t* dest, int64_t wanted) {
    int64_t done = 0;
    while (done < wanted) {
        if (run_ > 0) {
            const int64_t n = std::min(run_, wanted - done);
            std::memset(dest + done, value_, static_cast<size_t>(n));
            done += n;
            run_ -= n;
        } else if (literal_ > 0) {
            if (input_.Available() == 0) input_.Refill();
            const int64_t n = std::min({literal_, wanted - done, static_cast<int64_t>(input_.Available())});
            if (n == 0) break;
            std::memcpy(dest + done, input_.Data(), static_cast<size_t>(n));
            Take(n);
            done += n;
            literal_ -= n;
        } else {
            if (input_.Available() < 2) input_.Refill();
            if (input_.Available() == 0) break;
            const auto header = static_cast<int8_t>(input_.Data()[0]);
            if (header >= 0) {
                // A literal is cut to the data there is.
                literal_ = std::min<int64_t>(header + 1, input_.Left() - 1);
                Take(1);
            } else if (header == -128) {
                Take(1);
            } else if (input_.Available() < 2) {
                Take(1);  // a run header without its byte ends the data
                break;
            } else {
                value_ = input_.Data()[1];
                run_ = 1 - header;
                Take(2);
            }
        }
    }
    return done;
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

// What the steps of one load share: the header's fields, how the channels
// are converted, and the PackBits byte count of every row.
struct TPSDGraphic::TPSDLoad {
    PSDHeader header;
    int32_t width = 0, height = 0;
    TColorLayout scheme = TColorLayout::csNone, target = TColorLayout::csNone;
    uint32_t planes = 1;  // channels converted
    bool packed = false;
    std::vector<uint32_t> counts;

    // The packed bytes of the first rows of the table, as far as the stream
    // holds them: data that ends early leaves the rest of the picture black.
    int64_t PackedBytes(TStream& stream, size_t rows, int64_t unpacked) const {
        int64_t sum = 0;
        for (size_t i = 0; i < rows; ++i) sum += counts[i];
        const int64_t present = std::min(sum, BytesLeft(stream));
        if (unpacked > present * kMaxPackBitsRatio) RaiseInvalidGraphicFmt(raster::kInvalidImage, kFormatName);
        return present;
    }
};

void TPSDGraphic::LoadImage(TStream& stream) {
    ReadHeader(stream, kFormatName);
    StartProgress(raster::kPreparing);
    uint8_t b[kHeaderSize];
    stream.ReadBuffer(b, kHeaderSize);
    TPSDLoad load;
    const PSDHeader& h = load.header = Parse(b);
    const TImageProperties& p = ImageProperties;
    load.width = p.Width;
    load.height = p.Height;
    load.scheme = p.ColorScheme;
    load.packed = p.Compression == TCompressionType::ctPackedBits;
    if (load.scheme == TColorLayout::csNone) {
        LoadUnconverted(stream, load);
        return;
    }

    // Grey and indexed images read their first channel; further channels
    // (the alpha of grey with alpha) are left. Colour images need all of
    // theirs: refused with fewer, and an L*a*b* picture's alpha is left.
    const TColorLayout scheme = load.scheme;
    const bool oneChannel = scheme == TColorLayout::csGray || scheme == TColorLayout::csIndexed;
    load.target = scheme;
    switch (scheme) {
        case TColorLayout::csRGB: load.planes = 3, load.target = TColorLayout::csBGR; break;
        case TColorLayout::csRGBA: load.planes = 4, load.target = TColorLayout::csBGRA; break;
        case TColorLayout::csCMYK: load.planes = 4, load.target = TColorLayout::csBGR; break;
        case TColorLayout::csCIELab: load.planes = 3, load.target = TColorLayout::csBGR; break;
        default: break;
    }
    // Bitmap mode has 1 bit, an indexed picture 8 (its palette has 256
    // colours), the others 8 or 16.
    const bool depthOk = h.mode == 0 ? h.depth == 1 : (h.mode == 2 ? h.depth == 8 : h.depth == 8 || h.depth == 16);
    if (h.channels < load.planes || !depthOk) RaiseInvalidGraphicFmt(raster::kInvalidColorFormat, kFormatName);

    TColorManager& cm = ColorManager();
    cm.SourceFlags = cfByteSwap;
    if (scheme == TColorLayout::csCIELab) cm.SourceFlags |= cfLabByteRange | cfABOffset;
    cm.SetSourceSampleBits(static_cast<uint8_t>(h.depth));
    cm.SetTargetSampleBits(h.depth == 16 ? 8 : static_cast<uint8_t>(h.depth));
    cm.SetSourceSampleCount(static_cast<uint8_t>(load.planes));
    cm.SetTargetSampleCount(load.target == TColorLayout::csBGRA ? 4 : static_cast<uint8_t>(oneChannel ? 1 : 3));
    cm.SetSourceLayout(scheme);
    cm.SetTargetLayout(load.target);
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
    if (load.packed) {
        const int64_t rows = int64_t(load.height) * h.channels;
        RequireBytes(stream, 2 * rows);
        std::vector<uint8_t> table(static_cast<size_t>(2 * rows));
        stream.ReadBuffer(table.data(), 2 * rows);
        load.counts.resize(static_cast<size_t>(rows));
        for (size_t i = 0; i < load.counts.size(); ++i) load.counts[i] = Get16(table.data() + 2 * i);
    }
    EndProgress();
    if (oneChannel)
        LoadOneChannel(stream, load);
    else
        LoadColour(stream, load);
}

// Modes without a conversion (5, 6 and above 9) give a picture of the file's
// size with nothing in it. Nothing of the file is read for it, so only the
// bytes after the sections vouch for that size: a picture larger than they
// could fill (PackBits making 128 bytes of 2) is a bare claim.
void TPSDGraphic::LoadUnconverted(TStream& stream, const TPSDLoad& load) {
    stream.Seek(ReadLength(stream), TSeekOrigin::soCurrent);      // colour mode data
    stream.Seek(ReadLength(stream), TSeekOrigin::soCurrent);      // image resources
    stream.Seek(ReadLength(stream) + 2, TSeekOrigin::soCurrent);  // layers and masks, compression word
    const int64_t data = BytesLeft(stream) * (load.packed ? kMaxPackBitsRatio : 1);
    if (int64_t(load.width) * load.height * 3 > data) RaiseInvalidGraphicFmt(raster::kInvalidImage, kFormatName);
    SetPixelFormat(TPixelFormat::pf24bit);
    SetSize(load.width, load.height);
    EndProgress();
}

// Grey, duotone, bitmap and indexed pictures: the first channel's rows go
// into the scan lines as they are; 16-bit grey through the colour manager.
void TPSDGraphic::LoadOneChannel(TStream& stream, const TPSDLoad& load) {
    const int32_t width = load.width, height = load.height;
    const uint32_t depth = load.header.depth;
    StartProgress(raster::kTransfering);
    const size_t rowBytes = depth == 1 ? (size_t(width) + 7) / 8 : size_t(width) * (depth == 16 ? 2 : 1);
    const bool wide = depth == 16;
    std::vector<uint8_t> wideRow(wide ? rowBytes : 0);
    std::unique_ptr<TPackedInput> input;
    if (load.packed)
        input = std::make_unique<TPackedInput>(stream, kPackedPiece,
                                               load.PackedBytes(stream, size_t(height), int64_t(rowBytes) * height));
    else
        RequireBytes(stream, int64_t(rowBytes) * height);
    NewImage(width, height, PixelFormat());
    TColorManager& cm = ColorManager();
    TPackbitsRLEDecoder decoder;
    const size_t stride = static_cast<size_t>(RowBytes());
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* line = ScanLine(y);
        uint8_t* row = wide ? wideRow.data() : line;
        size_t written = rowBytes;
        if (load.packed) {
            // Each row from its own count of bytes, as far as the data goes.
            const uint32_t rowCount = load.counts[size_t(y)];
            while (input->Available() < rowCount && input->Refill()) {
            }
            const size_t count = std::min<size_t>(rowCount, input->Available());
            const uint8_t* source = input->Data();
            uint8_t* dest = row;
            written = static_cast<size_t>(decoder.Decode(source, dest, int64_t(count), int64_t(rowBytes)));
            std::memset(row + written, 0, rowBytes - written);
            input->Consume(count);
        } else {
            stream.ReadBuffer(row, int64_t(rowBytes));
        }
        if (wide) cm.ConvertPixels(wideRow.data(), rowBytes, line, stride, static_cast<uint32_t>(width));
        const size_t used = wide ? size_t(width) : rowBytes;
        std::memset(line + used, 0, stride - used);
        RowProgress(y, height);
    }
    EndProgress();
}

// RGB, multichannel, CMYK and L*a*b* pictures: the channels' rows of a band
// side by side, converted into the scan lines, band after band.
void TPSDGraphic::LoadColour(TStream& stream, const TPSDLoad& load) {
    const int32_t width = load.width, height = load.height;
    const uint32_t planes = load.planes;
    const bool packed = load.packed;
    StartProgress(raster::kLoadingData);
    const size_t planeRow = size_t(width) * (load.header.depth == 16 ? 2 : 1);
    const int64_t planeSize = int64_t(planeRow) * height;
    const int64_t total = planeSize * planes;
    const int64_t dataStart = stream.Position();
    // PackBits: each channel's data decoded on its own from where the table
    // puts it, which is where the one stream of all channels reaches it
    // when no packet runs on from one channel into the next (checked below).
    int64_t present = 0;
    std::vector<int64_t> channelStart(planes + 1, 0);
    std::vector<std::unique_ptr<TPackBitsStream>> channels;
    if (packed) {
        present = load.PackedBytes(stream, size_t(height) * planes, total);
        int64_t sum = 0;
        for (uint32_t c = 0; c < planes; ++c) {
            channelStart[c] = std::min(sum, present);
            for (int32_t y = 0; y < height; ++y) sum += load.counts[size_t(c) * size_t(height) + size_t(y)];
        }
        channelStart[planes] = present;
        for (uint32_t c = 0; c < planes; ++c)
            channels.push_back(std::make_unique<TPackBitsStream>(stream, dataStart + channelStart[c],
                                                                 present - channelStart[c]));
    } else {
        RequireBytes(stream, total);
    }
    EndProgress();
    StartProgress(raster::kTransfering);
    NewImage(width, height, PixelFormat());
    TColorManager& cm = ColorManager();
    const size_t stride = static_cast<size_t>(RowBytes());
    const size_t written = size_t(width) * (load.target == TColorLayout::csBGRA ? 4 : 3);
    // Rows [first, first + count) from planes lying planeBytes apart.
    auto convertRows = [&](uint8_t* base, size_t planeBytes, int32_t first, int32_t count, bool progress) {
        // Photoshop stores ink as 255 less its amount.
        if (load.scheme == TColorLayout::csCMYK)
            for (uint32_t c = 0; c < planes; ++c) {
                uint8_t* ink = base + c * planeBytes;
                for (size_t i = 0; i < size_t(count) * planeRow; ++i) ink[i] = static_cast<uint8_t>(255 - ink[i]);
            }
        TRowPlane rows[4];
        for (int32_t y = first; y < first + count; ++y) {
            for (uint32_t c = 0; c < planes; ++c)
                rows[c] = {base + c * planeBytes + size_t(y - first) * planeRow, planeRow};
            uint8_t* line = ScanLine(y);
            cm.ConvertPixels(std::span<const TRowPlane>(rows, planes), line, stride, static_cast<uint32_t>(width));
            std::memset(line + written, 0, stride - written);
            if (progress) RowProgress(y, height);
        }
    };
    const auto bandRows = static_cast<int32_t>(
        std::clamp<int64_t>(kBandBytes / int64_t(planeRow * planes), 1, height));
    const size_t bandPlane = size_t(bandRows) * planeRow;
    std::vector<uint8_t> band(bandPlane * planes);
    auto readBands = [&](bool progress) {
        for (int32_t first = 0; first < height; first += bandRows) {
            const int32_t count = std::min(bandRows, height - first);
            const size_t bytes = size_t(count) * planeRow;
            for (uint32_t c = 0; c < planes; ++c) {
                uint8_t* dest = band.data() + c * bandPlane;
                if (packed) {
                    const auto got = static_cast<size_t>(channels[c]->Decode(dest, int64_t(bytes)));
                    std::memset(dest + got, 0, bytes - got);
                } else {
                    stream.SetPosition(dataStart + int64_t(c) * planeSize + int64_t(first) * int64_t(planeRow));
                    stream.ReadBuffer(dest, int64_t(bytes));
                }
            }
            convertRows(band.data(), bandPlane, first, count, progress);
        }
    };
    readBands(true);
    // A packet that ran on into the next channel, or a table whose counts
    // miss the packets' ends, puts the channels elsewhere in the one stream:
    // then all of it is decoded in one piece, as the data says.
    bool apart = true;
    for (uint32_t c = 0; c + 1 < planes && packed; ++c) {
        const int64_t length = channelStart[c + 1] - channelStart[c];
        channels[c]->SkipNoOps(length);
        apart = apart && !channels[c]->InPacket() && channels[c]->Consumed() == length;
    }
    if (!apart) {
        // Each channel read again from the start of the one stream, its
        // decoder first running through the channels before it: the planes
        // are still never held whole.
        std::vector<uint8_t> skipped(kPackedPiece);
        for (uint32_t c = 0; c < planes; ++c) {
            channels[c] = std::make_unique<TPackBitsStream>(stream, dataStart, present);
            for (int64_t left = int64_t(c) * planeSize; left > 0;) {
                const int64_t n = std::min<int64_t>(left, int64_t(skipped.size()));
                if (channels[c]->Decode(skipped.data(), n) < n) break;  // the data ends before this channel
                left -= n;
            }
        }
        readBands(false);
    }
    EndProgress();
}
