#include "rasterformats/TIFFStrips.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <tuple>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "platform/core/LoadWork.h"
#include "platform/core/Parallel.h"
#include "platform/core/PixelBuffer.h"
#include "platform/core/Simd.h"
#include "rasterformats/FaxDecoders.h"
#include "rasterformats/RasterColor.h"
#include "rasterformats/RasterStrings.h"
#include "rasterformats/TIFFDeflateDecoder.h"
#include "rasterformats/TIFFJPEGDecoder.h"
#include "rasterformats/ThunderDecoder.h"

namespace {

[[noreturn]] void Refuse() { RaiseInvalidGraphicFmt(raster::kInvalidImage, "TIF/TIFF"); }

// Packed rows are unpacked, undone and converted in bands of about this
// many bytes, so that each step finds the bytes of the step before it still
// in the cache, however large the strip; stored rows go in pieces of four
// bands, read straight into the bitmap. Packed bytes are read from a file
// a mebibyte at a time: the system copies a file's bytes out faster in
// large reads than in many small ones.
constexpr int64_t kBandBytes = int64_t(64) << 10;
constexpr int64_t kPieceBytes = 4 * kBandBytes;
constexpr int64_t kReadBytes = int64_t(1) << 20;

// Packed strips may put at most twice the bytes they take in the file,
// and 64 KiB, through the decoders: strips that start at the same place and
// differ in length or rows each decode those bytes again.
constexpr int64_t kMostDecodedShare = 2;
// Deflate's most: no scheme here unpacks a byte of the file to more bytes
// of rows (fax rows of up to 8,256 pixels, JPEG of up to 344 colour pixels
// a byte). A small picture is taken whatever its file holds.
constexpr int64_t kMostUnpackedPerByte = 1032;
constexpr int64_t kUnbackedRowBytes = int64_t(1) << 20;
constexpr int64_t kDecodedLeeway = int64_t(64) << 10;

// The most `bytes` bytes of a strip can unpack to under the scheme. A
// PackBits run of two bytes gives 128; deflate gives at most 258 bytes for
// two bits; a fax line takes at least a byte (an end-of-line code has 12
// bits, a modified Huffman line starts on a fresh byte); a ThunderScan byte
// puts at most 63 pixels of 4 bits. JPEG data is the JPEG decoder's to
// judge.
int64_t MostUnpacked(TCompressionType scheme, int64_t bytes, int64_t bytesPerRow) {
    int64_t factor = 1;
    switch (scheme) {
        case TCompressionType::ctPackedBits: factor = 64; break;
        case TCompressionType::ctLZ77: factor = 1032; break;
        case TCompressionType::ctFax3:
        case TCompressionType::ctFaxRLE:
        case TCompressionType::ctFaxRLEW: factor = bytesPerRow; break;
        case TCompressionType::ctThunderscan: factor = 32; break;
        default: break;
    }
    const int64_t most = raster::CheckedMul(bytes, factor);
    return most < 0 ? INT64_MAX : most;
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

#if QUILLARC_X86
// The predictor on 8-bit samples, 1, 3 or 4 to a pixel, five pixels of 3
// (else 16 bytes) a step: each step adds its pixels up among themselves
// by shifts of one, two and four pixels, then adds the last pixel of the
// step before. Returns the bytes done; the rest are the caller's.
template <int kStride>
QUILLARC_AVX2 int64_t UndoPredictor8Avx2(uint8_t* row, int64_t bytes) {
    constexpr int kStep = kStride == 3 ? 15 : 16;
    alignas(16) uint8_t last[16];
    for (int i = 0; i < 16; ++i) last[i] = static_cast<uint8_t>(kStep - kStride + i % kStride);
    const __m128i spread = _mm_load_si128(reinterpret_cast<const __m128i*>(last));
    __m128i carry = _mm_setzero_si128();
    int64_t i = 0;
    // A step reads 16 bytes; with pixels of 3 the 16th is the next step's,
    // read before this step writes over it.
    if (bytes < 16) return 0;
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row));
    for (; i + kStep + 16 <= bytes; i += kStep) {
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i + kStep));
        x = _mm_add_epi8(x, _mm_slli_si128(x, kStride));
        x = _mm_add_epi8(x, _mm_slli_si128(x, 2 * kStride));
        if constexpr (kStride != 4) x = _mm_add_epi8(x, _mm_slli_si128(x, 4 * kStride));
        if constexpr (kStride == 1) x = _mm_add_epi8(x, _mm_slli_si128(x, 8));
        x = _mm_add_epi8(x, carry);
        carry = _mm_shuffle_epi8(x, spread);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), x);
        x = next;
    }
    // The byte the last step wrote over, as it was.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), x);
    return i;
}
#endif

