// A frame's image data: LZW codes packed least significant bit first into
// data sub-blocks.
//
// The decoder keeps the classic table of 4096 (prefix, suffix) entries,
// the 8192-entry pixel stack and the bit rules of the format, and gets its
// speed from two things: the stream is read in large windows instead of a
// call per sub-block, and a code whose string is known to stand in the
// output already (every code of a well-formed stream) is copied from there
// whole instead of being walked pixel by pixel. Damaged tables take the
// walk, with its checks.
#include <algorithm>
#include <cstring>
#include <vector>

#include "gif/GIFInternal.h"
#include "gif/GIFPicture.h"

namespace {

constexpr int kTableSize = 4096;
constexpr int kStackSize = 8192;

// The sub-blocks of one frame's image data as a stream of codes.
//
// How the end of the data shows mirrors a reader that holds whole
// sub-blocks and fetches the next one as soon as a code would reach the
// last bit it holds: a code is served while more bits than it needs are
// held; otherwise the next sub-block is read, up to the zero-length one.
// The code met there is completed with zero bits; a request after it finds
// no data (and warns when not a single bit was left). A sub-block longer
// than the stream is cut short with a warning when the reader gets to it.
//
// The decoder keeps the bit buffer (Bits, Held) in its own locals while it
// runs and hands it back here for ReadSlow and at its end.
class CodeReader {
public:
    CodeReader(TStream& stream, TGIFSubImage& frame)
        : stream_(stream),
          frame_(frame),
          size_(stream.Size()),
          windowBytes_(WindowBytes(int64_t(frame.Width()) * frame.Height())),
          windowStart_(stream.Position()) {}

    uint64_t Bits = 0;
    int Held = 0;  // bits held in Bits (negative once a code was completed past the end)

    // The next code of n bits, or -1 when no data is left.
    int Read(int n) {
        if (Held > n) {
            const int code = static_cast<int>(Bits & ((1u << n) - 1));
            Bits >>= n;
            Held -= n;
            return code;
        }
        return ReadSlow(n);
    }

    // The common refill, inline: up to eight bytes at once from inside a
    // sub-block. False when the next bytes cross a sub-block or the window.
    bool QuickFill(uint64_t& bits, int& held) {
        if (blockLeft_ < 8 || windowLength_ - windowPos_ < 8) return false;
        uint64_t word;
        std::memcpy(&word, window_.data() + windowPos_, 8);
        const int take = (64 - held) >> 3;
        if (take == 8)
            bits = word;
        else
            bits |= (word & ((uint64_t(1) << (8 * take)) - 1)) << held;
        windowPos_ += take;
        blockLeft_ -= take;
        held += 8 * take;
        return true;
    }

    // Read when no more than n bits are held.
    [[gnu::noinline]] int ReadSlow(int n) {
        Fill();
        if (Held <= n && cutPending_) {
            // Tolerated: a file cut inside its image data keeps what it has.
            frame_.ReportWarning(1, "Premature end of data");
            cutPending_ = false;
            blockLeft_ = cutLength_;
            Fill();
        }
        if (Held > n) return Read(n);
        if (end_ == End::endOfStream) return -1;
        if (!terminatorSeen_) {
            terminatorSeen_ = true;
            const int code = static_cast<int>(Bits & ((1u << n) - 1));
            Bits = 0;
            Held -= n;
            return code;
        }
        if (Held <= 0) frame_.ReportWarning(1, "Decoder bit buffer under-run");
        return -1;
    }

    // Whether the codes have reached the zero-length sub-block.
    bool TerminatorSeen() const { return terminatorSeen_; }

    // Passes over the rest of the data through its zero-length sub-block.
    void SkipToTerminator() {
        if (end_ != End::none) return;
        if (cutPending_) {
            cutPending_ = false;
            blockLeft_ = cutLength_;
        }
        SkipRaw(blockLeft_);
        blockLeft_ = 0;
        for (int n = RawByte(); n > 0; n = RawByte()) SkipRaw(n);
        end_ = End::terminator;
    }

