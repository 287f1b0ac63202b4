// Decompressors of the raster library. A reader creates one decoder for its
// file's compression, feeds it packed data chunk by chunk (a strip, a row,
// a plane) and receives unpacked bytes:
//   1. create the decoder (none for stored data),
//   2. BeginDecode,
//   3. per chunk: Decode, then convert the unpacked rows,
//   4. EndDecode (also when the load fails), then free it.
// Every Decode stops at whichever comes first, the end of the packed data
// or the end of the room it was given, and returns what it produced: data
// never makes a decoder read or write outside its buffers. The counts in
// the data are otherwise trusted, so a run that would pass the end of the
// output is cut there (or, where a scheme runs on across rows, kept for the
// next call).
#pragma once

#include <cstdint>

#include "platform/core/Classes.h"
#include "platform/core/Simd.h"
#include "platform/core/SysUtils.h"

QUILLARC_EXCEPTION(EGraphicCompression, Exception)

class TDecoder : public TObject {
public:
    const char* ClassName() const override { return "TDecoder"; }
    // Unpacks at most packedSize bytes from source into dest, which holds
    // unpackedSize units (bytes; pixels for the Targa decoder). Returns the
    // units written. Which decoders move source or dest for the caller is
    // said with each one.
    virtual int64_t Decode(const uint8_t*& source, uint8_t*& dest, int64_t packedSize, int64_t unpackedSize);
    virtual void EndDecode() {}
    virtual void BeginDecode() {}
    // Packs count units of source into dest and sets bytesStored.
    virtual void Encode(const uint8_t* source, uint8_t* dest, int64_t count, int64_t& bytesStored);

    [[noreturn]] static void RaiseCompressionError(const std::string& message);
};

// Truevision run-length data: packets of whole pixels of 1 (depth 8), 2 (15,
// 16), 3 (24) or 4 (32) bytes; other depths decode nothing. Units are
// pixels. A packet longer than the pixels wanted is carried over to the next
// Decode (files do run packets across rows); BeginDecode forgets it. Moves
// source past the bytes consumed: a packet header is taken only with the
// pixel of its run, and a literal runs on pixel by pixel, so a caller may
// hand the data over in pieces.
// Bytes of a Truevision pixel of the depth: 1, 2 (15 and 16), 3 or 4; 0 for
// any other depth.
uint32_t TargaPixelSize(uint32_t depth);

class TTargaRLEDecoder : public TDecoder {
public:
    explicit TTargaRLEDecoder(uint32_t colorDepth);
    const char* ClassName() const override { return "TTargaRLEDecoder"; }
    int64_t Decode(const uint8_t*& source, uint8_t*& dest, int64_t packedSize, int64_t unpackedSize) override;
    void BeginDecode() override;
    // One row of count pixels; dest must hold MaxEncodedSize(count) bytes.
    void Encode(const uint8_t* source, uint8_t* dest, int64_t count, int64_t& bytesStored) override;
    int64_t MaxEncodedSize(int64_t count) const { return count * (pixelSize_ + 1); }
    uint32_t PixelSize() const { return pixelSize_; }

private:
    uint32_t pixelSize_;
    uint32_t pendingRun_ = 0;      // pixels of a run packet still to write
    uint32_t pendingLiteral_ = 0;  // pixels of a literal packet still to copy
    uint8_t runPixel_[4] = {};
};

// PackBits (TIFF, Photoshop): header 0..127 copies header + 1 bytes, -1..-127
// repeats the next byte 1 - header times, -128 does nothing. Moves nothing.
// Room past the bytes written may have been written to.
class TPackbitsRLEDecoder : public TDecoder {
public:
    const char* ClassName() const override { return "TPackbitsRLEDecoder"; }
    int64_t Decode(const uint8_t*& source, uint8_t*& dest, int64_t packedSize, int64_t unpackedSize) override;

