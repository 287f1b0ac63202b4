#include "rasterformats/PaintshopPro.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/core/LoadWork.h"
#include "rasterformats/LZ77Decoder.h"
#include "rasterformats/RasterStrings.h"

namespace {

constexpr const char* kFormatName = "PSP";
constexpr size_t kHeaderSize = 36;
constexpr char kSignature[] = "Paint Shop Pro Image File";
constexpr size_t kAttributesSize = 42;
constexpr size_t kLayerAttributesSize = 115;
constexpr size_t kPackedPiece = size_t(1) << 16;  // packed bytes read at a time
constexpr int64_t kBandBytes = int64_t(1) << 18;  // unpacked bytes of a channel at a time
// A picture is sized from the header, also when the file has no layer (it
// stays empty then); one larger than this must be backed by the data left
// in the file at the most its compression can expand, so that a few bytes
// cannot claim hundreds of megabytes.
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

// One channel's packed data unpacked a piece at a time, byte for byte as all
// of it at once: run-length packets and deflate streams run on from one row
// of the plane into the next. The data is read from the stream in pieces.
class TChannelData {
public:
    // The packed bytes from `from` on; channels read side by side take
    // turns at the stream.
    TChannelData(TStream& stream, int64_t packed, TCompressionType compression, int64_t from)
        : input_(stream, static_cast<size_t>(std::min<int64_t>(packed, kPackedPiece)), packed, from) {
        if (compression == TCompressionType::ctRLE) {
            decoder_ = std::make_unique<TPSPRLEDecoder>();
        } else if (compression == TCompressionType::ctLZ77) {
            auto inflate = std::make_unique<TLZ77Decoder>(Z_PARTIAL_FLUSH, false);
            inflate_ = inflate.get();
            decoder_ = std::move(inflate);
        }
        if (decoder_) decoder_->BeginDecode();
    }
    // Up to count bytes into dest; fewer only where the data ends.
    int64_t Unpack(uint8_t* dest, int64_t count);
    // Ends the decoding; the packed bytes taken.
    int64_t Finish() {
        if (decoder_) decoder_->EndDecode();
        return consumed_;
    }

private:
    TPackedInput input_;
    std::unique_ptr<TDecoder> decoder_;  // none for stored data
    TLZ77Decoder* inflate_ = nullptr;
    int64_t consumed_ = 0;
};

int64_t TChannelData::Unpack(uint8_t* dest, int64_t count) {
    int64_t done = 0;
    while (done < count) {
        // The decoder goes on without data only when no more comes: inflate
        // may hold output for the last bytes it took, but an empty call
        // before the next piece would end its stream.
        if (input_.Available() == 0) input_.Refill();
        const auto available = static_cast<int64_t>(input_.Available());
        int64_t got, used;
        if (!decoder_) {
            got = used = std::min(available, count - done);
            std::memcpy(dest + done, input_.Data(), static_cast<size_t>(got));
        } else {
            const uint8_t* cursor = input_.Data();
            uint8_t* out = dest + done;
            got = decoder_->Decode(cursor, out, available, count - done);
            used = cursor - input_.Data();
        }
        input_.Consume(static_cast<size_t>(used));
        consumed_ += used;
        done += got;
        // Inflate errors are not raised: the channel keeps what was inflated.
        if (inflate_ != nullptr && inflate_->Result() != kZlibOK) break;
        if (got == 0 && used == 0 && !input_.Refill()) break;
    }
    return done;
}

// Where the bytes of a channel's plane go in the picture, as the colour
// manager converts them at the same depth on both sides: the rows of an
// index or grey plane are the scan lines' pixel bytes (a 4-bit row of an
// even width has a byte more, which is dropped), the bytes of a colour plane
// of type 1 to 3 (red, green, blue) every third or fourth byte of the scan
// lines from byte 3 - type.
struct TChannelPlace {
    TBitmap* picture;
    size_t rowSize;  // bytes of a plane row
    size_t used;     // of them, those an index or grey row keeps
    size_t step;     // bytes of a colour pixel; 0 for index or grey

    // Plane bytes [x, x + n) of row y of the channel type from source, or
    // zeros without one.
    void Put(size_t type, int32_t y, size_t x, size_t n, const uint8_t* source) const {
        uint8_t* line = picture->ScanLine(y);
        if (step == 0) {
            if (x >= used) return;
            n = std::min(n, used - x);
            if (source != nullptr) std::memcpy(line + x, source, n);
            else std::memset(line + x, 0, n);
            return;
        }
        uint8_t* d = line + x * step + 3 - type;
        if (source != nullptr) {
            for (size_t i = 0; i < n; ++i, d += step) *d = source[i];
        } else {
            for (size_t i = 0; i < n; ++i, d += step) *d = 0;
        }
    }
    // Whole rows of the three colour planes in one pass.
    void PutColours(int32_t y, const uint8_t* red, const uint8_t* green, const uint8_t* blue) const {
        uint8_t* d = picture->ScanLine(y);
        for (size_t x = 0; x < rowSize; ++x, d += step) {
            d[0] = blue[x];
            d[1] = green[x];
            d[2] = red[x];
        }
    }
    // Plane bytes [from, to) of the channel type back to zero.
    void Zero(size_t type, int64_t from, int64_t to) const {
        while (from < to) {
            const auto x = static_cast<size_t>(from % int64_t(rowSize));
            const auto n = static_cast<size_t>(std::min<int64_t>(int64_t(rowSize - x), to - from));
            Put(type, static_cast<int32_t>(from / int64_t(rowSize)), x, n, nullptr);
            from += int64_t(n);
        }
    }
};

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
    // The picture is sized once its layer says whether it has 32 bits, so
    // that a 24-bit one is never made and widened beside it.
    SetReaderPixelFormat(cm.PixelFormatFor(1));
    EndProgress();

