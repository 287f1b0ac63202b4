// The colour manager: turns rows of samples as a file stores them (the
// source side) into rows of the bitmap a reader fills (the target side).
// A reader describes both sides while it parses a header, asks for the
// bitmap's pixel format and palette, then hands over one row at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/core/Graphics.h"
#include "platform/core/SysUtils.h"

QUILLARC_EXCEPTION(EColorConversionError, Exception)

// How the samples of one pixel are to be read. The same codes describe an
// image's colour scheme in the readers' image properties.
enum class TColorLayout : uint8_t {
    csNone = 0,
    csIndexed = 1,    // one palette index
    csGray = 2,       // one grey value
    csGrayAlpha = 3,  // grey, alpha
    csRGB = 4,
    csRGBA = 5,
    csBGR = 6,
    csBGRA = 7,
    csCMY = 8,        // no converter reads it
    csCMYK = 9,
    csCIELab = 10,    // L*, a*, b*
    csYCbCr = 11,
    csPhotoYCC = 12,  // Y, C1 (blue chroma), C2 (red chroma)
};

// Flags kept once for the source side and once for the target side.
using TColorFlags = uint8_t;
inline constexpr TColorFlags cfHasAlpha = 1;      // set by the converter choice from the layout
inline constexpr TColorFlags cfApplyGamma = 2;    // target: colour samples go through the gamma curve
inline constexpr TColorFlags cfByteSwap = 4;      // source: 16-bit samples stored in the other byte order
inline constexpr TColorFlags cfLabByteRange = 8;  // source: L* stored as 0..255 (else L* itself)
inline constexpr TColorFlags cfABOffset = 16;     // source: a* and b* biased by 128 (else signed bytes)

// One row, or one plane of a row, as a reader hands it over: where its
// samples start and how many bytes may be read from there. The manager
// never reads or writes past the sizes it is given: a row that is too
// short for the pixels asked for converts only the pixels it holds.
struct TRowPlane {
    const void* data = nullptr;
    size_t size = 0;
};

// Clamps to 0..255.
constexpr uint8_t SaturateByte(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }
// (a x b) div c over a 32-bit product, truncating; callers keep the
// quotient below 65536.
constexpr uint16_t ScaleWord(uint32_t a, uint32_t b, uint32_t c) { return static_cast<uint16_t>(a * b / c); }

class TColorManager : public TObject {
public:
    TColorManager();
    const char* ClassName() const override { return "TColorManager"; }

    // Everything back as after creation: depths, counts, layouts, flags,
    // gamma and chroma parameters. Readers call it at the start of a load,
    // so nothing of an earlier file carries over.
    void Reset();

    uint8_t SourceSampleBits() const { return sourceBits_; }
    uint8_t TargetSampleBits() const { return targetBits_; }
    uint8_t SourceSampleCount() const { return sourceCount_; }
    uint8_t TargetSampleCount() const { return targetCount_; }
    TColorLayout SourceLayout() const { return sourceLayout_; }
    TColorLayout TargetLayout() const { return targetLayout_; }
    // 1..16, else EColorConversionError.
    void SetSourceSampleBits(uint8_t value);
    void SetTargetSampleBits(uint8_t value);
    // 1..4, else EColorConversionError.
    void SetSourceSampleCount(uint8_t value);
    void SetTargetSampleCount(uint8_t value);
    void SetSourceLayout(TColorLayout value);
    void SetTargetLayout(TColorLayout value);

    // Written by the readers directly; the converter choice keeps bit 1
    // (alpha) in line with the layouts.
    TColorFlags SourceFlags = 0;
    TColorFlags TargetFlags = 0;

    // Stores both gammas (values not above 0 give 1.0 and 2.2) and refills
    // the curve from the depths set at the moment of the call.
    void SetGammaCurve(float imageGamma, float displayGamma);
    float ImageGamma() const { return imageGamma_; }
    float DisplayGamma() const { return displayGamma_; }
    const std::array<uint8_t, 256>& GammaCurve() const { return gammaCurve_; }

    // Luma weights (red, green, blue) and chroma subsampling of YCbCr and
    // PhotoYCC data. Fewer than three weights leave the weights as they
    // are. Subsampling must be 1, 2 or 4, vertical not above horizontal.
    // New weights reach the tables at the next converter choice.
    void SetChromaParameters(std::span<const float> weights, uint8_t horizontal, uint8_t vertical);
    const std::array<float, 3>& LumaWeights() const { return lumaWeights_; }
    uint8_t HorizontalSubsampling() const { return horizontalSubsampling_; }
    uint8_t VerticalSubsampling() const { return verticalSubsampling_; }

