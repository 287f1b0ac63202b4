// The colour manager: settings, the converter choice, the row converters
// for indexed, grey, RGB/BGR and CMYK data, the gamma curve and the palette
// builders. L*a*b*, YCbCr and PhotoYCC live in RasterColorSpaces.cpp.
#include "rasterformats/RasterColor.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "platform/core/Numeric.h"
#include "rasterformats/RasterColorInternal.h"
#include "rasterformats/RasterStrings.h"

using namespace rastercolor;

namespace {

bool IsGrayOrIndexed(TColorLayout l) {
    return l == TColorLayout::csIndexed || l == TColorLayout::csGray || l == TColorLayout::csGrayAlpha;
}
bool HasAlphaSample(TColorLayout l) {
    return l == TColorLayout::csGrayAlpha || l == TColorLayout::csRGBA || l == TColorLayout::csBGRA;
}
bool IsRGBOrder(TColorLayout l) { return l == TColorLayout::csRGB || l == TColorLayout::csRGBA; }
bool IsBGROrder(TColorLayout l) { return l == TColorLayout::csBGR || l == TColorLayout::csBGRA; }
bool IsColorTarget(TColorLayout l) { return IsRGBOrder(l) || IsBGROrder(l); }

// Fields of 1 to 8 bits are packed from the most significant bit down; a
// field never spans two bytes, so a byte holds 8 div bits fields.
inline uint32_t FieldsPerByte(uint8_t bits) { return 8u / bits; }

}  // namespace

// ------------------------------------------------------------ settings

TColorManager::TColorManager() { Reset(); }

void TColorManager::Reset() {
    dirty_ = true;
    sourceBits_ = targetBits_ = 8;
    sourceCount_ = targetCount_ = 3;
    sourceLayout_ = TColorLayout::csRGB;
    targetLayout_ = TColorLayout::csBGR;
    SourceFlags = TargetFlags = 0;
    lumaWeights_ = {0.299f, 0.587f, 0.114f};
    horizontalSubsampling_ = verticalSubsampling_ = 1;
    crToRed_.clear();
    cbToBlue_.clear();
    crToGreen_.clear();
    cbToGreen_.clear();
    converter_ = nullptr;
    kind_ = TKind::None;
    gammaCurve_.fill(0);
    SetGammaCurve(1.0f, 2.2f);
}

void TColorManager::RaiseConversionError(const std::string& message) { throw EColorConversionError(message); }

void TColorManager::SetSourceSampleBits(uint8_t value) {
    if (value == 0 || value > 16) RaiseConversionError(raster::kBadSampleBits);
    if (value != sourceBits_) {
        sourceBits_ = value;
        dirty_ = true;
    }
}

void TColorManager::SetTargetSampleBits(uint8_t value) {
    if (value == 0 || value > 16) RaiseConversionError(raster::kBadSampleBits);
    if (value != targetBits_) {
        targetBits_ = value;
        dirty_ = true;
    }
}

void TColorManager::SetSourceSampleCount(uint8_t value) {
    if (value == 0 || value > 4) RaiseConversionError(raster::kBadSampleCount);
    if (value != sourceCount_) {
        sourceCount_ = value;
        dirty_ = true;
    }
}

void TColorManager::SetTargetSampleCount(uint8_t value) {
    if (value == 0 || value > 4) RaiseConversionError(raster::kBadSampleCount);
    if (value != targetCount_) {
        targetCount_ = value;
        dirty_ = true;
    }
}

void TColorManager::SetSourceLayout(TColorLayout value) {
    if (value != sourceLayout_) {
        sourceLayout_ = value;
        dirty_ = true;
    }
}

void TColorManager::SetTargetLayout(TColorLayout value) {
    if (value != targetLayout_) {
        targetLayout_ = value;
        dirty_ = true;
    }
}

// ------------------------------------------------------------ converter choice

