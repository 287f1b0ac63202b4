#include "rasterformats/RasterCompression.h"

#include <algorithm>
#include <cstring>

#if QUILLARC_X86
#include <immintrin.h>
#endif

// ------------------------------------------------------------ TDecoder

int64_t TDecoder::Decode(const uint8_t*&, uint8_t*&, int64_t, int64_t) { throw EAbstractError("Abstract Error"); }

void TDecoder::Encode(const uint8_t*, uint8_t*, int64_t, int64_t&) { throw EAbstractError("Abstract Error"); }

void TDecoder::RaiseCompressionError(const std::string& message) { throw EGraphicCompression(message); }

// ------------------------------------------------------------ Truevision

uint32_t TargaPixelSize(uint32_t depth) {
    switch (depth) {
        case 8: return 1;
        case 15:
        case 16: return 2;
        case 24: return 3;
        case 32: return 4;
        default: return 0;
    }
}

namespace {

void FillPixels(uint8_t* d, const uint8_t* pixel, uint32_t size, int64_t n) {
    switch (size) {
        case 1:
            std::memset(d, pixel[0], static_cast<size_t>(n));
            break;
        case 2:
            for (int64_t i = 0; i < n; ++i, d += 2) d[0] = pixel[0], d[1] = pixel[1];
            break;
        case 3:
            for (int64_t i = 0; i < n; ++i, d += 3) d[0] = pixel[0], d[1] = pixel[1], d[2] = pixel[2];
            break;
        default:
            for (int64_t i = 0; i < n; ++i, d += 4) std::memcpy(d, pixel, 4);
            break;
    }
}

}  // namespace

TTargaRLEDecoder::TTargaRLEDecoder(uint32_t colorDepth)
    : pixelSize_(TargaPixelSize(colorDepth)) {}

void TTargaRLEDecoder::BeginDecode() { pendingRun_ = pendingLiteral_ = 0; }

int64_t TTargaRLEDecoder::Decode(const uint8_t*& source, uint8_t*& dest, int64_t packedSize, int64_t unpackedSize) {
    const uint32_t p = pixelSize_;
    if (p == 0 || source == nullptr || dest == nullptr) return 0;
    const uint8_t* s = source;
    const uint8_t* const end = s + std::max<int64_t>(packedSize, 0);
    uint8_t* d = dest;
    int64_t left = unpackedSize;
    while (left > 0) {
        if (pendingRun_ > 0) {
            const int64_t n = std::min<int64_t>(pendingRun_, left);
            FillPixels(d, runPixel_, p, n);
            d += n * p;
            left -= n;
            pendingRun_ -= static_cast<uint32_t>(n);
            continue;
        }
        if (pendingLiteral_ > 0) {
            const int64_t n = std::min<int64_t>({pendingLiteral_, left, (end - s) / p});
            if (n == 0) break;
            std::memcpy(d, s, static_cast<size_t>(n * p));
            s += n * p;
            d += n * p;
            left -= n;
            pendingLiteral_ -= static_cast<uint32_t>(n);
            continue;
        }
        if (end - s < 1) break;
        const uint8_t header = *s;
        const uint32_t count = (header & 127u) + 1;
        if (header & 128) {
            if (end - s < 1 + static_cast<int64_t>(p)) break;  // the run's pixel is not there yet
            std::memcpy(runPixel_, s + 1, p);
            s += 1 + p;
            pendingRun_ = count;
        } else {
            s += 1;
            pendingLiteral_ = count;
        }
    }
    source = s;
    return unpackedSize - left;
}

void TTargaRLEDecoder::Encode(const uint8_t* source, uint8_t* dest, int64_t count, int64_t& bytesStored) {
    bytesStored = 0;
    const uint32_t p = pixelSize_;
    if (p == 0 || count <= 0) return;
    auto equal = [p](const uint8_t* a, const uint8_t* b) { return std::memcmp(a, b, p) == 0; };
    const uint8_t* s = source;
    uint8_t* d = dest;
    int64_t left = count;
    while (left > 0) {
        // D: leading pixels that each differ from their successor; when the
        // walk reaches the last pixel without an equal pair, the last one
        // goes out alone in the next pass. Nothing beyond 128 is needed.
        int64_t differ;
        if (left == 1) {
            differ = 1;
        } else {
            differ = 0;
            const int64_t walk = std::min<int64_t>(left - 1, 129);
            while (differ < walk && !equal(s + differ * p, s + (differ + 1) * p)) ++differ;
        }
        // S: leading pixels equal to the first.
        int64_t same = 1;
        while (same < left && same < 128 && equal(s, s + same * p)) ++same;
        differ = std::min<int64_t>(differ, 128);
        if (differ > 0) {
            *d++ = static_cast<uint8_t>(differ - 1);
            std::memcpy(d, s, static_cast<size_t>(differ * p));
            d += differ * p;
            s += differ * p;
            bytesStored += differ * p + 1;
            left -= differ;
        } else if (same > 1) {
            *d++ = static_cast<uint8_t>((same - 1) | 128);
            std::memcpy(d, s, p);
            d += p;
            s += same * p;
            bytesStored += p + 1;
            left -= same;
        }
    }
}

