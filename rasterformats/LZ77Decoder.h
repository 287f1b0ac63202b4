// Deflate data (TIFF compression 8 and 32946, PNG image data, Paintshop Pro
// channels) inflated through zlib.
#pragma once

#include <cstdint>
#include <memory>

#include "rasterformats/RasterCompression.h"

struct z_stream_s;

// zlib's results as the callers test them.
inline constexpr int32_t kZlibOK = 0;
inline constexpr int32_t kZlibStreamEnd = 1;

// One deflate stream, or with autoReset one per Decode call (a TIFF strip
// each). Decode moves source past the bytes consumed and dest past the bytes
// written, and returns the bytes written. Without autoReset the input may
// come in pieces (one PNG IDAT chunk after another) and the output a row at
// a time; once inflate has reported the end of the stream or an error, later
// calls do nothing. Inflate errors are not raised: Result() tells them, and
// the output keeps what was inflated before.
class TLZ77Decoder : public TDecoder {
public:
    // flushMode goes to every inflate call (1 partial flush, 4 finish).
    TLZ77Decoder(int32_t flushMode, bool autoReset);
    ~TLZ77Decoder() override;
    const char* ClassName() const override { return "TLZ77Decoder"; }

    // inflateInit / inflateEnd; a failure raises EGraphicCompression
    // "LZ77 decompression error.".
    void BeginDecode() override;
    void EndDecode() override;
    int64_t Decode(const uint8_t*& source, uint8_t*& dest, int64_t packedSize, int64_t unpackedSize) override;

    // After the last call: input not consumed, output room not filled, and
    // the result of inflate (or of the reset before it).
    int64_t AvailableInput() const { return availableInput_; }
    int64_t AvailableOutput() const { return availableOutput_; }
    int32_t Result() const { return result_; }

private:
    std::unique_ptr<z_stream_s> stream_;
    bool initialized_ = false;
    int32_t result_ = 0;
    int32_t flushMode_;
    bool autoReset_;
    int64_t availableInput_ = 0, availableOutput_ = 0;
};
