#include "rasterformats/RasterGraphic.h"

#include <algorithm>
#include <cstring>

#include "platform/core/Numeric.h"
#include "rasterformats/RasterStrings.h"

// ------------------------------------------------------------ limits

int64_t raster::CheckedMul(int64_t a, int64_t b) {
    if (a < 0 || b < 0) return -1;
    int64_t product = 0;
    if (__builtin_mul_overflow(a, b, &product)) return -1;
    return product;
}

// ------------------------------------------------------------ shared routines

void RaiseInvalidGraphic(const std::string& message) { throw EInvalidGraphic(message); }

void RaiseInvalidGraphicFmt(const char* message, const char* formatName) {
    throw EInvalidGraphic(Format(message, formatName));
}

int64_t BytesLeft(TStream& stream) { return stream.Remaining(); }

void RequireBytes(TStream& stream, int64_t bytes) {
    if (bytes < 0 || BytesLeft(stream) < bytes) throw EReadError("Stream read error");
}

bool PeekBytes(TStream& stream, void* buffer, int64_t count) {
    const int64_t position = stream.Position();
    const int64_t got = stream.Read(buffer, count);
    stream.SetPosition(position);
    return got == count;
}

void SwapWordArray(void* data, int64_t count) {
    auto* p = static_cast<uint8_t*>(data);
    for (int64_t i = 0; i < count; ++i, p += 2) std::swap(p[0], p[1]);
}

void SwapLongArray(void* data, int64_t count) {
    auto* p = static_cast<uint8_t*>(data);
    for (int64_t i = 0; i < count; ++i, p += 4) {
        std::swap(p[0], p[3]);
        std::swap(p[1], p[2]);
    }
}

// The running sums stay in registers, one per sample of a pixel: adding
// through the row itself would wait on each store.

void UndoPredictor1(uint8_t* row, int64_t count) {
    uint8_t a = row[0];
    for (int64_t i = 1; i <= count; ++i) row[i] = a = static_cast<uint8_t>(a + row[i]);
}

void UndoPredictor3(uint8_t* row, int64_t count) {
    uint8_t a = row[0], b = row[1], c = row[2];
    uint8_t* p = row + 3;
    for (int64_t i = 0; i < count; ++i, p += 3) {
        p[0] = a = static_cast<uint8_t>(a + p[0]);
        p[1] = b = static_cast<uint8_t>(b + p[1]);
        p[2] = c = static_cast<uint8_t>(c + p[2]);
    }
}

void UndoPredictor4(uint8_t* row, int64_t count) {
    uint8_t a = row[0], b = row[1], c = row[2], d = row[3];
    uint8_t* p = row + 4;
    for (int64_t i = 0; i < count; ++i, p += 4) {
        p[0] = a = static_cast<uint8_t>(a + p[0]);
        p[1] = b = static_cast<uint8_t>(b + p[1]);
        p[2] = c = static_cast<uint8_t>(c + p[2]);
        p[3] = d = static_cast<uint8_t>(d + p[3]);
    }
}

void UpsampleDouble(int32_t width, int32_t height, int32_t rowStride, uint8_t* plane) {
    if (width <= 0 || height <= 0 || plane == nullptr) return;
    const size_t stride = static_cast<size_t>(rowStride);
    // Backwards from the last row and pixel, so the target may overwrite
    // its own source.
    for (int32_t r = height - 1; r >= 0; --r) {
        const uint8_t* s = plane + static_cast<size_t>(r) * stride;
        uint8_t* t = plane + static_cast<size_t>(2 * r) * stride;
        const int32_t last = width - 1;
        const uint8_t edge = s[last];
        t[2 * last] = edge;
        t[2 * last + 1] = edge;
        for (int32_t x = width - 2; x >= 0; --x) {
            const uint8_t a = s[x], b = s[x + 1];
            t[2 * x + 1] = static_cast<uint8_t>((a + b + 1) >> 1);
            t[2 * x] = a;
        }
    }
    const int32_t w2 = 2 * width;
    for (int32_t r = 0; r + 1 < height; ++r) {
        const uint8_t* p = plane + static_cast<size_t>(2 * r) * stride;
        uint8_t* o = plane + static_cast<size_t>(2 * r + 1) * stride;
        const uint8_t* q = plane + static_cast<size_t>(2 * r + 2) * stride;
        for (int32_t c = 0; c <= w2 - 4; c += 2) {
            o[c] = static_cast<uint8_t>((p[c] + q[c] + 1) >> 1);
            o[c + 1] = static_cast<uint8_t>((p[c] + p[c + 2] + q[c] + q[c + 2] + 2) >> 2);
        }
        o[w2 - 2] = static_cast<uint8_t>((p[w2 - 2] + q[w2 - 2] + 1) >> 1);
        o[w2 - 1] = static_cast<uint8_t>((p[w2 - 1] + q[w2 - 1] + 1) >> 1);
    }
    std::memcpy(plane + static_cast<size_t>(2 * height - 1) * stride,
                plane + static_cast<size_t>(2 * height - 2) * stride, static_cast<size_t>(w2));
}

// ------------------------------------------------------------ TRasterGraphic

QUILLARC_DEFINE_RASTER_GRAPHIC(TRasterGraphic, TBitmap)

TRasterGraphic::TRasterGraphic() : colorManager_(std::make_unique<TColorManager>()) {}

TRasterGraphic::~TRasterGraphic() = default;

bool TRasterGraphic::AcceptsStream(TStream&) { return false; }

bool TRasterGraphic::AcceptsFileWith(const std::string& fileName, bool (*test)(TStream&)) {
    TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    return test(stream);
}