// ------------------------------------------------------------ PackBits

int64_t TPackbitsRLEDecoder::Decode(const uint8_t*& source, uint8_t*& dest, int64_t packedSize,
                                    int64_t unpackedSize) {
    if (source == nullptr || dest == nullptr) return 0;
    const uint8_t* s = source;
    Start();
    return Continue(s, s + std::max<int64_t>(packedSize, 0), dest, unpackedSize);
}

int64_t TPackbitsRLEDecoder::Continue(const uint8_t*& source, const uint8_t* end, uint8_t* dest, int64_t room) {
    const uint8_t* s = source;
    uint8_t* d = dest;
    uint8_t* const stop = dest + std::max<int64_t>(room, 0);
    for (;;) {
        if (runHeader_) {
            if (s == end) break;
            value_ = *s++;
            runHeader_ = false;
        }
        if (run_ > 0) {
            const int64_t n = std::min<int64_t>(run_, stop - d);
            std::memset(d, value_, static_cast<size_t>(n));
            d += n;
            run_ -= n;
        } else if (literal_ > 0) {
            const int64_t n = std::min<int64_t>({literal_, stop - d, end - s});
            std::memcpy(d, s, static_cast<size_t>(n));
            s += n;
            d += n;
            literal_ -= n;
        }
        if (d == stop || s == end) break;
        const auto header = static_cast<int8_t>(*s++);
        // Far from both ends a packet goes in one copy of its largest size,
        // the bytes behind it written over by the packets after it.
        const bool roomy = stop - d >= 128 && end - s >= 128;
        if (header >= 0) {
            if (roomy) {
                std::memcpy(d, s, 128);
                d += header + 1;
                s += header + 1;
            } else {
                literal_ = header + 1;
            }
        } else if (header != -128) {
            if (roomy) {
                std::memset(d, *s++, 128);
                d += 1 - header;
            } else {
                run_ = 1 - header;
                runHeader_ = true;
            }
        }
    }
    source = s;
    return d - dest;
}

#if QUILLARC_X86
namespace {

// n bytes from s as bytes p on of the pixels, traded (the first byte of a
// pixel goes to its third place, the third to its first): those of the
// pixel p is inside, then five pixels a step of 16 bytes, then a pixel at a
// time. With room (the caller sees to 160 bytes to read and to write from
// p) the steps go on over the pixel the bytes end in, and what they write
// past the bytes the next packets write over; without, they stay within
// the n bytes.
QUILLARC_AVX2 inline void PutTraded(uint8_t* pixels, int64_t p, const uint8_t* s, int64_t n, bool roomy) {
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    if (const int64_t inside = p % 3; inside != 0 && n > 0) {
        if (inside == 1) pixels[p] = *s++, ++p, --n;
        if (n > 0) pixels[p - 2] = *s++, ++p, --n;
    }
    for (; roomy ? n > 0 : n >= 16; p += 15, s += 15, n -= 15)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pixels + p),
                         _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)), order));
    for (; n >= 3; p += 3, s += 3, n -= 3) pixels[p] = s[2], pixels[p + 1] = s[1], pixels[p + 2] = s[0];
    if (n > 0) pixels[p + 2] = s[0];
    if (n > 1) pixels[p + 1] = s[1];
}

// n bytes of `value` as bytes p on: within whole pixels, traded or not is
// all one. With room, one fill of 144 bytes from the first whole pixel
// covers them.
QUILLARC_AVX2 inline void FillTraded(uint8_t* pixels, int64_t p, uint8_t value, int64_t n, bool roomy) {
    if (const int64_t inside = p % 3; inside != 0 && n > 0) {
        if (inside == 1) pixels[p] = value, ++p, --n;
        if (n > 0) pixels[p - 2] = value, ++p, --n;
    }
    if (roomy) {
        std::memset(pixels + p, value, 144);
        return;
    }
    const int64_t whole = n - n % 3;
    std::memset(pixels + p, value, static_cast<size_t>(whole));
    if (n > whole) pixels[p + whole + 2] = value;
    if (n > whole + 1) pixels[p + whole + 1] = value;
}

}  // namespace