void UndoPredictor8(uint8_t* row, int64_t pixels, int64_t stride) {
    if (pixels < 2) return;
#if QUILLARC_X86
    // The vector steps take the row up to its last step or so; the plain
    // loop goes on from the pixel before.
    if (simd::Avx2() && (stride == 1 || stride == 3 || stride == 4)) {
        const int64_t done = stride == 1   ? UndoPredictor8Avx2<1>(row, pixels)
                             : stride == 3 ? UndoPredictor8Avx2<3>(row, 3 * pixels)
                                           : UndoPredictor8Avx2<4>(row, 4 * pixels);
        if (done > 0) {
            row += done - stride;
            pixels -= done / stride - 1;
        }
    }
#endif
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

// Red and blue traded in place in `count` pixels of 3 or 4 bytes.
void SwapRedBlue(uint8_t* row, int64_t count, int pixelBytes) {
    int64_t i = 0;
#if QUILLARC_X86
    if (simd::Avx2()) i = pixelBytes == 3 ? SwapRedBlue3Avx2(row, count) : SwapRedBlue4Avx2(row, count);
#endif
    for (uint8_t* p = row + i * pixelBytes; i < count; ++i, p += pixelBytes) std::swap(p[0], p[2]);
}

// Bytes whose first pixel sits in the least significant bit (fill order
// 2) turned the usual way round, from `from` to `to` (which may be the same).
void ReverseBits(const uint8_t* from, uint8_t* to, int64_t count) {
    static const auto table = [] {
        std::array<uint8_t, 256> t{};
        for (int i = 0; i < 256; ++i) {
            int r = 0;
            for (int b = 0; b < 8; ++b) r |= ((i >> b) & 1) << (7 - b);
            t[size_t(i)] = static_cast<uint8_t>(r);
        }
        return t;
    }();
    for (int64_t i = 0; i < count; ++i) to[i] = table[from[i]];
}

// Where `start` is among the distinct starts, in order. Strips mostly
// follow one another in the file: the place after the last one found is
// tried first.
size_t StartIndex(const std::vector<int64_t>& starts, int64_t start, size_t& last) {
    if (last + 1 < starts.size() && starts[last + 1] == start) return ++last;
    if (last >= starts.size() || starts[last] != start)
        last = static_cast<size_t>(std::lower_bound(starts.begin(), starts.end(), start) - starts.begin());
    return last;
}

// Rows that the colour manager converts, packed bytes turned, and bytes
// read from the file: blocks kept from strip to strip of a run and never
// cleared (every byte used is written first).
class TStripScratch {
public:
    uint8_t* Rows(int64_t size) { return Fit(rows_, size); }
    uint8_t* Turned(int64_t size) { return Fit(turned_, size); }
    uint8_t* Read(int64_t size) { return Fit(read_, size); }

private:
    struct TBlock {
        std::unique_ptr<uint8_t[]> data;
        int64_t capacity = 0;
    };
    static uint8_t* Fit(TBlock& block, int64_t size) {
        if (size > block.capacity) {
            block.data.reset();
            block.data.reset(new uint8_t[static_cast<size_t>(size)]);
            block.capacity = size;
        }
        return block.data.get();
    }
    TBlock rows_, turned_, read_;
};

}  // namespace

// ------------------------------------------------------------ the table