void TColorManager::PickConverter() {
    converter_ = nullptr;
    kind_ = TKind::None;
    if (IsGrayOrIndexed(sourceLayout_) != (targetLayout_ == TColorLayout::csIndexed || targetLayout_ == TColorLayout::csGray))
        RaiseConversionError(raster::kIndexedConversion);
    SourceFlags = static_cast<TColorFlags>((SourceFlags & ~cfHasAlpha) | (HasAlphaSample(sourceLayout_) ? cfHasAlpha : 0));
    TargetFlags = static_cast<TColorFlags>((TargetFlags & ~cfHasAlpha) | (HasAlphaSample(targetLayout_) ? cfHasAlpha : 0));

    const uint8_t sb = sourceBits_, tb = targetBits_;
    auto use = [this](TKind kind, TRowConverter converter) {
        kind_ = kind;
        converter_ = converter;
    };
    switch (sourceLayout_) {
        case TColorLayout::csIndexed:
            if (sb == 16 && tb == 16) use(TKind::Indexed16To16, &TColorManager::ConvertIndexed16To16);
            else if (sb == 16) use(TKind::Indexed16ToPacked, &TColorManager::ConvertIndexed16ToPacked);
            else if (tb == 16) use(TKind::IndexedPackedTo16, &TColorManager::ConvertIndexedPackedTo16);
            else use(TKind::Indexed, &TColorManager::ConvertIndexed);
            break;
        case TColorLayout::csGray:
            if (sb != 16 && tb != 16) use(TKind::Indexed, &TColorManager::ConvertIndexed);
            else if (sb >= 8 && tb >= 8) use(TKind::Gray16, &TColorManager::ConvertGray16);
            break;
        case TColorLayout::csGrayAlpha:
            if ((sb == 8 || sb == 16) && (tb == 8 || tb == 16)) use(TKind::Gray16, &TColorManager::ConvertGray16);
            break;
        case TColorLayout::csRGB:
        case TColorLayout::csRGBA:
        case TColorLayout::csBGR:
        case TColorLayout::csBGRA:
            if (IsColorTarget(targetLayout_)) use(TKind::RGB, &TColorManager::ConvertRGB);
            break;
        case TColorLayout::csCMYK:
            if (IsColorTarget(targetLayout_)) use(TKind::CMYK, &TColorManager::ConvertCMYK);
            break;
        case TColorLayout::csCIELab:
            if (IsColorTarget(targetLayout_)) use(TKind::Lab, &TColorManager::ConvertLab);
            break;
        case TColorLayout::csYCbCr:
        case TColorLayout::csPhotoYCC:
            BuildChromaTables();
            if (IsColorTarget(targetLayout_)) use(TKind::YCC, &TColorManager::ConvertYCC);
            break;
        default:
            break;
    }
    dirty_ = false;
}

// ------------------------------------------------------------ row conversion

