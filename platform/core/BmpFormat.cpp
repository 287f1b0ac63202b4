// The BMP file format: Windows 3 and later headers (40, 52, 56, 108 and 124
// bytes), the OS/2 1.x core header (12) and OS/2 2.x headers (16 to 64);
// 1, 4, 8, 16, 24 and 32 bits; uncompressed, RLE8, RLE4 and bit fields.
#include "platform/core/BmpFormat.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/core/PixelRows.h"

namespace bmp {
namespace {

constexpr const char* kInvalid = "Bitmap image is not valid";
[[noreturn]] void Invalid() { throw EInvalidGraphic(kInvalid); }

constexpr uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kAlphaBitFields = 6;
constexpr int kFileHeaderSize = 14;

inline uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t U32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
inline void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v) {
    Put16(p, v);
    Put16(p + 2, v >> 16);
}

// Reads exactly count bytes or reports the file as damaged.
void ReadExact(TStream& stream, void* buffer, int64_t count) {
    if (count > 0 && stream.Read(buffer, count) != count) Invalid();
}

bool IsOs2v2(uint32_t headerSize) {
    return headerSize >= 16 && headerSize <= 64 && headerSize != 40 && headerSize != 52 && headerSize != 56;
}

// A channel mask as shift and width; masks must be one run of set bits.
struct Channel {
    int shift = 0;
    int bits = 0;
    uint32_t mask = 0;
};

Channel MakeChannel(uint32_t mask) {
    Channel c;
    c.mask = mask;
    if (mask == 0) return c;
    while (!((mask >> c.shift) & 1)) ++c.shift;
    const uint64_t run = static_cast<uint64_t>(mask >> c.shift) + 1;
    if ((run & (run - 1)) != 0) Invalid();
    while (((mask >> c.shift) >> c.bits) & 1) {
        ++c.bits;
        if (c.shift + c.bits >= 32) break;
    }
    return c;
}

// A channel value scaled to 0..255 with rounding, round(v x 255 / max),
// whatever its width (the plain 15 and 16-bit formats widen the same way).
inline uint32_t Scale(uint32_t pixel, const Channel& c) {
    if (c.bits == 0) return 0;
    const uint64_t v = (pixel & c.mask) >> c.shift;
    if (c.bits == 8) return static_cast<uint32_t>(v);
    const uint64_t max = (uint64_t(1) << c.bits) - 1;
    return static_cast<uint32_t>((v * 255 + max / 2) / max);
}

}  // namespace

bool Probe(TStream& stream) {
    const int64_t pos = stream.Position();
    uint8_t sig[2] = {0, 0};
    const int64_t got = stream.Read(sig, 2);
    stream.SetPosition(pos);
    return got == 2 && sig[0] == 'B' && sig[1] == 'M';
}

