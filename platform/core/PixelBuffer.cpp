#include "platform/core/PixelBuffer.h"

#include <sys/mman.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/core/Parallel.h"
#include "platform/core/Progress.h"
#include "platform/core/SysUtils.h"

// Under AddressSanitizer every block is plain heap memory of its exact
// size, so that a read past a bitmap's last row is still caught.
#if defined(__SANITIZE_ADDRESS__)
#define QUILLARC_PLAIN_PIXELS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLARC_PLAIN_PIXELS 1
#endif
#endif

namespace {

constexpr size_t kHugePage = size_t(2) << 20;
constexpr size_t kPage = 4096;
// Heap blocks from this size on are faulted in with one request.
constexpr size_t kPopulatedBytes = size_t(256) << 10;
std::atomic<int64_t> idleLifeMs{2000};
// Idle blocks kept at most; beyond it the oldest go back to the system.
constexpr size_t kMaxIdleBytes = size_t(1) << 30;

size_t RoundUp(size_t n, size_t to) { return (n + to - 1) / to * to; }

// A fresh mapping, aligned to the huge page size so that the system can
// back it with huge pages; its pages read as zero until written.
uint8_t* MapBlock(size_t capacity) {
    const size_t span = capacity + kHugePage;
    void* p = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(p);
    const uintptr_t aligned = RoundUp(start, kHugePage);
    if (aligned > start) munmap(p, aligned - start);
    const uintptr_t end = start + span, used = aligned + capacity;
    if (end > used) munmap(reinterpret_cast<void*>(used), end - used);
#ifdef MADV_HUGEPAGE
    madvise(reinterpret_cast<void*>(aligned), capacity, MADV_HUGEPAGE);  // a hint; refusal is harmless
#endif
    return reinterpret_cast<uint8_t*>(aligned);
}

using Clock = std::chrono::steady_clock;

struct Block {
    uint8_t* data;
    size_t capacity;
    Clock::time_point idleSince;
};

class Pool {
public:
    // A block of at least `capacity` bytes (a multiple of kHugePage); fresh
    // tells whether it has never been written.
    uint8_t* Take(size_t capacity, size_t& got, bool& fresh) {
        std::vector<Block> stale;
        uint8_t* p = nullptr;
        {
            std::lock_guard lock(mutex_);
            // The smallest idle block that fits without wasting much.
            const size_t slack = std::max(capacity / 4, size_t(4) << 20);
            size_t best = idle_.size();
            for (size_t i = 0; i < idle_.size(); ++i) {
                const size_t c = idle_[i].capacity;
                if (c >= capacity && c - capacity <= slack && (best == idle_.size() || c < idle_[best].capacity))
                    best = i;
            }
            if (best < idle_.size()) {
                const Block b = idle_[best];
                idle_.erase(idle_.begin() + static_cast<std::ptrdiff_t>(best));
                idleBytes_ -= b.capacity;
                got = b.capacity;
                fresh = false;
                p = b.data;
            } else {
                // A new mapping is needed: idle blocks too small for this
                // request are left over from pictures of other sizes; let
                // them go first rather than hold them beside it.
                for (size_t i = 0; i < idle_.size();) {
                    if (idle_[i].capacity < capacity) {
                        stale.push_back(idle_[i]);
                        idleBytes_ -= idle_[i].capacity;
                        idle_.erase(idle_.begin() + static_cast<std::ptrdiff_t>(i));
                    } else {
                        ++i;
                    }
                }
            }
            // Without the pool's thread (none could be started) the blocks
            // idle past their life go back here instead.
            if (!StartReaper()) TakeDue(pixmem::IdleLife(), stale);
        }
        for (const Block& b : stale) munmap(b.data, b.capacity);
        if (p != nullptr) return p;
        p = MapBlock(capacity);
        if (p == nullptr) {
            ReturnIdle(std::chrono::milliseconds(0));  // one more try with everything idle given back
            p = MapBlock(capacity);
        }
        got = capacity;
        fresh = true;
        return p;
    }

    // Runs where nothing may be raised (a block's last owner letting go in
    // a destructor): a block the list has no room for goes back at once.
    void Give(uint8_t* data, size_t capacity) noexcept {
        {
            std::unique_lock lock(mutex_);
            try {
                idle_.push_back({data, capacity, Now()});
            } catch (const std::bad_alloc&) {
                lock.unlock();
                munmap(data, capacity);
                return;
            }
            idleBytes_ += capacity;
            while (idleBytes_ > kMaxIdleBytes) {
                const Block oldest = idle_.front();
                idle_.erase(idle_.begin());
                idleBytes_ -= oldest.capacity;
                lock.unlock();
                munmap(oldest.data, oldest.capacity);
                lock.lock();
            }
        }
        wake_.notify_one();
    }