uint32_t TColorManager::FittingCount(std::span<const TRowPlane> source, size_t targetSize, uint32_t count,
                                     uint8_t mask) const {
    const uint8_t sb = sourceBits_, tb = targetBits_;
    const size_t sbytes = sb == 16 ? 2 : 1, tbytes = tb == 16 ? 2 : 1;
    const bool srcAlpha = SourceFlags & cfHasAlpha, tgtAlpha = TargetFlags & cfHasAlpha;

    // Target: how many pixels fit.
    uint64_t targetFit = 0;
    const bool packedTarget = kind_ == TKind::Indexed || kind_ == TKind::Indexed16ToPacked;
    if (packedTarget) {
        targetFit = tb <= 8 ? uint64_t(targetSize) * FieldsPerByte(tb) : 0;
    } else {
        size_t perPixel = tbytes;
        if (kind_ == TKind::RGB) perPixel *= tgtAlpha ? 4 : 3;
        if (kind_ == TKind::CMYK || kind_ == TKind::Lab || kind_ == TKind::YCC) perPixel *= tgtAlpha ? 4 : 3;
        targetFit = targetSize / perPixel;
    }

    // Source: how many converted pixels each plane that is read holds.
    uint64_t sourceFit = UINT64_MAX;
    auto limit = [&](size_t plane, uint64_t pixels) {
        if (plane >= source.size() || source[plane].data == nullptr) pixels = 0;
        sourceFit = std::min(sourceFit, pixels);
    };
    auto bytesOf = [&](size_t plane) -> uint64_t { return plane < source.size() ? source[plane].size : 0; };
    switch (kind_) {
        case TKind::Indexed:
        case TKind::IndexedPackedTo16:
            limit(0, sb <= 8 ? bytesOf(0) * FieldsPerByte(sb) : 0);
            break;
        case TKind::Indexed16To16:
        case TKind::Indexed16ToPacked:
            limit(0, bytesOf(0) / 2);
            break;
        case TKind::Gray16:
            limit(0, bytesOf(0) / (sbytes * (srcAlpha ? 2 : 1)));
            break;
        case TKind::RGB:
            if (source.size() <= 1) {
                limit(0, bytesOf(0) / (sbytes * (srcAlpha ? 4 : 3)));
            } else {
                for (size_t p = 0; p < 3; ++p) limit(p, bytesOf(p) / sbytes);
                if (srcAlpha && tgtAlpha) limit(3, bytesOf(3) / sbytes);
            }
            break;
        case TKind::CMYK:
            if (source.size() == 4) {
                for (size_t p = 0; p < 4; ++p) limit(p, bytesOf(p) / sbytes);
            } else {
                limit(0, bytesOf(0) / (sbytes * 4));
            }
            break;
        case TKind::Lab:
        case TKind::YCC:
            if (source.size() <= 1) {
                limit(0, bytesOf(0) / (sbytes * 3));
            } else {
                for (size_t p = 0; p < 3; ++p) limit(p, bytesOf(p) / sbytes);
            }
            break;
        case TKind::None:
            break;
    }

    uint64_t fit = std::min<uint64_t>(count, targetFit);
    const int perGroup = std::popcount(mask);
    if (perGroup == 0 || sourceFit == UINT64_MAX) return static_cast<uint32_t>(fit);
    // The last pixel allowed is the one just before the (sourceFit + 1)-th
    // converted pixel: unmasked pixels in between consume nothing.
    const uint64_t groups = sourceFit / static_cast<uint64_t>(perGroup);
    int rest = static_cast<int>(sourceFit % static_cast<uint64_t>(perGroup));
    int offset = 0;
    for (int bit = 7; bit >= 0; --bit, ++offset) {
        if (mask & (1 << bit)) {
            if (rest == 0) break;
            --rest;
        }
    }
    return static_cast<uint32_t>(std::min<uint64_t>(fit, groups * 8 + static_cast<uint64_t>(offset)));
}

void TColorManager::ConvertPixels(std::span<const TRowPlane> source, void* target, size_t targetSize,
                                  uint32_t count, uint8_t mask) {
    if (dirty_) PickConverter();
    if (converter_ == nullptr) RaiseConversionError(raster::kNoConverter);
    if (target == nullptr || source.empty()) return;
    count = FittingCount(source, targetSize, count, mask);
    if (count == 0) return;
    (this->*converter_)(source.data(), source.size(), static_cast<uint8_t*>(target), count, mask);
}

TPixelFormat TColorManager::PixelFormatFor(int side) const {
    const uint8_t samples = side == 0 ? sourceCount_ : targetCount_;
    const uint8_t bits = side == 0 ? sourceBits_ : targetBits_;
    switch (samples) {
        case 1:
            if (bits == 1) return TPixelFormat::pf1bit;
            if (bits <= 4) return TPixelFormat::pf4bit;
            if (bits >= 8) return TPixelFormat::pf8bit;
            return TPixelFormat::pfCustom;
        case 3:
            return bits <= 5 ? TPixelFormat::pf15bit : TPixelFormat::pf24bit;
        case 4:
            return bits >= 8 ? TPixelFormat::pf32bit : TPixelFormat::pfCustom;
        default:
            return TPixelFormat::pfCustom;
    }
}

// ------------------------------------------------------------ indexed and grey