Header ReadHeader(TStream& stream) {
    Header h;
    h.start = stream.Position();
    const int64_t size = stream.Size();
    const int64_t available = h.start >= 0 && h.start < size ? size - h.start : 0;

    uint8_t file[kFileHeaderSize];
    if (available < kFileHeaderSize) Invalid();
    ReadExact(stream, file, kFileHeaderSize);
    if (file[0] != 'B' || file[1] != 'M') Invalid();
    const uint32_t offBits = U32(file + 10);

    uint8_t info[124] = {};
    ReadExact(stream, info, 4);
    const uint32_t headerSize = U32(info);
    const bool core = headerSize == 12;
    const bool os2 = IsOs2v2(headerSize);
    if (!core && !os2 && headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 &&
        headerSize != 124)
        Invalid();
    if (kFileHeaderSize + static_cast<int64_t>(headerSize) > available) Invalid();
    ReadExact(stream, info + 4, headerSize - 4);

    int64_t width, height;
    if (core) {
        width = U16(info + 4);
        height = U16(info + 6);
        h.bitCount = U16(info + 10);
    } else {
        width = static_cast<int32_t>(U32(info + 4));
        height = static_cast<int32_t>(U32(info + 8));
        h.bitCount = U16(info + 14);
        h.compression = U32(info + 16);  // zero when a short OS/2 header ends before it
    }
    // OS/2 2.x numbers its compressions differently: 3 is Huffman, 4 RLE24.
    if (os2 && h.compression >= kBitFields) Invalid();

    switch (h.bitCount) {
        case 1: case 4: case 8: case 16: case 24: case 32: break;
        default: Invalid();
    }
    switch (h.compression) {
        case kRgb: break;
        case kRle8: if (h.bitCount != 8) Invalid(); break;
        case kRle4: if (h.bitCount != 4) Invalid(); break;
        case kBitFields:
        case kAlphaBitFields: if (h.bitCount != 16 && h.bitCount != 32) Invalid(); break;
        default: Invalid();
    }

    if (width < 0) Invalid();
    if (height < 0) {
        h.topDown = true;
        height = -height;  // int32 minimum becomes 2^31, caught below
    }
    if (h.topDown && (h.compression == kRle8 || h.compression == kRle4)) Invalid();
    if (width > kMaxBitmapSide || height > kMaxBitmapSide || width * height > kMaxBitmapPixels) Invalid();
    h.width = static_cast<int32_t>(width);
    h.height = static_cast<int32_t>(height);

    // Bit field masks: inside headers of 52 bytes and more, else 12 (or 16
    // with alpha) bytes right after a 40-byte header.
    int64_t tableStart = kFileHeaderSize + static_cast<int64_t>(headerSize);
    if (h.compression == kBitFields || h.compression == kAlphaBitFields) {
        if (headerSize == 40) {
            const int64_t maskBytes = h.compression == kAlphaBitFields ? 16 : 12;
            if (tableStart + maskBytes > available) Invalid();
            ReadExact(stream, info + 40, maskBytes);
            tableStart += maskBytes;
        }
        h.masks[0] = U32(info + 40);
        h.masks[1] = U32(info + 44);
        h.masks[2] = U32(info + 48);
        h.masks[3] = (headerSize >= 56 || h.compression == kAlphaBitFields) ? U32(info + 52) : 0;
        if (h.bitCount == 16)
            for (uint32_t& m : h.masks) m &= 0xFFFF;
        for (int i = 0; i < 4; ++i)
            for (int j = i + 1; j < 4; ++j)
                if (h.masks[i] & h.masks[j]) Invalid();
    }

    // Colour table. A count above what the bits address is tolerated (some
    // writers store the whole 256-entry table for fewer bits): the extra
    // entries are skipped through the pixel offset.
    if (h.bitCount <= 8) {
        const uint32_t capacity = 1u << h.bitCount;
        const uint32_t used = core ? 0 : U32(info + 32);
        const uint32_t count = (used == 0 || used > capacity) ? capacity : used;
        const int64_t entrySize = core ? 3 : 4;
        const int64_t tableBytes = count * entrySize;
        if (tableStart + tableBytes > available) Invalid();
        std::vector<uint8_t> table(static_cast<size_t>(tableBytes));
        ReadExact(stream, table.data(), tableBytes);
        h.colors.resize(count);
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* q = table.data() + i * entrySize;
            h.colors[i] = TPaletteEntry{q[2], q[1], q[0], 0};
        }
        tableStart += tableBytes;
    }

    // An offset of 0 is tolerated as "right after the colour table"; one
    // pointing into the headers or the table is not.
    h.pixelOffset = offBits == 0 ? tableStart : static_cast<int64_t>(offBits);
    if (h.pixelOffset < tableStart || h.pixelOffset > available) Invalid();
    h.pixelBytes = available - h.pixelOffset;

    const int64_t stride = (width * h.bitCount + 31) / 32 * 4;
    if (h.compression == kRle8 || h.compression == kRle4) {
        const uint32_t sizeImage = U32(info + 20);
        if (sizeImage != 0 && sizeImage < h.pixelBytes) h.pixelBytes = sizeImage;
        if (h.pixelBytes == 0 && width * height > 0) Invalid();
        // What the data backs is measured on the codes (ReadPixels).
    } else if (stride * height > h.pixelBytes) {
        Invalid();  // truncated pixel data
    }

    switch (h.bitCount) {
        case 1: h.format = TPixelFormat::pf1bit; break;
        case 4: h.format = TPixelFormat::pf4bit; break;
        case 8: h.format = TPixelFormat::pf8bit; break;
        case 24: h.format = TPixelFormat::pf24bit; break;
        case 16:
            if (h.compression == kRgb || (h.masks[0] == 0x7C00 && h.masks[1] == 0x03E0 && h.masks[2] == 0x001F &&
                                          h.masks[3] == 0))
                h.format = TPixelFormat::pf15bit;
            else if (h.masks[0] == 0xF800 && h.masks[1] == 0x07E0 && h.masks[2] == 0x001F && h.masks[3] == 0)
                h.format = TPixelFormat::pf16bit;
            else
                h.format = h.masks[3] != 0 ? TPixelFormat::pf32bit : TPixelFormat::pf24bit;
            break;
        default: h.format = TPixelFormat::pf32bit; break;
    }
    return h;
}

