// TBitmap: storage, size and pixel format changes, palettes, assignment.
#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "platform/core/BmpFormat.h"
#include "platform/core/Graphics.h"
#include "platform/core/PixelRows.h"
#include "platform/core/Progress.h"

int BitsPerPixel(TPixelFormat format) {
    switch (format) {
        case TPixelFormat::pf1bit: return 1;
        case TPixelFormat::pf4bit: return 4;
        case TPixelFormat::pf8bit: return 8;
        case TPixelFormat::pf15bit:
        case TPixelFormat::pf16bit: return 16;
        case TPixelFormat::pf24bit: return 24;
        default: return 32;
    }
}

QUILLARC_DEFINE_GRAPHIC(TBitmap, TGraphic)

namespace {

bool IsWordFormat(TPixelFormat f) {
    return f == TPixelFormat::pfDevice || f == TPixelFormat::pf32bit || f == TPixelFormat::pfCustom;
}

// Row stride for a width already checked against kMaxBitmapSide.
int32_t StrideFor(int32_t width, TPixelFormat format) { return static_cast<int32_t>(TBitmap::RowBytesFor(width, format)); }

// Size checks come before any allocation, so an absurd request fails at once.
void CheckSize(int32_t width, int32_t height) {
    if (width < 0 || height < 0) throw EInvalidGraphic("Invalid image size");
    if (width > kMaxBitmapSide || height > kMaxBitmapSide ||
        static_cast<int64_t>(width) * height > kMaxBitmapPixels)
        throw EOutOfMemory("Out of memory");
}

TPixelBuffer Block(int64_t bytes, bool zeroed) { return TPixelBuffer::Allocate(static_cast<size_t>(bytes), zeroed); }

// The 24-to-32-bit widening (alpha 0), rows [begin, end).
void Widen24(const uint8_t* src, int32_t srcStride, uint8_t* dst, int32_t dstStride, int32_t width, int32_t begin,
             int32_t end) {
    for (int32_t y = begin; y < end; ++y) {
        const uint8_t* from = src + static_cast<size_t>(y) * srcStride;
        uint32_t* to = reinterpret_cast<uint32_t*>(dst + static_cast<size_t>(y) * dstStride);
        for (int32_t x = 0; x < width; ++x, from += 3)
            to[x] = uint32_t(from[0]) | (uint32_t(from[1]) << 8) | (uint32_t(from[2]) << 16);
    }
}

inline uint8_t IndexAt(const uint8_t* row, int32_t x, int bits) {
    switch (bits) {
        case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
        case 4: return (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
        default: return row[x];
    }
}

inline void SetIndexAt(uint8_t* row, int32_t x, int bits, uint8_t v) {
    switch (bits) {
        case 1: {
            const uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
            row[x >> 3] = (v & 1) ? (row[x >> 3] | bit) : (row[x >> 3] & static_cast<uint8_t>(~bit));
            break;
        }
        case 4: {
            uint8_t& b = row[x >> 1];
            b = (x & 1) ? static_cast<uint8_t>((b & 0xF0) | (v & 0x0F)) : static_cast<uint8_t>((b & 0x0F) | (v << 4));
            break;
        }
        default: row[x] = v;
    }
}

}  // namespace

TBitmap::TBitmap() = default;

TBitmap::~TBitmap() { DeleteObject(palette_); }

void TBitmap::Reallocate(int32_t width, int32_t height, TPixelFormat format, bool keepPixels) {
    CheckSize(width, height);
    const int32_t stride = StrideFor(width, format);
    TPixelBuffer block = Block(static_cast<int64_t>(stride) * height, true);
    if (keepPixels && format == format_ && !pixels_.empty()) {
        // Only the overlapping pixels move; a partly used last byte is masked
        // so that bits of cut-off pixels never come back as "new" pixels.
        const int64_t bits = static_cast<int64_t>(std::min(width, width_)) * BitsPerPixel(format);
        const size_t full = static_cast<size_t>(bits / 8);
        const int rest = static_cast<int>(bits % 8);
        const int32_t rows = std::min(height, height_);
        for (int32_t y = 0; y < rows; ++y) {
            const uint8_t* from = std::as_const(pixels_).data() + static_cast<size_t>(y) * stride_;
            uint8_t* to = block.data() + static_cast<size_t>(y) * stride;
            std::memcpy(to, from, full);
            if (rest != 0) to[full] = static_cast<uint8_t>(from[full] & (0xFF << (8 - rest)));
        }
    }
    pixels_ = std::move(block);
    width_ = width;
    height_ = height;
    stride_ = stride;
    format_ = format;
}

void TBitmap::ReplaceBlock(int64_t bytes) {
    // The old block goes first, so that the pool can hand it back for the
    // new one; should no block be had, the bitmap is left empty. Until the
    // caller has set the new size the block does not match it: callers hold
    // the paints back (progress::TPulseLater) from here until then.
    pixels_.Clear();
    try {
        pixels_ = Block(bytes, false);
    } catch (...) {
        width_ = height_ = stride_ = 0;
        throw;
    }
}

void TBitmap::NewImage(int32_t width, int32_t height, TPixelFormat format) {
    CheckSize(width, height);
    const progress::TPulseLater later;
    const int32_t stride = StrideFor(width, format);
    ReplaceBlock(static_cast<int64_t>(stride) * height);
    ShapeNewImage(width, height, stride, format);
}

void TBitmap::ShapeNewImage(int32_t width, int32_t height, int32_t stride, TPixelFormat format) {
    width_ = width;
    height_ = height;
    stride_ = stride;
    if (format != format_) paletteStale_ = true;
    format_ = format;
    if (px::IsIndexed(format_) && colors_.empty()) colors_ = px::DefaultColors(format_);
    Changed(this);
}

void TBitmap::SetWidth(int32_t value) { SetSize(value, height_); }
void TBitmap::SetHeight(int32_t value) { SetSize(width_, value); }

void TBitmap::SetSize(int32_t width, int32_t height) {
    if (width == width_ && height == height_) return;
    Reallocate(width, height, format_, true);
    if (px::IsIndexed(format_) && colors_.empty()) colors_ = px::DefaultColors(format_);
    Changed(this);
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
    if (format == format_) {
        if (px::IsIndexed(format_) && colors_.empty()) {
            colors_ = px::DefaultColors(format_);
            paletteStale_ = true;
        }
        return;
    }
    const int oldBits = BitsPerPixel(format_);
    const int newBits = BitsPerPixel(format);
    std::vector<TPaletteEntry> newColors;
    bool keepIndices = false;
    if (px::IsIndexed(format)) {
        const size_t capacity = size_t(1) << newBits;
        if (px::IsIndexed(format_) && newBits > oldBits) {
            keepIndices = true;  // 1 or 4 bits widen with indices and palette intact
            newColors = colors_;
        } else if (!colors_.empty() && colors_.size() <= capacity) {
            newColors = colors_;  // a palette set before the conversion is the target
        } else {
            newColors = px::DefaultColors(format);
        }
    }

    CheckSize(width_, height_);
    const int32_t stride = StrideFor(width_, format);
    TPixelBuffer block;
    if (!pixels_.empty()) {
        const int64_t bytes = static_cast<int64_t>(stride) * height_;
        const int32_t w = width_;
        // Conversions that write every pixel byte take an unfilled block;
        // the bit-packed ones write into a zeroed one.
        const bool whole = (format_ == TPixelFormat::pf24bit && IsWordFormat(format)) ||
                           (IsWordFormat(format_) && format == TPixelFormat::pf24bit);
        if (IsWordFormat(format_) && IsWordFormat(format)) {
            block = std::move(pixels_);
        } else {
            block = Block(bytes, !whole);
        }
        if (keepIndices) {
            for (int32_t y = 0; y < height_; ++y) {
                const uint8_t* from = std::as_const(pixels_).data() + static_cast<size_t>(y) * stride_;
                uint8_t* to = block.data() + static_cast<size_t>(y) * stride;
                for (int32_t x = 0; x < w; ++x) SetIndexAt(to, x, newBits, IndexAt(from, x, oldBits));
            }
        } else if (format_ == TPixelFormat::pf24bit && IsWordFormat(format)) {
            const uint8_t* src = std::as_const(pixels_).data();
            uint8_t* dst = block.data();
            const int32_t srcStride = stride_;
            pixmem::ForRows(height_, static_cast<size_t>(bytes), [&](int32_t begin, int32_t end) {
                Widen24(src, srcStride, dst, stride, w, begin, end);
            });
        } else if (IsWordFormat(format_) && format == TPixelFormat::pf24bit) {
            const uint8_t* src = std::as_const(pixels_).data();
            uint8_t* dst = block.data();
            const int32_t srcStride = stride_;
            const size_t used = size_t(w) * 3;
            pixmem::ForRows(height_, static_cast<size_t>(bytes), [&](int32_t begin, int32_t end) {
                for (int32_t y = begin; y < end; ++y) {
                    const uint8_t* from = src + static_cast<size_t>(y) * srcStride;
                    uint8_t* to = dst + static_cast<size_t>(y) * stride;
                    for (int32_t x = 0; x < w; ++x, from += 4, to += 3) {
                        to[0] = from[0];
                        to[1] = from[1];
                        to[2] = from[2];
                    }
                    std::memset(to, 0, static_cast<size_t>(stride) - used);  // row padding
                }
            });
        } else if (IsWordFormat(format_) && IsWordFormat(format)) {
            // Same bytes: the block moved above.
        } else {
            const px::RowCodec reader(format_, colors_);
            px::RowCodec writer(format, newColors);
            std::vector<uint32_t> row(static_cast<size_t>(w));
            for (int32_t y = 0; y < height_; ++y) {
                reader.Read(std::as_const(pixels_).data() + static_cast<size_t>(y) * stride_, 0, w, row.data());
                writer.Write(block.data() + static_cast<size_t>(y) * stride, 0, w, row.data());
            }
        }
    }
    pixels_ = std::move(block);
    stride_ = stride;
    format_ = format;
    colors_ = std::move(newColors);
    paletteStale_ = true;
    Changed(this);
}

uint8_t* TBitmap::ScanLine(int32_t row) {
    if (row < 0 || row >= height_) throw EInvalidGraphicOperation("Scan line index out of range");
    return pixels_.data() + static_cast<size_t>(row) * stride_;
}

const uint8_t* TBitmap::ScanLine(int32_t row) const {
    if (row < 0 || row >= height_) throw EInvalidGraphicOperation("Scan line index out of range");
    return pixels_.data() + static_cast<size_t>(row) * stride_;
}

HPALETTE TBitmap::Palette() const {
    if (!px::IsIndexed(format_) || colors_.empty()) return nullptr;
    if (paletteStale_ || palette_ == nullptr || PaletteEntryCount(palette_) == 0) {
        DeleteObject(palette_);
        palette_ = CreatePalette(colors_.data(), static_cast<int>(std::min<size_t>(colors_.size(), 256)));
        paletteStale_ = false;
    }
    return palette_;
}

void TBitmap::SetPalette(HPALETTE palette) {
    std::vector<TPaletteEntry> entries;
    const int count = PaletteEntryCount(palette);
    if (count > 0) {
        entries.resize(static_cast<size_t>(count));
        GetPaletteEntries(palette, 0, count, entries.data());
    }
    if (palette != palette_) DeleteObject(palette_);
    palette_ = count > 0 ? palette : nullptr;
    if (entries.empty() && px::IsIndexed(format_)) entries = px::DefaultColors(format_);
    colors_ = std::move(entries);
    paletteStale_ = palette_ == nullptr;
    PaletteModified = true;
    Changed(this);
}

void TBitmap::SetColorTable(const std::vector<TPaletteEntry>& colors) {
    colors_.assign(colors.begin(), colors.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(colors.size(), 256)));
    if (colors_.empty() && px::IsIndexed(format_)) colors_ = px::DefaultColors(format_);
    paletteStale_ = true;
    PaletteModified = true;
    Changed(this);
}