namespace {

// Walks packed fields of `bits` bits from the most significant end.
struct FieldReader {
    const uint8_t* p;
    uint8_t bits;
    int shift;  // of the next field in *p
    uint32_t mask;
    FieldReader(const uint8_t* data, uint8_t b) : p(data), bits(b), shift(8 - b), mask((1u << b) - 1) {}
    uint32_t Next() {
        const uint32_t v = (static_cast<uint32_t>(*p) >> shift) & mask;
        shift -= bits;
        if (shift < 0) {
            ++p;
            shift = 8 - bits;
        }
        return v;
    }
};

// Stores fields of `bits` bits into slots; the slot advances for every
// pixel, written or not, and moves to the next byte after 8 div bits
// pixels counted from the start of the row. Other bits of a byte survive.
struct FieldWriter {
    uint8_t* p;
    uint8_t bits;
    int shift;
    uint32_t mask;
    FieldWriter(uint8_t* data, uint8_t b) : p(data), bits(b), shift(8 - b), mask((1u << b) - 1) {}
    void Put(uint32_t v) {
        *p = static_cast<uint8_t>((*p & ~(mask << shift)) | ((v & mask) << shift));
    }
    void Skip() {
        shift -= bits;
        if (shift < 0) {
            ++p;
            shift = 8 - bits;
        }
    }
};

}  // namespace

void TColorManager::ConvertIndexed(const TRowPlane* source, size_t, uint8_t* target, uint32_t count, uint8_t mask) {
    const uint8_t sb = sourceBits_, tb = targetBits_;
    if (sb > 8 || tb > 8) return;  // no packing is defined for 9 to 15 bits
    const auto* src = static_cast<const uint8_t*>(source[0].data);
    if (sb == tb && mask == 0xFF && (sb == 1 || sb == 2 || sb == 4 || sb == 8)) {
        std::memcpy(target, src, (static_cast<size_t>(count) * sb + 7) / 8);
        return;
    }
    const uint32_t srcMax = (1u << sb) - 1, tgtMax = (1u << tb) - 1;
    if (sb == 8 && tb == 8) {  // equal depths under a mask: bytes as they are
        for (uint32_t i = 0; i < count; ++i, mask = NextPixelMask(mask))
            if (mask & 0x80) target[i] = *src++;
        return;
    }
    FieldReader in(src, sb);
    FieldWriter out(target, tb);
    for (uint32_t i = 0; i < count; ++i, mask = NextPixelMask(mask)) {
        if (mask & 0x80) out.Put(ScaleWord(in.Next(), tgtMax, srcMax));
        out.Skip();
    }
}

void TColorManager::ConvertIndexed16To16(const TRowPlane* source, size_t, uint8_t* target, uint32_t count,
                                         uint8_t mask) {
    const auto* src = static_cast<const uint8_t*>(source[0].data);
    const bool swap = SourceFlags & cfByteSwap;
    if (!swap && mask == 0xFF) {
        std::memcpy(target, src, size_t(count) * 2);
        return;
    }
    for (uint32_t i = 0; i < count; ++i, target += 2, mask = NextPixelMask(mask)) {
        if (!(mask & 0x80)) continue;
        const uint32_t w = Load16(src);
        Store16(target, swap ? Swap16(w) : w);
        src += 2;
    }
}

void TColorManager::ConvertIndexed16ToPacked(const TRowPlane* source, size_t, uint8_t* target, uint32_t count,
                                             uint8_t mask) {
    const uint8_t tb = targetBits_;
    if (tb > 8) return;
    const auto* src = static_cast<const uint8_t*>(source[0].data);
    const bool swap = SourceFlags & cfByteSwap;
    const uint32_t tgtMax = (1u << tb) - 1;
    FieldWriter out(target, tb);
    for (uint32_t i = 0; i < count; ++i, mask = NextPixelMask(mask)) {
        if (mask & 0x80) {
            const uint32_t w = Load16(src);
            src += 2;
            out.Put(ScaleWord(swap ? Swap16(w) : w, tgtMax, 65535));
        }
        out.Skip();
    }
}