    // Converts count target pixels of one row. One source plane is
    // interleaved data; several are planar, one per sample in the layout's
    // order (alpha last). Pixel i is governed by bit 7 - (i mod 8) of mask:
    // where it is clear the target pixel keeps its contents and no source
    // pixel is consumed.
    void ConvertPixels(std::span<const TRowPlane> source, void* target, size_t targetSize, uint32_t count,
                       uint8_t mask = 0xFF);
    void ConvertPixels(const void* source, size_t sourceSize, void* target, size_t targetSize, uint32_t count,
                       uint8_t mask = 0xFF) {
        const TRowPlane plane{source, sourceSize};
        ConvertPixels(std::span<const TRowPlane>(&plane, 1), target, targetSize, count, mask);
    }

    // The bitmap format for side 0 (source) or any other value (target).
    TPixelFormat PixelFormatFor(int side) const;

    // A palette from a file's colour map; the caller owns the result.
    // Formats: 0 8-bit RGB triplets, 1 the same with a pad byte, 2 and 3
    // 8-bit planes, 4 16-bit triplets, 5 with a pad word, 6 and 7 16-bit
    // planes. At most 256 entries, and never more than the data holds.
    HPALETTE BuildColorPalette(std::span<const TRowPlane> data, uint8_t format, uint32_t count, bool bgrOrder);
    // 2^bits grey levels for the target's bits per pixel (at most 8).
    HPALETTE BuildGrayPalette(bool minIsWhite);

    [[noreturn]] static void RaiseConversionError(const std::string& message);

    // For tests: the state of the converter choice and the chroma tables.
    bool Dirty() const { return dirty_; }
    const std::vector<int32_t>& CrToRed() const { return crToRed_; }
    const std::vector<int32_t>& CbToBlue() const { return cbToBlue_; }
    const std::vector<int32_t>& CrToGreen() const { return crToGreen_; }
    const std::vector<int32_t>& CbToGreen() const { return cbToGreen_; }

private:
    // A converter takes the source planes (already checked against the
    // bytes they hold), the target and the pixel count.
    using TRowConverter = void (TColorManager::*)(const TRowPlane* source, size_t planes, uint8_t* target,
                                                  uint32_t count, uint8_t mask);
    enum class TKind : uint8_t { None, Indexed, Indexed16To16, Indexed16ToPacked, IndexedPackedTo16, Gray16,
                                 RGB, CMYK, Lab, YCC };

    void PickConverter();
    void BuildChromaTables();
    // Largest pixel count <= count whose source and target fit the sizes.
    uint32_t FittingCount(std::span<const TRowPlane> source, size_t targetSize, uint32_t count, uint8_t mask) const;

    void ConvertIndexed(const TRowPlane* source, size_t planes, uint8_t* target, uint32_t count, uint8_t mask);
    void ConvertIndexed16To16(const TRowPlane* source, size_t planes, uint8_t* target, uint32_t count, uint8_t mask);
    void ConvertIndexed16ToPacked(const TRowPlane* source, size_t planes, uint8_t* target, uint32_t count,
                                  uint8_t mask);
    void ConvertIndexedPackedTo16(const TRowPlane* source, size_t planes, uint8_t* target, uint32_t count,
                                  uint8_t mask);
    void ConvertGray16(const TRowPlane* source, size_t planes, uint8_t* target, uint32_t count, uint8_t mask);
    void ConvertRGB(const TRowPlane* source, size_t planes, uint8_t* target, uint32_t count, uint8_t mask);
    void ConvertCMYK(const TRowPlane* source, size_t planes, uint8_t* target, uint32_t count, uint8_t mask);
    void ConvertLab(const TRowPlane* source, size_t planes, uint8_t* target, uint32_t count, uint8_t mask);
    void ConvertYCC(const TRowPlane* source, size_t planes, uint8_t* target, uint32_t count, uint8_t mask);

    bool dirty_ = true;
    uint8_t sourceBits_ = 8, targetBits_ = 8;
    uint8_t sourceCount_ = 3, targetCount_ = 3;
    float imageGamma_ = 1.0f, displayGamma_ = 2.2f;
    std::array<uint8_t, 256> gammaCurve_{};
    std::array<float, 3> lumaWeights_{};
    uint8_t horizontalSubsampling_ = 1, verticalSubsampling_ = 1;
    std::vector<int32_t> crToRed_, cbToBlue_, crToGreen_, cbToGreen_;
    TColorLayout sourceLayout_ = TColorLayout::csRGB;
    TColorLayout targetLayout_ = TColorLayout::csBGR;
    TRowConverter converter_ = nullptr;
    TKind kind_ = TKind::None;
};
