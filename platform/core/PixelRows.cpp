#include "platform/core/PixelRows.h"

#include <cstring>

namespace px {

bool IsIndexed(TPixelFormat format) {
    return format == TPixelFormat::pf1bit || format == TPixelFormat::pf4bit || format == TPixelFormat::pf8bit;
}

std::vector<TPaletteEntry> DefaultColors(TPixelFormat format) {
    switch (format) {
        case TPixelFormat::pf1bit:
            return {TPaletteEntry{0, 0, 0, 0}, TPaletteEntry{255, 255, 255, 0}};
        case TPixelFormat::pf4bit: {
            const auto& t = SystemPalette16();
            return {t.begin(), t.end()};
        }
        case TPixelFormat::pf8bit: {
            const auto& t = HalftonePalette256();
            return {t.begin(), t.end()};
        }
        default:
            return {};
    }
}

namespace {
// 5 and 6 bit channels widen to round(v x 255 / max), the rule of every
// other narrow channel (BMP bit fields), so that 31 and 63 become 255;
// the result lies within 8 v .. 8 v + 7 (4 v .. 4 v + 3), so narrowing,
// which truncates, gives the value back.
inline uint32_t Widen5(uint32_t v) { return (v * 255 + 15) / 31; }
inline uint32_t Widen6(uint32_t v) { return (v * 255 + 31) / 63; }
}  // namespace

RowCodec::RowCodec(TPixelFormat format, const std::vector<TPaletteEntry>& colors) : format_(format) {
    if (!IsIndexed(format)) return;
    const int size = 1 << BitsPerPixel(format);
    lookup_.assign(static_cast<size_t>(size), 0);
    reachable_ = static_cast<int>(colors.size()) < size ? static_cast<int>(colors.size()) : size;
    for (int i = 0; i < reachable_; ++i) lookup_[static_cast<size_t>(i)] = EntryToWord(colors[static_cast<size_t>(i)]);
}

void RowCodec::Read(const uint8_t* row, int32_t x0, int32_t n, uint32_t* out) const {
    switch (format_) {
        case TPixelFormat::pf1bit:
            for (int32_t i = 0; i < n; ++i) {
                const int32_t x = x0 + i;
                out[i] = lookup_[(row[x >> 3] >> (7 - (x & 7))) & 1];
            }
            break;
        case TPixelFormat::pf4bit:
            for (int32_t i = 0; i < n; ++i) {
                const int32_t x = x0 + i;
                out[i] = lookup_[(x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4)];
            }
            break;
        case TPixelFormat::pf8bit:
            for (int32_t i = 0; i < n; ++i) out[i] = lookup_[row[x0 + i]];
            break;
        case TPixelFormat::pf15bit:
            for (int32_t i = 0; i < n; ++i) {
                const uint8_t* p = row + 2 * (x0 + i);
                const uint32_t v = p[0] | (p[1] << 8);
                out[i] = Widen5(v & 0x1F) | (Widen5((v >> 5) & 0x1F) << 8) | (Widen5((v >> 10) & 0x1F) << 16);
            }
            break;
        case TPixelFormat::pf16bit:
            for (int32_t i = 0; i < n; ++i) {
                const uint8_t* p = row + 2 * (x0 + i);
                const uint32_t v = p[0] | (p[1] << 8);
                out[i] = Widen5(v & 0x1F) | (Widen6((v >> 5) & 0x3F) << 8) | (Widen5((v >> 11) & 0x1F) << 16);
            }
            break;
        case TPixelFormat::pf24bit:
            for (int32_t i = 0; i < n; ++i) {
                const uint8_t* p = row + 3 * (x0 + i);
                out[i] = p[0] | (p[1] << 8) | (p[2] << 16);
            }
            break;
        default:  // 32 bits per pixel
            std::memcpy(out, row + 4 * static_cast<size_t>(x0), 4 * static_cast<size_t>(n));
            break;
    }
}

uint8_t RowCodec::Nearest(uint32_t word) {
    word &= 0xFFFFFF;
    const auto found = cache_.find(word);
    if (found != cache_.end()) return found->second;
    const int32_t b = word & 0xFF, g = (word >> 8) & 0xFF, r = (word >> 16) & 0xFF;
    int best = 0;
    int64_t bestDistance = INT64_MAX;
    for (int i = 0; i < reachable_; ++i) {
        const uint32_t e = lookup_[static_cast<size_t>(i)];
        const int32_t db = static_cast<int32_t>(e & 0xFF) - b;
        const int32_t dg = static_cast<int32_t>((e >> 8) & 0xFF) - g;
        const int32_t dr = static_cast<int32_t>((e >> 16) & 0xFF) - r;
        const int64_t d = static_cast<int64_t>(db) * db + dg * dg + dr * dr;
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
            if (d == 0) break;
        }
    }
    cache_.emplace(word, static_cast<uint8_t>(best));
    return static_cast<uint8_t>(best);
}

void RowCodec::Write(uint8_t* row, int32_t x0, int32_t n, const uint32_t* in) {
    switch (format_) {
        case TPixelFormat::pf1bit:
            for (int32_t i = 0; i < n; ++i) {
                const int32_t x = x0 + i;
                const uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
                if (Nearest(in[i]) & 1) {
                    row[x >> 3] |= bit;
                } else {
                    row[x >> 3] &= static_cast<uint8_t>(~bit);
                }
            }
            break;
        case TPixelFormat::pf4bit:
            for (int32_t i = 0; i < n; ++i) {
                const int32_t x = x0 + i;
                const uint8_t v = Nearest(in[i]) & 0x0F;
                uint8_t& byte = row[x >> 1];
                byte = (x & 1) ? static_cast<uint8_t>((byte & 0xF0) | v) : static_cast<uint8_t>((byte & 0x0F) | (v << 4));
            }
            break;
        case TPixelFormat::pf8bit:
            for (int32_t i = 0; i < n; ++i) row[x0 + i] = Nearest(in[i]);
            break;
        case TPixelFormat::pf15bit:
            for (int32_t i = 0; i < n; ++i) {
                const uint32_t w = in[i];
                const uint32_t v = ((w >> 3) & 0x1F) | (((w >> 11) & 0x1F) << 5) | (((w >> 19) & 0x1F) << 10);
                uint8_t* p = row + 2 * (x0 + i);
                p[0] = static_cast<uint8_t>(v);
                p[1] = static_cast<uint8_t>(v >> 8);
            }
            break;
        case TPixelFormat::pf16bit:
            for (int32_t i = 0; i < n; ++i) {
                const uint32_t w = in[i];
                const uint32_t v = ((w >> 3) & 0x1F) | (((w >> 10) & 0x3F) << 5) | (((w >> 19) & 0x1F) << 11);
                uint8_t* p = row + 2 * (x0 + i);
                p[0] = static_cast<uint8_t>(v);
                p[1] = static_cast<uint8_t>(v >> 8);
            }
            break;
        case TPixelFormat::pf24bit:
            for (int32_t i = 0; i < n; ++i) {
                const uint32_t w = in[i];
                uint8_t* p = row + 3 * (x0 + i);
                p[0] = static_cast<uint8_t>(w);
                p[1] = static_cast<uint8_t>(w >> 8);
                p[2] = static_cast<uint8_t>(w >> 16);
            }
            break;
        default:
            std::memcpy(row + 4 * static_cast<size_t>(x0), in, 4 * static_cast<size_t>(n));
            break;
    }
}

}  // namespace px