void TColorManager::ConvertIndexedPackedTo16(const TRowPlane* source, size_t, uint8_t* target, uint32_t count,
                                             uint8_t mask) {
    const uint8_t sb = sourceBits_;
    if (sb > 8) return;
    const bool swap = SourceFlags & cfByteSwap;
    const uint32_t srcMax = (1u << sb) - 1;
    FieldReader in(static_cast<const uint8_t*>(source[0].data), sb);
    for (uint32_t i = 0; i < count; ++i, target += 2, mask = NextPixelMask(mask)) {
        if (!(mask & 0x80)) continue;
        const uint32_t v = ScaleWord(in.Next(), 65535, srcMax);
        Store16(target, swap ? Swap16(v) : v);
    }
}

void TColorManager::ConvertGray16(const TRowPlane* source, size_t, uint8_t* target, uint32_t count, uint8_t mask) {
    const uint8_t sb = sourceBits_, tb = targetBits_;
    if ((sb != 8 && sb != 16) || (tb != 8 && tb != 16)) return;
    const auto* src = static_cast<const uint8_t*>(source[0].data);
    const size_t step = (sb / 8) * ((SourceFlags & cfHasAlpha) ? 2 : 1);
    const bool swap = SourceFlags & cfByteSwap;
    const size_t tstep = tb / 8;
    for (uint32_t i = 0; i < count; ++i, target += tstep, mask = NextPixelMask(mask)) {
        if (!(mask & 0x80)) continue;
        if (sb == 8) {
            if (tb == 8) *target = *src;
            else Store16(target, src[0] * 257u);
        } else {
            uint32_t w = Load16(src);
            if (swap) w = Swap16(w);
            if (tb == 8) *target = static_cast<uint8_t>(ScaleWord(w, 255, 65535));
            else Store16(target, w);
        }
        src += step;
    }
}

// ------------------------------------------------------------ RGB and BGR

namespace {

// One colour or alpha sample from SB-byte source to TB-byte target. The swap
// applies to 16-bit samples as they are read, and to an 8-bit sample after
// it was widened to 16 bits.
template <int SB, int TB, bool Swap, bool Gamma>
struct SampleOp {
    const uint8_t* curve;
    inline uint32_t operator()(const uint8_t* p) const {
        if constexpr (SB == 1) {
            uint32_t v = p[0];
            if constexpr (Gamma) v = curve[v];
            if constexpr (TB == 2) {
                v *= 257;
                if constexpr (Swap) v = Swap16(v);
            }
            return v;
        } else {
            uint32_t w = Load16(p);
            if constexpr (Swap) w = Swap16(w);
            if constexpr (TB == 1) {
                uint32_t v = ScaleWord(w, 255, 65535);
                if constexpr (Gamma) v = curve[v];
                return v;
            } else {
                return w;
            }
        }
    }
};

struct RgbRow {
    const uint8_t* s[4];     // colour samples in source order, then alpha
    size_t sstep;            // source bytes per converted pixel (every pointer)
    uint8_t* d;
    size_t dstep;            // target bytes per pixel
    size_t at[3];            // target byte offset of each source colour sample
    size_t alphaAt;
    bool copyAlpha;
};

template <int TB>
inline void Put(uint8_t* p, uint32_t v) {
    if constexpr (TB == 1) {
        *p = static_cast<uint8_t>(v);
    } else {
        Store16(p, v);
    }
}

template <int SB, int TB, bool Swap, bool Gamma>
void RgbLoop(RgbRow r, uint32_t count, uint8_t mask, const uint8_t* curve) {
    const SampleOp<SB, TB, Swap, Gamma> colour{curve};
    const SampleOp<SB, TB, Swap, false> alpha{curve};
    const uint8_t *s0 = r.s[0], *s1 = r.s[1], *s2 = r.s[2], *s3 = r.s[3];
    uint8_t* d = r.d;
    const size_t a0 = r.at[0], a1 = r.at[1], a2 = r.at[2];
    if (mask == 0xFF) {
        if (r.copyAlpha) {
            for (uint32_t i = 0; i < count; ++i, d += r.dstep) {
                Put<TB>(d + a0, colour(s0));
                Put<TB>(d + a1, colour(s1));
                Put<TB>(d + a2, colour(s2));
                Put<TB>(d + r.alphaAt, alpha(s3));
                s0 += r.sstep, s1 += r.sstep, s2 += r.sstep, s3 += r.sstep;
            }
        } else {
            for (uint32_t i = 0; i < count; ++i, d += r.dstep) {
                Put<TB>(d + a0, colour(s0));
                Put<TB>(d + a1, colour(s1));
                Put<TB>(d + a2, colour(s2));
                s0 += r.sstep, s1 += r.sstep, s2 += r.sstep;
            }
        }
        return;
    }
    for (uint32_t i = 0; i < count; ++i, d += r.dstep, mask = NextPixelMask(mask)) {
        if (!(mask & 0x80)) continue;
        Put<TB>(d + a0, colour(s0));
        Put<TB>(d + a1, colour(s1));
        Put<TB>(d + a2, colour(s2));
        if (r.copyAlpha) Put<TB>(d + r.alphaAt, alpha(s3));
        s0 += r.sstep, s1 += r.sstep, s2 += r.sstep, s3 += r.sstep;
    }
}

template <int SB, int TB>
void RgbDispatch(const RgbRow& r, uint32_t count, uint8_t mask, const uint8_t* curve, bool swap, bool gamma) {
    if (swap) {
        if (gamma) RgbLoop<SB, TB, true, true>(r, count, mask, curve);
        else RgbLoop<SB, TB, true, false>(r, count, mask, curve);
    } else {
        if (gamma) RgbLoop<SB, TB, false, true>(r, count, mask, curve);
        else RgbLoop<SB, TB, false, false>(r, count, mask, curve);
    }
}

}  // namespace