    // The same data handed over in pieces and unpacked into room that comes
    // in pieces, with the bytes Decode gives for all of it at once: Start,
    // then Continue with each piece of data, as often as there is room.
    // Continue moves source past the bytes taken and returns the bytes
    // written; a packet that either end cuts goes on in the next call, so
    // one that the last piece cuts is cut there, as Decode cuts it.
    void Start() { literal_ = run_ = 0, runHeader_ = false; }
    int64_t Continue(const uint8_t*& source, const uint8_t* end, uint8_t* dest, int64_t room);
#if QUILLARC_X86
    // Continue into 8-bit RGB pixels kept blue first, as a bitmap keeps
    // them: the bytes Continue and then a trade of red and blue in each
    // pixel give, in one pass. Byte q of the unpacked bytes, counted from
    // `pixels`, which starts a pixel, goes to q + 2, q or q - 2 as it is the
    // first, second or third of its pixel. Goes on from byte `at` up to
    // `stop` at most, which ends a pixel, and returns the bytes unpacked;
    // the places of the bytes after them, up to `stop`, may have been written
    // to. Only where simd::Avx2().
    int64_t ContinueTraded(const uint8_t*& source, const uint8_t* end, uint8_t* pixels, int64_t at, int64_t stop);
#endif

private:
    int64_t literal_ = 0, run_ = 0;  // bytes of the current packet still to come
    bool runHeader_ = false;         // a run's header taken, its byte not yet
    uint8_t value_ = 0;
};

// ZSoft Paintbrush: a byte with both top bits set repeats the next byte
// (byte and 63) times; any other byte stands for itself. A run longer than
// the bytes wanted is carried over to the next Decode (BeginDecode forgets
// it), so a reader may decode line by line. Moves source past the bytes
// consumed.
class TPCXRLEDecoder : public TDecoder {
public:
    const char* ClassName() const override { return "TPCXRLEDecoder"; }
    int64_t Decode(const uint8_t*& source, uint8_t*& dest, int64_t packedSize, int64_t unpackedSize) override;
    void BeginDecode() override { pendingRun_ = 0; }

private:
    uint32_t pendingRun_ = 0;
    uint8_t runValue_ = 0;
};

// SGI rows of 8- or 16-bit samples: count = header and 127, 0 ends the row;
// bit 7 set copies count samples, clear repeats the next one. 16-bit
// samples keep their stored (big-endian) byte order. Moves nothing.
class TSGIRLEDecoder : public TDecoder {
public:
    explicit TSGIRLEDecoder(uint8_t sampleSize);
    const char* ClassName() const override { return "TSGIRLEDecoder"; }
    int64_t Decode(const uint8_t*& source, uint8_t*& dest, int64_t packedSize, int64_t unpackedSize) override;

private:
    uint8_t sampleSize_;
};

// Dr. Halo lines: a 2-byte line length (skipped), then count = header and
// 127, header 0 ends the line; bit 7 set repeats the next byte, clear copies
// count bytes. Moves source just past the terminating 0 (or to the end of
// the data), also when the line held more than unpackedSize bytes.
class TCUTRLEDecoder : public TDecoder {
public:
    const char* ClassName() const override { return "TCUTRLEDecoder"; }
    int64_t Decode(const uint8_t*& source, uint8_t*& dest, int64_t packedSize, int64_t unpackedSize) override;
};

// Paintshop Pro: header below 128 copies header bytes, 128 and above repeats
// the next byte header - 128 times. A packet longer than the bytes wanted is
// carried over to the next Decode (BeginDecode forgets it), so that a
// channel's plane can be decoded row by row. Moves source past the bytes
// consumed: a run header is taken only with its byte and a literal goes on
// with the next piece, so a caller may hand the data over in pieces.
class TPSPRLEDecoder : public TDecoder {
public:
    const char* ClassName() const override { return "TPSPRLEDecoder"; }
    int64_t Decode(const uint8_t*& source, uint8_t*& dest, int64_t packedSize, int64_t unpackedSize) override;
    void BeginDecode() override { pendingRun_ = pendingLiteral_ = 0; }

private:
    uint32_t pendingRun_ = 0;      // bytes of a run still to write
    uint32_t pendingLiteral_ = 0;  // bytes of a literal still to copy
    uint8_t runValue_ = 0;
};

// Alias/Wavefront: header 0..127 repeats the next byte header + 1 times, a
// negative header copies -header bytes. Moves source past the bytes
// consumed, where the next span of a record starts.
class TRLADecoder : public TDecoder {
public:
    const char* ClassName() const override { return "TRLADecoder"; }
    int64_t Decode(const uint8_t*& source, uint8_t*& dest, int64_t packedSize, int64_t unpackedSize) override;
};
