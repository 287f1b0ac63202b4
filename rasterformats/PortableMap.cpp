#include "rasterformats/PortableMap.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#include "rasterformats/RasterStrings.h"

namespace {

// The format names of the messages: a header we cannot read, and data that
// ends too early.
constexpr const char* kHeaderName = "PBM, PGM or PPM";
constexpr const char* kReadName = "PPM";

constexpr size_t kBufferSize = 1 << 16;
constexpr uint32_t kMaxNumber = 0x7FFFFFFF;

bool IsBitmapKind(int kind) { return kind == 1 || kind == 4; }
bool IsPixelMapKind(int kind) { return kind == 3 || kind == 6; }
bool IsRawKind(int kind) { return kind >= 4; }
bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }

// Red, green, blue to the bitmap's blue, green, red, in place. Eight
// pixels are three 64-bit words; seen as one 192-bit little-endian number,
// green stays, blue comes down two bytes into red's place and red goes up
// two into blue's.
void SwapRedBlue(uint8_t* p, size_t pixels) {
    size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        // The bytes 3k + 1 (green), 3k (where blue goes) and 3k + 2 (where red goes) of each word.
        constexpr uint64_t g0 = 0xFF0000FF0000FF00ull, g1 = 0x0000FF0000FF0000ull, g2 = 0x00FF0000FF0000FFull;
        constexpr uint64_t lo0 = 0x00FF0000FF0000FFull, lo1 = 0xFF0000FF0000FF00ull, lo2 = 0x0000FF0000FF0000ull;
        constexpr uint64_t hi0 = 0x0000FF0000FF0000ull, hi1 = 0x00FF0000FF0000FFull, hi2 = 0xFF0000FF0000FF00ull;
        for (; i + 8 <= pixels; i += 8, p += 24) {
            uint64_t w0, w1, w2;
            std::memcpy(&w0, p, 8);
            std::memcpy(&w1, p + 8, 8);
            std::memcpy(&w2, p + 16, 8);
            const uint64_t x0 = (w0 & g0) | ((w0 >> 16 | w1 << 48) & lo0) | ((w0 << 16) & hi0);
            const uint64_t x1 = (w1 & g1) | ((w1 >> 16 | w2 << 48) & lo1) | ((w1 << 16 | w0 >> 48) & hi1);
            const uint64_t x2 = (w2 & g2) | ((w2 >> 16) & lo2) | ((w2 << 16 | w1 >> 48) & hi2);
            std::memcpy(p, &x0, 8);
            std::memcpy(p + 8, &x1, 8);
            std::memcpy(p + 16, &x2, 8);
        }
    }
    for (; i < pixels; ++i, p += 3) std::swap(p[0], p[2]);
}

[[noreturn]] void RaiseReadError() { RaiseInvalidGraphicFmt(raster::kStreamReadError, kReadName); }

// Samples 0..maxValue to 0..255, v x 255 div maxValue (the library's rule
// for narrowing samples); entries above the maximum value, which a sound
// file never holds, give 255.
std::vector<uint8_t> ScaleTable(uint32_t maxValue, size_t size) {
    std::vector<uint8_t> table(size, 255);
    for (uint32_t v = 0; v <= maxValue && v < size; ++v) table[v] = static_cast<uint8_t>(v * 255u / maxValue);
    return table;
}

}  // namespace

QUILLARC_DEFINE_RASTER_GRAPHIC(TPPMGraphic, TRasterGraphic)

bool TPPMGraphic::AcceptsStream(TStream& stream) {
    if (BytesLeft(stream) <= 10) return false;
    uint8_t magic[2] = {};
    return PeekBytes(stream, magic, 2) && magic[0] == 'P' && magic[1] >= '1' && magic[1] <= '6';
}

// ------------------------------------------------------------ input

void TPPMGraphic::ResetInput(TStream& stream) {
    input_ = &stream;
    if (buffer_.empty()) buffer_.resize(kBufferSize);
    index_ = end_ = 0;
}

bool TPPMGraphic::Refill() {
    index_ = end_ = 0;
    const int64_t got = input_->Read(buffer_.data(), static_cast<int64_t>(buffer_.size()));
    if (got <= 0) return false;
    end_ = static_cast<size_t>(got);
    return true;
}

uint8_t TPPMGraphic::GetCharSlow() {
    if (!Refill()) RaiseReadError();
    return buffer_[index_++];
}

