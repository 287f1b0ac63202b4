#include "rasterformats/Png.h"

#include <zlib.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/core/Numeric.h"
#include "rasterformats/RasterStrings.h"

namespace {

constexpr const char* kFormatName = "PNG";
constexpr uint8_t kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
constexpr TColor kNoTransparentColor = 0x1FFFFFFF;
// Image data is read from the stream in pieces of at most this size, so a
// file stored as one huge IDAT chunk needs no buffer of its size.
constexpr uint32_t kIDATPiece = 256 * 1024;
// Deflate expands one byte into at most 1032: image data that could not
// fill the claimed rows even so is refused before the bitmap is allocated.
constexpr int64_t kMaxDeflateRatio = 1032;

uint32_t BigEndian32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint32_t BigEndian16(const uint8_t* p) { return uint32_t(p[0]) << 8 | p[1]; }

// A chunk of `length` bytes, its CRC after them, in the `left` bytes after
// its header. A length that does not fit in 31 bits or runs past the end of
// the stream is no chunk: skipping it would go backwards or nowhere, and
// reading it would size a buffer from a bare claim.
bool ChunkFits(uint32_t length, int64_t left) { return length <= 0x7FFFFFFFu && int64_t(length) + 4 <= left; }

struct PaletteDeleter {
    void operator()(TPaletteObject* p) const { DeleteObject(p); }
};

// Adam7: the seven passes of an interlaced image.
struct TPass {
    int32_t startRow, startColumn, rowStep, columnStep;
    uint8_t mask;  // pixels of each group of eight that the pass fills
};
constexpr TPass kPasses[7] = {{0, 0, 8, 8, 0x80}, {0, 4, 8, 8, 0x08}, {4, 0, 8, 4, 0x88}, {0, 2, 4, 4, 0x22},
                              {2, 0, 4, 2, 0xAA}, {0, 1, 2, 2, 0x55}, {1, 0, 2, 1, 0xFF}};

// ------------------------------------------------------------ filters

// The nearest of a, b and c to a + b - c, ties going to a, then b; no
// branches, as the choice is data and would be mispredicted half the time.
inline int32_t Paeth(int32_t a, int32_t b, int32_t c) {
    int32_t pa = b - c, pb = a - c, pc = pa + pb, sign;
    sign = pa >> 31, pa = (pa ^ sign) - sign;
    sign = pb >> 31, pb = (pb ^ sign) - sign;
    sign = pc >> 31, pc = (pc ^ sign) - sign;
    const int32_t bNearer = (pb - pa) >> 31;  // all ones when pb < pa
    const int32_t nearest = a ^ ((a ^ b) & bNearer);
    const int32_t distance = pa + ((pb - pa) & bNearer);
    const int32_t cNearer = (pc - distance) >> 31;
    return nearest ^ ((nearest ^ c) & cNearer);
}

// Byte by byte, as the filters are defined; the reference the whole-row
// versions below are checked against, and the one for 1- and 2-byte pixels.
void UndoFilterBytes(uint8_t type, uint8_t* row, const uint8_t* prior, size_t length, size_t bpp) {
    const size_t first = std::min(bpp, length);
    switch (type) {
        case 1:
            for (size_t i = bpp; i < length; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - bpp]);
            break;
        case 2:
            for (size_t i = 0; i < length; ++i) row[i] = static_cast<uint8_t>(row[i] + prior[i]);
            break;
        case 3:
            for (size_t i = 0; i < first; ++i) row[i] = static_cast<uint8_t>(row[i] + (prior[i] >> 1));
            for (size_t i = bpp; i < length; ++i)
                row[i] = static_cast<uint8_t>(row[i] + ((row[i - bpp] + prior[i]) >> 1));
            break;
        case 4:
            for (size_t i = 0; i < first; ++i) row[i] = static_cast<uint8_t>(row[i] + prior[i]);
            for (size_t i = bpp; i < length; ++i)
                row[i] = static_cast<uint8_t>(row[i] + Paeth(row[i - bpp], prior[i], prior[i - bpp]));
            break;
        default:
            break;  // 0, and types that do not exist: the row as read
    }
}

