// The colour manager's converters for the layouts that need more than
// rescaling: CIE L*a*b*, YCbCr and PhotoYCC, with the chroma parameters and
// the four lookup tables of the YCbCr and PhotoYCC rows.
#include <algorithm>
#include <cmath>

#include "platform/core/Numeric.h"
#include "rasterformats/RasterColor.h"
#include "rasterformats/RasterColorInternal.h"
#include "rasterformats/RasterStrings.h"

using namespace rastercolor;

namespace {

// Nearest integer, ties to even, kept within a range where sums of a few
// table entries cannot overflow: weights from a file can make a factor
// infinite or not a number.
int32_t BoundedRound(long double v) {
    if (std::isnan(v)) return 0;
    return static_cast<int32_t>(num::RoundEven(std::clamp<long double>(v, -65536.0L, 65536.0L)));
}

// Writes three bytes (or widened words) blue first or red first; an alpha
// sample of the target keeps its value.
struct ColorWriter {
    size_t tbytes, step, at[3];  // at: offset of blue, green, red
    void Put(uint8_t* d, uint8_t b, uint8_t g, uint8_t r) const {
        if (tbytes == 1) {
            d[at[0]] = b;
            d[at[1]] = g;
            d[at[2]] = r;
        } else {
            Store16(d + at[0], b * 257u);
            Store16(d + at[1], g * 257u);
            Store16(d + at[2], r * 257u);
        }
    }
};

ColorWriter WriterFor(TColorLayout target, TColorFlags flags, size_t tbytes) {
    const bool rgb = target == TColorLayout::csRGB || target == TColorLayout::csRGBA;
    ColorWriter w{};
    w.tbytes = tbytes;
    w.step = tbytes * ((flags & cfHasAlpha) ? 4 : 3);
    w.at[0] = (rgb ? 2 : 0) * tbytes;
    w.at[1] = tbytes;
    w.at[2] = (rgb ? 0 : 2) * tbytes;
    return w;
}

// Three sample pointers: interleaved (one plane) or the first three planes.
struct ThreeSamples {
    const uint8_t* s[3];
    size_t step;
    ThreeSamples(const TRowPlane* source, size_t planes, size_t sbytes) {
        if (planes <= 1) {
            const auto* p = static_cast<const uint8_t*>(source[0].data);
            for (size_t i = 0; i < 3; ++i) s[i] = p + i * sbytes;
            step = 3 * sbytes;
        } else {
            for (size_t i = 0; i < 3; ++i) s[i] = static_cast<const uint8_t*>(source[i].data);
            step = sbytes;
        }
    }
    void Next() {
        for (auto& p : s) p += step;
    }
};

}  // namespace

// ------------------------------------------------------------ chroma parameters

void TColorManager::SetChromaParameters(std::span<const float> weights, uint8_t horizontal, uint8_t vertical) {
    // A short list (a file's coefficients tag with fewer than three values)
    // keeps the weights there are.
    if (weights.size() >= 3) lumaWeights_ = {weights[0], weights[1], weights[2]};
    auto valid = [](uint8_t v) { return v == 1 || v == 2 || v == 4; };
    if (!valid(horizontal) || !valid(vertical)) RaiseConversionError(raster::kBadSubsampling);
    if (horizontal < vertical) RaiseConversionError(raster::kSubsamplingOrder);
    horizontalSubsampling_ = horizontal;
    verticalSubsampling_ = vertical;
}

void TColorManager::BuildChromaTables() {
    const float wR = lumaWeights_[0], wG = lumaWeights_[1], wB = lumaWeights_[2];
    const float kR = static_cast<float>(2.0L - 2.0L * wR);
    const float fR = static_cast<float>(static_cast<long double>(wR) * kR / wG);
    const float kB = static_cast<float>(2.0L - 2.0L * wB);
    const float fB = static_cast<float>(static_cast<long double>(wB) * kB / wG);
    const int32_t oCr = sourceLayout_ == TColorLayout::csYCbCr ? 128 : 137;
    const int32_t oCb = sourceLayout_ == TColorLayout::csYCbCr ? 128 : 156;
    crToRed_.resize(256);
    cbToBlue_.resize(256);
    crToGreen_.resize(256);
    cbToGreen_.resize(256);
    for (int32_t i = 0; i < 256; ++i) {
        crToRed_[static_cast<size_t>(i)] = BoundedRound(static_cast<long double>(kR) * (i - oCr));
        cbToBlue_[static_cast<size_t>(i)] = BoundedRound(static_cast<long double>(kB) * (i - oCb));
        crToGreen_[static_cast<size_t>(i)] = -BoundedRound(static_cast<long double>(fR) * (i - oCr));
        cbToGreen_[static_cast<size_t>(i)] = -BoundedRound(static_cast<long double>(fB) * (i - oCb));
    }
}

// ------------------------------------------------------------ YCbCr and PhotoYCC

