#include "rasterformats/AliasWavefront.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "rasterformats/RasterStrings.h"

namespace {

constexpr const char* kFormatName = "RLA";
constexpr size_t kHeaderSize = 740;

// Offsets of the header fields read; the rest (window, frame, storage
// type, auxiliary channels, primaries, names, dates, ...) is not used.
constexpr size_t kActiveLeft = 8, kActiveRight = 10, kActiveBottom = 12, kActiveTop = 14;
constexpr size_t kColorChannels = 20, kMatteChannels = 22, kRevision = 26, kGamma = 28, kDescription = 580,
                 kChannelBits = 658;

int16_t Signed16(const uint8_t* h, size_t at) { return static_cast<int16_t>((h[at] << 8) | h[at + 1]); }
uint16_t Unsigned16(const uint8_t* h, size_t at) { return static_cast<uint16_t>((h[at] << 8) | h[at + 1]); }

// A text field up to its first zero byte.
std::string Text(const uint8_t* h, size_t at, size_t size) {
    const auto* p = reinterpret_cast<const char*>(h + at);
    return std::string(p, strnlen(p, size));
}

std::string Description(const uint8_t* h) { return LowerCase(Text(h, kDescription, 32)); }

// The gamma text, read with '.' as the decimal separator whatever the
// locale; 1.0 when it is no positive number.
float Gamma(const uint8_t* h) {
    try {
        const long double g = StrToFloat(Text(h, kGamma, 16));
        if (std::isfinite(g) && g > 0 && g < 1e30L) return static_cast<float>(g);
    } catch (const EConvertError&) {
    }
    return 1.0f;
}

// The records of a row, read through a window of the stream: rows are
// usually stored one after the other, so most records are already there.
class RecordReader {
public:
    explicit RecordReader(TStream& stream) : stream_(stream), buffer_(1 << 16) {}

    // Up to `want` bytes from the absolute position; fewer where the
    // stream ends. `got` says how many are there.
    const uint8_t* At(int64_t position, size_t want, size_t& got) {
        if (position < start_ || position + int64_t(want) > start_ + int64_t(length_)) {
            if (buffer_.size() < want) buffer_.resize(want);
            start_ = position;
            stream_.SetPosition(position);
            length_ = static_cast<size_t>(std::max<int64_t>(stream_.Read(buffer_.data(), int64_t(buffer_.size())), 0));
        }
        const size_t offset = static_cast<size_t>(position - start_);
        got = offset < length_ ? std::min(want, length_ - offset) : 0;
        return buffer_.data() + offset;
    }

private:
    TStream& stream_;
    std::vector<uint8_t> buffer_;
    int64_t start_ = -1;
    size_t length_ = 0;
};

}  // namespace

QUILLARC_DEFINE_RASTER_GRAPHIC(TRLAGraphic, TRasterGraphic)

bool TRLAGraphic::AcceptsStream(TStream& stream) {
    if (BytesLeft(stream) <= static_cast<int64_t>(kHeaderSize)) return false;
    uint8_t h[kHeaderSize];
    return PeekBytes(stream, h, kHeaderSize) && Unsigned16(h, kRevision) == 0xFFFE && Description(h) != "xyz";
}

bool TRLAGraphic::ReadImageInfo(TStream& stream, int index) {
    TRasterGraphic::ReadImageInfo(stream, index);
    xyz_ = false;
    colorChannels_ = 0;
    uint8_t h[kHeaderSize];
    if (stream.Read(h, kHeaderSize) != static_cast<int64_t>(kHeaderSize)) return false;
    const std::string description = Description(h);
    if (description == "xyz") {
        xyz_ = true;
        return false;
    }
    TImageProperties& p = ImageProperties;
    p.Options = ioBigEndian;
    // Window sides are signed 16-bit numbers: the size in 64 bits, kept in
    // the 32-bit fields only when it fits (else the size check refuses it).
    const int64_t left = Signed16(h, kActiveLeft), right = Signed16(h, kActiveRight);
    const int64_t bottom = Signed16(h, kActiveBottom), top = Signed16(h, kActiveTop);
    p.Width = static_cast<int32_t>(std::clamp<int64_t>(right - left + 1, -1, INT32_MAX));
    p.Height = static_cast<int32_t>(std::clamp<int64_t>(std::abs(bottom - top) + 1, -1, INT32_MAX));
    p.BottomUp = bottom < top;
    colorChannels_ = h[kColorChannels + 1];
    // Any matte channel gives an alpha sample: the first matte record.
    const bool matte = Unsigned16(h, kMatteChannels) != 0;
    p.SamplesPerPixel = static_cast<uint8_t>(colorChannels_ + (matte ? 1 : 0));
    p.BitsPerSample = h[kChannelBits + 1];
    p.BitsPerPixel = static_cast<uint8_t>(p.SamplesPerPixel * p.BitsPerSample);
    // One colour channel is grey.
    if (description == "rgb") {
        if (colorChannels_ == 1) p.ColorScheme = matte ? TColorLayout::csGrayAlpha : TColorLayout::csGray;
        else p.ColorScheme = matte ? TColorLayout::csRGBA : TColorLayout::csRGB;
    }
    p.FileGamma = Gamma(h);
    p.Compression = TCompressionType::ctRLE;
    return true;
}