    // The blocks of the channels the picture shows, by channel type 0
    // (index or grey) to 3 (blue): where the data starts (-1: no block), the
    // packed bytes there and the plane bytes they may give.
    struct TChannelBlock {
        int64_t data = -1, packed = 0, wanted = 0;
    };
    std::array<bool, 4> seen{};
    auto readChannelBlock = [&](std::array<TChannelBlock, 4>& shown) {
        TBlock block;
        if (!ReadBlockHeader(stream, block)) throw EReadError("Stream read error");
        if (version >= 4) Read32(stream);  // chunk length
        const uint32_t compressed = Read32(stream), uncompressed = Read32(stream);
        Read16(stream);  // bitmap type
        const uint32_t type = Read16(stream);
        // Other channel types are passed over by their block's length, and
        // so are the planes the picture does not show: the colour planes of
        // an indexed or grey picture, and the index plane of a colour one
        // (its alpha is not read). Each block stands for the whole plane of
        // its type, zero past its own data, so of several blocks of a type
        // only the last one is unpacked.
        if (type <= 3) seen[type] = true;
        if (type <= 3 && (rgb ? type != 0 : type == 0)) {
            // The data lies inside its block, however long it says it is;
            // stored data is taken as far as it goes, packed data no further
            // than its uncompressed length.
            TChannelBlock& c = shown[type];
            c.data = stream.Position();
            c.packed = std::clamp<int64_t>(block.end - c.data, 0, compressed);
            c.wanted =
                compression == TCompressionType::ctNone ? planeSize : std::min<int64_t>(uncompressed, planeSize);
        }
        stream.SetPosition(block.end);
    };

    // The channels of a layer unpacked side by side, a band of rows at a
    // time, straight into the picture's scan lines. placed: the bytes of
    // each type's plane, from the start, that the layer of an earlier layer
    // bank may have left other than zero; a channel's block replaces them.
    std::array<int64_t, 4> placed{};
    auto placeChannels = [&](const std::array<TChannelBlock, 4>& shown, const TChannelPlace& place) {
        const auto bandRows = static_cast<int32_t>(std::clamp<int64_t>(kBandBytes / int64_t(rowSize), 1, height));
        const size_t bandBytes = size_t(bandRows) * rowSize;
        std::array<std::unique_ptr<TChannelData>, 4> data;
        std::array<uint8_t*, 4> band{};
        std::array<int64_t, 4> done{};
        size_t count = 0;
        for (size_t t = 0; t < 4; ++t)
            if (shown[t].packed > 0 && shown[t].wanted > 0) {
                data[t] = std::make_unique<TChannelData>(stream, shown[t].packed, compression, shown[t].data);
                ++count;
            }
        // Left unfilled: a band is read only as far as it was unpacked.
        const auto bands = std::make_unique_for_overwrite<uint8_t[]>(bandBytes * count);
        for (size_t t = 0, slot = 0; t < 4; ++t)
            if (data[t]) band[t] = bands.get() + bandBytes * slot++;
        for (int32_t first = 0; first < height; first += bandRows) {
            const int32_t rows = std::min(bandRows, height - first);
            std::array<size_t, 4> got{};  // bytes of the band unpacked
            size_t most = 0;
            for (size_t t = 0; t < 4; ++t) {
                if (!data[t]) continue;
                const int64_t n = std::min<int64_t>(int64_t(rows) * int64_t(rowSize), shown[t].wanted - done[t]);
                got[t] = static_cast<size_t>(data[t]->Unpack(band[t], n));
                done[t] += int64_t(got[t]);
                most = std::max(most, got[t]);
                if (int64_t(got[t]) < n || done[t] == shown[t].wanted) {
                    loadwork::AddDecodedBytes(static_cast<uint64_t>(data[t]->Finish()));
                    data[t].reset();
                }
            }
            if (most == 0) break;
            for (size_t at = 0; at < most; at += rowSize) {
                const size_t end = at + rowSize;
                const auto y = static_cast<int32_t>(first + int32_t(at / rowSize));
                if (rgb && got[1] >= end && got[2] >= end && got[3] >= end) {
                    place.PutColours(y, band[1] + at, band[2] + at, band[3] + at);
                } else {
                    for (size_t t = 0; t < 4; ++t)
                        if (got[t] > at) place.Put(t, y, 0, std::min(got[t], end) - at, band[t] + at);
                }
                RowProgress(y, height);
            }
            if (most < size_t(rows) * rowSize) break;
        }
        for (size_t t = 0; t < 4; ++t) {
            if (shown[t].data < 0) continue;
            place.Zero(t, done[t], placed[t]);
            placed[t] = done[t];
        }
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
            std::array<TChannelBlock, 4> shown;
            for (uint32_t c = 0; c < channels; ++c) readChannelBlock(shown);
            if (rgb && !(seen[1] && seen[2] && seen[3]))
                RaiseInvalidGraphicFmt(raster::kInvalidColorFormat, kFormatName);
            const int64_t layerEnd = stream.Position();
            // More than three channels make a 32-bit picture; one an earlier
            // layer bank made is widened, its fourth byte 0.
            if (channels > 3 && rgb) SetPixelFormat(TPixelFormat::pf32bit);
            if (Empty()) SetSize(width, height);
            EndProgress();
            StartProgress(raster::kTransfering);
            TChannelPlace place{this, rowSize, (size_t(width) * p.BitsPerSample + 7) / 8, 0};
            if (rgb) place.step = PixelFormat() == TPixelFormat::pf32bit ? 4 : 3;
            placeChannels(shown, place);
            stream.SetPosition(layerEnd);
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
    if (Empty()) SetSize(width, height);
}
