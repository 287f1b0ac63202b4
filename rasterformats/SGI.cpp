#include "rasterformats/SGI.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "rasterformats/RasterStrings.h"

namespace {

constexpr const char* kFormatName = "sgi, bw or rgb(a)";
constexpr int64_t kHeaderSize = 512;
constexpr uint32_t kMagic = 474;

uint32_t Word(const uint8_t* p) { return (uint32_t(p[0]) << 8) | p[1]; }
uint32_t Long(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]; }

// Reads one row of one channel, as stored (bottom row first), into a buffer
// of width x bytes-per-sample bytes. What the file does not hold for the
// row stays zero: a run-length row whose offset lies past the end of the
// stream is all zero, one whose data ends early is zero from there on.
class ChannelRows {
public:
    ChannelRows(TStream& stream, int64_t base, const TImageProperties& p)
        : stream_(stream),
          base_(base),
          height_(p.Height),
          sampleBytes_(p.BitsPerSample / 8),
          rowBytes_(int64_t(p.Width) * sampleBytes_),
          rle_(p.Compression == TCompressionType::ctRLE) {}

    // Run-length files: the start and length tables after the header, one
    // entry per row and channel. Tables larger than the stream are refused.
    void ReadTables(uint32_t channels) {
        const int64_t entries = int64_t(height_) * channels;
        RequireBytes(stream_, entries * 8);
        std::vector<uint8_t> raw(static_cast<size_t>(entries * 8));
        stream_.ReadBuffer(raw.data(), static_cast<int64_t>(raw.size()));
        starts_.resize(static_cast<size_t>(entries));
        lengths_.resize(static_cast<size_t>(entries));
        for (size_t i = 0; i < starts_.size(); ++i) {
            starts_[i] = Long(raw.data() + 4 * i);
            lengths_[i] = Long(raw.data() + 4 * (starts_.size() + i));
        }
        available_ = std::max<int64_t>(stream_.Size() - base_, 0);
        // A row of w samples never needs more than 2w samples of packed
        // data (a header for each sample at worst) and its end mark: longer
        // lengths are not read, so a hostile table cannot make every row
        // read the whole file.
        packed_.resize(static_cast<size_t>((2 * rowBytes_ / sampleBytes_ + 1) * sampleBytes_));
        decoder_ = std::make_unique<TSGIRLEDecoder>(static_cast<uint8_t>(sampleBytes_ * 8));
    }

    // The samples the packed rows could give at the most: a header and one
    // sample repeat it 127 times. Each row counts what Read would take of
    // it, and all rows together no more than the stream holds after the
    // tables, so rows that share their data cannot multiply it.
    int64_t MostSamples(int64_t dataStart) const {
        int64_t bytes = 0;
        for (size_t i = 0; i < starts_.size(); ++i)
            if (starts_[i] < available_)
                bytes += std::min<int64_t>(
                    {int64_t(lengths_[i]) * sampleBytes_, available_ - starts_[i], int64_t(packed_.size())});
        bytes = std::min(bytes, std::max<int64_t>(available_ - dataStart, 0));
        return bytes / (2 * sampleBytes_) * 127;
    }

    void Read(uint32_t channel, int32_t row, uint8_t* dest) {
        const size_t index = size_t(row) + size_t(channel) * size_t(height_);
        int64_t done = 0;
        if (!rle_) {
            stream_.SetPosition(base_ + kHeaderSize + rowBytes_ * int64_t(index));
            done = std::max<int64_t>(stream_.Read(dest, rowBytes_), 0);
        } else if (starts_[index] < available_) {
            // The lengths count bytes; for 16-bit samples twice as many are
            // read, which the end mark of the row makes harmless.
            const int64_t wanted = std::min<int64_t>({int64_t(lengths_[index]) * sampleBytes_,
                                                      available_ - starts_[index], int64_t(packed_.size())});
            stream_.SetPosition(base_ + starts_[index]);
            const int64_t got = std::max<int64_t>(stream_.Read(packed_.data(), wanted), 0);
            const uint8_t* source = packed_.data();
            uint8_t* target = dest;
            done = decoder_->Decode(source, target, got, rowBytes_);
        }
        std::memset(dest + done, 0, static_cast<size_t>(rowBytes_ - done));
    }

private:
    TStream& stream_;
    int64_t base_;
    int32_t height_;
    int64_t sampleBytes_;
    int64_t rowBytes_;
    bool rle_;
    int64_t available_ = 0;
    std::vector<uint32_t> starts_, lengths_;
    std::vector<uint8_t> packed_;
    std::unique_ptr<TSGIRLEDecoder> decoder_;
};

}  // namespace

QUILLARC_DEFINE_RASTER_GRAPHIC(TSGIGraphic, TRasterGraphic)

bool TSGIGraphic::AcceptsStream(TStream& stream) {
    if (BytesLeft(stream) <= kHeaderSize) return false;
    uint8_t header[6];
    if (!PeekBytes(stream, header, sizeof header)) return false;
    const uint32_t dimension = Word(header + 4);
    return Word(header) == kMagic && (header[3] == 1 || header[3] == 2) && dimension >= 1 && dimension <= 3;
}

