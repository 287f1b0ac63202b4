#include "rasterformats/TIFF.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "platform/core/Dialogs.h"
#include "platform/core/Parallel.h"
#include "platform/core/PixelBuffer.h"
#include "platform/core/Simd.h"
#include "rasterformats/FaxDecoders.h"
#include "rasterformats/RasterStrings.h"
#include "rasterformats/TIFFDeflateDecoder.h"
#include "rasterformats/ThunderDecoder.h"
#include "rasterformats/TIFFJPEGDecoder.h"

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

// The horizontal-difference predictor on 16-bit samples, in the file's
// byte order; stride is the samples of a pixel.
void UndoPredictor16(uint8_t* row, int64_t pixels, int64_t stride, bool bigEndian) {
    const int64_t hi = bigEndian ? 0 : 1, lo = 1 - hi;
    for (int64_t i = stride; i < pixels * stride; ++i) {
        uint8_t* w = row + 2 * i;
        const uint8_t* v = w - 2 * stride;
        const uint32_t sum = ((w[hi] << 8 | w[lo]) + (v[hi] << 8 | v[lo])) & 0xFFFF;
        w[hi] = static_cast<uint8_t>(sum >> 8);
        w[lo] = static_cast<uint8_t>(sum);
    }
}

void UndoPredictor8(uint8_t* row, int64_t pixels, int64_t stride) {
    if (pixels < 2) return;
    switch (stride) {
        case 1: UndoPredictor1(row, pixels - 1); break;
        case 3: UndoPredictor3(row, pixels - 1); break;
        case 4: UndoPredictor4(row, pixels - 1); break;
        default:
            for (int64_t i = stride; i < pixels * stride; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - stride]);
            break;
    }
}

#if QUILLARC_X86
// The leading pixels of a row with red and blue traded, 8 at a time;
// returns the pixels done, the rest are the caller's. Each step loads its
// 24 bytes as two halves of 16 (the 4 bytes behind each half come along
// unused) and stores just those 24, so that no load waits on a store that
// covers it only in part.
QUILLARC_AVX2 int64_t SwapRedBlue3Avx2(uint8_t* row, int64_t count) {
    const __m256i order = _mm256_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 12, 13, 14, 15,
                                           2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 12, 13, 14, 15);
    const __m256i pack = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
    int64_t i = 0;
    for (; i + 10 <= count; i += 8) {
        uint8_t* p = row + 3 * i;
        const __m256i halves = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(p + 12),
                                                   reinterpret_cast<const __m128i*>(p));
        const __m256i swapped = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(halves, order), pack);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(swapped));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p + 16), _mm256_extracti128_si256(swapped, 1));
    }
    return i;
}

QUILLARC_AVX2 int64_t SwapRedBlue4Avx2(uint8_t* row, int64_t count) {
    const __m256i order = _mm256_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15,
                                           2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15);
    int64_t i = 0;
    for (; i + 8 <= count; i += 8) {
        auto* p = reinterpret_cast<__m256i*>(row + 4 * i);
        _mm256_storeu_si256(p, _mm256_shuffle_epi8(_mm256_loadu_si256(p), order));
    }
    return i;
}
#endif