#if defined(__SSE2__)
// Pixels of 3, 4, 6 or 8 bytes a whole pixel at a time in one register: the
// filters run serially from pixel to pixel, but the bytes of one pixel are
// independent, so each step handles all of them at once.
// Built in a general register: a pixel assembled in memory from pieces
// and read back whole would stall every step on the store.
template <size_t BPP>
inline __m128i LoadPixel(const uint8_t* p) {
    if constexpr (BPP == 3) {
        uint16_t low;
        std::memcpy(&low, p, 2);
        return _mm_cvtsi32_si128(static_cast<int32_t>(low | uint32_t(p[2]) << 16));
    } else if constexpr (BPP == 4) {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return _mm_cvtsi32_si128(static_cast<int32_t>(v));
    } else if constexpr (BPP == 6) {
        uint32_t low;
        uint16_t high;
        std::memcpy(&low, p, 4);
        std::memcpy(&high, p + 4, 2);
        return _mm_cvtsi64_si128(static_cast<long long>(low | uint64_t(high) << 32));
    } else {
        uint64_t v;
        std::memcpy(&v, p, 8);
        return _mm_cvtsi64_si128(static_cast<long long>(v));
    }
}
template <size_t BPP>
inline void StorePixel(uint8_t* p, __m128i v) {
    const auto bits = static_cast<uint64_t>(_mm_cvtsi128_si64(v));
    if constexpr (BPP == 3) {
        const auto low = static_cast<uint16_t>(bits);
        std::memcpy(p, &low, 2);
        p[2] = static_cast<uint8_t>(bits >> 16);
    } else if constexpr (BPP == 6) {
        const auto low = static_cast<uint32_t>(bits);
        const auto high = static_cast<uint16_t>(bits >> 32);
        std::memcpy(p, &low, 4);
        std::memcpy(p + 4, &high, 2);
    } else {
        std::memcpy(p, &bits, BPP);
    }
}
inline __m128i Abs16(__m128i x) { return _mm_max_epi16(x, _mm_sub_epi16(_mm_setzero_si128(), x)); }
inline __m128i Select(__m128i mask, __m128i ifSet, __m128i ifClear) {
    return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, ifClear));
}

template <size_t BPP>
void UndoFilterPixels(uint8_t type, uint8_t* row, const uint8_t* prior, size_t length) {
    const __m128i zero = _mm_setzero_si128();
    const size_t end = length - length % BPP;
    switch (type) {
        case 1: {
            __m128i a = zero;
            for (size_t i = 0; i < end; i += BPP) {
                a = _mm_add_epi8(LoadPixel<BPP>(row + i), a);
                StorePixel<BPP>(row + i, a);
            }
            break;
        }
        case 3: {
            // (a + b) div 2 from the rounded-up average.
            const __m128i one = _mm_set1_epi8(1);
            __m128i a = zero;
            for (size_t i = 0; i < end; i += BPP) {
                const __m128i b = LoadPixel<BPP>(prior + i);
                const __m128i average = _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), one));
                a = _mm_add_epi8(LoadPixel<BPP>(row + i), average);
                StorePixel<BPP>(row + i, a);
            }
            break;
        }
        case 4: {
            // In 16-bit lanes, where the distances fit.
            __m128i a = zero, c = zero;
            for (size_t i = 0; i < end; i += BPP) {
                const __m128i b = _mm_unpacklo_epi8(LoadPixel<BPP>(prior + i), zero);
                __m128i pa = _mm_sub_epi16(b, c), pb = _mm_sub_epi16(a, c);
                const __m128i pc = Abs16(_mm_add_epi16(pa, pb));
                pa = Abs16(pa);
                pb = Abs16(pb);
                const __m128i bNearer = _mm_cmplt_epi16(pb, pa);
                const __m128i nearest = Select(bNearer, b, a);
                const __m128i cNearer = _mm_cmplt_epi16(pc, _mm_min_epi16(pa, pb));
                const __m128i predicted = Select(cNearer, c, nearest);
                const __m128i x = _mm_add_epi8(LoadPixel<BPP>(row + i), _mm_packus_epi16(predicted, predicted));
                StorePixel<BPP>(row + i, x);
                a = _mm_unpacklo_epi8(x, zero);
                c = b;
            }
            break;
        }
        default:
            UndoFilterBytes(type, row, prior, length, BPP);
            break;
    }
}
#endif

}  // namespace

