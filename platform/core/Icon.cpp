#include "Icon.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

[[noreturn]] void InvalidIcon(const char* why) {
    throw EInvalidGraphic(std::string("Icon image is not valid: ") + why);
}

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
int32_t GetS32(const uint8_t* p) { return static_cast<int32_t>(Get32(p)); }

constexpr size_t kDirHeader = 6;
constexpr size_t kDirEntry = 16;
constexpr size_t kInfoHeader = 40;
// Icons are small; a larger image in an .ico file is hostile.
constexpr int32_t kMaxIconSide = 1024;

struct Entry {
    int32_t width, height;  // as the directory gives them (0 means 256)
    int bits;               // from the image's own header
    size_t offset, size;
    bool png;
};

bool IsPng(const uint8_t* p, size_t n) {
    static const uint8_t kSig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    return n >= 8 && std::memcmp(p, kSig, 8) == 0;
}

std::vector<Entry> ReadDirectory(const std::vector<uint8_t>& data) {
    if (data.size() < kDirHeader) InvalidIcon("the file is too short");
    const uint8_t* d = data.data();
    const uint16_t count = Get16(d + 4);
    if (Get16(d) != 0 || Get16(d + 2) != 1) InvalidIcon("not an icon file");
    if (count == 0) InvalidIcon("the file holds no image");
    if (kDirHeader + kDirEntry * count > data.size()) InvalidIcon("the directory is cut short");
    std::vector<Entry> entries;
    entries.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = d + kDirHeader + kDirEntry * i;
        Entry entry;
        entry.width = e[0] ? e[0] : 256;
        entry.height = e[1] ? e[1] : 256;
        entry.size = Get32(e + 8);
        entry.offset = Get32(e + 12);
        // Both are 32-bit, so the sum cannot overflow size_t.
        if (entry.offset + entry.size > data.size()) InvalidIcon("an image lies outside the file");
        if (entry.size < 8) InvalidIcon("an image is too short");
        entry.png = IsPng(d + entry.offset, entry.size);
        entry.bits = 0;
        if (!entry.png && entry.size >= kInfoHeader) entry.bits = Get16(d + entry.offset + 14);
        entries.push_back(entry);
    }
    return entries;
}

// The large-icon choice: the image nearest 32 x 32 (least |w - 32| + |h - 32|,
// the earlier one on a tie), and among images of exactly that size
// difference the one with the most colours (bits per pixel up to 32).
// PNG-compressed images are passed over.
const Entry* ChooseImage(const std::vector<Entry>& entries) {
    const Entry* best = nullptr;
    for (const Entry& e : entries) {
        if (e.png) continue;
        if (best == nullptr) {
            best = &e;
            continue;
        }
        const int32_t dx = std::abs(e.width - kLargeIconSize), dy = std::abs(e.height - kLargeIconSize);
        const int32_t bx = std::abs(best->width - kLargeIconSize), by = std::abs(best->height - kLargeIconSize);
        if (dx + dy < bx + by) {
            best = &e;
        } else if (dx == bx && dy == by) {
            const int depth = std::abs(32 - e.bits), bestDepth = std::abs(32 - best->bits);
            if (depth < bestDepth) best = &e;
        }
    }
    return best;
}

struct Decoded {
    std::unique_ptr<TBitmap> color, mask;
    std::unique_ptr<TBitmap> monochrome;  // a 1-bit image's own bits
    bool hasAlpha = false;
};