    // Leaves the stream where reading stopped: at its end when a skipped
    // sub-block claimed more than the stream holds.
    void Finish() { stream_.Seek(std::min(windowStart_ + windowPos_, size_), TSeekOrigin::soBeginning); }

private:
    enum class End { none, terminator, endOfStream };

    // Tops the bit buffer up from the sub-blocks, to more than 56 bits, the
    // end of the data or a cut sub-block.
    void Fill() {
        while (Held <= 56) {
            if (blockLeft_ == 0) {
                if (end_ != End::none || cutPending_) return;
                StartBlock();
                continue;
            }
            if (QuickFill(Bits, Held)) continue;
            const int b = RawByte();
            if (b < 0) {
                blockLeft_ = 0;
                end_ = End::endOfStream;
                return;
            }
            Bits |= uint64_t(b) << Held;
            Held += 8;
            --blockLeft_;
        }
    }

    void StartBlock() {
        const int length = RawByte();
        if (length < 0) {
            end_ = End::endOfStream;
        } else if (length == 0) {
            end_ = End::terminator;
        } else {
            const int64_t left = std::max<int64_t>(0, size_ - (windowStart_ + windowPos_));
            if (length > left) {
                cutPending_ = true;
                cutLength_ = static_cast<int>(left);
            } else {
                blockLeft_ = length;
            }
        }
    }

    int RawByte() {
        if (windowPos_ == windowLength_ && !NextWindow()) return -1;
        return window_[static_cast<size_t>(windowPos_++)];
    }

    void SkipRaw(int64_t count) {
        const int64_t held = windowLength_ - windowPos_;
        if (count <= held) {
            windowPos_ += count;
            return;
        }
        windowStart_ += windowLength_ + (count - held);
        windowLength_ = windowPos_ = 0;
    }

    // A frame's data goes through one window, sized once. A window that
    // grew as the data went on would take fresh memory at every step, and
    // on a process's first load a fresh page costs more than the reads a
    // larger window saves. A small frame's data seldom runs past a byte a
    // pixel, so its window is no larger than that and it reads little ahead.
    static size_t WindowBytes(int64_t pixels) {
        constexpr int64_t kPage = 4096, kMost = 32768;
        return static_cast<size_t>(std::clamp<int64_t>((pixels + kPage - 1) / kPage * kPage, kPage, kMost));
    }

    bool NextWindow() {
        windowStart_ += windowLength_;
        windowPos_ = windowLength_ = 0;
        if (window_.empty()) window_.resize(windowBytes_);
        stream_.Seek(windowStart_, TSeekOrigin::soBeginning);
        windowLength_ = std::max<int64_t>(0, stream_.Read(window_.data(), static_cast<int64_t>(window_.size())));
        return windowLength_ > 0;
    }