void TColorManager::ConvertRGB(const TRowPlane* source, size_t planes, uint8_t* target, uint32_t count,
                               uint8_t mask) {
    const uint8_t sb = sourceBits_, tb = targetBits_;
    if ((sb != 8 && sb != 16) || (tb != 8 && tb != 16)) return;
    const size_t sbytes = sb / 8, tbytes = tb / 8;
    const bool srcAlpha = SourceFlags & cfHasAlpha, tgtAlpha = TargetFlags & cfHasAlpha;
    RgbRow r{};
    r.copyAlpha = srcAlpha && tgtAlpha;
    if (planes <= 1) {
        const auto* p = static_cast<const uint8_t*>(source[0].data);
        for (size_t i = 0; i < 4; ++i) r.s[i] = p + i * sbytes;
        r.sstep = sbytes * (srcAlpha ? 4 : 3);
    } else {
        for (size_t i = 0; i < 4; ++i)
            r.s[i] = i < planes ? static_cast<const uint8_t*>(source[i].data) : static_cast<const uint8_t*>(source[0].data);
        r.sstep = sbytes;
    }
    r.d = target;
    r.dstep = tbytes * (r.copyAlpha || tgtAlpha ? 4 : 3);
    // Same order on both sides keeps each sample in place, else red and
    // blue trade places.
    const bool sameOrder = IsRGBOrder(sourceLayout_) == IsRGBOrder(targetLayout_);
    for (size_t c = 0; c < 3; ++c) r.at[c] = (sameOrder ? c : 2 - c) * tbytes;
    r.alphaAt = 3 * tbytes;
    const bool swap = SourceFlags & cfByteSwap;
    const bool gamma = (TargetFlags & cfApplyGamma) && !(sb == 16 && tb == 16);
    const uint8_t* curve = gammaCurve_.data();
    if (sb == 8 && tb == 8) RgbDispatch<1, 1>(r, count, mask, curve, false, gamma);
    else if (sb == 16 && tb == 8) RgbDispatch<2, 1>(r, count, mask, curve, swap, gamma);
    else if (sb == 8 && tb == 16) RgbDispatch<1, 2>(r, count, mask, curve, swap, gamma);
    else RgbDispatch<2, 2>(r, count, mask, curve, swap, false);
}

// ------------------------------------------------------------ CMYK

