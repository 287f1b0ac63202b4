// Writing image data: codes packed least significant bit first into data
// sub-blocks, by the LZW coder or the run-length coder.
#include "gif/GIFEncoder.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "gif/GIFInternal.h"

// ------------------------------------------------------------ sub-block output

int64_t TGIFStream::Read(void*, int64_t) { throw Exception("Invalid stream operation"); }

int64_t TGIFStream::Write(const void*, int64_t) { throw Exception("Invalid stream operation"); }

int64_t TGIFStream::Seek(int64_t, TSeekOrigin) { throw Exception("Invalid stream operation"); }

TGIFWriter::~TGIFWriter() {
    // Reached with data held only on the normal path or while an exception
    // passes; nothing may be raised from here.
    if (!dirty_) return;
    try {
        FlushBlock();
    } catch (...) {
    }
}

int64_t TGIFWriter::Write(const void* buffer, int64_t count) {
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    for (int64_t left = count; left > 0;) {
        dirty_ = true;
        const int64_t n = std::min<int64_t>(left, 256 - fill_);
        std::memcpy(buffer_.data() + fill_, bytes, static_cast<size_t>(n));
        fill_ += static_cast<int>(n);
        bytes += n;
        left -= n;
        if (fill_ == 256) FlushBlock();
    }
    return count;
}

void TGIFWriter::FlushBlock() {
    if (fill_ > 1) {
        buffer_[0] = static_cast<uint8_t>(fill_ - 1);
        const int n = fill_;
        fill_ = 1;
        dirty_ = false;
        target_.WriteBuffer(buffer_.data(), n);
        return;
    }
    dirty_ = false;
}

// ------------------------------------------------------------ hash table

void THashTable::Reset() { slots_.fill(0xFFFFFFFFu); }

// ------------------------------------------------------------ encoder driver

void TGIFEncoder::ColorNotInTable() { RaiseGIFError("Color not in color table"); }

std::vector<int> TGIFEncoder::RowOrder() const {
    if (interlaced_) return gifcodec::InterlacedRowOrder(height_);
    std::vector<int> rows;
    rows.reserve(static_cast<size_t>(height_));
    for (int y = 0; y < height_; ++y) rows.push_back(y);
    return rows;
}

void TGIFEncoder::Encode(TStream& stream, int bitsPerPixel, int width, int height, bool interlaced,
                         const uint8_t* pixels, int colors) {
    colors_ = colors;
    bitsPerPixel_ = std::max(bitsPerPixel, 2);
    width_ = width;
    height_ = height;
    interlaced_ = interlaced;
    pixels_ = pixels;
    WriteOneByte(stream, static_cast<uint8_t>(bitsPerPixel_));
    initialWidth_ = codeWidth_ = bitsPerPixel_ + 1;
    highestCode_ = (1 << codeWidth_) - 1;
    clearCode_ = 1 << bitsPerPixel_;
    endCode_ = clearCode_ + 1;
    firstFreeCode_ = clearCode_ + 2;
    accumulator_ = 0;
    accumulatorBits_ = 0;
    clearPending_ = false;
    {
        TGIFWriter writer(stream);
        writer_ = &writer;
        struct Forget {
            TGIFWriter*& w;
            ~Forget() { w = nullptr; }
        } forget{writer_};
        if (pixels_ != nullptr && width_ > 0 && height_ > 0) CompressPixels();
        EmitCode(endCode_);
    }
    WriteOneByte(stream, 0);
}

void TGIFEncoder::EmitClear() {
    clearPending_ = true;
    EmitCode(clearCode_);
}

// ------------------------------------------------------------ LZW

void TLZWEncoder::Widen() {
    if (clearPending_) {
        codeWidth_ = initialWidth_;
        highestCode_ = (1 << codeWidth_) - 1;
        clearPending_ = false;
    } else {
        ++codeWidth_;
        highestCode_ = codeWidth_ >= 12 ? 4096 : (1 << codeWidth_) - 1;
    }
}

void TLZWEncoder::EmitClear() {
    TGIFEncoder::EmitClear();
    table_->Reset();
    nextFreeCode_ = firstFreeCode_;
}

void TLZWEncoder::CompressPixels() {
    table_ = std::make_unique<THashTable>();
    struct Free {
        std::unique_ptr<THashTable>& t;
        ~Free() { t.reset(); }
    } freeTable{table_};
    nextFreeCode_ = firstFreeCode_;
    EmitClear();
    THashTable& table = *table_;
    // Every byte is below 256: only smaller tables need the check.
    const bool check = colors_ < 256;
    const std::vector<int> rows = RowOrder();
    int prefix = -1;
    for (int y : rows) {
        const uint8_t* p = pixels_ + int64_t(y) * width_;
        const uint8_t* end = p + width_;
        if (check)
            for (const uint8_t* q = p; q < end; ++q)
                if (*q >= colors_) ColorNotInTable();
        if (prefix < 0) prefix = *p++;
        for (; p < end; ++p) {
            const uint32_t key = (uint32_t(prefix) << 8) | *p;
            const int code = table.Find(key);
            if (code >= 0) {
                prefix = code;
                continue;
            }
            TLZWEncoder::EmitCode(prefix);
            prefix = *p;
            // A probe cycle with no room left counts as a full table.
            if (nextFreeCode_ < 4095 && table.Store(key, nextFreeCode_))
                ++nextFreeCode_;
            else
                TLZWEncoder::EmitClear();
        }
    }
    TLZWEncoder::EmitCode(prefix);
}

// ------------------------------------------------------------ run-length coder