bool TBitmap::NewSharedImage(int32_t width, int32_t height, TPixelFormat format, const TPixelBuffer& pixels) {
    CheckSize(width, height);
    const int32_t stride = StrideFor(width, format);
    if (pixels.empty() || pixels.size() != static_cast<size_t>(stride) * static_cast<size_t>(height)) return false;
    pixels_ = pixels.Share();
    ShapeNewImage(width, height, stride, format);
    return true;
}

int64_t TBitmap::RowBytesFor(int64_t width, TPixelFormat format) { return (width * BitsPerPixel(format) + 31) / 32 * 4; }

TCanvas& TBitmap::Canvas() {
    if (!canvas_) canvas_ = std::make_unique<TCanvas>(this);
    return *canvas_;
}

void TBitmap::ReleaseImage() {
    pixels_.Clear();
    width_ = height_ = stride_ = 0;
    format_ = TPixelFormat::pfDevice;
    colors_.clear();
    DeleteObject(palette_);
    palette_ = nullptr;
    paletteStale_ = true;
    Changed(this);
}

void TBitmap::FreeImage() {
    pixels_.Clear();
    width_ = height_ = 0;
    stride_ = 0;
    Changed(this);
}

void TBitmap::TakeImage(TBitmap& other) {
    pixels_ = std::move(other.pixels_);
    width_ = other.width_;
    height_ = other.height_;
    stride_ = other.stride_;
    format_ = other.format_;
    colors_ = std::move(other.colors_);
    paletteStale_ = true;
    other.width_ = other.height_ = other.stride_ = 0;
}