    TStream& stream_;
    TGIFSubImage& frame_;
    const int64_t size_;
    const size_t windowBytes_;
    std::vector<uint8_t> window_;
    int64_t windowStart_;  // stream position of window_[0]
    int64_t windowPos_ = 0;
    int64_t windowLength_ = 0;
    int blockLeft_ = 0;
    bool cutPending_ = false;  // the next sub-block runs past the stream
    int cutLength_ = 0;
    End end_ = End::none;
    bool terminatorSeen_ = false;
};

// Copies count bytes from an earlier place of the output: the source ends
// at or before the destination, since every string copied stood there
// before. Most strings are short: one or two word moves where the buffer
// has room past the string (the bytes beyond count are written over by
// what follows).
inline void CopyString(uint8_t* __restrict to, const uint8_t* from, int64_t count, const uint8_t* end) {
    uint64_t word;
    if (count <= 16 && end - to >= 16) {
        std::memcpy(&word, from, 8);
        std::memcpy(to, &word, 8);
        if (count > 8) {
            std::memcpy(&word, from + 8, 8);
            std::memcpy(to + 8, &word, 8);
        }
    } else if (count > 16) {
        std::memcpy(to, from, static_cast<size_t>(count));
    } else {
        for (int64_t i = 0; i < count; ++i) to[i] = from[i];
    }
}

// The code table and the pixel stack.
struct LzwTables {
    uint16_t prefix[kTableSize];
    uint8_t suffix[kTableSize];
    // Where a code's string stands in the output (low 32 bits) and its
    // length (above); a length of 0 when it is not known to stand there.
    uint64_t span[kTableSize];
    uint8_t stack[kStackSize];
};

struct LzwResult {
    int64_t decoded = 0;    // pixels produced
    bool stopped = false;   // at an end code, or where the data ran out
    bool overflow = false;  // the last string ran past the last pixel
    int width = 0;          // the code width at the end
};

// The string of code through the table, pushed onto the stack last pixel
// first; returns its length. A damaged table can loop: a code that is its
// own prefix, or a longer loop that fills the stack, is refused.
int64_t Walk(LzwTables& t, int code, int next, int prev, int clear, uint8_t firstPixel, uint8_t& first) {
    int top = 0;
    auto push = [&](uint8_t v) {
        if (top == kStackSize) RaiseGIFError("Circular decoder table entry");
        t.stack[top++] = v;
    };
    if (code >= next) {
        push(firstPixel);
        code = prev;
    }
    while (code >= clear) {
        push(t.suffix[code]);
        if (t.prefix[code] == code) RaiseGIFError("Circular decoder table entry");
        code = t.prefix[code];
    }
    first = t.suffix[code];
    push(first);
    return top;
}

// Decodes up to total pixels into out.
//
// The state is kept small enough to stay in registers. A code's span packs
// where its string last started in the output (low 32 bits) and, when the
// string is known to stand there, its length (above; 0 otherwise). The
// previous code's span always holds its start, so its first pixel is
// out[start]. A new entry is the previous string one pixel longer, at the
// same place: the current string follows it in the output.
LzwResult DecodeLzw(CodeReader& in, LzwTables& t, int minimumCodeSize, uint8_t* __restrict out, int64_t total) {
    const int clear = 1 << minimumCodeSize;
    for (int c = 0; c < clear; ++c) {
        t.suffix[c] = static_cast<uint8_t>(c);
        t.prefix[c] = 0;
        t.span[c] = 0;  // a root is its own pixel
    }
    for (int c = clear; c < kTableSize; ++c) {
        t.prefix[c] = 0;
        t.suffix[c] = 0;
        t.span[c] = 0;
    }
    constexpr uint64_t kOnePixel = uint64_t(1) << 32;
    constexpr uint64_t kStartBits = 0xFFFFFFFF;
    int width = minimumCodeSize + 1;
    int next = clear + 2;
    int prev = 0;
    uint64_t prevSpan = 0;
    uint64_t bits = in.Bits;
    int held = in.Held;
    int64_t pos = 0;
    bool stopped = true, overflow = false;
    int code;

    // The next code into code; to `ended` when no data is left.
#define QUILLARC_NEXT_CODE                                               \
    if (held > width || (in.QuickFill(bits, held) && held > width)) {    \
        code = static_cast<int>(bits & ((1u << width) - 1));             \
        bits >>= width;                                                  \
        held -= width;                                                   \
    } else {                                                             \
        in.Bits = bits;                                                  \
        in.Held = held;                                                  \
        code = in.ReadSlow(width);                                       \
        bits = in.Bits;                                                  \
        held = in.Held;                                                  \
        if (code < 0) goto ended;                                        \
    }

    code = clear;  // the first request counts as a clear code
    while (pos < total) {
        if (code < clear) {
            const auto pixel = static_cast<uint8_t>(code);
            out[pos] = pixel;
            if (next < kTableSize) {
                t.prefix[next] = static_cast<uint16_t>(prev);
                t.suffix[next] = pixel;
                t.span[next] = (prevSpan >> 32) ? prevSpan + kOnePixel : 0;
                if (++next == (1 << width) && width < 12) ++width;
            }
            prev = code;
            prevSpan = kOnePixel | static_cast<uint64_t>(pos);
            ++pos;
        } else if (code == clear) {
            for (int c = clear + 2; c < next; ++c) {
                t.prefix[c] = 0;
                t.suffix[c] = 0;
                t.span[c] = 0;
            }
            width = minimumCodeSize + 1;
            next = clear + 2;
            do {
                QUILLARC_NEXT_CODE
            } while (code == clear);
            // The code after a clear is a pixel of its own, with no table
            // entry.
            out[pos] = static_cast<uint8_t>(code);
            prev = code;
            prevSpan = (code < clear ? kOnePixel : 0) | static_cast<uint64_t>(pos);
            ++pos;
        } else if (code == clear + 1) {
            in.Bits = bits;
            in.Held = held;
            if (!in.TerminatorSeen()) in.SkipToTerminator();
            goto ended;
        } else {
            const int64_t room = total - pos;
            uint8_t lead;
            int64_t length;
            bool inOutput = true;
            const uint64_t known = code < next ? t.span[code] : 0;
            if (known >> 32) {
                const int64_t from = static_cast<int64_t>(known & kStartBits);
                length = static_cast<int64_t>(known >> 32);
                lead = out[from];
                CopyString(out + pos, out + from, std::min(length, room), out + total);
            } else if (code >= next && (prevSpan >> 32)) {
                // Not in the table yet: the previous string and its own
                // first pixel.
                const int64_t from = static_cast<int64_t>(prevSpan & kStartBits);
                const int64_t previous = static_cast<int64_t>(prevSpan >> 32);
                length = previous + 1;
                lead = out[from];
                CopyString(out + pos, out + from, std::min(previous, room), out + total);
                if (previous < room) out[pos + previous] = lead;
                inOutput = code == next;
            } else {
                const uint8_t firstPixel = out[prevSpan & kStartBits];
                length = Walk(t, code, next, prev, clear, firstPixel, lead);
                const int64_t n = std::min(length, room);
                for (int64_t i = 0; i < n; ++i) out[pos + i] = t.stack[length - 1 - i];
                inOutput = false;
            }
            if (next < kTableSize) {
                t.prefix[next] = static_cast<uint16_t>(prev);
                t.suffix[next] = lead;
                t.span[next] = (prevSpan >> 32) ? prevSpan + kOnePixel : 0;
                if (++next == (1 << width) && width < 12) ++width;
            }
            prev = code;
            prevSpan = (inOutput ? static_cast<uint64_t>(length) << 32 : 0) | static_cast<uint64_t>(pos);
            if (length > room) {
                overflow = true;
                stopped = false;
                pos = total;
                goto ended;
            }
            pos += length;
        }
        if (pos == total) break;
        QUILLARC_NEXT_CODE
    }
    stopped = false;
#undef QUILLARC_NEXT_CODE
ended:
    in.Bits = bits;
    in.Held = held;
    LzwResult result;
    result.decoded = std::min(pos, total);
    result.stopped = stopped;
    result.overflow = overflow;
    result.width = width;
    return result;
}

// Rows arrive in the four interlace passes; they were decoded one after
// another and are moved to their places here.
void Deinterlace(uint8_t* pixels, int width, int height) {
    const std::vector<int32_t> target = gifcodec::InterlacedRowOrder(height);
    std::vector<uint8_t> carried(static_cast<size_t>(width)), displaced(static_cast<size_t>(width));
    std::vector<bool> placed(static_cast<size_t>(height), false);
    const size_t w = static_cast<size_t>(width);
    for (int32_t s = 0; s < height; ++s) {
        if (placed[static_cast<size_t>(s)]) continue;
        // Follow the cycle that starts at s: each row's content moves to its
        // target, displacing the content there.
        std::memcpy(carried.data(), pixels + s * w, w);
        int32_t at = s;
        do {
            const int32_t to = target[static_cast<size_t>(at)];
            std::memcpy(displaced.data(), pixels + to * w, w);
            std::memcpy(pixels + to * w, carried.data(), w);
            std::swap(carried, displaced);
            placed[static_cast<size_t>(at)] = true;
            at = to;
        } while (at != s);
    }
}

// The most pixels `bytes` bytes of codes can make, by the decoder's rules:
// the first code after a clear is one pixel; every later one at most one
// pixel more than the one before, and no longer than the longest table
// entry once the table is full. Clear codes only shorten the strings. The
// last code may be cut and completed with zero bits.
int64_t MostPixelsOfCodes(int64_t bytes, int minimumCodeSize) {
    int64_t bits = 8 * bytes + 11;
    int width = minimumCodeSize + 1;
    int next = (1 << minimumCodeSize) + 2;
    // Code size 1: the first free code, 4, is past what 2 bits name, and
    // the width grows only as the next free code comes to 2^width, where
    // it starts: codes stay 2 bits wide, no entry can be named, and every
    // code is one pixel at most.
    if (next >= (1 << width)) return bits / width;
    if (bits < width) return 0;
    bits -= width;
    int64_t length = 1, pixels = 1;
    while (next < kTableSize && bits >= width) {
        bits -= width;
        pixels += ++length;
        if (++next == (1 << width) && width < 12) ++width;
    }
    return pixels + bits / width * length;
}

}  // namespace