void ApplyPNGFilterBytes(uint8_t filterType, uint8_t* row, const uint8_t* prior, size_t length, uint32_t bpp) {
    UndoFilterBytes(filterType, row, prior, length, bpp);
}

void ApplyPNGFilter(uint8_t filterType, uint8_t* row, const uint8_t* prior, size_t length, uint32_t bpp) {
#if defined(__SSE2__)
    switch (bpp) {
        case 3: UndoFilterPixels<3>(filterType, row, prior, length); return;
        case 4: UndoFilterPixels<4>(filterType, row, prior, length); return;
        case 6: UndoFilterPixels<6>(filterType, row, prior, length); return;
        case 8: UndoFilterPixels<8>(filterType, row, prior, length); return;
        default: break;
    }
#endif
    UndoFilterBytes(filterType, row, prior, length, bpp);
}

uint8_t PaethPredictor(uint8_t a, uint8_t b, uint8_t c) { return static_cast<uint8_t>(Paeth(a, b, c)); }

// ------------------------------------------------------------ load state

struct TPNGGraphic::TPNGGraphicState {
    // Current chunk.
    bool haveChunk = false;  // false once the stream has ended
    uint32_t length = 0;
    uint8_t type[4] = {};
    uint32_t crc = 0;  // running CRC of the chunk: type, then the data read
    std::vector<uint8_t> buffer;

    // IHDR.
    uint32_t width = 0, height = 0;
    uint8_t bitDepth = 0, colorType = 0, interlace = 0;

    // Image data: what is left of the current IDAT chunk in the stream, and
    // of the piece of it in the buffer that the decoder has not taken yet.
    std::unique_ptr<TLZ77Decoder> decoder;
    TStream* stream = nullptr;
    uint32_t idatLeft = 0;
    const uint8_t* input = nullptr;
    size_t inputLeft = 0;
    bool imageDone = false;

    uint32_t bytesPerPixel = 0;
    std::unique_ptr<TPaletteObject, PaletteDeleter> palette;
    TColor transparentColor = kNoTransparentColor;
};

// ------------------------------------------------------------ TPNGGraphic

QUILLARC_DEFINE_RASTER_GRAPHIC(TPNGGraphic, TRasterGraphic)

TPNGGraphic::TPNGGraphic() : state_(std::make_unique<TPNGGraphicState>()) {}
TPNGGraphic::~TPNGGraphic() = default;

bool TPNGGraphic::AcceptsStream(TStream& stream) {
    if (BytesLeft(stream) <= 8) return false;
    uint8_t bytes[8];
    return PeekBytes(stream, bytes, 8) && std::memcmp(bytes, kSignature, 8) == 0;
}

bool TPNGGraphic::IsChunk(const char* type) const {
    // Letter case does not count: bit 5 of each type byte is ignored.
    for (int i = 0; i < 4; ++i)
        if ((state_->type[i] & 0xDF) != (static_cast<uint8_t>(type[i]) & 0xDF)) return false;
    return true;
}

bool TPNGGraphic::ReadChunkHeader(TStream& stream) {
    TPNGGraphicState& s = *state_;
    uint8_t header[8];
    // A stream that ends (also in a header) ends the chunk list: files
    // without IEND are common.
    if (stream.Read(header, 8) != 8) {
        s.haveChunk = false;
        return false;
    }
    s.length = BigEndian32(header);
    std::memcpy(s.type, header + 4, 4);
    s.crc = static_cast<uint32_t>(crc32(0, s.type, 4));
    if (!ChunkFits(s.length, BytesLeft(stream)))
        RaiseInvalidGraphicFmt(raster::kInvalidImage, kFormatName);
    s.haveChunk = true;
    return true;
}

void TPNGGraphic::ReadChunkData(TStream& stream) {
    TPNGGraphicState& s = *state_;
    s.buffer.resize(s.length);
    stream.ReadBuffer(s.buffer.data(), s.length);
    uint8_t stored[4];
    stream.ReadBuffer(stored, 4);
    s.crc = static_cast<uint32_t>(crc32(s.crc, s.buffer.data(), s.length));
    if (s.crc != BigEndian32(stored)) RaiseInvalidGraphicFmt(raster::kCRCError, kFormatName);
}

void TPNGGraphic::SkipChunk(TStream& stream) { stream.Seek(int64_t(state_->length) + 4, TSeekOrigin::soCurrent); }