// One image: a BITMAPINFOHEADER whose height counts the colour rows and the
// mask rows, a colour table, the colour (XOR) rows and the AND mask rows,
// all bottom-up.
Decoded DecodeImage(const uint8_t* p, size_t n) {
    if (n < kInfoHeader) InvalidIcon("an image header is cut short");
    const uint32_t headerSize = Get32(p);
    const int32_t width = GetS32(p + 4);
    const int32_t doubleHeight = GetS32(p + 8);
    const int bits = Get16(p + 14);
    const uint32_t compression = Get32(p + 16);
    const uint32_t colorsUsed = Get32(p + 32);
    if (headerSize < kInfoHeader || headerSize > n) InvalidIcon("bad image header size");
    if (width < 1 || width > kMaxIconSide || doubleHeight < 2 || doubleHeight / 2 > kMaxIconSide)
        InvalidIcon("bad image size");
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) InvalidIcon("unsupported colour depth");
    if (compression != 0) InvalidIcon("compressed images are not supported");
    const int32_t height = doubleHeight / 2;

    uint32_t colorCount = 0;
    if (bits <= 8) {
        colorCount = colorsUsed ? colorsUsed : (1u << bits);
        if (colorCount > (1u << bits)) InvalidIcon("too many colours");
    } else if (colorsUsed > 256) {
        InvalidIcon("too many colours");
    } else {
        colorCount = colorsUsed;  // an optional table that only precedes the pixels
    }
    // Sizes are bounded by kMaxIconSide, so 64-bit sums cannot overflow.
    const uint64_t xorStride = ((uint64_t(width) * uint64_t(bits) + 31) / 32) * 4;
    const uint64_t andStride = ((uint64_t(width) + 31) / 32) * 4;
    const uint64_t colorsAt = headerSize;
    const uint64_t xorAt = colorsAt + uint64_t(colorCount) * 4;
    const uint64_t andAt = xorAt + xorStride * uint64_t(height);
    const uint64_t end = andAt + andStride * uint64_t(height);
    // Tolerated: a 32-bit image whose AND mask is missing; its alpha says
    // what shows. Every other shortfall is an error.
    bool haveMask = end <= n;
    if (!haveMask && !(bits == 32 && andAt <= n)) InvalidIcon("an image is cut short");

    std::vector<TPaletteEntry> colors(colorCount);
    for (uint32_t i = 0; i < colorCount; ++i) {
        const uint8_t* q = p + colorsAt + 4 * i;
        colors[i] = TPaletteEntry{q[2], q[1], q[0], 0};
    }

    Decoded out;
    out.color = std::make_unique<TBitmap>();
    out.color->SetPixelFormat(TPixelFormat::pf32bit);
    out.color->SetSize(width, height);
    out.mask = std::make_unique<TBitmap>();
    out.mask->SetPixelFormat(TPixelFormat::pf1bit);
    out.mask->SetColorTable({TPaletteEntry{0, 0, 0, 0}, TPaletteEntry{255, 255, 255, 0}});
    out.mask->SetSize(width, height);

    if (bits == 1) {
        out.monochrome = std::make_unique<TBitmap>();
        out.monochrome->SetPixelFormat(TPixelFormat::pf1bit);
        out.monochrome->SetColorTable({TPaletteEntry{0, 0, 0, 0}, TPaletteEntry{255, 255, 255, 0}});
        out.monochrome->SetSize(width, height);
        for (int32_t r = 0; r < height; ++r)
            std::memcpy(out.monochrome->ScanLine(height - 1 - r), p + xorAt + xorStride * uint64_t(r),
                        (size_t(width) + 7) / 8);
    }
    const uint32_t indexMask = (1u << (bits <= 8 ? bits : 0)) - 1;
    for (int32_t r = 0; r < height; ++r) {
        const int32_t row = height - 1 - r;
        const uint8_t* in = p + xorAt + xorStride * uint64_t(r);
        uint8_t* dst = out.color->ScanLine(row);
        if (bits <= 8) {
            const int perByte = 8 / bits;
            for (int32_t x = 0; x < width; ++x, dst += 4) {
                const int shift = 8 - bits * (x % perByte + 1);
                const uint32_t index = (in[x / perByte] >> shift) & indexMask;
                // Tolerated: an index past a short colour table shows black.
                const TPaletteEntry c = index < colorCount ? colors[index] : TPaletteEntry{};
                dst[0] = c.peBlue;
                dst[1] = c.peGreen;
                dst[2] = c.peRed;
                dst[3] = 0;
            }
        } else if (bits == 24) {
            for (int32_t x = 0; x < width; ++x, in += 3, dst += 4) {
                dst[0] = in[0];
                dst[1] = in[1];
                dst[2] = in[2];
                dst[3] = 0;
            }
        } else {
            std::memcpy(dst, in, size_t(width) * 4);
            for (int32_t x = 0; x < width; ++x) out.hasAlpha |= dst[4 * x + 3] != 0;
        }
        uint8_t* maskRow = out.mask->ScanLine(row);
        if (haveMask) std::memcpy(maskRow, p + andAt + andStride * uint64_t(r), size_t(andStride));
    }
    if (!haveMask && !out.hasAlpha) InvalidIcon("an image is cut short");

    // Alpha of the colour bitmap: the file's own, or opaque where the mask
    // is clear. Without a mask in the file, it is made from the alpha.
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* c = out.color->ScanLine(y);
        uint8_t* m = out.mask->ScanLine(y);
        if (out.hasAlpha && !haveMask) {
            for (int32_t x = 0; x < width; ++x)
                if (c[4 * x + 3] == 0) m[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
        } else if (!out.hasAlpha) {
            for (int32_t x = 0; x < width; ++x) c[4 * x + 3] = (m[x >> 3] & (0x80 >> (x & 7))) ? 0 : 255;
        }
    }
    return out;
}