void TColorManager::ConvertCMYK(const TRowPlane* source, size_t planes, uint8_t* target, uint32_t count,
                                uint8_t mask) {
    const uint8_t sb = sourceBits_, tb = targetBits_;
    if ((sb != 8 && sb != 16) || (tb != 8 && tb != 16)) return;
    const size_t sbytes = sb / 8, tbytes = tb / 8;
    const bool swap = SourceFlags & cfByteSwap;
    const uint8_t* s[4];
    size_t sstep;
    if (planes == 4) {
        for (size_t i = 0; i < 4; ++i) s[i] = static_cast<const uint8_t*>(source[i].data);
        sstep = sbytes;
    } else {
        const auto* p = static_cast<const uint8_t*>(source[0].data);
        for (size_t i = 0; i < 4; ++i) s[i] = p + i * sbytes;
        sstep = 4 * sbytes;
    }
    const size_t dstep = tbytes * ((TargetFlags & cfHasAlpha) ? 4 : 3);
    // Cyan gives red, magenta green, yellow blue.
    const bool rgbTarget = IsRGBOrder(targetLayout_);
    const size_t at[3] = {(rgbTarget ? 0 : 2) * tbytes, tbytes, (rgbTarget ? 2 : 0) * tbytes};
    auto sample = [&](const uint8_t* p) -> uint32_t {
        if (sbytes == 1) return *p;
        const uint32_t w = Load16(p);
        return swap ? Swap16(w) : w;
    };
    for (uint32_t i = 0; i < count; ++i, target += dstep, mask = NextPixelMask(mask)) {
        if (!(mask & 0x80)) continue;
        const uint32_t k = sample(s[3]);
        for (size_t c = 0; c < 3; ++c) {
            const uint32_t x = sample(s[c]);
            uint32_t v;
            if (sbytes == 1) {
                v = SaturateByte(255 - static_cast<int32_t>(x - ScaleWord(x, k, 255) + k));
                if (tbytes == 2) v *= 257;
            } else {
                const uint32_t t = (x - ScaleWord(x, k, 65535) + k) & 0xFFFF;
                v = tbytes == 1 ? SaturateByte(255 - ScaleWord(t, 255, 65535)) : 65535 - t;
            }
            if (tbytes == 1) target[at[c]] = static_cast<uint8_t>(v);
            else Store16(target + at[c], v);
        }
        for (auto& p : s) p += sstep;
    }
}

// ------------------------------------------------------------ gamma and palettes

void TColorManager::SetGammaCurve(float imageGamma, float displayGamma) {
    imageGamma_ = imageGamma > 0 ? imageGamma : 1.0f;
    displayGamma_ = displayGamma > 0 ? displayGamma : 2.2f;
    const float e = static_cast<float>(1.0L / (static_cast<long double>(imageGamma_) * displayGamma_));
    // The curve has 256 entries whatever the depths say: a source of fewer
    // than 8 bits with a 16-bit target would otherwise ask for 65536.
    const uint32_t srcMax = sourceBits_ >= 8 ? 255 : std::min(255u, (1u << targetBits_) - 1);
    const uint32_t dstMax = targetBits_ >= 8 ? 255 : (1u << targetBits_) - 1;
    // Every colour manager starts with the same curve, and a curve takes
    // 256 long-double powers: the last one made on this thread is kept.
    struct TLastCurve {
        float e = 0;
        uint32_t srcMax = 0, dstMax = 0;
        std::array<uint8_t, 256> curve{};
    };
    thread_local TLastCurve last;
    if (last.e != e || last.srcMax != srcMax || last.dstMax != dstMax) {
        for (uint32_t i = 0; i <= srcMax; ++i) {
            const long double v = std::pow(static_cast<long double>(i) / srcMax, static_cast<long double>(e)) * dstMax;
            last.curve[i] = static_cast<uint8_t>(std::clamp<int64_t>(num::RoundEven(v), 0, 255));
        }
        last.e = e, last.srcMax = srcMax, last.dstMax = dstMax;
    }
    std::copy_n(last.curve.begin(), srcMax + 1, gammaCurve_.begin());
}