int64_t gifcodec::MostLzwPixels(TStream& stream, int64_t wanted) {
    const int64_t start = stream.Position(), size = stream.Size();
    const int minimumCodeSize = ReadOneByte(stream);
    // Refused here as the decoder would refuse them, before the frame's
    // pixels are allocated.
    if (minimumCodeSize == 0 || minimumCodeSize > 11) RaiseGIFError("Invalid GIF data");
    // At the end of the stream (-1) no block follows either.
    int64_t most = 0, bytes = 0;
    for (int n = ReadOneByte(stream); n > 0 && most < wanted; n = ReadOneByte(stream)) {
        const int64_t held = std::min<int64_t>(n, size - stream.Position());
        bytes += held;
        stream.Seek(held, TSeekOrigin::soCurrent);
        most = MostPixelsOfCodes(bytes, minimumCodeSize);
    }
    stream.SetPosition(start);
    return std::min(most, wanted);
}

void TGIFSubImage::DecodeFrameData(TStream& stream) {
    // Every byte is written below: by the data, else by the fill.
    AllocatePixels(false);
    const int64_t total = pixelSize_;
    uint8_t* pixels = pixels_.data();
    const uint8_t fill =
        (transparent_ && graphicControl_ != nullptr) ? graphicControl_->TransparentIndex() : uint8_t(0);

    int64_t decoded = 0;
    const int minimumCodeSize = ReadOneByte(stream);
    if (minimumCodeSize >= 0) {
        // A code size of 0 or above 11 would run the table and the code
        // width past 4096 entries and 12 bits.
        if (minimumCodeSize == 0 || minimumCodeSize > 11) RaiseGIFError("Invalid GIF data");
        CodeReader in(stream, *this);
        // Every entry the decoder reads it sets first: the tables need no zeroing here.
        auto tables = std::make_unique_for_overwrite<LzwTables>();
        const LzwResult result = DecodeLzw(in, *tables, minimumCodeSize, pixels, total);
        decoded = result.decoded;
        if (!result.stopped) {
            // Every pixel is there: one more code takes a trailing end code.
            // Whatever else follows (extra codes, the rest of a string) is
            // passed over through the terminator, so the next block is read
            // where it stands.
            if (!result.overflow && total > 0) in.Read(result.width);
            in.SkipToTerminator();
        }
        in.Finish();
    }
    // Pixels the data did not reach keep the fill (also where whole-word
    // string copies wrote ahead of the last string).
    if (decoded < total) std::memset(pixels + decoded, fill, static_cast<size_t>(total - decoded));
    if (IsInterlaced() && total > 0) Deinterlace(pixels, Width(), Height());
}