bool TPNGGraphic::ReadImageInfo(TStream& stream, int index) {
    TRasterGraphic::ReadImageInfo(stream, index);
    uint8_t signature[8];
    if (stream.Read(signature, 8) != 8 || std::memcmp(signature, kSignature, 8) != 0) return false;
    if (!ReadChunkHeader(stream) || !IsChunk("IHDR") || state_->length != 13) return false;
    TImageProperties& p = ImageProperties;
    p.Options |= ioBigEndian;
    ReadChunkData(stream);
    const uint8_t* h = state_->buffer.data();
    const uint32_t width = BigEndian32(h), height = BigEndian32(h + 4);
    if (width == 0 || height == 0 || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu) return false;
    const uint8_t depth = h[8], colorType = h[9];
    p.Width = static_cast<int32_t>(width);
    p.Height = static_cast<int32_t>(height);
    p.Compression = h[10] == 0 ? TCompressionType::ctLZ77 : TCompressionType::ctUnknown;
    p.BitsPerSample = depth;
    p.SamplesPerPixel = 1;
    switch (colorType) {
        case 0: p.ColorScheme = TColorLayout::csGray; break;
        case 2: p.ColorScheme = TColorLayout::csRGB, p.SamplesPerPixel = 3; break;
        case 3: p.ColorScheme = TColorLayout::csIndexed; break;
        case 4: p.ColorScheme = TColorLayout::csGrayAlpha; break;
        case 6: p.ColorScheme = TColorLayout::csRGBA, p.SamplesPerPixel = 4; break;
        default: p.ColorScheme = TColorLayout::csNone; break;
    }
    p.BitsPerPixel = static_cast<uint8_t>(p.SamplesPerPixel * depth);
    p.FilterMode = h[11];
    p.Interlaced = h[12] != 0;
    p.HasAlpha = p.ColorScheme == TColorLayout::csGrayAlpha || p.ColorScheme == TColorLayout::csRGBA ||
                 p.ColorScheme == TColorLayout::csBGRA;
    // The gamma, if a gAMA chunk comes before the end.
    while (ReadChunkHeader(stream)) {
        if (IsChunk("gAMA") && state_->length >= 4) {
            ReadChunkData(stream);
            p.FileGamma = static_cast<float>(BigEndian32(state_->buffer.data()) / 100000.0);
            return true;
        }
        SkipChunk(stream);
        if (IsChunk("IEND")) return true;
    }
    return true;
}

uint32_t TPNGGraphic::SetupColorDepth(uint8_t colorType, uint8_t bitDepth) {
    TColorManager& cm = ColorManager();
    auto depthIn = [bitDepth](std::initializer_list<uint8_t> depths) {
        return std::find(depths.begin(), depths.end(), bitDepth) != depths.end();
    };
    auto sides = [&cm](TColorLayout source, TColorLayout target, uint8_t samples, uint8_t sourceBits,
                       uint8_t targetBits) {
        cm.SetSourceLayout(source);
        cm.SetTargetLayout(target);
        cm.SetSourceSampleCount(samples);
        cm.SetTargetSampleCount(samples);
        cm.SetSourceSampleBits(sourceBits);
        cm.SetTargetSampleBits(targetBits);
    };
    switch (colorType) {
        case 0:
            if (!depthIn({1, 2, 4, 8, 16})) break;
            sides(TColorLayout::csGray, TColorLayout::csGray, 1, bitDepth,
                  bitDepth == 2 ? 4 : (bitDepth == 16 ? 8 : bitDepth));
            SetReaderPixelFormat(cm.PixelFormatFor(1));
            SetPalette(cm.BuildGrayPalette(false));
            return (bitDepth + 7u) / 8;
        case 2:
            if (!depthIn({8, 16})) break;
            sides(TColorLayout::csRGB, TColorLayout::csBGR, 3, bitDepth, 8);
            SetReaderPixelFormat(TPixelFormat::pf24bit);
            return bitDepth * 3u / 8;
        case 3:
            if (!depthIn({1, 2, 4, 8})) break;
            sides(TColorLayout::csIndexed, TColorLayout::csIndexed, 1, bitDepth, bitDepth == 2 ? 4 : bitDepth);
            SetReaderPixelFormat(cm.PixelFormatFor(1));
            return 1;
        case 4:
            // Grey with alpha is read as grey: the alpha is dropped.
            if (!depthIn({8, 16})) break;
            sides(TColorLayout::csGrayAlpha, TColorLayout::csIndexed, 1, bitDepth, 8);
            SetReaderPixelFormat(TPixelFormat::pf8bit);
            SetPalette(cm.BuildGrayPalette(false));
            return bitDepth * 2u / 8;
        case 6:
            if (!depthIn({8, 16})) break;
            sides(TColorLayout::csRGBA, TColorLayout::csBGRA, 4, bitDepth, 8);
            SetReaderPixelFormat(TPixelFormat::pf32bit);
            return bitDepth * 4u / 8;
        default:
            break;
    }
    RaiseInvalidGraphicFmt(raster::kInvalidColorFormat, kFormatName);
}

