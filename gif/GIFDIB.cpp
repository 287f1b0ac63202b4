// Moving pixels between the codec's index data and platform bitmaps: a row
// reader over a bitmap, and a writer that fills an 8-bit or 24-bit bitmap's
// rows in place.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "gif/GIFPicture.h"

TDIBReader::TDIBReader(TBitmap& bitmap, TPixelFormat format) : TDIB(bitmap, format) { bitmap.SetPixelFormat(format); }

TDIBWriter::TDIBWriter(TBitmap& bitmap, TPixelFormat format, int width, int height, HPALETTE palette)
    : TDIB(bitmap, format), palette_(palette), height_(height < 0 ? -height : height), width_(width < 0 ? -width : width) {
    if (format != TPixelFormat::pf8bit && format != TPixelFormat::pf24bit) RaiseGIFError("Unsupported PixelFormat");
    if (width == 0 || height == 0) RaiseGIFError("Invalid image dimensions");
    usedBytes_ = int64_t(width_) * (format == TPixelFormat::pf8bit ? 1 : 3);
}

TDIBWriter::~TDIBWriter() {
    // Only reached with the writing open when an exception passes.
    if (allocated_) ZeroRowsNotHandedOut();
}

// Rows the caller never asked for are zero, as in a fresh BMP: the block
// may hold what an earlier picture left in it.
void TDIBWriter::ZeroRowsNotHandedOut() {
    for (int row = 0; row < height_; ++row)
        if (!handedOut_[static_cast<size_t>(row)]) std::memset(bitmap_->ScanLine(row), 0, static_cast<size_t>(rowBytes_));
}

// As a BMP load leaves a bitmap: its old picture gone, then the format and
// the colour table; the size follows.
void TDIBWriter::PrepareBitmap() {
    const bool indexed = format_ == TPixelFormat::pf8bit;
    bitmap_->ReleaseImage();
    bitmap_->SetPixelFormat(format_);
    if (indexed) {
        std::vector<TPaletteEntry> colors(256, TPaletteEntry{0, 0, 0, 0});
        const int count = palette_ != nullptr ? std::min(PaletteEntryCount(palette_), 256) : 0;
        if (count > 0) {
            const int n = GetPaletteEntries(palette_, 0, count, colors.data());
            for (int i = 0; i < n; ++i) colors[static_cast<size_t>(i)].peFlags = 0;
        }
        bitmap_->SetColorTable(colors);
    }
}

void TDIBWriter::AllocateBits() {
    PrepareBitmap();
    try {
        bitmap_->NewImage(width_, height_, format_);
    } catch (const EOutOfMemory&) {
        throw EOutOfMemory("Failed to allocate memory for GIF DIB");
    }
    rowBytes_ = bitmap_->RowBytes();
    handedOut_.assign(static_cast<size_t>(height_), false);
    allocated_ = true;
}

uint8_t* TDIBWriter::RowAddress(int row) {
    if (!allocated_) AllocateBits();
    if (row < 0 || row >= height_) throw EInvalidGraphicOperation("Scan line index out of range");
    uint8_t* address = bitmap_->ScanLine(row);
    std::memset(address + usedBytes_, 0, static_cast<size_t>(rowBytes_ - usedBytes_));
    handedOut_[static_cast<size_t>(row)] = true;
    return address;
}

bool TDIBWriter::ShareBits(const TPixelBuffer& pixels) {
    if (allocated_ || TBitmap::RowBytesFor(width_, format_) != usedBytes_ ||
        pixels.size() != size_t(usedBytes_ * height_))
        return false;
    PrepareBitmap();
    try {
        return bitmap_->NewSharedImage(width_, height_, format_, pixels);
    } catch (const EOutOfMemory&) {
        throw EOutOfMemory("Failed to allocate memory for GIF DIB");
    }
}

void TDIBWriter::Close() {
    if (!allocated_) return;
    ZeroRowsNotHandedOut();
    allocated_ = false;
}

// ------------------------------------------------------------ colour lookups

TFastColorLookup::TFastColorLookup(HPALETTE palette) : TColorLookup(0), cache_(32768, -1) {
    colors_ = std::max(0, GetPaletteEntries(palette, 0, 256, entries_.data()));
    // The first entry of each key answers for it.
    for (int i = 0; i < colors_; ++i) {
        const TPaletteEntry& e = entries_[static_cast<size_t>(i)];
        const int key = (e.peRed >> 3) | ((e.peGreen >> 3) << 5) | ((e.peBlue >> 3) << 10);
        if (cache_[static_cast<size_t>(key)] == -1) cache_[static_cast<size_t>(key)] = static_cast<int16_t>(i);
    }
}

int TFastColorLookup::Search(int key, uint8_t red, uint8_t green, uint8_t blue) {
    int best = 0x30000, index = 0;
    for (int i = 0; i < colors_; ++i) {
        const TPaletteEntry& e = entries_[static_cast<size_t>(i)];
        const int d = std::abs(e.peRed - red) + std::abs(e.peGreen - green) + std::abs(e.peBlue - blue);
        if (d < best) {
            best = d;
            index = i;
        }
    }
    cache_[static_cast<size_t>(key)] = static_cast<int16_t>(index);
    return index;
}

uint8_t TGrayScaleLookup::NearestIndex(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                                       uint8_t& outBlue) {
    const auto grey = static_cast<uint8_t>((77 * red + 150 * green + 29 * blue) >> 8);
    outRed = outGreen = outBlue = grey;
    return grey;
}

uint8_t TMonochromeLookup::NearestIndex(uint8_t red, uint8_t green, uint8_t blue, uint8_t& outRed, uint8_t& outGreen,
                                        uint8_t& outBlue) {
    const int s = 77 * red + 150 * green + 29 * blue;
    const uint8_t v = s <= 0x7F00 ? 0 : 255;
    outRed = outGreen = outBlue = v;
    return v ? 1 : 0;
}