    size_t IdleBytes() {
        std::lock_guard lock(mutex_);
        return idleBytes_;
    }

    void Wake() {
        // Taken so that the pool's thread is either before its check of the
        // idle life or already waiting: the notice is not lost in between.
        { std::lock_guard lock(mutex_); }
        wake_.notify_one();
    }

    size_t ReturnIdle(std::chrono::milliseconds age) {
        std::vector<Block> old;
        {
            std::lock_guard lock(mutex_);
            TakeDue(age, old);
        }
        size_t bytes = 0;
        for (const Block& b : old) {
            munmap(b.data, b.capacity);
            bytes += b.capacity;
        }
        return bytes;
    }

    void SetClock(Clock::time_point (*now)()) {
        std::lock_guard lock(mutex_);
        clock_ = now;
    }

    // Has the pool's thread look at the idle blocks once more, by the clock
    // as it reads now, and waits until it has; the bytes it gave back
    // meanwhile.
    size_t AwaitCheck() {
        std::unique_lock lock(mutex_);
        if (!reaper_.joinable()) {
            lock.unlock();
            return ReturnIdle(pixmem::IdleLife());  // as the next block taken would
        }
        const uint64_t round = roundsBegun_ + 1;
        const size_t before = reaped_;
        roundsWanted_ = std::max(roundsWanted_, round);
        wake_.notify_one();
        checked_.wait(lock, [&] { return roundsDone_ >= round; });
        return reaped_ - before;
    }

private:
    Clock::time_point Now() const { return clock_ != nullptr ? clock_() : Clock::now(); }

    // Moves the blocks idle for at least `age` to out; mutex_ held.
    void TakeDue(std::chrono::milliseconds age, std::vector<Block>& out) {
        const Clock::time_point cut = Now() - age;
        for (size_t i = 0; i < idle_.size();) {
            if (idle_[i].idleSince <= cut) {
                out.push_back(idle_[i]);
                idleBytes_ -= idle_[i].capacity;
                idle_.erase(idle_.begin() + static_cast<std::ptrdiff_t>(i));
            } else {
                ++i;
            }
        }
    }

    // The pool's thread starts with the first block taken, where a failure
    // to start it can be handled, and is tried again with every later one.
    // Whether it runs; mutex_ held.
    bool StartReaper() {
        if (reaper_.joinable()) return true;
        try {
            reaper_ = std::thread([this] { Reap(); });
        } catch (const std::system_error&) {
            return false;
        }
        return true;
    }