void TPNGGraphic::ReadTransparency() {
    TPNGGraphicState& s = *state_;
    const std::vector<uint8_t>& d = s.buffer;
    auto sample = [&s](const uint8_t* p) -> uint8_t {
        const uint32_t v = BigEndian16(p);
        return static_cast<uint8_t>(s.bitDepth == 2 ? v * 15 / 3 : (s.bitDepth == 16 ? v * 255 / 65535 : v & 0xFF));
    };
    // Palette and alpha images carry their transparency in the pixels' own
    // samples; the chunk is read and not used for them.
    if (s.colorType == 0 && d.size() >= 2) {
        const uint8_t v = sample(d.data());
        s.transparentColor = RGB(v, v, v);
    } else if (s.colorType == 2 && d.size() >= 6) {
        s.transparentColor = RGB(sample(d.data()), sample(d.data() + 2), sample(d.data() + 4));
    }
}

int64_t TPNGGraphic::IDATBytes(TStream& stream) {
    const int64_t at = stream.Position(), size = stream.Size();
    int64_t total = state_->length, next = at + int64_t(state_->length) + 4;
    uint8_t header[8];
    for (;;) {
        stream.SetPosition(next);
        if (stream.Read(header, 8) != 8) break;
        // A length the stream cannot hold refuses the file when its header
        // is read; here, before the picture is sized from it.
        const uint32_t length = BigEndian32(header);
        if (!ChunkFits(length, size - (next + 8)))
            RaiseInvalidGraphicFmt(raster::kInvalidImage, kFormatName);
        if ((BigEndian32(header + 4) & 0xDFDFDFDF) != 0x49444154) break;
        total += length;
        next += 12 + int64_t(length);
    }
    stream.SetPosition(at);
    return total;
}

bool TPNGGraphic::RefillIDAT() {
    TPNGGraphicState& s = *state_;
    TStream& stream = *s.stream;
    while (s.haveChunk && IsChunk("IDAT")) {
        if (s.idatLeft > 0) {
            const uint32_t piece = std::min(s.idatLeft, kIDATPiece);
            if (s.buffer.size() < piece) s.buffer.resize(piece);
            stream.ReadBuffer(s.buffer.data(), piece);
            s.crc = static_cast<uint32_t>(crc32(s.crc, s.buffer.data(), piece));
            s.idatLeft -= piece;
            s.input = s.buffer.data();
            s.inputLeft = piece;
            if (s.idatLeft > 0) return true;
        } else {
            s.inputLeft = 0;  // an empty chunk: only its CRC
        }
        // The chunk is read: its CRC, then the header of the next chunk.
        uint8_t stored[4];
        stream.ReadBuffer(stored, 4);
        if (s.crc != BigEndian32(stored)) RaiseInvalidGraphicFmt(raster::kCRCError, kFormatName);
        if (ReadChunkHeader(stream) && IsChunk("IDAT")) s.idatLeft = s.length;
        if (s.inputLeft > 0) return true;
    }
    return false;
}