QUILLARC_AVX2 int64_t TPackbitsRLEDecoder::ContinueTraded(const uint8_t*& source, const uint8_t* end, uint8_t* pixels,
                                                          int64_t at, int64_t stop) {
    const uint8_t* s = source;
    int64_t p = at;
    for (;;) {
        if (runHeader_) {
            if (s == end) break;
            value_ = *s++;
            runHeader_ = false;
        }
        if (run_ > 0) {
            const int64_t n = std::min<int64_t>(run_, stop - p);
            FillTraded(pixels, p, value_, n, false);
            p += n;
            run_ -= n;
        } else if (literal_ > 0) {
            const int64_t n = std::min<int64_t>({literal_, stop - p, end - s});
            PutTraded(pixels, p, s, n, false);
            s += n;
            p += n;
            literal_ -= n;
        }
        if (p == stop || s == end) break;
        const auto header = static_cast<int8_t>(*s++);
        // A packet's writes and reads reach 146 bytes past p at most.
        const bool roomy = stop - p >= 160 && end - s >= 160;
        if (header >= 0) {
            if (roomy) {
                PutTraded(pixels, p, s, header + 1, true);
                p += header + 1;
                s += header + 1;
            } else {
                literal_ = header + 1;
            }
        } else if (header != -128) {
            if (roomy) {
                FillTraded(pixels, p, *s++, 1 - header, true);
                p += 1 - header;
            } else {
                run_ = 1 - header;
                runHeader_ = true;
            }
        }
    }
    source = s;
    return p - at;
}
#endif

// ------------------------------------------------------------ ZSoft Paintbrush

int64_t TPCXRLEDecoder::Decode(const uint8_t*& source, uint8_t*& dest, int64_t packedSize, int64_t unpackedSize) {
    if (source == nullptr || dest == nullptr) return 0;
    const uint8_t* s = source;
    const uint8_t* const end = s + std::max<int64_t>(packedSize, 0);
    uint8_t* d = dest;
    int64_t left = unpackedSize;
    while (left > 0) {
        if (pendingRun_ > 0) {
            const int64_t n = std::min<int64_t>(pendingRun_, left);
            std::memset(d, runValue_, static_cast<size_t>(n));
            d += n;
            left -= n;
            pendingRun_ -= static_cast<uint32_t>(n);
            continue;
        }
        if (s >= end) break;
        const uint8_t b = *s;
        if ((b & 0xC0) == 0xC0) {
            if (end - s < 2) break;  // the run's value is not there yet
            runValue_ = s[1];
            pendingRun_ = b & 63u;
            s += 2;
        } else {
            *d++ = b;
            ++s;
            --left;
        }
    }
    source = s;
    return unpackedSize - std::max<int64_t>(left, 0);
}

// ------------------------------------------------------------ SGI

TSGIRLEDecoder::TSGIRLEDecoder(uint8_t sampleSize) : sampleSize_(sampleSize) {}

namespace {

// Copies n bytes in pieces of 16, 8, 4 or 1, the last piece overlapping
// the one before: packets are short, and a string copy instruction costs
// more to start than such a copy takes.
inline void CopyShort(uint8_t* d, const uint8_t* s, size_t n) {
    if (n >= 16) {
        for (size_t i = 0; i + 16 < n; i += 16) std::memcpy(d + i, s + i, 16);
        std::memcpy(d + n - 16, s + n - 16, 16);
    } else if (n >= 8) {
        std::memcpy(d, s, 8);
        std::memcpy(d + n - 8, s + n - 8, 8);
    } else if (n >= 4) {
        std::memcpy(d, s, 4);
        std::memcpy(d + n - 4, s + n - 4, 4);
    } else {
        for (size_t i = 0; i < n; ++i) d[i] = s[i];
    }
}

// One row of SGI packets of Size-byte samples; returns the samples written.
template <int Size>
int64_t DecodeSGIRow(const uint8_t* s, const uint8_t* const end, uint8_t* d, int64_t room) {
    const int64_t wanted = room;
    while (room > 0 && end - s >= Size) {
        const uint32_t header = Size == 2 ? (static_cast<uint32_t>(s[0]) << 8) | s[1] : s[0];
        s += Size;
        const int64_t count = header & 127u;
        if (count == 0) break;
        if (header & 128u) {
            const int64_t n = std::min<int64_t>({count, room, (end - s) / Size});
            CopyShort(d, s, static_cast<size_t>(n * Size));
            d += n * Size;
            room -= n;
            if (n < count) break;  // the packed data or the row ended
            s += n * Size;
        } else {
            if (end - s < Size) break;
            const int64_t n = std::min<int64_t>(count, room);
            if constexpr (Size == 1) {
                std::memset(d, *s, static_cast<size_t>(n));
                d += n;
            } else {
                for (int64_t i = 0; i < n; ++i, d += 2) d[0] = s[0], d[1] = s[1];
            }
            room -= n;
            s += Size;
        }
    }
    return wanted - room;
}

}  // namespace