// Nearest-neighbour source index of destination pixel i of n over span
// source pixels: the centre of the destination pixel mapped back.
inline int32_t SourceIndex(int64_t span, int64_t i, int64_t n) {
    return static_cast<int32_t>(((2 * i + 1) * span) / (2 * n));
}

inline uint8_t Mix(unsigned s, unsigned d, unsigned a) { return static_cast<uint8_t>((s * a + d * (255 - a) + 127) / 255); }

// Straight onto the pixels of a 24- or 32-bit bitmap.
void DrawOnPixels(const TBitmap& color, const TBitmap& mask, bool hasAlpha, TBitmap& target, const TRect& rect,
                  const TRect& clip) {
    TRect r;
    if (!IntersectRect(r, rect, clip)) return;
    const int bpp = target.PixelFormat() == TPixelFormat::pf32bit ? 4 : 3;
    std::vector<int32_t> columns(static_cast<size_t>(r.Width()));
    for (int32_t x = r.Left; x < r.Right; ++x)
        columns[static_cast<size_t>(x - r.Left)] = SourceIndex(color.Width(), x - rect.Left, rect.Width());
    for (int32_t y = r.Top; y < r.Bottom; ++y) {
        const int32_t sy = SourceIndex(color.Height(), y - rect.Top, rect.Height());
        const uint8_t* src = color.ScanLine(sy);
        const uint8_t* bits = mask.ScanLine(sy);
        uint8_t* dst = target.ScanLine(y) + size_t(r.Left) * bpp;
        if (hasAlpha) {
            for (const int32_t sx : columns) {
                const uint8_t* s = src + 4 * sx;
                const unsigned a = s[3];
                if (a == 255) {
                    dst[0] = s[0];
                    dst[1] = s[1];
                    dst[2] = s[2];
                    if (bpp == 4) dst[3] = 255;
                } else if (a != 0) {
                    dst[0] = Mix(s[0], dst[0], a);
                    dst[1] = Mix(s[1], dst[1], a);
                    dst[2] = Mix(s[2], dst[2], a);
                    if (bpp == 4) dst[3] = static_cast<uint8_t>(a + (dst[3] * (255 - a) + 127) / 255);
                }
                dst += bpp;
            }
        } else {
            // The desktop's two steps: AND with the mask, then XOR the image.
            for (const int32_t sx : columns) {
                const uint8_t* s = src + 4 * sx;
                if (bits[sx >> 3] & (0x80 >> (sx & 7))) {
                    dst[0] ^= s[0];
                    dst[1] ^= s[1];
                    dst[2] ^= s[2];
                } else {
                    dst[0] = s[0];
                    dst[1] = s[1];
                    dst[2] = s[2];
                    if (bpp == 4) dst[3] = 255;
                }
                dst += bpp;
            }
        }
    }
}

struct Registration {
    Registration() { TPicture::RegisterFileFormat("ico", "Icons", TIcon::StaticClass()); }
} registration;

}  // namespace

QUILLARC_DEFINE_GRAPHIC(TIcon, TGraphic)

TIcon::TIcon() : color_(std::make_unique<TBitmap>()), mask_(std::make_unique<TBitmap>()) {}

TIcon::~TIcon() = default;

void TIcon::SetWidth(int32_t) { throw EInvalidGraphicOperation("Cannot change the size of an icon"); }
void TIcon::SetHeight(int32_t) { throw EInvalidGraphicOperation("Cannot change the size of an icon"); }

void TIcon::LoadFromStream(TStream& stream) {
    const int64_t size = stream.Remaining();
    if (size > std::numeric_limits<int32_t>::max()) InvalidIcon("the file is too large");
    std::vector<uint8_t> data(static_cast<size_t>(size));
    stream.ReadBuffer(data.data(), size);
    const std::vector<Entry> entries = ReadDirectory(data);
    const Entry* chosen = ChooseImage(entries);
    if (chosen == nullptr) InvalidIcon("PNG-compressed icon images are not supported");
    Decoded image = DecodeImage(data.data() + chosen->offset, chosen->size);
    data_ = std::move(data);
    color_ = std::move(image.color);
    mask_ = std::move(image.mask);
    monochrome_ = std::move(image.monochrome);
    hasAlpha_ = image.hasAlpha;
    Changed(this);
}

void TIcon::SaveToStream(TStream& stream) {
    if (data_.empty()) throw EInvalidGraphic("Cannot save an empty icon");
    stream.WriteBuffer(data_.data(), static_cast<int64_t>(data_.size()));
}