TTIFFStrips::TTIFFStrips(const TTIFFStripFormat& format, const std::vector<uint32_t>& offsets,
                         const std::vector<uint32_t>& byteCounts, const std::vector<uint32_t>& rowsPerStrip,
                         int64_t base, int64_t streamSize,
                         const std::function<int64_t(int64_t start, int64_t bytes, int64_t enough)>& mostOfJPEG)
    : format_(format) {
    const bool packed = format.scheme != TCompressionType::ctNone;
    const int64_t bytesPerRow = format.bytesPerRow;
    // Packed strips need their lengths.
    if (offsets.empty() || rowsPerStrip.empty() || (packed && byteCounts.size() < offsets.size())) Refuse();

    // Rows run on from strip to strip, and strips past the last row are not
    // read. A strip that starts past the end of the stream is empty.
    int64_t rowIndex = 0;
    for (size_t i = 0; i < offsets.size() && rowIndex < format.height; ++i) {
        const uint32_t stripRows = rowsPerStrip[std::min(i, rowsPerStrip.size() - 1)];
        const int64_t rows = std::min<int64_t>(stripRows, int64_t(format.height) - rowIndex);
        if (rows == 0) continue;
        const int64_t start = base + offsets[i];
        const int64_t available = start < streamSize ? streamSize - start : 0;
        const int64_t stated = packed ? byteCounts[i] : rows * bytesPerRow;
        strips_.push_back(TStrip{start, std::min(stated, available), stated, rows, rowIndex, -1});
        rowIndex += rows;
    }
    rowsCovered_ = rowIndex;

    // Each stretch of the stream belongs to one start: a strip ends where
    // the next one begins (strips that overlap are cut there, the rest of
    // their rows black; strips that start at the same place share their
    // bytes), so no more than the stream is ever read or held.
    for (const TStrip& strip : strips_)
        if (strip.length > 0) starts_.push_back(strip.start);
    std::sort(starts_.begin(), starts_.end());
    starts_.erase(std::unique(starts_.begin(), starts_.end()), starts_.end());
    extent_.assign(starts_.size(), 0);
    std::vector<int64_t> rowsAt(starts_.size(), 0);
    std::vector<int32_t> stripsAt(starts_.size(), 0);
    size_t last = 0;
    for (TStrip& strip : strips_) {
        if (strip.length == 0) continue;
        const size_t k = StartIndex(starts_, strip.start, last);
        if (k + 1 < starts_.size()) strip.length = std::min(strip.length, starts_[k + 1] - strip.start);
        extent_[k] = std::max(extent_[k], strip.length);
        rowsAt[k] += strip.rows;
        ++stripsAt[k];
    }

    // What the bytes can stand for, each stretch of the stream counted once,
    // for the rows of the strips that start there: a picture they cannot
    // back is refused before anything is allocated.
    if (bytesPerRow > 0) {
        int64_t backed = 0;
        for (size_t k = 0; k < starts_.size(); ++k) {
            const int64_t most = format.scheme == TCompressionType::ctJPEG
                                     ? mostOfJPEG(starts_[k], extent_[k], rowsAt[k] * bytesPerRow)
                                     : MostUnpacked(format.scheme, extent_[k], bytesPerRow);
            const int64_t bytes = std::min(rowsAt[k] * bytesPerRow, most);
            backed += bytes / bytesPerRow * format.width + bytes % bytesPerRow * format.width / bytesPerRow;
        }
        if (!ClaimBacked(int64_t(format.width) * format.height, backed)) Refuse();
        // Rows read as black make a cut file whole, not a small file large:
        // with them the picture still comes to no more than the most any
        // scheme here unpacks the file's bytes to.
        const int64_t most = raster::CheckedMul(streamSize, kMostUnpackedPerByte);
        if (most >= 0 && int64_t(format.height) * bytesPerRow > most + kUnbackedRowBytes) Refuse();
    }

    // Strips with the same bytes and rows give the same rows: a later one
    // takes the first one's. A JPEG strip is also checked against the rows
    // its index and first row give.
    std::map<std::tuple<int64_t, int64_t, int64_t, int64_t>, int32_t> first;
    int64_t decoded = 0, taken = 0;
    for (int64_t e : extent_) taken += e;
    last = 0;
    for (size_t i = 0; i < strips_.size(); ++i) {
        TStrip& strip = strips_[i];
        if (strip.length == 0) continue;
        if (stripsAt[StartIndex(starts_, strip.start, last)] == 1) {
            if (packed) decoded += strip.length;
            continue;
        }
        const int64_t jpegRows = format.scheme == TCompressionType::ctJPEG
                                     ? std::min<int64_t>(rowsPerStrip[std::min(i, rowsPerStrip.size() - 1)],
                                                         int64_t(format.height) - strip.firstRow)
                                     : 0;
        const auto [at, added] = first.try_emplace({strip.start, strip.length, strip.rows, jpegRows}, int32_t(i));
        if (!added) strip.repeats = at->second;
        else if (packed) decoded += strip.length;
    }
    if (decoded > kMostDecodedShare * taken + kDecodedLeeway) Refuse();
}

