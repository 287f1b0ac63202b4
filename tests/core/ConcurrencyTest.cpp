// Pixel blocks shared and pooled across threads: the owners of a shared
// block written, read and let go on several threads at once, and blocks
// coming and going while the pool's thread gives idle ones back. The
// ThreadSanitizer build runs these too.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <latch>
#include <thread>
#include <utility>
#include <vector>

#include "platform/core/Graphics.h"
#include "platform/core/Parallel.h"
#include "platform/core/PixelBuffer.h"

namespace {

// 4.8 MB: a first writer's copy is made on the worker threads.
constexpr int32_t kWidth = 1200, kHeight = 1000;

void WriteRows(TBitmap& b, uint8_t seed) {
    for (int32_t y = 0; y < b.Height(); ++y) std::memset(b.ScanLine(y), static_cast<uint8_t>(seed + y), kWidth * 4);
}

bool RowsAre(const TBitmap& b, uint8_t seed) {
    for (int32_t y = 0; y < b.Height(); ++y) {
        const uint8_t* row = b.ScanLine(y);
        for (int32_t i = 0; i < kWidth * 4; ++i)
            if (row[i] != static_cast<uint8_t>(seed + y)) return false;
    }
    return true;
}

// Runs each job on a thread of its own, all let go at the same moment.
void AllAtOnce(const std::vector<std::function<void()>>& jobs) {
    std::latch start(static_cast<std::ptrdiff_t>(jobs.size()));
    std::vector<std::thread> threads;
    for (const auto& job : jobs)
        threads.emplace_back([&start, &job] {
            start.arrive_and_wait();
            job();
        });
    for (std::thread& t : threads) t.join();
}

}  // namespace

// Bitmaps sharing one block (as the panes and the sketch copy do), on a
// thread each: one read, one let go, the others written, their shares
// taken before the threads start or on them, from the bitmap being read.
// Whichever of them made the block, each writer gets a copy of its own
// first and the reader sees the old bytes throughout.
TEST(SharedPixels, SharesTakenWrittenReadAndLetGoOnSeveralThreads) {
    const int count = std::max(4, par::AvailableCpus());
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        std::vector<TBitmap> b(static_cast<size_t>(count));
        TBitmap& made = b[size_t(round % 3)];
        made.NewImage(kWidth, kHeight, TPixelFormat::pf32bit);
        WriteRows(made, 1);
        const bool early = round < 3;
        for (int i = 0; i < count; ++i)
            if (&b[size_t(i)] != &made && (i < 2 || early)) b[size_t(i)].AssignShared(made);
        bool readerSaw = false;
        std::vector<std::function<void()>> jobs{[&] { readerSaw = RowsAre(b[0], 1); }, [&] { b[1].ReleaseImage(); }};
        for (int i = 2; i < count; ++i)
            jobs.push_back([&, i] {
                TBitmap& mine = b[size_t(i)];
                if (mine.Empty()) mine.AssignShared(b[0]);
                WriteRows(mine, static_cast<uint8_t>(50 + i));
            });
        AllAtOnce(jobs);
        EXPECT_TRUE(readerSaw);
        EXPECT_TRUE(RowsAre(b[0], 1));
        for (int i = 2; i < count; ++i) EXPECT_TRUE(RowsAre(b[size_t(i)], static_cast<uint8_t>(50 + i))) << i;
    }
}

// Blocks taken and handed back on several threads while the pool's thread
// gives the idle ones back (each at once: an idle life of 0): a block holds
// what its owner wrote until the owner lets it go, a zeroed one starts
// zero, and in the end every idle block has gone back.
TEST(PixelPool, BlocksComeAndGoWhileThePoolsThreadGivesIdleOnesBack) {
    const auto life = pixmem::IdleLife();
    pixmem::SetIdleLife(std::chrono::milliseconds(0));
    const int threads = std::max(2, par::AvailableCpus());
    std::atomic<int> running{threads}, wrong{0};
    std::vector<std::function<void()>> jobs;
    for (int t = 0; t < threads; ++t)
        jobs.push_back([&, t] {
            for (int i = 0; i < 24; ++i) {
                const size_t bytes = (size_t(1 + (t + i) % 3) << 20) + size_t(t) * 4096;
                const bool zeroed = i % 2 == 0;
                TPixelBuffer block = TPixelBuffer::Allocate(bytes, zeroed);
                uint8_t* p = block.data();
                const auto mark = static_cast<uint8_t>(t * 31 + i);
                for (size_t at = 0; at < bytes; at += 4096) {
                    if (zeroed && p[at] != 0) ++wrong;
                    p[at] = mark;
                }
                p[bytes - 1] = mark;
                for (size_t at = 0; at < bytes; at += 4096)
                    if (p[at] != mark) ++wrong;
                if (p[bytes - 1] != mark) ++wrong;
            }
            --running;
        });
    jobs.push_back([&] {
        while (running.load() > 0) {
            pixmem::AwaitIdleCheck();
            std::this_thread::yield();
        }
    });
    AllAtOnce(jobs);
    EXPECT_EQ(wrong.load(), 0);
    pixmem::AwaitIdleCheck();
    EXPECT_EQ(pixmem::IdleBytes(), 0u);
    pixmem::SetIdleLife(life);
}