namespace {

// Run-length data, bottom-up, code by code; put(x, y, v) draws a pixel
// (nothing while the data is only measured). Every run, copy and jump is
// checked against the bitmap before anything is drawn: an overrun rejects
// the file. Tolerated: data that ends at a code boundary without the
// end-of-bitmap code (as some writers leave it); what was decoded is kept.
// Returns the pixels the codes reach, drawn or passed over by end-of-line
// and jump codes, up to where the data or its end-of-bitmap code stops.
template <typename Put>
int64_t WalkRle(const uint8_t* data, int64_t size, bool fourBits, int32_t w, int32_t h, Put&& put) {
    int64_t x = 0, y = 0, i = 0;
    auto reached = [&] { return std::min(y * w + std::min<int64_t>(x, w), int64_t(w) * h); };
    while (i + 2 <= size) {
        const uint8_t count = data[i], value = data[i + 1];
        i += 2;
        // A run or a literal may go on past the end of its row: writers
        // encode the row padding, or let the odd last pixel of an RLE4 pair
        // run over. Its pixels inside the row are drawn and the rest is
        // consumed; only rows below the bitmap and jumps out of it are
        // refused.
        if (count > 0) {
            if (y >= h) Invalid();
            const int n = static_cast<int>(std::min<int64_t>(count, std::max<int64_t>(0, w - x)));
            for (int k = 0; k < n; ++k) put(x + k, y, fourBits ? ((k & 1) ? (value & 0x0F) : (value >> 4)) : value);
            x += count;
            continue;
        }
        if (value == 0) {  // end of line
            if (y + 1 > h) Invalid();
            x = 0;
            ++y;
        } else if (value == 1) {  // end of bitmap
            return reached();
        } else if (value == 2) {  // jump right and up
            if (i + 2 > size) Invalid();
            x += data[i];
            y += data[i + 1];
            i += 2;
            if (x > w || y > h) Invalid();
        } else {  // literal pixels, padded to a 16-bit boundary
            const int64_t bytes = fourBits ? (value + 1) / 2 : value;
            const int64_t padded = (bytes + 1) & ~int64_t(1);
            if (i + bytes > size) Invalid();
            if (y >= h) Invalid();
            const int n = static_cast<int>(std::min<int64_t>(value, std::max<int64_t>(0, w - x)));
            for (int k = 0; k < n; ++k) {
                const uint8_t b = data[i + (fourBits ? k / 2 : k)];
                put(x + k, y, fourBits ? ((k & 1) ? (b & 0x0F) : (b >> 4)) : b);
            }
            x += value;
            i += padded < size - i ? padded : size - i;
        }
    }
    if (i != size) Invalid();  // a code cut in half
    return reached();
}

void DecodeRle(const uint8_t* data, int64_t size, bool fourBits, TBitmap& bitmap) {
    const int32_t h = bitmap.Height();
    WalkRle(data, size, fourBits, bitmap.Width(), h, [&](int64_t x, int64_t y, uint8_t v) {
        uint8_t* row = bitmap.ScanLine(static_cast<int32_t>(h - 1 - y));
        if (!fourBits) {
            row[x] = v;
        } else if (x & 1) {
            row[x >> 1] = static_cast<uint8_t>((row[x >> 1] & 0xF0) | (v & 0x0F));
        } else {
            row[x >> 1] = static_cast<uint8_t>((row[x >> 1] & 0x0F) | (v << 4));
        }
    });
}

}  // namespace