TTIFFStrips::~TTIFFStrips() = default;

// ------------------------------------------------------------ decoding

// What the workers share: where the rows go and how they get there, and
// where each strip's bytes are (a block in memory, or the file, which each
// worker reads through a handle of its own).
struct TTIFFStrips::TJob {
    TTIFFStrips::TTarget target;
    TColorManager* colors;
    const TImageProperties* properties;
    std::vector<const uint8_t*> data;
    std::string fileName;  // empty: the bytes are in data
    bool direct;           // rows unpacked into the bitmap's rows
    bool reverse;          // packed bytes turned first
    bool faxPieces;
    int64_t pitch;  // distance of unpacked rows
};

// One thread's run of pieces, with a decoder and scratch blocks of its own.
class TTIFFStrips::TWorker {
public:
    TWorker(const TTIFFStrips& strips, const TJob& job, int64_t runEnd)
        : s_(strips), f_(strips.format_), job_(job), runEnd_(runEnd) {}

    // The decoder's set-up; its warnings go with the run's first piece.
    void Begin(std::vector<std::string>& warnings);
    // Rows [row, row + rows) from a strip on: all of a packed strip; stored
    // rows, `have` bytes of them there, which may run on into the strips
    // after it.
    void Run(int32_t strip, int64_t row, int64_t rows, int64_t have, std::vector<std::string>& warnings);
    void End() {
        if (decoder_) decoder_->EndDecode();
    }

private:
    uint8_t* Line(int64_t row) const { return job_.target.pixels + row * job_.target.stride; }
    // count bytes of a strip's data from `from` on, valid until the next
    // call: from memory where they lie; from the file through a window read
    // ahead up to the end of the run's strips, so that strips that follow
    // one another in the file come in one read.
    const uint8_t* Bytes(int32_t index, int64_t from, int64_t count);
    // How many bytes from `from` on the window holds already; a window's
    // worth where it holds none.
    int64_t Held(int32_t index, int64_t from) const {
        const int64_t at = s_.strips_[size_t(index)].start + from;
        return own_ && at >= windowStart_ && at < windowStart_ + windowSize_ ? windowStart_ + windowSize_ - at
                                                                             : kReadBytes;
    }
    // The same bytes turned where the fill order asks for it, in a block of
    // their own.
    const uint8_t* Packed(int32_t index, int64_t from, int64_t count);
    void Stored(int32_t index, int64_t row, int64_t rows, int64_t have);
    void PackBits(int32_t index);
    void Whole(int32_t index);
    void Finish(uint8_t* rows, uint8_t* first, int64_t count);

    const TTIFFStrips& s_;
    const TTIFFStripFormat& f_;
    const TJob& job_;
    TImageProperties properties_;
    std::unique_ptr<TDecoder> decoder_;
    std::unique_ptr<TFileStream> own_;
    TStripScratch scratch_;
    int64_t windowStart_ = 0, windowSize_ = 0;
    int64_t runEnd_ = 0;  // where the bytes of the run's strips end in the file
    bool traded_ = false;  // PackBits RGB unpacked with red and blue traded
    std::vector<std::string>* warnings_ = nullptr;
};

