// Pixel storage of bitmaps. A picture-sized block is expensive to get from
// the system: every page is faulted in and zero-filled on first touch and
// given back when freed, so a conversion that makes and frees a few copies
// of a 12-megapixel picture spends more time in the kernel than in its
// filters. Large blocks therefore come from a pool that keeps freed blocks
// for the next bitmap of about the same size (asked for in huge pages where
// the system has them) for a short while, and a block is zero-filled only
// when its owner needs zeros. Bitmaps that hold the same picture may share
// one block until one of them is written.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

class TPixelBuffer {
public:
    TPixelBuffer() = default;
    ~TPixelBuffer() { Clear(); }
    TPixelBuffer(const TPixelBuffer&) = delete;
    TPixelBuffer& operator=(const TPixelBuffer&) = delete;
    TPixelBuffer(TPixelBuffer&& other) noexcept { Steal(other); }
    TPixelBuffer& operator=(TPixelBuffer&& other) noexcept {
        if (this != &other) {
            Clear();
            Steal(other);
        }
        return *this;
    }

    // A block of `bytes`, all zero when zeroed is set, else with undefined
    // contents. Raises EOutOfMemory when none can be had.
    static TPixelBuffer Allocate(size_t bytes, bool zeroed);

    // Another owner of the same block, without a copy: the owners read the
    // same bytes until one of them asks for write access (the non-const
    // data()), which first gives that one a copy of its own. Several
    // threads may ask at once.
    TPixelBuffer Share() const;
    bool Shared() const { return share_.load(std::memory_order_acquire) != nullptr; }

    uint8_t* data() {
        if (share_.load(std::memory_order_acquire) != nullptr) MakePrivate();
        return data_.load(std::memory_order_relaxed);
    }
    const uint8_t* data() const { return data_.load(std::memory_order_acquire); }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    // Gives the block back (to the pool when it came from there and no
    // other owner is left).
    void Clear();

private:
    struct TShare;  // the owner count of a shared block

    void Steal(TPixelBuffer& other) {
        data_.store(other.data_.load(std::memory_order_relaxed), std::memory_order_relaxed);
        size_ = other.size_;
        capacity_ = other.capacity_;
        pooled_ = other.pooled_;
        share_.store(other.share_.load(std::memory_order_relaxed), std::memory_order_release);
        other.data_.store(nullptr, std::memory_order_relaxed);
        other.size_ = other.capacity_ = 0;
        other.pooled_ = false;
        other.share_.store(nullptr, std::memory_order_relaxed);
    }
    void MakePrivate();
    void Release();

    std::atomic<uint8_t*> data_{nullptr};
    size_t size_ = 0;
    size_t capacity_ = 0;
    bool pooled_ = false;
    mutable std::atomic<TShare*> share_{nullptr};
};

namespace pixmem {

// Blocks at least this large go through the pool; smaller ones are plain
// heap memory.
constexpr size_t kPooledBytes = size_t(1) << 20;

// An idle block that no bitmap has taken again for IdleLife (2 s unless
// set otherwise) goes back to the system; a thread of the pool's sees to
// it (or, when no thread can be started, the next block taken). A batch or a conversion reuses its blocks within a fraction of that,
// while a program left with a small picture after a large one does not
// keep the memory.
std::chrono::milliseconds IdleLife();
void SetIdleLife(std::chrono::milliseconds life);
// Bytes the pool holds for later bitmaps, and the giving back of those
// idle for at least `age`; returns the bytes given back.
size_t IdleBytes();
size_t ReturnIdle(std::chrono::milliseconds age);

// Runs body(begin, end) over blocks of [0, rows), the rows of a picture of
// `bytes` bytes: on the worker threads when the picture is large enough to
// gain from it, else on the caller's.
void ForRows(int32_t rows, size_t bytes, const std::function<void(int32_t begin, int32_t end)>& body);
// Copies bytes from src to dst, spread over the worker threads when large.
void Copy(uint8_t* dst, const uint8_t* src, size_t bytes);
// Copies bytes from src to dst on the calling thread, writing dst past the
// caches: for a result row that the rest of the run will not read again,
// which would only push the inputs still to be read out of the cache.
void Stream(uint8_t* dst, const uint8_t* src, size_t bytes);
// Sets bytes at dst to value, spread over the worker threads when large.
void Fill(uint8_t* dst, uint8_t value, size_t bytes);

// Test hooks. Blocks asked for unzeroed come filled with `pattern` (0..255;
// -1, the default, leaves them as they come), so that a test sees every byte
// a writer leaves; and the most block bytes held at once since the last
// ResetPeakBytes.
void SetUnzeroedFill(int pattern);
void ResetPeakBytes();
size_t PeakBytes();
// The pool's clock, so that a test ages idle blocks without waiting for
// them (nullptr: the steady clock again); and a look of the pool's thread
// at the idle blocks, by that clock as it reads now, waited for: the bytes
// it gave back meanwhile.
void SetIdleClock(std::chrono::steady_clock::time_point (*now)());
size_t AwaitIdleCheck();

}  // namespace pixmem
