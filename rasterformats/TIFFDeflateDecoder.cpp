#include "rasterformats/TIFFDeflateDecoder.h"

#include <libdeflate.h>

#include "platform/core/LoadWork.h"

TTIFFDeflateDecoder::TTIFFDeflateDecoder() : zlib_(1, true) {}

TTIFFDeflateDecoder::~TTIFFDeflateDecoder() {
    if (fast_ != nullptr) libdeflate_free_decompressor(fast_);
}

void TTIFFDeflateDecoder::BeginDecode() {
    zlib_.BeginDecode();
    // Without one every strip goes to zlib.
    if (fast_ == nullptr) fast_ = libdeflate_alloc_decompressor();
}

void TTIFFDeflateDecoder::EndDecode() { zlib_.EndDecode(); }

int64_t TTIFFDeflateDecoder::Decode(const uint8_t*& source, uint8_t*& dest, int64_t packedSize,
                                    int64_t unpackedSize) {
    const bool tried = fast_ != nullptr && !CutShort && source != nullptr && dest != nullptr && packedSize > 0 &&
                       unpackedSize > 0;
    if (tried) {
        size_t taken = 0, written = 0;
        // libdeflate checks the header as zlib does, and the checksum, which
        // zlib only reports after writing every byte; a stream it reads whole
        // and sound zlib reads the same.
        if (libdeflate_zlib_decompress_ex(fast_, source, static_cast<size_t>(packedSize), dest,
                                          static_cast<size_t>(unpackedSize), &taken, &written) == LIBDEFLATE_SUCCESS) {
            source += taken;
            dest += written;
            return static_cast<int64_t>(written);
        }
    }
    const uint8_t* const from = source;
    const int64_t written = zlib_.Decode(source, dest, packedSize, unpackedSize);
    // Bytes libdeflate has been through already count again.
    if (tried) loadwork::AddDecodedBytes(static_cast<uint64_t>(source - from));
    return written;
}