void TTIFFStrips::TWorker::Begin(std::vector<std::string>& warnings) {
    warnings_ = &warnings;
    if (!job_.fileName.empty()) own_ = std::make_unique<TFileStream>(job_.fileName, fmOpenRead | fmShareDenyWrite);
    if (f_.scheme == TCompressionType::ctJPEG) properties_ = *job_.properties;
    properties_.BytesPerRow = static_cast<int32_t>(job_.pitch);
    switch (f_.scheme) {
        case TCompressionType::ctPackedBits:
            decoder_ = std::make_unique<TPackbitsRLEDecoder>();
            // Red and blue trade places as the bytes are unpacked, unless
            // the predictor must see the file's order first.
            traded_ = job_.target.form == TRowForm::SwapRB3 && !f_.predictor && simd::Avx2();
            break;
        case TCompressionType::ctFax3: {
            auto fax = std::make_unique<TCCITTFax3Decoder>(int32_t(f_.faxOptions), f_.reversed, false, f_.width);
            fax->Pieces = job_.faxPieces;
            decoder_ = std::move(fax);
            break;
        }
        case TCompressionType::ctFaxRLE:
        case TCompressionType::ctFaxRLEW:
            decoder_ = std::make_unique<TCCITTMHDecoder>(int32_t(f_.faxOptions), f_.reversed,
                                                         f_.scheme == TCompressionType::ctFaxRLEW, f_.width);
            break;
        // A deflate stream of its own in every strip.
        case TCompressionType::ctLZ77: decoder_ = std::make_unique<TTIFFDeflateDecoder>(); break;
        case TCompressionType::ctJPEG: {
            auto jpeg = std::make_unique<TTIFFJPEGDecoder>(properties_);
            jpeg->OnWarning = [this](const std::string& text) { warnings_->push_back(text); };
            decoder_ = std::move(jpeg);
            break;
        }
        case TCompressionType::ctThunderscan: decoder_ = std::make_unique<TThunderDecoder>(f_.width); break;
        default: break;
    }
    if (decoder_) decoder_->BeginDecode();
}

void TTIFFStrips::TWorker::Run(int32_t strip, int64_t row, int64_t rows, int64_t have,
                               std::vector<std::string>& warnings) {
    warnings_ = &warnings;
    if (!decoder_) Stored(strip, row, rows, have);
    else if (f_.scheme == TCompressionType::ctPackedBits) PackBits(strip);
    else Whole(strip);
}

const uint8_t* TTIFFStrips::TWorker::Bytes(int32_t index, int64_t from, int64_t count) {
    if (!own_) return job_.data[size_t(index)] + from;
    const int64_t at = s_.strips_[size_t(index)].start + from;
    if (at >= windowStart_ && at + count <= windowStart_ + windowSize_)
        return scratch_.Read(windowSize_) + (at - windowStart_);
    windowStart_ = at;
    windowSize_ = std::max(count, std::min(kReadBytes, runEnd_ - at));
    uint8_t* window = scratch_.Read(windowSize_);
    own_->SetPosition(at);
    own_->ReadBuffer(window, windowSize_);
    return window;
}

const uint8_t* TTIFFStrips::TWorker::Packed(int32_t index, int64_t from, int64_t count) {
    const uint8_t* bytes = Bytes(index, from, count);
    if (!job_.reverse) return bytes;
    uint8_t* turned = scratch_.Turned(count);
    ReverseBits(bytes, turned, count);
    return turned;
}

void TTIFFStrips::TWorker::Stored(int32_t index, int64_t row, int64_t rows, int64_t have) {
    const TStrip& strip = s_.strips_[size_t(index)];
    const int64_t size = rows * f_.bytesPerRow, from = row * f_.bytesPerRow;
    uint8_t* const first = Line(strip.firstRow + row);
    uint8_t* data = job_.direct ? first : scratch_.Rows(size);
    if (have == 0) {
    } else if (job_.direct && own_ && have >= kPieceBytes / 2) {
        // Large pieces are read straight into the rows.
        own_->SetPosition(strip.start + from);
        own_->ReadBuffer(first, have);
        if (job_.reverse) ReverseBits(first, first, have);
    } else if (!job_.direct && have == size) {
        // Converted where they lie: nothing writes to stored rows (the
        // predictor goes with packed data only).
        data = const_cast<uint8_t*>(Packed(index, from, have));
    } else {
        std::memcpy(data, Packed(index, from, have), static_cast<size_t>(have));
    }
    // What the data does not cover is zero.
    std::memset(data + have, 0, static_cast<size_t>(size - have));
    Finish(data, first, rows);
}