void TColorManager::ConvertYCC(const TRowPlane* source, size_t planes, uint8_t* target, uint32_t count,
                               uint8_t mask) {
    const uint8_t sb = sourceBits_, tb = targetBits_;
    if ((sb != 8 && sb != 16) || (tb != 8 && tb != 16)) return;
    const size_t sbytes = sb / 8, tbytes = tb / 8;
    const bool swap = SourceFlags & cfByteSwap;
    ThreeSamples in(source, planes, sbytes);
    const ColorWriter out = WriterFor(targetLayout_, TargetFlags, tbytes);
    auto word = [swap](const uint8_t* p) {
        const uint32_t w = Load16(p);
        return swap ? Swap16(w) : w;
    };

    if (sb == 16 && tb == 16) {
        // A fixed formula in place of the tables; results are kept to the
        // range of a 16-bit sample.
        auto clamp16 = [](long double v) {
            return static_cast<uint32_t>(num::RoundEven(std::clamp<long double>(v, 0.0L, 65535.0L)));
        };
        for (uint32_t i = 0; i < count; ++i, target += out.step, mask = NextPixelMask(mask)) {
            if (!(mask & 0x80)) continue;
            const float y = static_cast<float>(word(in.s[0]) * 1.3584L);
            const float c1 = static_cast<float>(static_cast<int32_t>(word(in.s[1])) - 40092);
            const float c2 = static_cast<float>(static_cast<int32_t>(word(in.s[2])) - 35209);
            const uint32_t b = clamp16(y + 2.2179L * c1);
            const uint32_t g = clamp16(y - 0.9271435L * c2 - 0.4302726L * c1);
            const uint32_t r = clamp16(y + 1.8215L * c2);
            Store16(target + out.at[0], b);
            Store16(target + out.at[1], g);
            Store16(target + out.at[2], r);
            in.Next();
        }
        return;
    }

    const int32_t* crToRed = crToRed_.data();
    const int32_t* cbToBlue = cbToBlue_.data();
    const int32_t* crToGreen = crToGreen_.data();
    const int32_t* cbToGreen = cbToGreen_.data();
    for (uint32_t i = 0; i < count; ++i, target += out.step, mask = NextPixelMask(mask)) {
        if (!(mask & 0x80)) continue;
        int32_t y, cb, cr;
        if (sbytes == 1) {
            y = in.s[0][0];
            cb = in.s[1][0];
            cr = in.s[2][0];
        } else {
            y = ScaleWord(word(in.s[0]), 255, 65535);
            cb = ScaleWord(word(in.s[1]), 255, 65535);
            cr = ScaleWord(word(in.s[2]), 255, 65535);
        }
        out.Put(target, SaturateByte(y + cbToBlue[cb]), SaturateByte(y + cbToGreen[cb] + crToGreen[cr]),
                SaturateByte(y + crToRed[cr]));
        in.Next();
    }
}

// ------------------------------------------------------------ CIE L*a*b*

void TColorManager::ConvertLab(const TRowPlane* source, size_t planes, uint8_t* target, uint32_t count,
                               uint8_t mask) {
    const uint8_t sb = sourceBits_, tb = targetBits_;
    if ((sb != 8 && sb != 16) || (tb != 8 && tb != 16)) return;
    const size_t sbytes = sb / 8, tbytes = tb / 8;
    const bool swap = SourceFlags & cfByteSwap;
    const bool byteRange = SourceFlags & cfLabByteRange;
    const bool offset = SourceFlags & cfABOffset;
    ThreeSamples in(source, planes, sbytes);
    const ColorWriter out = WriterFor(targetLayout_, TargetFlags, tbytes);
    auto word = [swap](const uint8_t* p) {
        const uint32_t w = Load16(p);
        return swap ? Swap16(w) : w;
    };
    auto channel = [](long double v) { return SaturateByte(static_cast<int32_t>(num::RoundEven(std::clamp<long double>(v * 255, -1.0L, 256.0L)))); };

    for (uint32_t i = 0; i < count; ++i, target += out.step, mask = NextPixelMask(mask)) {
        if (!(mask & 0x80)) continue;
        long double l, a, b;
        if (sbytes == 1) {
            l = in.s[0][0];
            a = offset ? in.s[1][0] - 128.0L : static_cast<int8_t>(in.s[1][0]);
            b = offset ? in.s[2][0] - 128.0L : static_cast<int8_t>(in.s[2][0]);
        } else {
            // 16-bit samples come to the ranges of the 8-bit ones: L* and
            // biased a*, b* by 257, signed a*, b* by 256.
            l = word(in.s[0]) / 257.0L;
            const uint32_t wa = word(in.s[1]), wb = word(in.s[2]);
            a = offset ? wa / 257.0L - 128.0L : static_cast<int16_t>(wa) / 256.0L;
            b = offset ? wb / 257.0L - 128.0L : static_cast<int16_t>(wb) / 256.0L;
        }
        if (byteRange) l = l / 2.55L;
        const long double fy = (l + 16) / 116;
        long double x, y, z;
        if (l < 7.9996L) {
            y = l / 903.3L;
            x = y + a / 3893.5L;
            z = y - b / 1557.4L;
        } else {
            const long double fx = fy + a / 500, fz = fy - b / 200;
            x = fx * fx * fx;
            y = fy * fy * fy;
            z = fz * fz * fz;
        }
        const long double blue = 0.099L * x - 0.198L * y + 1.099L * z;
        const long double green = -0.952L * x + 1.893L * y + 0.059L * z;
        const long double red = 2.998L * x - 1.458L * y - 0.541L * z;
        out.Put(target, channel(blue), channel(green), channel(red));
        in.Next();
    }
}