bool TRasterGraphic::ReadImageInfo(TStream&, int) {
    ImageProperties = TImageProperties{};
    return false;
}

void TRasterGraphic::Assign(const TPersistent* source) {
    if (const auto* raster = dynamic_cast<const TRasterGraphic*>(source)) {
        if (raster != this) ImageProperties = raster->ImageProperties;
    }
    TBitmap::Assign(source);
}

void TRasterGraphic::LoadFromStream(TStream& stream) {
    ReleaseImage();
    basePosition_ = stream.Position();
    stream_ = &stream;
    colorManager_->Reset();
    ImageProperties = TImageProperties{};
    progressRect_ = TRect{};
    try {
        LoadImage(stream);
    } catch (...) {
        stream_ = nullptr;
        ReleaseImage();
        throw;
    }
    stream_ = nullptr;
}

void TRasterGraphic::LoadImage(TStream& stream) { TBitmap::LoadFromStream(stream); }

void TRasterGraphic::ReadHeader(TStream& stream, const char* formatName) {
    stream.SetPosition(basePosition_);
    if (!ReadImageInfo(stream, 0)) RaiseInvalidGraphicFmt(raster::kInvalidImage, formatName);
    CheckImageSize(formatName);
    stream.SetPosition(basePosition_);
    progressRect_ = Rect(0, 0, ImageProperties.Width, 1);
}

void TRasterGraphic::CheckImageSize(const char* formatName) const {
    const int64_t w = ImageProperties.Width, h = ImageProperties.Height;
    if (w < 1 || h < 1 || w > raster::kMaxImageSide || h > raster::kMaxImageSide || w * h > raster::kMaxImagePixels)
        RaiseInvalidGraphicFmt(raster::kInvalidImage, formatName);
}

void TRasterGraphic::SetReaderPixelFormat(TPixelFormat format) {
    SetPixelFormat(format);
    switch (format) {
        case TPixelFormat::pf1bit:
            SetColorTable({TPaletteEntry{0, 0, 0, 0}, TPaletteEntry{255, 255, 255, 0}});
            break;
        case TPixelFormat::pf4bit:
            SetColorTable({SystemPalette16().begin(), SystemPalette16().end()});
            break;
        case TPixelFormat::pf8bit: {
            std::vector<TPaletteEntry> ramp(256);
            for (size_t i = 0; i < ramp.size(); ++i) {
                const auto v = static_cast<uint8_t>(i);
                ramp[i] = TPaletteEntry{v, v, v, 0};
            }
            SetColorTable(ramp);
            break;
        }
        default:
            break;
    }
}

void TRasterGraphic::ZeroRowPadding() {
    const size_t used = size_t(Width()) * BitsPerPixel(PixelFormat()) / 8, stride = static_cast<size_t>(RowBytes());
    for (int32_t y = 0; y < Height(); ++y) std::memset(ScanLine(y) + used, 0, stride - used);
}

void TRasterGraphic::StartProgress(const char* stageText) {
    Progress(this, TProgressStage::psStarting, 0, false, progressRect_, stageText);
}

void TRasterGraphic::RowProgress(int32_t row, int32_t height) {
    Progress(this, TProgressStage::psRunning, static_cast<uint8_t>(num::MulDiv(row, 100, height)), true,
             progressRect_, "");
    progressRect_.Top += 1;
    progressRect_.Bottom += 1;
}

void TRasterGraphic::EndProgress(uint8_t percent, bool redraw) {
    Progress(this, TProgressStage::psEnding, percent, redraw, progressRect_, "");
}

// ------------------------------------------------------------ TPackedInput

TPackedInput::TPackedInput(TStream& stream, size_t chunk, int64_t limit, int64_t from)
    : stream_(stream), buffer_(std::max<size_t>(chunk, 64)), from_(from) {
    const int64_t left = from < 0 ? BytesLeft(stream) : std::max<int64_t>(stream.Size() - from, 0);
    left_ = limit < 0 ? left : std::min(limit, left);
    Refill();
}

bool TPackedInput::Refill() {
    const size_t kept = Available();
    if (start_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + start_, kept);
        start_ = 0;
        end_ = kept;
    }
    const int64_t room = static_cast<int64_t>(buffer_.size() - end_);
    const int64_t want = std::min(room, left_);
    if (want <= 0) return false;
    if (from_ >= 0) stream_.SetPosition(from_);
    const int64_t got = stream_.Read(buffer_.data() + end_, want);
    if (from_ >= 0 && got > 0) from_ += got;
    if (got <= 0) {
        left_ = 0;
        return false;
    }
    end_ += static_cast<size_t>(got);
    left_ -= got;
    return true;
}

int64_t TPackedInput::DecodeInto(TDecoder& decoder, uint8_t* dest, int64_t units, size_t unitBytes) {
    int64_t done = 0;
    while (done < units) {
        const uint8_t* cursor = Data();
        uint8_t* out = dest + done * static_cast<int64_t>(unitBytes);
        const int64_t got = decoder.Decode(cursor, out, static_cast<int64_t>(Available()), units - done);
        const size_t used = static_cast<size_t>(cursor - Data());
        Consume(used);
        done += got;
        if (done < units && got == 0 && used == 0 && !Refill()) break;
    }
    return done;
}

void TPackedInput::Release() {
    if (from_ >= 0) stream_.SetPosition(from_ - static_cast<int64_t>(Available()));
    else stream_.Seek(-static_cast<int64_t>(Available()), TSeekOrigin::soCurrent);
}