void TTIFFStrips::TWorker::PackBits(int32_t index) {
    const TStrip& strip = s_.strips_[size_t(index)];
    auto& decoder = static_cast<TPackbitsRLEDecoder&>(*decoder_);
    decoder.Start();
    loadwork::AddDecodedBytes(static_cast<uint64_t>(strip.length));
    const int64_t band = std::max<int64_t>(1, kBandBytes / f_.bytesPerRow);
    // From memory as it lies, else a piece at a time.
    const bool inPlace = !own_ && !job_.reverse;
    const uint8_t *in = nullptr, *end = nullptr;
    int64_t fed = 0;  // packed bytes handed to the decoder
    for (int64_t row = 0; row < strip.rows; row += band) {
        const int64_t rows = std::min(band, strip.rows - row), size = rows * f_.bytesPerRow;
        uint8_t* const first = Line(strip.firstRow + row);
        uint8_t* const out = job_.direct ? first : scratch_.Rows(size);
        int64_t got = 0;
        while (got < size) {
            if (in == end && fed < strip.length) {
                // What the window holds goes first, so that no byte is read twice.
                const int64_t count = inPlace ? strip.length : std::min(Held(index, fed), strip.length - fed);
                in = Packed(index, fed, count);
                end = in + count;
                fed += count;
            }
#if QUILLARC_X86
            const int64_t n = traded_ ? decoder.ContinueTraded(in, end, out, got, size)
                                      : decoder.Continue(in, end, out + got, size - got);
#else
            const int64_t n = decoder.Continue(in, end, out + got, size - got);
#endif
            got += n;
            // A run the last band cut goes on with no more data.
            if (n == 0 && in == end && fed == strip.length) break;
        }
        // Traded, the bytes a pixel the data cut short lacks are its first.
        if (traded_ && got % 3 != 0) {
            const int64_t pixel = got - got % 3;
            std::memset(out + pixel, 0, static_cast<size_t>(pixel + 3 - got));
            got = pixel + 3;
        }
        std::memset(out + got, 0, static_cast<size_t>(size - got));
        Finish(out, first, rows);
    }
}

void TTIFFStrips::TWorker::Whole(int32_t index) {
    const TStrip& strip = s_.strips_[size_t(index)];
    const int64_t size = strip.rows * job_.pitch;
    uint8_t* const first = Line(strip.firstRow);
    uint8_t* const rows = job_.direct ? first : scratch_.Rows(size);
    int64_t got = 0;
    if (strip.length > 0) {
        const uint8_t* packed = Packed(index, 0, strip.length);
        properties_.StripIndex = index;
        properties_.RowIndex = static_cast<uint32_t>(strip.firstRow);
        if (auto* deflate = dynamic_cast<TTIFFDeflateDecoder*>(decoder_.get()))
            deflate->CutShort = strip.length < strip.stated;
        loadwork::AddDecodedBytes(static_cast<uint64_t>(strip.length));
        uint8_t* out = rows;
        got = decoder_->Decode(packed, out, strip.length, size);
    }
    std::memset(rows + got, 0, static_cast<size_t>(size - got));
    Finish(rows, first, strip.rows);
}