void TPNGGraphic::DecodeRow(uint8_t* dest, size_t count) {
    TPNGGraphicState& s = *state_;
    TLZ77Decoder& decoder = *s.decoder;
    size_t done = 0;
    while (done < count) {
        // Image data that ends early leaves the rest of the rows zero; the
        // decoder is never called without input.
        if (s.inputLeft == 0 && !RefillIDAT()) {
            std::memset(dest + done, 0, count - done);
            return;
        }
        const uint8_t* source = s.input;
        uint8_t* out = dest + done;
        decoder.Decode(source, out, int64_t(s.inputLeft), int64_t(count - done));
        const size_t consumed = static_cast<size_t>(source - s.input);
        const size_t produced = static_cast<size_t>(out - (dest + done));
        s.input = source;
        s.inputLeft -= consumed;
        done += produced;
        if (decoder.Result() == kZlibStreamEnd) {
            if (done < count || s.inputLeft > 0 || s.idatLeft > 0)
                RaiseInvalidGraphicFmt(raster::kExtraCompressedData, kFormatName);
            return;
        }
        if (decoder.Result() != kZlibOK || (consumed == 0 && produced == 0))
            RaiseInvalidGraphicFmt(raster::kCompressionError, kFormatName);
    }
}

void TPNGGraphic::LoadIDAT(TStream& stream) {
    TPNGGraphicState& s = *state_;
    StartProgress(raster::kTransfering);
    if (PixelFormat() == TPixelFormat::pfDevice) s.bytesPerPixel = SetupColorDepth(s.colorType, s.bitDepth);
    const uint32_t sampleBytes = s.bitDepth == 16 ? s.bytesPerPixel / 2 : s.bytesPerPixel;
    if (s.palette) SetPalette(s.palette.release());
    const int32_t width = static_cast<int32_t>(s.width), height = static_cast<int32_t>(s.height);
    const size_t rowSize = (size_t(width) * s.bitDepth + 7) / 8 * sampleBytes + 1;
    if (int64_t(rowSize) * height > IDATBytes(stream) * kMaxDeflateRatio + kMaxDeflateRatio)
        RaiseInvalidGraphicFmt(raster::kInvalidImage, kFormatName);
    auto passRowSize = [&](const TPass& p) {
        const size_t passWidth = size_t(width + p.columnStep - p.startColumn - 1) / p.columnStep;
        return (passWidth * s.bitDepth + 7) / 8 * sampleBytes + 1;
    };

    s.stream = &stream;
    s.idatLeft = s.length;
    s.inputLeft = 0;
    std::vector<uint8_t> rows(2 * rowSize, 0);
    uint8_t* current = rows.data();
    uint8_t* prior = rows.data() + rowSize;
    // The first row comes before the picture is allocated: image data that
    // does not even inflate is refused without it.
    DecodeRow(current, s.interlace == 1 ? passRowSize(kPasses[0]) : rowSize);
    bool decodedAhead = true;

    // Every pixel is written below, rows the data does not reach as zero, so
    // the picture is not filled with the background colour first: it could
    // never show. A row's padding is zeroed as the row is written; rows of
    // an interlaced image are written a few pixels at a time, so theirs
    // first.
    NewImage(width, height, PixelFormat());
    if (s.interlace == 1) ZeroRowPadding();
    if (s.transparentColor != kNoTransparentColor) {
        SetTransparentColor(s.transparentColor);
        SetTransparent(true);
    }
    TColorManager& cm = ColorManager();
    const size_t stride = static_cast<size_t>(RowBytes());
    const size_t whole = size_t(width) * BitsPerPixel(PixelFormat()) / 8;
    auto row = [&](int32_t y, size_t size, uint8_t mask) {
        if (!decodedAhead) DecodeRow(current, size);
        decodedAhead = false;
        ApplyPNGFilter(current[0], current + 1, prior + 1, size - 1, s.bytesPerPixel);
        uint8_t* line = ScanLine(y);
        if (mask == 0xFF) std::memset(line + whole, 0, stride - whole);
        cm.ConvertPixels(current + 1, size - 1, line, stride, static_cast<uint32_t>(width), mask);
        std::swap(current, prior);
    };
    if (s.interlace == 1) {
        for (int pass = 0; pass < 7; ++pass) {
            const TPass& p = kPasses[pass];
            if (p.startColumn >= width) continue;
            const size_t size = passRowSize(p);
            std::fill_n(prior, size, 0);
            for (int32_t y = p.startRow; y < height; y += p.rowStep) {
                row(y, size, p.mask);
                if (pass == 6) RowProgress(y + 1, height);
            }
        }
    } else {
        for (int32_t y = 0; y < height; ++y) {
            row(y, rowSize, 0xFF);
            RowProgress(y, height);
        }
    }
    // Image data after the last row is read for its CRC only.
    while (RefillIDAT()) s.inputLeft = 0;
    s.imageDone = true;
}