uint8_t TPPMGraphic::SkipToDigit() {
    for (;;) {
        const uint8_t c = GetChar();
        if (IsDigit(c)) {
            --index_;  // it came from the buffer just now
            return c;
        }
        if (c == '#') {
            uint8_t e;
            do e = GetChar();
            while (e != '\r' && e != '\n');
        }
    }
}

uint32_t TPPMGraphic::GetNumber() {
    SkipToDigit();
    uint64_t value = 0;
    for (;;) {
        if (index_ == end_ && !Refill()) break;  // the last number of a file may end it
        const uint8_t c = buffer_[index_++];
        if (!IsDigit(c)) break;
        value = std::min<uint64_t>(value * 10 + (c - '0'), kMaxNumber);
    }
    return static_cast<uint32_t>(value);
}

void TPPMGraphic::ReadRaw(uint8_t* dest, size_t n) {
    const size_t buffered = std::min(n, end_ - index_);
    std::memcpy(dest, buffer_.data() + index_, buffered);
    index_ += buffered;
    dest += buffered;
    n -= buffered;
    if (n == 0) return;
    // Large pieces go straight from the stream, small ones through the buffer.
    if (n >= 4096) {
        if (input_->Read(dest, static_cast<int64_t>(n)) != static_cast<int64_t>(n)) RaiseReadError();
        return;
    }
    while (n > 0) {
        if (!Refill()) RaiseReadError();
        const size_t part = std::min(n, end_);
        std::memcpy(dest, buffer_.data(), part);
        index_ = part;
        dest += part;
        n -= part;
    }
}

int64_t TPPMGraphic::Available() const { return static_cast<int64_t>(end_ - index_) + BytesLeft(*input_); }

// ------------------------------------------------------------ header

bool TPPMGraphic::ReadImageInfo(TStream& stream, int index) {
    TRasterGraphic::ReadImageInfo(stream, index);
    ResetInput(stream);
    kind_ = 0;
    maxValue_ = 0;
    TImageProperties& p = ImageProperties;
    p.Compression = TCompressionType::ctNone;
    if (GetChar() != 'P') return false;
    kind_ = StrToInt(std::string(1, static_cast<char>(GetChar())));
    if (kind_ < 1 || kind_ > 6) return true;
    // The numbers follow the magic at once: on its line or the next ones.
    p.Width = static_cast<int32_t>(GetNumber());
    p.Height = static_cast<int32_t>(GetNumber());
    if (IsBitmapKind(kind_)) {
        maxValue_ = 1;
        p.BitsPerSample = 1;
    } else {
        maxValue_ = GetNumber();
        if (maxValue_ == 0 || maxValue_ > 65535) return false;
        p.BitsPerSample = maxValue_ > 255 ? 16 : 8;
    }
    p.SamplesPerPixel = IsPixelMapKind(kind_) ? 3 : 1;
    p.ColorScheme = IsPixelMapKind(kind_) ? TColorLayout::csRGB : TColorLayout::csIndexed;
    p.BitsPerPixel = static_cast<uint8_t>(p.SamplesPerPixel * p.BitsPerSample);
    return true;
}

// ------------------------------------------------------------ pixels

void TPPMGraphic::LoadImage(TStream& stream) {
    ReadHeader(stream, kHeaderName);
    StartProgress(raster::kTransfering);
    ReadImageInfo(stream, 0);  // again, to leave the input at the first data byte

    TColorManager& cm = ColorManager();
    const bool bitmap = IsBitmapKind(kind_);
    if (IsPixelMapKind(kind_)) {
        SetReaderPixelFormat(TPixelFormat::pf24bit);
    } else {
        cm.SetTargetSampleCount(1);
        cm.SetTargetSampleBits(bitmap ? 1 : 8);
        SetReaderPixelFormat(bitmap ? TPixelFormat::pf1bit : TPixelFormat::pf8bit);
        SetPalette(cm.BuildGrayPalette(bitmap));  // bitmaps: 0 is white
    }

    // Refuse before allocating when the data cannot be all there: raw rows
    // have a fixed size, and plain samples take at least a digit each and
    // (except bitmap digits) a separator between them.
    const int64_t width = ImageProperties.Width, height = ImageProperties.Height;
    const int64_t samples = width * height * (IsPixelMapKind(kind_) ? 3 : 1);
    int64_t needed;
    if (kind_ == 4) needed = (width + 7) / 8 * height;
    else if (IsRawKind(kind_)) needed = samples * (maxValue_ > 255 ? 2 : 1);
    else needed = bitmap ? samples : 2 * samples - 1;
    if (Available() < needed) RaiseReadError();

    NewImage(static_cast<int32_t>(width), static_cast<int32_t>(height), PixelFormat());
    if (IsRawKind(kind_)) ReadRawRows(kind_);
    else ReadPlainRows(kind_);
    EndProgress();
}