void ReadPixels(TStream& stream, const Header& h, TBitmap& bitmap) {
    bitmap.ReleaseImage();
    bitmap.SetPixelFormat(h.format);
    if (!h.colors.empty()) bitmap.SetColorTable(h.colors);
    const bool rle = h.compression == kRle8 || h.compression == kRle4;
    std::vector<uint8_t> data;
    if (rle && h.width > 0 && h.height > 0) {
        // Data that ends early leaves the rest of the picture to index 0,
        // but it may not be what makes a small file a large picture. What
        // the bytes could draw at the most (255 pixels a pair) vouches for
        // it; failing that, what the codes reach, drawing or passing over
        // with end-of-line and jump codes (as writers do for what they leave
        // blank), counted before the picture is allocated, which refuses
        // damaged codes without it too.
        stream.SetPosition(h.start + h.pixelOffset);
        data.resize(static_cast<size_t>(h.pixelBytes));
        ReadExact(stream, data.data(), h.pixelBytes);
        const int64_t pixels = int64_t(h.width) * h.height;
        auto measure = [](int64_t, int64_t, uint8_t) {};
        if (!ClaimBacked(pixels, h.pixelBytes / 2 * 255) &&
            !ClaimBacked(pixels, WalkRle(data.data(), h.pixelBytes, h.compression == kRle4, h.width, h.height, measure)))
            Invalid();
    }
    bitmap.SetSize(h.width, h.height);
    if (bitmap.Empty()) return;
    if (rle) {
        DecodeRle(data.data(), h.pixelBytes, h.compression == kRle4, bitmap);
        return;
    }
    stream.SetPosition(h.start + h.pixelOffset);

    const int32_t w = h.width;
    const int64_t fileStride = (static_cast<int64_t>(w) * h.bitCount + 31) / 32 * 4;
    const bool raw = h.compression == kRgb || h.format == TPixelFormat::pf15bit ||
                     h.format == TPixelFormat::pf16bit ||
                     (h.bitCount == 32 && h.masks[0] == 0x00FF0000 && h.masks[1] == 0x0000FF00 &&
                      h.masks[2] == 0x000000FF && (h.masks[3] == 0 || h.masks[3] == 0xFF000000));
    if (raw) {
        // File rows and bitmap rows have the same padded length.
        for (int32_t r = 0; r < h.height; ++r) {
            const int32_t y = h.topDown ? r : h.height - 1 - r;
            ReadExact(stream, bitmap.ScanLine(y), fileStride);
        }
        return;
    }

    const Channel red = MakeChannel(h.masks[0]), green = MakeChannel(h.masks[1]), blue = MakeChannel(h.masks[2]),
                  alpha = MakeChannel(h.masks[3]);
    const int bytesPerPixel = h.bitCount / 8;
    const int outBytes = h.format == TPixelFormat::pf32bit ? 4 : 3;
    std::vector<uint8_t> line(static_cast<size_t>(fileStride));
    for (int32_t r = 0; r < h.height; ++r) {
        ReadExact(stream, line.data(), fileStride);
        uint8_t* out = bitmap.ScanLine(h.topDown ? r : h.height - 1 - r);
        const uint8_t* in = line.data();
        for (int32_t x = 0; x < w; ++x, in += bytesPerPixel, out += outBytes) {
            const uint32_t v = bytesPerPixel == 2 ? U16(in) : U32(in);
            out[0] = static_cast<uint8_t>(Scale(v, blue));
            out[1] = static_cast<uint8_t>(Scale(v, green));
            out[2] = static_cast<uint8_t>(Scale(v, red));
            if (outBytes == 4) out[3] = static_cast<uint8_t>(Scale(v, alpha));
        }
    }
}

void Write(TStream& stream, const TBitmap& bitmap) {
    const TPixelFormat f = bitmap.PixelFormat();
    int bits = BitsPerPixel(f);
    uint32_t compression = kRgb;
    std::vector<TPaletteEntry> colors;
    if (px::IsIndexed(f)) {
        colors = bitmap.ColorTable();
        if (colors.empty()) colors = px::DefaultColors(f);
        if (colors.size() > (size_t(1) << bits)) colors.resize(size_t(1) << bits);
    }
    if (f == TPixelFormat::pf16bit) compression = kBitFields;
    const int32_t w = bitmap.Width(), h = bitmap.Height();
    const int64_t stride = (static_cast<int64_t>(w) * bits + 31) / 32 * 4;
    const int64_t pixelBytes = stride * h;
    const int64_t extra = compression == kBitFields ? 12 : static_cast<int64_t>(colors.size()) * 4;
    const int64_t offset = kFileHeaderSize + 40 + extra;
    const int64_t fileSize = offset + pixelBytes;
    if (fileSize > std::numeric_limits<uint32_t>::max()) throw EInvalidGraphic("Bitmap image is too large to save");

    std::vector<uint8_t> head(static_cast<size_t>(offset), 0);
    uint8_t* p = head.data();
    p[0] = 'B';
    p[1] = 'M';
    Put32(p + 2, static_cast<uint32_t>(fileSize));
    Put32(p + 10, static_cast<uint32_t>(offset));
    Put32(p + 14, 40);
    Put32(p + 18, static_cast<uint32_t>(w));
    Put32(p + 22, static_cast<uint32_t>(h));
    Put16(p + 26, 1);
    Put16(p + 28, static_cast<uint32_t>(bits));
    Put32(p + 30, compression);
    Put32(p + 34, static_cast<uint32_t>(pixelBytes));
    Put32(p + 46, static_cast<uint32_t>(colors.size()));
    Put32(p + 50, static_cast<uint32_t>(colors.size()));
    uint8_t* q = p + 54;
    if (compression == kBitFields) {
        Put32(q, 0xF800);
        Put32(q + 4, 0x07E0);
        Put32(q + 8, 0x001F);
    }
    for (const TPaletteEntry& e : colors) {
        q[0] = e.peBlue;
        q[1] = e.peGreen;
        q[2] = e.peRed;
        q[3] = 0;
        q += 4;
    }
    stream.WriteBuffer(head.data(), offset);
    for (int32_t y = h - 1; y >= 0; --y) stream.WriteBuffer(bitmap.ScanLine(y), stride);
}

}  // namespace bmp