// Rows unpacked side by side, a pitch apart (into the bitmap's own rows
// when they need nothing but their own bytes), made into the bitmap's rows
// from `first` on.
void TTIFFStrips::TWorker::Finish(uint8_t* rows, uint8_t* first, int64_t count) {
    const int64_t stride = job_.target.stride, pitch = job_.pitch, used = job_.target.used;
    // Rows unpacked side by side move apart to the bitmap's row distance,
    // the last first.
    if (job_.direct && pitch != stride)
        for (int64_t r = count - 1; r > 0; --r) std::memmove(first + r * stride, first + r * pitch, size_t(pitch));
    TColorManager& colors = *job_.colors;
    for (int64_t r = 0; r < count; ++r) {
        uint8_t* line = first + r * stride;
        uint8_t* row = job_.direct ? line : rows + r * pitch;
        if (f_.predictor) {
            if (f_.bits == 8) UndoPredictor8(row, f_.width, f_.samples);
            else UndoPredictor16(row, f_.width, f_.samples, f_.bigEndian);
        }
        switch (job_.target.form) {
            case TRowForm::Copy: break;
            case TRowForm::SwapRB3:
                if (!traded_) SwapRedBlue(line, f_.width, 3);
                break;
            case TRowForm::SwapRB4: SwapRedBlue(line, f_.width, 4); break;
            case TRowForm::Convert:
                if (job_.target.packed) std::memset(line, 0, size_t(stride));
                colors.ConvertPixels(row, size_t(f_.bytesPerRow), line, size_t(stride), static_cast<uint32_t>(f_.width));
                break;
        }
        std::memset(line + used, 0, size_t(stride - used));
    }
}