void TPPMGraphic::ReadPlainRows(int kind) {
    const int32_t width = Width(), height = Height();
    const size_t stride = static_cast<size_t>(RowBytes());
    const std::vector<uint8_t> scale = ScaleTable(maxValue_, size_t(maxValue_) + 1);
    auto sample = [&]() {
        const uint32_t v = GetNumber();
        return v > maxValue_ ? uint8_t(255) : scale[v];
    };
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = ScanLine(y);
        size_t used;
        if (kind == 1) {
            // Every digit is one pixel, with or without separators.
            uint32_t bits = 0;
            int32_t x = 0;
            for (; x < width; ++x) {
                const uint8_t digit = SkipToDigit();
                ++index_;
                bits = (bits << 1) | (digit & 1u);
                if ((x & 7) == 7) row[x >> 3] = static_cast<uint8_t>(bits), bits = 0;
            }
            if (width & 7) row[width >> 3] = static_cast<uint8_t>(bits << (8 - (width & 7)));
            used = static_cast<size_t>((width + 7) / 8);
        } else if (kind == 2) {
            for (int32_t x = 0; x < width; ++x) row[x] = sample();
            used = static_cast<size_t>(width);
        } else {
            uint8_t* p = row;
            for (int32_t x = 0; x < width; ++x, p += 3) {
                p[2] = sample();
                p[1] = sample();
                p[0] = sample();
            }
            used = static_cast<size_t>(width) * 3;
        }
        std::memset(row + used, 0, stride - used);
        RowProgress(y, height);
    }
}

void TPPMGraphic::ReadRawRows(int kind) {
    const int32_t width = Width(), height = Height();
    const size_t stride = static_cast<size_t>(RowBytes());
    const size_t perPixel = kind == 6 ? 3 : 1;
    const bool wide = maxValue_ > 255;  // two bytes per sample, most significant first
    const size_t used = kind == 4 ? static_cast<size_t>((width + 7) / 8) : static_cast<size_t>(width) * perPixel;
    const size_t rowIn = wide ? used * 2 : used;  // bytes of a row in the file
    // Samples that need no scaling are copied as they come.
    const bool scaled = kind != 4 && maxValue_ != 255;
    const std::vector<uint8_t> scale = scaled ? ScaleTable(maxValue_, wide ? 65536 : 256) : std::vector<uint8_t>();
    // A band of rows is read at once: bytes go straight into the picture,
    // words through a band of their own.
    const auto band = static_cast<int32_t>(std::clamp<size_t>(kBufferSize * 4 / rowIn, 1, size_t(height)));
    std::vector<uint8_t> words(wide ? rowIn * size_t(band) : 0);
    for (int32_t first = 0; first < height; first += band) {
        const int32_t count = std::min(band, height - first);
        uint8_t* top = ScanLine(first);
        if (wide) {
            ReadRaw(words.data(), rowIn * size_t(count));
        } else {
            ReadRaw(top, used * size_t(count));
            // The rows apart to their places, the last first.
            for (size_t i = size_t(count) - 1; i > 0 && stride != used; --i)
                std::memmove(top + i * stride, top + i * used, used);
        }
        for (int32_t i = 0; i < count; ++i) {
            uint8_t* row = top + size_t(i) * stride;
            if (wide) {
                const uint8_t* w = words.data() + size_t(i) * rowIn;
                for (size_t j = 0; j < used; ++j) row[j] = scale[(w[2 * j] << 8) | w[2 * j + 1]];
            } else if (scaled) {
                for (size_t j = 0; j < used; ++j) row[j] = scale[row[j]];
            }
            if (kind == 6) SwapRedBlue(row, static_cast<size_t>(width));
            std::memset(row + used, 0, stride - used);
            RowProgress(first + i, height);
        }
    }
}
