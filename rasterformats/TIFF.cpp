#include "rasterformats/TIFF.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "platform/core/Dialogs.h"
#include "rasterformats/RasterStrings.h"
#include "rasterformats/TIFFJPEGDecoder.h"
#include "rasterformats/TIFFStrips.h"

namespace {

constexpr const char* kTIFFName = "TIF/TIFF";
constexpr const char* kEPSName = "EPS";

// Tags the reader reads.
enum : uint16_t {
    tagImageWidth = 256,
    tagImageLength = 257,
    tagBitsPerSample = 258,
    tagCompression = 259,
    tagPhotometric = 262,
    tagFillOrder = 266,
    tagStripOffsets = 273,
    tagSamplesPerPixel = 277,
    tagRowsPerStrip = 278,
    tagStripByteCounts = 279,
    tagXResolution = 282,
    tagYResolution = 283,
    tagPlanarConfig = 284,
    tagT4Options = 292,
    tagResolutionUnit = 296,
    tagPredictor = 317,
    tagColorMap = 320,
    tagTileWidth = 322,
    tagTileLength = 323,
    tagExtraSamples = 338,
    tagJPEGTables = 347,
    tagYCbCrCoefficients = 529,
    tagYCbCrSubSampling = 530,
    tagYCbCrPositioning = 531,
};

// Field types: 1 byte, 2 ASCII, 3 short, 4 long, 5 rational, 6 signed
// byte, 7 undefined, 8 signed short, 9 signed long, 10 signed rational,
// 11 float, 12 double, 13 directory offset.
uint32_t TypeSize(uint16_t type) {
    static constexpr uint8_t kSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    return type < std::size(kSizes) ? kSizes[type] : 0;
}
bool IsIntegerType(uint16_t type) { return type == 1 || (type >= 3 && type <= 4) || (type >= 6 && type <= 9) || type == 13; }

uint32_t Get16(const uint8_t* p, bool bigEndian) {
    return bigEndian ? uint32_t(p[0]) << 8 | p[1] : uint32_t(p[1]) << 8 | p[0];
}
uint32_t Get32(const uint8_t* p, bool bigEndian) {
    return bigEndian ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
                     : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

// Value i of raw field data as an integer (integer types) or a real.
uint32_t IntegerAt(const uint8_t* raw, uint16_t type, size_t i, bool bigEndian) {
    switch (TypeSize(type)) {
        case 1: return raw[i];
        case 2: return Get16(raw + 2 * i, bigEndian);
        default: return Get32(raw + 4 * i, bigEndian);
    }
}

double RealAt(const uint8_t* raw, uint16_t type, size_t i, bool bigEndian) {
    switch (type) {
        case 5:
        case 10: {
            // A zero denominator gives 0.
            const uint32_t n = Get32(raw + 8 * i, bigEndian), d = Get32(raw + 8 * i + 4, bigEndian);
            if (d == 0) return 0;
            return type == 5 ? double(n) / d : double(int32_t(n)) / int32_t(d);
        }
        case 6: return int8_t(raw[i]);
        case 8: return int16_t(Get16(raw + 2 * i, bigEndian));
        case 9: return int32_t(Get32(raw + 4 * i, bigEndian));
        case 11: {
            const uint32_t bits = Get32(raw + 4 * i, bigEndian);
            float f;
            std::memcpy(&f, &bits, 4);
            return f;
        }
        case 12: {
            const uint64_t bits = uint64_t(Get32(raw + 8 * i, bigEndian)) << (bigEndian ? 32 : 0) |
                                  uint64_t(Get32(raw + 8 * i + 4, bigEndian)) << (bigEndian ? 0 : 32);
            double d;
            std::memcpy(&d, &bits, 8);
            return d;
        }
        default: return IntegerAt(raw, type, i, bigEndian);
    }
}

TCompressionType CompressionFor(uint32_t tag) {
    switch (tag) {
        case 1: return TCompressionType::ctNone;
        case 2: return TCompressionType::ctFaxRLE;
        case 3: return TCompressionType::ctFax3;
        case 4: return TCompressionType::ctFax4;
        case 5: return TCompressionType::ctLZW;
        case 6: return TCompressionType::ctOJPEG;
        case 7: return TCompressionType::ctJPEG;
        case 8:
        case 32946: return TCompressionType::ctLZ77;
        case 32766: return TCompressionType::ctNext;
        case 32771: return TCompressionType::ctFaxRLEW;
        case 32773: return TCompressionType::ctPackedBits;
        case 32809: return TCompressionType::ctThunderscan;
        case 32895: return TCompressionType::ctIT8CTPAD;
        case 32896: return TCompressionType::ctIT8LW;
        case 32897: return TCompressionType::ctIT8MP;
        case 32898: return TCompressionType::ctIT8BL;
        case 32908: return TCompressionType::ctPixarFilm;
        case 32909: return TCompressionType::ctPixarLog;
        case 32947: return TCompressionType::ctDCS;
        case 34661: return TCompressionType::ctJBIG;
        default: return TCompressionType::ctUnknown;
    }
}

TColorLayout SchemeFor(uint32_t photometric, uint32_t samples) {
    switch (photometric) {
        case 0:
        case 1: return TColorLayout::csGray;
        case 2: return samples < 4 ? TColorLayout::csRGB : TColorLayout::csRGBA;
        case 3: return TColorLayout::csIndexed;
        case 5: return TColorLayout::csCMYK;
        case 6: return TColorLayout::csYCbCr;
        case 8: return TColorLayout::csCIELab;
        default: return TColorLayout::csNone;
    }
}

}  // namespace

// ------------------------------------------------------------ TTIFFGraphic

QUILLARC_DEFINE_RASTER_GRAPHIC(TTIFFGraphic, TRasterGraphic)

bool TTIFFGraphic::AcceptsStream(TStream& stream) {
    const int64_t left = BytesLeft(stream);
    if (left <= 8) return false;
    uint8_t header[8];
    if (!PeekBytes(stream, header, 8)) return false;
    bool bigEndian;
    if (header[0] == 'I' && header[1] == 'I') bigEndian = false;
    else if (header[0] == 'M' && header[1] == 'M') bigEndian = true;
    else return false;
    return Get16(header + 2, bigEndian) == 42 && Get32(header + 4, bigEndian) < left;
}

void TTIFFGraphic::SaveToStream(TStream&) {}

const TTIFFGraphic::TIFDEntry* TTIFFGraphic::Find(uint16_t tag) const {
    const auto it = std::lower_bound(entries_.begin(), entries_.end(), tag,
                                     [](const TIFDEntry& e, uint16_t t) { return e.tag < t; });
    return it != entries_.end() && it->tag == tag ? &*it : nullptr;
}

bool TTIFFGraphic::ReadDirectory(TStream& stream, int64_t position) {
    entries_.clear();
    stream.SetPosition(position);
    uint8_t word[2];
    if (stream.Read(word, 2) != 2) return false;
    // A directory cut short keeps the entries the stream holds.
    const int64_t count = std::min<int64_t>(Get16(word, BigEndian()), BytesLeft(stream) / 12);
    std::vector<uint8_t> raw(static_cast<size_t>(count) * 12);
    stream.ReadBuffer(raw.data(), static_cast<int64_t>(raw.size()));
    entries_.resize(static_cast<size_t>(count));
    for (int64_t i = 0; i < count; ++i) {
        const uint8_t* e = raw.data() + 12 * i;
        TIFDEntry& entry = entries_[static_cast<size_t>(i)];
        entry.tag = static_cast<uint16_t>(Get16(e, BigEndian()));
        entry.type = static_cast<uint16_t>(Get16(e + 2, BigEndian()));
        entry.count = Get32(e + 4, BigEndian());
        std::memcpy(entry.value, e + 8, 4);
    }
    std::stable_sort(entries_.begin(), entries_.end(), [](const TIFDEntry& a, const TIFDEntry& b) { return a.tag < b.tag; });
    return true;
}

std::vector<uint8_t> TTIFFGraphic::RawValues(TStream& stream, const TIFDEntry& entry, uint32_t& count) const {
    const uint32_t size = TypeSize(entry.type);
    count = 0;
    if (size == 0 || entry.count == 0) return {};
    const uint64_t total = uint64_t(entry.count) * size;
    if (total <= 4) {
        count = entry.count;
        return std::vector<uint8_t>(entry.value, entry.value + total);
    }
    // Values past the end of the stream are not there: a count is never
    // taken on trust for an allocation.
    stream.SetPosition(basePosition_ + Get32(entry.value, BigEndian()));
    const int64_t available = std::min<int64_t>(static_cast<int64_t>(total), BytesLeft(stream)) / size * size;
    std::vector<uint8_t> raw(static_cast<size_t>(available));
    stream.ReadBuffer(raw.data(), available);
    count = static_cast<uint32_t>(available / size);
    return raw;
}

uint32_t TTIFFGraphic::Integer(TStream& stream, uint16_t tag, uint32_t absent) const {
    const TIFDEntry* e = Find(tag);
    if (e == nullptr || !IsIntegerType(e->type)) return absent;
    uint32_t count = 0;
    const std::vector<uint8_t> raw = RawValues(stream, *e, count);
    return count == 0 ? absent : IntegerAt(raw.data(), e->type, 0, BigEndian());
}

double TTIFFGraphic::Real(TStream& stream, uint16_t tag, double absent) const {
    const TIFDEntry* e = Find(tag);
    if (e == nullptr || TypeSize(e->type) == 0 || e->type == 2 || e->type == 7) return absent;
    uint32_t count = 0;
    const std::vector<uint8_t> raw = RawValues(stream, *e, count);
    return count == 0 ? absent : RealAt(raw.data(), e->type, 0, BigEndian());
}

std::vector<uint32_t> TTIFFGraphic::Integers(TStream& stream, uint16_t tag) const {
    const TIFDEntry* e = Find(tag);
    if (e == nullptr || !IsIntegerType(e->type)) return {};
    uint32_t count = 0;
    const std::vector<uint8_t> raw = RawValues(stream, *e, count);
    std::vector<uint32_t> values(count);
    for (uint32_t i = 0; i < count; ++i) values[i] = IntegerAt(raw.data(), e->type, i, BigEndian());
    return values;
}

std::vector<float> TTIFFGraphic::Reals(TStream& stream, uint16_t tag) const {
    const TIFDEntry* e = Find(tag);
    if (e == nullptr || TypeSize(e->type) == 0 || e->type == 2 || e->type == 7) return {};
    uint32_t count = 0;
    const std::vector<uint8_t> raw = RawValues(stream, *e, count);
    std::vector<float> values(count);
    for (uint32_t i = 0; i < count; ++i) values[i] = static_cast<float>(RealAt(raw.data(), e->type, i, BigEndian()));
    return values;
}

bool TTIFFGraphic::ReadImageInfo(TStream& stream, int index) {
    TRasterGraphic::ReadImageInfo(stream, index);
    entries_.clear();
    TImageProperties& p = ImageProperties;
    const int64_t base = stream.Position();
    basePosition_ = base;
    uint8_t header[8];
    if (stream.Read(header, 8) != 8) return false;
    if (header[0] == 'M' && header[1] == 'M') p.Options |= ioBigEndian;
    else if (header[0] != 'I' || header[1] != 'I') return false;
    p.Version = Get16(header + 2, BigEndian());
    p.FirstIFD = Get32(header + 4, BigEndian());
    if (p.Version != 42) return false;

    int64_t position = base + p.FirstIFD;
    for (int i = index; i > 0; --i) {
        stream.SetPosition(position);
        uint8_t word[2], next[4];
        if (stream.Read(word, 2) != 2) return false;
        stream.Seek(int64_t(Get16(word, BigEndian())) * 12, TSeekOrigin::soCurrent);
        if (stream.Read(next, 4) != 4 || Get32(next, BigEndian()) == 0) return false;
        position = base + Get32(next, BigEndian());
    }
    if (!ReadDirectory(stream, position)) return false;

    // Sizes beyond the signed range are refused as sizes, not wrapped.
    p.Width = static_cast<int32_t>(std::min<uint32_t>(Integer(stream, tagImageWidth, 0), 0x7FFFFFFF));
    p.Height = static_cast<int32_t>(std::min<uint32_t>(Integer(stream, tagImageLength, 0), 0x7FFFFFFF));
    if (p.Width == 0 || p.Height == 0) return false;

    p.RowsPerStrip = Integers(stream, tagRowsPerStrip);
    if (p.RowsPerStrip.empty() || p.RowsPerStrip[0] == 0xFFFFFFFF) p.RowsPerStrip = {uint32_t(p.Height)};
    // Counts beyond a byte are refused later as such, not wrapped.
    const uint32_t samples = Integer(stream, tagSamplesPerPixel, 1);
    const uint32_t bits = Integer(stream, tagBitsPerSample, 1);
    p.SamplesPerPixel = static_cast<uint8_t>(std::min<uint32_t>(samples, 255));
    p.BitsPerSample = static_cast<uint8_t>(std::min<uint32_t>(bits, 255));
    p.TileWidth = Integer(stream, tagTileWidth, 0);
    p.TileLength = Integer(stream, tagTileLength, 0);
    if (p.TileWidth != 0 && p.TileLength != 0) p.Options |= ioTiled;
    const uint32_t photometric = Integer(stream, tagPhotometric, 0);
    const std::vector<uint32_t> extra = Integers(stream, tagExtraSamples);
    p.HasAlpha = !extra.empty() && std::all_of(extra.begin(), extra.end(), [](uint32_t v) { return v <= 2; });
    p.BitsPerPixel = static_cast<uint8_t>(std::min<uint32_t>(uint32_t(p.BitsPerSample) * p.SamplesPerPixel, 255));
    // Data without a compression tag is stored as it is.
    p.Compression = CompressionFor(Integer(stream, tagCompression, 1));
    p.ColorScheme = SchemeFor(photometric, p.SamplesPerPixel);
    if (photometric == 0) p.Options |= ioMinIsWhite;
    ycbcrCoefficients_ = {0.299f, 0.587f, 0.114f};
    ycbcrPositioning_ = 1;
    if (photometric == 6) {
        if (Find(tagYCbCrCoefficients) != nullptr) ycbcrCoefficients_ = Reals(stream, tagYCbCrCoefficients);
        const std::vector<uint32_t> sub = Integers(stream, tagYCbCrSubSampling);
        p.YCbCrSubSampling = sub.empty() ? std::vector<uint8_t>{2, 2} : std::vector<uint8_t>{};
        for (uint32_t v : sub) p.YCbCrSubSampling.push_back(static_cast<uint8_t>(std::min<uint32_t>(v, 255)));
        ycbcrPositioning_ = Integer(stream, tagYCbCrPositioning, 1);
    }
    p.JPEGColorMode = 0;
    p.JPEGTablesMode = 3;
    p.PlanarConfiguration = Integer(stream, tagPlanarConfig, 0);
    p.XResolution = static_cast<float>(Real(stream, tagXResolution, 0));
    p.YResolution = static_cast<float>(Real(stream, tagYResolution, 0));
    if (Integer(stream, tagResolutionUnit, 2) == 3) {
        p.XResolution = static_cast<float>(p.XResolution * 2.54);
        p.YResolution = static_cast<float>(p.YResolution * 2.54);
    }
    p.Predictor = Integer(stream, tagPredictor, 0);
    if (Integer(stream, tagFillOrder, 1) == 2) p.Options |= ioReversed;
    faxOptions_ = Integer(stream, tagT4Options, 0);
    return true;
}

// What the steps of a load find out and hand on to the next.
struct TTIFFGraphic::TPlan {
    TTIFFStripFormat format;
    bool compressed = false;  // any scheme but "none"
    bool jpeg = false;
    bool fax = false;  // the CCITT schemes, which turn their bits themselves
    TPixelFormat pixelFormat = TPixelFormat::pfDevice;
    TRowForm form = TRowForm::Convert;
    std::optional<TTIFFStrips> strips;
};

namespace {

[[noreturn]] void Refuse(const char* message) { RaiseInvalidGraphicFmt(message, kTIFFName); }
[[noreturn]] void NotSupported(const char* what) { throw EInvalidGraphic(Format(raster::kNotSupported, what, kTIFFName)); }

// The fewest and most samples a pixel of the colour scheme is read from:
// grey one, or two (the second dropped); a palette index, and its alpha
// when the file says it has one; RGB three, or four with alpha; CMYK four;
// L*a*b* and YCbCr three. Schemes without a converter are refused by the
// colour manager.
std::pair<uint8_t, uint8_t> SamplesFor(TColorLayout scheme, bool alpha) {
    switch (scheme) {
        case TColorLayout::csGray: return {1, 2};
        case TColorLayout::csIndexed:
            if (alpha) return {2, 2};
            return {1, 1};
        case TColorLayout::csRGB:
        case TColorLayout::csCIELab:
        case TColorLayout::csYCbCr: return {3, 3};
        case TColorLayout::csRGBA:
        case TColorLayout::csCMYK: return {4, 4};
        default: return {1, 255};
    }
}

}  // namespace

void TTIFFGraphic::LoadImage(TStream& stream) {
    TPlan plan;
    if (!Probe(stream, plan)) return;
    ReadStripTable(stream, plan);
    SetUpColours(stream, plan);
    DecodeStrips(stream, plan);
}

bool TTIFFGraphic::Probe(TStream& stream, TPlan& plan) {
    ReadHeader(stream, kTIFFName);
    TImageProperties& p = ImageProperties;
    // Tiled images are not read: the picture stays empty.
    if (p.Options & ioTiled) {
        EndProgress();
        return false;
    }
    progressRect_ = Rect(0, 0, 0, 1);
    StartProgress(raster::kPreparing);

    switch (p.Compression) {
        case TCompressionType::ctNone:
        case TCompressionType::ctPackedBits:
        case TCompressionType::ctFax3:
        case TCompressionType::ctFaxRLE:
        case TCompressionType::ctFaxRLEW:
        case TCompressionType::ctLZ77:
        case TCompressionType::ctJPEG:
        case TCompressionType::ctThunderscan: break;
        default: NotSupported(raster::kCompressionScheme);
    }
    // Group 3 data coded in two dimensions (T4 options bit 0) is not read.
    if (p.Compression == TCompressionType::ctFax3 && (faxOptions_ & 1)) NotSupported(raster::kCompressionScheme);
    TTIFFStripFormat& f = plan.format;
    f.scheme = p.Compression;
    f.width = p.Width;
    f.height = p.Height;
    f.bits = p.BitsPerSample;
    f.samples = p.SamplesPerPixel;
    f.faxOptions = faxOptions_;
    f.reversed = p.Options & ioReversed;
    f.bigEndian = BigEndian();
    plan.compressed = p.Compression != TCompressionType::ctNone;
    plan.jpeg = p.Compression == TCompressionType::ctJPEG;
    plan.fax = p.Compression == TCompressionType::ctFax3 || p.Compression == TCompressionType::ctFaxRLE ||
               p.Compression == TCompressionType::ctFaxRLEW;
    // Separate planes of several samples would be read as if interleaved.
    if (p.PlanarConfiguration == 2 && f.samples > 1) NotSupported(raster::kSeparatePlanes);
    f.bytesPerRow = (int64_t(f.bits) * f.samples * f.width + 7) / 8;
    p.BytesPerRow = static_cast<int32_t>(f.bytesPerRow);
    // The predictor is defined on whole 8- and 16-bit samples.
    f.predictor = plan.compressed && p.Predictor == 2 && (f.bits == 8 || f.bits == 16);
    return true;
}

void TTIFFGraphic::ReadStripTable(TStream& stream, TPlan& plan) {
    TImageProperties& p = ImageProperties;
    const std::vector<uint32_t> offsets = Integers(stream, tagStripOffsets);
    const std::vector<uint32_t> byteCounts = Integers(stream, tagStripByteCounts);
    // JPEG data stands for what its coding allows: the frame header of the
    // strip tells.
    const auto mostOfJPEG = [&](int64_t start, int64_t bytes, int64_t enough) {
        return TTIFFJPEGDecoder::MostUnpacked(stream, p, start, bytes, enough);
    };
    plan.strips.emplace(plan.format, offsets, byteCounts, p.RowsPerStrip, basePosition_, stream.Size(), mostOfJPEG);
    p.StripCount = plan.strips->Count();
}

void TTIFFGraphic::SetUpColours(TStream& stream, TPlan& plan) {
    TImageProperties& p = ImageProperties;
    const uint8_t bits = plan.format.bits, samples = plan.format.samples;
    TColorManager& cm = ColorManager();
    const TColorLayout scheme = p.ColorScheme;
    const bool colour = scheme == TColorLayout::csRGB || scheme == TColorLayout::csRGBA ||
                        scheme == TColorLayout::csCMYK || scheme == TColorLayout::csCIELab ||
                        scheme == TColorLayout::csYCbCr;
    const bool single = scheme == TColorLayout::csGray || scheme == TColorLayout::csIndexed;
    const auto [fewest, most] = SamplesFor(scheme, p.HasAlpha);
    if (samples < fewest || samples > most || (colour && bits != 8 && bits != 16) ||
        (single && bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16))
        Refuse(raster::kInvalidColorFormat);
    // Fax and ThunderScan data decode to 1-bit and 4-bit grey rows.
    if ((plan.fax && (bits != 1 || samples != 1)) ||
        (p.Compression == TCompressionType::ctThunderscan && (bits != 4 || samples != 1)))
        Refuse(raster::kInvalidColorFormat);
    // YCbCr stored in subsampled units (only JPEG strips unpack them).
    if (scheme == TColorLayout::csYCbCr && !plan.jpeg &&
        !(p.YCbCrSubSampling.size() >= 2 && p.YCbCrSubSampling[0] == 1 && p.YCbCrSubSampling[1] == 1))
        NotSupported(raster::kYCbCrSubsampling);

    cm.SourceFlags = BigEndian() ? cfByteSwap : 0;
    cm.SetSourceSampleBits(bits);
    // 16 bits are shown in 8, and 2-bit samples in a 4-bit bitmap.
    cm.SetTargetSampleBits(bits == 16 ? 8 : (bits == 2 ? 4 : bits));
    TColorLayout source = scheme;
    // libjpeg hands over colour strips blue first; grey strips stay grey.
    if (plan.jpeg && scheme != TColorLayout::csGray) source = TColorLayout::csBGR;
    TColorLayout target = source;
    uint8_t targetSamples = samples;
    switch (source) {
        case TColorLayout::csIndexed:
            if (p.HasAlpha) source = TColorLayout::csGrayAlpha;
            break;
        case TColorLayout::csGray:
            // Grey with an extra sample is shown as grey.
            if (samples == 2) source = TColorLayout::csGrayAlpha, targetSamples = 1;
            break;
        case TColorLayout::csRGB:
        case TColorLayout::csCMY:
        case TColorLayout::csCMYK:
        case TColorLayout::csCIELab:
        case TColorLayout::csYCbCr: target = TColorLayout::csBGR; break;
        case TColorLayout::csRGBA: target = TColorLayout::csBGRA; break;
        default: break;
    }
    if (scheme == TColorLayout::csCMYK) targetSamples = 3;
    if (plan.jpeg && source == TColorLayout::csBGR) targetSamples = 3;
    cm.SetSourceLayout(source);
    cm.SetTargetLayout(target);
    cm.SetSourceSampleCount(samples);
    cm.SetTargetSampleCount(targetSamples);
    if (scheme == TColorLayout::csCIELab) cm.SourceFlags |= cfLabByteRange;

    // Rows that need no more than their own bytes, or red and blue traded,
    // are unpacked straight into the bitmap's rows.
    if ((source == TColorLayout::csGray || source == TColorLayout::csIndexed) && samples == 1 &&
        bits == cm.TargetSampleBits() && (bits == 1 || bits == 4 || bits == 8))
        plan.form = TRowForm::Copy;
    else if (bits == 8 && samples == 3 && source == TColorLayout::csBGR && target == TColorLayout::csBGR)
        plan.form = TRowForm::Copy;
    else if (bits == 8 && samples == 3 && source == TColorLayout::csRGB && target == TColorLayout::csBGR)
        plan.form = TRowForm::SwapRB3;
    else if (bits == 8 && samples == 4 && source == TColorLayout::csRGBA && target == TColorLayout::csBGRA)
        plan.form = TRowForm::SwapRB4;

    plan.pixelFormat = source == TColorLayout::csGrayAlpha ? TPixelFormat::pf8bit : cm.PixelFormatFor(1);
    if (plan.pixelFormat == TPixelFormat::pfCustom) Refuse(raster::kInvalidColorFormat);
    SetReaderPixelFormat(plan.pixelFormat);
    progressRect_.Right = p.Width;

    if (target == TColorLayout::csIndexed) {
        const TIFDEntry* map = Find(tagColorMap);
        if (map != nullptr && map->count > 0) {
            // Three planes of 2^bits 16-bit entries, red, green and blue.
            if (bits > 8 || map->count != 3u << bits || map->type != 3) Refuse(raster::kInvalidColorFormat);
            uint32_t count = 0;
            const std::vector<uint8_t> raw = RawValues(stream, *map, count);
            if (count != map->count) Refuse(raster::kInvalidColorFormat);
            const size_t n = count / 3;
            const TRowPlane planes[3] = {{raw.data(), 2 * n}, {raw.data() + 2 * n, 2 * n}, {raw.data() + 4 * n, 2 * n}};
            SetPalette(cm.BuildColorPalette(planes, 6, static_cast<uint32_t>(n), false));
        }
    } else if (target == TColorLayout::csGray) {
        SetPalette(cm.BuildGrayPalette(p.Options & ioMinIsWhite));
    } else if (source == TColorLayout::csYCbCr) {
        const uint8_t h = p.YCbCrSubSampling.size() > 0 ? p.YCbCrSubSampling[0] : 1;
        const uint8_t v = p.YCbCrSubSampling.size() > 1 ? p.YCbCrSubSampling[1] : 1;
        cm.SetChromaParameters(ycbcrCoefficients_, h, v);
    }
}

void TTIFFGraphic::DecodeStrips(TStream& stream, TPlan& plan) {
    TImageProperties& p = ImageProperties;
    const TTIFFStripFormat& f = plan.format;
    if (plan.jpeg) {
        uint32_t count = 0;
        if (const TIFDEntry* tables = Find(tagJPEGTables)) p.JPEGTables = RawValues(stream, *tables, count);
    }

    NewImage(f.width, f.height, plan.pixelFormat);
    TTIFFStrips::TTarget target;
    target.pixels = ScanLine(0);
    target.stride = RowBytes();
    target.form = plan.form;
    target.packed = BitsPerPixel(plan.pixelFormat) < 8;
    // The bytes of a row the bitmap's format fills; the rest of the row is
    // padding, which is zero, as every byte of a picture is.
    target.used = plan.form != TRowForm::Convert ? f.bytesPerRow
                                                 : (int64_t(f.width) * BitsPerPixel(plan.pixelFormat) + 7) / 8;
    EndProgress();
    StartProgress(raster::kTransfering);
    // The converter is chosen now, before rows are converted on several
    // threads (and a pair of layouts without one is refused here).
    TColorManager& cm = ColorManager();
    cm.ConvertPixels(nullptr, 0, nullptr, 0, 0);

    int64_t reported = 0;
    const TTIFFStrips::TOutcome outcome = plan.strips->Decode(stream, target, cm, p, [&](int64_t done) {
        while (reported < done) RowProgress(static_cast<int32_t>(++reported), f.height);
    });
    const uint64_t load = NewPictureLoad();
    for (const std::string& text : outcome.warnings) PictureWarning(load, text);
    if (outcome.error) std::rethrow_exception(outcome.error);
    // Rows no strip reached are zero.
    for (int32_t y = static_cast<int32_t>(plan.strips->RowsCovered()); y < f.height; ++y)
        std::memset(ScanLine(y), 0, size_t(target.stride));
    EndProgress();
}

// ------------------------------------------------------------ TEPSGraphic

namespace {

constexpr int64_t kEPSHeaderSize = 30;
constexpr uint8_t kEPSMagic[4] = {0xC5, 0xD0, 0xD3, 0xC6};

}  // namespace

QUILLARC_DEFINE_RASTER_GRAPHIC(TEPSGraphic, TTIFFGraphic)

bool TEPSGraphic::AcceptsStream(TStream& stream) {
    if (BytesLeft(stream) <= kEPSHeaderSize) return false;
    uint8_t header[kEPSHeaderSize];
    if (!PeekBytes(stream, header, kEPSHeaderSize)) return false;
    const uint32_t offset = Get32(header + 20, false), length = Get32(header + 24, false);
    return std::memcmp(header, kEPSMagic, 4) == 0 && offset >= kEPSHeaderSize && int32_t(length) > 0;
}

void TEPSGraphic::LoadImage(TStream& stream) {
    uint8_t header[kEPSHeaderSize];
    if (stream.Read(header, kEPSHeaderSize) != kEPSHeaderSize || std::memcmp(header, kEPSMagic, 4) != 0)
        RaiseInvalidGraphicFmt(raster::kInvalidImage, kEPSName);
    // A preview that would start inside the header is no preview; one may
    // follow the header at once.
    const uint32_t offset = Get32(header + 20, false);
    if (offset < kEPSHeaderSize) RaiseInvalidGraphicFmt(raster::kInvalidImage, kEPSName);
    stream.Seek(int64_t(offset) - kEPSHeaderSize, TSeekOrigin::soCurrent);
    basePosition_ = stream.Position();
    TTIFFGraphic::LoadImage(stream);
}