void TPNGGraphic::LoadImage(TStream& stream) {
    ReadHeader(stream, kFormatName);
    state_ = std::make_unique<TPNGGraphicState>();
    TPNGGraphicState& s = *state_;
    stream.SetPosition(BasePosition() + 8);
    StartProgress(raster::kPreparing);
    SetTransparent(false);

    ReadChunkHeader(stream);
    ReadChunkData(stream);
    const uint8_t* h = s.buffer.data();
    s.width = BigEndian32(h);
    s.height = BigEndian32(h + 4);
    s.bitDepth = h[8];
    s.colorType = h[9];
    s.interlace = h[12];
    TColorManager& cm = ColorManager();
    cm.SourceFlags = cfByteSwap;
    if (ImageProperties.Compression != TCompressionType::ctLZ77)
        throw EInvalidGraphic(Format(raster::kNotSupported, raster::kCompressionScheme, kFormatName));

    s.decoder = std::make_unique<TLZ77Decoder>(Z_PARTIAL_FLUSH, false);
    s.decoder->BeginDecode();
    try {
        bool more = ReadChunkHeader(stream);
        while (more) {
            if (!s.imageDone && IsChunk("IDAT")) {
                EndProgress();
                LoadIDAT(stream);
                more = s.haveChunk;  // LoadIDAT read the header of the chunk after the image data
                if (!more) break;
            } else if (!s.imageDone && IsChunk("PLTE")) {
                if (s.length % 3 != 0) RaiseInvalidGraphicFmt(raster::kInvalidPalette, kFormatName);
                ReadChunkData(stream);
                if (s.colorType == 3) {
                    s.bytesPerPixel = SetupColorDepth(3, s.bitDepth);
                    const TRowPlane entries{s.buffer.data(), s.buffer.size()};
                    s.palette.reset(
                        cm.BuildColorPalette(std::span<const TRowPlane>(&entries, 1), 0, s.length / 3, false));
                }
                more = ReadChunkHeader(stream);
                continue;
            } else if (!s.imageDone && IsChunk("gAMA")) {
                ReadChunkData(stream);
                // A chunk too short for its value is passed over.
                if (s.length >= 4) {
                    cm.SetGammaCurve(static_cast<float>(BigEndian32(s.buffer.data()) / 100000.0), 2.2f);
                    // The common gamma of 1/2.2 makes a curve that maps every
                    // value to itself: the rows need not go through it.
                    const std::array<uint8_t, 256>& curve = cm.GammaCurve();
                    bool identity = true;
                    for (size_t i = 0; i < curve.size(); ++i) identity = identity && curve[i] == i;
                    if (identity) cm.TargetFlags &= static_cast<TColorFlags>(~cfApplyGamma);
                    else cm.TargetFlags |= cfApplyGamma;
                    ImageProperties.Options |= ioUseGamma;
                }
                more = ReadChunkHeader(stream);
                continue;
            } else if (!s.imageDone && IsChunk("bKGD")) {
                // Read for its CRC only: every pixel is written, so a
                // background colour could never show.
                ReadChunkData(stream);
                more = ReadChunkHeader(stream);
                continue;
            } else if (!s.imageDone && IsChunk("tRNS")) {
                ReadChunkData(stream);
                ReadTransparency();
                more = ReadChunkHeader(stream);
                continue;
            }
            // Any other chunk, and every chunk after the image data: skipped
            // unread. Critical ones stop the load; after the image data that
            // includes a second run of IDAT chunks.
            SkipChunk(stream);
            if (IsChunk("IEND")) break;
            if ((s.type[0] & 0x20) == 0) RaiseInvalidGraphic(raster::kUnknownCriticalChunk);
            more = ReadChunkHeader(stream);
        }
        // A chunk list without image data has no picture to show.
        if (!s.imageDone) RaiseInvalidGraphicFmt(raster::kInvalidImage, kFormatName);
    } catch (...) {
        try {
            s.decoder->EndDecode();
        } catch (const Exception&) {
        }
        state_ = std::make_unique<TPNGGraphicState>();
        EndProgress();
        throw;
    }
    s.decoder->EndDecode();
    state_ = std::make_unique<TPNGGraphicState>();
    EndProgress();
}
