// Writing a frame's image data: the sub-block writer and the two encoders,
// a dictionary coder (LZW over an open-addressing hash table) and a
// run-length coder that emits only codes a GIF decoder builds from runs of
// one index.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "gif/GIFPicture.h"

// A stream that wraps a target for sub-block output: a 256-byte buffer whose
// byte 0 is the length slot. Reading and seeking are refused with the
// platform's base exception "Invalid stream operation".
class TGIFStream : public TStream {
public:
    explicit TGIFStream(TStream& target) : target_(target) {}
    const char* ClassName() const override { return "TGIFStream"; }
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;

protected:
    TStream& target_;
    std::array<uint8_t, 256> buffer_{};
    int fill_ = 1;  // the length slot counts
};

// Cuts what is written to it into data sub-blocks of at most 255 bytes. The
// block terminator is the caller's. Destroying a writer flushes what it
// holds.
class TGIFWriter final : public TGIFStream {
public:
    using TGIFStream::TGIFStream;
    ~TGIFWriter() override;
    const char* ClassName() const override { return "TGIFWriter"; }
    int64_t Write(const void* buffer, int64_t count) override;
    // Writes the block held, if any: a block of no data would read as the
    // terminator.
    void FlushBlock();
    void PutByte(uint8_t value) {
        dirty_ = true;
        buffer_[static_cast<size_t>(fill_++)] = value;
        if (fill_ == 256) FlushBlock();
    }

private:
    bool dirty_ = false;
};

// The codes in the table: slot = (key shl 12) or code, keys are
// (prefix shl 8) or pixel. 8009 slots (a prime); probing goes from h to
// 2h mod 8009 (from 0 to 8008). A probe sequence visits at most 4004
// distinct slots after its first, so every walk stops after one full cycle:
// a Find that gets there reports the key absent, a Store that gets there
// reports the table full.
class THashTable : public TObject {
public:
    static constexpr int kSize = 8009;
    static constexpr int kMaxProbes = 4005;  // the first slot and one full cycle
    THashTable() { Reset(); }
    const char* ClassName() const override { return "THashTable"; }
    void Reset();
    static int Hash(uint32_t key) { return static_cast<int>((key ^ (key >> 4)) % kSize); }
    static int NextSlot(int h) { return h == 0 ? kSize - 1 : (2 * h >= kSize ? 2 * h - kSize : 2 * h); }
    // False when the key's probe cycle has no empty slot.
    bool Store(uint32_t key, int code) {
        int h = Hash(key);
        for (int probes = 0; probes < kMaxProbes; ++probes) {
            uint32_t& slot = slots_[static_cast<size_t>(h)];
            if ((slot >> 12) == kEmptyKey) {
                slot = (key << 12) | (static_cast<uint32_t>(code) & 0xFFF);
                return true;
            }
            h = NextSlot(h);
        }
        return false;
    }
    // The code, or -1.
    int Find(uint32_t key) const {
        int h = Hash(key);
        for (int probes = 0; probes < kMaxProbes; ++probes) {
            const uint32_t slot = slots_[static_cast<size_t>(h)];
            if ((slot >> 12) == key) return static_cast<int>(slot & 0xFFF);
            if ((slot >> 12) == kEmptyKey) return -1;
            h = NextSlot(h);
        }
        return -1;
    }

private:
    static constexpr uint32_t kEmptyKey = 0xFFFFF;
    std::array<uint32_t, kSize> slots_;
};

// The encoder driver: writes the minimum code size, the codes in sub-blocks
// and the terminator.
class TGIFEncoder : public TObject {
public:
    const char* ClassName() const override { return "TGIFEncoder"; }
    // pixels: width x height indices, rows from the top; every index must be
    // below colors ("Color not in color table").
    void Encode(TStream& stream, int bitsPerPixel, int width, int height, bool interlaced, const uint8_t* pixels,
                int colors);

protected:
    virtual void EmitCode(int code) { PutCode(code); }
    virtual void EmitClear();
    virtual void CompressPixels() = 0;
    // Packs the code, least significant bit first, at the current width;
    // the end code also sends out the last, partly filled byte, if any.
    void PutCode(int code) {
        accumulator_ |= uint64_t(code) << accumulatorBits_;
        accumulatorBits_ += codeWidth_;
        while (accumulatorBits_ >= 8) {
            writer_->PutByte(static_cast<uint8_t>(accumulator_));
            accumulator_ >>= 8;
            accumulatorBits_ -= 8;
        }
        if (code == endCode_ && accumulatorBits_ > 0) {
            writer_->PutByte(static_cast<uint8_t>(accumulator_));
            accumulator_ = 0;
            accumulatorBits_ = 0;
        }
    }
    // The pixel rows in the order they are written: the four interlace
    // passes, or top to bottom.
    std::vector<int> RowOrder() const;
    [[noreturn]] static void ColorNotInTable();

    int colors_ = 0;
    int bitsPerPixel_ = 0;
    int width_ = 0, height_ = 0;
    bool interlaced_ = false;
    const uint8_t* pixels_ = nullptr;
    TGIFWriter* writer_ = nullptr;
    uint64_t accumulator_ = 0;
    int accumulatorBits_ = 0;
    bool clearPending_ = false;
    int codeWidth_ = 0, initialWidth_ = 0;
    int highestCode_ = 0;
    int clearCode_ = 0, endCode_ = 0, firstFreeCode_ = 0;
};

class TLZWEncoder final : public TGIFEncoder {
public:
    const char* ClassName() const override { return "TLZWEncoder"; }

protected:
    void EmitCode(int code) override {
        PutCode(code);
        if (nextFreeCode_ > highestCode_ || clearPending_) Widen();
    }
    void EmitClear() override;
    void CompressPixels() override;

private:
    void Widen();

    int nextFreeCode_ = 0;
    std::unique_ptr<THashTable> table_;
};

class TRLEEncoder final : public TGIFEncoder {
public:
    const char* ClassName() const override { return "TRLEEncoder"; }

protected:
    void EmitClear() override;
    void CompressPixels() override;

private:
    void EmitRunCode(int code);
    void EndRun(int count);
    void EndRunFresh(int count);
    void EndRunCheapest(int count);
    void EndRunReusing(int count);
    void RestoreClearThreshold();

    int usableRunCodes_ = 0;
    int growthThreshold_ = 0, growthStart_ = 0;
    int clearThreshold_ = 0, clearStart_ = 0;
    int pixel_ = -1;
    int tableLength_ = 0;
    int tablePixel_ = -1;
    int codeCount_ = 0;
};

// The codes a fresh run table needs for count pixels when at most n run
// codes fit before the table is full.
int64_t RunCodeCost(int64_t count, int64_t n);
// The integer square root (rounded down).
int64_t IntegerRoot(int64_t x);