// Bytes whose first pixel sits in the least significant bit (fill order
// 2) turned the usual way round.
void ReverseBits(uint8_t* data, int64_t count) {
    static const auto table = [] {
        std::array<uint8_t, 256> t{};
        for (int i = 0; i < 256; ++i) {
            int r = 0;
            for (int b = 0; b < 8; ++b) r |= ((i >> b) & 1) << (7 - b);
            t[size_t(i)] = static_cast<uint8_t>(r);
        }
        return t;
    }();
    for (int64_t i = 0; i < count; ++i) data[i] = table[data[i]];
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

namespace {

// How a decoded row becomes a row of the bitmap.
enum class TRowForm : uint8_t {
    Copy,     // the same bytes
    SwapRB3,  // 8-bit RGB to blue, green, red: red and blue trade places
    SwapRB4,  // 8-bit RGBA to blue, green, red, alpha
    Convert,  // through the colour manager, from a row of its own
};

}  // namespace

// What the steps of a load find out and hand on to the next.
struct TTIFFGraphic::TPlan {
    int32_t width = 0, height = 0;
    uint8_t bits = 0, samples = 0;
    bool compressed = false;  // any scheme but "none"
    bool jpeg = false;
    bool fax = false;  // the CCITT schemes, which turn their bits themselves
    bool reversed = false;  // fill order 2
    bool predictor = false;
    int64_t bytesPerRow = 0;  // of the data, not of the bitmap
    TPixelFormat format = TPixelFormat::pfDevice;
    TRowForm form = TRowForm::Convert;

    // Where a strip starts, its bytes in the stream and the rows it holds.
    struct Strip {
        int64_t start, length, rows, firstRow;
        const uint8_t* data;  // its bytes, once read
    };
    std::vector<Strip> strips;
    int64_t rowsCovered = 0;  // rows the strips reach, from the top
    // The distinct places strips start, and the bytes taken from each.
    std::vector<int64_t> starts, extent;
};

namespace {

// Red and blue traded in place in `count` pixels of 3 or 4 bytes.
void SwapRedBlue(uint8_t* row, int64_t count, int pixelBytes) {
    int64_t i = 0;
#if QUILLARC_X86
    if (simd::Avx2()) i = pixelBytes == 3 ? SwapRedBlue3Avx2(row, count) : SwapRedBlue4Avx2(row, count);
#endif
    for (uint8_t* p = row + i * pixelBytes; i < count; ++i, p += pixelBytes) std::swap(p[0], p[2]);
}

// The rows of a strip that the colour manager converts, and packed bytes
// read or turned: blocks kept from strip to strip of a run and never
// cleared (every byte used is written first).
class TStripScratch {
public:
    uint8_t* Rows(int64_t size) { return Fit(rows_, rowsSize_, size); }
    uint8_t* Packed(int64_t size) { return Fit(packed_, packedSize_, size); }

private:
    static uint8_t* Fit(std::unique_ptr<uint8_t[]>& block, int64_t& capacity, int64_t size) {
        if (size > capacity) {
            block.reset();
            block.reset(new uint8_t[static_cast<size_t>(size)]);
            capacity = size;
        }
        return block.get();
    }
    std::unique_ptr<uint8_t[]> rows_, packed_;
    int64_t rowsSize_ = 0, packedSize_ = 0;
};

[[noreturn]] void Refuse(const char* message) { RaiseInvalidGraphicFmt(message, kTIFFName); }
[[noreturn]] void NotSupported(const char* what) { throw EInvalidGraphic(Format(raster::kNotSupported, what, kTIFFName)); }

// The most `bytes` bytes of a strip can unpack to under the scheme. A
// PackBits run of two bytes gives 128; deflate gives at most 258 bytes for
// two bits; a fax line takes at least a byte (an end-of-line code has 12
// bits, a modified Huffman line starts on a fresh byte); a ThunderScan byte
// puts at most 63 pixels of 4 bits; JPEG data, what its coding allows (the
// frame header of the strip at `start` tells).
int64_t MostUnpacked(TStream& stream, const TImageProperties& p, int64_t start, int64_t bytes) {
    const TCompressionType scheme = p.Compression;
    const int64_t bytesPerRow = p.BytesPerRow;
    int64_t factor = 1;
    switch (scheme) {
        case TCompressionType::ctPackedBits: factor = 64; break;
        case TCompressionType::ctLZ77: factor = 1032; break;
        case TCompressionType::ctFax3:
        case TCompressionType::ctFaxRLE:
        case TCompressionType::ctFaxRLEW: factor = bytesPerRow; break;
        case TCompressionType::ctThunderscan: factor = 32; break;
        case TCompressionType::ctJPEG: return TTIFFJPEGDecoder::MostUnpacked(stream, p, start, bytes);
        default: break;
    }
    const int64_t most = raster::CheckedMul(bytes, factor);
    return most < 0 ? INT64_MAX : most;
}

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

// Rows the file holds no bytes for (strips past its end, rows no strip
// reaches) read as zero, but they may not be what makes a small file a
// large picture: they may come to at most three times what the file's
// bytes can stand for, beyond the first mebibyte.
constexpr int64_t kUnbackedFactor = 3;
constexpr int64_t kUnbackedLeeway = int64_t(1) << 20;

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
    plan.width = p.Width;
    plan.height = p.Height;
    plan.bits = p.BitsPerSample;
    plan.samples = p.SamplesPerPixel;
    plan.compressed = p.Compression != TCompressionType::ctNone;
    plan.jpeg = p.Compression == TCompressionType::ctJPEG;
    plan.fax = p.Compression == TCompressionType::ctFax3 || p.Compression == TCompressionType::ctFaxRLE ||
               p.Compression == TCompressionType::ctFaxRLEW;
    plan.reversed = p.Options & ioReversed;
    // Separate planes of several samples would be read as if interleaved.
    if (p.PlanarConfiguration == 2 && plan.samples > 1) NotSupported(raster::kSeparatePlanes);
    plan.bytesPerRow = (int64_t(plan.bits) * plan.samples * plan.width + 7) / 8;
    p.BytesPerRow = static_cast<int32_t>(plan.bytesPerRow);
    // The predictor is defined on whole 8- and 16-bit samples.
    plan.predictor = plan.compressed && p.Predictor == 2 && (plan.bits == 8 || plan.bits == 16);
    return true;
}

void TTIFFGraphic::ReadStripTable(TStream& stream, TPlan& plan) {
    TImageProperties& p = ImageProperties;
    const std::vector<uint32_t> offsets = Integers(stream, tagStripOffsets);
    const std::vector<uint32_t> byteCounts = Integers(stream, tagStripByteCounts);
    // Packed strips need their lengths.
    if (offsets.empty() || (plan.compressed && byteCounts.size() < offsets.size())) Refuse(raster::kInvalidImage);

    // Rows run on from strip to strip, and strips past the last row are not
    // read. A strip that starts past the end of the stream is empty.
    std::vector<TPlan::Strip>& strips = plan.strips;
    const int64_t streamSize = stream.Size();
    int64_t rowIndex = 0;
    for (size_t i = 0; i < offsets.size() && rowIndex < plan.height; ++i) {
        const uint32_t stripRows = p.RowsPerStrip[std::min(i, p.RowsPerStrip.size() - 1)];
        const int64_t rows = std::min<int64_t>(stripRows, int64_t(plan.height) - rowIndex);
        if (rows == 0) continue;
        const int64_t start = basePosition_ + offsets[i];
        const int64_t available = start < streamSize ? streamSize - start : 0;
        const int64_t length = std::min<int64_t>(plan.compressed ? byteCounts[i] : rows * plan.bytesPerRow, available);
        strips.push_back(TPlan::Strip{start, length, rows, rowIndex, nullptr});
        rowIndex += rows;
    }
    plan.rowsCovered = rowIndex;
    p.StripCount = static_cast<int32_t>(strips.size());

    // Each stretch of the stream belongs to one strip: a strip ends where
    // the next one begins (strips that overlap are cut there, strips that
    // start at the same place share their bytes), so no more than the
    // stream is ever read or held.
    std::vector<int64_t>& starts = plan.starts;
    for (const TPlan::Strip& strip : strips)
        if (strip.length > 0) starts.push_back(strip.start);
    std::sort(starts.begin(), starts.end());
    starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
    plan.extent.assign(starts.size(), 0);
    for (TPlan::Strip& strip : strips) {
        if (strip.length == 0) continue;
        const size_t k = static_cast<size_t>(std::lower_bound(starts.begin(), starts.end(), strip.start) - starts.begin());
        if (k + 1 < starts.size()) strip.length = std::min(strip.length, starts[k + 1] - strip.start);
        plan.extent[k] = std::max(plan.extent[k], strip.length);
    }

    // What the bytes can stand for, each stretch of the stream counted once,
    // for the rows of the strips that start there: a claim they cannot back
    // is refused before anything is allocated.
    std::vector<int64_t> rowsAt(starts.size(), 0);
    for (const TPlan::Strip& strip : strips)
        if (strip.length > 0)
            rowsAt[static_cast<size_t>(std::lower_bound(starts.begin(), starts.end(), strip.start) - starts.begin())] +=
                strip.rows;
    int64_t backed = 0;
    for (size_t k = 0; k < starts.size(); ++k)
        backed += std::min(rowsAt[k] * plan.bytesPerRow, MostUnpacked(stream, p, starts[k], plan.extent[k]));
    const int64_t claimed = int64_t(plan.height) * plan.bytesPerRow;
    if (claimed - backed > kUnbackedFactor * backed + kUnbackedLeeway) Refuse(raster::kInvalidImage);
}

void TTIFFGraphic::SetUpColours(TStream& stream, TPlan& plan) {
    TImageProperties& p = ImageProperties;
    const uint8_t bits = plan.bits, samples = plan.samples;
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

    plan.format = source == TColorLayout::csGrayAlpha ? TPixelFormat::pf8bit : cm.PixelFormatFor(1);
    if (plan.format == TPixelFormat::pfCustom) Refuse(raster::kInvalidColorFormat);
    SetReaderPixelFormat(plan.format);
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

void TTIFFGraphic::ReadStripBytes(TStream& stream, TPlan& plan, TPixelBuffer& all) {
    const std::vector<int64_t>& starts = plan.starts;
    const std::vector<int64_t>& extent = plan.extent;
    int64_t total = 0;
    for (int64_t e : extent) total += e;
    if (total == 0) return;
    std::vector<int64_t> placed(starts.size());
    // Strips that lie side by side come in one piece.
    const int64_t span = starts.back() + extent.back() - starts.front();
    if (span <= total + total / 4 + 65536) {
        all = TPixelBuffer::Allocate(static_cast<size_t>(span), false);
        stream.SetPosition(starts.front());
        stream.ReadBuffer(all.data(), span);
        for (size_t k = 0; k < starts.size(); ++k) placed[k] = starts[k] - starts.front();
    } else {
        all = TPixelBuffer::Allocate(static_cast<size_t>(total), false);
        int64_t at = 0;
        for (size_t k = 0; k < starts.size(); ++k) {
            stream.SetPosition(starts[k]);
            stream.ReadBuffer(all.data() + at, extent[k]);
            placed[k] = at;
            at += extent[k];
        }
    }
    for (TPlan::Strip& strip : plan.strips)
        if (strip.length > 0)
            strip.data = all.data() +
                         placed[static_cast<size_t>(std::lower_bound(starts.begin(), starts.end(), strip.start) -
                                                    starts.begin())];
}

std::unique_ptr<TDecoder> TTIFFGraphic::MakeDecoder(const TPlan& plan, TImageProperties& properties) const {
    const TImageProperties& p = ImageProperties;
    switch (p.Compression) {
        case TCompressionType::ctPackedBits: return std::make_unique<TPackbitsRLEDecoder>();
        case TCompressionType::ctFax3:
            return std::make_unique<TCCITTFax3Decoder>(int32_t(faxOptions_), plan.reversed, false, plan.width);
        case TCompressionType::ctFaxRLE:
        case TCompressionType::ctFaxRLEW:
            return std::make_unique<TCCITTMHDecoder>(int32_t(faxOptions_), plan.reversed,
                                                     p.Compression == TCompressionType::ctFaxRLEW, plan.width);
        // A deflate stream of its own in every strip.
        case TCompressionType::ctLZ77: return std::make_unique<TTIFFDeflateDecoder>();
        case TCompressionType::ctJPEG: return std::make_unique<TTIFFJPEGDecoder>(properties);
        case TCompressionType::ctThunderscan: return std::make_unique<TThunderDecoder>(plan.width);
        default: return nullptr;
    }
}

void TTIFFGraphic::DecodeStrips(TStream& stream, TPlan& plan) {
    TImageProperties& p = ImageProperties;
    TColorManager& cm = ColorManager();
    const int32_t width = plan.width, height = plan.height;
    const uint8_t bits = plan.bits, samples = plan.samples;
    if (plan.jpeg) {
        uint32_t count = 0;
        if (const TIFDEntry* tables = Find(tagJPEGTables)) p.JPEGTables = RawValues(stream, *tables, count);
    }

    NewImage(width, height, plan.format);
    const int64_t stride = RowBytes();
    const int64_t rowBytes = plan.bytesPerRow;
    const bool packedTarget = BitsPerPixel(plan.format) < 8;
    const bool direct = plan.form != TRowForm::Convert;
    // The bytes of a row the bitmap's format fills; the rest of the row is
    // padding, which is zero, as every byte of a picture is.
    const int64_t used = direct ? rowBytes : (int64_t(width) * BitsPerPixel(plan.format) + 7) / 8;
    EndProgress();
    StartProgress(raster::kTransfering);
    // The converter is chosen now, before rows are converted on several
    // threads (and a pair of layouts without one is refused here).
    cm.ConvertPixels(nullptr, 0, nullptr, 0, 0);

    // Where the strips' bytes come from: a memory stream's own block; from
    // a file, strips that share no bytes are read by the threads that
    // decode them, each through a handle of its own; otherwise all strips'
    // bytes are read before they are decoded, each stretch of the stream once.
    std::vector<TPlan::Strip>& strips = plan.strips;
    int64_t total = 0, sum = 0;
    for (int64_t e : plan.extent) total += e;
    for (const TPlan::Strip& strip : strips) sum += strip.length;
    auto* memory = dynamic_cast<TMemoryStream*>(&stream);
    auto* file = memory == nullptr && sum == total ? dynamic_cast<TFileStream*>(&stream) : nullptr;
    TPixelBuffer all;
    if (memory != nullptr) {
        for (TPlan::Strip& strip : strips)
            if (strip.length > 0) strip.data = memory->Memory() + strip.start;
    } else if (file == nullptr) {
        ReadStripBytes(stream, plan, all);
    }

    // Fill order 2 holds for all data but JPEG strips; the fax decoders
    // turn their bits themselves.
    const bool reverseData = plan.reversed && !plan.fax && !plan.jpeg;
    // JPEG strips come out at the bitmap's row distance, straight into its
    // rows; other data a row after the other.
    const int64_t pitch = direct && plan.jpeg ? stride : rowBytes;

    // One strip into its rows of the bitmap. Its bytes, read here or before,
    // stay as they are (strips may share them).
    auto decodeStrip = [&](size_t index, TStripScratch& scratch, TFileStream* own, TDecoder* decoder,
                           TImageProperties& properties) {
        const TPlan::Strip& strip = strips[index];
        uint8_t* const first = ScanLine(static_cast<int32_t>(strip.firstRow));
        const int64_t size = strip.rows * pitch;
        // Direct rows unpack where they end up; others into rows of their
        // own, from where the colour manager takes them.
        uint8_t* rows = direct ? first : scratch.Rows(size);
        int64_t got = 0;
        if (strip.length > 0) {
            const uint8_t* packed = strip.data;
            if (decoder == nullptr && direct && own != nullptr) {
                // Stored rows read straight into the bitmap.
                got = std::min(strip.length, size);
                own->SetPosition(strip.start);
                own->ReadBuffer(rows, got);
                if (reverseData) ReverseBits(rows, got);
            } else {
                if (own != nullptr) {
                    uint8_t* read = scratch.Packed(strip.length);
                    own->SetPosition(strip.start);
                    own->ReadBuffer(read, strip.length);
                    if (reverseData) ReverseBits(read, strip.length);
                    packed = read;
                } else if (reverseData) {
                    uint8_t* turned = scratch.Packed(strip.length);
                    std::memcpy(turned, packed, static_cast<size_t>(strip.length));
                    ReverseBits(turned, strip.length);
                    packed = turned;
                }
                if (decoder != nullptr) {
                    properties.StripIndex = static_cast<int32_t>(index);
                    properties.RowIndex = static_cast<uint32_t>(strip.firstRow);
                    uint8_t* out = rows;
                    got = decoder->Decode(packed, out, strip.length, size);
                } else if (!direct && strip.length >= size) {
                    // Stored rows are converted where they lie (nothing
                    // writes to them: the predictor goes with compressed
                    // data only).
                    rows = const_cast<uint8_t*>(packed);
                    got = size;
                } else {
                    got = std::min(strip.length, size);
                    std::memcpy(rows, packed, static_cast<size_t>(got));
                }
            }
        }
        // What the data does not cover is zero.
        if (got < size) std::memset(rows + got, 0, static_cast<size_t>(size - got));
        // Rows unpacked side by side move apart to the bitmap's row distance,
        // the last first.
        if (direct && pitch != stride)
            for (int64_t r = strip.rows - 1; r > 0; --r) std::memmove(first + r * stride, first + r * pitch, size_t(pitch));
        for (int64_t r = 0; r < strip.rows; ++r) {
            uint8_t* line = first + r * stride;
            uint8_t* row = direct ? line : rows + r * pitch;
            if (plan.predictor) {
                if (bits == 8) UndoPredictor8(row, width, samples);
                else UndoPredictor16(row, width, samples, BigEndian());
            }
            switch (plan.form) {
                case TRowForm::Copy: break;
                case TRowForm::SwapRB3: SwapRedBlue(line, width, 3); break;
                case TRowForm::SwapRB4: SwapRedBlue(line, width, 4); break;
                case TRowForm::Convert:
                    if (packedTarget) std::memset(line, 0, size_t(stride));
                    cm.ConvertPixels(row, size_t(rowBytes), line, size_t(stride), static_cast<uint32_t>(width));
                    break;
            }
            std::memset(line + used, 0, size_t(stride - used));
        }
    };

    // Strips decode on several threads, each run of strips with a decoder
    // of its own. What a strip raises, and its warnings, wait until all are
    // done; then the warnings go out in strip order, and the first strip
    // that failed fails the load, as if the strips had been read in order.
    std::vector<std::exception_ptr> errors(strips.size());
    std::vector<std::vector<std::string>> warnings(strips.size());
    std::atomic<int64_t> rowsDone{0};
    int64_t rowsReported = 0;
    auto reportRows = [&] {
        const int64_t done = rowsDone.load();
        while (rowsReported < done) RowProgress(static_cast<int32_t>(++rowsReported), height);
    };
    // Fax strips with end-of-line codes decode on several threads each: when
    // there are too few strips to keep the threads busy, the strips go one
    // after another.
    const auto count = static_cast<int32_t>(strips.size());
    const bool stripsInTurn = p.Compression == TCompressionType::ctFax3 && count < 2 * par::ThreadCount();
    auto decodeRun = [&](int32_t begin, int32_t end) {
        TImageProperties properties = plan.jpeg ? p : TImageProperties{};
        properties.BytesPerRow = static_cast<int32_t>(pitch);
        std::unique_ptr<TDecoder> decoder;
        std::unique_ptr<TFileStream> own;
        TStripScratch scratch;
        size_t current = static_cast<size_t>(begin);
        try {
            if (file != nullptr) own = std::make_unique<TFileStream>(file->FileName(), fmOpenRead | fmShareDenyWrite);
            decoder = MakeDecoder(plan, properties);
            if (auto* j = dynamic_cast<TTIFFJPEGDecoder*>(decoder.get()))
                j->OnWarning = [&](const std::string& text) { warnings[current].push_back(text); };
            if (auto* f = dynamic_cast<TCCITTFax3Decoder*>(decoder.get())) f->Pieces = stripsInTurn;
            if (decoder) decoder->BeginDecode();
            for (; current < static_cast<size_t>(end); ++current) {
                decodeStrip(current, scratch, own.get(), decoder.get(), properties);
                rowsDone += strips[current].rows;
            }
            if (decoder) decoder->EndDecode();
        } catch (...) {
            errors[std::min(current, static_cast<size_t>(end) - 1)] = std::current_exception();
        }
    };
    if (stripsInTurn)
        decodeRun(0, count);
    else
        par::ForRows(count, decodeRun, [&](int32_t) { reportRows(); });
    reportRows();
    const uint64_t load = NewPictureLoad();
    for (size_t i = 0; i < strips.size(); ++i) {
        for (const std::string& text : warnings[i]) PictureWarning(load, text);
        if (errors[i]) std::rethrow_exception(errors[i]);
    }
    // Rows no strip reached are zero.
    for (int32_t y = static_cast<int32_t>(plan.rowsCovered); y < height; ++y)
        std::memset(ScanLine(y), 0, size_t(stride));
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