TTIFFStrips::TOutcome TTIFFStrips::Decode(TStream& stream, const TTarget& target, TColorManager& colors,
                                          const TImageProperties& properties,
                                          const std::function<void(int64_t)>& rowsDone) const {
    const TTIFFStripFormat& f = format_;
    TJob job{};
    job.target = target;
    job.colors = &colors;
    job.properties = &properties;
    job.direct = target.form != TRowForm::Convert;
    // Fill order 2 holds for all data but JPEG strips; the fax decoders
    // turn their bits themselves.
    const bool fax = f.scheme == TCompressionType::ctFax3 || f.scheme == TCompressionType::ctFaxRLE ||
                     f.scheme == TCompressionType::ctFaxRLEW;
    job.reverse = f.reversed && !fax && f.scheme != TCompressionType::ctJPEG;
    // JPEG strips come out at the bitmap's row distance, straight into its
    // rows; other data a row after the other.
    job.pitch = job.direct && f.scheme == TCompressionType::ctJPEG ? target.stride : f.bytesPerRow;

    // Where the strips' bytes come from: a memory stream's own block; from
    // a file, strips that share no bytes are read by the threads that
    // decode them, each through a handle of its own; otherwise all strips'
    // bytes are read before they are decoded, each stretch of the stream once.
    int64_t total = 0, sum = 0;
    for (int64_t e : extent_) total += e;
    for (const TStrip& strip : strips_)
        if (strip.repeats < 0) sum += strip.length;
    auto* memory = dynamic_cast<TMemoryStream*>(&stream);
    auto* file = memory == nullptr && sum == total ? dynamic_cast<TFileStream*>(&stream) : nullptr;
    TPixelBuffer all;
    if (file != nullptr) {
        job.fileName = file->FileName();
    } else {
        job.data.assign(strips_.size(), nullptr);
        std::vector<int64_t> placed(starts_.size());
        const uint8_t* block = nullptr;
        if (memory != nullptr) {
            block = memory->Memory();
            placed = starts_;
        } else if (total > 0) {
            // Strips that lie side by side come in one piece.
            const int64_t span = starts_.back() + extent_.back() - starts_.front();
            if (span <= total + total / 4 + 65536) {
                all = TPixelBuffer::Allocate(static_cast<size_t>(span), false);
                stream.SetPosition(starts_.front());
                stream.ReadBuffer(all.data(), span);
                for (size_t k = 0; k < starts_.size(); ++k) placed[k] = starts_[k] - starts_.front();
            } else {
                all = TPixelBuffer::Allocate(static_cast<size_t>(total), false);
                int64_t at = 0;
                for (size_t k = 0; k < starts_.size(); ++k) {
                    stream.SetPosition(starts_[k]);
                    stream.ReadBuffer(all.data() + at, extent_[k]);
                    placed[k] = at;
                    at += extent_[k];
                }
            }
            block = all.data();
        }
        size_t last = 0;
        for (size_t i = 0; i < strips_.size(); ++i)
            if (strips_[i].length > 0) job.data[i] = block + placed[StartIndex(starts_, strips_[i].start, last)];
    }

    // Stored rows go in bands, each a piece of work of its own: a large
    // strip's rows in several, small strips whose bytes follow one another
    // whole in the file in one. Packed strips go whole. Strips that repeat
    // an earlier one wait for it.
    struct TPiece {
        int32_t strip;
        int64_t row, rows, have;
    };
    std::vector<TPiece> pieces;
    std::vector<int32_t> repeats;
    const int64_t band = f.bytesPerRow > 0 ? std::max<int64_t>(1, kPieceBytes / f.bytesPerRow) : 1;
    size_t open = SIZE_MAX;  // the piece the next strip may join
    for (size_t i = 0; i < strips_.size(); ++i) {
        const TStrip& strip = strips_[i];
        if (strip.repeats >= 0) {
            repeats.push_back(int32_t(i));
            continue;
        }
        if (f.scheme != TCompressionType::ctNone) {
            pieces.push_back(TPiece{int32_t(i), 0, strip.rows, strip.length});
            continue;
        }
        if (open != SIZE_MAX) {
            TPiece& piece = pieces[open];
            const TStrip& last = strips_[i - 1];
            if (strip.start == last.start + last.length && last.length == last.rows * f.bytesPerRow &&
                last.repeats < 0 && piece.rows + strip.rows <= band) {
                piece.rows += strip.rows;
                piece.have += strip.length;
                continue;
            }
        }
        for (int64_t row = 0; row < strip.rows; row += band) {
            const int64_t rows = std::min(band, strip.rows - row);
            pieces.push_back(TPiece{int32_t(i), row, rows,
                                    std::clamp<int64_t>(strip.length - row * f.bytesPerRow, 0, rows * f.bytesPerRow)});
        }
        open = strip.rows < band ? pieces.size() - 1 : SIZE_MAX;
    }

    // Pieces decode on several threads, each run of pieces with a decoder
    // of its own. What a piece raises, and its warnings, wait until all are
    // done.
    const auto count = static_cast<int32_t>(pieces.size());
    std::vector<std::exception_ptr> errors(pieces.size());
    std::vector<std::vector<std::string>> warnings(pieces.size());
    std::atomic<int64_t> done{0};
    // Fax strips with end-of-line codes decode on several threads each: when
    // there are too few strips to keep the threads busy, the strips go one
    // after another.
    const bool inTurn = f.scheme == TCompressionType::ctFax3 && count < 2 * par::ThreadCount();
    job.faxPieces = inTurn;
    auto run = [&](int32_t begin, int32_t end) {
        int64_t runEnd = 0;
        for (int32_t k = begin; k < end; ++k) {
            const TPiece& piece = pieces[size_t(k)];
            runEnd = std::max(runEnd, strips_[size_t(piece.strip)].start + piece.row * f.bytesPerRow + piece.have);
        }
        TWorker worker(*this, job, runEnd);
        auto current = static_cast<size_t>(begin);
        try {
            worker.Begin(warnings[current]);
            for (; current < static_cast<size_t>(end); ++current) {
                const TPiece& piece = pieces[current];
                worker.Run(piece.strip, piece.row, piece.rows, piece.have, warnings[current]);
                done += piece.rows;
            }
            worker.End();
        } catch (...) {
            errors[std::min(current, static_cast<size_t>(end) - 1)] = std::current_exception();
        }
    };
    if (inTurn) run(0, count);
    else par::ForRows(count, run, [&](int32_t) { rowsDone(done.load()); });

    // A strip that repeats another takes its finished rows.
    const int64_t stride = target.stride;
    par::ForRows(static_cast<int32_t>(repeats.size()), [&](int32_t begin, int32_t end) {
        for (int32_t k = begin; k < end; ++k) {
            const TStrip& strip = strips_[size_t(repeats[size_t(k)])];
            const TStrip& source = strips_[size_t(strip.repeats)];
            std::memcpy(target.pixels + strip.firstRow * stride, target.pixels + source.firstRow * stride,
                        static_cast<size_t>(strip.rows * stride));
            done += strip.rows;
        }
    });
    rowsDone(done.load());

    TOutcome outcome;
    for (size_t i = 0; i < pieces.size() && !outcome.error; ++i) {
        for (std::string& text : warnings[i]) outcome.warnings.push_back(std::move(text));
        outcome.error = errors[i];
    }
    return outcome;
}