void TBitmap::TakeOver(TBitmap& other) {
    if (&other == this) return;
    TakeImage(other);
    transparent_ = other.transparent_;
    transparentColor_ = other.transparentColor_;
    transparentMode_ = other.transparentMode_;
    other.ReleaseImage();
    Changed(this);
}

void TBitmap::Assign(const TPersistent* source) {
    if (source == this) return;
    if (source == nullptr) {
        ReleaseImage();
        return;
    }
    if (const auto* bitmap = dynamic_cast<const TBitmap*>(source)) {
        // Same size: the copy goes into our own block (unless that is shared,
        // which would be copied first only to be overwritten). A paint the
        // copy lets through waits until the size goes with the block.
        const progress::TPulseLater later;
        if (pixels_.size() != bitmap->pixels_.size() || pixels_.Shared()) ReplaceBlock(static_cast<int64_t>(bitmap->pixels_.size()));
        pixmem::Copy(pixels_.data(), bitmap->pixels_.data(), bitmap->pixels_.size());
        width_ = bitmap->width_;
        height_ = bitmap->height_;
        stride_ = bitmap->stride_;
        format_ = bitmap->format_;
        colors_ = bitmap->colors_;
        paletteStale_ = true;
        transparent_ = bitmap->transparent_;
        transparentColor_ = bitmap->transparentColor_;
        transparentMode_ = bitmap->transparentMode_;
        Changed(this);
        return;
    }
    const auto* graphic = dynamic_cast<const TGraphic*>(source);
    if (graphic == nullptr) {
        TGraphic::Assign(source);
        return;
    }
    // A graphic that knows how to become a bitmap does so; one that does not
    // (the default AssignTo refuses) is drawn onto a 32-bit bitmap instead.
    const std::string refusal = Format("Cannot assign a %s to a %s", graphic->ClassName(), ClassName());
    try {
        TGraphic::Assign(source);
        return;
    } catch (const EConvertError& e) {
        if (e.Message() != refusal) throw;
    }
    TBitmap drawn;
    drawn.SetPixelFormat(TPixelFormat::pf32bit);
    if (!graphic->Empty()) {
        drawn.SetSize(graphic->Width(), graphic->Height());
        const_cast<TGraphic*>(graphic)->Draw(drawn.Canvas(), Rect(0, 0, drawn.width_, drawn.height_));
    }
    TakeImage(drawn);
    Changed(this);
}

