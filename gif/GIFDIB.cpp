// Moving pixels between the codec's index data and platform bitmaps: a row
// reader over a bitmap, and a writer that builds an 8-bit or 24-bit bitmap
// in memory and hands it over as one BMP load.
#include <cstdlib>
#include <cstring>
#include <new>

#include "gif/GIFPicture.h"

namespace {

void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* p, uint32_t v) {
    Put16(p, v);
    Put16(p + 2, v >> 16);
}

constexpr int64_t kFileHeaderSize = 14;

}  // namespace

int64_t AlignedRowBytes(int64_t width, int bits, int alignment) {
    return ((width * bits + alignment - 1) & ~int64_t(alignment - 1)) >> 3;
}

TDIBReader::TDIBReader(TBitmap& bitmap, TPixelFormat format) : TDIB(bitmap, format) { bitmap.SetPixelFormat(format); }

TDIBWriter::TDIBWriter(TBitmap& bitmap, TPixelFormat format, int width, int height, HPALETTE palette)
    : TDIB(bitmap, format), palette_(palette), height_(height), width_(width) {
    if (format != TPixelFormat::pf8bit && format != TPixelFormat::pf24bit) RaiseGIFError("Unsupported PixelFormat");
    if (width == 0 || height == 0) RaiseGIFError("Invalid image dimensions");
}

TDIBWriter::~TDIBWriter() {
    // Only reached with a block still held when an exception passes: what
    // was written goes to the bitmap, and nothing more may be raised here.
    if (block_ == nullptr) return;
    try {
        FlushToBitmap();
    } catch (...) {
    }
}

void TDIBWriter::AllocateBits() {
    block_.reset();
    const bool indexed = format_ == TPixelFormat::pf8bit;
    const int bits = indexed ? 8 : 24;
    infoSize_ = indexed ? 40 + 256 * 4 : 40;
    rowBytes_ = AlignedRowBytes(width_ < 0 ? -int64_t(width_) : width_, bits, 32);
    pixelSize_ = rowBytes_ * (height_ < 0 ? -int64_t(height_) : height_);
    // The BMP stream is laid out in one block from the start, so handing it
    // over copies the pixels once.
    auto block = std::make_unique<TMemoryStream>();
    try {
        block->SetSize(kFileHeaderSize + infoSize_ + pixelSize_);
    } catch (const EOutOfMemory&) {
        throw EOutOfMemory("Failed to allocate memory for GIF DIB");
    }
    uint8_t* info = block->Memory() + kFileHeaderSize;
    Put32(info, 40);
    Put32(info + 4, static_cast<uint32_t>(width_));
    Put32(info + 8, static_cast<uint32_t>(height_));
    Put16(info + 12, 1);
    Put16(info + 14, static_cast<uint32_t>(bits));
    if (indexed) {
        int n = 0;
        if (palette_ != nullptr && PaletteEntryCount(palette_) > 0) {
            TPaletteEntry entries[256];
            n = GetPaletteEntries(palette_, 0, PaletteEntryCount(palette_), entries);
            uint8_t* quad = info + 40;
            for (int i = 0; i < n; ++i, quad += 4) {
                quad[0] = entries[i].peBlue;
                quad[1] = entries[i].peGreen;
                quad[2] = entries[i].peRed;
                quad[3] = 0;
            }
        }
        Put32(info + 32, 256);
        Put32(info + 36, static_cast<uint32_t>(n));
    }
    block_ = std::move(block);
}

uint8_t* TDIBWriter::RowAddress(int row) {
    if (block_ == nullptr) AllocateBits();
    if (block_ == nullptr) RaiseGIFError("Image has no DIB");
    const int rows = height_ < 0 ? -height_ : height_;
    if (row < 0 || row >= rows) throw EInvalidGraphicOperation("Scan line index out of range");
    const int64_t r = height_ > 0 ? height_ - 1 - row : row;
    return block_->Memory() + kFileHeaderSize + infoSize_ + r * rowBytes_;
}

void TDIBWriter::Close() {
    if (block_ == nullptr) return;
    FlushToBitmap();
    block_.reset();
}

void TDIBWriter::FlushToBitmap() {
    std::unique_ptr<TMemoryStream> block = std::move(block_);
    uint8_t* head = block->Memory();
    head[0] = 'B';
    head[1] = 'M';
    Put32(head + 2, static_cast<uint32_t>(kFileHeaderSize + infoSize_ + pixelSize_));
    Put32(head + 10, static_cast<uint32_t>(kFileHeaderSize + infoSize_));
    block->SetPosition(0);
    bitmap_->LoadFromStream(*block);
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