void TRLAGraphic::LoadImage(TStream& stream) {
    // XYZ data is recognised but has no converter.
    if (!ReadImageInfo(stream, 0) && xyz_) RaiseInvalidGraphicFmt(raster::kInvalidColorFormat, kFormatName);
    ReadHeader(stream, kFormatName);
    StartProgress(raster::kTransfering);

    TImageProperties& p = ImageProperties;
    const bool grey = p.ColorScheme == TColorLayout::csGray || p.ColorScheme == TColorLayout::csGrayAlpha;
    const bool colour = p.ColorScheme == TColorLayout::csRGB || p.ColorScheme == TColorLayout::csRGBA;
    const uint8_t bits = p.BitsPerSample;
    if (!(grey || (colour && colorChannels_ == 3)) || (bits != 8 && bits != 16))
        RaiseInvalidGraphicFmt(raster::kInvalidColorFormat, kFormatName);
    // Grey with a matte is read as grey, the matte dropped.
    const bool alpha = p.ColorScheme == TColorLayout::csRGBA;
    const uint8_t planes = grey ? 1 : (alpha ? 4 : 3);
    TColorManager& cm = ColorManager();
    cm.SetSourceSampleCount(planes);
    cm.SetTargetSampleCount(planes);
    cm.SetSourceSampleBits(bits);
    cm.SetTargetSampleBits(std::min<uint8_t>(bits, 8));
    cm.SetSourceLayout(grey ? TColorLayout::csGray : p.ColorScheme);
    cm.SetTargetLayout(grey ? TColorLayout::csGray : (alpha ? TColorLayout::csBGRA : TColorLayout::csBGR));
    cm.SourceFlags = bits == 16 && std::endian::native == std::endian::little ? cfByteSwap : 0;
    SetReaderPixelFormat(cm.PixelFormatFor(1));
    if (p.FileGamma != 1.0f) {
        cm.SetGammaCurve(p.FileGamma, 2.2f);
        cm.TargetFlags |= cfApplyGamma;
        p.Options |= ioUseGamma;
    }
    if (grey) SetPalette(cm.BuildGrayPalette(false));

    const int32_t width = p.Width, height = p.Height;
    stream.SetPosition(basePosition_ + static_cast<int64_t>(kHeaderSize));
    RequireBytes(stream, int64_t(4) * height);
    std::vector<uint32_t> offsets(static_cast<size_t>(height));
    stream.ReadBuffer(offsets.data(), int64_t(4) * height);
    if constexpr (std::endian::native == std::endian::little) SwapLongArray(offsets.data(), height);
    // Refuse before allocating a picture the records could not fill: two
    // bytes of run-length data give at most 128.
    const size_t planeBytes = static_cast<size_t>(width) * (bits / 8);
    if (raster::CheckedMul(int64_t(planeBytes) * planes, height) > BytesLeft(stream) / 2 * 128 + 128)
        RaiseInvalidGraphicFmt(raster::kInvalidImage, kFormatName);

    NewImage(width, height, PixelFormat());
    const size_t stride = static_cast<size_t>(RowBytes());
    const size_t used = static_cast<size_t>(width) * BitsPerPixel(PixelFormat()) / 8;
    std::vector<uint8_t> planeData(planeBytes * planes), spans(bits == 16 ? planeBytes : 0);
    TRowPlane source[4];
    for (uint8_t c = 0; c < planes; ++c) source[c] = TRowPlane{planeData.data() + c * planeBytes, planeBytes};
    RecordReader records(stream);
    TRLADecoder decoder;
    for (int32_t i = 0; i < height; ++i) {
        // Records missing or cut short leave zeros; data that would run
        // past the plane is cut at its end.
        std::fill(planeData.begin(), planeData.end(), 0);
        int64_t at = basePosition_ + offsets[static_cast<size_t>(i)];
        for (uint8_t c = 0; c < planes; ++c) {
            size_t got = 0;
            const uint8_t* count = records.At(at, 2, got);
            if (got < 2) break;
            const size_t length = (count[0] << 8) | count[1];
            const uint8_t* packed = records.At(at + 2, length, got);
            uint8_t* plane = planeData.data() + c * planeBytes;
            if (bits == 8) {
                decoder.Decode(packed, plane, static_cast<int64_t>(got), static_cast<int64_t>(planeBytes));
            } else {
                // A 16-bit channel is two spans, the high bytes of the row's
                // samples, then their low bytes: the plane takes them as
                // big-endian words.
                std::fill(spans.begin(), spans.end(), 0);
                const uint8_t* const end = packed + got;
                uint8_t* high = spans.data();
                uint8_t* low = spans.data() + width;
                decoder.Decode(packed, high, end - packed, width);
                decoder.Decode(packed, low, end - packed, width);
                for (int32_t x = 0; x < width; ++x) {
                    plane[2 * x] = spans[size_t(x)];
                    plane[2 * x + 1] = spans[size_t(width + x)];
                }
            }
            if (got < length) break;
            at += 2 + static_cast<int64_t>(length);
        }
        uint8_t* row = ScanLine(p.BottomUp ? height - 1 - i : i);
        cm.ConvertPixels(std::span<const TRowPlane>(source, planes), row, stride, static_cast<uint32_t>(width));
        std::memset(row + used, 0, stride - used);
        RowProgress(i, height);
    }
    EndProgress();
}