void TBitmap::AssignShared(const TBitmap& source) {
    if (&source == this) return;
    pixels_ = source.pixels_.Share();
    width_ = source.width_;
    height_ = source.height_;
    stride_ = source.stride_;
    format_ = source.format_;
    colors_ = source.colors_;
    paletteStale_ = true;
    transparent_ = source.transparent_;
    transparentColor_ = source.transparentColor_;
    transparentMode_ = source.transparentMode_;
    Changed(this);
}

bool TBitmap::AssignConverted(const TBitmap& src, TPixelFormat format) {
    if (&src == this || !IsWordFormat(format)) return false;
    if (src.format_ != TPixelFormat::pf24bit && !IsWordFormat(src.format_)) return false;
    const progress::TPulseLater later;  // as in Assign
    if (IsWordFormat(src.format_)) {
        TBitmap::Assign(&src);
        format_ = format;
        return true;
    }
    const int32_t stride = StrideFor(src.width_, format);
    const int64_t bytes = static_cast<int64_t>(stride) * src.height_;
    ReplaceBlock(bytes);
    const uint8_t* from = src.pixels_.data();
    uint8_t* to = pixels_.data();
    const int32_t w = src.width_, srcStride = src.stride_;
    pixmem::ForRows(src.height_, static_cast<size_t>(bytes),
                    [&](int32_t begin, int32_t end) { Widen24(from, srcStride, to, stride, w, begin, end); });
    width_ = src.width_;
    height_ = src.height_;
    stride_ = stride;
    format_ = format;
    colors_.clear();
    paletteStale_ = true;
    transparent_ = src.transparent_;
    transparentColor_ = src.transparentColor_;
    transparentMode_ = src.transparentMode_;
    Changed(this);
    return true;
}