    // The pool's thread: sleeps until the oldest idle block has been idle
    // for the idle life, then gives back every block that has. It lives as
    // long as the process (the pool is never destroyed). Each look at the
    // blocks is counted, for AwaitCheck.
    void Reap() {
        std::unique_lock lock(mutex_);
        for (;;) {
            const uint64_t round = ++roundsBegun_;
            const std::chrono::milliseconds life = pixmem::IdleLife();
            const Clock::time_point now = Now();
            Clock::time_point due = Clock::time_point::max();
            for (const Block& b : idle_) due = std::min(due, b.idleSince + life);
            const bool release = due <= now;
            if (release) {
                lock.unlock();
                const size_t bytes = ReturnIdle(life);
                lock.lock();
                reaped_ += bytes;
            }
            roundsDone_ = round;
            checked_.notify_all();
            // After a release the next due time is worked out afresh.
            if (release || roundsWanted_ > round) continue;
            if (due == Clock::time_point::max())
                wake_.wait(lock);
            else
                wake_.wait_for(lock, due - now);
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable checked_;  // a look of the pool's thread is done
    std::thread reaper_;
    std::vector<Block> idle_;  // oldest first
    size_t idleBytes_ = 0;
    Clock::time_point (*clock_)() = nullptr;  // the steady clock unless a test sets one
    uint64_t roundsBegun_ = 0, roundsDone_ = 0, roundsWanted_ = 0;
    size_t reaped_ = 0;  // bytes the pool's thread gave back
};

// Never destroyed: bitmaps in static storage may give their blocks back
// after every other static object is gone.
Pool& ThePool() {
    static Pool* pool = new Pool;
    return *pool;
}

constexpr size_t kChunk = size_t(1) << 20;

std::atomic<int> unzeroedFill{-1};
std::atomic<size_t> liveBytes{0}, peakBytes{0};

// Counts a new block and fills it for the tests that ask.
void Held(uint8_t* data, size_t bytes, bool zeroed) {
    if (const int fill = unzeroedFill.load(std::memory_order_relaxed); !zeroed && fill >= 0)
        pixmem::Fill(data, static_cast<uint8_t>(fill), bytes);
    const size_t live = liveBytes.fetch_add(bytes, std::memory_order_relaxed) + bytes;
    size_t peak = peakBytes.load(std::memory_order_relaxed);
    while (live > peak && !peakBytes.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
    }
}

template <class Body>
void ForChunks(size_t bytes, const Body& body) {
    const auto chunks = static_cast<int32_t>((bytes + kChunk - 1) / kChunk);
    pixmem::ForRows(chunks, bytes, [&](int32_t begin, int32_t end) {
        const size_t from = size_t(begin) * kChunk;
        const size_t to = std::min(bytes, size_t(end) * kChunk);
        body(from, to);
    });
}

// A fresh mapping's pages are faulted in (and cleared by the system) up
// front, a share on every thread: its first writer is often a single thread
// (a decoder, a picture's border), which would otherwise take every fault in
// turn. Each share's pages are asked for in one request; where the system
// cannot, they are touched one by one.
bool Populate(uint8_t* p, size_t bytes) {
#ifdef MADV_POPULATE_WRITE
    return madvise(p, bytes, MADV_POPULATE_WRITE) == 0;  // contents stay as they are
#else
    return false;
#endif
}

[[maybe_unused]] void FaultIn(uint8_t* p, size_t bytes) {  // unused where pictures are plain heap
    ForChunks(bytes, [&](size_t from, size_t to) {
        if (Populate(p + from, to - from)) return;
        for (size_t i = from; i < to; i += kPage) p[i] = 0;
    });
}

}  // namespace

struct TPixelBuffer::TShare {
    int owners = 1;  // guarded by ShareMutex()
};

namespace {
// Guards the owner counts and the moment a shared block becomes private.
std::mutex& ShareMutex() {
    static std::mutex* m = new std::mutex;
    return *m;
}
}  // namespace

TPixelBuffer TPixelBuffer::Allocate(size_t bytes, bool zeroed) {
    TPixelBuffer b;
    if (bytes == 0) return b;
#ifndef QUILLARC_PLAIN_PIXELS
    if (bytes >= pixmem::kPooledBytes) {
        size_t capacity = 0;
        bool fresh = false;
        uint8_t* p = ThePool().Take(RoundUp(bytes, kHugePage), capacity, fresh);
        if (p == nullptr) throw EOutOfMemory("Out of memory");
        b.data_.store(p, std::memory_order_relaxed);
        b.size_ = bytes;
        b.capacity_ = capacity;
        b.pooled_ = true;
        if (zeroed && !fresh) pixmem::Fill(p, 0, bytes);
        if (fresh) FaultIn(p, bytes);
        Held(p, bytes, zeroed);
        return b;
    }
#endif
    void* p = zeroed ? std::calloc(bytes, 1) : std::malloc(bytes);
    if (p == nullptr) throw EOutOfMemory("Out of memory");
    if (bytes >= kPopulatedBytes) {
        // A block this size is usually a fresh mapping of the allocator's:
        // its whole pages are asked for at once, as a pooled block's are.
        const uintptr_t from = RoundUp(reinterpret_cast<uintptr_t>(p), kPage);
        const uintptr_t to = (reinterpret_cast<uintptr_t>(p) + bytes) / kPage * kPage;
        if (to > from) Populate(reinterpret_cast<uint8_t*>(from), to - from);
    }
    b.data_.store(static_cast<uint8_t*>(p), std::memory_order_relaxed);
    b.size_ = bytes;
    b.capacity_ = bytes;
    Held(b.data_, bytes, zeroed);
    return b;
}

TPixelBuffer TPixelBuffer::Share() const {
    TPixelBuffer b;
    if (size_ == 0) return b;
    std::lock_guard lock(ShareMutex());
    TShare* share = share_.load(std::memory_order_relaxed);
    if (share == nullptr) {
        share = new TShare;
        share_.store(share, std::memory_order_release);
    }
    ++share->owners;
    b.data_.store(data_.load(std::memory_order_relaxed), std::memory_order_relaxed);
    b.size_ = size_;
    b.capacity_ = capacity_;
    b.pooled_ = pooled_;
    b.share_.store(share, std::memory_order_release);
    return b;
}

void TPixelBuffer::MakePrivate() {
    // The copy's progress may paint the windows, and a paint may share or
    // copy pixels itself: not while this thread holds the lock.
    progress::TPulseLater later;
    std::lock_guard lock(ShareMutex());
    TShare* share = share_.load(std::memory_order_relaxed);
    if (share == nullptr) return;  // another thread got here first
    if (share->owners > 1) {
        TPixelBuffer copy = Allocate(size_, false);
        pixmem::Copy(copy.data_.load(std::memory_order_relaxed), data_.load(std::memory_order_relaxed), size_);
        --share->owners;
        data_.store(copy.data_.load(std::memory_order_relaxed), std::memory_order_relaxed);
        capacity_ = copy.capacity_;
        pooled_ = copy.pooled_;
        copy.data_.store(nullptr, std::memory_order_relaxed);
        copy.size_ = 0;
    } else {
        delete share;  // the other owners are gone
    }
    share_.store(nullptr, std::memory_order_release);
}

void TPixelBuffer::Release() {
    uint8_t* data = data_.load(std::memory_order_relaxed);
    liveBytes.fetch_sub(size_, std::memory_order_relaxed);
    if (pooled_)
        ThePool().Give(data, capacity_);
    else
        std::free(data);
}

void TPixelBuffer::Clear() {
    if (data_.load(std::memory_order_relaxed) == nullptr) return;
    bool last = true;
    if (TShare* share = share_.load(std::memory_order_relaxed)) {
        std::lock_guard lock(ShareMutex());
        last = --share->owners == 0;
        if (last) delete share;
    }
    if (last) Release();
    data_.store(nullptr, std::memory_order_relaxed);
    share_.store(nullptr, std::memory_order_relaxed);
    size_ = capacity_ = 0;
    pooled_ = false;
}

namespace pixmem {

std::chrono::milliseconds IdleLife() { return std::chrono::milliseconds(idleLifeMs.load()); }

void SetIdleLife(std::chrono::milliseconds life) {
    idleLifeMs.store(life.count());
    ThePool().Wake();  // a shorter life may be due at once
}

size_t IdleBytes() { return ThePool().IdleBytes(); }
size_t ReturnIdle(std::chrono::milliseconds age) { return ThePool().ReturnIdle(age); }
void SetIdleClock(std::chrono::steady_clock::time_point (*now)()) { ThePool().SetClock(now); }
size_t AwaitIdleCheck() { return ThePool().AwaitCheck(); }

void ForRows(int32_t rows, size_t bytes, const std::function<void(int32_t begin, int32_t end)>& body) {
    if (rows <= 0) return;
    // Whole-picture byte work is worth spreading over the threads from a
    // few megabytes on; below that the hand-out costs more than it saves.
    constexpr size_t kParallelBytes = size_t(4) << 20;
    if (bytes < kParallelBytes) {
        body(0, rows);
        return;
    }
    par::ForRows(rows, body);
}

void Copy(uint8_t* dst, const uint8_t* src, size_t bytes) {
    if (bytes == 0) return;
    ForChunks(bytes, [&](size_t from, size_t to) { std::memcpy(dst + from, src + from, to - from); });
}

void Stream(uint8_t* dst, const uint8_t* src, size_t bytes) {
#if defined(__SSE2__)
    const size_t head = std::min(bytes, (16 - (reinterpret_cast<uintptr_t>(dst) & 15)) & 15);
    std::memcpy(dst, src, head);
    size_t i = head;
    for (; i + 16 <= bytes; i += 16)
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i), _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i)));
    std::memcpy(dst + i, src + i, bytes - i);
    _mm_sfence();  // the streamed bytes are in memory before any other thread is told
#else
    std::memcpy(dst, src, bytes);
#endif
}

void Fill(uint8_t* dst, uint8_t value, size_t bytes) {
    if (bytes == 0) return;
    ForChunks(bytes, [&](size_t from, size_t to) { std::memset(dst + from, value, to - from); });
}

void SetUnzeroedFill(int pattern) { unzeroedFill.store(pattern, std::memory_order_relaxed); }

void ResetPeakBytes() { peakBytes.store(liveBytes.load(std::memory_order_relaxed), std::memory_order_relaxed); }

size_t PeakBytes() { return peakBytes.load(std::memory_order_relaxed); }

}  // namespace pixmem