bool TSGIGraphic::ReadImageInfo(TStream& stream, int index) {
    TRasterGraphic::ReadImageInfo(stream, index);
    uint8_t header[kHeaderSize];
    stream.ReadBuffer(header, kHeaderSize);
    if (Word(header) != kMagic) return false;
    TImageProperties& p = ImageProperties;
    p.Options = ioBigEndian;
    p.BitsPerSample = static_cast<uint8_t>(header[3] * 8);
    p.Width = static_cast<int32_t>(Word(header + 6));
    p.Height = static_cast<int32_t>(Word(header + 8));
    p.SamplesPerPixel = header[11];  // the low byte of the channel count
    p.ColorScheme = p.SamplesPerPixel == 3   ? TColorLayout::csRGB
                    : p.SamplesPerPixel == 4 ? TColorLayout::csRGBA
                                             : TColorLayout::csIndexed;
    p.BitsPerPixel = static_cast<uint8_t>(p.BitsPerSample * p.SamplesPerPixel);
    p.Compression = header[2] == 1 ? TCompressionType::ctRLE : TCompressionType::ctNone;
    return true;
}

void TSGIGraphic::LoadImage(TStream& stream) {
    ReadHeader(stream, kFormatName);
    StartProgress(raster::kPreparing);
    uint8_t header[kHeaderSize];
    stream.ReadBuffer(header, kHeaderSize);
    const TImageProperties& p = ImageProperties;
    const int32_t width = p.Width, height = p.Height;
    const uint32_t channels = p.SamplesPerPixel;

    // The sample size and the channel count are checked here: the setters
    // refuse anything but 1 to 16 bits and 1 to 4 samples, and samples of
    // more than two bytes are refused alike (their bit count would wrap).
    if (header[3] != 1 && header[3] != 2) TColorManager::RaiseConversionError(raster::kBadSampleBits);
    TColorManager& cm = ColorManager();
    cm.SourceFlags = cfByteSwap;  // samples are big-endian
    cm.SetSourceSampleBits(p.BitsPerSample);
    cm.SetTargetSampleBits(8);
    cm.SetSourceSampleCount(static_cast<uint8_t>(channels));
    cm.SetTargetSampleCount(static_cast<uint8_t>(channels));
    cm.SetSourceLayout(p.ColorScheme);
    cm.SetTargetLayout(channels == 3   ? TColorLayout::csBGR
                       : channels == 4 ? TColorLayout::csBGRA
                                       : TColorLayout::csIndexed);
    // One or two channels are grey, read one byte per pixel straight into
    // the rows: a second channel (alpha) is dropped, and 16-bit grey, which
    // would not fit a row of bytes, is refused.
    const bool gray = channels <= 2;
    if (gray) {
        if (p.BitsPerSample == 16) RaiseInvalidGraphicFmt(raster::kInvalidColorFormat, kFormatName);
        cm.SetSourceSampleCount(1);
        cm.SetTargetSampleCount(1);
    }
    SetReaderPixelFormat(cm.PixelFormatFor(1));
    if (gray) SetPalette(cm.BuildGrayPalette(false));

    ChannelRows rows(stream, BasePosition(), p);
    const int64_t rowBytes = int64_t(width) * (p.BitsPerSample / 8);
    if (p.Compression == TCompressionType::ctRLE) {
        rows.ReadTables(channels);
        // A row table whose rows are empty or missing would make a picture
        // of the header's size out of nothing.
        if (int64_t(width) * height * channels > rows.MostSamples(stream.Position() - BasePosition()))
            RaiseInvalidGraphicFmt(raster::kInvalidImage, kFormatName);
    } else {
        // Verbatim channels must all be there.
        RequireBytes(stream, rowBytes * height * channels);
    }
    // Every byte of every row is written below.
    NewImage(width, height, PixelFormat());
    const size_t stride = static_cast<size_t>(RowBytes());
    EndProgress(100, true);
    StartProgress(raster::kTransfering);

    const size_t used = gray ? size_t(width) : size_t(width) * channels;
    if (gray) {
        for (int32_t y = 0; y < height; ++y) {
            uint8_t* line = ScanLine(height - 1 - y);
            rows.Read(0, y, line);
            std::memset(line + used, 0, stride - used);
            RowProgress(y, height);
        }
    } else {
        std::vector<uint8_t> planes(static_cast<size_t>(rowBytes) * channels);
        TRowPlane source[4];
        for (uint32_t c = 0; c < channels; ++c)
            source[c] = TRowPlane{planes.data() + c * size_t(rowBytes), size_t(rowBytes)};
        for (int32_t y = 0; y < height; ++y) {
            for (uint32_t c = 0; c < channels; ++c) rows.Read(c, y, planes.data() + c * size_t(rowBytes));
            uint8_t* line = ScanLine(height - 1 - y);
            cm.ConvertPixels(std::span<const TRowPlane>(source, channels), line, stride, static_cast<uint32_t>(width));
            std::memset(line + used, 0, stride - used);
            RowProgress(y, height);
        }
    }
    EndProgress(100, true);
}