void TBitmap::AssignTo(TPersistent* dest) const {
    if (auto* bitmap = dynamic_cast<TBitmap*>(dest)) {
        bitmap->Assign(this);
        return;
    }
    TGraphic::AssignTo(dest);
}

void TBitmap::Draw(TCanvas& canvas, const TRect& rect) {
    if (Empty()) return;
    const int64_t key = transparent_ ? static_cast<int64_t>(TransparentColor() & 0xFFFFFF) : -1;
    if (TBitmap* target = canvas.Target()) {
        px::Blit(*target, rect, *this, Rect(0, 0, width_, height_), nullptr, canvas.CopyMode,
                 ColorToRGB(canvas.Brush.Color), key);
        canvas.Changed();
        return;
    }
    // A canvas without pixels (a recording one) gets the plain stretch.
    canvas.StretchBlt(rect, *this, Rect(0, 0, width_, height_));
}

void TBitmap::LoadFromStream(TStream& stream) {
    const bmp::Header header = bmp::ReadHeader(stream);
    TBitmap loaded;
    bmp::ReadPixels(stream, header, loaded);
    TakeImage(loaded);
    Changed(this);
}

void TBitmap::SaveToStream(TStream& stream) { bmp::Write(stream, *this); }

TColor TBitmap::TransparentColor() const {
    if (transparentMode_ == TTransparentMode::tmFixed && transparentColor_ != clDefault)
        return ColorToRGB(transparentColor_);
    if (Empty()) return clBlack;
    return Pixel(0, height_ - 1);
}

void TBitmap::SetTransparentColor(TColor color) {
    transparentColor_ = color;
    transparentMode_ = color == clDefault ? TTransparentMode::tmAuto : TTransparentMode::tmFixed;
    Changed(this);
}

TColor TBitmap::Pixel(int32_t x, int32_t y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return -1;
    const uint8_t* row = pixels_.data() + static_cast<size_t>(y) * stride_;
    if (px::IsIndexed(format_)) {
        const uint8_t index = IndexAt(row, x, BitsPerPixel(format_));
        if (index >= colors_.size()) return clBlack;
        const TPaletteEntry& e = colors_[index];
        return RGB(e.peRed, e.peGreen, e.peBlue);
    }
    uint32_t word = 0;
    px::RowCodec(format_, colors_).Read(row, x, 1, &word);
    return px::WordToColor(word);
}

void TBitmap::SetPixel(int32_t x, int32_t y, TColor color) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    const uint32_t word = px::ColorToWord(ColorToRGB(color));
    px::RowCodec(format_, colors_).Write(pixels_.data() + static_cast<size_t>(y) * stride_, x, 1, &word);
}

std::unique_ptr<TBitmap> CreateMonochromeBitmap(int32_t width, int32_t height, const uint8_t* bits) {
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetPixelFormat(TPixelFormat::pf1bit);
    bitmap->SetSize(width, height);
    if (bits == nullptr || bitmap->Empty()) return bitmap;
    const size_t sourceStride = static_cast<size_t>((width + 15) / 16) * 2;
    const size_t used = static_cast<size_t>((width + 7) / 8);
    const int rest = width % 8;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = bitmap->ScanLine(y);
        std::memcpy(row, bits + static_cast<size_t>(y) * sourceStride, used);
        if (rest != 0) row[used - 1] &= static_cast<uint8_t>(0xFF << (8 - rest));
    }
    return bitmap;
}

const TBitmap* TBitmap::MaskHandle() const {
    mask_.reset();
    if (Empty()) return nullptr;
    auto mask = std::make_unique<TBitmap>();
    mask->SetPixelFormat(TPixelFormat::pf1bit);
    mask->SetColorTable({TPaletteEntry{0, 0, 0, 0}, TPaletteEntry{255, 255, 255, 0}});
    mask->SetSize(width_, height_);
    const uint32_t key = px::ColorToWord(TransparentColor()) & 0xFFFFFF;
    const px::RowCodec codec(format_, colors_);
    std::vector<uint32_t> row(static_cast<size_t>(width_));
    for (int32_t y = 0; y < height_; ++y) {
        codec.Read(ScanLine(y), 0, width_, row.data());
        uint8_t* bits = mask->ScanLine(y);
        for (int32_t x = 0; x < width_; ++x)
            if ((row[static_cast<size_t>(x)] & 0xFFFFFF) == key) bits[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
    mask_ = std::move(mask);
    return mask_.get();
}