int64_t IntegerRoot(int64_t x) {
    if (x < 2) return x;
    int64_t r = 1;
    for (int64_t q = x / 4; q > 0; q /= 4) r *= 2;
    for (int guard = 0; guard < 128; ++guard) {
        const int64_t v = (x / r + r) / 2;
        if (v == r || v == r + 1) break;
        r = v;
    }
    return r;
}

int64_t RunCodeCost(int64_t count, int64_t n) {
    if (n <= 0) return 0;
    const int64_t per = n * (n + 1) / 2;
    int64_t cost = count / per * n;
    const int64_t r = count % per;
    if (r > 0) {
        int64_t m = IntegerRoot(r);
        while (m > 0 && m * (m + 1) >= 2 * r) --m;
        while (m * (m + 1) < 2 * r) ++m;
        cost += m;
    }
    return cost;
}

void TRLEEncoder::EmitClear() {
    growthThreshold_ = growthStart_;
    clearThreshold_ = clearStart_;
    codeCount_ = 0;
    tableLength_ = 0;
    TGIFEncoder::EmitClear();
    codeWidth_ = initialWidth_;
}

void TRLEEncoder::EmitRunCode(int code) {
    clearPending_ = false;
    TGIFEncoder::EmitCode(code);
    ++codeCount_;
    if (codeCount_ == growthThreshold_) {
        growthThreshold_ += 1 << codeWidth_;
        ++codeWidth_;
    }
    if (codeCount_ >= clearThreshold_) EmitClear();
}

void TRLEEncoder::RestoreClearThreshold() {
    clearThreshold_ = clearStart_;
    if (codeCount_ >= clearThreshold_) EmitClear();
}

void TRLEEncoder::EndRunFresh(int count) {
    clearThreshold_ = usableRunCodes_;
    tablePixel_ = pixel_;
    for (int k = 1; count > 0;) {
        if (k == 1) {
            tableLength_ = 1;
            EmitRunCode(pixel_);
            count -= 1;
        } else if (count >= k) {
            tableLength_ = k;
            EmitRunCode(firstFreeCode_ + k - 2);
            count -= k;
        } else {
            ++tableLength_;
            EmitRunCode(count == 1 ? pixel_ : firstFreeCode_ + count - 2);
            break;
        }
        k = codeCount_ == 0 ? 1 : k + 1;
    }
    RestoreClearThreshold();
}

void TRLEEncoder::EndRunCheapest(int count) {
    if (1 + RunCodeCost(count, usableRunCodes_) < count) {
        EmitClear();
        EndRunFresh(count);
        return;
    }
    for (int i = 0; i < count; ++i) EmitRunCode(pixel_);
}

void TRLEEncoder::EndRunReusing(int count) {
    int64_t full = count / tableLength_;
    int64_t rest = count % tableLength_;
    int64_t extra = rest > 0 ? 1 : 0;
    if (codeCount_ + full + extra > usableRunCodes_) {
        full = usableRunCodes_ - codeCount_;
        rest = count - full * tableLength_;
        extra = 1 + RunCodeCost(rest, usableRunCodes_);
    }
    if (1 + RunCodeCost(count, usableRunCodes_) < full + extra) {
        EmitClear();
        EndRunFresh(count);
        return;
    }
    clearThreshold_ = usableRunCodes_;
    const int runCode = firstFreeCode_ + tableLength_ - 2;
    for (int64_t i = 0; i < full; ++i) EmitRunCode(runCode);
    if (rest > 0) {
        if (clearPending_)
            EndRunFresh(static_cast<int>(rest));
        else
            EmitRunCode(rest == 1 ? pixel_ : firstFreeCode_ + static_cast<int>(rest) - 2);
    }
    RestoreClearThreshold();
}

void TRLEEncoder::EndRun(int count) {
    if (count == 1)
        EmitRunCode(pixel_);
    else if (clearPending_)
        EndRunFresh(count);
    else if (tableLength_ < 2 || tablePixel_ != pixel_)
        EndRunCheapest(count);
    else
        EndRunReusing(count);
}

void TRLEEncoder::CompressPixels() {
    growthStart_ = clearCode_ - 1;
    clearStart_ = bitsPerPixel_ <= 3 ? 9 : clearCode_ - 2;
    usableRunCodes_ = 4095 - firstFreeCode_;
    tablePixel_ = -1;
    EmitClear();
    pixel_ = -1;
    int run = 0;
    for (int y : RowOrder()) {
        const uint8_t* p = pixels_ + int64_t(y) * width_;
        for (int x = 0; x < width_; ++x) {
            const int pixel = p[x];
            if (pixel >= colors_) ColorNotInTable();
            if (run > 0 && pixel != pixel_) {
                EndRun(run);
                run = 0;
            }
            if (pixel == pixel_ && run > 0) {
                ++run;
            } else {
                pixel_ = pixel;
                run = 1;
            }
        }
    }
    if (run > 0) EndRun(run);
}

// ------------------------------------------------------------ a frame's data

void TGIFSubImage::EncodeFrameData(TStream& stream) {
    int bits, colors;
    if (colorMap_->Count() > 0) {
        bits = colorMap_->TableBits();
        colors = colorMap_->Count();
    } else {
        bits = owner_->BitsPerPixel();
        colors = 1 << bits;
    }
    std::unique_ptr<TGIFEncoder> encoder;
    if (owner_->Encoding == 1)
        encoder = std::make_unique<TRLEEncoder>();
    else
        encoder = std::make_unique<TLZWEncoder>();
    encoder->Encode(stream, bits, Width(), Height(), IsInterlaced(), std::as_const(pixels_).data(), colors);
}