HPALETTE TColorManager::BuildColorPalette(std::span<const TRowPlane> data, uint8_t format, uint32_t count,
                                          bool bgrOrder) {
    std::array<TPaletteEntry, 256> entries{};
    uint32_t n = std::min<uint32_t>(count, 256);
    const bool wide = format >= 4 && format <= 7;
    const size_t sampleBytes = wide ? 2 : 1;
    const bool planar = format == 2 || format == 3 || format == 6 || format == 7;
    const size_t perEntry = planar ? 1 : (format == 1 || format == 5 ? 4 : 3);
    // Never more entries than the data holds.
    if (format > 7 || data.empty()) {
        n = 0;
    } else if (planar) {
        if (data.size() < 3) n = 0;
        for (size_t p = 0; p < 3 && p < data.size(); ++p)
            n = static_cast<uint32_t>(std::min<uint64_t>(n, data[p].data ? data[p].size / sampleBytes : 0));
    } else {
        n = static_cast<uint32_t>(std::min<uint64_t>(n, data[0].data ? data[0].size / (sampleBytes * perEntry) : 0));
    }

    const bool gamma = TargetFlags & cfApplyGamma;
    const bool swap = SourceFlags & cfByteSwap;
    auto value = [&](const uint8_t* p) -> uint8_t {
        uint32_t v;
        if (!wide) {
            v = *p;
        } else {
            uint32_t w = Load16(p);
            if (swap) w = Swap16(w);
            v = ScaleWord(w, 255, 65535);
        }
        return gamma ? gammaCurve_[v] : static_cast<uint8_t>(v);
    };
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t *r, *g, *b;
        if (planar) {
            r = static_cast<const uint8_t*>(data[0].data) + i * sampleBytes;
            g = static_cast<const uint8_t*>(data[1].data) + i * sampleBytes;
            b = static_cast<const uint8_t*>(data[2].data) + i * sampleBytes;
        } else {
            const uint8_t* e = static_cast<const uint8_t*>(data[0].data) + i * perEntry * sampleBytes;
            r = e;
            g = e + sampleBytes;
            b = e + 2 * sampleBytes;
            if (bgrOrder) std::swap(r, b);
        }
        entries[i] = TPaletteEntry{value(r), value(g), value(b), 0};
    }

    // Indices are stretched by the converters (a 1-bit 1 becomes 255 in
    // 8 bits), so the palette is stretched the same way.
    const uint8_t sb = sourceBits_, tb = targetBits_;
    if (tb <= 8) {
        // The walk reads entry i x srcMax div dstMax, which must lie within
        // the 256 entries: colour maps for more than 8 index bits have no
        // place in a palette.
        if (sb > 8) RaiseConversionError(raster::kNoConverter);
        const uint32_t srcMax = (1u << sb) - 1, dstMax = (1u << tb) - 1;
        if (srcMax != dstMax) {
            if (srcMax < dstMax) {
                for (int64_t i = dstMax; i >= 0; --i)
                    entries[static_cast<size_t>(i)] = entries[ScaleWord(static_cast<uint32_t>(i), srcMax, dstMax)];
            } else {
                for (uint32_t i = 0; i <= dstMax; ++i) entries[i] = entries[ScaleWord(i, srcMax, dstMax)];
            }
            n = dstMax + 1;
        }
    }
    return CreatePalette(entries.data(), static_cast<int>(n));
}

HPALETTE TColorManager::BuildGrayPalette(bool minIsWhite) {
    const uint32_t bits = std::min<uint32_t>(static_cast<uint8_t>(targetBits_ * targetCount_), 8);
    const uint32_t n = 1u << bits;
    const uint32_t step = 255 / (n - 1);
    const bool gamma = TargetFlags & cfApplyGamma;
    std::array<TPaletteEntry, 256> entries{};
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t v = gamma ? gammaCurve_[i * step] : static_cast<uint8_t>(i * step);
        entries[minIsWhite ? n - 1 - i : i] = TPaletteEntry{v, v, v, 0};
    }
    return CreatePalette(entries.data(), static_cast<int>(n));
}
