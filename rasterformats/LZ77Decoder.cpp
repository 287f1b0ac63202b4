#include "rasterformats/LZ77Decoder.h"

#include <zlib.h>

#include <algorithm>

#include "rasterformats/RasterStrings.h"

namespace {
// zlib counts in 32 bits; larger buffers go to inflate in pieces.
constexpr int64_t kPiece = int64_t(1) << 30;
}  // namespace

TLZ77Decoder::TLZ77Decoder(int32_t flushMode, bool autoReset)
    : stream_(std::make_unique<z_stream_s>()), flushMode_(flushMode), autoReset_(autoReset) {}

TLZ77Decoder::~TLZ77Decoder() {
    if (initialized_) inflateEnd(stream_.get());
}

void TLZ77Decoder::BeginDecode() {
    if (initialized_) inflateEnd(stream_.get());
    *stream_ = z_stream_s{};
    initialized_ = false;
    result_ = inflateInit(stream_.get());
    if (result_ < 0) RaiseCompressionError(raster::kLZ77Error);
    initialized_ = true;
}

void TLZ77Decoder::EndDecode() {
    const int32_t result = initialized_ ? inflateEnd(stream_.get()) : Z_STREAM_ERROR;
    initialized_ = false;
    if (result < 0) RaiseCompressionError(raster::kLZ77Error);
}

int64_t TLZ77Decoder::Decode(const uint8_t*& source, uint8_t*& dest, int64_t packedSize, int64_t unpackedSize) {
    int64_t inLeft = std::max<int64_t>(packedSize, 0);
    int64_t outLeft = std::max<int64_t>(unpackedSize, 0);
    availableInput_ = inLeft;
    availableOutput_ = outLeft;
    if (!initialized_) {
        result_ = Z_STREAM_ERROR;
        return 0;
    }
    if (autoReset_) result_ = inflateReset(stream_.get());
    if (result_ != Z_OK) return 0;

    z_stream& z = *stream_;
    const uint8_t* in = source;
    uint8_t* out = dest;
    for (;;) {
        const auto inPiece = static_cast<uInt>(std::min(inLeft, kPiece));
        const auto outPiece = static_cast<uInt>(std::min(outLeft, kPiece));
        z.next_in = const_cast<Bytef*>(in);
        z.avail_in = inPiece;
        z.next_out = out;
        z.avail_out = outPiece;
        result_ = inflate(&z, flushMode_);
        const uInt consumed = inPiece - z.avail_in, produced = outPiece - z.avail_out;
        in += consumed;
        out += produced;
        inLeft -= consumed;
        outLeft -= produced;
        // Another piece only where a piece, not the whole buffer, ran out.
        const bool more = (inLeft > 0 && z.avail_in == 0) || (outLeft > 0 && z.avail_out == 0);
        if (result_ != Z_OK || !more || (consumed == 0 && produced == 0)) break;
    }
    availableInput_ = inLeft;
    availableOutput_ = outLeft;
    const int64_t written = out - dest;
    source = in;
    dest = out;
    return written;
}