void TIcon::Assign(const TPersistent* source) {
    if (auto* icon = dynamic_cast<const TIcon*>(source)) {
        if (icon == this) return;
        auto color = std::make_unique<TBitmap>();
        auto mask = std::make_unique<TBitmap>();
        color->Assign(icon->color_.get());
        mask->Assign(icon->mask_.get());
        std::unique_ptr<TBitmap> monochrome;
        if (icon->monochrome_ != nullptr) {
            monochrome = std::make_unique<TBitmap>();
            monochrome->Assign(icon->monochrome_.get());
        }
        data_ = icon->data_;
        color_ = std::move(color);
        mask_ = std::move(mask);
        monochrome_ = std::move(monochrome);
        hasAlpha_ = icon->hasAlpha_;
        Changed(this);
        return;
    }
    TGraphic::Assign(source);
}

void TIcon::AssignTo(TPersistent* dest) const {
    if (auto* bitmap = dynamic_cast<TBitmap*>(dest)) {
        bitmap->ReleaseImage();
        bitmap->SetPixelFormat(TPixelFormat::pf32bit);
        bitmap->SetSize(Width(), Height());
        if (!Empty()) const_cast<TIcon*>(this)->Draw(bitmap->Canvas(), Rect(0, 0, Width(), Height()));
        return;
    }
    TGraphic::AssignTo(dest);
}

void TIcon::Draw(TCanvas& canvas, const TRect& rect) {
    if (Empty() || rect.IsEmpty()) return;
    TBitmap* target = canvas.Target();
    if (target != nullptr && !target->Empty() &&
        (target->PixelFormat() == TPixelFormat::pf24bit || target->PixelFormat() == TPixelFormat::pf32bit)) {
        DrawOnPixels(*color_, *mask_, hasAlpha_, *target, rect, canvas.ClipRect());
        canvas.Changed();
        return;
    }
    // Other surfaces get the masked copy: the destination stays where the
    // mask is set (for alpha images, where alpha is below one half).
    TBitmap image;
    image.Assign(color_.get());
    image.SetPixelFormat(TPixelFormat::pf24bit);
    const TBitmap* mask = mask_.get();
    TBitmap alphaMask;
    if (hasAlpha_) {
        alphaMask.SetPixelFormat(TPixelFormat::pf8bit);
        alphaMask.SetSize(Width(), Height());
        std::vector<TPaletteEntry> grey(256);
        for (int i = 0; i < 256; ++i) grey[i] = TPaletteEntry{uint8_t(i), uint8_t(i), uint8_t(i), 0};
        alphaMask.SetColorTable(grey);
        for (int32_t y = 0; y < Height(); ++y) {
            const uint8_t* c = color_->ScanLine(y);
            uint8_t* m = alphaMask.ScanLine(y);
            for (int32_t x = 0; x < Width(); ++x) m[x] = c[4 * x + 3] < 128 ? 255 : 0;
        }
        mask = &alphaMask;
    }
    const TCopyMode mode = canvas.CopyMode;
    canvas.CopyMode = cmSrcCopy;
    canvas.StretchBlt(rect, image, Rect(0, 0, Width(), Height()), mask);
    canvas.CopyMode = mode;
}

bool GetIconInfo(const TIcon& icon, TIconInfo& info) {
    info = TIconInfo{};
    if (icon.Empty()) return false;
    const TBitmap& mask = icon.MaskBitmap();
    const int32_t w = icon.Width(), h = icon.Height();
    info.hbmMask = std::make_unique<TBitmap>();
    info.hbmMask->SetPixelFormat(TPixelFormat::pf1bit);
    info.hbmMask->SetColorTable({TPaletteEntry{0, 0, 0, 0}, TPaletteEntry{255, 255, 255, 0}});
    const TBitmap* monochrome = icon.MonochromeBits();
    info.hbmMask->SetSize(w, monochrome != nullptr ? 2 * h : h);
    const size_t rowBytes = (size_t(w) + 7) / 8;
    for (int32_t y = 0; y < h; ++y) {
        std::memcpy(info.hbmMask->ScanLine(y), mask.ScanLine(y), rowBytes);
        if (monochrome != nullptr) std::memcpy(info.hbmMask->ScanLine(h + y), monochrome->ScanLine(y), rowBytes);
    }
    if (monochrome == nullptr) {
        info.hbmColor = std::make_unique<TBitmap>();
        info.hbmColor->Assign(&icon.ColorBitmap());
    }
    return true;
}
