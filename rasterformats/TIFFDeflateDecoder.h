// Deflate-compressed TIFF strips (TIFF compression 8 and 32946): every
// strip a zlib stream of its own, inflated in one call straight into its
// rows.
#pragma once

#include <cstdint>

#include "rasterformats/LZ77Decoder.h"

struct libdeflate_decompressor;

// Gives the bytes zlib's inflate gives for a strip (TLZ77Decoder with flush
// mode 1 and a reset before every strip): a whole, sound stream whose
// checksum holds is inflated by libdeflate; a strip known to be cut short,
// which libdeflate cannot read whole, by zlib alone, which keeps what it
// inflated before the cut; anything else libdeflate refuses (data damaged
// within the strip's bytes, a stream that needs more room than the strip's
// rows, a wrong checksum) by zlib after it, as libdeflate keeps nothing of
// a stream it refuses: zlib then reads again at most the bytes libdeflate
// read, and counts them in the load's work. Moves source past the bytes
// consumed and dest past the bytes written, and returns the bytes written;
// the rest of the room holds nothing of use.
class TTIFFDeflateDecoder : public TDecoder {
public:
    TTIFFDeflateDecoder();
    ~TTIFFDeflateDecoder() override;
    const char* ClassName() const override { return "TTIFFDeflateDecoder"; }

    // zlib's set-up and clean-up; a failure raises EGraphicCompression
    // "LZ77 decompression error.".
    void BeginDecode() override;
    void EndDecode() override;
    int64_t Decode(const uint8_t*& source, uint8_t*& dest, int64_t packedSize, int64_t unpackedSize) override;

    // Set before Decode when the strip's bytes stop before its stated
    // count (the file or the next strip cuts it).
    bool CutShort = false;

private:
    libdeflate_decompressor* fast_ = nullptr;
    TLZ77Decoder zlib_;
};