int64_t TSGIRLEDecoder::Decode(const uint8_t*& source, uint8_t*& dest, int64_t packedSize, int64_t unpackedSize) {
    if (source == nullptr || dest == nullptr) return 0;
    const uint8_t* const end = source + std::max<int64_t>(packedSize, 0);
    if (sampleSize_ == 16) return 2 * DecodeSGIRow<2>(source, end, dest, std::max<int64_t>(unpackedSize, 0) / 2);
    return DecodeSGIRow<1>(source, end, dest, std::max<int64_t>(unpackedSize, 0));
}

// ------------------------------------------------------------ Dr. Halo

int64_t TCUTRLEDecoder::Decode(const uint8_t*& source, uint8_t*& dest, int64_t packedSize, int64_t unpackedSize) {
    if (source == nullptr || dest == nullptr) return 0;
    const uint8_t* s = source;
    const uint8_t* const end = s + std::max<int64_t>(packedSize, 0);
    uint8_t* d = dest;
    int64_t left = std::max<int64_t>(unpackedSize, 0);
    s += std::min<int64_t>(2, end - s);  // the line's byte count
    while (s < end) {
        const uint8_t header = *s++;
        if (header == 0) break;
        const int64_t count = header & 127;
        if (header & 128) {
            if (s >= end) break;
            const int64_t n = std::min(count, left);
            std::memset(d, *s++, static_cast<size_t>(n));
            d += n;
            left -= n;
        } else {
            const int64_t in = std::min<int64_t>(count, end - s);
            const int64_t n = std::min(in, left);
            std::memcpy(d, s, static_cast<size_t>(n));
            d += n;
            left -= n;
            s += in;
        }
    }
    source = s;
    return std::max<int64_t>(unpackedSize, 0) - left;
}

// ------------------------------------------------------------ Paintshop Pro

int64_t TPSPRLEDecoder::Decode(const uint8_t*& source, uint8_t*& dest, int64_t packedSize, int64_t unpackedSize) {
    if (source == nullptr || dest == nullptr) return 0;
    const uint8_t* s = source;
    const uint8_t* const end = s + std::max<int64_t>(packedSize, 0);
    uint8_t* d = dest;
    int64_t left = std::max<int64_t>(unpackedSize, 0);
    while (left > 0) {
        if (pendingRun_ > 0) {
            const int64_t n = std::min<int64_t>(pendingRun_, left);
            std::memset(d, runValue_, static_cast<size_t>(n));
            d += n;
            left -= n;
            pendingRun_ -= static_cast<uint32_t>(n);
        } else if (pendingLiteral_ > 0) {
            const int64_t n = std::min<int64_t>({pendingLiteral_, end - s, left});
            if (n == 0) break;
            std::memcpy(d, s, static_cast<size_t>(n));
            s += n;
            d += n;
            left -= n;
            pendingLiteral_ -= static_cast<uint32_t>(n);
        } else {
            if (s >= end) break;
            const uint8_t header = *s;
            if (header < 128) {
                pendingLiteral_ = header;
                s += 1;
            } else {
                if (end - s < 2) break;  // the run's byte is not there yet
                pendingRun_ = header - 128u;
                runValue_ = s[1];
                s += 2;
            }
        }
    }
    source = s;
    return std::max<int64_t>(unpackedSize, 0) - left;
}

// ------------------------------------------------------------ Alias/Wavefront

int64_t TRLADecoder::Decode(const uint8_t*& source, uint8_t*& dest, int64_t packedSize, int64_t unpackedSize) {
    if (source == nullptr || dest == nullptr) return 0;
    const uint8_t* s = source;
    const uint8_t* const end = s + std::max<int64_t>(packedSize, 0);
    uint8_t* d = dest;
    int64_t left = std::max<int64_t>(unpackedSize, 0);
    while (s < end && left > 0) {
        const auto header = static_cast<int8_t>(*s++);
        if (header >= 0) {
            if (s >= end) break;
            const int64_t n = std::min<int64_t>(header + 1, left);
            std::memset(d, *s++, static_cast<size_t>(n));
            d += n;
            left -= n;
        } else {
            const int64_t n = std::min<int64_t>({-header, end - s, left});
            CopyShort(d, s, static_cast<size_t>(n));
            s += n;
            d += n;
            left -= n;
        }
    }
    source = s;
    return std::max<int64_t>(unpackedSize, 0) - left;
}
